// Video conversions end to end. PNG sequences go through the host's lossless raw test codec, so the
// tool's picture handling is checked bit for bit; Y4M and PNG through the Korvo add-ons are checked
// for frame counts, rates, seeking and a PSNR measured here from the files.
#include <png.h>

#include <sstream>

#include "tool_test_support.h"

using namespace tooltest;

namespace {

// RGB pixels of a PNG file (empty if it cannot be read).
std::vector<uint8_t> ReadPng(const std::string& path, uint32_t* width = nullptr, uint32_t* height = nullptr)
{
	png_image image{};
	image.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_file(&image, path.c_str()))
		return {};
	image.format = PNG_FORMAT_RGB;
	std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
	if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
		return {};
	if (width)
		*width = image.width;
	if (height)
		*height = image.height;
	return pixels;
}

std::vector<uint8_t> PngPicture(uint32_t width, uint32_t height, int frame)
{
	std::vector<uint8_t> rgb((size_t)width * height * 3);
	for (size_t i = 0; i < rgb.size(); i++)
		rgb[i] = (uint8_t)(i * 13 + frame * 71 + (i / 7) * 3);
	return rgb;
}

void WritePng(const std::string& path, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb)
{
	png_image image{};
	image.version = PNG_IMAGE_VERSION;
	image.width = width;
	image.height = height;
	image.format = PNG_FORMAT_RGB;
	ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) << path;
}

class Video : public ToolTest {
protected:
	Result Raw(const std::string& arguments) const
	{
		return Shell("\"$MC\" --addons '" MEDIACONV_RAW_ADDONS "' " + arguments);
	}
};

TEST_F(Video, PngSequenceThroughRawCodecIsExact)
{
	if (!Exists(MEDIACONV_RAW_ADDONS "/encoders/test.raw.encoder"))
		GTEST_SKIP() << "the host's test add-ons are not built";
	constexpr uint32_t kW = 32, kH = 16;
	ASSERT_EQ(system(("mkdir -p '" + Path("in") + "'").c_str()), 0);
	for (int i = 0; i < 6; i++)
		WritePng(Path("in/frame" + std::string(i < 10 ? "0000" : "000") + std::to_string(i) + ".png"), kW, kH,
		         PngPicture(kW, kH, i));
	Result r = Raw("convert in/frame%05d.png raw.mov --codec testraw --rate 12.5");
	ASSERT_EQ(r.status, 0) << r.err;
	r = Raw("info raw.mov");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("32x16 at 12.500 fps"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("frames:     6"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("key frames: 2 (frame 0, 4)"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("testraw"), std::string::npos) << r.out;

	// Back out into a folder that does not exist yet.
	r = Raw("convert raw.mov out/");
	ASSERT_EQ(r.status, 0) << r.err;
	for (int i = 0; i < 6; i++) {
		uint32_t w = 0, h = 0;
		const std::string name = Path("out/frame0000" + std::to_string(i) + ".png");
		EXPECT_EQ(ReadPng(name, &w, &h), PngPicture(kW, kH, i)) << name;
		EXPECT_EQ(w, kW);
		EXPECT_EQ(h, kH);
	}
	EXPECT_FALSE(Exists(Path("out/frame00006.png")));

	// Frame 3 lies after key frame 0: the seek decodes up to it and the output starts exactly there.
	r = Raw("convert raw.mov part%d.png --start 3 --frames 2");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(ReadPng(Path("part0.png")), PngPicture(kW, kH, 3));
	EXPECT_EQ(ReadPng(Path("part1.png")), PngPicture(kW, kH, 4));
	EXPECT_FALSE(Exists(Path("part2.png")));

	// A picture of another size in the middle of the sequence stops the run and leaves no output.
	WritePng(Path("in/frame00002.png"), 16, 16, PngPicture(16, 16, 2));
	r = Raw("convert in/frame%05d.png bad.mov --codec testraw");
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("frame00002.png: is 16x16, not 32x16"), std::string::npos) << r.err;
	EXPECT_FALSE(Exists(Path("bad.mov")));
}

class Korvo : public ToolTest {
protected:
	void SetUp() override
	{
		ToolTest::SetUp();
		if (!HaveKorvo())
			GTEST_SKIP() << "the Korvo add-ons are not built";
	}
};

TEST_F(Korvo, Y4mRoundTripKeepsQuality)
{
	const Clip clip = MovingClip(64, 48, 30);
	WriteY4m(Path("in.y4m"), clip);
	Result r = Tool("convert in.y4m k.mov");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "");
	r = Tool("convert k.mov back.y4m");
	ASSERT_EQ(r.status, 0) << r.err;
	std::string header;
	const Clip back = ReadY4m(Path("back.y4m"), &header);
	EXPECT_EQ(header, "YUV4MPEG2 W64 H48 F25:1 Ip A1:1 C420jpeg");
	ASSERT_EQ(back.y.size(), 30u);
	const double psnr = PsnrY(clip, back);
	printf("Y4M round trip, 64x48, 30 frames, default quality: PSNR-Y %.2f dB, %ld bytes\n", psnr,
	       FileSize(Path("k.mov")));
	EXPECT_GE(psnr, 34.0);

	r = Tool("info k.mov");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("QuickTime movie"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("Korvo Vela 3.5"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("64x48 at 25.000 fps"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("frames:     30"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("key frames: "), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("(frame 0"), std::string::npos) << r.out;

	// A third-party reader sees the same movie.
	if (HaveProgram("mediainfo")) {
		r = Shell("mediainfo k.mov");
		EXPECT_NE(r.out.find("KRV1"), std::string::npos) << r.out;
		EXPECT_NE(r.out.find("64 pixels"), std::string::npos) << r.out;
		EXPECT_NE(r.out.find("25.000 FPS"), std::string::npos) << r.out;
	}

	// Lower quality, smaller file.
	r = Tool("convert in.y4m low.mov --quality 0.3");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_LT(FileSize(Path("low.mov")), FileSize(Path("k.mov")));
}

TEST_F(Korvo, StartAndFramesAgreeWithTheFullDecode)
{
	WriteY4m(Path("in.y4m"), MovingClip(64, 48, 30));
	ASSERT_EQ(Tool("convert in.y4m k.mov").status, 0);
	ASSERT_EQ(Tool("convert k.mov all.y4m").status, 0);
	Result r = Tool("convert k.mov part.y4m --start 10 --frames 5");
	ASSERT_EQ(r.status, 0) << r.err;
	const Clip all = ReadY4m(Path("all.y4m")), part = ReadY4m(Path("part.y4m"));
	ASSERT_EQ(part.y.size(), 5u);
	for (int i = 0; i < 5; i++) {
		EXPECT_EQ(part.y[i], all.y[10 + i]) << i;
		EXPECT_EQ(part.u[i], all.u[10 + i]) << i;
	}
	// Standard output carries the Y4M stream alone (the add-ons' diagnostics stay off it), and
	// standard input takes one.
	r = Shell("( \"$MC\" --addons '" MEDIACONV_ADDONS "' convert k.mov - > piped.y4m )");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_TRUE(ReadFile(Path("piped.y4m")) == ReadFile(Path("all.y4m")));
	r = Tool("convert - again.mov < in.y4m");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_TRUE(ReadFile(Path("again.mov")) == ReadFile(Path("k.mov")));

	// On the encoding side --start skips source frames.
	r = Tool("convert in.y4m cut.mov --start 0.2s --frames 10");
	ASSERT_EQ(r.status, 0) << r.err;
	r = Tool("info cut.mov");
	EXPECT_NE(r.out.find("frames:     10"), std::string::npos) << r.out;
	r = Tool("convert in.y4m late.mov --start 30");
	EXPECT_EQ(r.status, 1);
	EXPECT_FALSE(Exists(Path("late.mov")));
}

TEST_F(Korvo, ChromaFormatsRatesAndPng)
{
	for (int chroma : {422, 444}) {
		const std::string in = "c" + std::to_string(chroma) + ".y4m", mov = in + ".mov";
		WriteY4m(Path(in), MovingClip(48, 32, 8, chroma), "30000:1001");
		Result r = Tool("convert " + in + " " + mov);
		ASSERT_EQ(r.status, 0) << r.err;
		r = Tool("convert " + mov + " " + in + ".back.y4m");
		ASSERT_EQ(r.status, 0) << r.err;
		std::string header;
		const Clip back = ReadY4m(Path(in + ".back.y4m"), &header);
		EXPECT_EQ(back.y.size(), 8u);
		EXPECT_NE(header.find("F30000:1001"), std::string::npos) << header;
	}
	WriteY4m(Path("in.y4m"), MovingClip(64, 48, 6));
	ASSERT_EQ(Tool("convert in.y4m k.mov").status, 0);
	Result r = Tool("convert k.mov png/");
	ASSERT_EQ(r.status, 0) << r.err;
	for (int i = 0; i < 6; i++) {
		uint32_t w = 0, h = 0;
		EXPECT_FALSE(ReadPng(Path("png/frame0000" + std::to_string(i) + ".png"), &w, &h).empty()) << i;
		EXPECT_EQ(w, 64u);
		EXPECT_EQ(h, 48u);
	}
	// And the pictures back into a movie.
	r = Tool("convert png/frame%05d.png again.mov");
	ASSERT_EQ(r.status, 0) << r.err;
	r = Tool("info again.mov");
	EXPECT_NE(r.out.find("frames:     6"), std::string::npos) << r.out;
}

// 4:2:0 Y4M reaches the encoder as the planar 4:2:0 it is and comes back from the decoder the same
// way (the add-ons say which layout they were given); at top quality the chroma, whose rows all
// differ, survives nearly untouched, so no step averaged or repeated rows on the way.
TEST_F(Korvo, Y4m420GoesPlanarBothWays)
{
	const Clip clip = MovingClip(96, 64, 6);
	WriteY4m(Path("in.y4m"), clip);
	Result r = Tool("convert in.y4m top.mov --quality 1 --verbose");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("Input is YUV420"), std::string::npos) << r.err;
	r = Tool("convert top.mov top.y4m --verbose");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("Application asked for YUV420"), std::string::npos) << r.err;
	const Clip back = ReadY4m(Path("top.y4m"));
	ASSERT_EQ(back.v.size(), clip.v.size());
	double se = 0, n = 0;
	for (size_t f = 0; f < clip.v.size(); f++)
		for (size_t i = 0; i < clip.v[f].size(); i++) {
			const double d = (double)clip.v[f][i] - back.v[f][i];
			se += d * d;
			n++;
		}
	const double psnrV = se ? 10 * std::log10(255.0 * 255.0 * n / se) : 100;
	EXPECT_GE(psnrV, 45.0);
	EXPECT_GE(PsnrY(clip, back), 36.0);  // the clip's luminance noise costs a few dB even at the top
}

// 4:2:2 and 4:4:4 Y4M input is averaged down to 4:2:0 over the samples each 4:2:0 one covers.
TEST_F(Korvo, Y4mChromaIsAveragedDownTo420)
{
	// They code exactly as the 4:2:0 clip of their rounded chroma averages would; the V rows of the
	// clip all differ, so taking one row of each pair would not.
	for (int chroma : {422, 444}) {
		const Clip source = MovingClip(48, 32, 4, chroma);
		Clip averaged = source;
		averaged.chroma = 420;
		for (size_t f = 0; f < source.y.size(); f++)
			for (auto [in, out] :
			     {std::pair{&source.u[f], &averaged.u[f]}, std::pair{&source.v[f], &averaged.v[f]}}) {
				const int w = source.ChromaWidth(), cw = averaged.ChromaWidth();
				out->assign((size_t)cw * averaged.ChromaHeight(), 0);
				for (int y = 0; y < averaged.ChromaHeight(); y++)
					for (int x = 0; x < cw; x++) {
						const uint8_t* a = &(*in)[(size_t)(2 * y) * w];
						const uint8_t* b = a + w;
						(*out)[(size_t)y * cw + x] =
						        chroma == 444
						                ? (uint8_t)((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >>
						                            2)
						                : (uint8_t)((a[x] + b[x] + 1) >> 1);
					}
			}
		const std::string name = std::to_string(chroma);
		WriteY4m(Path(name + ".y4m"), source);
		WriteY4m(Path(name + "avg.y4m"), averaged);
		ASSERT_EQ(Tool("convert " + name + ".y4m " + name + ".mov").status, 0);
		ASSERT_EQ(Tool("convert " + name + "avg.y4m " + name + "avg.mov").status, 0);
		EXPECT_TRUE(ReadFile(Path(name + ".mov")) == ReadFile(Path(name + "avg.mov"))) << chroma;
	}
	// An odd height goes through packed 4:2:2 and still comes back whole.
	WriteY4m(Path("odd.y4m"), MovingClip(48, 33, 3));
	ASSERT_EQ(Tool("convert odd.y4m odd.mov").status, 0);
	Result r = Tool("convert odd.mov odd.back.y4m");
	ASSERT_EQ(r.status, 0) << r.err;
	const Clip back = ReadY4m(Path("odd.back.y4m"));
	EXPECT_EQ(back.height, 33);
	EXPECT_EQ(back.y.size(), 3u);
	EXPECT_GE(PsnrY(MovingClip(48, 33, 3), back), 30.0);
}

TEST_F(Korvo, ArtifactReductionAndOptimalReachTheEncoderOrAreRefused)
{
	WriteY4m(Path("in.y4m"), MovingClip(64, 48, 10));
	ASSERT_EQ(Tool("convert in.y4m plain.mov").status, 0);
	for (const char* option : {"--artifact-reduction", "--optimal"}) {
		Result r = Tool(std::string("convert in.y4m set.mov ") + option);
		if (r.status == 1) {
			// The encoder publishes no parameter for it: refused, never silently ignored.
			EXPECT_NE(r.err.find("set.mov: encoder \"Korvo Vela 3.5\" offers no "), std::string::npos)
			        << r.err;
			EXPECT_FALSE(Exists(Path("set.mov")));
			continue;
		}
		ASSERT_EQ(r.status, 0) << r.err;
		// In-loop filters always change the stream; trial coding may pick what the default rules
		// picked on so small a clip, so there the encoder's own diagnostics show the switch arriving.
		if (std::string(option) == "--artifact-reduction") {
			EXPECT_NE(ReadFile(Path("set.mov")), ReadFile(Path("plain.mov"))) << option;
		} else {
			Result v = Tool(std::string("convert in.y4m verbose.mov --verbose ") + option);
			ASSERT_EQ(v.status, 0) << v.err;
			EXPECT_NE(v.err.find("SetParameterValue called with id 6"), std::string::npos) << v.err;
		}
		ASSERT_EQ(Tool("convert set.mov set.y4m").status, 0);
		EXPECT_GE(PsnrY(MovingClip(64, 48, 10), ReadY4m(Path("set.y4m"))), 34.0) << option;
		unlink(Path("set.mov").c_str());
	}
}

// --threads 1..4 write byte-identical movies and decode them to identical Y4M, as does the default
// (the number of cores); the count reaches the encoder's web, and is refused where it cannot apply.
TEST_F(Korvo, ThreadCountsGiveIdenticalFiles)
{
	WriteY4m(Path("in.y4m"), MovingClip(176, 112, 12));
	for (const char* filters : {"", " --artifact-reduction"}) {
		ASSERT_EQ(Tool(std::string("convert in.y4m t.mov") + filters).status, 0);
		ASSERT_EQ(Tool("convert t.mov t.y4m").status, 0);
		const std::string movie = ReadFile(Path("t.mov")), decoded = ReadFile(Path("t.y4m"));
		ASSERT_FALSE(movie.empty());
		ASSERT_FALSE(decoded.empty());
		for (int n = 1; n <= 4; n++) {
			const std::string threads = " --threads " + std::to_string(n);
			Result r = Tool("convert in.y4m n.mov" + threads + filters);
			ASSERT_EQ(r.status, 0) << r.err;
			EXPECT_TRUE(ReadFile(Path("n.mov")) == movie) << threads << filters;
			r = Tool("convert t.mov n.y4m" + threads);
			ASSERT_EQ(r.status, 0) << r.err;
			EXPECT_EQ(r.err.find("warning"), std::string::npos) << "the decoder takes the count: " << r.err;
			EXPECT_TRUE(ReadFile(Path("n.y4m")) == decoded) << threads << filters;
			unlink(Path("n.mov").c_str());
			unlink(Path("n.y4m").c_str());
		}
		unlink(Path("t.mov").c_str());
		unlink(Path("t.y4m").c_str());
	}
	Result r = Tool("convert in.y4m v.mov --verbose --threads 3");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("SetParameterValue called with id 12"), std::string::npos) << r.err;

	r = Tool("convert in.y4m z.mov --threads 0");
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("--threads"), std::string::npos) << r.err;
	WriteFile(Path("a.wav"), "not looked at");
	r = Tool("convert a.wav a.ogg --threads 2");
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("--threads does not apply to WAV audio to Ogg Vorbis audio"), std::string::npos)
	        << r.err;
}

// The frames are written behind the decoding of the next ones with threads: a write that fails
// there fails the conversion as it does with one thread, with the same message.
TEST_F(Korvo, AFailedWriteFailsOnAnyThreadCount)
{
	WriteY4m(Path("in.y4m"), MovingClip(176, 144, 6));  // frames larger than the output's buffer
	ASSERT_EQ(Tool("convert in.y4m t.mov").status, 0);
	const Result one = Tool("convert t.mov - --threads 1 >/dev/full");
	EXPECT_EQ(one.status, 1);
	EXPECT_NE(one.err.find("cannot write"), std::string::npos) << one.err;
	for (const char* threads : {"2", "3"}) {
		const Result r = Tool(std::string("convert t.mov - --threads ") + threads + " >/dev/full");
		EXPECT_EQ(r.status, one.status) << threads;
		EXPECT_EQ(r.err, one.err) << threads;
	}
}

// The encoder makes the better tuning's decisions unless --tune classic asks for the original's; the
// summary names the tuning, both movies decode well, and --tune is an option of video encodes only.
TEST_F(Korvo, TuneChoosesTheEncodersDecisions)
{
	const Clip clip = MovingClip(96, 64, 12);
	WriteY4m(Path("in.y4m"), clip);
	std::string movie[2];
	const char* tunings[] = {"classic", "better"};
	for (int i = 0; i < 2; i++) {
		const std::string name = std::string(tunings[i]) + ".mov";
		Result r = Tool("convert in.y4m " + name + " --verbose --tune " + tunings[i]);
		ASSERT_EQ(r.status, 0) << r.err;
		EXPECT_NE(r.err.find("SetParameterValue called with id 13"), std::string::npos) << r.err;
		EXPECT_NE(r.err.find(std::string(", Korvo Vela 3.5 (") + tunings[i] + "), in "), std::string::npos)
		        << r.err;
		movie[i] = ReadFile(Path(name));
		ASSERT_EQ(Tool("convert " + name + " back.y4m").status, 0);
		EXPECT_GE(PsnrY(clip, ReadY4m(Path("back.y4m"))), 34.0) << tunings[i];
	}
	EXPECT_NE(movie[0], movie[1]);
	Result r = Tool("convert in.y4m default.mov");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("Korvo Vela 3.5 (better)"), std::string::npos) << r.err;
	EXPECT_TRUE(ReadFile(Path("default.mov")) == movie[1]) << "better is the default";

	r = Tool("convert in.y4m bad.mov --tune fast");
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("--tune"), std::string::npos) << r.err;
	WriteFile(Path("a.wav"), "not looked at");
	r = Tool("convert a.wav a.ogg --tune classic");
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("--tune does not apply to WAV audio"), std::string::npos) << r.err;
}

// --bitrate reaches the encoder's rate control: the summary's video rate lands near the target and
// agrees with what info reads from the chunks; --quality is then a floor. --keyint spaces the key
// frames as info reads them. Both are options of video encodes only.
TEST_F(Korvo, BitrateAndKeyIntervalReachTheEncoder)
{
	WriteY4m(Path("in.y4m"), MovingClip(128, 96, 75));
	// "...; video <rate> kb/s for --bitrate <target>" at the end of the summary.
	auto videoRate = [](const std::string& err) {
		const size_t at = err.find("; video ");
		return at == std::string::npos ? -1.0 : std::atof(err.c_str() + at + 8);
	};
	auto infoRate = [this](const std::string& movie) {
		Result r = Shell(
		        "\"$MC\" --addons '" MEDIACONV_ADDONS "' info --json " + movie +
		        " | python3 -c \"import json,sys; print(json.load(sys.stdin)['tracks'][0]['bit_rate'])\"");
		return r.status == 0 ? std::atof(r.out.c_str()) / 1000 : -1.0;
	};
	for (int kbps : {30, 400}) {
		const std::string out = "rate" + std::to_string(kbps) + ".mov";
		Result r = Tool("convert in.y4m " + out + " --bitrate " + std::to_string(kbps));
		ASSERT_EQ(r.status, 0) << r.err;
		EXPECT_NE(r.err.find("for --bitrate " + std::to_string(kbps) + "\n"), std::string::npos) << r.err;
		const double reached = videoRate(r.err);
		EXPECT_NEAR(reached, kbps, kbps * 0.1) << r.err;
		EXPECT_NEAR(infoRate(out), reached, 0.5) << r.err;
	}
	// The quality given is the lowest allowed, which 30 kbit/s cannot hold.
	Result r = Tool("convert in.y4m floor.mov --bitrate 30 --quality 0.95");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_GT(videoRate(r.err), 30 * 1.5) << r.err;

	auto keyFrames = [this](const std::string& movie) {
		Result r = Shell("\"$MC\" --addons '" MEDIACONV_ADDONS "' info --json " + movie +
		                 " | python3 -c \"import json,sys; "
		                 "print(*json.load(sys.stdin)['tracks'][0]['key_frames']['frames'])\"");
		EXPECT_EQ(r.status, 0) << r.err;
		std::vector<int> frames;
		std::istringstream in(r.out);
		for (int f; in >> f;)
			frames.push_back(f);
		return frames;
	};
	ASSERT_EQ(Tool("convert in.y4m key.mov --keyint 10").status, 0);
	const std::vector<int> keys = keyFrames("key.mov");
	ASSERT_GE(keys.size(), 8u);
	EXPECT_EQ(keys[0], 0);
	for (size_t i = 1; i < keys.size(); i++)
		EXPECT_LE(keys[i] - keys[i - 1], 10) << i;
	EXPECT_GE(keys.back(), 75 - 10);
	ASSERT_EQ(Tool("convert in.y4m default.mov").status, 0);
	EXPECT_LT(keyFrames("default.mov").size(), keys.size());

	auto name = [](const std::string& option) { return option.substr(0, option.find(' ')); };
	for (const char* bad : {"--keyint 153", "--keyint 0", "--bitrate 0", "--bitrate x"}) {
		r = Tool(std::string("convert in.y4m bad.mov ") + bad);
		EXPECT_EQ(r.status, 2) << bad;
		EXPECT_NE(r.err.find(name(bad)), std::string::npos) << r.err;
	}
	WriteFile(Path("a.wav"), "not looked at");
	// Vorbis has a bit rate of its own, PCM none; neither has key frames.
	for (const char* option : {"--bitrate 64", "--keyint 5"}) {
		r = Tool(std::string("convert a.wav a.flac ") + option);
		EXPECT_EQ(r.status, 2) << option;
		EXPECT_NE(r.err.find(name(option) + " does not apply to WAV audio"), std::string::npos) << r.err;
	}
	r = Tool("convert key.mov back.y4m --keyint 5");
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("--keyint does not apply to QuickTime movie to Y4M video"), std::string::npos)
	        << r.err;
}

}  // namespace
