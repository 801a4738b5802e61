// Test extractor add-on for the test PCM container: one encoded-audio stream whose chunks are PCM in
// deliberately odd 1002-byte pieces, read by the host's pass-through decoder.
#include <cstring>
#include <vector>

#include "DataIO.h"
#include "Extractor.h"
#include "test_pcm_container.h"

namespace {

constexpr int32 kChunk = 1002;

struct Cookie {
	off_t position = kTestPcmHeader;
	std::vector<char> buffer = std::vector<char>(kChunk);
};

class TestPcmExtractor : public BPrivate::Extractor {
public:
	status_t GetFileFormatInfo(media_file_format* mfi) override
	{
		*mfi = media_file_format{};
		mfi->capabilities = media_file_format::B_READABLE | media_file_format::B_KNOWS_ENCODED_AUDIO;
		mfi->family = B_MISC_FORMAT_FAMILY;
		strcpy(mfi->short_name, "testpcm");
		strcpy(mfi->pretty_name, "Test PCM file");
		strcpy(mfi->file_extension, "tpcm");
		return B_OK;
	}

	status_t Sniff(int32* streams, int32* chunkSize) override
	{
		fIO = dynamic_cast<BPositionIO*>(Source());
		unsigned char h[kTestPcmHeader];
		if (!fIO || fIO->ReadAt(0, h, sizeof(h)) != (ssize_t)sizeof(h) || memcmp(h, "TPCM", 4) != 0)
			return B_BAD_TYPE;
		fRate = h[4] | h[5] << 8 | h[6] << 16 | (uint32)h[7] << 24;
		fChannels = h[8] | h[9] << 8;
		off_t size;
		if (fChannels == 0 || fIO->GetSize(&size) != B_OK)
			return B_BAD_TYPE;
		fFrames = (size - (off_t)kTestPcmHeader) / (2 * fChannels);
		*streams = 1;
		*chunkSize = kChunk;
		return B_OK;
	}

	status_t TrackInfo(int32 stream, media_format* f, void**, int32*) override
	{
		if (stream != 0)
			return B_BAD_INDEX;
		*f = media_format();
		f->type = B_MEDIA_ENCODED_AUDIO;
		f->u.encoded_audio.encoding = test_pcm_encoding();
		f->u.encoded_audio.output.frame_rate = (float)fRate;
		f->u.encoded_audio.output.channel_count = fChannels;
		f->u.encoded_audio.output.format = media_raw_audio_format::B_AUDIO_SHORT;
		f->u.encoded_audio.output.byte_order = B_MEDIA_LITTLE_ENDIAN;
		f->u.encoded_audio.output.buffer_size = 4096;
		return B_OK;
	}

	status_t CountFrames(int32, int64* frames) override
	{
		*frames = fFrames;
		return B_OK;
	}

	status_t GetDuration(int32, bigtime_t* duration) override
	{
		*duration = fRate ? fFrames * 1000000 / fRate : 0;
		return B_OK;
	}

	status_t AllocateCookie(int32, void** cookie) override
	{
		*cookie = new Cookie;
		return B_OK;
	}

	status_t FreeCookie(int32, void* cookie) override
	{
		delete static_cast<Cookie*>(cookie);
		return B_OK;
	}

	status_t SplitNext(int32, void* cookie, off_t* filePos, char*, int32*, char** chunk, int32* chunkSize,
	                   media_header* header) override
	{
		Cookie* c = static_cast<Cookie*>(cookie);
		ssize_t n = fIO->ReadAt(c->position, c->buffer.data(), kChunk);
		if (n <= 0)
			return B_LAST_BUFFER_ERROR;
		const int64 frame = (c->position - (off_t)kTestPcmHeader) / (2 * fChannels);
		header->start_time = frame * 1000000 / fRate;
		header->file_pos = c->position;
		header->size_used = (uint32)n;
		*filePos = c->position;
		c->position += n;
		*chunk = c->buffer.data();
		*chunkSize = (int32)n;
		return B_OK;
	}

	status_t Seek(int32, void* cookie, int32 toWhat, int32, bigtime_t* time, int64* frame, off_t*, char*,
	              int32*, bool* done) override
	{
		if (toWhat == B_SEEK_BY_TIME)
			*frame = *time * fRate / 1000000;
		else if (toWhat != B_SEEK_BY_FRAME)
			return B_BAD_VALUE;
		if (*frame < 0 || *frame > fFrames)
			return B_BAD_VALUE;
		*time = *frame * 1000000 / fRate;
		static_cast<Cookie*>(cookie)->position = (off_t)kTestPcmHeader + *frame * 2 * fChannels;
		*done = true;
		return B_OK;
	}

private:
	BPositionIO* fIO = nullptr;
	uint32 fRate = 0;
	uint32 fChannels = 0;
	int64 fFrames = 0;
};

}  // namespace

KORVO_EXPORT BPrivate::Extractor* instantiate_extractor() { return new TestPcmExtractor; }
