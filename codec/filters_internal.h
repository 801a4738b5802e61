// The post filters: the driver that pads the planes and runs them, in-loop deblocking across block
// edges and deringing inside blocks (their kernels in the kernel table), and the per-block flags
// both use. Private to the codec and its tests.
#ifndef KORVO_FILTERS_INTERNAL_H
#define KORVO_FILTERS_INTERNAL_H

#include <stdint.h>

#include "frame_internal.h"
#include "kernels_internal.h"
#include "transform_internal.h"

// Macroblocks a row's thread filters between two looks at the row above: a macroblock's filtering
// takes about a microsecond.
constexpr uint32_t kFilterSpan = 4;

// The plain edge filters (DeblockEdgeFn).
void DeblockLowerEdge(uint8_t* origin, int32_t quant, uint32_t stride);
void DeblockRightEdge(uint8_t* origin, int32_t quant, uint32_t stride);

#if KORVO_DSP_X86
void DeblockLowerEdgeSSE2(uint8_t* origin, int32_t quant, uint32_t stride);
void DeblockRightEdgeSSE2(uint8_t* origin, int32_t quant, uint32_t stride);
void DeringBlock_SSE2(uint8_t* origin, uint32_t stride, int32_t threshold, int32_t maxDiff);
#endif

extern "C" {

int16_t PostFilter(KorvParams* params);
void Deblock_Vop(Vop* vop);
void Deblock_VopIntra2(Vop* vop);
void Vop_Dering(Vop* vop);
void MacroBlock_Dering(MacroBlock* mb);
void DeblockRow(uint8_t* p0, int32_t quant);
void DeblockColumn(uint8_t* p0, int32_t quant, uint32_t stride);
void Block_Dering(int32_t threshold, int32_t maxDiff, uint32_t x, uint32_t y, Plane* plane);
void Block_DeringAll(int32_t maxDiff, uint32_t x, uint32_t y, Plane* plane);
void Block_CalcFilterFlags4(Block* block, const int16_t* levels);
void Block_CalcDeblockFlags(Block* block, const int16_t* levels);
void Block_CalcDeringFlag(Block* block, const int16_t* levels);

}  // extern "C"

#endif  // KORVO_FILTERS_INTERNAL_H
