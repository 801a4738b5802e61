// The inverse DCT with SSE4.1: the same wrapping 32-bit arithmetic as IDCT_Fast on eight rows, then
// eight columns, at once; bit-exact with the plain kernel (installed by InitSpecificHooks).
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <immintrin.h>

#include "lanes_sse2.h"

#define KORVO_SSE41 __attribute__((target("sse4.1"), always_inline)) inline

namespace {

// k1 * a + k2 * b + bias for eight 16-bit lanes; with these constants the sum cannot leave 32 bits.
// Every rotation of the kernel is such a sum once its shared product is expanded, which is exact
// because the plain kernel's wrapping arithmetic is arithmetic modulo 2^32.
KORVO_SSE41 Wide Rotate(__m128i a, __m128i b, int16_t k1, int16_t k2, int32_t bias)
{
	const __m128i k = _mm_set1_epi32(static_cast<int32_t>(
	        (static_cast<uint32_t>(static_cast<uint16_t>(k2)) << 16) | static_cast<uint16_t>(k1)));
	const __m128i c = _mm_set1_epi32(bias);
	return {_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), k), c),
	        _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), k), c)};
}

// (181 * v + 128) >> 8 on wrapped 32-bit lanes.
KORVO_SSE41 Wide Half181(Wide v)
{
	const __m128i k = _mm_set1_epi32(181), r = _mm_set1_epi32(128);
	return {_mm_srai_epi32(_mm_add_epi32(_mm_mullo_epi32(v.low, k), r), 8),
	        _mm_srai_epi32(_mm_add_epi32(_mm_mullo_epi32(v.high, k), r), 8)};
}

// Keeps the low 16 bits of each 32-bit lane (two's-complement truncation, not saturation).
KORVO_SSE41 __m128i Narrow(Wide v)
{
	const __m128i pick = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1);
	return _mm_unpacklo_epi64(_mm_shuffle_epi8(v.low, pick), _mm_shuffle_epi8(v.high, pick));
}

// One 1-D pass on eight lanes, v[k] holding input k of each lane. The plain kernel's skip of rows and
// columns without AC is not needed: such an input gives the same result through the full path.
template <bool kColumn>
KORVO_SSE41 void IdctPass(__m128i* v)
{
	constexpr int32_t kBias = kColumn ? 4 : 0;
	constexpr int kDrop = kColumn ? 3 : 0;
	constexpr int kShift = kColumn ? 14 : 8;
	constexpr int16_t kDc = kColumn ? 256 : 2048;

	// Stage 1, odd part: x4 = 2841 b1 + 565 b7, x5 = 565 b1 - 2841 b7, x6 = 1609 b5 + 2408 b3,
	// x7 = 2408 b5 - 1609 b3 (565 + 2276 = 2841, 2408 - 799 = 1609).
	Wide x4 = Shift(Rotate(v[1], v[7], 2841, 565, kBias), kDrop);
	Wide x5 = Shift(Rotate(v[1], v[7], 565, -2841, kBias), kDrop);
	Wide x6 = Shift(Rotate(v[5], v[3], 1609, 2408, kBias), kDrop);
	Wide x7 = Shift(Rotate(v[5], v[3], 2408, -1609, kBias), kDrop);

	// Stage 2, even part: x2 = 1108 b2 - 2676 b6, x3 = 2676 b2 + 1108 b6 (1108 + 1568 = 2676).
	const int32_t dcBias = kColumn ? 8192 : 128;
	Wide x8 = Rotate(v[0], v[4], kDc, kDc, dcBias);
	Wide x0 = Rotate(v[0], v[4], kDc, -kDc, dcBias);
	Wide x2 = Shift(Rotate(v[2], v[6], 1108, -2676, kBias), kDrop);
	Wide x3 = Shift(Rotate(v[2], v[6], 2676, 1108, kBias), kDrop);
	Wide x1 = x4 + x6;
	x4 = x4 - x6;
	x6 = x5 + x7;
	x5 = x5 - x7;

	// Stage 3.
	x7 = x8 + x3;
	x8 = x8 - x3;
	x3 = x0 + x2;
	x0 = x0 - x2;
	x2 = Half181(x4 + x5);
	x4 = Half181(x4 - x5);

	v[0] = Narrow(Shift(x7 + x1, kShift));
	v[1] = Narrow(Shift(x3 + x2, kShift));
	v[2] = Narrow(Shift(x0 + x4, kShift));
	v[3] = Narrow(Shift(x8 + x6, kShift));
	v[4] = Narrow(Shift(x8 - x6, kShift));
	v[5] = Narrow(Shift(x0 - x4, kShift));
	v[6] = Narrow(Shift(x3 - x2, kShift));
	v[7] = Narrow(Shift(x7 - x1, kShift));
}

}  // namespace

__attribute__((target("sse4.1"))) void IDCT_FastSSE41(int16_t* block)
{
	__m128i r[8];
	for (int k = 0; k < 8; ++k)
		r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
	// A block with only its DC (common after quantisation) comes out flat: the row pass stores
	// DC << 3 in 16 bits, the column pass rounds that by 6 bits.
	__m128i ac = _mm_and_si128(r[0], _mm_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1));
	for (int k = 1; k < 8; ++k)
		ac = _mm_or_si128(ac, r[k]);
	if (_mm_testz_si128(ac, ac)) {
		const int16_t rows = static_cast<int16_t>(static_cast<uint32_t>(block[0]) << 3);
		const __m128i flat = _mm_set1_epi16(static_cast<int16_t>((rows + 32) >> 6));
		for (int k = 0; k < 8; ++k)
			_mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), flat);
		return;
	}
	// Row pass with the rows in lanes, then back to rows for the column pass with columns in lanes.
	Transpose8x8Epi16(r);
	IdctPass<false>(r);
	Transpose8x8Epi16(r);
	IdctPass<true>(r);
	for (int k = 0; k < 8; ++k)
		_mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), r[k]);
}

#endif  // KORVO_DSP_X86
