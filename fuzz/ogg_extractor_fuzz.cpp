// libFuzzer target for the OggAudioExtractor add-on, built into this program so the fuzzer sees its
// branches (the other add-ons are loaded from the build tree for the formats they register): sniffs the
// input, reads its PCM chunks, seeks by frame and time and reads on. Any report is a bug.
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DataIO.h"
#include "Extractor.h"
#include "MediaAddOns.h"

namespace {

// One extractor for all inputs (its banner is printed once); every Sniff starts it afresh.
BPrivate::Extractor* gExtractor = nullptr;

// The add-ons live in add-ons/media/ of the build tree, beside this program's fuzz/ folder.
std::string AddOnRoot()
{
	char exe[PATH_MAX];
	const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
	if (n <= 0)
		return "add-ons/media";
	exe[n] = 0;
	std::string dir(exe);
	dir.erase(dir.rfind('/'));
	return dir + "/../add-ons/media";
}

// Reads up to `limit` chunks; returns false once the stream has ended.
bool ReadChunks(BPrivate::Extractor* x, void* cookie, int limit, unsigned* sum)
{
	for (int i = 0; i < limit; i++) {
		char* chunk = nullptr;
		int32 size = 0, packet = 0;
		off_t pos = 0;
		media_header header;
		if (x->SplitNext(0, cookie, &pos, nullptr, &packet, &chunk, &size, &header) != B_OK)
			return false;
		if (size > 0)
			*sum += static_cast<unsigned char>(chunk[0]) + static_cast<unsigned char>(chunk[size - 1]);
	}
	return true;
}

}  // namespace

// libvorbisfile 1.3.7 itself loses a few bytes (its list of stream serial numbers) when
// ov_open_callbacks fails on some broken files; that is the library's leak, not the extractor's.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvorbisfile.so\n"; }

// The extractor's own entry point, compiled into this program.
extern "C" BPrivate::Extractor* instantiate_extractor();

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
	// The extractor's track format is the one the Vorbis encoder registers.
	const std::string root = AddOnRoot();
	load_media_addons(root.c_str());
	gExtractor = instantiate_extractor();
	if (!gExtractor) {
		fprintf(stderr, "ogg_extractor_fuzz: no extractor\n");
		exit(1);
	}
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	BMemoryIO io(static_cast<const void*>(data), size);
	BPrivate::Extractor* x = gExtractor;
	x->SetSource(&io);
	int32 streams = 0, chunkSize = 0;
	if (x->Sniff(&streams, &chunkSize) == B_OK) {
		media_format format;
		x->TrackInfo(0, &format, nullptr, nullptr);
		int64 frames = 0;
		x->CountFrames(0, &frames);
		bigtime_t duration = 0;
		x->GetDuration(0, &duration);
		void* cookie = nullptr;
		if (x->AllocateCookie(0, &cookie) == B_OK) {
			unsigned sum = 0;
			ReadChunks(x, cookie, 256, &sum);
			// Seek targets from the stream's own length and from the input's last bytes.
			const uint8_t a = size ? data[size - 1] : 0, b = size > 1 ? data[size - 2] : 0;
			int64 frame = frames > 0 ? frames * a / 255 : a;
			bigtime_t time = duration > 0 ? duration * b / 255 : b * 1000;
			off_t pos = 0;
			int32 seekSize = 0;
			bool done = false;
			if (x->Seek(0, cookie, B_SEEK_BY_FRAME, 0, &time, &frame, &pos, nullptr, &seekSize, &done) ==
			    B_OK)
				ReadChunks(x, cookie, 16, &sum);
			time = duration > 0 ? duration * b / 255 : b * 1000;
			if (x->Seek(0, cookie, B_SEEK_BY_TIME, 0, &time, &frame, &pos, nullptr, &seekSize, &done) == B_OK)
				ReadChunks(x, cookie, 16, &sum);
			frame = -static_cast<int64>(a) - 1;
			x->Seek(0, cookie, B_SEEK_BY_FRAME, 0, &time, &frame, &pos, nullptr, &seekSize, &done);
			ReadChunks(x, cookie, 4, &sum);
			(void)sum;
			x->FreeCookie(0, cookie);
		}
	}
	// Let go of this input before it goes away.
	BMemoryIO empty(static_cast<const void*>(data), 0);
	x->SetSource(&empty);
	x->Sniff(&streams, &chunkSize);
	return 0;
}
