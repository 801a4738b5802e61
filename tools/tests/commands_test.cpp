// The command line itself: usage errors and their exit status, --help and --version, `codecs` with
// a broken add-on folder, `info` on audio files, and the clean standard output.
#include "tool_test_support.h"

using namespace tooltest;

namespace {

class Commands : public ToolTest {};

TEST_F(Commands, UsageErrorsExitWithTwo)
{
	Result r = Shell("\"$MC\"");
	EXPECT_EQ(r.status, 2);
	r = Tool("convert a.wav");
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("OUT"), std::string::npos) << r.err;
	r = Tool("convert a.y4m b.mov --quality 5");
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("--quality"), std::string::npos) << r.err;
	r = Tool("convert a.y4m b.mov --frames ten");
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("--frames"), std::string::npos) << r.err;
	r = Tool("convert a.y4m b.mov --frames 0");
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "mediaconv: --frames must be more than 0\n");
	r = Tool("convert a.y4m b.mov --start -3");
	EXPECT_EQ(r.status, 2);
	r = Tool("frobnicate");
	EXPECT_EQ(r.status, 2);
	WriteFile(Path("a.txt"), "hello");
	r = Tool("convert a.txt b.mov");
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("a.txt"), std::string::npos) << r.err;
	EXPECT_EQ(r.out, "");
}

TEST_F(Commands, HelpOnEverySubcommandAndVersion)
{
	for (const char* sub : {"", "convert ", "info ", "codecs ", "demo "}) {
		Result r = Shell(std::string("\"$MC\" ") + sub + "--help");
		EXPECT_EQ(r.status, 0) << sub;
		EXPECT_NE(r.out.find("Usage"), std::string::npos) << sub << r.out;
	}
	Result r = Shell("\"$MC\" --version");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out.rfind("mediaconv ", 0), 0u) << r.out;
}

TEST_F(Commands, CodecsListsAddOnsAndFailures)
{
	Result r = Tool("codecs");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");
	for (const char* name : {"OggAudioEncoder", "OggAudioExtractor", "OggAudioWriter", "g723.encoder"}) {
		EXPECT_NE(r.out.find(name), std::string::npos) << name;
	}
	EXPECT_NE(r.out.find("G.723_3 Audio Compression"), std::string::npos);
	EXPECT_NE(r.out.find("WAV format tag 0x7233"), std::string::npos);
	EXPECT_NE(r.out.find("Ogg Vorbis File (vorbis, .ogg, audio/x-Vorbis)"), std::string::npos);
	if (HaveKorvo()) {
		EXPECT_NE(r.out.find("Korvo Vela 3.5"), std::string::npos);
	}

	// A folder of its own: one real add-on and two files that are not add-ons.
	ASSERT_EQ(system(("mkdir -p '" + Path("addons/encoders") + "' '" + Path("addons/decoders") + "' && cp '" +
	                  MEDIACONV_ADDONS "/encoders/g723.encoder' '" + Path("addons/encoders/") + "'")
	                         .c_str()),
	          0);
	WriteFile(Path("addons/encoders/notes.txt"), "not a library");
	WriteFile(Path("addons/decoders/broken.so"), std::string(100, '\x7f'));
	r = Shell("\"$MC\" codecs --addons addons");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("1 loaded, 2 failed"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("failed    addons/encoders/notes.txt: "), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("failed    addons/decoders/broken.so: "), std::string::npos) << r.out;
	EXPECT_EQ(r.out.find("OggAudioEncoder"), std::string::npos);
	// The environment variable names the folder too.
	r = Shell("MEDIACONV_ADDONS=addons \"$MC\" codecs");
	EXPECT_NE(r.out.find("1 loaded, 2 failed"), std::string::npos) << r.out;

	r = Shell("\"$MC\" codecs --addons no-such-folder");
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "mediaconv: no-such-folder: add-on folder does not exist (name one with --addons DIR or "
	                 "MEDIACONV_ADDONS)\n");
}

TEST_F(Commands, InfoOnAudioFiles)
{
	if (!HaveProgram("sox") || !HaveProgram("oggenc"))
		GTEST_SKIP() << "sox and oggenc are needed";
	ASSERT_EQ(Shell("sox -n -r 22050 -c 1 -b 16 tone.wav synth 1 sine 440").status, 0);
	Result r = Tool("info tone.wav");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("22050 Hz, 1 channel, 16-bit"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("22050 sample frames"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("duration:   1.000 s"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("bit rate:   353."), std::string::npos) << r.out;

	ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 s.wav synth 2 sine 300 && oggenc -Q -o s.ogg s.wav").status,
	          0);
	r = Tool("info s.ogg");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("Ogg Vorbis File (vorbis)"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("88200 sample frames"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("44100 Hz, 2 channels"), std::string::npos) << r.out;
}

TEST_F(Commands, AddOnOutputStaysOffStandardOutput)
{
	if (!HaveProgram("sox"))
		GTEST_SKIP() << "sox is needed";
	ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 s.wav synth 0.5 sine 300").status, 0);
	// The Vorbis add-ons print banners and the G.723 one nothing; none of it may reach stdout.
	Result r = Tool("convert s.wav s.ogg");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err.find("Vorbis Codec Encoder"), std::string::npos) << r.err;
	EXPECT_NE(r.err.find("s.ogg: 22050 sample frames"), std::string::npos) << r.err;
	r = Tool("convert s.wav s2.ogg --verbose");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "");
	EXPECT_NE(r.err.find("Vorbis Codec Encoder"), std::string::npos) << r.err;
	r = Tool("convert s.wav s3.ogg --quiet");
	ASSERT_EQ(r.status, 0);
	EXPECT_EQ(r.out + r.err, "");
}

TEST_F(Commands, ProgressLineOnlyOnATerminal)
{
	if (!HaveProgram("sox") || !HaveProgram("script"))
		GTEST_SKIP() << "sox and script are needed";
	ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 s.wav synth 2 sine 300").status, 0);
	// script gives the tool a terminal; what the tool writes there comes back on script's stdout.
	const std::string tool = "\"$MC\" --addons '" MEDIACONV_ADDONS "' convert s.wav ";
	Result r = Shell("script -qec \"" + tool + "a.ogg\" /dev/null");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("\r["), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("/2.0 s, "), std::string::npos) << r.out;
	EXPECT_NE(r.out.find(" kb/s, eta 0:0"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("a.ogg: 88200 sample frames"), std::string::npos) << r.out;
	r = Shell("script -qec \"" + tool + "b.ogg --quiet\" /dev/null");
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "");
	r = Tool("convert s.wav c.ogg");
	EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
}

}  // namespace
