// Codec context and frame objects: construction and disposal of KorvParams, Vop, MacroBlock, Block
// and Plane, neighbour links, macroblock lookups and the per-frame reset.
#include <stdlib.h>
#include <string.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "bitstream_internal.h"
#include "frame_internal.h"
#include "korvo.h"
#include "workers_internal.h"
namespace {

// Macroblock slots inside mbStorage are 16-byte aligned.
constexpr size_t kMbSlotSize = (sizeof(MacroBlock) + 15) & ~size_t{15};

uint32_t MacroBlocksFor(uint32_t pixels) { return pixels / 16 + (pixels % 16 != 0); }

// Buffers of a few megabytes (a 720p picture's macroblocks and planes) are touched whole soon after
// they are made: on 2 MiB pages where the system offers them, that takes a few page faults instead
// of thousands. The advice covers the whole large pages inside the buffer; it is only a hint.
constexpr uintptr_t kLargePage = uintptr_t{2} << 20;

void* ZeroedAlloc(size_t size)
{
	void* p = calloc(size ? size : 1, 1);
#ifdef MADV_HUGEPAGE
	const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kLargePage - 1) & ~(kLargePage - 1);
	const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + size) & ~(kLargePage - 1);
	if (p && end > begin)
		madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
	return p;
}

}  // namespace

bool Vop_GeometryFits(uint32_t width, uint32_t height)
{
	const uint64_t mbWidth = MacroBlocksFor(width);
	const uint64_t mbHeight = MacroBlocksFor(height);
	return mbWidth <= kMaxMacroBlocksAcross && mbHeight <= kMaxMacroBlocksAcross &&
	       mbWidth * mbHeight <= kMaxMacroBlocks;
}

size_t Params_StreamBufferSize(uint32_t width, uint32_t height)
{
	// Four bytes per sample of the macroblock-aligned picture (at least width x height x 4, and a
	// picture smaller than a macroblock still holds a whole frame), never less than the longest
	// frame without macroblocks (user data and a P-VOP header), plus the flush's slack.
	const uint64_t alignedArea = uint64_t{MacroBlocksFor(width)} * MacroBlocksFor(height) * 256;
	const uint64_t frameBytes = alignedArea * 4 > 16 ? alignedArea * 4 : 16;
	// The encoder's worst case is larger still: a macroblock of any 8-bit picture at any quantiser
	// takes at most 6 x 64 x 28 + 44 = 10796 bits (every level a 28-bit fixed-length escape, the
	// longest macroblock header), and user data with a P-VOP header 91 bits.
	const uint64_t worstFrame = (alignedArea / 256 * 10796 + 91 + 7) / 8;
	return size_t((worstFrame > frameBytes ? worstFrame : frameBytes) + kBitStreamFlushSlack);
}

KorvParams* NewKorvParamsPtr(uint8_t mode, uint32_t width, uint32_t height)
{
	// The geometry limits bound width x height x 4 far below 2^32, so no size below can wrap.
	if (!Vop_GeometryFits(width, height))
		return nullptr;
	KorvParams* params = static_cast<KorvParams*>(ZeroedAlloc(sizeof(KorvParams)));
	if (!params)
		return nullptr;

	params->streamBuffer = static_cast<uint8_t*>(ZeroedAlloc(Params_StreamBufferSize(width, height)));
	params->pixMap = static_cast<PixMap*>(ZeroedAlloc(sizeof(PixMap)));
	if (!params->streamBuffer || !params->pixMap) {
		DisposeKorvParamsPtr(params);
		return nullptr;
	}
	params->stream = params->streamBuffer;
	params->streamSize = width * height * 4;
	params->pixMap->width = width;
	params->pixMap->height = height;
	params->prevCodingType = kCodingTypeI;
	params->prevRounding = 1;
	params->pixelFormat = kPixelFormatNone;

	const bool planes = mode != 3;
	const bool sourcePlanes = mode != 2 && mode != 3;
	params->vop = Vop_New(width, height, planes, sourcePlanes);
	if (!params->vop) {
		DisposeKorvParamsPtr(params);
		return nullptr;
	}
	params->vop->params = params;
	Hooks_Install();
	return params;
}

void DisposeKorvParamsPtr(KorvParams* params)
{
	if (!params)
		return;
	Workers_Dispose(params->workers);
	free(params->pixMap);
	free(params->streamBuffer);
	Vop_Dispose(params->vop);
	free(params);
}

Plane* NewPlanePtr(uint32_t width, uint32_t height, uint32_t alignment)
{
	Plane* plane = static_cast<Plane*>(ZeroedAlloc(sizeof(Plane)));
	if (!plane)
		return nullptr;
	const uint64_t samples = uint64_t{width} * height;
	// Chrominance planes start 8 bytes past a 16-byte boundary so that the interior behind their
	// 8-sample border is 16-byte aligned.
	const uint64_t extra = alignment == 0 ? 15 : 23;
	if (alignment > 1 || samples > UINT32_MAX - extra) {
		free(plane);
		return nullptr;
	}
	plane->raw = static_cast<uint8_t*>(ZeroedAlloc(size_t(samples + extra)));
	if (!plane->raw) {
		free(plane);
		return nullptr;
	}
	const uintptr_t first = (reinterpret_cast<uintptr_t>(plane->raw) + 15) & ~uintptr_t{15};
	plane->data = plane->raw + (first - reinterpret_cast<uintptr_t>(plane->raw)) + (alignment ? 8 : 0);
	plane->width = width;
	plane->height = height;
	return plane;
}

void DisposePlanePtr(Plane* plane)
{
	if (!plane)
		return;
	free(plane->raw);
	free(plane);
}

void SwapPlanes(Vop*) {}

Block* Block_New(void* memory, MacroBlock* mb, uint8_t kind)
{
	Block* block = static_cast<Block*>(memory ? memory : malloc(sizeof(Block)));
	if (!block)
		return nullptr;
	memset(block, 0, sizeof(Block));
	block->embedded = memory != nullptr;
	block->kind = kind;
	block->mb = mb;
	return block;
}

void Block_Dispose(Block* block)
{
	if (block && !block->embedded)
		free(block);
}

MacroBlock* MacroBlock_New(void* memory, Vop* vop, uint32_t column, uint32_t row, uint8_t type, uint8_t quant)
{
	MacroBlock* mb = static_cast<MacroBlock*>(memory ? memory : malloc(sizeof(MacroBlock)));
	if (!mb)
		return nullptr;
	memset(mb, 0, sizeof(MacroBlock));
	mb->embedded = memory != nullptr;
	mb->mbX = column;
	mb->mbY = row;
	for (int i = 0; i < 6; i++) {
		mb->block[i] = Block_New(&mb->blocks[i], mb, i < 4 ? kBlockKindLuma : kBlockKindChroma);
		if (!mb->block[i]) {
			MacroBlock_Dispose(mb);
			return nullptr;
		}
	}
	mb->vop = vop;
	mb->mbQuant = quant;
	mb->mbType = type;
	return mb;
}

void MacroBlock_Dispose(MacroBlock* mb)
{
	if (!mb)
		return;
	for (Block* block : mb->block)
		Block_Dispose(block);
	if (!mb->embedded)
		free(mb);
}

Vop* Vop_New(uint32_t width, uint32_t height, bool planes, bool sourcePlanes)
{
	if (!Vop_GeometryFits(width, height))
		return nullptr;
	Vop* vop = static_cast<Vop*>(ZeroedAlloc(sizeof(Vop)));
	if (!vop)
		return nullptr;
	vop->width = width;
	vop->height = height;
	vop->mbWidth = MacroBlocksFor(width);
	vop->mbHeight = MacroBlocksFor(height);
	vop->planeWidth = (vop->mbWidth + 2) * 16;
	vop->planeHeight = (vop->mbHeight + 2) * 16;
	vop->mbCount = vop->mbWidth * vop->mbHeight;
	const uint32_t pw = vop->planeWidth, ph = vop->planeHeight;

	bool ok = true;
	if (planes) {
		vop->ownsPlanes = 1;
		vop->planeY = NewPlanePtr(pw, ph, 0);
		vop->planeU = NewPlanePtr(pw / 2, ph / 2, 1);
		vop->planeV = NewPlanePtr(pw / 2, ph / 2, 1);
		ok = vop->planeY && vop->planeU && vop->planeV;
	}
	if (ok && sourcePlanes) {
		vop->ownsSrcPlanes = 1;
		vop->srcY = NewPlanePtr(pw, ph, 0);
		vop->srcU = NewPlanePtr(pw / 2, ph / 2, 1);
		vop->srcV = NewPlanePtr(pw / 2, ph / 2, 1);
		vop->subY = NewPlanePtr(pw / 2, ph / 2, 0);
		vop->subSrcY = NewPlanePtr(pw / 2, ph / 2, 0);
		ok = vop->srcY && vop->srcU && vop->srcV && vop->subY && vop->subSrcY;
	}
	vop->quant = 1;
	vop->rounding = 1;
	vop->coded = 1;
	vop->mbsRead = int16_t(vop->mbCount);
	if (ok && vop->mbCount) {
		vop->mbs = static_cast<MacroBlock**>(ZeroedAlloc(vop->mbCount * sizeof(MacroBlock*)));
		vop->mbStorage = ZeroedAlloc(vop->mbCount * kMbSlotSize + 15);
		vop->ownsMbStorage = vop->mbStorage != nullptr;
		ok = vop->mbs && vop->mbStorage;
	}
	if (ok && vop->mbCount) {
		const uintptr_t raw = reinterpret_cast<uintptr_t>(vop->mbStorage);
		uint8_t* slot = static_cast<uint8_t*>(vop->mbStorage) + (((raw + 15) & ~uintptr_t{15}) - raw);
		for (uint32_t i = 0; ok && i < vop->mbCount; i++, slot += kMbSlotSize) {
			vop->mbs[i] = MacroBlock_New(slot, vop, i % vop->mbWidth, i / vop->mbWidth, kMbTypeIntra, 1);
			ok = vop->mbs[i] != nullptr;
		}
	}
	if (!ok) {
		Vop_Dispose(vop);
		return nullptr;
	}
	vop->codingType = kCodingTypeI;
	Vop_SetNeighbours(vop);
	return vop;
}

void Vop_Dispose(Vop* vop)
{
	if (!vop)
		return;
	if (vop->mbs) {
		for (uint32_t i = 0; i < vop->mbCount; i++)
			MacroBlock_Dispose(vop->mbs[i]);
		free(vop->mbs);
	}
	if (vop->ownsMbStorage)
		free(vop->mbStorage);
	if (vop->ownsPlanes) {
		DisposePlanePtr(vop->planeY);
		DisposePlanePtr(vop->planeU);
		DisposePlanePtr(vop->planeV);
	}
	if (vop->ownsSrcPlanes) {
		DisposePlanePtr(vop->srcY);
		DisposePlanePtr(vop->srcU);
		DisposePlanePtr(vop->srcV);
		DisposePlanePtr(vop->subY);
		DisposePlanePtr(vop->subSrcY);
	}
	free(vop);
}

void Vop_SetNeighbours(Vop* vop)
{
	const uint32_t w = vop->mbWidth, h = vop->mbHeight;
	for (uint32_t row = 0; row < h; row++) {
		for (uint32_t col = 0; col < w; col++) {
			MacroBlock_SetNeighbours(Vop_GetMacroBlock(vop, col, row),
			                         row > 0 ? Vop_GetMacroBlock(vop, col, row - 1) : nullptr,
			                         row + 1 < h ? Vop_GetMacroBlock(vop, col, row + 1) : nullptr,
			                         col > 0 ? Vop_GetMacroBlock(vop, col - 1, row) : nullptr,
			                         col + 1 < w ? Vop_GetMacroBlock(vop, col + 1, row) : nullptr);
		}
	}
}

void MacroBlock_SetNeighbours(MacroBlock* mb, MacroBlock* above, MacroBlock* below, MacroBlock* left,
                              MacroBlock* right)
{
	mb->above = above;
	mb->below = below;
	mb->left = left;
	mb->right = right;
	Block** b = mb->block;
	// Across the macroblock's edges: the facing block of the neighbour in the same plane.
	b[0]->above = above ? above->block[2] : nullptr;
	b[1]->above = above ? above->block[3] : nullptr;
	b[4]->above = above ? above->block[4] : nullptr;
	b[5]->above = above ? above->block[5] : nullptr;
	b[2]->below = below ? below->block[0] : nullptr;
	b[3]->below = below ? below->block[1] : nullptr;
	b[4]->below = below ? below->block[4] : nullptr;
	b[5]->below = below ? below->block[5] : nullptr;
	b[0]->left = left ? left->block[1] : nullptr;
	b[2]->left = left ? left->block[3] : nullptr;
	b[4]->left = left ? left->block[4] : nullptr;
	b[5]->left = left ? left->block[5] : nullptr;
	b[1]->right = right ? right->block[0] : nullptr;
	b[3]->right = right ? right->block[2] : nullptr;
	b[4]->right = right ? right->block[4] : nullptr;
	b[5]->right = right ? right->block[5] : nullptr;
	// Inside the macroblock.
	b[0]->right = b[1];
	b[0]->below = b[2];
	b[1]->left = b[0];
	b[1]->below = b[3];
	b[2]->above = b[0];
	b[2]->right = b[3];
	b[3]->left = b[2];
	b[3]->above = b[1];
}

MacroBlock* Vop_GetMacroBlock(Vop* vop, uint32_t column, uint32_t row)
{
	return vop->mbs[row * vop->mbWidth + column];
}

MacroBlock* Vop_FindMacroBlock(Vop* vop, int32_t x, int32_t y)
{
	if (x < 0 || y < 0 || uint32_t(x) >= vop->width || uint32_t(y) >= vop->height)
		return nullptr;
	return Vop_GetMacroBlock(vop, uint32_t(x) / 16, uint32_t(y) / 16);
}

void Vop_Reset(Vop* vop)
{
	vop->coded = 1;
	vop->mbsRead = int16_t(vop->mbCount);
	for (uint32_t i = 0; i < vop->mbCount; i++)
		MacroBlock_Reset(vop->mbs[i]);
}

void MacroBlock_Reset(MacroBlock* mb)
{
	mb->mv = Motion{0, 0};
	mb->codedMb = 1;
	mb->acPred = 0;
	mb->dquant = 0;
	for (Block* block : mb->block) {
		block->codedBlock = 1;
		block->deblockH = block->deblockV = block->deringFlag = 0;
		block->dcPred = block->dcLevel = block->dcDiff = 0;
		block->predDir = 0;
	}
}
