// PSNR and SNR measurements for the demo table; audio of any kind the tool reads (G.723 WAV included)
// is decoded through the host.
#include "quality.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "audio_io.h"
#include "video_io.h"

namespace {

double Db(double signal, double noise)
{
	if (noise <= 0)
		return 99.0;
	return 10.0 * std::log10(signal / noise);
}

std::vector<int16_t> ReadAll(const std::string& path)
{
	std::unique_ptr<AudioReader> r = OpenAudioReader(path);
	std::vector<int16_t> samples;
	while (r->Read(&samples)) {}
	return samples;
}

double Snr(const std::vector<int16_t>& a, const std::vector<int16_t>& b)
{
	const size_t n = std::min(a.size(), b.size());
	double signal = 0, noise = 0;
	for (size_t i = 0; i < n; i++) {
		signal += (double)a[i] * a[i];
		const double d = (double)a[i] - b[i];
		noise += d * d;
	}
	return Db(signal, noise);
}

}  // namespace

Psnr MeasurePsnr(const std::string& reference, const std::string& test)
{
	std::unique_ptr<VideoReader> a = OpenY4mReader(reference), b = OpenY4mReader(test);
	Psnr result;
	if (a->Params().width != b->Params().width || a->Params().height != b->Params().height)
		return result;
	std::vector<uint8_t> fa(a->Params().FrameBytes()), fb(fa.size());
	double se[3] = {0, 0, 0};
	size_t count[3] = {0, 0, 0};
	while (a->Read(fa.data()) && b->Read(fb.data())) {
		// Packed Y0 U Y1 V: bytes 0 and 2 are luma, 1 is U, 3 is V.
		for (size_t i = 0; i < fa.size(); i++) {
			const int plane = i % 2 == 0 ? 0 : i % 4 == 1 ? 1 : 2;
			const double d = (double)fa[i] - fb[i];
			se[plane] += d * d;
			count[plane]++;
		}
		result.frames++;
	}
	if (!result.frames)
		return result;
	auto psnr = [&](int p) { return Db(255.0 * 255.0, se[p] / count[p]); };
	result.y = psnr(0);
	result.u = psnr(1);
	result.v = psnr(2);
	return result;
}

double MeasureSnr(const std::string& reference, const std::string& test)
{
	return Snr(ReadAll(reference), ReadAll(test));
}
