// The built-in reader of WAV files whose samples are coded (G.723 and any format tag libsndfile does
// not decode): one encoded audio track whose chunks are the 'data' bytes, with the 'fmt ' chunk as the
// decoder's track information. PCM, float and the codecs libsndfile knows are left to it.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "ContainerTable.h"
#include "DataIO.h"
#include "MediaFormats.h"
#include "MediaTags.h"
#include "Message.h"
#include "riff_tags.h"

namespace BPrivate::media {

namespace {

constexpr size_t kChunkBytes = 4096;
constexpr uint32 kMaxFormatBytes = 0x10000;

uint16 Le16(const uint8* p) { return static_cast<uint16>(p[0] | p[1] << 8); }
uint32 Le32(const uint8* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32>(p[3]) << 24; }

// Format tags libsndfile decodes itself: PCM, MS and IMA ADPCM, float, A-law, mu-law, GSM 6.10,
// G.721, MPEG and the extensible form.
bool SndfileDecodes(uint16 tag)
{
	static const uint16 kTags[] = {0x0001, 0x0002, 0x0003, 0x0006, 0x0007, 0x0011,
	                               0x0031, 0x0040, 0x0050, 0x0055, 0xFFFE};
	return std::find(std::begin(kTags), std::end(kTags), tag) != std::end(kTags);
}

class WavReader : public Extractor {
public:
	status_t GetFileFormatInfo(media_file_format* mfi) override
	{
		fill_media_file_format(mfi,
		                       media_file_format::B_READABLE | media_file_format::B_IMPERFECTLY_SEEKABLE |
		                               media_file_format::B_KNOWS_ENCODED_AUDIO,
		                       B_WAV_FORMAT_FAMILY, 100, "audio/x-wav", "RIFF WAV audio file", "wav", "wav");
		return B_OK;
	}

	status_t Sniff(int32* streams, int32* chunkSize) override
	{
		fSource = dynamic_cast<BPositionIO*>(Source());
		if (!fSource)
			return B_BAD_TYPE;
		uint8 head[12];
		off_t size = 0;
		if (fSource->GetSize(&size) != B_OK || size < 12 || fSource->ReadAt(0, head, 12) != 12 ||
		    memcmp(head, "RIFF", 4) != 0 || memcmp(head + 8, "WAVE", 4) != 0)
			return B_BAD_TYPE;
		// Chunks are bounded by the file; a RIFF size beyond it is a file cut short, whose chunks
		// are read as far as they go.
		const uint64 end =
		        std::min<uint64>(static_cast<uint64>(size), 8 + static_cast<uint64>(Le32(head + 4)));
		bool haveFormat = false, haveData = false;
		for (uint64 at = 12; at + 8 <= end;) {
			uint8 chunk[8];
			if (fSource->ReadAt(static_cast<off_t>(at), chunk, 8) != 8)
				break;
			const uint64 body = at + 8;
			const uint64 declared = Le32(chunk + 4);
			const uint64 length = std::min<uint64>(declared, end - body);
			if (memcmp(chunk, "fmt ", 4) == 0 && !haveFormat) {
				if (length < 14 || length > kMaxFormatBytes)
					return Refuse("its 'fmt ' chunk has " + std::to_string(declared) + " bytes");
				fFormat.resize(length);
				if (fSource->ReadAt(static_cast<off_t>(body), fFormat.data(), length) !=
				    static_cast<ssize_t>(length))
					return Refuse("its 'fmt ' chunk cannot be read");
				haveFormat = true;
				if (SndfileDecodes(Le16(fFormat.data())))
					return B_BAD_TYPE;
			} else if (memcmp(chunk, "fact", 4) == 0 && length >= 4) {
				uint8 count[4];
				if (fSource->ReadAt(static_cast<off_t>(body), count, 4) == 4)
					fFactFrames = Le32(count);
			} else if (memcmp(chunk, "data", 4) == 0 && !haveData) {
				fDataStart = body;
				fDataBytes = length;
				haveData = true;
			} else if (memcmp(chunk, "LIST", 4) == 0) {
				std::vector<uint8> list(std::min<uint64>(length, kMaxFormatBytes));
				if (fSource->ReadAt(static_cast<off_t>(body), list.data(), list.size()) ==
				    static_cast<ssize_t>(list.size()))
					read_riff_info_tags(list.data(), list.size(), &fTags);
			}
			at = body + declared + (declared & 1);
		}
		if (!haveFormat)
			return B_BAD_TYPE;
		if (!haveData)
			return Refuse("it has no 'data' chunk");
		fTag = Le16(fFormat.data());
		fChannels = Le16(fFormat.data() + 2);
		fRate = Le32(fFormat.data() + 4);
		fBytesPerSecond = Le32(fFormat.data() + 8);
		fBlockAlign = std::max<uint16>(Le16(fFormat.data() + 12), 1);
		if (fChannels == 0 || fRate == 0)
			return Refuse("its 'fmt ' chunk gives " + std::to_string(fChannels) + " channels at " +
			              std::to_string(fRate) + " Hz");
		// The 14-byte form has no bits per sample; the data rate tells them.
		uint32 bits = fFormat.size() >= 16 ? Le16(fFormat.data() + 14) : 0;
		if (bits == 0 && fBytesPerSecond)
			bits = static_cast<uint32>(
			        std::lround(fBytesPerSecond * 8.0 / (static_cast<double>(fRate) * fChannels)));
		fFrames = -1;
		if (bits)
			fFrames = static_cast<int64>(fDataBytes * 8 / (static_cast<uint64>(bits) * fChannels));
		// A sample count beyond what the data holds is not believed.
		if (fFactFrames >= 0 && (fFrames < 0 || fFactFrames <= fFrames))
			fFrames = fFactFrames;
		fChunkBytes = std::max<size_t>(kChunkBytes - kChunkBytes % fBlockAlign, fBlockAlign);
		*streams = 1;
		*chunkSize = static_cast<int32>(fChunkBytes);
		return B_OK;
	}

	status_t TrackInfo(int32 stream, media_format* format, void** info, int32* infoSize) override
	{
		if (!fSource || fChannels == 0)
			return B_NO_INIT;
		if (stream != 0)
			return B_BAD_INDEX;
		media_format_description description;
		description.family = B_WAV_FORMAT_FAMILY;
		description.u.wav.codec = fTag;
		*format = media_format();
		BMediaFormats formats;
		formats.Lock();
		// A format no add-on registered gets encoding 0: the track exists, but nothing decodes it.
		if (formats.GetFormatFor(description, format) != B_OK)
			*format = media_format();
		formats.Unlock();
		format->type = B_MEDIA_ENCODED_AUDIO;
		media_encoded_audio_format& e = format->u.encoded_audio;
		// The sample format stays 0: the chunks are codes only a decoder understands.
		e.output.frame_rate = static_cast<float>(fRate);
		e.output.channel_count = fChannels;
		e.output.byte_order = B_MEDIA_LITTLE_ENDIAN;
		e.bit_rate = static_cast<float>(fBytesPerSecond) * 8;
		e.frame_size = fBlockAlign;
		if (info)
			*info = fFormat.data();
		if (infoSize)
			*infoSize = static_cast<int32>(fFormat.size());
		return B_OK;
	}

	status_t CountFrames(int32 stream, int64* frames) override
	{
		if (stream != 0)
			return B_BAD_INDEX;
		if (fFrames < 0)
			return B_ERROR;
		*frames = fFrames;
		return B_OK;
	}

	status_t GetDuration(int32 stream, bigtime_t* duration) override
	{
		int64 frames;
		if (status_t status = CountFrames(stream, &frames); status != B_OK)
			return status;
		*duration = static_cast<bigtime_t>(static_cast<double>(frames) * 1e6 / fRate);
		return B_OK;
	}

	status_t AllocateCookie(int32 stream, void** cookie) override
	{
		if (stream != 0)
			return B_BAD_INDEX;
		*cookie = nullptr;
		fPosition = 0;
		return B_OK;
	}

	status_t FreeCookie(int32, void*) override { return B_OK; }

	status_t SplitNext(int32 stream, void*, off_t* filePos, char*, int32* packetSize, char** chunk,
	                   int32* chunkSize, media_header* header) override
	{
		if (!fSource)
			return B_NO_INIT;
		if (stream != 0)
			return B_BAD_INDEX;
		*packetSize = 0;
		const size_t n = static_cast<size_t>(std::min<uint64>(fChunkBytes, fDataBytes - fPosition));
		*filePos = header->file_pos = static_cast<off_t>(fDataStart + fPosition);
		header->start_time = fBytesPerSecond ? static_cast<bigtime_t>(fPosition * 1e6 / fBytesPerSecond) : 0;
		if (n == 0) {
			*chunkSize = 0;
			header->size_used = 0;
			return B_LAST_BUFFER_ERROR;
		}
		fBuffer.resize(n);
		if (fSource->ReadAt(static_cast<off_t>(fDataStart + fPosition), fBuffer.data(), n) !=
		    static_cast<ssize_t>(n))
			return B_IO_ERROR;
		fPosition += n;
		*chunk = reinterpret_cast<char*>(fBuffer.data());
		*chunkSize = static_cast<int32>(n);
		header->size_used = static_cast<uint32>(n);
		header->orig_size = n;
		return B_OK;
	}

	// A coded stream depends on all that came before, so the only place decoding can start is the
	// beginning: every backward seek goes there and the caller decodes forward.
	status_t Seek(int32 stream, void*, int32 toWhat, int32 flags, bigtime_t* time, int64* frame,
	              off_t* filePos, char*, int32*, bool* done) override
	{
		if (stream != 0)
			return B_BAD_INDEX;
		if (!time || !frame || !filePos || (toWhat != B_SEEK_BY_FRAME && toWhat != B_SEEK_BY_TIME))
			return B_BAD_VALUE;
		const bool atStart = toWhat == B_SEEK_BY_FRAME ? *frame <= 0 : *time <= 0;
		if ((flags & B_MEDIA_SEEK_DIRECTION_MASK) == B_MEDIA_SEEK_CLOSEST_FORWARD && !atStart)
			return B_BAD_VALUE;
		fPosition = 0;
		*frame = 0;
		*time = 0;
		*filePos = static_cast<off_t>(fDataStart);
		if (done)
			*done = true;
		return B_OK;
	}

	status_t Perform(perform_code code, void* data) override
	{
		if (code == B_PERFORM_GET_ERROR_TEXT && data) {
			*static_cast<const char**>(data) = fError.c_str();
			return B_OK;
		}
		if (code == B_PERFORM_GET_TAGS && data) {
			*static_cast<BMessage*>(data) = fTags;
			return B_OK;
		}
		return Extractor::Perform(code, data);
	}

private:
	status_t Refuse(const std::string& why)
	{
		fError = why;
		return B_BAD_DATA;
	}

	BPositionIO* fSource = nullptr;
	std::string fError;
	std::vector<uint8> fFormat;  // the 'fmt ' chunk as stored
	BMessage fTags;
	uint16 fTag = 0;
	uint16 fChannels = 0;
	uint16 fBlockAlign = 1;
	uint32 fRate = 0;
	uint32 fBytesPerSecond = 0;
	uint64 fDataStart = 0, fDataBytes = 0, fPosition = 0;
	int64 fFactFrames = -1;
	int64 fFrames = -1;
	size_t fChunkBytes = kChunkBytes;
	std::vector<uint8> fBuffer;
};

}  // namespace

Extractor* instantiate_wav_reader() { return new (std::nothrow) WavReader; }

}  // namespace BPrivate::media
