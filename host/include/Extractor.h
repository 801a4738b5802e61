// BPrivate::Extractor, the base class of file readers: add-on extractors and the host's built-in
// container readers (ContainerTable.h) both derive from it. An add-on exports instantiate_extractor().
#pragma once

#include "MediaDefs.h"

class BDataIO;

namespace BPrivate {

// Life: the host sets the source, calls Sniff (B_OK claims the file), the info calls, AllocateCookie
// per track it reads, SplitNext / Seek with that cookie, FreeCookie, then deletes the extractor.
// The host passes a null packet pointer and zero packet length to SplitNext and Seek: extractors read
// what they need from Source() themselves. Chunks stay valid until the next SplitNext on that cookie.
class KORVO_HOST_API Extractor {
public:
	Extractor();
	virtual ~Extractor();

	virtual status_t GetFileFormatInfo(media_file_format* mfi);
	virtual status_t Sniff(int32* streams, int32* chunk_size) = 0;
	// The stream's format (encoded or raw); `info`/`infoSize` optional extra data for the decoder.
	virtual status_t TrackInfo(int32 stream, media_format* format, void** info, int32* infoSize) = 0;
	virtual status_t CountFrames(int32 stream, int64* frames);
	virtual status_t GetDuration(int32 stream, bigtime_t* duration);
	virtual status_t AllocateCookie(int32 stream, void** cookie);
	virtual status_t FreeCookie(int32 stream, void* cookie);
	// The next chunk of the stream; B_LAST_BUFFER_ERROR at its end. `header` gets the chunk's
	// start_time, size_used, file_pos and, for video, B_MEDIA_KEY_FRAME in u.encoded_video.field_flags.
	virtual status_t SplitNext(int32 stream, void* cookie, off_t* filePos, char* packet, int32* packetSize,
	                           char** chunk, int32* chunkSize, media_header* header) = 0;
	// toWhat B_SEEK_BY_FRAME or B_SEEK_BY_TIME; flags B_MEDIA_SEEK_CLOSEST_BACKWARD / _FORWARD.
	// On return *time and *frame hold where the next SplitNext starts.
	virtual status_t Seek(int32 stream, void* cookie, int32 toWhat, int32 flags, bigtime_t* time,
	                      int64* frame, off_t* filePos, char* packet, int32* packetSize, bool* done) = 0;
	virtual status_t Perform(perform_code code, void* data);

	// Host service: the file being read (a BPositionIO for files the host opens).
	BDataIO* Source() const { return fSource; }
	// Set by the host before Sniff.
	void SetSource(BDataIO* source) { fSource = source; }

private:
	Extractor(const Extractor&) = delete;
	Extractor& operator=(const Extractor&) = delete;

	BDataIO* fSource = nullptr;
};

}  // namespace BPrivate

typedef BPrivate::Extractor* (*instantiate_extractor_func)();
