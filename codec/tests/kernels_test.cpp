// Every slot of the internal kernel table: the variant this processor runs is compared with the plain
// one on random, extreme and edge-of-buffer inputs (outputs and side effects both), and each slot is
// shown to be the one the codec calls by swapping in a counting wrapper and coding frames.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "enc_test_util.h"
#include "kernels_internal.h"
#include "korvo.h"
#include "transform_internal.h"

namespace {

const auto* const kLibrary = ::testing::AddGlobalTestEnvironment(new enctest::Library);

struct Tables {
	KorvKernels plain{}, fast{};
	Tables()
	{
		Kernels_Init(&plain, false);
		Kernels_Init(&fast, true);
	}
};

// Sample patterns: random, all 0, all 255, and alternating extremes (the largest differences).
enum Pattern { kRandom, kZero, kFull, kChecker, kPatterns };

void Fill(std::vector<uint8_t>& v, Pattern pattern, std::mt19937& rng, int phase = 0)
{
	for (size_t i = 0; i < v.size(); ++i) {
		switch (pattern) {
			case kRandom: v[i] = uint8_t(rng()); break;
			case kZero: v[i] = 0; break;
			case kFull: v[i] = 255; break;
			default: v[i] = ((i + size_t(phase)) & 1) ? 255 : 0; break;
		}
	}
}

// A plane of 48 x 48 samples; blocks are read at every offset up to its edge, so a kernel that reads
// beyond its block shows under the address sanitizer.
constexpr uint32_t kStride = 48;

TEST(KernelsDiffer, BlockWritersMatchPlainOnRandomAndSaturatingValues)
{
	Tables t;
	std::mt19937 rng(1);
	for (int trial = 0; trial < 2000; ++trial) {
		int16_t a[64], b[64];
		const int range = trial % 4 == 0 ? 65536 : trial % 4 == 1 ? 600 : 256;
		for (int i = 0; i < 64; ++i) {
			a[i] = int16_t(int32_t(rng() % uint32_t(range)) - range / 2);
			b[i] = int16_t(int32_t(rng() % uint32_t(range)) - range / 2);
		}
		if (trial == 0)
			for (int i = 0; i < 64; ++i)
				a[i] = b[i] = (i & 1) ? 32767 : -32768;  // sums that leave 16 bits
		std::vector<uint8_t> want(8 * 24, 0x5a), got(8 * 24, 0x5a);
		const uint32_t stride = 9 + uint32_t(trial % 16);
		const size_t offset = size_t(trial % 8);
		t.plain.blitSet(want.data() + offset, stride, a);
		t.fast.blitSet(got.data() + offset, stride, a);
		ASSERT_EQ(want, got) << "blitSet trial " << trial;
		t.plain.blitSetAdd(want.data() + offset, stride, a, b);
		t.fast.blitSetAdd(got.data() + offset, stride, a, b);
		ASSERT_EQ(want, got) << "blitSetAdd trial " << trial;
		// In place onto the samples written so far (0 and 255 among them after saturating sums).
		t.plain.blitAdd(want.data() + offset, stride, b);
		t.fast.blitAdd(got.data() + offset, stride, b);
		ASSERT_EQ(want, got) << "blitAdd trial " << trial;
	}
}

TEST(KernelsDiffer, FetchesMatchPlainAtEveryOffsetAndBias)
{
	Tables t;
	std::mt19937 rng(2);
	std::vector<uint8_t> plane(size_t{kStride} * kStride);
	for (int p = 0; p < kPatterns; ++p) {
		Fill(plane, Pattern(p), rng);
		for (uint32_t y = 0; y + 9 <= kStride; y += 3)
			for (uint32_t x = 0; x + 9 <= kStride; ++x) {
				const uint8_t* at = plane.data() + size_t(y) * kStride + x;
				int16_t want[64], got[64];
				t.plain.fetchBlock(at, kStride, want);
				t.fast.fetchBlock(at, kStride, got);
				ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << x << "," << y;
				for (int32_t bias = 1; bias <= 2; ++bias) {
					t.plain.fetchBlockAverage4(at, kStride, want, bias);
					t.fast.fetchBlockAverage4(at, kStride, got, bias);
					ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << x << "," << y << " bias " << bias;
				}
			}
	}
}

// An abandoning SAD is exact up to the limit and merely above it beyond: motion search compares it
// with the best so far and nothing else.
void ExpectSameDecision(int32_t plain, int32_t fast, int32_t limit)
{
	if (plain <= limit)
		ASSERT_EQ(plain, fast) << "limit " << limit;
	else
		ASSERT_GT(fast, limit) << "plain " << plain;
}

TEST(KernelsDiffer, SadsMatchPlainIncludingWhereTheyAbandon)
{
	Tables t;
	std::mt19937 rng(3);
	std::vector<uint8_t> ref(size_t{kStride} * kStride), cur(size_t{kStride} * kStride);
	const int32_t limits[] = {0, 100, 1000, 5000, INT32_MAX};
	// The candidate rows have a kernel at more than one level: each one the processor runs.
	std::vector<const KorvKernels*> rowLevels = {&t.fast};
#if defined(__x86_64__) || defined(__i386__)
	KorvKernels sse41 = t.plain;
	if (__builtin_cpu_supports("sse4.1")) {
		Kernels_InitSadSSE41(&sse41);
		rowLevels.push_back(&sse41);
	}
#endif
	for (int pr = 0; pr < kPatterns; ++pr)
		for (int pc = 0; pc < kPatterns; ++pc) {
			Fill(ref, Pattern(pr), rng, 0);
			Fill(cur, Pattern(pc), rng, 1);
			for (uint32_t y = 1; y + 17 <= kStride; y += 5)
				for (uint32_t x = 1; x + 17 <= kStride; x += 3) {
					const uint8_t* r = ref.data() + size_t(y) * kStride + x;
					const uint8_t* c = cur.data() + size_t(y) * kStride + x;
					for (int32_t limit : limits)
						for (int32_t rounding = 0; rounding <= 1; ++rounding) {
							ExpectSameDecision(t.plain.blockSad16(r, c, kStride, limit),
							                   t.fast.blockSad16(r, c, kStride, limit), limit);
							SCOPED_TRACE(testing::Message() << x << "," << y << " rounding " << rounding
							                                << " patterns " << pr << pc);
							ExpectSameDecision(t.plain.halfSampleSadDiagonal(r, c, kStride, rounding, limit),
							                   t.fast.halfSampleSadDiagonal(r, c, kStride, rounding, limit),
							                   limit);
							if (HasFatalFailure())
								return;
						}
					for (int32_t rounding = 0; rounding <= 1; ++rounding) {
						int32_t want[kHalfSampleCandidates], got[kHalfSampleCandidates];
						t.plain.halfSampleSads(r, c, kStride, rounding, want);
						t.fast.halfSampleSads(r, c, kStride, rounding, got);
						for (int k = 0; k < kHalfSampleCandidates; ++k)
							ASSERT_EQ(want[k], got[k])
							        << "candidate " << k << " at " << x << "," << y << " rounding "
							        << rounding << " patterns " << pr << pc;
					}
					// Rows of candidates read 24 samples of each row.
					if (x + 24 <= kStride)
						for (const KorvKernels* fast : rowLevels) {
							uint16_t want[16], got[16];
							t.plain.blockSadRow8(r, c, kStride, want);
							fast->blockSadRow8(r, c, kStride, got);
							ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << "row8 at " << x << "," << y;
							t.plain.blockSadRow16(r, c, kStride, want);
							fast->blockSadRow16(r, c, kStride, got);
							ASSERT_EQ(0, std::memcmp(want, got, 8 * sizeof *want))
							        << "row16 at " << x << "," << y;
						}
					for (int32_t start : {0, 7, 300}) {
						int32_t wantIncrease = start, gotIncrease = start;
						const uint32_t strideC = kStride, strideR = kStride - 8;
						ASSERT_EQ(t.plain.sadIncrease8x8(c, strideC, r, strideR, &wantIncrease),
						          t.fast.sadIncrease8x8(c, strideC, r, strideR, &gotIncrease));
						ASSERT_EQ(wantIncrease, gotIncrease) << x << "," << y << " start " << start;
					}
					ASSERT_EQ(t.plain.sse8x8(c, kStride, r, kStride - 8),
					          t.fast.sse8x8(c, kStride, r, kStride - 8))
					        << x << "," << y << " patterns " << pr << pc;
					for (int32_t bias = 0; bias <= 3; ++bias)
						ASSERT_EQ(t.plain.sadAverage4_8x8(c, r, kStride, bias),
						          t.fast.sadAverage4_8x8(c, r, kStride, bias))
						        << x << "," << y << " bias " << bias << " patterns " << pr << pc;
				}
		}
}

TEST(KernelsDiffer, DeviationMatchesPlainOnSamplesAndExtremeValues)
{
	Tables t;
	std::mt19937 rng(4);
	alignas(16) int16_t blocks[4][64];
	for (int trial = 0; trial < 3000; ++trial) {
		for (auto& block : blocks)
			for (int16_t& v : block) {
				switch (trial % 5) {
					case 0: v = int16_t(rng() & 255); break;                      // source samples
					case 1: v = int16_t(rng()); break;                            // any 16-bit value
					case 2: v = (rng() & 1) ? 32767 : -32768; break;              // widest spread
					case 3: v = int16_t(trial & 1 ? 255 : 0); break;              // flat extremes
					default: v = int16_t(int32_t(rng() % 9) - 4 - 32760); break;  // negative mean
				}
			}
		ASSERT_EQ(t.plain.deviation16x16(blocks[0], blocks[1], blocks[2], blocks[3]),
		          t.fast.deviation16x16(blocks[0], blocks[1], blocks[2], blocks[3]))
		        << "trial " << trial;
	}
}

TEST(KernelsDiffer, SubsampleMatchesPlainAtEveryWidthAndLeavesTheRestAlone)
{
	Tables t;
	std::mt19937 rng(5);
	for (int p = 0; p < kPatterns; ++p)
		for (uint32_t columns = 1; columns <= 41; ++columns) {
			const uint32_t rows = 1 + columns % 5, sourceStride = 2 * columns + columns % 3;
			std::vector<uint8_t> source(size_t{sourceStride} * 2 * rows);
			Fill(source, Pattern(p), rng, int(columns));
			const uint32_t outStride = columns + 7;
			std::vector<uint8_t> want(size_t{outStride} * rows, 0xA5), got(want);
			t.plain.subsample(source.data(), sourceStride, want.data(), outStride, columns, rows);
			t.fast.subsample(source.data(), sourceStride, got.data(), outStride, columns, rows);
			ASSERT_EQ(want, got) << "columns " << columns << " pattern " << p;
		}
}

// Blocks for the forward transform: encoder inputs (samples, residuals) and hostile ones whose
// 32-bit arithmetic wraps.
void FillTransformInput(int16_t* in, int kind, std::mt19937& rng)
{
	for (int i = 0; i < 64; ++i) {
		switch (kind) {
			case 0: in[i] = int16_t(rng() & 255); break;
			case 1: in[i] = int16_t(int32_t(rng() % 511) - 255); break;
			case 2: in[i] = int16_t(rng()); break;
			case 3: in[i] = int16_t(((i ^ (i >> 3)) & 1) ? 255 : -255); break;
			case 4: in[i] = int16_t(((i ^ (i >> 3)) & 1) ? 32767 : -32768); break;
			case 5: in[i] = int16_t(rng() & 1 ? 255 : 0); break;
			default: in[i] = int16_t(int32_t(rng() % 7) - 3); break;  // near the dead zone
		}
	}
}

TEST(KernelsDiffer, ForwardTransformAndQuantisersMatchPlain)
{
	Tables t;
	std::mt19937 rng(6);
	const struct {
		const char* name;
		DctQuantizeFn plain, fast;
	} kinds[] = {{"inter", t.plain.dctQuantizeInter, t.fast.dctQuantizeInter},
	             {"intraY", t.plain.dctQuantizeIntraY, t.fast.dctQuantizeIntraY},
	             {"intraUV", t.plain.dctQuantizeIntraUV, t.fast.dctQuantizeIntraUV}};
	alignas(16) int16_t in[64], want[64], got[64];
	for (int trial = 0; trial < 4000; ++trial) {
		FillTransformInput(in, trial % 7, rng);
		const uint16_t quant = uint16_t(trial % 34);  // 0 and 32, 33 are held to 1..31
		for (const auto& k : kinds) {
			k.plain(in, quant, want);
			k.fast(in, quant, got);
			ASSERT_EQ(0, std::memcmp(want, got, sizeof want))
			        << k.name << " trial " << trial << " quant " << quant;
		}
	}
}

// The weighted forms the level decisions start from: the values and, for intra, the levels too.
TEST(KernelsDiffer, WeightedTransformsMatchPlain)
{
	Tables t;
	std::mt19937 rng(16);
	// The transforms have kernels at more than one level: each one the processor runs.
	std::vector<const KorvKernels*> levels = {&t.fast};
#if defined(__x86_64__) || defined(__i386__)
	KorvKernels sse41 = t.plain;
	if (__builtin_cpu_supports("sse4.1")) {
		Kernels_InitQuantizeSSE41(&sse41);
		levels.push_back(&sse41);
	}
#endif
	alignas(16) int16_t in[64], want[64], got[64];
	int32_t wantWeighted[64], gotWeighted[64];
	for (int trial = 0; trial < 4000; ++trial) {
		FillTransformInput(in, trial % 7, rng);
		t.plain.dctWeightedInter(in, wantWeighted);
		for (const KorvKernels* fast : levels) {
			std::memset(gotWeighted, 0xaa, sizeof gotWeighted);
			fast->dctWeightedInter(in, gotWeighted);
			ASSERT_EQ(0, std::memcmp(wantWeighted, gotWeighted, sizeof wantWeighted))
			        << "inter trial " << trial;
		}
		const uint16_t quant = uint16_t(trial % 34);
		const bool luma = trial % 2 == 0;
		t.plain.dctQuantizeWeightedIntra(in, quant, luma, want, wantWeighted);
		for (const KorvKernels* fast : levels) {
			std::memset(gotWeighted, 0xaa, sizeof gotWeighted);
			fast->dctQuantizeWeightedIntra(in, quant, luma, got, gotWeighted);
			ASSERT_EQ(0, std::memcmp(want, got, sizeof want))
			        << "intra trial " << trial << " quant " << quant;
			ASSERT_EQ(0, std::memcmp(wantWeighted, gotWeighted, sizeof wantWeighted))
			        << "intra trial " << trial << " quant " << quant;
		}
		// The levels are the quantiser's own.
		(luma ? t.plain.dctQuantizeIntraY : t.plain.dctQuantizeIntraUV)(in, quant, want);
		ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << "intra trial " << trial << " quant " << quant;
	}
}

// The level decisions' screen: values around the bound, encoder-sized ones and extremes whose
// products wrap, with and without the intra DC.
TEST(KernelsDiffer, LevelScreenMatchesPlain)
{
	Tables t;
	std::mt19937 rng(17);
	// The screen has a kernel at more than one level: each one the processor runs.
	std::vector<const KorvKernels*> levels = {&t.fast};
#if defined(__x86_64__) || defined(__i386__)
	KorvKernels sse41 = t.plain;
	if (__builtin_cpu_supports("sse4.1")) {
		Kernels_InitLevelsSSE41(&sse41);
		levels.push_back(&sse41);
	}
#endif
	int32_t weighted[64], weights[64];
	for (int trial = 0; trial < 6000; ++trial) {
		const uint32_t least = 1 + rng() % 48;
		for (int i = 0; i < 64; ++i) {
			switch (trial % 4) {
				case 0: weighted[i] = int32_t(rng() % 4096) - 2048; break;
				case 1: weighted[i] = int32_t(least) - 2 + int32_t(rng() % 3); break;
				case 2: weighted[i] = -(int32_t(least) - 2 + int32_t(rng() % 3)); break;
				default: weighted[i] = int32_t(rng()); break;
			}
			weights[i] = trial % 2 ? kCoefficientIntra[i] : int32_t(rng() % 64);
		}
		if (trial % 16 == 3)
			weighted[trial % 64] = INT32_MIN;
		for (uint32_t first : {0u, 1u})
			for (const KorvKernels* fast : levels) {
				uint64_t want = 0x1234, got = 0x5678;
				const uint64_t wantMask = t.plain.screenLevels(weighted, weights, first, least, &want);
				const uint64_t gotMask = fast->screenLevels(weighted, weights, first, least, &got);
				ASSERT_EQ(wantMask, gotMask) << "trial " << trial << " first " << first;
				ASSERT_EQ(want, got) << "trial " << trial << " first " << first;
			}
	}
}

TEST(KernelsDiffer, DequantisationMatchesPlainOnSparseAndWrappingLevels)
{
	Tables t;
	std::mt19937 rng(7);
	alignas(16) int16_t coef[64], want[64], got[64];
	for (int trial = 0; trial < 6000; ++trial) {
		std::memset(coef, 0, sizeof coef);
		switch (trial % 4) {
			case 0:
				for (int k = 0; k < 4; ++k)
					coef[rng() % 64] = int16_t(int32_t(rng() % 11) - 5);
				break;
			case 1:
				for (int16_t& c : coef)
					c = int16_t(int32_t(rng() % 4095) - 2047);
				break;
			case 2:
				for (int16_t& c : coef)
					c = int16_t(rng());
				break;
			default:
				for (int i = 0; i < 64; ++i)
					coef[i] = (i & 1) ? 32767 : -32768;
				break;
		}
		const uint8_t quant = uint8_t(trial % 40);
		const uint32_t blockIndex = uint32_t(trial % 10);
		std::memset(want, 0x11, sizeof want);
		std::memset(got, 0x11, sizeof got);
		t.plain.dequantizeIntra(coef, want, quant, blockIndex);
		t.fast.dequantizeIntra(coef, got, quant, blockIndex);
		ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << "intra trial " << trial;
		t.plain.dequantizeInter(coef, want, quant);
		t.fast.dequantizeInter(coef, got, quant);
		ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << "inter trial " << trial;
	}
}

TEST(KernelsDiffer, HookBlockSubMatchesPlainWithWrapping)
{
	KorvHooks plain{}, fast{};
	const uint8_t saved = gUseSpecificHooks;
	gUseSpecificHooks = 0;
	InitHooks(&plain);
	gUseSpecificHooks = 1;
	InitHooks(&fast);
	gUseSpecificHooks = saved;
	std::mt19937 rng(8);
	alignas(16) int16_t a[64], b[64], want[64], got[64];
	for (int trial = 0; trial < 500; ++trial) {
		for (int i = 0; i < 64; ++i) {
			a[i] = int16_t(trial % 2 ? rng() : rng() & 255);
			b[i] = int16_t(trial % 2 ? rng() : rng() & 255);
		}
		plain.blockSub(a, b, want);
		fast.blockSub(a, b, got);
		ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << "trial " << trial;
	}
}

// Planes to the caller's rows: every span the converters ask for (x0 even, from a macroblock edge or
// the picture's start, to any end), samples random and at the ends of their ranges; the bytes around
// the span must stay as they were.
TEST(KernelsDiffer, OutputRowsMatchPlainOnEverySpan)
{
	Tables t;
	std::mt19937 rng(9);
	const struct {
		const char* name;
		OutputRowFn plain, fast;
		uint32_t bytesPerPixel;
	} rows[] = {{"BGRA", t.plain.rowToBGRA, t.fast.rowToBGRA, 4},
	            {"yuvs", t.plain.rowToYUVS, t.fast.rowToYUVS, 2},
	            {"2vuy", t.plain.rowTo2VUY, t.fast.rowTo2VUY, 2}};
	constexpr uint32_t kWidth = 70;
	std::vector<uint8_t> y(kWidth), u(kWidth / 2), v(kWidth / 2);
	for (int p = 0; p < kPatterns; ++p)
		for (int trial = 0; trial < 8; ++trial) {
			Fill(y, Pattern(p), rng, trial);
			Fill(u, Pattern((p + trial) % kPatterns), rng, trial);
			Fill(v, Pattern((p + 2 * trial) % kPatterns), rng, trial + 1);
			for (uint32_t x0 : {0u, 2u, 16u, 32u})
				for (uint32_t x1 = x0; x1 <= kWidth; ++x1)
					for (const auto& row : rows) {
						std::vector<uint8_t> want(kWidth * 4 + 8, 0x5A), got(want);
						row.plain(y.data(), u.data(), v.data(), want.data(), x0, x1);
						row.fast(y.data(), u.data(), v.data(), got.data(), x0, x1);
						ASSERT_EQ(want, got) << row.name << " span " << x0 << ".." << x1 << " pattern " << p;
					}
		}
}

// The caller's rows to the planes, at every width (odd ones included) and in every pattern.
TEST(KernelsDiffer, InputRowsMatchPlainAtEveryWidth)
{
	Tables t;
	std::mt19937 rng(10);
	constexpr uint32_t kWidth = 75;
	std::vector<uint8_t> upper(kWidth * 4), lower(kWidth * 4);
	for (int p = 0; p < kPatterns; ++p)
		for (int trial = 0; trial < 4; ++trial) {
			Fill(upper, Pattern(p), rng, trial);
			Fill(lower, Pattern((p + trial) % kPatterns), rng, trial + 1);
			for (uint32_t width = 1; width <= kWidth; ++width) {
				std::vector<uint8_t> want(kWidth + 8, 0xA5), got(want), wantV(want), gotV(want);
				t.plain.lumaFromBGRA(lower.data(), want.data(), width);
				t.fast.lumaFromBGRA(lower.data(), got.data(), width);
				ASSERT_EQ(want, got) << "BGRA luma width " << width << " pattern " << p;
				t.plain.lumaFromYUVS(lower.data(), want.data(), width);
				t.fast.lumaFromYUVS(lower.data(), got.data(), width);
				ASSERT_EQ(want, got) << "yuvs luma width " << width << " pattern " << p;
				const uint32_t pairs = width / 2;
				t.plain.chromaFromBGRA(upper.data(), lower.data(), want.data(), wantV.data(), pairs);
				t.fast.chromaFromBGRA(upper.data(), lower.data(), got.data(), gotV.data(), pairs);
				ASSERT_EQ(want, got) << "BGRA Cb pairs " << pairs << " pattern " << p;
				ASSERT_EQ(wantV, gotV) << "BGRA Cr pairs " << pairs << " pattern " << p;
				t.plain.chromaFromYUVS(upper.data(), lower.data(), want.data(), wantV.data(), pairs);
				t.fast.chromaFromYUVS(upper.data(), lower.data(), got.data(), gotV.data(), pairs);
				ASSERT_EQ(want, got) << "yuvs Cb pairs " << pairs << " pattern " << p;
				ASSERT_EQ(wantV, gotV) << "yuvs Cr pairs " << pairs << " pattern " << p;
			}
		}
}

// Deringing of a block whose 10x10 window fills the buffer to its edges, with thresholds inside and
// beyond the sample range (0 smooths every pixel) and the strengths of quantisers 1..31 and more.
TEST(KernelsDiffer, DeringMatchesPlainOnWholeWindows)
{
	Tables t;
	std::mt19937 rng(11);
	constexpr uint32_t kSide = 10;
	for (int p = 0; p < kPatterns + 2; ++p)
		for (int trial = 0; trial < 300; ++trial) {
			const uint32_t stride = kSide + uint32_t(trial % 3);
			std::vector<uint8_t> want(size_t{stride} * kSide);
			if (p < kPatterns) {
				Fill(want, Pattern(p), rng, trial);
			} else {
				// Smooth ramps with a step: the threshold map is uniform in parts, mixed in others.
				for (uint32_t j = 0; j < kSide; ++j)
					for (uint32_t i = 0; i < stride; ++i)
						want[j * stride + i] = uint8_t(8 * i + 5 * j + (i + j > 9 ? 90 : 0) +
						                               rng() % (p == kPatterns ? 3 : 40));
			}
			std::vector<uint8_t> got(want);
			const int32_t thresholds[] = {0, 1, 128, 255, 256, 300, -5, int32_t(rng() % 256)};
			const int32_t threshold = thresholds[trial % 8];
			const int32_t maxDiff = trial % 19;
			t.plain.deringBlock(want.data() + stride + 1, stride, threshold, maxDiff);
			t.fast.deringBlock(got.data() + stride + 1, stride, threshold, maxDiff);
			ASSERT_EQ(want, got) << "pattern " << p << " threshold " << threshold << " maxDiff " << maxDiff;
		}
}

// Counting wrappers: each forwards to the plain kernel and counts its calls.
enum Slot {
	kBlitSet,
	kBlitSetAdd,
	kBlitAdd,
	kFetch,
	kFetchAverage,
	kSadRow8,
	kSadRow16,
	kSad16,
	kHalfSads,
	kHalfSadDiagonal,
	kSadIncrease,
	kSse,
	kSadAverage4,
	kDeviation,
	kSubsample,
	kQuantInter,
	kQuantIntraY,
	kQuantIntraUV,
	kWeightedInter,
	kWeightedIntra,
	kScreenLevels,
	kDequantIntra,
	kDequantInter,
	kRowToBGRA,
	kRowToYUVS,
	kRowTo2VUY,
	kLumaFromBGRA,
	kChromaFromBGRA,
	kLumaFromYUVS,
	kChromaFromYUVS,
	kDeblockLower,
	kDeblockRight,
	kDering,
	kSlots
};
int gCalls[kSlots];
KorvKernels gPlain;

void CountBlitSet(uint8_t* d, uint32_t s, const int16_t* v) { ++gCalls[kBlitSet], gPlain.blitSet(d, s, v); }
void CountBlitSetAdd(uint8_t* d, uint32_t s, const int16_t* a, const int16_t* b)
{
	++gCalls[kBlitSetAdd], gPlain.blitSetAdd(d, s, a, b);
}
void CountFetch(const uint8_t* p, uint32_t s, int16_t* o) { ++gCalls[kFetch], gPlain.fetchBlock(p, s, o); }
void CountFetchAverage(const uint8_t* p, uint32_t s, int16_t* o, int32_t b)
{
	++gCalls[kFetchAverage], gPlain.fetchBlockAverage4(p, s, o, b);
}
void CountSadRow8(const uint8_t* r, const uint8_t* c, uint32_t s, uint16_t* sads)
{
	++gCalls[kSadRow8], gPlain.blockSadRow8(r, c, s, sads);
}
void CountSadRow16(const uint8_t* r, const uint8_t* c, uint32_t s, uint16_t* sads)
{
	++gCalls[kSadRow16], gPlain.blockSadRow16(r, c, s, sads);
}
int32_t CountSad16(const uint8_t* r, const uint8_t* c, uint32_t s, int32_t l)
{
	return ++gCalls[kSad16], gPlain.blockSad16(r, c, s, l);
}
void CountHalfSads(const uint8_t* p, const uint8_t* s, uint32_t st, int32_t r, int32_t* sads)
{
	++gCalls[kHalfSads], gPlain.halfSampleSads(p, s, st, r, sads);
}
int32_t CountHalfSadDiagonal(const uint8_t* p, const uint8_t* s, uint32_t st, int32_t r, int32_t l)
{
	return ++gCalls[kHalfSadDiagonal], gPlain.halfSampleSadDiagonal(p, s, st, r, l);
}
uint32_t CountSadIncrease(const uint8_t* s, uint32_t ss, const uint8_t* r, uint32_t rs, int32_t* inc)
{
	return ++gCalls[kSadIncrease], gPlain.sadIncrease8x8(s, ss, r, rs, inc);
}

uint32_t CountSse(const uint8_t* s, uint32_t ss, const uint8_t* r, uint32_t rs)
{
	return ++gCalls[kSse], gPlain.sse8x8(s, ss, r, rs);
}
uint32_t CountSadAverage4(const uint8_t* s, const uint8_t* p, uint32_t st, int32_t b)
{
	return ++gCalls[kSadAverage4], gPlain.sadAverage4_8x8(s, p, st, b);
}
void CountBlitAdd(uint8_t* d, uint32_t s, const int16_t* r) { ++gCalls[kBlitAdd], gPlain.blitAdd(d, s, r); }
int32_t CountDeviation(const int16_t* a, const int16_t* b, const int16_t* c, const int16_t* d)
{
	return ++gCalls[kDeviation], gPlain.deviation16x16(a, b, c, d);
}
void CountSubsample(const uint8_t* s, uint32_t ss, uint8_t* o, uint32_t os, uint32_t c, uint32_t r)
{
	++gCalls[kSubsample], gPlain.subsample(s, ss, o, os, c, r);
}
template <int Slot, DctQuantizeFn KorvKernels::*kMember>
void CountQuantize(const int16_t* in, uint16_t quant, int16_t* out)
{
	++gCalls[Slot], (gPlain.*kMember)(in, quant, out);
}
void CountWeightedInter(const int16_t* in, int32_t* w)
{
	++gCalls[kWeightedInter], gPlain.dctWeightedInter(in, w);
}
void CountWeightedIntra(const int16_t* in, uint16_t q, bool luma, int16_t* out, int32_t* w)
{
	++gCalls[kWeightedIntra], gPlain.dctQuantizeWeightedIntra(in, q, luma, out, w);
}
uint64_t CountScreenLevels(const int32_t* t, const int32_t* w, uint32_t f, uint32_t l, uint64_t* s)
{
	return ++gCalls[kScreenLevels], gPlain.screenLevels(t, w, f, l, s);
}
void CountDequantIntra(const int16_t* c, int16_t* r, uint8_t q, uint32_t b)
{
	++gCalls[kDequantIntra], gPlain.dequantizeIntra(c, r, q, b);
}
void CountDequantInter(const int16_t* c, int16_t* r, uint8_t q)
{
	++gCalls[kDequantInter], gPlain.dequantizeInter(c, r, q);
}

template <int Slot, OutputRowFn KorvKernels::*kMember>
void CountRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* o, uint32_t x0, uint32_t x1)
{
	++gCalls[Slot], (gPlain.*kMember)(y, u, v, o, x0, x1);
}
template <int Slot, InputLumaFn KorvKernels::*kMember>
void CountLuma(const uint8_t* in, uint8_t* y, uint32_t width)
{
	++gCalls[Slot], (gPlain.*kMember)(in, y, width);
}
template <int Slot, InputChromaFn KorvKernels::*kMember>
void CountChroma(const uint8_t* a, const uint8_t* b, uint8_t* u, uint8_t* v, uint32_t pairs)
{
	++gCalls[Slot], (gPlain.*kMember)(a, b, u, v, pairs);
}

template <int Slot, DeblockEdgeFn KorvKernels::*kMember>
void CountEdge(uint8_t* origin, int32_t quant, uint32_t stride)
{
	++gCalls[Slot], (gPlain.*kMember)(origin, quant, stride);
}
void CountDering(uint8_t* o, uint32_t s, int32_t t, int32_t m)
{
	++gCalls[kDering], gPlain.deringBlock(o, s, t, m);
}

TEST(KernelTable, EverySlotIsTheOneTheCodecCalls)
{
	Kernels_Init(&gPlain, false);
	// A noisy pan: motion at half-sample positions, residuals, skipped and coded macroblocks. The
	// contexts exist before the table is changed, as in a program whose codec is already running.
	enctest::CodecPair pair(96, 64, 600);
	const enctest::Scene scene = enctest::Pan(1.5, 0.5);
	const KorvKernels saved = gKernels;
	gKernels.blitSet = CountBlitSet;
	gKernels.blitSetAdd = CountBlitSetAdd;
	gKernels.fetchBlock = CountFetch;
	gKernels.fetchBlockAverage4 = CountFetchAverage;
	gKernels.blockSadRow8 = CountSadRow8;
	gKernels.blockSadRow16 = CountSadRow16;
	gKernels.blockSad16 = CountSad16;
	gKernels.halfSampleSads = CountHalfSads;
	gKernels.halfSampleSadDiagonal = CountHalfSadDiagonal;
	gKernels.sadIncrease8x8 = CountSadIncrease;
	gKernels.sse8x8 = CountSse;
	gKernels.sadAverage4_8x8 = CountSadAverage4;
	gKernels.blitAdd = CountBlitAdd;
	gKernels.deviation16x16 = CountDeviation;
	gKernels.subsample = CountSubsample;
	gKernels.dctQuantizeInter = CountQuantize<kQuantInter, &KorvKernels::dctQuantizeInter>;
	gKernels.dctQuantizeIntraY = CountQuantize<kQuantIntraY, &KorvKernels::dctQuantizeIntraY>;
	gKernels.dctQuantizeIntraUV = CountQuantize<kQuantIntraUV, &KorvKernels::dctQuantizeIntraUV>;
	gKernels.dctWeightedInter = CountWeightedInter;
	gKernels.dctQuantizeWeightedIntra = CountWeightedIntra;
	gKernels.screenLevels = CountScreenLevels;
	gKernels.dequantizeIntra = CountDequantIntra;
	gKernels.dequantizeInter = CountDequantInter;
	gKernels.rowToBGRA = CountRow<kRowToBGRA, &KorvKernels::rowToBGRA>;
	gKernels.rowToYUVS = CountRow<kRowToYUVS, &KorvKernels::rowToYUVS>;
	gKernels.rowTo2VUY = CountRow<kRowTo2VUY, &KorvKernels::rowTo2VUY>;
	gKernels.lumaFromBGRA = CountLuma<kLumaFromBGRA, &KorvKernels::lumaFromBGRA>;
	gKernels.chromaFromBGRA = CountChroma<kChromaFromBGRA, &KorvKernels::chromaFromBGRA>;
	gKernels.lumaFromYUVS = CountLuma<kLumaFromYUVS, &KorvKernels::lumaFromYUVS>;
	gKernels.chromaFromYUVS = CountChroma<kChromaFromYUVS, &KorvKernels::chromaFromYUVS>;
	gKernels.deblockLowerEdge = CountEdge<kDeblockLower, &KorvKernels::deblockLowerEdge>;
	gKernels.deblockRightEdge = CountEdge<kDeblockRight, &KorvKernels::deblockRightEdge>;
	gKernels.deringBlock = CountDering;
	std::memset(gCalls, 0, sizeof gCalls);
	pair.encoder->deblock = pair.encoder->dering = 1;

	// The rate-distortion search has SADs and transforms of its own: frames with the better tuning,
	// the second and third I-VOPs (the key-frame interval set while the one before is coded). The
	// last two are flat grey at the coarsest quantiser, the last with a few brighter samples: a
	// small error at zero motion, measured before anything is searched.
	const enctest::Scene flat = [](int f, int x, int y) {
		const uint8_t v = f == 7 && (x * 7 + y * 3) % 23 == 0 ? 134 : 128;
		return enctest::Rgb{v, v, v};
	};
	for (int f = 0; f < 8; ++f) {
		pair.encoder->tuning = f < 4 ? kTuningClassic : kTuningBetter;
		pair.encoder->keyInterval = f == 4 || f == 5 ? 1 : 0;
		pair.encoder->spatialQuality = f < 6 ? 600 : uint32_t(KorveXToQTSpatialQuality(1));
		enctest::Frame frame = enctest::SceneFrame(f < 6 ? scene : flat, f, 96, 64, kPixelFormatBGRA);
		pair.Encode(frame);
	}
	pair.encoder->tuning = kTuningClassic;
	pair.encoder->spatialQuality = 600;
	// A still picture whose middle brightens in place: residuals at the zero vector, added in place.
	const enctest::Scene still = [](int f, int x, int y) {
		enctest::Rgb c = enctest::TextureRgb(x, y);
		if (x >= 32 && x < 64 && y >= 16 && y < 48) {
			const int lift = 12 * (f - 3);
			c = {enctest::Clip(c.r + lift), enctest::Clip(c.g + lift), enctest::Clip(c.b + lift)};
		}
		return c;
	};
	for (int f = 4; f < 7; ++f) {
		enctest::Frame frame =
		        enctest::SceneFrame(still, f, 96, 64, f == 6 ? kPixelFormatYUVS : kPixelFormatBGRA);
		pair.Encode(frame);
	}
	// The last picture again in the two 4:2:2 layouts.
	for (uint32_t format : {kPixelFormatYUVS, kPixelFormat2VUY}) {
		pair.decoder->pixelFormat = format;
		pair.decoder->pixMap->rowBytes = 2 * 96;
		pair.decoder->fullRefresh = 1;
		ASSERT_EQ(pair.Decode(), kKorvoOK);
	}
	gKernels = saved;
	const char* names[kSlots] = {"blitSet",
	                             "blitSetAdd",
	                             "blitAdd",
	                             "fetchBlock",
	                             "fetchBlockAverage4",
	                             "blockSadRow8",
	                             "blockSadRow16",
	                             "blockSad16",
	                             "halfSampleSads",
	                             "halfSampleSadDiagonal",
	                             "sadIncrease8x8",
	                             "sse8x8",
	                             "sadAverage4_8x8",
	                             "deviation16x16",
	                             "subsample",
	                             "dctQuantizeInter",
	                             "dctQuantizeIntraY",
	                             "dctQuantizeIntraUV",
	                             "dctWeightedInter",
	                             "dctQuantizeWeightedIntra",
	                             "screenLevels",
	                             "dequantizeIntra",
	                             "dequantizeInter",
	                             "rowToBGRA",
	                             "rowToYUVS",
	                             "rowTo2VUY",
	                             "lumaFromBGRA",
	                             "chromaFromBGRA",
	                             "lumaFromYUVS",
	                             "chromaFromYUVS",
	                             "deblockLowerEdge",
	                             "deblockRightEdge",
	                             "deringBlock"};
	for (int s = 0; s < kSlots; ++s)
		EXPECT_GT(gCalls[s], 0) << names[s] << " was never called";
}

}  // namespace
