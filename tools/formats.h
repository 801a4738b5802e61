// The table of file kinds the tool reads and writes, chosen by file name.
#pragma once

#include <string>

enum class FileKind { Unknown, Y4m, PngSequence, Movie, Wav, Aiff, Flac, Ogg };

FileKind FileKindOf(const std::string& path);
bool IsVideo(FileKind kind);
bool IsAudio(FileKind kind);
const char* KindName(FileKind kind);
// The kind of file that starts with `head` (its first 16 bytes or all it has), from its signature;
// Unknown for none this tool knows. A PNG picture counts as a PNG sequence.
FileKind SniffKind(const std::string& head);
