// Helpers of the plugin tests: GStreamer started once with the plugin's elements registered in the
// process, pipelines run to their end with every picture collected, commands (mediaconv, the GStreamer
// tools) run with a time limit, and synthetic clips in Y4M with the test's own reader.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "elements.h"

namespace gsttest {

using Bytes = std::vector<uint8_t>;

inline std::string ReadFile(const std::string& path)
{
	std::ifstream f(path, std::ios::binary);
	return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// GStreamer with the korvo elements registered statically (the tests are built with the sanitizers;
// the plugin file itself is tried by the command-line tests), a registry of the tests' own.
inline void StartGStreamer()
{
	static std::once_flag once;
	std::call_once(once, [] {
		mkdir(GST_TEST_DIR, 0755);
		setenv("GST_REGISTRY", GST_TEST_DIR "/registry-in-process.bin", 1);
		unsetenv("GST_PLUGIN_PATH");
		gst_init(nullptr, nullptr);
		ASSERT_TRUE(gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "korvo",
		                                       KORVO_PLUGIN_DESCRIPTION, korvo_gst_register_elements,
		                                       KORVO_PLUGIN_VERSION, "unknown", "korvo", "Korvo",
		                                       "https://korvo.invalid/"));
	});
}

struct Result {
	int status = -1;
	std::string out;  // standard output and error together
};

// Runs a shell command, ended after `seconds` (status 124 then).
inline Result RunCommand(const std::string& command, int seconds = 60)
{
	Result r;
	const std::string line = "timeout " + std::to_string(seconds) + " sh -c '" + command + "' 2>&1";
	FILE* pipe = popen(line.c_str(), "r");
	if (!pipe)
		return r;
	char buffer[4096];
	size_t n;
	while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
		r.out.append(buffer, n);
	const int status = pclose(pipe);
	r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	return r;
}

// The environment of a GStreamer command-line tool that loads the built plugin file: the sanitizer
// runtime first when the plugin was built with it, and a registry of the tests' own.
inline std::string ToolEnvironment()
{
	std::string env =
	        "GST_PLUGIN_PATH=" GST_PLUGIN_BUILD_DIR " GST_REGISTRY=" GST_TEST_DIR "/registry-tools.bin";
	if (*KORVO_ASAN_RUNTIME)
		env += " LD_PRELOAD=" KORVO_ASAN_RUNTIME " ASAN_OPTIONS=detect_leaks=0";
	return env;
}

// One picture of a clip in planar 4:2:0: width x height luminance samples, then Cb and Cr planes of
// (width / 2) x ((height + 1) / 2), as mediaconv writes Y4M.
struct Clip {
	uint32_t width = 0, height = 0;
	std::vector<Bytes> frames;
};

inline size_t ChromaBytes(uint32_t width, uint32_t height) { return size_t(width / 2) * ((height + 1) / 2); }

// Moving gradients and a moving block, different for each seed; every sample in studio range.
inline Clip SyntheticClip(uint32_t width, uint32_t height, int count, int seed)
{
	Clip clip{width, height, {}};
	const size_t luma = size_t(width) * height, chroma = ChromaBytes(width, height);
	for (int t = 0; t < count; t++) {
		Bytes f(luma + 2 * chroma);
		for (uint32_t y = 0; y < height; y++)
			for (uint32_t x = 0; x < width; x++) {
				const bool block = (x + 40 - 3 * t) % 97 < 24 && (y + 2 * t) % 61 < 20;
				f[y * width + x] =
				        uint8_t(block ? 200 - seed * 7 : 16 + (x * (3 + seed) + y * 2 + t * 5) % 200);
			}
		for (uint32_t y = 0; y < (height + 1) / 2; y++)
			for (uint32_t x = 0; x < width / 2; x++) {
				f[luma + y * (width / 2) + x] = uint8_t(40 + (x * 5 + t * 3 + seed * 11) % 180);
				f[luma + chroma + y * (width / 2) + x] = uint8_t(40 + (y * 7 + t * 2) % 180);
			}
		clip.frames.push_back(std::move(f));
	}
	return clip;
}

inline void WriteY4M(const std::string& path, const Clip& clip)
{
	FILE* f = fopen(path.c_str(), "wb");
	ASSERT_NE(f, nullptr) << path;
	fprintf(f, "YUV4MPEG2 W%u H%u F25:1 Ip A1:1 C420jpeg\n", clip.width, clip.height);
	for (const Bytes& frame : clip.frames) {
		fputs("FRAME\n", f);
		fwrite(frame.data(), 1, frame.size(), f);
	}
	fclose(f);
}

// The test's own reader for the Y4M files mediaconv writes (4:2:0 as described at Clip).
inline Clip ReadY4M(const std::string& path)
{
	const std::string data = ReadFile(path);
	Clip clip;
	const size_t end = data.find('\n');
	if (end == std::string::npos || sscanf(data.c_str(), "YUV4MPEG2 W%u H%u", &clip.width, &clip.height) != 2)
		return clip;
	const size_t frameBytes = size_t(clip.width) * clip.height + 2 * ChromaBytes(clip.width, clip.height);
	for (size_t at = end + 1; data.compare(at, 6, "FRAME\n") == 0 && at + 6 + frameBytes <= data.size();
	     at += 6 + frameBytes)
		clip.frames.emplace_back(data.begin() + long(at + 6), data.begin() + long(at + 6 + frameBytes));
	return clip;
}

// The pictures of a sample in planar order without row padding: each plane's rows of its
// components' width, as many as the plane has.
inline Bytes CompactPicture(GstSample* sample)
{
	GstVideoInfo info;
	Bytes out;
	if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample)))
		return out;
	GstVideoFrame frame;
	if (!gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ))
		return out;
	for (unsigned p = 0; p < GST_VIDEO_FRAME_N_PLANES(&frame); p++) {
		const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
		const size_t row =
		        size_t(GST_VIDEO_FRAME_COMP_WIDTH(&frame, p)) * GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, p);
		for (int y = 0; y < GST_VIDEO_FRAME_COMP_HEIGHT(&frame, p); y++) {
			const uint8_t* r = data + size_t(y) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p);
			out.insert(out.end(), r, r + row);
		}
	}
	gst_video_frame_unmap(&frame);
	return out;
}

struct Buffer {
	Bytes data;            // the picture (CompactPicture) for raw video, the bytes as they are otherwise
	GstClockTime pts = 0;  // GST_CLOCK_TIME_NONE when absent
	bool delta = false;    // GST_BUFFER_FLAG_DELTA_UNIT
};

struct Playback {
	std::vector<Buffer> buffers;
	std::vector<std::string> warnings, errors;
	bool ended = false;  // reached end of stream
};

inline Buffer TakeSample(GstSample* sample)
{
	Buffer b;
	GstBuffer* buffer = gst_sample_get_buffer(sample);
	const GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
	if (gst_structure_has_name(s, "video/x-raw")) {
		b.data = CompactPicture(sample);
	} else {
		GstMapInfo map;
		if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
			b.data.assign(map.data, map.data + map.size);
			gst_buffer_unmap(buffer, &map);
		}
	}
	b.pts = GST_BUFFER_PTS(buffer);
	b.delta = GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
	return b;
}

// Collects the warnings and errors waiting on a bus.
inline void DrainBus(GstElement* pipeline, Playback* run)
{
	GstBus* bus = gst_element_get_bus(pipeline);
	while (GstMessage* m =
	               gst_bus_pop_filtered(bus, GstMessageType(GST_MESSAGE_WARNING | GST_MESSAGE_ERROR))) {
		GError* error = nullptr;
		gchar* debug = nullptr;
		if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR)
			gst_message_parse_error(m, &error, &debug);
		else
			gst_message_parse_warning(m, &error, &debug);
		const std::string text = std::string(error->message) + " (" + (debug ? debug : "") + ")";
		(GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR ? run->errors : run->warnings).push_back(text);
		g_error_free(error);
		g_free(debug);
		gst_message_unref(m);
	}
	gst_object_unref(bus);
}

// Pulls every sample of the appsink named "sink" until end of stream, an error or `seconds` without
// a sample.
inline void PullAll(GstElement* pipeline, Playback* run, int seconds = 30)
{
	GstAppSink* sink = GST_APP_SINK(gst_bin_get_by_name(GST_BIN(pipeline), "sink"));
	for (;;) {
		GstSample* sample = gst_app_sink_try_pull_sample(sink, GstClockTime(seconds) * GST_SECOND);
		DrainBus(pipeline, run);
		if (!sample) {
			run->ended = gst_app_sink_is_eos(sink);
			break;
		}
		run->buffers.push_back(TakeSample(sample));
		gst_sample_unref(sample);
		if (!run->errors.empty())
			break;
	}
	gst_object_unref(sink);
}

// Parses and plays a pipeline ending in "appsink name=sink" and collects what reaches it; `atEnd`
// sees the pipeline before it stops.
inline Playback PlayAll(const std::string& description, int seconds = 30,
                        const std::function<void(GstElement*)>& atEnd = nullptr)
{
	StartGStreamer();
	Playback run;
	GError* error = nullptr;
	GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
	if (!pipeline || error) {
		run.errors.push_back(std::string("parse: ") + (error ? error->message : "no pipeline"));
		if (error)
			g_error_free(error);
		if (pipeline)
			gst_object_unref(pipeline);
		return run;
	}
	gst_element_set_state(pipeline, GST_STATE_PLAYING);
	PullAll(pipeline, &run, seconds);
	if (atEnd)
		atEnd(pipeline);
	gst_element_set_state(pipeline, GST_STATE_NULL);
	DrainBus(pipeline, &run);
	gst_object_unref(pipeline);
	return run;
}

// Waits for the end of a pipeline without an appsink (one ending in a file).
inline void WaitForEnd(GstElement* pipeline, Playback* run)
{
	GstBus* bus = gst_element_get_bus(pipeline);
	GstMessage* m = gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND,
	                                           GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
	run->ended = m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
	if (m && !run->ended)
		gst_bus_post(bus, gst_message_ref(m));  // for DrainBus
	if (m)
		gst_message_unref(m);
	gst_object_unref(bus);
	DrainBus(pipeline, run);
}

// The chunks of the first track of a movie as qtdemux hands them out.
inline std::vector<Buffer> Chunks(const std::string& movie)
{
	return PlayAll("filesrc location=" + movie + " ! qtdemux ! appsink name=sink sync=false").buffers;
}

// Chunk `index` of a 25 frames per second stream as a buffer, with its delta flag.
inline GstBuffer* ChunkBuffer(const Buffer& chunk, size_t index)
{
	GstBuffer* b = gst_buffer_new_memdup(chunk.data.data(), chunk.data.size());
	GST_BUFFER_PTS(b) = GST_BUFFER_DTS(b) = index * GST_SECOND / 25;
	GST_BUFFER_DURATION(b) = GST_SECOND / 25;
	if (chunk.delta)
		GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DELTA_UNIT);
	return b;
}

// Pushes `chunks` (with their delta flags) as a 25 frames per second Korvo stream of the given size
// into `tail`, a pipeline description starting at the element after the source.
inline Playback PushChunks(const std::vector<Buffer>& chunks, uint32_t width, uint32_t height,
                           const std::string& tail)
{
	StartGStreamer();
	Playback run;
	const std::string description =
	        "appsrc name=src format=time caps=video/x-korvo,width=" + std::to_string(width) +
	        ",height=" + std::to_string(height) + ",framerate=25/1 ! " + tail;
	GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
	if (!pipeline) {
		run.errors.push_back("parse: " + description);
		return run;
	}
	GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
	gst_element_set_state(pipeline, GST_STATE_PLAYING);
	for (size_t i = 0; i < chunks.size(); i++)
		gst_app_src_push_buffer(GST_APP_SRC(src), ChunkBuffer(chunks[i], i));
	gst_app_src_end_of_stream(GST_APP_SRC(src));
	gst_object_unref(src);
	if (GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink")) {
		gst_object_unref(sink);
		PullAll(pipeline, &run);
	} else {
		WaitForEnd(pipeline, &run);
	}
	gst_element_set_state(pipeline, GST_STATE_NULL);
	gst_object_unref(pipeline);
	return run;
}

// A folder of its own for each test, emptied first; clips made there with mediaconv.
class GstTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		StartGStreamer();
		const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
		dir = std::string(GST_TEST_DIR) + "/" + info->test_suite_name() + "." + info->name();
		ASSERT_EQ(system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
	}

	std::string Path(const std::string& name) const { return dir + "/" + name; }

	// mediaconv run in the test's folder with the add-ons of this build.
	Result Mediaconv(const std::string& arguments) const
	{
		return RunCommand(
		        "cd " + dir + " && " MEDIACONV_PATH " --addons " MEDIACONV_ADDONS " -q " + arguments, 120);
	}

	// A synthetic clip encoded by mediaconv into name.mov (with `options`), and mediaconv's decoding
	// of that movie: the pictures every decode of it must give.
	Clip MakeMovie(const std::string& name, uint32_t width, uint32_t height, int frames, int seed,
	               const std::string& options = "")
	{
		WriteY4M(Path(name + ".y4m"), SyntheticClip(width, height, frames, seed));
		Result r = Mediaconv("convert " + name + ".y4m " + name + ".mov " + options);
		EXPECT_EQ(r.status, 0) << r.out;
		r = Mediaconv("convert " + name + ".mov " + name + "-decoded.y4m");
		EXPECT_EQ(r.status, 0) << r.out;
		return ReadY4M(Path(name + "-decoded.y4m"));
	}

	std::string dir;
};

}  // namespace gsttest
