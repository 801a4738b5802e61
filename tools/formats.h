// The table of file kinds the tool reads and writes, chosen by file name.
#pragma once

#include <string>

enum class FileKind { Unknown, Y4m, PngSequence, Movie, Wav, Aiff, Flac, Ogg };

FileKind FileKindOf(const std::string& path);
bool IsVideo(FileKind kind);
bool IsAudio(FileKind kind);
const char* KindName(FileKind kind);
