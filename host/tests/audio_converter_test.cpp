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
	const int16 three[] = {10, 20, 30};  // L R C
	ASSERT_EQ(c.SetTo(8000, 3, 8000, 2), B_OK);
	ASSERT_EQ(c.Convert(three, 1, &out), B_OK);
	// (10 + 0.7071 x 30) / 1.7071 and (20 + 0.7071 x 30) / 1.7071
	EXPECT_EQ(out, (std::vector<int16>{18, 24}));
	ASSERT_EQ(c.Finish(&out), B_OK);
	EXPECT_EQ(out.size(), 2u);
}

// The gain of every input channel in every output channel, measured one channel at a time.
std::vector<double> MeasuredGains(uint32 in, uint32 out)
{
	BAudioConverter c;
	EXPECT_EQ(c.SetTo(48000, in, 48000, out), B_OK);
	std::vector<double> gains;
	for (uint32 ch = 0; ch < in; ch++) {
		std::vector<int16> frame(in, 0), mixed;
		frame[ch] = 20000;
		EXPECT_EQ(c.Convert(frame.data(), 1, &mixed), B_OK);
		EXPECT_EQ(mixed.size(), out);
		for (int16 v : mixed)
			gains.push_back(v / 20000.0);
	}
	return gains;  // [input][output]
}

TEST(AudioConverter, SurroundDownmixMatrix)
{
	const double h = 0.70710678;  // -3 dB
	// 5.1 (L R C LFE BL BR) to stereo: each side's front at 1, centre and its back at -3 dB, the LFE
	// dropped, every row scaled by 1 / (1 + 2h).
	const double s = 1 / (1 + 2 * h);
	const double stereo[6][2] = {{s, 0}, {0, s}, {h * s, h * s}, {0, 0}, {h * s, 0}, {0, h * s}};
	std::vector<double> g = MeasuredGains(6, 2);
	for (int in = 0; in < 6; in++)
		for (int out = 0; out < 2; out++)
			EXPECT_NEAR(g[2 * in + out], stereo[in][out], 1e-4) << "in " << in << " out " << out;
	// 5.1 to mono: fronts at 1, centre and backs at -3 dB, scaled by 1 / (2 + 3h).
	const double m = 1 / (2 + 3 * h);
	const double mono[6] = {m, m, h * m, 0, h * m, h * m};
	g = MeasuredGains(6, 1);
	for (int in = 0; in < 6; in++)
		EXPECT_NEAR(g[in], mono[in], 1e-4) << "in " << in;
	// 7.1 (L R C LFE BL BR SL SR): sides join their own front like the backs.
	const double s8 = 1 / (1 + 3 * h);
	g = MeasuredGains(8, 2);
	const double left8[8] = {s8, 0, h * s8, 0, h * s8, 0, h * s8, 0};
	const double right8[8] = {0, s8, h * s8, 0, 0, h * s8, 0, h * s8};
	for (int in = 0; in < 8; in++) {
		EXPECT_NEAR(g[2 * in], left8[in], 1e-4) << "in " << in;
		EXPECT_NEAR(g[2 * in + 1], right8[in], 1e-4) << "in " << in;
	}
	// Every channel at full scale at once still fits, for every layout and both outputs.
	for (uint32 in = 3; in <= 8; in++) {
		for (uint32 out = 1; out <= 2; out++) {
			BAudioConverter c;
			ASSERT_EQ(c.SetTo(48000, in, 48000, out), B_OK);
			const std::vector<int16> high(in, 32767), low(in, -32768);
			std::vector<int16> mixed;
			ASSERT_EQ(c.Convert(high.data(), 1, &mixed), B_OK);
			ASSERT_EQ(c.Convert(low.data(), 1, &mixed), B_OK);
			for (uint32 o = 0; o < out; o++) {
				EXPECT_GE(mixed[o], 32766) << in << " to " << out;
				EXPECT_LE(mixed[out + o], -32767) << in << " to " << out;
			}
		}
	}
}

TEST(Dither, TriangularNoiseOfOneStepWithoutBias)
{
	// 24-bit samples a quarter step above 16-bit values: the mean of the output keeps the quarter,
	// which plain rounding would lose, and no output is more than one step from the input.
	const size_t n = 100000;
	std::vector<int32> deep(n, (1000 << 16) + (1 << 14));
	std::vector<int16> out(n), again(n);
	BDither dither;
	dither.Reduce(deep.data(), n, out.data());
	double sum = 0, square = 0;
	for (int16 v : out) {
		EXPECT_GE(v, 999);
		EXPECT_LE(v, 1001);
		sum += v - 1000.25;
		square += (v - 1000.25) * (v - 1000.25);
	}
	EXPECT_NEAR(sum / n, 0, 0.01);
	// Rounding error plus triangular noise: 1/12 + 1/6 of a step squared on average.
	EXPECT_NEAR(square / n, 0.25, 0.02);
	// A fixed seed: the same input gives the same output in a fresh reducer.
	BDither second;
	second.Reduce(deep.data(), n, again.data());
	EXPECT_EQ(out, again);

	// Floats run -1..1; beyond it they clip, and what is not a number is silence.
	const float floats[] = {1.5f, -2.0f, NAN, INFINITY, 0.5f};
	int16 reduced[5];
	dither.Reduce(floats, 5, reduced);
	EXPECT_EQ(reduced[0], 32767);
	EXPECT_EQ(reduced[1], -32768);
	EXPECT_LE(std::abs(reduced[2]), 1);
	EXPECT_LE(std::abs(reduced[3]), 1);
	EXPECT_NEAR(reduced[4], 16384, 1);
	const int32 extremes[] = {INT32_MAX, INT32_MIN};
	dither.Reduce(extremes, 2, reduced);
	EXPECT_GE(reduced[0], 32766);
	EXPECT_GE(reduced[1], -32768);
	EXPECT_LE(reduced[1], -32767);
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
