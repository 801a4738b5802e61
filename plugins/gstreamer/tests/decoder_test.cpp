// korvodec in pipelines: pictures equal to mediaconv's and the core's, autoplugging, discovery,
// seeking, two decoders at once, damaged and late frames.
#include <gst/pbutils/pbutils.h>

#include <thread>

#include "gst_test_support.h"
#include "korvo.h"

namespace gsttest {
namespace {

constexpr uint64_t kFrameTime = GST_SECOND / 25;

std::string DecodePipeline(const std::string& movie, const char* format)
{
	return "filesrc location=" + movie + " ! qtdemux ! korvodec ! video/x-raw,format=" + format +
	       " ! appsink name=sink sync=false";
}

// The chunks decoded by the core alone into pictures of `pixelFormat` with tightly packed rows.
std::vector<Bytes> CoreDecode(const std::vector<Buffer>& chunks, uint32_t width, uint32_t height,
                              uint32_t pixelFormat, size_t rowBytes)
{
	std::vector<Bytes> pictures;
	EXPECT_EQ(InitKorvax(), kKorvoOK);
	KorvParams* params = NewKorvParamsPtr(2, width, height);
	EXPECT_NE(params, nullptr);
	if (!params)
		return pictures;
	params->pixelFormat = pixelFormat;
	params->pixMap->rowBytes = uint16_t(rowBytes);
	for (const Buffer& chunk : chunks) {
		Bytes picture(rowBytes * height);
		Bytes data = chunk.data;
		params->stream = data.data();
		params->streamSize = uint32_t(data.size());
		params->fullRefresh = 1;
		params->pixMap->baseAddr = picture.data();
		EXPECT_EQ(DecompressPixMap(params), kKorvoOK);
		pictures.push_back(std::move(picture));
	}
	DisposeKorvParamsPtr(params);
	TerminateKorvax();
	return pictures;
}

void ExpectPictures(const Playback& run, const Clip& expected, const std::string& what)
{
	EXPECT_TRUE(run.errors.empty()) << what << ": " << run.errors.front();
	EXPECT_TRUE(run.ended) << what;
	ASSERT_EQ(run.buffers.size(), expected.frames.size()) << what;
	for (size_t i = 0; i < expected.frames.size(); i++) {
		EXPECT_TRUE(run.buffers[i].data == expected.frames[i]) << what << ": picture " << i;
		EXPECT_EQ(run.buffers[i].pts, i * kFrameTime) << what << ": time of picture " << i;
	}
}

class KorvoDec : public GstTest {};

// 176 wide: I420 planes as the core writes them, decoded in place; 100 wide (chroma rows padded to
// 52 bytes) goes through a picture of the core's layout; the second clip also uses the in-loop filters.
TEST_F(KorvoDec, I420IsExactlyWhatMediaconvDecodes)
{
	const Clip plain = MakeMovie("plain", 176, 120, 30, 0);
	ExpectPictures(PlayAll(DecodePipeline(Path("plain.mov"), "I420")), plain, "176x120");
	ExpectPictures(PlayAll("filesrc location=" + Path("plain.mov") +
	                       " ! qtdemux ! korvodec threads=3 ! video/x-raw,format=I420 ! appsink name=sink "
	                       "sync=false"),
	               plain, "176x120 on 3 threads");
	const Clip filtered = MakeMovie("filtered", 100, 72, 30, 1, "--quality 0.4 --artifact-reduction");
	ExpectPictures(PlayAll(DecodePipeline(Path("filtered.mov"), "I420")), filtered, "100x72 filtered");
}

TEST_F(KorvoDec, PackedFormatsAreTheCoresPictures)
{
	MakeMovie("clip", 100, 72, 20, 2, "--artifact-reduction");
	const std::vector<Buffer> chunks = Chunks(Path("clip.mov"));
	ASSERT_EQ(chunks.size(), 20u);
	const struct {
		const char* format;
		uint32_t pixelFormat;
		size_t rowBytes;
	} cases[] = {{"BGRx", kPixelFormatBGRA, 100 * 4}, {"YUY2", kPixelFormatYUVS, 100 * 2}};
	for (const auto& c : cases) {
		const std::vector<Bytes> expected = CoreDecode(chunks, 100, 72, c.pixelFormat, c.rowBytes);
		const Playback run = PlayAll(DecodePipeline(Path("clip.mov"), c.format));
		EXPECT_TRUE(run.errors.empty()) << c.format;
		ASSERT_EQ(run.buffers.size(), expected.size()) << c.format;
		for (size_t i = 0; i < expected.size(); i++)
			EXPECT_TRUE(run.buffers[i].data == expected[i]) << c.format << " picture " << i;
	}
}

// The command line a user types, with the plugin file loaded by gst-launch-1.0.
TEST_F(KorvoDec, GstLaunchWritesMediaconvsPictures)
{
	const Clip clip = MakeMovie("clip", 176, 120, 25, 3);
	const Result r = RunCommand(
	        ToolEnvironment() + " gst-launch-1.0 -q filesrc location=" + Path("clip.mov") +
	        " ! qtdemux ! korvodec ! video/x-raw,format=I420 ! filesink location=" + Path("out.yuv"));
	ASSERT_EQ(r.status, 0) << r.out;
	std::string expected;
	for (const Bytes& f : clip.frames)
		expected.append(f.begin(), f.end());
	EXPECT_TRUE(ReadFile(Path("out.yuv")) == expected);
}

bool HasKorvoDec(GstElement* pipeline)
{
	bool found = false;
	GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline));
	GValue item = G_VALUE_INIT;
	while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
		GstElementFactory* f = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
		found = found || (f && g_str_equal(GST_OBJECT_NAME(f), "korvodec"));
		g_value_reset(&item);
	}
	g_value_unset(&item);
	gst_iterator_free(it);
	return found;
}

TEST_F(KorvoDec, DecodebinAndUridecodebinPickIt)
{
	const Clip clip = MakeMovie("clip", 176, 120, 15, 4);
	for (const std::string& source : {"filesrc location=" + Path("clip.mov") + " ! decodebin",
	                                  "uridecodebin uri=file://" + Path("clip.mov")}) {
		bool autoplugged = false;
		const Playback run = PlayAll(source + " ! video/x-raw,format=I420 ! appsink name=sink sync=false", 30,
		                             [&](GstElement* pipeline) { autoplugged = HasKorvoDec(pipeline); });
		EXPECT_TRUE(autoplugged) << source;
		ExpectPictures(run, clip, source);
	}
}

TEST_F(KorvoDec, DiscovererNamesCodecSizeRateAndDuration)
{
	MakeMovie("clip", 176, 120, 40, 5);
	const std::string uri = "file://" + Path("clip.mov");
	GstDiscoverer* discoverer = gst_discoverer_new(20 * GST_SECOND, nullptr);
	ASSERT_NE(discoverer, nullptr);
	GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, uri.c_str(), nullptr);
	ASSERT_NE(info, nullptr);
	EXPECT_EQ(gst_discoverer_info_get_result(info), GST_DISCOVERER_OK);
	EXPECT_EQ(gst_discoverer_info_get_duration(info), 40 * kFrameTime);
	GList* streams = gst_discoverer_info_get_video_streams(info);
	ASSERT_EQ(g_list_length(streams), 1u);
	auto* video = GST_DISCOVERER_VIDEO_INFO(streams->data);
	EXPECT_EQ(gst_discoverer_video_info_get_width(video), 176u);
	EXPECT_EQ(gst_discoverer_video_info_get_height(video), 120u);
	EXPECT_EQ(gst_discoverer_video_info_get_framerate_num(video), 25u);
	EXPECT_EQ(gst_discoverer_video_info_get_framerate_denom(video), 1u);
	gchar* codec = nullptr;
	const GstTagList* tags = gst_discoverer_stream_info_get_tags(GST_DISCOVERER_STREAM_INFO(video));
	ASSERT_TRUE(tags && gst_tag_list_get_string(tags, GST_TAG_VIDEO_CODEC, &codec));
	EXPECT_STREQ(codec, "Korvo video (krv1)");
	g_free(codec);
	gst_discoverer_stream_info_list_free(streams);
	gst_discoverer_info_unref(info);
	g_object_unref(discoverer);

	// The same through the command-line tool and the plugin file.
	const Result r = RunCommand(ToolEnvironment() + " gst-discoverer-1.0 -v " + uri);
	ASSERT_EQ(r.status, 0) << r.out;
	for (const char* line : {"video codec: Korvo video (krv1)", "Width: 176", "Height: 120",
	                         "Frame rate: 25/1", "Duration: 0:00:01.600000000"})
		EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
}

// A movie of the clip's first 20 chunks twice over (key frames at 0 and 20) seeks to frames in
// either half, forward and back, and shows the picture a full decode shows there.
TEST_F(KorvoDec, SeekingShowsTheFullDecodesPicture)
{
	const Clip clip = MakeMovie("clip", 176, 120, 20, 6);
	const std::vector<Buffer> once = Chunks(Path("clip.mov"));
	ASSERT_EQ(once.size(), 20u);
	std::vector<Buffer> chunks = once;
	chunks.insert(chunks.end(), once.begin(), once.end());
	const Playback written = PushChunks(chunks, 176, 120, "korvomovsink location=" + Path("twice.mov"));
	ASSERT_TRUE(written.ended && written.errors.empty());

	GstElement* pipeline = gst_parse_launch(DecodePipeline(Path("twice.mov"), "I420").c_str(), nullptr);
	ASSERT_NE(pipeline, nullptr);
	GstAppSink* sink = GST_APP_SINK(gst_bin_get_by_name(GST_BIN(pipeline), "sink"));
	gst_element_set_state(pipeline, GST_STATE_PAUSED);
	ASSERT_EQ(gst_element_get_state(pipeline, nullptr, nullptr, 20 * GST_SECOND), GST_STATE_CHANGE_SUCCESS);
	for (int frame : {33, 25, 7, 38, 0, 12}) {
		ASSERT_TRUE(gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
		                                    GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
		                                    frame * kFrameTime));
		ASSERT_EQ(gst_element_get_state(pipeline, nullptr, nullptr, 20 * GST_SECOND),
		          GST_STATE_CHANGE_SUCCESS);
		GstSample* sample = gst_app_sink_try_pull_preroll(sink, 20 * GST_SECOND);
		ASSERT_NE(sample, nullptr) << "frame " << frame;
		const Buffer shown = TakeSample(sample);
		gst_sample_unref(sample);
		EXPECT_EQ(shown.pts, frame * kFrameTime);
		EXPECT_TRUE(shown.data == clip.frames[frame % 20]) << "frame " << frame;
	}
	Playback run;
	DrainBus(pipeline, &run);
	EXPECT_TRUE(run.errors.empty() && run.warnings.empty());
	gst_element_set_state(pipeline, GST_STATE_NULL);
	gst_object_unref(sink);
	gst_object_unref(pipeline);
}

TEST_F(KorvoDec, TwoPipelinesAtOnceDecodeAsAlone)
{
	const Clip a = MakeMovie("a", 176, 120, 40, 7, "--artifact-reduction");
	const Clip b = MakeMovie("b", 100, 72, 50, 8, "--quality 0.3");
	for (int round = 0; round < 3; round++) {
		Playback runA, runB;
		std::thread other([&] { runB = PlayAll(DecodePipeline(Path("b.mov"), "I420")); });
		runA = PlayAll(DecodePipeline(Path("a.mov"), "I420"));
		other.join();
		ExpectPictures(runA, a, "a, round " + std::to_string(round));
		ExpectPictures(runB, b, "b, round " + std::to_string(round));
	}
}

// A chunk with no picture in it is a warning and changes nothing; a delta frame after a break in the
// stream waits for the next key frame, after which decoding goes on as from the start.
TEST_F(KorvoDec, DamagedFramesAreWarningsAndDecodingResumesAtAKeyFrame)
{
	const Clip clip = MakeMovie("clip", 176, 120, 6, 9);
	const std::vector<Buffer> chunks = Chunks(Path("clip.mov"));
	ASSERT_EQ(chunks.size(), 6u);
	Buffer garbage{Bytes(300, 0x5A), 0, true};
	Buffer orphan = chunks[4];  // a P-VOP that arrives as the stream's first frame
	const std::vector<Buffer> stream = {orphan,    chunks[0], chunks[1], garbage,
	                                    chunks[2], chunks[3], chunks[0], chunks[1]};
	const Playback run =
	        PushChunks(stream, 176, 120, "korvodec ! video/x-raw,format=I420 ! appsink name=sink sync=false");
	EXPECT_TRUE(run.errors.empty());
	EXPECT_TRUE(run.ended);
	ASSERT_EQ(run.warnings.size(), 1u);
	EXPECT_NE(run.warnings[0].find("damaged"), std::string::npos) << run.warnings[0];
	const int shown[] = {0, 1, 2, 3, 0, 1};
	const uint64_t times[] = {1, 2, 4, 5, 6, 7};
	ASSERT_EQ(run.buffers.size(), std::size(shown));
	for (size_t i = 0; i < std::size(shown); i++) {
		EXPECT_TRUE(run.buffers[i].data == clip.frames[shown[i]]) << "output " << i;
		EXPECT_EQ(run.buffers[i].pts, times[i] * kFrameTime) << "output " << i;
	}
}

// A QoS event saying the sink is far behind makes the decoder drop the late frames' pictures; it
// still decodes them, so the frames after them are right.
TEST_F(KorvoDec, LateFramesAreDecodedButNotShown)
{
	const Clip clip = MakeMovie("clip", 176, 120, 30, 10);
	const std::vector<Buffer> chunks = Chunks(Path("clip.mov"));
	ASSERT_EQ(chunks.size(), 30u);
	StartGStreamer();
	GstElement* pipeline =
	        gst_parse_launch("appsrc name=src format=time "
	                         "caps=video/x-korvo,width=176,height=120,framerate=25/1 ! korvodec name=dec ! "
	                         "video/x-raw,format=I420 ! appsink name=sink sync=false",
	                         nullptr);
	ASSERT_NE(pipeline, nullptr);
	GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
	GstElement* dec = gst_bin_get_by_name(GST_BIN(pipeline), "dec");
	gst_element_set_state(pipeline, GST_STATE_PLAYING);
	gst_app_src_push_buffer(GST_APP_SRC(src), ChunkBuffer(chunks[0], 0));
	Playback run;
	GstAppSink* sink = GST_APP_SINK(gst_bin_get_by_name(GST_BIN(pipeline), "sink"));
	GstSample* first = gst_app_sink_try_pull_sample(sink, 20 * GST_SECOND);
	ASSERT_NE(first, nullptr);
	run.buffers.push_back(TakeSample(first));
	gst_sample_unref(first);
	// Frame 0 was shown half a second late: everything due before about frame 25 is too late.
	GstPad* srcPad = gst_element_get_static_pad(dec, "src");
	ASSERT_TRUE(
	        gst_pad_send_event(srcPad, gst_event_new_qos(GST_QOS_TYPE_UNDERFLOW, 0.1, GST_SECOND / 2, 0)));
	gst_object_unref(srcPad);
	for (size_t i = 1; i < chunks.size(); i++)
		gst_app_src_push_buffer(GST_APP_SRC(src), ChunkBuffer(chunks[i], i));
	gst_app_src_end_of_stream(GST_APP_SRC(src));
	PullAll(pipeline, &run);
	gst_element_set_state(pipeline, GST_STATE_NULL);
	gst_object_unref(sink);
	gst_object_unref(dec);
	gst_object_unref(src);
	gst_object_unref(pipeline);

	EXPECT_TRUE(run.errors.empty());
	ASSERT_GT(run.buffers.size(), 1u);
	EXPECT_LT(run.buffers.size(), 20u) << "late frames were shown";
	for (const Buffer& shown : run.buffers) {
		const size_t frame = size_t(shown.pts / kFrameTime);
		ASSERT_LT(frame, clip.frames.size());
		EXPECT_TRUE(shown.data == clip.frames[frame]) << "frame " << frame;
	}
	EXPECT_EQ(run.buffers.back().pts, 29 * kFrameTime);
}

}  // namespace
}  // namespace gsttest
