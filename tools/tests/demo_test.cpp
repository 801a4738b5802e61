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
	// The legend explains G.723's rate, and the row agrees with it: 3 bits per sample at 44.1 kHz
	// stereo, plus the WAV header over four seconds.
	EXPECT_NE(
	        r.out.find("G.723 codes 3 bits per sample at the input's rate: 44100 Hz x 2 channels x 3 bits = "
	                   "264.6 kb/s"),
	        std::string::npos)
	        << r.out;
	const size_t g723 = r.out.find("\nsignal-g723.wav ");
	ASSERT_NE(g723, std::string::npos);
	double rate = 0;
	ASSERT_EQ(sscanf(r.out.c_str() + r.out.find(" kb/s", g723) - 8, "%lf", &rate), 1) << r.out;
	EXPECT_NEAR(rate, 264.6, 0.3) << r.out;
	EXPECT_NE(r.out.find("size      bytes of the whole file"), std::string::npos) << r.out;
	// The demo's own material: 100 progressive frames of 352x288 4:2:0 with square pixels.
	const std::string clip = ReadFile(Path("out/clip.y4m"));
	EXPECT_EQ(clip.substr(0, clip.find('\n')), "YUV4MPEG2 W352 H288 F25:1 Ip A1:1 C420jpeg");
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
	// Both tunings of the same clip, each with its size, quality and speeds.
	for (const char* row : {"\nclip.mov                 Korvo Vela 3.5 (better)   ",
	                        "\nclip-classic.mov         Korvo Vela 3.5 (classic)  "}) {
		const size_t at = r.out.find(row);
		ASSERT_NE(at, std::string::npos) << row << "\n" << r.out;
		const std::string line = r.out.substr(at + 1, r.out.find('\n', at + 1) - at - 1);
		EXPECT_NE(line.find(" kb/s  PSNR Y "), std::string::npos) << line;
		EXPECT_NE(line.find(" fps"), std::string::npos) << line;
	}
	EXPECT_GT(FileSize(Path("out/clip-classic.y4m")), 1000);
	EXPECT_NE(ReadFile(Path("out/clip-classic.mov")), ReadFile(Path("out/clip.mov")));
	EXPECT_EQ(r.out.find("failed"), std::string::npos) << r.out;
}

}  // namespace
