// BMediaTrack: one stream of a BMediaFile. Read side: encoded and decoded formats, frame and chunk
// reading, seeking to key frames. Write side: frame writing through the track's encoder, chunk writing.
#pragma once

#include "MediaDefs.h"

class BMediaFile;
class BParameterWeb;
class BView;

// Made and owned by its BMediaFile (TrackAt, CreateTrack); ReleaseTrack or the file's destruction
// delete it. Failures return a status and leave a message in ErrorText().
class KORVO_HOST_API BMediaTrack {
public:
	status_t InitCheck() const;
	// The first error this track met, with what was wrong; "" if none.
	const char* ErrorText() const;
	// The track's number in its file (0, 1, ...).
	int32 ID() const;

	// The codec (decoder when reading, encoder when writing); B_NO_INIT if the track has none,
	// B_NO_MEMORY if its decoder ran out of memory while it was set up.
	status_t GetCodecInfo(media_codec_info* info) const;
	status_t EncodedFormat(media_format* format) const;
	// The caller's proposal of a raw format in (display.bytes_per_row 0 means tightly packed), the
	// format ReadFrames will deliver out.
	status_t DecodedFormat(media_format* inout_format, uint32 flags = 0);
	int64 CountFrames() const;
	bigtime_t Duration() const;
	int64 CurrentFrame() const;
	bigtime_t CurrentTime() const;

	// Decodes the next frame(s) into `buffer` (big enough for one decoded buffer of the format from
	// DecodedFormat). B_LAST_BUFFER_ERROR at the end of the track.
	status_t ReadFrames(void* buffer, int64* frameCount, media_header* header = 0,
	                    media_decode_info* info = 0);
	// Frames ReadFrames delivered whose header carried damage (B_MEDIA_DAMAGE_*): decoded as well as
	// the data allowed, but not as they were made.
	int64 CountDamagedFrames() const;
	// What the file's header claimed that the file cannot hold (the count it gave for the track's
	// frames), "" if nothing; CountFrames and Duration are then bounded by what it can hold.
	const char* DamageText() const;
	// The next chunk as stored; valid until the next read or seek on this track.
	status_t ReadChunk(char** buffer, int32* size, media_header* header = 0);
	// Moves to a key frame: B_MEDIA_SEEK_CLOSEST_BACKWARD (also the default, flags 0) the last key
	// frame at or before the request, B_MEDIA_SEEK_CLOSEST_FORWARD the first at or after it. On
	// return *frame / *time say where the next read starts.
	status_t SeekToFrame(int64* frame, int32 flags = 0);
	status_t SeekToTime(bigtime_t* time, int32 flags = 0);

	// Writing. Frames go through the encoder; chunks go to the file as they are.
	status_t WriteFrames(const void* data, int32 frameCount, int32 flags = 0);
	status_t WriteFrames(const void* data, int32 frameCount, media_encode_info* info);
	status_t WriteChunk(const void* data, size_t size, uint32 flags = 0);
	status_t WriteChunk(const void* data, size_t size, media_encode_info* info);
	status_t Flush();
	status_t AddCopyright(const char* text);
	status_t AddTrackInfo(uint32 code, const void* data, size_t size, uint32 flags = 0);

	// Writing: the raw format WriteFrames takes, as the encoder answered the format given to
	// CreateTrack (an audio encoder's setting may change the answer until the header is committed).
	status_t RawFormat(media_format* format) const;

	// The encoder's settings (on a track being read, the decoder's).
	BParameterWeb* Web();
	status_t GetParameterValue(int32 id, void* value, size_t* size);
	status_t SetParameterValue(int32 id, const void* value, size_t size);
	BView* GetParameterView();
	status_t GetEncodeParameters(encode_parameters* parameters) const;
	status_t SetEncodeParameters(encode_parameters* parameters);

	struct Impl;

private:
	friend class BMediaFile;
	explicit BMediaTrack(Impl* impl);
	~BMediaTrack();
	BMediaTrack(const BMediaTrack&) = delete;
	BMediaTrack& operator=(const BMediaTrack&) = delete;

	Impl* fImpl;
};
