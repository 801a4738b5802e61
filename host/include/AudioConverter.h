// Sample and channel conversion for applications whose audio differs from what an encoder takes:
// BAudioConverter changes the frame rate (libsoxr) and channel count of interleaved 16-bit PCM,
// BDither reduces 32-bit and float samples to 16 bits. Channels are in the host's order, WAV's:
// front left, front right, centre, LFE, back left, back right, side left, side right (with fewer
// channels: 3 = L R C, 4 = L R BL BR, 5 = L R C BL BR, 7 = L R C LFE BC SL SR).
#pragma once

#include <vector>

#include "SupportDefs.h"

struct soxr;

// For each Vorbis channel of a stream of `channels` (3..8), the host channel it carries; null where
// the orders agree (1, 2, 4) or Vorbis defines none.
KORVO_HOST_API const uint8* vorbis_channel_map(uint32 channels);

class KORVO_HOST_API BAudioConverter {
public:
	BAudioConverter() = default;
	~BAudioConverter();

	// Channels are matched first: 3..8 channels down to stereo or mono by a mixing matrix (centre and
	// surrounds at -3 dB against the front pair, the LFE left out, scaled so that no sum clips);
	// mono is copied to every output channel; other counts average input channel i into output
	// i % outChannels, or repeat channels when there are fewer. Then the rate is changed.
	// B_BAD_VALUE for rates or counts that are not usable.
	status_t SetTo(double inRate, uint32 inChannels, double outRate, uint32 outChannels);
	// Converts `frames` input frames and appends what comes out to `out`.
	status_t Convert(const int16* in, size_t frames, std::vector<int16>* out);
	// The end of the input: appends the frames still held by the rate converter.
	status_t Finish(std::vector<int16>* out);

	bool IsIdentity() const { return fInChannels == fOutChannels && !fResampler; }

private:
	BAudioConverter(const BAudioConverter&) = delete;
	BAudioConverter& operator=(const BAudioConverter&) = delete;

	status_t Resample(const int16* in, size_t frames, std::vector<int16>* out);
	void Mix(const int16* in, size_t frames, std::vector<int16>* out) const;

	soxr* fResampler = nullptr;
	std::vector<float> fMatrix;  // outChannels x inChannels gains when a mixing matrix is used
	double fRatio = 1;
	uint32 fInChannels = 0;
	uint32 fOutChannels = 0;
	std::vector<int16> fMixed;      // averaged input waiting for the rate converter
	std::vector<int16> fResampled;  // rate-converted input waiting to be copied to more channels
};

// 32-bit integer or float samples to 16 bits with triangular (TPDF) dither of one 16-bit step either
// way, which turns the rounding error into a steady noise floor instead of distortion. The noise
// comes from a fixed-seed generator, so a conversion repeats exactly.
class KORVO_HOST_API BDither {
public:
	// Integers use the whole 32-bit range (a 24-bit sample sits in the upper 24 bits); floats run
	// -1..1. Out-of-range values are clipped.
	void Reduce(const int32* in, size_t count, int16* out);
	void Reduce(const float* in, size_t count, int16* out);

private:
	int16 Quantise(double value);  // value in 16-bit steps
	uint32 fState = 0x12345678;
};
