// Encoder input: the caller's RGB, 4:2:2 or 4:2:0 picture into the Vop's 4:2:0 source planes, with the
// BT.601 studio-swing colour matrices of that conversion.
#include <cstring>

#include "frame_internal.h"
#include "kernels_internal.h"
#include "korvo.h"
#include "pixel_internal.h"
#include "workers_internal.h"
extern "C" {

const int32_t RGB2YUVMATRIX[3][3] = {
        {16829, 33038, 6415},
        {-9714, -19070, 28784},
        {28784, -24103, -4681},
};
const int32_t YUVOFFSET[3] = {16, 128, 128};

}  // extern "C"

namespace {

using korvo::PictureArea;

// A packed RGB layout: bytes per pixel and the byte offsets of R, G and B.
struct RGB24Layout {
	static constexpr int kBytes = 3, kR = 0, kG = 1, kB = 2;
};
struct ARGB32Layout {
	static constexpr int kBytes = 4, kR = 1, kG = 2, kB = 3;
};
struct BGRA32Layout {
	static constexpr int kBytes = 4, kR = 2, kG = 1, kB = 0;
};

// Full-range R, G, B (0..255) keep every product sum inside the clamp table: Y' lies in 16..235
// and Cb, Cr in 16..240 before clamping, so the table is indexed directly.
inline int32_t MatrixRow(int row, int32_t r, int32_t g, int32_t b)
{
	return ((RGB2YUVMATRIX[row][0] * r + RGB2YUVMATRIX[row][1] * g + RGB2YUVMATRIX[row][2] * b) >> 16) +
	       YUVOFFSET[row];
}

inline uint8_t Table(int32_t v) { return static_cast<uint8_t>(IClampTable[v]); }

template <class Layout>
void LumaRow(const uint8_t* in, uint8_t* y, uint32_t width)
{
	for (uint32_t x = 0; x < width; ++x) {
		const uint8_t* p = in + Layout::kBytes * x;
		y[x] = Table(MatrixRow(0, p[Layout::kR], p[Layout::kG], p[Layout::kB]));
	}
}

// The chroma of each 2x2 group from its lower row: the right pixel's, or with averageLower the mean
// of the two pixels' clamped values.
template <class Layout, bool averageLower>
void ChromaRow(const uint8_t*, const uint8_t* lower, uint8_t* u, uint8_t* v, uint32_t pairs)
{
	for (uint32_t k = 0; k < pairs; ++k) {
		const uint8_t* right = lower + Layout::kBytes * (2 * k + 1);
		int32_t cb = Table(MatrixRow(1, right[Layout::kR], right[Layout::kG], right[Layout::kB]));
		int32_t cr = Table(MatrixRow(2, right[Layout::kR], right[Layout::kG], right[Layout::kB]));
		if constexpr (averageLower) {
			const uint8_t* left = right - Layout::kBytes;
			cb = (cb + Table(MatrixRow(1, left[Layout::kR], left[Layout::kG], left[Layout::kB]))) >> 1;
			cr = (cr + Table(MatrixRow(2, left[Layout::kR], left[Layout::kG], left[Layout::kB]))) >> 1;
		}
		u[k] = static_cast<uint8_t>(cb);
		v[k] = static_cast<uint8_t>(cr);
	}
}

// Luminance of every row, chroma once per 2x2 group (rows 2k and 2k + 1) by the row kernels given.
void RowsToPlanes(const PixMap* pixMap, const PictureArea& area, Plane* y, Plane* u, Plane* v, InputLumaFn luma,
                  InputChromaFn chroma)
{
	for (uint32_t row = 0; row < area.height; ++row) {
		const uint8_t* in = pixMap->baseAddr + static_cast<size_t>(row) * area.rowBytes;
		luma(in, korvo::PlaneLumaAt(y, 0, row), area.width);
		if ((row & 1) == 0)
			continue;
		chroma(in - area.rowBytes, in, korvo::PlaneChromaAt(u, 0, row >> 1), korvo::PlaneChromaAt(v, 0, row >> 1),
		       area.width >> 1);
	}
}

template <class Layout, bool averageLower>
void PackedRGBToPlanes(const PixMap* pixMap, const PictureArea& area, Plane* y, Plane* u, Plane* v)
{
	RowsToPlanes(pixMap, area, y, u, v, LumaRow<Layout>, ChromaRow<Layout, averageLower>);
}

// BGRA, the encoder add-on's layout, and 4:2:2 packed Y'0 Cb Y'1 Cr (luminance copied, the chroma
// of the two rows of each 2x2 group averaged with rounding) go through the kernel table.
void BGRAToPlanes(const PixMap* pixMap, const PictureArea& area, Plane* y, Plane* u, Plane* v)
{
	RowsToPlanes(pixMap, area, y, u, v, gKernels.lumaFromBGRA, gKernels.chromaFromBGRA);
}

void YUVSToPlanes(const PixMap* pixMap, const PictureArea& area, Plane* y, Plane* u, Plane* v)
{
	RowsToPlanes(pixMap, area, y, u, v, gKernels.lumaFromYUVS, gKernels.chromaFromYUVS);
}

// 4:2:0 planar in the layout the decoder writes: luminance rows rowBytes apart, then Cb and then Cr
// with half the rows (of the caller's full height) and half the stride; copied as they are.
void YUV420PlanarToPlanes(const PixMap* pixMap, uint32_t layoutHeight, const PictureArea& area, Plane* y,
                          Plane* u, Plane* v)
{
	const uint32_t chromaStride = area.rowBytes / 2;
	const uint8_t* inY = pixMap->baseAddr;
	const uint8_t* inU = inY + static_cast<size_t>(layoutHeight) * area.rowBytes;
	const uint8_t* inV = inU + static_cast<size_t>(layoutHeight / 2) * chromaStride;
	for (uint32_t row = 0; row < area.height; ++row)
		std::memcpy(korvo::PlaneLumaAt(y, 0, row), inY + static_cast<size_t>(row) * area.rowBytes,
		            area.width);
	for (uint32_t row = 0; row < area.height / 2; ++row) {
		std::memcpy(korvo::PlaneChromaAt(u, 0, row), inU + static_cast<size_t>(row) * chromaStride,
		            area.width / 2);
		std::memcpy(korvo::PlaneChromaAt(v, 0, row), inV + static_cast<size_t>(row) * chromaStride,
		            area.width / 2);
	}
}

// Bytes a caller row of width pixels occupies. A 4:2:2 row of odd width ends in a half-used pair
// that carries the last column's luminance.
uint64_t PackedRowBytes(uint32_t format, uint64_t width)
{
	switch (format) {
		case kPixelFormatRGB24: return 3 * width;
		case kPixelFormatYUVS: return 4 * ((width + 1) >> 1);
		case kPixelFormatYUV420Planar: return width;
		default: return 4 * width;
	}
}

// Picture columns (rows) that a luminance and two chroma planes can hold.
uint32_t PlaneCapacity(uint32_t luma, uint32_t chromaU, uint32_t chromaV)
{
	const uint32_t fromLuma = luma >= 32 ? luma - 32 : 0;
	const uint32_t chroma = std::min(chromaU, chromaV);
	const uint64_t fromChroma = chroma >= 16 ? 2 * static_cast<uint64_t>(chroma - 16) + 1 : 0;
	return static_cast<uint32_t>(std::min<uint64_t>(fromLuma, fromChroma));
}

PictureArea InputArea(const PixMap* pixMap, const Plane* y, const Plane* u, const Plane* v, uint32_t format)
{
	if (y == nullptr || u == nullptr || v == nullptr)
		return PictureArea{};
	return korvo::PictureArea_Make(PlaneCapacity(y->width, u->width, v->width),
	                               PlaneCapacity(y->height, u->height, v->height), pixMap,
	                               [format](uint64_t w) { return PackedRowBytes(format, w); });
}

// A view of the plane that starts `rows` rows further down.
Plane PlaneFrom(const Plane& plane, uint32_t rows)
{
	Plane view = plane;
	view.data += static_cast<size_t>(rows) * plane.width;
	view.height -= rows;
	return view;
}

template <void (*convert)(const PixMap*, const PictureArea&, Plane*, Plane*, Plane*)>
void ConvertInput(const PixMap* pixMap, Plane* y, Plane* u, Plane* v, uint32_t format)
{
	const PictureArea area = InputArea(pixMap, y, u, v, format);
	if (area.valid)
		convert(pixMap, area, y, u, v);
}

}  // namespace

void LumaFromBGRA_C(const uint8_t* in, uint8_t* y, uint32_t width) { LumaRow<BGRA32Layout>(in, y, width); }

void ChromaFromBGRA_C(const uint8_t* upper, const uint8_t* lower, uint8_t* u, uint8_t* v, uint32_t pairs)
{
	ChromaRow<BGRA32Layout, false>(upper, lower, u, v, pairs);
}

void LumaFromYUVS_C(const uint8_t* in, uint8_t* y, uint32_t width)
{
	for (uint32_t x = 0; x < width; ++x)
		y[x] = in[2 * x];
}

void ChromaFromYUVS_C(const uint8_t* upper, const uint8_t* lower, uint8_t* u, uint8_t* v, uint32_t pairs)
{
	for (uint32_t k = 0; k < pairs; ++k) {
		u[k] = static_cast<uint8_t>((upper[4 * k + 1] + lower[4 * k + 1] + 1) >> 1);
		v[k] = static_cast<uint8_t>((upper[4 * k + 3] + lower[4 * k + 3] + 1) >> 1);
	}
}

extern "C" {

void ARGBPackedToYUV420Subsampled(const PixMap* pixMap, Plane* y, Plane* u, Plane* v)
{
	ConvertInput<PackedRGBToPlanes<ARGB32Layout, true>>(pixMap, y, u, v, kPixelFormatARGB32);
}

void RGBPackedToYUV420(const PixMap* pixMap, Plane* y, Plane* u, Plane* v)
{
	ConvertInput<PackedRGBToPlanes<RGB24Layout, false>>(pixMap, y, u, v, kPixelFormatRGB24);
}

void BGRAPackedToYUV420(const PixMap* pixMap, Plane* y, Plane* u, Plane* v)
{
	ConvertInput<BGRAToPlanes>(pixMap, y, u, v, kPixelFormatBGRA);
}

void YUVSPackedToYUV420(const PixMap* pixMap, Plane* y, Plane* u, Plane* v)
{
	ConvertInput<YUVSToPlanes>(pixMap, y, u, v, kPixelFormatYUVS);
}

// Fails with 2, touching nothing, for a format that is not an input format or a caller picture
// whose rows cannot hold its width.
int16_t PixMapToPlanes(KorvParams* params)
{
	const uint32_t format = params->pixelFormat;
	Vop* vop = params->vop;
	if (vop == nullptr || params->pixMap == nullptr)
		return kKorvoBadPixelFormat;
	void (*convert)(const PixMap*, Plane*, Plane*, Plane*) = nullptr;
	switch (format) {
		case kPixelFormatARGB32: convert = ARGBPackedToYUV420Subsampled; break;
		case kPixelFormatRGB24: convert = RGBPackedToYUV420; break;
		case kPixelFormatBGRA: convert = BGRAPackedToYUV420; break;
		case kPixelFormatYUVS: convert = YUVSPackedToYUV420; break;
		case kPixelFormatYUV420Planar: break;
		default: return kKorvoBadPixelFormat;
	}
	// Only the Vop's own picture is read; the converters crop further to what the planes hold.
	PixMap picture = *params->pixMap;
	picture.width = std::min(picture.width, vop->width);
	picture.height = std::min(picture.height, vop->height);
	const PictureArea area = InputArea(&picture, vop->srcY, vop->srcU, vop->srcV, format);
	if (!area.valid)
		return kKorvoBadPixelFormat;
	if (format == kPixelFormatYUV420Planar) {
		// The chroma planes follow the caller's whole picture, whatever part of it is coded.
		YUV420PlanarToPlanes(&picture, params->pixMap->height, area, vop->srcY, vop->srcU, vop->srcV);
		return kKorvoOK;
	}
	// Rows pair up for the chroma and need nothing else from each other: bands of 16 rows go to the
	// context's workers, each converted on views of the picture and the planes from its first row.
	const uint32_t rowBytes = picture.rowBytes & 0x3FFFu;
	ForEachRow(Vop_Workers(vop), (picture.height + 15) / 16, [&](uint32_t band) {
		const uint32_t first = 16 * band;
		PixMap rows = picture;
		rows.baseAddr += static_cast<size_t>(first) * rowBytes;
		rows.height = std::min(16u, picture.height - first);
		Plane y = PlaneFrom(*vop->srcY, first), u = PlaneFrom(*vop->srcU, first / 2),
		      v = PlaneFrom(*vop->srcV, first / 2);
		convert(&rows, &y, &u, &v);
	});
	return kKorvoOK;
}

}  // extern "C"
