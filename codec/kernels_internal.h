// The internal kernel table: every replaceable kernel that gHooks does not name (block writers,
// motion-compensation fetches, the SADs and measures of motion search and the skip and intra
// decisions, forward transform and quantisation, dequantisation, subsampling). Filled by InitHooks
// with the plain kernels, then with processor-specific ones where the processor has them.
#ifndef KORVO_KERNELS_INTERNAL_H
#define KORVO_KERNELS_INTERNAL_H

#include <stdint.h>

#include "frame_internal.h"

// SAD of a block against the source when it is at most limit; otherwise any value above limit (the
// plain kernel abandons the block after the first row whose running sum exceeds limit and returns
// that partial sum). Motion search only compares results with the best SAD so far, so every kernel
// of this contract makes the same decisions.
typedef int32_t (*BlockSadFn)(const uint8_t* reference, const uint8_t* current, uint32_t stride,
                              int32_t limit);
// The same for a 16x16 prediction at a half-sample offset from the full-sample position p.
typedef int32_t (*HalfSampleSadFn)(const uint8_t* p, const uint8_t* s, uint32_t stride, int32_t rounding,
                                   int32_t limit);

// The eight half-sample neighbours in the order the refinement tries them.
enum { kHalfSampleCandidates = 8 };
extern const int8_t kHalfSampleOffsets[kHalfSampleCandidates][2]; /* dx, dy in -1..1 */

// One row of decoder output: pixels x0..x1 - 1 (x0 even) of a picture row from its luminance row
// and the chroma rows of its 2x2 groups, into the caller's row `out` (which starts at pixel 0).
typedef void (*OutputRowFn)(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0,
                            uint32_t x1);
// One row of encoder input: the luminance of `width` pixels; the chroma of `pairs` 2x2 groups from
// the lower row of each (BGRA: its right pixel), or from both rows (4:2:2: their rounded mean).
typedef void (*InputLumaFn)(const uint8_t* in, uint8_t* y, uint32_t width);
typedef void (*InputChromaFn)(const uint8_t* upper, const uint8_t* lower, uint8_t* u, uint8_t* v,
                              uint32_t pairs);

// Deblocking of one block edge: `origin` is the block's top-left sample. The lower edge filters
// columns 0..7 on rows 3..12, the right edge rows 0..7 on columns 3..12; the eight filters of one
// edge are independent of each other.
typedef void (*DeblockEdgeFn)(uint8_t* origin, int32_t quant, uint32_t stride);

// The encoder's forward transform and quantisation of one block of 64 values into 64 levels.
typedef void (*DctQuantizeFn)(const int16_t* in, uint16_t quant, int16_t* out);

struct KorvKernels {
	// Block writers: clamp(values), clamp(a + b), clamp(dst + residual) into 8 rows of 8 samples.
	void (*blitSet)(uint8_t* dst, uint32_t stride, const int16_t* values);
	void (*blitSetAdd)(uint8_t* dst, uint32_t stride, const int16_t* a, const int16_t* b);
	void (*blitAdd)(uint8_t* dst, uint32_t stride, const int16_t* residual);
	// Motion compensation: an 8x8 block as 16-bit samples, and the same averaged over four samples
	// ((p[i] + p[i + 1] + p[i + stride] + p[i + stride + 1] + bias) >> 2).
	void (*fetchBlock)(const uint8_t* p, uint32_t stride, int16_t* out);
	void (*fetchBlockAverage4)(const uint8_t* p, uint32_t stride, int16_t* out, int32_t bias);
	// Motion search: exact SADs of an 8x8 source block against the 16 predictions at reference + 0..15,
	// and of a 16x16 one against the 8 at reference + 0..7 (each reads 24 samples of every row).
	void (*blockSadRow8)(const uint8_t* reference, const uint8_t* current, uint32_t stride,
	                     uint16_t sads[16]);
	void (*blockSadRow16)(const uint8_t* reference, const uint8_t* current, uint32_t stride,
	                      uint16_t sads[8]);
	// The abandoning SADs of the rate-distortion search: a 16x16 block at a full-sample position and
	// at the half-sample offset (+1, +1).
	BlockSadFn blockSad16;
	HalfSampleSadFn halfSampleSadDiagonal;
	// Exact SADs of all eight half-sample candidates, in kHalfSampleOffsets order.
	void (*halfSampleSads)(const uint8_t* p, const uint8_t* s, uint32_t stride, int32_t rounding,
	                       int32_t sads[kHalfSampleCandidates]);
	// Skip decision: SAD of an 8x8 source block against the reference, and the largest amount by
	// which a source sample exceeds its reference sample, raised into *largestIncrease.
	uint32_t (*sadIncrease8x8)(const uint8_t* source, uint32_t sourceStride, const uint8_t* reference,
	                           uint32_t referenceStride, int32_t* largestIncrease);
	// The rate-distortion decisions' measures: the squared error of an 8x8 source block against the
	// reference, and the SAD of one against the prediction averaged over four samples
	// ((p[i] + p[i + 1] + p[i + stride] + p[i + stride + 1] + bias) >> 2, bias 0..3).
	uint32_t (*sse8x8)(const uint8_t* source, uint32_t sourceStride, const uint8_t* reference,
	                   uint32_t referenceStride);
	uint32_t (*sadAverage4_8x8)(const uint8_t* source, const uint8_t* p, uint32_t stride, int32_t bias);
	// Intra decision: the sum of |s - mean| over the 256 values of four blocks, mean being their
	// integer mean (sum / 256).
	int32_t (*deviation16x16)(const int16_t* y0, const int16_t* y1, const int16_t* y2, const int16_t* y3);
	// Half-size plane for motion search: rows x columns samples, each the truncated mean of a 2x2
	// square of the source.
	void (*subsample)(const uint8_t* source, uint32_t sourceStride, uint8_t* out, uint32_t outStride,
	                  uint32_t columns, uint32_t rows);
	// The encoder's fused lifting transform and quantisers (GapsDCTQuantize_Inter, _IntraY, _IntraUV).
	DctQuantizeFn dctQuantizeInter;
	DctQuantizeFn dctQuantizeIntraY;
	DctQuantizeFn dctQuantizeIntraUV;
	// The weighted transform values the level decisions start from (DCTWeighted_Inter, and
	// DCTQuantizeWeighted_Intra with the intra levels).
	void (*dctWeightedInter)(const int16_t* in, int32_t* weighted);
	void (*dctQuantizeWeightedIntra)(const int16_t* in, uint16_t quant, bool luma, int16_t* out,
	                                 int32_t* weighted);
	// The level decisions' screen over positions first..63 (first 0 or 1) of 64 weighted values:
	// returns the mask of those whose magnitude a is at least `least` (>= 1), and sets *squares to
	// the sum of e * e over the others, e = a * weights[i] (32-bit products, the sum modulo 2^64).
	uint64_t (*screenLevels)(const int32_t* weighted, const int32_t* weights, uint32_t first, uint32_t least,
	                         uint64_t* squares);
	// Reconstruction's dequantisation (DequantizeIntra, DequantizeInter).
	void (*dequantizeIntra)(const int16_t* coef, int16_t* recon, uint8_t quant, uint32_t blockIndex);
	void (*dequantizeInter)(const int16_t* coef, int16_t* recon, uint8_t quant);
	// Output conversions of the planes: BGRA, 4:2:2 Y'0 Cb Y'1 Cr ('yuvs') and Cb Y'0 Cr Y'1 ('2vuy').
	OutputRowFn rowToBGRA;
	OutputRowFn rowToYUVS;
	OutputRowFn rowTo2VUY;
	// Input conversions into the planes: BGRA and 4:2:2 'yuvs'.
	InputLumaFn lumaFromBGRA;
	InputChromaFn chromaFromBGRA;
	InputLumaFn lumaFromYUVS;
	InputChromaFn chromaFromYUVS;
	// In-loop filters: the deblocking of a block's lower and right edges, and the deringing of the
	// 8x8 block at `origin` (maxDiff >= 0; a threshold of 0 smooths every pixel).
	DeblockEdgeFn deblockLowerEdge;
	DeblockEdgeFn deblockRightEdge;
	void (*deringBlock)(uint8_t* origin, uint32_t stride, int32_t threshold, int32_t maxDiff);
};

extern KorvKernels gKernels;

// Fills a table: the plain kernels, then the processor-specific ones when `specific` is set.
void Kernels_Init(KorvKernels* table, bool specific);

// The plain kernels (the reference every faster one is compared with).
void FetchBlock_C(const uint8_t* p, uint32_t stride, int16_t* out);
void FetchBlockAverage4_C(const uint8_t* p, uint32_t stride, int16_t* out, int32_t bias);
void BlockSadRow8_C(const uint8_t* reference, const uint8_t* current, uint32_t stride, uint16_t sads[16]);
void BlockSadRow16_C(const uint8_t* reference, const uint8_t* current, uint32_t stride, uint16_t sads[8]);
int32_t BlockSad16_C(const uint8_t* reference, const uint8_t* current, uint32_t stride, int32_t limit);
extern const HalfSampleSadFn kHalfSampleSad_C[kHalfSampleCandidates];
void HalfSampleSads_C(const uint8_t* p, const uint8_t* s, uint32_t stride, int32_t rounding,
                      int32_t sads[kHalfSampleCandidates]);
uint32_t SadIncrease8x8_C(const uint8_t* source, uint32_t sourceStride, const uint8_t* reference,
                          uint32_t referenceStride, int32_t* largestIncrease);
uint32_t Sse8x8_C(const uint8_t* source, uint32_t sourceStride, const uint8_t* reference,
                  uint32_t referenceStride);
uint32_t SadAverage4_8x8_C(const uint8_t* source, const uint8_t* p, uint32_t stride, int32_t bias);
int32_t Deviation16x16_C(const int16_t* y0, const int16_t* y1, const int16_t* y2, const int16_t* y3);
void RowToBGRA_C(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0,
                 uint32_t x1);
void RowToYUVS_C(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0,
                 uint32_t x1);
void RowTo2VUY_C(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0,
                 uint32_t x1);
void LumaFromBGRA_C(const uint8_t* in, uint8_t* y, uint32_t width);
void ChromaFromBGRA_C(const uint8_t* upper, const uint8_t* lower, uint8_t* u, uint8_t* v, uint32_t pairs);
void LumaFromYUVS_C(const uint8_t* in, uint8_t* y, uint32_t width);
void ChromaFromYUVS_C(const uint8_t* upper, const uint8_t* lower, uint8_t* u, uint8_t* v, uint32_t pairs);
void DeringBlock_C(uint8_t* origin, uint32_t stride, int32_t threshold, int32_t maxDiff);
uint64_t ScreenLevels_C(const int32_t* weighted, const int32_t* weights, uint32_t first, uint32_t least,
                        uint64_t* squares);
void Subsample_C(const uint8_t* source, uint32_t sourceStride, uint8_t* out, uint32_t outStride,
                 uint32_t columns, uint32_t rows);

#if defined(__x86_64__) || defined(__i386__)
// Each installs one family's kernels of one instruction-set level into the table.
void Kernels_InitBlitSSE2(KorvKernels* table);
void Kernels_InitSadSSE2(KorvKernels* table);
void Kernels_InitPlaneSSE2(KorvKernels* table);
void Kernels_InitPixelSSE2(KorvKernels* table);
void Kernels_InitFilterSSE2(KorvKernels* table);
void Kernels_InitDequantizeSSE2(KorvKernels* table);
void Kernels_InitQuantizeSSE41(KorvKernels* table);
void Kernels_InitLevelsSSE41(KorvKernels* table);
void Kernels_InitSadSSE41(KorvKernels* table);
void Kernels_InitSadAVX2(KorvKernels* table);
void Kernels_InitLevelsAVX2(KorvKernels* table);
void Kernels_InitQuantizeAVX2(KorvKernels* table);
#endif

#endif  // KORVO_KERNELS_INTERNAL_H
