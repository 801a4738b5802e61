// The two conversions the tool runs, video to video and audio to audio, and what each one did.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Options;

// What one conversion did, for the summary and the demo table.
struct ConvertResult {
	int64_t frames = 0;               // video frames or audio sample frames
	double mediaSeconds = 0;          // length of what was converted
	double seconds = 0;               // wall-clock time taken
	uint64_t bytes = 0;               // size of the output
	std::string codec;                // the codec used (short name), "" for none
	uint64_t videoStreamBytes = 0;    // the coded pictures of a movie written, without the container
	std::vector<std::string> report;  // measurements asked for (--psnr, --ssim), one line each
};

ConvertResult ConvertVideo(const std::string& in, const std::string& out, const Options& options);
ConvertResult ConvertAudio(const std::string& in, const std::string& out, const Options& options);
