// Opening media files for reading through the host: the reason a host call failed, and the first
// track of a kind; shared by the audio and the movie readers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MediaFile.h"
#include "MediaTrack.h"

// The host's own explanation when it gave one, else the status's text.
std::string Why(const char* text, status_t status);

// The first track whose encoded format is video (or audio); throws Failure naming path when the
// file cannot be opened or holds no such track.
BMediaTrack* FirstTrack(BMediaFile& file, const std::string& path, bool video);
// The same, or null when the file holds no such track.
BMediaTrack* FindTrack(BMediaFile& file, bool video);

// What a video track's chunks hold, read from where the track stands to its end.
struct ChunkSummary {
	int64_t chunks = 0;
	uint64_t bytes = 0;
	std::vector<int64_t> keyFrames;  // indices of the chunks flagged as key frames
	int64_t damaged = 0;             // chunks where the file holds no media data
};
// Throws Failure naming `path` when a chunk cannot be read.
ChunkSummary SummarizeChunks(BMediaTrack* track, const std::string& path);
