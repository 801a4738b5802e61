// Tests of the quality mapping: the values the scale is defined by, its inverse and the clamped
// VOP quantiser.
#include <gtest/gtest.h>

#include "enc_internal.h"
#include "korvo.h"
namespace {

TEST(Quality, SpatialMapping)
{
	const struct {
		int32_t q, k;
	} points[] = {{0, 6},    {1, 7},    {256, 17}, {512, 22}, {768, 25}, {804, 25},
	              {805, 26}, {870, 26}, {977, 27}, {978, 28}, {1024, 28}};
	for (const auto& p : points) {
		EXPECT_EQ(QTToKorveXSpatialQuality(p.q), p.k) << p.q;
		EXPECT_EQ(Params_VopQuant(uint32_t(p.q)), 32 - p.k) << p.q;
	}
	// The index never falls as the quality rises.
	for (int32_t q = 1; q <= 1024; q++)
		ASSERT_GE(QTToKorveXSpatialQuality(q), QTToKorveXSpatialQuality(q - 1));
}

TEST(Quality, InverseMapsBack)
{
	EXPECT_EQ(KorveXToQTSpatialQuality(6), 0);
	EXPECT_EQ(KorveXToQTSpatialQuality(7), 2);
	EXPECT_EQ(KorveXToQTSpatialQuality(26), 846);
	EXPECT_EQ(KorveXToQTSpatialQuality(28), 1024);
	for (uint32_t k = 6; k <= 32; k++) {
		EXPECT_EQ(QTToKorveXSpatialQuality(KorveXToQTSpatialQuality(k)), int32_t(k)) << k;
	}
	EXPECT_EQ(KorveXToQTSpatialQuality(5), KorveXToQTSpatialQuality(7));  // (k - 6) squared
	EXPECT_EQ(KorveXToQTTemporalQuality(), 512);
	EXPECT_EQ(QTToKorveXTemporalQuality(), 512);
}

TEST(Quality, OutOfRangeIsClamped)
{
	// Above 1024 the raw mapping reaches quantisers 3, 2, 1 and then none; the quantiser stays at 4.
	EXPECT_EQ(32 - QTToKorveXSpatialQuality(1072), 3);
	for (uint32_t q : {1025u, 1072u, 1376u, 100000u, 0x7FFFFFFFu, 0xFFFFFFFFu})
		EXPECT_EQ(Params_VopQuant(q), 4) << q;
	EXPECT_EQ(QTToKorveXSpatialQuality(-5), 6);  // a negative quality counts as the lowest
}

}  // namespace
