// The encoder's fused lifting transform and quantisers with SSE4.1: both 1-D passes on eight lanes
// of wrapping 32-bit arithmetic, the scaled quantiser factors, and the division by 2 * quant as an
// exact multiply-high; bit-exact with GapsDCTQuantize_Inter, _IntraY and _IntraUV, and with the
// weighted forms DCTWeighted_Inter and DCTQuantizeWeighted_Intra.
#include "kernels_internal.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <immintrin.h>

#include "lanes_sse2.h"
#include "row_levels_sse41.h"

#define KORVO_SSE41 __attribute__((target("sse4.1"), always_inline)) inline

namespace {

// (k * v) >> 14 on the wrapped 32-bit product.
KORVO_SSE41 Wide Mul14(int32_t k, Wide v)
{
	const __m128i kk = _mm_set1_epi32(k);
	return {_mm_srai_epi32(_mm_mullo_epi32(v.low, kk), 14), _mm_srai_epi32(_mm_mullo_epi32(v.high, kk), 14)};
}

// One 1-D lifting pass: x[i] holds input i of eight lanes; x[k] receives output k.
template <int kPreShift>
KORVO_SSE41 void LiftingPass(Wide* x)
{
	const Wide s07 = ShiftLeft(x[0] + x[7], kPreShift), d07 = ShiftLeft(x[0] - x[7], kPreShift);
	const Wide s16 = ShiftLeft(x[1] + x[6], kPreShift), d16 = ShiftLeft(x[1] - x[6], kPreShift);
	const Wide s25 = ShiftLeft(x[2] + x[5], kPreShift), d25 = ShiftLeft(x[2] - x[5], kPreShift);
	const Wide s34 = ShiftLeft(x[3] + x[4], kPreShift), d34 = ShiftLeft(x[3] - x[4], kPreShift);

	const Wide a0 = s07 + s34, a3 = s07 - s34, a1 = s16 + s25, a2 = s16 - s25;
	const Wide X6 = a2 - Mul14(6786, a3);
	const Wide X2 = a3 + Mul14(5793, X6);

	const Wide e0 = Mul14(11585, d16 + d25), e1 = Mul14(11585, d16 - d25);
	const Wide f0 = d34 + e1, f1 = d34 - e1, g0 = d07 + e0, g1 = d07 - e0;
	const Wide X7 = f0 - Mul14(3259, g0);
	const Wide X1 = g0 + Mul14(3135, X7);
	const Wide X5 = f1 + Mul14(10947, g1);
	const Wide X3 = g1 - Mul14(7568, X5);

	x[0] = a0 + a1;
	x[1] = X1;
	x[2] = X2;
	x[3] = X3;
	x[4] = a0 - a1;
	x[5] = X5;
	x[6] = X6;
	x[7] = X7;
}

// The lifting transform of a block: y[k] receives row k of the 32 * g_u * g_v scaled coefficients.
KORVO_SSE41 void LiftingDct(const int16_t* in, Wide* y)
{
	__m128i r[8];
	for (int k = 0; k < 8; ++k)
		r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8 * k));
	// Row pass with the rows in lanes: column i of the input is input i of every lane.
	Transpose8x8Epi16(r);
	for (int i = 0; i < 8; ++i)
		y[i] = {_mm_cvtepi16_epi32(r[i]), _mm_cvtepi16_epi32(_mm_srli_si128(r[i], 8))};
	LiftingPass<5>(y);
	// y[k] now holds column k of the row results, rows in lanes: back to rows for the column pass.
	Transpose4x4Epi32(y[0].low, y[1].low, y[2].low, y[3].low);
	Transpose4x4Epi32(y[4].high, y[5].high, y[6].high, y[7].high);
	Transpose4x4Epi32(y[4].low, y[5].low, y[6].low, y[7].low);
	Transpose4x4Epi32(y[0].high, y[1].high, y[2].high, y[3].high);
	for (int k = 0; k < 4; ++k) {
		const __m128i upperRight = y[4 + k].low;  // rows 0..3, columns 4..7
		y[4 + k].low = y[k].high;                 // rows 4..7, columns 0..3
		y[k].high = upperRight;
	}
	LiftingPass<0>(y);
}

// The eight rounded values t = round(16 F / W) of one row: (x * 16 * factor + 2^19) >> 20 on the
// wrapped products, so 12 significant bits remain.
KORVO_SSE41 Wide Weighted(Wide coefficients, const int16_t* factors)
{
	const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(factors));
	const __m128i bias = _mm_set1_epi32(1 << 19);
	const __m128i low = _mm_srai_epi32(
	        _mm_add_epi32(_mm_mullo_epi32(coefficients.low, _mm_slli_epi32(_mm_cvtepi16_epi32(f), 4)), bias),
	        20);
	const __m128i high = _mm_srai_epi32(
	        _mm_add_epi32(_mm_mullo_epi32(coefficients.high,
	                                      _mm_slli_epi32(_mm_cvtepi16_epi32(_mm_srli_si128(f, 8)), 4)),
	                      bias),
	        20);
	return {low, high};
}

// Levels of one row from its weighted values t; 12 significant bits pack without saturating.
KORVO_SSE41 __m128i Levels(Wide weighted, __m128i offset, Divisor d)
{
	return RowLevels(_mm_packs_epi32(weighted.low, weighted.high), offset, d);
}

KORVO_SSE41 void StoreWide(int32_t* out, Wide v)
{
	_mm_storeu_si128(reinterpret_cast<__m128i*>(out), v.low);
	_mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), v.high);
}

inline uint32_t CodingQuant(uint16_t quant) { return quant == 0 ? 1 : (quant > 31 ? 31 : quant); }

__attribute__((target("sse4.1"))) void DctQuantizeInter_SSE41(const int16_t* in, uint16_t quant, int16_t* out)
{
	const uint32_t q = CodingQuant(quant);
	Wide y[8];
	LiftingDct(in, y);
	const __m128i zero = _mm_setzero_si128();
	for (int k = 0; k < 8; ++k)
		_mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * k),
		                 Levels(Weighted(y[k], kScaledQuantizerCoefficient_Inter + 8 * k), zero,
		                        kDivisors.byQuant[q]));
}

__attribute__((target("sse4.1"))) void DctWeightedInter_SSE41(const int16_t* in, int32_t* weighted)
{
	Wide y[8];
	LiftingDct(in, y);
	for (int k = 0; k < 8; ++k)
		StoreWide(weighted + 8 * k, Weighted(y[k], kScaledQuantizerCoefficient_Inter + 8 * k));
}

// Intra: the AC levels rounded by (3 * quant + 2) >> 2 away from zero, the DC by its own reciprocal;
// the weighted values too when `weighted` is not null (its DC 0).
KORVO_SSE41 void DctQuantizeIntra(const int16_t* in, uint16_t quant, int16_t* out,
                                  const uint16_t* dcReciprocal, int32_t* weighted)
{
	const uint32_t q = CodingQuant(quant);
	Wide y[8];
	LiftingDct(in, y);
	const __m128i offset = _mm_set1_epi16(static_cast<int16_t>((3 * q + 2) >> 2));
	const uint32_t dc = static_cast<uint32_t>(_mm_cvtsi128_si32(y[0].low));
	for (int k = 0; k < 8; ++k) {
		Wide t = Weighted(y[k], kScaledQuantizerCoefficient_Intra + 8 * k);
		__m128i levels = Levels(t, offset, kDivisors.byQuant[q]);
		if (k == 0) {
			levels = _mm_insert_epi16(levels, korvo_dsp::Sar(dc * dcReciprocal[q] + (1u << 19), 20), 0);
			t.low = _mm_insert_epi32(t.low, 0, 0);
		}
		_mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * k), levels);
		if (weighted)
			StoreWide(weighted + 8 * k, t);
	}
}

__attribute__((target("sse4.1"))) void DctQuantizeIntraY_SSE41(const int16_t* in, uint16_t quant,
                                                               int16_t* out)
{
	DctQuantizeIntra(in, quant, out, kScaledQuantizerDCScaler_Y, nullptr);
}

__attribute__((target("sse4.1"))) void DctQuantizeIntraUV_SSE41(const int16_t* in, uint16_t quant,
                                                                int16_t* out)
{
	DctQuantizeIntra(in, quant, out, kScaledQuantizerDCScaler_UV, nullptr);
}

__attribute__((target("sse4.1"))) void
DctQuantizeWeightedIntra_SSE41(const int16_t* in, uint16_t quant, bool luma, int16_t* out, int32_t* weighted)
{
	DctQuantizeIntra(in, quant, out, luma ? kScaledQuantizerDCScaler_Y : kScaledQuantizerDCScaler_UV,
	                 weighted);
}

}  // namespace

void Kernels_InitQuantizeSSE41(KorvKernels* table)
{
	table->dctQuantizeInter = DctQuantizeInter_SSE41;
	table->dctQuantizeIntraY = DctQuantizeIntraY_SSE41;
	table->dctQuantizeIntraUV = DctQuantizeIntraUV_SSE41;
	table->dctWeightedInter = DctWeightedInter_SSE41;
	table->dctQuantizeWeightedIntra = DctQuantizeWeightedIntra_SSE41;
}

#endif  // KORVO_DSP_X86
