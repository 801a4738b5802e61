// Audio conversions that follow the user and keep what the input holds: Vorbis quality and bit rate,
// the source's rate and channels kept, serial numbers that let files be chained, tags carried
// across formats, FLAC and AIFF outputs, the down-mix of surround input, dithered 24-bit input and
// chained Ogg files with links of different formats. sox, ogginfo, soxi and sndfile-info judge.
#include "tool_test_support.h"

using namespace tooltest;

namespace {

class AudioSettings : public ToolTest {
protected:
	void SetUp() override
	{
		ToolTest::SetUp();
		if (!HaveProgram("sox") || !HaveProgram("ogginfo") || !HaveProgram("oggdec"))
			GTEST_SKIP() << "sox and vorbis-tools are needed";
	}

	// ogginfo's report of a file; its exit status must be 0.
	std::string OggInfo(const std::string& name) const
	{
		Result r = Shell("ogginfo " + name);
		EXPECT_EQ(r.status, 0) << r.out;
		return r.out;
	}

	// The samples of channel `channel` of an audio file sox reads, as doubles -1..1.
	std::vector<double> Channel(const std::string& name, int channel) const
	{
		const std::string raw = name + "." + std::to_string(channel) + ".raw";
		Shell("sox " + name + " -t raw -e signed -b 16 -L " + raw + " remix " + std::to_string(channel + 1));
		const std::string data = ReadFile(Path(raw));
		std::vector<double> v(data.size() / 2);
		for (size_t i = 0; i < v.size(); i++)
			v[i] = (int16_t)((uint8_t)data[2 * i] | (uint8_t)data[2 * i + 1] << 8) / 32768.0;
		return v;
	}
};

// Amplitude of the sine of `hz` in `x` sampled at `rate` (a single-bin DFT over whole periods).
double ToneLevel(const std::vector<double>& x, double hz, double rate)
{
	const size_t n = (size_t)(std::floor(x.size() * hz / rate) * rate / hz);
	double re = 0, im = 0;
	for (size_t i = 0; i < n; i++) {
		re += x[i] * std::cos(2 * M_PI * hz * i / rate);
		im += x[i] * std::sin(2 * M_PI * hz * i / rate);
	}
	return n ? 2 * std::hypot(re, im) / n : 0;
}

TEST_F(AudioSettings, QualityAndBitRateReachVorbis)
{
	ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 in.wav synth 4 pinknoise synth sine mix 440").status, 0);
	ASSERT_EQ(Tool("convert in.wav low.ogg --quality 0.1").status, 0);
	ASSERT_EQ(Tool("convert in.wav high.ogg --quality 0.9").status, 0);
	OggInfo("low.ogg");
	OggInfo("high.ogg");
	EXPECT_GT(FileSize(Path("high.ogg")), 2.5 * FileSize(Path("low.ogg")));

	Result r = Tool("convert in.wav abr.ogg --bitrate 64");
	ASSERT_EQ(r.status, 0) << r.err;
	const std::string info = OggInfo("abr.ogg");
	// A managed 64 kbit/s average: the file's rate is near it.
	const double kbps = FileSize(Path("abr.ogg")) * 8 / 4.0 / 1000;
	EXPECT_NEAR(kbps, 64, 12) << info;
	// Both at once: the bit rate rules and the quality is said to be unused.
	r = Tool("convert in.wav both.ogg --bitrate 64 --quality 0.9");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("--quality is not used"), std::string::npos) << r.err;
	EXPECT_NEAR(FileSize(Path("both.ogg")) * 8 / 4.0 / 1000, 64, 12);

	// A bit rate Vorbis cannot make for the format is an error naming the option.
	ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 16 speech.wav synth 1 sine 300").status, 0);
	r = Tool("convert speech.wav x.ogg --bitrate 400");
	EXPECT_NE(r.status, 0);
	EXPECT_NE(r.err.find("--bitrate"), std::string::npos) << r.err;
	EXPECT_FALSE(Exists(Path("x.ogg")));
}

TEST_F(AudioSettings, SourceFormatIsKeptUnlessChanged)
{
	ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 16 speech.wav synth 3 sine 200-900").status, 0);
	ASSERT_EQ(Tool("convert speech.wav speech.ogg").status, 0);
	std::string info = OggInfo("speech.ogg");
	EXPECT_NE(info.find("Rate: 8000"), std::string::npos) << info;
	EXPECT_NE(info.find("Channels: 1"), std::string::npos) << info;
	// Far smaller than the same speech made 44.1 kHz stereo.
	ASSERT_EQ(Tool("convert speech.wav wide.ogg --rate 44100 --channels 2").status, 0);
	info = OggInfo("wide.ogg");
	EXPECT_NE(info.find("Rate: 44100"), std::string::npos) << info;
	EXPECT_NE(info.find("Channels: 2"), std::string::npos) << info;
	EXPECT_LT(2 * FileSize(Path("speech.ogg")), FileSize(Path("wide.ogg")));

	ASSERT_EQ(Shell("sox -n -r 48000 -c 6 -b 16 six.wav synth 1 sine 200 sine 300 sine 400 sine 50 sine 600 "
	                "sine 700")
	                  .status,
	          0);
	ASSERT_EQ(Tool("convert six.wav six.ogg").status, 0);
	info = OggInfo("six.ogg");
	EXPECT_NE(info.find("Channels: 6"), std::string::npos) << info;
	EXPECT_NE(info.find("Rate: 48000"), std::string::npos) << info;
	// Back to WAV every channel holds its own tone again (Vorbis stores them in its own order).
	ASSERT_EQ(Tool("convert six.ogg six-back.wav").status, 0);
	const double tones[6] = {200, 300, 400, 50, 600, 700};
	for (int c = 0; c < 6; c++) {
		const std::vector<double> x = Channel("six-back.wav", c);
		EXPECT_GT(ToneLevel(x, tones[c], 48000), 0.5) << "channel " << c;
		EXPECT_LT(ToneLevel(x, tones[(c + 1) % 6], 48000), 0.05) << "channel " << c;
	}
	// oggenc orders the channels by itself: its file read back has every tone where it was too.
	if (HaveProgram("oggenc")) {
		ASSERT_EQ(Shell("oggenc -Q -o six-oggenc.ogg six.wav").status, 0);
		ASSERT_EQ(Tool("convert six-oggenc.ogg six-oggenc.wav").status, 0);
		for (int c = 0; c < 6; c++) {
			const std::vector<double> x = Channel("six-oggenc.wav", c);
			EXPECT_GT(ToneLevel(x, tones[c], 48000), 0.5) << "channel " << c;
			EXPECT_LT(ToneLevel(x, tones[(c + 1) % 6], 48000), 0.05) << "channel " << c;
		}
	}

	// A rate Vorbis cannot code is changed with a warning that names it.
	Result r = Tool("convert speech.wav low.ogg --rate 4000");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("--rate"), std::string::npos) << r.err;
	EXPECT_NE(OggInfo("low.ogg").find("Rate: 8000"), std::string::npos);
}

TEST_F(AudioSettings, StreamsGetTheirOwnSerialAndChainIntoOneValidFile)
{
	ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 a.wav synth 0.5 sine 440 && "
	                "sox -n -r 44100 -c 2 -b 16 b.wav synth 0.7 sine 660")
	                  .status,
	          0);
	ASSERT_EQ(Tool("convert a.wav a.ogg").status, 0);
	ASSERT_EQ(Tool("convert b.wav b.ogg").status, 0);
	const std::string a = ReadFile(Path("a.ogg")), b = ReadFile(Path("b.ogg"));
	ASSERT_GT(a.size(), 18u);
	ASSERT_GT(b.size(), 18u);
	EXPECT_NE(a.substr(14, 4), b.substr(14, 4));  // the serial of the first page
	ASSERT_EQ(Shell("cat a.ogg b.ogg > ab.ogg").status, 0);
	const std::string info = OggInfo("ab.ogg");
	EXPECT_EQ(info.find("WARNING"), std::string::npos) << info;
	EXPECT_EQ(info.find("gap"), std::string::npos) << info;
	// The chain reads back as one stream of both lengths.
	ASSERT_EQ(Tool("convert ab.ogg ab.wav").status, 0);
	EXPECT_EQ(Shell("soxi -s ab.wav").out, std::to_string(22050 + 30870) + "\n");
}

TEST_F(AudioSettings, ChainedLinksOfOtherFormatsAreConverted)
{
	if (!HaveProgram("oggenc"))
		GTEST_SKIP() << "oggenc is needed";
	ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 a.wav synth 1 sine 440 && oggenc -Q -o a.ogg a.wav && "
	                "sox -n -r 22050 -c 1 -b 16 b.wav synth 0.5 sine 330 && oggenc -Q -o b.ogg b.wav && "
	                "cat a.ogg b.ogg > ab.ogg")
	                  .status,
	          0);
	Result r = Tool("convert ab.ogg ab.wav");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err.find("truncated"), std::string::npos) << r.err;
	Result soxi = Shell("soxi ab.wav");
	EXPECT_NE(soxi.out.find("Sample Rate    : 44100"), std::string::npos) << soxi.out;
	EXPECT_NE(soxi.out.find("Channels       : 2"), std::string::npos) << soxi.out;
	// One and a half seconds at the first link's rate; the second link's tone on both channels.
	EXPECT_NEAR(std::stol(Shell("soxi -s ab.wav").out), 44100 + 22050, 64);
	for (int c = 0; c < 2; c++) {
		std::vector<double> x = Channel("ab.wav", c);
		ASSERT_GT(x.size(), 66000u);
		const std::vector<double> second(x.begin() + 46000, x.begin() + 64000);
		EXPECT_GT(ToneLevel(second, 330, 44100), 0.5) << "channel " << c;
		EXPECT_LT(ToneLevel(second, 440, 44100), 0.05) << "channel " << c;
	}
}

TEST_F(AudioSettings, TagsSurviveWavToOggToWavAndFlac)
{
	// sox puts tags into FLAC only; the tool carries them into WAV first.
	ASSERT_EQ(
	        Shell("sox -n -r 22050 -c 1 -b 16 --comment 'TITLE=Morning Song' --add-comment 'ARTIST=Quillon' "
	              "tagged.flac synth 1 sine 500")
	                .status,
	        0);
	ASSERT_EQ(Tool("convert tagged.flac tagged.wav").status, 0);
	Result info = Shell("sndfile-info tagged.wav");
	EXPECT_NE(info.out.find("INAM : Morning Song"), std::string::npos) << info.out;
	EXPECT_NE(info.out.find("IART : Quillon"), std::string::npos) << info.out;
	ASSERT_EQ(Tool("convert tagged.wav tagged.ogg").status, 0);
	const std::string ogg = OggInfo("tagged.ogg");
	EXPECT_NE(ogg.find("TITLE=Morning Song"), std::string::npos) << ogg;
	EXPECT_NE(ogg.find("ARTIST=Quillon"), std::string::npos) << ogg;
	ASSERT_EQ(Tool("convert tagged.ogg back.wav").status, 0);
	info = Shell("sndfile-info back.wav");
	EXPECT_NE(info.out.find("INAM : Morning Song"), std::string::npos) << info.out;
	ASSERT_EQ(Tool("convert tagged.ogg back.flac").status, 0);
	// Vorbis comment names are case-blind; libsndfile writes them in lower case.
	Result soxi = Shell("soxi back.flac | tr A-Z a-z");
	EXPECT_NE(soxi.out.find("title=morning song"), std::string::npos) << soxi.out;
	EXPECT_NE(soxi.out.find("artist=quillon"), std::string::npos) << soxi.out;
	Result tool = Tool("info back.flac");
	EXPECT_NE(tool.out.find("title:      Morning Song"), std::string::npos) << tool.out;
}

TEST_F(AudioSettings, FlacAndAiffOutputs)
{
	ASSERT_EQ(Shell("sox -n -r 32000 -c 2 -b 16 in.wav synth 1 sine 440 sine 880").status, 0);
	for (const char* out : {"out.flac", "out.aiff"}) {
		Result r = Tool(std::string("convert in.wav ") + out);
		ASSERT_EQ(r.status, 0) << out << ": " << r.err;
		Result same = Shell(std::string("cmp <(sox in.wav -t raw -) <(sox ") + out + " -t raw -)");
		EXPECT_EQ(same.status, 0) << out << ": " << same.out << same.err;
		Result info = Shell(std::string("sndfile-info ") + out);
		EXPECT_NE(info.out.find("Sample Rate : 32000"), std::string::npos) << info.out;
		EXPECT_NE(info.out.find("Channels    : 2"), std::string::npos) << info.out;
	}
}

TEST_F(AudioSettings, SurroundIsMixedDownByTheMatrix)
{
	// 5.1 in WAV order: left, right, centre, LFE, back left, back right; a tone of its own on each.
	const double tones[6] = {300, 500, 700, 60, 1100, 1300};
	ASSERT_EQ(Shell("sox -n -r 48000 -c 6 -b 16 six.wav synth 1 sine 300 sine 500 sine 700 sine 60 sine 1100 "
	                "sine 1300 vol 0.5")
	                  .status,
	          0);
	Result r = Tool("convert six.wav two.wav --channels 2");
	ASSERT_EQ(r.status, 0) << r.err;
	// Each side: its front at 1, centre and its back at -3 dB, normalised by the sum 1 + 2 x 0.7071.
	const double g = 0.5 / (1 + 2 * 0.70710678);
	const double left[6] = {g, 0, 0.70710678 * g, 0, 0.70710678 * g, 0};
	const double right[6] = {0, g, 0.70710678 * g, 0, 0, 0.70710678 * g};
	for (int side = 0; side < 2; side++) {
		const std::vector<double> x = Channel("two.wav", side);
		for (int c = 0; c < 6; c++)
			EXPECT_NEAR(ToneLevel(x, tones[c], 48000), (side ? right : left)[c], 0.004)
			        << "output " << side << ", input " << c;
	}
	r = Tool("convert six.wav one.wav --channels 1");
	ASSERT_EQ(r.status, 0) << r.err;
	const double m = 0.5 / (2 + 3 * 0.70710678);
	const double mono[6] = {m, m, 0.70710678 * m, 0, 0.70710678 * m, 0.70710678 * m};
	const std::vector<double> x = Channel("one.wav", 0);
	for (int c = 0; c < 6; c++)
		EXPECT_NEAR(ToneLevel(x, tones[c], 48000), mono[c], 0.004) << "input " << c;
}

TEST_F(AudioSettings, DeepSamplesAreDitheredAndSaidOnce)
{
	ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 24 deep.wav synth 2 sine 1000 vol 0.25 && "
	                "sox -n -r 44100 -c 1 -e floating-point -b 32 float.wav synth 1 sine 500 vol 0.25")
	                  .status,
	          0);
	Result r = Tool("convert deep.wav shallow.wav");
	ASSERT_EQ(r.status, 0) << r.err;
	size_t said = 0;
	for (size_t at = r.err.find("dither"); at != std::string::npos; at = r.err.find("dither", at + 1))
		said++;
	EXPECT_EQ(said, 1u) << r.err;
	EXPECT_NE(Shell("soxi shallow.wav").out.find("16-bit"), std::string::npos);
	// The tone keeps its level; the dither noise stays near one 16-bit step.
	const std::vector<double> x = Channel("shallow.wav", 0);
	EXPECT_NEAR(ToneLevel(x, 1000, 44100), 0.25, 0.002);
	r = Tool("convert float.wav float16.wav");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("dither"), std::string::npos) << r.err;
	EXPECT_NEAR(ToneLevel(Channel("float16.wav", 0), 500, 44100), 0.25, 0.002);
}

}  // namespace
