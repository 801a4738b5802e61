// The encoder's private interface: frame coding and its frame-type decision, macroblock decisions,
// motion search, the frame's starting quantiser and trial coding. Private to the codec and its tests.
#ifndef KORVO_ENC_INTERNAL_H
#define KORVO_ENC_INTERNAL_H

#include <stdint.h>

#include "frame_internal.h"

extern "C" {

// Frame coding and macroblock decisions.
int16_t PreFilter(KorvParams* params);
int16_t PlanesToVop(KorvParams* params);
// PlanesToVop and VopToStream; with workers, the classic decisions write each row of macroblocks as
// soon as it is final while the others are decided.
int16_t PlanesToStream(KorvParams* params);
int16_t Vop_Compress(KorvParams* params);
int16_t Vop_CompressOptimal(KorvParams* params);
int32_t SadMacroBlock(MacroBlock* mb);
void MacroBlock_Compress(MacroBlock* mb, uint8_t optimalMb);
void MacroBlock_FindMotion(MacroBlock* mb, uint8_t optimalMb);
void MacroBlock_DecideIntra(MacroBlock* mb, int32_t sad);
void MacroBlock_DecideIntraOptimal(MacroBlock* mb, int32_t sad);
// PostCompress is FinishDecisions, which needs only the macroblock and its decided left, above-left,
// above and above-right neighbours (DC/AC prediction, coded flags, skip), then CalculateDQuant, the
// quantiser chain that runs through the whole picture in raster order. The frame coder decides
// the macroblocks as a wavefront over the rows and settles the chain after the last one.
void MacroBlock_PostCompress(MacroBlock* mb);
void MacroBlock_FinishDecisions(MacroBlock* mb);
void Block_DecideCoded(Block* block);
void MacroBlock_CalculateDQuant(MacroBlock* mb);
// The chain in parts: the quantiser it carries into macroblock `index` (what CalculateDQuant finds
// once every macroblock before has been through it, read from decided fields alone, so that rows of
// the chain settle side by side), and CalculateDQuant from that quantiser.
uint8_t Vop_ChainQuant(const Vop* vop, uint32_t index);
void MacroBlock_CalculateDQuantFrom(MacroBlock* mb, uint8_t reference);

// Motion search. The plane searches try offsets up to range - 1 (range at most kMaxSearchRange) around
// the start in square rings.
enum { kMaxSearchRange = 16 };
int32_t FindBlockMotion_R37(MacroBlock* mb);
int32_t PlaneMotionSearch_8x8(Motion* out, const Plane* reference, const Plane* current, int32_t x, int32_t y,
                              int32_t startX, int32_t startY, int32_t range, bool measureStart,
                              int32_t initialBest);
int32_t PlaneMotionSearch_16x16(Motion* out, const Plane* reference, const Plane* current, int32_t x,
                                int32_t y, int32_t startX, int32_t startY, int32_t range, bool measureStart,
                                int32_t initialBest);
int32_t FindBlockMotion1616Half(MacroBlock* mb, int32_t sad);

/* The VOP quantiser of a frame's start: 32 - QTToKorveXSpatialQuality(spatialQuality), with
 * spatialQuality first clamped into 0..1024 (4..26). CompressPixMap sets vop.quant from this. */
uint8_t Params_VopQuant(uint32_t spatialQuality);

}  // extern "C"

// Rate control, when params->dataRate is set: the quantiser of the frame about to be coded (an I-VOP
// codes one more), and the model's update from the bytes a coded frame took at its quantiser (the
// type planned before coding, and the one coded).
uint8_t RateControl_FrameQuant(KorvParams* params);
void RateControl_Update(KorvParams* params, uint8_t plannedType, uint8_t codingType, uint8_t quant,
                        uint32_t bytes);
// The target bits of one frame, and the coarsest quantiser the quality allows.
double RateControl_FrameBits(const KorvParams* params);
uint8_t RateControl_MaxQuant(const KorvParams* params);

// Trial coding: the bits the writer produces for one macroblock, or for the whole VOP without the
// user-data block. The writer only counts; it stores no byte anywhere.
uint32_t MacroBlock_TrialBits(MacroBlock* mb);
// The bits of the macroblock's header alone (MacroBlock_WriteHeader).
uint32_t MacroBlock_HeaderBits(MacroBlock* mb);
uint32_t Vop_TrialBits(Vop* vop);

// The quantiser of an I-VOP made by the encoder: one above the frame's, limited to 1..31.
uint8_t Vop_IntraQuant(const Vop* vop);

// Shared by both tunings' macroblock decisions: the prediction at the macroblock's vector into its
// blocks' pred, the sum of squared differences of the source against the reference at zero motion
// (all six blocks), and the sum of absolute deviations of the source luminance from its mean.
void MacroBlock_PredictInter(MacroBlock* mb);
uint32_t MacroBlock_ZeroMotionSse(const MacroBlock* mb);
int32_t MacroBlock_LumaDeviation(const MacroBlock* mb);

// The better tuning. Lambdas weigh bits against distortion: `mode` against squared errors (the
// macroblock and coefficient decisions), `motion` against absolute differences (motion search).
struct RdLambda {
	double mode;
	double motion;
};
RdLambda RdLambda_ForQuant(uint8_t quant, uint8_t codingType);
// The frame coder, in place of Vop_Compress.
int16_t Vop_CompressBetter(KorvParams* params);
// An I-VOP's macroblock: levels chosen by cost, DC/AC prediction and coded flags.
void MacroBlock_CodeIntraBetter(MacroBlock* mb, const RdLambda& lambda);
// A P-VOP's macroblock: motion search with vector costs, then skipped, inter or intra by cost.
void MacroBlock_DecideBetter(MacroBlock* mb, const RdLambda& lambda);
// Motion search from the neighbours' vectors, costing SAD plus the vector's bits; sets mb->mv and
// returns the SAD of the luminance prediction there.
int32_t MacroBlock_SearchMotionBetter(MacroBlock* mb, const RdLambda& lambda);

// Bits of one coefficient event (sign and escapes included) in the intra-luminance or the other
// table, for magnitudes 1..2047; EventBits_Init builds its table ahead of the first frame.
uint32_t EventBits(bool intraTable, bool last, uint32_t run, int32_t magnitude);
void EventBits_Init();
// Bits of a motion vector difference (both components) as the writer sends it.
uint32_t MotionBits(int32_t dx, int32_t dy);
// The levels of one block from its weighted transform values (DCTWeighted_Inter, or the intra form
// whose DC level is kept), chosen for the least distortion plus lambda x bits over the scan; writes
// coef (raster order; the intra DC is left alone) and returns the distortion. `bits`, when given,
// receives the bits of the chosen events in the zigzag scan (what the writer sends for an inter
// block).
double Block_DecideLevels(const int32_t* weighted, int16_t* coef, uint8_t quant, bool intra, bool luma,
                          double lambda, uint32_t* bits = nullptr);

// Worst case of the writer, in bits: one macroblock of any 8-bit picture at any quantiser (six
// blocks of 64 fixed-length escapes of 28 bits, and the largest macroblock header), and the
// user-data block with the longest VOP header.
enum { kMaxMacroBlockBits = 6 * 64 * 28 + 44, kMaxFrameHeaderBits = 40 + 51 };

#endif  // KORVO_ENC_INTERNAL_H
