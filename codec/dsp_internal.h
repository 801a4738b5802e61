// Private helpers of the transform and quantisation kernels: explicitly wrapping 32-bit arithmetic
// (computed in uint32_t, so overflow is defined) and the processor-specific kernels.
#ifndef KORVO_DSP_INTERNAL_H
#define KORVO_DSP_INTERNAL_H

#include <stdint.h>

#include "korvo.h"

namespace korvo_dsp {

// A signed value as its 32-bit two's-complement pattern.
inline uint32_t Wrap(int32_t v) { return static_cast<uint32_t>(v); }

// Arithmetic right shift of a wrapped 32-bit pattern read as signed.
inline int32_t Sar(uint32_t v, int n) { return static_cast<int32_t>(v) >> n; }

}  // namespace korvo_dsp

#if defined(__x86_64__) || defined(__i386__)
#define KORVO_DSP_X86 1
// IDCT_Fast with SSE4.1, bit-exact with it; only for processors that have SSE4.1.
void IDCT_FastSSE41(int16_t* block);
#else
#define KORVO_DSP_X86 0
#endif

#endif  // KORVO_DSP_INTERNAL_H
