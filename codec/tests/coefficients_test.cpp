// Coefficient coding: the code records and their limits, the scans, the decoder tables built by
// VLC_Init, the escape modes bit for bit, and exact round trips through the table-driven decoders.
#include <malloc.h>

#include <random>

#include "entropy_internal.h"
#include "entropy_test_util.h"

using namespace entropy_test;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new KorvaxEnvironment);

std::string CodeBits(uint32_t code, uint32_t length)
{
	std::string s;
	for (uint32_t i = length; i-- > 0;)
		s += (code >> i) & 1 ? '1' : '0';
	return s;
}

// LMAX and RMAX as tabulated, written out independently of the code records.
int32_t TabulatedLMax(bool intra, uint32_t last, uint32_t run)
{
	if (intra && !last)
		return run == 0    ? 27
		       : run == 1  ? 10
		       : run == 2  ? 5
		       : run == 3  ? 4
		       : run <= 7  ? 3
		       : run <= 9  ? 2
		       : run <= 14 ? 1
		                   : 0;
	if (intra)
		return run == 0 ? 8 : run == 1 ? 3 : run <= 6 ? 2 : run <= 20 ? 1 : 0;
	if (!last)
		return run == 0 ? 12 : run == 1 ? 6 : run == 2 ? 4 : run <= 6 ? 3 : run <= 10 ? 2 : run <= 26 ? 1 : 0;
	return run == 0 ? 3 : run == 1 ? 2 : run <= 40 ? 1 : 0;
}

int32_t TabulatedRMax(bool intra, uint32_t last, uint32_t level)
{
	if (level == 0)
		return -1;
	if (intra && !last)
		return level == 1    ? 14
		       : level == 2  ? 9
		       : level == 3  ? 7
		       : level == 4  ? 3
		       : level == 5  ? 2
		       : level <= 10 ? 1
		       : level <= 27 ? 0
		                     : -1;
	if (intra)
		return level == 1 ? 20 : level == 2 ? 6 : level == 3 ? 1 : level <= 8 ? 0 : -1;
	if (!last)
		return level == 1    ? 26
		       : level == 2  ? 10
		       : level == 3  ? 6
		       : level == 4  ? 2
		       : level <= 6  ? 1
		       : level <= 12 ? 0
		                     : -1;
	return level == 1 ? 40 : level == 2 ? 1 : level == 3 ? 0 : -1;
}

TEST(CodeRecords, LimitsMatchTheTabulatedValues)
{
	for (uint32_t last = 0; last < 2; last++) {
		for (uint32_t v = 0; v < 64; v++) {
			EXPECT_EQ(FindLMaxIntra(last, v), TabulatedLMax(true, last, v)) << last << " run " << v;
			EXPECT_EQ(FindLMaxInter(last, v), TabulatedLMax(false, last, v)) << last << " run " << v;
			EXPECT_EQ(FindRMaxIntra(last, v), TabulatedRMax(true, last, v)) << last << " level " << v;
			EXPECT_EQ(FindRMaxInter(last, v), TabulatedRMax(false, last, v)) << last << " level " << v;
		}
	}
	// Events no record has: runs and levels past the tables, and a last flag that is not 0 or 1.
	for (uint32_t v : {64u, 65u, 1000u, 0xFFFFFFFFu}) {
		EXPECT_EQ(FindLMaxIntra(0, v), 0);
		EXPECT_EQ(FindLMaxInter(1, v), 0);
		EXPECT_EQ(FindRMaxIntra(1, v), -1);
		EXPECT_EQ(FindRMaxInter(0, v), -1);
	}
	EXPECT_EQ(FindLMaxIntra(2, 0), 0);
	EXPECT_EQ(FindRMaxInter(2, 1), -1);
}

// The event look-up against a search of the records, over every event the coders can ask for.
TEST(CodeRecords, EventLookUpAgreesWithASearchOfTheRecords)
{
	for (const VLCTable* table : {&gVLCIntraCoeffTable, &gVLCInterCoeffTable})
		for (uint32_t last = 0; last < 3; last++)
			for (uint32_t run = 0; run < 70; run++)
				for (uint32_t level :
				     {0u, 1u, 2u, 5u, 12u, 13u, 27u, 28u, 31u, 32u, 33u, 2047u, 0x80000000u}) {
					const VLCInfo* want = nullptr;
					for (uint32_t i = 0; i < table->count && !want; i++) {
						const VLCInfo& r = table->records[i];
						if (r.last == last && r.run == run && r.level == level)
							want = &r;
					}
					const VLCInfo event = {last, run, level, 0, 0};
					EXPECT_EQ(FindVLCInfo(&event, table), want) << last << " " << run << " " << level;
				}
}

TEST(CodeRecords, SharedPrefixFreeCodeWordsWithDistinctEvents)
{
	ASSERT_EQ(gVLCIntraCoeffTable.count, 102u);
	ASSERT_EQ(gVLCInterCoeffTable.count, 102u);
	double kraft = 1.0 / 128;  // ESC 0000011
	for (int i = 0; i < 102; i++) {
		const VLCInfo& a = gVLCIntraCoeffMap[i];
		EXPECT_EQ(a.code, gVLCInterCoeffMap[i].code);
		EXPECT_EQ(a.length, gVLCInterCoeffMap[i].length);
		const std::string ca = CodeBits(a.code, a.length);
		EXPECT_NE(ca.substr(0, 9), "000000000");
		EXPECT_NE(ca.rfind("0000011", 0), 0u) << ca;
		kraft += 1.0 / double(1u << a.length);
		for (int j = 0; j < 102; j++) {
			if (i == j)
				continue;
			const VLCInfo& b = gVLCIntraCoeffMap[j];
			EXPECT_NE(CodeBits(b.code, b.length).rfind(ca, 0), 0u) << ca << " prefixes another code";
			for (const VLCInfo* t : {gVLCIntraCoeffMap, gVLCInterCoeffMap})
				EXPECT_FALSE(t[i].last == t[j].last && t[i].run == t[j].run && t[i].level == t[j].level);
		}
		EXPECT_EQ(FindVLCInfo(&gVLCIntraCoeffMap[i], &gVLCIntraCoeffTable), &gVLCIntraCoeffMap[i]);
		EXPECT_EQ(FindVLCCode(a.code, a.length, &gVLCInterCoeffTable), &gVLCInterCoeffMap[i]);
	}
	// Only the prefixes of nine zeros are left without a code word.
	EXPECT_DOUBLE_EQ(kraft, 1.0 - 1.0 / 512);
	const VLCInfo absent = {0, 0, 28, 0, 0};
	EXPECT_EQ(FindVLCInfo(&absent, &gVLCIntraCoeffTable), nullptr);
	EXPECT_EQ(FindVLCCode(0x3, 7, &gVLCIntraCoeffTable), nullptr);
	// Spot checks of rows: 0111 is (1, 0, 1) in both; 000001011111 is inter (1, 40, 1), intra (1, 20, 1).
	const VLCInfo* r = FindVLCCode(0x7, 4, &gVLCInterCoeffTable);
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(r->last * 10000 + r->run * 100 + r->level, 10001u);
	r = FindVLCCode(0x5F, 12, &gVLCInterCoeffTable);
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(r->last * 10000 + r->run * 100 + r->level, 14001u);
	r = FindVLCCode(0x5F, 12, &gVLCIntraCoeffTable);
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(r->last * 10000 + r->run * 100 + r->level, 12001u);
}

TEST(Scans, PermutationsInversesAndReorderings)
{
	const uint8_t* de[3] = {DeZZ_Raw, DeZZAltHoriz_Raw, DeZZAltVert_Raw};
	const uint8_t* en[3] = {EnZZ_Raw, EnZZAltHoriz_Raw, EnZZAltVert_Raw};
	EXPECT_EQ(DeZZTable, DeZZ_Raw);
	EXPECT_EQ(EnZZAltVertTable, EnZZAltVert_Raw);
	for (int t = 0; t < 3; t++) {
		std::vector<int> seen(64, 0);
		for (int i = 0; i < 64; i++) {
			seen[de[t][i]]++;
			EXPECT_EQ(en[t][de[t][i]], i);
		}
		EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 64);
	}
	for (int i = 0; i < 64; i++)
		EXPECT_EQ(DeZZAltVert_Raw[i], (DeZZAltHoriz_Raw[i] % 8) * 8 + DeZZAltHoriz_Raw[i] / 8);
	EXPECT_EQ(DeZZ_Raw[2], 8);
	EXPECT_EQ(DeZZ_Raw[63], 63);
	EXPECT_EQ(DeZZAltHoriz_Raw[14], 15);

	int16_t raster[64], scanned[64], back[64];
	uint8_t raster8[64], scanned8[64], back8[64];
	for (int i = 0; i < 64; i++)
		raster[i] = int16_t(1000 - 37 * i), raster8[i] = uint8_t(3 * i + 1);
	void (*enc[3])(const int16_t*, int16_t*) = {ZigZagEncode16, ZigZagEncode16AltHoriz,
	                                            ZigZagEncode16AltVert};
	void (*dec[3])(const int16_t*, int16_t*) = {ZigZagDecode16, ZigZagDecode16AltHoriz,
	                                            ZigZagDecode16AltVert};
	for (int t = 0; t < 3; t++) {
		enc[t](raster, scanned);
		for (int i = 0; i < 64; i++)
			EXPECT_EQ(scanned[i], raster[de[t][i]]);
		dec[t](scanned, back);
		EXPECT_EQ(0, memcmp(back, raster, sizeof raster));
	}
	ZigZagEncode(raster8, scanned8);
	for (int i = 0; i < 64; i++)
		EXPECT_EQ(scanned8[i], raster8[DeZZ_Raw[i]]);
	ZigZagDecode(scanned8, back8);
	EXPECT_EQ(0, memcmp(back8, raster8, sizeof raster8));
}

TEST(DecoderTables, BuiltOnceAtTheirSizesAndReused)
{
	ASSERT_NE(gVLCInverseIntra, nullptr);
	int32_t(*const tables4[4])[4] = {gVLCInverseIntra, gVLCInverseInter, gVLCInverseEscapeIntra,
	                                 gVLCInverseEscapeInter};
	EXPECT_GE(malloc_usable_size(gVLCInverseIntra), 8192u * 16);
	EXPECT_GE(malloc_usable_size(gVLCInverseInter), 8192u * 16);
	EXPECT_GE(malloc_usable_size(gVLCInverseEscapeIntra), 24576u * 16);
	EXPECT_GE(malloc_usable_size(gVLCInverseEscapeInter), 24576u * 16);
	EXPECT_GE(malloc_usable_size(gVLCInverseIntraCoeffMap), 4096u * 8);
	EXPECT_GE(malloc_usable_size(gVLCInverseInterCoeffMap), 4096u * 8);
	int32_t(*const maps[2])[2] = {gVLCInverseIntraCoeffMap, gVLCInverseInterCoeffMap};
	// A second start and VLC_Init itself leave the set in place.
	ASSERT_EQ(InitKorvax(), kKorvoOK);
	ASSERT_EQ(VLC_Init(), kKorvoOK);
	TerminateKorvax();
	EXPECT_EQ(gVLCInverseIntra, tables4[0]);
	EXPECT_EQ(gVLCInverseInter, tables4[1]);
	EXPECT_EQ(gVLCInverseEscapeIntra, tables4[2]);
	EXPECT_EQ(gVLCInverseEscapeInter, tables4[3]);
	EXPECT_EQ(gVLCInverseIntraCoeffMap, maps[0]);
	EXPECT_EQ(gVLCInverseInterCoeffMap, maps[1]);
}

// The record whose code word begins the 12 bits, by search over the records: {length, index};
// {7, -1} for ESC, {0, -2} for none.
std::pair<int32_t, int32_t> SearchCode(uint32_t bits12)
{
	if ((bits12 >> 5) == 3)
		return {7, -1};
	for (int i = 0; i < 102; i++) {
		const VLCInfo& r = gVLCIntraCoeffMap[i];
		if ((bits12 >> (12 - r.length)) == r.code)
			return {int32_t(r.length), i};
	}
	return {0, -2};
}

TEST(DecoderTables, EntriesAgreeWithASearchOfTheRecords)
{
	for (int intra = 0; intra < 2; intra++) {
		const VLCInfo* records = intra ? gVLCIntraCoeffMap : gVLCInterCoeffMap;
		int32_t(*inverse)[4] = intra ? gVLCInverseIntra : gVLCInverseInter;
		int32_t(*escape)[4] = intra ? gVLCInverseEscapeIntra : gVLCInverseEscapeInter;
		int32_t(*map)[2] = intra ? gVLCInverseIntraCoeffMap : gVLCInverseInterCoeffMap;
		auto lmax = intra ? FindLMaxIntra : FindLMaxInter;
		auto rmax = intra ? FindRMaxIntra : FindRMaxInter;
		for (uint32_t v = 0; v < 4096; v++) {
			const auto [length, index] = SearchCode(v);
			EXPECT_EQ(map[v][0], length);
			EXPECT_EQ(map[v][1], index == -2 ? int32_t(kVLCInvalid) : index);
		}
		for (uint32_t v = 0; v < 8192; v++) {
			const auto [length, index] = SearchCode(v >> 1);
			const int32_t* e = inverse[v];
			if (index == -2) {
				EXPECT_TRUE(e[0] == kVLCInvalid && e[1] == kVLCInvalid && e[2] == kVLCInvalid &&
				            e[3] == kVLCInvalid);
			} else if (index == -1) {
				EXPECT_TRUE(e[0] == 7 && e[1] == 0 && e[2] == 0 && e[3] == 0);
			} else {
				const VLCInfo& r = records[index];
				const int32_t sign = (v >> (12 - length)) & 1 ? -1 : 1;
				EXPECT_TRUE(e[0] == length + 1 && e[1] == int32_t(r.last) && e[2] == int32_t(r.run) &&
				            e[3] == sign * int32_t(r.level))
				        << v;
			}
			int32_t found[4];
			(intra ? FindIntraVLCInverse : FindInterVLCInverse)(v, found);
			EXPECT_EQ(0, memcmp(found, e, sizeof found));
		}
		for (uint32_t v = 8192; v < 32768; v++) {
			const bool levelMode = v >= 16384;
			const uint32_t rest = levelMode ? (v & 0x3FFF) >> 1 : v & 0x1FFF;  // 13 bits after the mode
			const auto [length, index] = SearchCode(rest >> 1);
			const int32_t* e = escape[v - 8192];
			if (index < 0) {
				EXPECT_TRUE(e[0] == kVLCInvalid && e[3] == kVLCInvalid) << v;
				continue;
			}
			const VLCInfo& r = records[index];
			const int32_t sign = (rest >> (12 - length)) & 1 ? -1 : 1;
			const int32_t level = int32_t(r.level) + (levelMode ? lmax(r.last, r.run) : 0);
			const int32_t run = int32_t(r.run) + (levelMode ? 0 : rmax(r.last, r.level) + 1);
			EXPECT_TRUE(e[0] == (levelMode ? 1 : 2) + length + 1 && e[1] == int32_t(r.last) && e[2] == run &&
			            e[3] == sign * level)
			        << v;
			int32_t found[4];
			(intra ? FindIntraVLCInverseEscape : FindInterVLCInverseEscape)(v, found);
			EXPECT_EQ(0, memcmp(found, e, sizeof found));
		}
	}
}

TEST(DecoderTables, GetVLCCodeReadsOneCodeWord)
{
	for (uint32_t v = 0; v < 4096; v++) {
		const std::vector<uint8_t> bytes = FromBits("1" + CodeBits(v, 12) + "1111");
		const BitStream reader = ReaderOver(bytes);
		const auto [length, index] = SearchCode(v);
		for (int intra = 0; intra < 2; intra++) {
			uint32_t pos = 1;
			const VLCInfo* record = &gVLCIntraCoeffMap[0];
			const int32_t got = (intra ? GetIntraVLCCode : GetInterVLCCode)(&reader, &pos, &record);
			EXPECT_EQ(got, index) << v;
			EXPECT_EQ(pos, 1u + uint32_t(length));
			EXPECT_EQ(record, index >= 0 ? &(intra ? gVLCIntraCoeffMap : gVLCInterCoeffMap)[index] : nullptr);
		}
	}
}

std::string Encode(bool intra, const std::vector<int16_t>& levels)
{
	BitWriter writer;
	(intra ? VLCEncodeIntra : VLCEncodeInter)(levels.data(), &writer.stream, uint32_t(levels.size()), 12);
	return writer.Bits();
}

TEST(VLCEncode, CodesAndEscapesBitForBit)
{
	std::vector<int16_t> inter(64, 0), intra(63, 0);
	const std::string esc = "0000011";
	// A lone level 1 at position 0 of an inter block: (1, 0, 1) = 0111, sign 0.
	inter[0] = 1;
	EXPECT_EQ(Encode(false, inter), "01110");
	// Intra (0, 0, 30) exceeds LMAX 27: ESC 1, the code of (0, 0, 3) = 1111, sign; then (1, 0, -1).
	intra[0] = 30;
	intra[1] = -1;
	EXPECT_EQ(Encode(true, intra), esc + "1" + "1111" + "0" + "0111" + "1");
	// Inter (1, 41, 1): RMAX 40 for last 1, level 1, so ESC 01 and the code of (1, 0, 1).
	inter[0] = 0;
	inter[41] = 1;
	EXPECT_EQ(Encode(false, inter), esc + "01" + "0111" + "0");
	// Level 300 and -300 take the fixed-length form: ESC 00, last, 6-bit run, 12-bit level.
	inter[41] = 0;
	inter[5] = 300;
	EXPECT_EQ(Encode(false, inter), esc + "00" + "1" + "000101" + "000100101100");
	inter[5] = -300;
	EXPECT_EQ(Encode(false, inter), esc + "00" + "1" + "000101" + "111011010100");
	// Beyond the 12-bit field the level saturates rather than wrapping.
	inter[5] = 5000;
	EXPECT_EQ(Encode(false, inter), esc + "00" + "1" + "000101" + "011111111111");
	inter[5] = -5000;
	EXPECT_EQ(Encode(false, inter), esc + "00" + "1" + "000101" + "100000000000");
	// All zeros: no bits.
	EXPECT_EQ(Encode(true, std::vector<int16_t>(63, 0)), "");
}

// Decodes `bits` with the given decoder form; returns the bits consumed.
int32_t DecodeBits(bool intra, const std::string& bits, int16_t* out, uint32_t start)
{
	const std::vector<uint8_t> bytes = FromBits(bits);
	const BitStream reader = ReaderOver(bytes);
	return (intra ? VLCDecodeIntraZZ : VLCDecodeInterZZ)(&reader, out, DeZZ_Raw, 0, start, 12);
}

TEST(VLCDecode, RejectsInvalidCodesAndOverrunsAndAcceptsLevelZero)
{
	int16_t coef[64] = {};
	const std::string esc = "0000011";
	// 64 events (0, 0, 1) fill the block; the 65th lands beyond position 63.
	std::string run64;
	for (int i = 0; i < 65; i++)
		run64 += "100";
	EXPECT_EQ(DecodeBits(false, run64, coef, 0), -1);
	// 63 events then a last one: accepted, 64 * 3 + 5 bits.
	std::string full;
	for (int i = 0; i < 63; i++)
		full += "100";
	EXPECT_EQ(DecodeBits(false, full + "01110", coef, 0), 63 * 3 + 5);
	// A fixed-length run of 63 from intra position 1.
	EXPECT_EQ(DecodeBits(true, esc + "00" + "1" + "111111" + "000000000001", coef, 1), -1);
	// Nine zeros, and escapes followed by nine zeros or by ESC again.
	EXPECT_EQ(DecodeBits(true, "000000000" + std::string(20, '1'), coef, 1), -1);
	EXPECT_EQ(DecodeBits(true, esc + "1" + "000000000" + "1111", coef, 1), -1);
	EXPECT_EQ(DecodeBits(false, esc + "01" + esc + "111111", coef, 0), -1);
	// A fixed-length escape with level 0 is stored as 0.
	for (int16_t& c : coef)
		c = 7;
	EXPECT_EQ(DecodeBits(false, esc + "00" + "1" + "000010" + "000000000000", coef, 0), 28);
	EXPECT_EQ(coef[DeZZ_Raw[2]], 0);
	EXPECT_EQ(coef[DeZZ_Raw[1]], 7);
}

// A random block: sparse levels with sizes that need every escape mode, with some at the limits of
// the 12-bit field.
std::vector<int16_t> RandomLevels(std::mt19937& rng, size_t count)
{
	std::vector<int16_t> levels(count, 0);
	const int density = int(rng() % 6);
	for (size_t i = 0; i < count; i++) {
		if (int(rng() % 8) > density)
			continue;
		int32_t magnitude;
		switch (rng() % 8) {
			case 0: magnitude = 2047 - int32_t(rng() % 3); break;
			case 1: magnitude = 28 + int32_t(rng() % 30); break;
			case 2: magnitude = 1 + int32_t(rng() % 400); break;
			default: magnitude = 1 + int32_t(rng() % 4); break;
		}
		levels[i] = int16_t(rng() % 2 ? -magnitude : magnitude);
		if (rng() % 64 == 0)
			levels[i] = -2048;
	}
	if (rng() % 4 == 0)
		std::fill(levels.begin(), levels.begin() + int(rng() % count), 0);  // long runs
	return levels;
}

// Which coding rule an event takes: 0 own code, 1 level offset, 2 run offset, 3 fixed length.
int EventRule(bool intra, uint32_t last, uint32_t run, int32_t level)
{
	const VLCTable* table = intra ? &gVLCIntraCoeffTable : &gVLCInterCoeffTable;
	const uint32_t magnitude = uint32_t(level < 0 ? -level : level);
	VLCInfo event = {last, run, magnitude, 0, 0};
	if (FindVLCInfo(&event, table))
		return 0;
	const int32_t lmax = (intra ? FindLMaxIntra : FindLMaxInter)(last, run);
	event.level = magnitude - uint32_t(lmax);
	if (lmax > 0 && int32_t(magnitude) > lmax && FindVLCInfo(&event, table))
		return 1;
	const int32_t rmax = (intra ? FindRMaxIntra : FindRMaxInter)(last, magnitude);
	event = {last, run - uint32_t(rmax) - 1, magnitude, 0, 0};
	if (rmax >= 0 && int32_t(run) > rmax && FindVLCInfo(&event, table))
		return 2;
	return 3;
}

TEST(VLCDecode, RoundTripsThroughEveryDecoderForm)
{
	std::mt19937 rng(1234);
	const uint8_t* scans[3] = {DeZZ_Raw, DeZZAltHoriz_Raw, DeZZAltVert_Raw};
	int rules[2][4] = {};
	for (int trial = 0; trial < 3000; trial++) {
		const bool intra = trial % 2;
		const uint32_t start = intra ? 1 : 0;
		const std::vector<int16_t> levels = RandomLevels(rng, 64 - start);
		if (std::all_of(levels.begin(), levels.end(), [](int16_t l) { return l == 0; }))
			continue;
		BitWriter writer;
		writer.stream.bitPos = 0;
		BitStream_WriteVLC(&writer.stream, 0x5, 3 + trial % 29);  // any alignment
		const uint32_t begin = writer.stream.bitPos;
		(intra ? VLCEncodeIntra : VLCEncodeInter)(levels.data(), &writer.stream, uint32_t(levels.size()), 12);
		const int32_t written = int32_t(writer.stream.bitPos - begin);
		const std::vector<uint8_t> bytes = writer.Bytes();
		const BitStream reader = ReaderOver(bytes);

		std::vector<int16_t> sequence(64 - start, 0);
		ASSERT_EQ((intra ? VLCDecodeIntra : VLCDecodeInter)(&reader, sequence.data(), begin, 64 - start, 12),
		          written);
		ASSERT_EQ(sequence, levels) << trial;
		const uint8_t* scan = scans[trial % 3];
		int16_t coef[64] = {};
		ASSERT_EQ((intra ? VLCDecodeIntraZZ : VLCDecodeInterZZ)(&reader, coef, scan, begin, start, 12),
		          written);
		for (uint32_t i = start; i < 64; i++)
			ASSERT_EQ(coef[scan[i]], levels[i - start]) << trial;
		if (intra) {
			ASSERT_EQ(coef[0], 0);
		}
		int32_t lastIndex = 0;
		for (size_t i = 0; i < levels.size(); i++)
			if (levels[i])
				lastIndex = int32_t(i);
		for (uint32_t i = 0, run = 0; i < levels.size(); i++, run++) {
			if (!levels[i])
				continue;
			rules[intra][EventRule(intra, int32_t(i) == lastIndex, run, levels[i])]++;
			run = uint32_t(-1);
		}
	}
	// Every rule occurred with both tables.
	for (int t = 0; t < 2; t++)
		for (int r = 0; r < 4; r++)
			EXPECT_GT(rules[t][r], 20) << t << " rule " << r;
}

}  // namespace
