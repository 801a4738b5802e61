// Motion compensation: the half-pel fetch (full-pel copy unless half-pel in both directions, both
// rounding types), this format's chrominance vector rounding, and which macroblocks fetch at all.
#include <gtest/gtest.h>

#include <vector>

#include "frame_internal.h"
#include "korvo.h"
#include "prediction_internal.h"
namespace {

// A bordered plane whose samples identify their position.
struct TestPlane {
	std::vector<uint8_t> storage;
	Plane plane{};
	TestPlane(uint32_t width, uint32_t height) : storage(width * height)
	{
		plane.width = width;
		plane.height = height;
		plane.data = plane.raw = storage.data();
		for (uint32_t row = 0; row < height; ++row)
			for (uint32_t column = 0; column < width; ++column)
				At(column, row) = Sample(column, row);
	}
	uint8_t& At(uint32_t column, uint32_t row) { return storage[row * plane.width + column]; }
	static uint8_t Sample(uint32_t column, uint32_t row)
	{
		return static_cast<uint8_t>(column * 7 + row * 13);
	}
};

// A picture of one macroblock (48x48 luminance plane with its border, 24x24 chrominance).
struct OneMacroBlock {
	TestPlane y{48, 48}, u{24, 24}, v{24, 24};
	Vop vop{};
	MacroBlock mb{};
	MacroBlock* mbs[1] = {&mb};
	OneMacroBlock()
	{
		vop.planeY = &y.plane;
		vop.planeU = &u.plane;
		vop.planeV = &v.plane;
		vop.mbs = mbs;
		vop.mbWidth = vop.mbHeight = vop.mbCount = 1;
		vop.coded = 1;
		vop.codingType = kCodingTypeP;
		mb.vop = &vop;
		mb.mbType = kMbTypeInter;
		mb.codedMb = 1;
		for (Block& b : mb.blocks)
			for (int16_t& p : b.pred)
				p = -7;
	}
};

void ExpectCopy(const int16_t* pred, TestPlane& plane, uint32_t column, uint32_t row)
{
	for (int j = 0; j < 8; ++j)
		for (int i = 0; i < 8; ++i)
			ASSERT_EQ(pred[8 * j + i], plane.At(column + i, row + j)) << "at " << i << "," << j;
}

TEST(ChromaVector, RoundsThisFormatsWay)
{
	const int expected[13] = {-2, -1, -2, 0, 0, 1, 0, 1, 2, 2, 2, 3, 4};  // m = -6 .. 6
	for (int m = -6; m <= 6; ++m)
		EXPECT_EQ(ChromaVectorComponent(m), expected[m + 6]) << "m = " << m;
	EXPECT_EQ(ChromaVectorComponent(31), 16);
	EXPECT_EQ(ChromaVectorComponent(-32), -16);
	EXPECT_EQ(ChromaVectorComponent(-31), -14);
}

TEST(HalfPelFetch, FourSampleAverageFollowsTheRoundingType)
{
	TestPlane plane(24, 24);
	for (uint32_t row = 0; row < 24; ++row)
		for (uint32_t column = 0; column < 24; ++column)
			plane.At(column, row) = row % 2 ? 2 : 1;
	int16_t out[64];
	GetPlaneBlock16Half(&plane.plane, 5, 7, out, 1);
	for (int16_t v : out)
		ASSERT_EQ(v, 1);  // (1 + 1 + 2 + 2 + 1) / 4
	GetPlaneBlock16Half(&plane.plane, 5, 7, out, 0);
	for (int16_t v : out)
		ASSERT_EQ(v, 2);  // (1 + 1 + 2 + 2 + 2) / 4
}

TEST(HalfPelFetch, HalfPelInOneDirectionCopiesTheFullPelAboveLeft)
{
	OneMacroBlock pic;
	pic.mb.mv = {3, 0};
	MacroBlock_ApplyMotion(&pic.mb);
	ExpectCopy(pic.mb.blocks[0].pred, pic.y, 17, 16);  // (32 + 3) / 2 = 17, no interpolation
	ExpectCopy(pic.mb.blocks[3].pred, pic.y, 25, 24);

	pic.mb.mv = {0, -5};
	MacroBlock_ApplyMotion(&pic.mb);
	ExpectCopy(pic.mb.blocks[0].pred, pic.y, 16, 13);  // (32 - 5) >> 1 = 13
}

TEST(HalfPelFetch, HalfPelInBothDirectionsAverages)
{
	for (uint8_t rounding : {0, 1}) {
		OneMacroBlock pic;
		pic.vop.rounding = rounding;
		pic.mb.mv = {3, 1};
		MacroBlock_ApplyMotion(&pic.mb);
		for (int j = 0; j < 8; ++j) {
			for (int i = 0; i < 8; ++i) {
				const int sum = pic.y.At(17 + i, 16 + j) + pic.y.At(18 + i, 16 + j) +
				                pic.y.At(17 + i, 17 + j) + pic.y.At(18 + i, 17 + j);
				ASSERT_EQ(pic.mb.blocks[0].pred[8 * j + i], (sum + 2 - rounding) / 4);
			}
		}
	}
}

TEST(HalfPelFetch, ChromaUsesTheDerivedVector)
{
	OneMacroBlock pic;
	pic.mb.mv = {-1, -2};  // chrominance vector (1, 0): half-pel across only, so a copy
	MacroBlock_ApplyMotion(&pic.mb);
	ExpectCopy(pic.mb.blocks[4].pred, pic.u, 8, 8);
	ExpectCopy(pic.mb.blocks[5].pred, pic.v, 8, 8);
	ExpectCopy(pic.mb.blocks[0].pred, pic.y, 15, 15);

	pic.mb.mv = {30, 30};  // chrominance (16, 16): the far corner of the border, still inside
	MacroBlock_ApplyMotion(&pic.mb);
	ExpectCopy(pic.mb.blocks[4].pred, pic.u, 16, 16);
	ExpectCopy(pic.mb.blocks[3].pred, pic.y, 39, 39);
}

TEST(HalfPelFetch, ExtremeVectorsStayInsideThePlanes)
{
	// Every legal vector reads within the borders (ASan checks the reads); positions a stream
	// cannot produce are held inside the plane instead of reading outside it.
	OneMacroBlock pic;
	for (int mx = -32; mx <= 31; mx += 63)
		for (int my = -32; my <= 31; ++my) {
			pic.mb.mv = {static_cast<int16_t>(mx), static_cast<int16_t>(my)};
			MacroBlock_ApplyMotion(&pic.mb);
		}
	int16_t out[64];
	GetPlaneBlock16Half(&pic.y.plane, 200, 201, out, 0);
	ExpectCopy(out, pic.y, 48 - 8, 48 - 8);
	GetPlaneBlock16Half(&pic.y.plane, -40, 2, out, 0);
	ExpectCopy(out, pic.y, 0, 1);
}

TEST(ApplyMotion, OnlyCodedInterMacroBlocksWithAVectorFetch)
{
	OneMacroBlock pic;
	pic.mb.mv = {0, 0};
	Vop_ApplyMotion(&pic.vop);
	pic.mb.mv = {2, 2};
	pic.mb.codedMb = 0;
	Vop_ApplyMotion(&pic.vop);
	pic.mb.codedMb = 1;
	pic.mb.mbType = kMbTypeIntra;
	Vop_ApplyMotion(&pic.vop);
	pic.mb.mbType = kMbTypeInter;
	pic.vop.codingType = kCodingTypeI;
	Vop_ApplyMotion(&pic.vop);
	pic.vop.codingType = kCodingTypeP;
	pic.vop.coded = 0;
	Vop_ApplyMotion(&pic.vop);
	for (const Block& b : pic.mb.blocks)
		for (int16_t p : b.pred)
			ASSERT_EQ(p, -7);

	pic.vop.coded = 1;
	Vop_ApplyMotion(&pic.vop);
	ExpectCopy(pic.mb.blocks[0].pred, pic.y, 17, 17);
	ExpectCopy(pic.mb.blocks[4].pred, pic.u, 9, 9);  // chrominance vector (2, 2)
}

}  // namespace
