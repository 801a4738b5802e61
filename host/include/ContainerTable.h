// The host's built-in container readers and writers, one table entry per container. Readers are
// BPrivate::Extractor subclasses and writers BPrivate::MediaWriter subclasses, exactly like add-ons.
#pragma once

// Adding a container (say a WAV writer in host/wav_writer.cpp):
//   1. In the new file define, inside namespace BPrivate::media, the entry functions with the same
//      meaning as an add-on's exports:
//        reader: Extractor* instantiate_<name>_reader();
//        writer: MediaWriter* instantiate_<name>_writer();
//                status_t <name>_writer_info(media_file_format* mfi);    // like get_mediawriter_info
//                status_t <name>_writer_accepts(const media_format* f);  // like accepts_format
//   2. Declare them below, next to the QuickTime ones.
//   3. Add one line to the table in host/container_table.cpp:
//        {"wav", instantiate_wav_writer, wav_writer_info, wav_writer_accepts},
// BMediaFile tries readers in table order (each gets a fresh instance, Source() set, then Sniff; the
// first B_OK wins) before add-on extractors, so a built-in reader must refuse (B_BAD_TYPE) files an
// add-on is meant to read (a libsndfile reader: Ogg Vorbis). A Sniff result of B_BAD_DATA means
// "mine, but broken": the search stops and the file is refused with the reader's reason
// (B_PERFORM_GET_ERROR_TEXT below). A reader may describe a track as raw audio (TrackInfo type
// B_MEDIA_RAW_AUDIO, chunks of PCM): the host's pass-through decoder delivers it, as it does for
// encoded audio that no decoder add-on claims (chunks in encoded_audio.output).
// A file opened for writing takes the first writer, built-in before add-on, whose info has the
// requested family (and short_name, when the caller gives one). A track is offered to the writer's
// accepts function before AddTrack; a writer that takes raw data (PCM in WAV, say) accepts the raw
// format itself and gets WriteData calls with the raw frames.

#include "Extractor.h"
#include "MediaWriter.h"

namespace BPrivate::media {

// Perform code of a built-in reader whose Sniff returned B_BAD_DATA (the file is of its container but
// broken): `data` is a const char** that gets the reason, which BMediaFile reports.
enum : perform_code { B_PERFORM_GET_ERROR_TEXT = 0x6b657274 };

struct builtin_reader {
	const char* name;
	Extractor* (*instantiate)();
};

struct builtin_writer {
	const char* name;
	MediaWriter* (*instantiate)();
	status_t (*get_info)(media_file_format* mfi);
	status_t (*accepts)(const media_format* format);
};

// The tables (container_table.cpp).
KORVO_HOST_API const builtin_reader* builtin_readers(int32* count);
KORVO_HOST_API const builtin_writer* builtin_writers(int32* count);

// QuickTime (quicktime_reader.cpp, quicktime_writer.cpp).
KORVO_HOST_API Extractor* instantiate_quicktime_reader();
KORVO_HOST_API MediaWriter* instantiate_quicktime_writer();
KORVO_HOST_API status_t quicktime_writer_info(media_file_format* mfi);
KORVO_HOST_API status_t quicktime_writer_accepts(const media_format* format);

// Audio files: WAV writing (wav_writer.cpp) and reading through libsndfile (sndfile_reader.cpp).
KORVO_HOST_API MediaWriter* instantiate_wav_writer();
KORVO_HOST_API status_t wav_writer_info(media_file_format* mfi);
KORVO_HOST_API status_t wav_writer_accepts(const media_format* format);
KORVO_HOST_API Extractor* instantiate_sndfile_reader();
// FLAC and AIFF writing through libsndfile (sndfile_writer.cpp); both take 16-bit PCM of 1..8 channels.
KORVO_HOST_API MediaWriter* instantiate_flac_writer();
KORVO_HOST_API status_t flac_writer_info(media_file_format* mfi);
KORVO_HOST_API MediaWriter* instantiate_aiff_writer();
KORVO_HOST_API status_t aiff_writer_info(media_file_format* mfi);
KORVO_HOST_API status_t sndfile_writer_accepts(const media_format* format);
// WAV files of coded audio (wav_reader.cpp): the 'data' bytes as chunks for a decoder add-on.
KORVO_HOST_API Extractor* instantiate_wav_reader();

}  // namespace BPrivate::media
