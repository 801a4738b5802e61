// The better tuning's macroblock decisions: motion search seeded from the neighbours' vectors with
// the vector bits counted, and the choice of skipped, inter or intra by distortion plus lambda x bits.
#include <climits>
#include <cmath>
#include <optional>
#include <stdlib.h>
#include <string.h>
#include <utility>

#include "enc_internal.h"
#include "entropy_internal.h"
#include "frame_internal.h"
#include "kernels_internal.h"
#include "prediction_internal.h"
#include "syntax_internal.h"
#include "transform_internal.h"
namespace {

// Lambda of the squared-error decisions: this times the quantiser squared. A P-VOP weighs bits
// more than an I-VOP: the picture every later one predicts from earns finer decisions, and what a
// P-VOP codes of a noisy source's grain only adds to the next picture's residual.
constexpr double kIntraLambdaScale = 0.5;
constexpr double kPredictedLambdaScale = 1.0;
// Full-sample vectors searched: the prediction then stays inside the reference's 16-sample border
// and every vector, half-sample ones included, inside the -32..31 that f_code 1 codes.
constexpr int32_t kLowest = -16, kHighest = 15;
constexpr int kMostSteps = 16;

uint32_t ComponentBits(int32_t d)
{
	// The writer takes differences outside -32..32 modulo 64.
	const int32_t v = d < -32 || d > 32 ? ((d + 32) & 63) - 32 : d;
	const uint32_t m = uint32_t(v < 0 ? -v : v);
	return vlcMV[m][1] + (m != 0);
}

// The luminance SAD and vector cost of candidate vectors of one macroblock. The decoder fetches a
// vector that is half-sample in both directions as the mean of four samples, and any other from the
// full sample above and left of it; the SAD is that of this prediction.
struct Search {
	const uint8_t* reference;  // the co-located block of the reference
	const uint8_t* source;
	uint32_t stride;
	int32_t rounding;
	Motion predictor;
	int32_t lambda16;  // motion lambda x 16
	Motion best;
	int32_t bestCost = INT_MAX;
	int32_t bestSad = INT_MAX;

	static bool InRange(Motion v)
	{
		const int32_t x = v.x >> 1, y = v.y >> 1;
		return x >= kLowest && x <= kHighest && y >= kLowest && y <= kHighest;
	}

	// The vector's bits weighed by lambda, in SAD units.
	int32_t Rate(Motion v) const
	{
		return (lambda16 * int32_t(MotionBits(v.x - predictor.x, v.y - predictor.y)) + 8) >> 4;
	}

	// The SAD of the prediction for v, exact when below `limit` (the kernels may stop above it).
	int32_t Sad(Motion v, int32_t limit) const
	{
		const uint8_t* p = reference + ptrdiff_t(v.y >> 1) * ptrdiff_t(stride) + (v.x >> 1);
		return (v.x & 1) && (v.y & 1) ? gKernels.halfSampleSadDiagonal(p, source, stride, rounding, limit)
		                              : gKernels.blockSad16(p, source, stride, limit);
	}

	// Tries one vector (half-sample units); true when it became the best.
	bool Try(Motion v)
	{
		if (!InRange(v))
			return false;
		const int32_t rate = Rate(v);
		if (rate >= bestCost)
			return false;
		const int32_t sad = Sad(v, bestCost - rate);
		if (sad + rate >= bestCost)
			return false;
		bestCost = sad + rate;
		bestSad = sad;
		best = v;
		return true;
	}
};

Motion Full(int32_t x, int32_t y) { return Motion{int16_t(2 * x), int16_t(2 * y)}; }

// SAD of both chrominance blocks of the macroblock against the prediction the decoder fetches for
// the luminance vector v; vectors searched keep it inside the planes' borders.
int32_t ChromaSad(const MacroBlock* mb, Motion v)
{
	const Vop* vop = mb->vop;
	const int32_t kx = ChromaVectorComponent(v.x), ky = ChromaVectorComponent(v.y);
	const uint32_t stride = vop->planeU->width;
	const size_t origin = size_t{8 + 8 * mb->mbY} * stride + 8 + 8 * mb->mbX;
	const ptrdiff_t offset = ptrdiff_t(ky >> 1) * ptrdiff_t(stride) + (kx >> 1);
	int32_t sad = 0;
	for (const auto& [reference, source] :
	     {std::pair{vop->planeU, vop->srcU}, std::pair{vop->planeV, vop->srcV}}) {
		const uint8_t* s = source->data + origin;
		const uint8_t* p = reference->data + origin + offset;
		if ((kx & 1) && (ky & 1)) {
			sad += int32_t(gKernels.sadAverage4_8x8(s, p, stride, 2 - vop->rounding));
		} else {
			int32_t increase = 0;
			sad += int32_t(gKernels.sadIncrease8x8(s, stride, p, stride, &increase));
		}
	}
	return sad;
}

// Levels of every block of an inter macroblock from its prediction; returns their distortion and
// adds the bits of their coefficients to *bits.
double InterLevels(MacroBlock* mb, double lambda, uint32_t* bits)
{
	alignas(16) int16_t residual[64];
	int32_t weighted[64];
	double distortion = 0;
	for (Block& block : mb->blocks) {
		gHooks.blockSub(block.recon, block.pred, residual);
		// A block the prediction matches exactly has no levels, no error and no bits.
		if (BlockAll0(residual)) {
			memset(block.coef, 0, sizeof block.coef);
			continue;
		}
		gKernels.dctWeightedInter(residual, weighted);
		uint32_t blockBits;
		distortion += Block_DecideLevels(weighted, block.coef, mb->mbQuant, false,
		                                 block.kind == kBlockKindLuma, lambda, &blockBits);
		*bits += blockBits;
	}
	return distortion;
}

double IntraLevels(MacroBlock* mb, double lambda)
{
	int32_t weighted[64];
	double distortion = 0;
	for (Block& block : mb->blocks) {
		const bool luma = block.kind == kBlockKindLuma;
		gKernels.dctQuantizeWeightedIntra(block.recon, mb->mbQuant, luma, block.coef, weighted);
		distortion += Block_DecideLevels(weighted, block.coef, mb->mbQuant, true, luma, lambda);
	}
	return distortion;
}

// Codes the macroblock as intra; returns distortion + lambda x bits.
double TryIntra(MacroBlock* mb, double lambda)
{
	mb->mbType = kMbTypeIntra;
	mb->mv = Motion{0, 0};
	const double distortion = IntraLevels(mb, lambda);
	MacroBlock_FinishDecisions(mb);
	return distortion + lambda * MacroBlock_TrialBits(mb);
}

// The luminance search ignores the chrominance, whose vector is rounded its own way (a luminance
// vector of -1 half-sample moves the chrominance half a sample the other way): the vectors within a
// half-sample of the luminance best are compared by the SAD of all six blocks plus their bits.
// Sets mb->mv; returns the luminance SAD there.
int32_t ChooseWithChroma(MacroBlock* mb, const Search& search)
{
	Motion best = search.best;
	int32_t bestLumaSad = search.bestSad;
	int32_t bestCost = search.bestCost + ChromaSad(mb, best);
	const bool bestDiagonal = (best.x & 1) && (best.y & 1);
	for (int dy = -1; dy <= 1; ++dy)
		for (int dx = -1; dx <= 1; ++dx) {
			const Motion v{int16_t(search.best.x + dx), int16_t(search.best.y + dy)};
			const bool diagonal = (v.x & 1) && (v.y & 1);
			if ((dx == 0 && dy == 0) || !Search::InRange(v))
				continue;
			const int32_t rate = search.Rate(v);
			if (rate >= bestCost)
				continue;
			// The luminance first (a vector half-sample in one direction only predicts it as the full
			// sample above and left does): most candidates lose on it alone.
			int32_t lumaSad = search.bestSad;
			if (v.x >> 1 != search.best.x >> 1 || v.y >> 1 != search.best.y >> 1 ||
			    diagonal != bestDiagonal) {
				lumaSad = search.Sad(v, bestCost - rate);
				if (lumaSad + rate >= bestCost)
					continue;
			}
			const int32_t cost = lumaSad + rate + ChromaSad(mb, v);
			if (cost < bestCost) {
				bestCost = cost;
				best = v;
				bestLumaSad = lumaSad;
			}
		}
	mb->mv = best;
	return bestLumaSad;
}

// The macroblock not coded: the reference stands (inter, zero vector, nothing sent).
void MakeSkipped(MacroBlock* mb)
{
	MacroBlock_Reset(mb);
	mb->mbType = kMbTypeInter;
	mb->codedMb = 0;
	for (Block* block : mb->block)
		block->codedBlock = 0;
}

}  // namespace

uint32_t MotionBits(int32_t dx, int32_t dy) { return ComponentBits(dx) + ComponentBits(dy); }

RdLambda RdLambda_ForQuant(uint8_t quant, uint8_t codingType)
{
	const double scale = codingType == kCodingTypeI ? kIntraLambdaScale : kPredictedLambdaScale;
	const double mode = scale * quant * quant;
	return {mode, std::sqrt(mode)};
}

int32_t MacroBlock_SearchMotionBetter(MacroBlock* mb, const RdLambda& lambda)
{
	const Vop* vop = mb->vop;
	const uint32_t stride = vop->planeY->width;
	const size_t origin = size_t{16 + 16 * mb->mbY} * stride + 16 + 16 * mb->mbX;
	Search search;
	search.reference = vop->planeY->data + origin;
	search.source = vop->srcY->data + origin;
	search.stride = stride;
	search.rounding = vop->rounding;
	MacroBlock_PredictMV(mb, &search.predictor);
	search.lambda16 = int32_t(lambda.motion * 16 + 0.5);
	search.best = Motion{0, 0};

	// Seeds: no motion, the predictor, the neighbours' vectors and the coarse search on the
	// half-size planes.
	search.Try(Motion{0, 0});
	search.Try(search.predictor);
	const MacroBlock* above = mb->above;
	const MacroBlock* neighbours[3] = {mb->left, above, above && mb->right ? above->right : nullptr};
	for (const MacroBlock* n : neighbours)
		if (n)
			search.Try(n->mv);
	Motion coarse;
	PlaneMotionSearch_8x8(&coarse, vop->subY, vop->subSrcY, 8 * int32_t(mb->mbX) + 8,
	                      8 * int32_t(mb->mbY) + 8, 0, 0, 7, true, INT_MAX);
	search.Try(Full(2 * coarse.x, 2 * coarse.y));

	// Full-sample steps from the best seed's full sample (a diagonal seed's too, from the sample
	// above and left of it); the half-sample vectors around the best are left to the final choice.
	int32_t x = search.best.x >> 1, y = search.best.y >> 1;
	search.Try(Full(x, y));
	for (int step = 0; step < kMostSteps; ++step) {
		x = search.best.x >> 1, y = search.best.y >> 1;
		bool moved = false;
		for (const Motion v : {Full(x, y - 1), Full(x - 1, y), Full(x + 1, y), Full(x, y + 1)})
			moved |= search.Try(v);
		if (!moved)
			break;
	}
	return ChooseWithChroma(mb, search);
}

void MacroBlock_CodeIntraBetter(MacroBlock* mb, const RdLambda& lambda)
{
	mb->mbType = kMbTypeIntra;
	mb->mv = Motion{0, 0};
	mb->mbQuant = mb->vop->quant;
	IntraLevels(mb, lambda.mode);
	MacroBlock_FinishDecisions(mb);
}

void MacroBlock_DecideBetter(MacroBlock* mb, const RdLambda& lambda)
{
	mb->mbQuant = mb->vop->quant;
	mb->dquant = 0;
	// Not coding costs one bit; anything coded costs at least six, so a small enough error at zero
	// motion settles it. The squared error of a block is at least its SAD squared over its 64
	// samples, and the fast kernels give the SADs, so the error is measured only where it can decide.
	SadMacroBlock(mb);
	uint32_t zeroSad = 0;
	double leastSse = 0;
	for (const Block& block : mb->blocks) {
		zeroSad += block.sad;
		leastSse += double(block.sad) * block.sad / 64;
	}
	// The cost of not coding, measured when first needed.
	std::optional<double> skipped;
	auto skipCost = [&] {
		if (!skipped)
			skipped = (zeroSad == 0 ? 0 : double(MacroBlock_ZeroMotionSse(mb))) + lambda.mode;
		return *skipped;
	};
	if (leastSse + lambda.mode <= 6 * lambda.mode && skipCost() <= 6 * lambda.mode) {
		MakeSkipped(mb);
		return;
	}

	const int32_t sad = MacroBlock_SearchMotionBetter(mb, lambda);
	mb->mbType = kMbTypeInter;
	mb->codedMb = 1;
	MacroBlock_PredictInter(mb);
	// The coefficients' bits are the chosen events': only the header is counted by writing it.
	uint32_t bits = 0;
	double best = InterLevels(mb, lambda.mode, &bits);
	MacroBlock_FinishDecisions(mb);
	best += lambda.mode * (MacroBlock_HeaderBits(mb) + bits);

	// Intra only where the source is flatter than the best prediction's error.
	if (MacroBlock_LumaDeviation(mb) < sad) {
		const MacroBlock inter = *mb;
		const double intra = TryIntra(mb, lambda.mode);
		if (intra < best)
			best = intra;
		else
			*mb = inter;
	}
	if (leastSse + lambda.mode < best && skipCost() < best)
		MakeSkipped(mb);
}
