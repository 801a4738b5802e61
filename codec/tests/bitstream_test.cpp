// Tests of the bit cursor against a plain bit-at-a-time model: round trips of random fields, the
// flush, the writer's bound and reads at both ends of a chunk (which ASan watches).
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <vector>

#include "bitstream_internal.h"
#include "korvo.h"
namespace {

// Bit n of a byte array, most significant bit first; bytes outside [0, size) are 0.
uint32_t ModelBits(const std::vector<uint8_t>& bytes, int64_t bit, uint32_t n)
{
	uint32_t value = 0;
	for (uint32_t i = 0; i < n; i++, bit++) {
		const int64_t byte = bit >> 3;
		const uint32_t b =
		        byte >= 0 && byte < int64_t(bytes.size()) ? (bytes[byte] >> (7 - (bit & 7))) & 1 : 0;
		value = (value << 1) | b;
	}
	return value;
}

void ModelAppend(std::vector<uint8_t>& bytes, uint64_t& bitPos, uint32_t code, uint32_t length)
{
	for (uint32_t i = length; i-- > 0; bitPos++) {
		if (bitPos / 8 >= bytes.size())
			bytes.push_back(0);
		if ((code >> i) & 1)
			bytes[bitPos / 8] |= uint8_t(0x80 >> (bitPos & 7));
	}
}

TEST(BitStream, RandomFieldsRoundTrip)
{
	std::mt19937 rng(1234);
	for (int trial = 0; trial < 50; trial++) {
		std::vector<uint8_t> buffer(4096 + kBitStreamFlushSlack, 0xEE);
		std::vector<uint8_t> model;
		uint64_t modelPos = 0;
		std::vector<std::pair<uint32_t, uint32_t>> fields;
		BitStream writer;
		BitStream_InitWriter(&writer, buffer.data(), uint32_t(buffer.size()));
		while (modelPos < 3000 * 8) {
			const uint32_t length = rng() % 32 + 1;
			const uint32_t code = uint32_t(rng());  // bits above length must be ignored
			BitStream_WriteVLC(&writer, code, length);
			const uint32_t kept = length == 32 ? code : code & ((1u << length) - 1);
			ModelAppend(model, modelPos, kept, length);
			fields.emplace_back(kept, length);
		}
		BitStream_Flush(&writer);
		ASSERT_EQ(writer.bitPos, modelPos);
		ASSERT_FALSE(writer.overrun);
		// Every byte of the frame is exact, and the bits below the last field are 0.
		ASSERT_EQ(memcmp(buffer.data(), model.data(), model.size()), 0) << "trial " << trial;

		BitStream reader;
		BitStream_InitReader(&reader, buffer.data(), uint32_t(model.size()));
		for (const auto& [code, length] : fields) {
			ASSERT_EQ(BitStream_PeekBits(&reader, length), code);
			ASSERT_EQ(BitStream_GetBits(&reader, length), code);
		}
		EXPECT_EQ(reader.bitPos, modelPos);
	}
}

TEST(BitStream, FlushStoresTheWordHoldingTheNextBit)
{
	uint8_t buffer[16];
	memset(buffer, 0xEE, sizeof buffer);
	BitStream writer;
	BitStream_InitWriter(&writer, buffer, sizeof buffer);
	BitStream_WriteVLC(&writer, 0x12345678, 32);
	EXPECT_EQ(memcmp(buffer, "\x12\x34\x56\x78", 4), 0);  // a 32-bit code is stored at once
	BitStream_Flush(&writer);
	// At a word boundary the flush stores a second copy of the completed word after it.
	EXPECT_EQ(memcmp(buffer + 4, "\x12\x34\x56\x78", 4), 0);
	EXPECT_EQ(buffer[8], 0xEE);

	BitStream_WriteVLC(&writer, 0x5, 3);  // 101 followed by zeros
	BitStream_Flush(&writer);
	EXPECT_EQ(memcmp(buffer + 4, "\xA0\x00\x00\x00", 4), 0);
	EXPECT_EQ(buffer[8], 0xEE);

	// A field that ends exactly on a word boundary keeps the stored word in the accumulator.
	BitStream_InitWriter(&writer, buffer, sizeof buffer);
	BitStream_WriteVLC(&writer, 0xABC, 12);
	BitStream_WriteVLC(&writer, 0xDEF01, 20);
	EXPECT_EQ(gBitBuffer, 0xABCDEF01u);
	BitStream_WriteVLC(&writer, 1, 1);
	BitStream_Flush(&writer);
	EXPECT_EQ(memcmp(buffer, "\xAB\xCD\xEF\x01\x80\x00\x00\x00", 8), 0);
}

TEST(BitStream, WriterNeverStoresPastItsBuffer)
{
	// The buffer sits at the very end of its allocation: any store past it is an ASan report.
	for (uint32_t capacity = 0; capacity <= 9; capacity++) {
		for (uint32_t bits = 1; bits <= 80; bits++) {
			uint8_t* block = static_cast<uint8_t*>(malloc(capacity ? capacity : 1));
			uint8_t* buffer = block + (capacity ? 0 : 1);
			BitStream writer;
			BitStream_InitWriter(&writer, buffer, capacity);
			for (uint32_t done = 0; done < bits;) {
				const uint32_t length = bits - done < 7 ? bits - done : 7;
				BitStream_WriteVLC(&writer, 0x55, length);
				done += length;
			}
			BitStream_Flush(&writer);
			// Overrun exactly when the frame's bytes do not fit; the flush's extra bytes never count.
			EXPECT_EQ(writer.overrun != 0, (bits + 7) / 8 > capacity) << capacity << " " << bits;
			if (!writer.overrun) {
				std::vector<uint8_t> model;
				uint64_t pos = 0;
				for (uint32_t done = 0; done < bits;) {
					const uint32_t length = bits - done < 7 ? bits - done : 7;
					ModelAppend(model, pos, 0x55 & ((1u << length) - 1), length);
					done += length;
				}
				EXPECT_EQ(memcmp(buffer, model.data(), model.size()), 0) << capacity << " " << bits;
			}
			free(block);
		}
	}
}

// A chunk of size bytes starting lead bytes past a 4-byte boundary, placed at the very end of a
// malloc'd block so that ASan reports any read past it. Bytes before the chunk hold garbage.
struct Chunk {
	uint8_t* block;
	uint8_t* data;
	Chunk(const std::vector<uint8_t>& bytes, uint32_t lead)
	{
		const size_t before = 8 + lead;  // malloc'd blocks start on a multiple of 8
		block = static_cast<uint8_t*>(malloc(before + bytes.size()));
		data = block + before;
		memset(block, 0xFF, before);
		if (!bytes.empty())
			memcpy(data, bytes.data(), bytes.size());
	}
	~Chunk() { free(block); }
};

TEST(BitStream, ReaderStaysInsideItsChunk)
{
	std::mt19937 rng(99);
	for (uint32_t size = 0; size <= 13; size++) {
		std::vector<uint8_t> bytes(size);
		for (auto& b : bytes)
			b = uint8_t(rng());
		for (uint32_t lead = 0; lead < 4; lead++) {
			Chunk chunk(bytes, lead);
			BitStream reader;
			BitStream_InitReader(&reader, chunk.data, size);
			const uint32_t offset = uint32_t(reinterpret_cast<uintptr_t>(chunk.data) & 3);
			ASSERT_EQ(offset, lead);
			ASSERT_EQ(reader.bitPos, offset * 8);
			ASSERT_EQ(reader.base + offset, chunk.data);
			const uint32_t first = reader.bitPos;
			// Every position from before the chunk (inside the aligned word) to past its end.
			for (uint32_t pos = 0; pos < first + size * 8 + 72; pos++) {
				for (uint32_t n = 1; n <= 32; n++) {
					const uint32_t expected = ModelBits(bytes, int64_t(pos) - first, n);
					ASSERT_EQ(BitStream_PeekBitsAt(&reader, pos, n), expected)
					        << "size " << size << " lead " << offset << " pos " << pos << " n " << n;
				}
			}
			EXPECT_EQ(reader.bitPos, first);  // peeking never moves the cursor
		}
	}
}

TEST(BitStream, ChunkTwoBytesPastAWordBoundary)
{
	alignas(4) uint8_t storage[12] = {0xAA, 0xBB, 0xC3, 0x5A, 0x00, 0x01, 0x80, 0, 0, 0, 0, 0};
	BitStream reader;
	BitStream_InitReader(&reader, storage + 2, 5);
	EXPECT_EQ(reader.base, storage);
	EXPECT_EQ(reader.bitPos, 16u);
	// The two bytes below the chunk are outside it and read as 0.
	EXPECT_EQ(BitStream_PeekBitsAt(&reader, 0, 16), 0u);
	EXPECT_EQ(BitStream_GetBits(&reader, 24), 0xC35A00u);
	EXPECT_EQ(BitStream_GetBits(&reader, 16), 0x0180u);
	EXPECT_EQ(BitStream_GetBits(&reader, 32), 0u);  // past the chunk
}

TEST(BitStream, BlocksOfWordsRoundTrip)
{
	uint32_t words[32], back[32];
	for (uint32_t i = 0; i < 32; i++)
		words[i] = 0x9E3779B9u * (i + 1);
	std::vector<uint8_t> buffer(4 + 128 + kBitStreamFlushSlack);
	BitStream writer;
	BitStream_InitWriter(&writer, buffer.data(), uint32_t(buffer.size()));
	BitStream_WriteVLC(&writer, 0x3, 3);  // off the word grid
	BitStream_WriteBlock16(&writer, words);
	BitStream_Flush(&writer);
	EXPECT_EQ(writer.bitPos, 3u + 1024u);
	BitStream reader;
	BitStream_InitReader(&reader, buffer.data(), uint32_t(buffer.size()));
	BitStream_SeekBits(&reader, 3);
	BitStream_ReadBlock16(&reader, back);
	EXPECT_EQ(memcmp(words, back, sizeof words), 0);
}

}  // namespace
