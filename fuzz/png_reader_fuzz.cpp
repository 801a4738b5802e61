// libFuzzer target for mediaconv's PNG reader: the input as a one-picture sequence, read as B G R A.
// Refusals are exceptions; anything else is a bug.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "fuzz_support.h"
#include "mediaconv.h"
#include "video_io.h"

namespace {

constexpr size_t kMaxFrameBytes = size_t{16} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	fuzz::MemoryFile file(data, size);
	if (!file.Ok())
		return 0;
	try {
		const Options options;
		std::unique_ptr<VideoReader> reader = OpenPngReader(file.Path(), options);
		const size_t frameBytes = reader->Params().FrameBytes();
		if (frameBytes == 0 || frameBytes > kMaxFrameBytes)
			return 0;
		std::vector<uint8_t> frame(frameBytes);
		reader->Read(frame.data());
	} catch (const std::exception&) {
	}
	return 0;
}
