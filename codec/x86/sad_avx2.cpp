// Rows of motion-search candidates with AVX2: the two 128-bit lanes of vmpsadbw take the two halves
// of the reference window (bytes 0-15 and 8-23), so one instruction does the work of two.
#include "kernels_internal.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

#include <immintrin.h>

#define KORVO_AVX2 __attribute__((target("avx2")))

namespace {

// Selectors of _mm256_mpsadbw_epu8, low lane in bits 0-2 and high lane in bits 3-5: source group g
// (bytes 4g..4g+3 of the lane) against reference windows from byte 0 or from byte 4 of the lane.
constexpr int Lanes(int low, int high) { return low | high << 3; }
constexpr int kGroup0From0 = 0, kGroup1From4 = 5, kGroup2From0 = 2, kGroup3From4 = 7;

// Bytes 0-15 of p in the low lane, bytes 8-23 in the high one.
KORVO_AVX2 inline __m256i LoadWindow(const uint8_t* p)
{
	return _mm256_inserti128_si256(
	        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
	        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), 1);
}

KORVO_AVX2 void BlockSadRow8_AVX2(const uint8_t* reference, const uint8_t* current, uint32_t stride,
                                  uint16_t sads[16])
{
	__m256i sum = _mm256_setzero_si256();
	for (int row = 0; row < 8; ++row, reference += stride, current += stride) {
		const __m256i c = _mm256_broadcastq_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(current)));
		const __m256i r = LoadWindow(reference);
		sum = _mm256_add_epi16(
		        sum, _mm256_add_epi16(_mm256_mpsadbw_epu8(r, c, Lanes(kGroup0From0, kGroup0From0)),
		                              _mm256_mpsadbw_epu8(r, c, Lanes(kGroup1From4, kGroup1From4))));
	}
	_mm256_storeu_si256(reinterpret_cast<__m256i*>(sads), sum);
}

// The low lane sums the source's first eight samples, the high lane its last eight.
KORVO_AVX2 void BlockSadRow16_AVX2(const uint8_t* reference, const uint8_t* current, uint32_t stride,
                                   uint16_t sads[8])
{
	__m256i sum = _mm256_setzero_si256();
	for (int row = 0; row < 16; ++row, reference += stride, current += stride) {
		const __m256i c =
		        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(current)));
		const __m256i r = LoadWindow(reference);
		sum = _mm256_add_epi16(
		        sum, _mm256_add_epi16(_mm256_mpsadbw_epu8(r, c, Lanes(kGroup0From0, kGroup2From0)),
		                              _mm256_mpsadbw_epu8(r, c, Lanes(kGroup1From4, kGroup3From4))));
	}
	_mm_storeu_si128(reinterpret_cast<__m128i*>(sads),
	                 _mm_add_epi16(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1)));
}

}  // namespace

void Kernels_InitSadAVX2(KorvKernels* table)
{
	table->blockSadRow8 = BlockSadRow8_AVX2;
	table->blockSadRow16 = BlockSadRow16_AVX2;
}

#endif  // KORVO_DSP_X86
