// G.723 WAV files read back by mediaconv: the samples equal what SpanDSP's G.726 24 kbit/s decoder
// (an independent conforming decoder) makes of the same codes, for mono, interleaved stereo and the
// old 14-byte format header; info names the codec and the length.
#include <cstdint>

#include "tool_test_support.h"
// SpanDSP's headers come last: its telephony.h redefines names the C++ headers use.
#include <spandsp/telephony.h>
#include <spandsp/g726.h>

using namespace tooltest;

namespace {

uint32_t Le32(const std::string& s, size_t at)
{
	return (uint8_t)s[at] | (uint8_t)s[at + 1] << 8 | (uint8_t)s[at + 2] << 16 |
	       (uint32_t)(uint8_t)s[at + 3] << 24;
}

// The body of the first chunk `id` of a RIFF file; npos-sized empty when missing.
std::string RiffChunk(const std::string& file, const char* id)
{
	for (size_t at = 12; at + 8 <= file.size();) {
		const uint32_t size = Le32(file, at + 4);
		if (file.compare(at, 4, id) == 0)
			return file.substr(at + 8, size);
		at += 8 + size + (size & 1);
	}
	return "";
}

// SpanDSP decoding the data chunk: codes packed least significant bits first, which is its "right"
// packing; the interleaved channels are one coded signal, so they decode as one sequence.
std::vector<int16_t> SpanDspSamples(const std::string& codes, size_t samples)
{
	g726_state_t* s = g726_init(nullptr, 24000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
	std::vector<int16_t> out(codes.size() * 8 / 3 + 8);
	const int n =
	        g726_decode(s, out.data(), reinterpret_cast<const uint8_t*>(codes.data()), (int)codes.size());
	g726_free(s);
	out.resize(std::min<size_t>(samples, n > 0 ? (size_t)n : 0));
	return out;
}

std::vector<int16_t> PcmSamples(const std::string& wav)
{
	const std::string data = RiffChunk(wav, "data");
	std::vector<int16_t> v(data.size() / 2);
	for (size_t i = 0; i < v.size(); i++)
		v[i] = (int16_t)((uint8_t)data[2 * i] | (uint8_t)data[2 * i + 1] << 8);
	return v;
}

class G723 : public ToolTest {
protected:
	void SetUp() override
	{
		ToolTest::SetUp();
		if (!HaveProgram("sox"))
			GTEST_SKIP() << "sox is needed";
		if (!HaveAddOn("encoders/g723.encoder") || !HaveAddOn("decoders/g723.decoder"))
			GTEST_SKIP() << "the G.723 add-ons are not built";
	}

	// Encodes a sox signal with mediaconv, decodes the result with mediaconv and with SpanDSP.
	void RoundTrip(const std::string& soxSignal, int channels, uint32_t rate)
	{
		ASSERT_EQ(Shell("sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) +
		                " -b 16 in.wav " + soxSignal)
		                  .status,
		          0);
		Result r = Tool("convert in.wav coded.wav --codec g723");
		ASSERT_EQ(r.status, 0) << r.err;
		const std::string coded = ReadFile(Path("coded.wav"));
		const std::string fmt = RiffChunk(coded, "fmt "), fact = RiffChunk(coded, "fact");
		// The extended header: the 14 bytes of the add-on, 3 bits per sample, no extension.
		ASSERT_EQ(fmt.size(), 18u);
		EXPECT_EQ((uint8_t)fmt[14] | (uint8_t)fmt[15] << 8, 3);
		EXPECT_EQ((uint8_t)fmt[16] | (uint8_t)fmt[17] << 8, 0);
		ASSERT_EQ(fact.size(), 4u);
		const size_t frames = PcmSamples(ReadFile(Path("in.wav"))).size() / channels;
		EXPECT_EQ(Le32(fact, 0), frames);

		r = Tool("convert coded.wav back.wav");
		ASSERT_EQ(r.status, 0) << r.err;
		const std::vector<int16_t> ours = PcmSamples(ReadFile(Path("back.wav")));
		ASSERT_EQ(ours.size(), frames * channels);
		EXPECT_TRUE(ours == SpanDspSamples(RiffChunk(coded, "data"), frames * channels));
		Result soxi = Shell("soxi back.wav");
		EXPECT_NE(soxi.out.find("Channels       : " + std::to_string(channels)), std::string::npos)
		        << soxi.out;
		EXPECT_NE(soxi.out.find("Sample Rate    : " + std::to_string(rate)), std::string::npos) << soxi.out;
	}
};

TEST_F(G723, MonoDecodesAsAnIndependentDecoderDoes)
{
	RoundTrip("synth 1.3 sine 300-3400 sine 440 : synth 0.4 pinknoise vol 0.5", 1, 8000);
}

TEST_F(G723, InterleavedStereoDecodesAsOneCodedSignal)
{
	RoundTrip("synth 0.77 sine 500 sine 1300-200", 2, 11025);
}

TEST_F(G723, OldFourteenByteHeaderStillReads)
{
	ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 16 in.wav synth 0.5 sine 700").status, 0);
	ASSERT_EQ(Tool("convert in.wav coded.wav --codec g723").status, 0);
	const std::string coded = ReadFile(Path("coded.wav"));
	const std::string data = RiffChunk(coded, "data");
	// RIFF, a 14-byte fmt chunk and the data, as files were written before: no fact chunk.
	std::string old = "RIFF....WAVEfmt ";
	old += std::string("\x0e\0\0\0", 4) + RiffChunk(coded, "fmt ").substr(0, 14);
	old += "data" + coded.substr(coded.find("data") + 4, 4) + data;
	if (data.size() & 1)
		old.push_back('\0');
	const uint32_t riff = (uint32_t)old.size() - 8;
	for (int i = 0; i < 4; i++)
		old[4 + i] = (char)(riff >> (8 * i));
	WriteFile(Path("old.wav"), old);

	Result r = Tool("info old.wav");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("G.723_3"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("duration:   0.500 s"), std::string::npos) << r.out;
	r = Tool("convert old.wav back.wav");
	ASSERT_EQ(r.status, 0) << r.err;
	// 4000 samples in 1500 bytes exactly: nothing to pad, so the length is known without a count.
	EXPECT_TRUE(PcmSamples(ReadFile(Path("back.wav"))) == SpanDspSamples(data, 4000));
}

TEST_F(G723, OtherToolsReadTheHeaderAndOggComesOut)
{
	ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 16 in.wav synth 1 sine 400").status, 0);
	ASSERT_EQ(Tool("convert in.wav coded.wav --codec g723").status, 0);
	// libsndfile and sox stopped at the bare 14-byte header ("fmt chunk too short"); they know no
	// G.723 in WAV, but read the header now, and MediaInfo finds the length and the data rate.
	Result sndfile = Shell("sndfile-info coded.wav");
	EXPECT_EQ(sndfile.out.find("too short"), std::string::npos) << sndfile.out;
	EXPECT_NE(sndfile.out.find("Bit Width     : 3"), std::string::npos) << sndfile.out;
	Result sox = Shell("soxi coded.wav");
	EXPECT_EQ(sox.err.find("too short"), std::string::npos) << sox.err;
	if (HaveProgram("mediainfo")) {
		Result info = Shell("mediainfo coded.wav");
		EXPECT_NE(info.out.find("Duration                                 : 1 s 0 ms"), std::string::npos)
		        << info.out;
		EXPECT_NE(info.out.find("Bit rate                                 : 24.0 kb/s"), std::string::npos)
		        << info.out;
		EXPECT_NE(info.out.find("Bit depth                                : 3 bits"), std::string::npos)
		        << info.out;
	}
	if (HaveProgram("ogginfo")) {
		ASSERT_EQ(Tool("convert coded.wav back.ogg").status, 0);
		Result ogg = Shell("ogginfo back.ogg");
		EXPECT_EQ(ogg.status, 0) << ogg.out;
		EXPECT_NE(ogg.out.find("Rate: 8000"), std::string::npos) << ogg.out;
		EXPECT_NE(ogg.out.find("Channels: 1"), std::string::npos) << ogg.out;
	}
	// FLAC holds exactly the samples the WAV does.
	ASSERT_EQ(Tool("convert coded.wav back.wav").status, 0);
	ASSERT_EQ(Tool("convert coded.wav back.flac").status, 0);
	Result same = Shell("cmp <(sox back.wav -t raw -) <(sox back.flac -t raw -)");
	EXPECT_EQ(same.status, 0) << same.out << same.err;
	EXPECT_GT(FileSize(Path("back.flac")), 0);
}

}  // namespace
