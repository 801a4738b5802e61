// Shared by the QuickTime reader and writer: four-character codes, big-endian field access and the
// container's description.
// The reader reads through Span, which never reads outside its bytes and remembers an overrun.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "MediaDefs.h"
#include "SupportDefs.h"

namespace BPrivate::media::qt {

constexpr uint32 FourCC(const char (&s)[5])
{
	return (uint32)(uint8)s[0] << 24 | (uint32)(uint8)s[1] << 16 | (uint32)(uint8)s[2] << 8 |
	       (uint32)(uint8)s[3];
}

// "'moov'" for messages; bytes outside printable ASCII as '?'.
inline std::string FourCCText(uint32 code)
{
	std::string s = "'";
	for (int shift = 24; shift >= 0; shift -= 8) {
		char c = (char)(code >> shift);
		s += c >= 32 && c < 127 ? c : '?';
	}
	return s + "'";
}

// A read-only window on bytes; reads past its end give zeros and set `overrun`.
struct Span {
	const uint8* data = nullptr;
	size_t size = 0;
	size_t pos = 0;
	bool overrun = false;

	Span() = default;
	Span(const uint8* d, size_t n) : data(d), size(n) {}

	size_t Left() const { return pos <= size ? size - pos : 0; }
	bool Has(size_t n) const { return n <= Left(); }
	void Skip(size_t n)
	{
		if (!Has(n)) {
			overrun = true;
			pos = size;
		} else {
			pos += n;
		}
	}
	uint64 Read(int bytes)
	{
		if (!Has((size_t)bytes)) {
			overrun = true;
			pos = size;
			return 0;
		}
		uint64 v = 0;
		for (int i = 0; i < bytes; i++)
			v = v << 8 | data[pos++];
		return v;
	}
	uint8 U8() { return (uint8)Read(1); }
	uint16 U16() { return (uint16)Read(2); }
	uint32 U32() { return (uint32)Read(4); }
	uint64 U64() { return Read(8); }
	// The next n bytes as their own span (clipped, with overrun set, if fewer are left).
	Span Sub(size_t n)
	{
		size_t take = Has(n) ? n : Left();
		Span s(data + pos, take);
		Skip(n);
		return s;
	}
};

// Appends big-endian fields and nested boxes to a byte vector.
class BoxBuilder {
public:
	std::vector<uint8> bytes;

	void U8(uint8 v) { bytes.push_back(v); }
	void U16(uint16 v)
	{
		U8((uint8)(v >> 8));
		U8((uint8)v);
	}
	void U32(uint32 v)
	{
		U16((uint16)(v >> 16));
		U16((uint16)v);
	}
	void U64(uint64 v)
	{
		U32((uint32)(v >> 32));
		U32((uint32)v);
	}
	void Zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
	void Bytes(const void* p, size_t n)
	{
		const uint8* b = static_cast<const uint8*>(p);
		bytes.insert(bytes.end(), b, b + n);
	}
	// Begin returns the box's start; End patches its 32-bit size.
	size_t Begin(uint32 type)
	{
		size_t at = bytes.size();
		U32(0);
		U32(type);
		return at;
	}
	size_t BeginFull(uint32 type, uint8 version, uint32 flags)
	{
		size_t at = Begin(type);
		U32((uint32)version << 24 | (flags & 0xFFFFFF));
		return at;
	}
	void End(size_t at) { PutU32At(at, (uint32)(bytes.size() - at)); }
	// Overwrites the field at `at` (a count known only after its entries).
	void PutU32At(size_t at, uint32 v)
	{
		for (int i = 0; i < 4; i++)
			bytes[at + i] = (uint8)(v >> (24 - 8 * i));
	}
};

constexpr uint32 kBrandQuickTime = FourCC("qt  ");

// The container as the reader and the writer both describe it: the host reads and writes it.
inline void DescribeQuickTimeFile(media_file_format* mfi)
{
	fill_media_file_format(
	        mfi,
	        media_file_format::B_READABLE | media_file_format::B_WRITABLE |
	                media_file_format::B_PERFECTLY_SEEKABLE | media_file_format::B_KNOWS_ENCODED_VIDEO |
	                media_file_format::B_KNOWS_RAW_AUDIO,
	        B_QUICKTIME_FORMAT_FAMILY, 100, "video/quicktime", "QuickTime movie", "quicktime", "mov");
}

}  // namespace BPrivate::media::qt
