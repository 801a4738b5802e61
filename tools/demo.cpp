// `mediaconv demo`: synthesizes a 352x288 clip and a stereo signal, runs them through every add-on
// (video to .mov with each tuning and back to Y4M and PNG; audio to .ogg and back, and to G.723) and
// prints a table.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "console.h"
#include "convert.h"
#include "mediaconv.h"
#include "quality.h"
#include "synth.h"

namespace {

constexpr uint32_t kWidth = 352, kHeight = 288, kRate = 25;
constexpr int kFrames = 100;
constexpr double kSeconds = 4.0;
constexpr uint32_t kSignalRate = 44100, kSignalChannels = 2;

struct Row {
	std::string file, codec, quality, encode, decode;
	uint64_t bytes = 0;
	double mediaSeconds = 0;
};

std::string Format(const char* format, double value)
{
	if (!std::isfinite(value))
		return "-";
	char text[64];
	snprintf(text, sizeof text, format, value);
	return text;
}

void PrintTable(const std::vector<Row>& rows)
{
	FILE* out = Console::Out();
	fprintf(out, "%-24s %-25s %10s %13s  %-34s %-16s %s\n", "file", "codec", "size", "bit rate", "quality",
	        "encode", "decode");
	for (const Row& r : rows) {
		const std::string rate =
		        r.mediaSeconds > 0 ? Format("%.1f kb/s", r.bytes * 8.0 / r.mediaSeconds / 1000) : "-";
		fprintf(out, "%-24s %-25s %10llu %13s  %-34s %-16s %s\n", r.file.c_str(), r.codec.c_str(),
		        (unsigned long long)r.bytes, rate.c_str(), r.quality.c_str(), r.encode.c_str(),
		        r.decode.c_str());
	}
}

uint64_t Size(const std::string& path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 ? (uint64_t)st.st_size : 0;
}

// What each column means, so no figure is read as something else.
void PrintLegend(uint32_t rate, uint32_t channels)
{
	FILE* out = Console::Out();
	fprintf(out,
	        "size      bytes of the whole file: a Y4M file with its header and every FRAME line, a movie "
	        "with its\n"
	        "          index, png/ all its frames together\n"
	        "bit rate  size x 8 / the length of the material (%.0f s); the sources' rates are those of raw "
	        "pictures\n"
	        "          and 16-bit PCM\n"
	        "          G.723 codes 3 bits per sample at the input's rate: %u Hz x %u channels x 3 bits = "
	        "%.1f kb/s\n"
	        "          before the WAV header (24 kb/s is the rate at 8000 Hz mono)\n"
	        "quality   PSNR of the decoded pictures against clip.y4m per plane (Y, U, V; 4:2:0); SNR of the\n"
	        "          decoded sound against signal.wav (each file decoded by the add-ons)\n"
	        "encode    frames coded per second, or seconds of sound coded per second of work (x realtime)\n"
	        "decode    the same for decoding; a decoded file shows the speed of the run that made it\n",
	        kSeconds, rate, channels, rate * channels * 3 / 1000.0);
}

std::string Speed(const ConvertResult& r, bool video)
{
	if (r.seconds <= 0)
		return "-";
	return video ? Format("%.1f fps", r.frames / r.seconds)
	             : Format("%.1fx realtime", r.mediaSeconds / r.seconds);
}

}  // namespace

void RunDemo(const std::string& dirName, const Options& options)
{
	std::string dir = dirName.empty() ? "demo-output" : dirName;
	if (dir.back() == '/')
		dir.pop_back();
	if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
		throw Failure(dir, std::string("cannot create the folder: ") + strerror(errno));
	const std::string at = dir + "/";
	FILE* err = Console::Err();
	auto step = [&](const char* what) {
		if (!options.quiet)
			fprintf(err, "demo: %s\n", what);
	};

	step("synthesizing a 352x288 clip of 4 s and a stereo test signal");
	WriteDemoClip(at + "clip.y4m", kWidth, kHeight, kFrames, kRate);
	WriteDemoSignal(at + "signal.wav", kSeconds, kSignalRate);

	std::vector<Row> rows;
	std::vector<std::string> failures;
	// Each part runs on its own: an add-on that is missing or fails leaves a row saying why.
	auto part = [&](const char* file, auto&& run) {
		try {
			run();
		} catch (const std::exception& e) {
			rows.push_back({file, "-", "failed (see below)", "-", "-", 0, 0});
			failures.push_back(e.what());
		}
	};
	auto psnrText = [](const Psnr& p) {
		return Format("PSNR Y %.2f", p.y) + Format(" U %.2f", p.u) + Format(" V %.2f dB", p.v);
	};

	Options video = options;
	video.codec.clear();
	part("clip.mov", [&] {
		step("clip.y4m -> clip.mov (Korvo, quality 0.85, better tuning)");
		ConvertResult enc = ConvertVideo(at + "clip.y4m", at + "clip.mov", video);
		step("clip.mov -> clip-decoded.y4m");
		ConvertResult dec = ConvertVideo(at + "clip.mov", at + "clip-decoded.y4m", video);
		rows.push_back({"clip.mov", enc.codec,
		                psnrText(MeasurePsnr(at + "clip.y4m", at + "clip-decoded.y4m")), Speed(enc, true),
		                Speed(dec, true), enc.bytes, enc.mediaSeconds});
		rows.push_back({"clip-decoded.y4m", dec.codec, "(4:2:0 from clip.mov)", "-", Speed(dec, true),
		                dec.bytes, dec.mediaSeconds});
		step("clip.mov -> png/frame%05d.png");
		mkdir((at + "png").c_str(), 0777);
		ConvertResult png = ConvertVideo(at + "clip.mov", at + "png/frame%05d.png", video);
		rows.push_back({"png/ (" + std::to_string(png.frames) + " frames)", png.codec, "(RGB from clip.mov)",
		                "-", Speed(png, true), png.bytes, png.mediaSeconds});
	});
	// The same clip with the encoder's other decisions, and with its optional settings. An encoder
	// without such parameters is no failure of the demo.
	auto variant = [&](const std::string& name, const Options& settings, const char* what) {
		part(name.c_str(), [&] {
			step(("clip.y4m -> " + name + " (" + what + ")").c_str());
			ConvertResult e;
			try {
				e = ConvertVideo(at + "clip.y4m", at + name, settings);
			} catch (const Failure& f) {
				if (!strstr(f.what(), " offers no "))
					throw;
				rows.push_back({name, "-", "(encoder has no such parameters)", "-", "-", 0, 0});
				return;
			}
			const std::string decoded = name.substr(0, name.size() - 4) + ".y4m";
			ConvertResult d = ConvertVideo(at + name, at + decoded, settings);
			rows.push_back({name, e.codec, psnrText(MeasurePsnr(at + "clip.y4m", at + decoded)),
			                Speed(e, true), Speed(d, true), e.bytes, e.mediaSeconds});
		});
	};
	Options classic = video;
	classic.tune = "classic";
	classic.tuneGiven = true;
	variant("clip-classic.mov", classic, "--tune classic");
	Options filtered = video;
	filtered.artifactReduction = filtered.optimal = true;
	variant("clip-filtered.mov", filtered, "--artifact-reduction --optimal");

	Options audio = options;
	audio.codec.clear();
	part("signal.ogg", [&] {
		step("signal.wav -> signal.ogg (Vorbis)");
		ConvertResult ogg = ConvertAudio(at + "signal.wav", at + "signal.ogg", audio);
		step("signal.ogg -> signal-decoded.wav");
		ConvertResult pcm = ConvertAudio(at + "signal.ogg", at + "signal-decoded.wav", audio);
		rows.push_back({"signal.ogg", ogg.codec,
		                Format("SNR %.2f dB", MeasureSnr(at + "signal.wav", at + "signal-decoded.wav")),
		                Speed(ogg, false), Speed(pcm, false), ogg.bytes, ogg.mediaSeconds});
		rows.push_back({"signal-decoded.wav", pcm.codec, "(PCM from signal.ogg)", "-", Speed(pcm, false),
		                pcm.bytes, pcm.mediaSeconds});
	});
	part("signal-g723.wav", [&] {
		step("signal.wav -> signal-g723.wav (G.723)");
		Options g723 = audio;
		g723.codec = "g723";
		ConvertResult r = ConvertAudio(at + "signal.wav", at + "signal-g723.wav", g723);
		rows.push_back({"signal-g723.wav", r.codec,
		                Format("SNR %.2f dB", MeasureSnr(at + "signal.wav", at + "signal-g723.wav")),
		                Speed(r, false), "-", r.bytes, r.mediaSeconds});
	});
	rows.push_back({"clip.y4m", "(source)", "-", "-", "-", Size(at + "clip.y4m"), kFrames / (double)kRate});
	rows.push_back({"signal.wav", "(source)", "-", "-", "-", Size(at + "signal.wav"), kSeconds});
	fprintf(Console::Out(), "Demo files in %s/\n", dir.c_str());
	PrintTable(rows);
	PrintLegend(kSignalRate, kSignalChannels);
	for (const std::string& f : failures)
		fprintf(Console::Out(), "failed: %s\n", f.c_str());
	if (!failures.empty())
		throw Failure(dir, std::to_string(failures.size()) + " of the demo's conversions failed");
}
