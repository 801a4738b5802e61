// Motion estimation: the ring order and its tie rule, the start-vector bias and early stop, the
// reach of the two-stage search, and the half-sample refinement with its formulas and range check.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "enc_internal.h"
#include "frame_internal.h"
#include "korvo.h"
namespace {

// A 64x64 picture (4x4 macroblocks, 96x96 planes with their borders) whose reference and source
// luminance planes are filled, border included, from functions of the plane position.
struct Picture {
	Vop* vop = Vop_New(64, 64, true, true);
	~Picture() { Vop_Dispose(vop); }

	using Fill = std::function<uint8_t(int32_t x, int32_t y)>;
	static void FillPlane(Plane* plane, const Fill& f)
	{
		for (uint32_t y = 0; y < plane->height; ++y)
			for (uint32_t x = 0; x < plane->width; ++x)
				plane->data[y * plane->width + x] = f(int32_t(x), int32_t(y));
	}
	void Set(const Fill& reference, const Fill& source)
	{
		FillPlane(vop->planeY, reference);
		FillPlane(vop->srcY, source);
		Vop_SubsamplePlanes(vop);
	}
	MacroBlock* Mb(uint32_t column, uint32_t row) { return Vop_GetMacroBlock(vop, column, row); }
};

uint8_t Noise(int32_t x, int32_t y)
{
	uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u;
	h ^= h >> 13;
	h *= 0x5bd1e995u;
	return uint8_t(h >> 24);
}

// A smooth texture whose SAD falls steadily toward the true displacement.
uint8_t Smooth(int32_t x, int32_t y)
{
	return uint8_t(128 + 60 * std::sin(x * 0.11) + 50 * std::cos(y * 0.13 + x * 0.02));
}

TEST(MotionSearch, IdenticalMacroBlockStopsAtTheBiasedStart)
{
	Picture pic;
	pic.Set(Noise, Noise);
	for (uint32_t row = 0; row < 4; ++row) {
		for (uint32_t column = 0; column < 4; ++column) {
			MacroBlock* mb = pic.Mb(column, row);
			const int32_t sad = FindBlockMotion_R37(mb);
			EXPECT_EQ(sad, -64);
			EXPECT_EQ(mb->mv.x, 0);
			EXPECT_EQ(mb->mv.y, 0);
			// No half-sample candidate can beat a negative SAD.
			EXPECT_EQ(FindBlockMotion1616Half(mb, sad), -64);
			EXPECT_EQ(mb->mv.x, 0);
			EXPECT_EQ(mb->mv.y, 0);
		}
	}
	Motion out;
	EXPECT_EQ(PlaneMotionSearch_8x8(&out, pic.vop->subY, pic.vop->subSrcY, 16, 16, 0, 0, 7, true, INT_MAX),
	          -32);
}

TEST(MotionSearch, FindsDisplacementsWithinReach)
{
	const int shifts[][2] = {{0, 0}, {1, 0}, {0, -1}, {6, -4}, {-14, 0}, {13, 11}, {-9, 14}, {14, -14}};
	for (const auto& s : shifts) {
		Picture pic;
		// The source block at x matches the reference at x + s: the vector points into the reference.
		pic.Set(Smooth, [&](int32_t x, int32_t y) { return Smooth(x + s[0], y + s[1]); });
		MacroBlock* mb = pic.Mb(1, 2);
		const int32_t sad = FindBlockMotion_R37(mb);
		EXPECT_EQ(mb->mv.x, 2 * s[0]) << s[0] << "," << s[1];
		EXPECT_EQ(mb->mv.y, 2 * s[1]) << s[0] << "," << s[1];
		EXPECT_LE(sad, 0);
	}
}

TEST(MotionSearch, ReachEndsAtFourteenSamples)
{
	for (int sign : {1, -1}) {
		Picture pic;
		// A ramp moved by 20 samples: the SAD keeps falling up to the edge of the reach.
		auto ramp = [](int32_t x, int32_t y) { return uint8_t(std::clamp(2 * x + (y & 3), 0, 255)); };
		pic.Set(ramp, [&](int32_t x, int32_t y) { return ramp(x + 20 * sign, y); });
		for (uint32_t column = 0; column < 4; ++column) {
			MacroBlock* mb = pic.Mb(column, 1);
			const int32_t sad = FindBlockMotion_R37(mb);
			EXPECT_LE(std::abs(mb->mv.x), 28);
			EXPECT_LE(std::abs(mb->mv.y), 28);
			if (column == 1 || column == 2) {
				EXPECT_EQ(mb->mv.x, 28 * sign);
				EXPECT_EQ(mb->mv.y, 0);
				EXPECT_GT(sad, 0);
			}
		}
	}
}

// Copies the 8x8 block of the half-size source at (x, y) into the half-size reference at (x + dx, y + dy).
void PlantBlock(Picture& pic, int32_t x, int32_t y, int32_t dx, int32_t dy, int32_t add)
{
	Plane* ref = pic.vop->subY;
	const Plane* src = pic.vop->subSrcY;
	for (int32_t j = 0; j < 8; ++j)
		for (int32_t i = 0; i < 8; ++i)
			ref->data[(y + dy + j) * ref->width + x + dx + i] =
			        uint8_t(src->data[(y + j) * src->width + x + i] + add);
}

TEST(RingSearch, EarlierCandidateInRingOrderWinsATie)
{
	// Two equally good matches (SAD 64, above the stop threshold) among noise: the one the ring
	// order reaches first is kept. Axis points come before edge points, edge points before corners.
	const int pairs[][4] = {{6, 0, -6, -6}, {0, -6, 0, 6}, {-6, 0, 6, 6}, {-2, 6, 6, -2}};
	for (const auto& p : pairs) {
		Picture pic;
		pic.Set(Noise, [](int32_t x, int32_t y) { return uint8_t(Noise(y + 7, x + 3) | 1); });
		PlantBlock(pic, 24, 24, p[0], p[1], -1);
		PlantBlock(pic, 24, 24, p[2], p[3], -1);
		Motion out;
		const int32_t sad =
		        PlaneMotionSearch_8x8(&out, pic.vop->subY, pic.vop->subSrcY, 24, 24, 0, 0, 7, true, INT_MAX);
		EXPECT_EQ(sad, 64);
		EXPECT_EQ(out.x, p[0]);
		EXPECT_EQ(out.y, p[1]);
	}
}

TEST(RingSearch, StartVectorKeepsATie)
{
	Picture pic;
	// Rows that repeat: offsets (0, +-k) match exactly as well as the start does.
	auto stripes = [](int32_t x, int32_t) { return uint8_t(Noise(x, 0) | 1); };
	pic.Set(stripes, [&](int32_t x, int32_t y) { return uint8_t(stripes(x, y) - 1); });
	Motion out;
	// Without the bias (start measured by the caller as 256): equal SADs never replace it.
	EXPECT_EQ(PlaneMotionSearch_16x16(&out, pic.vop->planeY, pic.vop->srcY, 32, 32, 2, -2, 3, false, 256),
	          256);
	EXPECT_EQ(out.x, 2);
	EXPECT_EQ(out.y, -2);
	// With it, the start wins by the bias and the rings are searched (192 > 15) without effect.
	EXPECT_EQ(PlaneMotionSearch_16x16(&out, pic.vop->planeY, pic.vop->srcY, 32, 32, 0, 0, 3, true, INT_MAX),
	          192);
	EXPECT_EQ(out.x, 0);
	EXPECT_EQ(out.y, 0);
}

TEST(RingSearch, StartBelowFortySkipsTheRings)
{
	Picture pic;
	// Vertical stripes: every offset (0, dy) matches exactly, except where it covers the one
	// sample of the start block that is off by 39: biased 7 ends the search at once.
	auto stripes = [](int32_t x, int32_t) { return Noise(x, 0); };
	pic.Set(stripes, stripes);
	Plane* ref = pic.vop->subY;
	const Plane* src = pic.vop->subSrcY;
	uint8_t* first = &ref->data[24 * ref->width + 24];
	const uint8_t original = *first;
	*first = uint8_t(original > 128 ? original - 39 : original + 39);
	Motion out;
	EXPECT_EQ(PlaneMotionSearch_8x8(&out, ref, src, 24, 24, 0, 0, 7, true, INT_MAX), 7);
	EXPECT_EQ(out.x, 0);
	EXPECT_EQ(out.y, 0);
	// Off by 40 the rings run: (0, -1) still covers the sample, (-1, 0) misses the stripes, and
	// (0, 1) is the first exact match.
	*first = uint8_t(original > 128 ? original - 40 : original + 40);
	EXPECT_EQ(PlaneMotionSearch_8x8(&out, ref, src, 24, 24, 0, 0, 7, true, INT_MAX), 0);
	EXPECT_EQ(out.x, 0);
	EXPECT_EQ(out.y, 1);
	// A range below 2 never leaves the start.
	EXPECT_EQ(PlaneMotionSearch_8x8(&out, ref, src, 24, 24, 0, 0, 1, true, INT_MAX), 8);
	EXPECT_EQ(out.x, 0);
	EXPECT_EQ(out.y, 0);
}

// The ring search written out plainly: every candidate's full SAD, in ring order, no abandoning.
struct Candidate {
	int32_t dx, dy;
};

std::vector<Candidate> RingOrder(int32_t range)
{
	std::vector<Candidate> order;
	for (int32_t r = 1; r < range; ++r) {
		order.insert(order.end(), {{0, -r}, {-r, 0}, {0, r}, {r, 0}});
		for (int32_t k = 1; k < r; ++k)
			order.insert(order.end(),
			             {{-k, -r}, {k, -r}, {-r, -k}, {-r, k}, {-k, r}, {k, r}, {r, -k}, {r, k}});
		order.insert(order.end(), {{-r, -r}, {r, -r}, {-r, r}, {r, r}});
	}
	return order;
}

int32_t PlainSearch(Motion* out, const Plane* ref, const Plane* cur, int32_t x, int32_t y, int32_t sx,
                    int32_t sy, int32_t range, int n, int32_t bias, int32_t stop)
{
	auto sad = [&](int32_t dx, int32_t dy) {
		int32_t sum = 0;
		for (int32_t j = 0; j < n; ++j)
			for (int32_t i = 0; i < n; ++i)
				sum += std::abs(ref->data[(y + sy + dy + j) * ref->width + x + sx + dx + i] -
				                cur->data[(y + j) * ref->width + x + i]);
		return sum;
	};
	int32_t best = sad(0, 0) - bias;
	Candidate winner{0, 0};
	if (best > stop) {
		for (const Candidate& c : RingOrder(range)) {
			const int32_t s = sad(c.dx, c.dy);
			if (s < best) {
				best = s;
				winner = c;
				if (best <= stop)
					break;
			}
		}
	}
	out->x = int16_t(sx + winner.dx);
	out->y = int16_t(sy + winner.dy);
	return best;
}

TEST(RingSearch, MatchesThePlainSearchOnRandomPictures)
{
	std::mt19937 random(17);
	for (int round = 0; round < 60; ++round) {
		Picture pic;
		// Mostly smooth pictures with noise of varying strength, so that early stops happen too.
		const int amplitude = int(random() % 40);
		const int sx = int(random() % 9) - 4, sy = int(random() % 9) - 4;
		const uint32_t seed = random();
		pic.Set(Smooth, [&](int32_t x, int32_t y) {
			const int noise =
			        amplitude ? int((uint32_t(Noise(x ^ int32_t(seed), y)) % (2 * amplitude + 1))) - amplitude
			                  : 0;
			return uint8_t(std::clamp(Smooth(x + sx, y + sy) + noise, 0, 255));
		});
		Motion fast, plain;
		const int32_t x = 16 + 16 * int32_t(random() % 4), y = 16 + 16 * int32_t(random() % 4);
		const int32_t startX = int32_t(random() % 5) - 2, startY = int32_t(random() % 5) - 2;
		EXPECT_EQ(PlaneMotionSearch_16x16(&fast, pic.vop->planeY, pic.vop->srcY, x, y, startX, startY, 3,
		                                  true, INT_MAX),
		          PlainSearch(&plain, pic.vop->planeY, pic.vop->srcY, x, y, startX, startY, 3, 16, 64, 15));
		EXPECT_EQ(fast.x, plain.x);
		EXPECT_EQ(fast.y, plain.y);
		EXPECT_EQ(PlaneMotionSearch_8x8(&fast, pic.vop->subY, pic.vop->subSrcY, x / 2, y / 2, 0, 0, 7, true,
		                                INT_MAX),
		          PlainSearch(&plain, pic.vop->subY, pic.vop->subSrcY, x / 2, y / 2, 0, 0, 7, 8, 32, 7));
		EXPECT_EQ(fast.x, plain.x);
		EXPECT_EQ(fast.y, plain.y);
	}
}

// Periodic pictures: many candidates share the smallest SAD (and with a spike in the source block
// that SAD lies below, at or above the early stop), so the tie rule and the stop decide.
TEST(RingSearch, TiesAndStopsMatchThePlainSearch)
{
	for (int32_t period = 2; period <= 5; ++period)
		for (int32_t shift = 0; shift < period; ++shift)
			for (int32_t spike : {0, 5, 7, 8, 50}) {
				Picture pic;
				auto pattern = [period](int32_t x, int32_t y) {
					return uint8_t((x + 2 * y) % period * 40 + 30);
				};
				pic.Set(pattern, [&](int32_t x, int32_t y) {
					return uint8_t(pattern(x + shift, y) + (x == 35 && y == 34 ? spike : 0));
				});
				Motion fast, plain;
				EXPECT_EQ(PlaneMotionSearch_8x8(&fast, pic.vop->planeY, pic.vop->srcY, 32, 32, 1, -1, 7, true,
				                                INT_MAX),
				          PlainSearch(&plain, pic.vop->planeY, pic.vop->srcY, 32, 32, 1, -1, 7, 8, 32, 7));
				EXPECT_TRUE(fast.x == plain.x && fast.y == plain.y) << period << " " << shift << " " << spike;
				EXPECT_EQ(PlaneMotionSearch_16x16(&fast, pic.vop->planeY, pic.vop->srcY, 32, 32, 0, 0, 3,
				                                  true, INT_MAX),
				          PlainSearch(&plain, pic.vop->planeY, pic.vop->srcY, 32, 32, 0, 0, 3, 16, 64, 15));
				EXPECT_TRUE(fast.x == plain.x && fast.y == plain.y) << period << " " << shift << " " << spike;
			}
}

// A source whose every sample is the given interpolation of the reference around it.
struct HalfCase {
	int dx, dy;
};

uint8_t Interpolate(int32_t x, int32_t y, int dx, int dy, int rounding)
{
	const int x0 = dx < 0 ? -1 : 0, x1 = dx > 0 ? 1 : 0, y0 = dy < 0 ? -1 : 0, y1 = dy > 0 ? 1 : 0;
	if (dx && dy) {
		return uint8_t((Noise(x + x0, y + y0) + Noise(x + x1, y + y0) + Noise(x + x0, y + y1) +
		                Noise(x + x1, y + y1) + 2 - rounding) >>
		               2);
	}
	return uint8_t((Noise(x + x0, y + y0) + Noise(x + x1, y + y1) + 1 - rounding) >> 1);
}

TEST(HalfSampleRefinement, UsesTwoAndFourSampleAveragesAndTheRounding)
{
	const HalfCase cases[] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
	for (int rounding : {0, 1}) {
		for (const HalfCase& c : cases) {
			Picture pic;
			pic.vop->rounding = uint8_t(rounding);
			// Full-sample vector (-28, 4) half-samples: the reference at (x - 14, y + 2).
			pic.Set(Noise,
			        [&](int32_t x, int32_t y) { return Interpolate(x - 14, y + 2, c.dx, c.dy, rounding); });
			MacroBlock* mb = pic.Mb(2, 1);
			mb->mv = {-28, 4};
			EXPECT_EQ(FindBlockMotion1616Half(mb, 1 << 20), 0) << c.dx << "," << c.dy << " r" << rounding;
			EXPECT_EQ(mb->mv.x, -28 + c.dx);
			EXPECT_EQ(mb->mv.y, 4 + c.dy);
		}
	}
}

TEST(HalfSampleRefinement, KeepsTheVectorUnlessACandidateIsStrictlyBetter)
{
	Picture pic;
	pic.Set(Noise, [](int32_t x, int32_t y) { return Interpolate(x, y, 1, 0, 1); });
	MacroBlock* mb = pic.Mb(1, 1);
	mb->mv = {0, 0};
	EXPECT_EQ(FindBlockMotion1616Half(mb, 0), 0);  // the exact candidate only ties
	EXPECT_EQ(mb->mv.x, 0);
	EXPECT_EQ(FindBlockMotion1616Half(mb, 1), 0);
	EXPECT_EQ(mb->mv.x, 1);
}

TEST(HalfSampleRefinement, NeverLeavesTheFCodeRange)
{
	Picture pic;
	pic.vop->rounding = 0;
	// The best half-sample lies left of -32 or below 31: those candidates are not evaluated.
	pic.Set(Noise, [](int32_t x, int32_t y) { return Interpolate(x - 16, y, -1, 0, 0); });
	MacroBlock* mb = pic.Mb(2, 1);
	mb->mv = {-32, 0};
	FindBlockMotion1616Half(mb, INT_MAX);
	EXPECT_GE(mb->mv.x, -32);

	pic.Set(Noise, [](int32_t x, int32_t y) { return Interpolate(x + 15, y - 15, 1, -1, 0); });
	mb->mv = {30, -30};
	EXPECT_EQ(FindBlockMotion1616Half(mb, INT_MAX), 0);  // (31, -31) is inside
	EXPECT_EQ(mb->mv.x, 31);
	EXPECT_EQ(mb->mv.y, -31);
}

TEST(MotionSearch, FullSearchThenRefinementReachesMinusTwentyNine)
{
	Picture pic;
	pic.vop->rounding = 1;
	// Halfway between -15 and -14 samples: -28 is as far as the full-sample search reaches, then -29.
	pic.Set(Smooth,
	        [](int32_t x, int32_t y) { return uint8_t((Smooth(x - 15, y) + Smooth(x - 14, y)) >> 1); });
	MacroBlock* mb = pic.Mb(2, 1);
	const int32_t sad = FindBlockMotion_R37(mb);
	EXPECT_EQ(mb->mv.x, -28);
	EXPECT_EQ(mb->mv.y, 0);
	EXPECT_EQ(FindBlockMotion1616Half(mb, sad), 0);
	EXPECT_EQ(mb->mv.x, -29);
	EXPECT_EQ(mb->mv.y, 0);
}

}  // namespace
