// BPrivate::MediaWriter, the base class of file writers: add-on writers and the host's built-in
// container writers (ContainerTable.h). An add-on exports instantiate_mediawriter(),
// get_mediawriter_info(media_file_format*) and accepts_format(const media_format*).
#pragma once

#include "MediaDefs.h"

class BDataIO;
class BMediaTrack;

namespace BPrivate {

// Life: SetSource, AddTrack per track (stream numbers count from 0 in AddTrack order), AddCopyright /
// AddTrackInfo, CommitHeader, WriteData..., CloseFile, then the host deletes it.
class KORVO_HOST_API MediaWriter {
public:
	MediaWriter();
	virtual ~MediaWriter();

	virtual status_t SetSource(BDataIO* source) = 0;
	virtual status_t AddCopyright(const char* text) = 0;
	virtual status_t AddTrackInfo(int32 stream, uint32 code, const void* data, size_t size) = 0;
	// The track's encoded format is there (BMediaTrack::EncodedFormat); an error refuses the track.
	virtual status_t AddTrack(BMediaTrack* track) = 0;
	virtual status_t AddChunk(int32 type, const void* data, size_t size) = 0;
	virtual status_t CommitHeader() = 0;
	virtual status_t WriteData(int32 stream, media_type type, const void* data, size_t size,
	                           media_encode_info* info) = 0;
	virtual status_t CloseFile() = 0;
	// Requests beyond the calls above (B_PERFORM_SET_TAGS, MediaTags.h); B_ERROR for those it does
	// not know.
	virtual status_t Perform(perform_code code, void* data);

private:
	MediaWriter(const MediaWriter&) = delete;
	MediaWriter& operator=(const MediaWriter&) = delete;
};

}  // namespace BPrivate

typedef BPrivate::MediaWriter* (*instantiate_mediawriter_func)();
typedef status_t (*get_mediawriter_info_func)(media_file_format* mfi);
typedef status_t (*accepts_format_func)(const media_format* format);
