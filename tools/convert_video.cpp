// Video conversions: Y4M or PNG sequence to a Korvo movie (planar 4:2:0 or 32-bit RGB into the
// encoder), a movie back to Y4M (from the decoder's planar 4:2:0) or to a PNG sequence (from its RGB
// output), or into another movie; the sound goes along (movie_sound.h). Pictures of odd sizes go as
// packed 4:2:2 instead of planar 4:2:0.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include <new>

#include "console.h"
#include "convert.h"
#include "formats.h"
#include "measure.h"
#include "movie_sound.h"
#include "output_file.h"
#include "progress.h"
#include "video_io.h"
#include "write_behind.h"

namespace {

std::unique_ptr<VideoReader> OpenReader(FileKind kind, FileKind outKind, const std::string& path,
                                        const Options& options)
{
	switch (kind) {
		case FileKind::Y4m: return OpenY4mReader(path);
		case FileKind::PngSequence: return OpenPngReader(path, options);
		default:
			return OpenMovieReader(path, outKind == FileKind::PngSequence ? B_RGBA32 : B_YUV420, options);
	}
}

std::unique_ptr<VideoWriter> OpenWriter(FileKind kind, const std::string& path, const VideoParams& params,
                                        const Options& options, const AudioParams* sound)
{
	switch (kind) {
		case FileKind::Y4m: return OpenY4mWriter(path, params);
		case FileKind::PngSequence: return OpenPngWriter(path, params);
		default: return OpenMovieWriter(path, params, options, sound);
	}
}

// --audio and --audio-out: what they need, checked before anything is read or written.
void CheckSoundOptions(const std::string& in, const std::string& out, const Options& options)
{
	if (!options.audio.empty() && FileKindOf(out) != FileKind::Movie)
		throw UsageFailure("--audio: sound goes into a .mov output, not " +
		                   std::string(KindName(FileKindOf(out))));
	if (!options.audioOut.empty()) {
		if (options.audio.empty() && FileKindOf(in) != FileKind::Movie)
			throw UsageFailure("--audio-out: only a movie input or --audio has sound to write");
		for (const std::string& other : {in, out, options.audio}) {
			if (other == options.audioOut || SameFile(options.audioOut, other))
				throw UsageFailure("--audio-out " + options.audioOut + " would overwrite " + other);
		}
	}
}

// The frames given to the encoder, kept in a temporary file beside the output (the source may be
// standard input), and compared with the finished movie's decoded frames.
class SourceCopy {
public:
	SourceCopy(const std::string& movie, size_t frameBytes)
	    : fMovie(movie), fCopy(movie + ".source"), fFrameBytes(frameBytes)
	{
		fFile = fopen(fCopy.TempPath().c_str(), "w+b");
		if (!fFile)
			throw Failure(fCopy.TempPath(), std::string("cannot create: ") + strerror(errno));
	}
	~SourceCopy() { fclose(fFile); }

	void Add(const uint8_t* frame)
	{
		if (fwrite(frame, 1, fFrameBytes, fFile) != fFrameBytes)
			throw Failure(fCopy.TempPath(), std::string("cannot write: ") + strerror(errno));
	}

	QualityMeter Measure(const VideoParams& params, const Options& options)
	{
		const bool rgb = params.space != B_YCbCr422 && params.space != B_YUV420;
		std::unique_ptr<VideoReader> coded = OpenMovieReader(fMovie, rgb ? B_RGBA32 : params.space, options);
		std::vector<uint8_t> a(fFrameBytes), b(coded->Params().FrameBytes());
		if (b.size() != a.size())
			throw Failure(fMovie, "decodes to pictures of another size than its source");
		rewind(fFile);
		QualityMeter meter;
		while (fread(a.data(), 1, a.size(), fFile) == a.size()) {
			if (!coded->Read(b.data()))
				throw Failure(fMovie, "has fewer frames than were encoded");
			meter.Add(PlanesOf(a.data(), params.width, params.height, params.space, params.chromaRows),
			          PlanesOf(b.data(), params.width, params.height, coded->Params().space,
			                   params.chromaRows));
		}
		return meter;
	}

private:
	std::string fMovie;
	OutputFile fCopy;  // never committed: removed at the end, also when interrupted
	size_t fFrameBytes;
	FILE* fFile = nullptr;
};

// Damaged input frames: a warning naming them, or with --strict the failure of the conversion.
void ReportDamage(const std::string& in, const std::vector<int64_t>& damaged, bool strict)
{
	if (damaged.empty())
		return;
	constexpr size_t kNamed = 20;
	std::string frames;
	for (size_t i = 0; i < damaged.size() && i < kNamed; i++)
		frames += (i ? ", " : "") + std::to_string(damaged[i]);
	if (damaged.size() > kNamed)
		frames += ", ...";
	const std::string what = std::to_string(damaged.size()) +
	                         (damaged.size() == 1 ? " frame is" : " frames are") + " damaged (" + frames +
	                         "), decoded as far as their data allowed";
	if (strict)
		throw Failure(in, what);
	fprintf(Console::Err(), "mediaconv: warning: %s: %s\n", in.c_str(), what.c_str());
}

// With threads to spare, a frame is written while the next is read, unless both sides are movies or
// the sound goes along: those share the host's media files between the two sides.
bool WriteBehindReading(const Options& options, FileKind in, FileKind out, bool sound)
{
	const bool threads = options.threads ? options.threads > 1 : std::thread::hardware_concurrency() > 1;
	return threads && !sound && !(in == FileKind::Movie && out == FileKind::Movie);
}

}  // namespace

ConvertResult ConvertVideo(const std::string& in, const std::string& out, const Options& options)
{
	const FileKind inKind = FileKindOf(in), outKind = FileKindOf(out);
	if (inKind != FileKind::Movie && outKind != FileKind::Movie)
		throw UsageFailure(std::string("cannot convert ") + KindName(inKind) + " to " + KindName(outKind) +
		                   ": video goes from Y4M or PNG to a .mov, or from a .mov to Y4M, PNG or a .mov");
	CheckSoundOptions(in, out, options);
	const auto t0 = std::chrono::steady_clock::now();
	std::unique_ptr<VideoReader> reader = OpenReader(inKind, outKind, in, options);
	const VideoParams& params = reader->Params();
	const double rate = params.Rate();
	const int64_t start = options.start.set ? options.start.Frames(rate) : 0;
	if (start < 0)
		throw UsageFailure("--start must not be negative");
	if (params.frames >= 0 && start > 0 && start >= params.frames)
		throw Failure(in, "has " + std::to_string(params.frames) + " frames; --start " +
		                          std::to_string(start) + " is past the end");
	int64_t limit = options.frames.set ? options.frames.Frames(rate) : -1;
	if (start > 0)
		reader->SeekTo(start);
	int64_t total = params.frames >= 0 ? params.frames - start : 0;
	if (limit >= 0 && (total == 0 || limit < total))
		total = limit;

	std::optional<MovieSound> sound;
	if (std::unique_ptr<AudioReader> source = OpenConversionSound(in, options))
		sound.emplace(std::move(source), params, start, limit);
	if (!options.audioOut.empty() && !sound)
		throw Failure(in, "has no sound for --audio-out");
	const bool movieSound = sound && outKind == FileKind::Movie;
	if (sound && !movieSound && options.audioOut.empty()) {
		if (!options.quiet)
			fprintf(Console::Err(), "mediaconv: %s: the sound is left out (--audio-out FILE writes it)\n",
			        in.c_str());
		sound.reset();
	}

	std::unique_ptr<VideoWriter> writer =
	        OpenWriter(outKind, out, params, options, movieSound ? &sound->Params() : nullptr);
	if (movieSound)
		sound->SendTo(writer.get());
	if (sound && !options.audioOut.empty())
		sound->SendTo(options.audioOut, options);
	const std::vector<std::string> lost = Unkept(params.tags, outKind);
	if (!lost.empty()) {
		std::string list;
		for (const std::string& l : lost)
			list += (list.empty() ? "" : ", ") + l;
		fprintf(Console::Err(), "mediaconv: warning: %s cannot keep the %s of %s\n", out.c_str(),
		        list.c_str(), in == "-" ? "standard input" : in.c_str());
	}
	// Measuring needs the frames the encoder was given again after the movie is finished.
	std::unique_ptr<SourceCopy> source;
	if (options.psnr || options.ssim)
		source = std::make_unique<SourceCopy>(out, params.FrameBytes());
	Progress progress(options.quiet, "frames", (double)total, rate);
	ConvertResult result;
	int64_t written = 0;
	WriteBehind frames(params.FrameBytes(), WriteBehindReading(options, inKind, outKind, sound.has_value()),
	                   [&](const uint8_t* frame) {
		                   if (sound)
			                   sound->Before(written);
		                   writer->Write(frame);
		                   if (source)
			                   source->Add(frame);
		                   written++;
		                   progress.Update((double)written, writer->Bytes());
	                   });
	while (limit < 0 || result.frames < limit) {
		if (!reader->Read(frames.Next()))
			break;
		frames.Submit();
		result.frames++;
	}
	frames.Finish();
	if (result.frames == 0)
		throw Failure(in, start > 0 ? "has no frames after --start" : "has no frames");
	if (limit < 0 && total > 0 && result.frames < total)
		throw Failure(in, "is truncated: " + std::to_string(result.frames) + " of " + std::to_string(total) +
		                          " frames could be read");
	ReportDamage(in, reader->Damaged(), options.strict);
	if (sound)
		sound->Finish(result.frames);
	writer->Finish();
	progress.Finish();
	result.bytes = writer->Bytes();
	result.codec = outKind == FileKind::Movie ? writer->Codec() : reader->Codec();
	// The movie is complete: short of memory to read it back, the summary goes without its video rate
	// rather than the conversion failing with its output in place.
	if (outKind == FileKind::Movie) {
		try {
			result.videoStreamBytes = MovieVideoBytes(out);
		} catch (const std::bad_alloc&) {
		}
	}
	result.mediaSeconds = result.frames / rate;
	result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
	if (source) {
		const QualityMeter meter = source->Measure(params, options);
		if (options.psnr)
			result.report.push_back(meter.PsnrLine());
		if (options.ssim)
			result.report.push_back(meter.SsimLine());
	}
	return result;
}
