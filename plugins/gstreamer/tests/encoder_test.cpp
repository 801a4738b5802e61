// korvoenc and korvomovsink: the chunks equal mediaconv's and the core's for the same pictures and
// settings, the movie decodes with mediaconv to the encoder's own reconstruction, forced key frames.
#include "gst_test_support.h"
#include "frame_internal.h"  // the encoder's reconstructed planes
#include "korvo.h"

namespace gsttest {
namespace {

constexpr uint64_t kFrameTime = GST_SECOND / 25;

// Pictures (I420 in the Clip layout, or BGRx rows of width x 4 bytes) as buffers of `format`.
GstBuffer* RawBuffer(const GstVideoInfo* info, const Bytes& picture)
{
	GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(info), nullptr);
	GstVideoFrame frame;
	gst_video_frame_map(&frame, info, buffer, GST_MAP_WRITE);
	size_t at = 0;
	for (unsigned p = 0; p < GST_VIDEO_FRAME_N_PLANES(&frame); p++) {
		const size_t row =
		        size_t(GST_VIDEO_FRAME_COMP_WIDTH(&frame, p)) * GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, p);
		for (int y = 0; y < GST_VIDEO_FRAME_COMP_HEIGHT(&frame, p); y++, at += row)
			memcpy(static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p)) +
			               size_t(y) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p),
			       picture.data() + at, row);
	}
	gst_video_frame_unmap(&frame);
	return buffer;
}

// Encodes pictures with korvoenc (`settings` are its properties) and collects the chunks, or writes
// them with korvomovsink when `movie` is given. `forceKeyAt` >= 0 asks for a key frame there.
Playback Encode(const char* format, uint32_t width, uint32_t height, const std::vector<Bytes>& pictures,
                const std::string& settings, const std::string& movie = "", int forceKeyAt = -1)
{
	StartGStreamer();
	Playback run;
	const std::string caps = std::string("video/x-raw,format=") + format + ",width=" + std::to_string(width) +
	                         ",height=" + std::to_string(height) + ",framerate=25/1";
	const std::string description =
	        "appsrc name=src format=time caps=" + caps + " ! korvoenc name=enc " + settings +
	        (movie.empty() ? " ! appsink name=sink sync=false" : " ! korvomovsink location=" + movie);
	GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
	if (!pipeline) {
		run.errors.push_back("parse: " + description);
		return run;
	}
	GstVideoInfo info;
	gst_video_info_set_format(&info, gst_video_format_from_string(format), width, height);
	GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
	gst_element_set_state(pipeline, GST_STATE_PLAYING);
	if (forceKeyAt >= 0) {
		GstElement* enc = gst_bin_get_by_name(GST_BIN(pipeline), "enc");
		gst_element_send_event(
		        enc, gst_video_event_new_upstream_force_key_unit(forceKeyAt * kFrameTime, FALSE, 1));
		gst_object_unref(enc);
	}
	for (size_t i = 0; i < pictures.size(); i++) {
		GstBuffer* b = RawBuffer(&info, pictures[i]);
		GST_BUFFER_PTS(b) = i * kFrameTime;
		GST_BUFFER_DURATION(b) = kFrameTime;
		gst_app_src_push_buffer(GST_APP_SRC(src), b);
	}
	gst_app_src_end_of_stream(GST_APP_SRC(src));
	gst_object_unref(src);
	if (movie.empty()) {
		PullAll(pipeline, &run);
	} else {
		WaitForEnd(pipeline, &run);
	}
	gst_element_set_state(pipeline, GST_STATE_NULL);
	gst_object_unref(pipeline);
	return run;
}

void ExpectSameChunks(const std::vector<Buffer>& got, const std::vector<Buffer>& expected,
                      const std::string& what)
{
	ASSERT_EQ(got.size(), expected.size()) << what;
	for (size_t i = 0; i < got.size(); i++) {
		EXPECT_TRUE(got[i].data == expected[i].data) << what << ": chunk " << i;
		EXPECT_EQ(got[i].delta, expected[i].delta) << what << ": key flag of chunk " << i;
	}
}

class KorvoEnc : public GstTest {};

// mediaconv hands the encoder add-on the same 4:2:0 pictures; with the same settings (korvoenc makes
// the classic decisions, mediaconv's default is the better tuning) the streams are the same byte for
// byte. 100 wide has padded chroma rows in GStreamer's I420.
TEST_F(KorvoEnc, I420GivesMediaconvsChunks)
{
	const struct {
		uint32_t width, height;
		const char* mediaconvOptions;
		const char* properties;
	} cases[] = {
	        {176, 120, "--tune classic", ""},
	        {100, 72, "--tune classic --quality 0.5 --artifact-reduction --optimal",
	         "quality=0.5 artifact-reduction=true optimal-compression=true threads=2"},
	};
	int seed = 0;
	for (const auto& c : cases) {
		const Clip clip = SyntheticClip(c.width, c.height, 24, seed++);
		WriteY4M(Path("in.y4m"), clip);
		const Result r = Mediaconv(std::string("convert in.y4m ref.mov ") + c.mediaconvOptions);
		ASSERT_EQ(r.status, 0) << r.out;
		const Playback run = Encode("I420", c.width, c.height, clip.frames, c.properties);
		EXPECT_TRUE(run.errors.empty() && run.ended) << c.properties;
		ExpectSameChunks(run.buffers, Chunks(Path("ref.mov")), std::to_string(c.width) + " wide");
	}
}

// BGRx pictures with colour edges that move.
std::vector<Bytes> RgbPictures(uint32_t width, uint32_t height, int count)
{
	std::vector<Bytes> pictures;
	for (int t = 0; t < count; t++) {
		Bytes p(size_t(width) * height * 4);
		for (uint32_t y = 0; y < height; y++)
			for (uint32_t x = 0; x < width; x++) {
				uint8_t* px = &p[(size_t(y) * width + x) * 4];
				px[0] = uint8_t((x * 4 + t * 6) & 0xFF);
				px[1] = uint8_t(((x + 2 * t) / 9 % 2) * 180 + y);
				px[2] = uint8_t((y * 3 + x + t) & 0xFF);
				px[3] = 0xFF;
			}
		pictures.push_back(std::move(p));
	}
	return pictures;
}

// What the encoder itself predicts from: the core's chunks for the same pictures and settings, and
// its reconstructed planes after each frame in the Clip layout.
struct Reference {
	std::vector<Bytes> chunks;
	Clip pictures;
};

// A data rate (kbit/s at 25 frames a second), its tracking and a key frame interval; 0 for none.
struct RateSettings {
	uint32_t dataRate = 0, drtSensitivity = 0, keyInterval = 0;
};

Reference CoreEncode(const std::vector<Bytes>& pictures, uint32_t width, uint32_t height, double quality,
                     bool artifactReduction, RateSettings rate = {})
{
	Reference ref;
	ref.pictures.width = width;
	ref.pictures.height = height;
	EXPECT_EQ(InitKorvax(), kKorvoOK);
	KorvParams* params = NewKorvParamsPtr(1, width, height);
	EXPECT_NE(params, nullptr);
	if (!params)
		return ref;
	params->pixelFormat = kPixelFormatBGRA;
	params->spatialQuality = uint32_t(quality * 1024.0);
	params->deblock = params->dering = artifactReduction;
	params->dataRate = rate.dataRate;
	params->drtSensitivity = uint8_t(rate.drtSensitivity);
	params->keyInterval = rate.keyInterval;
	params->frameRate = 25;
	params->pixMap->rowBytes = uint16_t(width * 4);
	for (const Bytes& picture : pictures) {
		Bytes in = picture;
		params->pixMap->baseAddr = in.data();
		params->stream = params->streamBuffer;
		EXPECT_EQ(CompressPixMap(params), kKorvoOK);
		ref.chunks.emplace_back(params->stream, params->stream + params->streamBytes);
		Bytes planes;
		const Plane* planeList[3] = {params->vop->planeY, params->vop->planeU, params->vop->planeV};
		for (int p = 0; p < 3; p++) {
			const uint32_t border = p ? 8 : 16, w = p ? width / 2 : width, h = p ? height / 2 : height;
			for (uint32_t y = 0; y < h; y++) {
				const uint8_t* row = planeList[p]->data + size_t(y + border) * planeList[p]->width + border;
				planes.insert(planes.end(), row, row + w);
			}
		}
		ref.pictures.frames.push_back(std::move(planes));
	}
	DisposeKorvParamsPtr(params);
	TerminateKorvax();
	return ref;
}

TEST_F(KorvoEnc, MovieDecodesWithMediaconvToTheEncodersReference)
{
	const uint32_t width = 96, height = 64;
	const std::vector<Bytes> pictures = RgbPictures(width, height, 20);
	const Playback run =
	        Encode("BGRx", width, height, pictures, "quality=0.6 artifact-reduction=true", Path("enc.mov"));
	ASSERT_TRUE(run.ended && run.errors.empty()) << (run.errors.empty() ? "" : run.errors[0]);

	const Reference ref = CoreEncode(pictures, width, height, 0.6, true);
	const std::vector<Buffer> chunks = Chunks(Path("enc.mov"));
	ASSERT_EQ(chunks.size(), ref.chunks.size());
	for (size_t i = 0; i < chunks.size(); i++) {
		EXPECT_TRUE(chunks[i].data == ref.chunks[i]) << "chunk " << i;
		EXPECT_EQ(chunks[i].delta, i != 0) << "key flag of chunk " << i;
	}
	const Result r = Mediaconv("convert enc.mov dec.y4m");
	ASSERT_EQ(r.status, 0) << r.out;
	const Clip decoded = ReadY4M(Path("dec.y4m"));
	ASSERT_EQ(decoded.frames.size(), ref.pictures.frames.size());
	for (size_t i = 0; i < decoded.frames.size(); i++)
		EXPECT_TRUE(decoded.frames[i] == ref.pictures.frames[i]) << "picture " << i;
}

// The rate settings reach the core: the chunks are the core's for the same data rate, tracking and
// interval, key frames come at the interval, and a quarter of the rate gives well under half the bytes.
TEST_F(KorvoEnc, BitrateAndKeyIntervalAreTheCoresRateControl)
{
	const uint32_t width = 96, height = 64, frames = 40;
	const std::vector<Bytes> pictures = RgbPictures(width, height, frames);
	const Playback run = Encode("BGRx", width, height, pictures,
	                            "quality=0 bitrate=24 drt-sensitivity=128 key-interval=10");
	ASSERT_TRUE(run.ended && run.errors.empty()) << (run.errors.empty() ? "" : run.errors[0]);
	const Reference ref = CoreEncode(pictures, width, height, 0, false, RateSettings{24, 128, 10});
	const Reference fourTimes = CoreEncode(pictures, width, height, 0, false, RateSettings{96, 128, 10});
	ASSERT_EQ(run.buffers.size(), ref.chunks.size());
	ASSERT_EQ(run.buffers.size(), fourTimes.chunks.size());
	size_t bytes = 0, fourTimesBytes = 0;
	for (size_t i = 0; i < run.buffers.size(); i++) {
		EXPECT_TRUE(run.buffers[i].data == ref.chunks[i]) << "chunk " << i;
		EXPECT_EQ(run.buffers[i].delta, i % 10 != 0) << "key flag of chunk " << i;
		bytes += run.buffers[i].data.size();
		fourTimesBytes += fourTimes.chunks[i].size();
	}
	EXPECT_LT(2 * bytes, fourTimesBytes);
}

// A key frame asked for at frame 8 is an I-VOP: a decoder starting there shows what a decoder that
// saw everything shows.
TEST_F(KorvoEnc, ForcedKeyFrameStartsADecode)
{
	const Clip clip = SyntheticClip(176, 120, 14, 3);
	const Playback run = Encode("I420", 176, 120, clip.frames, "", "", 8);
	ASSERT_TRUE(run.errors.empty() && run.ended);
	ASSERT_EQ(run.buffers.size(), 14u);
	for (size_t i = 0; i < run.buffers.size(); i++)
		EXPECT_EQ(run.buffers[i].delta, i != 0 && i != 8) << "chunk " << i;

	const std::string decode = "korvodec ! video/x-raw,format=I420 ! appsink name=sink sync=false";
	const Playback all = PushChunks(run.buffers, 176, 120, decode);
	const Playback tail = PushChunks({run.buffers.begin() + 8, run.buffers.end()}, 176, 120, decode);
	ASSERT_EQ(all.buffers.size(), 14u);
	ASSERT_EQ(tail.buffers.size(), 6u);
	for (size_t i = 0; i < 6; i++)
		EXPECT_TRUE(tail.buffers[i].data == all.buffers[8 + i].data) << "frame " << 8 + i;
}

TEST_F(KorvoEnc, RowsBeyondTheCodecsPitchAreRefusedByName)
{
	const Playback run = Encode("BGRx", 4096, 16, {Bytes(size_t(4096) * 16 * 4, 0)}, "");
	ASSERT_FALSE(run.errors.empty());
	EXPECT_NE(run.errors[0].find("Rows of 4096 BGRx pixels exceed"), std::string::npos) << run.errors[0];
}

}  // namespace
}  // namespace gsttest
