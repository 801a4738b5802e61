// libFuzzer target for mediaconv's Y4M reader: the input as a file, its header parsed and up to eight
// frames read, then a seek back to the first. Refusals are exceptions; anything else is a bug.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "fuzz_support.h"
#include "video_io.h"

namespace {

// Pictures beyond this are read only as far as their header: the reader's limits allow 8192 x 8192.
constexpr size_t kMaxFrameBytes = size_t{16} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	fuzz::MemoryFile file(data, size);
	if (!file.Ok())
		return 0;
	try {
		std::unique_ptr<VideoReader> reader = OpenY4mReader(file.Path());
		const size_t frameBytes = reader->Params().FrameBytes();
		if (frameBytes == 0 || frameBytes > kMaxFrameBytes)
			return 0;
		std::vector<uint8_t> frame(frameBytes);
		for (int i = 0; i < 8 && reader->Read(frame.data()); i++) {}
		reader->SeekTo(0);
		reader->Read(frame.data());
	} catch (const std::exception&) {
	}
	return 0;
}
