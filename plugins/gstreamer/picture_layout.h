// Where the codec core puts a picture of each raw format the elements negotiate, and the moves between
// that layout and a GstVideoFrame whose planes lie elsewhere (other strides, odd sizes).
#pragma once

#include <gst/video/video.h>

#include <cstddef>
#include <cstdint>

namespace korvo_gst {

// The core's row pitch is a 14-bit field.
constexpr size_t kMaxCoreRowBytes = 0x3FFF;

// One picture as the core reads or writes it at a given row pitch: up to three planes, each `rows`
// rows of `rowBytes` used bytes, `stride` apart, starting `offset` bytes from the picture's start.
struct CoreLayout {
	uint32_t pixelFormat = 0;
	unsigned planes = 0;
	size_t offset[3] = {};
	size_t stride[3] = {};
	size_t rowBytes[3] = {};
	uint32_t rows[3] = {};
	size_t size = 0;  // bytes from the first plane's start to the end of the last
};

// The core's pixel format for a raw format (I420 planar, BGRx, YUY2), or 0 for any other.
uint32_t CorePixelFormatFor(GstVideoFormat format);

// The tightest row pitch the core can use for `width` pixels of `format`, or 0 when the format is
// not one of the core's.
size_t CoreMinRowBytes(GstVideoFormat format, uint32_t width);

// The layout at `rowBytes`; false when the format is not the core's or the pitch cannot hold a row or
// does not fit the core's field.
bool CoreLayout_Make(GstVideoFormat format, uint32_t width, uint32_t height, size_t rowBytes,
                     CoreLayout* layout);

// True when the mapped frame already has this layout from its first plane on, so the core can write
// into it (or read from it) directly.
bool CoreLayout_Matches(const CoreLayout& layout, const GstVideoFrame* frame);

// Copies a picture in `layout` at `picture` into the frame. Where the frame has one chroma column or
// row more than the core writes (odd sizes in 4:2:0), the last one written is repeated.
void CoreLayout_CopyToFrame(const CoreLayout& layout, const uint8_t* picture, GstVideoFrame* frame);

}  // namespace korvo_gst
