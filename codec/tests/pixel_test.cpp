// Pixel conversion: golden colour values, and every input and output converter compared with a
// per-pixel reference on random pictures (whole picture, changed macroblocks, cropping, bounds).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <tuple>
#include <vector>

#include "frame_internal.h"
#include "korvo.h"
#include "pixel_internal.h"
namespace {

class KorvaxEnvironment : public ::testing::Environment {
public:
	void SetUp() override { ASSERT_EQ(InitKorvax(), 0); }
	void TearDown() override { TerminateKorvax(); }
};
const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new KorvaxEnvironment);

constexpr uint8_t kSentinel = 0xA5;

int Clamp255(int v) { return std::clamp(v, 0, 255); }

struct Context {
	KorvParams* params;
	Context(uint8_t mode, uint32_t w, uint32_t h) : params(NewKorvParamsPtr(mode, w, h)) {}
	~Context() { DisposeKorvParamsPtr(params); }
	Vop* vop() const { return params->vop; }
};

uint8_t& LumaAt(const Plane* p, uint32_t x, uint32_t y) { return p->data[(y + 16) * p->width + x + 16]; }
uint8_t& ChromaAt(const Plane* p, uint32_t x, uint32_t y) { return p->data[(y + 8) * p->width + x + 8]; }

void FillRandom(uint8_t* data, size_t n, std::mt19937& rng)
{
	for (size_t i = 0; i < n; ++i)
		data[i] = static_cast<uint8_t>(rng());
}
void FillPlane(const Plane* p, std::mt19937& rng) { FillRandom(p->data, size_t(p->width) * p->height, rng); }
std::vector<uint8_t> PlaneCopy(const Plane* p) { return {p->data, p->data + size_t(p->width) * p->height}; }

// ---- Output reference -------------------------------------------------------------------------

const uint32_t kOutputFormats[] = {kPixelFormatARGB32, kPixelFormatABGR,  kPixelFormatBGRA,
                                   kPixelFormatRGBA,   kPixelFormatRGB24, kPixelFormatYUV420Planar,
                                   kPixelFormatYUVS,   kPixelFormat2VUY};

uint32_t MinRowBytes(uint32_t format, uint32_t w)
{
	switch (format) {
		case kPixelFormatRGB24: return 3 * w;
		case kPixelFormatYUV420Planar: return w;
		case kPixelFormatYUVS:
		case kPixelFormat2VUY: return 4 * (w / 2);
		default: return 4 * w;
	}
}

size_t OutputBufferSize(uint32_t format, uint32_t rowBytes, uint32_t h)
{
	if (format == kPixelFormatYUV420Planar)
		return size_t(rowBytes) * h + 2 * size_t(rowBytes / 2) * (h / 2);
	return size_t(rowBytes) * h;
}

void RGBOf(const Vop* vop, uint32_t x, uint32_t y, int* r, int* g, int* b)
{
	const int yy = (LumaAt(vop->planeY, x, y) - 16) * 76309;
	const int cb = ChromaAt(vop->planeU, x / 2, y / 2) - 128;
	const int cr = ChromaAt(vop->planeV, x / 2, y / 2) - 128;
	*r = Clamp255((yy + 104597 * cr) >> 16);
	*g = Clamp255((yy - 25674 * cb - 53279 * cr) >> 16);
	*b = Clamp255((yy + 132201 * cb) >> 16);
}

void StoreWordLE(uint8_t* out, uint32_t word)
{
	for (int i = 0; i < 4; ++i)
		out[i] = uint8_t(word >> (8 * i));
}

// What the caller's buffer must hold after converting the pixels for which include(x, y) holds.
void ReferenceOutput(uint32_t format, const Vop* vop, uint8_t* buf, uint32_t rowBytes, uint32_t pixHeight,
                     uint32_t w, uint32_t h, const std::function<bool(uint32_t, uint32_t)>& include)
{
	for (uint32_t y = 0; y < h; ++y) {
		uint8_t* row = buf + size_t(y) * rowBytes;
		for (uint32_t x = 0; x < w; ++x) {
			if (!include(x, y))
				continue;
			int r, g, b;
			RGBOf(vop, x, y, &r, &g, &b);
			const uint8_t luma = LumaAt(vop->planeY, x, y);
			const uint8_t cb = ChromaAt(vop->planeU, x / 2, y / 2), cr = ChromaAt(vop->planeV, x / 2, y / 2);
			switch (format) {
				case kPixelFormatARGB32:
				case kPixelFormatABGR: StoreWordLE(row + 4 * x, r << 8 | g << 16 | uint32_t(b) << 24); break;
				case kPixelFormatBGRA: StoreWordLE(row + 4 * x, b | g << 8 | r << 16); break;
				case kPixelFormatRGBA: StoreWordLE(row + 4 * x, r | g << 8 | b << 16); break;
				case kPixelFormatRGB24:
					row[3 * x] = uint8_t(r), row[3 * x + 1] = uint8_t(g), row[3 * x + 2] = uint8_t(b);
					break;
				case kPixelFormatYUV420Planar:
					row[x] = luma;
					if (x % 2 == 0 && y % 2 == 0 && x / 2 < w / 2 && y / 2 < h / 2) {
						const uint32_t cs = rowBytes / 2;
						uint8_t* u = buf + size_t(rowBytes) * pixHeight;
						uint8_t* v = u + size_t(cs) * (pixHeight / 2);
						u[(y / 2) * cs + x / 2] = cb;
						v[(y / 2) * cs + x / 2] = cr;
					}
					break;
				case kPixelFormatYUVS:
				case kPixelFormat2VUY:
					if (x % 2 == 0 && x + 1 < w) {
						const uint8_t y1 = LumaAt(vop->planeY, x + 1, y);
						uint8_t* o = row + 2 * x;
						if (format == kPixelFormatYUVS)
							o[0] = luma, o[1] = cb, o[2] = y1, o[3] = cr;
						else
							o[0] = cb, o[1] = luma, o[2] = cr, o[3] = y1;
					}
					break;
			}
		}
	}
}

struct OutputRun {
	std::vector<uint8_t> actual, expected;
	int16_t status;
};

// Converts the context's planes into a sentinel-filled buffer and builds the reference beside it.
OutputRun RunOutput(Context& c, uint32_t format, uint32_t padding,
                    const std::function<bool(uint32_t, uint32_t)>& include)
{
	const Vop* vop = c.vop();
	const uint32_t rowBytes = MinRowBytes(format, vop->width) + padding;
	OutputRun run;
	run.actual.assign(OutputBufferSize(format, rowBytes, vop->height) + 64, kSentinel);
	run.expected = run.actual;
	c.params->pixelFormat = format;
	c.params->pixMap->rowBytes = uint16_t(rowBytes);
	c.params->pixMap->baseAddr = run.actual.data();
	run.status = PlanesToPixMap(c.params);
	ReferenceOutput(format, vop, run.expected.data(), rowBytes, vop->height, vop->width, vop->height,
	                include);
	return run;
}

const std::pair<uint32_t, uint32_t> kSizes[] = {{16, 16}, {33, 17}, {34, 18}, {47, 31},
                                                {1, 1},   {2, 3},   {64, 48}};

TEST(PlanesToPixMap, WholePictureMatchesReferenceForEveryFormat)
{
	std::mt19937 rng(1);
	for (auto [w, h] : kSizes) {
		Context c(2, w, h);
		ASSERT_NE(c.params, nullptr);
		FillPlane(c.vop()->planeY, rng), FillPlane(c.vop()->planeU, rng), FillPlane(c.vop()->planeV, rng);
		c.vop()->codingType = kCodingTypeI;
		for (uint32_t format : kOutputFormats) {
			for (uint32_t padding : {0u, 7u}) {
				OutputRun run = RunOutput(c, format, padding, [](uint32_t, uint32_t) { return true; });
				ASSERT_EQ(run.status, kKorvoOK);
				ASSERT_EQ(run.actual, run.expected) << "format " << std::hex << format << std::dec << " size "
				                                    << w << "x" << h << " padding " << padding;
			}
		}
	}
}

TEST(PlanesToPixMap, ChangedMacroBlocksOnlyAreConverted)
{
	std::mt19937 rng(2);
	for (auto [w, h] : kSizes) {
		Context c(2, w, h);
		ASSERT_NE(c.params, nullptr);
		Vop* vop = c.vop();
		FillPlane(vop->planeY, rng), FillPlane(vop->planeU, rng), FillPlane(vop->planeV, rng);
		vop->codingType = kCodingTypeP;
		vop->coded = 1;
		for (uint32_t i = 0; i < vop->mbCount; ++i)
			vop->mbs[i]->codedMb = rng() % 2;
		// Macroblocks past an early end of the data are never output, whatever codedMb says.
		vop->mbsRead = int16_t(vop->mbCount - vop->mbCount / 4);
		for (uint32_t i = vop->mbsRead; i < vop->mbCount; ++i)
			vop->mbs[i]->codedMb = 1;
		auto changed = [vop](uint32_t x, uint32_t y) {
			const uint32_t i = (y / 16) * vop->mbWidth + x / 16;
			return i < uint32_t(vop->mbsRead) && vop->mbs[i]->codedMb != 0;
		};
		for (uint32_t format : kOutputFormats) {
			OutputRun run = RunOutput(c, format, 5, changed);
			ASSERT_EQ(run.status, kKorvoOK);
			ASSERT_EQ(run.actual, run.expected)
			        << "format " << std::hex << format << std::dec << " size " << w << "x" << h;
		}
	}
}

TEST(PlanesToPixMap, GoldenLuminanceLevels)
{
	// Y' 16, 235, 236 with neutral chroma: black, 254 (219 * 76309 >> 16) and white.
	Context c(2, 6, 2);
	Vop* vop = c.vop();
	const uint8_t levels[] = {16, 16, 235, 235, 236, 236};
	const uint8_t rgb[] = {0, 0, 254, 254, 255, 255};
	for (uint32_t y = 0; y < 2; ++y)
		for (uint32_t x = 0; x < 6; ++x)
			LumaAt(vop->planeY, x, y) = levels[x];
	for (uint32_t x = 0; x < 3; ++x)
		ChromaAt(vop->planeU, x, 0) = ChromaAt(vop->planeV, x, 0) = 128;
	vop->codingType = kCodingTypeI;
	struct Expect {
		uint32_t format, bytes;
		int alpha;
	} expects[] = {{kPixelFormatARGB32, 4, 0},
	               {kPixelFormatBGRA, 4, 3},
	               {kPixelFormatRGBA, 4, 3},
	               {kPixelFormatRGB24, 3, -1}};
	for (const Expect& e : expects) {
		std::vector<uint8_t> out(6 * e.bytes * 2, kSentinel);
		c.params->pixelFormat = e.format;
		c.params->pixMap->rowBytes = uint16_t(6 * e.bytes);
		c.params->pixMap->baseAddr = out.data();
		ASSERT_EQ(PlanesToPixMap(c.params), kKorvoOK);
		for (uint32_t x = 0; x < 6; ++x)
			for (uint32_t i = 0; i < e.bytes; ++i)
				EXPECT_EQ(out[e.bytes * x + i], int(i) == e.alpha ? 0 : rgb[x]) << e.format << " x " << x;
	}
}

TEST(PlanesToPixMap, PackedYUVOfOddWidthLeavesLastColumn)
{
	Context c(2, 5, 2);
	Vop* vop = c.vop();
	for (uint32_t x = 0; x < 5; ++x)
		LumaAt(vop->planeY, x, 0) = LumaAt(vop->planeY, x, 1) = uint8_t(10 + x);
	for (uint32_t k = 0; k < 3; ++k)
		ChromaAt(vop->planeU, k, 0) = uint8_t(100 + k), ChromaAt(vop->planeV, k, 0) = uint8_t(200 + k);
	vop->codingType = kCodingTypeI;
	std::vector<uint8_t> out(2 * 12, kSentinel);
	c.params->pixelFormat = kPixelFormatYUVS;
	c.params->pixMap->rowBytes = 12;
	c.params->pixMap->baseAddr = out.data();
	ASSERT_EQ(PlanesToPixMap(c.params), kKorvoOK);
	const uint8_t row[12] = {10, 100, 11, 200, 12, 101, 13, 201, kSentinel, kSentinel, kSentinel, kSentinel};
	for (int r = 0; r < 2; ++r)
		for (int i = 0; i < 12; ++i)
			EXPECT_EQ(out[12 * r + i], row[i]) << r << "," << i;
}

TEST(PlanesToPixMap, FullRefreshUncodedVopsAndFormatErrors)
{
	Context c(2, 20, 20);
	Vop* vop = c.vop();
	std::mt19937 rng(3);
	FillPlane(vop->planeY, rng), FillPlane(vop->planeU, rng), FillPlane(vop->planeV, rng);
	std::vector<uint8_t> out(4 * 20 * 20, kSentinel);
	const std::vector<uint8_t> untouched = out;
	c.params->pixMap->rowBytes = 80;
	c.params->pixMap->baseAddr = out.data();
	auto convert = [&](uint32_t format, uint8_t fullRefresh) {
		c.params->pixelFormat = format;
		c.params->fullRefresh = fullRefresh;
		const int16_t status = PlanesToPixMap(c.params);
		EXPECT_EQ(c.params->fullRefresh, 0) << "fullRefresh stays set, format " << format;
		return status;
	};
	// An uncoded P-VOP changes nothing, unless the whole picture is asked for.
	vop->codingType = kCodingTypeP;
	vop->coded = 0;
	EXPECT_EQ(convert(kPixelFormatBGRA, 0), kKorvoOK);
	EXPECT_EQ(out, untouched);
	// No format and unknown formats convert nothing.
	EXPECT_EQ(convert(kPixelFormatNone, 1), kKorvoOK);
	EXPECT_EQ(convert(0x12345678u, 1), kKorvoBadPixelFormat);
	EXPECT_EQ(convert(kPixelFormatARGB32 + 1, 0), kKorvoBadPixelFormat);
	EXPECT_EQ(out, untouched);
	// A P-VOP whose macroblocks are all skipped is left alone too, and forced whole with fullRefresh.
	vop->coded = 1;
	for (uint32_t i = 0; i < vop->mbCount; ++i)
		vop->mbs[i]->codedMb = 0;
	EXPECT_EQ(convert(kPixelFormatBGRA, 0), kKorvoOK);
	EXPECT_EQ(out, untouched);
	EXPECT_EQ(convert(kPixelFormatBGRA, 1), kKorvoOK);
	std::vector<uint8_t> expected = untouched;
	ReferenceOutput(kPixelFormatBGRA, vop, expected.data(), 80, 20, 20, 20,
	                [](uint32_t, uint32_t) { return true; });
	EXPECT_EQ(out, expected);
}

TEST(PlanesToPixMap, RowBytesTooSmallFailsAndTouchesNothing)
{
	Context c(2, 21, 9);
	Vop* vop = c.vop();
	vop->codingType = kCodingTypeI;
	for (uint32_t format : kOutputFormats) {
		const uint32_t need = MinRowBytes(format, 21);
		std::vector<uint8_t> out(OutputBufferSize(format, need, 9), kSentinel);
		const std::vector<uint8_t> untouched = out;
		c.params->pixelFormat = format;
		c.params->pixMap->baseAddr = out.data();
		// Only the low 14 bits count: 0x4000 | (need - 1) is one byte short, 0xC000 | need fits.
		for (uint32_t rowBytes : {need - 1, 0x4000u | (need - 1), 0x4000u}) {
			c.params->pixMap->rowBytes = uint16_t(rowBytes);
			c.params->fullRefresh = 1;
			EXPECT_EQ(PlanesToPixMap(c.params), kKorvoBadPixelFormat) << format << " " << rowBytes;
			EXPECT_EQ(c.params->fullRefresh, 0);
			EXPECT_EQ(out, untouched);
		}
		c.params->pixMap->rowBytes = uint16_t(0xC000u | need);
		EXPECT_EQ(PlanesToPixMap(c.params), kKorvoOK);
		EXPECT_NE(out, untouched);
	}
}

// ---- Input reference --------------------------------------------------------------------------

const uint32_t kInputFormats[] = {kPixelFormatRGB24, kPixelFormatARGB32, kPixelFormatBGRA, kPixelFormatYUVS};

uint32_t InputRowBytes(uint32_t format, uint32_t w)
{
	switch (format) {
		case kPixelFormatRGB24: return 3 * w;
		case kPixelFormatYUVS: return 4 * ((w + 1) / 2);
		default: return 4 * w;
	}
}

void ReadRGB(uint32_t format, const uint8_t* px, int* r, int* g, int* b)
{
	switch (format) {
		case kPixelFormatRGB24: *r = px[0], *g = px[1], *b = px[2]; break;
		case kPixelFormatARGB32: *r = px[1], *g = px[2], *b = px[3]; break;
		default: *r = px[2], *g = px[1], *b = px[0]; break;  // BGRA
	}
}

int YOf(int r, int g, int b) { return Clamp255(((16829 * r + 33038 * g + 6415 * b) >> 16) + 16); }
int CbOf(int r, int g, int b) { return Clamp255(((-9714 * r - 19070 * g + 28784 * b) >> 16) + 128); }
int CrOf(int r, int g, int b) { return Clamp255(((28784 * r - 24103 * g - 4681 * b) >> 16) + 128); }

void ReferenceInput(uint32_t format, const uint8_t* in, uint32_t rowBytes, uint32_t w, uint32_t h, Plane* y,
                    Plane* u, Plane* v)
{
	const uint32_t bpp = format == kPixelFormatRGB24 ? 3 : 4;
	for (uint32_t j = 0; j < h; ++j) {
		const uint8_t* row = in + size_t(j) * rowBytes;
		for (uint32_t x = 0; x < w; ++x) {
			if (format == kPixelFormatYUVS) {
				LumaAt(y, x, j) = row[4 * (x / 2) + 2 * (x % 2)];
				if (x % 2 == 1 && j % 2 == 1) {
					const uint8_t* above = row - rowBytes;
					const uint32_t k = 4 * (x / 2);
					ChromaAt(u, x / 2, j / 2) = uint8_t((above[k + 1] + row[k + 1] + 1) / 2);
					ChromaAt(v, x / 2, j / 2) = uint8_t((above[k + 3] + row[k + 3] + 1) / 2);
				}
				continue;
			}
			int r, g, b;
			ReadRGB(format, row + bpp * x, &r, &g, &b);
			LumaAt(y, x, j) = uint8_t(YOf(r, g, b));
			if (x % 2 == 1 && j % 2 == 1) {
				int cb = CbOf(r, g, b), cr = CrOf(r, g, b);
				if (format == kPixelFormatARGB32) {
					int lr, lg, lb;
					ReadRGB(format, row + bpp * (x - 1), &lr, &lg, &lb);
					cb = (cb + CbOf(lr, lg, lb)) >> 1;
					cr = (cr + CrOf(lr, lg, lb)) >> 1;
				}
				ChromaAt(u, x / 2, j / 2) = uint8_t(cb);
				ChromaAt(v, x / 2, j / 2) = uint8_t(cr);
			}
		}
	}
}

// A mode-1 context whose source planes are sentinel-filled, plus reference planes of the same shape.
struct InputFixture {
	Context c;
	std::vector<uint8_t> picture;
	InputFixture(uint32_t w, uint32_t h) : c(1, w, h)
	{
		for (Plane* p : {c.vop()->srcY, c.vop()->srcU, c.vop()->srcV})
			std::memset(p->data, kSentinel, size_t(p->width) * p->height);
	}
	int16_t Convert(uint32_t format, uint32_t rowBytes)
	{
		c.params->pixelFormat = format;
		c.params->pixMap->rowBytes = uint16_t(rowBytes);
		c.params->pixMap->baseAddr = picture.data();
		return PixMapToPlanes(c.params);
	}
};

Plane* ClonePlane(const Plane* p, std::vector<uint8_t>& storage, Plane& clone)
{
	storage = PlaneCopy(p);
	clone = *p;
	clone.data = storage.data();
	return &clone;
}

TEST(PixMapToPlanes, EveryInputFormatMatchesReference)
{
	std::mt19937 rng(4);
	for (auto [w, h] : kSizes) {
		for (uint32_t format : kInputFormats) {
			for (uint32_t padding : {0u, 3u}) {
				InputFixture f(w, h);
				const uint32_t rowBytes = InputRowBytes(format, w) + padding;
				f.picture.resize(size_t(rowBytes) * h);
				FillRandom(f.picture.data(), f.picture.size(), rng);
				Vop* vop = f.c.vop();
				std::vector<uint8_t> sy, su, sv;
				Plane ry, ru, rv;
				ReferenceInput(format, f.picture.data(), rowBytes, w, h, ClonePlane(vop->srcY, sy, ry),
				               ClonePlane(vop->srcU, su, ru), ClonePlane(vop->srcV, sv, rv));
				ASSERT_EQ(f.Convert(format, rowBytes), kKorvoOK);
				EXPECT_EQ(PlaneCopy(vop->srcY), sy) << format << " " << w << "x" << h;
				EXPECT_EQ(PlaneCopy(vop->srcU), su) << format << " " << w << "x" << h;
				EXPECT_EQ(PlaneCopy(vop->srcV), sv) << format << " " << w << "x" << h;
			}
		}
	}
}

TEST(PixMapToPlanes, WhiteAndBlackAndChromaSiting)
{
	InputFixture f(2, 2);
	Vop* vop = f.c.vop();
	// White top row, black bottom row: Y' 234 and 16 with neutral chroma.
	const uint8_t bgra[] = {255, 255, 255, 0, 255, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0};
	f.picture.assign(bgra, bgra + sizeof bgra);
	ASSERT_EQ(f.Convert(kPixelFormatBGRA, 8), kKorvoOK);
	EXPECT_EQ(LumaAt(vop->srcY, 0, 0), 234);
	EXPECT_EQ(LumaAt(vop->srcY, 1, 0), 234);
	EXPECT_EQ(LumaAt(vop->srcY, 0, 1), 16);
	EXPECT_EQ(ChromaAt(vop->srcU, 0, 0), 128);
	EXPECT_EQ(ChromaAt(vop->srcV, 0, 0), 128);

	// Lower row R = 185 (Cb 100) and R = 180 (Cb 101), upper row pure blue (Cb 240).
	const uint8_t argb[] = {0, 0, 0, 255, 0, 0, 0, 255, 0, 185, 0, 0, 0, 180, 0, 0};
	f.picture.assign(argb, argb + sizeof argb);
	ASSERT_EQ(f.Convert(kPixelFormatARGB32, 8), kKorvoOK);
	EXPECT_EQ(ChromaAt(vop->srcU, 0, 0), 100);  // (100 + 101) >> 1, upper row ignored
	const uint8_t rgb[] = {0, 0, 255, 0, 0, 255, 185, 0, 0, 180, 0, 0};
	f.picture.assign(rgb, rgb + sizeof rgb);
	ASSERT_EQ(f.Convert(kPixelFormatRGB24, 6), kKorvoOK);
	EXPECT_EQ(ChromaAt(vop->srcU, 0, 0), 101);  // the bottom-right pixel alone
	const uint8_t white[] = {255, 255, 255, 255, 255, 255, 0, 0, 0, 0, 0, 0};
	f.picture.assign(white, white + sizeof white);
	ASSERT_EQ(f.Convert(kPixelFormatRGB24, 6), kKorvoOK);
	EXPECT_EQ(LumaAt(vop->srcY, 1, 0), 234);
	EXPECT_EQ(LumaAt(vop->srcY, 1, 1), 16);
	EXPECT_EQ(ChromaAt(vop->srcV, 0, 0), 128);
}

TEST(PixMapToPlanes, YUVSOfOddSizeAveragesChromaWithRounding)
{
	InputFixture f(3, 3);
	Vop* vop = f.c.vop();
	// Rows of two pairs (the second half used): Y'0 Cb Y'1 Cr.
	const uint8_t yuvs[] = {10, 100, 11, 200, 12, 50, 99, 60,  //
	                        20, 101, 21, 203, 22, 51, 99, 61,  //
	                        30, 7,   31, 7,   32, 7,  99, 7};
	f.picture.assign(yuvs, yuvs + sizeof yuvs);
	ASSERT_EQ(f.Convert(kPixelFormatYUVS, 8), kKorvoOK);
	for (uint32_t y = 0; y < 3; ++y)
		for (uint32_t x = 0; x < 3; ++x)
			EXPECT_EQ(LumaAt(vop->srcY, x, y), 10 * (y + 1) + x);
	EXPECT_EQ(ChromaAt(vop->srcU, 0, 0), 101);  // (100 + 101 + 1) >> 1
	EXPECT_EQ(ChromaAt(vop->srcV, 0, 0), 202);  // (200 + 203 + 1) >> 1
	// Only whole 2x2 groups give chroma: the odd last column and row give none.
	EXPECT_EQ(ChromaAt(vop->srcU, 1, 0), kSentinel);
	EXPECT_EQ(ChromaAt(vop->srcU, 0, 1), kSentinel);
}

TEST(PixMapToPlanes, FormatAndRowBytesErrorsTouchNothing)
{
	InputFixture f(9, 4);
	Vop* vop = f.c.vop();
	const std::vector<uint8_t> before = PlaneCopy(vop->srcY);
	f.picture.assign(4 * 9 * 4, 77);
	for (uint32_t format :
	     {kPixelFormatNone, kPixelFormatRGBA, kPixelFormatABGR, kPixelFormat2VUY, 0x12345678u})
		EXPECT_EQ(f.Convert(format, 36), kKorvoBadPixelFormat) << format;
	for (uint32_t format : kInputFormats) {
		const uint32_t need = InputRowBytes(format, 9);
		EXPECT_EQ(f.Convert(format, need - 1), kKorvoBadPixelFormat) << format;
		EXPECT_EQ(f.Convert(format, 0x4000u | (need - 1)), kKorvoBadPixelFormat) << format;
	}
	EXPECT_EQ(PlaneCopy(vop->srcY), before);
	// A decoder context has no source planes to convert into.
	Context decoder(2, 9, 4);
	decoder.params->pixelFormat = kPixelFormatBGRA;
	decoder.params->pixMap->rowBytes = 36;
	decoder.params->pixMap->baseAddr = f.picture.data();
	EXPECT_EQ(PixMapToPlanes(decoder.params), kKorvoBadPixelFormat);
}

TEST(PixMapToPlanes, YUVSOutputReadsBackBitExact)
{
	// The output repeats each chroma row for both picture rows; averaging them back is exact.
	std::mt19937 rng(5);
	for (auto [w, h] : {std::pair{48u, 32u}, std::pair{34u, 18u}}) {
		Context c(1, w, h);
		Vop* vop = c.vop();
		for (Plane* p : {vop->planeY, vop->planeU, vop->planeV})
			FillPlane(p, rng);
		vop->codingType = kCodingTypeI;
		std::vector<uint8_t> picture(size_t(2 * w) * h);
		c.params->pixelFormat = kPixelFormatYUVS;
		c.params->pixMap->rowBytes = uint16_t(2 * w);
		c.params->pixMap->baseAddr = picture.data();
		ASSERT_EQ(PlanesToPixMap(c.params), kKorvoOK);
		ASSERT_EQ(PixMapToPlanes(c.params), kKorvoOK);
		for (uint32_t y = 0; y < h; ++y)
			for (uint32_t x = 0; x < w; ++x)
				ASSERT_EQ(LumaAt(vop->srcY, x, y), LumaAt(vop->planeY, x, y));
		for (uint32_t y = 0; y < h / 2; ++y)
			for (uint32_t x = 0; x < w / 2; ++x) {
				ASSERT_EQ(ChromaAt(vop->srcU, x, y), ChromaAt(vop->planeU, x, y));
				ASSERT_EQ(ChromaAt(vop->srcV, x, y), ChromaAt(vop->planeV, x, y));
			}
	}
}

TEST(PixMapToPlanes, PlanarInputIsTheDecoderOutputCopiedBack)
{
	// Planar 4:2:0 in the decoder's own output layout: written out, read back, every sample equal;
	// padded rows, odd sizes, and nothing outside the picture touched.
	std::mt19937 rng(9);
	for (auto [w, h, rowBytes] :
	     {std::tuple{48u, 32u, 48u}, std::tuple{35u, 19u, 40u}, std::tuple{16u, 16u, 64u}}) {
		Context c(1, w, h);
		Vop* vop = c.vop();
		for (Plane* p : {vop->planeY, vop->planeU, vop->planeV})
			FillPlane(p, rng);
		for (Plane* p : {vop->srcY, vop->srcU, vop->srcV})
			std::memset(p->data, kSentinel, size_t(p->width) * p->height);
		vop->codingType = kCodingTypeI;
		std::vector<uint8_t> picture(size_t(rowBytes) * h + 2 * size_t(rowBytes / 2) * (h / 2), 0);
		c.params->pixelFormat = kPixelFormatYUV420Planar;
		c.params->pixMap->rowBytes = uint16_t(rowBytes);
		c.params->pixMap->baseAddr = picture.data();
		ASSERT_EQ(PlanesToPixMap(c.params), kKorvoOK);
		ASSERT_EQ(PixMapToPlanes(c.params), kKorvoOK);
		for (uint32_t y = 0; y < h; ++y)
			for (uint32_t x = 0; x < w; ++x)
				ASSERT_EQ(LumaAt(vop->srcY, x, y), LumaAt(vop->planeY, x, y)) << x << "," << y;
		EXPECT_EQ(LumaAt(vop->srcY, w, 0), kSentinel);
		EXPECT_EQ(LumaAt(vop->srcY, 0, h), kSentinel);
		for (uint32_t y = 0; y < h / 2; ++y)
			for (uint32_t x = 0; x < w / 2; ++x) {
				ASSERT_EQ(ChromaAt(vop->srcU, x, y), ChromaAt(vop->planeU, x, y)) << x << "," << y;
				ASSERT_EQ(ChromaAt(vop->srcV, x, y), ChromaAt(vop->planeV, x, y)) << x << "," << y;
			}
		EXPECT_EQ(ChromaAt(vop->srcU, w / 2, 0), kSentinel);
		// Rows shorter than the picture are refused before anything is copied.
		c.params->pixMap->rowBytes = uint16_t(w - 1);
		std::memset(vop->srcY->data, kSentinel, size_t(vop->srcY->width) * vop->srcY->height);
		EXPECT_EQ(PixMapToPlanes(c.params), kKorvoBadPixelFormat);
		EXPECT_EQ(LumaAt(vop->srcY, 0, 0), kSentinel);
	}
}

TEST(PixMapToPlanes, PlanarInputCodesLikeYuvsWithRepeatedChroma)
{
	// 4:2:2 input whose two rows of each chroma pair are equal averages to the same 4:2:0 picture, so
	// both inputs must give the same chunks.
	const uint32_t w = 64, h = 48;
	std::mt19937 rng(11);
	std::vector<uint8_t> planar(size_t(w) * h * 3 / 2), yuvs(size_t(2 * w) * h);
	for (uint8_t& b : planar)
		b = uint8_t(rng());
	const uint8_t* u = planar.data() + size_t(w) * h;
	const uint8_t* v = u + size_t(w / 2) * (h / 2);
	for (uint32_t y = 0; y < h; ++y)
		for (uint32_t x = 0; x < w; ++x) {
			uint8_t* pair = &yuvs[size_t(y) * 2 * w + 4 * (x / 2)];
			pair[2 * (x & 1)] = planar[size_t(y) * w + x];
			pair[1] = u[(y / 2) * (w / 2) + x / 2];
			pair[3] = v[(y / 2) * (w / 2) + x / 2];
		}
	std::vector<uint8_t> chunks[2];
	for (int k = 0; k < 2; ++k) {
		Context c(1, w, h);
		c.params->pixelFormat = k ? kPixelFormatYUVS : kPixelFormatYUV420Planar;
		c.params->pixMap->rowBytes = uint16_t(k ? 2 * w : w);
		c.params->pixMap->baseAddr = k ? yuvs.data() : planar.data();
		for (int f = 0; f < 2; ++f) {
			ASSERT_EQ(CompressPixMap(c.params), kKorvoOK);
			chunks[k].insert(chunks[k].end(), c.params->stream, c.params->stream + c.params->streamBytes);
		}
	}
	EXPECT_FALSE(chunks[0].empty());
	EXPECT_EQ(chunks[0], chunks[1]);
}

}  // namespace
