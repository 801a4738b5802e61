// BAudioConverter, the host's rate and channel converter, and its use for the Vorbis encoder, which
// takes only 44.1 kHz stereo: 8 kHz mono audio converted, encoded, and read back at the right length.
#include <cmath>
#include <cstring>
#include <unistd.h>

#include "AudioConverter.h"
#include "MediaFile.h"
#include "MediaTrack.h"
#include "addon_test.h"

using addon_test::TempPath;

namespace {

std::vector<int16_t> Sine(size_t frames, double freq, double rate, double amplitude)
{
	std::vector<int16_t> v(frames);
	for (size_t i = 0; i < frames; i++)
		v[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * freq * i / rate)));
	return v;
}

TEST(AudioConverter, ChannelMatchingWithoutRateChange)
{
	BAudioConverter c;
	const int16 stereo[] = {100, 201, -5, -6, 32767, 32767, -32768, -32767};
	std::vector<int16> out;
	ASSERT_EQ(c.SetTo(44100, 2, 44100, 2), B_OK);
	EXPECT_TRUE(c.IsIdentity());
	ASSERT_EQ(c.Convert(stereo, 4, &out), B_OK);
	EXPECT_EQ(out, std::vector<int16>(stereo, stereo + 8));

	out.clear();
	ASSERT_EQ(c.SetTo(44100, 2, 44100, 1), B_OK);
	ASSERT_EQ(c.Convert(stereo, 4, &out), B_OK);
	EXPECT_EQ(out, (std::vector<int16>{151, -6, 32767, -32768}));  // averages, rounded half away

	out.clear();
	const int16 mono[] = {7, -8};
	ASSERT_EQ(c.SetTo(8000, 1, 8000, 3), B_OK);
	ASSERT_EQ(c.Convert(mono, 2, &out), B_OK);
	EXPECT_EQ(out, (std::vector<int16>{7, 7, 7, -8, -8, -8}));

	out.clear();
	const int16 three[] = {10, 20, 30};
	ASSERT_EQ(c.SetTo(8000, 3, 8000, 2), B_OK);
	ASSERT_EQ(c.Convert(three, 1, &out), B_OK);
	EXPECT_EQ(out, (std::vector<int16>{20, 20}));  // (10 + 30) / 2 and 20
	ASSERT_EQ(c.Finish(&out), B_OK);
	EXPECT_EQ(out.size(), 2u);
}

TEST(AudioConverter, RefusesUnusableFormats)
{
	BAudioConverter c;
	std::vector<int16> out;
	const int16 s = 0;
	EXPECT_EQ(c.Convert(&s, 1, &out), B_NO_INIT);
	EXPECT_EQ(c.SetTo(0, 1, 44100, 2), B_BAD_VALUE);
	EXPECT_EQ(c.SetTo(44100, 0, 44100, 2), B_BAD_VALUE);
	EXPECT_EQ(c.SetTo(NAN, 1, 44100, 2), B_BAD_VALUE);
	EXPECT_EQ(c.SetTo(44100, 1, 44100, 5000), B_BAD_VALUE);
	EXPECT_EQ(c.Convert(&s, 1, &out), B_NO_INIT);
}

TEST(AudioConverter, RateChangeKeepsLengthPitchAndLevel)
{
	// 1 kHz at 8 kHz mono, in uneven pieces, to 44.1 kHz stereo.
	const std::vector<int16_t> in = Sine(8000, 1000, 8000, 10000);
	BAudioConverter c;
	ASSERT_EQ(c.SetTo(8000, 1, 44100, 2), B_OK);
	std::vector<int16> out;
	size_t done = 0;
	for (size_t step = 1; done < in.size(); step = step * 3 + 1) {
		const size_t n = std::min(step, in.size() - done);
		ASSERT_EQ(c.Convert(in.data() + done, n, &out), B_OK);
		done += n;
	}
	ASSERT_EQ(c.Finish(&out), B_OK);
	ASSERT_EQ(out.size() % 2, 0u);
	const size_t frames = out.size() / 2;
	EXPECT_NEAR(static_cast<double>(frames), 44100.0, 2.0);
	// Against the ideal tone at the new rate, away from the ends.
	double signal = 0, error = 0;
	for (size_t i = 500; i + 500 < frames; i++) {
		EXPECT_EQ(out[2 * i], out[2 * i + 1]);
		const double ideal = 10000 * std::sin(2 * M_PI * 1000 * i / 44100.0);
		signal += ideal * ideal;
		error += (out[2 * i] - ideal) * (out[2 * i] - ideal);
	}
	const double snr = 10 * std::log10(signal / error);
	printf("8 kHz mono -> 44.1 kHz stereo: %zu frames, %.1f dB against the ideal tone\n", frames, snr);
	EXPECT_GT(snr, 40.0);
}

TEST(AudioConverter, DownmixBeforeRateChange)
{
	// 48 kHz stereo, the tone in one channel only, to 44.1 kHz mono: half the level, same length.
	const std::vector<int16_t> tone = Sine(48000, 500, 48000, 12000);
	std::vector<int16_t> in;
	for (int16_t v : tone) {
		in.push_back(v);
		in.push_back(0);
	}
	BAudioConverter c;
	ASSERT_EQ(c.SetTo(48000, 2, 44100, 1), B_OK);
	std::vector<int16> out;
	for (size_t done = 0; done < tone.size(); done += 4800)
		ASSERT_EQ(c.Convert(in.data() + 2 * done, 4800, &out), B_OK);
	ASSERT_EQ(c.Finish(&out), B_OK);
	EXPECT_NEAR(static_cast<double>(out.size()), 44100.0, 2.0);
	double error = 0;
	for (size_t i = 500; i + 500 < out.size(); i++)
		error = std::max(error, std::fabs(out[i] - 6000 * std::sin(2 * M_PI * 500 * i / 44100.0)));
	EXPECT_LT(error, 8.0);
}

TEST(AudioConverter, FeedsTheVorbisEncoderWhatItsSetFormatAsks)
{
	addon_test::LoadAddOns();
	const std::string path = TempPath("converted.ogg");
	const std::vector<int16_t> in = Sine(16000, 440, 8000, 8000);  // two seconds, 8 kHz mono
	{
		media_file_format mfi{};
		mfi.family = B_MISC_FORMAT_FAMILY;
		BMediaFile file(path.c_str(), &mfi);
		ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
		media_format format;
		format.type = B_MEDIA_RAW_AUDIO;
		format.u.raw_audio.frame_rate = 8000;
		format.u.raw_audio.channel_count = 1;
		format.u.raw_audio.format = media_raw_audio_format::B_AUDIO_SHORT;
		format.u.raw_audio.byte_order = B_MEDIA_HOST_ENDIAN;
		media_codec_info codec{};
		strcpy(codec.pretty_name, "Ogg Vorbis Encoder by Quillon based on work by Xiph");
		strcpy(codec.short_name, "Ogg Vorbis");
		BMediaTrack* track = file.CreateTrack(&format, &codec);
		ASSERT_NE(track, nullptr) << file.ErrorText();
		// The encoder asked for another format: convert to it.
		ASSERT_EQ(format.u.raw_audio.frame_rate, 44100.0f);
		ASSERT_EQ(format.u.raw_audio.channel_count, 2u);
		BAudioConverter c;
		ASSERT_EQ(c.SetTo(8000, 1, format.u.raw_audio.frame_rate, format.u.raw_audio.channel_count), B_OK);
		std::vector<int16> out;
		ASSERT_EQ(c.Convert(in.data(), in.size(), &out), B_OK);
		ASSERT_EQ(c.Finish(&out), B_OK);
		ASSERT_EQ(track->WriteFrames(out.data(), static_cast<int32>(out.size() / 2)), B_OK);
		ASSERT_EQ(file.CloseFile(), B_OK) << file.ErrorText();
	}
	BMediaFile file(path.c_str());
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	BMediaTrack* track = file.TrackAt(0);
	ASSERT_NE(track, nullptr);
	EXPECT_NEAR(static_cast<double>(track->CountFrames()), 88200.0, 2.0);
	EXPECT_NEAR(static_cast<double>(track->Duration()), 2e6, 100.0);
	unlink(path.c_str());
}

}  // namespace
