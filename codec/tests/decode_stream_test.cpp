// Whole frames through DecompressPixMap: streams written with the entropy layer's writers decode to
// the pictures they must give (flat intra blocks, pictures moved by a vector, unchanged pictures for
// uncoded VOPs and skipped macroblocks, an early end of data), and the fuzz seeds come from here.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bitstream_internal.h"
#include "frame_internal.h"
#include "korvo.h"
#include "prediction_internal.h"
#include "syntax_internal.h"
#include "stream_builder.h"

namespace {

using korvo_test::StreamBuilder;

struct Library : ::testing::Environment {
	void SetUp() override { ASSERT_EQ(InitKorvax(), 0); }
	void TearDown() override { TerminateKorvax(); }
};
const auto* const kLibrary = ::testing::AddGlobalTestEnvironment(new Library);

// Seeds for the decoder fuzz target: [size index][format index] then each chunk as a 16-bit
// big-endian length and its bytes. Written only when KORVO_SEED_DIR names a directory.
void WriteSeed(const std::string& name, uint8_t sizeIndex, const std::vector<std::vector<uint8_t>>& chunks)
{
	const char* dir = std::getenv("KORVO_SEED_DIR");
	if (!dir)
		return;
	std::vector<uint8_t> seed = {sizeIndex, 0};
	for (const auto& chunk : chunks) {
		seed.push_back(static_cast<uint8_t>(chunk.size() >> 8));
		seed.push_back(static_cast<uint8_t>(chunk.size()));
		seed.insert(seed.end(), chunk.begin(), chunk.end());
	}
	if (FILE* f = std::fopen((std::string(dir) + "/" + name).c_str(), "wb")) {
		std::fwrite(seed.data(), 1, seed.size(), f);
		std::fclose(f);
	}
}

class Decoder {
public:
	Decoder(uint32_t width, uint32_t height)
	    : params_(NewKorvParamsPtr(2, width, height)), width_(width), height_(height),
	      out_(width * height + 2 * ((width / 2) * (height / 2)))
	{
		params_->pixelFormat = kPixelFormatYUV420Planar;
		params_->pixMap->rowBytes = static_cast<uint16_t>(width);
		params_->pixMap->baseAddr = out_.data();
	}
	~Decoder() { DisposeKorvParamsPtr(params_); }
	Decoder(const Decoder&) = delete;
	Decoder& operator=(const Decoder&) = delete;

	int16_t Decode(std::vector<uint8_t> chunk)
	{
		chunk_ = std::move(chunk);
		params_->stream = chunk_.data();
		params_->streamSize = static_cast<uint32_t>(chunk_.size());
		params_->fullRefresh = 1;
		return DecompressPixMap(params_);
	}
	Vop* vop() const { return params_->vop; }
	KorvParams* params() const { return params_; }
	uint8_t Y(uint32_t x, uint32_t y) const { return Sample(vop()->planeY, 16, x, y); }
	uint8_t U(uint32_t x, uint32_t y) const { return Sample(vop()->planeU, 8, x, y); }
	uint8_t V(uint32_t x, uint32_t y) const { return Sample(vop()->planeV, 8, x, y); }
	// The picture as the caller received it (4:2:0 planar output).
	const std::vector<uint8_t>& output() const { return out_; }
	// A copy of the three planes, borders included.
	std::vector<uint8_t> Planes() const
	{
		std::vector<uint8_t> all;
		for (const Plane* p : {vop()->planeY, vop()->planeU, vop()->planeV})
			all.insert(all.end(), p->data, p->data + p->width * p->height);
		return all;
	}
	uint32_t width() const { return width_; }
	uint32_t height() const { return height_; }

	static uint8_t Sample(const Plane* p, uint32_t border, int32_t x, int32_t y)
	{
		return p->data[(y + border) * p->width + x + border];
	}

private:
	KorvParams* params_;
	uint32_t width_, height_;
	std::vector<uint8_t> out_;
	std::vector<uint8_t> chunk_;
};

// DC levels per block that make neighbouring blocks differ; at quant 4 a DC level is the pixel value.
int16_t DcFor(const MacroBlock* mb, int b)
{
	return static_cast<int16_t>(40 + 37 * mb->mbX + 23 * mb->mbY + 11 * b + (b == 4 ? 50 : 0));
}

void FillDc(MacroBlock* mb)
{
	for (int b = 0; b < 6; ++b)
		mb->blocks[b].coef[0] = DcFor(mb, b);
}

std::vector<uint8_t> TexturedIntra(StreamBuilder& builder)
{
	return builder.Intra(4, [](MacroBlock* mb) {
		FillDc(mb);
		mb->blocks[0].coef[1] = 3;  // some texture inside blocks, so shifts show within them too
		mb->blocks[1].coef[8] = -2;
		mb->blocks[3].coef[9] = 2;
		mb->blocks[4].coef[2] = 1;
	});
}

TEST(DecodeStream, DcOnlyIntraGivesFlatBlocks)
{
	StreamBuilder builder(40, 24);  // not a multiple of 16: 3x2 macroblocks, cropped output
	ASSERT_TRUE(builder.ok());
	Decoder dec(40, 24);
	const std::vector<uint8_t> frame = builder.Intra(4, FillDc);
	WriteSeed("intra_dc_40x24", 3, {frame});
	ASSERT_EQ(dec.Decode(frame), 0);
	EXPECT_EQ(dec.params()->streamBytes, static_cast<int32_t>(frame.size()));
	EXPECT_EQ(dec.vop()->mbsRead, 6);
	for (uint32_t i = 0; i < dec.vop()->mbCount; ++i) {
		const MacroBlock* mb = dec.vop()->mbs[i];
		for (uint32_t y = 0; y < 16; ++y) {
			for (uint32_t x = 0; x < 16; ++x) {
				const uint32_t px = 16 * mb->mbX + x, py = 16 * mb->mbY + y;
				if (px >= 40 || py >= 24)
					continue;
				ASSERT_EQ(dec.Y(px, py), DcFor(mb, (y >= 8) * 2 + (x >= 8))) << px << "," << py;
			}
		}
		for (uint32_t y = 0; y < 8; ++y) {
			for (uint32_t x = 0; x < 8; ++x) {
				if (8 * mb->mbX + x >= 20 || 8 * mb->mbY + y >= 12)
					continue;
				ASSERT_EQ(dec.U(8 * mb->mbX + x, 8 * mb->mbY + y), DcFor(mb, 4));
				ASSERT_EQ(dec.V(8 * mb->mbX + x, 8 * mb->mbY + y), DcFor(mb, 5));
			}
		}
	}
	// The caller's picture holds the same samples, cropped to 40x24.
	EXPECT_EQ(dec.output()[0], DcFor(dec.vop()->mbs[0], 0));
	EXPECT_EQ(dec.output()[23 * 40 + 39], dec.Y(39, 23));
	EXPECT_EQ(dec.output()[40 * 24 + 11 * 20 + 19], dec.U(19, 11));
}

// The picture a P-VOP without residual must give when every macroblock moves by (mx, my): each
// sample fetched from the previous (padded) planes, full-pel unless half-pel in both directions.
std::vector<uint8_t> Shifted(const Decoder& dec, const std::vector<uint8_t>& before, int mx, int my,
                             int rounding)
{
	std::vector<uint8_t> out = before;
	size_t offset = 0;
	const Plane* planes[3] = {dec.vop()->planeY, dec.vop()->planeU, dec.vop()->planeV};
	for (int p = 0; p < 3; ++p) {
		const Plane* plane = planes[p];
		const bool luma = p == 0;
		const int border = luma ? 16 : 8;
		const int vx = luma ? mx : ChromaVectorComponent(mx), vy = luma ? my : ChromaVectorComponent(my);
		const int w = static_cast<int>(luma ? dec.width() : dec.width() / 2);
		const int h = static_cast<int>(luma ? dec.height() : dec.height() / 2);
		auto at = [&](int x, int y) {
			return int{before[offset + (y + border) * plane->width + x + border]};
		};
		for (int y = 0; y < h; ++y) {
			for (int x = 0; x < w; ++x) {
				const int sx = x + (vx >> 1), sy = y + (vy >> 1);
				const int v = (vx & 1) && (vy & 1) ? (at(sx, sy) + at(sx + 1, sy) + at(sx, sy + 1) +
				                                      at(sx + 1, sy + 1) + 2 - rounding) /
				                                             4
				                                   : at(sx, sy);
				out[offset + (y + border) * plane->width + x + border] = static_cast<uint8_t>(v);
			}
		}
		offset += plane->width * plane->height;
	}
	return out;
}

// Compares only the picture area (the borders are padded again after decoding).
void ExpectPicture(const Decoder& dec, const std::vector<uint8_t>& expected)
{
	const std::vector<uint8_t> got = dec.Planes();
	size_t offset = 0;
	const Plane* planes[3] = {dec.vop()->planeY, dec.vop()->planeU, dec.vop()->planeV};
	for (int p = 0; p < 3; ++p) {
		const Plane* plane = planes[p];
		const uint32_t border = p == 0 ? 16 : 8;
		const uint32_t w = p == 0 ? dec.width() : dec.width() / 2,
		               h = p == 0 ? dec.height() : dec.height() / 2;
		for (uint32_t y = 0; y < h; ++y) {
			for (uint32_t x = 0; x < w; ++x) {
				const size_t i = offset + (y + border) * plane->width + x + border;
				ASSERT_EQ(got[i], expected[i]) << "plane " << p << " at " << x << "," << y;
			}
		}
		offset += plane->width * plane->height;
	}
}

TEST(DecodeStream, OneVectorPerMacroBlockMovesThePicture)
{
	const struct {
		int mx, my, rounding;
	} cases[] = {{2, 0, 0}, {-4, 6, 1}, {3, 0, 1},   {0, -3, 0},
	             {3, 5, 0}, {3, 5, 1},  {-1, -1, 1}, {-32, 31, 0}};
	int seed = 0;
	for (const auto& c : cases) {
		StreamBuilder builder(48, 32);
		Decoder dec(48, 32);
		const std::vector<uint8_t> intra = TexturedIntra(builder);
		ASSERT_EQ(dec.Decode(intra), 0);
		const std::vector<uint8_t> before = dec.Planes();
		const std::vector<uint8_t> inter =
		        builder.Inter(4, static_cast<uint8_t>(c.rounding), [&](MacroBlock* mb) {
			        mb->mv = Motion{static_cast<int16_t>(c.mx), static_cast<int16_t>(c.my)};
		        });
		if (seed < 3)
			WriteSeed("moved_48x32_" + std::to_string(seed++), 2, {intra, inter});
		ASSERT_EQ(dec.Decode(inter), 0);
		EXPECT_EQ(dec.vop()->rounding, c.rounding);
		SCOPED_TRACE("vector " + std::to_string(c.mx) + "," + std::to_string(c.my));
		ExpectPicture(dec, Shifted(dec, before, c.mx, c.my, c.rounding));
	}
}

TEST(DecodeStream, UncodedVopsAndSkippedMacroBlocksLeaveThePicture)
{
	StreamBuilder builder(48, 32);
	Decoder dec(48, 32);
	const std::vector<uint8_t> intra = TexturedIntra(builder);
	ASSERT_EQ(dec.Decode(intra), 0);
	const std::vector<uint8_t> before = dec.Planes();

	const std::vector<uint8_t> uncoded = builder.Uncoded(kCodingTypeP);
	EXPECT_EQ(uncoded.size(), 5u);
	ASSERT_EQ(dec.Decode(uncoded), 0);
	EXPECT_EQ(dec.params()->streamBytes, 5);
	EXPECT_EQ(dec.Planes(), before);

	const std::vector<uint8_t> skipped = builder.Inter(4, 0, [](MacroBlock* mb) { mb->codedMb = 0; });
	EXPECT_EQ(skipped.size(), 8u);  // 51 header bits and one bit per macroblock
	ASSERT_EQ(dec.Decode(skipped), 0);
	EXPECT_EQ(dec.Planes(), before);

	// Zero vectors without residual, and skipped macroblocks beside moved ones.
	const std::vector<uint8_t> still = builder.Inter(4, 0, [](MacroBlock*) {});
	ASSERT_EQ(dec.Decode(still), 0);
	EXPECT_EQ(dec.Planes(), before);

	const std::vector<uint8_t> mixed = builder.Inter(4, 1, [](MacroBlock* mb) {
		if (mb->mbX == 1)
			mb->codedMb = 0;
		else
			mb->mv = Motion{4, -2};
	});
	WriteSeed("skipped_48x32", 2, {intra, skipped, mixed, uncoded});
	ASSERT_EQ(dec.Decode(mixed), 0);
	const std::vector<uint8_t> moved = Shifted(dec, before, 4, -2, 1);
	const std::vector<uint8_t> got = dec.Planes();
	for (uint32_t y = 0; y < 32; ++y) {
		for (uint32_t x = 0; x < 48; ++x) {
			const size_t i = (y + 16) * dec.vop()->planeY->width + x + 16;
			ASSERT_EQ(got[i], x / 16 == 1 ? before[i] : moved[i]) << x << "," << y;
		}
	}
}

TEST(DecodeStream, ResidualIsAddedToThePrediction)
{
	StreamBuilder builder(32, 16);
	Decoder dec(32, 16);
	ASSERT_EQ(dec.Decode(builder.Intra(4, FillDc)), 0);
	const std::vector<uint8_t> before = dec.Planes();
	// An inter DC level of 10 at quant 2 adds 5 to every sample of its block (see the reconstruction
	// tests), with and without a vector.
	const std::vector<uint8_t> inter = builder.Inter(2, 0, [](MacroBlock* mb) {
		mb->blocks[0].coef[0] = 10;
		if (mb->mbX == 1)
			mb->mv = Motion{-32, 0};
	});
	ASSERT_EQ(dec.Decode(inter), 0);
	for (uint32_t y = 0; y < 16; ++y) {
		for (uint32_t x = 0; x < 16; ++x) {
			const uint32_t stride = dec.vop()->planeY->width;
			const uint8_t old0 = before[(y + 16) * stride + x + 16];
			EXPECT_EQ(dec.Y(x, y), old0 + (x < 8 && y < 8 ? 5 : 0)) << x << "," << y;
			EXPECT_EQ(dec.Y(16 + x, y), old0 + (x < 8 && y < 8 ? 5 : 0)) << "moved by -16 pixels";
		}
	}
}

TEST(DecodeStream, UndecodableCodeEndsTheVopAtThatMacroBlock)
{
	StreamBuilder builder(48, 32);
	Decoder dec(48, 32);
	const std::vector<uint8_t> intra = TexturedIntra(builder);
	ASSERT_EQ(dec.Decode(intra), 0);
	const std::vector<uint8_t> before = dec.Planes();

	// Every macroblock moves and macroblock 2 carries levels; the frame is cut right after the
	// macroblock layer header of macroblock 2, so its coefficient data reads as zeros.
	auto fill = [](MacroBlock* mb) {
		mb->mv = Motion{2, 2};
		if (mb->mbX == 2 && mb->mbY == 0)
			mb->blocks[0].coef[5] = 1;
	};
	std::vector<uint8_t> frame = builder.Inter(4, 0, fill);
	BitStream scratch;
	std::vector<uint8_t> buffer(256 + kBitStreamFlushSlack);
	BitStream_InitWriter(&scratch, buffer.data(), 256);
	MacroBlock_WriteMB(builder.vop()->mbs[0], &scratch);
	MacroBlock_WriteMB(builder.vop()->mbs[1], &scratch);
	MacroBlock* third = builder.vop()->mbs[2];
	MacroBlock_WriteCOD(third, &scratch);
	MacroBlock_WriteMCBPC(third, &scratch);
	MacroBlock_WriteCBPY(third, &scratch);
	MacroBlock_WriteMVD(third, &scratch);
	const uint32_t cut = 51 + scratch.bitPos;
	for (uint32_t bit = cut; bit < 8 * frame.size(); ++bit)
		frame[bit / 8] &= static_cast<uint8_t>(~(0x80u >> (bit % 8)));
	WriteSeed("cut_48x32", 2, {intra, frame});

	ASSERT_EQ(dec.Decode(frame), 0);
	EXPECT_EQ(dec.vop()->mbsRead, 2);
	// The frame ended early: zeros this close to the chunk's end read as data that ran out.
	EXPECT_EQ(dec.params()->damage, kKorvoDamageTruncated);
	const std::vector<uint8_t> moved = Shifted(dec, before, 2, 2, 0);
	const std::vector<uint8_t> got = dec.Planes();
	for (uint32_t y = 0; y < 32; ++y) {
		for (uint32_t x = 0; x < 48; ++x) {
			const size_t i = (y + 16) * dec.vop()->planeY->width + x + 16;
			const bool read = y < 16 && x < 32;
			ASSERT_EQ(got[i], read ? moved[i] : before[i]) << x << "," << y;
		}
	}
}

TEST(DecodeStream, IntraVopEndedEarlyKeepsThePreviousPictureBeyond)
{
	StreamBuilder builder(32, 32);
	Decoder dec(32, 32);
	ASSERT_EQ(dec.Decode(builder.Intra(4, FillDc)), 0);
	const std::vector<uint8_t> before = dec.Planes();
	std::vector<uint8_t> frame = builder.Intra(4, [](MacroBlock* mb) {
		for (int b = 0; b < 6; ++b)
			mb->blocks[b].coef[0] = 200;
		mb->blocks[0].coef[1] = 2;
	});
	frame.resize(frame.size() / 2);  // ends inside the macroblock layer
	ASSERT_EQ(dec.Decode(frame), 0);
	EXPECT_TRUE(dec.params()->damage & kKorvoDamageTruncated);
	EXPECT_FALSE(dec.params()->damage & kKorvoDamageInvalidCode) << "the zeros past the end are no code";
	const int16_t read = dec.vop()->mbsRead;
	ASSERT_GE(read, 0);
	ASSERT_LT(read, 4);
	for (uint32_t i = static_cast<uint32_t>(read); i < 4; ++i) {
		const MacroBlock* mb = dec.vop()->mbs[i];
		EXPECT_EQ(dec.Y(16 * mb->mbX + 3, 16 * mb->mbY + 3),
		          before[(16 * mb->mbY + 19) * dec.vop()->planeY->width + 16 * mb->mbX + 19]);
	}
}

// The damage record of each kind of frame: sound ones clear, the decoded pictures the same as without
// the record (the status stays 0 whatever the damage).
TEST(DecodeStream, DamageIsRecordedPerFrame)
{
	StreamBuilder builder(48, 32);
	Decoder dec(48, 32);
	const std::vector<uint8_t> intra = TexturedIntra(builder);
	ASSERT_EQ(dec.Decode(intra), 0);
	EXPECT_EQ(dec.params()->damage, 0);
	const std::vector<uint8_t> inter = builder.Inter(4, 0, [](MacroBlock* mb) { mb->mv = Motion{2, 0}; });
	ASSERT_EQ(dec.Decode(inter), 0);
	EXPECT_EQ(dec.params()->damage, 0);
	ASSERT_EQ(dec.Decode(builder.Uncoded(kCodingTypeP)), 0);
	EXPECT_EQ(dec.params()->damage, 0);

	// Cut to 16 bytes: the data ends in the first macroblocks.
	ASSERT_EQ(dec.Decode(std::vector<uint8_t>(intra.begin(), intra.begin() + 16)), 0);
	EXPECT_EQ(dec.params()->damage, kKorvoDamageTruncated);
	EXPECT_LT(dec.vop()->mbsRead, 6);

	// A bare start code: the header reads past it (an uncoded VOP by its zeros), no macroblock missing.
	ASSERT_EQ(dec.Decode({0x00, 0x00, 0x01, 0xB6}), 0);
	EXPECT_EQ(dec.params()->damage, kKorvoDamageOverread);

	// An I-VOP whose first macroblock type is the stuffing code, then plenty of data: an invalid code.
	// Bits: type 00, time base 0, marker 1, increment 0, marker 1, coded 1, 000, quant 00100,
	// then MCBPC 000000001.
	std::vector<uint8_t> stuffed = {0x00, 0x00, 0x01, 0xB6, 0x16, 0x08, 0x01};
	stuffed.resize(stuffed.size() + 32, 0xFF);
	ASSERT_EQ(dec.Decode(stuffed), 0);
	EXPECT_EQ(dec.vop()->mbsRead, 0);
	EXPECT_EQ(dec.params()->damage, kKorvoDamageInvalidCode);

	// No start code at all: nothing decoded, and said so.
	const std::vector<uint8_t> before = dec.output();
	ASSERT_EQ(dec.Decode({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}), 0);
	EXPECT_EQ(dec.params()->streamBytes, 0);
	EXPECT_EQ(dec.params()->damage, kKorvoDamageInvalidCode);
	EXPECT_EQ(dec.output(), before);

	// The next sound frame is clear again.
	ASSERT_EQ(dec.Decode(intra), 0);
	EXPECT_EQ(dec.params()->damage, 0);
}

// Every frame of the encoder decodes without damage, in every mode.
TEST(DecodeStream, EncoderFramesAreNeverDamaged)
{
	constexpr uint32_t kWidth = 48, kHeight = 32;
	for (int mode = 0; mode < 4; ++mode) {
		KorvParams* encoder = NewKorvParamsPtr(1, kWidth, kHeight);
		ASSERT_NE(encoder, nullptr);
		encoder->pixelFormat = kPixelFormatBGRA;
		encoder->pixMap->rowBytes = 4 * kWidth;
		encoder->spatialQuality = 300 + 200 * mode;
		encoder->deblock = mode & 1;
		encoder->dering = (mode >> 1) & 1;
		Decoder dec(kWidth, kHeight);
		std::vector<uint8_t> picture(4 * kWidth * kHeight);
		for (int f = 0; f < 12; ++f) {
			for (size_t i = 0; i < picture.size(); ++i)
				picture[i] = static_cast<uint8_t>((i * 7 + f * 11 + (i / 192) * 5) & 0xFF);
			encoder->pixMap->baseAddr = picture.data();
			ASSERT_EQ(CompressPixMap(encoder), 0);
			ASSERT_EQ(
			        dec.Decode(std::vector<uint8_t>(encoder->stream, encoder->stream + encoder->streamBytes)),
			        0);
			EXPECT_EQ(dec.params()->damage, 0) << "mode " << mode << " frame " << f;
		}
		DisposeKorvParamsPtr(encoder);
	}
}

TEST(DecodeStream, FiltersAnnouncedInTheUserDataRunInTheLoop)
{
	StreamBuilder builder(48, 32);
	Decoder plain(48, 32), filtered(48, 32);
	const std::vector<uint8_t> a = TexturedIntra(builder);
	const std::vector<uint8_t> b = builder.Intra(
	        12,
	        [](MacroBlock* mb) {
		        FillDc(mb);
		        mb->blocks[0].coef[9] = 2;
		        mb->blocks[1].coef[17] = -1;
		        mb->blocks[2].coef[0] = 60;  // 150 | 160 at quant 12: a step below 2 * 12
		        mb->blocks[3].coef[0] = 64;
	        },
	        1, 1);
	WriteSeed("filtered_48x32", 2, {b});
	ASSERT_EQ(plain.Decode(a), 0);
	ASSERT_EQ(filtered.Decode(b), 0);
	EXPECT_EQ(filtered.params()->deblock, 1);
	EXPECT_EQ(filtered.params()->dering, 1);
	// The same levels without the filters differ only where the filters worked.
	Decoder unfiltered(48, 32);
	std::vector<uint8_t> noFilters = b;
	ASSERT_EQ(noFilters[4], 0x83);
	noFilters[4] = 0x80;
	ASSERT_EQ(unfiltered.Decode(noFilters), 0);
	EXPECT_NE(unfiltered.Planes(), filtered.Planes());
	// The small step between the flat lower blocks of the first macroblock is smoothed.
	ASSERT_NE(unfiltered.Y(7, 12), unfiltered.Y(8, 12));
	EXPECT_NE(filtered.Y(7, 12), unfiltered.Y(7, 12));
	EXPECT_NE(filtered.Y(8, 12), unfiltered.Y(8, 12));
}

TEST(DecodeStream, FramesWithoutAStartCodeChangeNothing)
{
	StreamBuilder builder(32, 16);
	Decoder dec(32, 16);
	ASSERT_EQ(dec.Decode(builder.Intra(4, FillDc)), 0);
	const std::vector<uint8_t> before = dec.Planes();
	const std::vector<uint8_t> out = dec.output();
	ASSERT_EQ(dec.Decode({0, 0, 1, 0xB5, 0, 0, 1, 0xB5, 0xFF}), 0);
	EXPECT_EQ(dec.params()->streamBytes, 0);
	EXPECT_EQ(dec.Planes(), before);
	EXPECT_EQ(dec.output(), out);
	ASSERT_EQ(dec.Decode({}), 0);
	EXPECT_EQ(dec.Planes(), before);
}

}  // namespace
