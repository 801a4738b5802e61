// Transform and quantisation: the inverse and forward DCTs, the quantisers and dequantisers with
// their tables, the 8x8 block arithmetic, explicitly wrapping 32-bit arithmetic (computed in
// uint32_t, so overflow is defined) and the processor-specific transform kernels.
#ifndef KORVO_TRANSFORM_INTERNAL_H
#define KORVO_TRANSFORM_INTERNAL_H

#include <stdint.h>

#include "frame_internal.h"

namespace korvo_dsp {

// A signed value as its 32-bit two's-complement pattern.
inline uint32_t Wrap(int32_t v) { return static_cast<uint32_t>(v); }

// Arithmetic right shift of a wrapped 32-bit pattern read as signed.
inline int32_t Sar(uint32_t v, int n) { return static_cast<int32_t>(v) >> n; }

}  // namespace korvo_dsp

#if defined(__x86_64__) || defined(__i386__)
#define KORVO_DSP_X86 1
// IDCT_Fast with SSE4.1 and BlockSub with SSE2, bit-exact with them; only for processors that have
// those instructions.
void IDCT_FastSSE41(int16_t* block);
void BlockSub_SSE2(const int16_t* a, const int16_t* b, int16_t* out);
#else
#define KORVO_DSP_X86 0
#endif

extern "C" {

// Quantisation.
extern const int32_t kCoefficientIntra[64];
extern const int32_t kCoefficientInter[64];
extern const uint8_t* DCScalerTable;          /* [quant * 8 + block] */
extern const uint16_t (*QuantTableIntra)[64]; /* [quant][i] = 2 * quant * kCoefficientIntra[i] */
extern const uint16_t (*QuantTableInter)[64]; /* [quant][i] = quant * kCoefficientInter[i] */
extern const uint16_t kScaledQuantizerDCScaler_Y[32];
extern const uint16_t kScaledQuantizerDCScaler_UV[32];
extern const int16_t kScaledQuantizerCoefficient_Intra[64];
extern const int16_t kScaledQuantizerCoefficient_Inter[64];

/* The decoder's dequantisation of one block (encoder reconstruction runs the same). */
void DequantizeIntra(const int16_t* coef, int16_t* recon, uint8_t quant, uint32_t blockIndex);
void DequantizeInter(const int16_t* coef, int16_t* recon, uint8_t quant);

void GapsDCTQuantizerDispatch(const int16_t* in, Block* blk);
void GapsDCTQuantize_Inter(const int16_t* in, uint16_t quant, int16_t* out);
void GapsDCTQuantize_IntraY(const int16_t* in, uint16_t quant, int16_t* out);
void GapsDCTQuantize_IntraUV(const int16_t* in, uint16_t quant, int16_t* out);
/* The transform weighted for quantisation, round(16 F / W) per coefficient, before the division
 * by 2 x quant: what the encoder's coefficient decisions start from. The intra form also gives the
 * quantiser's levels (DC included); its weighted[0] is 0. */
void DCTWeighted_Inter(const int16_t* in, int32_t* weighted);
void DCTQuantizeWeighted_Intra(const int16_t* in, uint16_t quant, bool luma, int16_t* out, int32_t* weighted);
void Quantizer(const int16_t* in, Block* out);
void DeQuantizer(const Block* in, int16_t* out);
uint8_t Quantizer_DCScalerY(uint8_t quant);
uint8_t Quantizer_DCScalerUV(uint8_t quant);
void Quantizer_H263(const int16_t* in, int16_t* out, uint8_t quant, uint8_t intra, uint8_t luminance);
void DeQuantizer_H263(const int16_t* in, int16_t* out, uint8_t quant, uint8_t intra, uint8_t luminance);

// Transforms and block arithmetic.
void IDCT_Fast(int16_t* block);
void FloatDCT(const int16_t* in, int16_t* out);
/* The lifting forward transform: 32 * g_u * g_v times the orthonormal coefficients. */
void LiftingDCT(const int16_t* in, int32_t* out);

void BlockClamp(int16_t* block, int16_t low, int16_t high);
void BlockSub(const int16_t* a, const int16_t* b, int16_t* out);
void BlockAdd(const int16_t* a, const int16_t* b, int16_t* out);
void BlockCopy(const int16_t* src, int16_t* dst);
bool BlockAll0(const int16_t* block);
void BlockClampIntra(int16_t* block);
void BlockClampInter(int16_t* block);
int32_t BlockSum(const int16_t* block);
void BlockInvert(int16_t* block);
void BlockDivX(int16_t* block, int16_t d);
void BlockAddX(int16_t* block, int16_t x);
void BlockFillX(int16_t* block, int16_t x);

}  // extern "C"

#endif  // KORVO_TRANSFORM_INTERNAL_H
