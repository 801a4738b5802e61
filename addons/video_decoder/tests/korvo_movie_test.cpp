// A Korvo movie end to end: a synthetic clip written through the host and the encoder add-on into a
// QuickTime file, read back through the host and the decoder add-on, with the core's own round trip
// as the reference, the file's key-frame table, seeking, and MediaInfo's reading of the file.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "MediaFile.h"
#include "MediaTrack.h"
#include "video_test_support.h"

using namespace video_test;

namespace {

constexpr uint32 kWidth = 96, kHeight = 64;
constexpr int kFrames = 80, kCut = 50;
constexpr float kRate = 25;

// One file per process, removed at exit: ctest runs each test in a process of its own, two at once.
std::string MoviePath()
{
	return std::string(KORVO_TEST_OUTPUT_DIR) + "/korvo_clip." + std::to_string(getpid()) + ".mov";
}

const std::vector<std::vector<uint8>>& Clip()
{
	static const std::vector<std::vector<uint8>> clip = [] {
		std::vector<std::vector<uint8>> frames;
		for (int i = 0; i < kFrames; i++)
			frames.push_back(ClipFrame(kWidth, kHeight, i, kCut));
		return frames;
	}();
	return clip;
}

const CoreRoundTrip& Reference()
{
	static const CoreRoundTrip reference(kWidth, kHeight, Clip());
	return reference;
}

// Writes the clip once per process through the host, finding the encoder by its codec info.
void WriteMovie()
{
	static bool written = false;
	if (written)
		return;
	written = true;
	static const struct Remover {
		~Remover() { std::remove(MoviePath().c_str()); }
	} remover;
	AddOnEntry("krv1.encoder.generic", "instantiate_encoder");
	media_file_format mfi{};
	mfi.family = B_QUICKTIME_FORMAT_FAMILY;
	strcpy(mfi.short_name, "quicktime");
	BMediaFile file(MoviePath().c_str(), &mfi);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	media_codec_info codec{};
	strcpy(codec.pretty_name, "Korvo Vela 3.5 - Full Motion Video Codec");
	strcpy(codec.short_name, "Korvo Vela 3.5");
	media_format format = RawVideo(kWidth, kHeight, kRate);
	BMediaTrack* track = file.CreateTrack(&format, &codec);
	ASSERT_NE(track, nullptr) << file.ErrorText();
	encode_parameters p{};
	ASSERT_EQ(track->GetEncodeParameters(&p), B_OK);
	EXPECT_FLOAT_EQ(p.quality, 0.85f);
	ASSERT_EQ(file.CommitHeader(), B_OK) << file.ErrorText();
	// The first frames in one call, the rest one at a time.
	std::vector<uint8> first;
	for (int i = 0; i < 5; i++)
		first.insert(first.end(), Clip()[i].begin(), Clip()[i].end());
	ASSERT_EQ(track->WriteFrames(first.data(), 5), B_OK) << track->ErrorText();
	for (int i = 5; i < kFrames; i++)
		ASSERT_EQ(track->WriteFrames(Clip()[i].data(), 1), B_OK) << track->ErrorText();
	ASSERT_EQ(file.CloseFile(), B_OK) << file.ErrorText();
}

class KorvoMovie : public testing::Test {
protected:
	void SetUp() override
	{
		WriteMovie();
		ASSERT_FALSE(HasFatalFailure());
		ASSERT_TRUE(Reference().intra[0]);
		ASSERT_TRUE(Reference().intra[kCut]) << "the scene cut must give the second I-VOP";
	}
};

TEST_F(KorvoMovie, ReadsBackTheCoresPicturesAndChunks)
{
	const CoreRoundTrip& core = Reference();
	BMediaFile file(MoviePath().c_str());
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	ASSERT_EQ(file.CountTracks(), 1);
	BMediaTrack* track = file.TrackAt(0);
	ASSERT_NE(track, nullptr);
	ASSERT_EQ(track->InitCheck(), B_OK) << track->ErrorText();
	EXPECT_EQ(track->CountFrames(), kFrames);
	EXPECT_EQ(track->Duration(), bigtime_t(kFrames) * 40000);
	media_codec_info codec;
	ASSERT_EQ(track->GetCodecInfo(&codec), B_OK);
	EXPECT_STREQ(codec.short_name, "Korvo Vela 3.5");  // the decoder add-on is decoding
	media_format encoded;
	ASSERT_EQ(track->EncodedFormat(&encoded), B_OK);
	EXPECT_EQ(encoded.u.encoded_video.output.display.line_width, kWidth);
	EXPECT_EQ(encoded.u.encoded_video.output.display.line_count, kHeight);

	media_format decoded;
	decoded.type = B_MEDIA_RAW_VIDEO;
	decoded.u.raw_video.display.format = B_RGBA32;
	ASSERT_EQ(track->DecodedFormat(&decoded), B_OK) << track->ErrorText();
	ASSERT_EQ(decoded.u.raw_video.display.format, B_RGBA32);
	ASSERT_EQ(decoded.u.raw_video.display.bytes_per_row, kWidth * 4);
	std::vector<uint8> picture(kWidth * kHeight * 4);
	for (int i = 0; i < kFrames; i++) {
		int64 count = 0;
		media_header h;
		ASSERT_EQ(track->ReadFrames(picture.data(), &count, &h), B_OK) << i;
		ASSERT_EQ(count, 1);
		EXPECT_EQ(h.start_time, bigtime_t(i) * 40000);
		EXPECT_EQ(h.size_used, core.chunks[i].size()) << i;
		EXPECT_EQ(h.u.encoded_video.field_flags & B_MEDIA_KEY_FRAME, core.intra[i] ? 1u : 0u) << i;
		ASSERT_EQ(picture, core.pictures[i]) << "frame " << i;
	}
	int64 count = 0;
	EXPECT_EQ(track->ReadFrames(picture.data(), &count), B_LAST_BUFFER_ERROR);

	BMediaFile chunks(MoviePath().c_str());
	BMediaTrack* raw = chunks.TrackAt(0);
	ASSERT_NE(raw, nullptr);
	for (int i = 0; i < kFrames; i++) {
		char* chunk;
		int32 size;
		ASSERT_EQ(raw->ReadChunk(&chunk, &size), B_OK) << i;
		ASSERT_EQ(std::vector<uint8>(chunk, chunk + size), core.chunks[i]) << "chunk " << i;
	}
}

uint32 BigEndian32(const std::string& b, size_t at)
{
	return uint32(uint8(b[at])) << 24 | uint32(uint8(b[at + 1])) << 16 | uint32(uint8(b[at + 2])) << 8 |
	       uint32(uint8(b[at + 3]));
}

TEST_F(KorvoMovie, KeyFrameTableListsExactlyTheIVops)
{
	std::ifstream in(MoviePath(), std::ios::binary);
	const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	const size_t stss = bytes.find("stss");
	ASSERT_NE(stss, std::string::npos);
	ASSERT_EQ(bytes.find("stss", stss + 4), std::string::npos) << "one track, one table";
	const uint32 boxSize = BigEndian32(bytes, stss - 4);
	const uint32 entries = BigEndian32(bytes, stss + 8);
	ASSERT_EQ(boxSize, 16 + 4 * entries);
	std::vector<uint32> listed, iVops;
	for (uint32 e = 0; e < entries; e++)
		listed.push_back(BigEndian32(bytes, stss + 12 + 4 * e));
	for (int i = 0; i < kFrames; i++)
		if (Reference().intra[i])
			iVops.push_back(uint32(i + 1));  // samples count from 1
	EXPECT_EQ(listed, iVops);
	EXPECT_EQ(iVops, (std::vector<uint32>{1, kCut + 1}));
}

TEST_F(KorvoMovie, SeekingStartsAtTheKeyFrameBefore)
{
	const CoreRoundTrip& core = Reference();
	BMediaFile file(MoviePath().c_str());
	BMediaTrack* track = file.TrackAt(0);
	ASSERT_NE(track, nullptr);
	media_format decoded;
	decoded.u.raw_video.display.format = B_RGBA32;
	ASSERT_EQ(track->DecodedFormat(&decoded), B_OK);
	std::vector<uint8> picture(kWidth * kHeight * 4);
	auto decodeTo = [&](int64 from, int64 to) {
		for (int64 i = from; i <= to; i++) {
			int64 count = 0;
			ASSERT_EQ(track->ReadFrames(picture.data(), &count), B_OK) << i;
			ASSERT_EQ(picture, core.pictures[i]) << "frame " << i;
		}
	};
	// Into the middle of the first scene, then back: decoding always restarts at an I-VOP.
	for (int64 wanted : {65, 30, 50, 79, 3}) {
		int64 frame = wanted;
		ASSERT_EQ(track->SeekToFrame(&frame), B_OK) << wanted;
		EXPECT_EQ(frame, wanted >= kCut ? kCut : 0) << wanted;
		EXPECT_EQ(track->CurrentFrame(), frame);
		decodeTo(frame, wanted);
	}
	bigtime_t time = 2500000;  // frame 62
	ASSERT_EQ(track->SeekToTime(&time), B_OK);
	EXPECT_EQ(time, bigtime_t(kCut) * 40000);
	decodeTo(kCut, 62);
	int64 frame = 10;
	ASSERT_EQ(track->SeekToFrame(&frame, B_MEDIA_SEEK_CLOSEST_FORWARD), B_OK);
	EXPECT_EQ(frame, kCut);
	decodeTo(kCut, kCut + 2);
}

// The value of "key" in MediaInfo's JSON object of @type `type` ("" if absent).
std::string MediaInfoField(const std::string& json, const std::string& type, const std::string& key)
{
	size_t at = json.find("\"@type\": \"" + type + "\"");
	if (at == std::string::npos)
		return "";
	const size_t end = json.find('}', at);
	size_t k = json.find("\"" + key + "\": \"", at);
	if (k == std::string::npos || k > end)
		return "";
	k += key.size() + 5;
	return json.substr(k, json.find('"', k) - k);
}

TEST_F(KorvoMovie, MediaInfoReadsTheFile)
{
	FILE* pipe = popen(("mediainfo --Output=JSON '" + MoviePath() + "' 2>/dev/null").c_str(), "r");
	ASSERT_NE(pipe, nullptr);
	std::string json;
	char buffer[4096];
	while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
		json.append(buffer, n);
	const int status = pclose(pipe);
	if (json.empty())
		GTEST_SKIP() << "mediainfo is not installed (status " << status << ")";
	EXPECT_EQ(MediaInfoField(json, "General", "Format_Profile"), "QuickTime");
	EXPECT_EQ(MediaInfoField(json, "General", "Copyright"), "Korvo codec");
	EXPECT_EQ(MediaInfoField(json, "Video", "CodecID"), "KRV1");
	EXPECT_EQ(MediaInfoField(json, "Video", "Width"), "96");
	EXPECT_EQ(MediaInfoField(json, "Video", "Height"), "64");
	EXPECT_EQ(MediaInfoField(json, "Video", "FrameCount"), "80");
	EXPECT_EQ(MediaInfoField(json, "Video", "FrameRate"), "25.000");
	EXPECT_EQ(MediaInfoField(json, "Video", "Duration"), "3.200");
}

}  // namespace
