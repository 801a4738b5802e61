// Audio conversions end to end: WAV, AIFF and FLAC made by sox to Ogg Vorbis (checked by ogginfo and
// decoded by oggdec), oggenc's files to WAV (against oggdec's decoding), G.723 WAV, and exact
// --start/--frames slices.
#include "tool_test_support.h"

using namespace tooltest;

namespace {

class Audio : public ToolTest {
protected:
	void SetUp() override
	{
		ToolTest::SetUp();
		if (!HaveProgram("sox") || !HaveProgram("oggenc") || !HaveProgram("ogginfo") ||
		    !HaveProgram("oggdec"))
			GTEST_SKIP() << "sox and vorbis-tools are needed";
	}

	// Sample frames of a file as sox counts them.
	long Frames(const std::string& name) const
	{
		Result r = Shell("soxi -s " + name);
		return r.status == 0 ? std::stol(r.out) : -1;
	}

	// The PCM bytes of a WAV file as sox reads them (raw 16-bit).
	std::string Pcm(const std::string& name) const
	{
		Shell("sox " + name + " -t raw -e signed -b 16 -L " + name + ".raw");
		std::string data = ReadFile(Path(name + ".raw"));
		unlink(Path(name + ".raw").c_str());
		return data;
	}
};

TEST_F(Audio, SoxFilesToOggVorbis)
{
	ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 in.wav synth 1 sine 440 sine 660 && "
	                "sox -n -r 48000 -c 2 -b 16 in.aiff synth 1 sine 300 && "
	                "sox -n -r 8000 -c 1 -b 16 in.flac synth 1 sine 250")
	                  .status,
	          0);
	const struct {
		const char* name;
		int rate, channels;
	} inputs[] = {{"in.wav", 44100, 2}, {"in.aiff", 48000, 2}, {"in.flac", 8000, 1}};
	for (const auto& in : inputs) {
		const std::string out = std::string(in.name) + ".ogg";
		Result r = Tool(std::string("convert ") + in.name + " " + out);
		ASSERT_EQ(r.status, 0) << in.name << ": " << r.err;
		EXPECT_EQ(r.out, "");
		Result check = Shell("ogginfo " + out);
		EXPECT_EQ(check.status, 0) << check.out;
		// The tool asks the encoder to keep the source's rate and channels.
		EXPECT_NE(check.out.find("Rate: " + std::to_string(in.rate)), std::string::npos) << check.out;
		EXPECT_NE(check.out.find("Channels: " + std::to_string(in.channels)), std::string::npos) << check.out;
		ASSERT_EQ(Shell("oggdec -Q -o " + out + ".wav " + out).status, 0);
		// One second stays one second.
		EXPECT_NEAR(Frames(out + ".wav"), in.rate, 64) << in.name;
	}
}

TEST_F(Audio, OggencFilesToWavMatchOggdec)
{
	ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 s.wav synth 1 sine 440 sine 1000 && oggenc -Q -o s.ogg s.wav "
	                "&& "
	                "oggdec -Q -o ref.wav s.ogg")
	                  .status,
	          0);
	Result r = Tool("convert s.ogg out.wav");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(Frames("out.wav"), Frames("ref.wav"));
	const std::string ours = Pcm("out.wav"), theirs = Pcm("ref.wav");
	ASSERT_EQ(ours.size(), theirs.size());
	// Both decode with libvorbis: the samples agree to within rounding of the float output.
	long differ = 0;
	for (size_t i = 0; i + 1 < ours.size(); i += 2) {
		const int a = (int16_t)((uint8_t)ours[i] | (uint8_t)ours[i + 1] << 8);
		const int b = (int16_t)((uint8_t)theirs[i] | (uint8_t)theirs[i + 1] << 8);
		differ += std::abs(a - b) > 1;
	}
	EXPECT_EQ(differ, 0);
	r = Tool("info out.wav");
	EXPECT_NE(r.out.find("44100 sample frames"), std::string::npos) << r.out;

	// Other rates and channel counts stay what they were.
	ASSERT_EQ(Shell("sox -n -r 48000 -c 1 -b 16 m.wav synth 1 sine 440 && oggenc -Q -o m.ogg m.wav").status,
	          0);
	r = Tool("convert m.ogg m-back.wav");
	ASSERT_EQ(r.status, 0) << r.err;
	Result info = Shell("soxi m-back.wav");
	EXPECT_NE(info.out.find("Sample Rate    : 48000"), std::string::npos) << info.out;
	EXPECT_NE(info.out.find("Channels       : 1"), std::string::npos) << info.out;
	EXPECT_NEAR(Frames("m-back.wav"), 48000, 64);
}

TEST_F(Audio, G723WavFromPcm)
{
	ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 16 v.wav synth 1 sine 400").status, 0);
	Result r = Tool("convert v.wav v-g723.wav --codec g723");
	ASSERT_EQ(r.status, 0) << r.err;
	const std::string file = ReadFile(Path("v-g723.wav"));
	ASSERT_GT(file.size(), 44u);
	EXPECT_EQ(file.compare(0, 4, "RIFF"), 0);
	EXPECT_EQ((uint8_t)file[20] | (uint8_t)file[21] << 8, 0x7233);
	// 8000 samples of 3 bits: 3000 bytes of codes.
	const size_t data = file.find("data");
	ASSERT_NE(data, std::string::npos);
	EXPECT_EQ((uint8_t)file[data + 4] | (uint8_t)file[data + 5] << 8, 3000);
	EXPECT_NE(r.err.find("G.723_3"), std::string::npos) << r.err;
	// The file reads back: info names the decoder and the length.
	r = Tool("info v-g723.wav");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("audio, G.723_3 (G.723_3 Audio Decompression)"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("8000 Hz, 1 channel, coded at 24.0 kb/s\n"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("duration:   1.000 s"), std::string::npos) << r.out;
	// An unknown codec name is a usage error listing the names there are.
	r = Tool("convert v.wav x.wav --codec mp3");
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("--codec mp3: no such codec; choose "), std::string::npos) << r.err;
	EXPECT_FALSE(Exists(Path("x.wav")));
}

TEST_F(Audio, StartAndFramesCutExactSlices)
{
	ASSERT_EQ(Shell("sox -n -r 8000 -c 2 -b 16 n.wav synth 1 whitenoise").status, 0);
	Result r = Tool("convert n.wav cut.wav --start 1000 --frames 500");
	ASSERT_EQ(r.status, 0) << r.err;
	const std::string all = Pcm("n.wav"), cut = Pcm("cut.wav");
	ASSERT_EQ(cut.size(), 500u * 4);
	EXPECT_EQ(cut, all.substr(1000 * 4, 500 * 4));
	// Seconds work too.
	r = Tool("convert n.wav cut2.wav --start 0.5s --frames 0.25s");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(Pcm("cut2.wav"), all.substr(4000 * 4, 2000 * 4));
	// Through Vorbis, at the source's 8 kHz: a quarter second comes out a quarter second.
	r = Tool("convert n.wav cut.ogg --start 0.5s --frames 0.25s");
	ASSERT_EQ(r.status, 0) << r.err;
	ASSERT_EQ(Shell("oggdec -Q -o cut.ogg.wav cut.ogg").status, 0);
	EXPECT_EQ(Frames("cut.ogg.wav"), 2000);
	// Made 44.1 kHz on request, it keeps its length.
	r = Tool("convert n.wav cut44.ogg --start 0.5s --frames 0.25s --rate 44100");
	ASSERT_EQ(r.status, 0) << r.err;
	ASSERT_EQ(Shell("oggdec -Q -o cut44.ogg.wav cut44.ogg").status, 0);
	EXPECT_NEAR(Frames("cut44.ogg.wav"), 11025, 8);
	r = Tool("convert n.wav late.wav --start 9000");
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("past the end"), std::string::npos) << r.err;
	EXPECT_FALSE(Exists(Path("late.wav")));
}

}  // namespace
