// The encoder's frame decisions: source padding, the frame-type decision (default and optimal),
// the macroblock loops that code each frame type, and trial coding.
#include <string.h>

#include <atomic>
#include <initializer_list>

#include "bitstream_internal.h"
#include "enc_internal.h"
#include "frame_internal.h"
#include "kernels_internal.h"
#include "korvo.h"
#include "syntax_internal.h"
#include "workers_internal.h"
namespace {

// Skip test: largest sample increase at zero motion, and the largest zero-motion SAD of a block.
constexpr int32_t kSkipMaxIncrease = 8;
constexpr uint32_t kSkipMaxBlockSad = 96;
// Intra share (integer percent) above which a P-VOP is recoded as an I-VOP.
constexpr uint32_t kIntraSharePercent = 45;
// Optimal frame type: an I-VOP's bits count (1 - (framesSinceKey / 150)^6) times.
constexpr double kIntraDiscountScale = 150.0;

// A writer that counts bits and stores nothing: an empty data window drops every byte.
uint32_t CountBits(void (*write)(void*, BitStream*), void* what)
{
	uint8_t none = 0;
	BitStream counter;
	BitStream_InitWriter(&counter, &none, 0);
	write(what, &counter);
	return counter.bitPos;
}

void LoadSourceBlocks(Vop* vop)
{
	ForEachRow(Vop_Workers(vop), vop->mbHeight, [vop](uint32_t mbRow) {
		for (uint32_t i = mbRow * vop->mbWidth; i < (mbRow + 1) * vop->mbWidth; ++i) {
			MacroBlock* mb = vop->mbs[i];
			for (int b = 0; b < 6; ++b) {
				const Plane* plane = b < 4 ? vop->srcY : b == 4 ? vop->srcU : vop->srcV;
				const uint32_t x = b < 4 ? 16 + 16 * mb->mbX + (b & 1) * 8 : 8 + 8 * mb->mbX;
				const uint32_t y = b < 4 ? 16 + 16 * mb->mbY + (b >> 1) * 8 : 8 + 8 * mb->mbY;
				gKernels.fetchBlock(plane->data + size_t{y} * plane->width + x, plane->width,
				                    mb->blocks[b].recon);
			}
		}
	});
}

// The frame written while its macroblocks are decided: each row of macroblocks, once no decision
// still to come can read it, gets its DQUANT and is written into a buffer of its own on the thread
// that retires it (or, for frames decided whole first, on the workers afterwards); the caller joins
// the rows' bits behind the VOP header at the end. A row that gets no buffer (memory ran out, or it
// is larger than the frame may be) leaves the whole writing to the caller, in order, at the end.
struct FrameWriter {
	explicit FrameWriter(KorvParams* p) : params(p) {}

	KorvParams* params;
	BitStream cursor{};
	uint32_t pending = 0;
	std::atomic<bool> inOrder{false};

	// A row's buffer holds its length in bits, then its bits. The first size tried is kFirstRowBytes;
	// a row that overruns it is written again into twice the size.
	static constexpr size_t kLengthBytes = 8, kFirstRowBytes = 16384;

	// (Re)starts the frame: the user data of an I-VOP and the VOP header.
	void Begin()
	{
		Params_BeginFrameStream(params, &cursor);
		pending = gBitBuffer;
		inOrder.store(false, std::memory_order_relaxed);
	}

	// Any thread; the thread's bit buffer may hold a trial count's state, which it keeps.
	void WriteRow(uint32_t row)
	{
		Vop* vop = params->vop;
		const uint32_t first = row * vop->mbWidth, end = first + vop->mbWidth;
		MacroBlock_CalculateDQuantFrom(vop->mbs[first], Vop_ChainQuant(vop, first));
		for (uint32_t i = first + 1; i < end; ++i)
			MacroBlock_CalculateDQuant(vop->mbs[i]);
		if (inOrder.load(std::memory_order_relaxed))
			return;
		const size_t frameBytes = size_t(cursor.dataEnd - cursor.dataBegin);
		const uint32_t saved = gBitBuffer;
		BitStream rowStream;
		for (size_t want = kFirstRowBytes;; want *= 2) {
			size_t size = 0;
			uint8_t* buffer = Workers_RowScratch(Vop_Workers(vop), row, want, &size);
			if (!buffer || size > frameBytes + kFirstRowBytes) {
				inOrder.store(true, std::memory_order_relaxed);
				break;
			}
			BitStream_InitWriter(&rowStream, buffer + kLengthBytes, uint32_t(size - kLengthBytes));
			for (uint32_t i = first; i < end; ++i)
				MacroBlock_WriteMB(vop->mbs[i], &rowStream);
			BitStream_Flush(&rowStream);
			if (!rowStream.overrun) {
				memcpy(buffer, &rowStream.bitPos, sizeof rowStream.bitPos);
				break;
			}
			want = size;
		}
		gBitBuffer = saved;
	}

	// On the caller, after every row is retired.
	int16_t End()
	{
		gBitBuffer = pending;
		Vop* vop = params->vop;
		if (!vop->coded)
			return Params_EndFrameStream(params, &cursor);
		if (inOrder.load(std::memory_order_relaxed)) {
			Vop_WriteMacroBlocks(vop, &cursor);
			return Params_EndFrameStream(params, &cursor);
		}
		for (uint32_t row = 0; row < vop->mbHeight; ++row) {
			size_t size = 0;
			const uint8_t* bytes = Workers_RowScratch(Vop_Workers(vop), row, 0, &size);
			uint32_t bits;
			memcpy(&bits, bytes, sizeof bits);
			bytes += kLengthBytes;
			for (uint32_t at = 0; at < bits; at += 32, bytes += 4) {
				const uint32_t word = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 |
				                      uint32_t(bytes[2]) << 8 | bytes[3];
				const uint32_t length = bits - at < 32 ? bits - at : 32;
				BitStream_WriteVLC(&cursor, word >> (32 - length), length);
			}
		}
		return Params_EndFrameStream(params, &cursor);
	}
};

// Decides every macroblock with `decide` as a wavefront over the rows on the context's workers:
// each sees its left and upper neighbours decided, as in raster order, so the threads change
// nothing. The quantiser chain runs in raster order afterwards, or row by row behind the decisions
// when the `writer` writes them meanwhile.
template <class Decide>
void DecideMacroBlocks(Vop* vop, Decide&& decide, FrameWriter* writer = nullptr)
{
	auto cell = [vop, &decide](uint32_t row, uint32_t column) {
		decide(vop->mbs[row * vop->mbWidth + column]);
	};
	if (writer) {
		writer->Begin();
		Wavefront(Vop_Workers(vop), vop->mbHeight, vop->mbWidth, cell,
		          [writer](uint32_t row) { writer->WriteRow(row); });
		return;
	}
	Wavefront(Vop_Workers(vop), vop->mbHeight, vop->mbWidth, cell);
	for (uint32_t i = 0; i < vop->mbCount; ++i)
		MacroBlock_CalculateDQuant(vop->mbs[i]);
}

// Decides and codes every macroblock, or those the skip test left coded.
void CompressMacroBlocks(KorvParams* params, bool all, FrameWriter* writer)
{
	const uint8_t optimalMb = params->optimalMb;
	DecideMacroBlocks(
	        params->vop,
	        [=](MacroBlock* mb) {
		        if (!all && !mb->codedMb)
			        return;
		        MacroBlock_Compress(mb, optimalMb);
		        MacroBlock_FinishDecisions(mb);
	        },
	        writer);
}

// The whole picture as an I-VOP, from a reset state.
void CompressIntra(KorvParams* params, uint8_t intraQuant, FrameWriter* writer = nullptr)
{
	Vop* vop = params->vop;
	vop->codingType = kCodingTypeI;
	vop->quant = intraQuant;
	CompressMacroBlocks(params, true, writer);
}

// The skip test of a P-VOP: a macroblock that hardly changed at zero motion is not coded, unless
// one of its blocks changed too much in sum.
void SkipTest(Vop* vop)
{
	ForEachRow(Vop_Workers(vop), vop->mbHeight, [vop](uint32_t row) {
		for (uint32_t i = row * vop->mbWidth; i < (row + 1) * vop->mbWidth; ++i) {
			MacroBlock* mb = vop->mbs[i];
			if (SadMacroBlock(mb) > kSkipMaxIncrease) {
				mb->codedMb = 1;
				continue;
			}
			mb->codedMb = 0;
			mb->mbType = kMbTypeInter;
			mb->mbQuant = vop->quant;
			for (const Block* block : mb->block) {
				if (block->sad > kSkipMaxBlockSad) {
					mb->codedMb = 1;
					break;
				}
			}
		}
	});
}

// Compresses the macroblocks that the skip test left coded; returns how many of them chose intra
// (the skipped ones are inter).
uint32_t CompressPredicted(KorvParams* params, FrameWriter* writer = nullptr)
{
	CompressMacroBlocks(params, false, writer);
	const Vop* vop = params->vop;
	uint32_t intraCount = 0;
	for (uint32_t i = 0; i < vop->mbCount; ++i)
		intraCount += vop->mbs[i]->mbType == kMbTypeIntra;
	return intraCount;
}

}  // namespace

uint32_t MacroBlock_TrialBits(MacroBlock* mb)
{
	return CountBits([](void* m, BitStream* bs) { MacroBlock_WriteMB(static_cast<MacroBlock*>(m), bs); }, mb);
}

uint32_t MacroBlock_HeaderBits(MacroBlock* mb)
{
	return CountBits([](void* m, BitStream* bs) { MacroBlock_WriteHeader(static_cast<MacroBlock*>(m), bs); },
	                 mb);
}

uint32_t Vop_TrialBits(Vop* vop)
{
	return CountBits([](void* v, BitStream* bs) { Vop_WriteVOP(static_cast<Vop*>(v), bs); }, vop);
}

uint8_t Vop_IntraQuant(const Vop* vop)
{
	const int32_t q = vop->quant + 1;
	return uint8_t(q < 1 ? 1 : q > 31 ? 31 : q);
}

int16_t PreFilter(KorvParams* params)
{
	Vop* vop = params->vop;
	Plane_PadHorizontal(vop->srcY, 16, vop->width + 15);
	Plane_PadVertical(vop->srcY, 16, vop->height + 15);
	for (Plane* chroma : {vop->srcU, vop->srcV}) {
		Plane_PadHorizontal(chroma, 8, vop->width / 2 + 7);
		Plane_PadVertical(chroma, 8, vop->height / 2 + 7);
	}
	return kKorvoOK;
}

int16_t PlanesToVop(KorvParams* params)
{
	Vop* vop = params->vop;
	Vop_Reset(vop);
	LoadSourceBlocks(vop);
	if (params->tuning == kTuningBetter)
		return Vop_CompressBetter(params);
	return params->optimalFrame == 1 ? Vop_CompressOptimal(params) : Vop_Compress(params);
}

namespace {

// Vop_Compress, writing the frame meanwhile when there is a `writer`.
void CompressClassic(KorvParams* params, FrameWriter* writer)
{
	Vop* vop = params->vop;
	const uint8_t intraQuant = Vop_IntraQuant(vop);
	if (vop->codingType != kCodingTypeP) {
		CompressIntra(params, intraQuant, writer);
		return;
	}
	vop->coded = 1;
	SkipTest(vop);
	Vop_SubsamplePlanes(vop);
	const uint32_t intraCount = CompressPredicted(params, writer);
	// Skipped macroblocks count in the total: a mostly new picture is cheaper as an I-VOP.
	if (vop->mbCount && intraCount * 100 / vop->mbCount > kIntraSharePercent) {
		for (uint32_t i = 0; i < vop->mbCount; ++i)
			MacroBlock_Reset(vop->mbs[i]);
		CompressIntra(params, intraQuant, writer);
	}
}

}  // namespace

int16_t Vop_Compress(KorvParams* params)
{
	CompressClassic(params, nullptr);
	return kKorvoOK;
}

int16_t PlanesToStream(KorvParams* params)
{
	Vop* vop = params->vop;
	KorvWorkers* workers = Vop_Workers(vop);
	if (!workers)
		return PlanesToVop(params) != kKorvoOK ? int16_t(kKorvoEntryFailed) : VopToStream(params);
	FrameWriter writer(params);
	// The frame types chosen by trial codings of the whole frame are written after the choice, the
	// rows side by side.
	if (params->tuning == kTuningBetter || params->optimalFrame == 1) {
		if (PlanesToVop(params) != kKorvoOK)
			return kKorvoEntryFailed;
		writer.Begin();
		if (vop->coded)
			ForEachRow(workers, vop->mbHeight, [&writer](uint32_t row) { writer.WriteRow(row); });
		return writer.End();
	}
	Vop_Reset(vop);
	LoadSourceBlocks(vop);
	CompressClassic(params, &writer);
	return writer.End();
}

int16_t Vop_CompressOptimal(KorvParams* params)
{
	Vop* vop = params->vop;
	const uint8_t intraQuant = Vop_IntraQuant(vop);
	const uint8_t predictedQuant = vop->quant;
	if (vop->codingType != kCodingTypeP) {
		CompressIntra(params, intraQuant);
		return kKorvoOK;
	}
	Vop_SubsamplePlanes(vop);

	Vop_Reset(vop);
	CompressIntra(params, intraQuant);
	const uint32_t intraBits = Vop_TrialBits(vop);

	Vop_Reset(vop);
	vop->codingType = kCodingTypeP;
	vop->quant = predictedQuant;
	SkipTest(vop);
	CompressPredicted(params);
	const uint32_t predictedBits = Vop_TrialBits(vop);

	// The I-VOP's cost is discounted less and less as the key-frame distance runs out.
	const double x = params->framesSinceKey / kIntraDiscountScale;
	const double x2 = x * x;
	if ((1.0 - x2 * x2 * x2) * intraBits < double(predictedBits)) {
		Vop_Reset(vop);
		CompressIntra(params, intraQuant);
	}
	return kKorvoOK;
}

namespace {

// The better tuning's I-VOP, from a reset state.
void CompressIntraBetter(KorvParams* params, uint8_t intraQuant)
{
	Vop* vop = params->vop;
	vop->codingType = kCodingTypeI;
	vop->quant = intraQuant;
	const RdLambda lambda = RdLambda_ForQuant(intraQuant, kCodingTypeI);
	DecideMacroBlocks(vop, [&lambda](MacroBlock* mb) { MacroBlock_CodeIntraBetter(mb, lambda); });
}

// The better tuning's P-VOP; returns how many macroblocks chose intra.
uint32_t CompressPredictedBetter(KorvParams* params, uint8_t quant)
{
	Vop* vop = params->vop;
	vop->codingType = kCodingTypeP;
	vop->quant = quant;
	vop->coded = 1;
	const RdLambda lambda = RdLambda_ForQuant(quant, kCodingTypeP);
	DecideMacroBlocks(vop, [&lambda](MacroBlock* mb) { MacroBlock_DecideBetter(mb, lambda); });
	uint32_t intraCount = 0;
	bool anyCoded = false;
	for (uint32_t i = 0; i < vop->mbCount; ++i) {
		intraCount += vop->mbs[i]->mbType == kMbTypeIntra;
		anyCoded |= vop->mbs[i]->codedMb != 0;
	}
	// A picture that needs nothing sent is an uncoded VOP: the header alone.
	if (!anyCoded)
		vop->coded = 0;
	return intraCount;
}

// Every P-VOP until the next key frame predicts from an I-VOP's picture, so it is worth finer steps
// than theirs; under rate control an I-VOP keeps the quantiser the rate model planned for it.
uint8_t IntraQuantBetter(const KorvParams* params)
{
	const Vop* vop = params->vop;
	if (params->dataRate)
		return Vop_IntraQuant(vop);
	const int32_t scaled = (3 * vop->quant + 2) / 4;
	return uint8_t(scaled < 1 ? 1 : scaled);
}

}  // namespace

int16_t Vop_CompressBetter(KorvParams* params)
{
	Vop* vop = params->vop;
	const uint8_t intraQuant = IntraQuantBetter(params);
	const uint8_t predictedQuant = vop->quant;
	EventBits_Init();
	if (vop->codingType != kCodingTypeP) {
		CompressIntraBetter(params, intraQuant);
		return kKorvoOK;
	}
	Vop_SubsamplePlanes(vop);
	const uint32_t intraCount = CompressPredictedBetter(params, predictedQuant);
	// A mostly new picture may be cheaper as an I-VOP: the two are compared by their bits.
	if (vop->mbCount && intraCount * 100 / vop->mbCount > kIntraSharePercent) {
		const uint32_t predictedBits = Vop_TrialBits(vop);
		Vop_Reset(vop);
		CompressIntraBetter(params, intraQuant);
		if (Vop_TrialBits(vop) > predictedBits) {
			Vop_Reset(vop);
			CompressPredictedBetter(params, predictedQuant);
		}
	}
	return kKorvoOK;
}
