// mediaconv: converts, describes and demonstrates media through the host library and the codec
// add-ons. The command line (CLI11), the add-on folder, and errors turned into exit statuses.
#include <CLI/CLI.hpp>

#include <cstdlib>
#include <new>

#include "addons.h"
#include "console.h"
#include "mediaconv.h"

namespace {

constexpr const char* kVersion = "mediaconv 1.0";

Amount ParseAmount(const std::string& text, const char* option, bool positive)
{
	Amount a;
	std::string number = text;
	if (!number.empty() && number.back() == 's') {
		a.seconds = true;
		number.pop_back();
	}
	char* end = nullptr;
	errno = 0;
	a.value = strtod(number.c_str(), &end);
	if (number.empty() || *end || errno || !(a.value >= 0) || a.value > 1e12 ||
	    (!a.seconds && a.value != (double)(int64_t)a.value))
		throw UsageFailure(std::string(option) + " expects a frame count or seconds such as 2.5s, not \"" +
		                   text + "\"");
	if (positive && a.value <= 0)
		throw UsageFailure(std::string(option) + " must be more than 0");
	a.set = true;
	return a;
}

int Main(int argc, char** argv)
{
	CLI::App app{"Converts audio and video through the Korvo media add-ons.", "mediaconv"};
	app.set_version_flag("--version", kVersion);
	app.require_subcommand(1);
	Options options;
	std::string addOns;
	app.add_option("--addons", addOns, "Folder holding encoders/, decoders/, extractors/, writers/")
	        ->envname("MEDIACONV_ADDONS");
	app.add_flag("-q,--quiet", options.quiet, "No progress line or summary");
	app.add_flag("-v,--verbose", options.verbose, "Show what the add-ons print (on standard error)");

	std::string in, out, start, frames, file, dir = "demo-output";
	CLI::App* convert = app.add_subcommand("convert", "Convert IN to OUT; the kinds follow from the names");
	convert->add_option("IN", in,
	                    "Input: .y4m, .png (frame%05d.png or a folder), .mov, .wav, .aiff, .flac, .ogg")
	        ->required();
	convert->add_option("OUT", out, "Output: .mov, .y4m, .png pattern or folder/, .ogg, .wav, .flac, .aiff")->required();
	convert->add_option("--codec", options.codec, "Encoder to use (korvo, vorbis, g723), by name");
	CLI::Option* quality = convert->add_option("--quality", options.quality,
	                                           "Quality 0..1 (video default 0.85; Vorbis: VBR quality)")
	                               ->check(CLI::Range(0.0, 1.0));
	convert->add_option("--frames", frames, "Convert at most N frames (or seconds with an s: 1.5s)");
	convert->add_option("--start", start, "Start at frame N (or seconds: 1.5s); seeks first");
	CLI::Option* rate =
	        convert->add_option("--rate", options.rate,
	                            "Frame rate of PNG sequence input (default 25); sample rate of audio output")
	                ->check(CLI::Range(0.01, 768000.0));
	convert->add_option("--channels", options.channels, "Audio output channels (default: the input's)")
	        ->check(CLI::Range(1, 64));
	convert->add_option("--bitrate", options.bitrate, "Vorbis: managed average bit rate in kbit/s")
	        ->check(CLI::Range(1u, 100000u));
	convert->add_option("--audio", options.audio, "Sound for a .mov output: .wav, .aiff, .flac or .ogg");
	convert->add_option("--audio-out", options.audioOut,
	                    "Write the sound of a movie (or of --audio) to a .wav or .ogg");
	convert->add_flag("--artifact-reduction", options.artifactReduction,
	                  "Video: deblocking and deringing on");
	convert->add_flag("--optimal", options.optimal, "Video: both optimal-compression options");
	convert->add_option("--threads", options.threads,
	                    "Video: threads to encode or decode with (default: cores)")
	        ->check(CLI::Range(1, 32));
	convert->add_flag("--strict", options.strict,
	                  "Video: damaged input frames are an error (exit 1), not a warning");

	CLI::App* info = app.add_subcommand("info", "Describe a media file");
	info->add_option("FILE", file, "The file")->required();
	app.add_subcommand("codecs", "List the add-ons loaded, what they offer, and files that failed");
	CLI::App* demo =
	        app.add_subcommand("demo", "Synthesize a clip and a signal and run them through every add-on");
	demo->add_option("DIR", dir, "Output folder (default demo-output)");
	// Global flags are also accepted after the subcommand.
	for (CLI::App* sub : {convert, info, app.get_subcommand("codecs"), demo}) {
		sub->fallthrough();
	}

	try {
		app.parse(argc, argv);
	} catch (const CLI::ParseError& e) {
		return app.exit(e) == 0 ? 0 : 2;
	}

	options.qualityGiven = quality->count() > 0;
	options.rateSet = rate->count() > 0;
	int status = 0;
	Console::Divert(options.verbose);
	try {
		if (!start.empty())
			options.start = ParseAmount(start, "--start", false);
		if (!frames.empty())
			options.frames = ParseAmount(frames, "--frames", true);
		options.addOns = addOns.empty() ? DefaultAddOnFolder() : addOns;
		LoadAddOns(options);
		if (*convert)
			RunConvert(in, out, options);
		else if (*info)
			RunInfo(file, options);
		else if (*demo)
			RunDemo(dir, options);
		else
			RunCodecs(options);
	} catch (const UsageFailure& e) {
		fprintf(Console::Err(), "mediaconv: %s\n", e.what());
		status = 2;
	} catch (const std::bad_alloc&) {
		fprintf(Console::Err(), "mediaconv: out of memory\n");
		status = 1;
	} catch (const std::exception& e) {
		fprintf(Console::Err(), "mediaconv: %s\n", e.what());
		status = 1;
	}
	fflush(Console::Out());
	Console::Restore();
	return status;
}

}  // namespace

int main(int argc, char** argv)
{
	// Also what fails while the command line is set up and read.
	try {
		return Main(argc, argv);
	} catch (const std::bad_alloc&) {
		fputs("mediaconv: out of memory\n", stderr);
		return 1;
	}
}
