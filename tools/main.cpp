// mediaconv: converts, describes and demonstrates media through the host library and the codec
// add-ons. The command line (CLI11), the add-on folder, and errors turned into exit statuses.
#include <CLI/CLI.hpp>

#include <cstdlib>
#include <new>

#include "addons.h"
#include "console.h"
#include "mediaconv.h"
#include "option_rules.h"

namespace {

const char* const kCommands[] = {"convert", "info", "codecs", "demo"};

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

// Edits (insertions, deletions, substitutions, swaps of neighbours) that turn `a` into `b`.
size_t Distance(const std::string& a, const std::string& b)
{
	std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
	for (size_t i = 0; i <= a.size(); i++)
		d[i][0] = i;
	for (size_t j = 0; j <= b.size(); j++)
		d[0][j] = j;
	for (size_t i = 1; i <= a.size(); i++) {
		for (size_t j = 1; j <= b.size(); j++) {
			d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
			if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
				d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
		}
	}
	return d[a.size()][b.size()];
}

// The first word that is no option (nor the value of --addons) must be a command; a near miss is
// answered with the command meant.
void CheckCommand(int argc, char** argv)
{
	for (int i = 1; i < argc; i++) {
		const std::string word = argv[i];
		if (word == "--addons") {
			i++;
			continue;
		}
		if (word.empty() || word[0] == '-')
			continue;
		std::string best;
		size_t bestDistance = 3;
		for (const char* command : kCommands) {
			if (word == command)
				return;
			const size_t d = Distance(word, command);
			if (d < bestDistance) {
				bestDistance = d;
				best = command;
			}
		}
		throw UsageFailure("unknown command \"" + word + "\"" +
		                   (best.empty() ? "" : "; did you mean \"" + best + "\"?") +
		                   " (commands: convert, info, codecs, demo; see --help)");
	}
}

int Main(int argc, char** argv)
{
	CLI::App app{"Converts audio and video through the Korvo media add-ons.", "mediaconv"};
	app.require_subcommand(0, 1);
	Options options;
	OptionRules rules;
	bool version = false, helpAll = false;
	std::string addOns;
	app.add_flag("--help-all", helpAll, "The help of every command at once");
	app.add_flag("--version", version, "The versions of the tool and of every add-on it finds");
	app.add_option("--addons", addOns,
	               "Folder holding encoders/, decoders/, extractors/, writers/ (default: beside the tool)")
	        ->envname("MEDIACONV_ADDONS");
	app.add_flag("-q,--quiet", options.quiet, "No progress line or summary");
	app.add_flag("-v,--verbose", options.verbose, "Show what the add-ons print (on standard error)");

	std::string in, out, start, frames, file, dir = "demo-output";
	CLI::App* convert = app.add_subcommand("convert", "Convert IN to OUT; the kinds follow from the names");
	convert->add_option("IN", in,
	                    "Input: .y4m, .png (frame%05d.png or a folder), .mov, .wav, .aiff, .flac, .ogg, - "
	                    "for Y4M on standard input")
	        ->required();
	convert->add_option("OUT", out,
	                    "Output: .mov, .y4m, .png pattern or folder/, .ogg, .wav, .flac, .aiff, - for Y4M on "
	                    "standard output")
	        ->required();
	rules.Add(convert->add_option("--codec", options.codec,
	                              "Encoder to use, by a name 'mediaconv codecs' lists (korvo, vorbis, g723)"),
	          kVideoEncode | kAudioOutput, "chooses the encoder of a .mov, .ogg or .wav output");
	const CLI::Option* quality = rules.Add(
	        convert->add_option(
	                       "--quality", options.quality,
	                       "Quality 0..1 (video default 0.85, with --bitrate the lowest allowed, default "
	                       "none; Vorbis: VBR quality)")
	                ->check(CLI::Range(0.0, 1.0)),
	        kVideoEncode | kAudioEncode, "sets the quality of an encoder");
	rules.Add(
	        convert->add_option("--frames", frames, "Convert at most N frames (or seconds with an s: 1.5s)"),
	        kAnyConversion, "");
	rules.Add(convert->add_option("--start", start, "Start at frame N (or seconds: 1.5s); seeks first"),
	          kAnyConversion, "");
	const CLI::Option* rate = rules.Add(
	        convert->add_option("--rate", options.rate,
	                            "Frame rate of PNG sequence input (default 25); sample rate of audio output")
	                ->check(CLI::Range(0.01, 768000.0)),
	        kPngInput | kAudioOutput,
	        "sets the frame rate of PNG sequence input or the sample rate of audio output (Y4M and "
	        "movies carry their own frame rate)");
	rules.Add(convert->add_option("--channels", options.channels,
	                              "Audio output channels (default: the input's)")
	                  ->check(CLI::Range(1, 64)),
	          kAudioOutput, "sets the channels of audio output");
	rules.Add(convert->add_option("--audio", options.audio,
	                              "Sound for a .mov output: .wav, .aiff, .flac or .ogg"),
	          kVideoEncode | kVideoDecode, "gives a movie its sound");
	rules.Add(convert->add_option("--audio-out", options.audioOut,
	                              "Write the sound of a movie (or of --audio) to a .wav or .ogg"),
	          kVideoEncode | kVideoDecode, "writes the sound of a video conversion");
	rules.Add(convert->add_flag("--artifact-reduction", options.artifactReduction,
	                            "Video: deblocking and deringing on"),
	          kVideoEncode, "is a setting of the video encoder");
	rules.Add(convert->add_flag("--optimal", options.optimal, "Video: both optimal-compression options"),
	          kVideoEncode, "is a setting of the video encoder");
	rules.Add(convert->add_option("--bitrate", options.bitrate,
	                              "Data rate to meet, kbit/s: the video encoder's rate control, Vorbis's "
	                              "managed average bit rate")
	                  ->check(CLI::Range(1u, 1000000u)),
	          kVideoEncode | kAudioEncode, "sets the data rate of an encoder");
	rules.Add(convert->add_option("--keyint", options.keyInterval,
	                              "Video: at most N frames from one key frame to the next (1..152)")
	                  ->check(CLI::Range(1u, 152u)),
	          kVideoEncode, "spaces the key frames of the video encoder");
	const CLI::Option* tune = rules.Add(
	        convert->add_option("--tune", options.tune,
	                            "Video: the encoder's decisions, classic (the original's) or better (fewer "
	                            "bits for the same quality; the default)")
	                ->check(CLI::IsMember({"classic", "better"})),
	        kVideoEncode, "chooses the decisions of the video encoder");
	rules.Add(convert->add_flag("--psnr", options.psnr,
	                            "Video: PSNR of Y, U, V and average against the source"),
	          kVideoEncode, "measures a video encode against its source");
	rules.Add(convert->add_flag("--ssim", options.ssim, "Video: SSIM of Y, U, V and all against the source"),
	          kVideoEncode, "measures a video encode against its source");
	rules.Add(convert->add_option("--threads", options.threads,
	                              "Video: threads to encode or decode with (default: cores)")
	                  ->check(CLI::Range(1, 32)),
	          kVideoEncode | kVideoDecode, "sets the threads of the video encoder or decoder");
	rules.Add(convert->add_flag("--strict", options.strict,
	                            "Video: damaged input frames are an error (exit 1), not a warning"),
	          kVideoDecode, "is about damaged frames of a movie that is decoded");

	CLI::App* info = app.add_subcommand("info", "Describe a media file");
	info->add_option("FILE", file, "The file")->required();
	info->add_flag("--json", options.json, "As one JSON object with the fields of the text form");
	app.add_subcommand(
	        "codecs",
	        "List the codec names --codec takes, the add-ons loaded, what they offer, and files that failed");
	CLI::App* demo =
	        app.add_subcommand("demo", "Synthesize a clip and a signal and run them through every add-on");
	demo->add_option("DIR", dir, "Output folder (default demo-output)");
	// Global flags are also accepted after the subcommand.
	for (CLI::App* sub : {convert, info, app.get_subcommand("codecs"), demo}) {
		sub->fallthrough();
	}

	try {
		CheckCommand(argc, argv);
		app.parse(argc, argv);
	} catch (const CLI::ParseError& e) {
		return app.exit(e) == 0 ? 0 : 2;
	} catch (const UsageFailure& e) {
		fprintf(stderr, "mediaconv: %s\n", e.what());
		return 2;
	}

	if (helpAll) {
		fputs(app.help("", CLI::AppFormatMode::All).c_str(), stdout);
		return 0;
	}
	int status = 0;
	Console::Divert(options.verbose);
	try {
		options.qualityGiven = quality->count() > 0;
		options.rateSet = rate->count() > 0;
		options.tuneGiven = tune->count() > 0;
		if (!start.empty())
			options.start = ParseAmount(start, "--start", false);
		if (!frames.empty())
			options.frames = ParseAmount(frames, "--frames", true);
		options.addOns = addOns.empty() ? DefaultAddOnFolder() : addOns;
		if (version) {
			PrintVersions(options);
		} else if (app.get_subcommands().empty()) {
			throw UsageFailure("a command is required: convert, info, codecs or demo (see --help)");
		} else if (*convert) {
			rules.Check(PlanConversion(in, out, options));
			LoadAddOns(options);
			if (!options.codec.empty())
				CodecNamed(options.codec);
			RunConvert(in, out, options);
		} else {
			LoadAddOns(options);
			if (*info)
				RunInfo(file, options);
			else if (*demo)
				RunDemo(dir, options);
			else
				RunCodecs(options);
		}
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
