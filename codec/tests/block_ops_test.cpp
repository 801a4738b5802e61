// Tests of the 8x8 block arithmetic: 16-bit wrapping, saturating clamps (the table clamps included
// for values beyond the tables' range) and the guarded scalar division.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "frame_internal.h"
#include "korvo.h"
#include "transform_internal.h"
namespace {

using Block64 = std::array<int16_t, 64>;

class BlockOps : public ::testing::Test {
protected:
	static void SetUpTestSuite() { ASSERT_EQ(Clamp_Init(), kKorvoOK); }
	static void TearDownTestSuite() { Clamp_Terminate(); }
};

Block64 Ramp(int start, int step)
{
	Block64 b;
	for (int i = 0; i < 64; ++i)
		b[i] = static_cast<int16_t>(start + step * i);
	return b;
}

TEST_F(BlockOps, TableClampsSaturateEvenBeyondTheTableRange)
{
	Block64 b = Ramp(-32768, 1040);  // -32768 .. 32752, far outside -2048..2047
	b[1] = -1;
	b[2] = 0;
	b[3] = 254;
	b[4] = 255;
	b[5] = 256;
	b[6] = -255;
	b[7] = -256;
	Block64 intra = b, inter = b;
	BlockClampIntra(intra.data());
	BlockClampInter(inter.data());
	for (int i = 0; i < 64; ++i) {
		ASSERT_EQ(intra[i], std::clamp<int>(b[i], 0, 255)) << b[i];
		ASSERT_EQ(inter[i], std::clamp<int>(b[i], -255, 255)) << b[i];
	}
}

TEST_F(BlockOps, ClampLeavesTheRangeAndSaturatesTheRest)
{
	Block64 b = Ramp(-3000, 97);
	const Block64 before = b;
	BlockClamp(b.data(), -2048, 2047);
	for (int i = 0; i < 64; ++i)
		ASSERT_EQ(b[i], std::clamp<int>(before[i], -2048, 2047));
	b[0] = INT16_MIN;
	b[1] = INT16_MAX;
	BlockClamp(b.data(), -2048, 2047);
	EXPECT_EQ(b[0], -2048);
	EXPECT_EQ(b[1], 2047);
}

TEST_F(BlockOps, ArithmeticWrapsAt16Bits)
{
	const Block64 a = Ramp(32700, 1), c = Ramp(-32700, -1);
	Block64 sum, difference;
	BlockAdd(a.data(), a.data(), sum.data());
	BlockSub(c.data(), a.data(), difference.data());
	for (int i = 0; i < 64; ++i) {
		ASSERT_EQ(sum[i], static_cast<int16_t>(2 * a[i]));
		ASSERT_EQ(difference[i], static_cast<int16_t>(c[i] - a[i]));
	}
	Block64 b = a;
	BlockAddX(b.data(), 100);
	EXPECT_EQ(b[63], static_cast<int16_t>(32763 + 100));
	BlockInvert(b.data());
	EXPECT_EQ(b[0], static_cast<int16_t>(255 - static_cast<int16_t>(32800)));
	EXPECT_EQ(BlockSum(a.data()), 64 * 32700 + 63 * 32);
}

TEST_F(BlockOps, FillCopyZeroTestAndDivision)
{
	Block64 b, copy;
	BlockFillX(b.data(), -9);
	EXPECT_EQ(BlockSum(b.data()), -576);
	EXPECT_FALSE(BlockAll0(b.data()));
	BlockCopy(b.data(), copy.data());
	EXPECT_EQ(copy, b);
	BlockDivX(b.data(), 2);  // truncates toward zero
	for (int16_t v : b)
		ASSERT_EQ(v, -4);
	BlockDivX(b.data(), 0);  // no quotient: unchanged
	for (int16_t v : b)
		ASSERT_EQ(v, -4);
	b.fill(INT16_MIN);
	BlockDivX(b.data(), -1);
	EXPECT_EQ(b[0], INT16_MIN);  // 32768 wraps
	b.fill(0);
	EXPECT_TRUE(BlockAll0(b.data()));
	b[63] = 1;
	EXPECT_FALSE(BlockAll0(b.data()));
}

}  // namespace
