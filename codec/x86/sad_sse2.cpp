// The SADs and measures of motion search and the skip and intra decisions with SSE2, bit-exact with
// the plain kernels (or, for the abandoning SADs, making the same decisions): the half-sample
// averages are formed with the same rounding.
#include "kernels_internal.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <emmintrin.h>

#include "lanes_sse2.h"

#define KORVO_SSE2 __attribute__((target("sse2")))

namespace {

// The sum of the two 64-bit halves of a _mm_sad_epu8 result.
KORVO_SSE2 inline int32_t Total(__m128i sads)
{
	return _mm_cvtsi128_si32(_mm_add_epi32(sads, _mm_srli_si128(sads, 8)));
}

// Abandoned after a group of four rows whose running sum exceeds the limit: the contract lets a
// kernel report any value above the limit, and testing every fourth row costs less.
KORVO_SSE2 int32_t BlockSad16_SSE2(const uint8_t* reference, const uint8_t* current, uint32_t stride,
                                   int32_t limit)
{
	const size_t step = stride;
	__m128i sads = _mm_setzero_si128();
	int32_t sum = 0;
	for (int group = 0; group < 4; ++group) {
		for (int row = 0; row < 4; ++row, reference += step, current += step)
			sads = _mm_add_epi64(sads, _mm_sad_epu8(Load16(reference), Load16(current)));
		sum = Total(sads);
		if (sum > limit)
			break;
	}
	return sum;
}

// (x + y + 1 - rounding) >> 1 for bytes: the rounded-up average, less 1 where rounding is 1 and the
// sum is odd.
KORVO_SSE2 inline __m128i Average2(__m128i x, __m128i y, __m128i roundingMask)
{
	return _mm_sub_epi8(_mm_avg_epu8(x, y), _mm_and_si128(_mm_xor_si128(x, y), roundingMask));
}

// p[i] + p[i + 1] for the sixteen samples of a row, as two halves of 16-bit lanes.
struct PairSums {
	__m128i low, high;
};

KORVO_SSE2 inline PairSums LoadPairSums(const uint8_t* p)
{
	const __m128i zero = _mm_setzero_si128();
	const __m128i at = Load16(p), right = Load16(p + 1);
	return {_mm_add_epi16(_mm_unpacklo_epi8(at, zero), _mm_unpacklo_epi8(right, zero)),
	        _mm_add_epi16(_mm_unpackhi_epi8(at, zero), _mm_unpackhi_epi8(right, zero))};
}

// The half-sample offset (+1, +1): each row's pair sums serve the prediction rows above and below
// it. Abandoned, like BlockSad16_SSE2, after a group of four rows whose running sum exceeds limit.
KORVO_SSE2 int32_t HalfSampleSadDiagonal_SSE2(const uint8_t* p, const uint8_t* s, uint32_t stride,
                                              int32_t rounding, int32_t limit)
{
	const size_t step = stride;
	const __m128i bias = _mm_set1_epi16(static_cast<int16_t>(2 - rounding));
	PairSums above = LoadPairSums(p);
	__m128i sads = _mm_setzero_si128();
	int32_t sum = 0;
	for (int group = 0; group < 4; ++group) {
		for (int row = 0; row < 4; ++row, s += step) {
			p += step;
			const PairSums below = LoadPairSums(p);
			const __m128i prediction = _mm_packus_epi16(
			        _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(above.low, below.low), bias), 2),
			        _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(above.high, below.high), bias), 2));
			sads = _mm_add_epi64(sads, _mm_sad_epu8(prediction, Load16(s)));
			above = below;
		}
		sum = Total(sads);
		if (sum > limit)
			break;
	}
	return sum;
}

// One row of the reference around the block's columns: its samples at offsets 0, -1 and +1, and the
// horizontal pair sums (left: x[-1] + x[0], right: x[0] + x[1]) as 16-bit lanes, low and high halves.
struct HalfRow {
	__m128i at, left, right;
	__m128i leftLow, leftHigh, rightLow, rightHigh;
};

KORVO_SSE2 inline HalfRow LoadHalfRow(const uint8_t* p)
{
	const __m128i zero = _mm_setzero_si128();
	HalfRow r;
	r.at = Load16(p);
	r.left = Load16(p - 1);
	r.right = Load16(p + 1);
	const __m128i atLow = _mm_unpacklo_epi8(r.at, zero), atHigh = _mm_unpackhi_epi8(r.at, zero);
	r.leftLow = _mm_add_epi16(_mm_unpacklo_epi8(r.left, zero), atLow);
	r.leftHigh = _mm_add_epi16(_mm_unpackhi_epi8(r.left, zero), atHigh);
	r.rightLow = _mm_add_epi16(_mm_unpacklo_epi8(r.right, zero), atLow);
	r.rightHigh = _mm_add_epi16(_mm_unpackhi_epi8(r.right, zero), atHigh);
	return r;
}

// (four-sample sum + bias) >> 2 from the pair sums of two rows.
KORVO_SSE2 inline __m128i Average4Sums(__m128i low0, __m128i high0, __m128i low1, __m128i high1, __m128i bias)
{
	return _mm_packus_epi16(_mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(low0, low1), bias), 2),
	                        _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(high0, high1), bias), 2));
}

// All eight candidates in one pass over the rows: each reference row is loaded and widened once and
// serves the rows above and below it.
KORVO_SSE2 void HalfSampleSads_SSE2(const uint8_t* p, const uint8_t* s, uint32_t stride, int32_t rounding,
                                    int32_t sads[kHalfSampleCandidates])
{
	const ptrdiff_t rowStep = ptrdiff_t(stride);
	const __m128i roundingMask = _mm_set1_epi8(static_cast<char>(rounding & 1));
	const __m128i bias = _mm_set1_epi16(static_cast<int16_t>(2 - rounding));
	__m128i sum[kHalfSampleCandidates];
	for (__m128i& v : sum)
		v = _mm_setzero_si128();
	HalfRow up = LoadHalfRow(p - rowStep), mid = LoadHalfRow(p);
	for (int j = 0; j < 16; ++j, s += rowStep) {
		const HalfRow down = LoadHalfRow(p + (j + 1) * rowStep);
		const __m128i source = Load16(s);
		const __m128i prediction[kHalfSampleCandidates] = {
		        Average2(mid.left, mid.at, roundingMask),
		        Average2(mid.at, mid.right, roundingMask),
		        Average2(up.at, mid.at, roundingMask),
		        Average2(mid.at, down.at, roundingMask),
		        Average4Sums(up.leftLow, up.leftHigh, mid.leftLow, mid.leftHigh, bias),
		        Average4Sums(up.rightLow, up.rightHigh, mid.rightLow, mid.rightHigh, bias),
		        Average4Sums(mid.leftLow, mid.leftHigh, down.leftLow, down.leftHigh, bias),
		        Average4Sums(mid.rightLow, mid.rightHigh, down.rightLow, down.rightHigh, bias),
		};
		for (int c = 0; c < kHalfSampleCandidates; ++c)
			sum[c] = _mm_add_epi64(sum[c], _mm_sad_epu8(prediction[c], source));
		up = mid;
		mid = down;
	}
	for (int c = 0; c < kHalfSampleCandidates; ++c)
		sads[c] = Total(sum[c]);
}

KORVO_SSE2 uint32_t SadIncrease8x8_SSE2(const uint8_t* source, uint32_t sourceStride,
                                        const uint8_t* reference, uint32_t referenceStride,
                                        int32_t* largestIncrease)
{
	__m128i sads = _mm_setzero_si128();
	__m128i increase = _mm_setzero_si128();
	for (int j = 0; j < 8;
	     j += 2, source += 2 * size_t{sourceStride}, reference += 2 * size_t{referenceStride}) {
		const __m128i s = _mm_unpacklo_epi64(Load8(source), Load8(source + sourceStride));
		const __m128i r = _mm_unpacklo_epi64(Load8(reference), Load8(reference + referenceStride));
		sads = _mm_add_epi64(sads, _mm_sad_epu8(s, r));
		// max(0, s - r) per sample; the plain kernel raises the increase only by positive differences.
		increase = _mm_max_epu8(increase, _mm_subs_epu8(s, r));
	}
	increase = _mm_max_epu8(increase, _mm_srli_si128(increase, 8));
	increase = _mm_max_epu8(increase, _mm_srli_si128(increase, 4));
	increase = _mm_max_epu8(increase, _mm_srli_si128(increase, 2));
	increase = _mm_max_epu8(increase, _mm_srli_si128(increase, 1));
	const int32_t largest = _mm_cvtsi128_si32(increase) & 0xFF;
	if (largest > *largestIncrease)
		*largestIncrease = largest;
	return uint32_t(Total(sads));
}

KORVO_SSE2 uint32_t Sse8x8_SSE2(const uint8_t* source, uint32_t sourceStride, const uint8_t* reference,
                                uint32_t referenceStride)
{
	const __m128i zero = _mm_setzero_si128();
	__m128i sum = zero;
	for (int j = 0; j < 8; ++j, source += sourceStride, reference += referenceStride) {
		const __m128i d = _mm_sub_epi16(_mm_unpacklo_epi8(Load8(source), zero),
		                                _mm_unpacklo_epi8(Load8(reference), zero));
		sum = _mm_add_epi32(sum, _mm_madd_epi16(d, d));
	}
	sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 8));
	sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 4));
	return uint32_t(_mm_cvtsi128_si32(sum));
}

// p[i] + p[i + 1] for the eight samples of a row, as 16-bit values.
KORVO_SSE2 __m128i PairSums(const uint8_t* row)
{
	const __m128i zero = _mm_setzero_si128();
	return _mm_add_epi16(_mm_unpacklo_epi8(Load8(row), zero), _mm_unpacklo_epi8(Load8(row + 1), zero));
}

// Each row's pair sums serve the prediction rows above and below it.
KORVO_SSE2 uint32_t SadAverage4_8x8_SSE2(const uint8_t* source, const uint8_t* p, uint32_t stride,
                                         int32_t bias)
{
	const size_t step = stride;
	const __m128i b = _mm_set1_epi16(static_cast<int16_t>(bias));
	__m128i above = PairSums(p);
	__m128i sads = _mm_setzero_si128();
	for (int j = 0; j < 8; j += 2, source += 2 * step) {
		const __m128i middle = PairSums(p + (j + 1) * step);
		const __m128i below = PairSums(p + (j + 2) * step);
		const __m128i upper = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(above, middle), b), 2);
		const __m128i lower = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(middle, below), b), 2);
		const __m128i s = _mm_unpacklo_epi64(Load8(source), Load8(source + step));
		sads = _mm_add_epi64(sads, _mm_sad_epu8(s, _mm_packus_epi16(upper, lower)));
		above = below;
	}
	return uint32_t(Total(sads));
}

// Sums in 32-bit lanes; the mean is the truncating integer one, as in the plain kernel. Each
// |s - mean| is max - min of two 16-bit values, which fits 16 bits unsigned.
KORVO_SSE2 int32_t Deviation16x16_SSE2(const int16_t* y0, const int16_t* y1, const int16_t* y2,
                                       const int16_t* y3)
{
	const int16_t* const blocks[4] = {y0, y1, y2, y3};
	const __m128i ones = _mm_set1_epi16(1), zero = _mm_setzero_si128();
	__m128i sums = zero;
	for (const int16_t* block : blocks)
		for (int i = 0; i < 64; i += 8)
			sums = _mm_add_epi32(
			        sums, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i)), ones));
	sums = _mm_add_epi32(sums, _mm_srli_si128(sums, 8));
	sums = _mm_add_epi32(sums, _mm_srli_si128(sums, 4));
	// The mean of 16-bit values is a 16-bit value.
	const __m128i mean = _mm_set1_epi16(static_cast<int16_t>(_mm_cvtsi128_si32(sums) / 256));
	__m128i deviation = zero;
	for (const int16_t* block : blocks)
		for (int i = 0; i < 64; i += 8) {
			const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
			const __m128i d = _mm_sub_epi16(_mm_max_epi16(v, mean), _mm_min_epi16(v, mean));
			deviation = _mm_add_epi32(
			        deviation, _mm_add_epi32(_mm_unpacklo_epi16(d, zero), _mm_unpackhi_epi16(d, zero)));
		}
	deviation = _mm_add_epi32(deviation, _mm_srli_si128(deviation, 8));
	deviation = _mm_add_epi32(deviation, _mm_srli_si128(deviation, 4));
	return _mm_cvtsi128_si32(deviation);
}

}  // namespace

void Kernels_InitSadSSE2(KorvKernels* table)
{
	table->halfSampleSads = HalfSampleSads_SSE2;
	table->blockSad16 = BlockSad16_SSE2;
	table->halfSampleSadDiagonal = HalfSampleSadDiagonal_SSE2;
	table->sadIncrease8x8 = SadIncrease8x8_SSE2;
	table->sse8x8 = Sse8x8_SSE2;
	table->sadAverage4_8x8 = SadAverage4_8x8_SSE2;
	table->deviation16x16 = Deviation16x16_SSE2;
}

#endif  // KORVO_DSP_X86
