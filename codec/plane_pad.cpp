// Plane borders and derived planes: edge replication into the border, the half-size luminance
// copies used by motion search, and the plane inversion.
#include <string.h>

#include <initializer_list>

#include "frame_internal.h"
#include "kernels_internal.h"
#include "korvo.h"
// Every padding form replicates one column or row outward; positions outside the plane do nothing.

void Plane_PadLeft(Plane* plane, uint32_t firstColumn)
{
	if (firstColumn >= plane->width)
		return;
	for (uint32_t y = 0; y < plane->height; y++) {
		uint8_t* row = plane->data + size_t{y} * plane->width;
		memset(row, row[firstColumn], firstColumn);
	}
}

void Plane_PadRight(Plane* plane, uint32_t lastColumn)
{
	if (lastColumn >= plane->width)
		return;
	for (uint32_t y = 0; y < plane->height; y++) {
		uint8_t* row = plane->data + size_t{y} * plane->width;
		memset(row + lastColumn + 1, row[lastColumn], plane->width - lastColumn - 1);
	}
}

void Plane_PadUp(Plane* plane, uint32_t firstRow)
{
	if (firstRow >= plane->height)
		return;
	const uint8_t* source = plane->data + size_t{firstRow} * plane->width;
	for (uint32_t y = 0; y < firstRow; y++)
		memcpy(plane->data + size_t{y} * plane->width, source, plane->width);
}

void Plane_PadDown(Plane* plane, uint32_t lastRow)
{
	if (lastRow >= plane->height)
		return;
	const uint8_t* source = plane->data + size_t{lastRow} * plane->width;
	for (uint32_t y = lastRow + 1; y < plane->height; y++) {
		memcpy(plane->data + size_t{y} * plane->width, source, plane->width);
	}
}

void Plane_PadHorizontal(Plane* plane, uint32_t border, uint32_t lastColumn)
{
	Plane_PadLeft(plane, border);
	Plane_PadRight(plane, lastColumn);
}

void Plane_PadVertical(Plane* plane, uint32_t border, uint32_t lastRow)
{
	Plane_PadUp(plane, border);
	Plane_PadDown(plane, lastRow);
}

void Plane_Pad(Plane* plane, uint32_t lastColumn, uint32_t lastRow)
{
	Plane_PadHorizontal(plane, 16, lastColumn + 16);
	Plane_PadVertical(plane, 16, lastRow + 16);
}

// Horizontal first, so that the vertical pass carries the corner pixels into the corners. The
// replication starts at the picture's own edge, covering the macroblock-alignment area as well.
void Vop_Pad(Vop* vop)
{
	if (!vop->planeY)
		return;
	Plane_PadHorizontal(vop->planeY, 16, vop->width + 15);
	Plane_PadVertical(vop->planeY, 16, vop->height + 15);
	for (Plane* chroma : {vop->planeU, vop->planeV}) {
		Plane_PadHorizontal(chroma, 8, vop->width / 2 + 7);
		Plane_PadVertical(chroma, 8, vop->height / 2 + 7);
	}
}

void Plane_Subsample(const Plane* source, Plane* destination)
{
	const uint32_t width = source->width / 2, height = source->height / 2;
	// The destination's current size is its capacity; a source too large for it is refused.
	if (uint64_t{width} * height > uint64_t{destination->width} * destination->height)
		return;
	destination->width = width;
	destination->height = height;
	gKernels.subsample(source->data, source->width, destination->data, width, width, height);
}

void Subsample_C(const uint8_t* source, uint32_t sourceStride, uint8_t* out, uint32_t outStride,
                 uint32_t columns, uint32_t rows)
{
	for (uint32_t y = 0; y < rows; y++, source += 2 * size_t{sourceStride}, out += outStride) {
		const uint8_t* bottom = source + sourceStride;
		for (uint32_t x = 0; x < columns; x++)
			out[x] = uint8_t((source[2 * x] + source[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1]) >> 2);
	}
}

void Vop_SubsamplePlanes(Vop* vop)
{
	if (vop->planeY && vop->subY)
		Plane_Subsample(vop->planeY, vop->subY);
	if (vop->srcY && vop->subSrcY)
		Plane_Subsample(vop->srcY, vop->subSrcY);
}

void Plane_InverseY(Plane* plane)
{
	const size_t count = size_t{plane->width} * plane->height;
	for (size_t i = 0; i < count; i++)
		plane->data[i] = uint8_t(~plane->data[i]);
}
