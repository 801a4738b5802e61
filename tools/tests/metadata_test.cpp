// Interlacing, pixel aspect and colour range of Y4M clips through movies and back, read by mediainfo
// as an independent judge; what an output cannot keep is said once.
#include "tool_test_support.h"

using namespace tooltest;

namespace {

class Metadata : public ToolTest {
protected:
	void SetUp() override
	{
		ToolTest::SetUp();
		if (!HaveKorvo())
			GTEST_SKIP() << "the Korvo add-ons are not built";
	}

	// A 4:2:0 clip whose header carries `tags` after the size and rate.
	void WriteTagged(const std::string& name, const std::string& tags)
	{
		const Clip clip = MovingClip(48, 32, 3);
		WriteY4m(Path("plain.y4m"), clip);
		std::string data = ReadFile(Path("plain.y4m"));
		const size_t eol = data.find('\n');
		data.replace(0, eol, "YUV4MPEG2 W48 H32 F25:1 " + tags + " C420jpeg");
		WriteFile(Path(name), data);
	}

	std::string Header(const std::string& name)
	{
		const std::string data = ReadFile(Path(name));
		return data.substr(0, data.find('\n'));
	}
};

TEST_F(Metadata, TagsGoThroughMoviesAndBack)
{
	const struct {
		const char* tags;
		const char* back;       // the Y4M header's tags after the round trip
		const char* info;       // what info says
		const char* mediainfo;  // what mediainfo says of the movie
	} kCases[] = {
	        {"It A16:15 XCOLORRANGE=FULL", "It A16:15 C420jpeg XCOLORRANGE=FULL", "top field first",
	         "Top Field First"},
	        {"Ib A32:27 XCOLORRANGE=LIMITED", "Ib A32:27 C420jpeg XCOLORRANGE=LIMITED", "bottom field first",
	         "Bottom Field First"},
	        {"Ip A1:1", "Ip A1:1 C420jpeg", "progressive", "Progressive"},
	        {"I? A0:0", "I? A0:0 C420jpeg", "", ""},
	};
	for (const auto& c : kCases) {
		WriteTagged("in.y4m", c.tags);
		Result r = Tool("convert in.y4m k.mov");
		ASSERT_EQ(r.status, 0) << c.tags << "\n" << r.err;
		EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
		r = Tool("convert k.mov back.y4m");
		ASSERT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(Header("back.y4m"), std::string("YUV4MPEG2 W48 H32 F25:1 ") + c.back) << c.tags;
		r = Tool("info k.mov");
		ASSERT_EQ(r.status, 0) << r.err;
		if (c.info[0])
			EXPECT_NE(r.out.find(std::string("interlacing: ") + c.info), std::string::npos) << r.out;
		else
			EXPECT_EQ(r.out.find("interlacing:"), std::string::npos) << r.out;
		if (!HaveProgram("mediainfo") || !c.mediainfo[0])
			continue;
		const Result m = Shell("mediainfo k.mov");
		EXPECT_NE(m.out.find(c.mediainfo), std::string::npos) << c.tags << "\n" << m.out;
	}
	// mediainfo reads the pixel aspect and the range of the first case back too.
	if (HaveProgram("mediainfo")) {
		WriteTagged("in.y4m", "It A16:15 XCOLORRANGE=FULL");
		ASSERT_EQ(Tool("convert in.y4m k.mov").status, 0);
		const Result m = Shell("mediainfo --Inform='Video;%PixelAspectRatio%|%colour_range%' k.mov");
		EXPECT_EQ(m.out.substr(0, m.out.find_last_not_of("\n") + 1), "1.067|Full") << m.out;
	}
}

TEST_F(Metadata, WhatCannotBeKeptIsSaidOnce)
{
	WriteTagged("mixed.y4m", "Im A1:1");
	Result r = Tool("convert mixed.y4m m.mov");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("warning: m.mov cannot keep the mixed interlacing of mixed.y4m"), std::string::npos)
	        << r.err;
	EXPECT_EQ(r.err.find("warning"), r.err.rfind("warning")) << r.err;

	WriteTagged("sited.y4m", "It A16:15 XCOLORRANGE=FULL XFOO=1");
	std::string data = ReadFile(Path("sited.y4m"));
	data.replace(data.find("C420jpeg"), 8, "C420mpeg2");
	WriteFile(Path("sited.y4m"), data);
	r = Tool("convert sited.y4m s.mov");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("chroma siting 420mpeg2, Y4M parameter XFOO=1"), std::string::npos) << r.err;
	EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;  // the warning and the summary

	// PNG files keep none of the three.
	r = Tool("convert s.mov frames/ --quiet");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err,
	          "mediaconv: warning: frames/ cannot keep the top field first interlacing, pixel aspect 16:15, "
	          "full colour range of s.mov\n");
}

TEST_F(Metadata, MalformedTagsAreRefusedOrPassedOver)
{
	WriteTagged("bad.y4m", "Ix");
	Result r = Tool("info bad.y4m");
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("bad interlacing \"Ix\""), std::string::npos) << r.err;
	WriteTagged("bad.y4m", "A5:0");
	r = Tool("info bad.y4m");
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("bad pixel aspect \"A5:0\""), std::string::npos) << r.err;

	// A movie whose 'fiel' and 'pasp' boxes are cut or nonsense still plays; the tags are unknown.
	WriteTagged("in.y4m", "It A16:15");
	ASSERT_EQ(Tool("convert in.y4m k.mov").status, 0);
	std::string movie = ReadFile(Path("k.mov"));
	const size_t fiel = movie.find("fiel");
	ASSERT_NE(fiel, std::string::npos);
	movie[fiel + 4] = 7;  // seven fields
	const size_t pasp = movie.find("pasp");
	ASSERT_NE(pasp, std::string::npos);
	movie.replace(pasp + 4, 8, std::string(8, '\0'));  // 0:0
	WriteFile(Path("odd.mov"), movie);
	r = Tool("convert odd.mov back.y4m");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(Header("back.y4m"), "YUV4MPEG2 W48 H32 F25:1 I? A0:0 C420jpeg");
}

}  // namespace
