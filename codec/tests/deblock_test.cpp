// Deblocking: the 1-D edge filter in both modes and the filter flags the decoding loop derives from a
// block's levels. Golden values are worked out by hand from the filter's sums.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "filters_internal.h"
#include "frame_internal.h"
namespace {

using Row = std::array<uint8_t, 10>;

Row FilterRow(Row p, int32_t quant)
{
	DeblockRow(p.data(), quant);
	return p;
}

// The same ten samples laid out down a column of a wider buffer must give the same result.
Row FilterColumn(const Row& p, int32_t quant)
{
	constexpr uint32_t kStride = 13;
	std::vector<uint8_t> buffer(10 * kStride, 77);
	for (int i = 0; i < 10; ++i)
		buffer[i * kStride + 5] = p[i];
	DeblockColumn(&buffer[5], quant, kStride);
	Row out;
	for (int i = 0; i < 10; ++i)
		out[i] = buffer[i * kStride + 5];
	for (size_t i = 0; i < buffer.size(); ++i) {
		if (i % kStride != 5) {
			EXPECT_EQ(buffer[i], 77) << "sample outside the column changed at " << i;
		}
	}
	return out;
}

TEST(DeblockEdge, FlatRunIsUnchanged)
{
	const Row flat = {90, 90, 90, 90, 90, 90, 90, 90, 90, 90};
	for (int32_t quant : {1, 10, 31}) {
		EXPECT_EQ(FilterRow(flat, quant), flat);
		EXPECT_EQ(FilterColumn(flat, quant), flat);
	}
}

TEST(DeblockEdge, DcOffsetModeNeedsTheStepBelowTwoQuantiserSteps)
{
	const Row step = {100, 100, 100, 100, 100, 130, 130, 130, 130, 130};
	// Eight small differences select the DC-offset mode, but 30 >= 2 * 10.
	EXPECT_EQ(FilterRow(step, 10), step);
	// At quant 16 the step is smoothed; p0 and p9 stay, p8 is built from P9 only on its right side.
	const Row smoothed = {100, 102, 104, 108, 111, 119, 123, 126, 128, 130};
	EXPECT_EQ(FilterRow(step, 16), smoothed);
	EXPECT_EQ(FilterColumn(step, 16), smoothed);
}

TEST(DeblockEdge, DcOffsetModeReplacesOutlyingEndSamples)
{
	// p0 and p9 lie a quantiser step or more away, so P0 = p1 and P9 = p8.
	const Row p = {10, 100, 100, 100, 100, 104, 104, 104, 104, 200};
	// p1: (6*100 + 4*100 + 2*100 + 2*100 + 100 + 104 + 8) >> 4 = 100
	// p4: (100 + 100 + 200 + 200 + 400 + 208 + 208 + 104 + 104 + 8) >> 4 = 102
	// p5: (100 + 100 + 200 + 200 + 416 + 208 + 208 + 208 + 8) >> 4 = 103
	// p8: (100 + 104 + 208 + 208 + 1040 + 8) >> 4 = 104
	const Row out = FilterRow(p, 8);
	EXPECT_EQ(out[0], 10);
	EXPECT_EQ(out[1], 100);
	EXPECT_EQ(out[4], 102);
	EXPECT_EQ(out[5], 103);
	EXPECT_EQ(out[8], 104);
	EXPECT_EQ(out[9], 200);
}

TEST(DeblockEdge, DefaultModeLeavesARealEdgeAlone)
{
	// Differences of 3 keep the default mode; a0 = 3 * 32 - 48 = 48 = 8 * 6.
	const Row ramp = {0, 3, 6, 9, 12, 32, 35, 38, 41, 44};
	EXPECT_EQ(FilterRow(ramp, 6), ramp);
	// At quant 7 the edge is softened: e = 48 - 3, d = (5 * 45 + 32) >> 6 = 4, negated (a0 > 0).
	const Row softened = {0, 3, 6, 9, 16, 28, 35, 38, 41, 44};
	EXPECT_EQ(FilterRow(ramp, 7), softened);
	EXPECT_EQ(FilterColumn(ramp, 7), softened);
}

TEST(DeblockEdge, DefaultModeCorrectionIsClippedToHalfTheStep)
{
	// a0 = 2 * (9 - 13) + 5 * (11 - 12) = -13, a1 = 2 * (3 - 12) + 5 * 3 = -3, a2 = 2 * (11 - 19)
	// + 5 * 3 = -1, e = 12, d = (60 + 32) >> 6 = 1, clip to [0, (12 - 11) >> 1] = 0: no change.
	const Row p = {0, 3, 6, 9, 12, 11, 13, 16, 19, 22};
	EXPECT_EQ(FilterRow(p, 10), p);
}

struct FlagCase {
	MacroBlock mb{};
	Block& block() { return mb.blocks[0]; }
	FlagCase(uint8_t type, Motion mv, uint8_t coded)
	{
		mb.mbType = type;
		mb.mv = mv;
		block().mb = &mb;
		block().codedBlock = coded;
		block().deblockH = block().deblockV = block().deringFlag = 7;  // must be overwritten
	}
	void Run(std::initializer_list<int> nonZero)
	{
		for (int i : nonZero)
			block().coef[i] = 5;
		Block_CalcFilterFlags4(&block(), block().coef);
	}
};

TEST(FilterFlags, CodedInterBlocks)
{
	FlagCase dcOnly(kMbTypeInter, {0, 0}, 1);
	dcOnly.Run({0});
	EXPECT_EQ(dcOnly.block().deblockH, 1);
	EXPECT_EQ(dcOnly.block().deblockV, 1);
	EXPECT_EQ(dcOnly.block().deringFlag, 0);

	FlagCase texture(kMbTypeInter, {0, 0}, 1);
	texture.Run({9});
	EXPECT_EQ(texture.block().deblockH, 0);
	EXPECT_EQ(texture.block().deblockV, 0);
	EXPECT_EQ(texture.block().deringFlag, 1);

	FlagCase firstRow(kMbTypeInter, {0, 0}, 1);
	firstRow.Run({1});
	EXPECT_EQ(firstRow.block().deblockV, 1);
	EXPECT_EQ(firstRow.block().deblockH, 0);
	EXPECT_EQ(firstRow.block().deringFlag, 0);

	FlagCase firstColumn(kMbTypeInter, {0, 0}, 1);
	firstColumn.Run({8});
	EXPECT_EQ(firstColumn.block().deblockV, 0);
	EXPECT_EQ(firstColumn.block().deblockH, 1);
	EXPECT_EQ(firstColumn.block().deringFlag, 0);

	FlagCase lowColumn(kMbTypeInter, {0, 0}, 1);
	lowColumn.Run({56});  // only levels 0, 1 and 8 are ignored for deringing
	EXPECT_EQ(lowColumn.block().deblockV, 0);
	EXPECT_EQ(lowColumn.block().deblockH, 1);
	EXPECT_EQ(lowColumn.block().deringFlag, 1);

	FlagCase high(kMbTypeInter, {4, 4}, 1);
	high.Run({2});
	EXPECT_EQ(high.block().deblockH, 0);
	EXPECT_EQ(high.block().deblockV, 1);
	EXPECT_EQ(high.block().deringFlag, 1);
}

TEST(FilterFlags, UncodedInterBlocksFollowTheVector)
{
	FlagCase still(kMbTypeInter, {0, 0}, 0);
	still.Run({9, 20});  // stale levels of an uncoded block are never looked at
	EXPECT_EQ(still.block().deblockH, 0);
	EXPECT_EQ(still.block().deblockV, 0);
	EXPECT_EQ(still.block().deringFlag, 0);

	FlagCase moving(kMbTypeInter, {0, -1}, 0);
	moving.Run({9});
	EXPECT_EQ(moving.block().deblockH, 1);
	EXPECT_EQ(moving.block().deblockV, 1);
	EXPECT_EQ(moving.block().deringFlag, 0);
}

TEST(FilterFlags, IntraBlocksAlwaysDeblock)
{
	FlagCase flat(kMbTypeIntra, {0, 0}, 0);
	flat.Run({0, 1, 8});
	EXPECT_EQ(flat.block().deblockH, 1);
	EXPECT_EQ(flat.block().deblockV, 1);
	EXPECT_EQ(flat.block().deringFlag, 0);  // levels 0, 1 and 8 do not count

	FlagCase textured(kMbTypeIntra, {0, 0}, 0);
	textured.Run({63});
	EXPECT_EQ(textured.block().deringFlag, 1);  // an uncoded intra block is still looked at
}

TEST(FilterFlags, DeringFlagAloneSetsOnlyItself)
{
	FlagCase c(kMbTypeIntra, {0, 0}, 1);
	c.block().deblockH = c.block().deblockV = 0;
	c.block().coef[7] = -1;
	Block_CalcDeringFlag(&c.block(), c.block().coef);
	EXPECT_EQ(c.block().deringFlag, 1);
	EXPECT_EQ(c.block().deblockH, 0);
	EXPECT_EQ(c.block().deblockV, 0);
}

}  // namespace
