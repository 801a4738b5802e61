// libFuzzer target for the host's libsndfile reader (WAV, AIFF, FLAC, AU, CAF, ...), called directly:
// sniffs the input, reads its PCM chunks and seeks by frame and by time.
#include <cstddef>
#include <cstdint>

#include "ContainerTable.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	BMemoryIO io(static_cast<const void*>(data), size);
	BPrivate::Extractor* reader = BPrivate::media::instantiate_sndfile_reader();
	reader->SetSource(&io);
	fuzz::ExerciseExtractor(reader, 16);
	delete reader;
	return 0;
}
