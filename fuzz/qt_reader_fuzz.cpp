// libFuzzer target for the host's QuickTime/MP4 reader: opens the input as a movie, reads every
// track's chunks and seeks by frame and time. Any sanitizer report is a bug in the reader.
#include <cstddef>
#include <cstdint>

#include "DataIO.h"
#include "MediaFile.h"
#include "MediaTrack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	BMemoryIO io(static_cast<const void*>(data), size);
	BMediaFile file(&io);
	if (file.InitCheck() != B_OK)
		return 0;
	for (int32 i = 0; i < file.CountTracks(); i++) {
		BMediaTrack* track = file.TrackAt(i);
		if (!track || track->InitCheck() != B_OK)
			continue;
		media_format format;
		track->EncodedFormat(&format);
		char* chunk;
		int32 chunkSize;
		media_header header;
		unsigned sum = 0;
		for (int n = 0; n < 64 && track->ReadChunk(&chunk, &chunkSize, &header) == B_OK; n++) {
			if (chunkSize > 0)
				sum += (unsigned char)chunk[0] + (unsigned char)chunk[chunkSize - 1];
		}
		int64 frame = track->CountFrames() / 2;
		track->SeekToFrame(&frame, B_MEDIA_SEEK_CLOSEST_FORWARD);
		bigtime_t time = track->Duration() / 3;
		track->SeekToTime(&time);
		if (track->ReadChunk(&chunk, &chunkSize, &header) == B_OK && chunkSize > 0)
			sum += (unsigned char)chunk[chunkSize - 1];
		(void)sum;
	}
	return 0;
}
