// The command line's honest answers: options that do not apply to a conversion, codec names as
// 'codecs' lists them, mistyped commands, what standard input holds, and the limits of the video
// add-ons named before any encoder is tried. Each by exit status and the message's key words.
#include <png.h>

#include "tool_test_support.h"

using namespace tooltest;

namespace {

class Messages : public ToolTest {
protected:
	// A usage error: status 2, one line on standard error holding every word of `words`, nothing on
	// standard output and no file left behind.
	void ExpectUsage(const std::string& arguments, std::vector<std::string> words)
	{
		const std::vector<std::string> before = Listing();
		Result r = Tool(arguments);
		EXPECT_EQ(r.status, 2) << arguments << "\n" << r.err;
		EXPECT_EQ(r.out, "") << arguments;
		EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << arguments << "\n" << r.err;
		for (const std::string& w : words)
			EXPECT_NE(r.err.find(w), std::string::npos) << arguments << ": no \"" << w << "\" in\n" << r.err;
		EXPECT_EQ(Listing(), before) << arguments;
	}
};

TEST_F(Messages, OptionsThatDoNotApplyAreRefusedByName)
{
	WriteY4m(Path("in.y4m"), MovingClip(32, 16, 2));
	WriteFile(Path("in.mov"), "not read: the options are checked first");
	ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 16 s.wav synth 0.1 sine 400").status, 0);
	WriteFile(Path("s.ogg"), "not read either");
	// Y4M carries its own frame rate; --rate is for PNG sequences.
	ExpectUsage("convert in.y4m out.mov --rate 30", {"--rate", "Y4M video to QuickTime movie", "PNG"});
	// Nothing is encoded when a movie is decoded.
	ExpectUsage("convert in.mov out.y4m --quality 0.5", {"--quality", "QuickTime movie to Y4M video"});
	ExpectUsage("convert in.mov out.y4m --codec korvo", {"--codec"});
	ExpectUsage("convert in.mov out.y4m --psnr", {"--psnr"});
	ExpectUsage("convert in.mov out.png --optimal", {"--optimal", "video encoder"});
	// Video settings on audio; PCM written as it is has no quality.
	ExpectUsage("convert s.wav out.ogg --artifact-reduction",
	            {"--artifact-reduction", "WAV audio to Ogg Vorbis audio"});
	ExpectUsage("convert s.wav out.ogg --ssim", {"--ssim"});
	ExpectUsage("convert s.ogg out.wav --quality 0.3", {"--quality", "Ogg Vorbis audio to WAV audio"});
	ExpectUsage("convert in.y4m out.mov --channels 2", {"--channels", "Y4M video to QuickTime movie"});
}

TEST_F(Messages, OptionsThatApplyStillWork)
{
	ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 16 s.wav synth 0.2 sine 400").status, 0);
	Result r = Tool("convert s.wav g.wav --codec G723 --start 100");
	EXPECT_EQ(r.status, 0) << r.err;
	r = Tool("convert s.wav v.ogg --frames 800");
	EXPECT_EQ(r.status, 0) << r.err;
	if (HaveKorvo()) {
		WriteY4m(Path("in.y4m"), MovingClip(32, 16, 2));
		r = Tool("convert in.y4m k.mov --quality 0.3 --optimal --psnr --start 1");
		EXPECT_EQ(r.status, 0) << r.err;
	}
	// G.723 codes at one fixed rate: a quality asked for cannot be honoured.
	r = Tool("convert s.wav q.wav --codec g723 --quality 0.2");
	EXPECT_EQ(r.status, 2) << r.err;
	EXPECT_NE(r.err.find("--quality"), std::string::npos) << r.err;
	EXPECT_NE(r.err.find("G.723_3"), std::string::npos) << r.err;
	EXPECT_FALSE(Exists(Path("q.wav")));
}

TEST_F(Messages, CodecNamesAsCodecsListsThem)
{
	Result r = Tool("codecs");
	ASSERT_EQ(r.status, 0) << r.err;
	const std::string list = r.out.substr(0, r.out.find("Add-ons in"));
	EXPECT_NE(list.find("vorbis"), std::string::npos) << list;
	EXPECT_NE(list.find("g723 "), std::string::npos) << list;
	if (HaveKorvo()) {
		EXPECT_NE(list.find("korvo"), std::string::npos) << list;
		EXPECT_NE(list.find("krv1"), std::string::npos) << list;
		// Two add-ons of one codec (krv1.encoder and krv1.encoder.generic) make one line.
		size_t lines = 0;
		for (size_t at = list.find("Korvo Vela"); at != std::string::npos;
		     at = list.find("Korvo Vela", at + 1))
			lines++;
		EXPECT_EQ(lines, 1u) << list;
		WriteY4m(Path("in.y4m"), MovingClip(32, 16, 2));
		for (const char* name : {"korvo", "KRV1", "Korvo", "krv1"}) {
			r = Tool(std::string("convert in.y4m k.mov --codec ") + name);
			EXPECT_EQ(r.status, 0) << name << ": " << r.err;
		}
		// A codec that exists but writes something else.
		ExpectUsage("convert in.y4m v.mov --codec vorbis",
		            {"--codec vorbis", "Ogg Vorbis", "QuickTime movie"});
	}
	ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 16 s.wav synth 0.1 sine 400").status, 0);
	for (const char* name : {"VORBIS", "Vorbis", "ogg"}) {
		r = Tool(std::string("convert s.wav o.ogg --codec ") + name);
		EXPECT_EQ(r.status, 0) << name << ": " << r.err;
	}
	// An unknown name is a usage error, answered with the names there are, each once.
	ExpectUsage("convert s.wav x.wav --codec foo",
	            {"--codec foo", "no such codec", "vorbis", "g723", "mediaconv codecs"});
	r = Tool("convert s.wav x.wav --codec foo");
	EXPECT_EQ(r.err.find("vorbis"), r.err.rfind("vorbis")) << r.err;
	// A substring of a name is no name.
	ExpectUsage("convert s.wav x.wav --codec g7", {"no such codec"});
}

TEST_F(Messages, MistypedCommandsAreAnsweredWithTheRightOne)
{
	const struct {
		const char* command;
		const char* rest;
		const char* meant;
	} kCases[] = {{"conver", " a b", "convert"},
	              {"covnert", " a b", "convert"},
	              {"inf", " x", "info"},
	              {"codec", "", "codecs"},
	              {"demp", "", "demo"}};
	for (const auto& c : kCases)
		ExpectUsage(std::string(c.command) + c.rest, {std::string("unknown command \"") + c.command + "\"",
		                                              std::string("did you mean \"") + c.meant + "\""});
	Result r = Tool("frobnicate");
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("unknown command \"frobnicate\""), std::string::npos) << r.err;
	EXPECT_EQ(r.err.find("did you mean"), std::string::npos) << r.err;
	r = Shell("\"$MC\"");
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("a command is required"), std::string::npos) << r.err;
}

TEST_F(Messages, StandardInputIsNamedByWhatItHolds)
{
	ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 16 a.wav synth 0.1 sine 400 && sox a.wav a.flac").status, 0);
	const struct {
		const char* input;
		const char* found;
	} kCases[] = {{"a.wav", "holds WAV audio"}, {"a.flac", "holds FLAC audio"}};
	for (const auto& c : kCases) {
		for (const char* out : {"x.ogg", "x.mov"}) {
			Result r = Tool(std::string("convert - ") + out + " < " + c.input);
			EXPECT_EQ(r.status, 1) << c.input << " " << out;
			EXPECT_NE(r.err.find(std::string("standard input ") + c.found), std::string::npos) << r.err;
			EXPECT_NE(r.err.find("Y4M"), std::string::npos) << r.err;
			EXPECT_FALSE(Exists(Path(out)));
		}
	}
	WriteFile(Path("text"), "plain words\n");
	Result r = Tool("convert - x.mov < text");
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("standard input holds no media this tool knows"), std::string::npos) << r.err;
	r = Tool("convert - x.mov < /dev/null");
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("standard input is empty"), std::string::npos) << r.err;
}

// A smooth 8-bit RGB picture.
std::vector<uint8_t> Gradient(uint32_t width, uint32_t height)
{
	std::vector<uint8_t> rgb((size_t)width * height * 3);
	for (uint32_t y = 0; y < height; y++) {
		for (uint32_t x = 0; x < width; x++) {
			uint8_t* p = &rgb[((size_t)y * width + x) * 3];
			p[0] = (uint8_t)(40 + 160 * x / width);
			p[1] = (uint8_t)(200 - 150 * x / width);
			p[2] = (uint8_t)(60 + 8 * y);
		}
	}
	return rgb;
}

bool WriteRgbPng(const std::string& path, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb)
{
	png_image image{};
	image.version = PNG_IMAGE_VERSION;
	image.width = width;
	image.height = height;
	image.format = PNG_FORMAT_RGB;
	return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr);
}

std::vector<uint8_t> ReadRgbPng(const std::string& path, uint32_t* width)
{
	png_image image{};
	image.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_file(&image, path.c_str()))
		return {};
	image.format = PNG_FORMAT_RGB;
	std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
	*width = image.width;
	return png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) ? rgb : std::vector<uint8_t>();
}

TEST_F(Messages, WidePicturesGoAs422BothWays)
{
	if (!HaveKorvo())
		GTEST_SKIP() << "the Korvo add-ons are not built";
	// 4096 BGRA pixels are 16384 bytes a row, one more than the add-ons take: in and out as 4:2:2.
	const std::vector<uint8_t> picture = Gradient(4096, 16);
	ASSERT_TRUE(WriteRgbPng(Path("wide.png"), 4096, 16, picture));
	Result r = Tool("convert wide.png wide.mov");
	ASSERT_EQ(r.status, 0) << r.err;
	r = Tool("convert wide.mov back.png");
	ASSERT_EQ(r.status, 0) << r.err;
	uint32_t width = 0;
	const std::vector<uint8_t> back = ReadRgbPng(Path("back00000.png"), &width);
	ASSERT_EQ(width, 4096u);
	ASSERT_EQ(back.size(), picture.size());
	double se = 0;
	for (size_t i = 0; i < back.size(); i++)
		se += ((double)back[i] - picture[i]) * ((double)back[i] - picture[i]);
	EXPECT_GT(10 * std::log10(255.0 * 255.0 * back.size() / se), 30.0);
	// 8192 pixels fit neither way.
	ASSERT_TRUE(WriteRgbPng(Path("wider.png"), 8192, 16, Gradient(8192, 16)));
	r = Tool("convert wider.png wider.mov");
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("rows of 8192 BGRA pixels exceed 16383 bytes"), std::string::npos) << r.err;
	EXPECT_FALSE(Exists(Path("wider.mov")));
}

TEST_F(Messages, LimitsOfTheVideoAddOnsAreNamed)
{
	// 4096x2160 and 4080x4080 fit the 16383-byte rows as 4:2:2 but pass 32767 macroblocks.
	const struct {
		int width, height;
		const char* words;
	} kTooLarge[] = {{4096, 2160, "4096x2160 pictures are 34560 macroblocks"},
	                 {4080, 4080, "4080x4080 pictures are 65025 macroblocks"}};
	for (const auto& c : kTooLarge) {
		const std::string y4m = "YUV4MPEG2 W" + std::to_string(c.width) + " H" + std::to_string(c.height) +
		                        " F25:1 C420jpeg\nFRAME\n" +
		                        std::string((size_t)c.width * c.height * 3 / 2, 'x');
		WriteFile(Path("big.y4m"), y4m);
		Result r = Tool("convert big.y4m big.mov");
		EXPECT_EQ(r.status, 1) << r.err;
		EXPECT_NE(r.err.find(c.words), std::string::npos) << r.err;
		EXPECT_NE(r.err.find("at most 32767"), std::string::npos) << r.err;
		EXPECT_FALSE(Exists(Path("big.mov")));
	}
	// Odd widths are named with the format the clip is in.
	for (int chroma : {420, 444}) {
		WriteY4m(Path("odd.y4m"), MovingClip(333, 241, 1, chroma));
		Result r = Tool("convert odd.y4m odd.mov");
		EXPECT_EQ(r.status, 1) << r.err;
		const std::string format = chroma == 420 ? "4:2:0" : "4:4:4";
		EXPECT_NE(r.err.find("333x241 " + format + " video has an odd width"), std::string::npos) << r.err;
		// And the clip can still be described.
		r = Tool("info odd.y4m");
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_NE(r.out.find("333x241"), std::string::npos) << r.out;
	}
}

}  // namespace
