// The macroblock layer written and read: COD, MCBPC, ACPRED, CBPY, DQUANT, motion vector differences
// with their predictor, intra DC differentials and each block's coefficient data.
#include <string.h>

#include "bitstream_internal.h"
#include "entropy_internal.h"
#include "frame_internal.h"
#include "korvo.h"
#include "prediction_internal.h"
#include "syntax_internal.h"
#include "workers_internal.h"
namespace {

constexpr uint32_t kLevelBits = 12;  // fixed-length escape level field of every block

constexpr std::array<ValueEntry, 64> BuildCBPYInverse();
template <size_t N>
constexpr std::array<ValueEntry, N> BuildMVInverse(uint32_t first, uint32_t shift);

}  // namespace

constexpr std::array<CodeEntry, 16> vlcCBPY = {{
        {0x3, 4},
        {0x5, 5},
        {0x4, 5},
        {0x9, 4},
        {0x3, 5},
        {0x7, 4},
        {0x2, 6},
        {0xB, 4},
        {0x2, 5},
        {0x3, 6},
        {0x5, 4},
        {0xA, 4},
        {0x4, 4},
        {0x8, 4},
        {0x6, 4},
        {0x3, 2},
}};

constexpr std::array<CodeEntry, 13> vlcIntraDC_Y = {{
        {0x3, 3},
        {0x3, 2},
        {0x2, 2},
        {0x2, 3},
        {0x1, 3},
        {0x1, 4},
        {0x1, 5},
        {0x1, 6},
        {0x1, 7},
        {0x1, 8},
        {0x1, 9},
        {0x1, 10},
        {0x1, 11},
}};

constexpr std::array<CodeEntry, 13> vlcIntraDC_UV = {{
        {0x3, 2},
        {0x2, 2},
        {0x1, 2},
        {0x1, 3},
        {0x1, 4},
        {0x1, 5},
        {0x1, 6},
        {0x1, 7},
        {0x1, 8},
        {0x1, 9},
        {0x1, 10},
        {0x1, 11},
        {0x1, 12},
}};

constexpr std::array<CodeEntry, 33> vlcMV = {{
        {0x1, 1},  {0x1, 2},  {0x1, 3},   {0x1, 4},   {0x3, 6},  {0x5, 7},  {0x4, 7},  {0x3, 7},  {0xB, 9},
        {0xA, 9},  {0x9, 9},  {0x11, 10}, {0x10, 10}, {0xF, 10}, {0xE, 10}, {0xD, 10}, {0xC, 10}, {0xB, 10},
        {0xA, 10}, {0x9, 10}, {0x8, 10},  {0x7, 10},  {0x6, 10}, {0x5, 10}, {0x4, 10}, {0x7, 11}, {0x6, 11},
        {0x5, 11}, {0x4, 11}, {0x3, 11},  {0x2, 11},  {0x3, 12}, {0x2, 12},
}};

namespace {

constexpr int32_t kFiller = kVLCInvalid;

constexpr std::array<ValueEntry, 64> BuildCBPYInverse()
{
	std::array<ValueEntry, 64> table{};
	for (uint32_t v = 0; v < 64; v++) {
		table[v] = {kFiller, 0};
		for (uint32_t n = 0; n < 16; n++)
			if ((v >> (6 - vlcCBPY[n][1])) == vlcCBPY[n][0])
				table[v] = {int32_t(n), int32_t(vlcCBPY[n][1])};
	}
	return table;
}

// Entry i covers the 12-bit values from (i + first) << shift on; each holds the code word of one
// magnitude without its leading 0, followed by the sign bit.
template <size_t N>
constexpr std::array<ValueEntry, N> BuildMVInverse(uint32_t first, uint32_t shift)
{
	std::array<ValueEntry, N> table{};
	for (uint32_t i = 0; i < N; i++) {
		const uint32_t p = (i + first) << shift;
		for (int32_t m = 1; m <= 32; m++) {
			const uint32_t length = vlcMV[m][1];
			for (uint32_t sign = 0; sign < 2; sign++)
				if ((p >> (12 - length)) == ((vlcMV[m][0] << 1) | sign))
					table[i] = {sign ? -m : m, int32_t(length)};
		}
	}
	return table;
}

template <size_t N>
constexpr bool AllFilled(const std::array<ValueEntry, N>& table)
{
	for (const ValueEntry& e : table)
		if (e[1] == 0)
			return false;
	return true;
}

}  // namespace

constexpr std::array<ValueEntry, 64> ivlcCBPY = BuildCBPYInverse();
constexpr std::array<ValueEntry, 14> ivlcMV0 = BuildMVInverse<14>(2, 8);
constexpr std::array<ValueEntry, 96> ivlcMV1 = BuildMVInverse<96>(32, 2);
constexpr std::array<ValueEntry, 124> ivlcMV2 = BuildMVInverse<124>(4, 0);
static_assert(AllFilled(ivlcMV0) && AllFilled(ivlcMV1) && AllFilled(ivlcMV2),
              "motion codes cover their ranges");
static_assert(ivlcCBPY[0][0] == kFiller && ivlcCBPY[1][0] == kFiller && ivlcCBPY[2][0] == 6);

namespace {

bool IsPVop(const MacroBlock* mb) { return mb->vop->codingType == kCodingTypeP; }
bool IsIntra(const MacroBlock* mb) { return mb->mbType == kMbTypeIntra; }

uint8_t ClampQuant(int32_t q) { return q <= 0 ? 1 : q > 31 ? 31 : uint8_t(q); }

// A component wrapped into -32..31 modulo 64.
int16_t WrapVector(int32_t v) { return int16_t(((v + 32) & 63) - 32); }

// The writer sends DQUANT for a change of -2..+2; the four-vector type has no MCBPC row for it.
bool DquantFollows(const MacroBlock* mb)
{
	return mb->dquant != 0 && mb->dquant >= -2 && mb->dquant <= 2 && mb->mbType != kMbTypeInter4V;
}

uint32_t ChromaPattern(const MacroBlock* mb)
{
	return (mb->blocks[4].codedBlock ? 2u : 0u) | (mb->blocks[5].codedBlock ? 1u : 0u);
}

void SetChromaPattern(MacroBlock* mb, uint32_t cbpc)
{
	mb->blocks[4].codedBlock = (cbpc >> 1) & 1;
	mb->blocks[5].codedBlock = cbpc & 1;
}

// The luminance flags of inter macroblocks travel inverted.
bool InvertsCBPY(const MacroBlock* mb) { return mb->mbType == kMbTypeInter || mb->mbType == kMbTypeInter4V; }

void SetLumaPattern(MacroBlock* mb, uint32_t n)
{
	if (InvertsCBPY(mb))
		n ^= 15;
	for (int b = 0; b < 4; b++)
		mb->blocks[b].codedBlock = (n >> (3 - b)) & 1;
}

// The table, scan and start position of one block's coefficient data.
struct CoefficientCoding {
	const uint8_t* scan;
	void (*toScan)(const int16_t*, int16_t*);
	void (*toRaster)(const int16_t*, int16_t*);
	bool intraTable;
	uint32_t start;
};

CoefficientCoding ChooseCoding(const Block* block)
{
	const MacroBlock* mb = block->mb;
	if (!IsIntra(mb))
		return {DeZZ_Raw, ZigZagEncode16, ZigZagDecode16, false, 0};
	const bool luma = block->kind == kBlockKindLuma;
	if (!mb->acPred)
		return {DeZZ_Raw, ZigZagEncode16, ZigZagDecode16, luma, 1};
	if (block->predDir == kPredFromAbove)
		return {DeZZAltHoriz_Raw, ZigZagEncode16AltHoriz, ZigZagDecode16AltHoriz, luma, 1};
	return {DeZZAltVert_Raw, ZigZagEncode16AltVert, ZigZagDecode16AltVert, luma, 1};
}

// A DC size code: {size, code length}, or size -1 for a pattern without a code (11 zeros for
// luminance, 12 for chrominance), which consumes that many bits.
struct DCSize {
	int32_t size;
	uint32_t length;
};

DCSize ReadDCSize(BitStream* bs, bool luma)
{
	if (luma) {
		const uint32_t v = BitStream_PeekBits(bs, 11);
		if (v == 0)
			return {-1, 11};
		const uint32_t zeros = uint32_t(__builtin_clz(v)) - 21;
		if (zeros == 0)
			return {(v >> 9) == 3 ? 1 : 2, 2};
		if (zeros == 1)
			return {(v >> 8) == 3 ? 0 : 3, 3};
		return {int32_t(zeros) + 2, zeros + 1};
	}
	const uint32_t v = BitStream_PeekBits(bs, 12);
	if (v == 0)
		return {-1, 12};
	const uint32_t zeros = uint32_t(__builtin_clz(v)) - 20;
	if (zeros == 0)
		return {(v >> 10) == 3 ? 0 : 1, 2};
	return {int32_t(zeros) + 1, zeros + 1};
}

// One component of a vector difference; false for a code that is not in the table.
bool ReadMotionCode(BitStream* bs, int16_t* d)
{
	if (BitStream_GetBits(bs, 1)) {
		*d = 0;
		return true;
	}
	const uint32_t p = BitStream_PeekBits(bs, 12);
	const ValueEntry* entry;
	if (p >= 512)
		entry = &ivlcMV0[(p >> 8) - 2];
	else if (p >= 128)
		entry = &ivlcMV1[(p >> 2) - 32];
	else if (p >= 4)
		entry = &ivlcMV2[p - 4];
	else
		return false;
	BitStream_SeekBits(bs, uint32_t((*entry)[1]));
	*d = int16_t((*entry)[0]);
	return true;
}

// One block's DC differential (intra) and coefficients, then AC prediction. The frame reader decodes
// straight through the scan (`scanning`); Block_ReadBLOCK goes through Block_ReadTCOEFF.
int16_t ReadBlock(Block* block, BitStream* bs, bool scanning)
{
	const bool intra = IsIntra(block->mb);
	if (intra)
		Block_ReadINTRADC(block, bs);
	if (block->codedBlock) {
		if (scanning) {
			const CoefficientCoding coding = ChooseCoding(block);
			memset(block->coef, 0, sizeof block->coef);
			block->coef[0] = intra ? block->dcLevel : 0;
			const int32_t bits = coding.intraTable ? VLCDecodeIntraZZ(bs, block->coef, coding.scan,
			                                                          bs->bitPos, coding.start, kLevelBits)
			                                       : VLCDecodeInterZZ(bs, block->coef, coding.scan,
			                                                          bs->bitPos, coding.start, kLevelBits);
			if (bits < 1)
				return kKorvoEntryFailed;
			bs->bitPos += uint32_t(bits);
		} else if (Block_ReadTCOEFF(block, bs) != kKorvoOK) {
			return kKorvoEntryFailed;
		}
	} else if (intra) {
		memset(block->coef, 0, sizeof block->coef);
		block->coef[0] = block->dcLevel;
	}
	if (intra)
		Block_ApplyACPred(block);
	return kKorvoOK;
}

// Everything of one macroblock before its blocks. The quantiser runs the chain of the reconstruction:
// the predecessor's (the VOP's for the first) plus DQUANT, brought into 1..31.
int16_t ReadHeader(MacroBlock* mb, BitStream* bs)
{
	const Vop* vop = mb->vop;
	const uint32_t index = mb->mbY * vop->mbWidth + mb->mbX;
	const int32_t inherited = index == 0 ? vop->quant : vop->mbs[index - 1]->mbQuant;
	MacroBlock_ReadCOD(mb, bs);
	if (!mb->codedMb) {
		MacroBlock_ReadNULL(mb);
		mb->mbQuant = ClampQuant(inherited);
		return kKorvoOK;
	}
	mb->mbQuant = uint8_t(inherited);
	if (MacroBlock_ReadMCBPC(mb, bs) != kKorvoOK)
		return kKorvoEntryFailed;
	if (IsIntra(mb))
		MacroBlock_ReadACPRED(mb, bs);
	else
		mb->acPred = 0;
	MacroBlock_ReadCBPY2(mb, bs);
	if (mb->dquant)
		MacroBlock_ReadDQUANT(mb, bs);
	mb->mbQuant = ClampQuant(mb->mbQuant);
	if (mb->mbType == kMbTypeInter)
		return MacroBlock_ReadMVD(mb, bs);
	mb->mv = Motion{0, 0};
	return kKorvoOK;
}

int16_t ReadMacroBlock(MacroBlock* mb, BitStream* bs, bool scanning)
{
	if (ReadHeader(mb, bs) != kKorvoOK)
		return kKorvoEntryFailed;
	if (!mb->codedMb)
		return kKorvoOK;
	for (Block& block : mb->blocks)
		if (ReadBlock(&block, bs, scanning) != kKorvoOK)
			return kKorvoEntryFailed;
	return kKorvoOK;
}

}  // namespace

/* ---- Writers ---- */

void MacroBlock_WriteCOD(MacroBlock* mb, BitStream* bs)
{
	if (IsPVop(mb))
		BitStream_WriteVLC(bs, mb->codedMb ? 0 : 1, 1);
}

void MacroBlock_WriteMCBPC(MacroBlock* mb, BitStream* bs)
{
	const uint32_t cbpc = ChromaPattern(mb);
	const bool dquant = DquantFollows(mb);
	if (!IsPVop(mb)) {
		if (!IsIntra(mb))
			return;
		// 000 when DQUANT follows, then 1 for CBPC 00, else 0 and the U and V bits.
		BitStream_WriteVLC(bs, cbpc ? cbpc : 1, (cbpc ? 3 : 1) + (dquant ? 3 : 0));
		return;
	}
	static constexpr CodeEntry kInter[4] = {{0x1, 1}, {0x3, 4}, {0x2, 4}, {0x5, 6}};
	static constexpr CodeEntry kInterDquant[4] = {{0x3, 3}, {0x7, 7}, {0x6, 7}, {0x5, 9}};
	static constexpr CodeEntry kInter4V[4] = {{0x2, 3}, {0x5, 7}, {0x4, 7}, {0x5, 8}};
	static constexpr CodeEntry kIntra[4] = {{0x3, 5}, {0x4, 8}, {0x3, 8}, {0x3, 7}};
	static constexpr CodeEntry kIntraDquant[4] = {{0x4, 6}, {0x4, 9}, {0x3, 9}, {0x2, 9}};
	const CodeEntry* row;
	switch (mb->mbType) {
		case kMbTypeIntra: row = dquant ? kIntraDquant : kIntra; break;
		case kMbTypeInter: row = dquant ? kInterDquant : kInter; break;
		case kMbTypeInter4V: row = kInter4V; break;
		default: return;
	}
	BitStream_WriteVLC(bs, row[cbpc][0], row[cbpc][1]);
}

void MacroBlock_WriteACPRED(MacroBlock* mb, BitStream* bs) { BitStream_WriteVLC(bs, mb->acPred ? 1 : 0, 1); }

void MacroBlock_WriteCBPY(MacroBlock* mb, BitStream* bs)
{
	uint32_t n = 0;
	for (int b = 0; b < 4; b++)
		n = (n << 1) | (mb->blocks[b].codedBlock ? 1 : 0);
	if (InvertsCBPY(mb))
		n ^= 15;
	BitStream_WriteVLC(bs, vlcCBPY[n][0], vlcCBPY[n][1]);
}

void MacroBlock_WriteDQUANT(MacroBlock* mb, BitStream* bs)
{
	if (!DquantFollows(mb))
		return;
	// 00 = -1, 01 = -2, 10 = +1, 11 = +2
	const uint32_t code = mb->dquant < 0 ? uint32_t(-mb->dquant - 1) : uint32_t(mb->dquant + 1);
	BitStream_WriteVLC(bs, code, 2);
}

void MacroBlock_WriteMVD(MacroBlock* mb, BitStream* bs)
{
	Motion p;
	MacroBlock_PredictMV(mb, &p);
	BitStream_WriteMV(bs, WrapVector(mb->mv.x - p.x));
	BitStream_WriteMV(bs, WrapVector(mb->mv.y - p.y));
}

bool MacroBlock_WriteHeader(MacroBlock* mb, BitStream* bs)
{
	MacroBlock_WriteCOD(mb, bs);
	if (IsPVop(mb) && !mb->codedMb)
		return false;
	MacroBlock_WriteMCBPC(mb, bs);
	if (IsIntra(mb))
		MacroBlock_WriteACPRED(mb, bs);
	else
		mb->acPred = 0;
	MacroBlock_WriteCBPY(mb, bs);
	MacroBlock_WriteDQUANT(mb, bs);
	if (mb->mbType == kMbTypeInter)
		MacroBlock_WriteMVD(mb, bs);
	return true;
}

void MacroBlock_WriteMB(MacroBlock* mb, BitStream* bs)
{
	if (!MacroBlock_WriteHeader(mb, bs))
		return;
	for (Block& block : mb->blocks)
		Block_WriteBLOCK(&block, bs);
}

void BitStream_WriteMV(BitStream* bs, int16_t d)
{
	// Differences outside the table's -32..32 are taken modulo 64 so that a code always exists.
	const int32_t v = d < -32 || d > 32 ? WrapVector(d) : d;
	const uint32_t m = uint32_t(v < 0 ? -v : v);
	if (m == 0) {
		BitStream_WriteVLC(bs, vlcMV[0][0], vlcMV[0][1]);
		return;
	}
	BitStream_WriteVLC(bs, (vlcMV[m][0] << 1) | (v < 0 ? 1 : 0), vlcMV[m][1] + 1);
}

void BitStream_WriteIntraDC(BitStream* bs, int16_t diff, uint8_t kind)
{
	// Sizes above 12 have no code: the differential is held to +-4095.
	const int32_t d = diff > 4095 ? 4095 : diff < -4095 ? -4095 : diff;
	const uint32_t magnitude = uint32_t(d < 0 ? -d : d);
	const uint32_t size = magnitude ? 32 - uint32_t(__builtin_clz(magnitude)) : 0;
	const CodeEntry& code = kind == kBlockKindLuma ? vlcIntraDC_Y[size] : vlcIntraDC_UV[size];
	BitStream_WriteVLC(bs, code[0], code[1]);
	if (size == 0)
		return;
	// A negative differential is its magnitude with the top bit cleared.
	BitStream_WriteVLC(bs, d < 0 ? magnitude ^ (1u << (size - 1)) : magnitude, size);
	if (size > 8)
		BitStream_WriteVLC(bs, 1, 1);
}

void Block_WriteINTRADC(Block* block, BitStream* bs)
{
	BitStream_WriteIntraDC(bs, block->dcDiff, block->kind);
}

void Block_WriteTCOEFF(Block* block, BitStream* bs)
{
	const CoefficientCoding coding = ChooseCoding(block);
	const MacroBlock* mb = block->mb;
	const int16_t* levels = block->coef;
	int16_t predicted[64];
	if (IsIntra(mb) && mb->acPred) {
		// The predicted first row or column travels as the AC prediction residual.
		memcpy(predicted, block->coef, sizeof predicted);
		const uint32_t step = block->predDir == kPredFromAbove ? 1 : 8;
		for (uint32_t k = 1; k < 8; k++)
			predicted[k * step] = block->acPredResidual[k];
		levels = predicted;
	}
	int16_t sequence[64];
	coding.toScan(levels, sequence);
	if (coding.intraTable)
		VLCEncodeIntra(sequence + coding.start, bs, 64 - coding.start, kLevelBits);
	else
		VLCEncodeInter(sequence + coding.start, bs, 64 - coding.start, kLevelBits);
}

void Block_WriteBLOCK(Block* block, BitStream* bs)
{
	if (IsIntra(block->mb))
		Block_WriteINTRADC(block, bs);
	if (block->codedBlock)
		Block_WriteTCOEFF(block, bs);
}

void Vop_WriteMacroBlocks(Vop* vop, BitStream* stream)
{
	for (uint32_t i = 0; i < vop->mbCount; i++)
		MacroBlock_WriteMB(vop->mbs[i], stream);
}

/* ---- Readers ---- */

void MacroBlock_ReadCOD(MacroBlock* mb, BitStream* bs)
{
	mb->codedMb = IsPVop(mb) ? !BitStream_GetBits(bs, 1) : 1;
}

int16_t MacroBlock_ReadMCBPC(MacroBlock* mb, BitStream* bs)
{
	// The longest code is 9 bits; each branch consumes its code's length.
	const uint32_t v = BitStream_PeekBits(bs, 9);
	uint32_t type;
	uint32_t cbpc;
	bool dquant = false;
	uint32_t length;
	if (!IsPVop(mb)) {
		type = kMbTypeIntra;
		if (v >= 256) {
			cbpc = 0, length = 1;
		} else if (v >= 64) {
			cbpc = v >> 6, length = 3;
		} else if (v >= 32) {
			cbpc = 0, length = 4, dquant = true;
		} else if (v >= 8) {
			cbpc = v >> 3, length = 6, dquant = true;
		} else {
			BitStream_SeekBits(bs, 9);  // stuffing: six leading zeros
			return kKorvoEntryFailed;
		}
	} else if (v >= 256) {
		type = kMbTypeInter, cbpc = 0, length = 1;
	} else if (v >= 128) {
		type = (v >> 6) == 3 ? kMbTypeInter : kMbTypeInter4V, dquant = (v >> 6) == 3, cbpc = 0, length = 3;
	} else if (v >= 64) {
		type = kMbTypeInter, cbpc = (v >> 5) == 3 ? 1 : 2, length = 4;
	} else if (v >= 32) {
		if (v >= 48)
			type = kMbTypeIntra, cbpc = 0, length = 5;
		else if ((v >> 3) == 5)
			type = kMbTypeInter, cbpc = 3, length = 6;
		else
			type = kMbTypeIntra, cbpc = 0, length = 6, dquant = true;
	} else if (v >= 16) {
		const uint32_t c = v >> 2;
		type = c >= 6 ? kMbTypeInter : kMbTypeInter4V, dquant = c >= 6, cbpc = (c & 1) ? 1 : 2, length = 7;
	} else if (v >= 8) {
		if ((v >> 2) == 3)
			type = kMbTypeIntra, cbpc = 3, length = 7;
		else
			type = (v >> 1) == 5 ? kMbTypeInter4V : kMbTypeIntra, cbpc = (v >> 1) == 5 ? 3 : 1, length = 8;
	} else if (v >= 4) {
		if ((v >> 1) == 3)
			type = kMbTypeIntra, cbpc = 2, length = 8;
		else
			type = v == 5 ? kMbTypeInter : kMbTypeIntra, cbpc = v == 5 ? 3 : 1, length = 9, dquant = true;
	} else if (v >= 2) {
		type = kMbTypeIntra, cbpc = v == 3 ? 2 : 3, length = 9, dquant = true;
	} else {
		BitStream_SeekBits(bs, 9);  // stuffing: eight leading zeros
		return kKorvoEntryFailed;
	}
	BitStream_SeekBits(bs, length);
	mb->mbType = uint8_t(type);
	mb->dquant = dquant ? 1 : 0;  // a marker: DQUANT follows
	SetChromaPattern(mb, cbpc);
	// Four-vector macroblocks carry no vectors here and are not reconstructed: the data ends.
	return type == kMbTypeInter4V ? kKorvoEntryFailed : kKorvoOK;
}

void MacroBlock_ReadACPRED(MacroBlock* mb, BitStream* bs) { mb->acPred = uint8_t(BitStream_GetBits(bs, 1)); }

void MacroBlock_ReadCBPY(MacroBlock* mb, BitStream* bs)
{
	static constexpr int8_t kFourBit[12] = {-1, -1, -1, 0, 12, 10, 14, 5, 13, 3, 11, 7};
	uint32_t n;
	uint32_t bits = BitStream_GetBits(bs, 2);
	if (bits == 3) {
		n = 15;
	} else {
		bits = (bits << 2) | BitStream_GetBits(bs, 2);
		if (kFourBit[bits] >= 0) {
			n = uint32_t(kFourBit[bits]);
		} else {
			const uint32_t fifth = BitStream_GetBits(bs, 1);
			if (bits == 2)
				n = fifth ? 1 : 2;  // 00101, 00100
			else if (bits == 1)
				n = fifth ? 4 : 8;  // 00011, 00010
			else if (!fifth)
				BitStream_SeekBits(bs, 1), n = 0;  // 000000, 000001: no code
			else
				n = BitStream_GetBits(bs, 1) ? 9 : 6;  // 000011, 000010
		}
	}
	SetLumaPattern(mb, n);
}

void MacroBlock_ReadCBPY2(MacroBlock* mb, BitStream* bs)
{
	const ValueEntry& entry = ivlcCBPY[BitStream_PeekBits(bs, 6)];
	if (entry[1] == 0)
		BitStream_NoteInvalid(bs, 6);  // 000000 and 000001 are no CBPY code
	BitStream_SeekBits(bs, uint32_t(entry[1]));
	SetLumaPattern(mb, uint32_t(entry[0]));
}

void MacroBlock_ReadDQUANT(MacroBlock* mb, BitStream* bs)
{
	static constexpr int8_t kChange[4] = {-1, -2, 1, 2};
	mb->dquant = kChange[BitStream_GetBits(bs, 2)];
	mb->mbQuant = ClampQuant(mb->mbQuant + mb->dquant);
}

int16_t MacroBlock_ReadMVD(MacroBlock* mb, BitStream* bs)
{
	Motion p;
	MacroBlock_PredictMV(mb, &p);
	int16_t dx;
	int16_t dy;
	if (!ReadMotionCode(bs, &dx) || !ReadMotionCode(bs, &dy))
		return kKorvoEntryFailed;
	mb->mv.x = WrapVector(p.x + dx);
	mb->mv.y = WrapVector(p.y + dy);
	return kKorvoOK;
}

int16_t BitStream_ReadMV(BitStream* bs)
{
	int16_t d;
	return ReadMotionCode(bs, &d) ? d : 0;
}

int16_t BitStream_ReadIntraDC(BitStream* bs, uint8_t kind)
{
	const DCSize size = ReadDCSize(bs, kind == kBlockKindLuma);
	if (size.size < 0)
		BitStream_NoteInvalid(bs, size.length);  // a size code longer than the table's
	BitStream_SeekBits(bs, size.length);
	if (size.size <= 0)
		return 0;
	const uint32_t top = 1u << (size.size - 1);
	const uint32_t v = BitStream_GetBits(bs, uint32_t(size.size));
	if (size.size > 8)
		BitStream_SeekBits(bs, 1);  // marker
	return v & top ? int16_t(v) : int16_t(-int32_t(v ^ top));
}

int16_t Block_ReadINTRADC(Block* block, BitStream* bs)
{
	Block_PredictIntraDC(block);
	block->dcDiff = BitStream_ReadIntraDC(bs, block->kind);
	block->dcLevel = int16_t(uint16_t(uint32_t(block->dcPred) + uint32_t(block->dcDiff)));
	return block->dcLevel;
}

int16_t Block_ReadTCOEFF(Block* block, BitStream* bs)
{
	const CoefficientCoding coding = ChooseCoding(block);
	int16_t sequence[64] = {};
	sequence[0] = IsIntra(block->mb) ? block->dcLevel : 0;
	int16_t* const first = sequence + coding.start;
	const uint32_t count = 64 - coding.start;
	const int32_t bits = coding.intraTable ? VLCDecodeIntra(bs, first, bs->bitPos, count, kLevelBits)
	                                       : VLCDecodeInter(bs, first, bs->bitPos, count, kLevelBits);
	if (bits < 1)
		return kKorvoEntryFailed;
	bs->bitPos += uint32_t(bits);
	coding.toRaster(sequence, block->coef);
	return kKorvoOK;
}

int16_t Block_ReadBLOCK(Block* block, BitStream* bs) { return ReadBlock(block, bs, false); }

void Block_ReadNULL(Block* block)
{
	block->dcLevel = 0;
	block->codedBlock = 0;
}

void MacroBlock_ReadNULL(MacroBlock* mb)
{
	mb->codedMb = 0;
	mb->mbType = kMbTypeInter;
	mb->mv = Motion{0, 0};
	mb->dquant = 0;
	mb->acPred = 0;
	for (Block& block : mb->blocks)
		Block_ReadNULL(&block);
}

int16_t MacroBlock_ReadMB(MacroBlock* mb, BitStream* bs) { return ReadMacroBlock(mb, bs, false); }

void Vop_ReadMacroBlocks(Vop* vop, BitStream* stream)
{
	// Workers reconstructing behind the reader take each row once it is read whole.
	KorvWorkers* workers = Vop_Workers(vop);
	for (uint32_t i = 0, column = 1; i < vop->mbCount; i++, column++) {
		if (ReadMacroBlock(vop->mbs[i], stream, true) != kKorvoOK) {
			vop->mbsRead = int16_t(i);
			return;
		}
		if (column == vop->mbWidth) {
			column = 0;
			Workers_RowsReady(workers, (i + 1) / vop->mbWidth);
		}
	}
	vop->mbsRead = int16_t(vop->mbCount);
}

/* ---- Motion vector prediction ---- */

void MacroBlock_PredictMV(MacroBlock* mb, Motion* out)
{
	const MacroBlock* left = mb->left;
	const MacroBlock* above = mb->above;
	if (!above) {
		// First row: the left vector alone (none for the first macroblock).
		*out = left ? left->mv : Motion{0, 0};
		return;
	}
	// The above-right candidate is missing exactly when this macroblock has no right neighbour.
	const MacroBlock* aboveRight = mb->right ? above->right : nullptr;
	if (!left && !mb->right) {
		*out = above->mv;  // one macroblock wide
		return;
	}
	const Motion zero = {0, 0};
	const Motion& l = left ? left->mv : zero;
	const Motion& r = aboveRight ? aboveRight->mv : zero;
	const Motion& t = above->mv;
	auto median = [](int32_t a, int32_t b, int32_t c) {
		const int32_t high = a > b ? (a > c ? a : c) : (b > c ? b : c);
		const int32_t low = a < b ? (a < c ? a : c) : (b < c ? b : c);
		return int16_t(a + b + c - high - low);
	};
	out->x = median(l.x, t.x, r.x);
	out->y = median(l.y, t.y, r.y);
}
