// BPrivate::Encoder, the base class of encoder add-ons, and ChunkWriter, the host side it writes to.
// An encoder add-on exports register_encoder() and instantiate_encoder() (see MediaAddOns.h).
#pragma once

#include "MediaDefs.h"

class BMediaTrack;
class BParameterWeb;
class BView;

namespace BPrivate {

// Where an encoder's chunks and track records go; the host's BMediaTrack is one. Tests of an encoder
// may supply their own.
class KORVO_HOST_API ChunkWriter {
public:
	virtual ~ChunkWriter();
	virtual status_t WriteChunk(const void* data, size_t size, media_encode_info* info) = 0;
	virtual status_t AddTrackInfo(uint32 code, const void* data, size_t size) = 0;
	virtual status_t AddCopyright(const char* text) = 0;
};

// Life: SetFormat, AttachedToTrack, StartEncoder, Encode..., Flush, then the host deletes it.
// The host calls Encode with one video frame at a time and a fresh media_encode_info for each, so a
// key-frame flag set for one frame never leaks into the next; audio frames come in whole buffers.
class KORVO_HOST_API Encoder {
public:
	Encoder();
	virtual ~Encoder();

	virtual status_t GetCodecInfo(media_codec_info* info) const = 0;
	// `file` is the file format being written (the encoder may set its family), `in` the raw format
	// the application offers (the encoder may adjust it to what it takes), `out` the encoded result.
	virtual status_t SetFormat(media_file_format* file, media_format* in, media_format* out) = 0;
	// The track exists and has its encoded format; track records (AddTrackInfo, AddCopyright) may go
	// out now.
	virtual status_t AttachedToTrack();
	virtual status_t StartEncoder();
	virtual status_t Encode(const void* buffer, int64 frames, media_encode_info* info) = 0;
	virtual status_t Flush();

	virtual BParameterWeb* Web();
	virtual status_t GetParameterValue(int32 id, void* value, size_t* size);
	virtual status_t SetParameterValue(int32 id, const void* value, size_t size);
	virtual BView* GetParameterView();
	virtual status_t GetEncodeParameters(encode_parameters* parameters) const;
	virtual status_t SetEncodeParameters(encode_parameters* parameters);

	virtual status_t Perform(perform_code code, void* data);

	// Host services. Without a chunk writer they return B_NO_INIT.
	status_t WriteChunk(const void* data, size_t size, media_encode_info* info);
	status_t AddTrackInfo(uint32 code, const void* data, size_t size);
	status_t AddCopyright(const char* text);

	// Set by the host before SetFormat.
	void SetChunkWriter(ChunkWriter* writer) { fChunkWriter = writer; }
	void SetTrack(BMediaTrack* track) { fTrack = track; }
	BMediaTrack* Track() const { return fTrack; }

private:
	Encoder(const Encoder&) = delete;
	Encoder& operator=(const Encoder&) = delete;

	ChunkWriter* fChunkWriter = nullptr;
	BMediaTrack* fTrack = nullptr;
};

}  // namespace BPrivate

typedef BPrivate::Encoder* (*instantiate_encoder_func)();
typedef void (*register_encoder_func)();
