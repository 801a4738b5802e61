// The two entry points and the order of the frame pipeline they run, for decoder and encoder alike.
//
// Decoding one frame (DecompressPixMap):
//   1. header: the user-data block and the VOP header (vop_header.cpp);
//   2. macroblocks: the macroblock layer, read into each block's levels (macroblock_syntax.cpp,
//      coefficients.cpp, intra_prediction.cpp);
//   3. reconstruction: dequantisation and inverse transform of every block read (decode.cpp);
//   4. motion compensation: inter predictions fetched from the previous picture (motion_comp.cpp);
//   5. planes: predictions and residuals written into the planes (blit.cpp);
//   6. filters: border padding, deblocking and deringing (post_filter.cpp);
//   7. output: the planes converted into the caller's picture (pixel_output.cpp).
// The new picture is written over the previous one in the same planes, so motion compensation
// must have fetched every prediction (into each block's pred array) before step 5 writes the
// first pixel: nothing may write to the planes between the header and the end of step 4. With
// workers, steps 3 and 4 of a row run while step 2 reads the rows after it.
//
// Encoding one frame (CompressPixMap):
//   1. input: the caller's picture into the source planes, with their borders (enc_pixel_input.cpp);
//   2. decisions: frame type, motion and macroblock choices, quantisation (enc_frame.cpp,
//      enc_macroblock.cpp, enc_motion_search.cpp);
//   3. writing: the VOP header and macroblock layer into the stream (vop_header.cpp); with workers,
//      the classic coder writes each row of macroblocks on a worker while the decisions of the
//      rows below go on, and joins the rows' bits at the end;
//   4. reference: the picture the decoder will see, rebuilt with its own steps 3, 5 and 6 (motion
//      search already left the predictions in place), before a P-VOP that predicts from it.
#include <stdint.h>

#include "bitstream_internal.h"
#include "enc_internal.h"
#include "filters_internal.h"
#include "korvo.h"
#include "pixel_internal.h"
#include "prediction_internal.h"
#include "reconstruct_internal.h"
#include "syntax_internal.h"
#include "workers_internal.h"
namespace {

// With no earlier switch to intra, every 152nd frame is a key frame unless the caller asks for
// them closer together.
constexpr uint32_t kKeyFrameInterval = 152;

// Whether the frame after one coded framesSinceKey frames after the last I-VOP must be an I-VOP.
bool NextIsKeyFrame(const KorvParams* params, uint32_t framesSinceKey)
{
	const uint32_t interval = params->keyInterval && params->keyInterval < kKeyFrameInterval
	                                  ? params->keyInterval
	                                  : kKeyFrameInterval;
	return uint64_t{framesSinceKey} + 2 > interval;
}

// The reference for the next P-VOP, rebuilt exactly as the decoder builds its picture (the
// predictions are already in place from motion search).
int16_t RebuildReference(KorvParams* params)
{
	Vop_Decompress(params->vop);
	if (VopToPlanes(params) != kKorvoOK || PostFilter(params) != kKorvoOK)
		return kKorvoEntryFailed;
	return kKorvoOK;
}

// The longest code of the macroblock layer (a fixed-length coefficient escape, 30 bits) fits in a word:
// a frame that stops at a code starting closer than that to its end ran out of data.
constexpr uint64_t kLongestCode = 32;

// What the frame's data lacked, from the reader's sticky flag, how far it read, and how many
// macroblocks it could read.
uint8_t FrameDamage(const KorvParams* params)
{
	const BitStream& reader = params->reader;
	const Vop* vop = params->vop;
	const uint64_t end = BitStream_EndBits(&reader);
	uint8_t damage = reader.invalid ? kKorvoDamageInvalidCode : 0;
	if (reader.bitPos > end)
		damage |= kKorvoDamageOverread;
	if (vop->coded && (vop->mbsRead < 0 || uint32_t(vop->mbsRead) < vop->mbCount))
		damage |= reader.bitPos + kLongestCode > end ? kKorvoDamageTruncated : kKorvoDamageInvalidCode;
	return uint8_t(damage);
}

}  // namespace

int16_t DecompressPixMap(KorvParams* params)
{
	const FrameKernels kernels;
	params->streamBytes = 0;
	Params_PrepareWorkers(params);
	params->damage = 0;
	// Without a VOP start code nothing is decoded and the caller's picture stays as it was.
	if (ReadVopHeader(params) != kKorvoOK) {
		params->damage = kKorvoDamageInvalidCode;
		return kKorvoOK;
	}
	if (Vop_ReadAndReconstruct(params) != kKorvoOK)
		return kKorvoEntryFailed;
	params->damage = FrameDamage(params);
	if (VopToPlanes(params) != kKorvoOK || PostFilter(params) != kKorvoOK ||
	    PlanesToPixMap(params) != kKorvoOK)
		return kKorvoEntryFailed;
	return kKorvoOK;
}

int16_t CompressPixMap(KorvParams* params)
{
	const FrameKernels kernels;
	params->streamBytes = 0;
	Vop* vop = params->vop;
	// Only a context made with source planes can encode.
	if (!vop || !vop->srcY || !vop->planeY)
		return kKorvoEntryFailed;
	Params_PrepareWorkers(params);

	// A frame that fails leaves the sequence where it was: the next call codes the same type.
	const uint8_t codingType = vop->codingType;
	if (params->frameCount == 0)
		params->rate = KorvRateControl{};
	vop->quant = params->dataRate ? RateControl_FrameQuant(params) : Params_VopQuant(params->spatialQuality);
	const uint8_t quant = vop->quant;
	if (PixMapToPlanes(params) != kKorvoOK || PreFilter(params) != kKorvoOK ||
	    PlanesToStream(params) != kKorvoOK) {
		vop->codingType = codingType;
		vop->quant = quant;
		return kKorvoEntryFailed;
	}

	const bool intra = vop->codingType == kCodingTypeI;
	const uint32_t framesSinceKey = intra ? 0 : params->framesSinceKey + 1;
	const uint8_t next = NextIsKeyFrame(params, framesSinceKey) ? kCodingTypeI : kCodingTypeP;
	// Nothing predicts from the picture before an I-VOP, so it is rebuilt only before a P-VOP.
	if (next == kCodingTypeP && RebuildReference(params) != kKorvoOK)
		return kKorvoEntryFailed;

	params->framesSinceKey = framesSinceKey;
	params->prevCodingType = vop->codingType;
	params->prevRounding = vop->rounding;
	// After a key frame the P-VOPs alternate rounding 0, 1, 0, ...
	if (next == kCodingTypeI)
		vop->rounding = 1;
	else
		vop->rounding = intra ? 0 : uint8_t(1 - params->prevRounding);
	vop->codingType = next;
	if (params->dataRate)
		RateControl_Update(params, codingType, intra ? kCodingTypeI : kCodingTypeP, vop->quant,
		                   uint32_t(params->streamBytes));
	params->frameCount += 1;
	params->totalBytes += uint32_t(params->streamBytes);
	return kKorvoOK;
}
