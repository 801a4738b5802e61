// Motion estimation for P-VOPs: a square-ring full-sample search on half-size and full-size
// luminance planes, then a half-sample refinement, all by SAD with row-wise early abandoning.
#include <limits.h>
#include <stdlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "enc_internal.h"
#include "frame_internal.h"
#include "korvo.h"
namespace {

// SAD of one row of N samples (8 or 16). SSE2 is part of every x86-64 processor; elsewhere the
// plain loop serves.
template <int N>
inline int32_t RowSad(const uint8_t* a, const uint8_t* b)
{
#if defined(__SSE2__)
	if constexpr (N == 16) {
		const __m128i sums = _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
		                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
		return _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
	} else {
		static_assert(N == 8);
		return _mm_cvtsi128_si32(_mm_sad_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
		                                      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b))));
	}
#else
	int32_t sum = 0;
	for (int i = 0; i < N; ++i)
		sum += abs(a[i] - b[i]);
	return sum;
#endif
}

// SAD of an N x N block, accumulated row by row; gives up after the first row whose partial sum
// exceeds limit and returns that partial sum (so a result above limit means "abandoned").
template <int N>
int32_t BlockSad(const uint8_t* reference, const uint8_t* current, uint32_t stride, int32_t limit)
{
	int32_t sum = 0;
	for (int row = 0; row < N; ++row, reference += stride, current += stride) {
		sum += RowSad<N>(reference, current);
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
	const uint8_t* cur = current->data + ptrdiff_t(y) * stride + x;
	const uint8_t* origin = reference->data + ptrdiff_t(y + startY) * stride + (x + startX);
	auto candidate = [&](int32_t dx, int32_t dy) { return origin + ptrdiff_t(dy) * stride + dx; };

	int32_t best = initialBest;
	int32_t bestX = 0, bestY = 0;
	if (measureStart)
		best = BlockSad<N>(origin, cur, stride, initialBest) - kBias;

	// One candidate: a complete SAD strictly below the best replaces it (a tie keeps the earlier
	// candidate); returns true when the new best is good enough to end the search.
	auto tryOffset = [&](int32_t dx, int32_t dy) {
		const int32_t sad = BlockSad<N>(candidate(dx, dy), cur, stride, best);
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

struct HalfCandidate {
	int16_t dx, dy;
	int32_t (*sad)(const uint8_t*, const uint8_t*, uint32_t, int32_t, int32_t);
};

// The eight half-sample neighbours in the order they are tried.
constexpr HalfCandidate kHalfCandidates[8] = {
        {-1, 0, HalfSampleSad<-1, 0>}, {1, 0, HalfSampleSad<1, 0>},     {0, -1, HalfSampleSad<0, -1>},
        {0, 1, HalfSampleSad<0, 1>},   {-1, -1, HalfSampleSad<-1, -1>}, {1, -1, HalfSampleSad<1, -1>},
        {-1, 1, HalfSampleSad<-1, 1>}, {1, 1, HalfSampleSad<1, 1>},
};

// Vector components that f_code 1 can code, in half-sample units.
bool InFCodeRange(int32_t v) { return v >= -32 && v <= 31; }

}  // namespace

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
	const HalfCandidate* winner = nullptr;
	for (const HalfCandidate& c : kHalfCandidates) {
		if (!InFCodeRange(mvx + c.dx) || !InFCodeRange(mvy + c.dy))
			continue;
		const int32_t candidate = c.sad(p, s, stride, vop->rounding, best);
		if (candidate < best) {
			best = candidate;
			winner = &c;
		}
	}
	if (winner) {
		mb->mv.x = int16_t(mvx + winner->dx);
		mb->mv.y = int16_t(mvy + winner->dy);
	}
	return best;
}
