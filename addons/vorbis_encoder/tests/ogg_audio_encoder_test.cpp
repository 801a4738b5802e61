// The OggAudioEncoder add-on loaded through the host: format coercion, header pages ahead of audio,
// page chunks, zero-frame calls, set-up failures, an encoder used before it is set up, and its
// settings (kept source format, channel order, quality, bit rate, serials, comments from tags).
#include <dlfcn.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "MediaFormats.h"
#include "MediaTags.h"
#include "Message.h"
#include "addon_test.h"

using addon_test::Entry;
using addon_test::RecordingWriter;

// Stand-in for libvorbisenc's set-up call; the add-on's calls bind to it because this program exports
// its symbols. It fails while gFailEncodeInit is set and forwards to the library otherwise.
static bool gFailEncodeInit = false;

extern "C" int vorbis_encode_init(vorbis_info* vi, long channels, long rate, long max_bitrate,
                                  long nominal_bitrate, long min_bitrate)
{
	if (gFailEncodeInit)
		return OV_EIMPL;
	using Real = int (*)(vorbis_info*, long, long, long, long, long);
	static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "vorbis_encode_init"));
	return real(vi, channels, rate, max_bitrate, nominal_bitrate, min_bitrate);
}

namespace {

BPrivate::Encoder* NewEncoder()
{
	auto instantiate = Entry<instantiate_encoder_func>("OggAudioEncoder", "instantiate_encoder");
	return instantiate ? instantiate() : nullptr;
}

std::vector<uint8_t> Stereo(size_t frames, double freq)
{
	std::vector<uint8_t> out;
	for (size_t i = 0; i < frames; i++) {
		const int16_t l = static_cast<int16_t>(12000 * std::sin(2 * M_PI * freq * i / 44100));
		const int16_t r = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1.5 * freq * i / 44100));
		for (int16_t v : {l, r}) {
			out.push_back(static_cast<uint8_t>(v));
			out.push_back(static_cast<uint8_t>(v >> 8));
		}
	}
	return out;
}

struct Page {
	bool bos, eos;
	int64_t granule;
	uint32_t sequence;
	bool firstPacketIsHeader;  // the page starts a packet whose first byte is odd (a header packet)
};

// Checks that the chunks come as header/body pairs of whole Ogg pages and lists the pages.
std::vector<Page> Pages(const RecordingWriter& w)
{
	std::vector<Page> pages;
	EXPECT_EQ(w.chunks.size() % 2, 0u);
	for (size_t i = 0; i + 1 < w.chunks.size(); i += 2) {
		const std::vector<uint8_t>& h = w.chunks[i].bytes;
		const std::vector<uint8_t>& b = w.chunks[i + 1].bytes;
		EXPECT_GE(h.size(), 27u);
		if (h.size() < 27)
			break;
		EXPECT_EQ(memcmp(h.data(), "OggS", 4), 0);
		EXPECT_EQ(h.size(), 27u + h[26]);
		size_t bodyLength = 0;
		for (size_t s = 27; s < h.size(); s++)
			bodyLength += h[s];
		EXPECT_EQ(b.size(), bodyLength);
		int64_t granule = 0;
		for (int k = 7; k >= 0; k--)
			granule = (granule << 8) | h[6 + k];
		const uint32_t sequence = h[18] | h[19] << 8 | h[20] << 16 | uint32_t(h[21]) << 24;
		pages.push_back({(h[5] & 2) != 0, (h[5] & 4) != 0, granule, sequence,
		                 !(h[5] & 1) && !b.empty() && (b[0] & 1)});
	}
	return pages;
}

// Data source of libvorbisfile over a byte vector.
struct MemoryFile {
	std::vector<uint8_t> data;
	size_t pos = 0;
};

size_t MemRead(void* p, size_t size, size_t n, void* src)
{
	auto* m = static_cast<MemoryFile*>(src);
	const size_t bytes = std::min(size * n, m->data.size() - m->pos);
	memcpy(p, m->data.data() + m->pos, bytes);
	m->pos += bytes;
	return size ? bytes / size : 0;
}

// Decodes a stream to 16-bit samples; returns frames decoded (-1 if it does not open), and the comments.
int64_t Decode(const std::vector<uint8_t>& data, std::vector<std::string>* comments = nullptr)
{
	MemoryFile file{data};
	OggVorbis_File vf;
	ov_callbacks cb = {MemRead, nullptr, nullptr, nullptr};
	if (ov_open_callbacks(&file, &vf, nullptr, 0, cb) < 0)
		return -1;
	vorbis_info* vi = ov_info(&vf, -1);
	EXPECT_EQ(vi->channels, 2);
	EXPECT_EQ(vi->rate, 44100);
	EXPECT_EQ(vi->bitrate_nominal, 128000);
	if (comments) {
		vorbis_comment* vc = ov_comment(&vf, -1);
		for (int i = 0; i < vc->comments; i++)
			comments->emplace_back(vc->user_comments[i], vc->comment_lengths[i]);
	}
	int64_t frames = 0;
	char buffer[4096];
	int section;
	for (;;) {
		const long n = ov_read(&vf, buffer, sizeof buffer, 0, 2, 1, &section);
		if (n == OV_HOLE)
			continue;
		if (n <= 0)
			break;
		frames += n / 4;
	}
	ov_clear(&vf);
	return frames;
}

struct Attached {
	Attached()
	{
		encoder = NewEncoder();
		if (!encoder)
			return;
		encoder->SetChunkWriter(&writer);
		media_file_format file{};
		media_format in, out;
		in.type = B_MEDIA_RAW_AUDIO;
		EXPECT_EQ(encoder->SetFormat(&file, &in, &out), B_OK);
		EXPECT_EQ(encoder->AttachedToTrack(), B_OK);
		EXPECT_EQ(encoder->StartEncoder(), B_OK);
	}
	~Attached() { delete encoder; }

	RecordingWriter writer;
	BPrivate::Encoder* encoder = nullptr;
};

TEST(OggAudioEncoder, CodecInfoAndFormatCoercion)
{
	BPrivate::Encoder* e = NewEncoder();
	ASSERT_NE(e, nullptr);
	media_codec_info info;
	ASSERT_EQ(e->GetCodecInfo(&info), B_OK);
	EXPECT_STREQ(info.pretty_name, "Ogg Vorbis Encoder by Quillon based on work by Xiph");
	EXPECT_STREQ(info.short_name, "Ogg Vorbis");
	EXPECT_EQ(info.id, 0x206f6767);
	EXPECT_EQ(info.sub_id, 0x766f7262);

	media_format_description d;
	d.family = B_MISC_FORMAT_FAMILY;
	d.u.misc.file_format = 0x766f7262;
	d.u.misc.codec = 0x206f6767;
	media_format registered;
	BMediaFormats formats;
	ASSERT_EQ(formats.GetFormatFor(d, &registered), B_OK);

	// Any rate and layout is coerced to 44.1 kHz stereo 16-bit little-endian.
	media_file_format file{};
	media_format in, out;
	in.type = B_MEDIA_RAW_AUDIO;
	in.u.raw_audio.frame_rate = 8000;
	in.u.raw_audio.channel_count = 1;
	in.u.raw_audio.format = media_raw_audio_format::B_AUDIO_FLOAT;
	in.u.raw_audio.byte_order = B_MEDIA_BIG_ENDIAN;
	in.u.raw_audio.buffer_size = 2048;
	ASSERT_EQ(e->SetFormat(&file, &in, &out), B_OK);
	EXPECT_EQ(file.family, B_MISC_FORMAT_FAMILY);
	EXPECT_STREQ(file.mime_type, "audio/x-Vorbis");
	EXPECT_STREQ(file.pretty_name, "Ogg Vorbis File");
	EXPECT_STREQ(file.short_name, "vorbis");
	EXPECT_STREQ(file.file_extension, "ogg");
	const media_raw_audio_format* raws[] = {&in.u.raw_audio, &out.u.encoded_audio.output};
	for (const media_raw_audio_format* raw : raws) {
		EXPECT_EQ(raw->frame_rate, 44100.0f);
		EXPECT_EQ(raw->channel_count, 2u);
		EXPECT_EQ(raw->format, (uint32)media_raw_audio_format::B_AUDIO_SHORT);
		EXPECT_EQ(raw->byte_order, (uint32)B_MEDIA_LITTLE_ENDIAN);
	}
	EXPECT_EQ(in.type, B_MEDIA_RAW_AUDIO);
	EXPECT_EQ(out.type, B_MEDIA_ENCODED_AUDIO);
	EXPECT_EQ(out.u.encoded_audio.output.buffer_size, 2048u);
	EXPECT_EQ(out.u.encoded_audio.encoding, registered.u.encoded_audio.encoding);

	// A foreign family is refused, with the file fields still filled in.
	media_file_format wav{};
	wav.family = B_WAV_FORMAT_FAMILY;
	EXPECT_EQ(e->SetFormat(&wav, &in, &out), B_ERROR);
	EXPECT_EQ(wav.family, B_WAV_FORMAT_FAMILY);
	EXPECT_STREQ(wav.short_name, "vorbis");
	delete e;
}

TEST(OggAudioEncoder, HeaderPagesComeBeforeAudioPages)
{
	Attached a;
	ASSERT_NE(a.encoder, nullptr);
	EXPECT_TRUE(a.writer.chunks.empty());  // headers wait for the first Encode
	const std::vector<uint8_t> pcm = Stereo(3 * 44100, 440);
	media_encode_info info;
	a.writer.callerInfo = &info;
	ASSERT_EQ(a.encoder->Encode(pcm.data(), 3 * 44100, &info), B_OK);
	ASSERT_EQ(a.encoder->Flush(), B_OK);

	const std::vector<Page> pages = Pages(a.writer);
	ASSERT_GE(pages.size(), 4u);
	// The identification header alone on a first page, then the comment and codebook headers,
	// flushed onto their own pages: all with granule position 0, before any audio page.
	EXPECT_TRUE(pages[0].bos);
	EXPECT_TRUE(pages[0].firstPacketIsHeader);
	size_t headerPages = 0;
	while (headerPages < pages.size() && pages[headerPages].granule == 0)
		headerPages++;
	ASSERT_GE(headerPages, 2u);
	for (size_t i = 0; i < pages.size(); i++) {
		EXPECT_EQ(pages[i].sequence, i);
		EXPECT_EQ(pages[i].bos, i == 0);
		EXPECT_EQ(pages[i].eos, i + 1 == pages.size());
		if (i >= headerPages) {
			EXPECT_GT(pages[i].granule, 0);
		}
	}
	// Pages written by Encode carry the caller's info, those of Flush a fresh one.
	EXPECT_FALSE(a.writer.chunks.front().freshInfo);
	EXPECT_TRUE(a.writer.chunks.back().freshInfo);

	std::vector<std::string> comments;
	EXPECT_EQ(Decode(a.writer.Concatenated(), &comments), 3 * 44100);
	EXPECT_EQ(comments, std::vector<std::string>{"ENCODER=BeOS Vorbis Encoder Beta"});
}

TEST(OggAudioEncoder, ZeroFrameEncodeWritesHeadersAndDoesNotEndTheStream)
{
	Attached a;
	ASSERT_NE(a.encoder, nullptr);
	ASSERT_EQ(a.encoder->Encode(nullptr, 0, nullptr), B_OK);
	const std::vector<Page> headers = Pages(a.writer);
	ASSERT_GE(headers.size(), 2u);
	for (const Page& p : headers)
		EXPECT_EQ(p.granule, 0);

	const std::vector<uint8_t> pcm = Stereo(30000, 300);
	for (int round = 0; round < 3; round++) {
		ASSERT_EQ(a.encoder->Encode(pcm.data(), 30000, nullptr), B_OK);
		ASSERT_EQ(a.encoder->Encode(pcm.data(), 0, nullptr), B_OK);
	}
	ASSERT_EQ(a.encoder->Flush(), B_OK);
	EXPECT_EQ(Decode(a.writer.Concatenated()), 90000);
}

TEST(OggAudioEncoder, FlushEndsTheStreamOnce)
{
	Attached a;
	ASSERT_NE(a.encoder, nullptr);
	// No audio at all: the headers and an end-of-stream page still make a valid stream.
	ASSERT_EQ(a.encoder->Flush(), B_OK);
	const size_t chunks = a.writer.chunks.size();
	const std::vector<Page> pages = Pages(a.writer);
	ASSERT_GE(pages.size(), 3u);
	EXPECT_TRUE(pages.back().eos);
	EXPECT_EQ(Decode(a.writer.Concatenated()), 0);

	const std::vector<uint8_t> pcm = Stereo(1000, 500);
	EXPECT_EQ(a.encoder->Flush(), B_OK);
	EXPECT_EQ(a.encoder->Encode(pcm.data(), 1000, nullptr), B_OK);
	EXPECT_EQ(a.writer.chunks.size(), chunks);
}

TEST(OggAudioEncoder, UnsetOrFailedSetUpIsReportedAndLeavesTheLibraryAlone)
{
	const std::vector<uint8_t> pcm = Stereo(1000, 500);
	{
		RecordingWriter w;
		BPrivate::Encoder* e = NewEncoder();
		ASSERT_NE(e, nullptr);
		e->SetChunkWriter(&w);
		EXPECT_EQ(e->Encode(pcm.data(), 1000, nullptr), B_NO_INIT);
		EXPECT_EQ(e->Flush(), B_NO_INIT);
		EXPECT_TRUE(w.chunks.empty());
		delete e;
	}
	{
		Attached a;  // set up normally, then set up again with a failing library
		ASSERT_NE(a.encoder, nullptr);
		gFailEncodeInit = true;
		EXPECT_EQ(a.encoder->AttachedToTrack(), B_ERROR);
		gFailEncodeInit = false;
		EXPECT_EQ(a.encoder->Encode(pcm.data(), 1000, nullptr), B_NO_INIT);
		EXPECT_EQ(a.encoder->Flush(), B_NO_INIT);
		EXPECT_TRUE(a.writer.chunks.empty());
		// A later successful set-up works as usual.
		ASSERT_EQ(a.encoder->AttachedToTrack(), B_OK);
		ASSERT_EQ(a.encoder->Encode(pcm.data(), 1000, nullptr), B_OK);
		ASSERT_EQ(a.encoder->Flush(), B_OK);
		EXPECT_EQ(Decode(a.writer.Concatenated()), 1000);
	}
}

TEST(OggAudioEncoder, WriteErrorsReachTheCaller)
{
	Attached a;
	ASSERT_NE(a.encoder, nullptr);
	a.writer.failWith = B_IO_ERROR;
	const std::vector<uint8_t> pcm = Stereo(1000, 500);
	EXPECT_EQ(a.encoder->Encode(pcm.data(), 1000, nullptr), B_IO_ERROR);
	EXPECT_EQ(a.encoder->Encode(pcm.data(), -1, nullptr), B_BAD_VALUE);
}

// ---- settings ----

// An encoder with `keep` set before SetFormat(rate, channels), then attached and started.
struct Configured {
	Configured(float rate, uint32 channels, bool keep, const encode_parameters* quality = nullptr)
	{
		encoder = NewEncoder();
		if (!encoder)
			return;
		encoder->SetChunkWriter(&writer);
		const float on = keep ? 1 : 0;
		EXPECT_EQ(encoder->SetParameterValue(kKeepFormat, &on, sizeof on), B_OK);
		media_file_format file{};
		in.type = B_MEDIA_RAW_AUDIO;
		in.u.raw_audio.frame_rate = rate;
		in.u.raw_audio.channel_count = channels;
		EXPECT_EQ(encoder->SetFormat(&file, &in, &out), B_OK);
		if (quality) {
			EXPECT_EQ(encoder->SetEncodeParameters(const_cast<encode_parameters*>(quality)), B_OK);
		}
		EXPECT_EQ(encoder->AttachedToTrack(), B_OK);
		EXPECT_EQ(encoder->StartEncoder(), B_OK);
	}
	~Configured() { delete encoder; }

	// Encodes `frames` frames of `samples` (interleaved, in.u.raw_audio.channel_count channels) and ends the stream.
	std::vector<uint8_t> Encode(const std::vector<int16_t>& samples)
	{
		const uint32 channels = in.u.raw_audio.channel_count;
		EXPECT_EQ(encoder->Encode(samples.data(), samples.size() / channels, &info), B_OK);
		EXPECT_EQ(encoder->Flush(), B_OK);
		return writer.Concatenated();
	}

	static constexpr int32 kKeepFormat = 3;
	RecordingWriter writer;
	media_encode_info info;
	media_format in, out;
	BPrivate::Encoder* encoder = nullptr;
};

// Rate, channels and every channel's samples of a whole stream as libvorbisfile decodes it.
struct Decoded {
	long rate = 0;
	int channels = 0;
	std::vector<std::string> comments;
	std::vector<std::vector<double>> samples;
};

Decoded DecodeAll(const std::vector<uint8_t>& data)
{
	Decoded d;
	MemoryFile file{data};
	OggVorbis_File vf;
	ov_callbacks cb = {MemRead, nullptr, nullptr, nullptr};
	if (ov_open_callbacks(&file, &vf, nullptr, 0, cb) < 0) {
		ADD_FAILURE() << "the stream does not open";
		return d;
	}
	d.rate = ov_info(&vf, -1)->rate;
	d.channels = ov_info(&vf, -1)->channels;
	vorbis_comment* vc = ov_comment(&vf, -1);
	for (int i = 0; i < vc->comments; i++)
		d.comments.emplace_back(vc->user_comments[i], vc->comment_lengths[i]);
	d.samples.resize(d.channels);
	for (;;) {
		float** pcm;
		int section;
		const long n = ov_read_float(&vf, &pcm, 1024, &section);
		if (n == OV_HOLE)
			continue;
		if (n <= 0)
			break;
		for (int c = 0; c < d.channels; c++)
			d.samples[c].insert(d.samples[c].end(), pcm[c], pcm[c] + n);
	}
	ov_clear(&vf);
	return d;
}

double Rms(const std::vector<double>& x)
{
	double sum = 0;
	for (double v : x)
		sum += v * v;
	return x.empty() ? 0 : std::sqrt(sum / x.size());
}

std::vector<int16_t> Noise(size_t samples, uint32_t seed)
{
	std::vector<int16_t> v(samples);
	for (int16_t& s : v) {
		seed = seed * 1664525u + 1013904223u;
		s = static_cast<int16_t>(static_cast<int32_t>(seed >> 16) - 32768) / 4;
	}
	return v;
}

TEST(OggAudioEncoderSettings, WithoutKeepingEveryInputBecomes44kStereo)
{
	Configured e(8000, 1, false);
	ASSERT_NE(e.encoder, nullptr);
	EXPECT_EQ(e.in.u.raw_audio.frame_rate, 44100.0f);
	EXPECT_EQ(e.in.u.raw_audio.channel_count, 2u);
	const Decoded d = DecodeAll(e.Encode(Noise(2 * 44100, 1)));
	EXPECT_EQ(d.rate, 44100);
	EXPECT_EQ(d.channels, 2);
}

TEST(OggAudioEncoderSettings, KeepSourceFormatWithinWhatVorbisCodes)
{
	struct Case {
		float rate;
		uint32 channels;
		float keptRate;
		uint32 keptChannels;
	} cases[] = {{8000, 1, 8000, 1}, {96000, 6, 96000, 6}, {4000, 8, 8000, 8}, {250000, 9, 192000, 2}};
	for (const Case& c : cases) {
		Configured e(c.rate, c.channels, true);
		ASSERT_NE(e.encoder, nullptr);
		EXPECT_EQ(e.in.u.raw_audio.frame_rate, c.keptRate) << c.rate;
		EXPECT_EQ(e.in.u.raw_audio.channel_count, c.keptChannels) << c.channels;
		EXPECT_EQ(e.out.u.encoded_audio.output.channel_count, c.keptChannels) << c.channels;
		const Decoded d = DecodeAll(e.Encode(Noise(c.keptChannels * 4000, 2)));
		EXPECT_EQ(d.rate, static_cast<long>(c.keptRate));
		EXPECT_EQ(d.channels, static_cast<int>(c.keptChannels));
	}
}

TEST(OggAudioEncoderSettings, SurroundChannelsGoWhereVorbisWantsThem)
{
	// The host orders 5.1 as L R C LFE BL BR, Vorbis as L C R BL BR LFE. A tone on the host's
	// centre only must come out of Vorbis channel 1.
	Configured e(48000, 6, true);
	ASSERT_NE(e.encoder, nullptr);
	std::vector<int16_t> samples(6 * 48000, 0);
	for (size_t i = 0; i < 48000; i++)
		samples[6 * i + 2] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 500 * i / 48000.0));
	const Decoded d = DecodeAll(e.Encode(samples));
	ASSERT_EQ(d.channels, 6);
	for (int c = 0; c < 6; c++) {
		if (c == 1)
			EXPECT_GT(Rms(d.samples[c]), 0.2) << c;
		else
			EXPECT_LT(Rms(d.samples[c]), 0.01) << c;
	}
}

TEST(OggAudioEncoderSettings, QualityReachesTheLibrary)
{
	encode_parameters low{}, high{};
	low.quality = 0.1f;
	high.quality = 0.9f;
	Configured a(44100, 2, true, &low), b(44100, 2, true, &high);
	ASSERT_NE(a.encoder, nullptr);
	ASSERT_NE(b.encoder, nullptr);
	const std::vector<int16_t> noise = Noise(2 * 2 * 44100, 3);
	const size_t small = a.Encode(noise).size(), large = b.Encode(noise).size();
	EXPECT_GT(large, 3 * small) << small << " vs " << large;
	encode_parameters back{};
	EXPECT_EQ(b.encoder->GetEncodeParameters(&back), B_OK);
	EXPECT_FLOAT_EQ(back.quality, 0.9f);
}

TEST(OggAudioEncoderSettings, ManagedBitRateAndItsLimits)
{
	Configured e(44100, 2, true);
	ASSERT_NE(e.encoder, nullptr);
	const int32 kBitRate = 2;
	float kbps = 64;
	// Settings apply before the first page; the encoder rebuilds its stream for them.
	EXPECT_EQ(e.encoder->SetParameterValue(kBitRate, &kbps, sizeof kbps), B_OK);
	const std::vector<uint8_t> stream = e.Encode(Noise(2 * 4 * 44100, 4));
	EXPECT_NEAR(stream.size() * 8 / 4.0 / 1000, 64, 10);
	// Once pages went out settings are refused.
	EXPECT_EQ(e.encoder->SetParameterValue(kBitRate, &kbps, sizeof kbps), B_NOT_ALLOWED);

	Configured speech(8000, 1, true);
	ASSERT_NE(speech.encoder, nullptr);
	kbps = 400;
	EXPECT_EQ(speech.encoder->SetParameterValue(kBitRate, &kbps, sizeof kbps), B_BAD_VALUE);
	float back = 0;
	size_t size = sizeof back;
	EXPECT_EQ(speech.encoder->GetParameterValue(kBitRate, &back, &size), B_OK);
	EXPECT_EQ(back, 0.0f);
}

TEST(OggAudioEncoderSettings, SerialsDifferAndTagsBecomeComments)
{
	Configured a(44100, 2, false), b(44100, 2, false);
	ASSERT_NE(a.encoder, nullptr);
	ASSERT_NE(b.encoder, nullptr);
	BMessage tags;
	tags.AddString("title", "Morning Song");
	tags.AddString("artist", "Quillon");
	EXPECT_EQ(b.encoder->Perform(B_PERFORM_SET_TAGS, &tags), B_OK);
	const std::vector<uint8_t> first = a.Encode(Noise(2 * 1000, 5)), second = b.Encode(Noise(2 * 1000, 5));
	ASSERT_GT(first.size(), 18u);
	ASSERT_GT(second.size(), 18u);
	EXPECT_FALSE(std::equal(first.begin() + 14, first.begin() + 18, second.begin() + 14));
	const Decoded d = DecodeAll(second);
	EXPECT_NE(std::find(d.comments.begin(), d.comments.end(), "TITLE=Morning Song"), d.comments.end());
	EXPECT_NE(std::find(d.comments.begin(), d.comments.end(), "ARTIST=Quillon"), d.comments.end());
	EXPECT_NE(std::find(d.comments.begin(), d.comments.end(), "ENCODER=BeOS Vorbis Encoder Beta"),
	          d.comments.end());
}

}  // namespace
