// The quality of a video encode against its source, as x264 reports it: PSNR of Y, U and V (the mean
// of the frames' values), their average and the PSNR of the whole error; SSIM of each plane and all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MediaDefs.h"

// One picture as three 8-bit planes.
struct Planes {
	uint32_t width = 0, height = 0;  // luma
	uint32_t chromaWidth = 0, chromaHeight = 0;
	std::vector<uint8_t> y, u, v;
};

// The planes of a frame: planar B_YUV420 as it is; packed B_YCbCr422 with chroma taken from every
// `chromaRows`-th row (2 for a 4:2:0 source); 32-bit B G R A converted to Y'CbCr 4:4:4.
Planes PlanesOf(const uint8_t* frame, uint32_t width, uint32_t height, color_space space,
                uint32_t chromaRows);

struct PlaneScore {
	double psnrMean = 0;    // mean of the frames' PSNR
	double psnrGlobal = 0;  // PSNR of the error of all frames together
	double ssim = 0;        // mean of the frames' SSIM
};

class QualityMeter {
public:
	void Add(const Planes& source, const Planes& coded);
	int64_t Frames() const { return fFrames; }
	// Y, U, V; and the average of the frames' combined PSNR, the PSNR of all samples' error, and the SSIM
	// of all samples.
	PlaneScore Plane(int plane) const;
	double PsnrAverage() const;
	double PsnrGlobal() const;
	double SsimAll() const;
	// "PSNR Mean Y:41.234 U:44.012 V:45.321 Avg:42.011 Global:41.998" and
	// "SSIM Mean Y:0.98765 U:0.99012 V:0.99111 All:0.98911 (19.612 dB)".
	std::string PsnrLine() const;
	std::string SsimLine() const;

private:
	int64_t fFrames = 0;
	double fPsnrSum[3] = {0, 0, 0}, fSquaredError[3] = {0, 0, 0}, fSsimSum[3] = {0, 0, 0};
	double fSamples[3] = {0, 0, 0};
	double fAveragePsnrSum = 0, fSsimAllSum = 0;
};

// PSNR in dB of a mean squared error on 8-bit samples; 100 for none.
double PsnrOf(double meanSquaredError);
// Mean SSIM of a plane over 8x8 windows every 4 samples (the whole plane when it is smaller).
double Ssim(const uint8_t* a, const uint8_t* b, uint32_t width, uint32_t height);
