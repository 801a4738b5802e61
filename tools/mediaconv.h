// What the subcommands share: the options from the command line, the error every failure becomes,
// and the entry point of each subcommand.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// One line for standard error, naming the file and what is wrong with it.
class Failure : public std::runtime_error {
public:
	Failure(const std::string& file, const std::string& what)
	    : std::runtime_error(file.empty() ? what : file + ": " + what)
	{
	}
};

// A misuse of the command line (exit status 2).
class UsageFailure : public std::runtime_error {
public:
	using std::runtime_error::runtime_error;
};

// A position or length: a frame count, or seconds when given with an "s" suffix ("1.5s").
struct Amount {
	bool set = false;
	bool seconds = false;
	double value = 0;
	// Frames at `rate` frames per second.
	int64_t Frames(double rate) const { return seconds ? (int64_t)(value * rate + 0.5) : (int64_t)value; }
};

struct Options {
	std::string addOns;  // the add-on folder (holding encoders/, decoders/, ...)
	std::string codec;   // --codec, "" to follow the output's file name
	float quality = 0.85f;
	bool qualityGiven = false;  // --quality on the command line, not the default
	Amount frames, start;
	double rate = 25;  // frame rate of PNG sequence input; sample rate of audio output
	bool rateSet = false;
	uint32_t channels = 0;  // --channels of audio output, 0 to keep the input's
	uint32_t bitrate = 0;   // --bitrate kbit/s (video data rate, Vorbis average); 0 = none
	std::string audio;      // --audio: sound for the output movie
	std::string audioOut;   // --audio-out: where the sound of a video conversion is written
	bool artifactReduction = false;
	bool optimal = false;
	uint32_t keyInterval = 0;     // --keyint: most frames from one key frame to the next; 0 = the encoder's
	std::string tune = "better";  // --tune: the video encoder's decisions, "classic" or "better"
	bool tuneGiven = false;       // --tune on the command line, not the default
	uint32_t threads = 0;         // --threads; 0 when not given: the number of cores
	bool strict = false;          // damaged input frames fail the conversion instead of a warning
	bool quiet = false;
	bool verbose = false;
	bool psnr = false, ssim = false;  // measure a video encode against its source
	bool json = false;                // info as JSON
};

struct Conversion;

// Loads the add-ons from options.addOns (the caller has resolved the default).
void LoadAddOns(const Options& options);

// What converting `in` to `out` does, from the file kinds (standard input's from what it holds);
// throws UsageFailure for a pair no conversion joins.
Conversion PlanConversion(const std::string& in, const std::string& out, const Options& options);

// The subcommands; each throws Failure (or UsageFailure) on error.
void RunConvert(const std::string& in, const std::string& out, const Options& options);
void RunInfo(const std::string& path, const Options& options);
void RunCodecs(const Options& options);
void RunDemo(const std::string& dir, const Options& options);
