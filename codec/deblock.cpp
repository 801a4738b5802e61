// In-loop deblocking across 8x8 block edges, and the per-block flags the decoding loop computes for
// both post filters. The edge order is part of the prediction loop: encoder and decoder must agree.
#include <algorithm>
#include <cstdlib>

#include "filters_internal.h"
#include "frame_internal.h"
#include "kernels_internal.h"
#include "korvo.h"
#include "transform_internal.h"
#include "workers_internal.h"
namespace {

// The 1-D edge filter on ten samples p0..p9, `step` bytes apart; the edge lies between p4 and p5.
void DeblockSamples(uint8_t* p0, int32_t quant, ptrdiff_t step)
{
	int32_t p[10];
	for (int i = 0; i < 10; ++i)
		p[i] = p0[i * step];

	int32_t flat = 0;
	for (int i = 0; i < 9; ++i)
		flat += std::abs(p[i] - p[i + 1]) <= 2;

	if (flat < 6) {
		const int32_t a0 = 2 * (p[3] - p[6]) + 5 * (p[5] - p[4]);
		if (std::abs(a0) >= 8 * quant)
			return;  // a real edge of the picture
		const int32_t a1 = 2 * (p[1] - p[4]) + 5 * (p[3] - p[2]);
		const int32_t a2 = 2 * (p[5] - p[8]) + 5 * (p[7] - p[6]);
		const int32_t e = std::abs(a0) - std::min(std::abs(a1), std::abs(a2));
		if (e < 1 || p[4] == p[5])
			return;
		int32_t d = (5 * e + 32) >> 6;
		if (a0 > 0)
			d = -d;
		d = p[4] > p[5] ? std::clamp(d, 0, (p[4] - p[5]) >> 1) : std::clamp(d, -((p[5] - p[4]) >> 1), 0);
		if (d == 0)
			return;
		p0[4 * step] = static_cast<uint8_t>(p[4] - d);
		p0[5 * step] = static_cast<uint8_t>(p[5] + d);
		return;
	}

	// DC-offset mode: smooth a nearly flat run unless it spans a step of two quantiser steps.
	int32_t lo = p[1], hi = p[1];
	for (int i = 2; i <= 8; ++i) {
		lo = p[i] < lo ? p[i] : lo;
		hi = p[i] > hi ? p[i] : hi;
	}
	if (std::abs(p[1] - p[8]) >= 2 * quant || hi - lo >= 2 * quant)
		return;
	const int32_t P0 = std::abs(p[1] - p[0]) < quant ? p[0] : p[1];
	const int32_t P9 = std::abs(p[8] - p[9]) < quant ? p[9] : p[8];
	// The right side substitutes P9 from p8 on, so the old p8 enters no sum.
	const int32_t s[9] = {
	        0,
	        6 * P0 + 4 * p[1] + 2 * p[2] + 2 * p[3] + p[4] + p[5],
	        4 * P0 + 2 * p[1] + 4 * p[2] + 2 * p[3] + 2 * p[4] + p[5] + p[6],
	        2 * P0 + 2 * p[1] + 2 * p[2] + 4 * p[3] + 2 * p[4] + 2 * p[5] + p[6] + p[7],
	        P0 + p[1] + 2 * p[2] + 2 * p[3] + 4 * p[4] + 2 * p[5] + 2 * p[6] + p[7] + P9,
	        p[1] + p[2] + 2 * p[3] + 2 * p[4] + 4 * p[5] + 2 * p[6] + 2 * p[7] + 2 * P9,
	        p[2] + p[3] + 2 * p[4] + 2 * p[5] + 4 * p[6] + 2 * p[7] + 4 * P9,
	        p[3] + p[4] + 2 * p[5] + 2 * p[6] + 4 * p[7] + 6 * P9,
	        p[4] + p[5] + 2 * p[6] + 2 * p[7] + 10 * P9,
	};
	for (int i = 1; i <= 8; ++i)
		p0[i * step] = static_cast<uint8_t>((s[i] + 8) >> 4);
}

// Plane and top-left sample of block b (0..5) of a macroblock.
uint8_t* BlockOrigin(const Vop* vop, const MacroBlock* mb, int b, uint32_t* stride)
{
	if (b < 4) {
		const Plane* plane = vop->planeY;
		const uint32_t x = 16 + 16 * mb->mbX + (b & 1) * 8;
		const uint32_t y = 16 + 16 * mb->mbY + (b >> 1) * 8;
		*stride = plane->width;
		return plane->data + static_cast<size_t>(y) * plane->width + x;
	}
	const Plane* plane = b == 4 ? vop->planeU : vop->planeV;
	*stride = plane->width;
	return plane->data + static_cast<size_t>(8 + 8 * mb->mbY) * plane->width + 8 + 8 * mb->mbX;
}

enum { kEdgeLower = 1, kEdgeRight = 2 };

// Filters the lower and/or right edge of every block of one macroblock, in block order, each block's
// lower edge before its right edge. Without `all`, an edge is filtered only when a flag of one of the
// two blocks that share it allows it.
void DeblockMacroBlock(Vop* vop, MacroBlock* mb, int edges, bool all)
{
	const int32_t quant = mb->mbQuant;
	for (int b = 0; b < 6; ++b) {
		const Block* block = &mb->blocks[b];
		uint32_t stride;
		uint8_t* origin = BlockOrigin(vop, mb, b, &stride);
		if ((edges & kEdgeLower) && (all || block->deblockH || (block->below && block->below->deblockH)))
			gKernels.deblockLowerEdge(origin, quant, stride);
		if ((edges & kEdgeRight) && (all || block->deblockV || (block->right && block->right->deblockV)))
			gKernels.deblockRightEdge(origin, quant, stride);
	}
}

// Every edge except those of the last macroblock column's right side and the last row's lower side
// (the internal edges of those macroblocks included), in the order the prediction loop depends on.
void DeblockEdges(Vop* vop, bool all)
{
	const uint32_t mbWidth = vop->mbWidth, mbHeight = vop->mbHeight;
	if (mbWidth == 0 || mbHeight == 0 || !vop->planeY)
		return;
	// The edges of one macroblock reach 4 samples into its right neighbour and the row below, never
	// into the macroblock after that: as a wavefront, every edge still meets its neighbours' edges in
	// raster order.
	WavefrontInSpans(
	        Vop_Workers(vop), mbHeight - 1, mbWidth - 1, kFilterSpan, [=](uint32_t row, uint32_t column) {
		        DeblockMacroBlock(vop, vop->mbs[row * mbWidth + column], kEdgeLower | kEdgeRight, all);
	        });
	for (uint32_t row = 0; row + 1 < mbHeight; ++row)
		DeblockMacroBlock(vop, vop->mbs[row * mbWidth + mbWidth - 1], kEdgeLower, all);
	for (uint32_t column = 0; column + 1 < mbWidth; ++column)
		DeblockMacroBlock(vop, vop->mbs[(mbHeight - 1) * mbWidth + column], kEdgeRight, all);
}

bool AllZero(const int16_t* levels, int first, int last, int step)
{
	for (int i = first; i <= last; i += step)
		if (levels[i] != 0)
			return false;
	return true;
}

}  // namespace

void DeblockRow(uint8_t* p0, int32_t quant) { DeblockSamples(p0, quant, 1); }

void DeblockColumn(uint8_t* p0, int32_t quant, uint32_t stride)
{
	DeblockSamples(p0, quant, static_cast<ptrdiff_t>(stride));
}

void DeblockLowerEdge(uint8_t* origin, int32_t quant, uint32_t stride)
{
	uint8_t* top = origin + 3 * static_cast<size_t>(stride);
	for (int column = 0; column < 8; ++column)
		DeblockColumn(top + column, quant, stride);
}

void DeblockRightEdge(uint8_t* origin, int32_t quant, uint32_t stride)
{
	for (int row = 0; row < 8; ++row)
		DeblockRow(origin + static_cast<size_t>(row) * stride + 3, quant);
}

void Deblock_Vop(Vop* vop) { DeblockEdges(vop, false); }

void Deblock_VopIntra2(Vop* vop) { DeblockEdges(vop, true); }

void Block_CalcDeblockFlags(Block* block, const int16_t* levels)
{
	const MacroBlock* mb = block->mb;
	uint8_t h, v;
	if (mb->mbType == kMbTypeIntra) {
		h = v = 1;
	} else if (!block->codedBlock) {
		h = v = (mb->mv.x != 0 || mb->mv.y != 0);
	} else {
		bool texture = false;
		for (int r = 1; r < 8 && !texture; ++r)
			texture = !AllZero(levels, 8 * r + 1, 8 * r + 7, 1);
		h = !texture && AllZero(levels, 1, 7, 1);
		v = !texture && AllZero(levels, 8, 56, 8);
	}
	block->deblockH = h;
	block->deblockV = v;
}

void Block_CalcDeringFlag(Block* block, const int16_t* levels)
{
	if (!block->codedBlock && block->mb->mbType == kMbTypeInter) {
		block->deringFlag = 0;
		return;
	}
	// The DC and the two lowest AC frequencies (levels 0, 1 and 8) do not make a block ring.
	block->deringFlag = !(AllZero(levels, 2, 7, 1) && AllZero(levels, 9, 63, 1));
}

void Block_CalcFilterFlags4(Block* block, const int16_t* levels)
{
	block->deblockH = block->deblockV = block->deringFlag = 0;
	Block_CalcDeblockFlags(block, levels);
	Block_CalcDeringFlag(block, levels);
}
