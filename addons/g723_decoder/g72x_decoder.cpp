// The g723.decoder add-on: G.723 24 kbit/s ADPCM from WAV files (format tag 0x7233) back to 16-bit
// PCM. Codes are three bits each, least significant first, every channel's samples interleaved in one
// coded signal with one coder state, as the g723.encoder add-on writes them.
#include <algorithm>
#include <cstring>
#include <new>

#include "Decoder.h"
#include "MediaFormats.h"
#include "g72x.h"

namespace {

const uint16 kFormatTag = 0x7233;
const size_t kBufferFrames = 2048;
// A buffer holds kBufferFrames frames, fewer when the channels would make it larger than this (a
// header may claim 65535 channels).
const size_t kMostBufferBytes = size_t{1} << 18;

media_format gFormat;
int32 gEncoding = 0;

class g72xDecoder : public BPrivate::Decoder {
public:
	g72xDecoder() { Restart(); }

	status_t GetCodecInfo(media_codec_info* info) const override
	{
		*info = media_codec_info{};
		strcpy(info->pretty_name, "G.723_3 Audio Decompression");
		strcpy(info->short_name, "G.723_3");
		return B_OK;
	}

	status_t Sniff(const media_format* format, const void*, size_t) override
	{
		if (!format || format->type != B_MEDIA_ENCODED_AUDIO || gEncoding == 0 ||
		    format->u.encoded_audio.encoding != gEncoding)
			return B_BAD_TYPE;
		const media_raw_audio_format& a = format->u.encoded_audio.output;
		if (a.channel_count < 1 || a.channel_count > 0xFFFF || !(a.frame_rate > 0))
			return B_MEDIA_BAD_FORMAT;
		fChannels = a.channel_count;
		fRate = a.frame_rate;
		fBufferFrames = std::max<size_t>(std::min(kBufferFrames, kMostBufferBytes / (2 * fChannels)), 1);
		return B_OK;
	}

	status_t Format(media_format* inout) override
	{
		if (!fChannels)
			return B_NO_INIT;
		*inout = media_format();
		inout->type = B_MEDIA_RAW_AUDIO;
		media_raw_audio_format& a = inout->u.raw_audio;
		a.frame_rate = fRate;
		a.channel_count = fChannels;
		a.format = media_raw_audio_format::B_AUDIO_SHORT;
		a.byte_order = B_MEDIA_HOST_ENDIAN;
		a.buffer_size = fBufferFrames * 2 * fChannels;
		return B_OK;
	}

	// Decodes codes until one buffer of whole frames is full or the chunks end; codes of a partial
	// frame at the very end (the pad bits of the last byte) are dropped.
	status_t Decode(void* out, int64* frames, media_header* header, media_decode_info* info) override
	{
		*frames = 0;
		if (!fChannels)
			return B_NO_INIT;
		int16* samples = static_cast<int16*>(out);
		const size_t want = fBufferFrames * fChannels;
		size_t have = 0;
		status_t status = B_OK;
		while (have < want) {
			if (fBitCount >= 3) {
				samples[have++] = static_cast<int16>(
				        g723_24_decoder(static_cast<int>(fBits & 7), G72X_CODING_LINEAR, &fState));
				fBits >>= 3;
				fBitCount -= 3;
			} else if (fUsed < fSize) {
				fBits |= static_cast<uint32>(static_cast<const uint8*>(fChunk)[fUsed++]) << fBitCount;
				fBitCount += 8;
			} else {
				media_header chunkHeader;
				fUsed = fSize = 0;
				status = GetNextChunk(&fChunk, &fSize, &chunkHeader, info);
				if (status != B_OK) {
					fSize = 0;
					break;
				}
			}
		}
		const int64 whole = static_cast<int64>(have / fChannels);
		if (whole == 0)
			return status == B_OK ? B_LAST_BUFFER_ERROR : status;
		if (header) {
			*header = media_header();
			header->type = B_MEDIA_RAW_AUDIO;
			header->size_used = static_cast<uint32>(whole * fChannels * sizeof(int16));
			header->start_time = static_cast<bigtime_t>(fFrame * 1e6 / fRate);
		}
		fFrame += whole;
		*frames = whole;
		return B_OK;
	}

	// The coder adapts to everything before a point, so decoding can only begin afresh where the
	// reader placed the stream (its start, for WAV).
	status_t Reset(int32, int64, int64* frame, bigtime_t, bigtime_t*) override
	{
		Restart();
		fFrame = frame ? *frame : 0;
		return B_OK;
	}

private:
	void Restart()
	{
		g72x_init_state(&fState);
		fBits = 0;
		fBitCount = 0;
		fChunk = nullptr;
		fSize = fUsed = 0;
		fFrame = 0;
	}

	uint32 fChannels = 0;
	float fRate = 0;
	size_t fBufferFrames = kBufferFrames;
	g72x_state fState;
	uint32 fBits = 0;  // code bits not yet decoded, least significant first
	int32 fBitCount = 0;
	const void* fChunk = nullptr;
	size_t fSize = 0, fUsed = 0;
	int64 fFrame = 0;  // frames put out since the start or the last reset
};

}  // namespace

KORVO_EXPORT void register_decoder(media_format** formats, int32* count)
{
	gFormat = media_format();
	gFormat.type = B_MEDIA_ENCODED_AUDIO;
	gFormat.u.encoded_audio = media_encoded_audio_format::wildcard;
	media_format_description description;
	description.family = B_WAV_FORMAT_FAMILY;
	description.u.wav.codec = kFormatTag;
	BMediaFormats registry;
	gEncoding = 0;
	if (registry.MakeFormatFor(&description, 1, &gFormat, 0, 0) == B_OK)
		gEncoding = gFormat.u.encoded_audio.encoding;
	*formats = &gFormat;
	*count = 1;
}

KORVO_EXPORT BPrivate::Decoder* instantiate_decoder()
{
	if (gEncoding == 0)
		return nullptr;
	return new (std::nothrow) g72xDecoder;
}
