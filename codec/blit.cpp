// Block writers: 8x8 blocks of reconstructed values into 8-bit planes (set, prediction plus
// residual, residual added in place), and the frame writers IntraBlit and VopToPlanes.
#include <cstring>

#include "frame_internal.h"
#include "kernels_internal.h"
#include "korvo.h"
#include "pixel_internal.h"
#include "reconstruct_internal.h"
#include "workers_internal.h"
namespace {

using korvo::ClampPixel;

enum class BlitOp { Set, SetAdd, Add };

// One row of eight samples: Set stores clamp(a), SetAdd clamp(a + b), Add clamp(out + a).
template <BlitOp op>
inline void BlitRow8(uint8_t* out, const int16_t* a, const int16_t* b)
{
	for (int i = 0; i < 8; ++i) {
		int32_t v = a[i];
		if constexpr (op == BlitOp::SetAdd)
			v += b[i];
		if constexpr (op == BlitOp::Add)
			v += out[i];
		out[i] = ClampPixel(v);
	}
}

template <BlitOp op>
inline void Blit8x8(uint8_t* dst, uint32_t stride, const int16_t* a, const int16_t* b)
{
	for (int row = 0; row < 8; ++row, dst += stride, a += 8) {
		BlitRow8<op>(dst, a, b);
		if constexpr (op == BlitOp::SetAdd)
			b += 8;
	}
}

inline uint8_t* PlaneAt(const Plane* plane, uint32_t column, uint32_t row)
{
	return plane->data + static_cast<size_t>(row) * plane->width + column;
}

// Where block b (Y0..Y3, U, V) of a macroblock lies in the reconstructed planes.
inline uint8_t* BlockDestination(const Vop* vop, const MacroBlock* mb, int b, uint32_t* stride)
{
	if (b < 4) {
		*stride = vop->planeY->width;
		return korvo::PlaneLumaAt(vop->planeY, 16 * mb->mbX + 8 * (b & 1), 16 * mb->mbY + 8 * (b >> 1));
	}
	const Plane* plane = b == 4 ? vop->planeU : vop->planeV;
	*stride = plane->width;
	return korvo::PlaneChromaAt(plane, 8 * mb->mbX, 8 * mb->mbY);
}

using korvo::HasPlanes;
using korvo::MacroBlocksRead;

}  // namespace

extern "C" {

void BlitSetBlock3(uint8_t* dst, uint32_t stride, const int16_t* values)
{
	Blit8x8<BlitOp::Set>(dst, stride, values, nullptr);
}

void BlitSetBlock(uint8_t* dst, uint32_t stride, uint32_t column, uint32_t row, const int16_t* values)
{
	gKernels.blitSet(dst + static_cast<size_t>(row) * stride + column, stride, values);
}

void BlitSetBlock2(uint8_t* dst, uint32_t stride, const int16_t* values)
{
	gKernels.blitSet(dst, stride, values);
}

// Each row as two 32-bit stores, the first sample of each group of four in the word's most
// significant byte.
void BlitSetBlock4(uint8_t* dst, uint32_t stride, const int16_t* values)
{
	for (int row = 0; row < 8; ++row, dst += stride, values += 8) {
		uint8_t s[8];
		BlitRow8<BlitOp::Set>(s, values, nullptr);
		for (int half = 0; half < 2; ++half) {
			const uint8_t* q = s + 4 * half;
			const uint32_t word = static_cast<uint32_t>(q[0]) << 24 | static_cast<uint32_t>(q[1]) << 16 |
			                      static_cast<uint32_t>(q[2]) << 8 | q[3];
			std::memcpy(dst + 4 * half, &word, sizeof word);
		}
	}
}

void BlitSetBlockAdd2(uint8_t* dst, uint32_t stride, const int16_t* a, const int16_t* b)
{
	Blit8x8<BlitOp::SetAdd>(dst, stride, a, b);
}

void BlitSetBlockAdd(uint8_t* dst, uint32_t stride, uint32_t column, uint32_t row, const int16_t* a,
                     const int16_t* b)
{
	gKernels.blitSetAdd(dst + static_cast<size_t>(row) * stride + column, stride, a, b);
}

void BlitSetBlockAdd3(uint8_t* dst, uint32_t stride, const int16_t* a, const int16_t* b)
{
	gKernels.blitSetAdd(dst, stride, a, b);
}

void BlitAddBlock3(uint8_t* dst, uint32_t stride, const int16_t* residual)
{
	Blit8x8<BlitOp::Add>(dst, stride, residual, nullptr);
}

void BlitAddBlock(uint8_t* dst, uint32_t stride, uint32_t column, uint32_t row, const int16_t* residual)
{
	BlitAddBlock3(dst + static_cast<size_t>(row) * stride + column, stride, residual);
}

void BlitAddBlock2(uint8_t* dst, uint32_t stride, const int16_t* residual)
{
	BlitAddBlock3(dst, stride, residual);
}

void BlitAddBlock4(uint8_t* dst, uint32_t stride, const int16_t* residual)
{
	BlitAddBlock3(dst, stride, residual);
}

void SetPlaneBlock16(Plane* plane, uint32_t column, uint32_t row, const int16_t* values)
{
	gKernels.blitSet(PlaneAt(plane, column, row), plane->width, values);
}

void SetPlaneBlock16Add(Plane* plane, uint32_t column, uint32_t row, const int16_t* a, const int16_t* b)
{
	gKernels.blitSetAdd(PlaneAt(plane, column, row), plane->width, a, b);
}

void AddPlaneBlock16(Plane* plane, uint32_t column, uint32_t row, const int16_t* residual)
{
	BlitAddBlock3(PlaneAt(plane, column, row), plane->width, residual);
}

void SetPlaneBlock(Plane* plane, uint32_t column, uint32_t row, const uint8_t* values)
{
	uint8_t* dst = PlaneAt(plane, column, row);
	for (int r = 0; r < 8; ++r, dst += plane->width, values += 8)
		std::memcpy(dst, values, 8);
}

void GetPlaneBlock(const Plane* plane, uint32_t column, uint32_t row, uint8_t* destination)
{
	const uint8_t* src = PlaneAt(plane, column, row);
	for (int r = 0; r < 8; ++r, src += plane->width, destination += 8)
		std::memcpy(destination, src, 8);
}

void IntraBlit(KorvParams* params)
{
	Vop* vop = params->vop;
	if (!HasPlanes(vop))
		return;
	const uint32_t count = MacroBlocksRead(vop);
	for (uint32_t i = 0; i < count; ++i) {
		const MacroBlock* mb = vop->mbs[i];
		for (int b = 0; b < 6; ++b) {
			uint32_t stride;
			uint8_t* dst = BlockDestination(vop, mb, b, &stride);
			gKernels.blitSet(dst, stride, mb->blocks[b].recon);
		}
	}
}

// IntraBlit with the luminance written as 16-sample rows (Y0 beside Y1, Y2 beside Y3).
void IntraBlit2(KorvParams* params)
{
	Vop* vop = params->vop;
	if (!HasPlanes(vop))
		return;
	const uint32_t count = MacroBlocksRead(vop);
	for (uint32_t i = 0; i < count; ++i) {
		const MacroBlock* mb = vop->mbs[i];
		uint32_t stride;
		for (int pair = 0; pair < 2; ++pair) {
			uint8_t* dst = BlockDestination(vop, mb, 2 * pair, &stride);
			const int16_t* left = mb->blocks[2 * pair].recon;
			const int16_t* right = mb->blocks[2 * pair + 1].recon;
			for (int row = 0; row < 8; ++row, dst += stride) {
				BlitRow8<BlitOp::Set>(dst, left + 8 * row, nullptr);
				BlitRow8<BlitOp::Set>(dst + 8, right + 8 * row, nullptr);
			}
		}
		for (int b = 4; b < 6; ++b) {
			uint8_t* dst = BlockDestination(vop, mb, b, &stride);
			gKernels.blitSet(dst, stride, mb->blocks[b].recon);
		}
	}
}

int16_t VopToPlanes(KorvParams* params)
{
	Vop* vop = params->vop;
	if (vop == nullptr || !HasPlanes(vop))
		return kKorvoEntryFailed;
	if (vop->coded == 0)
		return kKorvoOK;
	if (vop->codingType == kCodingTypeI) {
		gHooks.intraBlit(params);
		return kKorvoOK;
	}
	// Each macroblock writes its own area from its own blocks: rows go to the context's workers.
	const uint32_t count = MacroBlocksRead(vop);
	ForEachRow(Vop_Workers(vop), vop->mbHeight, [vop, count](uint32_t row) {
		const uint32_t end = count < (row + 1) * vop->mbWidth ? count : (row + 1) * vop->mbWidth;
		for (uint32_t i = row * vop->mbWidth; i < end; ++i) {
			const MacroBlock* mb = vop->mbs[i];
			const bool intra = mb->mbType == kMbTypeIntra;
			if (!intra && mb->codedMb == 0)
				continue;  // the previous picture is this macroblock
			const bool moved = mb->mv.x != 0 || mb->mv.y != 0;
			for (int b = 0; b < 6; ++b) {
				const Block& block = mb->blocks[b];
				uint32_t stride;
				uint8_t* dst = BlockDestination(vop, mb, b, &stride);
				if (intra) {
					gKernels.blitSet(dst, stride, block.recon);
				} else if (moved) {
					if (block.codedBlock)
						gKernels.blitSetAdd(dst, stride, block.pred, block.recon);
					else
						gKernels.blitSet(dst, stride, block.pred);
				} else if (block.codedBlock) {
					gKernels.blitAdd(dst, stride, block.recon);
				}
			}
		}
	});
	return kKorvoOK;
}

}  // extern "C"
