// Pixel conversions with SSE2, bit-exact with the plain rows: planes to BGRA and packed 4:2:2 for
// the decoder, BGRA and packed 4:2:2 to planes for the encoder. The colour matrices' factors above
// 16 bits are split into a multiple of 65536 and a 16-bit rest, so every product comes from
// _mm_madd_epi16 and the sums are the plain kernels' exact 32-bit values; the saturating packs clamp
// to 0..255 as the clamp table does.
#include "kernels_internal.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <emmintrin.h>

#include <cstring>

#include "lanes_sse2.h"

#define KORVO_SSE2 __attribute__((target("sse2")))

namespace {

KORVO_SSE2 inline __m128i Load4(const uint8_t* p)
{
	int32_t word;
	std::memcpy(&word, p, 4);
	return _mm_cvtsi32_si128(word);
}

// Pairs (a, b) of 16-bit lanes times (ka, kb), plus (c << 16), for the four low and four high lanes.
struct Sums {
	__m128i low, high;
};
KORVO_SSE2 inline Sums MaddPlusShifted(__m128i a, __m128i b, __m128i k, __m128i c)
{
	const __m128i zero = _mm_setzero_si128();
	return {_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), k), _mm_unpacklo_epi16(zero, c)),
	        _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), k), _mm_unpackhi_epi16(zero, c))};
}

KORVO_SSE2 inline __m128i Pair(int16_t a, int16_t b)
{
	return _mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16 |
	                                           static_cast<uint16_t>(a)));
}

// Eight clamped bytes (in the low half) from eight 32-bit sums shifted right by 16.
KORVO_SSE2 inline __m128i Clamped(Sums s)
{
	const __m128i words = _mm_packs_epi32(_mm_srai_epi32(s.low, 16), _mm_srai_epi32(s.high, 16));
	return _mm_packus_epi16(words, words);
}

// R = (Y' - 16) * 76309 + 104597 * cr: 76309 = 65536 + 10773, 104597 = 2 * 65536 - 26475.
// G = (Y' - 16) * 76309 - 25674 * cb - 53279 * cr: -53279 = -65536 + 12257.
// B = (Y' - 16) * 76309 + 132201 * cb: 132201 = 2 * 65536 + 1129.
KORVO_SSE2 void RowToBGRA_SSE2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0,
                               uint32_t x1)
{
	const __m128i zero = _mm_setzero_si128();
	const __m128i c16 = _mm_set1_epi16(16), c128 = _mm_set1_epi16(128);
	uint32_t x = x0;
	for (; x + 8 <= x1; x += 8) {
		const __m128i luma = _mm_sub_epi16(_mm_unpacklo_epi8(Load8(y + x), zero), c16);
		__m128i cb = _mm_sub_epi16(_mm_unpacklo_epi8(Load4(u + (x >> 1)), zero), c128);
		__m128i cr = _mm_sub_epi16(_mm_unpacklo_epi8(Load4(v + (x >> 1)), zero), c128);
		cb = _mm_unpacklo_epi16(cb, cb);  // each chroma sample for its two pixels
		cr = _mm_unpacklo_epi16(cr, cr);
		const __m128i r = Clamped(
		        MaddPlusShifted(luma, cr, Pair(10773, -26475), _mm_add_epi16(luma, _mm_add_epi16(cr, cr))));
		const __m128i b = Clamped(
		        MaddPlusShifted(luma, cb, Pair(10773, 1129), _mm_add_epi16(luma, _mm_add_epi16(cb, cb))));
		Sums g = MaddPlusShifted(luma, cb, Pair(10773, -25674), _mm_sub_epi16(luma, cr));
		const __m128i crTerm = Pair(12257, 0);
		g.low = _mm_add_epi32(g.low, _mm_madd_epi16(_mm_unpacklo_epi16(cr, zero), crTerm));
		g.high = _mm_add_epi32(g.high, _mm_madd_epi16(_mm_unpackhi_epi16(cr, zero), crTerm));
		const __m128i bg = _mm_unpacklo_epi8(b, Clamped(g));
		const __m128i ra = _mm_unpacklo_epi8(r, zero);  // alpha 0
		Store16(out + 4 * x, _mm_unpacklo_epi16(bg, ra));
		Store16(out + 4 * x + 16, _mm_unpackhi_epi16(bg, ra));
	}
	if (x < x1)
		RowToBGRA_C(y, u, v, out, x, x1);
}

// Sixteen pixels at a time: the chroma pairs interleaved, then with the luminance.
template <bool kChromaFirst>
KORVO_SSE2 void RowToPacked422(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0,
                               uint32_t x1)
{
	uint32_t x = x0;
	for (; x + 16 <= x1; x += 16) {
		const __m128i luma = Load16(y + x);
		const __m128i chroma = _mm_unpacklo_epi8(Load8(u + (x >> 1)), Load8(v + (x >> 1)));
		uint8_t* o = out + 2 * x;
		if constexpr (kChromaFirst) {
			Store16(o, _mm_unpacklo_epi8(chroma, luma));
			Store16(o + 16, _mm_unpackhi_epi8(chroma, luma));
		} else {
			Store16(o, _mm_unpacklo_epi8(luma, chroma));
			Store16(o + 16, _mm_unpackhi_epi8(luma, chroma));
		}
	}
	if (x + 1 < x1)
		(kChromaFirst ? RowTo2VUY_C : RowToYUVS_C)(y, u, v, out, x, x1);
}

KORVO_SSE2 void RowToYUVS_SSE2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0,
                               uint32_t x1)
{
	RowToPacked422<false>(y, u, v, out, x0, x1);
}

KORVO_SSE2 void RowTo2VUY_SSE2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0,
                               uint32_t x1)
{
	RowToPacked422<true>(y, u, v, out, x0, x1);
}

// B, G and R of eight BGRA pixels as 16-bit lanes.
struct Channels {
	__m128i b, g, r;
};
KORVO_SSE2 inline Channels Split(const uint8_t* in)
{
	const __m128i mask = _mm_set1_epi32(0xFF);
	const __m128i p0 = Load16(in), p1 = Load16(in + 16);
	auto channel = [&](int shift) {
		return _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(p0, shift), mask),
		                       _mm_and_si128(_mm_srli_epi32(p1, shift), mask));
	};
	return {channel(0), channel(8), channel(16)};
}

// (k1 * a + k2 * b + k3 * c) >> 16, plus offset, for eight lanes as eight 16-bit values (before
// clamping they lie within -128..383, so the pack cannot saturate).
KORVO_SSE2 inline __m128i Matrix(__m128i a, __m128i b, __m128i c, int16_t k1, int16_t k2, int16_t k3,
                                 int16_t offset)
{
	const __m128i zero = _mm_setzero_si128();
	const __m128i kab = Pair(k1, k2), kc = Pair(k3, 0);
	const __m128i low = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), kab),
	                                  _mm_madd_epi16(_mm_unpacklo_epi16(c, zero), kc));
	const __m128i high = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), kab),
	                                   _mm_madd_epi16(_mm_unpackhi_epi16(c, zero), kc));
	return _mm_add_epi16(_mm_packs_epi32(_mm_srai_epi32(low, 16), _mm_srai_epi32(high, 16)),
	                     _mm_set1_epi16(offset));
}

// Y' = ((16829 R + 33038 G + 6415 B) >> 16) + 16, with 33038 G = 16519 G + 16519 G.
KORVO_SSE2 void LumaFromBGRA_SSE2(const uint8_t* in, uint8_t* y, uint32_t width)
{
	uint32_t x = 0;
	for (; x + 8 <= width; x += 8) {
		const Channels c = Split(in + 4 * x);
		const __m128i zero = _mm_setzero_si128();
		const __m128i krg = Pair(16829, 16519), kbg = Pair(6415, 16519);
		const __m128i low = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(c.r, c.g), krg),
		                                  _mm_madd_epi16(_mm_unpacklo_epi16(c.b, c.g), kbg));
		const __m128i high = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(c.r, c.g), krg),
		                                   _mm_madd_epi16(_mm_unpackhi_epi16(c.b, c.g), kbg));
		const __m128i luma = _mm_add_epi16(_mm_packs_epi32(_mm_srai_epi32(low, 16), _mm_srai_epi32(high, 16)),
		                                   _mm_set1_epi16(16));
		_mm_storel_epi64(reinterpret_cast<__m128i*>(y + x), _mm_packus_epi16(luma, zero));
	}
	if (x < width)
		LumaFromBGRA_C(in + 4 * x, y + x, width - x);
}

// The chroma of the right pixel of each pair in the lower row: odd lanes of the eight computed.
KORVO_SSE2 void ChromaFromBGRA_SSE2(const uint8_t* upper, const uint8_t* lower, uint8_t* u, uint8_t* v,
                                    uint32_t pairs)
{
	uint32_t k = 0;
	for (; k + 4 <= pairs; k += 4) {
		const Channels c = Split(lower + 8 * k);
		const __m128i cb = Matrix(c.r, c.g, c.b, -9714, -19070, 28784, 128);
		const __m128i cr = Matrix(c.r, c.g, c.b, 28784, -24103, -4681, 128);
		// Odd lanes down to the low half of each 32-bit lane, then packed and clamped.
		const __m128i odd = _mm_packs_epi32(_mm_srai_epi32(cb, 16), _mm_srai_epi32(cr, 16));
		const __m128i bytes = _mm_packus_epi16(odd, odd);
		const int32_t cbWord = _mm_cvtsi128_si32(bytes), crWord = _mm_cvtsi128_si32(_mm_srli_si128(bytes, 4));
		std::memcpy(u + k, &cbWord, 4);
		std::memcpy(v + k, &crWord, 4);
	}
	if (k < pairs)
		ChromaFromBGRA_C(upper + 8 * k, lower + 8 * k, u + k, v + k, pairs - k);
}

// Y'0 Cb Y'1 Cr: the luminance is every even byte.
KORVO_SSE2 void LumaFromYUVS_SSE2(const uint8_t* in, uint8_t* y, uint32_t width)
{
	const __m128i mask = _mm_set1_epi16(0xFF);
	uint32_t x = 0;
	for (; x + 16 <= width; x += 16)
		Store16(y + x, _mm_packus_epi16(_mm_and_si128(Load16(in + 2 * x), mask),
		                                _mm_and_si128(Load16(in + 2 * x + 16), mask)));
	if (x < width)
		LumaFromYUVS_C(in + 2 * x, y + x, width - x);
}

// The rounded mean of the two rows is _mm_avg_epu8's (a + b + 1) >> 1; Cb is byte 1 and Cr byte 3 of
// every pair.
KORVO_SSE2 void ChromaFromYUVS_SSE2(const uint8_t* upper, const uint8_t* lower, uint8_t* u, uint8_t* v,
                                    uint32_t pairs)
{
	const __m128i mask = _mm_set1_epi32(0xFF);
	uint32_t k = 0;
	for (; k + 8 <= pairs; k += 8) {
		const __m128i a0 = _mm_avg_epu8(Load16(upper + 4 * k), Load16(lower + 4 * k));
		const __m128i a1 = _mm_avg_epu8(Load16(upper + 4 * k + 16), Load16(lower + 4 * k + 16));
		const __m128i cb = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(a0, 8), mask),
		                                   _mm_and_si128(_mm_srli_epi32(a1, 8), mask));
		const __m128i cr = _mm_packs_epi32(_mm_srli_epi32(a0, 24), _mm_srli_epi32(a1, 24));
		const __m128i bytes = _mm_packus_epi16(cb, cr);
		_mm_storel_epi64(reinterpret_cast<__m128i*>(u + k), bytes);
		_mm_storel_epi64(reinterpret_cast<__m128i*>(v + k), _mm_srli_si128(bytes, 8));
	}
	if (k < pairs)
		ChromaFromYUVS_C(upper + 4 * k, lower + 4 * k, u + k, v + k, pairs - k);
}

}  // namespace

void Kernels_InitPixelSSE2(KorvKernels* table)
{
	table->rowToBGRA = RowToBGRA_SSE2;
	table->rowToYUVS = RowToYUVS_SSE2;
	table->rowTo2VUY = RowTo2VUY_SSE2;
	table->lumaFromBGRA = LumaFromBGRA_SSE2;
	table->chromaFromBGRA = ChromaFromBGRA_SSE2;
	table->lumaFromYUVS = LumaFromYUVS_SSE2;
	table->chromaFromYUVS = ChromaFromYUVS_SSE2;
}

#endif  // KORVO_DSP_X86
