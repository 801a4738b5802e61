// The built-in decoder for tracks whose chunks already are raw data: encoded audio that no decoder
// add-on claims (PCM in the track's output raw format) and raw audio or video tracks.
#include <algorithm>
#include <cstring>

#include "addon_registry.h"

namespace BPrivate::media {

namespace {

constexpr int kMaxEmptyChunks = 1000;

class PassthroughDecoder : public Decoder {
public:
	status_t GetCodecInfo(media_codec_info* info) const override
	{
		*info = media_codec_info{};
		strcpy(info->pretty_name, "Raw data pass-through");
		strcpy(info->short_name, "raw");
		return B_OK;
	}

	status_t Sniff(const media_format* format, const void*, size_t) override
	{
		fOutput = media_format();
		switch (format->type) {
			case B_MEDIA_ENCODED_AUDIO:
				fOutput.type = B_MEDIA_RAW_AUDIO;
				static_cast<media_raw_audio_format&>(fOutput.u.raw_audio) = format->u.encoded_audio.output;
				break;
			case B_MEDIA_RAW_AUDIO:
			case B_MEDIA_RAW_VIDEO: fOutput = *format; break;
			default: return B_BAD_TYPE;
		}
		fFrameBytes = FrameBytes(fOutput);
		if (!fFrameBytes)
			return B_MEDIA_BAD_FORMAT;
		if (fOutput.type == B_MEDIA_RAW_AUDIO) {
			// Whole frames per buffer; 4096 bytes when the track does not say.
			size_t& buffer = fOutput.u.raw_audio.buffer_size;
			if (buffer < fFrameBytes)
				buffer = std::max<size_t>(4096 / fFrameBytes, 1) * fFrameBytes;
			buffer -= buffer % fFrameBytes;
		}
		return B_OK;
	}

	status_t Format(media_format* inout_format) override
	{
		*inout_format = fOutput;
		return B_OK;
	}

	status_t Decode(void* out, int64* frames, media_header* header, media_decode_info* info) override
	{
		*frames = 0;
		if (fOutput.type == B_MEDIA_RAW_VIDEO)
			return DecodeVideo(out, frames, header, info);
		// Audio: fill one buffer of whole frames, taking chunks as needed and keeping what is left.
		const size_t want = fOutput.u.raw_audio.buffer_size;
		size_t have = 0;
		status_t status = B_OK;
		int emptyChunks = 0;
		while (have < want) {
			if (fUsed >= fSize) {
				status = GetNextChunk(&fChunk, &fSize, &fHeader, info);
				fUsed = 0;
				if (status == B_OK && fSize == 0 && ++emptyChunks > kMaxEmptyChunks)
					status = B_BAD_DATA;  // a reader that never moves on
				if (status != B_OK) {
					fSize = 0;
					break;
				}
				continue;
			}
			if (have == 0)
				MarkStart();
			size_t n = std::min(fSize - fUsed, want - have);
			memcpy(static_cast<char*>(out) + have, static_cast<const char*>(fChunk) + fUsed, n);
			have += n;
			fUsed += n;
		}
		// A partial frame at the very end is dropped.
		have -= have % fFrameBytes;
		if (have == 0)
			return status == B_OK ? B_LAST_BUFFER_ERROR : status;
		if (header) {
			*header = fFirstHeader;
			header->type = B_MEDIA_RAW_AUDIO;
			header->size_used = (uint32)have;
		}
		*frames = (int64)(have / fFrameBytes);
		return B_OK;
	}

	status_t Reset(int32, int64, int64*, bigtime_t, bigtime_t*) override
	{
		fUsed = fSize = 0;
		return B_OK;
	}

private:
	static size_t FrameBytes(const media_format& f)
	{
		if (f.type == B_MEDIA_RAW_AUDIO) {
			size_t sample = f.u.raw_audio.format & media_raw_audio_format::B_AUDIO_SIZE_MASK;
			return sample * f.u.raw_audio.channel_count;
		}
		return raw_video_frame_bytes(f.u.raw_video.display);
	}

	// The header of a buffer that starts `fUsed` bytes into the current chunk.
	void MarkStart()
	{
		fFirstHeader = fHeader;
		float rate = fOutput.u.raw_audio.frame_rate;
		if (rate > 0)
			fFirstHeader.start_time += (bigtime_t)((double)(fUsed / fFrameBytes) * 1e6 / rate);
	}

	// One chunk is one frame; a chunk of another size is bad data, not a frame.
	status_t DecodeVideo(void* out, int64* frames, media_header* header, media_decode_info* info)
	{
		const void* chunk;
		size_t size;
		media_header h;
		status_t status = GetNextChunk(&chunk, &size, &h, info);
		if (status != B_OK)
			return status;
		if (size != fFrameBytes)
			return B_BAD_DATA;
		memcpy(out, chunk, size);
		if (header)
			*header = h;
		*frames = 1;
		return B_OK;
	}

	media_format fOutput;
	size_t fFrameBytes = 0;
	const void* fChunk = nullptr;
	size_t fSize = 0, fUsed = 0;
	media_header fHeader, fFirstHeader;
};

}  // namespace

Decoder* new_passthrough_decoder() { return new PassthroughDecoder; }

}  // namespace BPrivate::media
