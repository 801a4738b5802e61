// Rate control: the quantiser of each frame when a data rate is set. A rate model (bits = complexity
// / quantiser, one complexity for P-VOPs and one for I-VOPs, learnt from the bytes each frame really
// took) turns a frame budget into a quantiser; the budget follows a decoder-buffer model, paying back
// what earlier frames overspent within a horizon that the DRT sensitivity sets (tight: a quarter of a
// second, loose: three seconds, and the quantiser then moves by fewer steps per frame). The quality is a floor:
// the quantiser never rises above the quality's own, except at the lowest quality, which sets none.
#include <math.h>

#include "enc_internal.h"
#include "korvo.h"
namespace {

constexpr double kDefaultFrameRate = 25.0;
// First guesses of bits x quantiser per picture sample, before a frame of the type was measured.
constexpr double kIntraComplexityPerSample = 3.0;
constexpr double kIntraToPredicted = 4.0;
// An I-VOP may take up to this many frame budgets; the buffer pays the rest back.
constexpr double kMaxIntraShare = 4.0;

double FrameRate(const KorvParams* params)
{
	const double rate = params->frameRate;
	return rate > 0 && rate < 1000 ? rate : kDefaultFrameRate;
}

// 0 loose .. 1 tight.
double Tightness(const KorvParams* params) { return params->drtSensitivity / 255.0; }

uint8_t Clamp(double q, int low, int high)
{
	const double r = floor(q + 0.5);
	return uint8_t(r < low ? low : r > high ? high : r);
}

}  // namespace

double RateControl_FrameBits(const KorvParams* params)
{
	return params->dataRate * 1000.0 / FrameRate(params);
}

uint8_t RateControl_MaxQuant(const KorvParams* params)
{
	return params->spatialQuality == 0 ? 31 : Params_VopQuant(params->spatialQuality);
}

uint8_t RateControl_FrameQuant(KorvParams* params)
{
	KorvRateControl* rc = &params->rate;
	const Vop* vop = params->vop;
	const bool intra = vop->codingType != kCodingTypeP;
	const double samples = double(vop->width) * vop->height;
	if (rc->complexity[1] <= 0)
		rc->complexity[1] = samples * kIntraComplexityPerSample;
	if (rc->complexity[0] <= 0)
		rc->complexity[0] = rc->complexity[1] / kIntraToPredicted;

	const double tight = Tightness(params);
	const double frameBits = RateControl_FrameBits(params);
	const double horizon = FrameRate(params) * (3.0 - 2.75 * tight);
	double budget = frameBits - rc->buffer / horizon;
	// However full the buffer, a frame keeps a little budget: the quantiser range ends the rest.
	if (budget < frameBits * 0.05)
		budget = frameBits * 0.05;
	if (intra) {
		double share = rc->complexity[1] / rc->complexity[0];
		share = share < 1 ? 1 : share > kMaxIntraShare ? kMaxIntraShare : share;
		budget *= share;
	}
	// An I-VOP codes at one more than the frame's quantiser, and so does a P-VOP that turns into one
	// as the last did.
	const double wanted = rc->complexity[intra] / budget - (intra || rc->switched ? 1 : 0);
	const int maxQuant = RateControl_MaxQuant(params);
	// Between two quantisers the frames alternate so that the mean follows the model: one step can
	// change the bits by a fifth, more than the target's tolerance.
	const double dithered = wanted + rc->carry;
	uint8_t q = Clamp(dithered, 1, maxQuant);
	const double carry = dithered - q;
	rc->carry = carry < -0.5 ? -0.5 : carry > 0.5 ? 0.5 : carry;
	// Steadier quality when loose; an overfull buffer (a second's worth) lifts any limit upwards.
	if (rc->quant != 0 && !intra) {
		const int step = 1 + int(tight * 6);
		const bool overfull = rc->buffer > frameBits * FrameRate(params);
		const int low = rc->quant - step, high = overfull ? maxQuant : rc->quant + step;
		q = Clamp(q, low < 1 ? 1 : low, high > maxQuant ? maxQuant : high);
	}
	return q;
}

void RateControl_Update(KorvParams* params, uint8_t plannedType, uint8_t codingType, uint8_t quant,
                        uint32_t bytes)
{
	KorvRateControl* rc = &params->rate;
	const double bits = bytes * 8.0;
	const bool intra = codingType != kCodingTypeP;
	const double measured = bits * quant;
	const double weight = 0.5 + 0.4 * Tightness(params);
	// A planned P-VOP that became an I-VOP says what the next P-VOP will cost too: a new scene.
	for (int type = 0; type < 2; ++type) {
		if (type != intra && !(type == 0 && plannedType == kCodingTypeP))
			continue;
		double& complexity = rc->complexity[type];
		complexity = complexity > 0 ? complexity + weight * (measured - complexity) : measured;
	}
	rc->buffer += bits - RateControl_FrameBits(params);
	// Underspending is saved up for a second at most (tight: half a second): an easy stretch must
	// not pay for a long burst later.
	const double floor = -RateControl_FrameBits(params) * FrameRate(params) * (1.0 - 0.5 * Tightness(params));
	if (rc->buffer < floor)
		rc->buffer = floor;
	rc->switched = intra && plannedType == kCodingTypeP;
	rc->quant = intra && quant > 1 ? uint8_t(quant - 1) : quant;
}
