// File kinds by extension: a small table shared by convert and info.
#include "formats.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdint>
#include <cstring>

namespace {

struct Entry {
	const char* extension;
	FileKind kind;
	const char* name;
};

constexpr Entry kTable[] = {
        {"y4m", FileKind::Y4m, "Y4M video"},         {"png", FileKind::PngSequence, "PNG sequence"},
        {"mov", FileKind::Movie, "QuickTime movie"}, {"qt", FileKind::Movie, "QuickTime movie"},
        {"wav", FileKind::Wav, "WAV audio"},         {"aif", FileKind::Aiff, "AIFF audio"},
        {"aiff", FileKind::Aiff, "AIFF audio"},      {"flac", FileKind::Flac, "FLAC audio"},
        {"ogg", FileKind::Ogg, "Ogg Vorbis audio"},  {"oga", FileKind::Ogg, "Ogg Vorbis audio"},
};

}  // namespace

FileKind FileKindOf(const std::string& path)
{
	if (path == "-")
		return FileKind::Y4m;  // standard input or output
	struct stat st;
	if (!path.empty() && (path.back() == '/' || (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))))
		return FileKind::PngSequence;
	size_t dot = path.rfind('.');
	if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
		return FileKind::Unknown;
	std::string ext;
	for (char c : path.substr(dot + 1))
		ext.push_back((char)tolower((unsigned char)c));
	for (const Entry& e : kTable) {
		if (ext == e.extension)
			return e.kind;
	}
	return FileKind::Unknown;
}

bool IsVideo(FileKind kind)
{
	return kind == FileKind::Y4m || kind == FileKind::PngSequence || kind == FileKind::Movie;
}

bool IsAudio(FileKind kind)
{
	return kind == FileKind::Wav || kind == FileKind::Aiff || kind == FileKind::Flac || kind == FileKind::Ogg;
}

const char* KindName(FileKind kind)
{
	for (const Entry& e : kTable) {
		if (e.kind == kind)
			return e.name;
	}
	return "file of unknown kind";
}

FileKind SniffKind(const std::string& head)
{
	auto at = [&](size_t offset, const char* signature) {
		return head.compare(offset, strlen(signature), signature) == 0;
	};
	if (at(0, "YUV4MPEG2"))
		return FileKind::Y4m;
	if (at(0, "RIFF") && at(8, "WAVE"))
		return FileKind::Wav;
	if (at(0, "FORM") && (at(8, "AIFF") || at(8, "AIFC")))
		return FileKind::Aiff;
	if (at(0, "fLaC"))
		return FileKind::Flac;
	if (at(0, "OggS"))
		return FileKind::Ogg;
	if (at(0, "\x89PNG"))
		return FileKind::PngSequence;
	for (const char* box : {"ftyp", "moov", "mdat", "wide", "free", "skip"}) {
		if (at(4, box))
			return FileKind::Movie;
	}
	return FileKind::Unknown;
}
