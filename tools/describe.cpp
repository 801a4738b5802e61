// Texts for format descriptions, formats and capabilities.
#include "describe.h"

#include <cstdio>

std::string FourCC(uint32 code)
{
	std::string s = "'";
	for (int shift = 24; shift >= 0; shift -= 8) {
		char c = (char)((code >> shift) & 0xff);
		s.push_back(c >= 32 && c < 127 ? c : '?');
	}
	return s + "'";
}

std::string DescribeDescription(const media_format_description& d)
{
	char text[160];
	switch (d.family) {
		case B_QUICKTIME_FORMAT_FAMILY:
			snprintf(text, sizeof text, "QuickTime codec %s vendor %s", FourCC(d.u.quicktime.codec).c_str(),
			         d.u.quicktime.vendor ? FourCC(d.u.quicktime.vendor).c_str() : "any");
			break;
		case B_WAV_FORMAT_FAMILY: snprintf(text, sizeof text, "WAV format tag 0x%04x", d.u.wav.codec); break;
		case B_AIFF_FORMAT_FAMILY:
			snprintf(text, sizeof text, "AIFF codec %s", FourCC(d.u.aiff.codec).c_str());
			break;
		case B_AVI_FORMAT_FAMILY:
			snprintf(text, sizeof text, "AVI codec %s", FourCC(d.u.avi.codec).c_str());
			break;
		case B_BEOS_FORMAT_FAMILY: snprintf(text, sizeof text, "BeOS format 0x%x", d.u.beos.format); break;
		case B_MISC_FORMAT_FAMILY:
			snprintf(text, sizeof text, "misc file format %s codec %s", FourCC(d.u.misc.file_format).c_str(),
			         FourCC(d.u.misc.codec).c_str());
			break;
		default: snprintf(text, sizeof text, "family %u", (unsigned)d.family); break;
	}
	return text;
}

std::string DescribeFormat(const media_format& f)
{
	char text[200];
	switch (f.type) {
		case B_MEDIA_RAW_AUDIO:
			snprintf(text, sizeof text, "raw audio %g Hz, %u channels, %u-byte samples",
			         f.u.raw_audio.frame_rate, f.u.raw_audio.channel_count,
			         f.u.raw_audio.format & media_raw_audio_format::B_AUDIO_SIZE_MASK);
			break;
		case B_MEDIA_RAW_VIDEO:
			snprintf(text, sizeof text, "raw video %ux%u, colour space 0x%04x",
			         f.u.raw_video.display.line_width, f.u.raw_video.display.line_count,
			         (unsigned)f.u.raw_video.display.format);
			break;
		case B_MEDIA_ENCODED_AUDIO:
			snprintf(text, sizeof text, "encoded audio (encoding %d)", f.u.encoded_audio.encoding);
			break;
		case B_MEDIA_ENCODED_VIDEO:
			snprintf(text, sizeof text, "encoded video (encoding %d)", f.u.encoded_video.encoding);
			break;
		default: snprintf(text, sizeof text, "media type %d", (int)f.type); break;
	}
	return text;
}

std::string DescribeCapabilities(uint32 c)
{
	static const struct {
		uint32 bit;
		const char* name;
	} kBits[] = {
	        {media_file_format::B_READABLE, "readable"},
	        {media_file_format::B_WRITABLE, "writable"},
	        {media_file_format::B_PERFECTLY_SEEKABLE, "perfectly seekable"},
	        {media_file_format::B_IMPERFECTLY_SEEKABLE, "imperfectly seekable"},
	        {media_file_format::B_KNOWS_RAW_VIDEO, "raw video"},
	        {media_file_format::B_KNOWS_RAW_AUDIO, "raw audio"},
	        {media_file_format::B_KNOWS_ENCODED_VIDEO, "encoded video"},
	        {media_file_format::B_KNOWS_ENCODED_AUDIO, "encoded audio"},
	};
	std::string s;
	for (const auto& b : kBits) {
		if (c & b.bit)
			s += (s.empty() ? "" : ", ") + std::string(b.name);
	}
	return s.empty() ? "none" : s;
}
