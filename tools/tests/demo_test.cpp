// `mediaconv demo` needs no input: it makes its material, runs every add-on, writes its files and
// ends with the table.
#include "tool_test_support.h"

using namespace tooltest;

namespace {

class Demo : public ToolTest {};

TEST_F(Demo, MakesTheFilesAndTheTable)
{
	Result r = Tool("demo out --quiet");
	EXPECT_EQ(r.out.rfind("Demo files in out/\nfile ", 0), 0u) << r.out;
	for (const char* file :
	     {"signal.wav", "signal.ogg", "signal-decoded.wav", "signal-g723.wav", "clip.y4m"}) {
		EXPECT_GT(FileSize(Path(std::string("out/") + file)), 1000) << file;
		EXPECT_NE(r.out.find(std::string("\n") + file + " "), std::string::npos) << file;
	}
	EXPECT_NE(r.out.find("Ogg Vorbis"), std::string::npos);
	EXPECT_NE(r.out.find("G.723_3"), std::string::npos);
	EXPECT_NE(r.out.find("SNR "), std::string::npos);
	// The demo's own material: 100 frames of 352x288 4:2:0.
	EXPECT_EQ(FileSize(Path("out/clip.y4m")),
	          (long)(strlen("YUV4MPEG2 W352 H288 F25:1 Ip A1:1 C420jpeg\n") + 100 * (6 + 352 * 288 * 3 / 2)));
	if (!HaveKorvo()) {
		EXPECT_EQ(r.status, 1);
		EXPECT_NE(r.out.find("failed: out/clip.mov"), std::string::npos) << r.out;
		return;
	}
	EXPECT_EQ(r.status, 0) << r.err;
	for (const char* file : {"clip.mov", "clip-decoded.y4m", "png/frame00000.png", "png/frame00099.png"})
		EXPECT_GT(FileSize(Path(std::string("out/") + file)), 1000) << file;
	EXPECT_NE(r.out.find("Korvo Vela 3.5"), std::string::npos);
	EXPECT_NE(r.out.find("PSNR Y "), std::string::npos);
	EXPECT_EQ(r.out.find("failed"), std::string::npos) << r.out;
}

}  // namespace
