// Test encoder add-on: stores 32-bit RGB frames unchanged as QuickTime 'TST1' chunks, every fourth
// frame a key frame, so the host's writing, key-frame bookkeeping and seeking can be checked.
#include <cstdio>
#include <cstring>

#include "Encoder.h"
#include "MediaFormats.h"

namespace {

int32 gEncoding = 0;

class TestRawEncoder : public BPrivate::Encoder {
public:
	status_t GetCodecInfo(media_codec_info* info) const override
	{
		*info = media_codec_info{};
		strcpy(info->pretty_name, "Test raw video");
		strcpy(info->short_name, "testraw");
		return B_OK;
	}

	status_t SetFormat(media_file_format* file, media_format* in, media_format* out) override
	{
		if (file->family != B_QUICKTIME_FORMAT_FAMILY || in->type != B_MEDIA_RAW_VIDEO)
			return B_MEDIA_BAD_FORMAT;
		in->u.raw_video.display.format = B_RGB32;
		fFrameBytes = (size_t)in->u.raw_video.display.bytes_per_row * in->u.raw_video.display.line_count;
		*out = media_format();
		out->type = B_MEDIA_ENCODED_VIDEO;
		out->u.encoded_video.output = in->u.raw_video;
		out->u.encoded_video.encoding = gEncoding;
		return B_OK;
	}

	status_t AttachedToTrack() override { return AddCopyright("Test codec"); }

	status_t Encode(const void* buffer, int64 frames, media_encode_info* info) override
	{
		const char* p = static_cast<const char*>(buffer);
		for (; frames > 0; frames--, p += fFrameBytes) {
			if (fFrame++ % 4 == 0)
				info->flags |= B_MEDIA_KEY_FRAME;
			status_t status = WriteChunk(p, fFrameBytes, info);
			if (status != B_OK)
				return status;
		}
		return B_OK;
	}

	status_t GetEncodeParameters(encode_parameters* p) const override
	{
		p->quality = fQuality;
		return B_OK;
	}

	status_t SetEncodeParameters(encode_parameters* p) override
	{
		fQuality = p->quality;
		return B_OK;
	}

private:
	size_t fFrameBytes = 0;
	int64 fFrame = 0;
	float fQuality = 0.5f;
};

}  // namespace

KORVO_EXPORT void register_encoder()
{
	media_format_description d;
	d.family = B_QUICKTIME_FORMAT_FAMILY;
	d.u.quicktime.codec = 0x54535431;   // 'TST1'
	d.u.quicktime.vendor = 0x4B52564F;  // 'KRVO'
	media_format format;
	format.type = B_MEDIA_ENCODED_VIDEO;
	BMediaFormats formats;
	if (formats.MakeFormatFor(&d, 1, &format, 4, 0) == B_OK)
		gEncoding = format.u.encoded_video.encoding;
}

KORVO_EXPORT BPrivate::Encoder* instantiate_encoder() { return new TestRawEncoder; }
