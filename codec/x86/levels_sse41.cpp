// The level decisions' screen with SSE4.1: which weighted values may take a level, and the squared
// error of leaving the others zero, four positions at a time; bit-exact with ScreenLevels_C.
#include "kernels_internal.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <immintrin.h>

namespace {

__attribute__((target("sse4.1"))) uint64_t ScreenLevels_SSE41(const int32_t* weighted, const int32_t* weights,
                                                             uint32_t first, uint32_t least, uint64_t* squares)
{
	// Below `least` as unsigned magnitudes: a <= least - 1 (least is at least 1).
	const __m128i ceiling = _mm_set1_epi32(static_cast<int32_t>(least - 1));
	__m128i sum = _mm_setzero_si128();
	uint64_t candidates = 0;
	for (int i = 0; i < 64; i += 4) {
		__m128i a = _mm_abs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(weighted + i)));
		if (i == 0 && first)
			a = _mm_insert_epi32(a, 0, 0);  // a zero magnitude is neither a candidate nor an error
		const __m128i below = _mm_cmpeq_epi32(_mm_min_epu32(a, ceiling), a);
		candidates |= uint64_t(_mm_movemask_ps(_mm_castsi128_ps(below)) ^ 15) << i;
		const __m128i e = _mm_and_si128(
		        _mm_mullo_epi32(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + i))), below);
		const __m128i odd = _mm_srli_epi64(e, 32);
		sum = _mm_add_epi64(sum, _mm_add_epi64(_mm_mul_epu32(e, e), _mm_mul_epu32(odd, odd)));
	}
	*squares = static_cast<uint64_t>(_mm_cvtsi128_si64(sum)) +
	           static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sum, sum)));
	return candidates;
}

}  // namespace

void Kernels_InitLevelsSSE41(KorvKernels* table) { table->screenLevels = ScreenLevels_SSE41; }

#endif  // KORVO_DSP_X86
