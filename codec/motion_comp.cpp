// Motion compensation of inter macroblocks: every prediction is fetched from the previous picture
// into its block's pred array before the first pixel of the new picture is written.
#include "frame_internal.h"
#include "kernels_internal.h"
#include "korvo.h"
#include "prediction_internal.h"
#include "workers_internal.h"
int32_t ChromaVectorComponent(int32_t m)
{
	// Not the MPEG-4 chrominance rounding: 2 maps to 2 and -1 to 1; streams depend on it.
	return m / 2 + ((m & 3) != 0);
}

// A position that is half-pel in one direction only is fetched from the full-pel sample above-left,
// without interpolation; only positions half-pel in both directions average four samples.
void GetPlaneBlock16Half(const Plane* plane, int16_t x, int16_t y, int16_t* destination, uint8_t rounding)
{
	const bool interpolate = (x & 1) && (y & 1);
	const int32_t extent = interpolate ? 9 : 8;
	// Vectors of a valid stream never leave the plane; anything else is held inside it.
	const int32_t maxColumn = static_cast<int32_t>(plane->width) - extent;
	const int32_t maxRow = static_cast<int32_t>(plane->height) - extent;
	if (maxColumn < 0 || maxRow < 0) {
		for (int i = 0; i < 64; ++i)
			destination[i] = 0;
		return;
	}
	int32_t column = x >> 1, row = y >> 1;
	column = column < 0 ? 0 : column > maxColumn ? maxColumn : column;
	row = row < 0 ? 0 : row > maxRow ? maxRow : row;

	const uint32_t stride = plane->width;
	const uint8_t* p = plane->data + static_cast<size_t>(row) * stride + column;
	if (interpolate)
		gKernels.fetchBlockAverage4(p, stride, destination, 2 - rounding);
	else
		gKernels.fetchBlock(p, stride, destination);
}

void FetchBlock_C(const uint8_t* p, uint32_t stride, int16_t* out)
{
	for (int j = 0; j < 8; ++j, p += stride, out += 8)
		for (int i = 0; i < 8; ++i)
			out[i] = p[i];
}

void FetchBlockAverage4_C(const uint8_t* p, uint32_t stride, int16_t* out, int32_t bias)
{
	for (int j = 0; j < 8; ++j, p += stride, out += 8)
		for (int i = 0; i < 8; ++i)
			out[i] = static_cast<int16_t>((p[i] + p[i + 1] + p[i + stride] + p[i + stride + 1] + bias) >> 2);
}

void MacroBlock_ApplyMotion(MacroBlock* mb)
{
	if (mb->mbType != kMbTypeInter || !mb->codedMb || (mb->mv.x == 0 && mb->mv.y == 0))
		return;
	const Vop* vop = mb->vop;
	const uint8_t rounding = vop->rounding;
	// Half-pel positions in the padded planes: 32 half-pels cover the 16-pixel luminance border,
	// 16 the 8-pixel chrominance border.
	const int32_t x = 32 * static_cast<int32_t>(mb->mbX) + mb->mv.x + 32;
	const int32_t y = 32 * static_cast<int32_t>(mb->mbY) + mb->mv.y + 32;
	for (int b = 0; b < 4; ++b)
		GetPlaneBlock16Half(vop->planeY, static_cast<int16_t>(x + (b & 1) * 16),
		                    static_cast<int16_t>(y + (b >> 1) * 16), mb->blocks[b].pred, rounding);
	const int32_t cx = 16 * static_cast<int32_t>(mb->mbX) + ChromaVectorComponent(mb->mv.x) + 16;
	const int32_t cy = 16 * static_cast<int32_t>(mb->mbY) + ChromaVectorComponent(mb->mv.y) + 16;
	GetPlaneBlock16Half(vop->planeU, static_cast<int16_t>(cx), static_cast<int16_t>(cy), mb->blocks[4].pred,
	                    rounding);
	GetPlaneBlock16Half(vop->planeV, static_cast<int16_t>(cx), static_cast<int16_t>(cy), mb->blocks[5].pred,
	                    rounding);
}

void Vop_ApplyMotion(Vop* vop)
{
	if (!vop->coded || vop->codingType != kCodingTypeP || !vop->planeY)
		return;
	// Every prediction reads only the previous picture, which nothing writes until all are fetched.
	ForEachRow(Vop_Workers(vop), vop->mbHeight, [vop](uint32_t row) { Vop_ApplyMotionRow(vop, row); });
}

void Vop_ApplyMotionRow(Vop* vop, uint32_t row)
{
	for (uint32_t i = row * vop->mbWidth; i < (row + 1) * vop->mbWidth; ++i)
		if (vop->mbs[i]->mbType == kMbTypeInter)
			MacroBlock_ApplyMotion(vop->mbs[i]);
}
