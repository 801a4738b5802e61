// Helpers for the entropy-layer tests: bit strings written through the bit writer, streams built
// from bit strings, and the library tables held for the whole test program.
#ifndef KORVO_TESTS_ENTROPY_TEST_UTIL_H
#define KORVO_TESTS_ENTROPY_TEST_UTIL_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bitstream_internal.h"
#include "korvo.h"
namespace entropy_test {

class KorvaxEnvironment : public ::testing::Environment {
public:
	void SetUp() override { ASSERT_EQ(InitKorvax(), kKorvoOK); }
	void TearDown() override { TerminateKorvax(); }
};

// A writer over its own buffer; Bits() flushes and returns the bits written as '0'/'1'.
class BitWriter {
public:
	explicit BitWriter(size_t capacity = 1 << 16) : buffer_(capacity + kBitStreamFlushSlack, 0)
	{
		BitStream_InitWriter(&stream, buffer_.data(), uint32_t(buffer_.size()));
	}
	std::string Bits()
	{
		BitStream_Flush(&stream);
		std::string bits;
		for (uint32_t i = 0; i < stream.bitPos; i++)
			bits += (buffer_[i / 8] >> (7 - i % 8)) & 1 ? '1' : '0';
		return bits;
	}
	// The bytes written so far (flushed), for reading back.
	std::vector<uint8_t> Bytes()
	{
		BitStream_Flush(&stream);
		return std::vector<uint8_t>(buffer_.begin(), buffer_.begin() + (stream.bitPos + 7) / 8);
	}
	BitStream stream;

private:
	std::vector<uint8_t> buffer_;
};

inline std::vector<uint8_t> FromBits(const std::string& bits)
{
	std::vector<uint8_t> bytes((bits.size() + 7) / 8, 0);
	for (size_t i = 0; i < bits.size(); i++)
		if (bits[i] == '1')
			bytes[i / 8] |= uint8_t(0x80 >> (i % 8));
	return bytes;
}

// A reader over bytes (which must outlive it), starting at bit 0.
inline BitStream ReaderOver(const std::vector<uint8_t>& bytes)
{
	BitStream stream;
	BitStream_InitReader(&stream, bytes.data(), uint32_t(bytes.size()));
	return stream;
}

}  // namespace entropy_test

#endif
