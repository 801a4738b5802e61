// Entropy tables and coders: the transform-coefficient code records with their decoder tables and
// event coders, the coefficient scans, and the macroblock layer's code tables. Private to the codec.
#ifndef KORVO_ENTROPY_INTERNAL_H
#define KORVO_ENTROPY_INTERNAL_H

#include <array>
#include <stdint.h>

#include "bitstream_internal.h"

extern "C" {

typedef struct VLCInfo {
	uint32_t last;
	uint32_t run;
	uint32_t level;
	uint32_t length; /* code word bits, sign excluded */
	uint32_t code;
} VLCInfo;

typedef struct VLCTable {
	uint32_t count;
	const VLCInfo* records;
} VLCTable;

#define kVLCInvalid 0xDEAD

extern const VLCInfo gVLCIntraCoeffMap[102];
extern const VLCInfo gVLCInterCoeffMap[102];
extern const VLCTable gVLCIntraCoeffTable;
extern const VLCTable gVLCInterCoeffTable;

/* Decoder look-up tables, built by VLC_Init: {bits, last, run, signed level} per entry. */
extern int32_t (*gVLCInverseIntra)[4]; /* 8192 entries, next 13 bits */
extern int32_t (*gVLCInverseInter)[4];
extern int32_t (*gVLCInverseEscapeIntra)[4]; /* 24576 entries, 15 bits after ESC, minus 8192 */
extern int32_t (*gVLCInverseEscapeInter)[4];
extern int32_t (*gVLCInverseIntraCoeffMap)[2]; /* 4096 entries: {length, record index} */
extern int32_t (*gVLCInverseInterCoeffMap)[2];

int16_t VLC_Init(void);
void VLC_Terminate(void);
int16_t VLC_BuildTables(void);
int16_t VLC_BuildInverseIntra(void);
int16_t VLC_BuildInverseInter(void);
void VLC_DisposeTables(void);

void VLCEncodeIntra(const int16_t* levels, BitStream* cursor, uint32_t count, uint32_t levelBits);
void VLCEncodeInter(const int16_t* levels, BitStream* cursor, uint32_t count, uint32_t levelBits);
/* Bits of one (last, run, level) event as the coders above write it, sign and escapes included. */
uint32_t VLCEventBits(uint8_t intra, uint32_t last, uint32_t run, int32_t level, uint32_t levelBits);
/* Decode one block's events through scan into coef (raster order) from scan position start;
 * the number of bits consumed, or -1 on error. The cursor is not moved. */
int32_t VLCDecodeIntraZZ(const BitStream* buffer, int16_t* coef, const uint8_t* scan, uint32_t bitPos,
                         uint32_t start, uint32_t levelBits);
int32_t VLCDecodeInterZZ(const BitStream* buffer, int16_t* coef, const uint8_t* scan, uint32_t bitPos,
                         uint32_t start, uint32_t levelBits);
/* The same into a plain sequence of count levels (scan order). */
int32_t VLCDecodeIntra(const BitStream* buffer, int16_t* sequence, uint32_t bitPos, uint32_t count,
                       uint32_t levelBits);
int32_t VLCDecodeInter(const BitStream* buffer, int16_t* sequence, uint32_t bitPos, uint32_t count,
                       uint32_t levelBits);

extern const uint8_t DeZZ_Raw[64];
extern const uint8_t EnZZ_Raw[64];
extern const uint8_t DeZZAltHoriz_Raw[64];
extern const uint8_t EnZZAltHoriz_Raw[64];
extern const uint8_t DeZZAltVert_Raw[64];
extern const uint8_t EnZZAltVert_Raw[64];
extern const uint8_t* DeZZTable;
extern const uint8_t* EnZZTable;
extern const uint8_t* DeZZAltHorizTable;
extern const uint8_t* EnZZAltHorizTable;
extern const uint8_t* DeZZAltVertTable;
extern const uint8_t* EnZZAltVertTable;

void ZigZagEncode(const uint8_t* in, uint8_t* out);
void ZigZagDecode(const uint8_t* in, uint8_t* out);
void ZigZagEncode16(const int16_t* in, int16_t* out);
void ZigZagEncode16AltHoriz(const int16_t* in, int16_t* out);
void ZigZagEncode16AltVert(const int16_t* in, int16_t* out);
void ZigZagDecode16(const int16_t* in, int16_t* out);
void ZigZagDecode16AltHoriz(const int16_t* in, int16_t* out);
void ZigZagDecode16AltVert(const int16_t* in, int16_t* out);

const VLCInfo* FindVLCInfo(const VLCInfo* event, const VLCTable* table);
const VLCInfo* FindVLCCode(uint32_t code, uint32_t length, const VLCTable* table);
int32_t FindLMaxIntra(uint32_t last, uint32_t run);
int32_t FindLMaxInter(uint32_t last, uint32_t run);
int32_t FindRMaxIntra(uint32_t last, uint32_t level);
int32_t FindRMaxInter(uint32_t last, uint32_t level);
/* Read one code word at *bitPos through the 12-bit map: the record index (>= 0) with *record set and
 * *bitPos advanced past the code word; -1 for ESC (*bitPos advanced by 7, *record null); -2 (and a
 * null *record) when no code word begins there. */
int32_t GetIntraVLCCode(const BitStream* buffer, uint32_t* bitPos, const VLCInfo** record);
int32_t GetInterVLCCode(const BitStream* buffer, uint32_t* bitPos, const VLCInfo** record);
void FindIntraVLCInverse(uint32_t bits13, int32_t entry[4]);
void FindInterVLCInverse(uint32_t bits13, int32_t entry[4]);
void FindIntraVLCInverseEscape(uint32_t bits15, int32_t entry[4]);
void FindInterVLCInverseEscape(uint32_t bits15, int32_t entry[4]);

}  // extern "C"

using CodeEntry = std::array<uint32_t, 2>;  // {code word right-aligned, length}
using ValueEntry = std::array<int32_t, 2>;  // {value, bits to consume}

extern const std::array<CodeEntry, 16> vlcCBPY;       // by intra-form pattern Y0*8 + Y1*4 + Y2*2 + Y3
extern const std::array<CodeEntry, 13> vlcIntraDC_Y;  // by DC size 0..12
extern const std::array<CodeEntry, 13> vlcIntraDC_UV;
extern const std::array<CodeEntry, 33> vlcMV;  // by |difference| 0..32, sign bit not included

extern const std::array<ValueEntry, 64> ivlcCBPY;  // by the next 6 bits; {0xDEAD, 0} for 000000, 000001
// A vector difference after its leading 0 bit, by ranges p of the next 12 bits: p >= 512 at
// (p >> 8) - 2, 128 <= p < 512 at (p >> 2) - 32, 4 <= p < 128 at p - 4; lengths include the sign.
extern const std::array<ValueEntry, 14> ivlcMV0;
extern const std::array<ValueEntry, 96> ivlcMV1;
extern const std::array<ValueEntry, 124> ivlcMV2;

#endif  // KORVO_ENTROPY_INTERNAL_H
