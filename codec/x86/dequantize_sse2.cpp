// Reconstruction's dequantisation with SSE2, bit-exact with DequantizeIntra and DequantizeInter: the
// 32-bit products of level and table entry from 16-bit halves, shifted, kept to their low 16 bits.
#include "kernels_internal.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <emmintrin.h>

#define KORVO_SSE2 __attribute__((target("sse2")))

namespace {

KORVO_SSE2 inline __m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
KORVO_SSE2 inline void Store(int16_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// The low 16 bits of a 32-bit lane, as a signed value (so that the pack keeps them exactly).
KORVO_SSE2 inline __m128i Low16(__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); }

inline uint32_t TableQuant(uint8_t quant) { return quant > 31 ? 31 : quant; }

// (level * m) >> 4 for levels 1..63; a zero level gives a zero product, so no test is needed. The
// table entries are below 2^15, so the signed 16x16 products are exact.
KORVO_SSE2 void DequantizeIntra_SSE2(const int16_t* coef, int16_t* recon, uint8_t quant, uint32_t blockIndex)
{
	const uint32_t q = TableQuant(quant);
	const uint16_t* m = QuantTableIntra[q];
	const int16_t dc = static_cast<int16_t>(coef[0] * DCScalerTable[q * 8 + (blockIndex > 7 ? 7 : blockIndex)]);
	for (int i = 0; i < 64; i += 8) {
		const __m128i c = Load(coef + i), w = Load(m + i);
		const __m128i low = _mm_mullo_epi16(c, w), high = _mm_mulhi_epi16(c, w);
		// Bits 4..19 of the product.
		Store(recon + i, _mm_or_si128(_mm_srli_epi16(low, 4), _mm_slli_epi16(high, 12)));
	}
	recon[0] = dc;
}

// ((2 * level + sign(level)) * m) >> 4 = (2 * level * m + sign(level) * m) >> 4, zero for a zero level.
KORVO_SSE2 void DequantizeInter_SSE2(const int16_t* coef, int16_t* recon, uint8_t quant)
{
	const uint16_t* m = QuantTableInter[TableQuant(quant)];
	const __m128i zero = _mm_setzero_si128();
	for (int i = 0; i < 64; i += 8) {
		const __m128i c = Load(coef + i), w = Load(m + i);
		const __m128i low = _mm_mullo_epi16(c, w), high = _mm_mulhi_epi16(c, w);
		const __m128i signedW = _mm_sub_epi16(_mm_and_si128(_mm_cmpgt_epi16(c, zero), w),
		                                      _mm_and_si128(_mm_cmplt_epi16(c, zero), w));
		const __m128i signedWHigh = _mm_srai_epi16(signedW, 15);
		const __m128i sum0 = _mm_add_epi32(_mm_slli_epi32(_mm_unpacklo_epi16(low, high), 1),
		                                   _mm_unpacklo_epi16(signedW, signedWHigh));
		const __m128i sum1 = _mm_add_epi32(_mm_slli_epi32(_mm_unpackhi_epi16(low, high), 1),
		                                   _mm_unpackhi_epi16(signedW, signedWHigh));
		Store(recon + i, _mm_packs_epi32(Low16(_mm_srai_epi32(sum0, 4)), Low16(_mm_srai_epi32(sum1, 4))));
	}
}

}  // namespace

// out = a - b, wrapping at 16 bits (hook slot 7).
KORVO_SSE2 void BlockSub_SSE2(const int16_t* a, const int16_t* b, int16_t* out)
{
	for (int i = 0; i < 64; i += 8)
		Store(out + i, _mm_sub_epi16(Load(a + i), Load(b + i)));
}

void Kernels_InitDequantizeSSE2(KorvKernels* table)
{
	table->dequantizeIntra = DequantizeIntra_SSE2;
	table->dequantizeInter = DequantizeInter_SSE2;
}

#endif  // KORVO_DSP_X86
