// PSNR and SNR measurements for the demo table. G.723 WAV files are decoded by handing their code
// bytes to libsndfile as a G.723 AU stream (libsndfile has no reader for the WAV form).
#include "quality.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "audio_io.h"
#include "riff_wav.h"
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

struct Memory {
	std::vector<uint8_t> data;
	sf_count_t pos = 0;
};

sf_count_t MemLength(void* user) { return (sf_count_t) static_cast<Memory*>(user)->data.size(); }
sf_count_t MemSeek(sf_count_t offset, int whence, void* user)
{
	auto* m = static_cast<Memory*>(user);
	const sf_count_t size = (sf_count_t)m->data.size();
	const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : size;
	m->pos = std::clamp<sf_count_t>(base + offset, 0, size);
	return m->pos;
}
sf_count_t MemRead(void* ptr, sf_count_t count, void* user)
{
	auto* m = static_cast<Memory*>(user);
	const sf_count_t n = std::min<sf_count_t>(count, (sf_count_t)m->data.size() - m->pos);
	memcpy(ptr, m->data.data() + m->pos, (size_t)n);
	m->pos += n;
	return n;
}
sf_count_t MemWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t MemTell(void* user) { return static_cast<Memory*>(user)->pos; }

void PutBe32(std::vector<uint8_t>& v, uint32_t x)
{
	for (int shift = 24; shift >= 0; shift -= 8)
		v.push_back((uint8_t)(x >> shift));
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

double MeasureG723Snr(const std::string& reference, const std::string& g723Wav)
{
	WavChunks wav;
	if (!ReadWavChunks(g723Wav, &wav) || wav.data.empty())
		return NAN;
	const std::vector<uint8_t>& codes = wav.data;
	// The interleaved channels were coded as one signal, so they decode as one mono stream.
	Memory au;
	const uint8_t magic[4] = {'.', 's', 'n', 'd'};
	au.data.assign(magic, magic + 4);
	PutBe32(au.data, 24);
	PutBe32(au.data, (uint32_t)codes.size());
	PutBe32(au.data, 25);  // G.723 3-bit ADPCM
	PutBe32(au.data, 8000);
	PutBe32(au.data, 1);
	au.data.insert(au.data.end(), codes.begin(), codes.end());
	SF_VIRTUAL_IO io = {MemLength, MemSeek, MemRead, MemWrite, MemTell};
	SF_INFO info = {};
	SNDFILE* sf = sf_open_virtual(&io, SFM_READ, &info, &au);
	if (!sf)
		return NAN;
	std::vector<int16_t> decoded((size_t)std::max<sf_count_t>(info.frames, 0) + 64);
	decoded.resize((size_t)sf_read_short(sf, decoded.data(), (sf_count_t)decoded.size()));
	sf_close(sf);
	return Snr(ReadAll(reference), decoded);
}
