// PSNR and SNR measurements for the demo table; audio of any kind the tool reads (G.723 WAV included)
// is decoded through the host.
#include "quality.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "audio_io.h"
#include "measure.h"
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
	const VideoParams& p = a->Params();
	if (p.width != b->Params().width || p.height != b->Params().height || p.space != b->Params().space)
		return result;
	std::vector<uint8_t> fa(p.FrameBytes()), fb(fa.size());
	QualityMeter meter;
	while (a->Read(fa.data()) && b->Read(fb.data()))
		meter.Add(PlanesOf(fa.data(), p.width, p.height, p.space, p.chromaRows),
		          PlanesOf(fb.data(), p.width, p.height, p.space, p.chromaRows));
	result.frames = meter.Frames();
	if (result.frames) {
		result.y = meter.Plane(0).psnrGlobal;
		result.u = meter.Plane(1).psnrGlobal;
		result.v = meter.Plane(2).psnrGlobal;
	}
	return result;
}

double MeasureSnr(const std::string& reference, const std::string& test)
{
	return Snr(ReadAll(reference), ReadAll(test));
}
