// A fixed encode-and-decode run for instruction profiles: a 1280x720 textured pan with noise, coded on
// one thread, then decoded. Run under callgrind with --toggle-collect=CompressPixMap (or
// DecompressPixMap) to count only the codec's work.
//   codec_profile [frames] [input: planar|bgra|yuvs] [output: planar|bgra|yuvs] [plain]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame_internal.h"
#include "korvo.h"
namespace {

constexpr uint32_t kWidth = 1280, kHeight = 720;

uint32_t Format(const char* name)
{
	if (std::strcmp(name, "bgra") == 0)
		return kPixelFormatBGRA;
	if (std::strcmp(name, "yuvs") == 0)
		return kPixelFormatYUVS;
	return kPixelFormatYUV420Planar;
}

uint32_t Hash(uint32_t x)
{
	x ^= x >> 16;
	x *= 0x7feb352du;
	x ^= x >> 15;
	x *= 0x846ca68bu;
	x ^= x >> 16;
	return x;
}

// Y', Cb, Cr of pixel (x, y) of frame f: texture panning by (3, 1) per frame, noise of +-6.
void Sample(int f, int x, int y, uint8_t yuv[3])
{
	const double u = x + 3.0 * f, v = y + 1.0 * f;
	const int noise = int(Hash(uint32_t(x) * 7919u + uint32_t(y) * 104729u + uint32_t(f) * 1299709u) % 13) - 6;
	const double t = 128 + 50 * std::sin(u * 0.21) + 40 * std::cos(v * 0.17) + 25 * std::sin((u + 2 * v) * 0.55);
	const int luma = int(t) + noise;
	yuv[0] = uint8_t(luma < 16 ? 16 : luma > 235 ? 235 : luma);
	yuv[1] = uint8_t(128 + 30 * std::sin(u * 0.05));
	yuv[2] = uint8_t(128 + 30 * std::cos(v * 0.07));
}

std::vector<uint8_t> Picture(int f, uint32_t format, uint32_t* rowBytes)
{
	std::vector<uint8_t> bytes;
	uint8_t s[3];
	if (format == kPixelFormatYUV420Planar) {
		*rowBytes = kWidth;
		bytes.resize(size_t{kWidth} * kHeight * 3 / 2);
		uint8_t* cb = bytes.data() + size_t{kWidth} * kHeight;
		uint8_t* cr = cb + size_t{kWidth / 2} * (kHeight / 2);
		for (uint32_t y = 0; y < kHeight; ++y)
			for (uint32_t x = 0; x < kWidth; ++x) {
				Sample(f, int(x), int(y), s);
				bytes[size_t{y} * kWidth + x] = s[0];
				if ((x | y) % 2 == 0) {
					cb[size_t{y / 2} * (kWidth / 2) + x / 2] = s[1];
					cr[size_t{y / 2} * (kWidth / 2) + x / 2] = s[2];
				}
			}
		return bytes;
	}
	const bool yuvs = format == kPixelFormatYUVS;
	*rowBytes = yuvs ? 2 * kWidth : 4 * kWidth;
	bytes.resize(size_t{*rowBytes} * kHeight);
	for (uint32_t y = 0; y < kHeight; ++y)
		for (uint32_t x = 0; x < kWidth; ++x) {
			Sample(f, int(x), int(y), s);
			uint8_t* p = &bytes[size_t{y} * *rowBytes + (yuvs ? 2 : 4) * x];
			if (yuvs) {
				p[0] = s[0];
				p[1] = s[(x & 1) ? 2 : 1];
				continue;
			}
			const int luma = (s[0] - 16) * 298, cb = s[1] - 128, cr = s[2] - 128;
			auto clip = [](int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); };
			p[0] = clip((luma + 516 * cb + 128) >> 8);
			p[1] = clip((luma - 100 * cb - 208 * cr + 128) >> 8);
			p[2] = clip((luma + 409 * cr + 128) >> 8);
			p[3] = 255;
		}
	return bytes;
}

}  // namespace

int main(int argc, char** argv)
{
	const int frames = argc > 1 ? std::atoi(argv[1]) : 10;
	const uint32_t input = Format(argc > 2 ? argv[2] : "planar");
	const uint32_t output = Format(argc > 3 ? argv[3] : "planar");
	if (argc > 4 && std::strcmp(argv[4], "plain") == 0)
		gUseSpecificHooks = 0;
	if (InitKorvax() != kKorvoOK)
		return 1;
	KorvParams* enc = NewKorvParamsPtr(1, kWidth, kHeight);
	KorvParams* dec = NewKorvParamsPtr(2, kWidth, kHeight);
	if (!enc || !dec)
		return 1;
	enc->spatialQuality = 700;
	enc->pixelFormat = input;
	dec->pixelFormat = output;
	std::vector<std::vector<uint8_t>> chunks;
	for (int f = 0; f < frames; ++f) {
		uint32_t rowBytes = 0;
		std::vector<uint8_t> picture = Picture(f, input, &rowBytes);
		enc->pixMap->rowBytes = uint16_t(rowBytes);
		enc->pixMap->baseAddr = picture.data();
		if (CompressPixMap(enc) != kKorvoOK)
			return 1;
		chunks.emplace_back(enc->stream, enc->stream + enc->streamBytes);
	}
	const uint32_t outRowBytes = output == kPixelFormatYUV420Planar ? kWidth
	                             : output == kPixelFormatYUVS       ? 2 * kWidth
	                                                                : 4 * kWidth;
	std::vector<uint8_t> out(size_t{outRowBytes} * kHeight * 2);
	dec->pixMap->rowBytes = uint16_t(outRowBytes);
	dec->pixMap->baseAddr = out.data();
	size_t bytes = 0;
	uint64_t digest = 1469598103934665603ull;
	auto mix = [&digest](const uint8_t* p, size_t n) {
		for (size_t i = 0; i < n; ++i)
			digest = (digest ^ p[i]) * 1099511628211ull;
	};
	for (std::vector<uint8_t>& chunk : chunks) {
		dec->stream = chunk.data();
		dec->streamSize = uint32_t(chunk.size());
		dec->fullRefresh = 1;
		if (DecompressPixMap(dec) != kKorvoOK)
			return 1;
		bytes += chunk.size();
		mix(chunk.data(), chunk.size());
		mix(out.data(), out.size());
	}
	std::printf("%d frames, %zu bytes, digest of chunks and pictures %016llx\n", frames, bytes,
	            static_cast<unsigned long long>(digest));
	DisposeKorvParamsPtr(dec);
	DisposeKorvParamsPtr(enc);
	TerminateKorvax();
	return 0;
}
