// Synthetic sequences for the encoder's tests and benchmarks: a pan over a textured picture, a
// moving object, noise, as caller pictures in the BGRA or 4:2:2 input layouts.
#ifndef KORVO_ENC_SCENES_H
#define KORVO_ENC_SCENES_H

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "frame_internal.h"
#include "korvo.h"
namespace enctest {

struct Rgb {
	uint8_t r, g, b;
};

inline uint8_t Clip(double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// A textured picture with detail at several scales.
inline uint8_t Texture(double x, double y)
{
	return Clip(128 + 50 * std::sin(x * 0.21) + 40 * std::cos(y * 0.17) + 25 * std::sin((x + 2 * y) * 0.55) +
	            12 * std::cos(x * y * 0.013));
}

inline Rgb TextureRgb(double x, double y)
{
	return {Texture(x, y), Texture(x + 17, y - 5), Texture(y * 1.3, x * 0.7)};
}

// A picture of the sequence: colour of pixel (x, y) of frame f.
using Scene = std::function<Rgb(int f, int x, int y)>;

inline Scene Pan(double dx, double dy)
{
	return [=](int f, int x, int y) { return TextureRgb(x + dx * f, y + dy * f); };
}

// A textured square moving over a still background.
inline Scene MovingObject()
{
	return [](int f, int x, int y) {
		const int ox = 4 + (3 * f) % 50, oy = 2 + (2 * f) % 30;
		if (x >= ox && x < ox + 22 && y >= oy && y < oy + 18)
			return Rgb{Texture(3 * (x - ox), 40 + y - oy), 30, Texture(y - oy, x - ox)};
		return TextureRgb(x * 0.5, y * 0.5);
	};
}

// New random samples every frame.
inline Scene Noise(uint32_t seed)
{
	return [seed](int f, int x, int y) {
		uint32_t h =
		        seed ^ (uint32_t(f) * 2654435761u) ^ (uint32_t(x) * 73856093u) ^ (uint32_t(y) * 19349663u);
		h ^= h >> 15;
		h *= 0x2c1b3c6du;
		h ^= h >> 12;
		h *= 0x297a2d39u;
		h ^= h >> 15;
		return Rgb{uint8_t(h), uint8_t(h >> 8), uint8_t(h >> 16)};
	};
}

// A caller picture in one of the encoder's input layouts.
struct Frame {
	uint32_t format = kPixelFormatBGRA;
	uint32_t width = 0, height = 0, rowBytes = 0;
	std::vector<uint8_t> bytes;
};

inline Frame MakeBgra(uint32_t width, uint32_t height, const std::function<Rgb(int, int)>& pixel)
{
	Frame frame{kPixelFormatBGRA, width, height, 4 * width, {}};
	frame.bytes.resize(size_t{frame.rowBytes} * height);
	for (uint32_t y = 0; y < height; ++y)
		for (uint32_t x = 0; x < width; ++x) {
			const Rgb c = pixel(int(x), int(y));
			uint8_t* p = &frame.bytes[y * frame.rowBytes + 4 * x];
			p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 255;
		}
	return frame;
}

// 4:2:2 packed Y'0 Cb Y'1 Cr from sample functions of the picture position; the chroma functions
// are taken at the even column of each pair.
inline Frame MakeYuvs(uint32_t width, uint32_t height, const std::function<uint8_t(int, int)>& luma,
                      const std::function<uint8_t(int, int)>& cb, const std::function<uint8_t(int, int)>& cr)
{
	Frame frame{kPixelFormatYUVS, width, height, 4 * ((width + 1) / 2), {}};
	frame.bytes.resize(size_t{frame.rowBytes} * height);
	for (uint32_t y = 0; y < height; ++y)
		for (uint32_t x = 0; x < width; ++x) {
			uint8_t* pair = &frame.bytes[y * frame.rowBytes + 4 * (x / 2)];
			pair[2 * (x & 1)] = luma(int(x), int(y));
			if ((x & 1) == 0)
				pair[1] = cb(int(x), int(y)), pair[3] = cr(int(x), int(y));
		}
	return frame;
}

inline Frame SceneFrame(const Scene& scene, int f, uint32_t width, uint32_t height, uint32_t format)
{
	if (format == kPixelFormatYUVS) {
		return MakeYuvs(
		        width, height, [&](int x, int y) { return scene(f, x, y).r; },
		        [&](int x, int y) { return scene(f, x, y).g; },
		        [&](int x, int y) { return scene(f, x, y).b; });
	}
	return MakeBgra(width, height, [&](int x, int y) { return scene(f, x, y); });
}

// Mean squared error of the reconstructed luminance of `decoded` against the source luminance of
// `source` (two Vops of the same size).
inline double LumaMse(const Vop* source, const Vop* decoded)
{
	double squares = 0;
	for (uint32_t y = 0; y < source->height; ++y)
		for (uint32_t x = 0; x < source->width; ++x) {
			const size_t at = size_t{y + 16} * source->srcY->width + x + 16;
			const double d = double(source->srcY->data[at]) - decoded->planeY->data[at];
			squares += d * d;
		}
	return squares / (double(source->width) * source->height);
}

// The same for the two chrominance planes together.
inline double ChromaMse(const Vop* source, const Vop* decoded)
{
	double squares = 0;
	const uint32_t width = source->width / 2, height = source->height / 2;
	for (int plane = 0; plane < 2; ++plane) {
		const Plane* from = plane ? source->srcV : source->srcU;
		const Plane* to = plane ? decoded->planeV : decoded->planeU;
		for (uint32_t y = 0; y < height; ++y)
			for (uint32_t x = 0; x < width; ++x) {
				const size_t at = size_t{y + 8} * from->width + x + 8;
				const double d = double(from->data[at]) - to->data[at];
				squares += d * d;
			}
	}
	return width && height ? squares / (2.0 * width * height) : 0;
}

inline double PsnrOfMse(double mse) { return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse); }

// Peak signal-to-noise ratio of the same.
inline double LumaPsnr(const Vop* source, const Vop* decoded) { return PsnrOfMse(LumaMse(source, decoded)); }

}  // namespace enctest

#endif
