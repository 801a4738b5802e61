// Audio through BMediaFile and BMediaTrack: the reader decodes the first audio track to 16-bit PCM
// in host order; the writer makes a PCM WAV, a G.723 WAV (--codec g723) or an Ogg Vorbis file.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "MediaFile.h"
#include "AudioConverter.h"
#include "MediaTrack.h"
#include "Message.h"
#include "ParameterWeb.h"
#include "console.h"
#include "media_open.h"
#include "addons.h"
#include "audio_io.h"
#include "encoder_options.h"
#include "formats.h"
#include "output_file.h"

namespace {

class TrackReader : public AudioReader {
public:
	// `optional`: a file without an audio track leaves the reader without one (Empty) instead of
	// being refused.
	TrackReader(const std::string& path, bool optional) : fPath(path), fFile(path.c_str())
	{
		fTrack = optional ? FindTrack(fFile, false) : FirstTrack(fFile, path, false);
		if (!fTrack)
			return;
		media_format decoded;
		decoded.type = B_MEDIA_RAW_AUDIO;
		decoded.u.raw_audio.format = media_raw_audio_format::B_AUDIO_SHORT;
		decoded.u.raw_audio.byte_order = B_MEDIA_HOST_ENDIAN;
		if (fTrack->DecodedFormat(&decoded) != B_OK)
			throw Failure(path, "cannot decode the audio: " + Why(fTrack->ErrorText(), B_MEDIA_BAD_FORMAT));
		const media_raw_audio_format& a = decoded.u.raw_audio;
		fSample = a.format;
		if (decoded.type != B_MEDIA_RAW_AUDIO || a.byte_order != B_MEDIA_HOST_ENDIAN ||
		    (fSample != media_raw_audio_format::B_AUDIO_SHORT &&
		     fSample != media_raw_audio_format::B_AUDIO_INT &&
		     fSample != media_raw_audio_format::B_AUDIO_FLOAT))
			throw Failure(path, "the decoder gives samples of neither 16 or 32 bits nor float");
		// Deeper samples are reduced to the 16 bits the encoders take, with dither; said once.
		if (fSample != media_raw_audio_format::B_AUDIO_SHORT) {
			const int16 bits = decoded.u.raw_audio.valid_bits;
			const std::string depth = fSample == media_raw_audio_format::B_AUDIO_FLOAT ? "float"
			                          : bits > 16 && bits <= 32 ? std::to_string(bits) + "-bit"
			                                                    : "32-bit";
			fprintf(Console::Err(), "mediaconv: %s: %s samples reduced to 16 bits with TPDF dither\n",
			        path.c_str(), depth.c_str());
		}
		if (!(a.frame_rate >= 1 && a.frame_rate <= 768000) || a.channel_count < 1 || a.channel_count > 64)
			throw Failure(path, "unsupported audio: " + std::to_string(a.frame_rate) + " Hz, " +
			                            std::to_string(a.channel_count) + " channels");
		fParams.rate = a.frame_rate;
		fParams.channels = a.channel_count;
		fParams.frames = fTrack->CountFrames();
		// One decoded buffer; a decoder that names none gets a generous one.
		const size_t frameBytes =
		        (fSample & media_raw_audio_format::B_AUDIO_SIZE_MASK) * (size_t)a.channel_count;
		const size_t bufferBytes = std::clamp<size_t>(a.buffer_size, frameBytes, 1 << 22);
		const size_t bufferFrames = (bufferBytes + frameBytes - 1) / frameBytes;
		fBuffer.resize(bufferFrames * a.channel_count);
		if (fSample != media_raw_audio_format::B_AUDIO_SHORT)
			fDeep.resize(bufferFrames * a.channel_count);
		fFile.GetMetaData(&fTags);
		media_codec_info codec{};
		if (fTrack->GetCodecInfo(&codec) == B_OK)
			fCodec = codec.short_name;
	}

	bool Read(std::vector<int16_t>* samples) override
	{
		for (;;) {
			int64 frames = 0;
			status_t s =
			        fTrack->ReadFrames(fDeep.empty() ? (void*)fBuffer.data() : (void*)fDeep.data(), &frames);
			if (s == B_LAST_BUFFER_ERROR)
				return false;
			const int64 capacity = (int64)(fBuffer.size() / fParams.channels);
			if (s != B_OK || frames < 0 || frames > capacity)
				throw Failure(fPath, "the audio cannot be decoded: " +
				                             Why(fTrack->ErrorText(), s == B_OK ? B_BAD_DATA : s));
			// Nothing past the length the file declares: coded audio ends on whole bytes, whose
			// last bits decode to samples that were never there.
			if (fParams.frames > 0)
				frames = std::min<int64>(frames, std::max<int64>(fParams.frames - fNext, 0));
			fNext += frames;
			if (!fDeep.empty()) {
				const size_t n = (size_t)frames * fParams.channels;
				if (fSample == media_raw_audio_format::B_AUDIO_FLOAT)
					fDither.Reduce(reinterpret_cast<const float*>(fDeep.data()), n, fBuffer.data());
				else
					fDither.Reduce(fDeep.data(), n, fBuffer.data());
			}
			int64 skip = std::min<int64>(fSkip, frames);
			fSkip -= skip;
			samples->insert(samples->end(), fBuffer.begin() + skip * fParams.channels,
			                fBuffer.begin() + frames * fParams.channels);
			if (frames > skip)
				return true;
			if (frames == 0)
				return false;
		}
	}

	void SeekTo(int64_t frame) override
	{
		int64 at = frame;
		if (fTrack->SeekToFrame(&at, B_MEDIA_SEEK_CLOSEST_BACKWARD) != B_OK || at > frame)
			throw Failure(fPath, "cannot seek to sample frame " + std::to_string(frame) + ": " +
			                             Why(fTrack->ErrorText(), B_ERROR));
		fSkip = frame - at;
		fNext = at;
	}

	std::string Codec() const override { return fCodec; }
	bool Empty() const { return !fTrack; }
	const BMessage& Tags() const override { return fTags; }

private:
	std::string fPath;
	BMediaFile fFile;
	uint32 fSample = media_raw_audio_format::B_AUDIO_SHORT;
	std::vector<int32> fDeep;  // 32-bit or float samples before their reduction
	BDither fDither;
	BMessage fTags;
	BMediaTrack* fTrack = nullptr;
	std::vector<int16_t> fBuffer;
	int64_t fSkip = 0;
	int64_t fNext = 0;  // the frame the next ReadFrames starts at
	std::string fCodec;
};

class TrackWriter : public AudioWriter {
public:
	TrackWriter(const std::string& path, const AudioParams& input, const BMessage& tags,
	            const Options& options)
	    : fOut(path)
	{
		const FileKind kind = FileKindOf(path);
		const bool ogg = kind == FileKind::Ogg;
		media_file_format mfi{};
		switch (kind) {
			case FileKind::Wav: mfi.family = B_WAV_FORMAT_FAMILY, strcpy(mfi.short_name, "wav"); break;
			case FileKind::Ogg: mfi.family = B_MISC_FORMAT_FAMILY, strcpy(mfi.short_name, "vorbis"); break;
			case FileKind::Flac: mfi.family = B_MISC_FORMAT_FAMILY, strcpy(mfi.short_name, "flac"); break;
			case FileKind::Aiff: mfi.family = B_AIFF_FORMAT_FAMILY, strcpy(mfi.short_name, "aiff"); break;
			default: throw UsageFailure(path + ": audio is written as .wav, .ogg, .flac or .aiff");
		}
		fFile = std::make_unique<BMediaFile>(fOut.TempPath().c_str(), &mfi);
		if (fFile->InitCheck() != B_OK)
			throw Failure(path, Why(fFile->ErrorText(), fFile->InitCheck()));
		media_file_format written{};
		fFile->GetFileFormatInfo(&written);
		if (!tags.IsEmpty())
			fFile->SetMetaData(&tags);

		// The output keeps the input's rate and channels unless --rate or --channels change them.
		const double rate = options.rateSet ? options.rate : input.rate;
		const uint32_t channels = options.channels ? options.channels : input.channels;
		media_format format;
		format.type = B_MEDIA_RAW_AUDIO;
		media_raw_audio_format& a = format.u.raw_audio;
		a.frame_rate = (float)rate;
		a.channel_count = channels;
		a.format = media_raw_audio_format::B_AUDIO_SHORT;
		a.byte_order = B_MEDIA_HOST_ENDIAN;
		a.buffer_size = 4096;
		// Ogg always goes through an encoder (Vorbis unless --codec says otherwise); WAV is stored as
		// PCM unless a codec is named.
		const bool encoded = ogg || !options.codec.empty();
		if (!encoded && (options.qualityGiven || options.bitrate))
			throw UsageFailure(std::string(options.qualityGiven ? "--quality" : "--bitrate") +
			                   " does not apply: " + path + " is stored as PCM");
		if (encoded) {
			const std::string name = options.codec.empty() ? "vorbis" : options.codec;
			media_codec_info codec = FindEncoder(written, format, name, path);
			fCodec = codec.short_name;
			fTrack = fFile->CreateTrack(&format, &codec);
		} else {
			fCodec = "PCM";
			fTrack = fFile->CreateTrack(&format);
		}
		if (!fTrack)
			throw Failure(path, Why(fFile->ErrorText(), B_MEDIA_BAD_FORMAT));
		if (encoded)
			ApplySettings(path, options);
		if (fTrack->RawFormat(&format) != B_OK)
			throw Failure(path, Why(fTrack->ErrorText(), B_ERROR));
		if (a.format != media_raw_audio_format::B_AUDIO_SHORT || a.channel_count < 1 ||
		    a.channel_count > 64 || !(a.frame_rate >= 1))
			throw Failure(path, "encoder \"" + fCodec + "\" wants samples this tool cannot give");
		// What the encoder changed is said, naming the option that asked for it.
		if (std::lround(a.frame_rate) != std::lround(rate))
			Warn(path, (options.rateSet ? "--rate " : "the input's rate of ") + Number(rate) + " Hz",
			     Number(a.frame_rate) + " Hz");
		if (a.channel_count != channels)
			Warn(path,
			     (options.channels ? "--channels " : "the input's ") + std::to_string(channels) +
			             (options.channels ? "" : " channels"),
			     std::to_string(a.channel_count) + " channels");
		fParams.rate = a.frame_rate;
		fParams.channels = a.channel_count;
		fBigEndian = a.byte_order == B_MEDIA_BIG_ENDIAN;
		if (fFile->CommitHeader() != B_OK)
			throw Failure(path, Why(fFile->ErrorText(), B_ERROR));
	}

	// The encoder keeps the source's rate and channels if it can, and takes --quality and --bitrate
	// when given; an encoder that has no use for one of them makes it an error.
	void ApplySettings(const std::string& path, const Options& options)
	{
		const float on = 1;
		SetParameter("Keep source format", &on);
		if (options.qualityGiven) {
			encode_parameters p{};
			p.quality = options.quality;
			if (fTrack->SetEncodeParameters(&p) != B_OK)
				throw UsageFailure("--quality does not apply: encoder \"" + fCodec + "\" has no quality");
		}
		if (options.bitrate) {
			if (options.qualityGiven)
				fprintf(Console::Err(),
				        "mediaconv: warning: %s: --quality is not used: --bitrate %u sets an average bit "
				        "rate instead\n",
				        path.c_str(), options.bitrate);
			const float kbps = (float)options.bitrate;
			const status_t s = SetParameter("Bit rate", &kbps);
			if (s == B_NAME_NOT_FOUND)
				throw UsageFailure("--bitrate does not apply: encoder \"" + fCodec + "\" has no bit rate");
			if (s != B_OK)
				throw Failure(path, "--bitrate " + std::to_string(options.bitrate) + ": encoder \"" + fCodec +
				                            "\" cannot make that bit rate for this rate and channel count");
		}
	}

	// Sets the parameter of the encoder's web called `name`; B_NAME_NOT_FOUND if it has none.
	status_t SetParameter(const char* name, const float* value)
	{
		BParameterWeb* web = fTrack->Web();
		for (int32 i = 0; web && i < web->CountParameters(); i++) {
			BParameter* p = web->ParameterAt(i);
			if (p && Simplified(p->Name()) == Simplified(name))
				return fTrack->SetParameterValue(p->ID(), value, sizeof *value);
		}
		return B_NAME_NOT_FOUND;
	}

	static std::string Number(double value)
	{
		char text[32];
		snprintf(text, sizeof text, "%g", value);
		return text;
	}

	static void Warn(const std::string& path, const std::string& asked, const std::string& got)
	{
		fprintf(Console::Err(), "mediaconv: warning: %s: %s is not kept, the encoder takes %s\n",
		        path.c_str(), asked.c_str(), got.c_str());
	}

	void Write(const int16_t* samples, int64_t frames) override
	{
		if (frames <= 0)
			return;
		const int16_t* data = samples;
		if (fBigEndian) {
			fSwapped.assign(samples, samples + frames * fParams.channels);
			for (int16_t& s : fSwapped)
				s = (int16_t)__builtin_bswap16((uint16_t)s);
			data = fSwapped.data();
		}
		status_t s = fTrack->WriteFrames(data, (int32)frames);
		if (s != B_OK)
			throw Failure(fOut.Target(), "cannot write the audio: " + Why(fTrack->ErrorText(), s));
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
		if (fFinalBytes)
			return fFinalBytes;
		struct stat st;
		return stat(fOut.TempPath().c_str(), &st) == 0 ? (uint64_t)st.st_size : 0;
	}

	std::string Codec() const override { return fCodec; }

private:
	OutputFile fOut;
	std::unique_ptr<BMediaFile> fFile;
	BMediaTrack* fTrack = nullptr;
	bool fBigEndian = false;
	std::vector<int16_t> fSwapped;
	uint64_t fFinalBytes = 0;
	std::string fCodec;
};

}  // namespace

std::unique_ptr<AudioReader> OpenAudioReader(const std::string& path)
{
	return std::make_unique<TrackReader>(path, false);
}

std::unique_ptr<AudioReader> OpenMovieSound(const std::string& path)
{
	auto reader = std::make_unique<TrackReader>(path, true);
	if (reader->Empty())
		return nullptr;
	return reader;
}

std::unique_ptr<AudioWriter> OpenAudioWriter(const std::string& path, const AudioParams& input,
                                             const BMessage& tags, const Options& options)
{
	return std::make_unique<TrackWriter>(path, input, tags, options);
}
