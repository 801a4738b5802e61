// Shared by the SSE4.1 and AVX2 quantisers: the division by 2 * quant as an exact multiply-high,
// and the levels of one row of eight weighted values.
#ifndef KORVO_X86_ROW_LEVELS_SSE41_H
#define KORVO_X86_ROW_LEVELS_SSE41_H

#include <immintrin.h>
#include <stdint.h>

// Division of n in 0..4095 by d = 2 * quant, truncating: (n * magic) >> (16 + shift) with
// magic = ceil(2^(16 + shift) / d) < 2^16. For 2^k < d < 2^(k+1) the shift k keeps the error term
// magic * d - 2^(16 + shift) below d, so n times it stays below 2^(16 + shift) and the quotient is
// exact; a power of two d = 2^k divides exactly with shift k - 1.
struct Divisor {
	uint16_t magic;
	uint8_t shift;
};

constexpr Divisor MakeDivisor(uint32_t d)
{
	uint32_t k = 0;
	while ((2u << k) <= d)
		++k;  // 2^k <= d < 2^(k+1)
	const uint32_t shift = (d & (d - 1)) == 0 ? k - 1 : k;
	const uint32_t magic = ((1u << (16 + shift)) + d - 1) / d;
	return {static_cast<uint16_t>(magic), static_cast<uint8_t>(shift)};
}

struct DivisorTable {
	Divisor byQuant[32];
	constexpr DivisorTable() : byQuant()
	{
		for (uint32_t q = 1; q < 32; ++q)
			byQuant[q] = MakeDivisor(2 * q);
	}
};
constexpr DivisorTable kDivisors;

// Levels of one row: sign(t) * ((|t| + offset) / d) for eight weighted values t in 16-bit lanes.
__attribute__((target("sse4.1"), always_inline)) inline __m128i RowLevels(__m128i t, __m128i offset,
                                                                          Divisor d)
{
	const __m128i n = _mm_add_epi16(_mm_abs_epi16(t), offset);
	const __m128i quotient = _mm_srl_epi16(_mm_mulhi_epu16(n, _mm_set1_epi16(static_cast<int16_t>(d.magic))),
	                                       _mm_cvtsi32_si128(d.shift));
	return _mm_sign_epi16(quotient, t);
}

#endif  // KORVO_X86_ROW_LEVELS_SSE41_H
