// KorvexDecoder through the add-on's entry points: format sniffing and negotiation, decoding chunks
// of the core's own encoder to the core's pictures, seeking arithmetic and the statistics it prints.
#include <algorithm>
#include <cmath>
#include <memory>

#include "ParameterWeb.h"

#include "video_test_support.h"

using namespace video_test;

namespace {

constexpr uint32 kWidth = 96, kHeight = 64;

std::unique_ptr<BPrivate::Decoder> SniffedDecoder(float rate = 25, uint32 width = kWidth,
                                                  uint32 height = kHeight)
{
	std::unique_ptr<BPrivate::Decoder> d(NewDecoder());
	EXPECT_NE(d, nullptr);
	if (!d)
		return d;
	media_format f = EncodedKorvo(width, height, rate);
	EXPECT_EQ(d->Sniff(&f, nullptr, 0), B_OK);
	return d;
}

TEST(KorvexDecoder, SniffSaysWhyItRefuses)
{
	std::unique_ptr<BPrivate::Decoder> d(NewDecoder());
	ASSERT_NE(d, nullptr);
	media_codec_info info;
	ASSERT_EQ(d->GetCodecInfo(&info), B_OK);
	EXPECT_STREQ(info.pretty_name, "Korvo Vela 3.5 - Full Motion Video Codec");
	EXPECT_STREQ(info.short_name, "Korvo Vela 3.5");

	media_format raw = RawVideo(kWidth, kHeight, 25);
	{
		StdoutCapture out;
		EXPECT_EQ(d->Sniff(&raw, nullptr, 0), B_BAD_TYPE);
		EXPECT_EQ(out.Text(), "Sniffer Called\nNot Media Encoded Video\n");
	}
	media_format none = EncodedKorvo(kWidth, kHeight, 25);
	none.u.encoded_video.encoding = 0;
	{
		StdoutCapture out;
		EXPECT_EQ(d->Sniff(&none, nullptr, 0), B_BAD_TYPE);
		EXPECT_EQ(out.Text(), "Sniffer Called\nIsA Media Encoded Video with no Encoding\n");
	}
	media_format other = EncodedKorvo(kWidth, kHeight, 25);
	other.u.encoded_video.encoding += 1000;
	{
		StdoutCapture out;
		EXPECT_EQ(d->Sniff(&other, nullptr, 0), B_BAD_TYPE);
		EXPECT_EQ(out.Text(),
		          "Sniffer Called\nIsA Media Encoded Video that is Encoded with an unknown (to me) "
		          "encoding\n");
	}
	// Refused formats leave no context: nothing can be negotiated or decoded.
	media_format proposal;
	EXPECT_EQ(d->Format(&proposal), B_NO_INIT);
	int64 frames = -1;
	media_header h;
	std::vector<uint8> buffer(kWidth * kHeight * 4);
	EXPECT_EQ(d->Decode(buffer.data(), &frames, &h, nullptr), B_NO_INIT);

	media_format korvo = EncodedKorvo(kWidth, kHeight, 25);
	{
		StdoutCapture out;
		EXPECT_EQ(d->Sniff(&korvo, nullptr, 0), B_OK);
		EXPECT_EQ(out.Text(), "Sniffer Called\nIsA Media Encoded Video that is Encoded with a Korvo "
		                      "encoding\nWidth:Height:FrameRate 96:64:25.000000 \n");
	}
	// A second format replaces the first context (ASan sees a leak otherwise); one the core cannot
	// hold is refused as an allocation failure and leaves the decoder without a context.
	media_format huge = EncodedKorvo(20000, 20000, 25);
	EXPECT_EQ(d->Sniff(&korvo, nullptr, 0), B_OK);
	EXPECT_EQ(d->Sniff(&huge, nullptr, 0), B_NO_MEMORY);
	EXPECT_EQ(d->Format(&proposal), B_NO_INIT);
}

TEST(KorvexDecoder, FormatAnswersColourSpaceAndWholeRows)
{
	std::unique_ptr<BPrivate::Decoder> d = SniffedDecoder(29.97f);
	ASSERT_NE(d, nullptr);
	media_format f;
	f.type = B_MEDIA_RAW_VIDEO;
	f.require_flags = 7;
	f.u.raw_video.display.format = B_RGB32;
	f.u.raw_video.first_active = 3;
	{
		StdoutCapture out;
		ASSERT_EQ(d->Format(&f), B_OK);
		EXPECT_EQ(out.Text(), "Format Called\n");
	}
	EXPECT_EQ(f.type, B_MEDIA_RAW_VIDEO);
	EXPECT_EQ(f.deny_flags, 0xFFF2u);
	EXPECT_EQ(f.require_flags, 0u);
	const media_raw_video_format& v = f.u.raw_video;
	EXPECT_EQ(v.display.format, B_RGBA32);
	EXPECT_EQ(v.display.line_width, kWidth);
	EXPECT_EQ(v.display.line_count, kHeight);
	EXPECT_EQ(v.display.bytes_per_row, kWidth * 4);  // 0 proposed
	EXPECT_EQ(v.last_active, kHeight - 1);
	EXPECT_EQ(v.first_active, 3u);
	EXPECT_EQ(v.orientation, (uint32)B_VIDEO_TOP_LEFT_RIGHT);
	EXPECT_FLOAT_EQ(v.field_rate, 29.97f);
	EXPECT_EQ(v.interlace, 1u);

	f.u.raw_video.display.format = B_RGBA32;
	f.u.raw_video.display.bytes_per_row = 500;  // longer rows than needed stay
	{
		StdoutCapture out;
		ASSERT_EQ(d->Format(&f), B_OK);
		EXPECT_EQ(out.Text(), "Format Called\nApplication asked for RGBA32\n");
	}
	EXPECT_EQ(f.u.raw_video.display.bytes_per_row, 500u);

	f.u.raw_video.display.format = B_YCbCr422;
	f.u.raw_video.display.bytes_per_row = 100;  // shorter than a 4:2:2 row of 96 pixels
	{
		StdoutCapture out;
		ASSERT_EQ(d->Format(&f), B_OK);
		EXPECT_EQ(out.Text(), "Format Called\nApplication asked for Ybr422\n");
	}
	EXPECT_EQ(f.u.raw_video.display.format, B_YCbCr422);
	EXPECT_EQ(f.u.raw_video.display.bytes_per_row, kWidth * 2);

	// 16383 bytes is the longest row the core can address.
	f.u.raw_video.display.format = B_RGBA32;
	f.u.raw_video.display.bytes_per_row = 16383;
	EXPECT_EQ(d->Format(&f), B_OK);
	f.u.raw_video.display.bytes_per_row = 16384;
	EXPECT_EQ(d->Format(&f), B_BAD_VALUE);
	std::unique_ptr<BPrivate::Decoder> wide = SniffedDecoder(25, 4096, 16);
	ASSERT_NE(wide, nullptr);
	media_format w;
	w.u.raw_video.display.format = B_RGBA32;
	EXPECT_EQ(wide->Format(&w), B_BAD_VALUE);  // 16384 bytes per row
	w.u.raw_video.display.format = B_YCbCr422;
	w.u.raw_video.display.bytes_per_row = 0;
	EXPECT_EQ(wide->Format(&w), B_OK);
	EXPECT_EQ(w.u.raw_video.display.bytes_per_row, 8192u);
}

TEST(KorvexDecoder, DecodesTheCoreStreamIntoStridedRows)
{
	std::vector<std::vector<uint8>> clip;
	for (int i = 0; i < 12; i++)
		clip.push_back(ClipFrame(kWidth, kHeight, i));
	CoreRoundTrip core(kWidth, kHeight, clip);
	ASSERT_EQ(core.chunks.size(), clip.size());

	std::unique_ptr<BPrivate::Decoder> d = SniffedDecoder();
	ASSERT_NE(d, nullptr);
	ChunkQueue queue;
	queue.chunks = core.chunks;
	std::vector<uint8> noStartCode(64, 0x55);
	queue.chunks.push_back(noStartCode);
	d->SetChunkProvider(&queue);
	media_format f;
	f.u.raw_video.display.format = B_RGBA32;
	f.u.raw_video.display.bytes_per_row = 400;
	ASSERT_EQ(d->Format(&f), B_OK);

	std::vector<uint8> buffer(400 * kHeight, 0xEE);
	for (size_t i = 0; i < core.chunks.size(); i++) {
		int64 frames = 0;
		media_header h;
		ASSERT_EQ(d->Decode(buffer.data(), &frames, &h, nullptr), B_OK) << i;
		EXPECT_EQ(frames, 1);
		EXPECT_EQ(h.size_used, core.chunks[i].size()) << i;
		EXPECT_EQ(h.start_time, bigtime_t(i) * 40000);
		for (uint32 y = 0; y < kHeight; y++) {
			ASSERT_EQ(memcmp(&buffer[y * 400], &core.pictures[i][y * kWidth * 4], kWidth * 4), 0)
			        << i << " " << y;
			ASSERT_EQ(buffer[y * 400 + kWidth * 4], 0xEE) << "wrote past the row";
		}
	}
	// A chunk without a start code is a frame that leaves the picture and reads nothing.
	const std::vector<uint8> before = buffer;
	int64 frames = 0;
	media_header h;
	ASSERT_EQ(d->Decode(buffer.data(), &frames, &h, nullptr), B_OK);
	EXPECT_EQ(frames, 1);
	EXPECT_EQ(h.size_used, 0u);
	EXPECT_EQ(buffer, before);
	StdoutCapture out;
	EXPECT_EQ(d->Decode(buffer.data(), &frames, &h, nullptr), B_LAST_BUFFER_ERROR);
	EXPECT_EQ(out.Text(), "Korvodecoder: GetNextChunk failed, Last buffer\n");
}

// The decoder's web offers a thread count (id 12), kept for the context Sniff makes; with three
// threads the pictures are the core's from one, and counts outside 0..32 are refused.
TEST(KorvexDecoder, ThreadsChangeNoPicture)
{
	std::vector<std::vector<uint8>> clip;
	for (int i = 0; i < 10; i++)
		clip.push_back(ClipFrame(kWidth, kHeight, i, 6));
	CoreRoundTrip core(kWidth, kHeight, clip);

	std::unique_ptr<BPrivate::Decoder> d(NewDecoder());
	ASSERT_NE(d, nullptr);
	BParameterWeb* web = d->Web();
	ASSERT_NE(web, nullptr);
	ASSERT_EQ(web->CountParameters(), 1);
	auto* threads = dynamic_cast<BContinuousParameter*>(web->ParameterAt(0));
	ASSERT_NE(threads, nullptr);
	EXPECT_EQ(threads->ID(), 12);
	EXPECT_STREQ(threads->Name(), "Threads");
	EXPECT_EQ(threads->MaxValue(), 32.0f);
	const float three = 3;
	ASSERT_EQ(d->SetParameterValue(12, &three, sizeof three), B_OK);
	for (float bad : {-1.0f, 40.0f, std::nanf("")})
		EXPECT_EQ(d->SetParameterValue(12, &bad, sizeof bad), B_BAD_VALUE) << bad;
	EXPECT_EQ(d->SetParameterValue(4, &three, sizeof three), B_BAD_VALUE);
	float value = -1;
	size_t size = sizeof value;
	ASSERT_EQ(d->GetParameterValue(12, &value, &size), B_OK);
	EXPECT_EQ(value, 3.0f);

	media_format f = EncodedKorvo(kWidth, kHeight, 25);
	ASSERT_EQ(d->Sniff(&f, nullptr, 0), B_OK);
	ChunkQueue queue;
	queue.chunks = core.chunks;
	d->SetChunkProvider(&queue);
	f.u.raw_video.display.format = B_RGBA32;
	f.u.raw_video.display.bytes_per_row = kWidth * 4;
	ASSERT_EQ(d->Format(&f), B_OK);
	std::vector<uint8> buffer(kWidth * 4 * kHeight);
	for (size_t i = 0; i < core.chunks.size(); i++) {
		int64 frames = 0;
		media_header h;
		ASSERT_EQ(d->Decode(buffer.data(), &frames, &h, nullptr), B_OK) << i;
		EXPECT_EQ(buffer, core.pictures[i]) << "frame " << i;
	}
}

TEST(KorvexDecoder, YCbCr422OutputAndDamagedChunks)
{
	std::vector<std::vector<uint8>> clip;
	for (int i = 0; i < 4; i++)
		clip.push_back(ClipFrame(kWidth, kHeight, i));
	CoreRoundTrip core(kWidth, kHeight, clip);

	// The core's own 4:2:2 output of the same stream.
	ASSERT_EQ(InitKorvax(), 0);
	KorvParams* reference = NewKorvParamsPtr(2, kWidth, kHeight);
	ASSERT_NE(reference, nullptr);
	reference->pixelFormat = kPixelFormatYUVS;
	reference->pixMap->rowBytes = kWidth * 2;
	std::vector<std::vector<uint8>> yuv;
	for (const std::vector<uint8>& chunk : core.chunks) {
		yuv.emplace_back(kWidth * kHeight * 2);
		reference->stream = const_cast<uint8*>(chunk.data());
		reference->streamSize = uint32_t(chunk.size());
		reference->fullRefresh = 1;
		reference->pixMap->baseAddr = yuv.back().data();
		ASSERT_EQ(DecompressPixMap(reference), 0);
	}
	DisposeKorvParamsPtr(reference);
	TerminateKorvax();

	std::unique_ptr<BPrivate::Decoder> d = SniffedDecoder();
	ASSERT_NE(d, nullptr);
	ChunkQueue queue;
	queue.chunks = core.chunks;
	// An I-VOP whose second half repeats 00000001, which no macroblock type starts with.
	std::vector<uint8> damaged = core.chunks[0];
	for (size_t i = damaged.size() / 2; i < damaged.size(); i++)
		damaged[i] = 0x01;
	queue.chunks.insert(queue.chunks.begin() + 2, damaged);
	d->SetChunkProvider(&queue);
	media_format f;
	f.u.raw_video.display.format = B_YCbCr422;
	ASSERT_EQ(d->Format(&f), B_OK);
	std::vector<uint8> buffer(kWidth * kHeight * 2);
	int64 frames = 0;
	media_header h;
	for (size_t i = 0; i < 2; i++) {
		ASSERT_EQ(d->Decode(buffer.data(), &frames, &h, nullptr), B_OK) << i;
		ASSERT_EQ(buffer, yuv[i]) << "frame " << i;
	}
	// The core ends a VOP at its first undecodable macroblock, so the damage is a picture, not an
	// error, and never a read past the chunk.
	ASSERT_EQ(d->Decode(buffer.data(), &frames, &h, nullptr), B_OK);
	EXPECT_EQ(frames, 1);
	EXPECT_LE(h.size_used, damaged.size());
	// The next chunks predict from the damaged picture, which only the next I-VOP repairs, but
	// they decode within bounds.
	for (size_t i = 2; i < yuv.size(); i++)
		EXPECT_EQ(d->Decode(buffer.data(), &frames, &h, nullptr), B_OK) << i;
}

// Asked for planar 4:2:0, the decoder writes the core's planes as they are; pictures of odd sizes
// have no planar form and come as 32-bit pixels.
TEST(KorvexDecoder, YUV420OutputIsTheCoresPlanes)
{
	std::vector<std::vector<uint8>> clip;
	for (int i = 0; i < 4; i++)
		clip.push_back(ClipFrameYUV420(kWidth, kHeight, i));
	CoreRoundTrip core(kWidth, kHeight, clip, kPixelFormatYUV420Planar);
	const size_t frameBytes = kWidth * kHeight * 3 / 2;

	ASSERT_EQ(InitKorvax(), 0);
	KorvParams* reference = NewKorvParamsPtr(2, kWidth, kHeight);
	ASSERT_NE(reference, nullptr);
	reference->pixelFormat = kPixelFormatYUV420Planar;
	reference->pixMap->rowBytes = kWidth;
	std::vector<std::vector<uint8>> planes;
	for (const std::vector<uint8>& chunk : core.chunks) {
		planes.emplace_back(frameBytes);
		reference->stream = const_cast<uint8*>(chunk.data());
		reference->streamSize = uint32_t(chunk.size());
		reference->fullRefresh = 1;
		reference->pixMap->baseAddr = planes.back().data();
		ASSERT_EQ(DecompressPixMap(reference), 0);
	}
	DisposeKorvParamsPtr(reference);
	TerminateKorvax();

	std::unique_ptr<BPrivate::Decoder> d = SniffedDecoder();
	ASSERT_NE(d, nullptr);
	ChunkQueue queue;
	queue.chunks = core.chunks;
	d->SetChunkProvider(&queue);
	media_format f;
	f.u.raw_video.display.format = B_YUV420;
	{
		StdoutCapture out;
		ASSERT_EQ(d->Format(&f), B_OK);
		EXPECT_EQ(out.Text(), "Format Called\nApplication asked for YUV420\n");
	}
	EXPECT_EQ(f.u.raw_video.display.format, B_YUV420);
	EXPECT_EQ(f.u.raw_video.display.bytes_per_row, kWidth);
	// A guard after the frame: nothing is written past the two chroma planes.
	std::vector<uint8> buffer(frameBytes + 64, 0xA5);
	int64 frames = 0;
	media_header h;
	for (size_t i = 0; i < planes.size(); i++) {
		ASSERT_EQ(d->Decode(buffer.data(), &frames, &h, nullptr), B_OK) << i;
		EXPECT_TRUE(std::equal(planes[i].begin(), planes[i].end(), buffer.begin())) << "frame " << i;
		EXPECT_EQ(buffer[frameBytes], 0xA5);
	}
	// The decoded luminance is the source's, near enough: the planes are not shuffled.
	double se = 0;
	for (size_t i = 0; i < size_t{kWidth} * kHeight; i++)
		se += (double(planes[0][i]) - clip[0][i]) * (double(planes[0][i]) - clip[0][i]);
	EXPECT_LT(se / (kWidth * kHeight), 30.0);

	for (auto [w, h] : {std::pair{kWidth + 1, kHeight}, std::pair{kWidth, kHeight + 1}}) {
		std::unique_ptr<BPrivate::Decoder> odd = SniffedDecoder(25, w, h);
		ASSERT_NE(odd, nullptr);
		media_format g;
		g.u.raw_video.display.format = B_YUV420;
		ASSERT_EQ(odd->Format(&g), B_OK);
		EXPECT_EQ(g.u.raw_video.display.format, B_RGBA32) << w << "x" << h;
	}
}

TEST(KorvexDecoder, ResetMovesForwardOnly)
{
	std::unique_ptr<BPrivate::Decoder> d = SniffedDecoder(25);
	ASSERT_NE(d, nullptr);
	int64 frame = 100;
	bigtime_t time = 4000000;
	{
		StdoutCapture out;
		ASSERT_EQ(d->Reset(B_SEEK_BY_FRAME, 40, &frame, 0, &time), B_OK);
		EXPECT_EQ(out.Text(), "KORVEXDecoder::Reset Current Frame 0 inout frame 100 Required Frame 40\n"
		                      "Seek by Frame Skipping 1 Frames\n");
	}
	EXPECT_EQ(frame, 101);
	EXPECT_EQ(time, 4040000);

	std::unique_ptr<BPrivate::Decoder> byTime = SniffedDecoder(25);
	ASSERT_NE(byTime, nullptr);
	frame = 0;
	time = 0;
	{
		StdoutCapture out;
		ASSERT_EQ(byTime->Reset(B_SEEK_BY_TIME, 0, &frame, 1900000, &time), B_OK);
		EXPECT_EQ(out.Text(), "KORVEXDecoder::Reset Current Frame 0 inout time  0 Required Time  1900000\n"
		                      "Seek by time Skipping 25 Frames\n");
	}
	EXPECT_EQ(frame, 25);
	EXPECT_EQ(time, 1000000);

	frame = 7;
	{
		StdoutCapture out;
		EXPECT_EQ(d->Reset(3, 0, &frame, 0, &time), B_BAD_VALUE);
		EXPECT_EQ(out.Text(), "");
	}
	EXPECT_EQ(frame, 7);

	// A track without a field rate moves by frames and keeps its time.
	std::unique_ptr<BPrivate::Decoder> still = SniffedDecoder(0);
	ASSERT_NE(still, nullptr);
	frame = 5;
	time = 123;
	ASSERT_EQ(still->Reset(B_SEEK_BY_FRAME, 9, &frame, 0, &time), B_OK);
	EXPECT_EQ(frame, 9);
	EXPECT_EQ(time, 123);
	// Hostile positions saturate instead of overflowing (UBSan watches).
	frame = -10;
	ASSERT_EQ(still->Reset(B_SEEK_BY_FRAME, INT64_MAX, &frame, 0, &time), B_OK);
	EXPECT_EQ(frame, INT64_MAX - 10);
	ASSERT_EQ(d->Reset(B_SEEK_BY_TIME, 0, &frame, INT64_MAX, &time), B_OK);
	EXPECT_GT(time, INT64_MAX - 1000000);  // whole seconds only, never wrapped
}

// Decodes `count` frames of a fresh decoder and returns what its destruction prints.
std::string StatisticsAfter(int count, bool seekToStart = false)
{
	std::vector<std::vector<uint8>> frames;
	for (int i = 0; i < count; i++)
		frames.push_back(ClipFrame(kWidth, kHeight, i));
	CoreRoundTrip core(kWidth, kHeight, frames);
	std::unique_ptr<BPrivate::Decoder> d = SniffedDecoder(25);
	ChunkQueue queue;
	queue.chunks = core.chunks;
	d->SetChunkProvider(&queue);
	media_format f;
	EXPECT_EQ(d->Format(&f), B_OK);
	std::vector<uint8> buffer(kWidth * kHeight * 4);
	for (int i = 0; i < count; i++) {
		int64 n;
		media_header h;
		EXPECT_EQ(d->Decode(buffer.data(), &n, &h, nullptr), B_OK);
	}
	StdoutCapture out;
	if (seekToStart) {
		int64 frame = 0;
		bigtime_t time = 0;
		d->Reset(B_SEEK_BY_FRAME, 0, &frame, 0, &time);
	}
	d.reset();
	return out.Text();
}

TEST(KorvexDecoder, StatisticsFromElevenFramesOn)
{
	EXPECT_EQ(StatisticsAfter(10), "Terminating Korvex\n");
	const std::string eleven = StatisticsAfter(11);
	EXPECT_EQ(eleven.rfind("Processed 11 Frames\nKorvo decoder took ", 0), 0u) << eleven;
	EXPECT_NE(eleven.find(" usec to draw 11 frame(s) giving "), std::string::npos) << eleven;
	// 96x64 pictures decode far faster than 25 per second: the share is held at 100.
	EXPECT_NE(eleven.find(" FPS\nWhich is 100.000000% of required rate\nTerminating Korvex\n"),
	          std::string::npos)
	        << eleven;
	// A seek back to the start closes the timing run with its statistics; the next run is empty.
	const std::string seek = StatisticsAfter(11, true);
	EXPECT_EQ(
	        seek.rfind("KORVEXDecoder::Reset Current Frame 11 inout frame 0 Required Frame 0\nSeek by Frame "
	                   "Processed 11 Frames\n",
	                   0),
	        0u)
	        << seek;
	EXPECT_EQ(seek.find("Processed", seek.find("Skipping 0 Frames")), std::string::npos) << seek;
}

}  // namespace
