// Prediction: intra DC and AC prediction between neighbouring blocks, and motion compensation of
// inter macroblocks from the previous picture. Private to the codec and its tests.
#ifndef KORVO_PREDICTION_INTERNAL_H
#define KORVO_PREDICTION_INTERNAL_H

#include <stdint.h>

#include "frame_internal.h"

extern "C" {

// Intra DC and AC prediction on quantised levels.
void Block_PredictIntraDC(Block* block);
void Block_ApplyACPred(Block* block);
void Block_GenerateACPred(Block* block);
int32_t Block_CalcACPredSigma(Block* block);
void MacroBlock_DecideACPred(MacroBlock* mb);
void MacroBlock_DCACPredict(MacroBlock* mb);

// Motion compensation: every prediction is fetched from the previous picture before any write.
void Vop_ApplyMotion(Vop* vop);
// The same for the macroblocks of one row of a coded P-VOP.
void Vop_ApplyMotionRow(Vop* vop, uint32_t row);
void MacroBlock_ApplyMotion(MacroBlock* mb);
void GetPlaneBlock16Half(const Plane* plane, int16_t x, int16_t y, int16_t* destination, uint8_t rounding);

// One component of the chrominance vector derived from a luminance vector component m (half-pels):
// m / 2 truncated toward zero, plus 1 unless m is a multiple of 4.
int32_t ChromaVectorComponent(int32_t m);

}  // extern "C"

#endif  // KORVO_PREDICTION_INTERNAL_H
