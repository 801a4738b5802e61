// Whole-plane kernels with SSE2: the half-size plane of motion search, bit-exact with Subsample_C.
#include "kernels_internal.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <emmintrin.h>

#define KORVO_SSE2 __attribute__((target("sse2")))

namespace {

// Sums of the eight horizontal pairs of 16 bytes, as 16-bit lanes.
KORVO_SSE2 inline __m128i PairSums(const uint8_t* p)
{
	const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
	return _mm_add_epi16(_mm_and_si128(v, _mm_set1_epi16(0xFF)), _mm_srli_epi16(v, 8));
}

KORVO_SSE2 void Subsample_SSE2(const uint8_t* source, uint32_t sourceStride, uint8_t* out, uint32_t outStride,
                               uint32_t columns, uint32_t rows)
{
	for (uint32_t y = 0; y < rows; y++, source += 2 * size_t{sourceStride}, out += outStride) {
		const uint8_t* bottom = source + sourceStride;
		uint32_t x = 0;
		for (; x + 16 <= columns; x += 16) {
			const __m128i left = _mm_srli_epi16(
			        _mm_add_epi16(PairSums(source + 2 * x), PairSums(bottom + 2 * x)), 2);
			const __m128i right = _mm_srli_epi16(
			        _mm_add_epi16(PairSums(source + 2 * x + 16), PairSums(bottom + 2 * x + 16)), 2);
			_mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(left, right));
		}
		for (; x < columns; x++)
			out[x] = uint8_t((source[2 * x] + source[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1]) >> 2);
	}
}

}  // namespace

void Kernels_InitPlaneSSE2(KorvKernels* table) { table->subsample = Subsample_SSE2; }

#endif  // KORVO_DSP_X86
