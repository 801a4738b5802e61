// BAudioConverter: interleaved 16-bit PCM from one frame rate and channel count to another, for
// applications whose audio differs from what an encoder's SetFormat asks for. Rates go through libsoxr.
#pragma once

#include <vector>

#include "SupportDefs.h"

struct soxr;

class KORVO_HOST_API BAudioConverter {
public:
	BAudioConverter() = default;
	~BAudioConverter();

	// Channels are matched first: mono is copied to every output channel, more channels than the
	// output has are averaged into it (input channel i goes to output i % outChannels), fewer are
	// repeated. Then the rate is changed. B_BAD_VALUE for rates or counts that are not usable.
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
	double fRatio = 1;
	uint32 fInChannels = 0;
	uint32 fOutChannels = 0;
	std::vector<int16> fMixed;      // averaged input waiting for the rate converter
	std::vector<int16> fResampled;  // rate-converted input waiting to be copied to more channels
};
