// The G.723 24 kbit/s ADPCM coder: adaptive quantiser, two-pole six-zero predictor, scale-factor and
// speed-control adaptation and tone/transition detection, all in the algorithm's fixed-point arithmetic.
#include "g72x.h"

#include <cstdlib>

// The rounding term of the mantissa product in fmult is the algorithm's 48. libsndfile's G.723 decoder
// leaves it out; its comparison test builds this file a second time with 0 to check everything else.
#ifndef G72X_PRODUCT_ROUNDING
#define G72X_PRODUCT_ROUNDING 48
#endif

const int16_t power2[15] = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384};

namespace {

// Decision levels of the 3-bit quantiser, in the log domain relative to the scale factor.
const int16_t qtab_723_24[3] = {8, 218, 331};
// Per code word: log-domain reconstruction level, scale-factor multiplier, transition weight.
const int16_t _dqlntab[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
const int16_t _witab[8] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
const int16_t _fitab[8] = {0, 512, 1024, 3584, 3584, 1024, 512, 0};

int Wrap16(int value) { return static_cast<int16_t>(value); }

// A signed magnitude (0..32767) in floating format: exponent, 6-bit normalised mantissa, sign.
int16_t ToFloat(int magnitude, bool negative)
{
	int value = 32;  // zero: exponent 0, mantissa 1.0
	if (magnitude != 0) {
		const int exponent = quan(magnitude, power2, 15);
		value = (exponent << 6) + ((magnitude << 6) >> exponent);
	}
	return static_cast<int16_t>(negative ? value - 0x400 : value);
}

}  // namespace

void g72x_init_state(g72x_state* state)
{
	*state = g72x_state{};
	state->yl = 34816;
	state->yu = 544;
	for (int16_t& v : state->dq)
		v = 32;
	for (int16_t& v : state->sr)
		v = 32;
}

int quan(int value, const int16_t* table, int size)
{
	int i = 0;
	while (i < size && value >= table[i])
		i++;
	return i;
}

int fmult(int an, int srn)
{
	// `an` is a 14-bit coefficient, `srn` a floating-format signal; the product is formed from the
	// exponents and 6-bit mantissas of both and returned as a 15-bit magnitude with its sign.
	const int anMag = an > 0 ? an : ((-an) & 0x1FFF);
	const int anExp = quan(anMag, power2, 15) - 6;
	const int anMant = anMag == 0 ? 32 : anExp >= 0 ? anMag >> anExp : anMag << -anExp;
	const int wanExp = anExp + ((srn >> 6) & 0xF) - 13;
	const int wanMant = (anMant * (srn & 0x3F) + G72X_PRODUCT_ROUNDING) >> 4;
	const int magnitude = wanExp >= 0 ? (wanMant << wanExp) & 0x7FFF : wanMant >> -wanExp;
	return (an ^ srn) < 0 ? -magnitude : magnitude;
}

int predictor_zero(const g72x_state* state)
{
	int sum = 0;
	for (int i = 0; i < 6; i++)
		sum += fmult(state->b[i] >> 2, state->dq[i]);
	return sum;
}

int predictor_pole(const g72x_state* state)
{
	return fmult(state->a[1] >> 2, state->sr[1]) + fmult(state->a[0] >> 2, state->sr[0]);
}

int step_size(const g72x_state* state)
{
	// Once the speed control is fully fast the unlocked factor is used alone; otherwise the two are
	// mixed by ap / 256, the product's magnitude rounded down.
	if (state->ap >= 256)
		return state->yu;
	int y = state->yl >> 6;
	const int dif = state->yu - y;
	const int al = state->ap >> 2;
	if (dif > 0)
		y += (dif * al) >> 6;
	else if (dif < 0)
		y += (dif * al + 0x3F) >> 6;
	return y;
}

int quantize(int d, int y, const int16_t* table, int size)
{
	// log2 of |d| with a 7-bit fraction, normalised by the scale factor.
	const int dqm = std::abs(d);
	const int exponent = quan(dqm >> 1, power2, 15);
	const int mantissa = ((dqm << 7) >> exponent) & 0x7F;
	const int dl = (exponent << 7) + mantissa;
	const int dln = dl - (y >> 2);
	const int i = quan(dln, table, size);
	if (d < 0)
		return (size << 1) + 1 - i;
	if (i == 0)
		return (size << 1) + 1;
	return i;
}

int reconstruct(int sign, int dqln, int y)
{
	// Back from the log domain; the result is a magnitude with the sign in bit 15 (negative values are
	// the magnitude minus 0x8000).
	const int dql = dqln + (y >> 2);
	if (dql < 0)
		return sign ? -0x8000 : 0;
	const int dex = (dql >> 7) & 15;
	const int dqt = 128 + (dql & 127);
	const int dq = (dqt << 7) >> (14 - dex);
	return sign ? dq - 0x8000 : dq;
}

void update(int code_size, int y, int wi, int fi, int dq, int sr, int dqsez, g72x_state* state)
{
	const int pk0 = dqsez < 0 ? 1 : 0;
	const int mag = dq & 0x7FFF;

	// Transition detector: a large difference while a tone was seen marks a change of signal.
	const int ylint = state->yl >> 15;
	const int ylfrac = (state->yl >> 10) & 0x1F;
	const int thr1 = (32 + ylfrac) << ylint;
	const int thr2 = ylint > 9 ? 31 << 10 : thr1;
	const int dqthr = (thr2 + (thr2 >> 1)) >> 1;
	const bool tr = state->td != 0 && mag > dqthr;

	// Scale factors: the fast one follows the code's multiplier within 544..5120, the slow one
	// follows the fast one.
	int yu = y + ((wi - y) >> 5);
	if (yu < 544)
		yu = 544;
	else if (yu > 5120)
		yu = 5120;
	state->yu = static_cast<int16_t>(yu);
	state->yl += yu + ((-state->yl) >> 6);

	int a2p = 0;
	if (tr) {
		// A transition restarts the predictor.
		state->a[0] = state->a[1] = 0;
		for (int16_t& b : state->b)
			b = 0;
	} else {
		// Second pole, limited to |a2| <= 0.75.
		const int pks1 = pk0 ^ state->pk[0];
		a2p = state->a[1] - (state->a[1] >> 7);
		if (dqsez != 0) {
			const int fa1 = pks1 ? state->a[0] : -state->a[0];
			if (fa1 < -8191)
				a2p -= 0x100;
			else if (fa1 > 8191)
				a2p += 0xFF;
			else
				a2p += fa1 >> 5;

			if (pk0 ^ state->pk[1]) {
				if (a2p <= -12160)
					a2p = -12288;
				else if (a2p >= 12416)
					a2p = 12288;
				else
					a2p -= 0x80;
			} else if (a2p <= -12416) {
				a2p = -12288;
			} else if (a2p >= 12160) {
				a2p = 12288;
			} else {
				a2p += 0x80;
			}
		}
		state->a[1] = static_cast<int16_t>(a2p);

		// First pole, limited to |a1| <= 1 - 2^-4 - a2 for stability.
		int a1 = state->a[0] - (state->a[0] >> 8);
		if (dqsez != 0)
			a1 += pks1 == 0 ? 192 : -192;
		const int a1ul = 15360 - a2p;
		if (a1 < -a1ul)
			a1 = -a1ul;
		else if (a1 > a1ul)
			a1 = a1ul;
		state->a[0] = static_cast<int16_t>(a1);

		// Zeros: leak, then step toward the sign correlation of dq with its history. The sums wrap
		// in 16 bits as the algorithm's registers do.
		const int leak = code_size == 5 ? 9 : 8;
		for (int i = 0; i < 6; i++) {
			int b = state->b[i] - (state->b[i] >> leak);
			if (mag != 0)
				b += (dq ^ state->dq[i]) >= 0 ? 128 : -128;
			state->b[i] = static_cast<int16_t>(b);
		}
	}

	for (int i = 5; i > 0; i--)
		state->dq[i] = state->dq[i - 1];
	state->dq[0] = ToFloat(mag, dq < 0);

	state->sr[1] = state->sr[0];
	if (sr >= 0)
		state->sr[0] = ToFloat(sr, false);
	else if (sr > -32768)
		state->sr[0] = ToFloat(-sr, true);
	else
		state->sr[0] = ToFloat(0, true);

	state->pk[1] = state->pk[0];
	state->pk[0] = static_cast<int16_t>(pk0);

	// Tone detector: a strongly resonant second pole means a narrow-band signal.
	state->td = !tr && a2p < -11776 ? 1 : 0;

	// Speed control: fast adaptation for small scale factors, tones, transitions and changing
	// code-magnitude averages; slow otherwise.
	state->dms = static_cast<int16_t>(state->dms + ((fi - state->dms) >> 5));
	state->dml = static_cast<int16_t>(state->dml + (((fi << 2) - state->dml) >> 7));
	if (tr)
		state->ap = 256;
	else if (y < 1536 || state->td == 1 || std::abs((state->dms << 2) - state->dml) >= (state->dml >> 3))
		state->ap = static_cast<int16_t>(state->ap + ((0x200 - state->ap) >> 4));
	else
		state->ap = static_cast<int16_t>(state->ap + ((-state->ap) >> 4));
}

int ulaw_to_linear(uint8_t code)
{
	const int u = ~code & 0xFF;
	const int t = (((u & 0x0F) << 3) + 0x84) << ((u >> 4) & 7);
	return (u & 0x80) ? 0x84 - t : t - 0x84;
}

int alaw_to_linear(uint8_t code)
{
	const int a = code ^ 0x55;
	const int segment = (a >> 4) & 7;
	int t = (a & 0x0F) << 4;
	if (segment == 0)
		t += 8;
	else
		t = (t + 0x108) << (segment - 1);
	return (a & 0x80) ? t : -t;
}

namespace {

// What both directions predict before a code is chosen or read: the signal estimate, the
// zero-predictor half of it and the quantiser scale.
struct Prediction {
	int sez;
	int se;
	int y;
};

Prediction Predict(const g72x_state* state)
{
	// The predictor sums are 16-bit registers that wrap.
	const int sezi = Wrap16(predictor_zero(state));
	return {sezi >> 1, Wrap16(sezi + predictor_pole(state)) >> 1, step_size(state)};
}

// Reconstructs the signal from code `i`, adapts the state to it and returns the 16-bit linear
// sample a decoder puts out (the 14-bit signal scaled by four, kept in 16 bits).
int ReconstructAndAdapt(int i, const Prediction& p, g72x_state* state)
{
	const int dq = reconstruct(i & 4, _dqlntab[i], p.y);
	const int sr = Wrap16(dq < 0 ? p.se - (dq & 0x3FFF) : p.se + dq);
	const int dqsez = Wrap16(sr + p.sez - p.se);
	update(3, p.y, _witab[i], _fitab[i], dq, sr, dqsez, state);
	return Wrap16(sr * 4);
}

}  // namespace

int g723_24_encode(int sample, int in_coding, g72x_state* state, int* reconstructed)
{
	switch (in_coding) {
		case G72X_CODING_ULAW: sample = ulaw_to_linear(static_cast<uint8_t>(sample)); break;
		case G72X_CODING_ALAW: sample = alaw_to_linear(static_cast<uint8_t>(sample)); break;
		case G72X_CODING_LINEAR: break;
		default: return -1;
	}
	const Prediction p = Predict(state);
	const int i = quantize((sample >> 2) - p.se, p.y, qtab_723_24, 3);  // 14-bit range
	const int out = ReconstructAndAdapt(i, p, state);
	if (reconstructed)
		*reconstructed = out;
	return i;
}

int g723_24_encoder(int sample, int in_coding, g72x_state* state)
{
	return g723_24_encode(sample, in_coding, state, nullptr);
}

int g723_24_decoder(int code, int out_coding, g72x_state* state)
{
	if (out_coding != G72X_CODING_LINEAR)
		return -1;
	return ReconstructAndAdapt(code & 7, Predict(state), state);
}
