// The OggAudioWriter add-on: stores one Ogg Vorbis track as a file. The encoder's chunks already are
// the Ogg pages (each as a header chunk and a body chunk), so the file is exactly their concatenation.
#include <cstdio>
#include <cstring>
#include <new>

#include "DataIO.h"
#include "MediaFormats.h"
#include "MediaTrack.h"
#include "MediaWriter.h"

namespace {

const uint32 kFileFormat = 0x766f7262;  // 'vorb'
const uint32 kCodec = 0x206f6767;       // 'ogg '

// B_OK if `format` is the Vorbis format of the Ogg family; B_BAD_TYPE for any other format, or the
// registry's error when it does not know the format at all.
status_t CheckVorbis(const media_format& format)
{
	if (format.type != B_MEDIA_ENCODED_AUDIO)
		return B_BAD_TYPE;
	BMediaFormats formats;
	media_format_description description;
	formats.Lock();
	const status_t status = formats.GetCodeFor(format, B_MISC_FORMAT_FAMILY, &description);
	formats.Unlock();
	if (status != B_OK)
		return status;
	if (description.family != B_MISC_FORMAT_FAMILY || description.u.misc.codec != kCodec ||
	    description.u.misc.file_format != kFileFormat)
		return B_BAD_TYPE;
	return B_OK;
}

void FillFileFormat(media_file_format* mfi)
{
	fill_media_file_format(mfi,
	                       media_file_format::B_READABLE | media_file_format::B_PERFECTLY_SEEKABLE |
	                               media_file_format::B_IMPERFECTLY_SEEKABLE |
	                               media_file_format::B_KNOWS_ENCODED_AUDIO,
	                       B_MISC_FORMAT_FAMILY, 1280, "audio/x-Vorbis", "Ogg Vorbis File", "vorbis", "ogg");
}

}  // namespace

namespace BPrivate {

class OggAudioWriter : public MediaWriter {
public:
	OggAudioWriter()
	{
		fputs("Vorbis Codec Writer.\nThis encoder is based on undocumented APIs.\n", stderr);
		fputs("Therefore it is likely, if not certain, to break in future\n", stderr);
		fputs("versions of BeOS. This piece of software is in no way\n", stderr);
		fputs("connected to or even supported by Be, Inc.   \n", stderr);
	}

	status_t SetSource(BDataIO* source) override
	{
		target = dynamic_cast<BPositionIO*>(source);
		return target ? B_OK : B_BAD_TYPE;
	}

	status_t AddTrack(BMediaTrack* t) override
	{
		if (track)
			return B_BAD_INDEX;
		if (!t)
			return B_BAD_VALUE;
		media_format format;
		if (status_t status = t->EncodedFormat(&format); status != B_OK)
			return status;
		if (status_t status = CheckVorbis(format); status != B_OK)
			return status;
		track = t;
		return B_OK;
	}

	status_t WriteData(int32, media_type, const void* data, size_t size, media_encode_info*) override
	{
		if (!target)
			return B_NO_INIT;
		// A short write loses part of a page: as much a failure as an error.
		const ssize_t written = target->Write(data, size);
		return written >= 0 && static_cast<size_t>(written) == size ? B_OK : B_ERROR;
	}

	status_t AddCopyright(const char*) override { return B_OK; }
	status_t AddTrackInfo(int32, uint32, const void*, size_t) override { return B_OK; }
	status_t CommitHeader() override { return B_OK; }
	status_t CloseFile() override { return B_OK; }
	status_t AddChunk(int32, const void*, size_t) override { return B_ERROR; }

private:
	BMediaTrack* track = nullptr;
	BPositionIO* target = nullptr;
};

}  // namespace BPrivate

KORVO_EXPORT status_t get_mediawriter_info(media_file_format* mfi)
{
	FillFileFormat(mfi);
	return B_OK;
}

KORVO_EXPORT status_t accepts_format(const media_format* format)
{
	return format ? CheckVorbis(*format) : B_BAD_VALUE;
}

KORVO_EXPORT BPrivate::MediaWriter* instantiate_mediawriter()
{
	return new (std::nothrow) BPrivate::OggAudioWriter;
}
