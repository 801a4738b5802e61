// The better tuning's coefficient decisions: the bits of every coefficient event, and the levels of
// one block chosen for the least distortion plus lambda times bits over the whole scan.
#include <limits>
#include <stdlib.h>
#include <string.h>

#include "enc_internal.h"
#include "entropy_internal.h"
#include "kernels_internal.h"
#include "transform_internal.h"
namespace {

constexpr uint32_t kLevelBits = 12;      // the fixed-length escape's level field
constexpr int32_t kLargestLevel = 2047;  // what that field holds
// Magnitudes above this have no code word nor escape of a shorter form in either table (the level
// escape reaches at most twice the largest level of a run's row): the fixed-length escape.
constexpr int32_t kCachedLevels = 64;
constexpr uint32_t kFixedEscapeBits = 7 + 2 + 1 + 6 + kLevelBits;
constexpr int kReach = 8;  // how many candidates back an event may follow

struct EventBitsTable {
	uint8_t bits[2][2][64][kCachedLevels + 1];  // [intra table][last][run][magnitude]
};

const EventBitsTable& CachedEventBits()
{
	static const EventBitsTable* table = [] {
		auto* t = new EventBitsTable;
		for (uint8_t intra = 0; intra < 2; ++intra)
			for (uint32_t last = 0; last < 2; ++last)
				for (uint32_t run = 0; run < 64; ++run)
					for (int32_t level = 1; level <= kCachedLevels; ++level)
						t->bits[intra][last][run][level] =
						        uint8_t(VLCEventBits(intra, last, run, level, kLevelBits));
		return t;
	}();
	return *table;
}

uint32_t CachedBits(const uint8_t* row, int32_t magnitude)
{
	return magnitude <= kCachedLevels ? row[magnitude] : kFixedEscapeBits;
}

// One scan position that may carry a level: its two candidate magnitudes with their distortions,
// and the distortion of leaving it zero.
struct Candidate {
	uint32_t position;
	int32_t magnitude[2];
	double distortion[2];
	double zero;
	int count;
	bool negative;
};

}  // namespace

uint64_t ScreenLevels_C(const int32_t* weighted, const int32_t* weights, uint32_t first, uint32_t least,
                        uint64_t* squares)
{
	uint64_t candidates = 0, sum = 0;
	for (uint32_t i = first; i < 64; ++i) {
		const uint32_t a = uint32_t(weighted[i] < 0 ? -int64_t{weighted[i]} : weighted[i]);
		if (a >= least) {
			candidates |= uint64_t{1} << i;
			continue;
		}
		const uint32_t e = a * uint32_t(weights[i]);
		sum += uint64_t{e} * e;
	}
	*squares = sum;
	return candidates;
}

uint32_t EventBits(bool intraTable, bool last, uint32_t run, int32_t magnitude)
{
	return CachedBits(CachedEventBits().bits[intraTable][last][run], magnitude);
}

void EventBits_Init() { (void)CachedEventBits(); }

double Block_DecideLevels(const int32_t* weighted, int16_t* coef, uint8_t quant, bool intra, bool luma,
                          double lambda, uint32_t* bits)
{
	const int32_t q = quant < 1 ? 1 : quant > 31 ? 31 : quant;
	const int32_t* weights = intra ? kCoefficientIntra : kCoefficientInter;
	const bool intraTable = intra && luma;
	const uint32_t start = intra ? 1 : 0;

	// Distortions in the orthonormal transform's units: F = t W / 16, and the decoder's
	// reconstruction of magnitude m is (2m + 1) q W / 16 (inter) or 2 m q W / 16 (intra AC). With
	// |t| < 2^12 every such square is an integer over 256 that a double holds exactly, so the
	// squares of the positions that stay zero are summed as integers and scaled once.
	// A position stays zero below the least value that rounds to a level of 1: q for intra, 1.5 q for
	// inter.
	const uint32_t least = uint32_t(intra ? q : (3 * q + 1) / 2);
	uint64_t zeroSquares;  // positions that stay zero whatever is chosen, in 1/256
	uint64_t chosen = gKernels.screenLevels(weighted, weights, start, least, &zeroSquares);
	const int16_t dc = coef[0];
	memset(coef, 0, 64 * sizeof *coef);
	if (intra)
		coef[0] = dc;
	Candidate candidates[64];
	int count = 0;
	for (uint32_t k = start; chosen; ++k) {
		const uint32_t i = DeZZ_Raw[k];
		if (!(chosen >> i & 1))
			continue;
		chosen &= ~(uint64_t{1} << i);
		const int32_t t = weighted[i];
		const int32_t a = abs(t);
		const double w = weights[i] / 16.0;
		const double f = a * w;
		int32_t nearest = intra ? (a + q) / (2 * q) : (a >= 2 * q ? a / (2 * q) : 1);
		if (nearest > kLargestLevel)
			nearest = kLargestLevel;
		Candidate& c = candidates[count++];
		c.position = k;
		c.negative = t < 0;
		c.zero = f * f;
		c.count = nearest > 1 ? 2 : 1;
		for (int n = 0; n < c.count; ++n) {
			const int32_t m = nearest - n;
			const double r = (intra ? 2.0 * m * q : (2.0 * m + 1) * q) * w;
			c.magnitude[n] = m;
			c.distortion[n] = (f - r) * (f - r);
		}
	}
	const double zeroOnly = double(zeroSquares) / 256;

	// best[j + 1]: the least cost of the positions up to candidate j with j coded and not last,
	// counted as the change from leaving everything zero; best[0] = 0 is the block's start. A chain's
	// next event runs from its previous one: runFrom[j + 1] is the position after candidate j,
	// runFrom[0] the first of the scan.
	const auto& eventBits = CachedEventBits().bits[intraTable];
	double best[65];
	uint32_t runFrom[65];
	best[0] = 0;
	runFrom[0] = start;
	int bestLevel[64];
	int from[64];
	double finish = 0;  // the empty block
	int finishAt = -1, finishLevel = 0, finishFrom = -1;
	for (int j = 0; j < count; ++j) {
		const Candidate& c = candidates[j];
		const double change[2] = {c.distortion[0] - c.zero, c.distortion[1] - c.zero};
		double least = std::numeric_limits<double>::infinity();
		int leastLevel = 0, leastFrom = -1;
		// Earlier events further back than kReach candidates are not worth the zeros between. Every
		// best[p] is finite: the first kReach + 1 candidates may follow the block's start.
		for (int p = j > kReach ? j - kReach : -1; p < j; ++p) {
			const double before = best[p + 1];
			const uint32_t run = c.position - runFrom[p + 1];
			for (int n = 0; n < c.count; ++n) {
				const double more =
				        before + change[n] + lambda * CachedBits(eventBits[0][run], c.magnitude[n]);
				if (more < least)
					least = more, leastLevel = n, leastFrom = p;
				const double last =
				        before + change[n] + lambda * CachedBits(eventBits[1][run], c.magnitude[n]);
				if (last < finish)
					finish = last, finishAt = j, finishLevel = n, finishFrom = p;
			}
		}
		best[j + 1] = least, bestLevel[j] = leastLevel, from[j] = leastFrom;
		runFrom[j + 1] = c.position + 1;
	}

	double distortion = zeroOnly;
	for (int j = 0; j < count; ++j)
		distortion += candidates[j].zero;
	uint32_t chainBits = 0;
	for (int j = finishAt, n = finishLevel, p = finishFrom; j >= 0;) {
		const Candidate& c = candidates[j];
		const int32_t m = c.magnitude[n];
		coef[DeZZ_Raw[c.position]] = int16_t(c.negative ? -m : m);
		distortion += c.distortion[n] - c.zero;
		if (bits)
			chainBits += CachedBits(eventBits[j == finishAt][c.position - runFrom[p + 1]], m);
		if (p < 0)
			break;
		n = bestLevel[p];
		const int next = from[p];
		j = p;
		p = next;
	}
	if (bits)
		*bits = chainBits;
	return distortion;
}
