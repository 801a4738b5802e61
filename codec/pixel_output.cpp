// Decoder output: the reconstructed 4:2:0 planes into the caller's picture as packed RGB, packed
// 4:2:2 or planar 4:2:0, either the whole picture or only the macroblocks a P-VOP changed.
#include <cstring>

#include "frame_internal.h"
#include "kernels_internal.h"
#include "korvo.h"
#include "pixel_internal.h"
#include "workers_internal.h"
extern "C" {

const int32_t YUV2RGBMATRIX[5] = {korvo::kYFactor, korvo::kRFromCr, korvo::kGFromCb, korvo::kGFromCr,
                                  korvo::kBFromCb};

}  // extern "C"

namespace {

using korvo::PictureArea;

// Packed RGB layouts: bytes per pixel and byte offsets of R, G, B and the alpha byte (written as 0).
struct ARGB32Layout {
	static constexpr int kBytes = 4, kR = 1, kG = 2, kB = 3, kA = 0;
};
struct BGRA32Layout {
	static constexpr int kBytes = 4, kR = 2, kG = 1, kB = 0, kA = 3;
};
struct RGBA32Layout {
	static constexpr int kBytes = 4, kR = 0, kG = 1, kB = 2, kA = 3;
};
struct RGB24Layout {
	static constexpr int kBytes = 3, kR = 0, kG = 1, kB = 2, kA = -1;
};

// Byte offsets of Y'0, Cb, Y'1, Cr within a 4:2:2 pixel pair.
struct YUVSLayout {
	static constexpr int kY0 = 0, kCb = 1, kY1 = 2, kCr = 3;
};
struct VUYSLayout {
	static constexpr int kY0 = 1, kCb = 0, kY1 = 3, kCr = 2;
};

struct Rows {
	const uint8_t* y;
	const uint8_t* u;
	const uint8_t* v;
	uint8_t* out;
};

// With 8-bit samples (Y' - 16) * 76309 plus any chroma term stays within -277..534 after the
// shift, so the clamp table is indexed directly.
template <class L>
inline void StoreRGB(uint8_t* out, const int16_t* clamp, int32_t luma, int32_t tR, int32_t tG, int32_t tB)
{
	const int32_t yy = (luma - 16) * korvo::kYFactor;
	out[L::kR] = static_cast<uint8_t>(clamp[(yy + tR) >> 16]);
	out[L::kG] = static_cast<uint8_t>(clamp[(yy + tG) >> 16]);
	out[L::kB] = static_cast<uint8_t>(clamp[(yy + tB) >> 16]);
	if constexpr (L::kA >= 0)
		out[L::kA] = 0;
}

// Pixels x0..x1-1 of one row (x0 even); the chroma terms once per pixel pair.
template <class L>
void RGBRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0, uint32_t x1)
{
	const int16_t* clamp = IClampTable;
	uint32_t x = x0;
	int32_t tR = 0, tG = 0, tB = 0;
	auto chroma = [&](uint32_t k) {
		const int32_t cb = u[k] - 128, cr = v[k] - 128;
		tR = korvo::kRFromCr * cr;
		tG = korvo::kGFromCr * cr + korvo::kGFromCb * cb;
		tB = korvo::kBFromCb * cb;
	};
	for (; x + 1 < x1; x += 2) {
		chroma(x >> 1);
		StoreRGB<L>(out + L::kBytes * x, clamp, y[x], tR, tG, tB);
		StoreRGB<L>(out + L::kBytes * (x + 1), clamp, y[x + 1], tR, tG, tB);
	}
	if (x < x1) {
		chroma(x >> 1);
		StoreRGB<L>(out + L::kBytes * x, clamp, y[x], tR, tG, tB);
	}
}

// Whole pixel pairs only: an odd last column is not written.
template <class L>
void PackedYUVRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0, uint32_t x1)
{
	for (uint32_t x = x0; x + 1 < x1; x += 2) {
		uint8_t* o = out + 2 * x;
		o[L::kY0] = y[x];
		o[L::kY1] = y[x + 1];
		o[L::kCb] = u[x >> 1];
		o[L::kCr] = v[x >> 1];
	}
}

// The layouts the kernel table serves go through it; the others are converted here.
template <OutputRowFn KorvKernels::*kSlot>
void TableRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0, uint32_t x1)
{
	(gKernels.*kSlot)(y, u, v, out, x0, x1);
}

inline bool MacroBlockChanged(const Vop* vop, uint32_t index, uint32_t read)
{
	return index < read && vop->mbs[index]->codedMb != 0;
}

// Calls fn(y, x0, x1) for the pixels to convert in rows y < height of a plane whose macroblocks
// are mbSize samples wide: whole rows, or the runs of changed macroblocks cropped to width. Rows
// need nothing from each other; each macroblock row's worth goes to one of the context's workers.
template <class Fn>
void ForEachSpan(const Vop* vop, bool whole, uint32_t width, uint32_t height, uint32_t mbSize, Fn fn)
{
	const uint32_t read = korvo::MacroBlocksRead(vop);
	ForEachRow(Vop_Workers(vop), (height + mbSize - 1) / mbSize, [&](uint32_t band) {
		const uint32_t first = band * vop->mbWidth;
		for (uint32_t y = band * mbSize; y < height && y < (band + 1) * mbSize; ++y) {
			if (whole) {
				fn(y, 0u, width);
				continue;
			}
			for (uint32_t mx = 0; mx < vop->mbWidth && mx * mbSize < width;) {
				if (!MacroBlockChanged(vop, first + mx, read)) {
					++mx;
					continue;
				}
				uint32_t end = mx + 1;
				while (end < vop->mbWidth && MacroBlockChanged(vop, first + end, read))
					++end;
				fn(y, mx * mbSize, std::min(end * mbSize, width));
				mx = end;
			}
		}
	});
}

uint64_t RowBytes4(uint64_t w) { return 4 * w; }
uint64_t RowBytes3(uint64_t w) { return 3 * w; }
uint64_t RowBytesPairs(uint64_t w) { return 4 * (w >> 1); }
uint64_t RowBytes1(uint64_t w) { return w; }

PictureArea OutputArea(const Vop* vop, const PixMap* pixMap, uint64_t (*rowBytes)(uint64_t))
{
	if (vop == nullptr || !korvo::HasPlanes(vop))
		return PictureArea{};
	return korvo::PictureArea_Make(vop->width, vop->height, pixMap, rowBytes);
}

// Packed output: every pixel row reads its luminance row and the chroma row y / 2.
template <OutputRowFn row>
void ConvertPacked(Vop* vop, PixMap* pixMap, bool whole, uint64_t (*rowBytes)(uint64_t))
{
	const PictureArea area = OutputArea(vop, pixMap, rowBytes);
	if (!area.valid)
		return;
	ForEachSpan(vop, whole, area.width, area.height, 16, [&](uint32_t y, uint32_t x0, uint32_t x1) {
		const Rows r{korvo::PlaneLumaAt(vop->planeY, 0, y), korvo::PlaneChromaAt(vop->planeU, 0, y >> 1),
		             korvo::PlaneChromaAt(vop->planeV, 0, y >> 1),
		             pixMap->baseAddr + static_cast<size_t>(y) * area.rowBytes};
		row(r.y, r.u, r.v, r.out, x0, x1);
	});
}

void CopySpans(const Vop* vop, bool whole, const Plane* plane, uint32_t border, uint32_t width,
               uint32_t height, uint32_t mbSize, uint8_t* out, uint32_t stride)
{
	ForEachSpan(vop, whole, width, height, mbSize, [&](uint32_t y, uint32_t x0, uint32_t x1) {
		const uint8_t* src = plane->data + static_cast<size_t>(y + border) * plane->width + border;
		std::memcpy(out + static_cast<size_t>(y) * stride + x0, src + x0, x1 - x0);
	});
}

// Planar output: the Y' plane of the caller's height, then Cb and Cr of half its height, the
// chroma at half the stride.
void ConvertPlanar(Vop* vop, PixMap* pixMap, bool whole)
{
	const PictureArea area = OutputArea(vop, pixMap, RowBytes1);
	if (!area.valid || area.width == 0 || area.height == 0)
		return;
	const uint32_t chromaStride = area.rowBytes / 2;
	uint8_t* outY = pixMap->baseAddr;
	uint8_t* outU = outY + static_cast<size_t>(pixMap->height) * area.rowBytes;
	uint8_t* outV = outU + static_cast<size_t>(pixMap->height / 2) * chromaStride;
	CopySpans(vop, whole, vop->planeY, 16, area.width, area.height, 16, outY, area.rowBytes);
	CopySpans(vop, whole, vop->planeU, 8, area.width / 2, area.height / 2, 8, outU, chromaStride);
	CopySpans(vop, whole, vop->planeV, 8, area.width / 2, area.height / 2, 8, outV, chromaStride);
}

struct OutputFormat {
	uint32_t code;
	void (*whole)(Vop*, PixMap*);
	void (*changed)(Vop*, PixMap*);
	uint64_t (*rowBytes)(uint64_t);
};

}  // namespace

void RowToBGRA_C(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0, uint32_t x1)
{
	RGBRow<BGRA32Layout>(y, u, v, out, x0, x1);
}
void RowToYUVS_C(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0, uint32_t x1)
{
	PackedYUVRow<YUVSLayout>(y, u, v, out, x0, x1);
}
void RowTo2VUY_C(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t x0, uint32_t x1)
{
	PackedYUVRow<VUYSLayout>(y, u, v, out, x0, x1);
}

extern "C" {

void Vop_IntraRowYUV420ToARGB8Packed(Vop* vop, PixMap* pixMap)
{
	ConvertPacked<RGBRow<ARGB32Layout>>(vop, pixMap, true, RowBytes4);
}
void Vop_InterRow2YUV420ToARGB8Packed(Vop* vop, PixMap* pixMap)
{
	ConvertPacked<RGBRow<ARGB32Layout>>(vop, pixMap, false, RowBytes4);
}
void Vop_IntraRowYUV420ToBGRA8Packed(Vop* vop, PixMap* pixMap)
{
	ConvertPacked<TableRow<&KorvKernels::rowToBGRA>>(vop, pixMap, true, RowBytes4);
}
void Vop_InterRowYUV420ToBGRA8Packed(Vop* vop, PixMap* pixMap)
{
	ConvertPacked<TableRow<&KorvKernels::rowToBGRA>>(vop, pixMap, false, RowBytes4);
}
void Vop_IntraRowYUV420ToRGBA8Packed(Vop* vop, PixMap* pixMap)
{
	ConvertPacked<RGBRow<RGBA32Layout>>(vop, pixMap, true, RowBytes4);
}
void Vop_InterRowYUV420ToRGBA8Packed(Vop* vop, PixMap* pixMap)
{
	ConvertPacked<RGBRow<RGBA32Layout>>(vop, pixMap, false, RowBytes4);
}
void Vop_IntraRowYUV420ToRGB8Packed(Vop* vop, PixMap* pixMap)
{
	ConvertPacked<RGBRow<RGB24Layout>>(vop, pixMap, true, RowBytes3);
}
void Vop_InterRow2YUV420ToRGB8Packed(Vop* vop, PixMap* pixMap)
{
	ConvertPacked<RGBRow<RGB24Layout>>(vop, pixMap, false, RowBytes3);
}
void Vop_IntraRowYUV420ToYUV420Planar(Vop* vop, PixMap* pixMap) { ConvertPlanar(vop, pixMap, true); }
void Vop_InterRow2YUV420ToYUV420Planar(Vop* vop, PixMap* pixMap) { ConvertPlanar(vop, pixMap, false); }
void Vop_IntraRow2YUV420ToYUVSPacked(Vop* vop, PixMap* pixMap)
{
	ConvertPacked<TableRow<&KorvKernels::rowToYUVS>>(vop, pixMap, true, RowBytesPairs);
}
void Vop_InterRow2YUV420ToYUVSPacked(Vop* vop, PixMap* pixMap)
{
	ConvertPacked<TableRow<&KorvKernels::rowToYUVS>>(vop, pixMap, false, RowBytesPairs);
}
void Vop_IntraRow2YUV420ToVUYSPacked(Vop* vop, PixMap* pixMap)
{
	ConvertPacked<TableRow<&KorvKernels::rowTo2VUY>>(vop, pixMap, true, RowBytesPairs);
}
void Vop_InterRow2YUV420ToVUYSPacked(Vop* vop, PixMap* pixMap)
{
	ConvertPacked<TableRow<&KorvKernels::rowTo2VUY>>(vop, pixMap, false, RowBytesPairs);
}

// Returns 0, or 2 (converting nothing) for a format that is not an output format or a caller
// picture whose rows cannot hold its width. fullRefresh is cleared on every path.
int16_t PlanesToPixMap(KorvParams* params)
{
	static const OutputFormat kFormats[] = {
	        {kPixelFormatARGB32, Vop_IntraRowYUV420ToARGB8Packed, Vop_InterRow2YUV420ToARGB8Packed,
	         RowBytes4},
	        {kPixelFormatABGR, Vop_IntraRowYUV420ToARGB8Packed, Vop_InterRow2YUV420ToARGB8Packed, RowBytes4},
	        {kPixelFormatBGRA, Vop_IntraRowYUV420ToBGRA8Packed, Vop_InterRowYUV420ToBGRA8Packed, RowBytes4},
	        {kPixelFormatRGBA, Vop_IntraRowYUV420ToRGBA8Packed, Vop_InterRowYUV420ToRGBA8Packed, RowBytes4},
	        {kPixelFormatRGB24, Vop_IntraRowYUV420ToRGB8Packed, Vop_InterRow2YUV420ToRGB8Packed, RowBytes3},
	        {kPixelFormatYUV420Planar, Vop_IntraRowYUV420ToYUV420Planar, Vop_InterRow2YUV420ToYUV420Planar,
	         RowBytes1},
	        {kPixelFormatYUVS, Vop_IntraRow2YUV420ToYUVSPacked, Vop_InterRow2YUV420ToYUVSPacked,
	         RowBytesPairs},
	        {kPixelFormat2VUY, Vop_IntraRow2YUV420ToVUYSPacked, Vop_InterRow2YUV420ToVUYSPacked,
	         RowBytesPairs},
	};
	const bool fullRefresh = params->fullRefresh != 0;
	params->fullRefresh = 0;
	if (params->pixelFormat == kPixelFormatNone)
		return kKorvoOK;
	const OutputFormat* format = nullptr;
	for (const OutputFormat& f : kFormats)
		if (f.code == params->pixelFormat)
			format = &f;
	if (format == nullptr)
		return kKorvoBadPixelFormat;
	Vop* vop = params->vop;
	if (!OutputArea(vop, params->pixMap, format->rowBytes).valid)
		return kKorvoBadPixelFormat;
	if (vop->codingType == kCodingTypeI || fullRefresh)
		format->whole(vop, params->pixMap);
	else if (vop->coded != 0)
		format->changed(vop, params->pixMap);
	return kKorvoOK;
}

}  // extern "C"
