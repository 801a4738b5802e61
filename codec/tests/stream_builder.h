// Hand-built Korvo frames for decoder tests, fuzz seeds and benchmarks: the caller fills the
// macroblock records (levels, types, vectors) and the entropy layer's writers turn them into a frame.
#ifndef KORVO_TESTS_STREAM_BUILDER_H
#define KORVO_TESTS_STREAM_BUILDER_H

#include <cstring>
#include <functional>
#include <vector>

#include "frame_internal.h"
#include "korvo.h"
#include "prediction_internal.h"
#include "syntax_internal.h"
namespace korvo_test {

class StreamBuilder {
public:
	using Fill = std::function<void(MacroBlock*)>;

	StreamBuilder(uint32_t width, uint32_t height) : params_(NewKorvParamsPtr(3, width, height)) {}
	~StreamBuilder() { DisposeKorvParamsPtr(params_); }
	StreamBuilder(const StreamBuilder&) = delete;
	StreamBuilder& operator=(const StreamBuilder&) = delete;

	bool ok() const { return params_ != nullptr; }
	Vop* vop() const { return params_->vop; }
	KorvParams* params() const { return params_; }

	// An I-VOP (preceded by the filter user data). `fill` sets each macroblock's levels in `coef`
	// (coef[0] is the DC level); DC and AC prediction and the coded flags are derived here.
	std::vector<uint8_t> Intra(uint8_t quant, const Fill& fill, uint8_t deblock = 0, uint8_t dering = 0)
	{
		Begin(kCodingTypeI, quant, 0);
		params_->deblock = deblock;
		params_->dering = dering;
		for (uint32_t i = 0; i < vop()->mbCount; ++i) {
			MacroBlock* mb = vop()->mbs[i];
			mb->mbType = kMbTypeIntra;
			fill(mb);
		}
		return Finish();
	}

	// A P-VOP. `fill` sets `mbType`, `codedMb`, `mv` and the levels; intra macroblocks are predicted
	// here, inter blocks are coded when they have a non-zero level.
	std::vector<uint8_t> Inter(uint8_t quant, uint8_t rounding, const Fill& fill)
	{
		Begin(kCodingTypeP, quant, rounding);
		for (uint32_t i = 0; i < vop()->mbCount; ++i) {
			MacroBlock* mb = vop()->mbs[i];
			mb->mbType = kMbTypeInter;
			fill(mb);
		}
		return Finish();
	}

	// A VOP without picture data.
	std::vector<uint8_t> Uncoded(uint8_t codingType)
	{
		Begin(codingType, 1, 0);
		vop()->coded = 0;
		return Finish();
	}

private:
	void Begin(uint8_t codingType, uint8_t quant, uint8_t rounding)
	{
		Vop* v = vop();
		Vop_Reset(v);
		v->codingType = codingType;
		v->quant = quant;
		v->rounding = rounding;
		for (uint32_t i = 0; i < v->mbCount; ++i) {
			MacroBlock* mb = v->mbs[i];
			mb->mbQuant = quant;
			for (Block& b : mb->blocks)
				std::memset(b.coef, 0, sizeof b.coef);
		}
	}

	static bool AnyLevel(const int16_t* levels, int from)
	{
		for (int i = from; i < 64; ++i)
			if (levels[i] != 0)
				return true;
		return false;
	}

	// Whether the coefficient data of an intra block (positions 1..63 as written, with the predicted
	// row or column replaced by the residual) holds any non-zero level.
	static bool IntraCoded(const Block& b, bool acPred)
	{
		int16_t written[64];
		std::memcpy(written, b.coef, sizeof written);
		if (acPred) {
			for (int k = 1; k < 8; ++k)
				written[b.predDir == kPredFromAbove ? k : 8 * k] = b.acPredResidual[k];
		}
		return AnyLevel(written, 1);
	}

	std::vector<uint8_t> Finish()
	{
		Vop* v = vop();
		if (v->coded) {
			for (uint32_t i = 0; i < v->mbCount; ++i) {
				MacroBlock* mb = v->mbs[i];
				if (mb->mbType == kMbTypeIntra || !mb->codedMb)
					mb->mv = Motion{0, 0};
				if (!mb->codedMb)
					continue;
				if (mb->mbType == kMbTypeIntra) {
					MacroBlock_DCACPredict(mb);
					for (Block& b : mb->blocks)
						b.codedBlock = IntraCoded(b, mb->acPred);
				} else {
					mb->acPred = 0;
					for (Block& b : mb->blocks)
						b.codedBlock = AnyLevel(b.coef, 0);
				}
			}
		}
		std::memset(params_->streamBuffer, 0, params_->streamSize);
		params_->stream = params_->streamBuffer;
		VopToStream(params_);
		return std::vector<uint8_t>(params_->stream, params_->stream + params_->streamBytes);
	}

	KorvParams* params_;
};

}  // namespace korvo_test

#endif
