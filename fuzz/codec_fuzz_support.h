// What the codec's fuzz targets share: the alternation of plain and processor-specific kernels from
// one input to the next, and a decoder context put back to the state of a fresh one.
#pragma once

#include <cstring>

#include "frame_internal.h"
#include "korvo.h"

namespace fuzz {

// Odd inputs run the plain kernels, even ones the processor's (where the build has any), so both
// forms meet every kind of input.
inline void AlternateKernels()
{
	static unsigned count;
	gUseSpecificHooks = ++count & 1 ? 0 : 1;
	Hooks_Install();
}

// What NewKorvParamsPtr(2, ...) gives, without allocating: zero planes and blocks, the header values
// and filter switches of a new context, every macroblock intra at quantiser 1. An input then decodes
// the same whatever the inputs before it were.
inline void ResetDecoder(KorvParams* params)
{
	Vop* vop = params->vop;
	for (Plane* plane : {vop->planeY, vop->planeU, vop->planeV})
		std::memset(plane->data, 0, size_t{plane->width} * plane->height);
	params->deblock = params->dering = 0;
	vop->quant = 1;
	vop->rounding = 1;
	vop->coded = 1;
	vop->codingType = kCodingTypeI;
	for (uint32_t i = 0; i < vop->mbCount; i++) {
		vop->mbs[i]->mbQuant = 1;
		vop->mbs[i]->mbType = kMbTypeIntra;
		for (Block& block : vop->mbs[i]->blocks) {
			std::memset(block.coef, 0, sizeof block.coef);
			std::memset(block.recon, 0, sizeof block.recon);
			std::memset(block.pred, 0, sizeof block.pred);
		}
	}
	Vop_Reset(vop);
}

}  // namespace fuzz
