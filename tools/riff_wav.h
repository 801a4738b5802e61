// A bounded look at a RIFF WAVE file's "fmt " and "data" chunks, for files the host has no reader
// for (G.723 WAV): the format tag, channels, rate and the data bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WavChunks {
	uint16_t formatTag = 0;
	uint16_t channels = 0;
	uint32_t rate = 0;
	uint32_t bytesPerSecond = 0;
	std::vector<uint8_t> data;
};

// False if the file is no RIFF WAVE file with both chunks.
bool ReadWavChunks(const std::string& path, WavChunks* out);
