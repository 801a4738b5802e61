// The weighted lifting transforms of the level decisions with AVX2: both 1-D passes on the eight
// 32-bit lanes of one register; bit-exact with DCTWeighted_Inter and DCTQuantizeWeighted_Intra.
#include "kernels_internal.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <immintrin.h>

#include "lanes_sse2.h"
#include "row_levels_sse41.h"

#define KORVO_AVX2 __attribute__((target("avx2"), always_inline)) inline

namespace {

// (k * v) >> 14 on the wrapped 32-bit product.
KORVO_AVX2 __m256i Mul14(int32_t k, __m256i v)
{
	return _mm256_srai_epi32(_mm256_mullo_epi32(v, _mm256_set1_epi32(k)), 14);
}

KORVO_AVX2 __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
KORVO_AVX2 __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }

// One 1-D lifting pass: x[i] holds input i of eight lanes; x[k] receives output k.
template <int kPreShift>
KORVO_AVX2 void LiftingPass(__m256i* x)
{
	const __m256i s07 = _mm256_slli_epi32(Add(x[0], x[7]), kPreShift),
	              d07 = _mm256_slli_epi32(Sub(x[0], x[7]), kPreShift);
	const __m256i s16 = _mm256_slli_epi32(Add(x[1], x[6]), kPreShift),
	              d16 = _mm256_slli_epi32(Sub(x[1], x[6]), kPreShift);
	const __m256i s25 = _mm256_slli_epi32(Add(x[2], x[5]), kPreShift),
	              d25 = _mm256_slli_epi32(Sub(x[2], x[5]), kPreShift);
	const __m256i s34 = _mm256_slli_epi32(Add(x[3], x[4]), kPreShift),
	              d34 = _mm256_slli_epi32(Sub(x[3], x[4]), kPreShift);

	const __m256i a0 = Add(s07, s34), a3 = Sub(s07, s34), a1 = Add(s16, s25), a2 = Sub(s16, s25);
	const __m256i X6 = Sub(a2, Mul14(6786, a3));
	const __m256i X2 = Add(a3, Mul14(5793, X6));

	const __m256i e0 = Mul14(11585, Add(d16, d25)), e1 = Mul14(11585, Sub(d16, d25));
	const __m256i f0 = Add(d34, e1), f1 = Sub(d34, e1), g0 = Add(d07, e0), g1 = Sub(d07, e0);
	const __m256i X7 = Sub(f0, Mul14(3259, g0));
	const __m256i X1 = Add(g0, Mul14(3135, X7));
	const __m256i X5 = Add(f1, Mul14(10947, g1));
	const __m256i X3 = Sub(g1, Mul14(7568, X5));

	x[0] = Add(a0, a1);
	x[1] = X1;
	x[2] = X2;
	x[3] = X3;
	x[4] = Sub(a0, a1);
	x[5] = X5;
	x[6] = X6;
	x[7] = X7;
}

// Eight rows of eight 32-bit values, transposed in place.
KORVO_AVX2 void Transpose8x8Epi32(__m256i* y)
{
	__m256i t[8], u[8];
	for (int k = 0; k < 4; ++k) {
		t[2 * k] = _mm256_unpacklo_epi32(y[2 * k], y[2 * k + 1]);
		t[2 * k + 1] = _mm256_unpackhi_epi32(y[2 * k], y[2 * k + 1]);
	}
	for (int k = 0; k < 2; ++k) {
		u[4 * k] = _mm256_unpacklo_epi64(t[4 * k], t[4 * k + 2]);
		u[4 * k + 1] = _mm256_unpackhi_epi64(t[4 * k], t[4 * k + 2]);
		u[4 * k + 2] = _mm256_unpacklo_epi64(t[4 * k + 1], t[4 * k + 3]);
		u[4 * k + 3] = _mm256_unpackhi_epi64(t[4 * k + 1], t[4 * k + 3]);
	}
	for (int k = 0; k < 4; ++k) {
		y[k] = _mm256_permute2x128_si256(u[k], u[4 + k], 0x20);
		y[4 + k] = _mm256_permute2x128_si256(u[k], u[4 + k], 0x31);
	}
}

// The lifting transform of a block: y[k] receives row k of the 32 * g_u * g_v scaled coefficients.
KORVO_AVX2 void LiftingDct(const int16_t* in, __m256i* y)
{
	__m128i r[8];
	for (int k = 0; k < 8; ++k)
		r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8 * k));
	// Row pass with the rows in lanes: column i of the input is input i of every lane.
	Transpose8x8Epi16(r);
	for (int i = 0; i < 8; ++i)
		y[i] = _mm256_cvtepi16_epi32(r[i]);
	LiftingPass<5>(y);
	// y[k] holds column k of the row results: back to rows for the column pass.
	Transpose8x8Epi32(y);
	LiftingPass<0>(y);
}

// round(16 F / W) for a row: (x * 16 * factor + 2^19) >> 20 on the wrapped products.
KORVO_AVX2 __m256i Weighted(__m256i coefficients, const int16_t* factors)
{
	const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(factors));
	const __m256i scaled = _mm256_slli_epi32(_mm256_cvtepi16_epi32(f), 4);
	return _mm256_srai_epi32(
	        _mm256_add_epi32(_mm256_mullo_epi32(coefficients, scaled), _mm256_set1_epi32(1 << 19)), 20);
}

__attribute__((target("avx2"))) void DctWeightedInter_AVX2(const int16_t* in, int32_t* weighted)
{
	__m256i y[8];
	LiftingDct(in, y);
	for (int k = 0; k < 8; ++k)
		_mm256_storeu_si256(reinterpret_cast<__m256i*>(weighted + 8 * k),
		                    Weighted(y[k], kScaledQuantizerCoefficient_Inter + 8 * k));
}

// Intra: the AC levels rounded by (3 * quant + 2) >> 2 away from zero, the DC by its own reciprocal;
// the weighted values too when `weighted` is not null (its DC 0).
__attribute__((target("avx2"))) void DctQuantizeWeightedIntra_AVX2(const int16_t* in, uint16_t quant,
                                                                   bool luma, int16_t* out, int32_t* weighted)
{
	const uint32_t q = quant == 0 ? 1 : (quant > 31 ? 31 : quant);
	const uint16_t* dcReciprocal = luma ? kScaledQuantizerDCScaler_Y : kScaledQuantizerDCScaler_UV;
	__m256i y[8];
	LiftingDct(in, y);
	const __m128i offset = _mm_set1_epi16(static_cast<int16_t>((3 * q + 2) >> 2));
	const uint32_t dc = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm256_castsi256_si128(y[0])));
	for (int k = 0; k < 8; ++k) {
		__m256i t = Weighted(y[k], kScaledQuantizerCoefficient_Intra + 8 * k);
		__m128i levels = RowLevels(_mm_packs_epi32(_mm256_castsi256_si128(t), _mm256_extracti128_si256(t, 1)),
		                           offset, kDivisors.byQuant[q]);
		if (k == 0) {
			levels = _mm_insert_epi16(levels, korvo_dsp::Sar(dc * dcReciprocal[q] + (1u << 19), 20), 0);
			t = _mm256_blend_epi32(t, _mm256_setzero_si256(), 1);
		}
		_mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * k), levels);
		if (weighted)
			_mm256_storeu_si256(reinterpret_cast<__m256i*>(weighted + 8 * k), t);
	}
}

}  // namespace

void Kernels_InitQuantizeAVX2(KorvKernels* table)
{
	table->dctWeightedInter = DctWeightedInter_AVX2;
	table->dctQuantizeWeightedIntra = DctQuantizeWeightedIntra_AVX2;
}

#endif  // KORVO_DSP_X86
