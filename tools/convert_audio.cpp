// Audio conversions: WAV/AIFF/FLAC (anything the host reads) to Ogg Vorbis or to a G.723 WAV, and Ogg
// Vorbis to PCM WAV, with the samples fitted to what the encoder takes.
#include <chrono>

#include "audio_io.h"
#include "convert.h"
#include "formats.h"
#include "progress.h"
#include "AudioConverter.h"
#include "Errors.h"

ConvertResult ConvertAudio(const std::string& in, const std::string& out, const Options& options)
{
	const FileKind outKind = FileKindOf(out);
	if (outKind != FileKind::Wav && outKind != FileKind::Ogg && outKind != FileKind::Flac &&
	    outKind != FileKind::Aiff)
		throw UsageFailure(out + ": audio is written as .wav, .ogg, .flac or .aiff");
	const auto t0 = std::chrono::steady_clock::now();
	std::unique_ptr<AudioReader> reader = OpenAudioReader(in);
	const AudioParams& input = reader->Params();
	const int64_t start = options.start.set ? options.start.Frames(input.rate) : 0;
	if (input.frames >= 0 && start > 0 && start >= input.frames)
		throw Failure(in, "has " + std::to_string(input.frames) + " sample frames; --start " +
		                          std::to_string(start) + " is past the end");
	if (start > 0)
		reader->SeekTo(start);
	const int64_t limit = options.frames.set ? options.frames.Frames(input.rate) : -1;
	int64_t total = input.frames >= 0 ? input.frames - start : 0;
	if (limit >= 0 && (total == 0 || limit < total))
		total = limit;

	std::unique_ptr<AudioWriter> writer = OpenAudioWriter(out, input, reader->Tags(), options);
	const AudioParams& output = writer->Params();
	BAudioConverter converter;
	if (converter.SetTo(input.rate, input.channels, output.rate, output.channels) != B_OK)
		throw Failure(in, "cannot convert its audio to what the encoder takes");
	Progress progress(options.quiet, "s", total / input.rate, 1);
	ConvertResult result;
	std::vector<int16_t> samples, fitted;
	for (;;) {
		samples.clear();
		if ((limit >= 0 && result.frames >= limit) || !reader->Read(&samples))
			break;
		int64_t frames = (int64_t)(samples.size() / input.channels);
		if (limit >= 0)
			frames = std::min(frames, limit - result.frames);
		fitted.clear();
		if (converter.Convert(samples.data(), (size_t)frames, &fitted) != B_OK)
			throw Failure(in, "converting its samples failed");
		writer->Write(fitted.data(), (int64_t)(fitted.size() / output.channels));
		result.frames += frames;
		progress.Update(result.frames / input.rate, writer->Bytes());
	}
	if (result.frames == 0)
		throw Failure(in, start > 0 ? "has no audio after --start" : "has no audio");
	if (limit < 0 && total > 0 && result.frames < total)
		throw Failure(in, "is truncated: " + std::to_string(result.frames) + " of " + std::to_string(total) +
		                          " sample frames could be read");
	fitted.clear();
	if (converter.Finish(&fitted) != B_OK)
		throw Failure(in, "converting its samples failed");
	writer->Write(fitted.data(), (int64_t)(fitted.size() / output.channels));
	writer->Finish();
	progress.Finish();
	result.bytes = writer->Bytes();
	result.mediaSeconds = result.frames / input.rate;
	result.codec = writer->Codec();
	result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
	return result;
}
