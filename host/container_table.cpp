// The tables of built-in container readers and writers (see ContainerTable.h for how to add one).
// Order matters: readers are sniffed and writers matched from the top.
#include "ContainerTable.h"

namespace BPrivate::media {

static const builtin_reader kReaders[] = {
        {"quicktime", instantiate_quicktime_reader},
        {"wav", instantiate_wav_reader},
        {"sndfile", instantiate_sndfile_reader},
};

static const builtin_writer kWriters[] = {
        {"quicktime", instantiate_quicktime_writer, quicktime_writer_info, quicktime_writer_accepts},
        {"wav", instantiate_wav_writer, wav_writer_info, wav_writer_accepts},
        {"flac", instantiate_flac_writer, flac_writer_info, sndfile_writer_accepts},
        {"aiff", instantiate_aiff_writer, aiff_writer_info, sndfile_writer_accepts},
};

const builtin_reader* builtin_readers(int32* count)
{
	*count = (int32)(sizeof(kReaders) / sizeof(kReaders[0]));
	return kReaders;
}

const builtin_writer* builtin_writers(int32* count)
{
	*count = (int32)(sizeof(kWriters) / sizeof(kWriters[0]));
	return kWriters;
}

}  // namespace BPrivate::media
