// Intra DC and AC prediction on quantised levels: the DC predictor and its direction, the rescaled
// first row or column that the decoder adds back, and the encoder's residual and on/off decision.
#include <stdlib.h>

#include "frame_internal.h"
#include "korvo.h"
#include "prediction_internal.h"
namespace {

constexpr int16_t kDefaultDC = 128;

// Only blocks of intra macroblocks serve as predictors.
bool Counts(const Block* block) { return block && block->mb && block->mb->mbType == kMbTypeIntra; }

// Where a block's AC prediction comes from: the neighbour in its direction (null when it does not
// count), the step between the seven predicted levels (1 along the first row, 8 down the first column)
// and the neighbour's quantiser. The quantiser is that of the neighbouring macroblock position even
// when the predicting block lies in the same macroblock.
struct ACSource {
	const Block* neighbour;
	uint32_t step;
	int32_t quant;
};

ACSource FindACSource(const Block* block)
{
	const MacroBlock* mb = block->mb;
	const Vop* vop = mb->vop;
	ACSource source = {nullptr, 1, vop->quant};
	if (block->predDir == kPredFromAbove) {
		source.neighbour = block->above;
		if (mb->mbY > 0)
			source.quant = vop->mbs[(mb->mbY - 1) * vop->mbWidth + mb->mbX]->mbQuant;
	} else if (block->predDir == kPredFromLeft) {
		source.neighbour = block->left;
		source.step = 8;
		if (mb->mbX > 0)
			source.quant = vop->mbs[mb->mbY * vop->mbWidth + mb->mbX - 1]->mbQuant;
	}
	if (!Counts(source.neighbour))
		source.neighbour = nullptr;
	return source;
}

// The seven predicted levels (entries 1..7): the neighbour's levels rescaled from its quantiser to the
// block's, rounding to nearest with the division truncating toward zero; zeros without a neighbour.
void PredictedLevels(const Block* block, const ACSource& source, int32_t predicted[8])
{
	// A quantiser of 0 never reaches here from the reader; it is taken as 1 rather than divided by.
	const int32_t current = block->mb->mbQuant ? block->mb->mbQuant : 1;
	for (uint32_t k = 1; k < 8; k++) {
		predicted[k] = 0;
		if (source.neighbour) {
			const int32_t level = source.neighbour->coef[k * source.step];
			predicted[k] = (level * source.quant + (current >> 1)) / current;
		}
	}
}

}  // namespace

void Block_PredictIntraDC(Block* block)
{
	const Block* left = block->left;
	const Block* above = block->above;
	const Block* aboveLeft = above ? above->left : nullptr;
	const int32_t a = Counts(left) ? left->dcLevel : kDefaultDC;
	const int32_t c = Counts(above) ? above->dcLevel : kDefaultDC;
	const int32_t b = left && above && Counts(aboveLeft) ? aboveLeft->dcLevel : kDefaultDC;
	if (abs(a - b) >= abs(b - c)) {
		block->dcPred = (int16_t)a;
		block->predDir = kPredFromLeft;
	} else {
		block->dcPred = (int16_t)c;
		block->predDir = kPredFromAbove;
	}
}

void Block_ApplyACPred(Block* block)
{
	if (!block->mb->acPred)
		return;
	const ACSource source = FindACSource(block);
	if (!source.neighbour)
		return;
	int32_t predicted[8];
	PredictedLevels(block, source, predicted);
	for (uint32_t k = 1; k < 8; k++) {
		int16_t* level = &block->coef[k * source.step];
		*level = (int16_t)(uint16_t)((uint32_t)*level + (uint32_t)predicted[k]);
	}
}

int32_t Block_CalcACPredSigma(Block* block)
{
	const ACSource source = FindACSource(block);
	int32_t predicted[8];
	PredictedLevels(block, source, predicted);
	int32_t gain = 0;
	for (uint32_t k = 1; k < 8; k++) {
		const int32_t own = block->coef[k * source.step];
		gain += abs(own) - abs(own - predicted[k]);
	}
	return gain;
}

void MacroBlock_DecideACPred(MacroBlock* mb)
{
	int32_t gain = 0;
	for (Block& block : mb->blocks)
		gain += Block_CalcACPredSigma(&block);
	mb->acPred = gain >= 0;
}

void Block_GenerateACPred(Block* block)
{
	const ACSource source = FindACSource(block);
	int32_t predicted[8];
	PredictedLevels(block, source, predicted);
	block->acPredResidual[0] = 0;
	for (uint32_t k = 1; k < 8; k++)
		block->acPredResidual[k] =
		        (int16_t)(uint16_t)((uint32_t)block->coef[k * source.step] - (uint32_t)predicted[k]);
}

void MacroBlock_DCACPredict(MacroBlock* mb)
{
	for (Block& block : mb->blocks) {
		block.dcLevel = block.coef[0];
		Block_PredictIntraDC(&block);
		block.dcDiff = (int16_t)(uint16_t)((uint32_t)block.dcLevel - (uint32_t)block.dcPred);
	}
	MacroBlock_DecideACPred(mb);
	if (mb->acPred)
		for (Block& block : mb->blocks)
			Block_GenerateACPred(&block);
}
