// Where the codec core puts a picture of each raw format the elements negotiate, and the moves between
// that layout and a GstVideoFrame whose planes lie elsewhere (other strides, odd sizes).
#include "picture_layout.h"

#include <algorithm>
#include <cstring>

#include "korvo.h"

namespace korvo_gst {

uint32_t CorePixelFormatFor(GstVideoFormat format)
{
	switch (format) {
		case GST_VIDEO_FORMAT_I420: return kPixelFormatYUV420Planar;
		case GST_VIDEO_FORMAT_BGRx: return kPixelFormatBGRA;
		case GST_VIDEO_FORMAT_YUY2: return kPixelFormatYUVS;
		default: return 0;
	}
}

size_t CoreMinRowBytes(GstVideoFormat format, uint32_t width)
{
	switch (format) {
		// The chroma rows are half the luminance pitch, so the pitch is even.
		case GST_VIDEO_FORMAT_I420: return (size_t{width} + 1) & ~size_t{1};
		case GST_VIDEO_FORMAT_BGRx: return size_t{width} * 4;
		// Whole Y0 Cb Y1 Cr pairs; the core writes width / 2 of them.
		case GST_VIDEO_FORMAT_YUY2: return size_t{width} / 2 * 4;
		default: return 0;
	}
}

bool CoreLayout_Make(GstVideoFormat format, uint32_t width, uint32_t height, size_t rowBytes,
                     CoreLayout* layout)
{
	const uint32_t pixelFormat = CorePixelFormatFor(format);
	if (!pixelFormat || rowBytes > kMaxCoreRowBytes || rowBytes < CoreMinRowBytes(format, width))
		return false;
	CoreLayout l;
	l.pixelFormat = pixelFormat;
	l.stride[0] = rowBytes;
	l.rows[0] = height;
	l.rowBytes[0] = CoreMinRowBytes(format, width);
	if (format == GST_VIDEO_FORMAT_I420) {
		// Y' rows, then Cb and Cr planes of height / 2 rows at half the pitch.
		l.planes = 3;
		l.rowBytes[0] = width;
		for (int p = 1; p < 3; p++) {
			l.stride[p] = rowBytes / 2;
			l.rows[p] = height / 2;
			l.rowBytes[p] = width / 2;
		}
		l.offset[1] = rowBytes * height;
		l.offset[2] = l.offset[1] + l.stride[1] * l.rows[1];
		l.size = l.offset[2] + l.stride[2] * l.rows[2];
	} else {
		l.planes = 1;
		l.size = rowBytes * height;
	}
	*layout = l;
	return true;
}

bool CoreLayout_Matches(const CoreLayout& layout, const GstVideoFrame* frame)
{
	if (GST_VIDEO_FRAME_N_PLANES(frame) != layout.planes)
		return false;
	const auto* base = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0));
	for (unsigned p = 0; p < layout.planes; p++) {
		const auto* plane = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, p));
		const size_t rowBytes =
		        size_t(GST_VIDEO_FRAME_COMP_WIDTH(frame, p)) * GST_VIDEO_FRAME_COMP_PSTRIDE(frame, p);
		// The frame's planes must be exactly as long and wide as the core writes them.
		if (plane != base + layout.offset[p] ||
		    size_t(GST_VIDEO_FRAME_PLANE_STRIDE(frame, p)) != layout.stride[p] ||
		    uint32_t(GST_VIDEO_FRAME_COMP_HEIGHT(frame, p)) != layout.rows[p] ||
		    rowBytes != layout.rowBytes[p])
			return false;
	}
	return true;
}

void CoreLayout_CopyToFrame(const CoreLayout& layout, const uint8_t* picture, GstVideoFrame* frame)
{
	const unsigned planes = std::min<unsigned>(layout.planes, GST_VIDEO_FRAME_N_PLANES(frame));
	for (unsigned p = 0; p < planes; p++) {
		auto* out = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, p));
		const size_t outStride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, p);
		const uint32_t outRows = GST_VIDEO_FRAME_COMP_HEIGHT(frame, p);
		const size_t pixel = GST_VIDEO_FRAME_COMP_PSTRIDE(frame, p);
		const size_t outBytes = size_t(GST_VIDEO_FRAME_COMP_WIDTH(frame, p)) * pixel;
		const size_t copied = std::min(outBytes, layout.rowBytes[p]);
		const uint8_t* in = picture + layout.offset[p];
		for (uint32_t y = 0; y < outRows; y++) {
			uint8_t* row = out + y * outStride;
			if (layout.rows[p] == 0 || copied == 0) {
				// Nothing decoded to repeat (a picture one sample wide or high): neutral grey.
				memset(row, 128, outBytes);
				continue;
			}
			const uint32_t from = std::min(y, layout.rows[p] - 1);
			memcpy(row, in + from * layout.stride[p], copied);
			for (size_t x = copied; x < outBytes; x++)
				row[x] = row[x - pixel];
		}
	}
}

}  // namespace korvo_gst
