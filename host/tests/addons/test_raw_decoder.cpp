// Test decoder add-on for the 'TST1' chunks of the test encoder: copies each chunk into the caller's
// rows and counts Reset calls, so the host's decoding and seeking path can be checked.
#include <cstring>

#include "Decoder.h"
#include "MediaFormats.h"

namespace {

int32 gEncoding = 0;
media_format gFormat;

class TestRawDecoder : public BPrivate::Decoder {
public:
	status_t GetCodecInfo(media_codec_info* info) const override
	{
		*info = media_codec_info{};
		strcpy(info->pretty_name, "Test raw video");
		strcpy(info->short_name, "testraw");
		return B_OK;
	}

	status_t Sniff(const media_format* format, const void*, size_t) override
	{
		if (format->type != B_MEDIA_ENCODED_VIDEO || format->u.encoded_video.encoding != gEncoding)
			return B_BAD_TYPE;
		fInput = format->u.encoded_video.output;
		return B_OK;
	}

	status_t Format(media_format* f) override
	{
		uint32 rowBytes = f->u.raw_video.display.bytes_per_row;
		*f = media_format();
		f->type = B_MEDIA_RAW_VIDEO;
		f->u.raw_video = fInput;
		f->u.raw_video.display.format = B_RGB32;
		f->u.raw_video.display.bytes_per_row =
		        rowBytes >= fInput.display.line_width * 4 ? rowBytes : fInput.display.line_width * 4;
		fRowBytes = f->u.raw_video.display.bytes_per_row;
		return B_OK;
	}

	status_t Decode(void* out, int64* frames, media_header* header, media_decode_info* info) override
	{
		const void* chunk;
		size_t size;
		status_t status = GetNextChunk(&chunk, &size, header, info);
		if (status != B_OK)
			return status;
		const size_t tight = (size_t)fInput.display.line_width * 4;
		if (size != tight * fInput.display.line_count)
			return B_BAD_DATA;
		for (uint32 y = 0; y < fInput.display.line_count; y++)
			memcpy(static_cast<char*>(out) + y * fRowBytes, static_cast<const char*>(chunk) + y * tight,
			       tight);
		*frames = 1;
		return B_OK;
	}

	status_t Reset(int32, int64, int64*, bigtime_t, bigtime_t*) override { return B_OK; }

private:
	media_raw_video_format fInput{};
	uint32 fRowBytes = 0;
};

}  // namespace

KORVO_EXPORT void register_decoder(media_format** formats, int32* count)
{
	media_format_description d;
	d.family = B_QUICKTIME_FORMAT_FAMILY;
	d.u.quicktime.codec = 0x54535431;  // 'TST1', no vendor
	gFormat = media_format();
	gFormat.type = B_MEDIA_ENCODED_VIDEO;
	BMediaFormats registry;
	if (registry.MakeFormatFor(&d, 1, &gFormat, 0, 0) == B_OK)
		gEncoding = gFormat.u.encoded_video.encoding;
	*formats = &gFormat;
	*count = 1;
}

KORVO_EXPORT BPrivate::Decoder* instantiate_decoder() { return gEncoding ? new TestRawDecoder : nullptr; }
