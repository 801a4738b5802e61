// The level decisions' screen with SSE4.1: which weighted values may take a level, and the squared
// error of leaving the others zero, sixteen positions at a time; bit-exact with ScreenLevels_C.
#include "kernels_internal.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <immintrin.h>

namespace {

#define KORVO_SSE41 __attribute__((target("sse4.1")))

// Four positions: their magnitudes' "below least" lanes, and the squared errors of those added.
KORVO_SSE41 inline __m128i ScreenFour(__m128i a, const int32_t* weights, __m128i ceiling, __m128i* sum)
{
	// Below `least` as unsigned magnitudes: a <= least - 1 (least is at least 1).
	const __m128i below = _mm_cmpeq_epi32(_mm_min_epu32(a, ceiling), a);
	const __m128i e = _mm_and_si128(
	        _mm_mullo_epi32(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights))), below);
	const __m128i odd = _mm_srli_epi64(e, 32);
	*sum = _mm_add_epi64(*sum, _mm_add_epi64(_mm_mul_epu32(e, e), _mm_mul_epu32(odd, odd)));
	return below;
}

KORVO_SSE41 inline __m128i Magnitudes(const int32_t* weighted)
{
	return _mm_abs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(weighted)));
}

// Sixteen positions at a time; their lanes packed to bytes give one mask of sixteen bits.
KORVO_SSE41 uint64_t ScreenLevels_SSE41(const int32_t* weighted, const int32_t* weights, uint32_t first,
                                        uint32_t least, uint64_t* squares)
{
	const __m128i ceiling = _mm_set1_epi32(static_cast<int32_t>(least - 1));
	// A zero magnitude at a position before `first` is neither a candidate nor an error.
	const __m128i skipFirst = _mm_set_epi32(-1, -1, -1, first ? 0 : -1);
	__m128i sum = _mm_setzero_si128();
	uint64_t candidates = 0;
	for (int i = 0; i < 64; i += 16) {
		const __m128i a0 = i == 0 ? _mm_and_si128(Magnitudes(weighted), skipFirst) : Magnitudes(weighted + i);
		const __m128i b0 = ScreenFour(a0, weights + i, ceiling, &sum);
		const __m128i b1 = ScreenFour(Magnitudes(weighted + i + 4), weights + i + 4, ceiling, &sum);
		const __m128i b2 = ScreenFour(Magnitudes(weighted + i + 8), weights + i + 8, ceiling, &sum);
		const __m128i b3 = ScreenFour(Magnitudes(weighted + i + 12), weights + i + 12, ceiling, &sum);
		const __m128i below = _mm_packs_epi16(_mm_packs_epi32(b0, b1), _mm_packs_epi32(b2, b3));
		candidates |= uint64_t(uint32_t(_mm_movemask_epi8(below)) ^ 0xFFFFu) << i;
	}
	*squares = static_cast<uint64_t>(_mm_cvtsi128_si64(sum)) +
	           static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sum, sum)));
	return candidates;
}

}  // namespace

void Kernels_InitLevelsSSE41(KorvKernels* table) { table->screenLevels = ScreenLevels_SSE41; }

#endif  // KORVO_DSP_X86
