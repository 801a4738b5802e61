// The deringing of one 8x8 block with SSE2, bit-exact with DeringBlock_C: eight pixels of a row in
// eight 16-bit lanes, the window's three columns around each loaded apart, the whole window read
// before the first pixel is written.
#include "filters_internal.h"
#include "kernels_internal.h"
#if KORVO_DSP_X86

#include <emmintrin.h>

#include "lanes_sse2.h"

__attribute__((target("sse2"))) void DeringBlock_SSE2(uint8_t* origin, uint32_t stride, int32_t threshold,
                                                      int32_t maxDiff)
{
	const __m128i zero = _mm_setzero_si128();
	// a >= threshold as a > threshold - 1, the threshold held to 0..256 (all or none of 0..255 above).
	const int32_t limit = (threshold < 0 ? 0 : threshold > 256 ? 256 : threshold) - 1;
	const __m128i below = _mm_set1_epi16(static_cast<int16_t>(limit));
	// Per window row: the 1-2-1 sum across, the centre samples, and whether the three threshold bits
	// across are all set, or any is.
	__m128i across[10], centre[10], allSet[10], anySet[10];
	const uint8_t* src = origin - stride - 1;
	for (int j = 0; j < 10; ++j, src += stride) {
		const __m128i left = _mm_unpacklo_epi8(Load8(src), zero);
		const __m128i middle = _mm_unpacklo_epi8(Load8(src + 1), zero);
		const __m128i right = _mm_unpacklo_epi8(Load8(src + 2), zero);
		across[j] = _mm_add_epi16(_mm_add_epi16(left, right), _mm_slli_epi16(middle, 1));
		centre[j] = middle;
		const __m128i bl = _mm_cmpgt_epi16(left, below), bm = _mm_cmpgt_epi16(middle, below),
		              br = _mm_cmpgt_epi16(right, below);
		allSet[j] = _mm_and_si128(_mm_and_si128(bl, bm), br);
		anySet[j] = _mm_or_si128(_mm_or_si128(bl, bm), br);
	}
	const __m128i reach = _mm_set1_epi16(static_cast<int16_t>(maxDiff < 0x7FFF ? maxDiff : 0x7FFF));
	for (int j = 1; j <= 8; ++j) {
		const __m128i all = _mm_and_si128(_mm_and_si128(allSet[j - 1], allSet[j]), allSet[j + 1]);
		const __m128i any = _mm_or_si128(_mm_or_si128(anySet[j - 1], anySet[j]), anySet[j + 1]);
		const __m128i uniform = _mm_or_si128(all, _mm_andnot_si128(any, _mm_set1_epi16(-1)));
		const __m128i sum = _mm_add_epi16(_mm_add_epi16(across[j - 1], across[j + 1]),
		                                  _mm_slli_epi16(across[j], 1));
		const __m128i f = _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(8)), 4);
		const __m128i p = centre[j];
		// A move of more than maxDiff is cut to maxDiff; the result stays within 0..255.
		const __m128i moved =
		        _mm_min_epi16(_mm_max_epi16(f, _mm_subs_epi16(p, reach)), _mm_adds_epi16(p, reach));
		const __m128i out = _mm_or_si128(_mm_and_si128(uniform, moved), _mm_andnot_si128(uniform, p));
		Store8(origin + static_cast<size_t>(j - 1) * stride, _mm_packus_epi16(out, out));
	}
}

#endif  // KORVO_DSP_X86
