// Video readers and writers behind one interface, chosen by file name from a small table: Y4M and PNG
// sequences (the tool's own), QuickTime movies (through the host and the codec add-ons).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MediaDefs.h"
#include "audio_io.h"
#include "formats.h"
#include "mediaconv.h"

enum class Interlace { Unknown, Progressive, TopFirst, BottomFirst, Mixed };
enum class ColourRange { Unknown, Limited, Full };

// What a picture's samples mean beyond their values; Unknown (and an aspect of 0:0) where the
// source does not say.
struct PictureTags {
	Interlace interlace = Interlace::Unknown;
	uint32_t aspectNum = 0, aspectDen = 0;  // the shape of a pixel, width:height
	ColourRange range = ColourRange::Unknown;
	std::string siting;  // Y4M chroma siting other than 420jpeg ("420mpeg2"), which no output keeps
	std::vector<std::string> extensions;  // Y4M X parameters no output keeps
};

const char* InterlaceName(Interlace interlace);  // "top field first"
const char* RangeName(ColourRange range);        // "full"
// The tags a raw or encoded video format carries, and the format fields that carry them.
PictureTags TagsOf(const media_raw_video_format& format);
void SetTags(const PictureTags& tags, media_raw_video_format* format);
// What of `tags` a file of `kind` cannot keep ("mixed interlacing", "pixel aspect 16:15"), for the
// one warning a conversion prints.
std::vector<std::string> Unkept(const PictureTags& tags, FileKind kind);

// Frames move between reader and writer in one of three layouts, rows tightly packed: B_YUV420 planar
// (Y, then U and V of half the rows and half the width; even sizes only), B_YCbCr422 packed (bytes Y0
// U Y1 V, 2 bytes a pixel) or 32-bit RGB (B_RGB32 / B_RGBA32, bytes B G R A).
struct VideoParams {
	uint32_t width = 0, height = 0;
	uint32_t rateNum = 25, rateDen = 1;
	color_space space = B_YCbCr422;
	int64_t frames = -1;      // -1 when unknown
	uint32_t chromaRows = 1;  // rows per chroma row of a packed frame's source (2 for 4:2:0), for measuring
	PictureTags tags;
	double Rate() const { return (double)rateNum / rateDen; }
	size_t RowBytes() const { return (size_t)width * (space == B_YUV420 ? 1 : space == B_YCbCr422 ? 2 : 4); }
	size_t FrameBytes() const
	{
		return RowBytes() * height + (space == B_YUV420 ? 2 * (size_t)(width / 2) * (height / 2) : 0);
	}
};

class VideoReader {
public:
	virtual ~VideoReader() = default;
	const VideoParams& Params() const { return fParams; }
	// Reads the next frame into `frame` (Params().FrameBytes() bytes); false at the end.
	virtual bool Read(uint8_t* frame) = 0;
	// Moves so that the next Read gives frame `index` (0 is the first).
	virtual void SeekTo(int64_t index);
	// The codec the frames come through ("" for none).
	virtual std::string Codec() const { return ""; }
	// Frames read so far (numbered from the file's first) that the decoder or the reader found
	// damaged: delivered as well as the data allowed.
	const std::vector<int64_t>& Damaged() const { return fDamaged; }

protected:
	VideoParams fParams;
	int64_t fNext = 0;  // index of the frame the next Read gives
	std::vector<int64_t> fDamaged;
};

class VideoWriter {
public:
	virtual ~VideoWriter() = default;
	virtual void Write(const uint8_t* frame) = 0;
	// Interleaved 16-bit samples for the sound track of a writer opened with sound.
	virtual void WriteSound(const int16_t* samples, int64_t frames);
	// Finishes the output and moves it into place.
	virtual void Finish() = 0;
	// Bytes written so far.
	virtual uint64_t Bytes() const = 0;
	virtual std::string Codec() const { return ""; }
};

// `space` is what the caller wants of a movie: B_YUV420 (packed 4:2:2 for pictures of odd sizes),
// B_YCbCr422 or B_RGBA32.
std::unique_ptr<VideoReader> OpenY4mReader(const std::string& path);
std::unique_ptr<VideoReader> OpenPngReader(const std::string& path, const Options& options);
std::unique_ptr<VideoReader> OpenMovieReader(const std::string& path, color_space space,
                                             const Options& options);
std::unique_ptr<VideoWriter> OpenY4mWriter(const std::string& path, const VideoParams& params);
std::unique_ptr<VideoWriter> OpenPngWriter(const std::string& path, const VideoParams& params);
// `sound`: the rate and channel count of a sound track beside the pictures (null for none).
std::unique_ptr<VideoWriter> OpenMovieWriter(const std::string& path, const VideoParams& params,
                                             const Options& options, const AudioParams* sound);

// Bytes of the coded pictures of the movie at `path` (its first video track's chunks).
uint64_t MovieVideoBytes(const std::string& path);

// The PNG pattern a name stands for: a printf pattern as it is, a folder as folder/frame%05d.png,
// "name.png" as "name%05d.png".
std::string PngPattern(const std::string& path);

// The Y4M rate n:d nearest a frame rate given as a float (30000:1001 for 29.97...).
void RateAsFraction(double rate, uint32_t* num, uint32_t* den);
