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
#include "pixel_layout.h"
#include "video_io.h"

namespace {

class MovieReader : public VideoReader {
public:
	MovieReader(const std::string& path, color_space space, const Options& options)
	    : fPath(path), fFile(path.c_str())
	{
		fTrack = FirstTrack(fFile, path, true);
		ApplyThreads(fTrack, options, path);
		media_format encoded;
		if (fTrack->EncodedFormat(&encoded) == B_OK && encoded.type == B_MEDIA_ENCODED_VIDEO) {
			const media_raw_video_format& e = encoded.u.encoded_video.output;
			fParams.tags = TagsOf(e);
			// Planar 4:2:0 holds pictures of even sizes only; others come as packed 4:2:2.
			if (space == B_YUV420 && (e.display.line_width % 2 || e.display.line_count % 2))
				space = B_YCbCr422;
			// 32-bit rows too long for the decoder come as 4:2:2 and are converted here.
			if (space == B_RGBA32 && (uint64_t)e.display.line_width * 4 > kMaxRowBytes) {
				fConvert = true;
				space = B_YCbCr422;
			}
		}
		media_format decoded;
		decoded.type = B_MEDIA_RAW_VIDEO;
		decoded.u.raw_video.display.format = space;
		if (fTrack->DecodedFormat(&decoded) != B_OK)
			throw Failure(path, "cannot decode the video: " + Why(fTrack->ErrorText(), B_MEDIA_BAD_FORMAT));
		const media_raw_video_format& v = decoded.u.raw_video;
		fParams.space = space == B_RGBA32 ? v.display.format : space;
		fParams.width = v.display.line_width;
		fParams.height = v.display.line_count;
		if (v.display.format != space && !(space == B_RGBA32 && v.display.format == B_RGB32))
			throw Failure(path, "the decoder does not give the colour space asked for");
		if (!fParams.width || !fParams.height || fParams.width > 8192 || fParams.height > 8192)
			throw Failure(path, "bad picture size " + std::to_string(fParams.width) + "x" +
			                            std::to_string(fParams.height));
		if (v.display.bytes_per_row != fParams.RowBytes())
			throw Failure(path, "the decoder pads its rows");
		RateAsFraction(v.field_rate, &fParams.rateNum, &fParams.rateDen);
		if (fConvert) {
			fPacked.resize(fParams.FrameBytes());
			fParams.space = B_RGBA32;
		}
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
		status_t s = fTrack->ReadFrames(fConvert ? fPacked.data() : frame, &count, &header);
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
		if (fConvert)
			Yuv422ToBgra(fPacked.data(), frame, fParams.width, fParams.height);
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
	bool fConvert = false;         // decoding 4:2:2 for 32-bit frames
	std::vector<uint8_t> fPacked;  // the 4:2:2 frame then
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
		ChooseLayout();
		media_file_format mfi = QuickTimeFormat();
		fFile = std::make_unique<BMediaFile>(fOut.TempPath().c_str(), &mfi);
		if (fFile->InitCheck() != B_OK)
			throw Failure(path, Why(fFile->ErrorText(), fFile->InitCheck()));
		media_format format;
		format.type = B_MEDIA_RAW_VIDEO;
		media_raw_video_format& v = format.u.raw_video;
		v.field_rate = (float)params.Rate();
		v.orientation = B_VIDEO_TOP_LEFT_RIGHT;
		v.first_active = 0;
		v.last_active = params.height - 1;
		SetTags(params.tags, &v);
		v.display.format = fParams.space;
		v.display.line_width = fParams.width;
		v.display.line_count = fParams.height;
		v.display.bytes_per_row = (uint32)fParams.RowBytes();
		media_file_format written{};
		fFile->GetFileFormatInfo(&written);
		media_codec_info codec = FindEncoder(written, format, options.codec, path);
		fCodec = codec.short_name;
		fTrack = fFile->CreateTrack(&format, &codec);
		if (!fTrack)
			throw Failure(path, Why(fFile->ErrorText(), B_MEDIA_BAD_FORMAT));
		if (format.u.raw_video.display.format != fParams.space)
			throw Failure(path,
			              std::string("encoder \"") + codec.short_name + "\" does not take these frames");
		SetQuality(fTrack, options, fCodec);
		const std::string tuning = ApplyEncoderOptions(fTrack, options, path);
		if (!tuning.empty())
			fCodec += " (" + tuning + ")";
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
		if (!fPacked.empty()) {
			BgraToYuv422(frame, fPacked.data(), fParams.width, fParams.height);
			frame = fPacked.data();
		}
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
	// The limits of the video add-ons, checked before any encoder is asked, so a refusal names them:
	// rows of at most kMaxRowBytes bytes (32-bit pictures too wide for that go as packed 4:2:2,
	// converted here) and at most 32767 macroblocks of 16x16 a picture.
	void ChooseLayout()
	{
		const uint32_t w = fParams.width, h = fParams.height;
		const uint64_t macroBlocks = (uint64_t)((w + 15) / 16) * ((h + 15) / 16);
		const std::string size = std::to_string(w) + "x" + std::to_string(h);
		if (macroBlocks > 32767)
			throw Failure(
			        fOut.Target(),
			        size + " pictures are " + std::to_string(macroBlocks) +
			                " macroblocks of 16x16; the video add-ons code at most 32767 (3840x2160 fits)");
		const uint64_t packedRow = (uint64_t)(w + 1) / 2 * 4;
		const bool rgb = fParams.space != B_YCbCr422 && fParams.space != B_YUV420;
		if (rgb && (uint64_t)w * 4 > kMaxRowBytes) {
			if (w % 2 || packedRow > kMaxRowBytes)
				throw Failure(fOut.Target(),
				              "rows of " + std::to_string(w) + " BGRA pixels exceed " +
				                      std::to_string(kMaxRowBytes) + " bytes, and " +
				                      (w % 2 ? "an odd width has no 4:2:2 form" : "4:2:2 rows too"));
			fParams.space = B_YCbCr422;
			fPacked.resize(fParams.FrameBytes());
		}
		const bool planar = fParams.space == B_YUV420;
		if (!rgb && (planar ? w : packedRow) > kMaxRowBytes)
			throw Failure(fOut.Target(), "rows of " + std::to_string(w) + (planar ? " 4:2:0" : " 4:2:2") +
			                                     " pixels exceed " + std::to_string(kMaxRowBytes) + " bytes");
	}

	OutputFile fOut;
	VideoParams fParams;
	std::vector<uint8_t> fPacked;  // a 32-bit frame as 4:2:2, for pictures too wide for 32-bit rows
	std::unique_ptr<BMediaFile> fFile;
	BMediaTrack* fTrack = nullptr;
	BMediaTrack* fSound = nullptr;
	int64_t fFrames = 0;
	uint64_t fFinalBytes = 0;
	std::string fCodec;
};

}  // namespace

uint64_t MovieVideoBytes(const std::string& path)
{
	BMediaFile file(path.c_str());
	return SummarizeChunks(FirstTrack(file, path, true), path).bytes;
}

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
