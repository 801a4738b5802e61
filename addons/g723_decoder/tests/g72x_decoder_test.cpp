// The G.723 24 kbit/s decoder against SpanDSP's G.726 decoder at 24 kbit/s (an independent conforming
// implementation) on code streams from the encoder and on arbitrary codes, and against the encoder's
// own reconstruction.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "g72x.h"
// SpanDSP's headers come last: its telephony.h redefines names the C++ headers use.
#include <spandsp/telephony.h>
#include <spandsp/g726.h>

namespace {

// What SpanDSP makes of one code per byte.
std::vector<int16_t> SpanDspDecode(const std::vector<uint8_t>& codes)
{
	g726_state_t* s = g726_init(nullptr, 24000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
	EXPECT_NE(s, nullptr);
	std::vector<int16_t> out(codes.size());
	const int n = g726_decode(s, out.data(), codes.data(), static_cast<int>(codes.size()));
	g726_free(s);
	EXPECT_EQ(n, static_cast<int>(codes.size()));
	out.resize(n > 0 ? n : 0);
	return out;
}

std::vector<int16_t> OurDecode(const std::vector<uint8_t>& codes)
{
	g72x_state state;
	g72x_init_state(&state);
	std::vector<int16_t> out;
	for (uint8_t c : codes)
		out.push_back(static_cast<int16_t>(g723_24_decoder(c, G72X_CODING_LINEAR, &state)));
	return out;
}

// Speech-like test signals: tones with a moving pitch, bursts at full scale, silence and noise.
std::vector<int16_t> Signal(size_t n, uint32_t seed)
{
	std::mt19937 random(seed);
	std::normal_distribution<double> noise(0, 2000);
	std::vector<int16_t> v(n);
	for (size_t i = 0; i < n; i++) {
		double x = 9000 * std::sin(i * (0.03 + 0.00001 * i)) + 4000 * std::sin(i * 0.41);
		if ((i / 1500) % 4 == 1)
			x = (i % 40 < 20) ? 32767 : -32768;  // square bursts at full scale
		else if ((i / 1500) % 4 == 2)
			x = 0;
		else if ((i / 1500) % 4 == 3)
			x += noise(random);
		v[i] = static_cast<int16_t>(std::clamp(x, -32768.0, 32767.0));
	}
	return v;
}

TEST(G723Decoder, AgreesWithAnIndependentDecoderOnEncodedSignals)
{
	for (uint32_t seed : {1u, 2u, 3u}) {
		g72x_state encoder;
		g72x_init_state(&encoder);
		std::vector<uint8_t> codes;
		std::vector<int16_t> reconstructed;
		for (int16_t s : Signal(24000, seed)) {
			int r = 0;
			codes.push_back(static_cast<uint8_t>(g723_24_encode(s, G72X_CODING_LINEAR, &encoder, &r)));
			reconstructed.push_back(static_cast<int16_t>(r));
		}
		const std::vector<int16_t> ours = OurDecode(codes);
		EXPECT_EQ(ours, SpanDspDecode(codes)) << "seed " << seed;
		// The decoder follows the encoder's own reconstruction exactly.
		EXPECT_EQ(ours, reconstructed) << "seed " << seed;
	}
}

TEST(G723Decoder, AgreesWithAnIndependentDecoderOnArbitraryCodes)
{
	// Codes no encoder would choose drive the predictor and scale factors to their limits.
	std::mt19937 random(7);
	std::vector<uint8_t> codes(50000);
	for (size_t i = 0; i < codes.size(); i++)
		codes[i] =
		        (i / 3000) % 2 ? static_cast<uint8_t>(random() & 7) : static_cast<uint8_t>((i & 1) ? 3 : 4);
	EXPECT_EQ(OurDecode(codes), SpanDspDecode(codes));
}

TEST(G723Decoder, OnlyLinearOutputAndTheStateIsLeftAloneOtherwise)
{
	g72x_state a, b;
	g72x_init_state(&a);
	g72x_init_state(&b);
	EXPECT_EQ(g723_24_decoder(3, G72X_CODING_ULAW, &a), -1);
	EXPECT_EQ(g723_24_decoder(3, 0, &a), -1);
	// Upper bits of a code are ignored: 0xFB decodes as 3, and the states stay equal.
	for (int i = 0; i < 100; i++)
		EXPECT_EQ(g723_24_decoder(0xFB, G72X_CODING_LINEAR, &a), g723_24_decoder(3, G72X_CODING_LINEAR, &b));
}

}  // namespace
