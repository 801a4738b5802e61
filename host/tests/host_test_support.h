// Helpers shared by the host tests: the test add-on directory, raw video formats and frames, and the
// QuickTime file format record.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "MediaAddOns.h"
#include "MediaDefs.h"

inline const char* TestAddOnDir() { return KORVO_TEST_ADDON_DIR; }

inline std::string TestOutput(const char* name) { return std::string(KORVO_TEST_OUTPUT_DIR) + "/" + name; }

// Loads the test add-ons once per process.
inline void LoadTestAddOns()
{
	static status_t status = load_media_addons(TestAddOnDir());
	(void)status;
}

inline media_format RawVideo(uint32 width, uint32 height, float rate)
{
	media_format f;
	f.type = B_MEDIA_RAW_VIDEO;
	f.u.raw_video.field_rate = rate;
	f.u.raw_video.interlace = 1;
	f.u.raw_video.orientation = B_VIDEO_TOP_LEFT_RIGHT;
	f.u.raw_video.last_active = height - 1;
	f.u.raw_video.display.format = B_RGB32;
	f.u.raw_video.display.line_width = width;
	f.u.raw_video.display.line_count = height;
	return f;
}

// A 32-bit frame whose every byte depends on the frame number and position.
inline std::vector<uint8> TestFrame(uint32 width, uint32 height, int frame)
{
	std::vector<uint8> pixels((size_t)width * height * 4);
	for (size_t i = 0; i < pixels.size(); i++)
		pixels[i] = (uint8)(i * 7 + frame * 31 + (i >> 8));
	return pixels;
}

inline media_codec_info TestCodec()
{
	media_codec_info info{};
	strcpy(info.pretty_name, "Test raw video");
	strcpy(info.short_name, "testraw");
	return info;
}

inline media_file_format FileFormat(media_format_family family, const char* shortName)
{
	media_file_format mfi{};
	mfi.family = family;
	strncpy(mfi.short_name, shortName, sizeof(mfi.short_name) - 1);
	return mfi;
}
