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

// Motion search.
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
uint32_t Vop_TrialBits(Vop* vop);

// The quantiser of an I-VOP made by the encoder: one above the frame's, limited to 1..31.
uint8_t Vop_IntraQuant(const Vop* vop);

// Worst case of the writer, in bits: one macroblock of any 8-bit picture at any quantiser (six
// blocks of 64 fixed-length escapes of 28 bits, and the largest macroblock header), and the
// user-data block with the longest VOP header.
enum { kMaxMacroBlockBits = 6 * 64 * 28 + 44, kMaxFrameHeaderBits = 40 + 51 };

#endif  // KORVO_ENC_INTERNAL_H
