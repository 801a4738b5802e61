// The two tunings side by side: for each clip, the data rate at which the classic and the better
// tuning reach the same luminance PSNR (rate-distortion curves over the quantiser, interpolated),
// and the encoding speed of each. Prints a table; not a timed test.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "../codec/tests/enc_scenes.h"
#include "korvo.h"
namespace {

using enctest::Frame;
using enctest::Rgb;
using enctest::Scene;

constexpr double kFrameRate = 25.0;

uint32_t Hash(uint32_t a, uint32_t b, uint32_t c)
{
	uint32_t h = a * 2654435761u ^ b * 73856093u ^ c * 19349663u;
	h ^= h >> 15;
	h *= 0x2c1b3c6du;
	h ^= h >> 12;
	h *= 0x297a2d39u;
	return h ^ (h >> 15);
}

// Detail for the pans: smooth random relief (bilinear between random samples 5 apart) over
// waves, every frequency well below the sampling limit, so a moved picture is predictable.
double Relief(double x, double y)
{
	const double gx = x / 5, gy = y / 5;
	const double fx = std::floor(gx), fy = std::floor(gy);
	const double tx = gx - fx, ty = gy - fy;
	auto at = [](double i, double j) {
		return double(Hash(uint32_t(int32_t(i)), uint32_t(int32_t(j)), 3) % 97);
	};
	const double top = at(fx, fy) * (1 - tx) + at(fx + 1, fy) * tx;
	const double bottom = at(fx, fy + 1) * (1 - tx) + at(fx + 1, fy + 1) * tx;
	return 80 + 30 * std::sin(x * 0.21) + 25 * std::cos(y * 0.17) + top * (1 - ty) + bottom * ty;
}

Scene TexturedPan(double dx, double dy, int noise)
{
	return [=](int f, int x, int y) {
		const double px = x + dx * f, py = y + dy * f;
		const uint32_t h = noise ? Hash(uint32_t(f), uint32_t(x), uint32_t(y)) : 0;
		auto sample = [&](double v, uint32_t r) {
			return enctest::Clip(v + (noise ? int(r % uint32_t(2 * noise + 1)) - noise : 0));
		};
		return Rgb{sample(Relief(px, py), h), sample(Relief(py + 7, px), h >> 8),
		           sample(Relief(px * 0.7, py * 0.7 + 30), h >> 16)};
	};
}

// A desktop: two windows of text on a flat background; the terminal scrolls a line every fourth
// frame and gains a character every frame, and the pointer moves.
Scene ScreenRecording()
{
	return [](int f, int x, int y) {
		const Rgb desktop{58, 110, 165}, paper{250, 250, 246}, ink{20, 20, 30}, title{40, 60, 120};
		// Characters of a 40-glyph font in cells of 8 x 12; one in seven is a space.
		auto glyph = [](uint32_t line, uint32_t column, int gx, int gy) {
			const uint32_t h = Hash(line, column, 7);
			if (h % 7 == 0)
				return false;
			return gx >= 1 && gx <= 5 && gy >= 2 && gy <= 9 &&
			       (Hash(h % 40, uint32_t(gx), uint32_t(gy)) & 3) != 0;
		};
		// The pointer, a small triangle.
		const int px = 200 + 7 * f, py = 300 + 3 * f;
		if (x >= px && y >= py && x - px <= (y - py) / 2 && y - py < 18)
			return (x - px == 0 || x - px == (y - py) / 2) ? ink : paper;
		// The terminal: 70 columns, 40 lines that scroll up.
		if (x >= 80 && x < 640 && y >= 60 && y < 560) {
			if (y < 80)
				return title;
			const int scroll = f / 4;
			const uint32_t line = uint32_t((y - 80) / 12 + scroll), column = uint32_t((x - 80) / 8);
			const int lastLine = 39 + scroll;
			if (int(line) > lastLine || (int(line) == lastLine && int(column) > f % 70))
				return paper;
			return glyph(line, column, (x - 80) % 8, (y - 80) % 12) ? ink : paper;
		}
		// A still document.
		if (x >= 680 && x < 980 && y >= 120 && y < 700) {
			if (y < 140)
				return title;
			return glyph(uint32_t((y - 140) / 12) + 1000, uint32_t((x - 680) / 8), (x - 680) % 8,
			             (y - 140) % 12)
			               ? ink
			               : paper;
		}
		return desktop;
	};
}

struct Sequence {
	const char* name;
	uint32_t width, height;
	int frames;
	Scene scene;
};

struct Point {
	int quant;
	double kbps, psnr, chromaPsnr;
};

struct Curve {
	std::vector<Point> points;
	double seconds = 0;
	int frames = 0;
};

// Encodes the clip at each quantiser and measures the rate and the PSNR of the decoder's pictures.
Curve Measure(const Sequence& clip, const std::vector<Frame>& frames, uint8_t tuning,
              const std::vector<int>& quants)
{
	Curve curve;
	std::vector<uint8_t> picture(size_t{clip.width} * clip.height * 4);
	for (int quant : quants) {
		KorvParams* encoder = NewKorvParamsPtr(1, clip.width, clip.height);
		KorvParams* decoder = NewKorvParamsPtr(2, clip.width, clip.height);
		encoder->spatialQuality = uint32_t(KorveXToQTSpatialQuality(uint32_t(32 - quant)));
		encoder->pixelFormat = kPixelFormatBGRA;
		encoder->tuning = tuning;
		decoder->pixelFormat = kPixelFormatBGRA;
		decoder->pixMap->rowBytes = uint16_t(4 * clip.width);
		decoder->pixMap->baseAddr = picture.data();
		uint64_t bytes = 0;
		double squares = 0, chromaSquares = 0;
		for (const Frame& frame : frames) {
			encoder->pixMap->rowBytes = uint16_t(frame.rowBytes);
			encoder->pixMap->baseAddr = const_cast<uint8_t*>(frame.bytes.data());
			const auto start = std::chrono::steady_clock::now();
			const int16_t status = CompressPixMap(encoder);
			curve.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
			std::vector<uint8_t> chunk(encoder->stream, encoder->stream + encoder->streamBytes);
			decoder->stream = chunk.data();
			decoder->streamSize = uint32_t(chunk.size());
			if (status != kKorvoOK || DecompressPixMap(decoder) != kKorvoOK) {
				std::fprintf(stderr, "%s: coding failed\n", clip.name);
				std::exit(1);
			}
			bytes += chunk.size();
			squares += enctest::LumaMse(encoder->vop, decoder->vop);
			chromaSquares += enctest::ChromaMse(encoder->vop, decoder->vop);
		}
		curve.frames += int(frames.size());
		const double n = double(frames.size());
		curve.points.push_back({quant, bytes * 8.0 * kFrameRate / n / 1000.0, enctest::PsnrOfMse(squares / n),
		                        enctest::PsnrOfMse(chromaSquares / n)});
		DisposeKorvParamsPtr(encoder);
		DisposeKorvParamsPtr(decoder);
	}
	return curve;
}

// The rate at which the curve reaches `psnr`, interpolating log-rate linearly between the two
// points around it, and the chrominance PSNR there; NaN when the curve does not reach it.
Point At(const Curve& curve, double psnr)
{
	const std::vector<Point>& p = curve.points;
	for (size_t i = 0; i + 1 < p.size(); ++i) {
		const Point& hi = p[i];  // finer quantiser, higher PSNR
		const Point& lo = p[i + 1];
		if (psnr <= hi.psnr && psnr >= lo.psnr && hi.psnr > lo.psnr) {
			const double t = (psnr - lo.psnr) / (hi.psnr - lo.psnr);
			return {0, std::exp(std::log(lo.kbps) + t * (std::log(hi.kbps) - std::log(lo.kbps))), psnr,
			        lo.chromaPsnr + t * (hi.chromaPsnr - lo.chromaPsnr)};
		}
	}
	return {0, NAN, psnr, NAN};
}

void PrintCurve(const char* tuning, const Curve& curve)
{
	std::printf("  %-8s", tuning);
	for (const Point& p : curve.points)
		std::printf(" q%d %.0f/%.2f/%.2f", p.quant, p.kbps, p.psnr, p.chromaPsnr);
	std::printf("\n");
}

}  // namespace

int main(int argc, char** argv)
{
	// -v prints the curves; any other argument keeps only the clips whose name contains it.
	bool verbose = false;
	std::string only;
	for (int i = 1; i < argc; ++i) {
		if (std::string(argv[i]) == "-v")
			verbose = true;
		else
			only = argv[i];
	}
	InitKorvax();
	const std::vector<Sequence> clips = {
	        {"noisy 720p pan", 1280, 720, 20, TexturedPan(1.7, -0.6, 3)},
	        {"textured CIF pan", 352, 288, 30, TexturedPan(1.5, 1, 0)},
	        {"screen recording", 1024, 768, 30, ScreenRecording()},
	};
	const std::vector<int> quants = {4, 5, 6, 7, 8, 10, 12, 15, 19, 24};
	// Equal quality at the classic tuning's PSNR at these quantisers.
	const int targets[] = {6, 10};
	// PSNR-UV: of both chrominance planes, classic's at its quantiser and better's at the same PSNR-Y,
	// so that no luminance gain hides a chrominance loss.
	std::printf("%-18s %6s %9s %11s %10s %6s %12s %11s %15s\n", "clip", "quant", "PSNR-Y", "classic",
	            "better", "ratio", "classic fps", "better fps", "PSNR-UV c / b");
	for (const Sequence& clip : clips) {
		if (std::string(clip.name).find(only) == std::string::npos)
			continue;
		std::vector<Frame> frames;
		for (int f = 0; f < clip.frames; ++f)
			frames.push_back(enctest::SceneFrame(clip.scene, f, clip.width, clip.height, kPixelFormatBGRA));
		const Curve classic = Measure(clip, frames, kTuningClassic, quants);
		const Curve better = Measure(clip, frames, kTuningBetter, quants);
		const double classicFps = classic.frames / classic.seconds,
		             betterFps = better.frames / better.seconds;
		for (int target : targets) {
			Point atClassic{};
			for (const Point& p : classic.points)
				if (p.quant == target)
					atClassic = p;
			const Point atBetter = At(better, atClassic.psnr);
			std::printf("%-18s %6d %6.2f dB %6.0f kb/s %5.0f kb/s %6.3f %12.1f %11.1f %7.2f / %.2f\n",
			            clip.name, target, atClassic.psnr, atClassic.kbps, atBetter.kbps,
			            atBetter.kbps / atClassic.kbps, classicFps, betterFps, atClassic.chromaPsnr,
			            atBetter.chromaPsnr);
		}
		if (verbose) {
			PrintCurve("classic", classic);
			PrintCurve("better", better);
		}
	}
	TerminateKorvax();
	return 0;
}
