// The internal kernel table: every replaceable kernel that gHooks does not name (block writers,
// motion-compensation fetches, the SADs of motion search and skip decisions). Filled by InitHooks
// with the plain kernels, then with processor-specific ones where the processor has them.
#ifndef KORVO_KERNELS_INTERNAL_H
#define KORVO_KERNELS_INTERNAL_H

#include <stdint.h>

#include "frame_internal.h"

// SAD of a block against the source, abandoned after the first row whose running sum exceeds limit
// (the partial sum is returned, so a result above limit means "abandoned").
typedef int32_t (*BlockSadFn)(const uint8_t* reference, const uint8_t* current, uint32_t stride,
                              int32_t limit);
// The same for a 16x16 prediction at a half-sample offset from the full-sample position p.
typedef int32_t (*HalfSampleSadFn)(const uint8_t* p, const uint8_t* s, uint32_t stride, int32_t rounding,
                                   int32_t limit);

// The eight half-sample neighbours in the order the refinement tries them.
enum { kHalfSampleCandidates = 8 };
extern const int8_t kHalfSampleOffsets[kHalfSampleCandidates][2]; /* dx, dy in -1..1 */

struct KorvKernels {
	// Block writers: clamp(values), clamp(a + b) into 8 rows of 8 samples.
	void (*blitSet)(uint8_t* dst, uint32_t stride, const int16_t* values);
	void (*blitSetAdd)(uint8_t* dst, uint32_t stride, const int16_t* a, const int16_t* b);
	// Motion compensation: an 8x8 block as 16-bit samples, and the same averaged over four samples
	// ((p[i] + p[i + 1] + p[i + stride] + p[i + stride + 1] + bias) >> 2).
	void (*fetchBlock)(const uint8_t* p, uint32_t stride, int16_t* out);
	void (*fetchBlockAverage4)(const uint8_t* p, uint32_t stride, int16_t* out, int32_t bias);
	// Motion search.
	BlockSadFn blockSad8;
	BlockSadFn blockSad16;
	HalfSampleSadFn halfSampleSad[kHalfSampleCandidates];
	// Skip decision: SAD of an 8x8 source block against the reference, and the largest amount by
	// which a source sample exceeds its reference sample, raised into *largestIncrease.
	uint32_t (*sadIncrease8x8)(const uint8_t* source, uint32_t sourceStride, const uint8_t* reference,
	                           uint32_t referenceStride, int32_t* largestIncrease);
};

extern KorvKernels gKernels;

// Fills a table: the plain kernels, then the processor-specific ones when `specific` is set.
void Kernels_Init(KorvKernels* table, bool specific);

// The plain kernels (the reference every faster one is compared with).
void FetchBlock_C(const uint8_t* p, uint32_t stride, int16_t* out);
void FetchBlockAverage4_C(const uint8_t* p, uint32_t stride, int16_t* out, int32_t bias);
int32_t BlockSad8_C(const uint8_t* reference, const uint8_t* current, uint32_t stride, int32_t limit);
int32_t BlockSad16_C(const uint8_t* reference, const uint8_t* current, uint32_t stride, int32_t limit);
extern const HalfSampleSadFn kHalfSampleSad_C[kHalfSampleCandidates];
uint32_t SadIncrease8x8_C(const uint8_t* source, uint32_t sourceStride, const uint8_t* reference,
                          uint32_t referenceStride, int32_t* largestIncrease);

#if defined(__x86_64__) || defined(__i386__)
// Each installs one family's kernels of one instruction-set level into the table.
void Kernels_InitBlitSSE2(KorvKernels* table);
void Kernels_InitSadSSE2(KorvKernels* table);
#endif

#endif  // KORVO_KERNELS_INTERNAL_H
