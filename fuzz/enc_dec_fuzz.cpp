// libFuzzer target for the encoder: arbitrary pictures and options through CompressPixMap in every
// input layout, every chunk decoded again; the decoder's picture must equal the encoder's reference
// sample for sample. Some inputs run past the key-frame interval, some code into a caller's buffer
// too small for the frame, which must fail cleanly without a byte written past it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "codec_fuzz_support.h"

namespace {

struct Size {
	uint32_t width, height;
};
// Partial macroblocks, odd sizes, one row and one column of macroblocks.
constexpr Size kSizes[] = {{16, 16}, {8, 8}, {48, 32}, {33, 17}, {64, 16}, {16, 48}, {45, 29}, {80, 48}};

struct Layout {
	uint32_t format;
	uint32_t (*rowBytes)(uint32_t width);
};
constexpr Layout kLayouts[] = {
        {kPixelFormatBGRA, [](uint32_t w) { return 4 * w; }},
        {kPixelFormatARGB32, [](uint32_t w) { return 4 * w; }},
        {kPixelFormatRGB24, [](uint32_t w) { return 3 * w; }},
        {kPixelFormatYUVS, [](uint32_t w) { return 4 * ((w + 1) / 2); }},
};

// Past the interval after which the encoder must code a key frame.
constexpr int kLongRun = 160;
constexpr int kShortRun = 6;

bool SamePlane(const Plane* a, const Plane* b)
{
	return std::memcmp(a->data, b->data, size_t{a->width} * a->height) == 0;
}

}  // namespace

// Input: [picture size][options: bit 0 deblock, 1 dering, 2 optimalFrame, 3 optimalMb, 4-5 input
// layout, 6 a long run of small pictures, 7 a caller buffer of [byte 3] x 4 bytes][quality, times 8]
// [buffer size], then the bytes of the caller pictures, frame after frame. A frame that the input
// does not fill repeats the last one's bytes moved by a few pixels, so P-VOPs find motion.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	static const bool ready = InitKorvax() == 0;
	if (!ready || size < 5)
		return 0;
	fuzz::AlternateKernels();
	const uint8_t options = data[1];
	const bool longRun = options & 64;
	const bool smallBuffer = options & 128;
	const Size picture = longRun ? kSizes[data[0] % 2] : kSizes[data[0] % (sizeof kSizes / sizeof kSizes[0])];
	const Layout layout = kLayouts[(options >> 4) & 3];
	const uint32_t quality = uint32_t(data[2]) * 8;
	const size_t bufferBytes = size_t{data[3]} * 4;
	data += 4;
	size -= 4;

	const uint32_t rowBytes = layout.rowBytes(picture.width);
	const size_t frameBytes = size_t{rowBytes} * picture.height;
	KorvParams* encoder = NewKorvParamsPtr(1, picture.width, picture.height);
	KorvParams* decoder = NewKorvParamsPtr(2, picture.width, picture.height);
	if (!encoder || !decoder)
		__builtin_trap();
	encoder->spatialQuality = quality;
	encoder->pixelFormat = layout.format;
	encoder->pixMap->rowBytes = uint16_t(rowBytes);
	encoder->deblock = options & 1;
	encoder->dering = (options >> 1) & 1;
	encoder->optimalFrame = (options >> 2) & 1;
	encoder->optimalMb = (options >> 3) & 1;
	std::vector<uint8_t> out(size_t{picture.width} * picture.height * 4);
	decoder->pixelFormat = kPixelFormatBGRA;
	decoder->pixMap->rowBytes = uint16_t(4 * picture.width);
	decoder->pixMap->baseAddr = out.data();
	// The caller's own output buffer, exactly as large as it says.
	std::unique_ptr<uint8_t[]> buffer(smallBuffer ? new uint8_t[bufferBytes + 1] : nullptr);
	if (smallBuffer) {
		encoder->stream = buffer.get();
		encoder->streamSize = uint32_t(bufferBytes);
	}

	// Exact-size heap blocks, so a read past the caller's picture is caught.
	std::vector<uint8_t> frame(frameBytes);
	const int frames = longRun ? kLongRun : kShortRun;
	bool sawLaterKey = false;
	for (int f = 0; f < frames; ++f) {
		const size_t fresh = size < frameBytes ? size : frameBytes;
		if (fresh) {
			std::memcpy(frame.data(), data, fresh);
			data += fresh;
			size -= fresh;
		} else {
			std::vector<uint8_t> moved(frameBytes);
			const size_t shift = (size_t{rowBytes} * (f & 1) + 8 * (f % 3)) % frameBytes;
			for (size_t i = 0; i < frameBytes; ++i)
				moved[i] = frame[(i + shift) % frameBytes];
			frame.swap(moved);
		}
		std::vector<uint8_t> input(frame);
		encoder->pixMap->baseAddr = input.data();
		if (CompressPixMap(encoder) != kKorvoOK) {
			// Only a frame too large for the caller's buffer may fail; the run stops there.
			if (!smallBuffer || encoder->streamBytes != 0)
				__builtin_trap();
			break;
		}
		if (smallBuffer && size_t(encoder->streamBytes) > bufferBytes)
			__builtin_trap();
		std::vector<uint8_t> chunk(encoder->stream, encoder->stream + encoder->streamBytes);
		decoder->stream = chunk.data();
		decoder->streamSize = uint32_t(chunk.size());
		if (DecompressPixMap(decoder) != kKorvoOK || decoder->damage)  // the encoder's frames are sound
			__builtin_trap();
		if (decoder->streamBytes != encoder->streamBytes)
			__builtin_trap();
		if (f > 0 && decoder->vop->codingType == kCodingTypeI)
			sawLaterKey = true;
		// The encoder rebuilds no reference before an I-VOP.
		if (encoder->vop->codingType == kCodingTypeI)
			continue;
		const Vop* e = encoder->vop;
		const Vop* d = decoder->vop;
		if (!SamePlane(e->planeY, d->planeY) || !SamePlane(e->planeU, d->planeU) ||
		    !SamePlane(e->planeV, d->planeV))
			__builtin_trap();
	}
	// Every run past the interval meets a key frame in it.
	if (longRun && !smallBuffer && !sawLaterKey)
		__builtin_trap();
	DisposeKorvParamsPtr(encoder);
	DisposeKorvParamsPtr(decoder);
	return 0;
}
