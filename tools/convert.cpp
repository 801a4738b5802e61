// `mediaconv convert`: checks the input and the pair of file kinds, then runs the video or audio
// conversion and prints a one-line summary.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "console.h"
#include "convert.h"
#include "formats.h"
#include "mediaconv.h"
#include "option_rules.h"
#include "output_file.h"
#include "standard_input.h"

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint32_t Be32(const uint8_t* p) { return (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// RIFF (WAV) and IFF (AIFF) files say how long they are; readers tolerate a file cut short and give
// what is there, so a file shorter than it says is refused here.
void CheckDeclaredLength(const std::string& path, uint64_t size)
{
	uint8_t head[12];
	FILE* f = fopen(path.c_str(), "rb");
	if (!f)
		return;
	const size_t n = fread(head, 1, sizeof head, f);
	fclose(f);
	if (n < 12)
		return;
	uint64_t declared = 0;
	if (!memcmp(head, "RIFF", 4) && !memcmp(head + 8, "WAVE", 4))
		declared = 8 + (uint64_t)Le32(head + 4);
	else if (!memcmp(head, "FORM", 4) && (!memcmp(head + 8, "AIFF", 4) || !memcmp(head + 8, "AIFC", 4)))
		declared = 8 + (uint64_t)Be32(head + 4);
	// 0xFFFFFFFF-style sizes come from writers that streamed and could not go back.
	if (declared > size && Le32(head + 4) != 0xffffffffu && Le32(head + 4) != 0)
		throw Failure(path, "is truncated: it says " + std::to_string(declared) + " bytes and has " +
		                            std::to_string(size));
}

// Missing, unreadable and empty inputs get their own message before any reader sees them. PNG
// patterns and folders are checked by the PNG reader.
void CheckInput(const std::string& path, FileKind kind)
{
	if (path == "-" ||
	    (kind == FileKind::PngSequence && (path.find('%') != std::string::npos || path.back() == '/')))
		return;
	struct stat st;
	if (stat(path.c_str(), &st) != 0)
		throw Failure(path,
		              errno == ENOENT ? "no such file" : std::string("cannot open: ") + strerror(errno));
	if (S_ISDIR(st.st_mode))
		return;
	if (access(path.c_str(), R_OK) != 0)
		throw Failure(path, std::string("cannot read: ") + strerror(errno));
	if (st.st_size == 0)
		throw Failure(path, "is empty");
	CheckDeclaredLength(path, (uint64_t)st.st_size);
}

// "-" reads Y4M video only; anything else on standard input is named by what it holds.
void CheckStandardInput()
{
	if (isatty(0))
		throw Failure("", "standard input is a terminal; pipe Y4M video into it or name the input file");
	const std::string& head = PeekStandardInput(16);
	if (head.empty())
		throw Failure("", "standard input is empty");
	const FileKind found = SniffKind(head);
	if (found == FileKind::Y4m)
		return;
	const std::string what = found == FileKind::PngSequence ? "a PNG picture"
	                         : found == FileKind::Unknown   ? "no media this tool knows"
	                                                        : KindName(found);
	throw Failure("",
	              "standard input holds " + what + ", not Y4M video; \"-\" reads Y4M only, so name the file");
}

}  // namespace

Conversion PlanConversion(const std::string& in, const std::string& out, const Options& options)
{
	FileKind inKind = FileKindOf(in);
	const FileKind outKind = FileKindOf(out);
	if (inKind == FileKind::Unknown)
		throw UsageFailure(in + ": unknown input kind (use .y4m, .png, .mov, .wav, .aiff, .flac or .ogg)");
	if (outKind == FileKind::Unknown)
		throw UsageFailure(out + ": unknown output kind (use .y4m, .png, .mov, .wav, .ogg, .flac or .aiff)");
	if (in == "-")
		CheckStandardInput();
	Conversion c;
	c.name = std::string(KindName(inKind)) + " to " + KindName(outKind);
	if (IsVideo(inKind) && IsVideo(outKind)) {
		if (inKind != FileKind::Movie && outKind != FileKind::Movie)
			throw UsageFailure(
			        "cannot convert " + c.name +
			        ": video goes from Y4M or PNG to a .mov, or from a .mov to Y4M, PNG or a .mov");
		c.traits = (outKind == FileKind::Movie ? kVideoEncode : 0u) |
		           (inKind == FileKind::Movie ? kVideoDecode : 0u);
		if (inKind == FileKind::PngSequence)
			c.traits |= kPngInput;
	} else if ((IsAudio(inKind) || inKind == FileKind::Movie) && IsAudio(outKind)) {  // a movie's sound track
		if (outKind != FileKind::Wav && outKind != FileKind::Ogg && outKind != FileKind::Flac &&
		    outKind != FileKind::Aiff)
			throw UsageFailure(out + ": audio is written as .wav, .ogg, .flac or .aiff");
		c.traits = kAudioOutput;
		if (outKind == FileKind::Ogg || !options.codec.empty())
			c.traits |= kAudioEncode;
	} else {
		throw UsageFailure("cannot convert " + c.name);
	}
	return c;
}

void RunConvert(const std::string& in, const std::string& out, const Options& options)
{
	const FileKind inKind = FileKindOf(in), outKind = FileKindOf(out);
	CheckInput(in, inKind);
	if (SameFile(in, out))
		throw UsageFailure(out + ": the output would overwrite the input");
	ConvertResult r;
	if (IsVideo(inKind) && IsVideo(outKind))
		r = ConvertVideo(in, out, options);
	else if ((IsAudio(inKind) || inKind == FileKind::Movie) && IsAudio(outKind))
		r = ConvertAudio(in, out, options);  // from a movie: its sound track
	else
		throw UsageFailure(std::string("cannot convert ") + KindName(inKind) + " to " + KindName(outKind));
	if (!options.quiet) {
		const double kbps = r.mediaSeconds > 0 ? r.bytes * 8.0 / r.mediaSeconds / 1000.0 : 0;
		fprintf(Console::Err(), "%s: %" PRId64 " %s, %.2f s, %" PRIu64 " bytes, %.0f kb/s%s%s, in %.2f s",
		        out.c_str(), r.frames, IsVideo(outKind) ? "frames" : "sample frames", r.mediaSeconds, r.bytes,
		        kbps, r.codec.empty() ? "" : ", ", r.codec.c_str(), r.seconds);
		// The pictures alone, which is what --bitrate aims at.
		if (r.videoStreamBytes && r.mediaSeconds > 0) {
			fprintf(Console::Err(), "; video %.0f kb/s", r.videoStreamBytes * 8.0 / r.mediaSeconds / 1000.0);
			if (options.bitrate)
				fprintf(Console::Err(), " for --bitrate %u", options.bitrate);
		}
		fputc('\n', Console::Err());
	}
	// Asked for explicitly, so printed even with --quiet.
	for (const std::string& line : r.report)
		fprintf(Console::Err(), "%s: %s\n", out.c_str(), line.c_str());
}
