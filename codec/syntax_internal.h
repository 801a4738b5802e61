// The frame syntax written and read: the VOP header, the KRV1 user-data block and the macroblock
// layer down to each block's coefficient data. Private to the codec and its tests.
#ifndef KORVO_SYNTAX_INTERNAL_H
#define KORVO_SYNTAX_INTERNAL_H

#include <stdint.h>

#include "bitstream_internal.h"
#include "frame_internal.h"

extern "C" {

#define kVopStartCode 0x000001B6u
#define kUserDataStartCode 0x000001B2u

// The VOP header and the KRV1 user-data block.
void Vop_WriteSTARTCODE(Vop* vop, BitStream* stream);
void Vop_WriteCODINGTYPE(Vop* vop, BitStream* stream);
void Vop_WriteTIMEBASE(Vop* vop, BitStream* stream);
void Vop_WriteTIMEINCREMENT(Vop* vop, BitStream* stream);
void Vop_WriteCODED(Vop* vop, BitStream* stream);
void Vop_WriteROUNDING(Vop* vop, BitStream* stream);
void Vop_WriteDCVLCTHR(Vop* vop, BitStream* stream);
void Vop_WriteQP(Vop* vop, BitStream* stream);
void Vop_WriteFCODE(Vop* vop, BitStream* stream);
void UserData_WriteSTARTCODE(BitStream* stream);
void UserData_WriteKRV1(BitStream* stream, uint8_t deblock, uint8_t dering);

void Vop_ReadCODINGTYPE(Vop* vop, BitStream* stream);
void Vop_ReadTIMEBASE(Vop* vop, BitStream* stream);
void Vop_ReadTIMEINCREMENT(Vop* vop, BitStream* stream);
void Vop_ReadCODED(Vop* vop, BitStream* stream);
void Vop_ReadROUNDING(Vop* vop, BitStream* stream);
void Vop_ReadDCVLCTHR(Vop* vop, BitStream* stream);
void Vop_ReadQP(Vop* vop, BitStream* stream);
uint8_t Vop_ReadFCODE(Vop* vop, BitStream* stream);
void UserData_ReadKRV1(BitStream* stream, KorvParams* params);

int16_t VopToStream(KorvParams* params);
void Vop_WriteVOP(Vop* vop, BitStream* stream);
// Vop_WriteVOP up to the macroblock layer.
void Vop_WriteHeader(Vop* vop, BitStream* stream);
// VopToStream in parts, for a writer that sends the macroblocks itself in between: the writer on the
// context's stream with the user data and the VOP header; then the last word, and the frame's size
// or a failure when it did not fit.
void Params_BeginFrameStream(KorvParams* params, BitStream* cursor);
int16_t Params_EndFrameStream(KorvParams* params, BitStream* cursor);
int16_t ReadVopHeader(KorvParams* params);
int16_t Vop_ReadSTARTCODE(Vop* vop, BitStream* stream);
int16_t StreamToVop(KorvParams* params);
int16_t Vop_ReadVOP(Vop* vop, BitStream* stream);

// The macroblock layer.
void MacroBlock_WriteMB(MacroBlock* mb, BitStream* bs);
// Everything of a macroblock before its blocks; false when no blocks follow (not coded).
bool MacroBlock_WriteHeader(MacroBlock* mb, BitStream* bs);
void MacroBlock_WriteCOD(MacroBlock* mb, BitStream* bs);
void MacroBlock_WriteMCBPC(MacroBlock* mb, BitStream* bs);
void MacroBlock_WriteACPRED(MacroBlock* mb, BitStream* bs);
void MacroBlock_WriteCBPY(MacroBlock* mb, BitStream* bs);
void MacroBlock_WriteDQUANT(MacroBlock* mb, BitStream* bs);
void MacroBlock_WriteMVD(MacroBlock* mb, BitStream* bs);

void MacroBlock_ReadCOD(MacroBlock* mb, BitStream* bs);
/* Returns 0, or 3 for a type this decoder does not reconstruct (four vectors, stuffing). */
int16_t MacroBlock_ReadMCBPC(MacroBlock* mb, BitStream* bs);
void MacroBlock_ReadACPRED(MacroBlock* mb, BitStream* bs);
void MacroBlock_ReadCBPY(MacroBlock* mb, BitStream* bs);
void MacroBlock_ReadCBPY2(MacroBlock* mb, BitStream* bs);
void MacroBlock_ReadDQUANT(MacroBlock* mb, BitStream* bs);
/* Returns 0, or 3 for an invalid motion code. */
int16_t MacroBlock_ReadMVD(MacroBlock* mb, BitStream* bs);
/* Returns 0, or 3 when the macroblock cannot be decoded. */
int16_t MacroBlock_ReadMB(MacroBlock* mb, BitStream* bs);
void MacroBlock_ReadNULL(MacroBlock* mb);
void MacroBlock_PredictMV(MacroBlock* mb, Motion* out);

void BitStream_WriteMV(BitStream* bs, int16_t d);
int16_t BitStream_ReadMV(BitStream* bs);
void BitStream_WriteIntraDC(BitStream* bs, int16_t diff, uint8_t kind);
int16_t BitStream_ReadIntraDC(BitStream* bs, uint8_t kind);

void Block_WriteBLOCK(Block* block, BitStream* bs);
int16_t Block_ReadBLOCK(Block* block, BitStream* bs);
void Block_WriteINTRADC(Block* block, BitStream* bs);
int16_t Block_ReadINTRADC(Block* block, BitStream* bs);
void Block_WriteTCOEFF(Block* block, BitStream* bs);
int16_t Block_ReadTCOEFF(Block* block, BitStream* bs);
void Block_ReadNULL(Block* block);

// Every macroblock of a coded VOP in raster order.
void Vop_WriteMacroBlocks(Vop* vop, BitStream* stream);
// Reads every macroblock in raster order and sets mbsRead: mbCount, or the index of the first
// macroblock that cannot be decoded (that one and the rest count as not coded).
void Vop_ReadMacroBlocks(Vop* vop, BitStream* stream);

}  // extern "C"

#endif  // KORVO_SYNTAX_INTERNAL_H
