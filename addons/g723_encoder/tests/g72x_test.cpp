// The G.723 coder's own behaviour: identical streams from identical states, G.711 input, unknown codings,
// the fixed-point building blocks, and how close libsndfile's decoder comes to its reconstruction.
#include "g72x_signals.h"

using namespace g72x_test;

namespace {

TEST(G72xCoder, TwoStatesGiveIdenticalStreams)
{
	const std::vector<int16_t> signal = Speech(8000, 9);
	g72x_state a, b;
	g72x_init_state(&a);
	g72x_init_state(&b);
	for (int16_t s : signal)
		ASSERT_EQ(g723_24_encoder(s, G72X_CODING_LINEAR, &a), g723_24_encoder(s, G72X_CODING_LINEAR, &b));
	EXPECT_EQ(memcmp(&a, &b, sizeof a), 0);
}

TEST(G72xCoder, InitialStateAndCodeRange)
{
	g72x_state s;
	memset(&s, 0x5A, sizeof s);
	g72x_init_state(&s);
	EXPECT_EQ(s.yl, 34816);
	EXPECT_EQ(s.yu, 544);
	EXPECT_EQ(s.ap, 0);
	EXPECT_EQ(s.td, 0);
	for (int i = 0; i < 6; i++) {
		EXPECT_EQ(s.dq[i], 32);
		EXPECT_EQ(s.b[i], 0);
	}
	EXPECT_EQ(s.sr[0], 32);
	EXPECT_EQ(s.sr[1], 32);
	// Silence from the initial state: the difference is zero, which codes as 7 (the smallest level).
	EXPECT_EQ(g723_24_encoder(0, G72X_CODING_LINEAR, &s), 7);
}

TEST(G72xCoder, UnknownCodingLeavesStateAlone)
{
	g72x_state s, copy;
	g72x_init_state(&s);
	copy = s;
	EXPECT_EQ(g723_24_encoder(1000, 0, &s), -1);
	EXPECT_EQ(g723_24_encoder(1000, 4, &s), -1);
	EXPECT_EQ(memcmp(&s, &copy, sizeof s), 0);
}

TEST(G72xCoder, G711InputCodesAsItsLinearExpansion)
{
	EXPECT_EQ(ulaw_to_linear(0xFF), 0);
	EXPECT_EQ(ulaw_to_linear(0x7F), 0);
	EXPECT_EQ(ulaw_to_linear(0x80), 32124);
	EXPECT_EQ(ulaw_to_linear(0x00), -32124);
	EXPECT_EQ(alaw_to_linear(0xD5), 8);
	EXPECT_EQ(alaw_to_linear(0x55), -8);
	EXPECT_EQ(alaw_to_linear(0xAA), 32256);
	EXPECT_EQ(alaw_to_linear(0x2A), -32256);

	std::mt19937 rng(3);
	for (int coding : {G72X_CODING_ULAW, G72X_CODING_ALAW}) {
		g72x_state byLaw, byLinear;
		g72x_init_state(&byLaw);
		g72x_init_state(&byLinear);
		for (int i = 0; i < 4000; i++) {
			const uint8_t byte = static_cast<uint8_t>(i < 2000 ? i : rng());
			const int linear = coding == G72X_CODING_ULAW ? ulaw_to_linear(byte) : alaw_to_linear(byte);
			ASSERT_EQ(g723_24_encoder(byte, coding, &byLaw),
			          g723_24_encoder(linear, G72X_CODING_LINEAR, &byLinear));
		}
	}
}

TEST(G72xCoder, BuildingBlocks)
{
	// quan: index of the first entry greater than the value.
	EXPECT_EQ(quan(0, power2, 15), 0);
	EXPECT_EQ(quan(1, power2, 15), 1);
	EXPECT_EQ(quan(16383, power2, 15), 14);
	EXPECT_EQ(quan(16384, power2, 15), 15);
	// fmult: 1.0 (4096) times 1024 (exponent 11, mantissa 32) gives twice the product with the
	// rounding bias, (32 * 32 + 48) >> 4 = 67 shifted by 7 + 11 - 13; the sign is the product's.
	EXPECT_EQ(fmult(0, 32), 0);
	EXPECT_EQ(fmult(4096, (11 << 6) | 32), 2144);
	EXPECT_EQ(fmult(-4096, (11 << 6) | 32), -2144);
	EXPECT_EQ(fmult(4096, ((11 << 6) | 32) - 0x400), -2144);
	EXPECT_EQ(fmult(-4096, ((11 << 6) | 32) - 0x400), 2144);
	// reconstruct: level below the scale gives zero with the sign kept in bit 15.
	EXPECT_EQ(reconstruct(0, -2048, 544), 0);
	EXPECT_EQ(reconstruct(4, -2048, 544), -0x8000);
	// 135 + 544/4 = 271: exponent 2, mantissa 15 -> (143 << 7) >> 12 = 4.
	EXPECT_EQ(reconstruct(0, 135, 544), 4);
	EXPECT_EQ(reconstruct(4, 135, 544), 4 - 0x8000);
}

TEST(G72xCoder, LibsndfileDecodesTheCodesClosely)
{
	// libsndfile's decoder rounds the predictor's products differently, so its output drifts from
	// the reconstruction by a few steps of the 14-bit scale, far below the coding noise.
	for (unsigned seed = 1; seed <= 2; seed++) {
		const std::vector<int16_t> signal = Speech(24000, seed);
		const Coded coded = Encode(signal);
		const std::vector<int16_t> decoded = DecodeWithSndfile(coded.bytes);
		ASSERT_GE(decoded.size(), signal.size());
		double drift = 0, noise = 0, power = 0;
		for (size_t i = 0; i < signal.size(); i++) {
			drift += std::pow(decoded[i] - coded.reconstructed[i], 2.0);
			noise += std::pow(signal[i] - coded.reconstructed[i], 2.0);
			power += std::pow(signal[i], 2.0);
		}
		const double snr = 10 * std::log10(power / noise);
		const double driftDb = 10 * std::log10(power / std::max(drift, 1.0));
		printf("coding SNR %.1f dB, libsndfile drift %.1f dB below the signal\n", snr, driftDb);
		EXPECT_GT(snr, 5.0);
		EXPECT_GT(driftDb, snr + 15.0);
	}
}

}  // namespace
