// Block writers and motion-compensation fetches with SSE2, bit-exact with the plain kernels: the
// saturating pack clamps to 0..255 exactly as the clamp table does for any 16-bit sum.
#include "kernels_internal.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <emmintrin.h>

#include "lanes_sse2.h"

#define KORVO_SSE2 __attribute__((target("sse2")))

namespace {

KORVO_SSE2 inline __m128i Load(const int16_t* p)
{
	return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

KORVO_SSE2 void BlitSet_SSE2(uint8_t* dst, uint32_t stride, const int16_t* values)
{
	for (int row = 0; row < 8; row += 2, dst += 2 * size_t{stride}, values += 16) {
		const __m128i pixels = _mm_packus_epi16(Load(values), Load(values + 8));
		Store8(dst, pixels);
		Store8(dst + stride, _mm_srli_si128(pixels, 8));
	}
}

// A 16-bit saturating sum saturates to the same end of 0..255 as the exact sum.
KORVO_SSE2 void BlitSetAdd_SSE2(uint8_t* dst, uint32_t stride, const int16_t* a, const int16_t* b)
{
	for (int row = 0; row < 8; row += 2, dst += 2 * size_t{stride}, a += 16, b += 16) {
		const __m128i pixels =
		        _mm_packus_epi16(_mm_adds_epi16(Load(a), Load(b)), _mm_adds_epi16(Load(a + 8), Load(b + 8)));
		Store8(dst, pixels);
		Store8(dst + stride, _mm_srli_si128(pixels, 8));
	}
}

// A sample plus a 16-bit residual, saturated to 16 bits, lies at the same end of 0..255 as the exact
// sum, and the pack clamps as the table does.
KORVO_SSE2 void BlitAdd_SSE2(uint8_t* dst, uint32_t stride, const int16_t* residual)
{
	const __m128i zero = _mm_setzero_si128();
	for (int row = 0; row < 8; row += 2, dst += 2 * size_t{stride}, residual += 16) {
		const __m128i upper = _mm_adds_epi16(_mm_unpacklo_epi8(Load8(dst), zero), Load(residual));
		const __m128i lower = _mm_adds_epi16(_mm_unpacklo_epi8(Load8(dst + stride), zero), Load(residual + 8));
		const __m128i pixels = _mm_packus_epi16(upper, lower);
		Store8(dst, pixels);
		Store8(dst + stride, _mm_srli_si128(pixels, 8));
	}
}

KORVO_SSE2 void FetchBlock_SSE2(const uint8_t* p, uint32_t stride, int16_t* out)
{
	const __m128i zero = _mm_setzero_si128();
	for (int j = 0; j < 8; ++j, p += stride, out += 8)
		_mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(Load8(p), zero));
}

KORVO_SSE2 void FetchBlockAverage4_SSE2(const uint8_t* p, uint32_t stride, int16_t* out, int32_t bias)
{
	const __m128i zero = _mm_setzero_si128();
	const __m128i rounding = _mm_set1_epi16(static_cast<int16_t>(bias));
	auto pairSum = [&](const uint8_t* q) {
		return _mm_add_epi16(_mm_unpacklo_epi8(Load8(q), zero), _mm_unpacklo_epi8(Load8(q + 1), zero));
	};
	__m128i above = pairSum(p);
	for (int j = 0; j < 8; ++j, out += 8) {
		p += stride;
		const __m128i below = pairSum(p);
		const __m128i sum = _mm_add_epi16(_mm_add_epi16(above, below), rounding);
		_mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_srai_epi16(sum, 2));
		above = below;
	}
}

}  // namespace

void Kernels_InitBlitSSE2(KorvKernels* table)
{
	table->blitSet = BlitSet_SSE2;
	table->blitSetAdd = BlitSetAdd_SSE2;
	table->blitAdd = BlitAdd_SSE2;
	table->fetchBlock = FetchBlock_SSE2;
	table->fetchBlockAverage4 = FetchBlockAverage4_SSE2;
}

#endif  // KORVO_DSP_X86
