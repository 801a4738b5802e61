// The deblocking edge filter with SSE2: the eight 1-D filters of one block edge in eight 16-bit lanes,
// both modes computed in every lane and chosen per lane by masks; bit-exact with the plain filter.
#include "filters_internal.h"
#include "kernels_internal.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <emmintrin.h>

#include <cstring>

#define KORVO_SSE2 __attribute__((target("sse2"), always_inline)) inline

namespace {

KORVO_SSE2 __m128i Abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

KORVO_SSE2 __m128i Select(__m128i mask, __m128i yes, __m128i no)
{
	return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

KORVO_SSE2 __m128i Times5(__m128i v) { return _mm_add_epi16(_mm_slli_epi16(v, 2), v); }

// 2 * (a - b) + 5 * (c - d): the three edge measures of the default mode.
KORVO_SSE2 __m128i Measure(__m128i a, __m128i b, __m128i c, __m128i d)
{
	return _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(a, b), 1), Times5(_mm_sub_epi16(c, d)));
}

// p[0..9] hold p0..p9 of eight lanes (0..255 each); on return p[1..8] hold the filtered samples.
// Every intermediate value stays within 16 bits: |a0| <= 1785, and a smoothing sum is at most 16 * 255.
__attribute__((target("sse2"))) void FilterLanes(__m128i p[10], int32_t quant)
{
	const __m128i zero = _mm_setzero_si128();
	const __m128i qp = _mm_set1_epi16(static_cast<int16_t>(quant));
	const __m128i qp2 = _mm_set1_epi16(static_cast<int16_t>(2 * quant));

	// Mode decision: every difference of at most 2 adds -1 to the count.
	__m128i count = zero;
	for (int i = 0; i < 9; ++i)
		count = _mm_add_epi16(count,
		                      _mm_cmplt_epi16(Abs16(_mm_sub_epi16(p[i], p[i + 1])), _mm_set1_epi16(3)));
	const __m128i dcMode = _mm_cmplt_epi16(count, _mm_set1_epi16(-5));

	// Default mode: a correction d of p4 and p5, zero in lanes that keep them.
	const __m128i a0 = Measure(p[3], p[6], p[5], p[4]);
	const __m128i absA0 = Abs16(a0);
	const __m128i e = _mm_sub_epi16(absA0, _mm_min_epi16(Abs16(Measure(p[1], p[4], p[3], p[2])),
	                                                     Abs16(Measure(p[5], p[8], p[7], p[6]))));
	const __m128i apply = _mm_andnot_si128(
	        dcMode, _mm_and_si128(_mm_cmplt_epi16(absA0, _mm_set1_epi16(static_cast<int16_t>(8 * quant))),
	                              _mm_cmpgt_epi16(e, zero)));
	__m128i d = _mm_srai_epi16(_mm_add_epi16(Times5(e), _mm_set1_epi16(32)), 6);
	d = Select(_mm_cmpgt_epi16(a0, zero), _mm_sub_epi16(zero, d), d);
	// Clipping towards half the step; equal p4 and p5 give both limits 0.
	const __m128i step = _mm_sub_epi16(p[4], p[5]);
	const __m128i half = _mm_srai_epi16(Abs16(step), 1);
	const __m128i upper = _mm_and_si128(_mm_cmpgt_epi16(step, zero), half);
	const __m128i lower = _mm_and_si128(_mm_cmplt_epi16(step, zero), _mm_sub_epi16(zero, half));
	d = _mm_and_si128(apply, _mm_min_epi16(_mm_max_epi16(d, lower), upper));

	// DC-offset mode, taken where the run is nearly flat and spans less than two quantiser steps.
	__m128i lo = p[1], hi = p[1];
	for (int i = 2; i <= 8; ++i) {
		lo = _mm_min_epi16(lo, p[i]);
		hi = _mm_max_epi16(hi, p[i]);
	}
	const __m128i smooth =
	        _mm_and_si128(dcMode, _mm_and_si128(_mm_cmplt_epi16(Abs16(_mm_sub_epi16(p[1], p[8])), qp2),
	                                            _mm_cmplt_epi16(_mm_sub_epi16(hi, lo), qp2)));
	// q[k + 3] is sample k of the run with P0 for every k <= 0 and P9 for every k >= 8, k = -3..12.
	__m128i q[16];
	const __m128i P0 = Select(_mm_cmplt_epi16(Abs16(_mm_sub_epi16(p[1], p[0])), qp), p[0], p[1]);
	const __m128i P9 = Select(_mm_cmplt_epi16(Abs16(_mm_sub_epi16(p[8], p[9])), qp), p[9], p[8]);
	for (int k = 0; k <= 3; ++k)
		q[k] = P0;
	for (int k = 1; k <= 7; ++k)
		q[k + 3] = p[k];
	for (int k = 11; k < 16; ++k)
		q[k] = P9;
	// pair[k] = q[k] + q[k + 1]; the kernel 1,1,2,2,4,2,2,1,1 around sample i is
	// pair[i-4] + pair[i+3] + 2 * (pair[i-2] + pair[i+1]) + 4 * sample i, in q's index offset by 3.
	__m128i pair[15];
	for (int k = 0; k < 15; ++k)
		pair[k] = _mm_add_epi16(q[k], q[k + 1]);
	__m128i smoothed[9];
	for (int i = 1; i <= 8; ++i) {
		const int c = i + 3;
		__m128i s = _mm_add_epi16(pair[c - 4], pair[c + 3]);
		s = _mm_add_epi16(s, _mm_slli_epi16(_mm_add_epi16(pair[c - 2], pair[c + 1]), 1));
		s = _mm_add_epi16(s, _mm_slli_epi16(q[c], 2));
		smoothed[i] = _mm_srli_epi16(_mm_add_epi16(s, _mm_set1_epi16(8)), 4);
	}

	const __m128i p4 = _mm_sub_epi16(p[4], d), p5 = _mm_add_epi16(p[5], d);
	for (int i = 1; i <= 8; ++i)
		p[i] = Select(smooth, smoothed[i], i == 4 ? p4 : i == 5 ? p5 : p[i]);
}

// Transposes eight rows of eight bytes (the low halves of `in`); out[k] holds columns 2k and 2k+1 in
// its low and high halves.
KORVO_SSE2 void Transpose8x8(const __m128i in[8], __m128i out[4])
{
	const __m128i t0 = _mm_unpacklo_epi8(in[0], in[1]), t1 = _mm_unpacklo_epi8(in[2], in[3]);
	const __m128i t2 = _mm_unpacklo_epi8(in[4], in[5]), t3 = _mm_unpacklo_epi8(in[6], in[7]);
	const __m128i u0 = _mm_unpacklo_epi16(t0, t1), u1 = _mm_unpackhi_epi16(t0, t1);
	const __m128i u2 = _mm_unpacklo_epi16(t2, t3), u3 = _mm_unpackhi_epi16(t2, t3);
	out[0] = _mm_unpacklo_epi32(u0, u2);
	out[1] = _mm_unpackhi_epi32(u0, u2);
	out[2] = _mm_unpacklo_epi32(u1, u3);
	out[3] = _mm_unpackhi_epi32(u1, u3);
}

KORVO_SSE2 __m128i LoadBytes(const uint8_t* at)
{
	return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at)), _mm_setzero_si128());
}

}  // namespace

__attribute__((target("sse2"))) void DeblockLowerEdgeSSE2(uint8_t* origin, int32_t quant, uint32_t stride)
{
	uint8_t* top = origin + 3 * static_cast<size_t>(stride);
	__m128i p[10];
	for (int k = 0; k < 10; ++k)
		p[k] = LoadBytes(top + k * static_cast<size_t>(stride));
	FilterLanes(p, quant);
	for (int k = 1; k <= 8; ++k) {
		__m128i* row = reinterpret_cast<__m128i*>(top + k * static_cast<size_t>(stride));
		_mm_storel_epi64(row, _mm_packus_epi16(p[k], p[k]));
	}
}

__attribute__((target("sse2"))) void DeblockRightEdgeSSE2(uint8_t* origin, int32_t quant, uint32_t stride)
{
	uint8_t* rows[8];
	__m128i in[8];
	int16_t tail[8];
	for (int r = 0; r < 8; ++r) {
		rows[r] = origin + r * static_cast<size_t>(stride) + 3;
		in[r] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[r]));
		std::memcpy(&tail[r], rows[r] + 8, 2);  // p8 in the low byte, p9 in the high byte
	}
	__m128i columns[4];
	Transpose8x8(in, columns);
	const __m128i zero = _mm_setzero_si128();
	__m128i p[10];
	for (int k = 0; k < 4; ++k) {
		p[2 * k] = _mm_unpacklo_epi8(columns[k], zero);
		p[2 * k + 1] = _mm_unpackhi_epi8(columns[k], zero);
	}
	const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tail));
	p[8] = _mm_and_si128(ends, _mm_set1_epi16(0xff));
	p[9] = _mm_srli_epi16(ends, 8);
	FilterLanes(p, quant);
	// Samples p1..p8 back as eight columns of bytes, transposed into rows.
	for (int k = 0; k < 8; ++k)
		in[k] = _mm_packus_epi16(p[k + 1], p[k + 1]);
	Transpose8x8(in, columns);
	for (int k = 0; k < 4; ++k) {
		_mm_storel_epi64(reinterpret_cast<__m128i*>(rows[2 * k] + 1), columns[k]);
		_mm_storel_epi64(reinterpret_cast<__m128i*>(rows[2 * k + 1] + 1), _mm_srli_si128(columns[k], 8));
	}
}

void Kernels_InitFilterSSE2(KorvKernels* table)
{
	table->deblockLowerEdge = DeblockLowerEdgeSSE2;
	table->deblockRightEdge = DeblockRightEdgeSSE2;
	table->deringBlock = DeringBlock_SSE2;
}

#endif  // KORVO_DSP_X86
