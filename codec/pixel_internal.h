// Pixel conversion: the caller's pictures into the 4:2:0 planes and back, their colour matrices, and
// the converters' helpers (saturating clamps, the checked geometry of a caller's picture).
#ifndef KORVO_PIXEL_INTERNAL_H
#define KORVO_PIXEL_INTERNAL_H

#include <algorithm>
#include <cstdint>

#include "frame_internal.h"

extern "C" {

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

}  // extern "C"

namespace korvo {

// The clamp tables cover -2048..2047; values beyond (an unclipped transform output, a prediction
// plus a large residual) saturate like the ends of that range.
inline uint8_t ClampPixel(int32_t v)
{
	return static_cast<uint8_t>(IClampTable[std::clamp<int32_t>(v, -2048, 2047)]);
}

// Y'CbCr to RGB factors, 16 fractional bits: Y' factor on (Y' - 16), R from Cr, G from Cb, G from
// Cr, B from Cb (the exported YUV2RGBMATRIX holds the same values).
inline constexpr int32_t kYFactor = 76309;
inline constexpr int32_t kRFromCr = 104597;
inline constexpr int32_t kGFromCb = -25674;
inline constexpr int32_t kGFromCr = -53279;
inline constexpr int32_t kBFromCb = 132201;

// Macroblocks from mbsRead on were not read (the data ended early): they keep the previous picture.
inline uint32_t MacroBlocksRead(const Vop* vop)
{
	if (vop->mbsRead <= 0)
		return 0;
	return std::min<uint32_t>(static_cast<uint32_t>(vop->mbsRead), vop->mbCount);
}

inline bool HasPlanes(const Vop* vop)
{
	return vop->planeY != nullptr && vop->planeU != nullptr && vop->planeV != nullptr;
}

inline uint8_t* PlaneLumaAt(const Plane* plane, uint32_t x, uint32_t y)
{
	return plane->data + static_cast<size_t>(y + 16) * plane->width + x + 16;
}

inline uint8_t* PlaneChromaAt(const Plane* plane, uint32_t x, uint32_t y)
{
	return plane->data + static_cast<size_t>(y + 8) * plane->width + x + 8;
}

// The part of the caller's picture that lies inside the given capacity (the Vop's picture or
// what the planes can hold), and the caller's row stride. Valid only when a row of that width
// fits in the stride: no access ever leaves the caller's rows or the planes.
struct PictureArea {
	uint32_t width;
	uint32_t height;
	uint32_t rowBytes;
	bool valid;
};

// bytesPerRow(width) gives the bytes a caller row of that many pixels occupies.
template <class BytesPerRow>
inline PictureArea PictureArea_Make(uint32_t capacityWidth, uint32_t capacityHeight, const PixMap* pixMap,
                                    BytesPerRow bytesPerRow)
{
	PictureArea area{};
	if (pixMap == nullptr)
		return area;
	area.width = std::min(capacityWidth, pixMap->width);
	area.height = std::min(capacityHeight, pixMap->height);
	area.rowBytes = pixMap->rowBytes & 0x3FFFu;
	if (area.width == 0 || area.height == 0) {
		area.valid = true;  // nothing to touch
		return area;
	}
	area.valid =
	        pixMap->baseAddr != nullptr && bytesPerRow(static_cast<uint64_t>(area.width)) <= area.rowBytes;
	return area;
}

}  // namespace korvo

#endif  // KORVO_PIXEL_INTERNAL_H
