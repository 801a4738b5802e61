// libFuzzer target for the frame decoder: arbitrary chunks through DecompressPixMap, for several
// picture sizes and every output format, into caller buffers of the exact size each format needs.
// One context per picture size serves every input (put back to its fresh state first), the inputs
// alternate between the plain and the processor-specific kernels, and some share the rows with a
// worker thread.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "codec_fuzz_support.h"

namespace {

struct Size {
	uint32_t width, height;
};
// One macroblock, partial macroblocks, odd sizes, one row, one column and a common picture size.
constexpr Size kSizes[] = {{16, 16}, {8, 8}, {48, 32}, {40, 24}, {33, 17}, {64, 16}, {16, 48}, {176, 144}};
constexpr size_t kSizeCount = sizeof kSizes / sizeof kSizes[0];

constexpr uint32_t kFormats[] = {
        kPixelFormatYUV420Planar, kPixelFormatRGB24, kPixelFormatARGB32, kPixelFormatBGRA, kPixelFormatRGBA,
        kPixelFormatABGR,         kPixelFormatYUVS,  kPixelFormat2VUY,   kPixelFormatNone, 0x12345678u};

uint32_t RowBytes(uint32_t format, uint32_t width)
{
	switch (format) {
		case kPixelFormatYUV420Planar: return width;
		case kPixelFormatRGB24: return 3 * width;
		case kPixelFormatYUVS:
		case kPixelFormat2VUY: return 2 * width;
		default: return 4 * width;
	}
}

size_t PictureBytes(uint32_t format, uint32_t width, uint32_t height)
{
	const size_t rows = size_t{RowBytes(format, width)} * height;
	if (format == kPixelFormatYUV420Planar)
		return rows + 2 * size_t{width / 2} * (height / 2);
	return rows;
}

}  // namespace

// Input: [picture size and thread count][output format and refresh bit], then chunks, each a 16-bit big-endian length
// and that many bytes, decoded in order into one context (so P-VOPs predict from earlier chunks).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	static const bool ready = InitKorvax() == 0;
	static KorvParams* contexts[kSizeCount];
	if (!ready || size < 2)
		return 0;
	fuzz::AlternateKernels();
	const size_t which = data[0] % kSizeCount;
	const Size picture = kSizes[which];
	const uint32_t format = kFormats[(data[1] & 0x7F) % (sizeof kFormats / sizeof kFormats[0])];
	const bool refresh = data[1] & 0x80;
	// Rows decoded by the caller alone or shared with a worker.
	const uint32_t threads = data[0] & 8 ? 2 : 0;
	data += 2;
	size -= 2;

	KorvParams*& params = contexts[which];
	if (!params)
		params = NewKorvParamsPtr(2, picture.width, picture.height);
	if (!params)
		__builtin_trap();
	fuzz::ResetDecoder(params);
	params->threadCount = threads;
	params->pixelFormat = format;
	params->pixMap->rowBytes = static_cast<uint16_t>(RowBytes(format, picture.width));
	// An exact-size heap block, so any write past the picture is caught.
	const size_t pictureBytes = PictureBytes(format, picture.width, picture.height);
	std::unique_ptr<uint8_t[]> out(new uint8_t[pictureBytes]());
	params->pixMap->baseAddr = out.get();

	for (int frames = 0; size >= 2 && frames < 8; ++frames) {
		size_t length = (size_t{data[0]} << 8) | data[1];
		data += 2;
		size -= 2;
		if (length > size)
			length = size;
		// Each chunk in its own exact-size allocation: the reader must stay inside it.
		std::unique_ptr<uint8_t[]> chunk(length ? new uint8_t[length] : nullptr);
		if (length)
			std::memcpy(chunk.get(), data, length);
		params->stream = chunk.get();
		params->streamSize = static_cast<uint32_t>(length);
		params->fullRefresh = refresh;
		DecompressPixMap(params);
		if (params->streamBytes < 0 || static_cast<size_t>(params->streamBytes) > length + 3)
			__builtin_trap();
		// A frame that ended before its last macroblock says why.
		const Vop* vop = params->vop;
		if (params->streamBytes > 0 && vop->coded && uint32_t(vop->mbsRead) < vop->mbCount &&
		    !(params->damage & (kKorvoDamageTruncated | kKorvoDamageInvalidCode)))
			__builtin_trap();
		data += length;
		size -= length;
	}
	params->pixMap->baseAddr = nullptr;
	params->stream = nullptr;
	return 0;
}
