// What the fuzz targets share: driving an extractor through every call a reader meets, inputs
// handed to path-based readers as in-memory files, and the alternation of plain and fast kernels.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "DataIO.h"
#include "Extractor.h"

namespace fuzz {

// Sniffs, then for each stream: its information, up to `chunks` chunks, a seek by frame and one by
// time with a chunk after each. Returns a sum of chunk bytes so nothing is optimised away.
inline unsigned ExerciseExtractor(BPrivate::Extractor* x, int chunks = 64)
{
	int32 streams = 0, chunkSize = 0;
	if (x->Sniff(&streams, &chunkSize) != B_OK)
		return 0;
	unsigned sum = 0;
	auto next = [&](int32 stream, void* cookie) {
		char* chunk = nullptr;
		int32 size = 0, packet = 0;
		off_t pos = 0;
		media_header header;
		if (x->SplitNext(stream, cookie, &pos, nullptr, &packet, &chunk, &size, &header) != B_OK)
			return false;
		if (size > 0)
			sum += (unsigned char)chunk[0] + (unsigned char)chunk[size - 1];
		return true;
	};
	for (int32 s = 0; s < streams && s < 8; s++) {
		media_format format;
		void* info = nullptr;
		int32 infoSize = 0;
		if (x->TrackInfo(s, &format, &info, &infoSize) != B_OK)
			continue;
		int64 frames = 0;
		bigtime_t duration = 0;
		x->CountFrames(s, &frames);
		x->GetDuration(s, &duration);
		void* cookie = nullptr;
		if (x->AllocateCookie(s, &cookie) != B_OK)
			continue;
		for (int n = 0; n < chunks && next(s, cookie); n++) {}
		int64 frame = frames / 2;
		bigtime_t time = 0;
		bool done = false;
		if (x->Seek(s, cookie, B_SEEK_BY_FRAME, B_MEDIA_SEEK_CLOSEST_FORWARD, &time, &frame, nullptr, nullptr,
		            nullptr, &done) == B_OK)
			next(s, cookie);
		time = duration / 3;
		if (x->Seek(s, cookie, B_SEEK_BY_TIME, B_MEDIA_SEEK_CLOSEST_BACKWARD, &time, &frame, nullptr, nullptr,
		            nullptr, &done) == B_OK)
			next(s, cookie);
		x->FreeCookie(s, cookie);
	}
	return sum;
}

// The input as a file for readers that open a path: an anonymous in-memory file, removed when
// this goes out of scope. Path() names it through /proc.
class MemoryFile {
public:
	MemoryFile(const uint8_t* data, size_t size, const char* name = "fuzz-input")
	{
		fFd = memfd_create(name, 0);
		size_t done = 0;
		while (fFd >= 0 && done < size) {
			const ssize_t n = write(fFd, data + done, size - done);
			if (n <= 0)
				break;
			done += (size_t)n;
		}
	}
	~MemoryFile()
	{
		if (fFd >= 0)
			close(fFd);
	}
	bool Ok() const { return fFd >= 0; }
	std::string Path() const { return "/proc/self/fd/" + std::to_string(fFd); }

private:
	int fFd = -1;
};

}  // namespace fuzz
