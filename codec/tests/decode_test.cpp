// Frame reconstruction on hand-filled records: the clamped quantiser chain, intra and inter
// reconstruction to known pixel values, filter flags only when a filter is on, early-ended VOPs.
#include <gtest/gtest.h>

#include "frame_internal.h"
#include "korvo.h"
#include "reconstruct_internal.h"
namespace {

struct Frame : ::testing::Test {
	KorvParams* params = nullptr;
	Vop* vop = nullptr;
	void SetUp() override
	{
		ASSERT_EQ(InitKorvax(), 0);
		params = NewKorvParamsPtr(2, 48, 32);  // 3x2 macroblocks
		ASSERT_NE(params, nullptr);
		vop = params->vop;
		Vop_Reset(vop);
		vop->quant = 4;
	}
	void TearDown() override
	{
		DisposeKorvParamsPtr(params);
		TerminateKorvax();
	}
	MacroBlock* mb(uint32_t i) { return vop->mbs[i]; }
	void AllIntra()
	{
		vop->codingType = kCodingTypeI;
		for (uint32_t i = 0; i < vop->mbCount; ++i)
			mb(i)->mbType = kMbTypeIntra;
	}
};

void ExpectFlat(const int16_t* recon, int16_t value)
{
	for (int i = 0; i < 64; ++i)
		ASSERT_EQ(recon[i], value) << "at " << i;
}

TEST_F(Frame, QuantiserChainIsClampedToOneThroughThirtyOne)
{
	AllIntra();
	vop->quant = 2;
	const int8_t dquant[6] = {-2, -1, +2, 0, +1, -2};
	for (uint32_t i = 0; i < 6; ++i)
		mb(i)->dquant = dquant[i];
	Vop_Decompress(vop);
	const uint8_t expected[6] = {1, 1, 3, 3, 4, 2};  // 2 - 2 = 0 gives 1; 1 - 1 = 0 gives 1 again
	for (uint32_t i = 0; i < 6; ++i)
		EXPECT_EQ(mb(i)->mbQuant, expected[i]) << "macroblock " << i;

	vop->quant = 31;
	for (uint32_t i = 0; i < 6; ++i)
		mb(i)->dquant = i < 2 ? +2 : -1;
	Vop_Decompress(vop);
	EXPECT_EQ(mb(0)->mbQuant, 31);
	EXPECT_EQ(mb(1)->mbQuant, 31);
	EXPECT_EQ(mb(2)->mbQuant, 30);

	vop->quant = 0;  // a 5-bit field can carry 0; it must never index the tables as 0
	for (uint32_t i = 0; i < 6; ++i)
		mb(i)->dquant = 0;
	Vop_Decompress(vop);
	for (uint32_t i = 0; i < 6; ++i)
		EXPECT_EQ(mb(i)->mbQuant, 1);
}

TEST_F(Frame, SkippedMacroBlocksCarryTheQuantiserOn)
{
	vop->codingType = kCodingTypeP;
	vop->quant = 10;
	mb(0)->dquant = 2;
	mb(1)->codedMb = 0;
	mb(2)->dquant = -1;
	Vop_Decompress(vop);
	EXPECT_EQ(mb(0)->mbQuant, 12);
	EXPECT_EQ(mb(1)->mbQuant, 12);
	EXPECT_EQ(mb(2)->mbQuant, 11);
}

TEST_F(Frame, IntraDcOnlyBlocksReconstructFlat)
{
	AllIntra();
	// Up to quant 4 both DC scalers are 8, so a DC level L reconstructs to L everywhere.
	for (int b = 0; b < 6; ++b)
		mb(0)->blocks[b].dcLevel = static_cast<int16_t>(20 * b + 10);
	// At quant 8 the scalers are 16 and 10: (8 * 16 * L + 32) >> 6 and (8 * 10 * L + 32) >> 6.
	mb(1)->dquant = 2;
	mb(2)->dquant = 2;
	for (int b = 0; b < 6; ++b)
		mb(2)->blocks[b].dcLevel = 25;
	Vop_Decompress(vop);
	for (int b = 0; b < 6; ++b)
		ExpectFlat(mb(0)->blocks[b].recon, static_cast<int16_t>(20 * b + 10));
	EXPECT_EQ(mb(2)->mbQuant, 8);
	for (int b = 0; b < 4; ++b)
		ExpectFlat(mb(2)->blocks[b].recon, 50);
	ExpectFlat(mb(2)->blocks[4].recon, 31);  // (2000 + 32) >> 6
	EXPECT_EQ(mb(2)->blocks[0].coef[0], 25) << "the DC level goes back into the levels";
}

TEST_F(Frame, InterBlocksReconstructOnlyWhenCoded)
{
	vop->codingType = kCodingTypeP;
	vop->quant = 2;
	MacroBlock* m = mb(0);
	m->mbType = kMbTypeInter;
	m->blocks[0].coef[0] = 10;   // ((2 * 10 + 1) * 2 * 16) >> 4 = 42, IDCT (8 * 42 + 32) >> 6 = 5
	m->blocks[1].coef[0] = -10;  // ((2 * -10 - 1) * 32) >> 4 = -42, IDCT (-336 + 32) >> 6 = -5
	m->blocks[2].codedBlock = 0;
	m->blocks[2].coef[0] = 10;
	for (int16_t& v : m->blocks[2].recon)
		v = 77;
	Vop_Decompress(vop);
	ExpectFlat(m->blocks[0].recon, 5);
	ExpectFlat(m->blocks[1].recon, -5);
	ExpectFlat(m->blocks[2].recon, 77);
}

TEST_F(Frame, FilterFlagsAreComputedOnlyWhenAFilterIsOn)
{
	vop->codingType = kCodingTypeP;
	for (uint32_t i = 0; i < vop->mbCount; ++i) {
		mb(i)->mbType = kMbTypeIntra;
		mb(i)->blocks[0].coef[9] = 3;
	}
	Vop_Decompress(vop);
	EXPECT_EQ(mb(0)->blocks[0].deblockH, 0);
	EXPECT_EQ(mb(0)->blocks[0].deringFlag, 0);

	params->dering = 1;
	Vop_Decompress(vop);
	EXPECT_EQ(mb(0)->blocks[0].deblockH, 1);  // intra blocks of a P-VOP get all three flags
	EXPECT_EQ(mb(0)->blocks[0].deblockV, 1);
	EXPECT_EQ(mb(0)->blocks[0].deringFlag, 1);
	EXPECT_EQ(mb(0)->blocks[1].deringFlag, 0);

	Vop_Reset(vop);
	AllIntra();
	for (uint32_t i = 0; i < vop->mbCount; ++i)
		mb(i)->blocks[0].coef[9] = 3;
	params->dering = 0;
	params->deblock = 1;
	Vop_Decompress(vop);
	EXPECT_EQ(mb(0)->blocks[0].deringFlag, 1);  // an I-VOP computes only the deringing flag
	EXPECT_EQ(mb(0)->blocks[0].deblockH, 0);
	EXPECT_EQ(mb(0)->blocks[0].deblockV, 0);
}

TEST_F(Frame, MacroBlocksAfterAnEarlyEndBecomeSkipped)
{
	vop->codingType = kCodingTypeP;
	for (uint32_t i = 0; i < vop->mbCount; ++i) {
		mb(i)->mbType = kMbTypeIntra;
		mb(i)->mv = {4, 4};
		// What the reader left: the failing macroblock's own quantiser, the last frame's for the rest.
		mb(i)->mbQuant = static_cast<uint8_t>(20 + i);
		for (int16_t& v : mb(i)->blocks[0].recon)
			v = 77;
	}
	vop->mbsRead = 2;
	Vop_Decompress(vop);
	for (uint32_t i = 0; i < vop->mbCount; ++i) {
		EXPECT_EQ(mb(i)->codedMb, i < 2) << i;
		if (i < 2)
			continue;
		EXPECT_EQ(mb(i)->mbType, kMbTypeInter) << i;
		EXPECT_EQ(mb(i)->mv.x, 0);
		// Unread macroblocks keep their own quantiser, not the running one (4 here), so the
		// deblocking of their edges uses it.
		EXPECT_EQ(mb(i)->mbQuant, 20 + i) << i;
		ExpectFlat(mb(i)->blocks[0].recon, 77);  // not reconstructed
	}
	EXPECT_EQ(mb(1)->mbQuant, 4);
	ExpectFlat(mb(1)->blocks[0].recon, 0);

	vop->mbsRead = -5;  // never trusted beyond 0..mbCount
	Vop_Decompress(vop);
	for (uint32_t i = 0; i < vop->mbCount; ++i)
		EXPECT_EQ(mb(i)->codedMb, 0);
}

TEST_F(Frame, UncodedVopIsLeftAlone)
{
	AllIntra();
	vop->coded = 0;
	mb(0)->dquant = 2;
	for (int16_t& v : mb(0)->blocks[0].recon)
		v = 77;
	Vop_Decompress(vop);
	ExpectFlat(mb(0)->blocks[0].recon, 77);
	EXPECT_EQ(mb(0)->mbQuant, 1);
}

TEST_F(Frame, LibraryMacroBlockFormsComputeFlagsWithoutReconstructing)
{
	MacroBlock* m = mb(0);
	m->mbType = kMbTypeInter;
	m->mv = {2, 0};
	m->blocks[0].coef[9] = 1;
	m->blocks[1].codedBlock = 0;
	for (int16_t& v : m->blocks[0].recon)
		v = 77;
	MacroBlock_DecompressPVOP(m);
	EXPECT_EQ(m->blocks[0].deringFlag, 1);
	EXPECT_EQ(m->blocks[0].deblockH, 0);
	EXPECT_EQ(m->blocks[1].deblockH, 1);  // uncoded, but moved
	ExpectFlat(m->blocks[0].recon, 77);

	m->mbType = kMbTypeIntra;
	MacroBlock_DecompressIVOP(m);
	EXPECT_EQ(m->blocks[0].deringFlag, 1);
	ExpectFlat(m->blocks[0].recon, 77);
}

}  // namespace
