// The table of replaceable kernels: the plain versions first, then, where the build offers them,
// processor-specific replacements.
#include "korvo.h"

KorvHooks gHooks;
uint8_t gUseSpecificHooks = 1;

void InitHooks(KorvHooks* table) {
    *table = KorvHooks{};
    // One line per slot, in slot order, installing the plain kernel.
    table->forwardDCT = FloatDCT;
    table->inverseDCT = IDCT_Fast;
    table->dctQuantize = GapsDCTQuantizerDispatch;
    table->quantize = Quantizer;
    table->dequantize = DeQuantizer;
    table->blockClamp = BlockClamp;
    table->blockAdd = BlockAdd;
    table->blockSub = BlockSub;
    table->deblock = Deblock_Vop;
    table->dering = Vop_Dering;
    table->intraBlit = IntraBlit;
    if (gUseSpecificHooks) InitSpecificHooks(table);
}

// The place for processor-specific kernels; this build has none.
void InitSpecificHooks(KorvHooks*) {}
