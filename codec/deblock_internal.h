// The deblocking filter of one 8x8 block edge (eight 1-D filters), in its plain and processor-specific
// versions, and the choice between them made when the hooks are installed.
#ifndef KORVO_DEBLOCK_INTERNAL_H
#define KORVO_DEBLOCK_INTERNAL_H

#include <stdint.h>

#include "dsp_internal.h"

// `origin` is the block's top-left sample. The lower edge filters columns 0..7 on rows 3..12, the
// right edge rows 0..7 on columns 3..12; the eight filters of one edge are independent of each other.
typedef void (*DeblockEdgeFn)(uint8_t* origin, int32_t quant, uint32_t stride);

void DeblockLowerEdge(uint8_t* origin, int32_t quant, uint32_t stride);
void DeblockRightEdge(uint8_t* origin, int32_t quant, uint32_t stride);

// With `specific`, the edge filters Deblock_Vop and Deblock_VopIntra2 use are the fastest bit-exact
// ones the processor runs; otherwise the plain ones.
void Deblock_SelectEdgeFilters(bool specific);

#if KORVO_DSP_X86
void DeblockLowerEdgeSSE2(uint8_t* origin, int32_t quant, uint32_t stride);
void DeblockRightEdgeSSE2(uint8_t* origin, int32_t quant, uint32_t stride);
#endif

#endif  // KORVO_DEBLOCK_INTERNAL_H
