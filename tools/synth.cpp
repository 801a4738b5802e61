// Synthesis of the demo clip (Y4M through the tool's writer) and of the test signal (PCM WAV through
// the host's writer).
#include "synth.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio_io.h"
#include "video_io.h"

namespace {

// A small deterministic generator, so every demo run makes the same material.
struct Random {
	uint32_t state;
	uint32_t Next()
	{
		state = state * 1664525u + 1013904223u;
		return state >> 8;
	}
	double Uniform() { return Next() / 16777216.0 * 2 - 1; }  // -1..1
};

// Value noise fixed to the scene: a lattice of random values, smoothly interpolated.
double Lattice(int x, int y)
{
	uint32_t h = (uint32_t)x * 374761393u + (uint32_t)y * 668265263u;
	h = (h ^ (h >> 13)) * 1274126177u;
	return ((h ^ (h >> 16)) & 0xffff) / 65535.0;
}

double ValueNoise(double u, double v)
{
	const int x = (int)std::floor(u), y = (int)std::floor(v);
	const double fx = u - x, fy = v - y;
	const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
	const double top = Lattice(x, y) + (Lattice(x + 1, y) - Lattice(x, y)) * sx;
	const double bottom = Lattice(x, y + 1) + (Lattice(x + 1, y + 1) - Lattice(x, y + 1)) * sx;
	return top + (bottom - top) * sy;
}

uint8_t Clamp(double v) { return (uint8_t)std::clamp((int)std::lround(v), 16, 235); }

}  // namespace

void WriteDemoClip(const std::string& path, uint32_t width, uint32_t height, int frames, uint32_t rate)
{
	VideoParams params;
	params.width = width;
	params.height = height;
	params.rateNum = rate;
	params.rateDen = 1;
	params.space = B_YCbCr422;
	// Whole frames of square pixels, as the header says.
	params.tags.interlace = Interlace::Progressive;
	params.tags.aspectNum = params.tags.aspectDen = 1;
	std::unique_ptr<VideoWriter> writer = OpenY4mWriter(path, params);
	std::vector<uint8_t> frame(params.FrameBytes());
	Random random{12345};
	for (int t = 0; t < frames; t++) {
		const double time = (double)t / frames;
		// The camera pans right and down and breathes in and out.
		const double zoom = 1.0 + 0.35 * std::sin(2 * M_PI * time);
		const double camX = 180 * time, camY = 40 * std::sin(M_PI * time);
		// A ball crosses the picture on an arc.
		const double ballX = -40 + (width + 80) * time;
		const double ballY = height * (0.65 - 0.35 * std::sin(M_PI * time));
		const double radius = height / 7.0;
		for (uint32_t y = 0; y < height; y++) {
			uint8_t* row = frame.data() + (size_t)y * width * 2;
			for (uint32_t x = 0; x < width; x++) {
				const double u = (x - width / 2.0) / zoom + camX;
				const double v = (y - height / 2.0) / zoom + camY;
				double Y = 110 + 45 * std::sin(u * 0.07) * std::cos(v * 0.05) +
				           50 * (ValueNoise(u / 9.0, v / 9.0) - 0.5) +
				           ((((int)std::floor(u / 32) + (int)std::floor(v / 32)) & 1) ? 18 : -18);
				double U = 128 + 35 * std::sin(u * 0.013 + 1) + 10 * (ValueNoise(u / 23.0, v / 23.0) - 0.5);
				double V = 128 + 35 * std::cos(v * 0.017) + 10 * (ValueNoise(v / 19.0, u / 19.0) - 0.5);
				const double dx = x - ballX, dy = y - ballY, r2 = (dx * dx + dy * dy) / (radius * radius);
				if (r2 < 1) {
					Y = 215 - 90 * r2 - 25 * (dx + dy) / radius;
					U = 90;
					V = 200;
				}
				Y += 3 * random.Uniform();
				row[2 * x] = Clamp(Y);
				// Chroma is shared by the pixel pair (and by the row pair in the 4:2:0 file).
				if (x % 2 == 0 && y % 2 == 0) {
					row[2 * x + 1] = Clamp(U);
					row[2 * x + 3] = Clamp(V);
				} else if (x % 2 == 0) {
					const uint8_t* above = row - (ptrdiff_t)width * 2;
					row[2 * x + 1] = above[2 * x + 1];
					row[2 * x + 3] = above[2 * x + 3];
				}
			}
		}
		writer->Write(frame.data());
	}
	writer->Finish();
}

void WriteDemoSignal(const std::string& path, double seconds, uint32_t rate)
{
	AudioParams params;
	params.rate = rate;
	params.channels = 2;
	Options pcm;
	std::unique_ptr<AudioWriter> writer = OpenAudioWriter(path, params, BMessage(), pcm);
	const int64_t frames = (int64_t)(seconds * rate);
	std::vector<int16_t> samples((size_t)frames * 2);
	Random random{777};
	double sweepPhase = 0;
	for (int64_t i = 0; i < frames; i++) {
		const double t = (double)i / rate, part = t / seconds;
		double left, right;
		if (part < 1.0 / 3) {
			left = 0.35 * std::sin(2 * M_PI * 440 * t);
			right = 0.3 * std::sin(2 * M_PI * 660 * t) + 0.1 * std::sin(2 * M_PI * 1320 * t);
		} else if (part < 2.0 / 3) {
			// A logarithmic sweep from 100 Hz to 10 kHz.
			const double k = (part - 1.0 / 3) * 3;
			sweepPhase += 2 * M_PI * 100 * std::pow(100.0, k) / rate;
			left = 0.3 * std::sin(sweepPhase);
			right = 0.3 * std::sin(sweepPhase + M_PI / 2);
		} else {
			left = 0.2 * (std::sin(2 * M_PI * 330 * t) + std::sin(2 * M_PI * 415 * t) +
			              std::sin(2 * M_PI * 494 * t));
			right = 0.25 * std::sin(2 * M_PI * 220 * t) * (0.6 + 0.4 * std::sin(2 * M_PI * 3 * t));
		}
		left += 0.005 * random.Uniform();
		right += 0.005 * random.Uniform();
		samples[2 * i] = (int16_t)std::lround(std::clamp(left, -1.0, 1.0) * 32767);
		samples[2 * i + 1] = (int16_t)std::lround(std::clamp(right, -1.0, 1.0) * 32767);
	}
	writer->Write(samples.data(), frames);
	writer->Finish();
}
