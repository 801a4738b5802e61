// Korvo video codec core: the public records, constants and entry points of the library.
// One header for the whole core; it compiles on its own and is all an add-on needs.
#ifndef KORVO_KORVO_H
#define KORVO_KORVO_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------------------------
 * Statuses (signed 16-bit) and constants
 * ------------------------------------------------------------------------------------------- */

enum {
    kKorvoOK = 0,               /* success */
    kKorvoTableAllocFailed = 1, /* allocation failure while building tables */
    kKorvoBadPixelFormat = 2,   /* unsupported pixel format (or a caller picture that cannot hold it) */
    kKorvoEntryFailed = 3,      /* failure of an entry point */
    kKorvoNoStartCode = 4       /* no VOP start code */
};

enum { kCodingTypeI = 1, kCodingTypeP = 2 };
enum { kMbTypeIntra = 1, kMbTypeInter = 2, kMbTypeInter4V = 3 };
enum { kBlockKindLuma = 1, kBlockKindChroma = 2 };
enum { kPredFromAbove = 1, kPredFromLeft = 2 };

/* Pixel layouts of KorvParams.pixelFormat. */
#define kPixelFormatNone 1u
#define kPixelFormatYUV420Planar 10u
#define kPixelFormatRGB24 24u
#define kPixelFormatARGB32 32u
#define kPixelFormatBGRA 0x42475241u /* 'BGRA': bytes B, G, R, A */
#define kPixelFormatRGBA 0x52474241u /* 'RGBA': bytes R, G, B, A */
#define kPixelFormatABGR 0x41424752u /* 'ABGR': served with the ARGB32 layout */
#define kPixelFormatYUVS 0x79757673u /* 'yuvs': 4:2:2 packed Y'0 Cb Y'1 Cr */
#define kPixelFormat2VUY 0x32767579u /* '2vuy': 4:2:2 packed Cb Y'0 Cr Y'1 */

#define kVopStartCode 0x000001B6u
#define kUserDataStartCode 0x000001B2u

/* Picture limits: mbsRead is 16-bit, and interpolator positions are 16-bit half-pels. */
#define kMaxMacroBlocks 32767u
#define kMaxMacroBlocksAcross 1022u

/* The bit writer's flush may store up to this many bytes past a frame's last byte. */
#define kBitStreamFlushSlack 4u

/* ---------------------------------------------------------------------------------------------
 * Records
 * ------------------------------------------------------------------------------------------- */

typedef struct KorvParams KorvParams;
typedef struct Vop Vop;
typedef struct MacroBlock MacroBlock;
typedef struct Block Block;

/* A bit cursor, most significant bit first over big-endian 32-bit words counted from base.
 * The data window [dataBegin, dataEnd) bounds every access: a reader sees bytes outside it as 0, a
 * writer stores no byte outside it and sets overrun instead (sticky, checked once per frame). */
typedef struct BitStream {
    uint8_t* base;
    uint32_t bitPos;
    uint8_t* dataBegin;
    uint8_t* dataEnd;
    uint8_t overrun;
} BitStream;

typedef struct Motion {
    int16_t x;
    int16_t y;
} Motion;

typedef struct Plane {
    uint32_t width;  /* bytes per row, border included (also the stride) */
    uint32_t height; /* rows, border included */
    uint8_t* data;   /* first byte of the plane, border included */
    uint8_t* raw;    /* the allocation */
} Plane;

typedef struct PixMap {
    uint32_t width;
    uint32_t reserved1;
    uint32_t height;
    uint32_t reserved2;
    uint16_t rowBytes; /* only the low 14 bits are used */
    uint8_t* baseAddr;
} PixMap;

struct KorvParams {
    uint8_t* stream;
    uint32_t streamSize;
    int32_t streamBytes;
    PixMap* pixMap;
    uint8_t* streamBuffer;
    Vop* vop;
    uint32_t pixelFormat;
    uint32_t spatialQuality;
    uint32_t frameCount;
    uint32_t framesSinceKey;
    uint32_t totalBytes;
    uint8_t prevCodingType;
    uint8_t prevRounding;
    uint8_t fullRefresh;
    uint8_t deblock;
    uint8_t dering;
    uint8_t optimalFrame;
    uint8_t optimalMb;
    BitStream reader;
};

typedef struct __attribute__((aligned(16))) Block {
    int16_t coef[64];
    int16_t recon[64];
    int16_t pred[64];
    int16_t acPredResidual[8];
    MacroBlock* mb;
    Block* left;
    Block* right;
    Block* above;
    Block* below;
    int16_t dcPred;
    int16_t dcLevel;
    int16_t dcDiff;
    uint8_t kind;
    uint8_t predDir;
    uint32_t sad;
    uint8_t embedded;
    uint8_t codedBlock;
    uint8_t deblockH;
    uint8_t deblockV;
    uint8_t deringFlag;
} Block;

struct __attribute__((aligned(16))) MacroBlock {
    Block blocks[6]; /* Y0, Y1, Y2, Y3, U, V */
    Vop* vop;
    MacroBlock* left;
    MacroBlock* right;
    MacroBlock* above;
    MacroBlock* below;
    Block* block[6];
    uint32_t mbX;
    uint32_t mbY;
    uint8_t codedMb;
    uint8_t acPred;
    int8_t dquant;
    Motion mv;
    uint8_t mbQuant;
    uint8_t mbType;
    uint8_t embedded;
};

struct Vop {
    KorvParams* params;
    Plane* planeY;
    Plane* planeU;
    Plane* planeV;
    Plane* srcY;
    Plane* srcU;
    Plane* srcV;
    Plane* subY;
    Plane* subSrcY;
    MacroBlock** mbs;
    uint32_t width;
    uint32_t height;
    uint32_t mbWidth;
    uint32_t mbHeight;
    uint32_t planeWidth;
    uint32_t planeHeight;
    uint32_t mbCount;
    uint8_t quant;
    uint8_t codingType;
    uint8_t rounding;
    void* mbStorage;
    uint8_t ownsMbStorage;
    uint8_t ownsPlanes;
    uint8_t ownsSrcPlanes;
    uint8_t coded;
    int16_t mbsRead;
};

/* ---------------------------------------------------------------------------------------------
 * Replaceable kernels
 * ------------------------------------------------------------------------------------------- */

typedef struct KorvHooks {
    void (*forwardDCT)(const int16_t* in, int16_t* out);           /* 0: FloatDCT */
    void (*inverseDCT)(int16_t* block);                            /* 1: IDCT_Fast */
    void (*dctQuantize)(const int16_t* in, Block* blk);            /* 2: GapsDCTQuantizerDispatch */
    void (*quantize)(const int16_t* in, Block* out);               /* 3: Quantizer */
    void (*dequantize)(const Block* in, int16_t* out);             /* 4: DeQuantizer */
    void (*blockClamp)(int16_t* block, int16_t low, int16_t high); /* 5: BlockClamp */
    void (*blockAdd)(const int16_t* a, const int16_t* b, int16_t* out); /* 6: BlockAdd */
    void (*blockSub)(const int16_t* a, const int16_t* b, int16_t* out); /* 7: BlockSub */
    void (*deblock)(Vop* vop);                                     /* 8: Deblock_Vop */
    void (*dering)(Vop* vop);                                      /* 9: Vop_Dering */
    void (*intraBlit)(KorvParams* params);                         /* 10: IntraBlit */
} KorvHooks;

extern KorvHooks gHooks;
/* When 0, InitHooks installs only the plain kernels (for comparing fast kernels with them). */
extern uint8_t gUseSpecificHooks;

void InitHooks(KorvHooks* table);
void InitSpecificHooks(KorvHooks* table);

/* ---------------------------------------------------------------------------------------------
 * Context, frame objects, library start and stop
 * ------------------------------------------------------------------------------------------- */

KorvParams* NewKorvParamsPtr(uint8_t mode, uint32_t width, uint32_t height);
void DisposeKorvParamsPtr(KorvParams* params);

Vop* Vop_New(uint32_t width, uint32_t height, bool planes, bool sourcePlanes);
void Vop_Dispose(Vop* vop);
MacroBlock* MacroBlock_New(void* memory, Vop* vop, uint32_t column, uint32_t row, uint8_t type,
                           uint8_t quant);
void MacroBlock_Dispose(MacroBlock* mb);
Block* Block_New(void* memory, MacroBlock* mb, uint8_t kind);
void Block_Dispose(Block* block);
Plane* NewPlanePtr(uint32_t width, uint32_t height, uint32_t alignment);
void DisposePlanePtr(Plane* plane);
void SwapPlanes(Vop* vop);

void Vop_SetNeighbours(Vop* vop);
void MacroBlock_SetNeighbours(MacroBlock* mb, MacroBlock* above, MacroBlock* below, MacroBlock* left,
                              MacroBlock* right);
MacroBlock* Vop_GetMacroBlock(Vop* vop, uint32_t column, uint32_t row);
MacroBlock* Vop_FindMacroBlock(Vop* vop, int32_t x, int32_t y);
void Vop_Reset(Vop* vop);
void MacroBlock_Reset(MacroBlock* mb);

void Plane_PadHorizontal(Plane* plane, uint32_t border, uint32_t lastColumn);
void Plane_PadVertical(Plane* plane, uint32_t border, uint32_t lastRow);
void Vop_Pad(Vop* vop);
void Plane_Pad(Plane* plane, uint32_t lastColumn, uint32_t lastRow);
void Plane_PadLeft(Plane* plane, uint32_t firstColumn);
void Plane_PadRight(Plane* plane, uint32_t lastColumn);
void Plane_PadUp(Plane* plane, uint32_t firstRow);
void Plane_PadDown(Plane* plane, uint32_t lastRow);
void Plane_Subsample(const Plane* source, Plane* destination);
void Vop_SubsamplePlanes(Vop* vop);
void Plane_InverseY(Plane* plane);

int16_t InitKorvax(void);
void TerminateKorvax(void);
extern int32_t gKorvaxInitCount;

int16_t Clamp_Init(void);
void Clamp_Terminate(void);
/* Both point at the middle entry of 4096; index -2048..2047. */
extern const int16_t* IClampTable; /* 0..255 */
extern const int16_t* PClampTable; /* -255..255 */

int32_t Min3(int32_t a, int32_t b, int32_t c);
int32_t Min8(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g, int32_t h);
int32_t Max8(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g, int32_t h);
int32_t Clamp(int32_t x, int32_t low, int32_t high);
int32_t Clip(int32_t x, int32_t a, int32_t b);
int32_t Sign(int32_t x);
int32_t Condition(int32_t x);
void Sort16(const int16_t* source, int16_t* destination, uint32_t n);
bool DeblockEnabled(void);
bool DeringEnabled(void);
void Params_SetCompressionOptions(KorvParams* params);
void Params_CopyState(const KorvParams* source, KorvParams* destination);
__attribute__((noreturn)) void Panic(int32_t code);

/* Entry points. */
int16_t CompressPixMap(KorvParams* params);
int16_t DecompressPixMap(KorvParams* params);

/* ---------------------------------------------------------------------------------------------
 * Bit stream and VOP header
 * ------------------------------------------------------------------------------------------- */

extern uint32_t gBitBuffer;

/* Cursors: a reader over the chunk [data, data + size) starting at bit 0 of data (base is data
 * rounded down to a multiple of 4), and a writer over a buffer of capacity bytes. */
void BitStream_InitReader(BitStream* stream, const uint8_t* data, uint32_t size);
void BitStream_InitWriter(BitStream* stream, uint8_t* buffer, uint32_t capacity);

void BitStream_WriteVLC(BitStream* stream, uint32_t code, uint32_t length);
void BitStream_Flush(BitStream* stream);
uint32_t BitStream_PeekBits(const BitStream* stream, uint32_t n);
/* Peek n bits at an arbitrary bit position of the cursor's data, without moving it. */
uint32_t BitStream_PeekBitsAt(const BitStream* stream, uint32_t bitPos, uint32_t n);
uint32_t BitStream_GetBits(BitStream* stream, uint32_t n);
void BitStream_SeekBits(BitStream* stream, uint32_t n);
void BitStream_WriteBlock16(BitStream* stream, const uint32_t* words);
void BitStream_ReadBlock16(BitStream* stream, uint32_t* words);

void Vop_WriteSTARTCODE(Vop* vop, BitStream* stream);
void Vop_WriteCODINGTYPE(Vop* vop, BitStream* stream);
void Vop_WriteTIMEBASE(Vop* vop, BitStream* stream);
void Vop_WriteTIMEINCREMENT(Vop* vop, BitStream* stream);
void Vop_WriteCODED(Vop* vop, BitStream* stream);
void Vop_WriteROUNDING(Vop* vop, BitStream* stream);
void Vop_WriteDCVLCTHR(Vop* vop, BitStream* stream);
void Vop_WriteQP(Vop* vop, BitStream* stream);
void Vop_WriteFCODE(Vop* vop, BitStream* stream);
void UserData_WriteSTARTCODE(BitStream* stream);
void UserData_WriteKRV1(BitStream* stream, uint8_t deblock, uint8_t dering);

void Vop_ReadCODINGTYPE(Vop* vop, BitStream* stream);
void Vop_ReadTIMEBASE(Vop* vop, BitStream* stream);
void Vop_ReadTIMEINCREMENT(Vop* vop, BitStream* stream);
void Vop_ReadCODED(Vop* vop, BitStream* stream);
void Vop_ReadROUNDING(Vop* vop, BitStream* stream);
void Vop_ReadDCVLCTHR(Vop* vop, BitStream* stream);
void Vop_ReadQP(Vop* vop, BitStream* stream);
uint8_t Vop_ReadFCODE(Vop* vop, BitStream* stream);
void UserData_ReadKRV1(BitStream* stream, KorvParams* params);

int16_t VopToStream(KorvParams* params);
void Vop_WriteVOP(Vop* vop, BitStream* stream);
int16_t ReadVopHeader(KorvParams* params);
int16_t Vop_ReadSTARTCODE(Vop* vop, BitStream* stream);
int16_t StreamToVop(KorvParams* params);
int16_t Vop_ReadVOP(Vop* vop, BitStream* stream);

/* ---------------------------------------------------------------------------------------------
 * Macroblock layer
 * ------------------------------------------------------------------------------------------- */

void MacroBlock_WriteMB(MacroBlock* mb, BitStream* bs);
void MacroBlock_WriteCOD(MacroBlock* mb, BitStream* bs);
void MacroBlock_WriteMCBPC(MacroBlock* mb, BitStream* bs);
void MacroBlock_WriteACPRED(MacroBlock* mb, BitStream* bs);
void MacroBlock_WriteCBPY(MacroBlock* mb, BitStream* bs);
void MacroBlock_WriteDQUANT(MacroBlock* mb, BitStream* bs);
void MacroBlock_WriteMVD(MacroBlock* mb, BitStream* bs);

void MacroBlock_ReadCOD(MacroBlock* mb, BitStream* bs);
/* Returns 0, or 3 for a type this decoder does not reconstruct (four vectors, stuffing). */
int16_t MacroBlock_ReadMCBPC(MacroBlock* mb, BitStream* bs);
void MacroBlock_ReadACPRED(MacroBlock* mb, BitStream* bs);
void MacroBlock_ReadCBPY(MacroBlock* mb, BitStream* bs);
void MacroBlock_ReadCBPY2(MacroBlock* mb, BitStream* bs);
void MacroBlock_ReadDQUANT(MacroBlock* mb, BitStream* bs);
/* Returns 0, or 3 for an invalid motion code. */
int16_t MacroBlock_ReadMVD(MacroBlock* mb, BitStream* bs);
/* Returns 0, or 3 when the macroblock cannot be decoded. */
int16_t MacroBlock_ReadMB(MacroBlock* mb, BitStream* bs);
void MacroBlock_ReadNULL(MacroBlock* mb);
void MacroBlock_PredictMV(MacroBlock* mb, Motion* out);

void BitStream_WriteMV(BitStream* bs, int16_t d);
int16_t BitStream_ReadMV(BitStream* bs);
void BitStream_WriteIntraDC(BitStream* bs, int16_t diff, uint8_t kind);
int16_t BitStream_ReadIntraDC(BitStream* bs, uint8_t kind);

void Block_WriteBLOCK(Block* block, BitStream* bs);
int16_t Block_ReadBLOCK(Block* block, BitStream* bs);
void Block_WriteINTRADC(Block* block, BitStream* bs);
int16_t Block_ReadINTRADC(Block* block, BitStream* bs);
void Block_WriteTCOEFF(Block* block, BitStream* bs);
int16_t Block_ReadTCOEFF(Block* block, BitStream* bs);
void Block_ReadNULL(Block* block);

/* ---------------------------------------------------------------------------------------------
 * Coefficient coding and scans
 * ------------------------------------------------------------------------------------------- */

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
extern int32_t (*gVLCInverseIntra)[4];       /* 8192 entries, next 13 bits */
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

/* ---------------------------------------------------------------------------------------------
 * Quantisation
 * ------------------------------------------------------------------------------------------- */

extern const int32_t kCoefficientIntra[64];
extern const int32_t kCoefficientInter[64];
extern const uint8_t* DCScalerTable;          /* [quant * 8 + block] */
extern const uint16_t (*QuantTableIntra)[64]; /* [quant][i] = 2 * quant * kCoefficientIntra[i] */
extern const uint16_t (*QuantTableInter)[64]; /* [quant][i] = quant * kCoefficientInter[i] */
extern const uint16_t kScaledQuantizerDCScaler_Y[32];
extern const uint16_t kScaledQuantizerDCScaler_UV[32];
extern const int16_t kScaledQuantizerCoefficient_Intra[64];
extern const int16_t kScaledQuantizerCoefficient_Inter[64];

/* The decoder's dequantisation of one block (encoder reconstruction runs the same). */
void DequantizeIntra(const int16_t* coef, int16_t* recon, uint8_t quant, uint32_t blockIndex);
void DequantizeInter(const int16_t* coef, int16_t* recon, uint8_t quant);

void GapsDCTQuantizerDispatch(const int16_t* in, Block* blk);
void GapsDCTQuantize_Inter(const int16_t* in, uint16_t quant, int16_t* out);
void GapsDCTQuantize_IntraY(const int16_t* in, uint16_t quant, int16_t* out);
void GapsDCTQuantize_IntraUV(const int16_t* in, uint16_t quant, int16_t* out);
void Quantizer(const int16_t* in, Block* out);
void DeQuantizer(const Block* in, int16_t* out);
uint8_t Quantizer_DCScalerY(uint8_t quant);
uint8_t Quantizer_DCScalerUV(uint8_t quant);
void Quantizer_H263(const int16_t* in, int16_t* out, uint8_t quant, uint8_t intra, uint8_t luminance);
void DeQuantizer_H263(const int16_t* in, int16_t* out, uint8_t quant, uint8_t intra, uint8_t luminance);

/* ---------------------------------------------------------------------------------------------
 * Transforms and block arithmetic
 * ------------------------------------------------------------------------------------------- */

void IDCT_Fast(int16_t* block);
void FloatDCT(const int16_t* in, int16_t* out);
/* The lifting forward transform: 32 * g_u * g_v times the orthonormal coefficients. */
void LiftingDCT(const int16_t* in, int32_t* out);

void BlockClamp(int16_t* block, int16_t low, int16_t high);
void BlockSub(const int16_t* a, const int16_t* b, int16_t* out);
void BlockAdd(const int16_t* a, const int16_t* b, int16_t* out);
void BlockCopy(const int16_t* src, int16_t* dst);
bool BlockAll0(const int16_t* block);
void BlockClampIntra(int16_t* block);
void BlockClampInter(int16_t* block);
int32_t BlockSum(const int16_t* block);
void BlockInvert(int16_t* block);
void BlockDivX(int16_t* block, int16_t d);
void BlockAddX(int16_t* block, int16_t x);
void BlockFillX(int16_t* block, int16_t x);

/* ---------------------------------------------------------------------------------------------
 * Intra DC and AC prediction
 * ------------------------------------------------------------------------------------------- */

void Block_PredictIntraDC(Block* block);
void Block_ApplyACPred(Block* block);
void Block_GenerateACPred(Block* block);
int32_t Block_CalcACPredSigma(Block* block);
void MacroBlock_DecideACPred(MacroBlock* mb);
void MacroBlock_DCACPredict(MacroBlock* mb);

/* ---------------------------------------------------------------------------------------------
 * Frame decoding and motion compensation
 * ------------------------------------------------------------------------------------------- */

void Vop_Decompress(Vop* vop);
void Vop_ApplyMotion(Vop* vop);
void MacroBlock_ApplyMotion(MacroBlock* mb);
void GetPlaneBlock16Half(const Plane* plane, int16_t x, int16_t y, int16_t* destination,
                         uint8_t rounding);
void IntraBlit(KorvParams* params);
void IntraBlit2(KorvParams* params);
void MacroBlock_DecompressIVOP(MacroBlock* mb);
void MacroBlock_DecompressPVOP(MacroBlock* mb);
void Block_Decompress(Block* block);

void BlitSetBlock3(uint8_t* dst, uint32_t stride, const int16_t* values);
void BlitSetBlock(uint8_t* dst, uint32_t stride, uint32_t column, uint32_t row, const int16_t* values);
void BlitSetBlock2(uint8_t* dst, uint32_t stride, const int16_t* values);
void BlitSetBlock4(uint8_t* dst, uint32_t stride, const int16_t* values);
void BlitSetBlockAdd2(uint8_t* dst, uint32_t stride, const int16_t* a, const int16_t* b);
void BlitSetBlockAdd(uint8_t* dst, uint32_t stride, uint32_t column, uint32_t row, const int16_t* a,
                     const int16_t* b);
void BlitSetBlockAdd3(uint8_t* dst, uint32_t stride, const int16_t* a, const int16_t* b);
void BlitAddBlock3(uint8_t* dst, uint32_t stride, const int16_t* residual);
void BlitAddBlock(uint8_t* dst, uint32_t stride, uint32_t column, uint32_t row, const int16_t* residual);
void BlitAddBlock2(uint8_t* dst, uint32_t stride, const int16_t* residual);
void BlitAddBlock4(uint8_t* dst, uint32_t stride, const int16_t* residual);
void SetPlaneBlock16(Plane* plane, uint32_t column, uint32_t row, const int16_t* values);
void SetPlaneBlock16Add(Plane* plane, uint32_t column, uint32_t row, const int16_t* a, const int16_t* b);
void AddPlaneBlock16(Plane* plane, uint32_t column, uint32_t row, const int16_t* residual);
void SetPlaneBlock(Plane* plane, uint32_t column, uint32_t row, const uint8_t* values);
void GetPlaneBlock(const Plane* plane, uint32_t column, uint32_t row, uint8_t* destination);

/* ---------------------------------------------------------------------------------------------
 * Pixel conversion
 * ------------------------------------------------------------------------------------------- */

extern const int32_t RGB2YUVMATRIX[3][3];
extern const int32_t YUVOFFSET[3];
extern const int32_t YUV2RGBMATRIX[5]; /* Y' factor, R from Cr, G from Cb, G from Cr, B from Cb */

int16_t PixMapToPlanes(KorvParams* params);
int16_t VopToPlanes(KorvParams* params);
int16_t PlanesToPixMap(KorvParams* params);

void ARGBPackedToYUV420Subsampled(const PixMap* pixMap, Plane* y, Plane* u, Plane* v);
void RGBPackedToYUV420(const PixMap* pixMap, Plane* y, Plane* u, Plane* v);
void BGRAPackedToYUV420(const PixMap* pixMap, Plane* y, Plane* u, Plane* v);
void YUVSPackedToYUV420(const PixMap* pixMap, Plane* y, Plane* u, Plane* v);

void Vop_IntraRowYUV420ToARGB8Packed(Vop* vop, PixMap* pixMap);
void Vop_InterRow2YUV420ToARGB8Packed(Vop* vop, PixMap* pixMap);
void Vop_IntraRowYUV420ToBGRA8Packed(Vop* vop, PixMap* pixMap);
void Vop_InterRowYUV420ToBGRA8Packed(Vop* vop, PixMap* pixMap);
void Vop_IntraRowYUV420ToRGBA8Packed(Vop* vop, PixMap* pixMap);
void Vop_InterRowYUV420ToRGBA8Packed(Vop* vop, PixMap* pixMap);
void Vop_IntraRowYUV420ToRGB8Packed(Vop* vop, PixMap* pixMap);
void Vop_InterRow2YUV420ToRGB8Packed(Vop* vop, PixMap* pixMap);
void Vop_IntraRowYUV420ToYUV420Planar(Vop* vop, PixMap* pixMap);
void Vop_InterRow2YUV420ToYUV420Planar(Vop* vop, PixMap* pixMap);
void Vop_IntraRow2YUV420ToYUVSPacked(Vop* vop, PixMap* pixMap);
void Vop_InterRow2YUV420ToYUVSPacked(Vop* vop, PixMap* pixMap);
void Vop_IntraRow2YUV420ToVUYSPacked(Vop* vop, PixMap* pixMap);
void Vop_InterRow2YUV420ToVUYSPacked(Vop* vop, PixMap* pixMap);

/* ---------------------------------------------------------------------------------------------
 * In-loop filters
 * ------------------------------------------------------------------------------------------- */

int16_t PostFilter(KorvParams* params);
void Deblock_Vop(Vop* vop);
void Deblock_VopIntra2(Vop* vop);
void Vop_Dering(Vop* vop);
void MacroBlock_Dering(MacroBlock* mb);
void DeblockRow(uint8_t* p0, int32_t quant);
void DeblockColumn(uint8_t* p0, int32_t quant, uint32_t stride);
void Block_Dering(int32_t threshold, int32_t maxDiff, uint32_t x, uint32_t y, Plane* plane);
void Block_DeringAll(int32_t maxDiff, uint32_t x, uint32_t y, Plane* plane);
void Block_CalcFilterFlags4(Block* block, const int16_t* levels);
void Block_CalcDeblockFlags(Block* block, const int16_t* levels);
void Block_CalcDeringFlag(Block* block, const int16_t* levels);

/* ---------------------------------------------------------------------------------------------
 * Encoder: frame coding, decisions, motion estimation, quality mapping
 * ------------------------------------------------------------------------------------------- */

int16_t PreFilter(KorvParams* params);
int16_t PlanesToVop(KorvParams* params);
int16_t Vop_Compress(KorvParams* params);
int16_t Vop_CompressOptimal(KorvParams* params);
int32_t SadMacroBlock(MacroBlock* mb);
void MacroBlock_Compress(MacroBlock* mb, uint8_t optimalMb);
void MacroBlock_FindMotion(MacroBlock* mb, uint8_t optimalMb);
void MacroBlock_DecideIntra(MacroBlock* mb, int32_t sad);
void MacroBlock_DecideIntraOptimal(MacroBlock* mb, int32_t sad);
void MacroBlock_PostCompress(MacroBlock* mb);
void Block_DecideCoded(Block* block);
void MacroBlock_CalculateDQuant(MacroBlock* mb);

int32_t FindBlockMotion_R37(MacroBlock* mb);
int32_t PlaneMotionSearch_8x8(Motion* out, const Plane* reference, const Plane* current, int32_t x,
                              int32_t y, int32_t startX, int32_t startY, int32_t range,
                              bool measureStart, int32_t initialBest);
int32_t PlaneMotionSearch_16x16(Motion* out, const Plane* reference, const Plane* current, int32_t x,
                                int32_t y, int32_t startX, int32_t startY, int32_t range,
                                bool measureStart, int32_t initialBest);
int32_t FindBlockMotion1616Half(MacroBlock* mb, int32_t sad);

int32_t QTToKorveXSpatialQuality(int32_t q);
int32_t KorveXToQTSpatialQuality(uint32_t k);
int32_t KorveXToQTTemporalQuality(void);
int32_t QTToKorveXTemporalQuality(void);
/* The VOP quantiser of a frame's start: 32 - QTToKorveXSpatialQuality(spatialQuality), with
 * spatialQuality first clamped into 0..1024 (4..26). CompressPixMap sets vop.quant from this. */
uint8_t Params_VopQuant(uint32_t spatialQuality);

#ifdef __cplusplus
}
#endif

#endif /* KORVO_KORVO_H */
