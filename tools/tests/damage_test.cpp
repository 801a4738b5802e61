// Damaged inputs reported rather than passed off as sound: a movie whose index places a chunk where
// no media data is (a warning naming the frame, exit 1 with --strict), corrupt frame data, a header
// counting more frames than the file can hold, and a WAV file of more channels than any reader takes.
#include <cstdint>

#include "tool_test_support.h"

using namespace tooltest;

namespace {

uint32_t Be32(const std::string& s, size_t at)
{
	return (uint32_t)(uint8_t)s[at] << 24 | (uint32_t)(uint8_t)s[at + 1] << 16 |
	       (uint32_t)(uint8_t)s[at + 2] << 8 | (uint8_t)s[at + 3];
}

void PutBe32(std::string* s, size_t at, uint32_t v)
{
	for (int i = 0; i < 4; i++)
		(*s)[at + i] = (char)(v >> (24 - 8 * i));
}

class Damage : public ToolTest {
protected:
	void SetUp() override
	{
		ToolTest::SetUp();
		if (!HaveKorvo())
			GTEST_SKIP() << "the Korvo add-ons are not built";
		WriteY4m(Path("clip.y4m"), MovingClip(48, 32, 6));
		ASSERT_EQ(Tool("convert clip.y4m movie.mov").status, 0);
		ASSERT_EQ(Tool("convert movie.mov clean.y4m").status, 0);
		movie = ReadFile(Path("movie.mov"));
	}

	// Offset of the first `type` box's payload in the movie (found by its four characters).
	size_t Payload(const char* type) const
	{
		const size_t at = movie.find(type);
		EXPECT_NE(at, std::string::npos) << type;
		return at == std::string::npos ? 0 : at + 4;
	}

	std::string movie;
};

TEST_F(Damage, ChunkOutsideTheMediaDataIsNamedAndStrictFails)
{
	// One sample per chunk: chunk 3 moves to a copy of its bytes in a 'free' box at the end.
	const size_t stco = Payload("stco"), stsz = Payload("stsz");
	ASSERT_EQ(Be32(movie, stco + 4), 6u);
	ASSERT_EQ(Be32(movie, stsz + 8), 6u);
	const uint32_t offset = Be32(movie, stco + 8 + 4 * 3), size = Be32(movie, stsz + 12 + 4 * 3);
	std::string damaged = movie;
	PutBe32(&damaged, stco + 8 + 4 * 3, (uint32_t)damaged.size() + 8);
	std::string box(8, '\0');
	PutBe32(&box, 0, size + 8);
	box.replace(4, 4, "free");
	damaged += box + movie.substr(offset, size);
	WriteFile(Path("moved.mov"), damaged);

	Result r = Tool("convert moved.mov out.y4m");
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("warning: moved.mov: 1 frame is damaged (3)"), std::string::npos) << r.err;
	// The bytes themselves are whole, so the pictures are the clean ones.
	EXPECT_EQ(ReadFile(Path("out.y4m")), ReadFile(Path("clean.y4m")));

	r = Tool("info moved.mov");
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("damaged:    1 chunk where the file holds no media data"), std::string::npos)
	        << r.out;
	r = Tool("info movie.mov");
	EXPECT_EQ(r.out.find("damaged:"), std::string::npos) << r.out;

	r = Tool("convert moved.mov strict.y4m --strict");
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "mediaconv: moved.mov: 1 frame is damaged (3), decoded as far as their data allowed\n");
	EXPECT_FALSE(Exists(Path("strict.y4m")));
	// A sound movie passes --strict.
	r = Tool("convert movie.mov strict.y4m --strict");
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err.find("damaged"), std::string::npos) << r.err;
}

TEST_F(Damage, FrameDataCutShortIsNamed)
{
	// Frame 4's chunk cut to half its size in the sample size table: its data ends before its last
	// macroblock.
	const size_t stsz = Payload("stsz");
	ASSERT_EQ(Be32(movie, stsz + 4), 0u) << "one size per sample";
	std::string cut = movie;
	PutBe32(&cut, stsz + 12 + 4 * 4, Be32(movie, stsz + 12 + 4 * 4) / 2);
	WriteFile(Path("cut.mov"), cut);
	Result r = Tool("convert cut.mov out.y4m");
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("warning: cut.mov: 1 frame is damaged (4)"), std::string::npos) << r.err;
	EXPECT_TRUE(Exists(Path("out.y4m")));
	r = Tool("convert cut.mov strict.y4m --strict");
	EXPECT_EQ(r.status, 1) << r.err;
	EXPECT_NE(r.err.find("cut.mov: 1 frame is damaged (4)"), std::string::npos) << r.err;
	EXPECT_FALSE(Exists(Path("strict.y4m")));
}

TEST_F(Damage, HeaderCountBeyondTheFileIsBounded)
{
	if (!HaveProgram("sox"))
		GTEST_SKIP() << "sox is not installed";
	ASSERT_EQ(Shell("sox -n -r 8000 -c 1 tone.flac synth 0.1 sine 440").status, 0);
	std::string flac = ReadFile(Path("tone.flac"));
	ASSERT_EQ(flac.compare(0, 4, "fLaC"), 0);
	// STREAMINFO's 36-bit sample count (the low half of byte 13 and bytes 14..17 of the block) at
	// its largest.
	flac[4 + 4 + 13] = (char)(flac[4 + 4 + 13] | 0x0F);
	for (int i = 14; i < 18; i++)
		flac[4 + 4 + i] = (char)0xFF;
	WriteFile(Path("counted.flac"), flac);
	Result r = Tool("info counted.flac");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("damaged:    the header counts 68719476735 frames, more than its " +
	                     std::to_string(flac.size()) + " bytes can hold"),
	          std::string::npos)
	        << r.out;
	EXPECT_NE(r.out.find("frames:     " + std::to_string(flac.size() * 8192) + " sample frames"),
	          std::string::npos)
	        << r.out;
	r = Tool("info tone.flac");
	EXPECT_NE(r.out.find("frames:     800 sample frames"), std::string::npos) << r.out;
	EXPECT_EQ(r.out.find("damaged:"), std::string::npos) << r.out;
}

TEST_F(Damage, TooManyChannelsAreNamed)
{
	// A PCM WAV header of 2000 channels over ten frames of silence.
	const uint32_t channels = 2000, rate = 8000, frames = 10, data = channels * 2 * frames;
	std::string wav = "RIFF";
	auto le = [&wav](uint32_t v, int bytes) {
		for (int i = 0; i < bytes; i++)
			wav += (char)(v >> (8 * i));
	};
	le(4 + 24 + 8 + data, 4);
	wav += "WAVEfmt ";
	le(16, 4);
	le(1, 2);
	le(channels, 2);
	le(rate, 4);
	le(rate * channels * 2, 4);
	le(channels * 2, 2);
	le(16, 2);
	wav += "data";
	le(data, 4);
	wav += std::string(data, '\0');
	WriteFile(Path("wide.wav"), wav);
	for (const char* command : {"info wide.wav", "convert wide.wav out.ogg"}) {
		Result r = Tool(command);
		EXPECT_EQ(r.status, 1) << command;
		EXPECT_NE(r.err.find("2000 channels, more than the 1024 this reader takes"), std::string::npos)
		        << command << ": " << r.err;
	}
}

}  // namespace
