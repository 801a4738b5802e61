// The level decisions' screen with AVX2: eight positions per register, thirty-two per mask; bit-exact
// with ScreenLevels_C.
#include "kernels_internal.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <immintrin.h>

#define KORVO_AVX2 __attribute__((target("avx2")))

namespace {

// Eight positions of magnitudes a: their "below least" lanes, and the squared errors of those added.
KORVO_AVX2 inline __m256i ScreenEight(__m256i a, const int32_t* weights, __m256i ceiling, __m256i* sum)
{
	// Below `least` as unsigned magnitudes: a <= least - 1 (least is at least 1).
	const __m256i below = _mm256_cmpeq_epi32(_mm256_min_epu32(a, ceiling), a);
	const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights));
	const __m256i e = _mm256_and_si256(_mm256_mullo_epi32(a, w), below);
	const __m256i odd = _mm256_srli_epi64(e, 32);
	*sum = _mm256_add_epi64(*sum, _mm256_add_epi64(_mm256_mul_epu32(e, e), _mm256_mul_epu32(odd, odd)));
	return below;
}

KORVO_AVX2 inline __m256i Magnitudes(const int32_t* weighted)
{
	return _mm256_abs_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(weighted)));
}

KORVO_AVX2 uint64_t ScreenLevels_AVX2(const int32_t* weighted, const int32_t* weights, uint32_t first,
                                      uint32_t least, uint64_t* squares)
{
	const __m256i ceiling = _mm256_set1_epi32(static_cast<int32_t>(least - 1));
	// A zero magnitude at a position before `first` is neither a candidate nor an error.
	const __m256i skipFirst = _mm256_set_epi32(-1, -1, -1, -1, -1, -1, -1, first ? 0 : -1);
	// The packs work within 128-bit lanes and leave groups of four positions in the order
	// 0 2 4 6 1 3 5 7; this puts them back.
	const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
	__m256i sum = _mm256_setzero_si256();
	uint64_t candidates = 0;
	for (int i = 0; i < 64; i += 32) {
		const __m256i a0 =
		        i == 0 ? _mm256_and_si256(Magnitudes(weighted), skipFirst) : Magnitudes(weighted + i);
		const __m256i b0 = ScreenEight(a0, weights + i, ceiling, &sum);
		const __m256i b1 = ScreenEight(Magnitudes(weighted + i + 8), weights + i + 8, ceiling, &sum);
		const __m256i b2 = ScreenEight(Magnitudes(weighted + i + 16), weights + i + 16, ceiling, &sum);
		const __m256i b3 = ScreenEight(Magnitudes(weighted + i + 24), weights + i + 24, ceiling, &sum);
		const __m256i packed = _mm256_packs_epi16(_mm256_packs_epi32(b0, b1), _mm256_packs_epi32(b2, b3));
		const __m256i below = _mm256_permutevar8x32_epi32(packed, order);
		candidates |= uint64_t(~uint32_t(_mm256_movemask_epi8(below))) << i;
	}
	const __m128i half = _mm_add_epi64(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
	*squares = static_cast<uint64_t>(_mm_cvtsi128_si64(half)) +
	           static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(half, half)));
	return candidates;
}

}  // namespace

void Kernels_InitLevelsAVX2(KorvKernels* table) { table->screenLevels = ScreenLevels_AVX2; }

#endif  // KORVO_DSP_X86
