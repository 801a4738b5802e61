// Coding of one block's quantised levels as (last, run, level) events with the intra or inter code
// table and its three escape modes, and the table-driven decoders (one table access per event).
#include "bitstream_internal.h"
#include "entropy_internal.h"
#include "korvo.h"
namespace {

constexpr uint32_t kEscapeCode = 0x03;  // 0000011
constexpr uint32_t kEscapeLength = 7;
constexpr uint32_t kEscapeFirst = 8192;  // 15-bit values below it are fixed-length escapes

// The fixed-length level field holds 1..16 bits (the block coders use 12).
uint32_t LevelFieldBits(uint32_t levelBits) { return levelBits < 1 ? 1 : levelBits > 16 ? 16 : levelBits; }

// A code word right-aligned in value, and its length.
struct EventCode {
	uint32_t value;
	uint32_t length;
};

// ESC and the mode bits (when modeLength > 0), the record's code word and the sign.
EventCode RecordCode(uint32_t mode, uint32_t modeLength, const VLCInfo* record, uint32_t sign)
{
	uint32_t value = (record->code << 1) | sign;
	uint32_t length = record->length + 1;
	if (modeLength > 0) {
		value |= ((kEscapeCode << modeLength) | mode) << length;
		length += kEscapeLength + modeLength;
	}
	return {value, length};
}

EventCode CodeEvent(const VLCTable* table, int32_t (*lmax)(uint32_t, uint32_t),
                    int32_t (*rmax)(uint32_t, uint32_t), uint32_t last, uint32_t run, int32_t level,
                    uint32_t levelBits)
{
	const uint32_t sign = level < 0;
	const int32_t magnitude = level < 0 ? -level : level;
	VLCInfo event = {last, run, (uint32_t)magnitude, 0, 0};
	const VLCInfo* record = FindVLCInfo(&event, table);
	if (record)
		return RecordCode(0, 0, record, sign);
	const int32_t levelLimit = lmax(last, run);
	if (levelLimit > 0 && magnitude > levelLimit) {
		event.level = (uint32_t)(magnitude - levelLimit);
		if ((record = FindVLCInfo(&event, table)))
			return RecordCode(1, 1, record, sign);
		event.level = (uint32_t)magnitude;
	}
	const int32_t runLimit = rmax(last, (uint32_t)magnitude);
	if (runLimit >= 0 && (int32_t)run > runLimit) {
		event.run = run - (uint32_t)runLimit - 1;
		if ((record = FindVLCInfo(&event, table)))
			return RecordCode(1, 2, record, sign);
	}
	// Fixed length: ESC 00, last, 6-bit run, two's-complement level (saturated to the field's range).
	const int32_t high = (1 << (levelBits - 1)) - 1;
	const int32_t clamped = level > high ? high : level < -high - 1 ? -high - 1 : level;
	const uint32_t field = (uint32_t)clamped & ((1u << levelBits) - 1);
	const uint32_t value =
	        (kEscapeCode << (9 + levelBits)) | (last << (6 + levelBits)) | (run << levelBits) | field;
	return {value, kEscapeLength + 9 + levelBits};
}

void EncodeEvent(BitStream* cursor, const VLCTable* table, int32_t (*lmax)(uint32_t, uint32_t),
                 int32_t (*rmax)(uint32_t, uint32_t), uint32_t last, uint32_t run, int32_t level,
                 uint32_t levelBits)
{
	const EventCode code = CodeEvent(table, lmax, rmax, last, run, level, levelBits);
	BitStream_WriteVLC(cursor, code.value, code.length);
}

void EncodeLevels(const int16_t* levels, BitStream* cursor, uint32_t count, uint32_t levelBits,
                  const VLCTable* table, int32_t (*lmax)(uint32_t, uint32_t),
                  int32_t (*rmax)(uint32_t, uint32_t))
{
	if (count > 64)
		count = 64;
	levelBits = LevelFieldBits(levelBits);
	int32_t lastIndex = -1;
	for (uint32_t i = 0; i < count; i++)
		if (levels[i] != 0)
			lastIndex = (int32_t)i;
	uint32_t run = 0;
	for (int32_t i = 0; i <= lastIndex; i++) {
		if (levels[i] == 0) {
			run++;
			continue;
		}
		EncodeEvent(cursor, table, lmax, rmax, i == lastIndex, run, levels[i], levelBits);
		run = 0;
	}
}

constexpr uint8_t kIdentityScan[64] = {
        0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
        22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43,
        44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63,
};

// Decodes events from bitPos until one with last = 1, storing each level at out[scan[position]] for
// positions from `position` below `end`. Returns the bits consumed, or -1 for an invalid code or an
// event beyond the range.
int32_t DecodeLevels(const BitStream* buffer, int16_t* out, const uint8_t* scan, uint32_t bitPos,
                     uint32_t position, uint32_t end, uint32_t levelBits, const int32_t (*inverse)[4],
                     const int32_t (*escape)[4])
{
	if (!inverse || !escape)
		return -1;
	levelBits = LevelFieldBits(levelBits);
	uint32_t pos = bitPos;
	for (;;) {
		const int32_t* entry = inverse[BitStream_PeekBitsAt(buffer, pos, 13)];
		if (entry[0] == kVLCInvalid)
			return -1;
		pos += (uint32_t)entry[0];
		int32_t last = entry[1];
		int32_t run = entry[2];
		int32_t level = entry[3];
		if (level == 0) {
			const uint32_t bits15 = BitStream_PeekBitsAt(buffer, pos, 15);
			if (bits15 < kEscapeFirst) {
				const uint32_t fixed = BitStream_PeekBitsAt(buffer, pos, 9 + levelBits);
				const uint32_t shift = 32 - levelBits;
				last = (int32_t)((fixed >> (6 + levelBits)) & 1);
				run = (int32_t)((fixed >> levelBits) & 63);
				level = (int32_t)(fixed << shift) >> shift;
				pos += 9 + levelBits;
			} else {
				const int32_t* escaped = escape[bits15 - kEscapeFirst];
				if (escaped[0] == kVLCInvalid)
					return -1;
				pos += (uint32_t)escaped[0];
				last = escaped[1];
				run = escaped[2];
				level = escaped[3];
			}
		}
		position += (uint32_t)run;
		if (position >= end)
			return -1;
		out[scan[position]] = (int16_t)level;
		position++;
		if (last)
			return (int32_t)(pos - bitPos);
	}
}

}  // namespace

void VLCEncodeIntra(const int16_t* levels, BitStream* cursor, uint32_t count, uint32_t levelBits)
{
	EncodeLevels(levels, cursor, count, levelBits, &gVLCIntraCoeffTable, FindLMaxIntra, FindRMaxIntra);
}

void VLCEncodeInter(const int16_t* levels, BitStream* cursor, uint32_t count, uint32_t levelBits)
{
	EncodeLevels(levels, cursor, count, levelBits, &gVLCInterCoeffTable, FindLMaxInter, FindRMaxInter);
}

uint32_t VLCEventBits(uint8_t intra, uint32_t last, uint32_t run, int32_t level, uint32_t levelBits)
{
	const EventCode code = intra ? CodeEvent(&gVLCIntraCoeffTable, FindLMaxIntra, FindRMaxIntra, last, run,
	                                         level, LevelFieldBits(levelBits))
	                             : CodeEvent(&gVLCInterCoeffTable, FindLMaxInter, FindRMaxInter, last, run,
	                                         level, LevelFieldBits(levelBits));
	return code.length;
}

int32_t VLCDecodeIntraZZ(const BitStream* buffer, int16_t* coef, const uint8_t* scan, uint32_t bitPos,
                         uint32_t start, uint32_t levelBits)
{
	return DecodeLevels(buffer, coef, scan, bitPos, start, 64, levelBits, gVLCInverseIntra,
	                    gVLCInverseEscapeIntra);
}

int32_t VLCDecodeInterZZ(const BitStream* buffer, int16_t* coef, const uint8_t* scan, uint32_t bitPos,
                         uint32_t start, uint32_t levelBits)
{
	return DecodeLevels(buffer, coef, scan, bitPos, start, 64, levelBits, gVLCInverseInter,
	                    gVLCInverseEscapeInter);
}

int32_t VLCDecodeIntra(const BitStream* buffer, int16_t* sequence, uint32_t bitPos, uint32_t count,
                       uint32_t levelBits)
{
	return DecodeLevels(buffer, sequence, kIdentityScan, bitPos, 0, count > 64 ? 64 : count, levelBits,
	                    gVLCInverseIntra, gVLCInverseEscapeIntra);
}

int32_t VLCDecodeInter(const BitStream* buffer, int16_t* sequence, uint32_t bitPos, uint32_t count,
                       uint32_t levelBits)
{
	return DecodeLevels(buffer, sequence, kIdentityScan, bitPos, 0, count > 64 ? 64 : count, levelBits,
	                    gVLCInverseInter, gVLCInverseEscapeInter);
}
