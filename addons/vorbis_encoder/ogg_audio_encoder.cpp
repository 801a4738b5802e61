// The OggAudioEncoder add-on: 16-bit stereo PCM at 44.1 kHz coded by libvorbis at 128 kbit/s and paged
// by libogg; every chunk it writes is one Ogg page header or page body, so a writer only appends them.
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Encoder.h"
#include "MediaFormats.h"

namespace {

int32 oggEncoding = 0;

const uint32 kFileFormat = 0x766f7262;  // 'vorb'
const uint32 kCodec = 0x206f6767;       // 'ogg '
const long kSampleRate = 44100;
const int kChannels = 2;

void RawStereo(media_raw_audio_format* raw)
{
	raw->frame_rate = kSampleRate;
	raw->channel_count = kChannels;
	raw->format = media_raw_audio_format::B_AUDIO_SHORT;
	raw->byte_order = B_MEDIA_LITTLE_ENDIAN;
}

class OggAudioEncoder : public BPrivate::Encoder {
public:
	OggAudioEncoder()
	{
		fputs("Vorbis Codec Encoder.\nThis encoder is based on undocumented APIs.\n", stderr);
		fputs("Therefore it is likely, if not certain, to break in future\n", stderr);
		fputs("versions of BeOS. This piece of software is in no way\n", stderr);
		fputs("connected to or even supported by Be, Inc.   \n", stderr);
	}

	~OggAudioEncoder() override { Release(); }

	status_t GetCodecInfo(media_codec_info* info) const override
	{
		*info = media_codec_info{};
		strcpy(info->pretty_name, "Ogg Vorbis Encoder by Quillon based on work by Xiph");
		strcpy(info->short_name, "Ogg Vorbis");
		info->id = static_cast<int32>(kCodec);
		info->sub_id = static_cast<int32>(kFileFormat);
		return B_OK;
	}

	status_t SetFormat(media_file_format* file, media_format* in, media_format* out) override
	{
		if (!file || !in || !out)
			return B_BAD_VALUE;
		strcpy(file->mime_type, "audio/x-Vorbis");
		strcpy(file->pretty_name, "Ogg Vorbis File");
		strcpy(file->short_name, "vorbis");
		strcpy(file->file_extension, "ogg");

		in->type = B_MEDIA_RAW_AUDIO;
		RawStereo(&in->u.raw_audio);

		const size_t bufferSize = in->u.raw_audio.buffer_size;
		*out = media_format();
		out->type = B_MEDIA_ENCODED_AUDIO;
		out->u.encoded_audio = media_encoded_audio_format::wildcard;
		RawStereo(&out->u.encoded_audio.output);
		out->u.encoded_audio.output.buffer_size = bufferSize;
		out->u.encoded_audio.encoding = oggEncoding;

		if (file->family != B_ANY_FORMAT_FAMILY && file->family != B_MISC_FORMAT_FAMILY)
			return B_ERROR;
		file->family = B_MISC_FORMAT_FAMILY;
		return B_OK;
	}

	status_t AttachedToTrack() override
	{
		Release();
		vorbis_info_init(&vi);
		infoReady = true;
		if (vorbis_encode_init(&vi, kChannels, kSampleRate, -1, 128000, -1) != 0)
			return Abandon();
		if (vorbis_analysis_init(&vd, &vi) != 0)
			return Abandon();
		dspReady = true;
		if (vorbis_block_init(&vd, &vb) != 0)
			return Abandon();
		blockReady = true;
		if (ogg_stream_init(&os, static_cast<int>(random())) != 0)
			return Abandon();
		streamReady = true;

		vorbis_comment_init(&vc);
		commentReady = true;
		// A comment is a FIELD=value pair; a bare text makes the stream non-conforming.
		vorbis_comment_add_tag(&vc, "ENCODER", "BeOS Vorbis Encoder Beta");

		ogg_packet identification, comments, codebooks;
		if (vorbis_analysis_headerout(&vd, &vc, &identification, &comments, &codebooks) != 0)
			return Abandon();
		if (ogg_stream_packetin(&os, &identification) != 0 || ogg_stream_packetin(&os, &comments) != 0 ||
		    ogg_stream_packetin(&os, &codebooks) != 0)
			return Abandon();
		headersPending = 1;
		eos = 0;
		flushed = 0;
		return B_OK;
	}

	status_t StartEncoder() override
	{
		eos = 0;
		flushed = 0;
		return B_OK;
	}

	status_t Encode(const void* buffer, int64 frames, media_encode_info* info) override
	{
		if (flushed)
			return B_OK;
		if (!streamReady)
			return B_NO_INIT;
		if (frames < 0 || (frames > 0 && !buffer))
			return B_BAD_VALUE;
		status_t status = WritePendingHeaders(info);
		if (status != B_OK || eos)
			return status;

		// Zero frames would tell the library that the input has ended; they only let it hand
		// out what it has completed.
		if (frames > 0) {
			if (frames > INT32_MAX / 4)
				return B_BAD_VALUE;
			analysis = vorbis_analysis_buffer(&vd, static_cast<int>(4 * frames));
			const uint8* in = static_cast<const uint8*>(buffer);
			for (int64 i = 0; i < frames; i++, in += 4) {
				const int16 left = static_cast<int16>(in[0] | (in[1] << 8));
				const int16 right = static_cast<int16>(in[2] | (in[3] << 8));
				analysis[0][i] = left * 0.000030517578125f;
				analysis[1][i] = right * 0.000030517578125f;
			}
			vorbis_analysis_wrote(&vd, static_cast<int>(frames));
		}
		return WriteCompletedPages(info);
	}

	status_t Flush() override
	{
		if (flushed)
			return B_OK;
		if (!streamReady)
			return B_NO_INIT;
		media_encode_info info;
		// A stream that got no audio still needs its headers.
		status_t status = WritePendingHeaders(&info);
		vorbis_analysis_wrote(&vd, 0);
		if (status == B_OK)
			status = WriteCompletedPages(&info);
		Release();
		flushed = 1;
		eos = 1;
		return status;
	}

private:
	status_t WritePage(media_encode_info* info)
	{
		status_t status = WriteChunk(page.header, page.header_len, info);
		if (status >= B_OK)
			status = WriteChunk(page.body, page.body_len, info);
		return status < B_OK ? status : B_OK;
	}

	status_t WritePendingHeaders(media_encode_info* info)
	{
		if (!headersPending)
			return B_OK;
		headersPending = 0;
		while (ogg_stream_flush(&os, &page) != 0) {
			if (status_t status = WritePage(info); status != B_OK)
				return status;
		}
		return B_OK;
	}

	// Analyses every block the library has complete and writes the pages that fill up. The 128 kbit/s
	// average is a managed bit rate, so packets come out of the bit-rate manager, not the analysis.
	status_t WriteCompletedPages(media_encode_info* info)
	{
		while (vorbis_analysis_blockout(&vd, &vb) == 1) {
			vorbis_analysis(&vb, nullptr);
			vorbis_bitrate_addblock(&vb);
			while (vorbis_bitrate_flushpacket(&vd, &packet) == 1) {
				ogg_stream_packetin(&os, &packet);
				while (!eos && ogg_stream_pageout(&os, &page) != 0) {
					if (status_t status = WritePage(info); status != B_OK)
						return status;
					if (ogg_page_eos(&page))
						eos = 1;
				}
			}
		}
		return B_OK;
	}

	// A set-up step failed: nothing of the library is left for Encode or Flush to use.
	status_t Abandon()
	{
		Release();
		return B_ERROR;
	}

	void Release()
	{
		if (streamReady)
			ogg_stream_clear(&os);
		if (blockReady)
			vorbis_block_clear(&vb);
		if (dspReady)
			vorbis_dsp_clear(&vd);
		if (commentReady)
			vorbis_comment_clear(&vc);
		if (infoReady)
			vorbis_info_clear(&vi);
		streamReady = blockReady = dspReady = commentReady = infoReady = false;
		headersPending = 0;
	}

	ogg_stream_state os{};
	ogg_page page{};
	ogg_packet packet{};
	vorbis_info vi{};
	vorbis_dsp_state vd{};
	vorbis_block vb{};
	vorbis_comment vc{};
	int32 eos = 0;
	float** analysis = nullptr;
	uint8 flushed = 0;
	uint8 headersPending = 0;
	// Which library records are initialised and must be cleared.
	bool infoReady = false, dspReady = false, blockReady = false, streamReady = false, commentReady = false;
};

}  // namespace

KORVO_EXPORT void register_encoder()
{
	media_format_description description;
	description.family = B_MISC_FORMAT_FAMILY;
	description.u.misc.file_format = kFileFormat;
	description.u.misc.codec = kCodec;
	media_format format;
	format.type = B_MEDIA_ENCODED_AUDIO;
	format.u.encoded_audio = media_encoded_audio_format::wildcard;
	BMediaFormats formats;
	oggEncoding = 0;
	if (formats.MakeFormatFor(&description, 1, &format, 4, 0) == B_OK)
		oggEncoding = format.u.encoded_audio.encoding;
}

KORVO_EXPORT BPrivate::Encoder* instantiate_encoder() { return new (std::nothrow) OggAudioEncoder; }
