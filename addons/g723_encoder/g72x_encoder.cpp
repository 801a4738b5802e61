// The g723.encoder add-on: 16-bit PCM of any rate and channel count coded as G.723 24 kbit/s ADPCM for
// WAV files, three bits per sample packed least significant first, announced by a WAVEFORMAT header.
#include <cstdlib>
#include <cstring>
#include <new>

#include "Encoder.h"
#include "MediaFormats.h"
#include "g72x.h"

namespace {

int32 wav_encoding = 0;

const uint16 kFormatTag = 0x7233;

void PutLE16(uint8* p, uint32 v)
{
	p[0] = static_cast<uint8>(v);
	p[1] = static_cast<uint8>(v >> 8);
}

void PutLE32(uint8* p, uint32 v)
{
	PutLE16(p, v);
	PutLE16(p + 2, v >> 16);
}

class g72xEncoder : public BPrivate::Encoder {
public:
	g72xEncoder() { g72x_init_state(&state); }

	status_t GetCodecInfo(media_codec_info* info) const override
	{
		*info = media_codec_info{};
		strcpy(info->pretty_name, "G.723_3 Audio Compression");
		strcpy(info->short_name, "G.723_3");
		return B_OK;
	}

	status_t SetFormat(media_file_format* file, media_format* in, media_format* out) override
	{
		if (!file || !in || !out)
			return B_BAD_VALUE;
		if (file->family != B_WAV_FORMAT_FAMILY)
			return B_MEDIA_BAD_FORMAT;
		channels = static_cast<int32>(in->u.raw_audio.channel_count);
		rate = static_cast<int32>(in->u.raw_audio.frame_rate);
		in->type = B_MEDIA_RAW_AUDIO;
		in->u.raw_audio.format = media_raw_audio_format::B_AUDIO_SHORT;
		*out = *in;
		out->type = B_MEDIA_ENCODED_AUDIO;
		out->u.encoded_audio.encoding = wav_encoding;
		return B_OK;
	}

	status_t AttachedToTrack() override
	{
		uint8 header[14];
		PutLE16(header, kFormatTag);
		PutLE16(header + 2, static_cast<uint32>(channels));
		PutLE32(header + 4, static_cast<uint32>(rate));
		// Computed in 64 bits and truncated toward zero like the 32-bit product it stands for,
		// without its overflow.
		const int64 bytesPerSecond = static_cast<int64>(channels) * rate * 3 / 8;
		PutLE32(header + 8, static_cast<uint32>(bytesPerSecond));
		PutLE16(header + 12, 1);
		return AddTrackInfo(0, header, sizeof header);
	}

	status_t Encode(const void* buffer, int64 frames, media_encode_info* info) override
	{
		if (frames < 0 || channels < 0)
			return B_BAD_VALUE;
		// One chunk holds at most INT32_MAX bytes (what a reader can describe); more is an
		// allocation refused.
		const uint64 maxSamples = (static_cast<uint64>(INT32_MAX) * 8) / 3;
		if (channels && static_cast<uint64>(frames) > maxSamples / static_cast<uint64>(channels))
			return B_NO_MEMORY;
		const uint64 n = static_cast<uint64>(frames) * static_cast<uint64>(channels);
		if (n && !buffer)
			return B_BAD_VALUE;
		const size_t size = static_cast<size_t>((n * 3 + bitCount) >> 3);
		uint8* bytes = static_cast<uint8*>(malloc(size ? size : 1));
		if (!bytes)
			return B_NO_MEMORY;

		const int16* samples = static_cast<const int16*>(buffer);
		size_t written = 0;
		for (uint64 i = 0; i < n; i++) {
			const int code = g723_24_encoder(samples[i], G72X_CODING_LINEAR, &state);
			bitBuffer |= static_cast<uint32>(code) << bitCount;
			bitCount += 3;
			if (bitCount > 7) {
				bytes[written++] = static_cast<uint8>(bitBuffer);
				bitBuffer >>= 8;
				bitCount -= 8;
			}
		}
		status_t status = B_OK;
		if (written)
			status = WriteChunk(bytes, written, info);
		free(bytes);
		return status < B_OK ? status : B_OK;
	}

	status_t Flush() override
	{
		if (bitCount == 0)
			return B_OK;
		const uint8 byte = static_cast<uint8>(bitBuffer);
		media_encode_info info;
		const status_t status = WriteChunk(&byte, 1, &info);
		bitBuffer = 0;
		bitCount = 0;
		return status < B_OK ? status : B_OK;
	}

private:
	int32 channels = 0;
	int32 rate = 0;
	g72x_state state;
	uint32 bitBuffer = 0;
	int32 bitCount = 0;
};

}  // namespace

KORVO_EXPORT void register_encoder()
{
	media_format_description description;
	description.family = B_WAV_FORMAT_FAMILY;
	description.u.wav.codec = kFormatTag;
	media_format format;
	format.type = B_MEDIA_ENCODED_AUDIO;
	format.u.encoded_audio = media_encoded_audio_format::wildcard;
	BMediaFormats formats;
	wav_encoding = 0;
	if (formats.MakeFormatFor(&description, 1, &format, 0, 0) == B_OK)
		wav_encoding = format.u.encoded_audio.encoding;
}

KORVO_EXPORT BPrivate::Encoder* instantiate_encoder()
{
	if (wav_encoding == 0)
		return nullptr;
	return new (std::nothrow) g72xEncoder;
}
