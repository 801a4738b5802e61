// Movies with sound end to end: a Y4M clip and a sound file into a movie and back out sample for sample,
// MediaInfo's view of both tracks, --start/--frames cutting sound and pictures at the same time, sound
// from FLAC and Ogg Vorbis, and the options refused where they cannot apply.
#include "tool_test_support.h"

using namespace tooltest;

namespace {

class MovieSound : public ToolTest {
protected:
	void SetUp() override
	{
		ToolTest::SetUp();
		if (!HaveKorvo())
			GTEST_SKIP() << "the Korvo add-ons are not built";
		if (!HaveProgram("sox"))
			GTEST_SKIP() << "sox is needed";
	}

	// The 16-bit samples of a sound file as sox reads them, from sample frame `from` on (`count`
	// frames, or to the end when negative).
	std::string Samples(const std::string& name, long from = 0, long count = -1) const
	{
		std::string trim = " trim " + std::to_string(from) + "s";
		if (count >= 0)
			trim += " " + std::to_string(count) + "s";
		Result r = Shell("sox " + name + " -t raw -e signed -b 16 -L " + name + ".raw" + trim);
		EXPECT_EQ(r.status, 0) << r.err;
		std::string data = ReadFile(Path(name + ".raw"));
		unlink(Path(name + ".raw").c_str());
		return data;
	}

	// One MediaInfo field ("Audio;%Duration%" and the like).
	std::string MediaInfo(const std::string& name, const std::string& inform) const
	{
		Result r = Shell("mediainfo --Inform='" + inform + "' " + name);
		return r.out.substr(0, r.out.find_last_not_of("\n") + 1);
	}
};

TEST_F(MovieSound, Y4mAndWavThroughAMovieKeepBoth)
{
	WriteY4m(Path("in.y4m"), MovingClip(64, 48, 25));
	ASSERT_EQ(Shell("sox -n -r 48000 -c 2 -b 16 in.wav synth 1 whitenoise vol 0.7").status, 0);
	Result r = Tool("convert in.y4m k.mov --audio in.wav");
	ASSERT_EQ(r.status, 0) << r.err;
	ASSERT_EQ(Tool("convert in.y4m plain.mov").status, 0);
	r = Tool("convert k.mov back.y4m --audio-out back.wav");
	ASSERT_EQ(r.status, 0) << r.err;
	ASSERT_EQ(Tool("convert plain.mov plain.y4m").status, 0);
	// The pictures are what a movie without sound gives; the sound is the input's, sample for sample.
	EXPECT_TRUE(ReadFile(Path("back.y4m")) == ReadFile(Path("plain.y4m")));
	const std::string in = Samples("in.wav");
	EXPECT_EQ(in.size(), 48000u * 4);
	EXPECT_TRUE(Samples("back.wav") == in);
	// The sound alone, straight from the movie, and the movie converted to another movie.
	ASSERT_EQ(Tool("convert k.mov only.wav").status, 0);
	EXPECT_TRUE(Samples("only.wav") == in);
	ASSERT_EQ(Tool("convert k.mov again.mov").status, 0);
	ASSERT_EQ(Tool("convert again.mov again.wav").status, 0);
	EXPECT_TRUE(Samples("again.wav") == in);

	r = Tool("info k.mov");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("tracks:     2\ntrack 0:   video"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("track 1:   audio"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("audio:      48000 Hz, 2 channels, 16-bit\n  frames:     48000 sample frames\n"
	                     "  duration:   1.000 s"),
	          std::string::npos)
	        << r.out;
	if (HaveProgram("mediainfo")) {
		EXPECT_EQ(MediaInfo("k.mov", "General;%VideoCount% %AudioCount%"), "1 1");
		EXPECT_EQ(MediaInfo("k.mov", "Video;%Duration%"), "1000");
		EXPECT_EQ(MediaInfo("k.mov", "Audio;%Duration% %SamplingRate% %Channels% %BitDepth%"),
		          "1000 48000 2 16");
	}
	// Without --audio-out the sound is said to be left out.
	r = Tool("convert k.mov pictures.y4m");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("k.mov: the sound is left out (--audio-out FILE writes it)"), std::string::npos)
	        << r.err;
}

TEST_F(MovieSound, StartAndFramesCutSoundAndPicturesTogether)
{
	// 30000/1001 pictures a second and 44100 sound frames: picture 10 starts at sound frame 14714.7 and
	// picture 17 at 25014.99, so the cut keeps sound frames 14715 .. 25014.
	WriteY4m(Path("in.y4m"), MovingClip(48, 32, 30), "30000:1001");
	ASSERT_EQ(Shell("sox -n -r 44100 -c 1 -b 16 in.flac synth 1.2 whitenoise vol 0.5").status, 0);
	ASSERT_EQ(Tool("convert in.y4m k.mov --audio in.flac").status, 0);
	ASSERT_EQ(Tool("convert k.mov all.y4m").status, 0);
	const std::string slice = Samples("in.flac", 14715, 10300);
	ASSERT_EQ(slice.size(), 10300u * 2);

	Result r = Tool("convert k.mov part.y4m --start 10 --frames 7 --audio-out part.wav");
	ASSERT_EQ(r.status, 0) << r.err;
	const Clip all = ReadY4m(Path("all.y4m")), part = ReadY4m(Path("part.y4m"));
	ASSERT_EQ(part.y.size(), 7u);
	for (int i = 0; i < 7; i++)
		EXPECT_EQ(part.y[i], all.y[10 + i]) << i;
	EXPECT_TRUE(Samples("part.wav") == slice);

	// The same cut into a movie, and from the clip and sound file on the way in (seconds this time).
	r = Tool("convert k.mov cut.mov --start 10 --frames 7");
	ASSERT_EQ(r.status, 0) << r.err;
	r = Tool("convert in.y4m early.mov --audio in.flac --start 0.3337s --frames 7");
	ASSERT_EQ(r.status, 0) << r.err;
	for (const char* movie : {"cut.mov", "early.mov"}) {
		r = Tool(std::string("info ") + movie);
		EXPECT_NE(r.out.find("frames:     7\n"), std::string::npos) << r.out;
		EXPECT_NE(r.out.find("frames:     10300 sample frames"), std::string::npos) << r.out;
		ASSERT_EQ(Tool(std::string("convert ") + movie + " " + movie + ".wav").status, 0);
		EXPECT_TRUE(Samples(std::string(movie) + ".wav") == slice) << movie;
		if (HaveProgram("mediainfo")) {
			// 7 x 1001 / 30000 s and 10300 / 44100 s: both 233.6 ms.
			EXPECT_NEAR(std::stod(MediaInfo(movie, "Video;%Duration%")), 233.6, 1.0) << movie;
			EXPECT_NEAR(std::stod(MediaInfo(movie, "Audio;%Duration%")), 233.6, 1.0) << movie;
		}
	}
	// A --start past the end of the sound leaves the movie's sound track empty.
	ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 16 short.wav synth 0.1 sine 500").status, 0);
	r = Tool("convert in.y4m late.mov --audio short.wav --start 20");
	ASSERT_EQ(r.status, 0) << r.err;
	r = Tool("info late.mov");
	EXPECT_NE(r.out.find("frames:     0 sample frames"), std::string::npos) << r.out;
}

TEST_F(MovieSound, AnyRateAndChannelCountAndOggVorbisSound)
{
	if (!HaveProgram("oggenc"))
		GTEST_SKIP() << "oggenc is needed";
	WriteY4m(Path("in.y4m"), MovingClip(32, 32, 10));
	ASSERT_EQ(
	        Shell("sox -n -r 96000 -c 6 -b 16 six.wav synth 0.4 whitenoise vol 0.5 && "
	              "sox -n -r 22050 -c 2 -b 16 s.wav synth 0.4 sine 440 sine 660 && oggenc -Q -o s.ogg s.wav")
	                .status,
	        0);
	Result r = Tool("convert in.y4m six.mov --audio six.wav");
	ASSERT_EQ(r.status, 0) << r.err;
	ASSERT_EQ(Tool("convert six.mov six-back.wav").status, 0);
	EXPECT_TRUE(Samples("six-back.wav") == Samples("six.wav"));
	r = Tool("info six.mov");
	EXPECT_NE(r.out.find("96000 Hz, 6 channels, 16-bit"), std::string::npos) << r.out;
	if (HaveProgram("mediainfo")) {
		EXPECT_EQ(MediaInfo("six.mov", "Audio;%Duration% %SamplingRate% %Channels%"), "400 96000 6");
	}

	// Ogg Vorbis sound is stored as the PCM its decoder gives.
	ASSERT_EQ(Tool("convert s.ogg decoded.wav").status, 0);
	r = Tool("convert in.y4m ogg.mov --audio s.ogg");
	ASSERT_EQ(r.status, 0) << r.err;
	ASSERT_EQ(Tool("convert ogg.mov ogg.y4m --audio-out ogg.wav").status, 0);
	EXPECT_TRUE(Samples("ogg.wav") == Samples("decoded.wav"));
	// --audio-out as Ogg Vorbis encodes the sound (--codec names the video encoder, not this one).
	r = Tool("convert ogg.mov again.mov --codec 'Korvo Vela 3.5' --audio-out again.ogg");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_GT(FileSize(Path("again.ogg")), 0);
}

TEST_F(MovieSound, SoundOptionsWhereTheyCannotApply)
{
	WriteY4m(Path("in.y4m"), MovingClip(32, 32, 5));
	ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 16 s.wav synth 0.2 sine 300").status, 0);
	ASSERT_EQ(Tool("convert in.y4m silent.mov").status, 0);
	struct Case {
		const char* arguments;
		int status;
		const char* message;
	} cases[] = {
	        {"convert silent.mov out.y4m --audio s.wav", 2, "--audio: sound goes into a .mov output"},
	        {"convert in.y4m out.mov --audio-out o.wav", 2, "--audio-out: only a movie input or --audio"},
	        {"convert s.wav out.wav --audio s.wav", 2, "--audio does not apply to WAV audio to WAV audio"},
	        {"convert silent.mov out.y4m --audio-out o.wav", 1, "silent.mov: has no sound for --audio-out"},
	        {"convert in.y4m out.mov --audio missing.wav", 1, "missing.wav"},
	        {"convert in.y4m out.mov --audio s.wav --audio-out s.wav", 2,
	         "--audio-out s.wav would overwrite s.wav"},
	        {"convert in.y4m out.mov --audio in.y4m", 1, "in.y4m"},
	};
	for (const Case& c : cases) {
		Result r = Tool(c.arguments);
		EXPECT_EQ(r.status, c.status) << c.arguments << ": " << r.err;
		EXPECT_NE(r.err.find(c.message), std::string::npos) << c.arguments << ": " << r.err;
	}
	// Nothing half-written is left behind.
	std::vector<std::string> files = Listing();
	std::sort(files.begin(), files.end());
	EXPECT_EQ(files, (std::vector<std::string>{"in.y4m", "s.wav", "silent.mov"}));
}

}  // namespace
