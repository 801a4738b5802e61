// libFuzzer target for the encoder: arbitrary pictures and options through CompressPixMap, every
// chunk decoded again; the decoder's picture must equal the encoder's reference sample for sample.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame_internal.h"
#include "korvo.h"
namespace {

struct Size {
	uint32_t width, height;
};
// Partial macroblocks, odd sizes, one row and one column of macroblocks.
constexpr Size kSizes[] = {{16, 16}, {8, 8}, {48, 32}, {33, 17}, {64, 16}, {16, 48}, {45, 29}, {80, 48}};

bool SamePlane(const Plane* a, const Plane* b)
{
	return std::memcmp(a->data, b->data, size_t{a->width} * a->height) == 0;
}

}  // namespace

// Input: [picture size][options: bit 0 deblock, 1 dering, 2 optimalFrame, 3 optimalMb, 4 4:2:2
// input][quality, times 8], then the bytes of the caller pictures, frame after frame. A frame that
// the input does not fill repeats the last one's bytes moved by a few pixels, so P-VOPs find motion.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	static const bool ready = InitKorvax() == 0;
	if (!ready || size < 4)
		return 0;
	const Size picture = kSizes[data[0] % (sizeof kSizes / sizeof kSizes[0])];
	const uint8_t options = data[1];
	const uint32_t quality = uint32_t(data[2]) * 8;
	data += 3;
	size -= 3;

	const bool yuvs = options & 16;
	const uint32_t rowBytes = yuvs ? 4 * ((picture.width + 1) / 2) : 4 * picture.width;
	const size_t frameBytes = size_t{rowBytes} * picture.height;
	KorvParams* encoder = NewKorvParamsPtr(1, picture.width, picture.height);
	KorvParams* decoder = NewKorvParamsPtr(2, picture.width, picture.height);
	if (!encoder || !decoder)
		__builtin_trap();
	encoder->spatialQuality = quality;
	encoder->pixelFormat = yuvs ? kPixelFormatYUVS : kPixelFormatBGRA;
	encoder->pixMap->rowBytes = uint16_t(rowBytes);
	encoder->deblock = options & 1;
	encoder->dering = (options >> 1) & 1;
	encoder->optimalFrame = (options >> 2) & 1;
	encoder->optimalMb = (options >> 3) & 1;
	std::vector<uint8_t> out(size_t{picture.width} * picture.height * 4);
	decoder->pixelFormat = kPixelFormatBGRA;
	decoder->pixMap->rowBytes = uint16_t(4 * picture.width);
	decoder->pixMap->baseAddr = out.data();

	// Exact-size heap blocks, so a read past the caller's picture is caught.
	std::vector<uint8_t> frame(frameBytes);
	for (int f = 0; f < 6; ++f) {
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
		if (CompressPixMap(encoder) != kKorvoOK)
			__builtin_trap();
		std::vector<uint8_t> chunk(encoder->stream, encoder->stream + encoder->streamBytes);
		decoder->stream = chunk.data();
		decoder->streamSize = uint32_t(chunk.size());
		if (DecompressPixMap(decoder) != kKorvoOK)
			__builtin_trap();
		if (decoder->streamBytes != encoder->streamBytes)
			__builtin_trap();
		// The encoder rebuilds no reference before an I-VOP.
		if (encoder->vop->codingType == kCodingTypeI)
			continue;
		const Vop* e = encoder->vop;
		const Vop* d = decoder->vop;
		if (!SamePlane(e->planeY, d->planeY) || !SamePlane(e->planeU, d->planeU) ||
		    !SamePlane(e->planeV, d->planeV))
			__builtin_trap();
	}
	DisposeKorvParamsPtr(encoder);
	DisposeKorvParamsPtr(decoder);
	return 0;
}
