// The better tuning's macroblock decisions: motion search seeded from the neighbours' vectors with
// the vector bits counted, and the choice of skipped, inter or intra by distortion plus lambda x bits.
#include <climits>
#include <cmath>
#include <stdlib.h>

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

	int32_t Bits(Motion v) const { return int32_t(MotionBits(v.x - predictor.x, v.y - predictor.y)); }

	// Tries one vector (half-sample units); true when it became the best.
	bool Try(Motion v)
	{
		const int32_t x = v.x >> 1, y = v.y >> 1;
		if (x < kLowest || x > kHighest || y < kLowest || y > kHighest)
			return false;
		const int32_t rate = (lambda16 * Bits(v) + 8) >> 4;
		if (rate >= bestCost)
			return false;
		const uint8_t* p = reference + ptrdiff_t(y) * ptrdiff_t(stride) + x;
		const int32_t limit = bestCost - rate;
		const int32_t sad = (v.x & 1) && (v.y & 1)
		                            ? gKernels.halfSampleSadDiagonal(p, source, stride, rounding, limit)
		                            : gKernels.blockSad16(p, source, stride, limit);
		if (sad + rate >= bestCost)
			return false;
		bestCost = sad + rate;
		bestSad = sad;
		best = v;
		return true;
	}
};

Motion Full(int32_t x, int32_t y) { return Motion{int16_t(2 * x), int16_t(2 * y)}; }

// Levels of every block of an inter macroblock from its prediction; returns their distortion.
double InterLevels(MacroBlock* mb, double lambda)
{
	alignas(16) int16_t residual[64];
	int32_t weighted[64];
	double distortion = 0;
	for (Block& block : mb->blocks) {
		gHooks.blockSub(block.recon, block.pred, residual);
		DCTWeighted_Inter(residual, weighted);
		distortion += Block_DecideLevels(weighted, block.coef, mb->mbQuant, false,
		                                 block.kind == kBlockKindLuma, lambda);
	}
	return distortion;
}

double IntraLevels(MacroBlock* mb, double lambda)
{
	int32_t weighted[64];
	double distortion = 0;
	for (Block& block : mb->blocks) {
		const bool luma = block.kind == kBlockKindLuma;
		DCTQuantizeWeighted_Intra(block.recon, mb->mbQuant, luma, block.coef, weighted);
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

	// Full-sample steps from the best seed's full sample, then the four half-sample diagonals.
	int32_t x = search.best.x >> 1, y = search.best.y >> 1;
	search.Try(Full(x, y));
	for (int step = 0; step < kMostSteps; ++step) {
		const Motion centre = search.best;
		if ((centre.x & 1) && (centre.y & 1))
			break;
		x = centre.x >> 1, y = centre.y >> 1;
		bool moved = false;
		for (const Motion v : {Full(x, y - 1), Full(x - 1, y), Full(x + 1, y), Full(x, y + 1)})
			moved |= search.Try(v);
		if (!moved)
			break;
	}
	x = search.best.x >> 1, y = search.best.y >> 1;
	if (!((search.best.x & 1) && (search.best.y & 1)))
		for (const Motion v :
		     {Motion{int16_t(2 * x - 1), int16_t(2 * y - 1)}, Motion{int16_t(2 * x + 1), int16_t(2 * y - 1)},
		      Motion{int16_t(2 * x - 1), int16_t(2 * y + 1)}, Motion{int16_t(2 * x + 1), int16_t(2 * y + 1)}})
			search.Try(v);
	mb->mv = search.best;
	return search.bestSad;
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
	// motion settles it.
	const double skipped = MacroBlock_ZeroMotionSse(mb) + lambda.mode;
	if (skipped <= 6 * lambda.mode) {
		MakeSkipped(mb);
		return;
	}

	const int32_t sad = MacroBlock_SearchMotionBetter(mb, lambda);
	mb->mbType = kMbTypeInter;
	mb->codedMb = 1;
	MacroBlock_PredictInter(mb);
	double best = InterLevels(mb, lambda.mode);
	MacroBlock_FinishDecisions(mb);
	best += lambda.mode * MacroBlock_TrialBits(mb);

	// Intra only where the source is flatter than the best prediction's error.
	if (MacroBlock_LumaDeviation(mb) < sad) {
		const MacroBlock inter = *mb;
		const double intra = TryIntra(mb, lambda.mode);
		if (intra < best)
			best = intra;
		else
			*mb = inter;
	}
	if (skipped < best)
		MakeSkipped(mb);
}
