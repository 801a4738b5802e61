// Korvo video codec core: the public records, constants and entry points of the library.
// All a user of the library needs (the video add-ons include nothing else); it compiles on its own.
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

/* KorvParams.damage: what a decoded frame's data lacked. */
enum {
	kKorvoDamageTruncated = 1,   /* the data ended before the last macroblock */
	kKorvoDamageInvalidCode = 2, /* a code that cannot be decoded (or no VOP start code) */
	kKorvoDamageOverread = 4     /* bits were read past the end of the chunk */
};

/* Vop.codingType and KorvParams.prevCodingType: an intra (key) frame or a predicted one. */
enum { kCodingTypeI = 1, kCodingTypeP = 2 };

/* KorvParams.tuning: the classic decisions (the default), or rate-distortion decisions that spend
 * fewer bits at the same quality. Both write streams any decoder of the format reads. */
enum { kTuningClassic = 0, kTuningBetter = 1 };

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

/* ---------------------------------------------------------------------------------------------
 * Records
 * ------------------------------------------------------------------------------------------- */

typedef struct KorvParams KorvParams;
typedef struct Vop Vop;
/* Frame objects private to the core; the records below only point at them. */
typedef struct MacroBlock MacroBlock;
typedef struct Block Block;
typedef struct Plane Plane;
typedef struct KorvWorkers KorvWorkers;

/* A bit cursor, most significant bit first over big-endian 32-bit words counted from base.
 * The data window [dataBegin, dataEnd) bounds every access: a reader sees bytes outside it as 0, a
 * writer stores no byte outside it and sets overrun instead (sticky, checked once per frame). */
typedef struct BitStream {
	uint8_t* base;
	uint32_t bitPos;
	uint8_t* dataBegin;
	uint8_t* dataEnd;
	uint8_t overrun;
	uint8_t invalid; /* reader: a code found in no table was met (sticky, checked once per frame) */
} BitStream;

/* Rate-control state, owned by the core: the decoder-buffer model and the rate model's
 * complexities (bits x quantiser of the last P- and I-VOPs), reset by a context's first frame. */
typedef struct KorvRateControl {
	double buffer;        /* bits sent beyond the target so far */
	double complexity[2]; /* [0] P-VOPs, [1] I-VOPs: bits x quantiser; 0 = not yet measured */
	uint8_t switched;     /* the last frame was planned as a P-VOP and coded as an I-VOP */
	double carry;         /* the rounding error of the quantisers chosen so far, spread over the next */
	uint8_t quant;        /* the last frame's quantiser */
} KorvRateControl;

/* A caller's picture: width x height pixels, rows rowBytes apart from baseAddr. */
typedef struct PixMap {
	uint32_t width;
	uint32_t reserved1;
	uint32_t height;
	uint32_t reserved2;
	uint16_t rowBytes; /* only the low 14 bits are used */
	uint8_t* baseAddr;
} PixMap;

/* A codec context, made by NewKorvParamsPtr. The caller sets stream/streamSize (the compressed
 * frame to decode, or a buffer to encode into), pixMap and pixelFormat, and the encoder options;
 * the entry points set streamBytes (bytes written), the frame counters and prevCodingType. */
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
	/* Threads a frame may use, the caller's included; 0 or 1 codes on the caller's thread alone (the
	 * default). Chunks and pictures are the same for every count. */
	uint32_t threadCount;
	KorvWorkers* workers; /* the core's, made for threadCount */
	/* Options beyond the quality; all 0 keep the encoder's classic behaviour. */
	uint32_t dataRate;      /* target data rate in kbit/s; 0 = none, the quality alone sets the quantiser */
	uint8_t drtSensitivity; /* 0..255: how closely the data rate is tracked, loose..tight */
	uint32_t keyInterval;   /* most frames from one I-VOP to the next, 1..152; 0 (or more) = 152 */
	float frameRate;        /* frames per second, for the data rate; 0 = 25 */
	KorvRateControl rate;   /* the core's rate-control state */
	/* What DecompressPixMap found wrong with the frame it decoded last (kKorvoDamage* flags, 0 for a
	 * sound one). Such a frame still decodes with status kKorvoOK; the macroblocks it could not read
	 * keep the previous picture. */
	uint8_t damage;
	uint8_t tuning;         /* kTuningClassic or kTuningBetter; others are taken as classic */
};

/* The frame being coded or decoded. A caller reads only quant and codingType (the encoder add-on
 * reports the quantiser of each frame); everything else belongs to the core. */
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

/* The kernels the core calls through gHooks, filled by InitKorvax (comments: slot and plain kernel). */
typedef struct KorvHooks {
	void (*forwardDCT)(const int16_t* in, int16_t* out);                /* 0: FloatDCT */
	void (*inverseDCT)(int16_t* block);                                 /* 1: IDCT_Fast */
	void (*dctQuantize)(const int16_t* in, Block* blk);                 /* 2: GapsDCTQuantizerDispatch */
	void (*quantize)(const int16_t* in, Block* out);                    /* 3: Quantizer */
	void (*dequantize)(const Block* in, int16_t* out);                  /* 4: DeQuantizer */
	void (*blockClamp)(int16_t* block, int16_t low, int16_t high);      /* 5: BlockClamp */
	void (*blockAdd)(const int16_t* a, const int16_t* b, int16_t* out); /* 6: BlockAdd */
	void (*blockSub)(const int16_t* a, const int16_t* b, int16_t* out); /* 7: BlockSub */
	void (*deblock)(Vop* vop);                                          /* 8: Deblock_Vop */
	void (*dering)(Vop* vop);                                           /* 9: Vop_Dering */
	void (*intraBlit)(KorvParams* params);                              /* 10: IntraBlit */
} KorvHooks;

extern KorvHooks gHooks;
/* When 0, InitHooks installs only the plain kernels (for comparing fast kernels with them). gHooks
 * is filled once per process, and again by the first InitKorvax or NewKorvParamsPtr after this
 * switch changed, between frames; change it only while no other thread makes a context. */
extern uint8_t gUseSpecificHooks;

void InitHooks(KorvHooks* table);

/* ---------------------------------------------------------------------------------------------
 * Library, contexts and entry points
 * ------------------------------------------------------------------------------------------- */

/* Reference-counted library start and stop, from any thread: the first InitKorvax builds the shared
 * tables and installs the kernels (a start on another thread meanwhile returns once they exist), the
 * matching last TerminateKorvax frees them. kKorvoOK or a failure. */
int16_t InitKorvax(void);
void TerminateKorvax(void);

/* A context for a width x height picture: mode 2 decodes (reconstructed planes only), mode 3 has no
 * planes, any other mode encodes (source planes too). Null when the picture is too large or memory
 * runs out. Installs the kernels in gHooks (see gUseSpecificHooks). A context is used by one thread
 * at a time; contexts on different threads code and decode side by side. */
KorvParams* NewKorvParamsPtr(uint8_t mode, uint32_t width, uint32_t height);
void DisposeKorvParamsPtr(KorvParams* params);

/* Encode the picture in params->pixMap into params->stream (params->streamBytes bytes). */
int16_t CompressPixMap(KorvParams* params);
/* Decode the frame in params->stream into params->pixMap; a chunk without a VOP start code leaves
 * the picture as it was and returns kKorvoOK. */
int16_t DecompressPixMap(KorvParams* params);

/* Quality conversions: the host's spatial quality (0..1024) to the codec's quality index and
 * back; the temporal quality is fixed. */
int32_t QTToKorveXSpatialQuality(int32_t q);
int32_t KorveXToQTSpatialQuality(uint32_t k);
int32_t KorveXToQTTemporalQuality(void);
int32_t QTToKorveXTemporalQuality(void);

#ifdef __cplusplus
}
#endif

#endif /* KORVO_KORVO_H */
