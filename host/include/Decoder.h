// BPrivate::Decoder, the base class of decoder add-ons, and ChunkProvider, the host side it reads from.
// A decoder add-on exports register_decoder(formats, count) and instantiate_decoder() (MediaAddOns.h).
#pragma once

#include "MediaDefs.h"

class BParameterWeb;

namespace BPrivate {

// Hands a decoder the track's chunks in stream order; the host's BMediaTrack is one. The chunk stays
// valid until the next call. B_LAST_BUFFER_ERROR after the last chunk.
class KORVO_HOST_API ChunkProvider {
public:
	virtual ~ChunkProvider();
	virtual status_t GetNextChunk(const void** chunk, size_t* size, media_header* header) = 0;
};

// Life: Sniff, Format, then Decode / Reset in any order, then the host deletes it.
class KORVO_HOST_API Decoder {
public:
	Decoder();
	virtual ~Decoder();

	virtual status_t GetCodecInfo(media_codec_info* info) const = 0;
	// B_OK if this decoder takes the track's encoded `format`; `info`/`size` are the track's extra
	// data from the reader (may be null/0).
	virtual status_t Sniff(const media_format* format, const void* info, size_t size) = 0;
	// The caller's proposal of a raw format in, the decoder's answer out.
	virtual status_t Format(media_format* inout_format) = 0;
	// Fills `out` with decoded frames; `*frames` gets how many.
	virtual status_t Decode(void* out, int64* frames, media_header* header, media_decode_info* info = 0) = 0;
	// After the host moved the track (what = B_SEEK_BY_FRAME or B_SEEK_BY_TIME): the next chunk is
	// the one at *frame / *time; to_frame / to_time are what the application asked for.
	virtual status_t Reset(int32 what, int64 to_frame, int64* frame, bigtime_t to_time, bigtime_t* time) = 0;
	virtual status_t Perform(perform_code code, void* data);
	// The decoder's settings, as an encoder's (none by default).
	virtual BParameterWeb* Web();
	virtual status_t GetParameterValue(int32 id, void* value, size_t* size);
	virtual status_t SetParameterValue(int32 id, const void* value, size_t size);

	// Host service. Without a chunk provider it returns B_NO_INIT.
	status_t GetNextChunk(const void** chunk, size_t* size, media_header* header,
	                      media_decode_info* info = 0);

	// Set by the host before Sniff.
	void SetChunkProvider(ChunkProvider* provider) { fChunkProvider = provider; }

private:
	Decoder(const Decoder&) = delete;
	Decoder& operator=(const Decoder&) = delete;

	ChunkProvider* fChunkProvider = nullptr;
};

}  // namespace BPrivate

typedef BPrivate::Decoder* (*instantiate_decoder_func)();
typedef void (*register_decoder_func)(media_format** formats, int32* count);
