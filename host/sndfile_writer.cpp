// The built-in FLAC and AIFF writers on libsndfile: one raw 16-bit audio track (the file's samples as
// the application gives them), with the tags libsndfile stores in the format (Vorbis comments in
// FLAC; name, author, copyright and annotation chunks in AIFF).
#include <sndfile.h>

#include <cstring>
#include <new>
#include <vector>

#include "ContainerTable.h"
#include "DataIO.h"
#include "MediaTags.h"
#include "MediaTrack.h"
#include "Message.h"
#include "sndfile_io.h"

namespace BPrivate::media {

namespace {

bool UsableShort(const media_format& f)
{
	const media_raw_audio_format& a = f.u.raw_audio;
	return f.type == B_MEDIA_RAW_AUDIO && a.format == media_raw_audio_format::B_AUDIO_SHORT &&
	       a.byte_order == B_MEDIA_HOST_ENDIAN && a.channel_count >= 1 && a.channel_count <= 8 &&
	       a.frame_rate >= 1 && a.frame_rate <= 655350;
}

class SndfileWriter : public MediaWriter {
public:
	explicit SndfileWriter(int major) : fMajor(major) {}

	~SndfileWriter() override
	{
		if (fFile)
			sf_close(fFile);
	}

	status_t SetSource(BDataIO* source) override
	{
		fTarget = dynamic_cast<BPositionIO*>(source);
		return fTarget ? B_OK : B_BAD_TYPE;
	}

	status_t AddCopyright(const char* text) override
	{
		if (!text)
			return B_BAD_VALUE;
		fTags.AddString("copyright", text);
		return B_OK;
	}

	status_t AddTrackInfo(int32, uint32, const void*, size_t) override { return B_OK; }

	status_t AddTrack(BMediaTrack* track) override
	{
		if (fTrack)
			return B_BAD_INDEX;
		if (!track)
			return B_BAD_VALUE;
		media_format format;
		if (status_t status = track->EncodedFormat(&format); status != B_OK)
			return status;
		if (!UsableShort(format))
			return B_MEDIA_BAD_FORMAT;
		fTrack = track;
		fFormat = format.u.raw_audio;
		return B_OK;
	}

	status_t AddChunk(int32, const void*, size_t) override { return B_ERROR; }

	status_t CommitHeader() override
	{
		if (!fTarget)
			return B_NO_INIT;
		if (fFile || !fTrack)
			return B_OK;
		SF_INFO info{};
		info.samplerate = static_cast<int>(fFormat.frame_rate);
		info.channels = static_cast<int>(fFormat.channel_count);
		info.format = fMajor | SF_FORMAT_PCM_16;
		SF_VIRTUAL_IO io = sndfile_virtual_io();
		fFile = sf_open_virtual(&io, SFM_WRITE, &info, fTarget);
		if (!fFile)
			return B_MEDIA_BAD_FORMAT;
		// Tags go in before the first samples; a tag the format has no place for is left out.
		for (const sndfile_tag& t : kSndfileTags) {
			const char* value;
			if (fTags.FindString(t.name, &value) == B_OK && value[0])
				sf_set_string(fFile, t.id, value);
		}
		return B_OK;
	}

	status_t WriteData(int32 stream, media_type, const void* data, size_t size, media_encode_info*) override
	{
		if (stream != 0 || !fTrack)
			return B_BAD_INDEX;
		if (!fFile) {
			if (status_t status = CommitHeader(); status != B_OK)
				return status;
		}
		const size_t frameBytes = 2 * fFormat.channel_count;
		if (size % frameBytes)
			return B_BAD_VALUE;
		const sf_count_t frames = static_cast<sf_count_t>(size / frameBytes);
		if (sf_writef_short(fFile, static_cast<const short*>(data), frames) != frames)
			return B_IO_ERROR;
		return B_OK;
	}

	status_t CloseFile() override
	{
		if (!fTarget)
			return B_NO_INIT;
		if (!fFile && fTrack) {
			if (status_t status = CommitHeader(); status != B_OK)
				return status;
		}
		if (!fFile)
			return B_OK;
		const int error = sf_close(fFile);
		fFile = nullptr;
		return error == 0 ? B_OK : B_IO_ERROR;
	}

	status_t Perform(perform_code code, void* data) override
	{
		if (code != B_PERFORM_SET_TAGS || !data)
			return MediaWriter::Perform(code, data);
		if (fFile)
			return B_NOT_ALLOWED;
		fTags = *static_cast<const BMessage*>(data);
		return B_OK;
	}

private:
	const int fMajor;
	BPositionIO* fTarget = nullptr;
	BMediaTrack* fTrack = nullptr;
	media_raw_audio_format fFormat{};
	BMessage fTags;
	SNDFILE* fFile = nullptr;
};

}  // namespace

MediaWriter* instantiate_flac_writer() { return new (std::nothrow) SndfileWriter(SF_FORMAT_FLAC); }

status_t flac_writer_info(media_file_format* mfi)
{
	fill_media_file_format(mfi, media_file_format::B_WRITABLE | media_file_format::B_KNOWS_RAW_AUDIO,
	                       B_MISC_FORMAT_FAMILY, 100, "audio/flac", "FLAC audio file", "flac", "flac");
	return B_OK;
}

MediaWriter* instantiate_aiff_writer() { return new (std::nothrow) SndfileWriter(SF_FORMAT_AIFF); }

status_t aiff_writer_info(media_file_format* mfi)
{
	fill_media_file_format(mfi, media_file_format::B_WRITABLE | media_file_format::B_KNOWS_RAW_AUDIO,
	                       B_AIFF_FORMAT_FAMILY, 100, "audio/x-aiff", "AIFF audio file", "aiff", "aiff");
	return B_OK;
}

// 16-bit host-order PCM of 1..8 channels (FLAC's limit).
status_t sndfile_writer_accepts(const media_format* format)
{
	if (!format)
		return B_BAD_VALUE;
	return UsableShort(*format) ? B_OK : B_MEDIA_BAD_FORMAT;
}

}  // namespace BPrivate::media
