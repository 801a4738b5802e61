// Sound beside the pictures of a video conversion: read once, cut at the pictures' times to the sample
// frame, and handed to the output movie and the sound file as it goes.
#include "movie_sound.h"

#include <algorithm>
#include <cmath>

#include "AudioConverter.h"
#include "Errors.h"
#include "formats.h"

// A sound file written through the audio writers, fitted to what its encoder takes.
class MovieSound::SoundFile {
public:
	SoundFile(const std::string& path, const AudioParams& sound, const Options& options) : fPath(path)
	{
		// --codec, --quality, --bitrate and --rate are the video's; the sound keeps the encoder's
		// defaults and its own format.
		Options audio = options;
		audio.codec.clear();
		audio.qualityGiven = audio.rateSet = false;
		audio.bitrate = audio.channels = 0;
		fWriter = OpenAudioWriter(path, sound, BMessage(), audio);
		const AudioParams& out = fWriter->Params();
		if (fConverter.SetTo(sound.rate, sound.channels, out.rate, out.channels) != B_OK)
			throw Failure(path, "cannot take sound of " + std::to_string(sound.rate) + " Hz, " +
			                            std::to_string(sound.channels) + " channels");
	}

	void Write(const int16_t* samples, int64_t frames)
	{
		fFitted.clear();
		if (fConverter.Convert(samples, (size_t)frames, &fFitted) != B_OK)
			throw Failure(fPath, "converting the sound failed");
		fWriter->Write(fFitted.data(), (int64_t)(fFitted.size() / fWriter->Params().channels));
	}

	void Finish()
	{
		fFitted.clear();
		if (fConverter.Finish(&fFitted) != B_OK)
			throw Failure(fPath, "converting the sound failed");
		fWriter->Write(fFitted.data(), (int64_t)(fFitted.size() / fWriter->Params().channels));
		fWriter->Finish();
	}

private:
	std::string fPath;
	std::unique_ptr<AudioWriter> fWriter;
	BAudioConverter fConverter;
	std::vector<int16_t> fFitted;
};

MovieSound::MovieSound(std::unique_ptr<AudioReader> reader, const VideoParams& pictures, int64_t start,
                       int64_t count)
    : fReader(std::move(reader)), fPictures(pictures), fStart(start), fCount(count)
{
	fFirst = fNext = FrameAt(start);
	const int64_t frames = fReader->Params().frames;
	if (frames >= 0 && fFirst >= frames)
		fEnded = true;  // the sound ends before the first picture
	else if (fFirst > 0)
		fReader->SeekTo(fFirst);
}

MovieSound::~MovieSound() = default;

void MovieSound::SendTo(VideoWriter* movie)
{
	fSinks.push_back([movie](const int16_t* samples, int64_t frames) { movie->WriteSound(samples, frames); });
}

void MovieSound::SendTo(const std::string& path, const Options& options)
{
	fFile = std::make_unique<SoundFile>(path, Params(), options);
	SoundFile* file = fFile.get();
	fSinks.push_back([file](const int16_t* samples, int64_t frames) { file->Write(samples, frames); });
}

int64_t MovieSound::FrameAt(int64_t index) const
{
	const long double seconds = (long double)index * fPictures.rateDen / fPictures.rateNum;
	return (int64_t)std::llround(std::min(seconds * Params().rate, 1e18L));  // far past any sound's end
}

void MovieSound::Before(int64_t index)
{
	int64_t until = FrameAt(fStart + index) + (int64_t)std::llround(Params().rate / 2);
	if (fCount >= 0)
		until = std::min(until, FrameAt(fStart + fCount));
	WriteUntil(until);
}

void MovieSound::Finish(int64_t pictures)
{
	WriteUntil(fCount >= 0 ? FrameAt(fStart + std::min(pictures, fCount)) : INT64_MAX);
	if (fFile)
		fFile->Finish();
}

void MovieSound::WriteUntil(int64_t frame)
{
	const uint32_t channels = Params().channels;
	while (fNext < frame && !fEnded) {
		if (fBuffer.size() - fUsed < channels) {
			fBuffer.clear();
			fUsed = 0;
			if (!fReader->Read(&fBuffer) || fBuffer.empty()) {
				fEnded = true;
				break;
			}
		}
		const int64_t n = std::min<int64_t>((int64_t)((fBuffer.size() - fUsed) / channels), frame - fNext);
		for (auto& sink : fSinks)
			sink(fBuffer.data() + fUsed, n);
		fUsed += (size_t)n * channels;
		fNext += n;
	}
}

std::unique_ptr<AudioReader> OpenConversionSound(const std::string& in, const Options& options)
{
	if (!options.audio.empty())
		return OpenAudioReader(options.audio);
	if (FileKindOf(in) == FileKind::Movie)
		return OpenMovieSound(in);
	return nullptr;
}
