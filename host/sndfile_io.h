// libsndfile on the host's BPositionIO: the virtual I/O callbacks, and the tags libsndfile keeps as
// strings by their names in MediaTags.h. Shared by the libsndfile reader and writers.
#pragma once

#include <sndfile.h>

#include "DataIO.h"

namespace BPrivate::media {

inline sf_count_t sndfile_io_length(void* user)
{
	off_t size = 0;
	return static_cast<BPositionIO*>(user)->GetSize(&size) == B_OK ? size : -1;
}

inline sf_count_t sndfile_io_seek(sf_count_t offset, int whence, void* user)
{
	return static_cast<BPositionIO*>(user)->Seek(offset, static_cast<uint32>(whence));
}

inline sf_count_t sndfile_io_read(void* buffer, sf_count_t count, void* user)
{
	if (count <= 0)
		return 0;
	const ssize_t n = static_cast<BPositionIO*>(user)->Read(buffer, static_cast<size_t>(count));
	return n < 0 ? 0 : n;
}

inline sf_count_t sndfile_io_write(const void* buffer, sf_count_t count, void* user)
{
	if (count <= 0)
		return 0;
	const ssize_t n = static_cast<BPositionIO*>(user)->Write(buffer, static_cast<size_t>(count));
	return n < 0 ? 0 : n;
}

inline sf_count_t sndfile_io_tell(void* user) { return static_cast<BPositionIO*>(user)->Position(); }

// For sf_open_virtual with the BPositionIO as its user data.
inline SF_VIRTUAL_IO sndfile_virtual_io()
{
	return {sndfile_io_length, sndfile_io_seek, sndfile_io_read, sndfile_io_write, sndfile_io_tell};
}

struct sndfile_tag {
	const char* name;
	int id;
};

inline constexpr sndfile_tag kSndfileTags[] = {
        {"title", SF_STR_TITLE},
        {"artist", SF_STR_ARTIST},
        {"album", SF_STR_ALBUM},
        {"date", SF_STR_DATE},
        {"genre", SF_STR_GENRE},
        {"comment", SF_STR_COMMENT},
        {"tracknumber", SF_STR_TRACKNUMBER},
        {"copyright", SF_STR_COPYRIGHT},
};

}  // namespace BPrivate::media
