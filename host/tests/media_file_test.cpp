// BMediaFile / BMediaTrack end to end with the test add-ons: QuickTime write then read through the
// test codec, key-frame seeking, raw PCM through an add-on writer and extractor and the pass-through
// decoder, and the refusals a caller sees.
#include <gtest/gtest.h>

#include "File.h"
#include "MediaFile.h"
#include "MediaFormats.h"
#include "MediaTrack.h"
#include "host_test_support.h"
#include "test_pcm_container.h"

namespace {

constexpr uint32 kWidth = 32, kHeight = 16;
constexpr int kFrames = 10;

// Writes kFrames test frames at 25 fps through the test encoder into `path`.
void WriteTestMovie(const std::string& path)
{
	LoadTestAddOns();
	media_file_format mfi = FileFormat(B_QUICKTIME_FORMAT_FAMILY, "quicktime");
	BMediaFile file(path.c_str(), &mfi);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	media_format format = RawVideo(kWidth, kHeight, 25);
	media_codec_info codec = TestCodec();
	BMediaTrack* track = file.CreateTrack(&format, &codec);
	ASSERT_NE(track, nullptr) << file.ErrorText();
	EXPECT_EQ(format.u.raw_video.display.bytes_per_row, kWidth * 4);
	encode_parameters p{};
	p.quality = 0.75f;
	EXPECT_EQ(track->SetEncodeParameters(&p), B_OK);
	EXPECT_EQ(file.AddCopyright("(c) test"), B_OK);
	ASSERT_EQ(file.CommitHeader(), B_OK) << file.ErrorText();
	// Frames 0-5 in one call, the rest one by one: key frames must follow the frame count only.
	std::vector<uint8> six;
	for (int i = 0; i < 6; i++) {
		std::vector<uint8> f = TestFrame(kWidth, kHeight, i);
		six.insert(six.end(), f.begin(), f.end());
	}
	ASSERT_EQ(track->WriteFrames(six.data(), 6), B_OK) << track->ErrorText();
	for (int i = 6; i < kFrames; i++)
		ASSERT_EQ(track->WriteFrames(TestFrame(kWidth, kHeight, i).data(), 1), B_OK);
	EXPECT_EQ(track->CountFrames(), kFrames);
	ASSERT_EQ(file.CloseFile(), B_OK) << file.ErrorText();
}

TEST(MediaFile, QuickTimeRoundTripThroughTestCodec)
{
	const std::string path = TestOutput("roundtrip.mov");
	WriteTestMovie(path);
	BMediaFile file(path.c_str());
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	media_file_format mfi;
	ASSERT_EQ(file.GetFileFormatInfo(&mfi), B_OK);
	EXPECT_EQ(mfi.family, B_QUICKTIME_FORMAT_FAMILY);
	ASSERT_EQ(file.CountTracks(), 1);
	BMediaTrack* track = file.TrackAt(0);
	ASSERT_NE(track, nullptr);
	ASSERT_EQ(track->InitCheck(), B_OK) << track->ErrorText();
	EXPECT_EQ(track->CountFrames(), kFrames);
	EXPECT_EQ(track->Duration(), 400000);
	media_codec_info codec;
	ASSERT_EQ(track->GetCodecInfo(&codec), B_OK);
	EXPECT_STREQ(codec.short_name, "testraw");

	media_format encoded;
	ASSERT_EQ(track->EncodedFormat(&encoded), B_OK);
	EXPECT_EQ(encoded.type, B_MEDIA_ENCODED_VIDEO);
	EXPECT_FLOAT_EQ(encoded.u.encoded_video.output.field_rate, 25.0f);
	EXPECT_EQ(encoded.u.encoded_video.output.display.line_width, kWidth);
	EXPECT_EQ(encoded.u.encoded_video.output.display.line_count, kHeight);

	// Rows padded to 200 bytes: the decoder must honour the stride it agreed.
	media_format decoded;
	decoded.type = B_MEDIA_RAW_VIDEO;
	decoded.u.raw_video.display.bytes_per_row = 200;
	ASSERT_EQ(track->DecodedFormat(&decoded), B_OK);
	ASSERT_EQ(decoded.u.raw_video.display.bytes_per_row, 200u);
	std::vector<uint8> buffer(200 * kHeight);
	for (int i = 0; i < kFrames; i++) {
		int64 frames = 0;
		media_header h;
		ASSERT_EQ(track->ReadFrames(buffer.data(), &frames, &h), B_OK) << i;
		EXPECT_EQ(frames, 1);
		EXPECT_EQ(h.start_time, i * 40000);
		EXPECT_EQ(h.u.encoded_video.field_flags & B_MEDIA_KEY_FRAME, i % 4 == 0 ? 1u : 0u) << i;
		std::vector<uint8> want = TestFrame(kWidth, kHeight, i);
		for (uint32 y = 0; y < kHeight; y++)
			ASSERT_EQ(memcmp(&buffer[y * 200], &want[y * kWidth * 4], kWidth * 4), 0) << i << " " << y;
	}
	int64 frames = 0;
	EXPECT_EQ(track->ReadFrames(buffer.data(), &frames), B_LAST_BUFFER_ERROR);
	EXPECT_EQ(track->CurrentFrame(), kFrames);
}

TEST(MediaFile, SeekingLandsOnKeyFrames)
{
	const std::string path = TestOutput("seek.mov");
	WriteTestMovie(path);
	BMediaFile file(path.c_str());
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	BMediaTrack* track = file.TrackAt(0);
	ASSERT_NE(track, nullptr);
	std::vector<uint8> buffer(kWidth * kHeight * 4);
	auto nextFrameIs = [&](int want) {
		int64 frames = 0;
		ASSERT_EQ(track->ReadFrames(buffer.data(), &frames), B_OK);
		EXPECT_EQ(buffer, TestFrame(kWidth, kHeight, want));
	};

	int64 frame = 6;
	ASSERT_EQ(track->SeekToFrame(&frame, B_MEDIA_SEEK_CLOSEST_BACKWARD), B_OK);
	EXPECT_EQ(frame, 4);
	EXPECT_EQ(track->CurrentFrame(), 4);
	nextFrameIs(4);
	nextFrameIs(5);

	frame = 8;  // a key frame itself
	ASSERT_EQ(track->SeekToFrame(&frame), B_OK);
	EXPECT_EQ(frame, 8);
	nextFrameIs(8);

	frame = 5;
	ASSERT_EQ(track->SeekToFrame(&frame, B_MEDIA_SEEK_CLOSEST_FORWARD), B_OK);
	EXPECT_EQ(frame, 8);

	frame = 9;  // no key frame after 9: forward falls back to the one before
	ASSERT_EQ(track->SeekToFrame(&frame, B_MEDIA_SEEK_CLOSEST_FORWARD), B_OK);
	EXPECT_EQ(frame, 8);

	bigtime_t time = 150000;  // inside frame 3
	ASSERT_EQ(track->SeekToTime(&time, B_MEDIA_SEEK_CLOSEST_BACKWARD), B_OK);
	EXPECT_EQ(time, 0);
	nextFrameIs(0);

	time = 10000000;  // past the end: the last key frame
	ASSERT_EQ(track->SeekToTime(&time), B_OK);
	EXPECT_EQ(time, 320000);

	// Chunks after a seek come as stored, with their key flags.
	frame = 3;
	ASSERT_EQ(track->SeekToFrame(&frame), B_OK);
	char* chunk;
	int32 size;
	media_header h;
	ASSERT_EQ(track->ReadChunk(&chunk, &size, &h), B_OK);
	EXPECT_EQ(size, (int32)(kWidth * kHeight * 4));
	EXPECT_EQ(h.u.encoded_video.field_flags, (uint32)B_MEDIA_KEY_FRAME);
	EXPECT_EQ(memcmp(chunk, TestFrame(kWidth, kHeight, 0).data(), size), 0);
}

TEST(MediaFile, PcmThroughAddOnWriterExtractorAndPassThrough)
{
	LoadTestAddOns();
	const std::string path = TestOutput("audio.tpcm");
	constexpr int kSamples = 3001;  // stereo frames; not a multiple of any chunk or buffer
	std::vector<int16> pcm(kSamples * 2);
	for (size_t i = 0; i < pcm.size(); i++)
		pcm[i] = (int16)(i * 977 - 20000);
	{
		media_file_format mfi = FileFormat(B_MISC_FORMAT_FAMILY, "testpcm");
		BMediaFile file(path.c_str(), &mfi);
		ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
		media_format f;
		f.type = B_MEDIA_RAW_AUDIO;
		f.u.raw_audio.frame_rate = 8000;
		f.u.raw_audio.channel_count = 2;
		f.u.raw_audio.format = media_raw_audio_format::B_AUDIO_SHORT;
		f.u.raw_audio.byte_order = B_MEDIA_LITTLE_ENDIAN;
		BMediaTrack* track = file.CreateTrack(&f);
		ASSERT_NE(track, nullptr) << file.ErrorText();
		ASSERT_EQ(track->WriteFrames(pcm.data(), 1000), B_OK);
		ASSERT_EQ(track->WriteFrames(pcm.data() + 2000, kSamples - 1000), B_OK);
		ASSERT_EQ(file.CloseFile(), B_OK);
	}
	BMediaFile file(path.c_str());
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	BMediaTrack* track = file.TrackAt(0);
	ASSERT_NE(track, nullptr);
	EXPECT_EQ(track->CountFrames(), kSamples);
	media_format out;
	ASSERT_EQ(track->DecodedFormat(&out), B_OK);
	ASSERT_EQ(out.type, B_MEDIA_RAW_AUDIO);
	EXPECT_EQ(out.u.raw_audio.channel_count, 2u);
	ASSERT_EQ(out.u.raw_audio.buffer_size, 4096u);
	media_codec_info codec;
	ASSERT_EQ(track->GetCodecInfo(&codec), B_OK);
	EXPECT_STREQ(codec.short_name, "raw");

	std::vector<int16> got;
	std::vector<int16> buffer(2048);
	for (;;) {
		int64 frames = 0;
		status_t s = track->ReadFrames(buffer.data(), &frames);
		if (s == B_LAST_BUFFER_ERROR)
			break;
		ASSERT_EQ(s, B_OK);
		ASSERT_GT(frames, 0);
		ASSERT_LE(frames, 1024);
		got.insert(got.end(), buffer.begin(), buffer.begin() + frames * 2);
	}
	EXPECT_EQ(got, pcm);

	int64 frame = 2500;
	ASSERT_EQ(track->SeekToFrame(&frame), B_OK);
	EXPECT_EQ(frame, 2500);
	int64 frames = 0;
	ASSERT_EQ(track->ReadFrames(buffer.data(), &frames), B_OK);
	ASSERT_EQ(frames, kSamples - 2500);
	EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + frames * 2, pcm.begin() + 5000));
}

TEST(MediaFile, RefusalsCarryAReason)
{
	LoadTestAddOns();
	BMediaFile missing(TestOutput("does-not-exist.mov").c_str());
	EXPECT_EQ(missing.InitCheck(), B_ENTRY_NOT_FOUND);
	EXPECT_NE(std::string(missing.ErrorText()).find("does-not-exist.mov"), std::string::npos);

	const std::string junk = TestOutput("junk.bin");
	{
		BFile f(junk.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
		ASSERT_EQ(f.Write("hello, not a movie", 18), 18);
	}
	BMediaFile unknown(junk.c_str());
	EXPECT_EQ(unknown.InitCheck(), B_MEDIA_BAD_FORMAT);
	EXPECT_NE(std::string(unknown.ErrorText()).find("no reader"), std::string::npos);

	media_file_format nothing = FileFormat(B_AVI_FORMAT_FAMILY, "avi");
	BMediaFile noWriter(TestOutput("x.avi").c_str(), &nothing);
	EXPECT_EQ(noWriter.InitCheck(), B_MEDIA_BAD_FORMAT);

	// Raw audio into QuickTime: no encoder of the test set writes it.
	media_file_format qt = FileFormat(B_QUICKTIME_FORMAT_FAMILY, "");
	BMediaFile movie(TestOutput("refuse.mov").c_str(), &qt);
	ASSERT_EQ(movie.InitCheck(), B_OK);
	media_format audio;
	audio.type = B_MEDIA_RAW_AUDIO;
	audio.u.raw_audio.channel_count = 1;
	audio.u.raw_audio.format = media_raw_audio_format::B_AUDIO_SHORT;
	EXPECT_EQ(movie.CreateTrack(&audio), nullptr);
	EXPECT_NE(std::string(movie.ErrorText()).find("no encoder"), std::string::npos);
	// Without a codec the first encoder that suits is chosen.
	media_format video = RawVideo(16, 16, 30);
	BMediaTrack* track = movie.CreateTrack(&video);
	ASSERT_NE(track, nullptr);
	media_codec_info codec;
	ASSERT_EQ(track->GetCodecInfo(&codec), B_OK);
	EXPECT_STREQ(codec.short_name, "testraw");
	EXPECT_EQ(track->ReadFrames(nullptr, nullptr), B_NOT_ALLOWED);
	ASSERT_EQ(movie.CommitHeader(), B_OK);
	EXPECT_EQ(movie.CreateTrack(&video), nullptr);  // too late
}

}  // namespace
