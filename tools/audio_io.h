// Audio readers and writers on the host's files and tracks: any audio file the host or an extractor
// add-on reads, decoded to 16-bit PCM; PCM WAV, G.723 WAV or Ogg Vorbis written through the writers
// and encoder add-ons.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Message.h"
#include "mediaconv.h"

struct AudioParams {
	double rate = 44100;
	uint32_t channels = 2;
	int64_t frames = -1;  // sample frames, -1 when unknown
};

class AudioReader {
public:
	virtual ~AudioReader() = default;
	const AudioParams& Params() const { return fParams; }
	// Appends the next buffer of interleaved samples to `samples`; false at the end.
	virtual bool Read(std::vector<int16_t>* samples) = 0;
	// The next Read starts at sample frame `frame`.
	virtual void SeekTo(int64_t frame) = 0;
	virtual std::string Codec() const = 0;
	// The file's tags (title, artist, ...), empty when it has none.
	virtual const BMessage& Tags() const = 0;

protected:
	AudioParams fParams;
};

class AudioWriter {
public:
	virtual ~AudioWriter() = default;
	// The rate and channel count the output takes (an encoder may insist on its own).
	const AudioParams& Params() const { return fParams; }
	virtual void Write(const int16_t* samples, int64_t frames) = 0;
	virtual void Finish() = 0;
	virtual uint64_t Bytes() const = 0;
	virtual std::string Codec() const = 0;

protected:
	AudioParams fParams;
};

std::unique_ptr<AudioReader> OpenAudioReader(const std::string& path);
// The sound track of a movie, null if it has none.
std::unique_ptr<AudioReader> OpenMovieSound(const std::string& path);
// `input` is what the caller has; the writer's Params() say what it must be given. `tags` go into
// the file where its format keeps them.
std::unique_ptr<AudioWriter> OpenAudioWriter(const std::string& path, const AudioParams& input,
                                             const BMessage& tags, const Options& options);
