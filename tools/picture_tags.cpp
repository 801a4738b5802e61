// Interlacing, pixel aspect and colour range: their names, their place in the Media Kit's video
// formats, and what each output kind keeps of them.
#include "video_io.h"

const char* InterlaceName(Interlace interlace)
{
	switch (interlace) {
		case Interlace::Progressive: return "progressive";
		case Interlace::TopFirst: return "top field first";
		case Interlace::BottomFirst: return "bottom field first";
		case Interlace::Mixed: return "mixed";
		default: return "unknown";
	}
}

const char* RangeName(ColourRange range)
{
	switch (range) {
		case ColourRange::Limited: return "limited";
		case ColourRange::Full: return "full";
		default: return "unknown";
	}
}

// A format's interlace is the number of fields (0 unknown); the display flags say which field comes
// first and which holds the top line.
PictureTags TagsOf(const media_raw_video_format& format)
{
	PictureTags tags;
	const uint32 flags = format.display.flags;
	if (format.interlace == 1)
		tags.interlace = Interlace::Progressive;
	else if (format.interlace == 2 && (flags & B_F1_DOMINANT))
		tags.interlace = flags & B_TOP_SCANLINE_F1 ? Interlace::TopFirst : Interlace::BottomFirst;
	if (format.pixel_width_aspect && format.pixel_height_aspect) {
		tags.aspectNum = format.pixel_width_aspect;
		tags.aspectDen = format.pixel_height_aspect;
	}
	if (flags & B_VIDEO_FULL_RANGE)
		tags.range = ColourRange::Full;
	else if (flags & B_VIDEO_LIMITED_RANGE)
		tags.range = ColourRange::Limited;
	return tags;
}

void SetTags(const PictureTags& tags, media_raw_video_format* format)
{
	uint32& flags = format->display.flags;
	flags &= ~(uint32)(B_F1_DOMINANT | B_F2_DOMINANT | B_TOP_SCANLINE_F1 | B_TOP_SCANLINE_F2 |
	                   B_VIDEO_LIMITED_RANGE | B_VIDEO_FULL_RANGE);
	format->interlace = 0;
	switch (tags.interlace) {
		case Interlace::Progressive: format->interlace = 1; break;
		case Interlace::TopFirst:
			format->interlace = 2;
			flags |= B_F1_DOMINANT | B_TOP_SCANLINE_F1;
			break;
		case Interlace::BottomFirst:
			format->interlace = 2;
			flags |= B_F1_DOMINANT | B_TOP_SCANLINE_F2;
			break;
		default: break;
	}
	// A pixel aspect beyond 16 bits is kept as the nearest ratio that fits.
	uint32_t n = tags.aspectNum, d = tags.aspectDen;
	while (n > 0xFFFF || d > 0xFFFF) {
		n = (n + 1) / 2;
		d = (d + 1) / 2;
	}
	format->pixel_width_aspect = (uint16)n;
	format->pixel_height_aspect = (uint16)d;
	if (tags.range == ColourRange::Full)
		flags |= B_VIDEO_FULL_RANGE;
	else if (tags.range == ColourRange::Limited)
		flags |= B_VIDEO_LIMITED_RANGE;
}

std::vector<std::string> Unkept(const PictureTags& tags, FileKind kind)
{
	std::vector<std::string> lost;
	if (!tags.siting.empty())
		lost.push_back("chroma siting " + tags.siting);
	for (const std::string& x : tags.extensions)
		lost.push_back("Y4M parameter X" + x);
	if (kind == FileKind::Movie && tags.interlace == Interlace::Mixed)
		lost.push_back("mixed interlacing");
	if (kind != FileKind::PngSequence)
		return lost;
	if (tags.interlace != Interlace::Unknown && tags.interlace != Interlace::Progressive)
		lost.push_back(std::string(InterlaceName(tags.interlace)) + " interlacing");
	if (tags.aspectNum && tags.aspectNum != tags.aspectDen)
		lost.push_back("pixel aspect " + std::to_string(tags.aspectNum) + ":" +
		               std::to_string(tags.aspectDen));
	if (tags.range == ColourRange::Full)
		lost.push_back("full colour range");
	return lost;
}
