// Transform-coefficient code records (intra and inter), their LMAX/RMAX limits, the look-ups over them
// and the decoder tables built once per process: 13-bit events, 15-bit escapes and the 12-bit code map.
#include <stdlib.h>
#include <string.h>

#include "bitstream_internal.h"
#include "entropy_internal.h"
#include "korvo.h"
// Both tables share the same 102 code words (sign bit excluded) and give them different events.
constexpr VLCInfo gVLCIntraCoeffMap[102] = {
        {0, 0, 1, 2, 0x002},   /* 10 */
        {0, 0, 2, 3, 0x006},   /* 110 */
        {1, 0, 1, 4, 0x007},   /* 0111 */
        {0, 1, 1, 4, 0x00E},   /* 1110 */
        {0, 0, 3, 4, 0x00F},   /* 1111 */
        {0, 2, 1, 5, 0x00B},   /* 01011 */
        {0, 0, 5, 5, 0x00C},   /* 01100 */
        {0, 0, 4, 5, 0x00D},   /* 01101 */
        {1, 0, 2, 6, 0x00C},   /* 001100 */
        {0, 5, 1, 6, 0x00D},   /* 001101 */
        {1, 2, 1, 6, 0x00E},   /* 001110 */
        {1, 1, 1, 6, 0x00F},   /* 001111 */
        {0, 4, 1, 6, 0x010},   /* 010000 */
        {0, 3, 1, 6, 0x011},   /* 010001 */
        {0, 0, 8, 6, 0x012},   /* 010010 */
        {0, 0, 7, 6, 0x013},   /* 010011 */
        {0, 1, 2, 6, 0x014},   /* 010100 */
        {0, 0, 6, 6, 0x015},   /* 010101 */
        {1, 4, 1, 7, 0x010},   /* 0010000 */
        {1, 3, 1, 7, 0x011},   /* 0010001 */
        {0, 6, 1, 7, 0x012},   /* 0010010 */
        {1, 5, 1, 7, 0x013},   /* 0010011 */
        {0, 7, 1, 7, 0x014},   /* 0010100 */
        {0, 2, 2, 7, 0x015},   /* 0010101 */
        {0, 1, 3, 7, 0x016},   /* 0010110 */
        {0, 0, 9, 7, 0x017},   /* 0010111 */
        {1, 8, 1, 8, 0x013},   /* 00010011 */
        {1, 7, 1, 8, 0x014},   /* 00010100 */
        {1, 6, 1, 8, 0x015},   /* 00010101 */
        {1, 0, 3, 8, 0x016},   /* 00010110 */
        {0, 10, 1, 8, 0x017},  /* 00010111 */
        {0, 9, 1, 8, 0x018},   /* 00011000 */
        {0, 8, 1, 8, 0x019},   /* 00011001 */
        {1, 9, 1, 8, 0x01A},   /* 00011010 */
        {0, 3, 2, 8, 0x01B},   /* 00011011 */
        {0, 1, 4, 8, 0x01C},   /* 00011100 */
        {0, 0, 12, 8, 0x01D},  /* 00011101 */
        {0, 0, 11, 8, 0x01E},  /* 00011110 */
        {0, 0, 10, 8, 0x01F},  /* 00011111 */
        {1, 14, 1, 9, 0x011},  /* 000010001 */
        {1, 13, 1, 9, 0x012},  /* 000010010 */
        {1, 12, 1, 9, 0x013},  /* 000010011 */
        {1, 11, 1, 9, 0x014},  /* 000010100 */
        {1, 10, 1, 9, 0x015},  /* 000010101 */
        {1, 1, 2, 9, 0x016},   /* 000010110 */
        {1, 0, 4, 9, 0x017},   /* 000010111 */
        {0, 12, 1, 9, 0x018},  /* 000011000 */
        {0, 11, 1, 9, 0x019},  /* 000011001 */
        {0, 7, 2, 9, 0x01A},   /* 000011010 */
        {0, 6, 2, 9, 0x01B},   /* 000011011 */
        {0, 5, 2, 9, 0x01C},   /* 000011100 */
        {0, 3, 3, 9, 0x01D},   /* 000011101 */
        {0, 2, 3, 9, 0x01E},   /* 000011110 */
        {0, 1, 6, 9, 0x01F},   /* 000011111 */
        {0, 1, 5, 9, 0x020},   /* 000100000 */
        {0, 0, 16, 9, 0x021},  /* 000100001 */
        {0, 4, 2, 9, 0x022},   /* 000100010 */
        {0, 0, 15, 9, 0x023},  /* 000100011 */
        {0, 0, 14, 9, 0x024},  /* 000100100 */
        {0, 0, 13, 9, 0x025},  /* 000100101 */
        {1, 2, 2, 10, 0x004},  /* 0000000100 */
        {1, 1, 3, 10, 0x005},  /* 0000000101 */
        {1, 0, 5, 10, 0x006},  /* 0000000110 */
        {0, 13, 1, 10, 0x007}, /* 0000000111 */
        {0, 5, 3, 10, 0x008},  /* 0000001000 */
        {0, 8, 2, 10, 0x009},  /* 0000001001 */
        {0, 4, 3, 10, 0x00A},  /* 0000001010 */
        {0, 3, 4, 10, 0x00B},  /* 0000001011 */
        {0, 2, 4, 10, 0x00C},  /* 0000001100 */
        {0, 1, 7, 10, 0x00D},  /* 0000001101 */
        {0, 0, 20, 10, 0x00E}, /* 0000001110 */
        {0, 0, 19, 10, 0x00F}, /* 0000001111 */
        {0, 0, 18, 10, 0x020}, /* 0000100000 */
        {0, 0, 17, 10, 0x021}, /* 0000100001 */
        {1, 0, 7, 11, 0x004},  /* 00000000100 */
        {1, 0, 6, 11, 0x005},  /* 00000000101 */
        {0, 0, 22, 11, 0x006}, /* 00000000110 */
        {0, 0, 21, 11, 0x007}, /* 00000000111 */
        {0, 0, 23, 11, 0x020}, /* 00000100000 */
        {0, 0, 24, 11, 0x021}, /* 00000100001 */
        {0, 1, 8, 11, 0x022},  /* 00000100010 */
        {0, 9, 2, 11, 0x023},  /* 00000100011 */
        {1, 3, 2, 11, 0x024},  /* 00000100100 */
        {1, 4, 2, 11, 0x025},  /* 00000100101 */
        {1, 15, 1, 11, 0x026}, /* 00000100110 */
        {1, 16, 1, 11, 0x027}, /* 00000100111 */
        {0, 0, 25, 12, 0x050}, /* 000001010000 */
        {0, 0, 26, 12, 0x051}, /* 000001010001 */
        {0, 0, 27, 12, 0x052}, /* 000001010010 */
        {0, 1, 9, 12, 0x053},  /* 000001010011 */
        {0, 6, 3, 12, 0x054},  /* 000001010100 */
        {0, 1, 10, 12, 0x055}, /* 000001010101 */
        {0, 2, 5, 12, 0x056},  /* 000001010110 */
        {0, 7, 3, 12, 0x057},  /* 000001010111 */
        {0, 14, 1, 12, 0x058}, /* 000001011000 */
        {1, 0, 8, 12, 0x059},  /* 000001011001 */
        {1, 5, 2, 12, 0x05A},  /* 000001011010 */
        {1, 6, 2, 12, 0x05B},  /* 000001011011 */
        {1, 17, 1, 12, 0x05C}, /* 000001011100 */
        {1, 18, 1, 12, 0x05D}, /* 000001011101 */
        {1, 19, 1, 12, 0x05E}, /* 000001011110 */
        {1, 20, 1, 12, 0x05F}, /* 000001011111 */
};
constexpr VLCInfo gVLCInterCoeffMap[102] = {
        {0, 0, 1, 2, 0x002},   /* 10 */
        {0, 1, 1, 3, 0x006},   /* 110 */
        {1, 0, 1, 4, 0x007},   /* 0111 */
        {0, 2, 1, 4, 0x00E},   /* 1110 */
        {0, 0, 2, 4, 0x00F},   /* 1111 */
        {0, 5, 1, 5, 0x00B},   /* 01011 */
        {0, 4, 1, 5, 0x00C},   /* 01100 */
        {0, 3, 1, 5, 0x00D},   /* 01101 */
        {1, 4, 1, 6, 0x00C},   /* 001100 */
        {1, 3, 1, 6, 0x00D},   /* 001101 */
        {1, 2, 1, 6, 0x00E},   /* 001110 */
        {1, 1, 1, 6, 0x00F},   /* 001111 */
        {0, 9, 1, 6, 0x010},   /* 010000 */
        {0, 8, 1, 6, 0x011},   /* 010001 */
        {0, 7, 1, 6, 0x012},   /* 010010 */
        {0, 6, 1, 6, 0x013},   /* 010011 */
        {0, 1, 2, 6, 0x014},   /* 010100 */
        {0, 0, 3, 6, 0x015},   /* 010101 */
        {1, 8, 1, 7, 0x010},   /* 0010000 */
        {1, 7, 1, 7, 0x011},   /* 0010001 */
        {1, 6, 1, 7, 0x012},   /* 0010010 */
        {1, 5, 1, 7, 0x013},   /* 0010011 */
        {0, 12, 1, 7, 0x014},  /* 0010100 */
        {0, 11, 1, 7, 0x015},  /* 0010101 */
        {0, 10, 1, 7, 0x016},  /* 0010110 */
        {0, 0, 4, 7, 0x017},   /* 0010111 */
        {1, 16, 1, 8, 0x013},  /* 00010011 */
        {1, 15, 1, 8, 0x014},  /* 00010100 */
        {1, 14, 1, 8, 0x015},  /* 00010101 */
        {1, 13, 1, 8, 0x016},  /* 00010110 */
        {1, 12, 1, 8, 0x017},  /* 00010111 */
        {1, 11, 1, 8, 0x018},  /* 00011000 */
        {1, 10, 1, 8, 0x019},  /* 00011001 */
        {1, 9, 1, 8, 0x01A},   /* 00011010 */
        {0, 14, 1, 8, 0x01B},  /* 00011011 */
        {0, 13, 1, 8, 0x01C},  /* 00011100 */
        {0, 2, 2, 8, 0x01D},   /* 00011101 */
        {0, 1, 3, 8, 0x01E},   /* 00011110 */
        {0, 0, 5, 8, 0x01F},   /* 00011111 */
        {1, 24, 1, 9, 0x011},  /* 000010001 */
        {1, 23, 1, 9, 0x012},  /* 000010010 */
        {1, 22, 1, 9, 0x013},  /* 000010011 */
        {1, 21, 1, 9, 0x014},  /* 000010100 */
        {1, 20, 1, 9, 0x015},  /* 000010101 */
        {1, 19, 1, 9, 0x016},  /* 000010110 */
        {1, 18, 1, 9, 0x017},  /* 000010111 */
        {1, 17, 1, 9, 0x018},  /* 000011000 */
        {1, 0, 2, 9, 0x019},   /* 000011001 */
        {0, 22, 1, 9, 0x01A},  /* 000011010 */
        {0, 21, 1, 9, 0x01B},  /* 000011011 */
        {0, 20, 1, 9, 0x01C},  /* 000011100 */
        {0, 19, 1, 9, 0x01D},  /* 000011101 */
        {0, 18, 1, 9, 0x01E},  /* 000011110 */
        {0, 17, 1, 9, 0x01F},  /* 000011111 */
        {0, 16, 1, 9, 0x020},  /* 000100000 */
        {0, 15, 1, 9, 0x021},  /* 000100001 */
        {0, 4, 2, 9, 0x022},   /* 000100010 */
        {0, 3, 2, 9, 0x023},   /* 000100011 */
        {0, 0, 7, 9, 0x024},   /* 000100100 */
        {0, 0, 6, 9, 0x025},   /* 000100101 */
        {1, 28, 1, 10, 0x004}, /* 0000000100 */
        {1, 27, 1, 10, 0x005}, /* 0000000101 */
        {1, 26, 1, 10, 0x006}, /* 0000000110 */
        {1, 25, 1, 10, 0x007}, /* 0000000111 */
        {0, 9, 2, 10, 0x008},  /* 0000001000 */
        {0, 8, 2, 10, 0x009},  /* 0000001001 */
        {0, 7, 2, 10, 0x00A},  /* 0000001010 */
        {0, 6, 2, 10, 0x00B},  /* 0000001011 */
        {0, 5, 2, 10, 0x00C},  /* 0000001100 */
        {0, 3, 3, 10, 0x00D},  /* 0000001101 */
        {0, 2, 3, 10, 0x00E},  /* 0000001110 */
        {0, 1, 4, 10, 0x00F},  /* 0000001111 */
        {0, 0, 9, 10, 0x020},  /* 0000100000 */
        {0, 0, 8, 10, 0x021},  /* 0000100001 */
        {1, 1, 2, 11, 0x004},  /* 00000000100 */
        {1, 0, 3, 11, 0x005},  /* 00000000101 */
        {0, 0, 11, 11, 0x006}, /* 00000000110 */
        {0, 0, 10, 11, 0x007}, /* 00000000111 */
        {0, 0, 12, 11, 0x020}, /* 00000100000 */
        {0, 1, 5, 11, 0x021},  /* 00000100001 */
        {0, 23, 1, 11, 0x022}, /* 00000100010 */
        {0, 24, 1, 11, 0x023}, /* 00000100011 */
        {1, 29, 1, 11, 0x024}, /* 00000100100 */
        {1, 30, 1, 11, 0x025}, /* 00000100101 */
        {1, 31, 1, 11, 0x026}, /* 00000100110 */
        {1, 32, 1, 11, 0x027}, /* 00000100111 */
        {0, 1, 6, 12, 0x050},  /* 000001010000 */
        {0, 2, 4, 12, 0x051},  /* 000001010001 */
        {0, 4, 3, 12, 0x052},  /* 000001010010 */
        {0, 5, 3, 12, 0x053},  /* 000001010011 */
        {0, 6, 3, 12, 0x054},  /* 000001010100 */
        {0, 10, 2, 12, 0x055}, /* 000001010101 */
        {0, 25, 1, 12, 0x056}, /* 000001010110 */
        {0, 26, 1, 12, 0x057}, /* 000001010111 */
        {1, 33, 1, 12, 0x058}, /* 000001011000 */
        {1, 34, 1, 12, 0x059}, /* 000001011001 */
        {1, 35, 1, 12, 0x05A}, /* 000001011010 */
        {1, 36, 1, 12, 0x05B}, /* 000001011011 */
        {1, 37, 1, 12, 0x05C}, /* 000001011100 */
        {1, 38, 1, 12, 0x05D}, /* 000001011101 */
        {1, 39, 1, 12, 0x05E}, /* 000001011110 */
        {1, 40, 1, 12, 0x05F}, /* 000001011111 */
};
const VLCTable gVLCIntraCoeffTable = {102, gVLCIntraCoeffMap};
const VLCTable gVLCInterCoeffTable = {102, gVLCInterCoeffMap};

int32_t (*gVLCInverseIntra)[4] = nullptr;
int32_t (*gVLCInverseInter)[4] = nullptr;
int32_t (*gVLCInverseEscapeIntra)[4] = nullptr;
int32_t (*gVLCInverseEscapeInter)[4] = nullptr;
int32_t (*gVLCInverseIntraCoeffMap)[2] = nullptr;
int32_t (*gVLCInverseInterCoeffMap)[2] = nullptr;

namespace {

constexpr uint32_t kInverseEntries = 8192;  // indexed by the next 13 bits
constexpr uint32_t kEscapeEntries = 24576;  // 15 bits after ESC, leading bits 01 or 1
constexpr uint32_t kEscapeFirst = 8192;     // the smallest such 15-bit value
constexpr uint32_t kMapEntries = 4096;      // indexed by the next 12 bits
constexpr uint32_t kEscapeCode = 0x03;      // 0000011
constexpr uint32_t kEscapeLength = 7;
static_assert(kInverseEntries * 16 + kEscapeEntries * 16 + kMapEntries * 8 == 557056,
              "one decoder table set");

// The code words whose 12-bit prefixes reach 1792 and above; both tables keep them at these records.
constexpr int32_t kRecord0111 = 2;
constexpr int32_t kRecord10 = 0;
constexpr int32_t kRecord110 = 1;
constexpr int32_t kRecord1110 = 3;
constexpr int32_t kRecord1111 = 4;
static_assert(gVLCIntraCoeffMap[kRecord0111].code == 0x7 && gVLCIntraCoeffMap[kRecord0111].length == 4);
static_assert(gVLCIntraCoeffMap[kRecord10].code == 0x2 && gVLCIntraCoeffMap[kRecord10].length == 2);
static_assert(gVLCIntraCoeffMap[kRecord110].code == 0x6 && gVLCIntraCoeffMap[kRecord110].length == 3);
static_assert(gVLCIntraCoeffMap[kRecord1110].code == 0xE && gVLCIntraCoeffMap[kRecord1110].length == 4);
static_assert(gVLCIntraCoeffMap[kRecord1111].code == 0xF && gVLCIntraCoeffMap[kRecord1111].length == 4);

// One table with its decoder look-ups and limits.
struct VLCSet {
	const VLCTable* table;
	int32_t (**inverse)[4];
	int32_t (**escape)[4];
	int32_t (**map)[2];
	int32_t (*lmax)(uint32_t last, uint32_t run);
	int32_t (*rmax)(uint32_t last, uint32_t level);
};

const VLCSet kIntraSet = {&gVLCIntraCoeffTable,      &gVLCInverseIntra, &gVLCInverseEscapeIntra,
                          &gVLCInverseIntraCoeffMap, FindLMaxIntra,     FindRMaxIntra};
const VLCSet kInterSet = {&gVLCInterCoeffTable,      &gVLCInverseInter, &gVLCInverseEscapeInter,
                          &gVLCInverseInterCoeffMap, FindLMaxInter,     FindRMaxInter};

void SetInvalid(int32_t entry[4]) { entry[0] = entry[1] = entry[2] = entry[3] = kVLCInvalid; }

// Per-table look-ups by (last, run, level), built at compile time from the records: LMAX and RMAX
// (the escape modes need them for every escaped event) and the record coding an event.
constexpr uint32_t kIndexRuns = 64;
constexpr uint32_t kIndexLevels = 32;  // above every record's level

struct EventIndex {
	uint8_t lmax[2][kIndexRuns];                  // the largest level coded with (last, run); 0 when none
	int8_t rmax[2][kIndexLevels];                 // the largest run coded with (last, level); -1 when none
	uint8_t record[2][kIndexRuns][kIndexLevels];  // record index + 1; 0 when no record codes it
};

constexpr EventIndex MakeEventIndex(const VLCInfo (&records)[102])
{
	EventIndex index{};
	for (auto& r : index.rmax)
		for (int8_t& v : r)
			v = -1;
	for (uint32_t i = 0; i < 102; i++) {
		const VLCInfo& r = records[i];
		if (r.level > index.lmax[r.last][r.run])
			index.lmax[r.last][r.run] = uint8_t(r.level);
		if (int32_t(r.run) > index.rmax[r.last][r.level])
			index.rmax[r.last][r.level] = int8_t(r.run);
		if (!index.record[r.last][r.run][r.level])  // the first record of an event codes it
			index.record[r.last][r.run][r.level] = uint8_t(i + 1);
	}
	return index;
}

constexpr EventIndex kIntraIndex = MakeEventIndex(gVLCIntraCoeffMap);
constexpr EventIndex kInterIndex = MakeEventIndex(gVLCInterCoeffMap);

int32_t FindLMax(const EventIndex& index, uint32_t last, uint32_t run)
{
	return last < 2 && run < kIndexRuns ? index.lmax[last][run] : 0;
}

int32_t FindRMax(const EventIndex& index, uint32_t last, uint32_t level)
{
	return last < 2 && level < kIndexLevels ? index.rmax[last][level] : -1;
}

// Every 12-bit value gets the code word that begins it: {length, record}, {7, -1} for ESC, or
// {0, 0xDEAD} when none does (nine leading zeros).
void BuildCoeffMap(const VLCTable* table, int32_t (*map)[2])
{
	for (uint32_t v = 0; v < kMapEntries; v++) {
		map[v][0] = 0;
		map[v][1] = kVLCInvalid;
	}
	auto fill = [map](uint32_t code, uint32_t length, int32_t record) {
		const uint32_t shift = 12 - length;
		for (uint32_t v = code << shift; v < (code + 1) << shift; v++) {
			map[v][0] = (int32_t)length;
			map[v][1] = record;
		}
	};
	fill(kEscapeCode, kEscapeLength, -1);
	for (uint32_t i = 0; i < table->count; i++)
		fill(table->records[i].code, table->records[i].length, (int32_t)i);
}

// The 13-bit entry: code word + sign, ESC, or invalid.
void InverseEntry(const VLCSet& set, uint32_t bits13, int32_t entry[4])
{
	const int32_t* m = (*set.map)[(bits13 >> 1) & (kMapEntries - 1)];
	if (m[0] == 0) {
		SetInvalid(entry);
		return;
	}
	if (m[1] < 0) {
		entry[0] = (int32_t)kEscapeLength;
		entry[1] = entry[2] = entry[3] = 0;
		return;
	}
	const VLCInfo& r = set.table->records[m[1]];
	const bool negative = (bits13 >> (12 - r.length)) & 1;
	entry[0] = (int32_t)r.length + 1;
	entry[1] = (int32_t)r.last;
	entry[2] = (int32_t)r.run;
	entry[3] = negative ? -(int32_t)r.level : (int32_t)r.level;
}

// The escape entry for the 15 bits after ESC: mode "1" adds LMAX to the level, mode "01" adds
// RMAX + 1 to the run; bits count the mode bits, the code word and the sign.
void InverseEscapeEntry(const VLCSet& set, uint32_t bits15, int32_t entry[4])
{
	if (bits15 < kEscapeFirst || bits15 >= kEscapeFirst + kEscapeEntries) {
		SetInvalid(entry);
		return;
	}
	const bool levelOffset = bits15 >= 16384;
	InverseEntry(set, levelOffset ? (bits15 & 0x3FFF) >> 1 : bits15 & 0x1FFF, entry);
	if (entry[0] == (int32_t)kVLCInvalid || entry[3] == 0) {
		SetInvalid(entry);
		return;
	}
	const uint32_t last = (uint32_t)entry[1];
	const uint32_t run = (uint32_t)entry[2];
	const int32_t level = entry[3];
	if (levelOffset) {
		const int32_t lmax = set.lmax(last, run);
		entry[3] = level < 0 ? level - lmax : level + lmax;
		entry[0] += 1;
	} else {
		entry[2] = (int32_t)run + set.rmax(last, (uint32_t)(level < 0 ? -level : level)) + 1;
		entry[0] += 2;
	}
}

int32_t GetVLCCode(const VLCSet& set, const BitStream* buffer, uint32_t* bitPos, const VLCInfo** record)
{
	const uint32_t v = BitStream_PeekBitsAt(buffer, *bitPos, 12);
	int32_t length;
	int32_t index;
	if (v >= 3840) {
		length = 4, index = kRecord1111;
	} else if (v >= 3584) {
		length = 4, index = kRecord1110;
	} else if (v >= 3072) {
		length = 3, index = kRecord110;
	} else if (v >= 2048) {
		length = 2, index = kRecord10;
	} else if (v >= 1792) {
		length = 4, index = kRecord0111;
	} else {
		length = (*set.map)[v][0];
		index = (*set.map)[v][1];
	}
	*record = nullptr;
	if (length == 0)
		return -2;
	*bitPos += (uint32_t)length;
	if (index < 0)
		return -1;
	*record = &set.table->records[index];
	return index;
}

template <typename T>
T* AllocateTable(uint32_t entries)
{
	T* table = (T*)malloc(sizeof(T) * entries);
	if (table)
		memset(table, 0, sizeof(T) * entries);
	return table;
}

int16_t BuildInverse(const VLCSet& set)
{
	if (*set.map && *set.escape && *set.inverse)
		return kKorvoOK;
	if (!*set.map)
		*set.map = AllocateTable<int32_t[2]>(kMapEntries);
	if (!*set.escape)
		*set.escape = AllocateTable<int32_t[4]>(kEscapeEntries);
	if (!*set.inverse)
		*set.inverse = AllocateTable<int32_t[4]>(kInverseEntries);
	if (!*set.map || !*set.escape || !*set.inverse)
		return kKorvoTableAllocFailed;
	BuildCoeffMap(set.table, *set.map);
	for (uint32_t i = 0; i < kEscapeEntries; i++)
		InverseEscapeEntry(set, kEscapeFirst + i, (*set.escape)[i]);
	for (uint32_t i = 0; i < kInverseEntries; i++)
		InverseEntry(set, i, (*set.inverse)[i]);
	return kKorvoOK;
}

template <typename T>
void FreeTable(T** table)
{
	free(*table);
	*table = nullptr;
}

}  // namespace

const VLCInfo* FindVLCInfo(const VLCInfo* event, const VLCTable* table)
{
	const EventIndex* index = table == &gVLCIntraCoeffTable   ? &kIntraIndex
	                          : table == &gVLCInterCoeffTable ? &kInterIndex
	                                                          : nullptr;
	if (index) {
		if (event->last >= 2 || event->run >= kIndexRuns || event->level >= kIndexLevels)
			return nullptr;
		const uint32_t entry = index->record[event->last][event->run][event->level];
		return entry ? &table->records[entry - 1] : nullptr;
	}
	for (uint32_t i = 0; i < table->count; i++) {
		const VLCInfo* r = &table->records[i];
		if (r->level == event->level && r->run == event->run && r->last == event->last)
			return r;
	}
	return nullptr;
}

const VLCInfo* FindVLCCode(uint32_t code, uint32_t length, const VLCTable* table)
{
	for (uint32_t i = 0; i < table->count; i++) {
		const VLCInfo* r = &table->records[i];
		if (r->code == code && r->length == length)
			return r;
	}
	return nullptr;
}

int32_t FindLMaxIntra(uint32_t last, uint32_t run) { return FindLMax(kIntraIndex, last, run); }
int32_t FindLMaxInter(uint32_t last, uint32_t run) { return FindLMax(kInterIndex, last, run); }
int32_t FindRMaxIntra(uint32_t last, uint32_t level) { return FindRMax(kIntraIndex, last, level); }
int32_t FindRMaxInter(uint32_t last, uint32_t level) { return FindRMax(kInterIndex, last, level); }

int32_t GetIntraVLCCode(const BitStream* buffer, uint32_t* bitPos, const VLCInfo** record)
{
	return GetVLCCode(kIntraSet, buffer, bitPos, record);
}

int32_t GetInterVLCCode(const BitStream* buffer, uint32_t* bitPos, const VLCInfo** record)
{
	return GetVLCCode(kInterSet, buffer, bitPos, record);
}

// The four entry builders read the 12-bit code map, so they need the tables built (VLC_Init).
void FindIntraVLCInverse(uint32_t bits13, int32_t entry[4]) { InverseEntry(kIntraSet, bits13, entry); }
void FindInterVLCInverse(uint32_t bits13, int32_t entry[4]) { InverseEntry(kInterSet, bits13, entry); }
void FindIntraVLCInverseEscape(uint32_t bits15, int32_t entry[4])
{
	InverseEscapeEntry(kIntraSet, bits15, entry);
}
void FindInterVLCInverseEscape(uint32_t bits15, int32_t entry[4])
{
	InverseEscapeEntry(kInterSet, bits15, entry);
}

int16_t VLC_BuildInverseIntra(void) { return BuildInverse(kIntraSet); }
int16_t VLC_BuildInverseInter(void) { return BuildInverse(kInterSet); }

int16_t VLC_BuildTables(void)
{
	if (VLC_BuildInverseIntra() != kKorvoOK || VLC_BuildInverseInter() != kKorvoOK) {
		VLC_DisposeTables();
		return kKorvoTableAllocFailed;
	}
	return kKorvoOK;
}

int16_t VLC_Init(void) { return VLC_BuildTables(); }

void VLC_DisposeTables(void)
{
	FreeTable(&gVLCInverseIntra);
	FreeTable(&gVLCInverseInter);
	FreeTable(&gVLCInverseEscapeIntra);
	FreeTable(&gVLCInverseEscapeInter);
	FreeTable(&gVLCInverseIntraCoeffMap);
	FreeTable(&gVLCInverseInterCoeffMap);
}

void VLC_Terminate(void) { VLC_DisposeTables(); }
