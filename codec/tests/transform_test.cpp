// Tests of the transforms: the inverse DCT against an independent 64-bit reference that wraps at
// every step (overflowing blocks included), and the forward DCTs against a double-precision DCT.
#include <gtest/gtest.h>
#include <math.h>

#include <algorithm>
#include <array>
#include <random>

#include "transform_internal.h"
namespace {

using Block64 = std::array<int16_t, 64>;

// ---- Independent inverse DCT reference: int64 arithmetic, each result cut to 32 bits. ----

struct RefArith {
	bool overflowed = false;  // some step left the 32-bit range and was wrapped
	int64_t operator()(int64_t v)
	{
		const int64_t w = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
		if (w != v)
			overflowed = true;
		return w;
	}
};

void RefIdct1D(int64_t* v, bool column, RefArith& w)
{
	const int64_t bias = column ? 4 : 0;
	const int drop = column ? 3 : 0;
	const int64_t x0i = column ? w(w(v[0] * 256) + 8192) : w(w(v[0] * 2048) + 128);
	const int64_t x1i = w(v[4] * (column ? 256 : 2048));
	int64_t x0 = x0i, x1 = x1i, x2 = v[6], x3 = v[2], x4 = v[1], x5 = v[7], x6 = v[5], x7 = v[3];
	int64_t x8 = w(w(565 * w(x4 + x5)) + bias);
	x4 = w(x8 + w(2276 * x4)) >> drop;
	x5 = w(x8 - w(3406 * x5)) >> drop;
	x8 = w(w(2408 * w(x6 + x7)) + bias);
	x6 = w(x8 - w(799 * x6)) >> drop;
	x7 = w(x8 - w(4017 * x7)) >> drop;
	x8 = w(x0 + x1);
	x0 = w(x0 - x1);
	x1 = w(w(1108 * w(x3 + x2)) + bias);
	x2 = w(x1 - w(3784 * x2)) >> drop;
	x3 = w(x1 + w(1568 * x3)) >> drop;
	x1 = w(x4 + x6);
	x4 = w(x4 - x6);
	x6 = w(x5 + x7);
	x5 = w(x5 - x7);
	x7 = w(x8 + x3);
	x8 = w(x8 - x3);
	x3 = w(x0 + x2);
	x0 = w(x0 - x2);
	x2 = w(w(181 * w(x4 + x5)) + 128) >> 8;
	x4 = w(w(181 * w(x4 - x5)) + 128) >> 8;
	const int s = column ? 14 : 8;
	v[0] = w(x7 + x1) >> s;
	v[1] = w(x3 + x2) >> s;
	v[2] = w(x0 + x4) >> s;
	v[3] = w(x8 + x6) >> s;
	v[4] = w(x8 - x6) >> s;
	v[5] = w(x0 - x4) >> s;
	v[6] = w(x3 - x2) >> s;
	v[7] = w(x7 - x1) >> s;
}

// Rows first, then columns; every stored value is cut to 16 bits.
Block64 RefIdct(const Block64& in, RefArith& w)
{
	auto store = [](int64_t v) -> int64_t { return static_cast<int16_t>(static_cast<uint16_t>(v)); };
	int64_t t[64];
	for (int i = 0; i < 64; ++i)
		t[i] = in[i];
	for (int pass = 0; pass < 2; ++pass) {
		const bool column = pass == 1;
		for (int k = 0; k < 8; ++k) {
			int64_t v[8];
			for (int j = 0; j < 8; ++j)
				v[j] = t[column ? 8 * j + k : 8 * k + j];
			bool acZero = true;
			for (int j = 1; j < 8; ++j)
				acZero = acZero && v[j] == 0;
			if (acZero) {
				const int64_t dc = column ? (v[0] + 32) >> 6 : v[0] * 8;
				for (int j = 0; j < 8; ++j)
					v[j] = dc;
			} else {
				RefIdct1D(v, column, w);
			}
			for (int j = 0; j < 8; ++j)
				t[column ? 8 * j + k : 8 * k + j] = store(v[j]);
		}
	}
	Block64 out;
	for (int i = 0; i < 64; ++i)
		out[i] = static_cast<int16_t>(t[i]);
	return out;
}

Block64 Idct(Block64 b)
{
	IDCT_Fast(b.data());
	return b;
}

// ---- Double-precision orthonormal DCT ----

double Basis(int k, int x) { return (k == 0 ? sqrt(0.125) : 0.5) * cos((2 * x + 1) * k * M_PI / 16); }

std::array<double, 64> ExactDct(const Block64& in)
{
	std::array<double, 64> out{};
	for (int u = 0; u < 8; ++u)
		for (int v = 0; v < 8; ++v)
			for (int y = 0; y < 8; ++y)
				for (int x = 0; x < 8; ++x)
					out[8 * u + v] += in[8 * y + x] * Basis(u, y) * Basis(v, x);
	return out;
}

std::array<double, 64> ExactIdct(const Block64& in)
{
	std::array<double, 64> out{};
	for (int y = 0; y < 8; ++y)
		for (int x = 0; x < 8; ++x)
			for (int u = 0; u < 8; ++u)
				for (int v = 0; v < 8; ++v)
					out[8 * y + x] += in[8 * u + v] * Basis(u, y) * Basis(v, x);
	return out;
}

Block64 RandomBlock(std::mt19937& rng, int low, int high, double density = 1.0)
{
	std::uniform_int_distribution<int> value(low, high);
	std::bernoulli_distribution present(density);
	Block64 b{};
	for (auto& v : b)
		v = present(rng) ? static_cast<int16_t>(value(rng)) : 0;
	return b;
}

TEST(InverseDct, DcOnlyBlocksGiveTheRoundedEighth)
{
	const std::pair<int16_t, int16_t> golden[] = {{8, 1},   {1024, 128}, {-1, 0},
	                                              {-8, -1}, {2047, 256}, {-2048, -256}};
	for (auto [dc, expected] : golden) {
		Block64 b{};
		b[0] = dc;
		const Block64 out = Idct(b);
		for (int i = 0; i < 64; ++i)
			ASSERT_EQ(out[i], expected) << "dc " << dc << " at " << i;
	}
	for (int dc = -2048; dc <= 2047; ++dc) {
		Block64 b{};
		b[0] = static_cast<int16_t>(dc);
		ASSERT_EQ(Idct(b)[37], (8 * dc + 32) >> 6) << dc;
	}
}

TEST(InverseDct, MatchesTheWrappingReferenceOnRandomAndSparseBlocks)
{
	std::mt19937 rng(1234);
	for (int n = 0; n < 20000; ++n) {
		const double density = n % 4 == 0 ? 1.0 : (n % 4 == 1 ? 0.15 : 0.04);
		const Block64 in = RandomBlock(rng, -2048, 2047, density);
		RefArith w;
		ASSERT_EQ(Idct(in), RefIdct(in, w)) << "block " << n;
	}
	// Hostile 16-bit coefficients, beyond anything the dequantiser produces.
	for (int n = 0; n < 5000; ++n) {
		const Block64 in = RandomBlock(rng, -32768, 32767, n % 2 ? 1.0 : 0.1);
		RefArith w;
		ASSERT_EQ(Idct(in), RefIdct(in, w)) << "int16 block " << n;
	}
}

TEST(InverseDct, OverflowingBlocksWrapExactlyLikeTheReference)
{
	// Full-scale coefficients of alternating sign drive the column pass's 181 * (x4 - x5) and its
	// neighbours past 32 bits.
	std::mt19937 rng(99);
	int overflowing = 0;
	for (int n = 0; n < 4000; ++n) {
		Block64 in;
		for (int i = 0; i < 64; ++i) {
			const int magnitude = 2047 - static_cast<int>(rng() % 8);
			in[i] = static_cast<int16_t>((rng() & 1) ? magnitude : -magnitude - 1);
		}
		if (n == 0)
			for (int i = 0; i < 64; ++i)
				in[i] = static_cast<int16_t>(((i / 8 + i % 8) & 1) ? -2048 : 2047);
		RefArith wrapped;
		const Block64 expected = RefIdct(in, wrapped);
		ASSERT_EQ(Idct(in), expected) << "block " << n;
		if (wrapped.overflowed)
			++overflowing;
	}
	// The set must really exercise the 32-bit wrap, not just large values.
	EXPECT_GT(overflowing, 100);
}

TEST(InverseDct, StaysCloseToTheExactTransformAndIsUnclipped)
{
	std::mt19937 rng(7);
	for (int n = 0; n < 2000; ++n) {
		const Block64 in = RandomBlock(rng, -256, 255, 0.3);
		const Block64 out = Idct(in);
		const auto exact = ExactIdct(in);
		for (int i = 0; i < 64; ++i)
			ASSERT_NEAR(out[i], exact[i], 1.0) << "block " << n << " at " << i;
	}
	Block64 in{};
	in[0] = 2047;
	in[1] = 1000;
	const Block64 out = Idct(in);
	EXPECT_GT(*std::max_element(out.begin(), out.end()), 255);
}

TEST(LiftingTransform, ConstantBlocksGiveOnlyTheScaledDc)
{
	for (int p : {0, 1, -1, 100, 255, -255}) {
		Block64 in;
		in.fill(static_cast<int16_t>(p));
		int32_t out[64];
		LiftingDCT(in.data(), out);
		EXPECT_EQ(out[0], 2048 * p);
		for (int i = 1; i < 64; ++i)
			ASSERT_EQ(out[i], 0) << "p " << p << " at " << i;
	}
	Block64 in;
	in.fill(255);
	int32_t out[64];
	LiftingDCT(in.data(), out);
	EXPECT_EQ(out[0], 522240);
}

TEST(LiftingTransform, EqualsTheGainScaledOrthonormalDct)
{
	const double g[8] = {2 * sqrt(2.0),           2 * cos(M_PI / 16), 2 * cos(2 * M_PI / 16),
	                     2 * cos(3 * M_PI / 16),  2 * sqrt(2.0),      2 / cos(3 * M_PI / 16),
	                     -2 / cos(2 * M_PI / 16), -2 / cos(M_PI / 16)};
	std::mt19937 rng(5);
	double worst = 0;
	for (int n = 0; n < 1000; ++n) {
		const Block64 in = RandomBlock(rng, n % 2 ? -255 : 0, 255);
		int32_t out[64];
		LiftingDCT(in.data(), out);
		const auto exact = ExactDct(in);
		for (int u = 0; u < 8; ++u)
			for (int v = 0; v < 8; ++v) {
				const double f = out[8 * u + v] / (32 * g[u] * g[v]);
				worst = std::max(worst, fabs(f - exact[8 * u + v]));
			}
	}
	// The fixed-point lifting steps stay well below a quarter of a coefficient unit.
	EXPECT_LT(worst, 0.25);
}

TEST(FloatDct, RoundsExactHalvesDownAndMatchesTheExactDct)
{
	for (int p : {0, 7, 255, -255}) {
		Block64 in;
		in.fill(static_cast<int16_t>(p));
		Block64 out;
		FloatDCT(in.data(), out.data());
		EXPECT_EQ(out[0], 8 * p);
		for (int i = 1; i < 64; ++i)
			ASSERT_EQ(out[i], 0) << "p " << p << " at " << i;
	}
	// A sum of 4 puts the DC at 0.5 and a sum of -4 at -0.5: both round down.
	Block64 in{};
	in[0] = in[9] = in[18] = in[27] = 1;
	Block64 out;
	FloatDCT(in.data(), out.data());
	EXPECT_EQ(out[0], 0);
	in[0] = in[9] = in[18] = in[27] = -1;
	FloatDCT(in.data(), out.data());
	EXPECT_EQ(out[0], -1);

	std::mt19937 rng(11);
	for (int n = 0; n < 1000; ++n) {
		const Block64 block = RandomBlock(rng, -255, 255);
		FloatDCT(block.data(), out.data());
		const auto exact = ExactDct(block);
		for (int i = 0; i < 64; ++i)
			ASSERT_NEAR(out[i], exact[i], 0.51) << "block " << n << " at " << i;
	}
}

}  // namespace
