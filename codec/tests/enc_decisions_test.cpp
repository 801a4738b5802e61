// The encoder's macroblock decisions: coded flags under AC prediction, skipping after compression,
// the default intra rule, DQUANT of skipped macroblocks, and the writer's worst case per macroblock.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "enc_internal.h"
#include "frame_internal.h"
#include "korvo.h"
#include "transform_internal.h"
#include "enc_test_util.h"
namespace {

::testing::Environment* const kLibrary = ::testing::AddGlobalTestEnvironment(new enctest::Library);

struct Picture {
	Vop* vop = Vop_New(32, 32, true, true);
	~Picture() { Vop_Dispose(vop); }
	MacroBlock* Mb(uint32_t i) { return vop->mbs[i]; }
};

TEST(BlockDecideCoded, PredictedLineIsLeftToTheDecoder)
{
	Picture pic;
	MacroBlock* mb = pic.Mb(0);
	mb->mbType = kMbTypeIntra;
	mb->acPred = 1;
	Block* block = mb->block[0];
	auto prepare = [&](uint8_t dir, int16_t residual) {
		std::fill(std::begin(block->coef), std::end(block->coef), 0);
		block->coef[0] = 40;
		block->coef[8] = 3;  // column 0, below row 0
		block->coef[16] = -2;
		std::fill(std::begin(block->acPredResidual), std::end(block->acPredResidual), 0);
		block->acPredResidual[2] = residual;
		block->predDir = dir;
	};
	prepare(kPredFromLeft, 1);
	Block_DecideCoded(block);
	EXPECT_EQ(block->codedBlock, 1);
	EXPECT_EQ(block->dcLevel, 40);  // the DC travels as the differential
	EXPECT_EQ(block->coef[0], 0);
	prepare(kPredFromLeft, 0);
	Block_DecideCoded(block);
	EXPECT_EQ(block->codedBlock, 0);
	// Predicted from above, column 0 is not the predicted line.
	prepare(kPredFromAbove, 0);
	Block_DecideCoded(block);
	EXPECT_EQ(block->codedBlock, 1);
	// Without AC prediction only the levels count.
	mb->acPred = 0;
	prepare(kPredFromLeft, 5);
	block->coef[8] = block->coef[16] = 0;
	Block_DecideCoded(block);
	EXPECT_EQ(block->codedBlock, 0);
	// Inter blocks keep their DC level among the coefficients.
	mb->mbType = kMbTypeInter;
	std::fill(std::begin(block->coef), std::end(block->coef), 0);
	block->coef[0] = 1;
	Block_DecideCoded(block);
	EXPECT_EQ(block->codedBlock, 1);
	EXPECT_EQ(block->coef[0], 1);
}

TEST(PostCompress, ZeroVectorWithNothingCodedIsSkippedAVectorIsNot)
{
	Picture pic;
	pic.vop->codingType = kCodingTypeP;
	pic.vop->quant = 6;
	for (uint32_t i = 0; i < 2; ++i) {
		MacroBlock* mb = pic.Mb(i);
		MacroBlock_Reset(mb);
		mb->mbType = kMbTypeInter;
		mb->mbQuant = 6;
		mb->mv = i == 0 ? Motion{0, 0} : Motion{4, -2};
		for (Block& block : mb->blocks)
			std::fill(std::begin(block.coef), std::end(block.coef), 0);
		MacroBlock_PostCompress(mb);
		EXPECT_EQ(mb->codedMb, i == 0 ? 0 : 1);
		for (const Block& block : mb->blocks)
			EXPECT_EQ(block.codedBlock, 0);
		EXPECT_EQ(mb->dquant, 0);
	}
	// Sent with its vector and an empty pattern: COD, MCBPC 1, CBPY 11 (index 15 - 0), and the
	// differences to the left vector (0, 0): 4 as 000011 and -2 as 001, each with its sign bit.
	EXPECT_EQ(MacroBlock_TrialBits(pic.Mb(1)), 1u + 1u + 2u + 7u + 4u);
	EXPECT_EQ(MacroBlock_TrialBits(pic.Mb(0)), 1u);
}

TEST(DecideIntra, FlatMacroBlockGoesIntraPast512)
{
	Picture pic;
	MacroBlock* mb = pic.Mb(3);
	for (int b = 0; b < 4; ++b)
		std::fill(std::begin(mb->blocks[b].recon), std::end(mb->blocks[b].recon), 77);
	MacroBlock_DecideIntra(mb, 512);
	EXPECT_EQ(mb->mbType, kMbTypeInter);
	MacroBlock_DecideIntra(mb, 513);
	EXPECT_EQ(mb->mbType, kMbTypeIntra);
	// One sample up by 256 moves the mean to 78: deviation 255 + 255 * 1 = 510.
	mb->blocks[0].recon[0] = 77 + 256;
	MacroBlock_DecideIntra(mb, 510 + 513);
	EXPECT_EQ(mb->mbType, kMbTypeIntra);
	MacroBlock_DecideIntra(mb, 510 + 512);
	EXPECT_EQ(mb->mbType, kMbTypeInter);
}

TEST(CalculateDQuant, SkippedMacroBlockInheritsItsPredecessor)
{
	Picture pic;
	pic.vop->quant = 9;
	MacroBlock* first = pic.Mb(0);
	MacroBlock* second = pic.Mb(1);
	first->codedMb = 1;
	first->mbQuant = 9;
	MacroBlock_CalculateDQuant(first);
	EXPECT_EQ(first->dquant, 0);
	first->mbQuant = 7;
	second->codedMb = 0;
	second->mbQuant = 9;
	MacroBlock_CalculateDQuant(second);
	EXPECT_EQ(second->mbQuant, 7);
	EXPECT_EQ(second->dquant, 0);
	second->codedMb = 1;
	second->mbQuant = 9;
	MacroBlock_CalculateDQuant(second);
	EXPECT_EQ(second->dquant, 2);
}

TEST(IntraQuant, OneAboveTheFrameQuantiserWithin1To31)
{
	KorvParams* params = NewKorvParamsPtr(1, 16, 16);
	ASSERT_NE(params, nullptr);
	for (auto [quant, intra] : {std::pair{31, 31}, std::pair{30, 31}, std::pair{6, 7}, std::pair{0, 1}}) {
		params->vop->codingType = kCodingTypeI;
		params->vop->quant = uint8_t(quant);
		Vop_Reset(params->vop);
		ASSERT_EQ(Vop_Compress(params), kKorvoOK);
		EXPECT_EQ(params->vop->quant, intra);
		EXPECT_EQ(params->vop->mbs[0]->mbQuant, intra);
	}
	DisposeKorvParamsPtr(params);
}

// The writer's cost of the most adverse macroblocks at quantiser 1 stays inside the bound the
// stream buffer is sized for.
TEST(WorstCase, MacroBlockBitsStayInsideTheBound)
{
	Picture pic;
	std::mt19937 random(5);
	uint32_t largest = 0;
	auto patterned = [&](int kind, int i) -> int16_t {
		const int x = i & 7, y = i >> 3;
		switch (kind) {
			case 0: return int16_t(((x + y) & 1) * 255);  // checkerboard
			case 1: return int16_t((x & 1) * 255);
			case 2: return int16_t(random() & 1 ? 255 : 0);
			default: return int16_t(random() & 255);
		}
	};
	for (int round = 0; round < 40; ++round) {
		const int kind = round % 4;
		for (bool inter : {false, true}) {
			pic.vop->codingType = inter ? kCodingTypeP : kCodingTypeI;
			pic.vop->quant = 1;
			MacroBlock* mb = pic.Mb(3);  // neighbours of every kind left and above
			MacroBlock_Reset(mb);
			mb->mbQuant = 1;
			mb->mbType = inter ? kMbTypeInter : kMbTypeIntra;
			mb->mv = inter ? Motion{31, -32} : Motion{0, 0};
			for (Block& block : mb->blocks) {
				for (int i = 0; i < 64; ++i) {
					block.recon[i] = patterned(kind, i);
					block.pred[i] = int16_t(255 - block.recon[i]);
				}
				alignas(16) int16_t residual[64];
				BlockSub(block.recon, block.pred, residual);
				if (inter)
					GapsDCTQuantize_Inter(residual, 1, block.coef);
				else if (block.kind == kBlockKindLuma)
					GapsDCTQuantize_IntraY(block.recon, 1, block.coef);
				else
					GapsDCTQuantize_IntraUV(block.recon, 1, block.coef);
			}
			MacroBlock_PostCompress(mb);
			largest = std::max(largest, MacroBlock_TrialBits(mb));
		}
	}
	EXPECT_LE(largest, uint32_t(kMaxMacroBlockBits));
	EXPECT_GT(largest, 1024u * 8);  // more than four bytes per luminance sample
}

}  // namespace
