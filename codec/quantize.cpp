// Korvo quantisation: the weighting-matrix tables, the decoder's bit-exact dequantisation, the
// encoder's fused lifting-DCT quantisers and the library's matrix and uniform quantiser pairs.
#include <string.h>

#include "frame_internal.h"
#include "transform_internal.h"
using korvo_dsp::Sar;
using korvo_dsp::Wrap;

// The MPEG-4 Visual default weighting matrices, raster order.
constexpr int32_t kCoefficientIntra[64] = {
        8,  17, 18, 19, 21, 23, 25, 27,  //
        17, 18, 19, 21, 23, 25, 27, 28,  //
        20, 21, 22, 23, 24, 26, 28, 30,  //
        21, 22, 23, 24, 26, 28, 30, 32,  //
        22, 23, 24, 26, 28, 30, 32, 35,  //
        23, 24, 26, 28, 30, 32, 35, 38,  //
        25, 26, 28, 30, 32, 35, 38, 41,  //
        27, 28, 30, 32, 35, 38, 41, 45,
};
constexpr int32_t kCoefficientInter[64] = {
        16, 17, 18, 19, 20, 21, 22, 23,  //
        17, 18, 19, 20, 21, 22, 23, 24,  //
        18, 19, 20, 21, 22, 23, 24, 25,  //
        19, 20, 21, 22, 23, 24, 26, 27,  //
        20, 21, 22, 23, 25, 26, 27, 28,  //
        21, 22, 23, 24, 26, 27, 28, 30,  //
        22, 23, 24, 26, 27, 28, 30, 31,  //
        23, 24, 25, 27, 28, 30, 31, 33,
};

// floor(4096 / DC scaler): the intra DC quantiser's reciprocal.
const uint16_t kScaledQuantizerDCScaler_Y[32] = {
        512, 512, 512, 512, 512, 409, 341, 292, 256, 240, 227, 215, 204, 195, 186, 178,
        170, 163, 157, 151, 146, 141, 136, 132, 128, 120, 113, 107, 102, 97,  93,  89,
};
const uint16_t kScaledQuantizerDCScaler_UV[32] = {
        512, 512, 512, 512, 512, 455, 455, 409, 409, 372, 372, 341, 341, 315, 315, 292,
        292, 273, 273, 256, 256, 240, 240, 227, 227, 215, 204, 195, 186, 178, 170, 163,
};

// round(32768 / (g_u * g_v * W[u][v])): weight and lifting-transform gain in one 15-bit factor.
const int16_t kScaledQuantizerCoefficient_Intra[64] = {
        512,  347,  348,  367,  195,  209,  -214, -210,  //
        347,  473,  476,  478,  257,  278,  -286, -293,  //
        313,  431,  436,  464,  261,  284,  -293, -290,  //
        332,  457,  464,  494,  268,  293,  -303, -302,  //
        186,  257,  261,  268,  146,  161,  -167, -162,  //
        209,  289,  284,  293,  161,  177,  -180, -176,  //
        -214, -297, -293, -303, -167, -180, 184,  181,   //
        -210, -293, -290, -302, -162, -176, 181,  175,
};
const int16_t kScaledQuantizerCoefficient_Inter[64] = {
        256,  347,  348,  367,  205,  229,  -243, -247,  //
        347,  473,  476,  502,  281,  316,  -336, -341,  //
        348,  476,  480,  508,  285,  321,  -341, -348,  //
        367,  502,  508,  539,  303,  341,  -350, -358,  //
        205,  281,  285,  303,  164,  185,  -198, -203,  //
        229,  316,  321,  341,  185,  210,  -225, -223,  //
        -243, -336, -341, -350, -198, -225, 233,  239,   //
        -247, -341, -348, -358, -203, -223, 239,  239,
};

namespace {

constexpr uint32_t kMaxQuant = 31;

// The MPEG-4 Visual dc_scaler rule.
constexpr uint8_t DcScaler(uint32_t q, bool luminance)
{
	if (q <= 4)
		return 8;
	if (luminance)
		return static_cast<uint8_t>(q <= 8 ? 2 * q : (q <= 24 ? q + 8 : 2 * q - 16));
	return static_cast<uint8_t>(q <= 24 ? (q + 13) >> 1 : q - 6);
}

struct QuantTables {
	uint8_t dcScaler[256];
	uint16_t intra[32][64];
	uint16_t inter[32][64];
};

// Quant times weight for every quant, so dequantising costs one multiply and one shift.
constexpr QuantTables BuildQuantTables()
{
	QuantTables t{};
	for (uint32_t q = 0; q <= kMaxQuant; ++q) {
		for (uint32_t b = 0; b < 8; ++b)
			t.dcScaler[q * 8 + b] = DcScaler(q, b < 4);
		for (int i = 0; i < 64; ++i) {
			t.intra[q][i] = static_cast<uint16_t>(2 * q * kCoefficientIntra[i]);
			t.inter[q][i] = static_cast<uint16_t>(q * kCoefficientInter[i]);
		}
	}
	return t;
}

constexpr QuantTables kQuantTables = BuildQuantTables();

// Quantisers outside 1..31 occur on no coding path; bringing them back keeps every divisor non-zero
// and every table index in range.
inline uint32_t CodingQuant(uint32_t quant)
{
	return quant == 0 ? 1 : (quant > kMaxQuant ? kMaxQuant : quant);
}
inline uint32_t TableQuant(uint32_t quant) { return quant > kMaxQuant ? kMaxQuant : quant; }

// The decoder shifts products right (rounding toward minus infinity); the library dequantiser
// divides by 16 with truncation toward zero.
template <bool kTruncate>
inline int16_t Sixteenth(int32_t product)
{
	if (kTruncate && product < 0)
		product += 15;
	return static_cast<int16_t>(product >> 4);
}

template <bool kTruncate>
void DequantIntraAc(const int16_t* coef, int16_t* recon, uint32_t q)
{
	const uint16_t* m = kQuantTables.intra[q];
	for (int i = 1; i < 64; ++i)
		recon[i] = coef[i] == 0 ? 0 : Sixteenth<kTruncate>(coef[i] * m[i]);
}

template <bool kTruncate>
void DequantInter(const int16_t* coef, int16_t* recon, uint32_t q)
{
	const uint16_t* m = kQuantTables.inter[q];
	for (int i = 0; i < 64; ++i) {
		const int32_t c = coef[i];
		recon[i] = c == 0 ? 0 : Sixteenth<kTruncate>((2 * c + (c > 0 ? 1 : -1)) * m[i]);
	}
}

// round(16 * F / W) from a lifting coefficient and its scaled factor: 20 fractional bits, wrapping.
inline int32_t ScaledLevel(int32_t x, int16_t factor)
{
	return Sar(Wrap(x) * 16u * Wrap(factor) + (1u << 19), 20);
}

// Also leaves the weighted AC values in `weighted` when it is not null, its DC 0.
void QuantizeIntraFused(const int16_t* in, uint16_t quant, int16_t* out, const uint16_t* dcReciprocal,
                        int32_t* weighted)
{
	const int32_t q = static_cast<int32_t>(CodingQuant(quant));
	int32_t x[64];
	LiftingDCT(in, x);
	out[0] = static_cast<int16_t>(Sar(Wrap(x[0]) * dcReciprocal[q] + (1u << 19), 20));
	const int32_t offset = (3 * q + 2) >> 2;
	if (weighted)
		weighted[0] = 0;
	for (int i = 1; i < 64; ++i) {
		const int32_t t = ScaledLevel(x[i], kScaledQuantizerCoefficient_Intra[i]);
		out[i] = static_cast<int16_t>(t > 0 ? (t + offset) / (2 * q) : (t - offset) / (2 * q));
		if (weighted)
			weighted[i] = t;
	}
}

// Rounded division by a positive weight, halves away from zero.
inline int32_t DivideRounded(int32_t v, int32_t w)
{
	return v >= 0 ? (v + (w >> 1)) / w : (v - (w >> 1)) / w;
}

inline uint8_t BlockDcScaler(uint32_t q, uint8_t kind)
{
	return kQuantTables.dcScaler[q * 8 + (kind == kBlockKindLuma ? 0 : 4)];
}

}  // namespace

const uint8_t* DCScalerTable = kQuantTables.dcScaler;
const uint16_t (*QuantTableIntra)[64] = kQuantTables.intra;
const uint16_t (*QuantTableInter)[64] = kQuantTables.inter;

void DequantizeIntra(const int16_t* coef, int16_t* recon, uint8_t quant, uint32_t blockIndex)
{
	const uint32_t q = TableQuant(quant);
	const uint32_t b = blockIndex > 7 ? 7 : blockIndex;
	recon[0] = static_cast<int16_t>(coef[0] * kQuantTables.dcScaler[q * 8 + b]);
	DequantIntraAc<false>(coef, recon, q);
}

void DequantizeInter(const int16_t* coef, int16_t* recon, uint8_t quant)
{
	DequantInter<false>(coef, recon, TableQuant(quant));
}

void DCTWeighted_Inter(const int16_t* in, int32_t* weighted)
{
	int32_t x[64];
	LiftingDCT(in, x);
	for (int i = 0; i < 64; ++i)
		weighted[i] = ScaledLevel(x[i], kScaledQuantizerCoefficient_Inter[i]);
}

void GapsDCTQuantize_Inter(const int16_t* in, uint16_t quant, int16_t* out)
{
	const int32_t q = static_cast<int32_t>(CodingQuant(quant));
	int32_t t[64];
	DCTWeighted_Inter(in, t);
	for (int i = 0; i < 64; ++i)
		out[i] = static_cast<int16_t>(t[i] / (2 * q));
}

void GapsDCTQuantize_IntraY(const int16_t* in, uint16_t quant, int16_t* out)
{
	QuantizeIntraFused(in, quant, out, kScaledQuantizerDCScaler_Y, nullptr);
}

void GapsDCTQuantize_IntraUV(const int16_t* in, uint16_t quant, int16_t* out)
{
	QuantizeIntraFused(in, quant, out, kScaledQuantizerDCScaler_UV, nullptr);
}

void DCTQuantizeWeighted_Intra(const int16_t* in, uint16_t quant, bool luma, int16_t* out, int32_t* weighted)
{
	QuantizeIntraFused(in, quant, out, luma ? kScaledQuantizerDCScaler_Y : kScaledQuantizerDCScaler_UV,
	                   weighted);
}

void GapsDCTQuantizerDispatch(const int16_t* in, Block* blk)
{
	const MacroBlock* mb = blk->mb;
	if (mb->mbType == kMbTypeInter)
		GapsDCTQuantize_Inter(in, mb->mbQuant, blk->coef);
	else if (blk->kind == kBlockKindLuma)
		GapsDCTQuantize_IntraY(in, mb->mbQuant, blk->coef);
	else
		GapsDCTQuantize_IntraUV(in, mb->mbQuant, blk->coef);
}

void Quantizer(const int16_t* in, Block* out)
{
	const MacroBlock* mb = out->mb;
	const int32_t q = static_cast<int32_t>(CodingQuant(mb->mbQuant));
	const bool intra = mb->mbType == kMbTypeIntra;
	const int32_t* weights = intra ? kCoefficientIntra : kCoefficientInter;
	const int32_t offset = (3 * q + 2) >> 2;
	int16_t* level = out->coef;
	int first = 0;
	if (intra) {
		level[0] = static_cast<int16_t>(
		        DivideRounded(in[0], BlockDcScaler(static_cast<uint32_t>(q), out->kind)));
		first = 1;
	}
	for (int i = first; i < 64; ++i) {
		const int32_t k = DivideRounded(16 * in[i], weights[i]);
		int32_t v;
		if (!intra || k == 0)
			v = k / (2 * q);
		else
			v = k > 0 ? (k + offset) / (2 * q) : (k - offset) / (2 * q);
		level[i] = static_cast<int16_t>(v);
	}
	BlockClamp(level, -2048, 2047);
}

void DeQuantizer(const Block* in, int16_t* out)
{
	const MacroBlock* mb = in->mb;
	const uint32_t q = TableQuant(mb->mbQuant);
	if (mb->mbType == kMbTypeIntra) {
		out[0] = static_cast<int16_t>(in->coef[0] * BlockDcScaler(q, in->kind));
		DequantIntraAc<true>(in->coef, out, q);
	} else {
		DequantInter<true>(in->coef, out, q);
	}
}

uint8_t Quantizer_DCScalerY(uint8_t quant) { return quant > kMaxQuant ? 8 : DcScaler(quant, true); }

uint8_t Quantizer_DCScalerUV(uint8_t quant) { return quant > kMaxQuant ? 8 : DcScaler(quant, false); }

namespace {

inline int32_t ClampLevel(int32_t v, int32_t limit)
{
	return v > limit ? limit : (v < -limit - 1 ? -limit - 1 : v);
}

inline uint8_t UniformDcScaler(uint8_t quant, uint8_t luminance)
{
	return luminance ? Quantizer_DCScalerY(quant) : Quantizer_DCScalerUV(quant);
}

}  // namespace

void Quantizer_H263(const int16_t* in, int16_t* out, uint8_t quant, uint8_t intra, uint8_t luminance)
{
	if (quant == 0) {
		memmove(out, in, 64 * sizeof(int16_t));
		return;
	}
	const int32_t step = 2 * quant;
	const int32_t deadZone = intra ? 0 : quant >> 1;
	int first = 0;
	if (intra) {
		const int32_t dc = DivideRounded(in[0], UniformDcScaler(quant, luminance));
		out[0] = static_cast<int16_t>(dc < 1 ? 1 : (dc > 254 ? 254 : dc));
		first = 1;
	}
	for (int i = first; i < 64; ++i) {
		const int32_t v = in[i];
		const int32_t magnitude = ((v < 0 ? -v : v) - deadZone) / step;
		const int32_t level = magnitude > 2047 ? 2047 : magnitude;
		out[i] = static_cast<int16_t>(v < 0 ? -level : level);
	}
}

void DeQuantizer_H263(const int16_t* in, int16_t* out, uint8_t quant, uint8_t intra, uint8_t luminance)
{
	if (quant == 0) {
		memmove(out, in, 64 * sizeof(int16_t));
		return;
	}
	const int32_t dc = in[0];
	const int32_t evenCorrection = (quant & 1) ? 0 : 1;
	for (int i = 0; i < 64; ++i) {
		const int32_t level = in[i];
		const int32_t magnitude =
		        level == 0 ? 0 : quant * (2 * (level < 0 ? -level : level) + 1) - evenCorrection;
		// Clamped before the 16-bit store, so large levels saturate instead of wrapping.
		out[i] = static_cast<int16_t>(ClampLevel(level < 0 ? -magnitude : magnitude, 2047));
	}
	if (intra)
		out[0] = static_cast<int16_t>(ClampLevel(dc * UniformDcScaler(quant, luminance), 2047));
}
