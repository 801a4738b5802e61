// Tests of quantisation: tables recomputed from their formulas, the decoder's dequantisation golden
// values, the fused quantisers' rounding rules and accuracy, and the library quantiser pairs.
#include <gtest/gtest.h>
#include <math.h>

#include <array>
#include <random>

#include "frame_internal.h"
#include "transform_internal.h"
namespace {

using Block64 = std::array<int16_t, 64>;

int RuleDcScaler(int q, bool luminance)
{
	if (q <= 4)
		return 8;
	if (luminance)
		return q <= 8 ? 2 * q : (q <= 24 ? q + 8 : 2 * q - 16);
	return q <= 24 ? (q + 13) / 2 : q - 6;
}

TEST(QuantTables, WeightsAndProductTablesFollowTheirDefinitions)
{
	const int intraRow[8] = {8, 17, 18, 19, 21, 23, 25, 27}, intraColumn[8] = {8, 17, 20, 21, 22, 23, 25, 27};
	for (int k = 0; k < 8; ++k) {
		EXPECT_EQ(kCoefficientIntra[k], intraRow[k]);
		EXPECT_EQ(kCoefficientIntra[8 * k], intraColumn[k]);
		EXPECT_EQ(kCoefficientInter[k], 16 + k);
		EXPECT_EQ(kCoefficientInter[8 * k], 16 + k);
	}
	EXPECT_EQ(kCoefficientIntra[63], 45);
	EXPECT_EQ(kCoefficientInter[63], 33);
	for (int q = 0; q < 32; ++q) {
		for (int i = 0; i < 64; ++i) {
			ASSERT_EQ(QuantTableIntra[q][i], 2 * q * kCoefficientIntra[i]) << q << " " << i;
			ASSERT_EQ(QuantTableInter[q][i], q * kCoefficientInter[i]) << q << " " << i;
		}
		for (int b = 0; b < 8; ++b)
			ASSERT_EQ(DCScalerTable[q * 8 + b], RuleDcScaler(q, b < 4)) << q << " " << b;
	}
}

TEST(QuantTables, ScaledReciprocalsEqualTheirFormulasInDoublePrecision)
{
	const double g[8] = {2 * sqrt(2.0),           2 * cos(M_PI / 16), 2 * cos(2 * M_PI / 16),
	                     2 * cos(3 * M_PI / 16),  2 * sqrt(2.0),      2 / cos(3 * M_PI / 16),
	                     -2 / cos(2 * M_PI / 16), -2 / cos(M_PI / 16)};
	for (int u = 0; u < 8; ++u)
		for (int v = 0; v < 8; ++v) {
			const int i = 8 * u + v;
			EXPECT_EQ(kScaledQuantizerCoefficient_Intra[i],
			          lround(32768.0 / (g[u] * g[v] * kCoefficientIntra[i])))
			        << i;
			EXPECT_EQ(kScaledQuantizerCoefficient_Inter[i],
			          lround(32768.0 / (g[u] * g[v] * kCoefficientInter[i])))
			        << i;
		}
	for (int q = 0; q < 32; ++q) {
		EXPECT_EQ(kScaledQuantizerDCScaler_Y[q], static_cast<int>(floor(4096.0 / RuleDcScaler(q, true))))
		        << q;
		EXPECT_EQ(kScaledQuantizerDCScaler_UV[q], static_cast<int>(floor(4096.0 / RuleDcScaler(q, false))))
		        << q;
	}
	// The rows printed with the definition.
	const int16_t intra0[8] = {512, 347, 348, 367, 195, 209, -214, -210};
	const int16_t inter0[8] = {256, 347, 348, 367, 205, 229, -243, -247};
	const int16_t intra7[8] = {-210, -293, -290, -302, -162, -176, 181, 175};
	for (int k = 0; k < 8; ++k) {
		EXPECT_EQ(kScaledQuantizerCoefficient_Intra[k], intra0[k]);
		EXPECT_EQ(kScaledQuantizerCoefficient_Inter[k], inter0[k]);
		EXPECT_EQ(kScaledQuantizerCoefficient_Intra[56 + k], intra7[k]);
	}
	EXPECT_EQ(kScaledQuantizerDCScaler_Y[5], 409);
	EXPECT_EQ(kScaledQuantizerDCScaler_Y[31], 89);
	EXPECT_EQ(kScaledQuantizerDCScaler_UV[31], 163);
}

TEST(QuantTables, DcScalerFunctions)
{
	EXPECT_EQ(Quantizer_DCScalerY(31), 46);
	EXPECT_EQ(Quantizer_DCScalerY(8), 16);
	EXPECT_EQ(Quantizer_DCScalerY(9), 17);
	EXPECT_EQ(Quantizer_DCScalerUV(24), 18);
	EXPECT_EQ(Quantizer_DCScalerUV(25), 19);
	for (uint8_t q : {0, 32, 200, 255}) {
		EXPECT_EQ(Quantizer_DCScalerY(q), 8) << int(q);
		EXPECT_EQ(Quantizer_DCScalerUV(q), 8) << int(q);
	}
}

// The weight-17 inter position: row 0, column 1.
constexpr int kWeight17 = 1;

TEST(Dequantization, DecoderRoundsDownAndTheLibraryDequantizerTruncates)
{
	Block64 coef{}, recon{};
	coef[0] = 1;
	coef[kWeight17] = 1;
	DequantizeInter(coef.data(), recon.data(), 1);
	EXPECT_EQ(recon[0], 3);
	EXPECT_EQ(recon[kWeight17], 3);
	coef[0] = -1;
	coef[kWeight17] = -1;
	DequantizeInter(coef.data(), recon.data(), 1);
	EXPECT_EQ(recon[0], -3);
	EXPECT_EQ(recon[kWeight17], -4);

	MacroBlock mb{};
	mb.mbType = kMbTypeInter;
	mb.mbQuant = 1;
	Block blk{};
	blk.mb = &mb;
	blk.kind = kBlockKindLuma;
	std::copy(coef.begin(), coef.end(), blk.coef);
	DeQuantizer(&blk, recon.data());
	EXPECT_EQ(recon[0], -3);
	EXPECT_EQ(recon[kWeight17], -3);

	// Intra: quant 31, luminance DC scaler 46.
	Block64 intra{};
	intra[0] = 255;
	intra[9] = -3;  // weight 18: (-3 * 2 * 31 * 18) >> 4 = -3348 / 16 rounded down
	DequantizeIntra(intra.data(), recon.data(), 31, 0);
	EXPECT_EQ(recon[0], 11730);
	EXPECT_EQ(recon[9], -210);
	DequantizeIntra(intra.data(), recon.data(), 31, 4);
	EXPECT_EQ(recon[0], 255 * 25);
}

TEST(Dequantization, ZeroLevelsGiveZeroEverywhere)
{
	std::mt19937 rng(3);
	for (int n = 0; n < 200; ++n) {
		Block64 coef{};
		for (auto& c : coef)
			c = (rng() % 3 == 0) ? static_cast<int16_t>(int(rng() % 4095) - 2047) : 0;
		const uint8_t q = static_cast<uint8_t>(1 + rng() % 31);
		Block64 a, b, c, d;
		a.fill(-7);
		b.fill(-7);
		c.fill(-7);
		d.fill(-7);
		DequantizeIntra(coef.data(), a.data(), q, rng() % 6);
		DequantizeInter(coef.data(), b.data(), q);
		MacroBlock mb{};
		mb.mbQuant = q;
		Block blk{};
		blk.mb = &mb;
		std::copy(coef.begin(), coef.end(), blk.coef);
		mb.mbType = kMbTypeIntra;
		DeQuantizer(&blk, c.data());
		mb.mbType = kMbTypeInter;
		DeQuantizer(&blk, d.data());
		for (int i = 0; i < 64; ++i) {
			if (coef[i] != 0)
				continue;
			ASSERT_EQ(a[i], 0);
			ASSERT_EQ(b[i], 0);
			ASSERT_EQ(c[i], 0);
			ASSERT_EQ(d[i], 0);
		}
	}
}

// The rounded intermediate of the fused quantisers, recomputed in 64-bit arithmetic (no input here
// comes near the 32-bit range).
int64_t FusedIntermediate(const int32_t* x, const int16_t* factors, int i)
{
	return (int64_t{x[i]} * 16 * factors[i] + (1 << 19)) >> 20;
}

TEST(FusedQuantizer, LevelsFollowTheDeadZoneAndOffsetRules)
{
	std::mt19937 rng(17);
	bool sawInterDeadZone = false, sawIntraOffset = false, sawQuant8Edges[2] = {false, false};
	for (int n = 0; n < 3000; ++n) {
		Block64 pixels, residual;
		for (int i = 0; i < 64; ++i) {
			pixels[i] = static_cast<int16_t>(rng() % 256);
			residual[i] = static_cast<int16_t>(int(rng() % 41) - 20);
		}
		const uint16_t q = static_cast<uint16_t>(n % 3 == 0 ? 1 : (n % 3 == 1 ? 8 : 1 + rng() % 31));
		int32_t x[64];
		Block64 level;

		LiftingDCT(residual.data(), x);
		GapsDCTQuantize_Inter(residual.data(), q, level.data());
		for (int i = 0; i < 64; ++i) {
			const int64_t t = FusedIntermediate(x, kScaledQuantizerCoefficient_Inter, i);
			ASSERT_EQ(level[i], t / (2 * q)) << "inter " << n << " at " << i;
			if (q == 1 && t == 1) {
				sawInterDeadZone = true;
				EXPECT_EQ(level[i], 0);
			}
		}

		LiftingDCT(pixels.data(), x);
		GapsDCTQuantize_IntraY(pixels.data(), q, level.data());
		const int64_t offset = (3 * q + 2) >> 2;
		for (int i = 1; i < 64; ++i) {
			const int64_t t = FusedIntermediate(x, kScaledQuantizerCoefficient_Intra, i);
			ASSERT_EQ(level[i], t > 0 ? (t + offset) / (2 * q) : (t - offset) / (2 * q))
			        << "intra " << n << " at " << i;
			if (q == 1 && t == 1) {
				sawIntraOffset = true;
				EXPECT_EQ(level[i], 1);
			}
			if (q == 8 && t == 10) {
				sawQuant8Edges[0] = true;
				EXPECT_EQ(level[i], 1);
			}
			if (q == 8 && t == 9) {
				sawQuant8Edges[1] = true;
				EXPECT_EQ(level[i], 0);
			}
		}
	}
	EXPECT_TRUE(sawInterDeadZone);
	EXPECT_TRUE(sawIntraOffset);
	EXPECT_TRUE(sawQuant8Edges[0] && sawQuant8Edges[1]);
}

TEST(FusedQuantizer, DcLevelsAndExtremes)
{
	Block64 in;
	in.fill(255);
	Block64 level;
	GapsDCTQuantize_Inter(in.data(), 1, level.data());
	EXPECT_EQ(level[0], 1020);  // the largest level the encoder can produce
	in.fill(-255);
	GapsDCTQuantize_Inter(in.data(), 1, level.data());
	EXPECT_EQ(level[0], -1020);
	for (int i = 1; i < 64; ++i)
		ASSERT_EQ(level[i], 0);

	// A constant intra block: the DC 2048p times the truncated 12-bit reciprocal of the scaler, which
	// lands within one level of 8p / scaler.
	for (int q = 1; q <= 31; ++q)
		for (int p : {0, 1, 60, 128, 255}) {
			in.fill(static_cast<int16_t>(p));
			for (bool luminance : {true, false}) {
				const int scaler = RuleDcScaler(q, luminance);
				(luminance ? GapsDCTQuantize_IntraY
				           : GapsDCTQuantize_IntraUV)(in.data(), static_cast<uint16_t>(q), level.data());
				EXPECT_EQ(level[0], (int64_t{2048} * p * (4096 / scaler) + (1 << 19)) >> 20) << q << " " << p;
				EXPECT_LT(fabs(level[0] - 8.0 * p / scaler), 1.0) << q << " " << p;
			}
		}
	in.fill(255);
	GapsDCTQuantize_IntraY(in.data(), 31, level.data());
	EXPECT_EQ(level[0], 44);  // 2040 / 46 = 44.3
}

TEST(FusedQuantizer, AgreesWithTheMatrixQuantizerOnExactCoefficients)
{
	// The fused routines approximate round(16 F / W) with fixed-point steps; against the exact DCT
	// their levels differ by at most one and only rarely.
	std::mt19937 rng(23);
	int differing = 0, total = 0;
	for (int n = 0; n < 1000; ++n) {
		Block64 in;
		for (auto& v : in)
			v = static_cast<int16_t>(int(rng() % 511) - 255);
		const int q = 1 + static_cast<int>(rng() % 31);
		Block64 level;
		GapsDCTQuantize_Inter(in.data(), static_cast<uint16_t>(q), level.data());
		for (int u = 0; u < 8; ++u)
			for (int v = 0; v < 8; ++v) {
				double f = 0;
				for (int y = 0; y < 8; ++y)
					for (int x = 0; x < 8; ++x)
						f += in[8 * y + x] * (u ? 0.5 : sqrt(0.125)) * cos((2 * y + 1) * u * M_PI / 16) *
						     (v ? 0.5 : sqrt(0.125)) * cos((2 * x + 1) * v * M_PI / 16);
				const int64_t t = llround(16 * f / kCoefficientInter[8 * u + v]);
				const int64_t expected = t / (2 * q);
				ASSERT_LE(std::abs(level[8 * u + v] - expected), 1) << n << " " << u << " " << v;
				differing += level[8 * u + v] != expected;
				++total;
			}
	}
	EXPECT_LT(differing, total / 100);
}

TEST(FusedQuantizer, DispatchChoosesByMacroblockTypeAndBlockKind)
{
	Block64 in;
	for (int i = 0; i < 64; ++i)
		in[i] = static_cast<int16_t>((i * 37) % 256);
	MacroBlock mb{};
	mb.mbQuant = 5;
	Block blk{};
	blk.mb = &mb;
	Block64 expected;
	const struct {
		uint8_t type, kind;
		void (*routine)(const int16_t*, uint16_t, int16_t*);
	} cases[] = {{kMbTypeInter, kBlockKindLuma, GapsDCTQuantize_Inter},
	             {kMbTypeInter, kBlockKindChroma, GapsDCTQuantize_Inter},
	             {kMbTypeIntra, kBlockKindLuma, GapsDCTQuantize_IntraY},
	             {kMbTypeIntra, kBlockKindChroma, GapsDCTQuantize_IntraUV},
	             {kMbTypeInter4V, kBlockKindLuma, GapsDCTQuantize_IntraY}};
	for (const auto& c : cases) {
		mb.mbType = c.type;
		blk.kind = c.kind;
		GapsDCTQuantizerDispatch(in.data(), &blk);
		c.routine(in.data(), 5, expected.data());
		EXPECT_TRUE(std::equal(expected.begin(), expected.end(), blk.coef))
		        << int(c.type) << " " << int(c.kind);
	}
	// Intra DCs of luminance and chrominance differ at quant 5 (scalers 10 and 9).
	in.fill(200);
	mb.mbType = kMbTypeIntra;
	blk.kind = kBlockKindChroma;
	GapsDCTQuantizerDispatch(in.data(), &blk);
	EXPECT_EQ(blk.coef[0], 178);  // 1600 / 9
}

TEST(MatrixQuantizer, RoundsClampsAndRoundTripsWithTheDequantizer)
{
	MacroBlock mb{};
	Block blk{};
	blk.mb = &mb;
	blk.kind = kBlockKindLuma;
	Block64 in{};

	mb.mbType = kMbTypeIntra;
	mb.mbQuant = 3;  // DC scaler 8
	in[0] = 12;
	in[1] = 17;  // k = 16, level (16 + 2) / 6 = 3
	in[2] = -1;  // k = (-16 - 9) / 18 = -1, level (-1 - 2) / 6 = 0
	Quantizer(in.data(), &blk);
	EXPECT_EQ(blk.coef[0], 2);
	EXPECT_EQ(blk.coef[1], 3);
	EXPECT_EQ(blk.coef[2], 0);
	in[0] = -12;
	Quantizer(in.data(), &blk);
	EXPECT_EQ(blk.coef[0], -2);

	mb.mbType = kMbTypeInter;
	mb.mbQuant = 1;
	in.fill(0);
	in[0] = 32767;
	in[1] = -32768;
	in[2] = 32;  // k = (512 + 9) / 18 = 28, level 14
	Quantizer(in.data(), &blk);
	EXPECT_EQ(blk.coef[0], 2047);
	EXPECT_EQ(blk.coef[1], -2048);
	EXPECT_EQ(blk.coef[2], 14);

	// Coefficients of a real block come back within about one quantiser step.
	std::mt19937 rng(29);
	for (int n = 0; n < 200; ++n) {
		Block64 pixels, coef, back;
		for (auto& v : pixels)
			v = static_cast<int16_t>(rng() % 256);
		FloatDCT(pixels.data(), coef.data());
		mb.mbType = n % 2 ? kMbTypeIntra : kMbTypeInter;
		mb.mbQuant = static_cast<uint8_t>(1 + n % 31);
		Quantizer(coef.data(), &blk);
		DeQuantizer(&blk, back.data());
		const int q = mb.mbQuant;
		for (int i = 0; i < 64; ++i) {
			const int w = mb.mbType == kMbTypeIntra ? kCoefficientIntra[i] : kCoefficientInter[i];
			const int step =
			        i == 0 && mb.mbType == kMbTypeIntra ? Quantizer_DCScalerY(uint8_t(q)) : 2 * q * w / 16;
			ASSERT_LE(std::abs(back[i] - coef[i]), 3 * step / 2 + 2) << n << " at " << i;
		}
	}
}

TEST(UniformQuantizer, PairFollowsTheH263Rules)
{
	Block64 in, out;
	for (int i = 0; i < 64; ++i)
		in[i] = static_cast<int16_t>(i * 13 - 400);
	Quantizer_H263(in.data(), out.data(), 0, 1, 1);
	EXPECT_EQ(in, out);
	DeQuantizer_H263(in.data(), out.data(), 0, 0, 0);
	EXPECT_EQ(in, out);

	in.fill(0);
	Quantizer_H263(in.data(), out.data(), 4, 1, 1);
	EXPECT_EQ(out[0], 1);  // a DC of 0 is clipped to 1
	in[0] = 30000;
	in[1] = -30000;
	in[2] = 17;  // 17 / 8
	in[3] = -17;
	Quantizer_H263(in.data(), out.data(), 4, 1, 1);
	EXPECT_EQ(out[0], 254);
	EXPECT_EQ(out[1], -2047);
	EXPECT_EQ(out[2], 2);
	EXPECT_EQ(out[3], -2);
	Quantizer_H263(in.data(), out.data(), 4, 0, 1);
	EXPECT_EQ(out[0], 2047);
	EXPECT_EQ(out[2], 1);  // (17 - 2) / 8
	EXPECT_EQ(out[3], -1);

	Block64 level{};
	level[0] = 10;
	level[1] = 1;
	level[2] = -2;
	level[3] = 2000;
	DeQuantizer_H263(level.data(), out.data(), 5, 0, 1);
	EXPECT_EQ(out[0], 105);
	EXPECT_EQ(out[1], 15);
	EXPECT_EQ(out[2], -25);
	EXPECT_EQ(out[3], 2047);
	EXPECT_EQ(out[4], 0);
	DeQuantizer_H263(level.data(), out.data(), 6, 1, 0);
	EXPECT_EQ(out[0], 10 * 9);  // chrominance scaler of quant 6: (6 + 13) >> 1
	EXPECT_EQ(out[1], 17);      // even quant: 6 * 3 - 1
	EXPECT_EQ(out[2], -29);
}

}  // namespace
