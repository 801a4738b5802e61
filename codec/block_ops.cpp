// Korvo 8x8 block arithmetic: clamping, sums and differences, fills and scalar operations on
// 64 signed 16-bit values, wrapping at 16 bits like every stored block value.
#include <string.h>

#include "frame_internal.h"
#include "transform_internal.h"
namespace {

constexpr int kBlockSize = 64;

// The clamp tables cover -2048..2047 only; larger magnitudes (reachable from legal streams) saturate.
inline int32_t ClampTableIndex(int32_t v) { return v < -2048 ? -2048 : (v > 2047 ? 2047 : v); }

}  // namespace

void BlockClamp(int16_t* block, int16_t low, int16_t high)
{
	for (int i = 0; i < kBlockSize; ++i) {
		if (block[i] > high)
			block[i] = high;
		else if (block[i] < low)
			block[i] = low;
	}
}

void BlockSub(const int16_t* a, const int16_t* b, int16_t* out)
{
	for (int i = 0; i < kBlockSize; ++i)
		out[i] = static_cast<int16_t>(a[i] - b[i]);
}

void BlockAdd(const int16_t* a, const int16_t* b, int16_t* out)
{
	for (int i = 0; i < kBlockSize; ++i)
		out[i] = static_cast<int16_t>(a[i] + b[i]);
}

void BlockCopy(const int16_t* src, int16_t* dst) { memcpy(dst, src, kBlockSize * sizeof(int16_t)); }

bool BlockAll0(const int16_t* block)
{
	int16_t any = 0;
	for (int i = 0; i < kBlockSize; ++i)
		any |= block[i];
	return any == 0;
}

void BlockClampIntra(int16_t* block)
{
	for (int i = 0; i < kBlockSize; ++i)
		block[i] = IClampTable[ClampTableIndex(block[i])];
}

void BlockClampInter(int16_t* block)
{
	for (int i = 0; i < kBlockSize; ++i)
		block[i] = PClampTable[ClampTableIndex(block[i])];
}

int32_t BlockSum(const int16_t* block)
{
	int32_t sum = 0;
	for (int i = 0; i < kBlockSize; ++i)
		sum += block[i];
	return sum;
}

void BlockInvert(int16_t* block)
{
	for (int i = 0; i < kBlockSize; ++i)
		block[i] = static_cast<int16_t>(255 - block[i]);
}

void BlockDivX(int16_t* block, int16_t d)
{
	if (d == 0)
		return;  // no quotient exists; the block is left as it is
	for (int i = 0; i < kBlockSize; ++i)
		block[i] = static_cast<int16_t>(block[i] / d);
}

void BlockAddX(int16_t* block, int16_t x)
{
	for (int i = 0; i < kBlockSize; ++i)
		block[i] = static_cast<int16_t>(block[i] + x);
}

void BlockFillX(int16_t* block, int16_t x)
{
	for (int i = 0; i < kBlockSize; ++i)
		block[i] = x;
}
