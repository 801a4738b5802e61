// The sound of a video conversion: from a sound file (--audio) or the input movie's sound track, cut at
// the times of the first and last pictures converted, and written into the output movie beside the
// pictures and into a sound file (--audio-out).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio_io.h"
#include "video_io.h"

class MovieSound {
public:
	// Sound for the pictures `start` .. `start + count - 1` (count -1: to the end of the sound) of a
	// clip of `pictures`' rate.
	MovieSound(std::unique_ptr<AudioReader> reader, const VideoParams& pictures, int64_t start,
	           int64_t count);
	~MovieSound();
	const AudioParams& Params() const { return fReader->Params(); }

	// Where the sound goes: the output movie's sound track, and a sound file.
	void SendTo(VideoWriter* movie);
	void SendTo(const std::string& path, const Options& options);

	// Before picture `index` (counted from the first converted): the sound up to half a second past
	// its time, so each chunk of sound sits in the movie before the pictures of its time.
	void Before(int64_t index);
	// After `pictures` pictures: the rest of the sound (up to their end when a count was given), and
	// the sound file finished.
	void Finish(int64_t pictures);

private:
	class SoundFile;
	// The sound frame at the start of picture `index` of the clip, to the nearest frame.
	int64_t FrameAt(int64_t index) const;
	void WriteUntil(int64_t frame);

	std::unique_ptr<AudioReader> fReader;
	VideoParams fPictures;
	int64_t fStart, fCount;
	int64_t fFirst = 0, fNext = 0;  // sound frames: the first converted, the next to write
	bool fEnded = false;
	std::vector<int16_t> fBuffer;  // read but not yet written, from fUsed on
	size_t fUsed = 0;
	std::vector<std::function<void(const int16_t*, int64_t)>> fSinks;
	std::unique_ptr<SoundFile> fFile;
};

// The sound a video conversion carries: --audio's file, else the input movie's sound track (null when
// there is neither).
std::unique_ptr<AudioReader> OpenConversionSound(const std::string& in, const Options& options);
