// The better tuning: every stream decodes to exactly the encoder's reference (sizes down to 1x1, all
// qualities, filters, threads, rate control), chunks do not depend on the thread count, unchanged
// pictures become uncoded VOPs, and the costs its decisions rest on are the writer's real bits.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "bitstream_internal.h"
#include "enc_internal.h"
#include "enc_test_util.h"
#include "entropy_internal.h"
#include "prediction_internal.h"
#include "syntax_internal.h"
#include "transform_internal.h"
using namespace enctest;

namespace {

::testing::Environment* const kLibrary = ::testing::AddGlobalTestEnvironment(new Library);

// Bits a writer call produces, counted without storing anything.
template <class Write>
uint32_t Counted(Write write)
{
	uint8_t none = 0;
	BitStream counter;
	BitStream_InitWriter(&counter, &none, 0);
	write(&counter);
	return counter.bitPos;
}

// A moving object over still texture, with some frames repeated so that skipping and uncoded VOPs
// are exercised beside motion, intra and noise.
Scene Mixed()
{
	const Scene object = MovingObject(), noise = Noise(5);
	return [=](int f, int x, int y) {
		if (f == 5)
			return noise(f, x, y);
		return object(f < 3 ? 0 : f, x, y);
	};
}

void RoundTrip(uint32_t width, uint32_t height, uint32_t quality, bool filters, uint32_t threads,
               const Scene& scene, int frames, uint32_t dataRate = 0)
{
	CodecPair pair(width, height, quality);
	pair.encoder->tuning = kTuningBetter;
	pair.encoder->deblock = pair.encoder->dering = filters;
	pair.encoder->threadCount = threads;
	pair.encoder->dataRate = dataRate;
	pair.decoder->threadCount = threads;
	for (int f = 0; f < frames; ++f) {
		Frame frame = SceneFrame(scene, f, width, height, kPixelFormatBGRA);
		const std::string where = std::to_string(width) + "x" + std::to_string(height) + " q" +
		                          std::to_string(quality) + (filters ? " filters" : "") + " threads " +
		                          std::to_string(threads) + " frame " + std::to_string(f);
		pair.Encode(frame, where.c_str());
		if (::testing::Test::HasFatalFailure())
			return;
	}
}

TEST(BetterTuning, DecodesToTheEncodersReference)
{
	const struct {
		uint32_t width, height;
	} sizes[] = {{1, 1}, {16, 16}, {17, 9}, {33, 47}, {96, 64}};
	for (const auto& size : sizes)
		for (uint32_t quality : {0u, 512u, 870u, 1024u})
			for (bool filters : {false, true})
				for (uint32_t threads : {1u, 2u}) {
					RoundTrip(size.width, size.height, quality, filters, threads, Mixed(), 8);
					if (HasFatalFailure())
						return;
				}
}

TEST(BetterTuning, DecodesToTheEncodersReferenceUnderRateControl)
{
	for (uint32_t kbps : {30u, 400u, 3000u})
		for (uint32_t threads : {1u, 2u}) {
			RoundTrip(64, 48, 0, true, threads, Pan(1.5, -2.5), 12, kbps);
			if (HasFatalFailure())
				return;
		}
}

// Rows are decided in parallel: the chunks must not depend on how many threads decide them.
TEST(BetterTuning, ChunksAreTheSameForEveryThreadCount)
{
	constexpr uint32_t kWidth = 80, kHeight = 96;
	std::vector<std::vector<uint8_t>> reference;
	for (uint32_t threads : {1u, 2u, 3u, 5u}) {
		CodecPair pair(kWidth, kHeight, 700);
		pair.encoder->tuning = kTuningBetter;
		pair.encoder->deblock = 1;
		pair.encoder->threadCount = threads;
		for (int f = 0; f < 10; ++f) {
			Frame frame = SceneFrame(f < 5 ? Pan(2.5, 1) : Mixed(), f, kWidth, kHeight, kPixelFormatBGRA);
			ASSERT_EQ(pair.EncodeOnly(frame), kKorvoOK);
			if (threads == 1)
				reference.push_back(pair.chunk);
			else
				EXPECT_EQ(pair.chunk, reference[size_t(f)]) << threads << " threads, frame " << f;
		}
	}
}

// A picture identical to the reference sends the VOP header alone, and the decoder keeps its picture.
TEST(BetterTuning, UnchangedPicturesAreUncodedVops)
{
	CodecPair pair(48, 32, 870);
	pair.encoder->tuning = kTuningBetter;
	// Flat grey: the reconstruction of the I-VOP equals the source exactly.
	Frame grey = MakeBgra(48, 32, [](int, int) { return Rgb{128, 128, 128}; });
	pair.Encode(grey, "I-VOP");
	EXPECT_EQ(pair.encoder->vop->coded, 1u);
	const std::vector<uint8_t> shown = pair.output;
	for (int f = 1; f < 3; ++f) {
		pair.Encode(grey, "P-VOP");
		EXPECT_EQ(pair.encoder->vop->coded, 0u);
		EXPECT_EQ(pair.decoder->vop->coded, 0u);
		EXPECT_LE(pair.chunk.size(), 8u);
		EXPECT_EQ(pair.output, shown);
	}
	// A change is coded again.
	Frame lighter = MakeBgra(48, 32, [](int x, int) {
		return x < 16 ? Rgb{160, 160, 160} : Rgb{128, 128, 128};
	});
	pair.Encode(lighter, "changed");
	EXPECT_EQ(pair.encoder->vop->coded, 1u);
	EXPECT_GT(pair.chunk.size(), 8u);
}

// The classic tuning is what a caller gets without asking; any other value is taken as classic.
TEST(BetterTuning, UnknownTuningsAreClassic)
{
	CodecPair classic(32, 32), unknown(32, 32);
	unknown.encoder->tuning = 7;
	for (int f = 0; f < 4; ++f) {
		Frame frame = SceneFrame(Pan(1, 1), f, 32, 32, kPixelFormatBGRA);
		ASSERT_EQ(classic.EncodeOnly(frame), kKorvoOK);
		ASSERT_EQ(unknown.EncodeOnly(frame), kKorvoOK);
		EXPECT_EQ(classic.chunk, unknown.chunk) << f;
	}
}

// On a pan by one and a half samples a frame over smooth texture the better tuning sends fewer bytes
// at the same quality setting, for a clearly better picture.
TEST(BetterTuning, SpendsFewerBitsOnAPan)
{
	const Scene pan = [](int f, int x, int y) {
		const double px = x + 1.5 * f, py = y + f;
		const uint8_t v = Clip(128 + 50 * std::sin(px * 0.21) + 40 * std::cos(py * 0.17) +
		                       25 * std::sin((px + 2 * py) * 0.3));
		return Rgb{v, uint8_t(255 - v), uint8_t(v / 2 + 60)};
	};
	constexpr uint32_t kWidth = 128, kHeight = 96;
	double bytes[2] = {}, psnr[2] = {};
	for (uint8_t tuning : {kTuningClassic, kTuningBetter}) {
		CodecPair pair(kWidth, kHeight, 512);
		pair.encoder->tuning = tuning;
		for (int f = 0; f < 10; ++f) {
			Frame frame = SceneFrame(pan, f, kWidth, kHeight, kPixelFormatBGRA);
			pair.Encode(frame);
			bytes[tuning] += double(pair.chunk.size());
			psnr[tuning] += LumaPsnr(pair.encoder->vop, pair.decoder->vop) / 10;
		}
	}
	EXPECT_LT(bytes[kTuningBetter], bytes[kTuningClassic]);
	EXPECT_GT(psnr[kTuningBetter], psnr[kTuningClassic] + 0.5);
}

// Pans both ways at speeds whose vectors round the chrominance differently from the luminance,
// at sizes down to a partial macroblock: every vector, half-sample and negative ones included,
// predicts in the encoder as in the decoder.
TEST(BetterTuning, DecodesPansToTheEncodersReference)
{
	const struct {
		uint32_t width, height;
	} sizes[] = {{1, 1}, {16, 16}, {23, 17}, {72, 40}};
	for (const auto& size : sizes)
		for (const Scene& pan : {Pan(1.7, -0.6), Pan(-1.3, 0.7), Pan(-0.4, -2.2)})
			for (uint32_t quality : {0u, 700u, 1024u}) {
				RoundTrip(size.width, size.height, quality, quality == 700, 1, pan, 6);
				if (HasFatalFailure())
					return;
			}
}

// Flat luminance, and chrominance whose second picture is the mean of each 2x2 square of the
// first: every vector predicts the luminance alike, so only a choice that weighs the chrominance
// takes the vector whose chrominance prediction averages those squares (+-1 half-sample each way:
// the chrominance vector 1, 1). Macroblocks clear of the right and bottom edges must take it.
TEST(BetterTuning, ChrominanceSteersTheVectorWhereLuminanceIsFlat)
{
	constexpr uint32_t kWidth = 96, kHeight = 64;
	const auto pattern = [](int x, int y) { return int(Texture(5.0 * x, 4.0 * y)); };
	const auto picture = [&](int f, int x, int y) {
		// Chrominance sample (x / 2, y / 2): both rows of a pair alike, so the 4:2:2 input keeps it.
		const int cx = x / 2, cy = y / 2;
		if (f == 0)
			return uint8_t(pattern(cx, cy));
		return uint8_t(
		        (pattern(cx, cy) + pattern(cx + 1, cy) + pattern(cx, cy + 1) + pattern(cx + 1, cy + 1) + 2) >>
		        2);
	};
	CodecPair pair(kWidth, kHeight, 900);
	pair.encoder->tuning = kTuningBetter;
	for (int f = 0; f < 2; ++f) {
		Frame frame = MakeYuvs(
		        kWidth, kHeight, [](int, int) { return uint8_t(128); },
		        [&](int x, int y) { return picture(f, x, y); },
		        [&](int x, int y) { return picture(f, y, x); });
		pair.Encode(frame);
		ASSERT_FALSE(HasFatalFailure());
	}
	const Vop* vop = pair.encoder->vop;
	ASSERT_EQ(vop->codingType, kCodingTypeP);
	for (uint32_t row = 0; row + 1 < vop->mbHeight; ++row)
		for (uint32_t column = 0; column + 1 < vop->mbWidth; ++column) {
			const MacroBlock* mb = vop->mbs[row * vop->mbWidth + column];
			EXPECT_EQ(mb->mbType, kMbTypeInter) << column << "," << row;
			EXPECT_EQ(ChromaVectorComponent(mb->mv.x), 1) << column << "," << row << " vector " << mb->mv.x;
			EXPECT_EQ(ChromaVectorComponent(mb->mv.y), 1) << column << "," << row << " vector " << mb->mv.y;
		}
}

// The cost tables are the writer's: every event and vector difference as many bits as written.
TEST(BetterTuning, EventAndVectorBitsAreTheWritersBits)
{
	for (uint8_t intra : {0, 1})
		for (uint32_t last : {0u, 1u})
			for (uint32_t run = 0; run < 64; ++run)
				for (int32_t level : {1, 2, 3, 5, 8, 12, 13, 27, 48, 49, 200, 2047}) {
					int16_t levels[64] = {};
					levels[run] = int16_t(level);
					if (!last)
						levels[63] = 1;
					const uint32_t written = Counted([&](BitStream* bs) {
						if (intra)
							VLCEncodeIntra(levels, bs, 64, 12);
						else
							VLCEncodeInter(levels, bs, 64, 12);
					});
					if (run == 63 && !last)
						continue;
					const uint32_t tail = last ? 0 : EventBits(intra, true, 62 - run, 1);
					ASSERT_EQ(EventBits(intra, last, run, level) + tail, written)
					        << int(intra) << " " << last << " " << run << " " << level;
				}
	for (int32_t d = -64; d <= 63; ++d) {
		const uint32_t written = Counted([&](BitStream* bs) { BitStream_WriteMV(bs, int16_t(d)); });
		ASSERT_EQ(MotionBits(d, 0), written + 1) << d;  // the zero y component is one bit
	}
}

// Exhaustive search over every choice of levels the block decision considers, on blocks small
// enough to enumerate: the dynamic programme must find the least cost.
double Cost(const int32_t* weighted, const int16_t* coef, uint8_t quant, bool intra, bool luma, double lambda)
{
	const int32_t* weights = intra ? kCoefficientIntra : kCoefficientInter;
	double distortion = 0;
	const uint32_t start = intra ? 1 : 0;
	int lastNonZero = -1;
	for (uint32_t k = start; k < 64; ++k)
		if (coef[DeZZ_Raw[k]])
			lastNonZero = int(k);
	uint32_t bits = 0, run = 0;
	for (uint32_t k = start; k < 64; ++k) {
		const uint32_t i = DeZZ_Raw[k];
		const double f = std::abs(weighted[i]) * weights[i] / 16.0;
		const int32_t m = std::abs(coef[i]);
		const double r = m == 0 ? 0 : (intra ? 2.0 * m * quant : (2.0 * m + 1) * quant) * weights[i] / 16.0;
		distortion += (f - r) * (f - r);
		if (int(k) > lastNonZero)
			continue;
		if (m == 0) {
			++run;
			continue;
		}
		bits += EventBits(intra && luma, int(k) == lastNonZero, run, m);
		run = 0;
	}
	return distortion + lambda * bits;
}

TEST(BetterTuning, BlockLevelsHaveTheLeastCost)
{
	std::mt19937 random(3);
	for (int trial = 0; trial < 300; ++trial) {
		const bool intra = trial % 3 == 0, luma = trial % 2 == 0;
		const uint8_t quant = uint8_t(1 + random() % 31);
		const double lambda = (random() % 100) / 40.0 * quant * quant;
		int32_t weighted[64] = {};
		// A few coefficients anywhere in the scan, small and large.
		const int count = 1 + int(random() % 6);
		for (int n = 0; n < count; ++n) {
			const int32_t magnitude = int32_t(random() % (10 * quant)) + (n == 0 ? 2 * quant : 0);
			weighted[DeZZ_Raw[(intra ? 1 : 0) + random() % 63]] = random() % 2 ? magnitude : -magnitude;
		}
		int16_t coef[64] = {};
		uint32_t bits = 0;
		const double distortion = Block_DecideLevels(weighted, coef, quant, intra, luma, lambda, &bits);
		EXPECT_NEAR(distortion, Cost(weighted, coef, quant, intra, luma, 0), 1e-6 * (1 + distortion));
		// An inter block's chosen events cost what the writer sends for them.
		if (!intra) {
			int16_t scanned[64];
			for (int k = 0; k < 64; ++k)
				scanned[k] = coef[DeZZ_Raw[k]];
			EXPECT_EQ(bits, Counted([&](BitStream* bs) { VLCEncodeInter(scanned, bs, 64, 12); }))
			        << "trial " << trial;
		}
		const double chosen = Cost(weighted, coef, quant, intra, luma, lambda);

		// Every magnitude each coefficient may take: 0, or one of the two nearest levels.
		std::vector<uint32_t> positions;
		for (uint32_t i = 0; i < 64; ++i)
			if (weighted[i] && !(intra && i == 0))
				positions.push_back(i);
		int16_t trialCoef[64] = {};
		double least = 1e300;
		std::function<void(size_t)> all = [&](size_t n) {
			if (n == positions.size()) {
				least = std::min(least, Cost(weighted, trialCoef, quant, intra, luma, lambda));
				return;
			}
			const uint32_t i = positions[n];
			const int32_t a = std::abs(weighted[i]);
			const int32_t nearest = intra ? (a + quant) / (2 * quant)
			                              : (a >= 2 * quant       ? a / (2 * quant)
			                                 : 2 * a >= 3 * quant ? 1
			                                                      : 0);
			for (int32_t m : {0, nearest - 1, nearest}) {
				if (m < 0)
					continue;
				trialCoef[i] = int16_t(weighted[i] < 0 ? -m : m);
				all(n + 1);
			}
			trialCoef[i] = 0;
		};
		all(0);
		EXPECT_NEAR(chosen, least, 1e-6 * (1 + least)) << "trial " << trial;
	}
}

// The block decision's distortion is the reconstruction's: dequantised and inverse transformed by
// the decoder's own routines, the squared error against the residual agrees closely.
TEST(BetterTuning, BlockDistortionIsTheReconstructionsError)
{
	std::mt19937 random(9);
	for (int trial = 0; trial < 50; ++trial) {
		int16_t residual[64];
		for (int16_t& r : residual)
			r = int16_t(int(random() % 61) - 30);
		int32_t weighted[64];
		DCTWeighted_Inter(residual, weighted);
		int16_t coef[64];
		const uint8_t quant = uint8_t(2 + trial % 12);
		const double estimate = Block_DecideLevels(weighted, coef, quant, false, true, 0.5 * quant * quant);
		int16_t recon[64];
		DequantizeInter(coef, recon, quant);
		IDCT_Fast(recon);
		double error = 0;
		for (int i = 0; i < 64; ++i)
			error += double(residual[i] - recon[i]) * (residual[i] - recon[i]);
		EXPECT_NEAR(estimate, error, 0.1 * error + 64) << trial;
	}
}

// The level decisions read event costs from a cache; every magnitude must cost what the writer's
// own event coder says, the fixed-length escapes beyond the cache included.
TEST(BetterTuning, CachedEventBitsAreTheCodersForEveryMagnitude)
{
	for (uint8_t intra : {0, 1})
		for (uint32_t last : {0u, 1u})
			for (uint32_t run = 0; run < 64; ++run)
				for (int32_t level = 1; level <= 2047; ++level)
					ASSERT_EQ(EventBits(intra, last, run, level), VLCEventBits(intra, last, run, level, 12))
					        << int(intra) << " " << last << " " << run << " " << level;
}

}  // namespace
