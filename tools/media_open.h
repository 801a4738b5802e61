// Opening media files for reading through the host: the reason a host call failed, and the first
// track of a kind; shared by the audio and the movie readers.
#pragma once

#include <string>

#include "MediaFile.h"
#include "MediaTrack.h"

// The host's own explanation when it gave one, else the status's text.
std::string Why(const char* text, status_t status);

// The first track whose encoded format is video (or audio); throws Failure naming path when the
// file cannot be opened or holds no such track.
BMediaTrack* FirstTrack(BMediaFile& file, const std::string& path, bool video);
// The same, or null when the file holds no such track.
BMediaTrack* FindTrack(BMediaFile& file, bool video);
