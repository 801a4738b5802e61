// The OggAudioWriter add-on loaded through the host: which formats and tracks it takes, what it writes,
// and Ogg Vorbis files made by the encoder and writer add-ons checked with ogginfo and oggdec.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "File.h"
#include "MediaFile.h"
#include "MediaFormats.h"
#include "MediaTrack.h"
#include "MediaWriter.h"
#include "addon_test.h"

using addon_test::Entry;
using addon_test::LoadAddOns;
using addon_test::RunCommand;
using addon_test::TempPath;

namespace {

BPrivate::MediaWriter* NewWriter()
{
	auto instantiate = Entry<instantiate_mediawriter_func>("OggAudioWriter", "instantiate_mediawriter");
	return instantiate ? instantiate() : nullptr;
}

accepts_format_func Accepts() { return Entry<accepts_format_func>("OggAudioWriter", "accepts_format"); }

media_format VorbisFormat()
{
	media_format_description d;
	d.family = B_MISC_FORMAT_FAMILY;
	d.u.misc.file_format = 0x766f7262;
	d.u.misc.codec = 0x206f6767;
	media_format f;
	BMediaFormats formats;
	EXPECT_EQ(formats.GetFormatFor(d, &f), B_OK);
	return f;
}

media_file_format OggFileFormat()
{
	media_file_format mfi{};
	mfi.family = B_MISC_FORMAT_FAMILY;
	strcpy(mfi.short_name, "vorbis");
	return mfi;
}

media_codec_info VorbisCodec()
{
	media_codec_info info{};
	strcpy(info.pretty_name, "Ogg Vorbis Encoder by Quillon based on work by Xiph");
	strcpy(info.short_name, "Ogg Vorbis");
	return info;
}

media_format RawStereo()
{
	media_format f;
	f.type = B_MEDIA_RAW_AUDIO;
	f.u.raw_audio.frame_rate = 44100;
	f.u.raw_audio.channel_count = 2;
	f.u.raw_audio.format = media_raw_audio_format::B_AUDIO_SHORT;
	f.u.raw_audio.byte_order = B_MEDIA_LITTLE_ENDIAN;
	f.u.raw_audio.buffer_size = 4096;
	return f;
}

// A stream that cannot seek.
class Pipe : public BDataIO {
public:
	ssize_t Read(void*, size_t) override { return 0; }
	ssize_t Write(const void*, size_t size) override { return static_cast<ssize_t>(size); }
};

TEST(OggAudioWriter, InfoAndAcceptedFormats)
{
	auto info = Entry<get_mediawriter_info_func>("OggAudioWriter", "get_mediawriter_info");
	ASSERT_NE(info, nullptr);
	media_file_format mfi;
	ASSERT_EQ(info(&mfi), B_OK);
	EXPECT_EQ(mfi.capabilities, 269u);
	EXPECT_EQ(mfi.family, B_MISC_FORMAT_FAMILY);
	EXPECT_EQ(mfi.version, 1280);
	EXPECT_STREQ(mfi.mime_type, "audio/x-Vorbis");
	EXPECT_STREQ(mfi.pretty_name, "Ogg Vorbis File");
	EXPECT_STREQ(mfi.short_name, "vorbis");
	EXPECT_STREQ(mfi.file_extension, "ogg");

	accepts_format_func accepts = Accepts();
	ASSERT_NE(accepts, nullptr);
	const media_format vorbis = VorbisFormat();
	EXPECT_EQ(accepts(&vorbis), B_OK);
	const media_format raw = RawStereo();
	EXPECT_EQ(accepts(&raw), B_BAD_TYPE);
	media_format video = VorbisFormat();
	video.type = B_MEDIA_ENCODED_VIDEO;
	EXPECT_EQ(accepts(&video), B_BAD_TYPE);
	// Encoded audio with no Ogg description (the G.723 WAV format): the registry's answer.
	media_format_description wav;
	wav.family = B_WAV_FORMAT_FAMILY;
	wav.u.wav.codec = 0x7233;
	media_format g723;
	BMediaFormats formats;
	ASSERT_EQ(formats.GetFormatFor(wav, &g723), B_OK);
	EXPECT_EQ(accepts(&g723), B_MEDIA_BAD_FORMAT);
}

TEST(OggAudioWriter, SourceAndDataHandling)
{
	BPrivate::MediaWriter* w = NewWriter();
	ASSERT_NE(w, nullptr);
	const char page[] = "OggS page bytes";
	EXPECT_EQ(w->WriteData(0, B_MEDIA_ENCODED_AUDIO, page, sizeof page, nullptr), B_NO_INIT);
	Pipe pipe;
	EXPECT_EQ(w->SetSource(&pipe), B_BAD_TYPE);
	EXPECT_EQ(w->WriteData(0, B_MEDIA_ENCODED_AUDIO, page, sizeof page, nullptr), B_NO_INIT);

	BMallocIO out;
	ASSERT_EQ(w->SetSource(&out), B_OK);
	EXPECT_EQ(w->AddCopyright("(c)"), B_OK);
	EXPECT_EQ(w->AddTrackInfo(0, 0, page, 4), B_OK);
	EXPECT_EQ(w->AddChunk(0, page, 4), B_ERROR);
	EXPECT_EQ(w->CommitHeader(), B_OK);
	EXPECT_EQ(out.BufferLength(), 0u);
	ASSERT_EQ(w->WriteData(0, B_MEDIA_ENCODED_AUDIO, page, 4, nullptr), B_OK);
	ASSERT_EQ(w->WriteData(0, B_MEDIA_ENCODED_AUDIO, page + 4, sizeof page - 4, nullptr), B_OK);
	EXPECT_EQ(w->CloseFile(), B_OK);
	ASSERT_EQ(out.BufferLength(), sizeof page);
	EXPECT_EQ(memcmp(out.Buffer(), page, sizeof page), 0);
	delete w;

	// Set up and closed without data: nothing at all is written.
	w = NewWriter();
	BMallocIO empty;
	ASSERT_EQ(w->SetSource(&empty), B_OK);
	EXPECT_EQ(w->CommitHeader(), B_OK);
	EXPECT_EQ(w->CloseFile(), B_OK);
	EXPECT_EQ(empty.BufferLength(), 0u);
	delete w;
}

TEST(OggAudioWriter, FileWithoutTracksIsEmpty)
{
	LoadAddOns();
	const std::string path = TempPath("empty.ogg");
	{
		const media_file_format mfi = OggFileFormat();
		BMediaFile file(path.c_str(), &mfi);
		ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
		EXPECT_EQ(file.CloseFile(), B_OK);
	}
	struct stat st;
	ASSERT_EQ(stat(path.c_str(), &st), 0);
	EXPECT_EQ(st.st_size, 0);
	unlink(path.c_str());
}

TEST(OggAudioWriter, SecondTrackIsRefused)
{
	LoadAddOns();
	BMallocIO out;
	const media_file_format mfi = OggFileFormat();
	BMediaFile file(&out, &mfi);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	const media_codec_info codec = VorbisCodec();
	media_format first = RawStereo(), second = RawStereo();
	ASSERT_NE(file.CreateTrack(&first, &codec), nullptr) << file.ErrorText();
	EXPECT_EQ(file.CreateTrack(&second, &codec), nullptr);
	EXPECT_NE(strstr(file.ErrorText(), status_text(B_BAD_INDEX)), nullptr) << file.ErrorText();
}

TEST(OggAudioWriter, RawAudioTrackIsRefusedAndVorbisTrackTaken)
{
	LoadAddOns();
	// Tracks to offer: a raw PCM track read from a WAV file, and a Vorbis track read from an Ogg file
	// the add-ons made.
	const std::string wav = TempPath("raw.wav"), ogg = TempPath("track.ogg");
	const std::vector<int16_t> pcm(2 * 5000, 1000);
	for (const std::string* path : {&wav, &ogg}) {
		media_file_format mfi{};
		if (path == &wav) {
			mfi.family = B_WAV_FORMAT_FAMILY;
		} else {
			mfi = OggFileFormat();
		}
		BMediaFile file(path->c_str(), &mfi);
		ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
		media_format format = RawStereo();
		const media_codec_info codec = VorbisCodec();
		BMediaTrack* track = file.CreateTrack(&format, path == &ogg ? &codec : nullptr);
		ASSERT_NE(track, nullptr) << file.ErrorText();
		ASSERT_EQ(track->WriteFrames(pcm.data(), 5000), B_OK);
		ASSERT_EQ(file.CloseFile(), B_OK) << file.ErrorText();
	}
	BMediaFile rawFile(wav.c_str()), vorbisFile(ogg.c_str());
	ASSERT_EQ(rawFile.InitCheck(), B_OK) << rawFile.ErrorText();
	ASSERT_EQ(vorbisFile.InitCheck(), B_OK) << vorbisFile.ErrorText();
	BMediaTrack* raw = rawFile.TrackAt(0);
	BMediaTrack* vorbis = vorbisFile.TrackAt(0);
	ASSERT_NE(raw, nullptr);
	ASSERT_NE(vorbis, nullptr);
	media_format f;
	ASSERT_EQ(raw->EncodedFormat(&f), B_OK);
	EXPECT_EQ(f.type, B_MEDIA_RAW_AUDIO);

	BPrivate::MediaWriter* w = NewWriter();
	ASSERT_NE(w, nullptr);
	BMallocIO out;
	ASSERT_EQ(w->SetSource(&out), B_OK);
	EXPECT_EQ(w->AddTrack(raw), B_BAD_TYPE);
	EXPECT_EQ(w->AddTrack(vorbis), B_OK);
	EXPECT_EQ(w->AddTrack(vorbis), B_BAD_INDEX);
	delete w;
	unlink(wav.c_str());
	unlink(ogg.c_str());
}

TEST(OggAudioWriter, EncodedFilePassesOgginfoAndDecodes)
{
	LoadAddOns();
	const std::string path = TempPath("sine.ogg");
	const int64 frames = 5 * 44100 + 123;
	{
		const media_file_format mfi = OggFileFormat();
		BMediaFile file(path.c_str(), &mfi);
		ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
		const media_codec_info codec = VorbisCodec();
		media_format format = RawStereo();
		BMediaTrack* track = file.CreateTrack(&format, &codec);
		ASSERT_NE(track, nullptr) << file.ErrorText();
		ASSERT_EQ(file.CommitHeader(), B_OK) << file.ErrorText();
		std::vector<int16_t> pcm;
		for (int64 i = 0; i < frames; i++) {
			pcm.push_back(static_cast<int16_t>(10000 * std::sin(2 * M_PI * 440 * i / 44100.0)));
			pcm.push_back(static_cast<int16_t>(7000 * std::sin(2 * M_PI * 660 * i / 44100.0)));
		}
		// Uneven buffers, one of them empty.
		int64 done = 0;
		for (int32 n : {0, 1, 1000, 4096, 44100}) {
			ASSERT_EQ(track->WriteFrames(pcm.data() + 2 * done, n), B_OK) << track->ErrorText();
			done += n;
		}
		while (done < frames) {
			const int32 n = static_cast<int32>(std::min<int64>(8192, frames - done));
			ASSERT_EQ(track->WriteFrames(pcm.data() + 2 * done, n), B_OK) << track->ErrorText();
			done += n;
		}
		ASSERT_EQ(file.CloseFile(), B_OK) << file.ErrorText();
	}

	std::string info;
	EXPECT_EQ(RunCommand(std::string(OGGINFO_PROGRAM) + " " + path, &info), 0) << info;
	printf("%s", info.c_str());
	EXPECT_EQ(info.find("WARNING"), std::string::npos) << info;
	EXPECT_EQ(info.find("Warning"), std::string::npos) << info;
	EXPECT_EQ(info.find("ERROR"), std::string::npos) << info;
	EXPECT_EQ(info.find("Error"), std::string::npos) << info;
	EXPECT_NE(info.find("ENCODER=BeOS Vorbis Encoder Beta"), std::string::npos) << info;

	// oggdec writes raw little-endian 16-bit PCM with -R: exactly the frames that went in.
	const std::string raw = path + ".raw";
	std::string decodeOutput;
	ASSERT_EQ(RunCommand(std::string(OGGDEC_PROGRAM) + " -R -o " + raw + " " + path, &decodeOutput), 0)
	        << decodeOutput;
	struct stat st;
	ASSERT_EQ(stat(raw.c_str(), &st), 0);
	EXPECT_EQ(st.st_size, frames * 4);
	unlink(raw.c_str());
	unlink(path.c_str());
}

}  // namespace
