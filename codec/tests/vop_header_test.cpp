// Tests of the frame layout: the exact bytes of the user-data block and VOP header, the reader's
// start-code tolerance, uncoded VOPs, unaligned chunks and chunks that end early.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "korvo.h"
#include "syntax_internal.h"
namespace {

struct ParamsDeleter {
	void operator()(KorvParams* p) const { DisposeKorvParamsPtr(p); }
};
using ParamsPtr = std::unique_ptr<KorvParams, ParamsDeleter>;

// The bits of a byte string, MSB first, as a string of '0' and '1'.
std::string Bits(const uint8_t* bytes, size_t count)
{
	std::string s;
	for (size_t i = 0; i < count * 8; i++)
		s += char('0' + ((bytes[i / 8] >> (7 - i % 8)) & 1));
	return s;
}

class VopHeader : public ::testing::Test {
protected:
	void SetUp() override { ASSERT_EQ(InitKorvax(), kKorvoOK); }
	void TearDown() override { TerminateKorvax(); }
};

TEST_F(VopHeader, IVopHeaderWithUserData)
{
	ParamsPtr params(NewKorvParamsPtr(3, 0, 0));  // no macroblocks: header only
	ASSERT_TRUE(params);
	params->deblock = 1;
	params->dering = 0;
	params->vop->codingType = kCodingTypeI;
	params->vop->quant = 11;
	ASSERT_EQ(VopToStream(params.get()), kKorvoOK);
	// 40 bits of user data, then 47 header bits: 87 bits, 11 bytes.
	ASSERT_EQ(params->streamBytes, 11);
	const uint8_t* s = params->stream;
	const uint8_t prefix[9] = {0x00, 0x00, 0x01, 0xB2, 0x81, 0x00, 0x00, 0x01, 0xB6};
	EXPECT_EQ(memcmp(s, prefix, 9), 0);
	// coding type 00, time base 0, marker 1, increment 0, marker 1, coded 1, dc thr 000, quant 01011,
	// then zeros up to the byte boundary.
	EXPECT_EQ(Bits(s + 9, 2), "0001011"
	                          "000"
	                          "01011"
	                          "0");

	params->dering = 1;
	params->deblock = 0;
	ASSERT_EQ(VopToStream(params.get()), kKorvoOK);
	EXPECT_EQ(s[4], 0x82);
}

TEST_F(VopHeader, PVopHeaderAndUncodedPVop)
{
	ParamsPtr params(NewKorvParamsPtr(3, 0, 0));
	ASSERT_TRUE(params);
	Vop* vop = params->vop;
	vop->codingType = kCodingTypeP;
	vop->rounding = 1;
	vop->quant = 31;
	ASSERT_EQ(VopToStream(params.get()), kKorvoOK);
	// No user data before a P-VOP: 51 header bits, 7 bytes.
	EXPECT_EQ(params->streamBytes, 7);
	EXPECT_EQ(Bits(params->stream, 7), std::string("00000000000000000000000110110110") + "01"
	                                                                                     "0"
	                                                                                     "1"
	                                                                                     "0"
	                                                                                     "1"
	                                                                                     "1"
	                                                                                     "1"
	                                                                                     "000"
	                                                                                     "11111"
	                                                                                     "001"
	                                                                                     "00000");
	// An uncoded P-VOP is 39 bits: a 5-byte frame.
	vop->coded = 0;
	ASSERT_EQ(VopToStream(params.get()), kKorvoOK);
	EXPECT_EQ(params->streamBytes, 5);
	EXPECT_EQ(Bits(params->stream, 5), std::string("00000000000000000000000110110110") + "01"
	                                                                                     "0"
	                                                                                     "1"
	                                                                                     "0"
	                                                                                     "1"
	                                                                                     "0"
	                                                                                     "0");
}

// Decodes the given bytes as one chunk placed at the very end of a malloc'd block (ASan watches
// every byte past it), lead bytes past a 4-byte boundary.
struct ChunkRun {
	uint8_t* block = nullptr;
	~ChunkRun() { free(block); }
	uint8_t* Place(const std::vector<uint8_t>& bytes, uint32_t lead)
	{
		block = static_cast<uint8_t*>(malloc(8 + lead + bytes.size()));
		memset(block, 0xFF, 8 + lead);
		if (!bytes.empty())
			memcpy(block + 8 + lead, bytes.data(), bytes.size());
		return block + 8 + lead;
	}
};

TEST_F(VopHeader, StartCodeTolerance)
{
	const std::vector<uint8_t> uncodedP = {0x00, 0x00, 0x01, 0xB6, 0x50};  // P, coded 0
	ParamsPtr params(NewKorvParamsPtr(2, 16, 16));
	ASSERT_TRUE(params);
	struct Case {
		std::vector<uint8_t> prefix;
		int16_t status;
		uint8_t deblock, dering;
	};
	const Case cases[] = {
	        {{}, kKorvoOK, 0, 1},                              // direct start code: flags untouched
	        {{0x00, 0x00, 0x01, 0xB2, 0x81}, kKorvoOK, 1, 0},  // user data sets the flags
	        {{0x00, 0x00, 0x01, 0xB2, 0x7F}, kKorvoOK, 0, 1},  // bit 7 clear: consumed, ignored
	        {{0xDE, 0xAD, 0xBE, 0xEF}, kKorvoOK, 0, 1},        // any one other word
	        {{0x00, 0x00, 0x01, 0xB5}, kKorvoOK, 0, 1},
	        {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}, kKorvoNoStartCode, 0, 1},  // two words
	        {{0x00, 0x00, 0x01, 0xB2, 0x81, 0x00, 0x00, 0x01, 0xB2, 0x83}, kKorvoNoStartCode, 1, 0},
	};
	for (const Case& c : cases) {
		std::vector<uint8_t> bytes = c.prefix;
		bytes.insert(bytes.end(), uncodedP.begin(), uncodedP.end());
		ChunkRun run;
		params->stream = run.Place(bytes, 0);
		params->streamSize = uint32_t(bytes.size());
		params->deblock = 0;
		params->dering = 1;
		params->vop->codingType = kCodingTypeI;
		EXPECT_EQ(ReadVopHeader(params.get()), c.status) << bytes.size();
		EXPECT_EQ(params->deblock, c.deblock);
		EXPECT_EQ(params->dering, c.dering);
		if (c.status == kKorvoOK) {
			EXPECT_EQ(params->vop->codingType, kCodingTypeP);
			EXPECT_EQ(StreamToVop(params.get()), kKorvoOK);
			EXPECT_EQ(params->vop->coded, 0);
			EXPECT_EQ(params->streamBytes, int32_t(bytes.size()));
		}
	}
}

TEST_F(VopHeader, DecompressWithoutStartCodeChangesNothing)
{
	ParamsPtr params(NewKorvParamsPtr(2, 16, 16));
	ASSERT_TRUE(params);
	std::vector<uint8_t> picture(16 * 16 * 4, 0x3C);
	params->pixMap->baseAddr = picture.data();
	params->pixMap->rowBytes = 64;
	params->pixelFormat = kPixelFormatBGRA;
	const std::vector<uint8_t> junk = {0x12, 0x34, 0x56, 0x78, 0x00, 0x00,
	                                   0x01, 0xB7, 0x00, 0x00, 0x01, 0xB6};
	ChunkRun run;
	params->stream = run.Place(junk, 1);
	params->streamSize = uint32_t(junk.size());
	params->streamBytes = 99;
	params->vop->coded = 0;
	EXPECT_EQ(DecompressPixMap(params.get()), kKorvoOK);
	EXPECT_EQ(params->streamBytes, 0);
	EXPECT_EQ(params->vop->coded, 1);  // only the reset happened
	EXPECT_EQ(picture, std::vector<uint8_t>(16 * 16 * 4, 0x3C));
}

TEST_F(VopHeader, UncodedVopThroughDecompress)
{
	ParamsPtr params(NewKorvParamsPtr(2, 16, 16));
	ASSERT_TRUE(params);
	std::vector<uint8_t> picture(16 * 16 * 4, 0);
	params->pixMap->baseAddr = picture.data();
	params->pixMap->rowBytes = 64;
	params->pixelFormat = kPixelFormatBGRA;
	// Chunks 0..3 bytes past a word boundary: streamBytes also counts the bytes below the chunk.
	for (uint32_t lead = 0; lead < 4; lead++) {
		ChunkRun run;
		params->stream = run.Place({0x00, 0x00, 0x01, 0xB6, 0x50}, lead);
		params->streamSize = 5;
		ASSERT_EQ(DecompressPixMap(params.get()), kKorvoOK);
		EXPECT_EQ(params->reader.base + lead, params->stream);
		EXPECT_EQ(params->streamBytes, int32_t(5 + lead));
		EXPECT_EQ(params->vop->coded, 0);
	}
}

TEST_F(VopHeader, CodedHeaderFieldsAndTimeBase)
{
	ParamsPtr params(NewKorvParamsPtr(2, 16, 16));
	ASSERT_TRUE(params);
	Vop* vop = params->vop;
	// Coded P-VOP with a modulo_time_base of 37 ones (crossing a word), rounding 0, quant 9.
	std::string bits = "00000000000000000000000110110110"
	                   "01" +
	                   std::string(37, '1') +
	                   "0"
	                   "1"
	                   "0"
	                   "1"
	                   "1"
	                   "0"
	                   "000"
	                   "01001"
	                   "001";
	bits.resize((bits.size() + 7) / 8 * 8, '0');
	std::vector<uint8_t> bytes(bits.size() / 8);
	for (size_t i = 0; i < bits.size(); i++)
		bytes[i / 8] |= uint8_t((bits[i] - '0') << (7 - i % 8));
	ChunkRun run;
	params->stream = run.Place(bytes, 2);
	params->streamSize = uint32_t(bytes.size());
	vop->rounding = 1;
	ASSERT_EQ(ReadVopHeader(params.get()), kKorvoOK);
	EXPECT_EQ(params->reader.bitPos, 16u + 32 + 2 + 38 + 3);
	BitStream reader = params->reader;
	Vop_ReadCODED(vop, &reader);
	EXPECT_EQ(vop->coded, 1);
	Vop_ReadROUNDING(vop, &reader);
	EXPECT_EQ(vop->rounding, 0);
	Vop_ReadDCVLCTHR(vop, &reader);
	Vop_ReadQP(vop, &reader);
	EXPECT_EQ(vop->quant, 9);
	EXPECT_EQ(Vop_ReadFCODE(vop, &reader), 1);

	// Coding types 10 and 11 leave the previous type in force.
	for (uint8_t code : {0x80, 0xC0}) {
		for (uint8_t previous : {kCodingTypeI, kCodingTypeP}) {
			const std::vector<uint8_t> odd = {0x00, 0x00, 0x01, 0xB6, uint8_t(code | 0x14)};
			ChunkRun r;
			params->stream = r.Place(odd, 0);
			params->streamSize = 5;
			vop->codingType = previous;
			ASSERT_EQ(ReadVopHeader(params.get()), kKorvoOK);
			EXPECT_EQ(vop->codingType, previous);
		}
	}
}

TEST_F(VopHeader, ChunksThatEndEarly)
{
	ParamsPtr params(NewKorvParamsPtr(2, 16, 16));
	ASSERT_TRUE(params);
	// Every prefix of a frame, at every offset, ends inside its own bytes; bits past it read as 0.
	const std::vector<uint8_t> frame = {0x00, 0x00, 0x01, 0xB2, 0x81, 0x00, 0x00, 0x01, 0xB6, 0x5F};
	for (size_t size = 0; size <= frame.size(); size++) {
		for (uint32_t lead = 0; lead < 4; lead++) {
			ChunkRun run;
			params->stream = run.Place(std::vector<uint8_t>(frame.begin(), frame.begin() + size), lead);
			params->streamSize = uint32_t(size);
			const int16_t status = ReadVopHeader(params.get());
			EXPECT_EQ(status, size >= 9 ? kKorvoOK : kKorvoNoStartCode) << size;
			if (status == kKorvoOK) {
				EXPECT_EQ(StreamToVop(params.get()), kKorvoOK);
				EXPECT_LE(params->streamBytes, int32_t(lead + size));
			}
		}
	}
	// A null chunk reads as empty.
	params->stream = nullptr;
	params->streamSize = 100;
	EXPECT_EQ(DecompressPixMap(params.get()), kKorvoOK);
	EXPECT_EQ(params->streamBytes, 0);
}

TEST_F(VopHeader, FrameThatDoesNotFitIsAFailure)
{
	ParamsPtr params(NewKorvParamsPtr(3, 0, 0));
	ASSERT_TRUE(params);
	params->vop->codingType = kCodingTypeI;
	// A caller's buffer bounds the writer by streamSize: 10 bytes cannot hold the 11-byte frame.
	uint8_t* small = static_cast<uint8_t*>(malloc(11));  // ASan watches the byte after it
	params->stream = small;
	params->streamSize = 10;
	EXPECT_EQ(VopToStream(params.get()), kKorvoEntryFailed);
	EXPECT_EQ(params->streamBytes, 0);
	params->streamSize = 11;  // fits exactly; the flush's extra bytes are dropped, not stored
	EXPECT_EQ(VopToStream(params.get()), kKorvoOK);
	EXPECT_EQ(params->streamBytes, 11);
	free(small);
	// The context's own buffer is bounded by its allocation, not by what the caller put in streamSize.
	params->stream = params->streamBuffer;
	params->streamSize = 0;
	EXPECT_EQ(VopToStream(params.get()), kKorvoOK);
	EXPECT_EQ(params->streamBytes, 11);
	// No buffer at all holds nothing.
	params->stream = nullptr;
	params->streamSize = 64;
	EXPECT_EQ(VopToStream(params.get()), kKorvoEntryFailed);
}

}  // namespace
