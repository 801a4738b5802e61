// libFuzzer target for the host's QuickTime/MP4 reader, called directly (no other reader gets a
// try): sniffs the input, reads every video track's chunks and seeks by frame and by time.
#include <cstddef>
#include <cstdint>

#include "ContainerTable.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	BMemoryIO io(static_cast<const void*>(data), size);
	BPrivate::Extractor* reader = BPrivate::media::instantiate_quicktime_reader();
	reader->SetSource(&io);
	fuzz::ExerciseExtractor(reader);
	delete reader;
	return 0;
}
