// Tests of the codec context and frame objects: geometry, alignment, ownership by mode, size
// limits, neighbour links, lookups at the picture edge, reset, padding and subsampling.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <memory>

#include "bitstream_internal.h"
#include "frame_internal.h"
#include "korvo.h"
namespace {

bool Aligned16(const void* p) { return (reinterpret_cast<uintptr_t>(p) & 15) == 0; }

struct ParamsDeleter {
	void operator()(KorvParams* p) const { DisposeKorvParamsPtr(p); }
};
using ParamsPtr = std::unique_ptr<KorvParams, ParamsDeleter>;

TEST(Context, Geometry176x144)
{
	ParamsPtr params(NewKorvParamsPtr(1, 176, 144));
	ASSERT_TRUE(params);
	const Vop* vop = params->vop;
	EXPECT_EQ(vop->mbWidth, 11u);
	EXPECT_EQ(vop->mbHeight, 9u);
	EXPECT_EQ(vop->mbCount, 99u);
	EXPECT_EQ(vop->mbsRead, 99);
	EXPECT_EQ(vop->planeWidth, 208u);
	EXPECT_EQ(vop->planeHeight, 176u);
	EXPECT_EQ(vop->planeY->width, 208u);
	EXPECT_EQ(vop->planeY->height, 176u);
	for (const Plane* p : {vop->planeU, vop->planeV, vop->srcU, vop->srcV, vop->subY, vop->subSrcY}) {
		EXPECT_EQ(p->width, 104u);
		EXPECT_EQ(p->height, 88u);
	}
	EXPECT_EQ(vop->srcY->width, 208u);
	// The first interior sample of every plane lies on a 16-byte boundary.
	for (const Plane* p : {vop->planeY, vop->srcY})
		EXPECT_TRUE(Aligned16(p->data + 16 * p->width + 16));
	for (const Plane* p : {vop->planeU, vop->planeV, vop->srcU, vop->srcV}) {
		EXPECT_TRUE(Aligned16(p->data + 8 * p->width + 8));
	}
	EXPECT_TRUE(Aligned16(vop->subY->data));

	// Creation values of the context and its Vop.
	EXPECT_EQ(params->stream, params->streamBuffer);
	EXPECT_EQ(params->streamSize, 176u * 144u * 4u);
	EXPECT_EQ(params->pixMap->width, 176u);
	EXPECT_EQ(params->pixMap->height, 144u);
	EXPECT_EQ(params->pixelFormat, kPixelFormatNone);
	EXPECT_EQ(params->prevCodingType, 1);
	EXPECT_EQ(params->prevRounding, 1);
	EXPECT_EQ(vop->params, params.get());
	EXPECT_EQ(vop->quant, 1);
	EXPECT_EQ(vop->codingType, kCodingTypeI);
	EXPECT_EQ(vop->rounding, 1);
	EXPECT_EQ(vop->coded, 1);

	// Macroblocks: raster order, aligned slots of one allocation, six embedded blocks each.
	for (uint32_t i = 0; i < vop->mbCount; i++) {
		const MacroBlock* mb = vop->mbs[i];
		ASSERT_TRUE(Aligned16(mb));
		EXPECT_EQ(mb->mbX, i % 11);
		EXPECT_EQ(mb->mbY, i / 11);
		EXPECT_EQ(mb->embedded, 1);
		EXPECT_EQ(mb->mbType, kMbTypeIntra);
		EXPECT_EQ(mb->mbQuant, 1);
		EXPECT_EQ(mb->vop, vop);
		for (int b = 0; b < 6; b++) {
			EXPECT_EQ(mb->block[b], &mb->blocks[b]);
			EXPECT_EQ(mb->block[b]->mb, mb);
			EXPECT_EQ(mb->block[b]->embedded, 1);
			EXPECT_EQ(mb->block[b]->kind, b < 4 ? kBlockKindLuma : kBlockKindChroma);
		}
		if (i > 0) {
			EXPECT_EQ(reinterpret_cast<const uint8_t*>(mb) -
			                  reinterpret_cast<const uint8_t*>(vop->mbs[i - 1]),
			          ptrdiff_t((sizeof(MacroBlock) + 15) & ~size_t{15}));
		}
	}
}

TEST(Context, ModesChooseThePlanes)
{
	ParamsPtr decoder(NewKorvParamsPtr(2, 32, 32));
	ASSERT_TRUE(decoder);
	EXPECT_TRUE(decoder->vop->planeY && decoder->vop->planeU && decoder->vop->planeV);
	EXPECT_FALSE(decoder->vop->srcY || decoder->vop->srcU || decoder->vop->srcV);
	EXPECT_FALSE(decoder->vop->subY || decoder->vop->subSrcY);

	ParamsPtr bare(NewKorvParamsPtr(3, 32, 32));
	ASSERT_TRUE(bare);
	EXPECT_FALSE(bare->vop->planeY || bare->vop->srcY);
	EXPECT_EQ(bare->vop->mbCount, 4u);

	ParamsPtr other(NewKorvParamsPtr(7, 32, 32));  // any other mode is mode 1
	ASSERT_TRUE(other);
	EXPECT_TRUE(other->vop->planeY && other->vop->srcY && other->vop->subSrcY);
}

TEST(Context, SizeLimits)
{
	// 1022 macroblocks across is the widest picture; 32767 macroblocks the largest.
	ParamsPtr widest(NewKorvParamsPtr(3, 1022 * 16, 32));
	EXPECT_TRUE(widest);
	EXPECT_EQ(NewKorvParamsPtr(3, 1022 * 16 + 1, 16), nullptr);
	EXPECT_EQ(NewKorvParamsPtr(3, 16, 1022 * 16 + 1), nullptr);
	EXPECT_EQ(Vop_New(1023 * 16, 16, false, false), nullptr);
	ParamsPtr largest(NewKorvParamsPtr(3, 32767 * 16, 16));  // too wide, whatever the count
	EXPECT_FALSE(largest);
	ParamsPtr most(NewKorvParamsPtr(3, 217 * 16, 151 * 16));  // 32767 macroblocks
	EXPECT_TRUE(most);
	EXPECT_EQ(NewKorvParamsPtr(3, 128 * 16, 256 * 16), nullptr);  // 32768 macroblocks
	EXPECT_EQ(NewKorvParamsPtr(3, 217 * 16 + 1, 151 * 16), nullptr);
	EXPECT_EQ(NewKorvParamsPtr(3, 1000 * 16, 33 * 16), nullptr);  // 33000 macroblocks
	// Sizes whose products would wrap 32 bits are refused, not wrapped into small ones.
	EXPECT_EQ(NewKorvParamsPtr(1, 0x80000000u, 2), nullptr);
	EXPECT_EQ(NewKorvParamsPtr(1, 0xFFFFFFFFu, 0xFFFFFFFFu), nullptr);
	EXPECT_EQ(NewKorvParamsPtr(1, 65536, 65536), nullptr);
	EXPECT_EQ(NewPlanePtr(0x10000, 0x10000, 0), nullptr);
	EXPECT_EQ(NewPlanePtr(16, 16, 2), nullptr);

	// A zero size makes a Vop without macroblocks that can still be reset and disposed.
	ParamsPtr empty(NewKorvParamsPtr(1, 0, 0));
	ASSERT_TRUE(empty);
	EXPECT_EQ(empty->vop->mbCount, 0u);
	Vop_Reset(empty->vop);
	Vop_Pad(empty->vop);
	EXPECT_EQ(Vop_FindMacroBlock(empty->vop, 0, 0), nullptr);
}

TEST(Context, StreamBufferHoldsTheFlushSlack)
{
	// A 1x1 picture still has room for a whole I-VOP header and its flush.
	for (uint32_t size : {1u, 100u, 176u}) {
		ParamsPtr params(NewKorvParamsPtr(1, size, size));
		ASSERT_TRUE(params);
		memset(params->streamBuffer, 0xA5, size_t{params->streamSize} + kBitStreamFlushSlack);
		EXPECT_EQ(params->streamBuffer[params->streamSize + kBitStreamFlushSlack - 1], 0xA5);
	}
}

TEST(Context, NeighbourLinks)
{
	Vop* vop = Vop_New(48, 32, false, false);  // 3 x 2 macroblocks
	ASSERT_NE(vop, nullptr);
	MacroBlock* m[2][3];
	for (uint32_t r = 0; r < 2; r++)
		for (uint32_t c = 0; c < 3; c++)
			m[r][c] = Vop_GetMacroBlock(vop, c, r);
	const MacroBlock* centre = m[0][1];
	EXPECT_EQ(centre->left, m[0][0]);
	EXPECT_EQ(centre->right, m[0][2]);
	EXPECT_EQ(centre->above, nullptr);
	EXPECT_EQ(centre->below, m[1][1]);
	EXPECT_EQ(m[1][2]->right, nullptr);
	EXPECT_EQ(m[1][2]->below, nullptr);
	EXPECT_EQ(m[0][0]->left, nullptr);

	// Blocks: inside the macroblock and across its edges, in the same plane.
	Block* const* b = centre->block;
	EXPECT_EQ(b[0]->right, b[1]);
	EXPECT_EQ(b[0]->below, b[2]);
	EXPECT_EQ(b[3]->above, b[1]);
	EXPECT_EQ(b[3]->left, b[2]);
	EXPECT_EQ(b[0]->left, m[0][0]->block[1]);
	EXPECT_EQ(b[2]->left, m[0][0]->block[3]);
	EXPECT_EQ(b[1]->right, m[0][2]->block[0]);
	EXPECT_EQ(b[3]->right, m[0][2]->block[2]);
	EXPECT_EQ(b[2]->below, m[1][1]->block[0]);
	EXPECT_EQ(b[3]->below, m[1][1]->block[1]);
	EXPECT_EQ(m[1][1]->block[0]->above, b[2]);
	EXPECT_EQ(m[1][1]->block[1]->above, b[3]);
	for (int c = 4; c < 6; c++) {
		EXPECT_EQ(b[c]->left, m[0][0]->block[c]);
		EXPECT_EQ(b[c]->right, m[0][2]->block[c]);
		EXPECT_EQ(b[c]->below, m[1][1]->block[c]);
		EXPECT_EQ(b[c]->above, nullptr);
	}
	EXPECT_EQ(b[0]->above, nullptr);
	EXPECT_EQ(b[1]->above, nullptr);
	EXPECT_EQ(m[0][0]->block[0]->left, nullptr);
	EXPECT_EQ(m[0][0]->block[2]->left, nullptr);
	EXPECT_EQ(m[1][2]->block[3]->right, nullptr);
	EXPECT_EQ(m[1][2]->block[3]->below, nullptr);
	Vop_Dispose(vop);
}

TEST(Context, FindMacroBlockAtThePictureEdge)
{
	Vop* vop = Vop_New(100, 100, false, false);
	ASSERT_NE(vop, nullptr);
	EXPECT_EQ(Vop_FindMacroBlock(vop, 100, 0), nullptr);
	EXPECT_EQ(Vop_FindMacroBlock(vop, 0, 100), nullptr);
	EXPECT_EQ(Vop_FindMacroBlock(vop, -1, 0), nullptr);
	EXPECT_EQ(Vop_FindMacroBlock(vop, 0, -1), nullptr);
	EXPECT_EQ(Vop_FindMacroBlock(vop, INT32_MIN, INT32_MAX), nullptr);
	EXPECT_EQ(Vop_FindMacroBlock(vop, 99, 99), vop->mbs[vop->mbCount - 1]);
	EXPECT_EQ(Vop_FindMacroBlock(vop, 0, 0), vop->mbs[0]);
	EXPECT_EQ(Vop_FindMacroBlock(vop, 16, 15), vop->mbs[1]);
	EXPECT_EQ(Vop_FindMacroBlock(vop, 15, 16), vop->mbs[7]);
	Vop_Dispose(vop);
}

TEST(Context, ResetClearsPerFrameState)
{
	Vop* vop = Vop_New(32, 16, false, false);
	ASSERT_NE(vop, nullptr);
	MacroBlock* mb = vop->mbs[1];
	mb->mv = Motion{3, -4};
	mb->codedMb = 0;
	mb->acPred = 1;
	mb->dquant = -2;
	mb->mbType = kMbTypeInter;
	for (Block* block : mb->block) {
		block->codedBlock = 0;
		block->deblockH = block->deblockV = block->deringFlag = 1;
		block->dcPred = block->dcLevel = block->dcDiff = 9;
		block->predDir = kPredFromLeft;
		block->coef[5] = 7;
	}
	vop->coded = 0;
	vop->mbsRead = 0;
	Vop_Reset(vop);
	EXPECT_EQ(vop->coded, 1);
	EXPECT_EQ(vop->mbsRead, 2);
	EXPECT_EQ(mb->mv.x, 0);
	EXPECT_EQ(mb->mv.y, 0);
	EXPECT_EQ(mb->codedMb, 1);
	EXPECT_EQ(mb->acPred, 0);
	EXPECT_EQ(mb->dquant, 0);
	EXPECT_EQ(mb->mbType, kMbTypeInter);  // the type is decided per frame, not reset
	for (const Block* block : mb->block) {
		EXPECT_EQ(block->codedBlock, 1);
		EXPECT_EQ(block->deblockH | block->deblockV | block->deringFlag, 0);
		EXPECT_EQ(block->dcPred | block->dcLevel | block->dcDiff, 0);
		EXPECT_EQ(block->predDir, 0);
		EXPECT_EQ(block->coef[5], 7);
	}
	Vop_Dispose(vop);
}

TEST(Context, StandaloneRecordsAreFreedAlone)
{
	// Records made without storage own themselves; ASan's leak check confirms they are freed.
	MacroBlock* mb = MacroBlock_New(nullptr, nullptr, 2, 3, kMbTypeInter, 7);
	ASSERT_NE(mb, nullptr);
	EXPECT_EQ(mb->embedded, 0);
	EXPECT_EQ(mb->mbX, 2u);
	EXPECT_EQ(mb->mbY, 3u);
	EXPECT_EQ(mb->mbQuant, 7);
	EXPECT_EQ(mb->mbType, kMbTypeInter);
	MacroBlock_Dispose(mb);
	Block* block = Block_New(nullptr, nullptr, kBlockKindChroma);
	ASSERT_NE(block, nullptr);
	EXPECT_EQ(block->embedded, 0);
	EXPECT_EQ(block->kind, kBlockKindChroma);
	Block_Dispose(block);
	DisposeKorvParamsPtr(nullptr);
	Vop_Dispose(nullptr);
	DisposePlanePtr(nullptr);
}

// A plane whose sample at (x, y) is a function of its position.
void FillPattern(Plane* plane)
{
	for (uint32_t y = 0; y < plane->height; y++)
		for (uint32_t x = 0; x < plane->width; x++)
			plane->data[y * plane->width + x] = uint8_t(x * 7 + y * 13);
}

TEST(PlanePad, PadsFromThePictureEdge100x100)
{
	Vop* vop = Vop_New(100, 100, true, false);
	ASSERT_NE(vop, nullptr);
	Plane* y = vop->planeY;
	ASSERT_EQ(y->width, 144u);
	FillPattern(y);
	FillPattern(vop->planeU);
	FillPattern(vop->planeV);
	Vop_Pad(vop);
	auto at = [](const Plane* p, uint32_t x, uint32_t r) { return p->data[r * p->width + x]; };
	for (uint32_t r = 0; r < y->height; r++) {
		const uint32_t sr = r < 16 ? 16 : r > 115 ? 115 : r;
		for (uint32_t x = 0; x < y->width; x++) {
			const uint32_t sx = x < 16 ? 16 : x > 115 ? 115 : x;
			ASSERT_EQ(at(y, x, r), uint8_t(sx * 7 + sr * 13)) << x << "," << r;
		}
	}
	// Chrominance: border 8, picture 50x50, so columns and rows 58.. copy 57.
	for (const Plane* c : {vop->planeU, vop->planeV}) {
		ASSERT_EQ(c->width, 72u);
		for (uint32_t r = 0; r < c->height; r++) {
			const uint32_t sr = r < 8 ? 8 : r > 57 ? 57 : r;
			for (uint32_t x = 0; x < c->width; x++) {
				const uint32_t sx = x < 8 ? 8 : x > 57 ? 57 : x;
				ASSERT_EQ(at(c, x, r), uint8_t(sx * 7 + sr * 13)) << x << "," << r;
			}
		}
	}
	Vop_Dispose(vop);
}

TEST(PlanePad, OneSidedForms)
{
	Plane* plane = NewPlanePtr(40, 36, 0);
	ASSERT_NE(plane, nullptr);
	auto at = [&](uint32_t x, uint32_t r) { return plane->data[r * 40 + x]; };
	FillPattern(plane);
	Plane_PadLeft(plane, 5);
	EXPECT_EQ(at(0, 3), at(5, 3));
	EXPECT_EQ(at(4, 3), at(5, 3));
	EXPECT_EQ(at(6, 3), uint8_t(6 * 7 + 3 * 13));
	Plane_PadRight(plane, 30);
	EXPECT_EQ(at(39, 2), at(30, 2));
	EXPECT_EQ(at(29, 2), uint8_t(29 * 7 + 2 * 13));
	Plane_PadUp(plane, 4);
	EXPECT_EQ(at(10, 0), at(10, 4));
	EXPECT_EQ(at(10, 5), uint8_t(10 * 7 + 5 * 13));
	Plane_PadDown(plane, 20);
	EXPECT_EQ(at(10, 35), at(10, 20));
	// Positions outside the plane change nothing (and touch nothing).
	FillPattern(plane);
	Plane_PadRight(plane, 40);
	Plane_PadDown(plane, 1000);
	Plane_PadLeft(plane, 40);
	EXPECT_EQ(at(39, 35), uint8_t(39 * 7 + 35 * 13));

	// Plane_Pad takes picture coordinates behind a 16-sample border.
	FillPattern(plane);
	Plane_Pad(plane, 3, 1);
	EXPECT_EQ(at(0, 0), uint8_t(16 * 7 + 16 * 13));
	EXPECT_EQ(at(39, 35), uint8_t(19 * 7 + 17 * 13));
	EXPECT_EQ(at(18, 17), uint8_t(18 * 7 + 17 * 13));
	DisposePlanePtr(plane);
}

TEST(PlanePad, SubsampleAndInverse)
{
	Vop* vop = Vop_New(32, 32, true, true);
	ASSERT_NE(vop, nullptr);
	Plane* y = vop->planeY;
	for (uint32_t i = 0; i < y->width * y->height; i++)
		y->data[i] = uint8_t(i * 37 + (i >> 5));
	memset(vop->srcY->data, 255, vop->srcY->width * vop->srcY->height);
	Vop_SubsamplePlanes(vop);
	ASSERT_EQ(vop->subY->width, 32u);
	ASSERT_EQ(vop->subY->height, 32u);
	for (uint32_t r = 0; r < 32; r++) {
		for (uint32_t x = 0; x < 32; x++) {
			const uint8_t* s = y->data + 2 * r * 64 + 2 * x;
			ASSERT_EQ(vop->subY->data[r * 32 + x], (s[0] + s[1] + s[64] + s[65]) >> 2);
			ASSERT_EQ(vop->subSrcY->data[r * 32 + x], 255);
		}
	}
	// Odd sizes keep the even part; the destination's stride becomes the new width.
	Plane* odd = NewPlanePtr(5, 3, 0);
	Plane* half = NewPlanePtr(2, 1, 0);
	ASSERT_TRUE(odd && half);
	const uint8_t samples[15] = {1, 2, 3, 4, 99, 5, 6, 7, 8, 99, 99, 99, 99, 99, 99};
	memcpy(odd->data, samples, 15);
	Plane_Subsample(odd, half);
	EXPECT_EQ(half->data[0], (1 + 2 + 5 + 6) >> 2);
	EXPECT_EQ(half->data[1], (3 + 4 + 7 + 8) >> 2);
	// A destination too small for the source is left alone.
	Plane* tiny = NewPlanePtr(1, 1, 0);
	ASSERT_NE(tiny, nullptr);
	Plane_Subsample(odd, tiny);
	EXPECT_EQ(tiny->width, 1u);
	EXPECT_EQ(tiny->data[0], 0);

	memcpy(odd->data, samples, 15);
	Plane_InverseY(odd);
	for (int i = 0; i < 15; i++)
		EXPECT_EQ(odd->data[i], 255 - samples[i]);
	DisposePlanePtr(odd);
	DisposePlanePtr(half);
	DisposePlanePtr(tiny);
	Vop_Dispose(vop);
}

}  // namespace
