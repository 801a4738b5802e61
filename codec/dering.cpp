// In-loop deringing inside 8x8 blocks. Block and macroblock order are part of the prediction loop.
#include "filters_internal.h"
#include "frame_internal.h"
#include "kernels_internal.h"
#include "korvo.h"
#include "workers_internal.h"
namespace {

struct BlockRange {
	int32_t min;
	int32_t max;
};

BlockRange MeasureBlock(const uint8_t* origin, uint32_t stride)
{
	BlockRange r = {255, 0};
	for (int row = 0; row < 8; ++row, origin += stride) {
		for (int column = 0; column < 8; ++column) {
			const int32_t v = origin[column];
			r.min = v < r.min ? v : r.min;
			r.max = v > r.max ? v : r.max;
		}
	}
	return r;
}

int32_t Threshold(BlockRange r) { return (r.max + r.min + 1) >> 1; }

}  // namespace

// Smooths the pixels of the block at (x, y) whose 3x3 neighbourhood lies wholly on one side of the
// threshold, moving each by at most maxDiff. It reads only a copy of the 10x10 window, so the order
// within the block does not matter; later blocks see this block's results in their margin.
void Block_Dering(int32_t threshold, int32_t maxDiff, uint32_t x, uint32_t y, Plane* plane)
{
	gKernels.deringBlock(plane->data + static_cast<size_t>(y) * plane->width + x, plane->width, threshold,
	                     maxDiff);
}

void DeringBlock_C(uint8_t* origin, uint32_t stride, int32_t threshold, int32_t maxDiff)
{
	int32_t a[10][10];
	uint8_t above[10][10];
	const uint8_t* src = origin - stride - 1;
	for (int j = 0; j < 10; ++j, src += stride) {
		for (int i = 0; i < 10; ++i) {
			a[j][i] = src[i];
			above[j][i] = src[i] >= threshold;
		}
	}
	for (int j = 1; j <= 8; ++j) {
		uint8_t* dst = origin + static_cast<size_t>(j - 1) * stride - 1;
		for (int i = 1; i <= 8; ++i) {
			const int32_t ones = above[j - 1][i - 1] + above[j - 1][i] + above[j - 1][i + 1] +
			                     above[j][i - 1] + above[j][i] + above[j][i + 1] + above[j + 1][i - 1] +
			                     above[j + 1][i] + above[j + 1][i + 1];
			if (ones != 0 && ones != 9)
				continue;
			const int32_t f =
			        (a[j - 1][i - 1] + 2 * a[j - 1][i] + a[j - 1][i + 1] + 2 * a[j][i - 1] + 4 * a[j][i] +
			         2 * a[j][i + 1] + a[j + 1][i - 1] + 2 * a[j + 1][i] + a[j + 1][i + 1] + 8) >>
			        4;
			const int32_t p = a[j][i];
			dst[i] = static_cast<uint8_t>(f - p > maxDiff ? p + maxDiff : f - p < -maxDiff ? p - maxDiff : f);
		}
	}
}

// A threshold of 0 puts every sample on one side, so every pixel is smoothed.
void Block_DeringAll(int32_t maxDiff, uint32_t x, uint32_t y, Plane* plane)
{
	Block_Dering(0, maxDiff, x, y, plane);
}

void MacroBlock_Dering(MacroBlock* mb)
{
	const int32_t maxDiff = mb->mbQuant >> 1;
	bool flagged = false;
	for (int b = 0; b < 6; ++b)
		flagged = flagged || mb->blocks[b].deringFlag;
	if (maxDiff == 0 || !flagged)
		return;

	const Vop* vop = mb->vop;
	Plane* const planes[6] = {vop->planeY, vop->planeY, vop->planeY, vop->planeY, vop->planeU, vop->planeV};
	uint32_t x[6], y[6];
	for (int b = 0; b < 4; ++b) {
		x[b] = 16 + 16 * mb->mbX + (b & 1) * 8;
		y[b] = 16 + 16 * mb->mbY + (b >> 1) * 8;
	}
	x[4] = x[5] = 8 + 8 * mb->mbX;
	y[4] = y[5] = 8 + 8 * mb->mbY;

	// All six ranges are measured before any block of the macroblock is filtered.
	BlockRange range[6];
	for (int b = 0; b < 6; ++b)
		range[b] = MeasureBlock(planes[b]->data + static_cast<size_t>(y[b]) * planes[b]->width + x[b],
		                        planes[b]->width);
	int32_t widest = 0, widestThreshold = 0;
	for (int b = 0; b < 4; ++b) {
		if (range[b].max - range[b].min > widest) {
			widest = range[b].max - range[b].min;
			widestThreshold = Threshold(range[b]);
		}
	}

	for (int b = 0; b < 4; ++b) {
		if (!mb->blocks[b].deringFlag)
			continue;
		if (range[b].max - range[b].min <= 31 && widest >= 64) {
			Block_Dering(widestThreshold, maxDiff, x[b], y[b], planes[b]);
		} else if (widest >= 16) {
			// Block 2 filters the area of block 1 here; streams depend on it, so it stays.
			const int target = b == 2 ? 1 : b;
			Block_Dering(Threshold(range[b]), maxDiff, x[target], y[target], planes[b]);
		} else {
			Block_DeringAll(maxDiff, x[b], y[b], planes[b]);
		}
	}
	for (int b = 4; b < 6; ++b) {
		if (!mb->blocks[b].deringFlag)
			continue;
		const int32_t t = Threshold(range[b]);
		if (t != 0)
			Block_Dering(t, maxDiff, x[b], y[b], planes[b]);
		else
			Block_DeringAll(maxDiff, x[b], y[b], planes[b]);
	}
}

void Vop_Dering(Vop* vop)
{
	if (!vop->planeY)
		return;
	// A macroblock reads one sample beyond its edges, which its neighbours write: as a wavefront,
	// every macroblock still sees its left and upper neighbours filtered and the others not yet.
	WavefrontInSpans(Vop_Workers(vop), vop->mbHeight, vop->mbWidth, kFilterSpan,
	                 [vop](uint32_t row, uint32_t column) {
		                 MacroBlock_Dering(vop->mbs[row * vop->mbWidth + column]);
	                 });
}
