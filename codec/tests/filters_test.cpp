// The frame-level post filters: which block edges deblocking visits and in which order, its gating by
// the block flags, the deringing decisions per macroblock and the deringing kernel, and PostFilter.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "filters_internal.h"
#include "frame_internal.h"
#include "korvo.h"
namespace {

struct Picture {
	Vop* vop;
	Picture(uint32_t width, uint32_t height) : vop(Vop_New(width, height, true, false)) {}
	~Picture() { Vop_Dispose(vop); }
	Picture(const Picture&) = delete;
	Picture& operator=(const Picture&) = delete;

	static uint8_t& At(Plane* plane, uint32_t border, uint32_t x, uint32_t y)
	{
		return plane->data[(y + border) * plane->width + x + border];
	}
	uint8_t& Y(uint32_t x, uint32_t y) { return At(vop->planeY, 16, x, y); }
	uint8_t& U(uint32_t x, uint32_t y) { return At(vop->planeU, 8, x, y); }

	void Fill(const std::function<uint8_t(uint32_t, uint32_t)>& f)
	{
		for (uint32_t y = 0; y < vop->mbHeight * 16; ++y)
			for (uint32_t x = 0; x < vop->mbWidth * 16; ++x)
				Y(x, y) = f(x, y);
		for (uint32_t y = 0; y < vop->mbHeight * 8; ++y)
			for (uint32_t x = 0; x < vop->mbWidth * 8; ++x)
				U(x, y) = f(2 * x, 2 * y);
	}
	void SetQuant(uint8_t quant)
	{
		for (uint32_t i = 0; i < vop->mbCount; ++i)
			vop->mbs[i]->mbQuant = quant;
	}
	std::vector<uint8_t> Luma() const
	{
		const Plane* p = vop->planeY;
		return std::vector<uint8_t>(p->data, p->data + p->width * p->height);
	}
};

// Blocks of 8 columns alternating between 100 and 104: a step the DC-offset mode smooths at quant 8.
uint8_t ColumnStripes(uint32_t x, uint32_t) { return (x / 8) % 2 ? 104 : 100; }
uint8_t RowStripes(uint32_t, uint32_t y) { return (y / 8) % 2 ? 104 : 100; }

// One picture row as the deblocking would leave it when the vertical edges at `edges` (in picture
// columns, left to right) are filtered in that order.
std::vector<uint8_t> ExpectedRow(const std::vector<uint8_t>& row, std::initializer_list<uint32_t> edges,
                                 int32_t quant)
{
	std::vector<uint8_t> out = row;
	for (uint32_t edge : edges)
		DeblockRow(&out[edge - 5], quant);
	return out;
}

// Each edge filter reads ten samples across its edge; features confined to the rows 0..2 and 29..31
// (or the same columns) are seen by the filters of one direction only, so the two directions can be
// checked without the later edges reacting to the results of earlier ones.
bool OutsidePerpendicularWindows(uint32_t v, uint32_t size) { return v < 3 || v + 3 >= size; }

TEST(DeblockVop, IntraVisitsEveryEdgeButTheLastColumnsAndRows)
{
	// 2x2 macroblocks: the internal vertical edge of the right column (x = 24) and the internal
	// horizontal edge of the bottom row (y = 24) are never filtered; the others always are.
	Picture pic(32, 32);
	pic.SetQuant(8);
	pic.Fill([](uint32_t x, uint32_t y) {
		return OutsidePerpendicularWindows(y, 32) ? ColumnStripes(x, y) : 100;
	});
	std::vector<uint8_t> row(32);
	for (uint32_t x = 0; x < 32; ++x)
		row[x] = ColumnStripes(x, 0);
	const std::vector<uint8_t> expected = ExpectedRow(row, {8, 16}, 8);
	ASSERT_NE(expected, row);
	Deblock_VopIntra2(pic.vop);
	for (uint32_t y = 0; y < 32; ++y) {
		for (uint32_t x = 0; x < 32; ++x)
			ASSERT_EQ(pic.Y(x, y), OutsidePerpendicularWindows(y, 32) ? expected[x] : 100) << x << "," << y;
	}
	// The chrominance edge at x = 8 is a macroblock edge, filtered in both macroblock rows.
	EXPECT_NE(pic.U(7, 0), 100);
	EXPECT_NE(pic.U(7, 15), 100);

	Picture rows(32, 32);
	rows.SetQuant(8);
	rows.Fill([](uint32_t x, uint32_t y) {
		return OutsidePerpendicularWindows(x, 32) ? RowStripes(x, y) : 100;
	});
	Deblock_VopIntra2(rows.vop);
	for (uint32_t x = 0; x < 32; ++x) {
		for (uint32_t y = 0; y < 32; ++y)
			ASSERT_EQ(rows.Y(x, y), OutsidePerpendicularWindows(x, 32) ? expected[y] : 100) << x << "," << y;
	}
}

TEST(DeblockVop, OneRowPictureFiltersOnlyRightEdges)
{
	Picture pic(48, 16);
	pic.SetQuant(8);
	pic.Fill([](uint32_t x, uint32_t y) {
		return OutsidePerpendicularWindows(y, 16) ? ColumnStripes(x, y) : 100;
	});
	std::vector<uint8_t> row(48);
	for (uint32_t x = 0; x < 48; ++x)
		row[x] = ColumnStripes(x, 0);
	const std::vector<uint8_t> expected = ExpectedRow(row, {8, 16, 24, 32}, 8);
	Deblock_VopIntra2(pic.vop);
	for (uint32_t x = 0; x < 48; ++x) {
		for (uint32_t y = 0; y < 16; ++y)
			ASSERT_EQ(pic.Y(x, y), OutsidePerpendicularWindows(y, 16) ? expected[x] : 100) << x << "," << y;
	}

	Picture rows(48, 16);
	rows.SetQuant(8);
	rows.Fill(RowStripes);
	const std::vector<uint8_t> before = rows.Luma();
	Deblock_VopIntra2(rows.vop);
	EXPECT_EQ(rows.Luma(), before) << "a single macroblock row has no lower edges to filter";
}

TEST(DeblockVop, OneMacroBlockPictureIsNotDeblocked)
{
	Picture pic(16, 16);
	pic.SetQuant(8);
	pic.Fill([](uint32_t x, uint32_t y) {
		return static_cast<uint8_t>(ColumnStripes(x, y) + RowStripes(x, y));
	});
	const std::vector<uint8_t> before = pic.Luma();
	Deblock_VopIntra2(pic.vop);
	for (int b = 0; b < 6; ++b)
		pic.vop->mbs[0]->blocks[b].deblockH = pic.vop->mbs[0]->blocks[b].deblockV = 1;
	Deblock_Vop(pic.vop);
	EXPECT_EQ(pic.Luma(), before);
}

TEST(DeblockVop, PredictedPictureFiltersOnlyFlaggedEdges)
{
	Picture pic(32, 32);
	pic.SetQuant(8);
	pic.Fill(RowStripes);
	const std::vector<uint8_t> before = pic.Luma();
	Deblock_Vop(pic.vop);
	EXPECT_EQ(pic.Luma(), before) << "no flags, no filtering";

	// The flag of the lower block allows the edge above it as well as its own lower edge.
	pic.vop->mbs[0]->blocks[2].deblockH = 1;
	Deblock_Vop(pic.vop);
	std::vector<uint8_t> column(32);
	for (uint32_t y = 0; y < 32; ++y)
		column[y] = RowStripes(0, y);
	const std::vector<uint8_t> filtered = ExpectedRow(column, {8, 16}, 8);
	for (uint32_t y = 0; y < 32; ++y) {
		for (uint32_t x = 0; x < 32; ++x)
			ASSERT_EQ(pic.Y(x, y), x < 8 ? filtered[y] : column[y]) << x << "," << y;
	}

	// A right-edge flag of a neighbour's block allows the edge it shares with the block to its left.
	Picture cols(32, 32);
	cols.SetQuant(8);
	cols.Fill(ColumnStripes);
	cols.vop->mbs[1]->blocks[0].deblockV = 1;  // allows x = 16; its own right edge is in the last column
	Deblock_Vop(cols.vop);
	std::vector<uint8_t> row(32);
	for (uint32_t x = 0; x < 32; ++x)
		row[x] = ColumnStripes(x, 0);
	const std::vector<uint8_t> only16 = ExpectedRow(row, {16}, 8);
	for (uint32_t y = 0; y < 32; ++y)
		for (uint32_t x = 0; x < 32; ++x)
			ASSERT_EQ(cols.Y(x, y), y < 8 ? only16[x] : row[x]) << x << "," << y;
}

TEST(DeblockVop, QuantIsTheOwningMacroBlocks)
{
	// A 100 | 130 step is smoothed at quant 16 but not at 10; the edge between two macroblocks takes
	// the quant of the one on its left.
	for (uint8_t leftQuant : {10, 16}) {
		Picture pic(32, 16);
		pic.vop->mbs[0]->mbQuant = leftQuant;
		pic.vop->mbs[1]->mbQuant = 26 - leftQuant;
		pic.Fill([](uint32_t x, uint32_t) { return static_cast<uint8_t>(x < 16 ? 100 : 130); });
		Deblock_VopIntra2(pic.vop);
		EXPECT_EQ(pic.Y(15, 3) != 100, leftQuant == 16);
	}
}

// A window of 50s with one brighter sample, for the deringing kernel.
struct DeringWindow {
	std::vector<uint8_t> storage = std::vector<uint8_t>(20 * 20, 50);
	Plane plane{20, 20, storage.data(), storage.data()};
	uint8_t& At(int x, int y) { return storage[(y + 4) * 20 + x + 4]; }  // block at (4, 4)
};

TEST(Dering, KernelSmoothsOnlyUniformNeighbourhoods)
{
	DeringWindow w;
	w.At(3, 3) = 60;
	Block_Dering(55, 2, 4, 4, &w.plane);  // the bright sample makes every nearby neighbourhood mixed
	for (int y = -4; y < 16; ++y)
		for (int x = -4; x < 16; ++x)
			ASSERT_EQ(w.At(x, y), x == 3 && y == 3 ? 60 : 50);

	for (int threshold : {0, 40}) {  // every sample on one side: all smoothed, moves clipped
		DeringWindow all;
		all.At(3, 3) = 60;
		all.At(-1, -1) = 60;  // the margin is read, never written
		if (threshold == 0)
			Block_DeringAll(2, 4, 4, &all.plane);
		else
			Block_Dering(threshold, 2, 4, 4, &all.plane);
		EXPECT_EQ(all.At(3, 3), 58);  // f = (4 * 60 + 12 * 50 + 8) >> 4 = 53, held to 60 - 2
		EXPECT_EQ(all.At(3, 2), 51);  // (2 * 60 + 14 * 50 + 8) >> 4
		EXPECT_EQ(all.At(4, 4), 51);  // (60 + 15 * 50 + 8) >> 4
		EXPECT_EQ(all.At(0, 0), 51);  // the margin sample above-left
		EXPECT_EQ(all.At(-1, -1), 60);
		EXPECT_EQ(all.At(5, 5), 50);
	}
}

struct DeringCase {
	Picture pic{16, 16};
	DeringCase(uint8_t quant, const std::function<uint8_t(uint32_t, uint32_t)>& f)
	{
		pic.SetQuant(quant);
		pic.Fill(f);
	}
	Block& block(int b) { return pic.vop->mbs[0]->blocks[b]; }
	std::vector<uint8_t> Run()
	{
		MacroBlock_Dering(pic.vop->mbs[0]);
		return pic.Luma();
	}
};

// A noisy texture: a base per luminance block plus a checker of the given amplitude per block.
std::function<uint8_t(uint32_t, uint32_t)> Texture(const int (&base)[4], const int (&amplitude)[4])
{
	return [&base, &amplitude](uint32_t x, uint32_t y) {
		const int b = (y >= 8) * 2 + (x >= 8);
		const int v = base[b] + ((x * 3 + y * 5) % 7 == 0 ? amplitude[b]
		                         : (x + y) % 3 == 0       ? amplitude[b] / 2
		                                                  : 0);
		return static_cast<uint8_t>(v);
	};
}

// The luminance plane after filtering block `target` alone with the given threshold (0 = all).
std::vector<uint8_t> Reference(const std::function<uint8_t(uint32_t, uint32_t)>& f, uint8_t quant, int target,
                               int32_t threshold)
{
	Picture pic(16, 16);
	pic.Fill(f);
	const uint32_t x = 16 + (target & 1) * 8, y = 16 + (target >> 1) * 8;
	Block_Dering(threshold, quant >> 1, x, y, pic.vop->planeY);
	return pic.Luma();
}

TEST(Dering, QuantOneAndUnflaggedMacroBlocksAreSkipped)
{
	const int base[4] = {40, 40, 40, 40}, amplitude[4] = {30, 30, 30, 30};
	DeringCase quantOne(1, Texture(base, amplitude));
	for (int b = 0; b < 6; ++b)
		quantOne.block(b).deringFlag = 1;
	const std::vector<uint8_t> before = quantOne.pic.Luma();
	EXPECT_EQ(quantOne.Run(), before);

	DeringCase unflagged(12, Texture(base, amplitude));
	EXPECT_EQ(unflagged.Run(), before);
}

TEST(Dering, FlatBlockOfAWideMacroBlockUsesTheMacroBlockThreshold)
{
	// Block 0 has range 20, block 1 range 70: block 0 takes block 1's threshold.
	const int base[4] = {100, 40, 100, 100}, amplitude[4] = {20, 70, 0, 0};
	const auto f = Texture(base, amplitude);
	DeringCase c(12, f);
	c.block(0).deringFlag = 1;
	const std::vector<uint8_t> out = c.Run();
	const std::vector<uint8_t> wide = Reference(f, 12, 0, (40 + 110 + 1) >> 1);
	EXPECT_EQ(out, wide);
	EXPECT_NE(out, Reference(f, 12, 0, (100 + 120 + 1) >> 1)) << "the case must tell the thresholds apart";
}

TEST(Dering, BlockThresholdBetweenSixteenAndSixtyFour)
{
	const int base[4] = {100, 40, 100, 100}, amplitude[4] = {20, 40, 0, 0};
	const auto f = Texture(base, amplitude);
	DeringCase c(12, f);
	c.block(0).deringFlag = 1;
	EXPECT_EQ(c.Run(), Reference(f, 12, 0, (100 + 120 + 1) >> 1));
}

TEST(Dering, LowContrastMacroBlockSmoothsEveryFlaggedBlock)
{
	const int base[4] = {100, 60, 80, 90}, amplitude[4] = {12, 10, 6, 8};
	const auto f = Texture(base, amplitude);
	DeringCase c(12, f);
	c.block(3).deringFlag = 1;
	const std::vector<uint8_t> before = c.pic.Luma();
	const std::vector<uint8_t> out = c.Run();
	EXPECT_EQ(out, Reference(f, 12, 3, 0));
	EXPECT_NE(out, before);
}

TEST(Dering, BlockTwoWithItsOwnThresholdWorksOnBlockOnesArea)
{
	const int base[4] = {100, 40, 60, 100}, amplitude[4] = {0, 30, 40, 0};
	const auto f = Texture(base, amplitude);
	DeringCase c(12, f);
	c.block(2).deringFlag = 1;
	const std::vector<uint8_t> out = c.Run();
	EXPECT_EQ(out, Reference(f, 12, 1, (60 + 100 + 1) >> 1));
	EXPECT_NE(out, Reference(f, 12, 2, (60 + 100 + 1) >> 1));
}

TEST(PostFilter, PadsThenFiltersCodedPicturesOnly)
{
	KorvParams* params = NewKorvParamsPtr(2, 32, 32);
	ASSERT_NE(params, nullptr);
	Vop* vop = params->vop;
	vop->codingType = kCodingTypeI;
	for (uint32_t i = 0; i < vop->mbCount; ++i)
		vop->mbs[i]->mbQuant = 8;
	Plane* y = vop->planeY;
	for (uint32_t row = 16; row < 48; ++row)
		for (uint32_t x = 16; x < 48; ++x)
			y->data[row * y->width + x] = ColumnStripes(x - 16, 0);
	const std::vector<uint8_t> before(y->data, y->data + y->width * y->height);

	params->deblock = 1;
	vop->coded = 0;
	EXPECT_EQ(PostFilter(params), 0);
	EXPECT_EQ(std::vector<uint8_t>(y->data, y->data + y->width * y->height), before);

	vop->coded = 1;
	EXPECT_EQ(PostFilter(params), 0);
	EXPECT_EQ(y->data[0], 100) << "the border is padded from the corner";
	EXPECT_EQ(y->data[20 * y->width + 63], 104);
	EXPECT_NE(y->data[16 * y->width + 16 + 7], 100) << "the intra picture is deblocked";
	EXPECT_EQ(y->data[16 * y->width + 16 + 27], 104);
	// Padding comes first: the border above keeps the unfiltered edge samples.
	EXPECT_EQ(y->data[15 * y->width + 16 + 7], 100);

	// A predicted picture without flags is not deblocked; only the padding runs again.
	vop->codingType = kCodingTypeP;
	std::vector<uint8_t> expected(y->data, y->data + y->width * y->height);
	for (uint32_t row = 0; row < 16; ++row) {
		for (uint32_t x = 0; x < y->width; ++x) {
			expected[row * y->width + x] = expected[16 * y->width + x];
			expected[(48 + row) * y->width + x] = expected[47 * y->width + x];
		}
	}
	EXPECT_EQ(PostFilter(params), 0);
	EXPECT_EQ(std::vector<uint8_t>(y->data, y->data + y->width * y->height), expected);
	DisposeKorvParamsPtr(params);
}

}  // namespace
