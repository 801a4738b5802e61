// QuickTime movies through the host: the reader decodes the first video track with the decoder
// add-on in the layout the caller asks for; the writer codes frames with an encoder add-on and stores
// sound, when it has any, as 16-bit PCM beside them.
#include <sys/stat.h>

#include <cstring>
#include <vector>

#include "MediaFile.h"
#include "MediaTrack.h"
#include "media_open.h"
#include "addons.h"
#include "encoder_options.h"
#include "output_file.h"
#include "video_io.h"

namespace {

class MovieReader : public VideoReader {
public:
	MovieReader(const std::string& path, color_space space, const Options& options)
	    : fPath(path), fFile(path.c_str())
	{
		fTrack = FirstTrack(fFile, path, true);
		ApplyThreads(fTrack, options, path);
		media_format decoded;
		decoded.type = B_MEDIA_RAW_VIDEO;
		decoded.u.raw_video.display.format = space;
		if (fTrack->DecodedFormat(&decoded) != B_OK)
			throw Failure(path, "cannot decode the video: " + Why(fTrack->ErrorText(), B_MEDIA_BAD_FORMAT));
		const media_raw_video_format& v = decoded.u.raw_video;
		fParams.space = space == B_YCbCr422 ? B_YCbCr422 : v.display.format;
		fParams.width = v.display.line_width;
		fParams.height = v.display.line_count;
		if (v.display.format != space && !(space == B_RGBA32 && v.display.format == B_RGB32))
			throw Failure(path, "the decoder does not give the colour space asked for");
		if (!fParams.width || !fParams.height || fParams.width > 8192 || fParams.height > 8192)
			throw Failure(path, "bad picture size " + std::to_string(fParams.width) + "x" +
			                            std::to_string(fParams.height));
		if (v.display.bytes_per_row != fParams.FrameBytes() / fParams.height)
			throw Failure(path, "the decoder pads its rows");
		RateAsFraction(v.field_rate, &fParams.rateNum, &fParams.rateDen);
		fParams.frames = fTrack->CountFrames();
		media_codec_info codec{};
		if (fTrack->GetCodecInfo(&codec) == B_OK)
			fCodec = codec.short_name;
	}

	std::string Codec() const override { return fCodec; }

	bool Read(uint8_t* frame) override
	{
		if (fParams.frames >= 0 && fNext >= fParams.frames)
			return false;
		int64 count = 0;
		media_header header;
		status_t s = fTrack->ReadFrames(frame, &count, &header);
		if (s == B_LAST_BUFFER_ERROR)
			return false;
		if (s != B_OK || count != 1)
			throw Failure(fPath, "frame " + std::to_string(fNext) + " cannot be decoded: " +
			                             Why(fTrack->ErrorText(), s == B_OK ? B_BAD_DATA : s));
		// A decoder that used none of the chunk made no picture (a Korvo chunk without a start code
		// leaves the buffer as it was).
		if (header.size_used == 0)
			throw Failure(fPath, "frame " + std::to_string(fNext) + " holds no picture");
		if (header.damage)
			fDamaged.push_back(fNext);
		fNext++;
		return true;
	}

	// Back to the key frame at or before `index`, then decoding up to it.
	void SeekTo(int64_t index) override
	{
		int64 at = index;
		if (fTrack->SeekToFrame(&at, B_MEDIA_SEEK_CLOSEST_BACKWARD) != B_OK)
			throw Failure(fPath, "cannot seek to frame " + std::to_string(index) + ": " +
			                             Why(fTrack->ErrorText(), B_ERROR));
		fNext = at;
		VideoReader::SeekTo(index);
	}

private:
	std::string fPath;
	BMediaFile fFile;
	BMediaTrack* fTrack = nullptr;
	std::string fCodec;
};

media_file_format QuickTimeFormat()
{
	media_file_format mfi{};
	mfi.family = B_QUICKTIME_FORMAT_FAMILY;
	strcpy(mfi.short_name, "quicktime");
	strcpy(mfi.pretty_name, "QuickTime movie");
	return mfi;
}

class MovieWriter : public VideoWriter {
public:
	MovieWriter(const std::string& path, const VideoParams& params, const Options& options,
	            const AudioParams* sound)
	    : fOut(path), fParams(params)
	{
		media_file_format mfi = QuickTimeFormat();
		fFile = std::make_unique<BMediaFile>(fOut.TempPath().c_str(), &mfi);
		if (fFile->InitCheck() != B_OK)
			throw Failure(path, Why(fFile->ErrorText(), fFile->InitCheck()));
		media_format format;
		format.type = B_MEDIA_RAW_VIDEO;
		media_raw_video_format& v = format.u.raw_video;
		v.field_rate = (float)params.Rate();
		v.interlace = 1;
		v.orientation = B_VIDEO_TOP_LEFT_RIGHT;
		v.first_active = 0;
		v.last_active = params.height - 1;
		v.pixel_width_aspect = v.pixel_height_aspect = 1;
		v.display.format = params.space;
		v.display.line_width = params.width;
		v.display.line_count = params.height;
		v.display.bytes_per_row = (uint32)(params.FrameBytes() / params.height);
		media_file_format written{};
		fFile->GetFileFormatInfo(&written);
		media_codec_info codec = FindEncoder(written, format, options.codec, path);
		fCodec = codec.short_name;
		fTrack = fFile->CreateTrack(&format, &codec);
		if (!fTrack)
			throw Failure(path, Why(fFile->ErrorText(), B_MEDIA_BAD_FORMAT));
		if (format.u.raw_video.display.format != params.space)
			throw Failure(path,
			              std::string("encoder \"") + codec.short_name + "\" does not take these frames");
		encode_parameters p{};
		p.quality = options.quality;
		fTrack->SetEncodeParameters(&p);
		ApplyEncoderOptions(fTrack, options, path);
		ApplyThreads(fTrack, options, path);
		if (sound) {
			media_format audio;
			audio.type = B_MEDIA_RAW_AUDIO;
			audio.u.raw_audio.frame_rate = (float)sound->rate;
			audio.u.raw_audio.channel_count = sound->channels;
			audio.u.raw_audio.format = media_raw_audio_format::B_AUDIO_SHORT;
			audio.u.raw_audio.byte_order = B_MEDIA_HOST_ENDIAN;
			fSound = fFile->CreateTrack(&audio);
			if (!fSound)
				throw Failure(path, "cannot store sound of " + std::to_string(sound->rate) + " Hz, " +
				                            std::to_string(sound->channels) +
				                            " channels: " + Why(fFile->ErrorText(), B_MEDIA_BAD_FORMAT));
		}
		if (fFile->CommitHeader() != B_OK)
			throw Failure(path, Why(fFile->ErrorText(), B_ERROR));
	}

	void Write(const uint8_t* frame) override
	{
		status_t s = fTrack->WriteFrames(frame, 1);
		if (s != B_OK)
			throw Failure(fOut.Target(), "frame " + std::to_string(fFrames) +
			                                     " cannot be encoded: " + Why(fTrack->ErrorText(), s));
		fFrames++;
	}

	void WriteSound(const int16_t* samples, int64_t frames) override
	{
		if (!fSound)
			return VideoWriter::WriteSound(samples, frames);
		status_t s = fSound->WriteFrames(samples, (int32)frames);
		if (s != B_OK)
			throw Failure(fOut.Target(), "cannot write the sound: " + Why(fSound->ErrorText(), s));
	}

	void Finish() override
	{
		status_t s = fFile->CloseFile();
		if (s != B_OK)
			throw Failure(fOut.Target(), Why(fFile->ErrorText(), s));
		fFile.reset();
		fFinalBytes = Bytes();
		fOut.Commit();
	}

	uint64_t Bytes() const override
	{
		struct stat st;
		if (fFinalBytes)
			return fFinalBytes;
		return stat(fOut.TempPath().c_str(), &st) == 0 ? (uint64_t)st.st_size : 0;
	}

	std::string Codec() const override { return fCodec; }

private:
	OutputFile fOut;
	VideoParams fParams;
	std::unique_ptr<BMediaFile> fFile;
	BMediaTrack* fTrack = nullptr;
	BMediaTrack* fSound = nullptr;
	int64_t fFrames = 0;
	uint64_t fFinalBytes = 0;
	std::string fCodec;
};

}  // namespace

std::unique_ptr<VideoReader> OpenMovieReader(const std::string& path, color_space space,
                                             const Options& options)
{
	return std::make_unique<MovieReader>(path, space, options);
}

std::unique_ptr<VideoWriter> OpenMovieWriter(const std::string& path, const VideoParams& params,
                                             const Options& options, const AudioParams* sound)
{
	return std::make_unique<MovieWriter>(path, params, options, sound);
}
