// Differential tests of the SSE2 deblocking edge filter against the plain one: random, flat, extreme
// and threshold inputs with the eight lanes of an edge in different modes, and whole pictures.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "filters_internal.h"
#include "kernels_internal.h"
#include "frame_internal.h"
#include "korvo.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

namespace {

using Samples = std::array<uint8_t, 10>;

// A buffer around one block: the edge filters reach rows (or columns) 3..12 from the block's origin.
constexpr uint32_t kStride = 32;
constexpr uint32_t kRows = 20;
constexpr size_t kOrigin = 2 * kStride + 5;

enum Kind { kUnchanged, kDefault, kDcOffset };

// What the plain filter did to one run of samples, to know which cases a test reached.
Kind Classify(const Samples& in, int32_t quant)
{
	Samples out = in;
	DeblockRow(out.data(), quant);
	if (out == in)
		return kUnchanged;
	for (int i = 0; i < 10; ++i)
		if (i != 4 && i != 5 && out[i] != in[i])
			return kDcOffset;
	return kDefault;
}

class DeblockSse2 : public ::testing::Test {
protected:
	void SetUp() override
	{
		if (!__builtin_cpu_supports("sse2"))
			GTEST_SKIP() << "processor without SSE2";
	}

	std::mt19937 rng{7};
	int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
	uint8_t Clip(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

	// A nearly flat run (neighbour differences of at most 2) around `base`, ends at +-`reach` from it.
	Samples NearlyFlat(int base, int quant)
	{
		Samples p;
		int v = base;
		for (int i = 1; i <= 8; ++i) {
			p[i] = Clip(v);
			v += Uniform(-2, 2);
		}
		const int reach = quant + Uniform(-1, 0);
		p[0] = Clip(p[1] + (Uniform(0, 1) ? reach : -reach));
		p[9] = Clip(p[8] + (Uniform(0, 1) ? reach : -reach));
		return p;
	}

	// A run from p1 to p8 climbing to a range of exactly 2 * quant (or one less), smoothed or not.
	Samples RangeAtLimit(int quant)
	{
		Samples p;
		const int range = 2 * quant - Uniform(0, 1), base = Uniform(0, 255 - range);
		// An even climb, nearly flat where the quantiser is small enough.
		for (int i = 1; i <= 8; ++i)
			p[i] = static_cast<uint8_t>(base + range * (i - 1) / 7);
		p[0] = static_cast<uint8_t>(base);
		p[9] = static_cast<uint8_t>(base + range);
		return p;
	}

	// Random samples with p6 chosen so that |a0| is 8 * quant or one off it.
	Samples EdgeAtThreshold(int quant)
	{
		for (;;) {
			Samples p;
			for (auto& v : p)
				v = static_cast<uint8_t>(Uniform(0, 255));
			const int target = (Uniform(0, 1) ? 1 : -1) * (8 * quant + Uniform(-1, 1));
			const int twiceP6 = 2 * p[3] + 5 * (p[5] - p[4]) - target;
			if (twiceP6 % 2 != 0 || twiceP6 < 0 || twiceP6 > 510)
				continue;
			p[6] = static_cast<uint8_t>(twiceP6 / 2);
			return p;
		}
	}

	// A step between two nearly flat halves, of a height the default mode corrects at this quant.
	Samples SoftStep(int quant)
	{
		Samples p;
		const int base = Uniform(0, 200), height = Uniform(1, 2 * quant + 4);
		for (int i = 0; i < 10; ++i)
			p[i] = Clip(base + (i >= 5 ? height : 0) + Uniform(-3, 3));
		return p;
	}

	Samples Extreme()
	{
		static constexpr uint8_t kValues[] = {0, 1, 2, 3, 252, 253, 254, 255};
		Samples p;
		const int pattern = Uniform(0, 2);
		for (int i = 0; i < 10; ++i) {
			if (pattern == 0)
				p[i] = kValues[Uniform(0, 7)];
			else if (pattern == 1)
				p[i] = i < 5 ? 0 : 255;  // the largest step
			else
				p[i] = (i & 1) ? 255 : Uniform(0, 1) ? 0 : 255;
		}
		return p;
	}

	Samples AnyRun(int quant)
	{
		switch (Uniform(0, 6)) {
			case 0: {
				Samples p;
				for (auto& v : p)
					v = static_cast<uint8_t>(Uniform(0, 255));
				return p;
			}
			case 1: {
				Samples p;
				p.fill(static_cast<uint8_t>(Uniform(0, 255)));
				return p;
			}
			case 2: return NearlyFlat(Uniform(0, 255), quant);
			case 3: return RangeAtLimit(quant);
			case 4: return EdgeAtThreshold(quant);
			case 5: return SoftStep(quant);
			default: return Extreme();
		}
	}

	// Filters one edge whose eight runs are `runs` with the plain and the SSE2 filter and compares the
	// whole buffer, so samples outside the runs must stay as well. Counts the plain filter's outcomes.
	void ExpectSameEdge(bool lower, const std::array<Samples, 8>& runs, int32_t quant, int trial,
	                    std::array<int, 3>* kinds)
	{
		std::vector<uint8_t> plain(kStride * kRows);
		for (auto& v : plain)
			v = static_cast<uint8_t>(Uniform(0, 255));
		for (int lane = 0; lane < 8; ++lane)
			for (int i = 0; i < 10; ++i) {
				const size_t at = lower ? (3 + i) * kStride + lane : lane * kStride + 3 + i;
				plain[kOrigin + at] = runs[lane][i];
			}
		std::vector<uint8_t> fast = plain;
		if (lower) {
			DeblockLowerEdge(&plain[kOrigin], quant, kStride);
			DeblockLowerEdgeSSE2(&fast[kOrigin], quant, kStride);
		} else {
			DeblockRightEdge(&plain[kOrigin], quant, kStride);
			DeblockRightEdgeSSE2(&fast[kOrigin], quant, kStride);
		}
		ASSERT_EQ(fast, plain) << (lower ? "lower" : "right") << " edge, quant " << quant << ", trial "
		                       << trial;
		for (const Samples& run : runs)
			++(*kinds)[Classify(run, quant)];
	}
};

TEST_F(DeblockSse2, EdgesOfMixedRunsAtEveryQuant)
{
	std::array<int, 3> kinds{};
	for (int32_t quant = 1; quant <= 31; ++quant)
		for (int trial = 0; trial < 1500; ++trial) {
			std::array<Samples, 8> runs;
			for (auto& run : runs)
				run = AnyRun(quant);
			ExpectSameEdge(trial & 1, runs, quant, trial, &kinds);
		}
	// Every outcome of the plain filter was compared many times, mixed within edges.
	EXPECT_GT(kinds[kUnchanged], 10000);
	EXPECT_GT(kinds[kDefault], 10000);
	EXPECT_GT(kinds[kDcOffset], 10000);
}

TEST_F(DeblockSse2, EdgesOfOneKindOfRun)
{
	std::array<int, 3> kinds{};
	for (int32_t quant = 1; quant <= 31; ++quant)
		for (int kind = 0; kind < 5; ++kind)
			for (int trial = 0; trial < 200; ++trial) {
				std::array<Samples, 8> runs;
				for (auto& run : runs) {
					if (kind == 0)
						run = NearlyFlat(Uniform(0, 255), quant);
					else if (kind == 1)
						run = RangeAtLimit(quant);
					else if (kind == 2)
						run = EdgeAtThreshold(quant);
					else if (kind == 3)
						run = SoftStep(quant);
					else
						run = Extreme();
				}
				ExpectSameEdge(trial & 1, runs, quant, trial, &kinds);
			}
	EXPECT_GT(kinds[kDefault], 1000);
	EXPECT_GT(kinds[kDcOffset], 1000);
}

TEST_F(DeblockSse2, QuantOutsideTheCodedRange)
{
	// The filter's arithmetic must hold for any quant a damaged macroblock could carry into it.
	std::array<int, 3> kinds{};
	for (int32_t quant : {0, 32, 63, 127, 255})
		for (int trial = 0; trial < 500; ++trial) {
			std::array<Samples, 8> runs;
			for (auto& run : runs)
				run = AnyRun(quant > 31 ? 31 : 1);
			ExpectSameEdge(trial & 1, runs, quant, trial, &kinds);
		}
}

// Two equal pictures with random samples (smooth areas, steps and noise), quantisers and flags.
struct PicturePair {
	Vop* plain;
	Vop* fast;
	PicturePair(uint32_t width, uint32_t height)
	    : plain(Vop_New(width, height, true, false)), fast(Vop_New(width, height, true, false))
	{
	}
	~PicturePair()
	{
		Vop_Dispose(plain);
		Vop_Dispose(fast);
	}
	PicturePair(const PicturePair&) = delete;
	PicturePair& operator=(const PicturePair&) = delete;
};

void CopyPlane(const Plane* from, Plane* to)
{
	std::memcpy(to->data, from->data, static_cast<size_t>(from->width) * from->height);
}

bool SamePlane(const Plane* a, const Plane* b)
{
	return std::memcmp(a->data, b->data, static_cast<size_t>(a->width) * a->height) == 0;
}

void Randomise(PicturePair* pair, std::mt19937* rng)
{
	auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(*rng); };
	for (Plane* plane : {pair->plain->planeY, pair->plain->planeU, pair->plain->planeV}) {
		// Blocks of one level with a little noise, so that many edges are soft enough to filter.
		constexpr uint32_t blockSize = 8;
		const uint32_t levelsPerRow = plane->width / blockSize + 1;
		std::vector<int> levels(static_cast<size_t>(levelsPerRow) * (plane->height / blockSize + 1));
		for (auto& v : levels)
			v = uniform(0, 7) == 0 ? uniform(0, 255) : 128 + uniform(-12, 12);
		const int noise = uniform(0, 4);
		for (uint32_t y = 0; y < plane->height; ++y)
			for (uint32_t x = 0; x < plane->width; ++x) {
				const int level = levels[(y / blockSize) * levelsPerRow + x / blockSize];
				const int v = uniform(0, 50) == 0 ? uniform(0, 255) : level + uniform(-noise, noise);
				plane->data[static_cast<size_t>(y) * plane->width + x] = static_cast<uint8_t>(v < 0     ? 0
				                                                                              : v > 255 ? 255
				                                                                                        : v);
			}
	}
	CopyPlane(pair->plain->planeY, pair->fast->planeY);
	CopyPlane(pair->plain->planeU, pair->fast->planeU);
	CopyPlane(pair->plain->planeV, pair->fast->planeV);
	for (uint32_t i = 0; i < pair->plain->mbCount; ++i) {
		MacroBlock* a = pair->plain->mbs[i];
		MacroBlock* b = pair->fast->mbs[i];
		a->mbQuant = b->mbQuant = static_cast<uint8_t>(uniform(1, 31));
		for (int k = 0; k < 6; ++k) {
			a->blocks[k].deblockH = b->blocks[k].deblockH = static_cast<uint8_t>(uniform(0, 2) == 0);
			a->blocks[k].deblockV = b->blocks[k].deblockV = static_cast<uint8_t>(uniform(0, 2) == 0);
		}
	}
}

// Runs `deblock` on the first picture with the plain kernels and on the second with the
// processor-specific ones, then puts back the kernels installed.
void DeblockBoth(PicturePair* pair, void (*deblock)(Vop*))
{
	const KorvKernels installed = gKernels;
	Kernels_Init(&gKernels, false);
	deblock(pair->plain);
	Kernels_Init(&gKernels, true);
	deblock(pair->fast);
	gKernels = installed;
}

TEST_F(DeblockSse2, WholePicturesWithRandomFlagsAndQuantisers)
{
	int changed = 0;
	for (int trial = 0; trial < 300; ++trial) {
		const uint32_t width =
		        16 * static_cast<uint32_t>(Uniform(1, 6)) - static_cast<uint32_t>(Uniform(0, 15));
		const uint32_t height =
		        16 * static_cast<uint32_t>(Uniform(1, 5)) - static_cast<uint32_t>(Uniform(0, 15));
		const bool intra = trial & 1;
		PicturePair pair(width, height);
		ASSERT_NE(pair.plain, nullptr);
		ASSERT_NE(pair.fast, nullptr);
		Randomise(&pair, &rng);
		const Plane* luma = pair.plain->planeY;
		const std::vector<uint8_t> before(luma->data,
		                                  luma->data + static_cast<size_t>(luma->width) * luma->height);
		DeblockBoth(&pair, intra ? Deblock_VopIntra2 : Deblock_Vop);
		ASSERT_TRUE(SamePlane(pair.plain->planeY, pair.fast->planeY))
		        << width << "x" << height << " " << trial;
		ASSERT_TRUE(SamePlane(pair.plain->planeU, pair.fast->planeU))
		        << width << "x" << height << " " << trial;
		ASSERT_TRUE(SamePlane(pair.plain->planeV, pair.fast->planeV))
		        << width << "x" << height << " " << trial;
		changed += std::memcmp(before.data(), luma->data, before.size()) != 0;
	}
	EXPECT_GT(changed, 150) << "most pictures must have had edges filtered";
}

}  // namespace

#endif  // KORVO_DSP_X86
