// The bit cursor: most significant bit first over big-endian 32-bit words, a reader that never
// touches a byte outside its chunk and a writer that never stores outside its buffer.
#include <string.h>

#include "bitstream_internal.h"
#include "korvo.h"
thread_local uint32_t gBitBuffer __attribute__((tls_model("initial-exec")));

namespace {

// A 32-bit bit position addresses 512 MiB; bytes of a larger chunk beyond that read as 0.
constexpr size_t kMaxAddressableBytes = (size_t{1} << 29) - 8;

size_t OffsetOf(const BitStream* stream, const uint8_t* p)
{
	return reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(stream->base);
}

// The 8 bytes from the word holding bitPos, big-endian, with bytes outside the data window as 0.
uint64_t Window(const BitStream* stream, uint32_t bitPos)
{
	const size_t offset = size_t{bitPos >> 5} * 4;
	const size_t begin = OffsetOf(stream, stream->dataBegin);
	const size_t end = OffsetOf(stream, stream->dataEnd);
	if (offset >= begin && end >= 8 && offset <= end - 8) {
		uint64_t window;
		memcpy(&window, stream->dataBegin + (offset - begin), 8);
		return __builtin_bswap64(window);
	}
	uint64_t window = 0;
	for (size_t o = offset; o < offset + 8; o++) {
		window = (window << 8) | (o >= begin && o < end ? stream->dataBegin[o - begin] : 0u);
	}
	return window;
}

// Stores word big-endian at offset. Bytes outside the data window are dropped; dropping one that
// holds frame bits (offset below frameEnd) marks the cursor overrun.
void StoreWord(BitStream* stream, uint32_t offset, uint32_t word, size_t frameEnd)
{
	const size_t begin = OffsetOf(stream, stream->dataBegin);
	const size_t end = OffsetOf(stream, stream->dataEnd);
	if (offset >= begin && end >= 4 && offset <= end - 4) {
		const uint32_t bigEndian = __builtin_bswap32(word);
		memcpy(stream->dataBegin + (offset - begin), &bigEndian, 4);
		return;
	}
	for (size_t i = 0; i < 4; i++) {
		const size_t o = size_t{offset} + i;
		if (o >= begin && o < end) {
			stream->dataBegin[o - begin] = uint8_t(word >> (24 - 8 * i));
		} else if (o < frameEnd) {
			stream->overrun = 1;
		}
	}
}

}  // namespace

void BitStream_InitReader(BitStream* stream, const uint8_t* data, uint32_t size)
{
	if (!data)
		size = 0;
	const uintptr_t address = reinterpret_cast<uintptr_t>(data);
	const size_t lead = address & 3;
	const size_t usable = size < kMaxAddressableBytes - lead ? size : kMaxAddressableBytes - lead;
	// The cursor never stores through a reader; the window only needs the record's mutable type.
	uint8_t* begin = const_cast<uint8_t*>(data);
	stream->base = reinterpret_cast<uint8_t*>(address - lead);
	stream->bitPos = uint32_t(lead * 8);
	stream->dataBegin = begin;
	stream->dataEnd = begin + usable;
	stream->overrun = 0;
	stream->invalid = 0;
}

uint64_t BitStream_EndBits(const BitStream* stream)
{
	return uint64_t{OffsetOf(stream, stream->dataEnd)} * 8;
}

void BitStream_NoteInvalid(BitStream* stream, uint32_t bits)
{
	// Past the end the zeros the reader sees are no code at all: that is running out of data.
	if (uint64_t{stream->bitPos} + bits <= BitStream_EndBits(stream))
		stream->invalid = 1;
}

void BitStream_InitWriter(BitStream* stream, uint8_t* buffer, uint32_t capacity)
{
	if (!buffer)
		capacity = 0;
	stream->base = buffer;
	stream->bitPos = 0;
	stream->dataBegin = buffer;
	stream->dataEnd = buffer + (capacity < kMaxAddressableBytes ? capacity : kMaxAddressableBytes);
	stream->overrun = 0;
	gBitBuffer = 0;
}

void BitStream_WriteVLC(BitStream* stream, uint32_t code, uint32_t length)
{
	if (length == 0)
		return;
	if (length > 32)
		length = 32;
	if (length < 32)
		code &= (uint32_t{1} << length) - 1;
	const uint32_t k = stream->bitPos & 31;
	if (k == 0)
		gBitBuffer = 0;
	if (k + length < 32) {
		gBitBuffer |= code << (32 - k - length);
	} else {
		const uint32_t spill = k + length - 32;  // bits that start the next word
		const uint32_t word = gBitBuffer | (code >> spill);
		const uint32_t offset = (stream->bitPos >> 5) * 4;
		StoreWord(stream, offset, word, size_t{offset} + 4);
		gBitBuffer = spill ? code << (32 - spill) : word;
	}
	stream->bitPos += length;
}

void BitStream_Flush(BitStream* stream)
{
	const size_t frameEnd = (size_t{stream->bitPos} + 7) / 8;
	StoreWord(stream, (stream->bitPos >> 5) * 4, gBitBuffer, frameEnd);
}

uint32_t BitStream_PeekBitsAt(const BitStream* stream, uint32_t bitPos, uint32_t n)
{
	if (n == 0)
		return 0;
	if (n > 32)
		n = 32;
	return uint32_t((Window(stream, bitPos) << (bitPos & 31)) >> (64 - n));
}

uint32_t BitStream_PeekBits(const BitStream* stream, uint32_t n)
{
	return BitStream_PeekBitsAt(stream, stream->bitPos, n);
}

uint32_t BitStream_GetBits(BitStream* stream, uint32_t n)
{
	const uint32_t value = BitStream_PeekBits(stream, n);
	stream->bitPos += n;
	return value;
}

void BitStream_SeekBits(BitStream* stream, uint32_t n) { stream->bitPos += n; }

void BitStream_WriteBlock16(BitStream* stream, const uint32_t* words)
{
	for (int i = 0; i < 32; i++)
		BitStream_WriteVLC(stream, words[i], 32);
}

void BitStream_ReadBlock16(BitStream* stream, uint32_t* words)
{
	for (int i = 0; i < 32; i++)
		words[i] = BitStream_GetBits(stream, 32);
}
