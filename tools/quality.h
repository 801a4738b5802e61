// Measuring what a conversion kept: PSNR between two Y4M files, SNR between two audio files.
#pragma once

#include <string>

struct Psnr {
	double y = 0, u = 0, v = 0;
	long frames = 0;
};

// Frames compared: as many as both files have.
Psnr MeasurePsnr(const std::string& reference, const std::string& test);
// Signal-to-noise ratio in dB of `test` against `reference` over the samples both have.
double MeasureSnr(const std::string& reference, const std::string& test);
