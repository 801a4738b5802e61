// BMediaFile: a media file opened for reading (built-in readers first, then add-on extractors by
// Sniff) or created for writing (a built-in or add-on writer for the requested file format).
#pragma once

#include "MediaDefs.h"

class BMediaTrack;
class BMessage;
class BPositionIO;

// Load the add-ons (MediaAddOns.h) before opening files that need them.
// Failures leave InitCheck() != B_OK and a message in ErrorText().
class KORVO_HOST_API BMediaFile {
public:
	// Reading.
	explicit BMediaFile(const char* path);
	explicit BMediaFile(BPositionIO* source);  // not owned; must outlive the file
	// Writing a file of `mfi`'s family (and short_name, when it is not empty): built-in writers
	// first, then add-on writers.
	BMediaFile(const char* path, const media_file_format* mfi, int32 flags = 0);
	BMediaFile(BPositionIO* destination, const media_file_format* mfi, int32 flags = 0);
	// Closes a file being written (CloseFile) if the application did not.
	virtual ~BMediaFile();

	status_t InitCheck() const;
	// The first error this file met, naming what was wrong; "" if none.
	const char* ErrorText() const;
	status_t GetFileFormatInfo(media_file_format* mfi) const;

	int32 CountTracks() const;
	// The file keeps one track object per index until ReleaseTrack.
	BMediaTrack* TrackAt(int32 index);
	status_t ReleaseTrack(BMediaTrack* track);
	status_t ReleaseAllTracks();

	// A new track for writing. With a raw `format` and a codec, that encoder codes it (and may adjust
	// *format to what it takes); with a raw format and no codec, the writer stores it raw if it takes
	// raw data, else the first encoder whose output the writer accepts is used; with an encoded
	// format and no codec, the application writes chunks itself. Null on failure.
	BMediaTrack* CreateTrack(media_format* format, const media_codec_info* codec, uint32 flags = 0);
	BMediaTrack* CreateTrack(media_format* format, uint32 flags = 0);

	status_t AddCopyright(const char* text);
	// The file's tags as string fields named as in MediaTags.h ("title", "artist", ...). Reading:
	// what the reader found (empty if it knows none). Writing: what SetMetaData stored.
	status_t GetMetaData(BMessage* tags) const;
	// Writing, before the header is committed: tags for the writer and for the encoder of every
	// track (Vorbis comments, WAV INFO, FLAC comments); containers without tags ignore them.
	status_t SetMetaData(const BMessage* tags);
	status_t AddChunk(int32 type, const void* data, size_t size);
	// Ends the set-up: encoders start, the writer writes its header. Writing frames or chunks commits
	// on its own if the application did not.
	status_t CommitHeader();
	// Flushes every encoder and finishes the file.
	status_t CloseFile();

	struct Impl;

private:
	BMediaFile(const BMediaFile&) = delete;
	BMediaFile& operator=(const BMediaFile&) = delete;

	Impl* fImpl;
};
