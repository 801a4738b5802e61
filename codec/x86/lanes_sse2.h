// Shared by the SSE2 kernels: unaligned loads and stores of samples, eight 32-bit lanes in two
// registers with their wrapping arithmetic, and transposes of 8x8 blocks held in registers.
#ifndef KORVO_X86_LANES_SSE2_H
#define KORVO_X86_LANES_SSE2_H

#include <emmintrin.h>
#include <stdint.h>

#define KORVO_LANES_SSE2 __attribute__((target("sse2"), always_inline)) inline

KORVO_LANES_SSE2 __m128i Load8(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
KORVO_LANES_SSE2 __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
KORVO_LANES_SSE2 void Store8(uint8_t* p, __m128i v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v); }
KORVO_LANES_SSE2 void Store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Eight 32-bit lanes as two halves: lanes 0-3 and 4-7.
struct Wide {
	__m128i low, high;
};

KORVO_LANES_SSE2 Wide operator+(Wide a, Wide b)
{
	return {_mm_add_epi32(a.low, b.low), _mm_add_epi32(a.high, b.high)};
}
KORVO_LANES_SSE2 Wide operator-(Wide a, Wide b)
{
	return {_mm_sub_epi32(a.low, b.low), _mm_sub_epi32(a.high, b.high)};
}
KORVO_LANES_SSE2 Wide Shift(Wide a, int n) { return {_mm_srai_epi32(a.low, n), _mm_srai_epi32(a.high, n)}; }
KORVO_LANES_SSE2 Wide ShiftLeft(Wide a, int n) { return {_mm_slli_epi32(a.low, n), _mm_slli_epi32(a.high, n)}; }

// Eight rows of eight 16-bit values, transposed in place.
KORVO_LANES_SSE2 void Transpose8x8Epi16(__m128i* r)
{
	const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
	const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
	const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
	const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
	const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
	const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
	const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
	const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
	r[0] = _mm_unpacklo_epi64(b0, b4);
	r[1] = _mm_unpackhi_epi64(b0, b4);
	r[2] = _mm_unpacklo_epi64(b1, b5);
	r[3] = _mm_unpackhi_epi64(b1, b5);
	r[4] = _mm_unpacklo_epi64(b2, b6);
	r[5] = _mm_unpackhi_epi64(b2, b6);
	r[6] = _mm_unpacklo_epi64(b3, b7);
	r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Four rows of four 32-bit values, transposed in place.
KORVO_LANES_SSE2 void Transpose4x4Epi32(__m128i& r0, __m128i& r1,
                                                                             __m128i& r2, __m128i& r3)
{
	const __m128i a0 = _mm_unpacklo_epi32(r0, r1), a1 = _mm_unpackhi_epi32(r0, r1);
	const __m128i a2 = _mm_unpacklo_epi32(r2, r3), a3 = _mm_unpackhi_epi32(r2, r3);
	r0 = _mm_unpacklo_epi64(a0, a2);
	r1 = _mm_unpackhi_epi64(a0, a2);
	r2 = _mm_unpacklo_epi64(a1, a3);
	r3 = _mm_unpackhi_epi64(a1, a3);
}

#endif  // KORVO_X86_LANES_SSE2_H
