// Motion estimation for P-VOPs: a square-ring full-sample search on half-size and full-size
// luminance planes, then a half-sample refinement, all by SAD with row-wise early abandoning.
#include <limits.h>
#include <stdlib.h>

#include "enc_internal.h"
#include "frame_internal.h"
#include "kernels_internal.h"
#include "korvo.h"
namespace {

template <int N>
int32_t BlockSad(const uint8_t* reference, const uint8_t* current, uint32_t stride, int32_t limit)
{
	int32_t sum = 0;
	for (int row = 0; row < N; ++row, reference += stride, current += stride) {
		for (int i = 0; i < N; ++i)
			sum += abs(reference[i] - current[i]);
		if (sum > limit)
			break;
	}
	return sum;
}

// The ring search shared by both block sizes: the start vector gets `bias`, and a best SAD of at
// most `stop` ends the search.
template <int N, int32_t kBias, int32_t kStop>
int32_t RingSearch(Motion* out, const Plane* reference, const Plane* current, int32_t x, int32_t y,
                   int32_t startX, int32_t startY, int32_t range, bool measureStart, int32_t initialBest)
{
	// Both planes of a pair have the same dimensions; the reference's row length is the stride.
	const uint32_t stride = reference->width;
	const BlockSadFn blockSad = N == 8 ? gKernels.blockSad8 : gKernels.blockSad16;
	const uint8_t* cur = current->data + ptrdiff_t(y) * stride + x;
	const uint8_t* origin = reference->data + ptrdiff_t(y + startY) * stride + (x + startX);
	auto candidate = [&](int32_t dx, int32_t dy) { return origin + ptrdiff_t(dy) * stride + dx; };

	int32_t best = initialBest;
	int32_t bestX = 0, bestY = 0;
	if (measureStart)
		best = blockSad(origin, cur, stride, initialBest) - kBias;

	// One candidate: a complete SAD strictly below the best replaces it (a tie keeps the earlier
	// candidate); returns true when the new best is good enough to end the search.
	auto tryOffset = [&](int32_t dx, int32_t dy) {
		const int32_t sad = blockSad(candidate(dx, dy), cur, stride, best);
		if (sad >= best)
			return false;
		best = sad;
		bestX = dx;
		bestY = dy;
		return best <= kStop;
	};

	if (best > kStop && range >= 2) {
		bool done = false;
		for (int32_t r = 1; r < range && !done; ++r) {
			// Axis points, then the edge points nearest the axes outward, then the corners.
			done = tryOffset(0, -r) || tryOffset(-r, 0) || tryOffset(0, r) || tryOffset(r, 0);
			for (int32_t k = 1; k < r && !done; ++k) {
				done = tryOffset(-k, -r) || tryOffset(k, -r) || tryOffset(-r, -k) || tryOffset(-r, k) ||
				       tryOffset(-k, r) || tryOffset(k, r) || tryOffset(r, -k) || tryOffset(r, k);
			}
			if (!done)
				done = tryOffset(-r, -r) || tryOffset(r, -r) || tryOffset(-r, r) || tryOffset(r, r);
		}
	}
	out->x = int16_t(startX + bestX);
	out->y = int16_t(startY + bestY);
	return best;
}

// SAD of the 16x16 source block S against the prediction at half-sample offset (DX, DY) in -1..1
// from the full-sample position P: a one-direction half-sample averages two samples, a
// two-direction one four, with the VOP's rounding. Abandons after a row that exceeds limit.
template <int DX, int DY>
int32_t HalfSampleSad(const uint8_t* p, const uint8_t* s, uint32_t stride, int32_t rounding, int32_t limit)
{
	// The two columns and rows that take part: (lo, hi) = (-1, 0) for -1, (0, 1) for +1, (0, 0) for 0.
	constexpr int kX0 = DX < 0 ? -1 : 0, kX1 = DX > 0 ? 1 : 0;
	constexpr int kY0 = DY < 0 ? -1 : 0, kY1 = DY > 0 ? 1 : 0;
	const ptrdiff_t rowStep = ptrdiff_t(stride);
	int32_t sum = 0;
	for (int j = 0; j < 16; ++j, p += rowStep, s += rowStep) {
		const uint8_t* a = p + kY0 * rowStep;
		const uint8_t* b = p + kY1 * rowStep;
		for (int i = 0; i < 16; ++i) {
			int32_t prediction;
			if constexpr (DX != 0 && DY != 0) {
				prediction = (a[i + kX0] + a[i + kX1] + b[i + kX0] + b[i + kX1] + 2 - rounding) >> 2;
			} else if constexpr (DX != 0) {
				prediction = (a[i + kX0] + a[i + kX1] + 1 - rounding) >> 1;
			} else {
				prediction = (a[i] + b[i] + 1 - rounding) >> 1;
			}
			sum += abs(prediction - s[i]);
		}
		if (sum > limit)
			break;
	}
	return sum;
}

// Vector components that f_code 1 can code, in half-sample units.
bool InFCodeRange(int32_t v) { return v >= -32 && v <= 31; }

}  // namespace

const int8_t kHalfSampleOffsets[kHalfSampleCandidates][2] = {
        {-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, -1}, {1, -1}, {-1, 1}, {1, 1},
};
const HalfSampleSadFn kHalfSampleSad_C[kHalfSampleCandidates] = {
        HalfSampleSad<-1, 0>,  HalfSampleSad<1, 0>,  HalfSampleSad<0, -1>, HalfSampleSad<0, 1>,
        HalfSampleSad<-1, -1>, HalfSampleSad<1, -1>, HalfSampleSad<-1, 1>, HalfSampleSad<1, 1>,
};

int32_t BlockSad8_C(const uint8_t* reference, const uint8_t* current, uint32_t stride, int32_t limit)
{
	return BlockSad<8>(reference, current, stride, limit);
}

int32_t BlockSad16_C(const uint8_t* reference, const uint8_t* current, uint32_t stride, int32_t limit)
{
	return BlockSad<16>(reference, current, stride, limit);
}

int32_t PlaneMotionSearch_8x8(Motion* out, const Plane* reference, const Plane* current, int32_t x, int32_t y,
                              int32_t startX, int32_t startY, int32_t range, bool measureStart,
                              int32_t initialBest)
{
	return RingSearch<8, 32, 7>(out, reference, current, x, y, startX, startY, range, measureStart,
	                            initialBest);
}

int32_t PlaneMotionSearch_16x16(Motion* out, const Plane* reference, const Plane* current, int32_t x,
                                int32_t y, int32_t startX, int32_t startY, int32_t range, bool measureStart,
                                int32_t initialBest)
{
	return RingSearch<16, 64, 15>(out, reference, current, x, y, startX, startY, range, measureStart,
	                              initialBest);
}

int32_t FindBlockMotion_R37(MacroBlock* mb)
{
	const Vop* vop = mb->vop;
	const int32_t mbX = int32_t(mb->mbX), mbY = int32_t(mb->mbY);
	// Offsets up to +-6 on the half-size planes, then +-2 around twice that on the full planes:
	// at most +-14 samples, inside the 16-sample border.
	Motion coarse;
	PlaneMotionSearch_8x8(&coarse, vop->subY, vop->subSrcY, 8 * mbX + 8, 8 * mbY + 8, 0, 0, 7, true, INT_MAX);
	Motion fine;
	const int32_t sad = PlaneMotionSearch_16x16(&fine, vop->planeY, vop->srcY, 16 * mbX + 16, 16 * mbY + 16,
	                                            2 * coarse.x, 2 * coarse.y, 3, true, INT_MAX);
	mb->mv.x = int16_t(2 * fine.x);
	mb->mv.y = int16_t(2 * fine.y);
	return sad;
}

int32_t FindBlockMotion1616Half(MacroBlock* mb, int32_t sad)
{
	const Vop* vop = mb->vop;
	const uint32_t stride = vop->planeY->width;
	const int32_t mvx = mb->mv.x, mvy = mb->mv.y;
	const int32_t x = 16 * int32_t(mb->mbX) + 16, y = 16 * int32_t(mb->mbY) + 16;
	const uint8_t* p = vop->planeY->data + ptrdiff_t(y + mvy / 2) * stride + (x + mvx / 2);
	const uint8_t* s = vop->srcY->data + ptrdiff_t(y) * stride + x;

	int32_t best = sad;
	int winner = -1;
	for (int c = 0; c < kHalfSampleCandidates; ++c) {
		if (!InFCodeRange(mvx + kHalfSampleOffsets[c][0]) || !InFCodeRange(mvy + kHalfSampleOffsets[c][1]))
			continue;
		const int32_t candidate = gKernels.halfSampleSad[c](p, s, stride, vop->rounding, best);
		if (candidate < best) {
			best = candidate;
			winner = c;
		}
	}
	if (winner >= 0) {
		mb->mv.x = int16_t(mvx + kHalfSampleOffsets[winner][0]);
		mb->mv.y = int16_t(mvy + kHalfSampleOffsets[winner][1]);
	}
	return best;
}
