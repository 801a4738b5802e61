// WAV files through the host: G.723 tracks made by the add-on in the built-in WAV writer and read back
// through the WAV reader and the decoder add-on, raw PCM written and read back, damaged headers, audio
// files of other kinds read through libsndfile, and FLAC and AIFF written through it (sox judges).
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <tuple>

#include "MediaFile.h"
#include "Message.h"
#include "MediaTrack.h"
#include "addon_test.h"
#include "g72x.h"

using addon_test::LoadAddOns;
using addon_test::RunCommand;
using addon_test::TempPath;

namespace {

std::vector<uint8_t> ReadAll(const std::string& path)
{
	std::ifstream in(path, std::ios::binary);
	return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t LE32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

media_file_format WavFileFormat()
{
	media_file_format mfi{};
	mfi.family = B_WAV_FORMAT_FAMILY;
	strcpy(mfi.short_name, "wav");
	return mfi;
}

media_format RawShort(float rate, uint32 channels)
{
	media_format f;
	f.type = B_MEDIA_RAW_AUDIO;
	f.u.raw_audio.frame_rate = rate;
	f.u.raw_audio.channel_count = channels;
	f.u.raw_audio.format = media_raw_audio_format::B_AUDIO_SHORT;
	f.u.raw_audio.byte_order = B_MEDIA_HOST_ENDIAN;
	f.u.raw_audio.buffer_size = 4096;
	return f;
}

std::vector<int16_t> Signal(size_t n)
{
	std::vector<int16_t> v(n);
	for (size_t i = 0; i < n; i++)
		v[i] = static_cast<int16_t>(9000 * std::sin(i * 0.05) + 3000 * std::sin(i * 0.31));
	return v;
}

struct Riff {
	std::vector<uint8_t> fmt, fact, data;
	bool ok = false;
};

// Walks a RIFF/WAVE file, checking every size against the file.
Riff ParseWav(const std::vector<uint8_t>& file)
{
	Riff r;
	EXPECT_GE(file.size(), 12u);
	if (file.size() < 12)
		return r;
	EXPECT_EQ(memcmp(file.data(), "RIFF", 4), 0);
	EXPECT_EQ(memcmp(file.data() + 8, "WAVE", 4), 0);
	EXPECT_EQ(LE32(file.data() + 4), file.size() - 8);
	for (size_t at = 12; at + 8 <= file.size();) {
		const uint32_t size = LE32(file.data() + at + 4);
		EXPECT_LE(at + 8 + size, file.size());
		if (at + 8 + size > file.size())
			return r;
		std::vector<uint8_t> body(file.begin() + at + 8, file.begin() + at + 8 + size);
		if (memcmp(file.data() + at, "fmt ", 4) == 0)
			r.fmt = body;
		else if (memcmp(file.data() + at, "fact", 4) == 0)
			r.fact = body;
		else if (memcmp(file.data() + at, "data", 4) == 0)
			r.data = body;
		at += 8 + size + (size & 1);
		EXPECT_LE(at, file.size());
	}
	r.ok = true;
	return r;
}

// The coder alone over the samples, packed three bits at a time with a final partial byte.
std::vector<uint8_t> G723Bytes(const std::vector<int16_t>& samples)
{
	g72x_state state;
	g72x_init_state(&state);
	std::vector<uint8_t> out;
	uint32_t bits = 0;
	int count = 0;
	for (int16_t s : samples) {
		bits |= static_cast<uint32_t>(g723_24_encoder(s, G72X_CODING_LINEAR, &state)) << count;
		count += 3;
		if (count >= 8) {
			out.push_back(static_cast<uint8_t>(bits));
			bits >>= 8;
			count -= 8;
		}
	}
	if (count)
		out.push_back(static_cast<uint8_t>(bits));
	return out;
}

// Every sample of a file as libsndfile reads it.
std::vector<int16_t> SndfileSamples(const std::string& path, SF_INFO* info)
{
	*info = SF_INFO{};
	SNDFILE* f = sf_open(path.c_str(), SFM_READ, info);
	EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
	if (!f)
		return {};
	std::vector<int16_t> v(static_cast<size_t>(info->frames) * info->channels);
	EXPECT_EQ(sf_readf_short(f, v.data(), info->frames), info->frames);
	sf_close(f);
	return v;
}

// Every sample of a file as the host reads it, with the track's decoded format.
std::vector<int16_t> HostSamples(const std::string& path, media_format* decoded, int64* counted)
{
	BMediaFile file(path.c_str());
	EXPECT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	if (file.InitCheck() != B_OK || file.CountTracks() != 1)
		return {};
	BMediaTrack* track = file.TrackAt(0);
	EXPECT_EQ(track->DecodedFormat(decoded), B_OK) << track->ErrorText();
	*counted = track->CountFrames();
	std::vector<int16_t> all, buffer(decoded->u.raw_audio.buffer_size / 2 + 8);
	const uint32 channels = decoded->u.raw_audio.channel_count;
	for (int guard = 0; guard < 1000000; guard++) {
		int64 n = 0;
		const status_t s = track->ReadFrames(buffer.data(), &n);
		if (s == B_LAST_BUFFER_ERROR)
			break;
		EXPECT_EQ(s, B_OK) << track->ErrorText();
		if (s != B_OK)
			break;
		all.insert(all.end(), buffer.begin(), buffer.begin() + n * channels);
	}
	return all;
}

// What a decoder makes of the encoder's codes: the encoder's own reconstruction of every sample.
std::vector<int16_t> G723Reconstruction(const std::vector<int16_t>& samples)
{
	g72x_state state;
	g72x_init_state(&state);
	std::vector<int16_t> out;
	for (int16_t s : samples) {
		int r = 0;
		g723_24_encode(s, G72X_CODING_LINEAR, &state, &r);
		out.push_back(static_cast<int16_t>(r));
	}
	return out;
}

// Writes `samples` (interleaved) as a G.723 WAV through the host and the encoder add-on, in uneven
// pieces so that codes straddle the chunks.
void WriteG723(const std::string& path, const std::vector<int16_t>& samples, uint32 channels)
{
	const media_file_format mfi = WavFileFormat();
	BMediaFile file(path.c_str(), &mfi);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	media_codec_info codec{};
	strcpy(codec.pretty_name, "G.723_3 Audio Compression");
	strcpy(codec.short_name, "G.723_3");
	media_format format = RawShort(8000, channels);
	BMediaTrack* track = file.CreateTrack(&format, &codec);
	ASSERT_NE(track, nullptr) << file.ErrorText();
	media_format second = RawShort(8000, channels);
	EXPECT_EQ(file.CreateTrack(&second, &codec), nullptr);  // WAV holds one stream
	const size_t frames = samples.size() / channels;
	size_t done = 0;
	for (int32 n : {1, 2, 5, 1000, 3000}) {
		ASSERT_EQ(track->WriteFrames(samples.data() + done * channels, n), B_OK) << track->ErrorText();
		done += n;
	}
	ASSERT_EQ(track->WriteFrames(samples.data() + done * channels, static_cast<int32>(frames - done)), B_OK);
	ASSERT_EQ(file.CloseFile(), B_OK) << file.ErrorText();
}

TEST(WavFiles, G723TrackHasItsFormatHeaderSampleCountAndPackedCodes)
{
	LoadAddOns();
	const std::string path = TempPath("g723.wav");
	const std::vector<int16_t> samples = Signal(8001);  // odd code-byte count: a pad byte follows
	WriteG723(path, samples, 1);
	const Riff riff = ParseWav(ReadAll(path));
	ASSERT_TRUE(riff.ok);
	// The add-on's 14 bytes, then 3 bits per sample and an empty extension.
	const std::vector<uint8_t> header = {0x33, 0x72, 1, 0, 0x40, 0x1f, 0, 0, 0xb8,
	                                     0x0b, 0,    0, 1, 0,    3,    0, 0, 0};
	EXPECT_EQ(riff.fmt, header);
	EXPECT_EQ(riff.fact, (std::vector<uint8_t>{0x41, 0x1f, 0, 0}));  // 8001
	const std::vector<uint8_t> codes = G723Bytes(samples);
	ASSERT_EQ(codes.size() % 2, 1u);
	EXPECT_EQ(riff.data, codes);
	unlink(path.c_str());
}

TEST(WavFiles, G723TracksReadBackThroughTheDecoder)
{
	LoadAddOns();
	for (uint32 channels : {1u, 2u, 3u}) {
		const std::string path = TempPath("g723-read.wav");
		const std::vector<int16_t> samples = Signal(7001 * channels);
		WriteG723(path, samples, channels);
		media_format decoded;
		int64 frames = 0;
		std::vector<int16_t> got = HostSamples(path, &decoded, &frames);
		EXPECT_EQ(frames, 7001) << channels;
		EXPECT_EQ(decoded.u.raw_audio.channel_count, channels);
		EXPECT_EQ(decoded.u.raw_audio.frame_rate, 8000.0f);
		// The channels are one coded signal; the pad bits of the last byte may add a frame.
		const std::vector<int16_t> want = G723Reconstruction(samples);
		ASSERT_GE(got.size(), want.size()) << channels;
		ASSERT_LE(got.size(), want.size() + channels) << channels;
		got.resize(want.size());
		EXPECT_TRUE(got == want) << channels;

		BMediaFile file(path.c_str());
		ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
		media_codec_info codec{};
		ASSERT_EQ(file.TrackAt(0)->GetCodecInfo(&codec), B_OK);
		EXPECT_STREQ(codec.short_name, "G.723_3");
		EXPECT_EQ(file.TrackAt(0)->Duration(), 7001 * 1000000LL / 8000);
		unlink(path.c_str());
	}
}

// Files of the 14-byte header (no bits per sample, no sample count) as older writers made them.
TEST(WavFiles, G723WithTheShortHeaderStillReads)
{
	LoadAddOns();
	const std::string path = TempPath("g723-old.wav");
	const std::vector<int16_t> samples = Signal(8000);
	const std::vector<uint8_t> codes = G723Bytes(samples);
	std::vector<uint8_t> file = {'R', 'I', 'F',  'F',  0, 0, 0, 0,    'W',  'A', 'V', 'E',  'f',
	                             'm', 't', ' ',  14,   0, 0, 0, 0x33, 0x72, 1,   0,   0x40, 0x1f,
	                             0,   0,   0xb8, 0x0b, 0, 0, 1, 0,    'd',  'a', 't', 'a'};
	for (int i = 0; i < 4; i++)
		file.push_back(static_cast<uint8_t>(codes.size() >> (8 * i)));
	file.insert(file.end(), codes.begin(), codes.end());
	for (int i = 0; i < 4; i++)
		file[4 + i] = static_cast<uint8_t>((file.size() - 8) >> (8 * i));
	std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
	media_format decoded;
	int64 frames = 0;
	EXPECT_EQ(HostSamples(path, &decoded, &frames), G723Reconstruction(samples));
	EXPECT_EQ(frames, 8000);  // 3000 bytes of 3-bit codes, told by the data rate
	unlink(path.c_str());
}

// Damaged coded WAV files are refused with a reason or read as far as they go; never a crash.
TEST(WavFiles, DamagedCodedWavHeaders)
{
	LoadAddOns();
	const std::string path = TempPath("g723-bad.wav");
	WriteG723(path, Signal(6000), 1);
	const std::vector<uint8_t> good = ReadAll(path);
	auto attempt = [&](std::vector<uint8_t> bytes) {
		std::ofstream(path, std::ios::binary)
		        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
		BMediaFile file(path.c_str());
		std::string text = file.ErrorText();
		// Whatever opens is read to its end or its first error.
		BMediaTrack* track = file.InitCheck() == B_OK ? file.TrackAt(0) : nullptr;
		media_format decoded;
		if (track && track->DecodedFormat(&decoded) == B_OK) {
			std::vector<int16_t> buffer(decoded.u.raw_audio.buffer_size / 2 + 8);
			int64 n = 0;
			while (track->ReadFrames(buffer.data(), &n) == B_OK) {}
		}
		return std::make_pair(file.InitCheck(), text);
	};
	std::vector<uint8_t> bytes = good;
	bytes[16] = 10;  // a format header of 10 bytes
	auto [status, text] = attempt(bytes);
	EXPECT_EQ(status, B_BAD_DATA);
	EXPECT_NE(text.find("'fmt ' chunk has 10 bytes"), std::string::npos) << text;
	bytes = good;
	bytes[22] = bytes[23] = 0;  // no channels
	std::tie(status, text) = attempt(bytes);
	EXPECT_EQ(status, B_BAD_DATA);
	EXPECT_NE(text.find("0 channels"), std::string::npos) << text;
	bytes = good;
	const size_t data =
	        std::search(bytes.begin(), bytes.end(), std::begin("data"), std::end("data") - 1) - bytes.begin();
	ASSERT_LT(data, bytes.size());
	memcpy(&bytes[data], "junk", 4);
	std::tie(status, text) = attempt(bytes);
	EXPECT_EQ(status, B_BAD_DATA);
	EXPECT_NE(text.find("no 'data' chunk"), std::string::npos) << text;
	// A file cut short reads what is there.
	bytes.assign(good.begin(), good.begin() + data + 8 + 500);
	std::tie(status, text) = attempt(bytes);
	EXPECT_EQ(status, B_OK) << text;
	// Every single-byte change of the header is survived.
	for (size_t at = 12; at < data + 8; at++) {
		for (uint8_t value : {0x00, 0x01, 0x7f, 0xff}) {
			bytes = good;
			bytes[at] = value;
			attempt(bytes);
		}
	}
	unlink(path.c_str());
}

TEST(WavFiles, RawPcmRoundTripsThroughWriterAndReader)
{
	LoadAddOns();
	const std::string path = TempPath("pcm.wav");
	const std::vector<int16_t> samples = Signal(2 * 30001);
	{
		const media_file_format mfi = WavFileFormat();
		BMediaFile file(path.c_str(), &mfi);
		ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
		media_format format = RawShort(22050, 2);
		BMediaTrack* track = file.CreateTrack(&format);
		ASSERT_NE(track, nullptr) << file.ErrorText();
		ASSERT_EQ(track->WriteFrames(samples.data(), 30001), B_OK) << track->ErrorText();
		ASSERT_EQ(file.CloseFile(), B_OK) << file.ErrorText();
	}
	const Riff riff = ParseWav(ReadAll(path));
	ASSERT_TRUE(riff.ok);
	EXPECT_EQ(riff.fmt.size(), 16u);
	EXPECT_EQ(riff.data.size(), samples.size() * 2);

	SF_INFO info;
	EXPECT_EQ(SndfileSamples(path, &info), samples);
	EXPECT_EQ(info.samplerate, 22050);
	EXPECT_EQ(info.channels, 2);

	media_format decoded;
	int64 frames = 0;
	EXPECT_EQ(HostSamples(path, &decoded, &frames), samples);
	EXPECT_EQ(frames, 30001);
	EXPECT_EQ(decoded.u.raw_audio.frame_rate, 22050.0f);
	EXPECT_EQ(decoded.u.raw_audio.channel_count, 2u);
	unlink(path.c_str());
}

TEST(WavFiles, TrackWithoutDataGivesAnEmptyDataChunk)
{
	LoadAddOns();
	const std::string path = TempPath("silent.wav");
	{
		const media_file_format mfi = WavFileFormat();
		BMediaFile file(path.c_str(), &mfi);
		media_format format = RawShort(8000, 1);
		ASSERT_NE(file.CreateTrack(&format), nullptr) << file.ErrorText();
		ASSERT_EQ(file.CloseFile(), B_OK) << file.ErrorText();
	}
	const Riff riff = ParseWav(ReadAll(path));
	ASSERT_TRUE(riff.ok);
	EXPECT_TRUE(riff.data.empty());
	SF_INFO info;
	EXPECT_TRUE(SndfileSamples(path, &info).empty());
	EXPECT_EQ(info.frames, 0);
	unlink(path.c_str());
}

TEST(WavFiles, OtherAudioFilesAreReadThroughLibsndfile)
{
	LoadAddOns();
	for (const char* extension : {"aiff", "flac", "au", "wav"}) {
		const std::string path = TempPath("tone.") + extension;
		std::string log;
		ASSERT_EQ(RunCommand(std::string(SOX_PROGRAM) + " -n -r 16000 -c 3 -b 16 " + path +
		                             " synth 1.37 sine 300 sine 500 sine 900",
		                     &log),
		          0)
		        << log;
		SF_INFO info;
		const std::vector<int16_t> want = SndfileSamples(path, &info);
		media_format decoded;
		int64 frames = 0;
		const std::vector<int16_t> got = HostSamples(path, &decoded, &frames);
		EXPECT_EQ(got.size(), want.size()) << extension;
		EXPECT_TRUE(got == want) << extension;
		EXPECT_EQ(frames, info.frames) << extension;
		EXPECT_EQ(decoded.u.raw_audio.channel_count, 3u) << extension;
		unlink(path.c_str());
	}
	// A file that is not audio is refused with a message.
	const std::string junk = TempPath("junk.wav");
	std::ofstream(junk) << "RIFF this is not really a wave file at all, just text";
	BMediaFile file(junk.c_str());
	EXPECT_NE(file.InitCheck(), B_OK);
	EXPECT_STRNE(file.ErrorText(), "");
	unlink(junk.c_str());
}

TEST(WavFiles, FlacAndAiffWrittenWithTheirTags)
{
	LoadAddOns();
	const std::vector<int16_t> samples = Signal(3 * 20011);
	const struct {
		media_format_family family;
		const char* name;
	} kinds[] = {{B_MISC_FORMAT_FAMILY, "flac"}, {B_AIFF_FORMAT_FAMILY, "aiff"}};
	for (const auto& kind : kinds) {
		const std::string path = TempPath("written.") + kind.name;
		{
			media_file_format mfi{};
			mfi.family = kind.family;
			strcpy(mfi.short_name, kind.name);
			BMediaFile file(path.c_str(), &mfi);
			ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
			BMessage tags;
			tags.AddString("title", "Evening Song");
			tags.AddString("artist", "Quillon");
			ASSERT_EQ(file.SetMetaData(&tags), B_OK);
			// Samples other than 16-bit, and more channels than FLAC carries, are refused.
			media_format wide = RawShort(32000, 9), floats = RawShort(32000, 3);
			floats.u.raw_audio.format = media_raw_audio_format::B_AUDIO_FLOAT;
			EXPECT_EQ(file.CreateTrack(&wide), nullptr) << kind.name;
			EXPECT_EQ(file.CreateTrack(&floats), nullptr) << kind.name;
			media_format format = RawShort(32000, 3);
			BMediaTrack* track = file.CreateTrack(&format);
			ASSERT_NE(track, nullptr) << file.ErrorText();
			ASSERT_EQ(track->WriteFrames(samples.data(), 7), B_OK) << track->ErrorText();
			ASSERT_EQ(track->WriteFrames(samples.data() + 21, 20004), B_OK) << track->ErrorText();
			ASSERT_EQ(file.CloseFile(), B_OK) << file.ErrorText();
		}
		// sox reads FLAC through libFLAC and AIFF by itself: every sample as written.
		const std::string raw = path + ".raw";
		std::string log;
		ASSERT_EQ(RunCommand(std::string(SOX_PROGRAM) + " " + path + " -t raw -e signed -b 16 -L " + raw, &log),
		          0)
		        << log;
		const std::vector<uint8_t> bytes = ReadAll(raw);
		ASSERT_EQ(bytes.size(), samples.size() * 2) << kind.name;
		EXPECT_EQ(memcmp(bytes.data(), samples.data(), bytes.size()), 0) << kind.name;

		BMediaFile file(path.c_str());
		ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
		BMessage tags;
		ASSERT_EQ(file.GetMetaData(&tags), B_OK);
		const char* text = nullptr;
		EXPECT_EQ(tags.FindString("title", &text), B_OK) << kind.name;
		EXPECT_STREQ(text, "Evening Song") << kind.name;
		EXPECT_EQ(tags.FindString("artist", &text), B_OK) << kind.name;
		EXPECT_STREQ(text, "Quillon") << kind.name;
		unlink(path.c_str());
		unlink(raw.c_str());
	}
	// The misc family without a name is still the Ogg Vorbis writer's, as before FLAC joined it.
	const std::string path = TempPath("misc.ogg");
	media_file_format mfi{};
	mfi.family = B_MISC_FORMAT_FAMILY;
	BMediaFile file(path.c_str(), &mfi);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	media_file_format chosen{};
	ASSERT_EQ(file.GetFileFormatInfo(&chosen), B_OK);
	EXPECT_STREQ(chosen.short_name, "vorbis");
	unlink(path.c_str());
}

}  // namespace
