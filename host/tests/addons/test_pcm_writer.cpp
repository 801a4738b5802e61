// Test writer add-on for the test PCM container: takes one raw 16-bit audio track and appends its
// frames after the header, so the host's choice of add-on writer and raw tracks can be checked.
#include <cstring>

#include "DataIO.h"
#include "MediaTrack.h"
#include "MediaWriter.h"
#include "test_pcm_container.h"

namespace {

class TestPcmWriter : public BPrivate::MediaWriter {
public:
	status_t SetSource(BDataIO* source) override
	{
		fTarget = dynamic_cast<BPositionIO*>(source);
		return fTarget ? B_OK : B_BAD_TYPE;
	}
	status_t AddCopyright(const char*) override { return B_OK; }
	status_t AddTrackInfo(int32, uint32, const void*, size_t) override { return B_OK; }

	status_t AddTrack(BMediaTrack* track) override
	{
		if (fHaveTrack)
			return B_BAD_INDEX;
		media_format f;
		track->EncodedFormat(&f);
		if (f.type != B_MEDIA_RAW_AUDIO)
			return B_BAD_TYPE;
		fRate = (uint32)f.u.raw_audio.frame_rate;
		fChannels = (uint16)f.u.raw_audio.channel_count;
		fHaveTrack = true;
		return B_OK;
	}

	status_t AddChunk(int32, const void*, size_t) override { return B_ERROR; }

	status_t CommitHeader() override
	{
		unsigned char h[kTestPcmHeader] = {'T',
		                                   'P',
		                                   'C',
		                                   'M',
		                                   (unsigned char)fRate,
		                                   (unsigned char)(fRate >> 8),
		                                   (unsigned char)(fRate >> 16),
		                                   (unsigned char)(fRate >> 24),
		                                   (unsigned char)fChannels,
		                                   (unsigned char)(fChannels >> 8),
		                                   0,
		                                   0};
		return fTarget->Write(h, sizeof(h)) == (ssize_t)sizeof(h) ? B_OK : B_IO_ERROR;
	}

	status_t WriteData(int32, media_type, const void* data, size_t size, media_encode_info*) override
	{
		return fTarget->Write(data, size) == (ssize_t)size ? B_OK : B_IO_ERROR;
	}

	status_t CloseFile() override { return B_OK; }

private:
	BPositionIO* fTarget = nullptr;
	bool fHaveTrack = false;
	uint32 fRate = 0;
	uint16 fChannels = 0;
};

}  // namespace

KORVO_EXPORT status_t get_mediawriter_info(media_file_format* mfi)
{
	*mfi = media_file_format{};
	mfi->capabilities = media_file_format::B_WRITABLE | media_file_format::B_KNOWS_RAW_AUDIO;
	mfi->family = B_MISC_FORMAT_FAMILY;
	strcpy(mfi->short_name, "testpcm");
	strcpy(mfi->pretty_name, "Test PCM file");
	strcpy(mfi->file_extension, "tpcm");
	return B_OK;
}

KORVO_EXPORT status_t accepts_format(const media_format* f)
{
	return f->type == B_MEDIA_RAW_AUDIO && f->u.raw_audio.format == media_raw_audio_format::B_AUDIO_SHORT
	               ? B_OK
	               : B_BAD_TYPE;
}

KORVO_EXPORT BPrivate::MediaWriter* instantiate_mediawriter() { return new TestPcmWriter; }
