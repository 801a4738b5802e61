// Intra DC and AC prediction: predictor and direction at picture edges and between neighbours, the
// neighbour-quantiser rule and its rescaling, and the encoder residual undone by the decoder.
#include <memory>

#include <gtest/gtest.h>

#include "frame_internal.h"
#include "korvo.h"
#include "prediction_internal.h"
namespace {

struct VopDeleter {
	void operator()(Vop* v) const { Vop_Dispose(v); }
};

std::unique_ptr<Vop, VopDeleter> IntraVop(uint32_t width, uint32_t height, uint8_t quant)
{
	std::unique_ptr<Vop, VopDeleter> vop(Vop_New(width, height, false, false));
	if (vop) {
		Vop_Reset(vop.get());
		vop->quant = quant;
		for (uint32_t i = 0; i < vop->mbCount; i++) {
			vop->mbs[i]->mbType = kMbTypeIntra;
			vop->mbs[i]->mbQuant = quant;
		}
	}
	return vop;
}

TEST(DCPrediction, DirectionFromTheGradientRule)
{
	auto vop = IntraVop(32, 32, 5);
	ASSERT_TRUE(vop);
	MacroBlock* first = vop->mbs[0];
	// Top-left block: a = b = c = 128, so from the left with 128.
	Block_PredictIntraDC(&first->blocks[0]);
	EXPECT_EQ(first->blocks[0].dcPred, 128);
	EXPECT_EQ(first->blocks[0].predDir, kPredFromLeft);
	// Top row, left neighbour intra with DC 90: a = 90, b = c = 128, so 90 from the left.
	first->blocks[0].dcLevel = 90;
	Block_PredictIntraDC(&first->blocks[1]);
	EXPECT_EQ(first->blocks[1].dcPred, 90);
	EXPECT_EQ(first->blocks[1].predDir, kPredFromLeft);
	// Y3 with left Y2 = 100, above Y1 = 50, above-left Y0 = 100: |a - b| = 0 < |b - c| = 50, from above.
	first->blocks[0].dcLevel = 100;
	first->blocks[1].dcLevel = 50;
	first->blocks[2].dcLevel = 100;
	Block_PredictIntraDC(&first->blocks[3]);
	EXPECT_EQ(first->blocks[3].dcPred, 50);
	EXPECT_EQ(first->blocks[3].predDir, kPredFromAbove);
	// Across macroblocks: U of the macroblock below takes the above macroblock's U. Blocks of inter
	// macroblocks do not count, and the above-left needs both left and above.
	MacroBlock* below = vop->mbs[2];
	first->blocks[4].dcLevel = 20;
	Block_PredictIntraDC(&below->blocks[4]);
	EXPECT_EQ(below->blocks[4].dcPred, 20);  // a = b = 128, c = 20: |0| < |108|
	EXPECT_EQ(below->blocks[4].predDir, kPredFromAbove);
	first->mbType = kMbTypeInter;
	Block_PredictIntraDC(&below->blocks[4]);
	EXPECT_EQ(below->blocks[4].dcPred, 128);
	EXPECT_EQ(below->blocks[4].predDir, kPredFromLeft);
	first->mbType = kMbTypeIntra;
	// Right macroblock of the second row, U: left U = 10, above U = 200, above-left U (first) = 20.
	MacroBlock* right = vop->mbs[3];
	below->blocks[4].dcLevel = 10;
	vop->mbs[1]->blocks[4].dcLevel = 200;
	Block_PredictIntraDC(&right->blocks[4]);
	EXPECT_EQ(right->blocks[4].dcPred, 200);  // |10 - 20| = 10 < |20 - 200|
	EXPECT_EQ(right->blocks[4].predDir, kPredFromAbove);
	below->blocks[4].dcLevel = 150;
	vop->mbs[1]->blocks[4].dcLevel = 60;
	Block_PredictIntraDC(&right->blocks[4]);
	EXPECT_EQ(right->blocks[4].dcPred, 150);  // |150 - 20| >= |20 - 60|
	EXPECT_EQ(right->blocks[4].predDir, kPredFromLeft);
}

TEST(ACPrediction, RescalesWithTheNeighbourMacroBlockQuantiser)
{
	auto vop = IntraVop(16, 32, 4);
	ASSERT_TRUE(vop);
	MacroBlock* upper = vop->mbs[0];
	MacroBlock* lower = vop->mbs[1];
	lower->mbQuant = 8;
	lower->acPred = 1;
	// QPp = 4, QPc = 8: -3 scales to (-12 + 4) / 8 = -1, 3 to (12 + 4) / 8 = 2.
	upper->blocks[2].coef[1] = -3;
	upper->blocks[2].coef[2] = 3;
	upper->blocks[2].coef[9] = 50;  // outside the first row: never used
	Block& y0 = lower->blocks[0];
	y0.predDir = kPredFromAbove;
	y0.coef[1] = 10;
	Block_ApplyACPred(&y0);
	EXPECT_EQ(y0.coef[1], 9);
	EXPECT_EQ(y0.coef[2], 2);
	EXPECT_EQ(y0.coef[9], 0);
	// Y2 predicted from Y0 inside its own macroblock still takes the quantiser of the macroblock
	// above (4), and in the first row the VOP's: the upper macroblock at 8 with the VOP at 4.
	upper->mbQuant = 8;
	upper->acPred = 1;
	upper->blocks[0].coef[3] = 3;
	Block& y2 = upper->blocks[2];
	y2.predDir = kPredFromAbove;
	memset(y2.coef, 0, sizeof y2.coef);
	Block_ApplyACPred(&y2);
	EXPECT_EQ(y2.coef[3], 2);  // (3 * 4 + 4) / 8, not (3 * 8 + 4) / 8 = 3
	// From the left in the first column: the first column, with the VOP quantiser.
	Block& y1 = upper->blocks[1];
	upper->blocks[0].coef[8] = -7;
	y1.predDir = kPredFromLeft;
	Block_ApplyACPred(&y1);
	EXPECT_EQ(y1.coef[8], (-28 + 4) / 8);
	// Without the flag, or with an inter neighbour, nothing changes.
	lower->acPred = 0;
	y0.coef[1] = 10;
	Block_ApplyACPred(&y0);
	EXPECT_EQ(y0.coef[1], 10);
	lower->acPred = 1;
	upper->mbType = kMbTypeInter;
	Block_ApplyACPred(&y0);
	EXPECT_EQ(y0.coef[1], 10);
}

TEST(ACPrediction, EncoderDecisionAndResidualUndoneByTheDecoder)
{
	auto vop = IntraVop(32, 16, 6);
	ASSERT_TRUE(vop);
	MacroBlock* left = vop->mbs[0];
	MacroBlock* mb = vop->mbs[1];
	// Without intra neighbours every gain is 0: prediction on.
	MacroBlock_DCACPredict(left);
	EXPECT_EQ(left->acPred, 1);
	// A macroblock whose first columns repeat its left neighbour's: prediction pays.
	for (int b = 0; b < 6; b++) {
		for (int k = 1; k < 8; k++)
			left->blocks[b].coef[8 * k] = int16_t(k * 3 - 10);
		left->blocks[b].coef[0] = int16_t(60 + b);
	}
	MacroBlock_DCACPredict(left);
	for (int b = 0; b < 6; b++) {
		mb->blocks[b].coef[0] = int16_t(61 + b);
		for (int k = 1; k < 8; k++)
			mb->blocks[b].coef[8 * k] = left->blocks[b].coef[8 * k];
	}
	MacroBlock_DCACPredict(mb);
	EXPECT_EQ(mb->acPred, 1);
	// U and V predict from the left macroblock's U and V; the rest of their own edge. Undo and compare.
	for (int b = 0; b < 6; b++) {
		Block& block = mb->blocks[b];
		int16_t original[64];
		memcpy(original, block.coef, sizeof original);
		const int step = block.predDir == kPredFromAbove ? 1 : 8;
		for (int k = 1; k < 8; k++)
			block.coef[k * step] = block.acPredResidual[k];
		Block_ApplyACPred(&block);
		EXPECT_EQ(0, memcmp(original, block.coef, sizeof original)) << b;
	}
	EXPECT_EQ(mb->blocks[4].predDir, kPredFromLeft);
	// Equal quantisers predict 5 exactly, but -1 scales to (-6 + 3) / 6 = 0 (truncation toward zero).
	EXPECT_EQ(mb->blocks[4].acPredResidual[5], 0);
	EXPECT_EQ(mb->blocks[4].acPredResidual[3], -1);
	// A neighbour of opposite sign doubles the error: the gain is negative and prediction is off.
	for (int b = 0; b < 6; b++)
		for (int k = 1; k < 8; k++)
			mb->blocks[b].coef[8 * k] = int16_t(-left->blocks[b].coef[8 * k]);
	MacroBlock_DCACPredict(mb);
	EXPECT_LT(Block_CalcACPredSigma(&mb->blocks[4]), 0);
	EXPECT_EQ(mb->acPred, 0);
}

}  // namespace
