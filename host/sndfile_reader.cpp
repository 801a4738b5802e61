// The built-in audio file reader on libsndfile (WAV, AIFF, FLAC, AU, CAF, ...): one raw 16-bit track in
// host byte order. Ogg files are left alone so that the Ogg Vorbis extractor add-on reads them.
#include <sndfile.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "ContainerTable.h"
#include "DataIO.h"
#include "MediaTags.h"
#include "Message.h"
#include "sndfile_io.h"

namespace BPrivate::media {

namespace {

constexpr int kMaxChannels = 1024;
constexpr size_t kChunkBytes = 4096;

class SndfileReader : public Extractor {
public:
	~SndfileReader() override
	{
		if (fFile)
			sf_close(fFile);
	}

	status_t GetFileFormatInfo(media_file_format* mfi) override
	{
		const int major = fInfo.format & SF_FORMAT_TYPEMASK;
		const media_format_family family = major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX
		                                           ? B_WAV_FORMAT_FAMILY
		                                   : major == SF_FORMAT_AIFF ? B_AIFF_FORMAT_FAMILY
		                                                             : B_MISC_FORMAT_FAMILY;
		const char* mime = family == B_WAV_FORMAT_FAMILY    ? "audio/x-wav"
		                   : family == B_AIFF_FORMAT_FAMILY ? "audio/x-aiff"
		                                                    : "audio/x-sndfile";
		SF_FORMAT_INFO format{};
		format.format = major;
		const bool named = fFile && sf_command(fFile, SFC_GET_FORMAT_INFO, &format, sizeof format) == 0;
		const char* name = named && format.name ? format.name : "";
		const char* extension = named && format.extension ? format.extension : "";
		fill_media_file_format(mfi,
		                       media_file_format::B_READABLE | media_file_format::B_PERFECTLY_SEEKABLE |
		                               media_file_format::B_KNOWS_RAW_AUDIO,
		                       family, 100, mime, name, extension, extension);
		return B_OK;
	}

	status_t Sniff(int32* streams, int32* chunkSize) override
	{
		BPositionIO* source = dynamic_cast<BPositionIO*>(Source());
		if (!source)
			return B_BAD_TYPE;
		// Ogg (Vorbis, Opus, FLAC in Ogg) belongs to the Ogg extractor.
		char magic[4] = {};
		if (source->ReadAt(0, magic, 4) == 4 && memcmp(magic, "OggS", 4) == 0)
			return B_BAD_TYPE;
		if (source->Seek(0, SEEK_SET) != 0)
			return B_BAD_TYPE;
		SF_VIRTUAL_IO io = sndfile_virtual_io();
		fInfo = SF_INFO{};
		fFile = sf_open_virtual(&io, SFM_READ, &fInfo, source);
		if (!fFile)
			return WavChannels(source) > kMaxChannels ? B_BAD_DATA : B_BAD_TYPE;
		const int major = fInfo.format & SF_FORMAT_TYPEMASK;
		if (major == SF_FORMAT_OGG || fInfo.channels < 1 || fInfo.channels > kMaxChannels ||
		    fInfo.samplerate < 1 || fInfo.frames < 0) {
			sf_close(fFile);
			fFile = nullptr;
			return B_BAD_TYPE;
		}
		// 8- and 16-bit samples come as 16 bits; deeper ones keep their depth as 32-bit integers
		// or floats, for the application to reduce as it sees fit.
		switch (fInfo.format & SF_FORMAT_SUBMASK) {
			case SF_FORMAT_PCM_24: fSample = media_raw_audio_format::B_AUDIO_INT, fValidBits = 24; break;
			case SF_FORMAT_PCM_32: fSample = media_raw_audio_format::B_AUDIO_INT, fValidBits = 32; break;
			case SF_FORMAT_FLOAT:
			case SF_FORMAT_DOUBLE: fSample = media_raw_audio_format::B_AUDIO_FLOAT, fValidBits = 0; break;
			default: fSample = media_raw_audio_format::B_AUDIO_SHORT, fValidBits = 16; break;
		}
		const size_t sampleBytes = fSample & media_raw_audio_format::B_AUDIO_SIZE_MASK;
		fFrameBytes = sampleBytes * static_cast<size_t>(fInfo.channels);
		fChunkFrames = kChunkBytes >= fFrameBytes ? kChunkBytes / fFrameBytes : 1;
		fBuffer.assign(fChunkFrames * fFrameBytes, 0);
		*streams = 1;
		*chunkSize = static_cast<int32>(fChunkFrames * fFrameBytes);
		return B_OK;
	}

	status_t TrackInfo(int32 stream, media_format* format, void**, int32*) override
	{
		if (!fFile)
			return B_NO_INIT;
		if (stream != 0)
			return B_BAD_INDEX;
		*format = media_format();
		format->type = B_MEDIA_RAW_AUDIO;
		media_raw_audio_format& raw = format->u.raw_audio;
		raw.frame_rate = static_cast<float>(fInfo.samplerate);
		raw.channel_count = static_cast<uint32>(fInfo.channels);
		raw.format = fSample;
		format->u.raw_audio.valid_bits = fValidBits;
		raw.byte_order = B_MEDIA_HOST_ENDIAN;
		raw.buffer_size = fChunkFrames * fFrameBytes;
		return B_OK;
	}

	status_t CountFrames(int32 stream, int64* frames) override
	{
		if (!fFile)
			return B_NO_INIT;
		if (stream != 0)
			return B_BAD_INDEX;
		*frames = fInfo.frames;
		return B_OK;
	}

	status_t GetDuration(int32 stream, bigtime_t* duration) override
	{
		int64 frames;
		if (status_t status = CountFrames(stream, &frames); status != B_OK)
			return status;
		*duration = FramesToTime(frames);
		return B_OK;
	}

	status_t AllocateCookie(int32 stream, void** cookie) override
	{
		if (!fFile)
			return B_NO_INIT;
		if (stream != 0)
			return B_BAD_INDEX;
		*cookie = nullptr;
		return sf_seek(fFile, 0, SEEK_SET) < 0 && fInfo.frames > 0 ? B_IO_ERROR : B_OK;
	}

	status_t SplitNext(int32 stream, void*, off_t* filePos, char*, int32* packetSize, char** chunk,
	                   int32* chunkSize, media_header* header) override
	{
		if (!fFile)
			return B_NO_INIT;
		if (stream != 0)
			return B_BAD_INDEX;
		const sf_count_t at = sf_seek(fFile, 0, SEEK_CUR);
		const sf_count_t want = static_cast<sf_count_t>(fChunkFrames);
		const sf_count_t n = fSample == media_raw_audio_format::B_AUDIO_SHORT
		                             ? sf_readf_short(fFile, reinterpret_cast<short*>(fBuffer.data()), want)
		                     : fSample == media_raw_audio_format::B_AUDIO_INT
		                             ? sf_readf_int(fFile, reinterpret_cast<int*>(fBuffer.data()), want)
		                             : sf_readf_float(fFile, reinterpret_cast<float*>(fBuffer.data()), want);
		*packetSize = 0;
		*filePos = header->file_pos = at < 0 ? 0 : at;
		header->start_time = FramesToTime(at);
		if (n <= 0) {
			*chunkSize = 0;
			header->size_used = 0;
			return B_LAST_BUFFER_ERROR;
		}
		*chunk = reinterpret_cast<char*>(fBuffer.data());
		*chunkSize = static_cast<int32>(n * fFrameBytes);
		header->size_used = static_cast<uint32>(*chunkSize);
		header->orig_size = static_cast<size_t>(*chunkSize);
		return B_OK;
	}

	status_t Seek(int32 stream, void*, int32 toWhat, int32, bigtime_t* time, int64* frame, off_t* filePos,
	              char*, int32*, bool* done) override
	{
		if (!fFile)
			return B_NO_INIT;
		if (stream != 0)
			return B_BAD_INDEX;
		if (!time || !frame || !filePos)
			return B_BAD_VALUE;
		int64 target;
		if (toWhat == B_SEEK_BY_FRAME) {
			target = *frame;
		} else if (toWhat == B_SEEK_BY_TIME) {
			// Compared before the conversion, which is undefined for a value beyond int64.
			const double at = *time <= 0 ? 0 : static_cast<double>(*time) * fInfo.samplerate / 1e6;
			if (at > static_cast<double>(fInfo.frames))
				return B_BAD_VALUE;
			target = static_cast<int64>(at);
		} else {
			return B_BAD_VALUE;
		}
		if (target < 0 || target > fInfo.frames)
			return B_BAD_VALUE;
		const sf_count_t at = sf_seek(fFile, target, SEEK_SET);
		if (at < 0)
			return B_IO_ERROR;
		*frame = at;
		*time = FramesToTime(at);
		*filePos = at;
		if (done)
			*done = true;
		return B_OK;
	}

	// B_PERFORM_GET_TAGS: the strings libsndfile found (INFO in WAV, comments in FLAC, ...);
	// B_PERFORM_GET_ERROR_TEXT: why Sniff refused the file.
	status_t Perform(perform_code code, void* data) override
	{
		if (code == B_PERFORM_GET_ERROR_TEXT && data && !fError.empty()) {
			*static_cast<const char**>(data) = fError.c_str();
			return B_OK;
		}
		if (code != B_PERFORM_GET_TAGS || !data || !fFile)
			return Extractor::Perform(code, data);
		BMessage* tags = static_cast<BMessage*>(data);
		for (const sndfile_tag& t : kSndfileTags) {
			if (const char* value = sf_get_string(fFile, t.id); value && value[0])
				tags->AddString(t.name, value);
		}
		return B_OK;
	}

private:
	// The channel count of a RIFF WAVE file's "fmt " chunk (0 if there is none), so that a file
	// libsndfile refuses for its channels is named for them, not taken for one of unknown format.
	uint32 WavChannels(BPositionIO* source)
	{
		uint8 head[12];
		if (source->ReadAt(0, head, 12) != 12 || memcmp(head, "RIFF", 4) || memcmp(head + 8, "WAVE", 4))
			return 0;
		off_t size = 0;
		if (source->GetSize(&size) != B_OK)
			return 0;
		off_t pos = 12;
		for (int chunks = 0; chunks < 64 && pos + 8 <= size; chunks++) {
			uint8 chunk[8];
			if (source->ReadAt(pos, chunk, 8) != 8)
				return 0;
			const uint32 length = chunk[4] | chunk[5] << 8 | chunk[6] << 16 | (uint32)chunk[7] << 24;
			if (!memcmp(chunk, "fmt ", 4)) {
				uint8 format[4];  // format tag, channels
				if (length < 4 || source->ReadAt(pos + 8, format, 4) != 4)
					return 0;
				const uint32 channels = format[2] | format[3] << 8;
				if (channels > kMaxChannels)
					fError = std::to_string(channels) + " channels, more than the " +
					         std::to_string(kMaxChannels) + " this reader takes";
				return channels;
			}
			pos += 8 + (off_t)length + (length & 1);
		}
		return 0;
	}

	bigtime_t FramesToTime(int64 frames) const
	{
		if (frames <= 0)
			return 0;
		const int64 rate = fInfo.samplerate;
		if (frames / rate > INT64_MAX / 1000000 - 1)
			return INT64_MAX;
		return frames / rate * 1000000 + frames % rate * 1000000 / rate;
	}

	SNDFILE* fFile = nullptr;
	SF_INFO fInfo{};
	size_t fFrameBytes = 4;
	size_t fChunkFrames = 1024;
	std::vector<uint8> fBuffer;  // one chunk of samples, 16-bit, 32-bit or float
	uint32 fSample = media_raw_audio_format::B_AUDIO_SHORT;
	int16 fValidBits = 16;
	std::string fError;
};

}  // namespace

Extractor* instantiate_sndfile_reader() { return new (std::nothrow) SndfileReader; }

}  // namespace BPrivate::media
