// Frame reconstruction: the quantiser of each macroblock, dequantisation, inverse transform and the
// post-filter flags of every block that was read. Encoder and decoder both reconstruct with this.
#include "filters_internal.h"
#include "frame_internal.h"
#include "kernels_internal.h"
#include "korvo.h"
#include "prediction_internal.h"
#include "reconstruct_internal.h"
#include "syntax_internal.h"
#include "transform_internal.h"
#include "workers_internal.h"
namespace {

// Dequantises the blocks of one coded macroblock into their recon (or all into one scratch block)
// and computes their filter flags when `flags` is set. Intra blocks take their DC level back into
// coef[0] first; uncoded inter blocks are skipped. Returns bit b set for each block dequantised.
uint32_t DequantizeMacroBlock(MacroBlock* mb, bool intraVop, bool flags, int16_t* scratch)
{
	uint32_t done = 0;
	const bool inter = !intraVop && mb->mbType == kMbTypeInter;
	for (int b = 0; b < 6; ++b) {
		Block* block = &mb->blocks[b];
		int16_t* out = scratch ? scratch : block->recon;
		if (inter) {
			if (flags)
				Block_CalcFilterFlags4(block, block->coef);
			if (!block->codedBlock)
				continue;
			gKernels.dequantizeInter(block->coef, out, mb->mbQuant);
		} else {
			block->coef[0] = block->dcLevel;
			if (flags) {
				if (intraVop)
					Block_CalcDeringFlag(block, block->coef);
				else
					Block_CalcFilterFlags4(block, block->coef);
			}
			gKernels.dequantizeIntra(block->coef, out, mb->mbQuant, static_cast<uint32_t>(b));
		}
		done |= 1u << b;
	}
	return done;
}

bool FiltersOn(const Vop* vop) { return vop->params && (vop->params->deblock || vop->params->dering); }

}  // namespace

namespace {

uint32_t MacroBlocksReadOf(const Vop* vop)
{
	return vop->mbsRead < 0                                     ? 0
	       : static_cast<uint32_t>(vop->mbsRead) < vop->mbCount ? vop->mbsRead
	                                                            : vop->mbCount;
}

// Dequantisation and inverse transform of the macroblocks of one row among the first `read`.
void DecompressRow(Vop* vop, uint32_t row, uint32_t read)
{
	const bool flags = FiltersOn(vop);
	const bool intraVop = vop->codingType == kCodingTypeI;
	const uint32_t end = read < (row + 1) * vop->mbWidth ? read : (row + 1) * vop->mbWidth;
	for (uint32_t i = row * vop->mbWidth; i < end; ++i) {
		MacroBlock* mb = vop->mbs[i];
		if (!intraVop && !mb->codedMb)
			continue;
		const uint32_t done = DequantizeMacroBlock(mb, intraVop, flags, nullptr);
		for (int b = 0; b < 6; ++b)
			if (done & (1u << b))
				gHooks.inverseDCT(mb->blocks[b].recon);
	}
}

// Macroblocks from `read` on were not read because the data ended: skipped ones, so the previous
// picture stands. Each keeps its own quantiser (the one read for it, or its last frame's), which the
// deblocking of its edges uses.
void MarkUnread(Vop* vop, uint32_t read)
{
	for (uint32_t i = read; i < vop->mbCount; ++i) {
		MacroBlock* mb = vop->mbs[i];
		mb->codedMb = 0;
		mb->mbType = kMbTypeInter;
		mb->mv.x = mb->mv.y = 0;
		mb->dquant = 0;
	}
}

}  // namespace

void Vop_Decompress(Vop* vop)
{
	if (!vop->coded)
		return;
	const uint32_t read = MacroBlocksReadOf(vop);
	// The quantiser runs through the picture in raster order; once it is settled the macroblocks
	// need nothing from each other, and rows are reconstructed on the context's workers.
	uint8_t quant = vop->quant;
	for (uint32_t i = 0; i < read; ++i) {
		MacroBlock* mb = vop->mbs[i];
		const int8_t t = static_cast<int8_t>(quant + mb->dquant);
		mb->mbQuant = t <= 0 ? 1 : t > 31 ? 31 : static_cast<uint8_t>(t);
		quant = mb->mbQuant;
	}
	MarkUnread(vop, read);
	ForEachRow(Vop_Workers(vop), vop->mbHeight, [vop, read](uint32_t row) { DecompressRow(vop, row, read); });
}

int16_t Vop_ReadAndReconstruct(KorvParams* params)
{
	Vop* vop = params->vop;
	KorvWorkers* workers = Vop_Workers(vop);
	if (!workers) {
		const int16_t status = StreamToVop(params);
		Vop_Decompress(vop);
		Vop_ApplyMotion(vop);
		return status;
	}
	// Each row is reconstructed and its predictions fetched on the workers as soon as the reader has
	// passed it. The reader leaves every macroblock it read with the quantiser of the raster-order
	// chain, so only the macroblocks it could not read are left to settle, before the last rows go.
	int16_t status = kKorvoOK;
	const bool predicted = vop->codingType == kCodingTypeP && vop->planeY;
	ForEachRowBehind(
	        workers, vop->mbHeight,
	        [&] {
		        status = StreamToVop(params);
		        if (vop->coded)
			        MarkUnread(vop, MacroBlocksReadOf(vop));
	        },
	        [&](uint32_t row) {
		        // A row made ready before the reader finished was read whole.
		        const bool readerDone = Workers_AwaitRow(workers, row);
		        if (readerDone && !vop->coded)
			        return;
		        DecompressRow(vop, row, readerDone ? MacroBlocksReadOf(vop) : (row + 1) * vop->mbWidth);
		        if (predicted)
			        Vop_ApplyMotionRow(vop, row);
	        });
	return status;
}

// Library forms of the per-macroblock step: they dequantise into a scratch block only, so that the
// filter flags are computed without touching the reconstruction.
void MacroBlock_DecompressIVOP(MacroBlock* mb)
{
	int16_t scratch[64];
	DequantizeMacroBlock(mb, true, true, scratch);
}

void MacroBlock_DecompressPVOP(MacroBlock* mb)
{
	if (!mb->codedMb)
		return;
	int16_t scratch[64];
	DequantizeMacroBlock(mb, false, true, scratch);
}

// Blocks are reconstructed a macroblock at a time; there is nothing to do per block.
void Block_Decompress(Block* block) { (void)block; }
