// The encoder's macroblock decisions: skip measure, motion and intra/inter choice, transform and
// quantisation, and the coded flags, DC/AC prediction and DQUANT of a compressed macroblock.
#include <stdlib.h>

#include "enc_internal.h"
#include "kernels_internal.h"
#include "frame_internal.h"
#include "korvo.h"
#include "prediction_internal.h"
#include "transform_internal.h"
namespace {

// Plane and top-left sample of block b (0..5) of a macroblock in one of the Vop's plane sets.
struct BlockPlace {
	const uint8_t* origin;
	uint32_t stride;
};

BlockPlace PlaceOf(const Plane* y, const Plane* u, const Plane* v, const MacroBlock* mb, int b)
{
	if (b < 4) {
		const uint32_t x = 16 + 16 * mb->mbX + (b & 1) * 8;
		const uint32_t row = 16 + 16 * mb->mbY + (b >> 1) * 8;
		return {y->data + size_t{row} * y->width + x, y->width};
	}
	const Plane* plane = b == 4 ? u : v;
	return {plane->data + size_t{8 + 8 * mb->mbY} * plane->width + 8 + 8 * mb->mbX, plane->width};
}

BlockPlace SourcePlace(const MacroBlock* mb, int b)
{
	const Vop* vop = mb->vop;
	return PlaceOf(vop->srcY, vop->srcU, vop->srcV, mb, b);
}

BlockPlace ReferencePlace(const MacroBlock* mb, int b)
{
	const Vop* vop = mb->vop;
	return PlaceOf(vop->planeY, vop->planeU, vop->planeV, mb, b);
}

// Forward transform and quantisation of the six blocks from their source samples in recon.
void TransformIntra(MacroBlock* mb)
{
	for (int b = 0; b < 4; ++b)
		gKernels.dctQuantizeIntraY(mb->blocks[b].recon, mb->mbQuant, mb->blocks[b].coef);
	for (int b = 4; b < 6; ++b)
		gKernels.dctQuantizeIntraUV(mb->blocks[b].recon, mb->mbQuant, mb->blocks[b].coef);
}

// The same for the residual of source minus prediction; recon keeps the source samples.
void TransformInter(MacroBlock* mb)
{
	alignas(16) int16_t residual[64];
	for (Block& block : mb->blocks) {
		gHooks.blockSub(block.recon, block.pred, residual);
		gKernels.dctQuantizeInter(residual, mb->mbQuant, block.coef);
	}
}

}  // namespace

// The prediction at the macroblock's vector: the decoder's fetch, or for a zero vector (which the
// fetch leaves alone) the co-located reference samples.
void MacroBlock_PredictInter(MacroBlock* mb)
{
	if (mb->mv.x != 0 || mb->mv.y != 0) {
		MacroBlock_ApplyMotion(mb);
		return;
	}
	for (int b = 0; b < 6; ++b) {
		const BlockPlace ref = ReferencePlace(mb, b);
		gKernels.fetchBlock(ref.origin, ref.stride, mb->blocks[b].pred);
	}
}

uint32_t MacroBlock_ZeroMotionSse(const MacroBlock* mb)
{
	uint32_t sse = 0;
	for (int b = 0; b < 6; ++b) {
		const BlockPlace src = SourcePlace(mb, b);
		const BlockPlace ref = ReferencePlace(mb, b);
		sse += gKernels.sse8x8(src.origin, src.stride, ref.origin, ref.stride);
	}
	return sse;
}

int32_t MacroBlock_LumaDeviation(const MacroBlock* mb)
{
	return gKernels.deviation16x16(mb->blocks[0].recon, mb->blocks[1].recon, mb->blocks[2].recon,
	                               mb->blocks[3].recon);
}

namespace {

// DQUANT as the change from `reference`; a macroblock not coded keeps the reference instead.
void SetDQuant(MacroBlock* mb, uint8_t reference)
{
	if (mb->codedMb) {
		mb->dquant = int8_t(uint8_t(mb->mbQuant - reference));
	} else {
		mb->mbQuant = reference;
		mb->dquant = 0;
	}
}

// The quantiser a trial coding measures DQUANT from. Rows are decided in parallel, so the
// macroblock before a row's first one in raster order may be undecided: trials take the left
// neighbour's quantiser, or the VOP's at a row's start. While every macroblock of a VOP has the
// VOP's quantiser this is the chain MacroBlock_CalculateDQuant settles afterwards.
uint8_t TrialReferenceQuant(const MacroBlock* mb) { return mb->left ? mb->left->mbQuant : mb->vop->quant; }

bool AnyNonZero(const int16_t* values, int first, int last, int step)
{
	for (int i = first; i <= last; i += step)
		if (values[i] != 0)
			return true;
	return false;
}

}  // namespace

uint32_t SadIncrease8x8_C(const uint8_t* source, uint32_t sourceStride, const uint8_t* reference,
                          uint32_t referenceStride, int32_t* largestIncrease)
{
	uint32_t sad = 0;
	int32_t increase = *largestIncrease;
	for (int j = 0; j < 8; ++j, source += sourceStride, reference += referenceStride)
		for (int i = 0; i < 8; ++i) {
			const int32_t d = source[i] - reference[i];
			sad += uint32_t(abs(d));
			if (d > increase)
				increase = d;
		}
	*largestIncrease = increase;
	return sad;
}

uint32_t Sse8x8_C(const uint8_t* source, uint32_t sourceStride, const uint8_t* reference,
                  uint32_t referenceStride)
{
	uint32_t sse = 0;
	for (int j = 0; j < 8; ++j, source += sourceStride, reference += referenceStride)
		for (int i = 0; i < 8; ++i) {
			const int32_t d = source[i] - reference[i];
			sse += uint32_t(d * d);
		}
	return sse;
}

uint32_t SadAverage4_8x8_C(const uint8_t* source, const uint8_t* p, uint32_t stride, int32_t bias)
{
	uint32_t sad = 0;
	for (int j = 0; j < 8; ++j, source += stride, p += stride)
		for (int i = 0; i < 8; ++i)
			sad += uint32_t(
			        abs(source[i] - ((p[i] + p[i + 1] + p[i + stride] + p[i + stride + 1] + bias) >> 2)));
	return sad;
}

int32_t SadMacroBlock(MacroBlock* mb)
{
	// Only brighter source samples count in the increase: darkening shows in the block SADs alone.
	int32_t largestIncrease = 0;
	for (int b = 0; b < 6; ++b) {
		const BlockPlace src = SourcePlace(mb, b);
		const BlockPlace ref = ReferencePlace(mb, b);
		mb->blocks[b].sad =
		        gKernels.sadIncrease8x8(src.origin, src.stride, ref.origin, ref.stride, &largestIncrease);
	}
	return largestIncrease;
}

void MacroBlock_Compress(MacroBlock* mb, uint8_t optimalMb)
{
	if (mb->vop->codingType != kCodingTypeP) {
		mb->mv = Motion{0, 0};
		mb->mbType = kMbTypeIntra;
	} else {
		MacroBlock_FindMotion(mb, optimalMb);
	}
	mb->mbQuant = mb->vop->quant;
	if (mb->mbType != kMbTypeInter)
		TransformIntra(mb);
	else
		TransformInter(mb);
}

void MacroBlock_FindMotion(MacroBlock* mb, uint8_t optimalMb)
{
	const int32_t sad = FindBlockMotion_R37(mb);
	if (optimalMb == 1)
		MacroBlock_DecideIntraOptimal(mb, sad);
	else
		MacroBlock_DecideIntra(mb, sad);
	if (mb->mbType == kMbTypeIntra) {
		mb->mv = Motion{0, 0};
		return;
	}
	FindBlockMotion1616Half(mb, sad);
	MacroBlock_PredictInter(mb);
}

int32_t Deviation16x16_C(const int16_t* y0, const int16_t* y1, const int16_t* y2, const int16_t* y3)
{
	const int16_t* const blocks[4] = {y0, y1, y2, y3};
	int32_t sum = 0;
	for (const int16_t* block : blocks)
		for (int i = 0; i < 64; ++i)
			sum += block[i];
	const int32_t mean = sum / 256;
	int32_t deviation = 0;
	for (const int16_t* block : blocks)
		for (int i = 0; i < 64; ++i)
			deviation += abs(block[i] - mean);
	return deviation;
}

void MacroBlock_DecideIntra(MacroBlock* mb, int32_t sad)
{
	const int32_t deviation = MacroBlock_LumaDeviation(mb);
	// A flat macroblock that the best match still predicts badly is cheaper coded intra.
	mb->mbType = deviation < sad - 512 ? kMbTypeIntra : kMbTypeInter;
}

void MacroBlock_DecideIntraOptimal(MacroBlock* mb, int32_t sad)
{
	const Motion fullSample = mb->mv;
	const uint8_t quant = mb->vop->quant;

	mb->mbType = kMbTypeIntra;
	mb->mv = Motion{0, 0};
	mb->mbQuant = quant;
	TransformIntra(mb);
	MacroBlock_FinishDecisions(mb);
	SetDQuant(mb, TrialReferenceQuant(mb));
	const uint32_t intraBits = MacroBlock_TrialBits(mb);

	MacroBlock_Reset(mb);
	mb->mv = fullSample;
	mb->mbType = kMbTypeInter;
	FindBlockMotion1616Half(mb, sad);
	MacroBlock_PredictInter(mb);
	mb->mbQuant = quant;
	TransformInter(mb);
	MacroBlock_FinishDecisions(mb);
	SetDQuant(mb, TrialReferenceQuant(mb));
	const uint32_t interBits = MacroBlock_TrialBits(mb);

	// A tie goes to intra.
	mb->mbType = interBits >= intraBits ? kMbTypeIntra : kMbTypeInter;
	MacroBlock_Reset(mb);
	mb->mv = fullSample;
}

void MacroBlock_PostCompress(MacroBlock* mb)
{
	MacroBlock_FinishDecisions(mb);
	MacroBlock_CalculateDQuant(mb);
}

void MacroBlock_FinishDecisions(MacroBlock* mb)
{
	if (mb->mbType == kMbTypeIntra)
		MacroBlock_DCACPredict(mb);
	for (Block* block : mb->block)
		Block_DecideCoded(block);
	if (mb->vop->codingType == kCodingTypeP) {
		// An inter macroblock with a zero vector and nothing to send is skipped; with a vector it
		// is sent even when every block quantised to zero.
		if (mb->mbType == kMbTypeInter && mb->mv.x == 0 && mb->mv.y == 0) {
			mb->codedMb = 0;
			for (const Block* block : mb->block)
				mb->codedMb |= block->codedBlock;
		} else {
			mb->codedMb = 1;
		}
	}
}

void Block_DecideCoded(Block* block)
{
	const MacroBlock* mb = block->mb;
	if (mb->mbType == kMbTypeInter) {
		block->codedBlock = !BlockAll0(block->coef);
		return;
	}
	// The DC level travels as the DC differential, outside the coefficient data.
	block->dcLevel = block->coef[0];
	block->coef[0] = 0;
	if (!mb->acPred) {
		block->codedBlock = !BlockAll0(block->coef);
		return;
	}
	if (AnyNonZero(block->acPredResidual, 1, 7, 1)) {
		block->codedBlock = 1;
		return;
	}
	// The predicted line (column 0 from the left, else row 0) is rebuilt by the decoder.
	if (block->predDir != kPredFromLeft) {
		block->codedBlock = AnyNonZero(block->coef, 8, 63, 1);
		return;
	}
	bool rest = false;
	for (int row = 0; row < 64 && !rest; row += 8)
		rest = AnyNonZero(block->coef, row + 1, row + 7, 1);
	block->codedBlock = rest;
}

void MacroBlock_CalculateDQuant(MacroBlock* mb)
{
	const Vop* vop = mb->vop;
	const uint32_t index = mb->mbY * vop->mbWidth + mb->mbX;
	SetDQuant(mb, index == 0 ? vop->quant : vop->mbs[index - 1]->mbQuant);
}

void MacroBlock_CalculateDQuantFrom(MacroBlock* mb, uint8_t reference) { SetDQuant(mb, reference); }

uint8_t Vop_ChainQuant(const Vop* vop, uint32_t index)
{
	// A coded macroblock keeps its quantiser and an uncoded one takes the one before.
	while (index > 0 && index <= vop->mbCount) {
		const MacroBlock* before = vop->mbs[--index];
		if (before->codedMb)
			return before->mbQuant;
	}
	return vop->quant;
}
