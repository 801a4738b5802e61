// Constructors, wildcards and comparisons of the Media Kit records.
// Records are plain data; constructors clear every byte so padding and reserved fields compare equal.
#include <cstring>

#include "MediaDefs.h"

const media_raw_audio_format media_raw_audio_format::wildcard = {};
const media_multi_audio_format media_multi_audio_format::wildcard = {};
const media_raw_video_format media_raw_video_format::wildcard = {};
const media_encoded_audio_format media_encoded_audio_format::wildcard = {};
const media_encoded_video_format media_encoded_video_format::wildcard = {};

media_format::media_format() { memset(static_cast<void*>(this), 0, sizeof(*this)); }

int32 media_format::Encoding() const
{
	if (type == B_MEDIA_ENCODED_AUDIO)
		return u.encoded_audio.encoding;
	if (type == B_MEDIA_ENCODED_VIDEO)
		return u.encoded_video.encoding;
	return 0;
}

bool media_format::Matches(const media_format& other) const
{
	return type == other.type && Encoding() == other.Encoding();
}

media_format_description::media_format_description() { memset(static_cast<void*>(this), 0, sizeof(*this)); }

bool media_format_description::operator==(const media_format_description& other) const
{
	return family == other.family && memcmp(&u, &other.u, sizeof(u)) == 0;
}

media_header::media_header() { memset(static_cast<void*>(this), 0, sizeof(*this)); }
media_encode_info::media_encode_info() { memset(static_cast<void*>(this), 0, sizeof(*this)); }
media_decode_info::media_decode_info() { memset(static_cast<void*>(this), 0, sizeof(*this)); }

void fill_media_file_format(media_file_format* mfi, uint32 capabilities, media_format_family family,
                            int32 version, const char* mimeType, const char* prettyName,
                            const char* shortName, const char* extension)
{
	*mfi = media_file_format{};
	mfi->capabilities = capabilities;
	mfi->family = family;
	mfi->version = version;
	strncpy(mfi->mime_type, mimeType, sizeof mfi->mime_type - 1);
	strncpy(mfi->pretty_name, prettyName, sizeof mfi->pretty_name - 1);
	strncpy(mfi->short_name, shortName, sizeof mfi->short_name - 1);
	strncpy(mfi->file_extension, extension, sizeof mfi->file_extension - 1);
}
