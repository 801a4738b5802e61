// Integer BT.601 conversions between 4:2:2 and 32-bit pixels; widths are even.
#include "pixel_layout.h"

#include <algorithm>

namespace {

inline uint8_t Clamp(int v) { return (uint8_t)std::clamp(v, 0, 255); }

}  // namespace

void ToYCbCr(int r, int g, int b, uint8_t* y, uint8_t* cb, uint8_t* cr)
{
	*y = (uint8_t)(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
	*cb = (uint8_t)(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
	*cr = (uint8_t)(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

// Each pair's chroma is the mean of its two pixels'.
void BgraToYuv422(const uint8_t* bgra, uint8_t* yuv, uint32_t width, uint32_t height)
{
	const size_t pairs = (size_t)width / 2 * height;
	for (size_t i = 0; i < pairs; i++, bgra += 8, yuv += 4) {
		uint8_t u0, v0, u1, v1;
		ToYCbCr(bgra[2], bgra[1], bgra[0], &yuv[0], &u0, &v0);
		ToYCbCr(bgra[6], bgra[5], bgra[4], &yuv[2], &u1, &v1);
		yuv[1] = (uint8_t)((u0 + u1 + 1) >> 1);
		yuv[3] = (uint8_t)((v0 + v1 + 1) >> 1);
	}
}

void Yuv422ToBgra(const uint8_t* yuv, uint8_t* bgra, uint32_t width, uint32_t height)
{
	const size_t pairs = (size_t)width / 2 * height;
	for (size_t i = 0; i < pairs; i++, yuv += 4) {
		const int d = yuv[1] - 128, e = yuv[3] - 128;
		for (int k = 0; k < 2; k++, bgra += 4) {
			const int c = 298 * (yuv[2 * k] - 16) + 128;
			bgra[0] = Clamp((c + 516 * d) >> 8);
			bgra[1] = Clamp((c - 100 * d - 208 * e) >> 8);
			bgra[2] = Clamp((c + 409 * e) >> 8);
			bgra[3] = 255;
		}
	}
}
