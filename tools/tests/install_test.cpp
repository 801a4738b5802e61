// `make install`: the tool, the add-ons, the man page and the GStreamer plugin installed into a fresh
// prefix work from there with no option and no variable, and so does a copy of the installed tree.
#include "tool_test_support.h"

using namespace tooltest;

namespace {

class Install : public ToolTest {
protected:
	// Runs a command with no MEDIACONV_ADDONS in its environment.
	Result Bare(const std::string& command) const { return Shell("unset MEDIACONV_ADDONS; " + command); }

	// Plays `movie` with gst-launch-1.0's playbin, the pictures as I420 into `pictures`, with only the
	// plugin folder of `tree` added to GStreamer's search (and the sanitizer runtime first when the
	// plugin was built with it).
	Result Gst(const std::string& tree, const std::string& movie, const std::string& pictures) const
	{
		std::string env = "GST_PLUGIN_PATH='" + Path(tree + "/lib/gstreamer-1.0") + "' GST_REGISTRY='" +
		                  Path(tree + ".registry") + "'";
		if (*KORVO_ASAN_RUNTIME)
			env += " LD_PRELOAD=" KORVO_ASAN_RUNTIME " ASAN_OPTIONS=detect_leaks=0";
		return Shell("unset MEDIACONV_ADDONS; " + env + " timeout 60 gst-launch-1.0 -q playbin uri=file://" +
		             Path(movie) + " audio-sink=fakesink video-sink='videoconvert ! " +
		             "video/x-raw,format=I420 ! filesink location=" + Path(pictures) + "'");
	}
};

TEST_F(Install, InstalledAndCopiedTreesFindTheirAddOns)
{
	Result r = Shell("cmake --install '" MEDIACONV_BUILD_DIR "' --prefix '" + Path("prefix") + "'");
	ASSERT_EQ(r.status, 0) << r.out << r.err;
	for (const char* file : {"prefix/bin/mediaconv", "prefix/share/man/man1/mediaconv.1",
	                         "prefix/lib/korvo/add-ons/media/encoders/g723.encoder",
	                         "prefix/lib/korvo/add-ons/media/writers/OggAudioWriter",
	                         "prefix/lib/gstreamer-1.0/libgstkorvo.so"})
		EXPECT_TRUE(Exists(Path(file))) << file;
	// The man page is the help text: every option of convert is in it.
	const std::string man = ReadFile(Path("prefix/share/man/man1/mediaconv.1"));
	EXPECT_NE(man.find(".TH MEDIACONV"), std::string::npos) << man.substr(0, 200);
	for (const char* option : {"\\-\\-addons", "\\-\\-version", "convert", "info", "codecs"})
		EXPECT_NE(man.find(option), std::string::npos) << option;

	ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 16 s.wav synth 0.2 sine 400").status, 0);
	WriteY4m(Path("clip.y4m"), MovingClip(64, 48, 5));
	ASSERT_EQ(system(("cp -a '" + Path("prefix") + "' '" + Path("copy") + "'").c_str()), 0);
	for (const std::string tree : {"prefix", "copy"}) {
		const std::string tool = "'" + Path(tree + "/bin/mediaconv") + "'";
		r = Bare(tool + " codecs");
		ASSERT_EQ(r.status, 0) << tree << "\n" << r.err;
		EXPECT_NE(r.out.find("Add-ons in " + Path(tree) + "/bin/../lib/korvo/add-ons/media: "),
		          std::string::npos)
		        << r.out;
		EXPECT_NE(r.out.find(", 0 failed"), std::string::npos) << r.out;
		r = Bare(tool + " convert s.wav " + tree + ".wav --codec g723");
		EXPECT_EQ(r.status, 0) << tree << "\n" << r.err;
		// --version names the tool's version and each add-on's.
		r = Bare(tool + " --version");
		ASSERT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(r.out.rfind("mediaconv " KORVO_VERSION "\n", 0), 0u) << r.out;
		EXPECT_NE(r.out.find("encoders/g723.encoder"), std::string::npos) << r.out;
		const size_t line = r.out.find("writers/OggAudioWriter");
		ASSERT_NE(line, std::string::npos) << r.out;
		EXPECT_NE(r.out.substr(line, r.out.find('\n', line) - line).find(" " KORVO_VERSION " "),
		          std::string::npos)
		        << r.out;

		// A movie with sound made by the installed tool plays in GStreamer through the installed
		// plugin, which playbin picks on its own, to the same pictures the tool decodes.
		r = Bare(tool + " convert clip.y4m " + tree + ".mov --audio s.wav");
		ASSERT_EQ(r.status, 0) << r.err;
		r = Bare(tool + " convert " + tree + ".mov " + tree + ".y4m");
		ASSERT_EQ(r.status, 0) << r.err;
		const Clip decoded = ReadY4m(Path(tree + ".y4m"));
		std::string frames;
		for (size_t i = 0; i < decoded.y.size(); i++)
			for (const auto* plane : {&decoded.y[i], &decoded.u[i], &decoded.v[i]})
				frames.append(plane->begin(), plane->end());
		r = Gst(tree, tree + ".mov", tree + ".yuv");
		EXPECT_EQ(r.status, 0) << tree << "\n" << r.out << r.err;
		EXPECT_EQ(frames.size(), 5u * 64 * 48 * 3 / 2);
		EXPECT_TRUE(ReadFile(Path(tree + ".yuv")) == frames) << tree;
	}
	// Without the plugin playbin plays the sound and shows no picture.
	r = Gst("nothing", "prefix.mov", "nothing.yuv");
	EXPECT_EQ(FileSize(Path("nothing.yuv")), 0) << r.out << r.err;
	// The variable and the option still choose another folder.
	r = Shell("MEDIACONV_ADDONS=nowhere '" + Path("copy/bin/mediaconv") + "' codecs");
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("nowhere: add-on folder does not exist"), std::string::npos) << r.err;
}

}  // namespace
