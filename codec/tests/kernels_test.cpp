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

TEST(KernelsDiffer, SadsMatchPlainIncludingWhereTheyAbandon)
{
	Tables t;
	std::mt19937 rng(3);
	std::vector<uint8_t> ref(size_t{kStride} * kStride), cur(size_t{kStride} * kStride);
	const int32_t limits[] = {0, 100, 1000, 5000, INT32_MAX};
	for (int pr = 0; pr < kPatterns; ++pr)
		for (int pc = 0; pc < kPatterns; ++pc) {
			Fill(ref, Pattern(pr), rng, 0);
			Fill(cur, Pattern(pc), rng, 1);
			for (uint32_t y = 1; y + 17 <= kStride; y += 5)
				for (uint32_t x = 1; x + 17 <= kStride; x += 3) {
					const uint8_t* r = ref.data() + size_t(y) * kStride + x;
					const uint8_t* c = cur.data() + size_t(y) * kStride + x;
					for (int32_t limit : limits) {
						ASSERT_EQ(t.plain.blockSad8(r, c, kStride, limit),
						          t.fast.blockSad8(r, c, kStride, limit));
						ASSERT_EQ(t.plain.blockSad16(r, c, kStride, limit),
						          t.fast.blockSad16(r, c, kStride, limit));
						for (int k = 0; k < kHalfSampleCandidates; ++k)
							for (int32_t rounding = 0; rounding <= 1; ++rounding)
								ASSERT_EQ(t.plain.halfSampleSad[k](r, c, kStride, rounding, limit),
								          t.fast.halfSampleSad[k](r, c, kStride, rounding, limit))
								        << "candidate " << k << " at " << x << "," << y << " rounding "
								        << rounding << " limit " << limit << " patterns " << pr << pc;
					}
					for (int32_t start : {0, 7, 300}) {
						int32_t wantIncrease = start, gotIncrease = start;
						const uint32_t strideC = kStride, strideR = kStride - 8;
						ASSERT_EQ(t.plain.sadIncrease8x8(c, strideC, r, strideR, &wantIncrease),
						          t.fast.sadIncrease8x8(c, strideC, r, strideR, &gotIncrease));
						ASSERT_EQ(wantIncrease, gotIncrease) << x << "," << y << " start " << start;
					}
				}
		}
}

// Counting wrappers: each forwards to the plain kernel and counts its calls.
int gCalls[16];
enum Slot { kBlitSet, kBlitSetAdd, kFetch, kFetchAverage, kSad8, kSad16, kHalfSad, kSadIncrease, kSlots };
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
int32_t CountSad8(const uint8_t* r, const uint8_t* c, uint32_t s, int32_t l)
{
	return ++gCalls[kSad8], gPlain.blockSad8(r, c, s, l);
}
int32_t CountSad16(const uint8_t* r, const uint8_t* c, uint32_t s, int32_t l)
{
	return ++gCalls[kSad16], gPlain.blockSad16(r, c, s, l);
}
template <int K>
int32_t CountHalfSad(const uint8_t* p, const uint8_t* s, uint32_t st, int32_t r, int32_t l)
{
	return ++gCalls[kHalfSad], gPlain.halfSampleSad[K](p, s, st, r, l);
}
uint32_t CountSadIncrease(const uint8_t* s, uint32_t ss, const uint8_t* r, uint32_t rs, int32_t* inc)
{
	return ++gCalls[kSadIncrease], gPlain.sadIncrease8x8(s, ss, r, rs, inc);
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
	gKernels.blockSad8 = CountSad8;
	gKernels.blockSad16 = CountSad16;
	const HalfSampleSadFn half[kHalfSampleCandidates] = {CountHalfSad<0>, CountHalfSad<1>, CountHalfSad<2>,
	                                                     CountHalfSad<3>, CountHalfSad<4>, CountHalfSad<5>,
	                                                     CountHalfSad<6>, CountHalfSad<7>};
	std::memcpy(gKernels.halfSampleSad, half, sizeof half);
	gKernels.sadIncrease8x8 = CountSadIncrease;
	std::memset(gCalls, 0, sizeof gCalls);

	for (int f = 0; f < 4; ++f) {
		enctest::Frame frame = enctest::SceneFrame(scene, f, 96, 64, kPixelFormatBGRA);
		pair.Encode(frame);
	}
	gKernels = saved;
	const char* names[kSlots] = {"blitSet",   "blitSetAdd", "fetchBlock",    "fetchBlockAverage4",
	                             "blockSad8", "blockSad16", "halfSampleSad", "sadIncrease8x8"};
	for (int s = 0; s < kSlots; ++s)
		EXPECT_GT(gCalls[s], 0) << names[s] << " was never called";
}

}  // namespace
