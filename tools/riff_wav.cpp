// RIFF WAVE chunk walking: every chunk is bounded by the file, sizes are checked before use.
#include "riff_wav.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint16_t Le16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }

}  // namespace

bool ReadWavChunks(const std::string& path, WavChunks* out)
{
	std::ifstream f(path, std::ios::binary);
	std::vector<uint8_t> file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
	if (file.size() < 12 || memcmp(file.data(), "RIFF", 4) || memcmp(file.data() + 8, "WAVE", 4))
		return false;
	bool haveFormat = false, haveData = false;
	size_t pos = 12;
	while (pos + 8 <= file.size()) {
		const uint64_t size = Le32(&file[pos + 4]);
		const size_t body = pos + 8;
		const size_t end = (size_t)std::min<uint64_t>(file.size(), body + size);
		if (!memcmp(&file[pos], "fmt ", 4) && end - body >= 12) {
			out->formatTag = Le16(&file[body]);
			out->channels = Le16(&file[body + 2]);
			out->rate = Le32(&file[body + 4]);
			out->bytesPerSecond = Le32(&file[body + 8]);
			haveFormat = true;
		} else if (!memcmp(&file[pos], "data", 4)) {
			out->data.assign(file.begin() + body, file.begin() + end);
			haveData = true;
		}
		pos = body + size + (size & 1);
	}
	return haveFormat && haveData;
}
