// The frame objects of the core (planes, macroblocks, blocks) and what builds, links, pads and resets
// them; the library's shared clamp tables and small helpers. Private to the codec and its tests.
#ifndef KORVO_FRAME_INTERNAL_H
#define KORVO_FRAME_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "korvo.h"

extern "C" {

// Macroblock types, block kinds and the direction of intra prediction.
enum { kMbTypeIntra = 1, kMbTypeInter = 2, kMbTypeInter4V = 3 };
enum { kBlockKindLuma = 1, kBlockKindChroma = 2 };
enum { kPredFromAbove = 1, kPredFromLeft = 2 };

/* Picture limits: mbsRead is 16-bit, and interpolator positions are 16-bit half-pels. */
#define kMaxMacroBlocks 32767u
#define kMaxMacroBlocksAcross 1022u

typedef struct Motion {
	int16_t x;
	int16_t y;
} Motion;

// An 8-bit sample plane with its border.
typedef struct Plane {
	uint32_t width;  /* bytes per row, border included (also the stride) */
	uint32_t height; /* rows, border included */
	uint8_t* data;   /* first byte of the plane, border included */
	uint8_t* raw;    /* the allocation */
} Plane;

// One 8x8 block: levels, reconstruction and prediction, its neighbours and its filter flags.
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

// One macroblock: four luminance and two chrominance blocks, its neighbours and its coding choices.
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

// The processor-specific kernels InitHooks installs when gUseSpecificHooks is set.
void InitSpecificHooks(KorvHooks* table);

// Frame objects: construction, disposal, neighbour links, lookups and the per-frame reset.
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

// Plane borders and derived planes.
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

// The library reference count (changed only under the library's lock) and the shared clamp tables.
extern std::atomic<int32_t> gKorvaxInitCount;

int16_t Clamp_Init(void);
void Clamp_Terminate(void);
/* Both point at the middle entry of 4096; index -2048..2047. */
extern const int16_t* IClampTable; /* 0..255 */
extern const int16_t* PClampTable; /* -255..255 */

// Small arithmetic helpers, context option helpers and the crash exit.
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

// True when a width x height picture stays inside the macroblock limits of the format.
bool Vop_GeometryFits(uint32_t width, uint32_t height);
// Bytes of the context's own stream buffer for a picture of that size (geometry already checked).
size_t Params_StreamBufferSize(uint32_t width, uint32_t height);

}  // extern "C"

// Fills gHooks, gKernels and the deblocking edge filters once per process and again only when
// gUseSpecificHooks has changed since; a refill waits until no frame is being coded anywhere.
void Hooks_Install();

// Held for the whole of every frame: the kernels cannot change while one lives.
class FrameKernels {
public:
	FrameKernels();
	~FrameKernels();
	FrameKernels(const FrameKernels&) = delete;
	FrameKernels& operator=(const FrameKernels&) = delete;
};

#endif  // KORVO_FRAME_INTERNAL_H
