// Bad inputs of every class (missing, empty, truncated, wrong kind, corrupt) and failing outputs: one
// line on standard error naming the file, exit status 1, no output file and no leftovers, and an
// earlier good output left as it was.
#include "tool_test_support.h"

using namespace tooltest;

namespace {

class Errors : public ToolTest {
protected:
	// Runs a conversion that must fail: status 1, one line naming `named`, no `out`, and nothing in
	// the folder but `keep`.
	void ExpectRefused(const std::string& arguments, const std::string& named, const std::string& out,
	                   std::vector<std::string> keep)
	{
		Result r = Tool(arguments);
		EXPECT_EQ(r.status, 1) << arguments << "\n" << r.err;
		EXPECT_EQ(r.out, "") << arguments;
		EXPECT_EQ(r.err.rfind("mediaconv: " + named + ": ", 0), 0u) << arguments << "\n" << r.err;
		EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
		EXPECT_FALSE(Exists(Path(out))) << arguments;
		std::vector<std::string> listing = Listing();
		std::sort(keep.begin(), keep.end());
		EXPECT_EQ(listing, keep) << arguments;
	}
};

TEST_F(Errors, MissingEmptyAndWrongKindInputs)
{
	ExpectRefused("convert none.y4m o.mov", "none.y4m", "o.mov", {});
	ExpectRefused("convert none.wav o.ogg", "none.wav", "o.ogg", {});
	ExpectRefused("info none.mov", "none.mov", "x", {});
	for (const char* name : {"e.y4m", "e.wav", "e.ogg", "e.mov", "e.png"}) {
		WriteFile(Path(name), "");
		const std::string out =
		        std::string(name)[2] == 'w' || std::string(name)[2] == 'o' ? "o.wav" : "o.y4m";
		const std::string in = name;
		ExpectRefused("convert " + in + " " +
		                      (in == "e.ogg"   ? "o.wav"
		                       : in == "e.wav" ? "o.ogg"
		                       : in == "e.mov" ? "o.y4m"
		                                       : "o.mov"),
		              in, out, {in});
		unlink(Path(name).c_str());
	}
	// Text under media names.
	for (const char* name : {"t.y4m", "t.wav", "t.ogg", "t.mov", "t.flac", "t.png"}) {
		WriteFile(Path(name), "This is not media at all, just a line of text.\n");
		const std::string in = name;
		const std::string out = in == "t.mov" ? "o.y4m" : in == "t.y4m" || in == "t.png" ? "o.mov" : "o.wav";
		ExpectRefused("convert " + in + " " + out, in, out, {in});
		ExpectRefused("info " + in, in, "x", {in});
		unlink(Path(name).c_str());
	}
}

TEST_F(Errors, TruncatedAndCorruptAudio)
{
	if (!HaveProgram("sox") || !HaveProgram("oggenc"))
		GTEST_SKIP() << "sox and oggenc are needed";
	ASSERT_EQ(
	        Shell("sox -n -r 44100 -c 2 -b 16 s.wav synth 1 sine 440 && sox s.wav s.aiff && sox s.wav s.flac "
	              "&& "
	              "oggenc -Q -o s.ogg s.wav && head -c 5000 s.wav > cut.wav && head -c 5000 s.aiff > "
	              "cut.aiff && "
	              "head -c 5000 s.flac > cut.flac && head -c 3000 s.ogg > cut.ogg && rm s.wav s.aiff s.flac")
	                .status,
	        0);
	// A corrupt page in the middle of the Vorbis stream.
	std::string ogg = ReadFile(Path("s.ogg"));
	for (size_t i = ogg.size() / 2; i < ogg.size() / 2 + 64; i++)
		ogg[i] = (char)0xA5;
	WriteFile(Path("bad.ogg"), ogg);
	const std::vector<std::string> all = {"cut.wav", "cut.aiff", "cut.flac", "cut.ogg", "bad.ogg", "s.ogg"};
	for (const char* in : {"cut.wav", "cut.aiff", "cut.flac"})
		ExpectRefused(std::string("convert ") + in + " o.ogg", in, "o.ogg", all);
	ExpectRefused("convert cut.ogg o.wav", "cut.ogg", "o.wav", all);
	ExpectRefused("convert bad.ogg o.wav", "bad.ogg", "o.wav", all);
}

TEST_F(Errors, TruncatedAndCorruptY4m)
{
	Clip clip = MovingClip(32, 16, 3);
	WriteY4m(Path("good.y4m"), clip);
	const std::string good = ReadFile(Path("good.y4m"));
	WriteFile(Path("cut.y4m"), good.substr(0, good.size() - 100));
	WriteFile(Path("header.y4m"), "YUV4MPEG2 W0 H16 F25:1\nFRAME\n");
	WriteFile(Path("huge.y4m"), "YUV4MPEG2 W4000000 H4000000 F25:1\nFRAME\n");
	WriteFile(Path("odd.y4m"), "YUV4MPEG2 W33 H16 F25:1\nFRAME\n" + std::string(33 * 16 * 2, 'x'));
	WriteFile(Path("deep.y4m"), "YUV4MPEG2 W32 H16 F25:1 C420p10\nFRAME\n" + std::string(32 * 16 * 4, 'x'));
	WriteFile(Path("rate.y4m"), "YUV4MPEG2 W32 H16 F25:0\nFRAME\n");
	WriteFile(Path("marker.y4m"),
	          good.substr(0, good.find('\n') + 1) + "FRAMX\n" + std::string(32 * 16 * 3 / 2, 'x'));
	WriteFile(Path("long.y4m"), "YUV4MPEG2 " + std::string(10000, 'X') + "\n");
	const std::vector<std::string> all = {"good.y4m", "cut.y4m",  "header.y4m", "huge.y4m", "odd.y4m",
	                                      "deep.y4m", "rate.y4m", "marker.y4m", "long.y4m"};
	// The output kind that needs no add-on keeps these independent of the codec: Y4M readers fail
	// before any writer is opened, or while the frames are read.
	for (const char* in : {"header.y4m", "huge.y4m", "deep.y4m", "rate.y4m", "long.y4m"}) {
		ExpectRefused(std::string("info ") + in, in, "x", all);
		ExpectRefused(std::string("convert ") + in + " o.mov", in, "o.mov", all);
	}
	// An odd width is described, and refused where the frames would go on as 4:2:2.
	EXPECT_EQ(Tool("info odd.y4m").status, 0);
	ExpectRefused("convert odd.y4m o.mov", "odd.y4m", "o.mov", all);
	if (HaveKorvo()) {
		ExpectRefused("convert cut.y4m o.mov", "cut.y4m", "o.mov", all);
		ExpectRefused("convert marker.y4m o.mov", "marker.y4m", "o.mov", all);
	}
}

TEST_F(Errors, TruncatedAndCorruptMovies)
{
	if (!HaveKorvo())
		GTEST_SKIP() << "the Korvo add-ons are not built";
	WriteY4m(Path("in.y4m"), MovingClip(64, 48, 8));
	ASSERT_EQ(Tool("convert in.y4m k.mov").status, 0);
	const std::string movie = ReadFile(Path("k.mov"));
	WriteFile(Path("cut.mov"), movie.substr(0, movie.size() / 2));
	// A sample size far past the file in the sample size table.
	std::string sizes = movie;
	const size_t stsz = sizes.find("stsz");
	ASSERT_NE(stsz, std::string::npos);
	sizes.replace(stsz + 16, 4, "\x7f\xff\xff\xff");
	WriteFile(Path("sizes.mov"), sizes);
	// The first frame's bytes wiped: the decoder finds no picture in it.
	std::string wiped = movie;
	const size_t mdat = wiped.find("mdat");
	ASSERT_NE(mdat, std::string::npos);
	for (size_t i = mdat + 12; i < mdat + 200; i++)
		wiped[i] = 0;
	WriteFile(Path("wiped.mov"), wiped);
	const std::vector<std::string> all = {"in.y4m", "k.mov", "cut.mov", "sizes.mov", "wiped.mov"};
	for (const char* in : {"cut.mov", "sizes.mov", "wiped.mov"}) {
		ExpectRefused(std::string("convert ") + in + " o.y4m", in, "o.y4m", all);
		ExpectRefused(std::string("convert ") + in + " o.png", in, "o00000.png", all);
	}
	ExpectRefused("info cut.mov", "cut.mov", "x", all);
}

TEST_F(Errors, FailedRunLeavesTheEarlierOutput)
{
	if (!HaveProgram("sox"))
		GTEST_SKIP() << "sox is needed";
	ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 s.wav synth 0.2 sine 440 && head -c 3000 s.wav > cut.wav")
	                  .status,
	          0);
	ASSERT_EQ(Tool("convert s.wav out.ogg").status, 0);
	const std::string before = ReadFile(Path("out.ogg"));
	ASSERT_FALSE(before.empty());
	ExpectRefused("convert cut.wav out.ogg", "cut.wav", "none", {"s.wav", "cut.wav", "out.ogg"});
	EXPECT_EQ(ReadFile(Path("out.ogg")), before);
	// Outputs that cannot be made.
	ExpectRefused("convert s.wav no/such/folder/o.ogg", "no/such/folder/o.ogg", "o.ogg",
	              {"s.wav", "cut.wav", "out.ogg"});
	Result r = Tool("convert s.wav s.wav");
	EXPECT_EQ(r.status, 2) << r.err;
	EXPECT_EQ(r.err, "mediaconv: s.wav: the output would overwrite the input\n");
}

}  // namespace
