// The table of replaceable kernels: the plain versions first, then, where the build offers them,
// processor-specific replacements.
#include "filters_internal.h"
#include "frame_internal.h"
#include "korvo.h"
#include "reconstruct_internal.h"
#include "transform_internal.h"
KorvHooks gHooks;
uint8_t gUseSpecificHooks = 1;

void InitHooks(KorvHooks* table)
{
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
	if (gUseSpecificHooks)
		InitSpecificHooks(table);
	// The deblocking edge filter lies below the hook of slot 8 and is shared by the I-VOP deblocking.
	Deblock_SelectEdgeFilters(gUseSpecificHooks != 0);
}

// Processor-specific kernels, each bit-exact with the plain one it replaces.
void InitSpecificHooks(KorvHooks* table)
{
#if KORVO_DSP_X86
	if (__builtin_cpu_supports("sse4.1"))
		table->inverseDCT = IDCT_FastSSE41;
#else
	(void)table;
#endif
}
