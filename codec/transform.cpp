// Korvo transforms: the bit-exact integer inverse DCT of reconstruction, the scaled lifting forward
// DCT that feeds the encoder's quantisers, and the double-precision forward DCT of the interface.
#include <math.h>

#include "transform_internal.h"
namespace {

using korvo_dsp::Sar;
using korvo_dsp::Wrap;

// One 1-D pass of the inverse DCT over eight values `stride` apart. The row pass (kColumn false) keeps
// 11 fractional bits and rounds the output by 8 bits; the column pass keeps 8 and 14 and drops 3 bits
// after each multiplication. Intermediates wrap at 32 bits, which blocks near the 12-bit limit reach.
template <bool kColumn>
void IdctPass(int16_t* p, int stride)
{
	int16_t* b[8];
	for (int k = 0; k < 8; ++k)
		b[k] = p + k * stride;
	if ((*b[1] | *b[2] | *b[3] | *b[4] | *b[5] | *b[6] | *b[7]) == 0) {
		const int16_t dc =
		        kColumn ? static_cast<int16_t>((*b[0] + 32) >> 6) : static_cast<int16_t>(Wrap(*b[0]) << 3);
		for (int16_t* q : b)
			*q = dc;
		return;
	}
	constexpr uint32_t kBias = kColumn ? 4 : 0;
	auto scaled = [](uint32_t v) { return kColumn ? Wrap(Sar(v, 3)) : v; };

	uint32_t x0 = kColumn ? (Wrap(*b[0]) << 8) + 8192 : (Wrap(*b[0]) << 11) + 128;
	uint32_t x1 = Wrap(*b[4]) << (kColumn ? 8 : 11);
	uint32_t x2 = Wrap(*b[6]), x3 = Wrap(*b[2]), x4 = Wrap(*b[1]);
	uint32_t x5 = Wrap(*b[7]), x6 = Wrap(*b[5]), x7 = Wrap(*b[3]);

	// Stage 1: odd part rotations.
	uint32_t x8 = 565u * (x4 + x5) + kBias;
	x4 = scaled(x8 + 2276u * x4);
	x5 = scaled(x8 - 3406u * x5);
	x8 = 2408u * (x6 + x7) + kBias;
	x6 = scaled(x8 - 799u * x6);
	x7 = scaled(x8 - 4017u * x7);

	// Stage 2: even part rotation and butterflies.
	x8 = x0 + x1;
	x0 -= x1;
	x1 = 1108u * (x3 + x2) + kBias;
	x2 = scaled(x1 - 3784u * x2);
	x3 = scaled(x1 + 1568u * x3);
	x1 = x4 + x6;
	x4 -= x6;
	x6 = x5 + x7;
	x5 -= x7;

	// Stage 3.
	x7 = x8 + x3;
	x8 -= x3;
	x3 = x0 + x2;
	x0 -= x2;
	x2 = Wrap(Sar(181u * (x4 + x5) + 128u, 8));
	x4 = Wrap(Sar(181u * (x4 - x5) + 128u, 8));

	constexpr int kShift = kColumn ? 14 : 8;
	*b[0] = static_cast<int16_t>(Sar(x7 + x1, kShift));
	*b[1] = static_cast<int16_t>(Sar(x3 + x2, kShift));
	*b[2] = static_cast<int16_t>(Sar(x0 + x4, kShift));
	*b[3] = static_cast<int16_t>(Sar(x8 + x6, kShift));
	*b[4] = static_cast<int16_t>(Sar(x8 - x6, kShift));
	*b[5] = static_cast<int16_t>(Sar(x0 - x4, kShift));
	*b[6] = static_cast<int16_t>(Sar(x3 - x2, kShift));
	*b[7] = static_cast<int16_t>(Sar(x7 - x1, kShift));
}

// (k * v) >> 14 on the wrapped 32-bit product: the lifting steps' 14-bit fixed-point multiply.
inline uint32_t Mul14(uint32_t k, uint32_t v) { return Wrap(Sar(k * v, 14)); }

// One 1-D lifting pass on x[0..7], results in natural frequency order to out[0], out[stride], ....
// The row pass scales the butterflies by 32 to keep fractional precision in integers.
void LiftingPass(const uint32_t* x, int32_t* out, int stride, int preShift)
{
	const uint32_t s07 = (x[0] + x[7]) << preShift, d07 = (x[0] - x[7]) << preShift;
	const uint32_t s16 = (x[1] + x[6]) << preShift, d16 = (x[1] - x[6]) << preShift;
	const uint32_t s25 = (x[2] + x[5]) << preShift, d25 = (x[2] - x[5]) << preShift;
	const uint32_t s34 = (x[3] + x[4]) << preShift, d34 = (x[3] - x[4]) << preShift;

	const uint32_t a0 = s07 + s34, a3 = s07 - s34, a1 = s16 + s25, a2 = s16 - s25;
	const uint32_t X6 = a2 - Mul14(6786, a3);
	const uint32_t X2 = a3 + Mul14(5793, X6);

	const uint32_t e0 = Mul14(11585, d16 + d25), e1 = Mul14(11585, d16 - d25);
	const uint32_t f0 = d34 + e1, f1 = d34 - e1, g0 = d07 + e0, g1 = d07 - e0;
	const uint32_t X7 = f0 - Mul14(3259, g0);
	const uint32_t X1 = g0 + Mul14(3135, X7);
	const uint32_t X5 = f1 + Mul14(10947, g1);
	const uint32_t X3 = g1 - Mul14(7568, X5);

	const uint32_t result[8] = {a0 + a1, X1, X2, X3, a0 - a1, X5, X6, X7};
	for (int k = 0; k < 8; ++k)
		out[k * stride] = static_cast<int32_t>(result[k]);
}

// The orthonormal 1-D DCT-II on eight doubles `stride` apart, in place.
void FloatDctPass(double* p, int stride)
{
	double x[8];
	for (int i = 0; i < 8; ++i)
		x[i] = p[i * stride];
	double s[4], d[4];
	for (int i = 0; i < 4; ++i) {
		s[i] = x[i] + x[7 - i];
		d[i] = x[i] - x[7 - i];
	}
	const double pp = (d[1] - d[2]) * 0.7071068, qq = (d[1] + d[2]) * 0.7071068;
	const double u = d[3] + pp, v = d[0] + qq, u2 = d[3] - pp, v2 = d[0] - qq;
	p[0 * stride] = (s[0] + s[1] + s[2] + s[3]) * 0.3535534;
	p[4 * stride] = ((s[0] + s[3]) - (s[1] + s[2])) * 0.3535534;
	p[2 * stride] = (s[0] - s[3]) * 0.4619398 + (s[1] - s[2]) * 0.1913417;
	p[6 * stride] = (s[0] - s[3]) * 0.1913417 - (s[1] - s[2]) * 0.4619398;
	p[1 * stride] = u * 0.0975452 + v * 0.4903926;
	p[7 * stride] = v * 0.0975452 - u * 0.4903926;
	p[5 * stride] = v2 * 0.2777851 + u2 * 0.4157348;
	p[3 * stride] = v2 * 0.4157348 - u2 * 0.2777851;
}

}  // namespace

void IDCT_Fast(int16_t* block)
{
	for (int r = 0; r < 8; ++r)
		IdctPass<false>(block + 8 * r, 1);
	for (int c = 0; c < 8; ++c)
		IdctPass<true>(block + c, 8);
}

void LiftingDCT(const int16_t* in, int32_t* out)
{
	uint32_t x[8];
	for (int r = 0; r < 8; ++r) {
		for (int i = 0; i < 8; ++i)
			x[i] = Wrap(in[8 * r + i]);
		LiftingPass(x, out + 8 * r, 1, 5);
	}
	for (int c = 0; c < 8; ++c) {
		for (int i = 0; i < 8; ++i)
			x[i] = Wrap(out[8 * i + c]);
		LiftingPass(x, out + c, 8, 0);
	}
}

void FloatDCT(const int16_t* in, int16_t* out)
{
	double table[64];
	for (int i = 0; i < 64; ++i)
		table[i] = in[i];
	for (int r = 0; r < 8; ++r)
		FloatDctPass(table + 8 * r, 1);
	for (int c = 0; c < 8; ++c)
		FloatDctPass(table + c, 8);
	// The bias just below one half rounds exact halves down.
	for (int i = 0; i < 64; ++i)
		out[i] = static_cast<int16_t>(static_cast<int32_t>(floor(table[i] + 0.499999)));
}
