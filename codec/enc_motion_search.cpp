// Motion estimation for P-VOPs: a square-ring full-sample search on half-size and full-size
// luminance planes, then a half-sample refinement, all by SAD.
#include <limits.h>
#include <stdlib.h>

#include "enc_internal.h"
#include "frame_internal.h"
#include "kernels_internal.h"
#include "korvo.h"
namespace {

// SADs of the N x N source block against the kCount predictions at reference + 0..kCount - 1.
template <int N, int kCount>
void BlockSadRow(const uint8_t* reference, const uint8_t* current, uint32_t stride, uint16_t* sads)
{
	for (int c = 0; c < kCount; ++c) {
		int32_t sum = 0;
		for (int row = 0; row < N; ++row)
			for (int i = 0; i < N; ++i)
				sum += abs(reference[ptrdiff_t(row) * stride + c + i] - current[ptrdiff_t(row) * stride + i]);
		sads[c] = uint16_t(sum);
	}
}

// Offsets up to kMaxReach from the start: the ring order, ring by ring (axis points, then the edge
// points nearest the axes outward, then the corners), built once at compile time.
constexpr int kMaxReach = kMaxSearchRange - 1;
constexpr int kMaxSide = 2 * kMaxReach + 1;
constexpr int kGridColumns = 32;  // a row of the SAD grid: kMaxSide candidates and what a kernel adds
struct RingOrder {
	int8_t offsets[kMaxSide * kMaxSide - 1][2];
	int16_t at[kMaxSide * kMaxSide - 1];  // the candidate's place in the grid relative to the start
};
constexpr RingOrder MakeRingOrder()
{
	RingOrder order{};
	int n = 0;
	auto add = [&](int dx, int dy) {
		order.offsets[n][0] = int8_t(dx);
		order.offsets[n][1] = int8_t(dy);
		order.at[n] = int16_t(dy * kGridColumns + dx);
		++n;
	};
	for (int r = 1; r <= kMaxReach; ++r) {
		add(0, -r), add(-r, 0), add(0, r), add(r, 0);
		for (int k = 1; k < r; ++k) {
			add(-k, -r), add(k, -r), add(-r, -k), add(-r, k);
			add(-k, r), add(k, r), add(r, -k), add(r, k);
		}
		add(-r, -r), add(r, -r), add(-r, r), add(r, r);
	}
	return order;
}
constexpr RingOrder kRingOrder = MakeRingOrder();

// For a row of kRow candidates of which the first k are in reach: masks[k][i] is 0 for those and
// UINT16_MAX for the rest, so that OR-ing them in leaves only candidates to the minimum.
template <int kRow>
struct BeyondMasks {
	uint16_t masks[kRow + 1][kRow];
};
template <int kRow>
constexpr BeyondMasks<kRow> MakeBeyondMasks()
{
	BeyondMasks<kRow> m{};
	for (int k = 0; k <= kRow; ++k)
		for (int i = 0; i < kRow; ++i)
			m.masks[k][i] = i < k ? 0 : UINT16_MAX;
	return m;
}
template <int kRow>
constexpr BeyondMasks<kRow> kBeyond = MakeBeyondMasks<kRow>();

// The ring search shared by both block sizes: the start vector gets `bias`, and a best SAD of at
// most `stop` ends the search. In ring order a candidate replaces the best only when strictly below
// it, so the winner is the first candidate in that order at or below max(smallest SAD, stop), when
// that beats the start: every SAD is measured at once, a row of candidates per kernel call.
template <int N, int32_t kBias, int32_t kStop>
int32_t RingSearch(Motion* out, const Plane* reference, const Plane* current, int32_t x, int32_t y,
                   int32_t startX, int32_t startY, int32_t range, bool measureStart, int32_t initialBest)
{
	constexpr int kRow = N == 8 ? 16 : 8;  // candidates per kernel call
	static_assert((kMaxSide + kRow - 1) / kRow * kRow <= kGridColumns);
	// Both planes of a pair have the same dimensions; the reference's row length is the stride.
	const uint32_t stride = reference->width;
	const auto sadRow = N == 8 ? gKernels.blockSadRow8 : gKernels.blockSadRow16;
	const uint8_t* cur = current->data + ptrdiff_t(y) * stride + x;
	const uint8_t* origin = reference->data + ptrdiff_t(y + startY) * stride + (x + startX);
	const int32_t reach = range < 2 ? 0 : range > kMaxSearchRange ? kMaxReach : range - 1;
	const int32_t side = 2 * reach + 1;
	const int32_t filled = (side + kRow - 1) / kRow * kRow;  // columns the kernel calls write

	out->x = int16_t(startX);
	out->y = int16_t(startY);
	uint16_t grid[kMaxSide][kGridColumns];  // grid[dy + reach][dx + reach]
	for (int32_t row = 0; row < side; ++row)
		for (int32_t column = 0; column < filled; column += kRow)
			sadRow(origin + ptrdiff_t(row - reach) * stride + (column - reach), cur, stride,
			       &grid[row][column]);
	const int32_t best = measureStart ? grid[reach][reach] - kBias : initialBest;
	if (best <= kStop || reach == 0)
		return best;

	// Neither the start nor the offsets beyond reach are candidates; every SAD is below UINT16_MAX.
	grid[reach][reach] = UINT16_MAX;
	uint16_t lanes[kRow];
	for (uint16_t& lane : lanes)
		lane = UINT16_MAX;
	for (int32_t column = 0; column < filled; column += kRow) {
		const uint16_t* beyond = kBeyond<kRow>.masks[side - column < kRow ? side - column : kRow];
		for (int32_t row = 0; row < side; ++row)
			for (int i = 0; i < kRow; ++i) {
				const uint16_t sad = grid[row][column + i] | beyond[i];
				lanes[i] = sad < lanes[i] ? sad : lanes[i];
			}
	}
	int32_t smallest = UINT16_MAX;
	for (uint16_t lane : lanes)
		smallest = lane < smallest ? lane : smallest;
	if (smallest >= best)
		return best;
	const int32_t threshold = smallest > kStop ? smallest : kStop;
	const uint16_t* start = &grid[reach][reach];
	for (int32_t n = 0; n < side * side - 1; ++n) {
		const int32_t sad = start[kRingOrder.at[n]];
		if (sad <= threshold) {
			const int8_t* offset = kRingOrder.offsets[n];
			out->x = int16_t(startX + offset[0]);
			out->y = int16_t(startY + offset[1]);
			return sad;
		}
	}
	return best;  // not reached: the smallest SAD is in the ring order
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

void BlockSadRow8_C(const uint8_t* reference, const uint8_t* current, uint32_t stride, uint16_t sads[16])
{
	BlockSadRow<8, 16>(reference, current, stride, sads);
}

void BlockSadRow16_C(const uint8_t* reference, const uint8_t* current, uint32_t stride, uint16_t sads[8])
{
	BlockSadRow<16, 8>(reference, current, stride, sads);
}

int32_t BlockSad16_C(const uint8_t* reference, const uint8_t* current, uint32_t stride, int32_t limit)
{
	int32_t sum = 0;
	for (int row = 0; row < 16; ++row, reference += stride, current += stride) {
		for (int i = 0; i < 16; ++i)
			sum += abs(reference[i] - current[i]);
		if (sum > limit)
			break;
	}
	return sum;
}

void HalfSampleSads_C(const uint8_t* p, const uint8_t* s, uint32_t stride, int32_t rounding,
                      int32_t sads[kHalfSampleCandidates])
{
	for (int c = 0; c < kHalfSampleCandidates; ++c)
		sads[c] = kHalfSampleSad_C[c](p, s, stride, rounding, INT32_MAX);
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

	int32_t sads[kHalfSampleCandidates];
	gKernels.halfSampleSads(p, s, stride, vop->rounding, sads);
	int32_t best = sad;
	int winner = -1;
	for (int c = 0; c < kHalfSampleCandidates; ++c) {
		if (!InFCodeRange(mvx + kHalfSampleOffsets[c][0]) || !InFCodeRange(mvy + kHalfSampleOffsets[c][1]))
			continue;
		if (sads[c] < best) {
			best = sads[c];
			winner = c;
		}
	}
	if (winner >= 0) {
		mb->mv.x = int16_t(mvx + kHalfSampleOffsets[winner][0]);
		mb->mv.y = int16_t(mvy + kHalfSampleOffsets[winner][1]);
	}
	return best;
}
