// Private tables and frame-level loops of the macroblock layer, shared with the VOP reader and writer
// and the tests. Not part of the public interface in korvo.h.
#ifndef KORVO_ENTROPY_INTERNAL_H
#define KORVO_ENTROPY_INTERNAL_H

#include <array>
#include <stdint.h>

#include "korvo.h"

using CodeEntry = std::array<uint32_t, 2>;  // {code word right-aligned, length}
using ValueEntry = std::array<int32_t, 2>;  // {value, bits to consume}

extern const std::array<CodeEntry, 16> vlcCBPY;  // by intra-form pattern Y0*8 + Y1*4 + Y2*2 + Y3
extern const std::array<CodeEntry, 13> vlcIntraDC_Y;  // by DC size 0..12
extern const std::array<CodeEntry, 13> vlcIntraDC_UV;
extern const std::array<CodeEntry, 33> vlcMV;  // by |difference| 0..32, sign bit not included

extern const std::array<ValueEntry, 64> ivlcCBPY;  // by the next 6 bits; {0xDEAD, 0} for 000000, 000001
// A vector difference after its leading 0 bit, by ranges p of the next 12 bits: p >= 512 at
// (p >> 8) - 2, 128 <= p < 512 at (p >> 2) - 32, 4 <= p < 128 at p - 4; lengths include the sign.
extern const std::array<ValueEntry, 14> ivlcMV0;
extern const std::array<ValueEntry, 96> ivlcMV1;
extern const std::array<ValueEntry, 124> ivlcMV2;

// Every macroblock of a coded VOP in raster order.
void Vop_WriteMacroBlocks(Vop* vop, BitStream* stream);
// Reads every macroblock in raster order and sets mbsRead: mbCount, or the index of the first
// macroblock that cannot be decoded (that one and the rest count as not coded).
void Vop_ReadMacroBlocks(Vop* vop, BitStream* stream);

#endif
