// Reconstruction: dequantisation and inverse transform of every block read, and the block and frame
// writers that put the results into the 8-bit planes. Private to the codec and its tests.
#ifndef KORVO_RECONSTRUCT_INTERNAL_H
#define KORVO_RECONSTRUCT_INTERNAL_H

#include <stdint.h>

#include "frame_internal.h"

extern "C" {

void Vop_Decompress(Vop* vop);
// Reads the macroblock layer (StreamToVop), dequantises and inverse transforms what was read
// (Vop_Decompress) and fetches the inter predictions (Vop_ApplyMotion); with workers, rows are
// reconstructed while the reader goes on. Returns the reader's status.
int16_t Vop_ReadAndReconstruct(KorvParams* params);
void IntraBlit(KorvParams* params);
void IntraBlit2(KorvParams* params);
void MacroBlock_DecompressIVOP(MacroBlock* mb);
void MacroBlock_DecompressPVOP(MacroBlock* mb);
void Block_Decompress(Block* block);

// Block writers into 8-bit planes.
void BlitSetBlock3(uint8_t* dst, uint32_t stride, const int16_t* values);
void BlitSetBlock(uint8_t* dst, uint32_t stride, uint32_t column, uint32_t row, const int16_t* values);
void BlitSetBlock2(uint8_t* dst, uint32_t stride, const int16_t* values);
void BlitSetBlock4(uint8_t* dst, uint32_t stride, const int16_t* values);
void BlitSetBlockAdd2(uint8_t* dst, uint32_t stride, const int16_t* a, const int16_t* b);
void BlitSetBlockAdd(uint8_t* dst, uint32_t stride, uint32_t column, uint32_t row, const int16_t* a,
                     const int16_t* b);
void BlitSetBlockAdd3(uint8_t* dst, uint32_t stride, const int16_t* a, const int16_t* b);
void BlitAddBlock3(uint8_t* dst, uint32_t stride, const int16_t* residual);
void BlitAddBlock(uint8_t* dst, uint32_t stride, uint32_t column, uint32_t row, const int16_t* residual);
void BlitAddBlock2(uint8_t* dst, uint32_t stride, const int16_t* residual);
void BlitAddBlock4(uint8_t* dst, uint32_t stride, const int16_t* residual);
void SetPlaneBlock16(Plane* plane, uint32_t column, uint32_t row, const int16_t* values);
void SetPlaneBlock16Add(Plane* plane, uint32_t column, uint32_t row, const int16_t* a, const int16_t* b);
void AddPlaneBlock16(Plane* plane, uint32_t column, uint32_t row, const int16_t* residual);
void SetPlaneBlock(Plane* plane, uint32_t column, uint32_t row, const uint8_t* values);
void GetPlaneBlock(const Plane* plane, uint32_t column, uint32_t row, uint8_t* destination);

}  // extern "C"

#endif  // KORVO_RECONSTRUCT_INTERNAL_H
