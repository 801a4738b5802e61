// Private helpers of the encoder's frame and macroblock coders.
// Not part of the public interface in korvo.h.
#ifndef KORVO_ENC_INTERNAL_H
#define KORVO_ENC_INTERNAL_H

#include <stdint.h>

#include "korvo.h"

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

#endif
