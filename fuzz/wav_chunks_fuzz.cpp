// libFuzzer target for mediaconv's RIFF WAVE chunk reader (what describes G.723 and other WAV files
// no reader decodes): the input as a file, its "fmt " and "data" chunks found and bounded.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "riff_wav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	fuzz::MemoryFile file(data, size);
	if (!file.Ok())
		return 0;
	WavChunks wav;
	if (ReadWavChunks(file.Path(), &wav) && wav.data.size() > size)
		__builtin_trap();  // the data chunk cannot hold more than the file
	return 0;
}
