// Macroblock layer: the element codes bit for bit, both CBPY readers against each other, the vector
// predictor's edge cases, random whole-VOP round trips through writer and both readers, and the early
// end of a VOP on data this decoder cannot use.
#include <bitset>
#include <functional>
#include <random>

#include "bitstream_internal.h"
#include "entropy_internal.h"
#include "frame_internal.h"
#include "korvo.h"
#include "prediction_internal.h"
#include "syntax_internal.h"
#include "entropy_test_util.h"

using namespace entropy_test;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new KorvaxEnvironment);

struct VopDeleter {
	void operator()(Vop* v) const { Vop_Dispose(v); }
};
using VopPtr = std::unique_ptr<Vop, VopDeleter>;

VopPtr MakeVop(uint32_t width, uint32_t height, uint8_t codingType)
{
	VopPtr vop(Vop_New(width, height, false, false));
	if (vop) {
		Vop_Reset(vop.get());
		vop->codingType = codingType;
	}
	return vop;
}

std::string Written(const std::function<void(BitStream*)>& write)
{
	BitWriter writer;
	write(&writer.stream);
	return writer.Bits();
}

TEST(MacroBlockCodes, McbpcCbpyAndCod)
{
	VopPtr ivop = MakeVop(32, 16, kCodingTypeI);
	VopPtr pvop = MakeVop(32, 16, kCodingTypeP);
	ASSERT_TRUE(ivop && pvop);
	MacroBlock* mb = ivop->mbs[0];
	mb->mbType = kMbTypeIntra;
	for (Block& b : mb->blocks)
		b.codedBlock = 0;
	// Intra, CBPC 00, no DQUANT: 1 in an I-VOP (no COD), COD 0 and 00011 in a P-VOP.
	EXPECT_EQ(Written([&](BitStream* s) {
		          MacroBlock_WriteCOD(mb, s);
		          MacroBlock_WriteMCBPC(mb, s);
	          }),
	          "1");
	MacroBlock* pmb = pvop->mbs[0];
	pmb->mbType = kMbTypeIntra;
	pmb->codedMb = 1;
	for (Block& b : pmb->blocks)
		b.codedBlock = 0;
	EXPECT_EQ(Written([&](BitStream* s) {
		          MacroBlock_WriteCOD(pmb, s);
		          MacroBlock_WriteMCBPC(pmb, s);
	          }),
	          "000011");
	// A skipped macroblock is the single bit 1.
	pmb->codedMb = 0;
	EXPECT_EQ(Written([&](BitStream* s) { MacroBlock_WriteMB(pmb, s); }), "1");
	// All four luminance blocks coded: index 15 (11) for intra, inverted index 0 (0011) for inter.
	for (int b = 0; b < 4; b++)
		mb->blocks[b].codedBlock = pmb->blocks[b].codedBlock = 1;
	EXPECT_EQ(Written([&](BitStream* s) { MacroBlock_WriteCBPY(mb, s); }), "11");
	pmb->mbType = kMbTypeInter;
	EXPECT_EQ(Written([&](BitStream* s) { MacroBlock_WriteCBPY(pmb, s); }), "0011");
	// Intra + DQUANT in an I-VOP with CBPC 01: 000001, then DQUANT -2 as 01.
	mb->dquant = -2;
	mb->blocks[5].codedBlock = 1;
	EXPECT_EQ(Written([&](BitStream* s) {
		          MacroBlock_WriteMCBPC(mb, s);
		          MacroBlock_WriteDQUANT(mb, s);
	          }),
	          "00000101");
	// A change outside -2..+2 is not announced, so the stream stays parseable.
	mb->dquant = 5;
	EXPECT_EQ(Written([&](BitStream* s) {
		          MacroBlock_WriteMCBPC(mb, s);
		          MacroBlock_WriteDQUANT(mb, s);
	          }),
	          "001");
}

TEST(MacroBlockCodes, McbpcRoundTripsEveryRowAndEndsOnUnusableTypes)
{
	for (uint8_t codingType : {kCodingTypeI, kCodingTypeP}) {
		VopPtr vop = MakeVop(16, 16, codingType);
		MacroBlock* mb = vop->mbs[0];
		for (uint8_t type : {kMbTypeIntra, kMbTypeInter, kMbTypeInter4V}) {
			if (codingType == kCodingTypeI && type != kMbTypeIntra)
				continue;
			for (uint32_t cbpc = 0; cbpc < 4; cbpc++) {
				for (int8_t dquant : {0, 1}) {
					mb->mbType = type;
					mb->dquant = dquant;
					mb->blocks[4].codedBlock = cbpc >> 1;
					mb->blocks[5].codedBlock = cbpc & 1;
					BitWriter writer;
					MacroBlock_WriteMCBPC(mb, &writer.stream);
					const uint32_t length = writer.stream.bitPos;
					BitStream_WriteVLC(&writer.stream, 0x1FF, 9);
					const std::vector<uint8_t> bytes = writer.Bytes();
					BitStream reader = ReaderOver(bytes);
					mb->mbType = 0;
					mb->blocks[4].codedBlock = mb->blocks[5].codedBlock = 7;
					const int16_t status = MacroBlock_ReadMCBPC(mb, &reader);
					EXPECT_EQ(status, type == kMbTypeInter4V ? kKorvoEntryFailed : kKorvoOK);
					EXPECT_EQ(reader.bitPos, length);
					EXPECT_EQ(mb->mbType, type);
					EXPECT_EQ(mb->dquant != 0, dquant && type != kMbTypeInter4V);
					EXPECT_EQ(mb->blocks[4].codedBlock * 2 + mb->blocks[5].codedBlock, cbpc);
				}
			}
		}
		// Stuffing (six leading zeros in an I-VOP, eight in a P-VOP) consumes nine bits and ends the data.
		const std::vector<uint8_t> bytes =
		        FromBits(codingType == kCodingTypeI ? "0000001011111" : "0000000011111");
		BitStream reader = ReaderOver(bytes);
		EXPECT_EQ(MacroBlock_ReadMCBPC(mb, &reader), kKorvoEntryFailed);
		EXPECT_EQ(reader.bitPos, 9u);
	}
}

TEST(MacroBlockCodes, BothCbpyReadersAgreeOnEverySixBitPrefix)
{
	VopPtr vop = MakeVop(16, 16, kCodingTypeP);
	MacroBlock* mb = vop->mbs[0];
	for (uint8_t type : {kMbTypeIntra, kMbTypeInter}) {
		mb->mbType = type;
		for (uint32_t v = 0; v < 64; v++) {
			const std::vector<uint8_t> bytes = FromBits(std::bitset<6>(v).to_string() + "1010");
			BitStream tree = ReaderOver(bytes), table = ReaderOver(bytes);
			MacroBlock_ReadCBPY(mb, &tree);
			uint32_t fromTree = 0;
			for (int b = 0; b < 4; b++)
				fromTree = fromTree * 2 + mb->blocks[b].codedBlock;
			MacroBlock_ReadCBPY2(mb, &table);
			uint32_t fromTable = 0;
			for (int b = 0; b < 4; b++)
				fromTable = fromTable * 2 + mb->blocks[b].codedBlock;
			const uint32_t invert = type == kMbTypeInter ? 15 : 0;
			if (v < 2) {
				// No code: the tree consumes six bits for pattern 0, the table nothing for its filler.
				EXPECT_EQ(tree.bitPos, 6u);
				EXPECT_EQ(fromTree, 0 ^ invert);
				EXPECT_EQ(table.bitPos, 0u);
				EXPECT_EQ(fromTable, (uint32_t(kVLCInvalid) & 15) ^ invert);
				continue;
			}
			EXPECT_EQ(tree.bitPos, table.bitPos) << v;
			EXPECT_EQ(fromTree, fromTable) << v;
			// The code read is the one the writer emits for that pattern.
			const uint32_t n = fromTable ^ invert;
			EXPECT_EQ(v >> (6 - vlcCBPY[n][1]), vlcCBPY[n][0]);
			EXPECT_EQ(table.bitPos, vlcCBPY[n][1]);
		}
	}
}

TEST(MacroBlockCodes, IntraDCDifferentials)
{
	EXPECT_EQ(Written([](BitStream* s) { BitStream_WriteIntraDC(s, 1, kBlockKindLuma); }), "111");
	EXPECT_EQ(Written([](BitStream* s) { BitStream_WriteIntraDC(s, -1, kBlockKindLuma); }), "110");
	EXPECT_EQ(Written([](BitStream* s) { BitStream_WriteIntraDC(s, 0, kBlockKindLuma); }), "011");
	EXPECT_EQ(Written([](BitStream* s) { BitStream_WriteIntraDC(s, -255, kBlockKindChroma); }),
	          "0000000101111111");
	EXPECT_EQ(Written([](BitStream* s) { BitStream_WriteIntraDC(s, -5, kBlockKindChroma); }), "001001");
	// Above size 8 a marker bit 1 follows.
	EXPECT_EQ(Written([](BitStream* s) { BitStream_WriteIntraDC(s, 300, kBlockKindLuma); }), "00000001"
	                                                                                         "100101100"
	                                                                                         "1");
	for (uint8_t kind : {kBlockKindLuma, kBlockKindChroma}) {
		for (int32_t diff = -4095; diff <= 4095; diff++) {
			BitWriter writer;
			BitStream_WriteIntraDC(&writer.stream, int16_t(diff), kind);
			const uint32_t length = writer.stream.bitPos;
			const std::vector<uint8_t> bytes = writer.Bytes();
			BitStream reader = ReaderOver(bytes);
			ASSERT_EQ(BitStream_ReadIntraDC(&reader, kind), diff);
			ASSERT_EQ(reader.bitPos, length);
		}
		// A size code without an entry gives 0 and consumes the longest code's bits.
		const std::vector<uint8_t> zeros(8, 0);
		BitStream reader = ReaderOver(zeros);
		EXPECT_EQ(BitStream_ReadIntraDC(&reader, kind), 0);
		EXPECT_EQ(reader.bitPos, kind == kBlockKindLuma ? 11u : 12u);
	}
}

TEST(MacroBlockCodes, MotionVectorDifferences)
{
	EXPECT_EQ(Written([](BitStream* s) { BitStream_WriteMV(s, 31); }), "0000000000110");
	EXPECT_EQ(Written([](BitStream* s) { BitStream_WriteMV(s, 0); }), "1");
	EXPECT_EQ(Written([](BitStream* s) { BitStream_WriteMV(s, -1); }), "011");
	for (int32_t d = -32; d <= 32; d++) {
		BitWriter writer;
		BitStream_WriteMV(&writer.stream, int16_t(d));
		const uint32_t length = writer.stream.bitPos;
		BitStream_WriteVLC(&writer.stream, 0x2AAA, 14);
		const std::vector<uint8_t> bytes = writer.Bytes();
		BitStream reader = ReaderOver(bytes);
		EXPECT_EQ(BitStream_ReadMV(&reader), d);
		EXPECT_EQ(reader.bitPos, length);
	}
	// A raw difference of +40 (vector 20 after a left vector of -20) wraps to -24: 0000000100, sign 1.
	VopPtr vop = MakeVop(32, 16, kCodingTypeP);
	vop->mbs[0]->mv = Motion{-20, 0};
	MacroBlock* mb = vop->mbs[1];
	mb->mv = Motion{20, 0};
	EXPECT_EQ(Written([&](BitStream* s) { MacroBlock_WriteMVD(mb, s); }), "0000000100"
	                                                                      "1"
	                                                                      "1");
	const std::vector<uint8_t> bytes = FromBits("0000000100"
	                                            "1"
	                                            "1");
	BitStream reader = ReaderOver(bytes);
	mb->mv = Motion{0, 0};
	ASSERT_EQ(MacroBlock_ReadMVD(mb, &reader), kKorvoOK);
	EXPECT_EQ(mb->mv.x, 20);
	EXPECT_EQ(mb->mv.y, 0);
	// A decoded sum of 33 stores -31.
	vop->mbs[0]->mv = Motion{31, 31};
	const std::vector<uint8_t> two = FromBits("001"
	                                          "0"
	                                          "1");
	reader = ReaderOver(two);
	ASSERT_EQ(MacroBlock_ReadMVD(mb, &reader), kKorvoOK);
	EXPECT_EQ(mb->mv.x, -31);
	EXPECT_EQ(mb->mv.y, 31);
	// Ten or more zeros after the leading 0 are no motion code: the macroblock cannot be decoded.
	const std::vector<uint8_t> invalid = FromBits("1"
	                                              "00000000000011");
	reader = ReaderOver(invalid);
	EXPECT_EQ(MacroBlock_ReadMVD(mb, &reader), kKorvoEntryFailed);
	reader = ReaderOver(invalid);
	BitStream_SeekBits(&reader, 1);
	EXPECT_EQ(BitStream_ReadMV(&reader), 0);
}

TEST(MotionPrediction, CandidatesFollowThePictureEdges)
{
	VopPtr vop = MakeVop(48, 32, kCodingTypeP);  // 3 x 2
	for (uint32_t i = 0; i < 6; i++)
		vop->mbs[i]->mv = Motion{int16_t(i + 1), int16_t(-10 * int(i + 1))};
	auto predict = [&](uint32_t i) {
		Motion p;
		MacroBlock_PredictMV(vop->mbs[i], &p);
		return std::make_pair(p.x, p.y);
	};
	EXPECT_EQ(predict(0), std::make_pair(int16_t(0), int16_t(0)));
	EXPECT_EQ(predict(1), std::make_pair(int16_t(1), int16_t(-10)));  // first row: L
	EXPECT_EQ(predict(2), std::make_pair(int16_t(2), int16_t(-20)));
	EXPECT_EQ(predict(3), std::make_pair(int16_t(1), int16_t(-10)));  // median(0, T=1, R=2)
	EXPECT_EQ(predict(4), std::make_pair(int16_t(3), int16_t(-30)));  // median(L=4, T=2, R=3)
	EXPECT_EQ(predict(5), std::make_pair(int16_t(3), int16_t(-30)));  // median(L=5, T=3, 0)
	VopPtr narrow = MakeVop(16, 32, kCodingTypeP);                    // one macroblock wide: T alone
	narrow->mbs[0]->mv = Motion{-7, 9};
	Motion p;
	MacroBlock_PredictMV(narrow->mbs[1], &p);
	EXPECT_EQ(p.x, -7);
	EXPECT_EQ(p.y, 9);
}

// ---- Whole VOPs ----

bool AnyLevel(const int16_t* levels, int from)
{
	for (int i = from; i < 64; i++)
		if (levels[i])
			return true;
	return false;
}

int16_t RandomLevel(std::mt19937& rng, int32_t small)
{
	const int32_t magnitude = rng() % 16 == 0 ? 1 + int32_t(rng() % 2047) : 1 + int32_t(rng() % small);
	return int16_t(rng() % 2 ? -magnitude : magnitude);
}

// Random macroblocks of every kind, with the encoder's DC/AC prediction and coded flags. The
// quantiser runs the clamped chain the decoder reproduces.
void FillRandom(Vop* vop, std::mt19937& rng)
{
	const bool pvop = vop->codingType == kCodingTypeP;
	const uint32_t q0 = rng() % 3;
	vop->quant = uint8_t(q0 == 0 ? 1 + rng() % 2 : q0 == 1 ? 30 + rng() % 2 : 1 + rng() % 31);
	vop->rounding = rng() % 2;
	int32_t q = vop->quant;
	for (uint32_t i = 0; i < vop->mbCount; i++) {
		MacroBlock* mb = vop->mbs[i];
		const uint32_t kind = pvop ? rng() % 3 : 1;  // 0 skipped, 1 intra, 2 inter
		mb->codedMb = kind != 0;
		mb->mbType = kind == 1 ? kMbTypeIntra : kMbTypeInter;
		static constexpr int8_t kChanges[4] = {-2, -1, 1, 2};
		mb->dquant = kind != 0 && rng() % 3 == 0 ? kChanges[rng() % 4] : 0;
		q = std::clamp(q + mb->dquant, 1, 31);
		mb->mbQuant = uint8_t(q);
		mb->mv = kind == 2 ? Motion{int16_t(int(rng() % 64) - 32), int16_t(int(rng() % 64) - 32)}
		                   : Motion{0, 0};
		for (Block& b : mb->blocks) {
			memset(b.coef, 0, sizeof b.coef);
			const uint32_t density = rng() % 4;
			if (kind == 1) {
				b.coef[0] = int16_t(rng() % 8 == 0 ? int(rng() % 4001) - 2000 : int(rng() % 256));
				for (int k = 1; k < 64; k++) {
					// The predicted row and column stay small so that residuals fit the 12-bit field.
					const bool edge = k < 8 || k % 8 == 0;
					if (rng() % 8 < density)
						b.coef[k] = edge ? int16_t(int(rng() % 121) - 60) : RandomLevel(rng, 40);
				}
			} else if (kind == 2 && density > 0) {
				for (int k = 0; k < 64; k++)
					if (rng() % 8 < density)
						b.coef[k] = RandomLevel(rng, 40);
			}
		}
	}
	for (uint32_t i = 0; i < vop->mbCount; i++) {
		MacroBlock* mb = vop->mbs[i];
		if (!mb->codedMb)
			continue;
		if (mb->mbType == kMbTypeIntra) {
			MacroBlock_DCACPredict(mb);
			mb->acPred = rng() % 2;
			for (Block& b : mb->blocks) {
				if (mb->acPred)
					Block_GenerateACPred(&b);
				int16_t written[64];
				memcpy(written, b.coef, sizeof written);
				if (mb->acPred)
					for (int k = 1; k < 8; k++)
						written[b.predDir == kPredFromAbove ? k : 8 * k] = b.acPredResidual[k];
				b.codedBlock = AnyLevel(written, 1);
			}
		} else {
			for (Block& b : mb->blocks)
				b.codedBlock = AnyLevel(b.coef, 0);
		}
	}
}

std::vector<uint8_t> WriteFrame(Vop* vop)
{
	BitWriter writer(1 << 20);
	Vop_WriteVOP(vop, &writer.stream);
	EXPECT_FALSE(writer.stream.overrun);
	return writer.Bytes();
}

// Reads a frame written by Vop_WriteVOP: through Vop_ReadVOP, or with the same header reads and
// MacroBlock_ReadMB for each macroblock.
void ReadFrame(Vop* vop, const std::vector<uint8_t>& bytes, bool perMacroBlock)
{
	BitStream reader = ReaderOver(bytes);
	Vop_Reset(vop);
	ASSERT_EQ(Vop_ReadSTARTCODE(vop, &reader), kKorvoOK);
	Vop_ReadCODINGTYPE(vop, &reader);
	Vop_ReadTIMEBASE(vop, &reader);
	BitStream_SeekBits(&reader, 1);
	Vop_ReadTIMEINCREMENT(vop, &reader);
	BitStream_SeekBits(&reader, 1);
	if (!perMacroBlock) {
		ASSERT_EQ(Vop_ReadVOP(vop, &reader), kKorvoOK);
		return;
	}
	Vop_ReadCODED(vop, &reader);
	if (vop->codingType == kCodingTypeP)
		Vop_ReadROUNDING(vop, &reader);
	Vop_ReadDCVLCTHR(vop, &reader);
	Vop_ReadQP(vop, &reader);
	if (vop->codingType == kCodingTypeP)
		Vop_ReadFCODE(vop, &reader);
	for (uint32_t i = 0; i < vop->mbCount; i++)
		ASSERT_EQ(MacroBlock_ReadMB(vop->mbs[i], &reader), kKorvoOK) << i;
}

void ExpectSameMacroBlocks(const Vop* written, const Vop* read)
{
	ASSERT_EQ(read->codingType, written->codingType);
	ASSERT_EQ(read->quant, written->quant);
	ASSERT_EQ(read->mbsRead, int16_t(written->mbCount));
	for (uint32_t i = 0; i < written->mbCount; i++) {
		const MacroBlock* w = written->mbs[i];
		const MacroBlock* r = read->mbs[i];
		ASSERT_EQ(r->codedMb, w->codedMb) << i;
		ASSERT_EQ(r->mbQuant, w->mbQuant) << i;
		if (!w->codedMb) {
			ASSERT_EQ(r->mbType, kMbTypeInter);
			ASSERT_TRUE(r->mv.x == 0 && r->mv.y == 0 && r->dquant == 0 && r->acPred == 0);
			for (const Block& b : r->blocks)
				ASSERT_TRUE(b.codedBlock == 0 && b.dcLevel == 0);
			continue;
		}
		ASSERT_EQ(r->mbType, w->mbType) << i;
		ASSERT_EQ(r->dquant, w->dquant) << i;
		ASSERT_EQ(r->acPred, w->acPred) << i;
		ASSERT_TRUE(r->mv.x == w->mv.x && r->mv.y == w->mv.y) << i;
		for (int k = 0; k < 6; k++) {
			const Block& wb = w->blocks[k];
			const Block& rb = r->blocks[k];
			ASSERT_EQ(rb.codedBlock, wb.codedBlock) << i << " block " << k;
			if (w->mbType == kMbTypeIntra) {
				ASSERT_EQ(rb.dcLevel, wb.dcLevel);
				ASSERT_EQ(rb.predDir, wb.predDir);
			}
			if (w->mbType == kMbTypeIntra || wb.codedBlock) {
				ASSERT_EQ(0, memcmp(rb.coef, wb.coef, sizeof wb.coef)) << i << " block " << k;
			}
		}
	}
}

TEST(VopRoundTrip, RandomIAndPVopsReadBackExactly)
{
	std::mt19937 rng(77);
	const uint32_t sizes[][2] = {{16, 16}, {16, 64}, {64, 16}, {80, 48}, {176, 144}};
	for (int trial = 0; trial < 60; trial++) {
		const uint32_t* size = sizes[trial % 5];
		VopPtr enc = MakeVop(size[0], size[1], trial % 3 == 0 ? kCodingTypeI : kCodingTypeP);
		VopPtr dec = MakeVop(size[0], size[1], kCodingTypeI);
		VopPtr dec2 = MakeVop(size[0], size[1], kCodingTypeI);
		ASSERT_TRUE(enc && dec && dec2);
		FillRandom(enc.get(), rng);
		const std::vector<uint8_t> bytes = WriteFrame(enc.get());
		ReadFrame(dec.get(), bytes, false);
		ExpectSameMacroBlocks(enc.get(), dec.get());
		ReadFrame(dec2.get(), bytes, true);
		ExpectSameMacroBlocks(enc.get(), dec2.get());
		if (HasFatalFailure())
			return;
	}
}

// ---- Frames that end early ----

// A P-VOP header (quantiser q) followed by what `body` writes.
std::vector<uint8_t> PFrame(Vop* vop, uint8_t q, const std::function<void(BitStream*)>& body)
{
	BitWriter writer;
	BitStream* s = &writer.stream;
	vop->codingType = kCodingTypeP;
	vop->quant = q;
	vop->coded = 1;
	Vop_WriteSTARTCODE(vop, s);
	Vop_WriteCODINGTYPE(vop, s);
	Vop_WriteTIMEBASE(vop, s);
	BitStream_WriteVLC(s, 1, 1);
	Vop_WriteTIMEINCREMENT(vop, s);
	BitStream_WriteVLC(s, 1, 1);
	Vop_WriteCODED(vop, s);
	Vop_WriteROUNDING(vop, s);
	Vop_WriteDCVLCTHR(vop, s);
	Vop_WriteQP(vop, s);
	Vop_WriteFCODE(vop, s);
	body(s);
	return writer.Bytes();
}

TEST(VopEarlyEnd, UnusableDataEndsTheVopAtThatMacroBlock)
{
	VopPtr vop = MakeVop(64, 16, kCodingTypeP);
	// Two uncoded inter macroblocks (COD 0, MCBPC 1, CBPY 11, vector 1 1), then one of: an inter
	// macroblock with Y0 coded whose coefficients begin with nine zeros, a four-vector MCBPC,
	// stuffing, or a motion code of zeros.
	const std::vector<std::pair<std::string, std::string>> tails = {
	        {"coefficients", "0"
	                         "1"
	                         "1011"
	                         "1"
	                         "1"
	                         "000000000111"},
	        {"four vectors", "0"
	                         "010"
	                         "0011"},
	        {"stuffing", "0"
	                     "000000001"},
	        {"motion code", "0"
	                        "1"
	                        "0011"
	                        "0"
	                        "000000000000"},
	};
	for (const auto& entry : tails) {
		const std::string& name = entry.first;
		const std::string& tail = entry.second;
		const std::vector<uint8_t> bytes = PFrame(vop.get(), 5, [&](BitStream* s) {
			for (int i = 0; i < 2; i++)
				BitStream_WriteVLC(s, 0x1F, 6);
			for (char c : tail)
				BitStream_WriteVLC(s, c == '1', 1);
			BitStream_WriteVLC(s, 0xFFFF, 16);
		});
		ReadFrame(vop.get(), bytes, false);
		EXPECT_EQ(vop->mbsRead, 2) << name;
		EXPECT_EQ(vop->mbs[1]->mbType, kMbTypeInter) << name;
		EXPECT_EQ(vop->mbs[1]->codedMb, 1) << name;
	}
	// Data that runs out reads as zeros: an I-VOP whose data stops after the header ends at once.
	VopPtr ivop = MakeVop(32, 32, kCodingTypeI);
	std::mt19937 rng(5);
	FillRandom(ivop.get(), rng);
	std::vector<uint8_t> bytes = WriteFrame(ivop.get());
	bytes.resize(6);
	ReadFrame(ivop.get(), bytes, false);
	EXPECT_EQ(ivop->mbsRead, 0);
}

TEST(VopQuantiser, RunningQuantiserStaysInRange)
{
	VopPtr vop = MakeVop(64, 16, kCodingTypeP);
	// A foreign VOP quantiser of 0; macroblocks: skipped, intra + DQUANT +2, inter + DQUANT -2 (twice).
	const std::vector<uint8_t> zero = PFrame(vop.get(), 0, [](BitStream* s) {
		BitStream_WriteVLC(s, 1, 1);  // skipped: the quantiser 0 becomes 1
		// Intra + DQUANT: COD 0, MCBPC 000100, ACPRED 0, CBPY n=0 (0011), DQUANT 11 (+2), six DC 0.
		for (const char* p = "0"
		                     "000100"
		                     "0"
		                     "0011"
		                     "11"
		                     "011"
		                     "011"
		                     "011"
		                     "011"
		                     "11"
		                     "11";
		     *p; p++)
			BitStream_WriteVLC(s, *p == '1', 1);
		// Inter + DQUANT, CBPC 00: COD 0, MCBPC 011, CBPY 11 (none coded), DQUANT 01 (-2), MVD 1 1.
		for (int i = 0; i < 2; i++)
			for (const char* p = "0"
			                     "011"
			                     "11"
			                     "01"
			                     "1"
			                     "1";
			     *p; p++)
				BitStream_WriteVLC(s, *p == '1', 1);
		BitStream_WriteVLC(s, 1, 1);  // skipped
	});
	ReadFrame(vop.get(), zero, false);
	ASSERT_EQ(vop->mbsRead, 4);
	EXPECT_EQ(vop->mbs[0]->mbQuant, 1);
	EXPECT_EQ(vop->mbs[1]->mbQuant, 3);
	EXPECT_EQ(vop->mbs[1]->dquant, 2);
	EXPECT_EQ(vop->mbs[2]->mbQuant, 1);
	EXPECT_EQ(vop->mbs[3]->mbQuant, 1);
	// At 31, +2 stays 31; the first macroblock takes the VOP quantiser plus its change.
	const std::vector<uint8_t> top = PFrame(vop.get(), 30, [](BitStream* s) {
		for (int i = 0; i < 4; i++)
			for (const char* p = "0"
			                     "011"
			                     "11"
			                     "11"
			                     "1"
			                     "1";
			     *p; p++)
				BitStream_WriteVLC(s, *p == '1', 1);
	});
	ReadFrame(vop.get(), top, false);
	ASSERT_EQ(vop->mbsRead, 4);
	for (uint32_t i = 0; i < 4; i++)
		EXPECT_EQ(vop->mbs[i]->mbQuant, 31) << i;
}

}  // namespace
