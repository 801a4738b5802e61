// The tables of replaceable kernels: gHooks' named slots and the internal table of every other
// kernel, filled with the plain versions first and then, by what the processor has, with
// processor-specific ones (each a rung of a ladder that stops at the first missing feature).
#include <condition_variable>
#include <mutex>

#include "filters_internal.h"
#include "frame_internal.h"
#include "kernels_internal.h"
#include "korvo.h"
#include "reconstruct_internal.h"
#include "transform_internal.h"
KorvHooks gHooks;
uint8_t gUseSpecificHooks = 1;
// Plain from the start of the process, so the kernels work before the first context is made.
KorvKernels gKernels = [] {
	KorvKernels table{};
	Kernels_Init(&table, false);
	return table;
}();

namespace {

// Frames in flight, and a refill of the kernels waiting for them to end. New frames wait while a
// refill is pending, so that it cannot starve behind the frames of other contexts.
struct FrameGate {
	std::mutex mutex;
	std::condition_variable changed;
	uint32_t frames = 0;
	bool refilling = false;
};

FrameGate gGate;
std::mutex gInstallMutex;
bool gInstalled = false;
bool gInstalledSpecific = false;  // the switch the kernels were installed for

}  // namespace

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
}

void Hooks_Install()
{
	std::lock_guard<std::mutex> install(gInstallMutex);
	const bool specific = gUseSpecificHooks != 0;
	if (gInstalled && gInstalledSpecific == specific)
		return;
	std::unique_lock<std::mutex> lock(gGate.mutex);
	gGate.refilling = true;
	gGate.changed.wait(lock, [] { return gGate.frames == 0; });
	InitHooks(&gHooks);
	Kernels_Init(&gKernels, specific);
	gInstalled = true;
	gInstalledSpecific = specific;
	gGate.refilling = false;
	gGate.changed.notify_all();
}

FrameKernels::FrameKernels()
{
	std::unique_lock<std::mutex> lock(gGate.mutex);
	gGate.changed.wait(lock, [] { return !gGate.refilling; });
	gGate.frames += 1;
}

FrameKernels::~FrameKernels()
{
	std::lock_guard<std::mutex> lock(gGate.mutex);
	if (--gGate.frames == 0)
		gGate.changed.notify_all();
}

// Processor-specific kernels, each bit-exact with the plain one it replaces.
void InitSpecificHooks(KorvHooks* table)
{
#if KORVO_DSP_X86
	if (!__builtin_cpu_supports("sse2"))
		return;
	table->blockSub = BlockSub_SSE2;
	if (__builtin_cpu_supports("sse4.1"))
		table->inverseDCT = IDCT_FastSSE41;
#else
	(void)table;
#endif
}

void Kernels_Init(KorvKernels* table, bool specific)
{
	table->blitSet = BlitSetBlock3;
	table->blitSetAdd = BlitSetBlockAdd2;
	table->fetchBlock = FetchBlock_C;
	table->fetchBlockAverage4 = FetchBlockAverage4_C;
	table->blockSadRow8 = BlockSadRow8_C;
	table->blockSadRow16 = BlockSadRow16_C;
	table->blockSad16 = BlockSad16_C;
	table->halfSampleSadDiagonal = kHalfSampleSad_C[kHalfSampleCandidates - 1];
	table->halfSampleSads = HalfSampleSads_C;
	table->sadIncrease8x8 = SadIncrease8x8_C;
	table->sse8x8 = Sse8x8_C;
	table->sadAverage4_8x8 = SadAverage4_8x8_C;
	table->blitAdd = BlitAddBlock3;
	table->deviation16x16 = Deviation16x16_C;
	table->subsample = Subsample_C;
	table->dctQuantizeInter = GapsDCTQuantize_Inter;
	table->dctQuantizeIntraY = GapsDCTQuantize_IntraY;
	table->dctQuantizeIntraUV = GapsDCTQuantize_IntraUV;
	table->dctWeightedInter = DCTWeighted_Inter;
	table->dctQuantizeWeightedIntra = DCTQuantizeWeighted_Intra;
	table->screenLevels = ScreenLevels_C;
	table->dequantizeIntra = DequantizeIntra;
	table->dequantizeInter = DequantizeInter;
	table->rowToBGRA = RowToBGRA_C;
	table->rowToYUVS = RowToYUVS_C;
	table->rowTo2VUY = RowTo2VUY_C;
	table->lumaFromBGRA = LumaFromBGRA_C;
	table->chromaFromBGRA = ChromaFromBGRA_C;
	table->lumaFromYUVS = LumaFromYUVS_C;
	table->chromaFromYUVS = ChromaFromYUVS_C;
	table->deblockLowerEdge = DeblockLowerEdge;
	table->deblockRightEdge = DeblockRightEdge;
	table->deringBlock = DeringBlock_C;
	if (!specific)
		return;
#if KORVO_DSP_X86
	if (!__builtin_cpu_supports("sse2"))
		return;
	Kernels_InitBlitSSE2(table);
	Kernels_InitSadSSE2(table);
	Kernels_InitPlaneSSE2(table);
	Kernels_InitPixelSSE2(table);
	Kernels_InitFilterSSE2(table);
	Kernels_InitDequantizeSSE2(table);
	if (!__builtin_cpu_supports("sse4.1"))
		return;
	Kernels_InitQuantizeSSE41(table);
	Kernels_InitLevelsSSE41(table);
	Kernels_InitSadSSE41(table);
	if (!__builtin_cpu_supports("avx2"))
		return;
	Kernels_InitSadAVX2(table);
	Kernels_InitLevelsAVX2(table);
	Kernels_InitQuantizeAVX2(table);
#endif
}
