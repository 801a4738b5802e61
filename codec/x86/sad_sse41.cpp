// Rows of motion-search candidates with SSE4.1: mpsadbw measures a 4-sample group of the source
// against eight neighbouring positions at once, so a block's groups sum to eight candidates' SADs.
#include "kernels_internal.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <immintrin.h>

#include "lanes_sse2.h"

#define KORVO_SSE41 __attribute__((target("sse4.1")))

namespace {

// Selectors of _mm_mpsadbw_epu8: source group g (bytes 4g..4g+3) against reference windows starting
// at byte 0..7 (from 0) or 4..11 (from 4) of the reference operand.
constexpr int kGroup0From0 = 0, kGroup1From4 = 5, kGroup2From0 = 2, kGroup3From4 = 7;

KORVO_SSE41 void BlockSadRow8_SSE41(const uint8_t* reference, const uint8_t* current, uint32_t stride,
                                    uint16_t sads[16])
{
	__m128i low = _mm_setzero_si128(), high = _mm_setzero_si128();
	for (int row = 0; row < 8; ++row, reference += stride, current += stride) {
		const __m128i c = Load8(current);
		const __m128i r0 = Load16(reference), r8 = Load16(reference + 8);
		low = _mm_add_epi16(low, _mm_add_epi16(_mm_mpsadbw_epu8(r0, c, kGroup0From0),
		                                       _mm_mpsadbw_epu8(r0, c, kGroup1From4)));
		high = _mm_add_epi16(high, _mm_add_epi16(_mm_mpsadbw_epu8(r8, c, kGroup0From0),
		                                         _mm_mpsadbw_epu8(r8, c, kGroup1From4)));
	}
	_mm_storeu_si128(reinterpret_cast<__m128i*>(sads), low);
	_mm_storeu_si128(reinterpret_cast<__m128i*>(sads + 8), high);
}

// A 16x16 SAD is at most 65280, so the 16-bit lanes hold it.
KORVO_SSE41 void BlockSadRow16_SSE41(const uint8_t* reference, const uint8_t* current, uint32_t stride,
                                     uint16_t sads[8])
{
	__m128i sum = _mm_setzero_si128();
	for (int row = 0; row < 16; ++row, reference += stride, current += stride) {
		const __m128i c = Load16(current);
		const __m128i r0 = Load16(reference), r8 = Load16(reference + 8);
		sum = _mm_add_epi16(sum, _mm_add_epi16(_mm_add_epi16(_mm_mpsadbw_epu8(r0, c, kGroup0From0),
		                                                     _mm_mpsadbw_epu8(r0, c, kGroup1From4)),
		                                       _mm_add_epi16(_mm_mpsadbw_epu8(r8, c, kGroup2From0),
		                                                     _mm_mpsadbw_epu8(r8, c, kGroup3From4))));
	}
	_mm_storeu_si128(reinterpret_cast<__m128i*>(sads), sum);
}

}  // namespace

void Kernels_InitSadSSE41(KorvKernels* table)
{
	table->blockSadRow8 = BlockSadRow8_SSE41;
	table->blockSadRow16 = BlockSadRow16_SSE41;
}

#endif  // KORVO_DSP_X86
