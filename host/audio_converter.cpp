// BAudioConverter: channel matching by a down-mix matrix, copying or averaging, then the frame rate
// changed by libsoxr at high quality, 16-bit interleaved in and out; BDither's 16-bit reduction.
#include <soxr.h>

#include <algorithm>
#include <cmath>

#include "AudioConverter.h"
#include "Errors.h"

namespace {

constexpr uint32 kMaxChannels = 1024;
constexpr size_t kMaxFramesPerCall = size_t(1) << 24;

bool UsableRate(double rate) { return std::isfinite(rate) && rate >= 1 && rate <= 1e7; }

enum Speaker { kLeft, kRight, kCentre, kLfe, kBackLeft, kBackRight, kSideLeft, kSideRight, kBackCentre };

// The speakers of 3..8 host-order channels.
const Speaker kLayouts[6][8] = {
        {kLeft, kRight, kCentre},
        {kLeft, kRight, kBackLeft, kBackRight},
        {kLeft, kRight, kCentre, kBackLeft, kBackRight},
        {kLeft, kRight, kCentre, kLfe, kBackLeft, kBackRight},
        {kLeft, kRight, kCentre, kLfe, kBackCentre, kSideLeft, kSideRight},
        {kLeft, kRight, kCentre, kLfe, kBackLeft, kBackRight, kSideLeft, kSideRight},
};

// Gains of 3..8 channels mixed into stereo (left row, right row) or mono, rows scaled so that the
// gains of each add up to 1: a full-scale signal on every channel at once still fits.
std::vector<float> DownmixMatrix(uint32 in, uint32 out)
{
	const float kMinus3dB = 0.70710678f;
	std::vector<float> m(out * in, 0.0f);
	for (uint32 c = 0; c < in; c++) {
		const Speaker s = kLayouts[in - 3][c];
		const bool left = s == kLeft || s == kBackLeft || s == kSideLeft;
		const bool right = s == kRight || s == kBackRight || s == kSideRight;
		const float gain = s == kLfe ? 0.0f : s == kLeft || s == kRight ? 1.0f : kMinus3dB;
		if (out == 1) {
			m[c] = gain;
		} else {
			m[c] = right ? 0.0f : gain;
			m[in + c] = left ? 0.0f : gain;
		}
	}
	for (uint32 row = 0; row < out; row++) {
		float sum = 0;
		for (uint32 c = 0; c < in; c++)
			sum += m[row * in + c];
		for (uint32 c = 0; c < in; c++)
			m[row * in + c] /= sum;
	}
	return m;
}

}  // namespace

BAudioConverter::~BAudioConverter()
{
	if (fResampler)
		soxr_delete(fResampler);
}

status_t BAudioConverter::SetTo(double inRate, uint32 inChannels, double outRate, uint32 outChannels)
{
	if (fResampler)
		soxr_delete(fResampler);
	fResampler = nullptr;
	fInChannels = fOutChannels = 0;
	if (!UsableRate(inRate) || !UsableRate(outRate) || inChannels < 1 || outChannels < 1 ||
	    inChannels > kMaxChannels || outChannels > kMaxChannels)
		return B_BAD_VALUE;
	fInChannels = inChannels;
	fOutChannels = outChannels;
	fMatrix.clear();
	if (inChannels >= 3 && inChannels <= 8 && outChannels <= 2)
		fMatrix = DownmixMatrix(inChannels, outChannels);
	fRatio = outRate / inRate;
	if (inRate != outRate) {
		soxr_error_t error = nullptr;
		const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
		const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
		// The rate is changed on the smaller number of channels: after averaging, before copying.
		fResampler = soxr_create(inRate, outRate, std::min(inChannels, outChannels), &error, &io, &quality,
		                         nullptr);
		if (error || !fResampler) {
			fResampler = nullptr;
			fInChannels = fOutChannels = 0;
			return B_ERROR;
		}
	}
	return B_OK;
}

status_t BAudioConverter::Convert(const int16* in, size_t frames, std::vector<int16>* out)
{
	if (!fInChannels)
		return B_NO_INIT;
	if (!out || (frames && !in) || frames > kMaxFramesPerCall)
		return B_BAD_VALUE;
	if (fInChannels > fOutChannels) {
		fMixed.clear();
		Mix(in, frames, &fMixed);
		if (!fResampler) {
			out->insert(out->end(), fMixed.begin(), fMixed.end());
			return B_OK;
		}
		return Resample(fMixed.data(), frames, out);
	}
	if (!fResampler) {
		Mix(in, frames, out);
		return B_OK;
	}
	if (fInChannels == fOutChannels)
		return Resample(in, frames, out);
	fResampled.clear();
	if (status_t status = Resample(in, frames, &fResampled); status != B_OK)
		return status;
	Mix(fResampled.data(), fResampled.size() / fInChannels, out);
	return B_OK;
}

// Appends `frames` frames of `in`, matched from the input's channels to the output's.
void BAudioConverter::Mix(const int16* in, size_t frames, std::vector<int16>* out) const
{
	const size_t start = out->size();
	out->resize(start + frames * fOutChannels);
	int16* dst = out->data() + start;
	for (size_t f = 0; f < frames; f++, dst += fOutChannels) {
		const int16* src = in + f * fInChannels;
		if (!fMatrix.empty()) {
			for (uint32 c = 0; c < fOutChannels; c++) {
				const float* gains = &fMatrix[c * fInChannels];
				float sum = 0;
				for (uint32 i = 0; i < fInChannels; i++)
					sum += gains[i] * src[i];
				dst[c] = static_cast<int16>(std::clamp(std::lround(sum), -32768L, 32767L));
			}
			continue;
		}
		if (fInChannels <= fOutChannels) {
			for (uint32 c = 0; c < fOutChannels; c++)
				dst[c] = src[c % fInChannels];
			continue;
		}
		for (uint32 c = 0; c < fOutChannels; c++) {
			int64 sum = 0;
			uint32 count = 0;
			for (uint32 i = c; i < fInChannels; i += fOutChannels, count++)
				sum += src[i];
			dst[c] = static_cast<int16>(std::lround(static_cast<double>(sum) / count));
		}
	}
}

status_t BAudioConverter::Finish(std::vector<int16>* out)
{
	if (!fInChannels)
		return B_NO_INIT;
	if (!out)
		return B_BAD_VALUE;
	if (!fResampler)
		return B_OK;
	if (fInChannels >= fOutChannels)
		return Resample(nullptr, 0, out);
	fResampled.clear();
	if (status_t status = Resample(nullptr, 0, &fResampled); status != B_OK)
		return status;
	Mix(fResampled.data(), fResampled.size() / fInChannels, out);
	return B_OK;
}

// Feeds `frames` frames (none: the end of the input) and collects all the resampler gives back.
status_t BAudioConverter::Resample(const int16* in, size_t frames, std::vector<int16>* out)
{
	const size_t channels = std::min(fInChannels, fOutChannels);
	size_t consumed = 0;
	const size_t room = static_cast<size_t>(std::ceil(frames * fRatio)) + 1024;
	for (int rounds = 0; rounds < 1024; rounds++) {
		const size_t start = out->size();
		out->resize(start + room * channels);
		size_t used = 0, made = 0;
		const soxr_error_t error = soxr_process(fResampler, in ? in + consumed * channels : nullptr,
		                                        frames - consumed, &used, out->data() + start, room, &made);
		out->resize(start + made * channels);
		if (error)
			return B_ERROR;
		consumed += used;
		// Done once all input is taken and the output did not fill the room given.
		if (consumed == frames && made < room)
			return B_OK;
	}
	return B_ERROR;
}

const uint8* vorbis_channel_map(uint32 channels)
{
	// Vorbis: L C R; L C R BL BR; L C R BL BR LFE; L C R SL SR BC LFE; L C R SL SR BL BR LFE.
	static const uint8 k3[] = {0, 2, 1};
	static const uint8 k5[] = {0, 2, 1, 3, 4};
	static const uint8 k6[] = {0, 2, 1, 4, 5, 3};
	static const uint8 k7[] = {0, 2, 1, 5, 6, 4, 3};
	static const uint8 k8[] = {0, 2, 1, 6, 7, 4, 5, 3};
	switch (channels) {
		case 3: return k3;
		case 5: return k5;
		case 6: return k6;
		case 7: return k7;
		case 8: return k8;
		default: return nullptr;
	}
}

int16 BDither::Quantise(double value)
{
	// Two uniform values in [0, 1) per sample; their difference is triangular over (-1, 1).
	auto next = [this] {
		fState ^= fState << 13;
		fState ^= fState >> 17;
		fState ^= fState << 5;
		return fState * (1.0 / 4294967296.0);
	};
	const double noise = next() - next();
	return static_cast<int16>(std::clamp(std::floor(value + noise + 0.5), -32768.0, 32767.0));
}

void BDither::Reduce(const int32* in, size_t count, int16* out)
{
	for (size_t i = 0; i < count; i++)
		out[i] = Quantise(in[i] / 65536.0);
}

void BDither::Reduce(const float* in, size_t count, int16* out)
{
	for (size_t i = 0; i < count; i++)
		out[i] = Quantise(std::isfinite(in[i]) ? in[i] * 32768.0 : 0.0);
}
