// The OggAudioEncoder add-on: PCM coded by libvorbis and paged by libogg; every chunk it writes is one
// Ogg page header or page body, so a writer only appends them. Unless told otherwise it takes 16-bit
// stereo at 44.1 kHz and codes 128 kbit/s; its settings choose a VBR quality or another average bit
// rate, keep the source's rate and channels, and tags become Vorbis comments.
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>

#include "AudioConverter.h"
#include "Encoder.h"
#include "MediaFormats.h"
#include "MediaTags.h"
#include "Message.h"
#include "ParameterWeb.h"

namespace {

int32 oggEncoding = 0;

const uint32 kFileFormat = 0x766f7262;  // 'vorb'
const uint32 kCodec = 0x206f6767;       // 'ogg '
const long kSampleRate = 44100;
const int kChannels = 2;
const long kDefaultBitRate = 128000;
// What libvorbisenc codes at all.
const float kMinRate = 8000, kMaxRate = 192000;
const uint32 kMaxChannels = 8;

// Parameter ids of the web.
const int32 kQualityParameter = 1;
const int32 kBitRateParameter = 2;
const int32 kKeepFormatParameter = 3;

void RawFormat(media_raw_audio_format* raw, float rate, uint32 channels)
{
	raw->frame_rate = rate;
	raw->channel_count = channels;
	raw->format = media_raw_audio_format::B_AUDIO_SHORT;
	raw->byte_order = B_MEDIA_LITTLE_ENDIAN;
}

// A stream serial number from the system's entropy, so that streams made one after the other (or in
// two processes) can be chained into one file.
int NewSerial()
{
	std::random_device entropy;
	return static_cast<int>(entropy());
}

class OggAudioEncoder : public BPrivate::Encoder {
public:
	OggAudioEncoder()
	{
		fputs("Vorbis Codec Encoder.\nThis encoder is based on undocumented APIs.\n", stderr);
		fputs("Therefore it is likely, if not certain, to break in future\n", stderr);
		fputs("versions of BeOS. This piece of software is in no way\n", stderr);
		fputs("connected to or even supported by Be, Inc.   \n", stderr);
		BParameterGroup* group = fWeb.MakeGroup("Ogg Vorbis");
		group->MakeContinuousParameter(kQualityParameter, B_MEDIA_PARAMETERS, "Quality", B_QUALITY, "", 0, 1,
		                               0.01f);
		group->MakeContinuousParameter(kBitRateParameter, B_MEDIA_PARAMETERS, "Bit rate", B_GENERIC, "kbit/s",
		                               0, 500, 1);
		group->MakeContinuousParameter(kKeepFormatParameter, B_MEDIA_PARAMETERS, "Keep source format",
		                               B_GENERIC, "", 0, 1, 1);
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

		// Without "Keep source format" every input becomes 44.1 kHz stereo; with it the input's rate
		// and channel count stay as far as Vorbis codes them.
		fRate = kSampleRate;
		fChannels = kChannels;
		if (fKeepFormat) {
			const float rate = in->u.raw_audio.frame_rate;
			const uint32 channels = in->u.raw_audio.channel_count;
			fRate = static_cast<long>(rate < kMinRate ? kMinRate : rate > kMaxRate ? kMaxRate : rate);
			fChannels = channels >= 1 && channels <= kMaxChannels ? static_cast<int>(channels) : kChannels;
		}
		in->type = B_MEDIA_RAW_AUDIO;
		RawFormat(&in->u.raw_audio, static_cast<float>(fRate), static_cast<uint32>(fChannels));

		const size_t bufferSize = in->u.raw_audio.buffer_size;
		*out = media_format();
		out->type = B_MEDIA_ENCODED_AUDIO;
		out->u.encoded_audio = media_encoded_audio_format::wildcard;
		RawFormat(&out->u.encoded_audio.output, static_cast<float>(fRate), static_cast<uint32>(fChannels));
		out->u.encoded_audio.output.buffer_size = bufferSize;
		out->u.encoded_audio.encoding = oggEncoding;
		fSettingsChanged = true;

		if (file->family != B_ANY_FORMAT_FAMILY && file->family != B_MISC_FORMAT_FAMILY)
			return B_ERROR;
		file->family = B_MISC_FORMAT_FAMILY;
		return B_OK;
	}

	status_t AttachedToTrack() override { return SetUp(); }

	status_t StartEncoder() override
	{
		if (fSettingsChanged && !fStarted) {
			if (status_t status = SetUp(); status != B_OK)
				return status;
		}
		eos = 0;
		flushed = 0;
		return B_OK;
	}

	status_t Encode(const void* buffer, int64 frames, media_encode_info* info) override
	{
		if (flushed)
			return B_OK;
		if (fSettingsChanged && !fStarted) {
			if (status_t status = SetUp(); status != B_OK)
				return status;
		}
		if (!streamReady)
			return B_NO_INIT;
		if (frames < 0 || (frames > 0 && !buffer))
			return B_BAD_VALUE;
		fStarted = true;
		status_t status = WritePendingHeaders(info);
		if (status != B_OK || eos)
			return status;

		// Zero frames would tell the library that the input has ended; they only let it hand
		// out what it has completed.
		if (frames > 0) {
			if (frames > INT32_MAX / 4)
				return B_BAD_VALUE;
			analysis = vorbis_analysis_buffer(&vd, static_cast<int>(4 * frames));
			// Samples come in the host's channel order; Vorbis orders surround channels its own way.
			const uint8* map = vorbis_channel_map(static_cast<uint32>(fChannels));
			const uint8* in = static_cast<const uint8*>(buffer);
			for (int64 i = 0; i < frames; i++, in += 2 * fChannels) {
				for (int c = 0; c < fChannels; c++) {
					const uint8* s = in + 2 * (map ? map[c] : c);
					analysis[c][i] = static_cast<int16>(s[0] | (s[1] << 8)) * 0.000030517578125f;
				}
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

	BParameterWeb* Web() override { return &fWeb; }

	status_t GetParameterValue(int32 id, void* value, size_t* size) override
	{
		if (!value || !size || *size < sizeof(float))
			return B_BAD_VALUE;
		float v;
		switch (id) {
			case kQualityParameter: v = fQuality; break;
			case kBitRateParameter: v = static_cast<float>(fBitRate / 1000); break;
			case kKeepFormatParameter: v = fKeepFormat ? 1 : 0; break;
			default: return B_BAD_INDEX;
		}
		memcpy(value, &v, sizeof v);
		*size = sizeof v;
		return B_OK;
	}

	// Settings change the stream only before its first page; a bit rate the library cannot make at
	// the current rate and channel count is refused.
	status_t SetParameterValue(int32 id, const void* value, size_t size) override
	{
		if (!value || size < sizeof(float))
			return B_BAD_VALUE;
		float v;
		memcpy(&v, value, sizeof v);
		if (fStarted)
			return B_NOT_ALLOWED;
		switch (id) {
			case kQualityParameter:
				if (!(v >= 0 && v <= 1))
					return B_BAD_VALUE;
				fQuality = v;
				fQualitySet = true;
				fBitRate = 0;
				break;
			case kBitRateParameter: {
				if (!(v >= 0 && v <= 500))
					return B_BAD_VALUE;
				const long bitRate = static_cast<long>(v + 0.5f) * 1000;
				if (bitRate && !BitRateWorks(bitRate))
					return B_BAD_VALUE;
				fBitRate = bitRate;
				break;
			}
			case kKeepFormatParameter: fKeepFormat = v >= 0.5f; break;
			default: return B_BAD_INDEX;
		}
		fSettingsChanged = true;
		return B_OK;
	}

	status_t GetEncodeParameters(encode_parameters* parameters) const override
	{
		if (!parameters)
			return B_BAD_VALUE;
		parameters->quality = fQuality;
		return B_OK;
	}

	// Quality 0..1 is libvorbisenc's VBR quality -0.1..1.0.
	status_t SetEncodeParameters(encode_parameters* parameters) override
	{
		if (!parameters)
			return B_BAD_VALUE;
		const float v = parameters->quality;
		return SetParameterValue(kQualityParameter, &v, sizeof v);
	}

	// B_PERFORM_SET_TAGS: the tags become Vorbis comments (TITLE=..., ARTIST=...).
	status_t Perform(perform_code code, void* data) override
	{
		if (code != B_PERFORM_SET_TAGS || !data)
			return Encoder::Perform(code, data);
		if (fStarted)
			return B_NOT_ALLOWED;
		fTags = *static_cast<const BMessage*>(data);
		fSettingsChanged = true;
		return B_OK;
	}

private:
	// The library's coding mode for the settings: the 128 kbit/s average unless a quality or a bit
	// rate was asked for; where 128 kbit/s is beyond what the library codes at the kept format, the
	// quality that aims at it.
	int InitCoding(vorbis_info* info) const
	{
		if (fBitRate)
			return vorbis_encode_init(info, fChannels, fRate, -1, fBitRate, -1);
		if (fQualitySet)
			return vorbis_encode_init_vbr(info, fChannels, fRate, -0.1f + 1.1f * fQuality);
		const int result = vorbis_encode_init(info, fChannels, fRate, -1, kDefaultBitRate, -1);
		if (result == 0 || !fKeepFormat)
			return result;
		vorbis_info_clear(info);
		vorbis_info_init(info);
		return vorbis_encode_init_vbr(info, fChannels, fRate, 0.4f);
	}

	bool BitRateWorks(long bitRate) const
	{
		vorbis_info info;
		vorbis_info_init(&info);
		const bool works = vorbis_encode_init(&info, fChannels, fRate, -1, bitRate, -1) == 0;
		vorbis_info_clear(&info);
		return works;
	}

	// (Re)builds the library state for the current settings and queues the three header packets.
	status_t SetUp()
	{
		Release();
		fSettingsChanged = false;
		vorbis_info_init(&vi);
		infoReady = true;
		if (InitCoding(&vi) != 0)
			return Abandon();
		if (vorbis_analysis_init(&vd, &vi) != 0)
			return Abandon();
		dspReady = true;
		if (vorbis_block_init(&vd, &vb) != 0)
			return Abandon();
		blockReady = true;
		if (ogg_stream_init(&os, NewSerial()) != 0)
			return Abandon();
		streamReady = true;

		vorbis_comment_init(&vc);
		commentReady = true;
		// A comment is a FIELD=value pair; a bare text makes the stream non-conforming.
		vorbis_comment_add_tag(&vc, "ENCODER", "BeOS Vorbis Encoder Beta");
		for (const char* tag : kMediaTagNames) {
			const char* value;
			for (int32 i = 0; fTags.FindString(tag, &value, i) == B_OK; i++) {
				std::string field;
				for (const char* c = tag; *c; c++)
					field.push_back(static_cast<char>(toupper(static_cast<unsigned char>(*c))));
				vorbis_comment_add_tag(&vc, field.c_str(), value);
			}
		}

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

	BParameterWeb fWeb;
	BMessage fTags;
	long fRate = kSampleRate;
	int fChannels = kChannels;
	float fQuality = 0.4f;
	bool fQualitySet = false;
	long fBitRate = 0;  // bits per second, 0 when the quality rules
	bool fKeepFormat = false;
	bool fSettingsChanged = false;
	bool fStarted = false;  // the first Encode came: settings are fixed
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
