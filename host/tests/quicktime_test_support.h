// Helpers of the QuickTime tests: formats as encoders announce them, MediaInfo's view of a file, and
// opening damaged files the way a player would.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "DataIO.h"
#include "MediaFile.h"
#include "MediaFormats.h"
#include "MediaTrack.h"

// A QuickTime video format registered under `codec`/`vendor`, as an encoder would announce it.
inline media_format QuickTimeVideo(uint32 codec, uint32 vendor, uint32 width, uint32 height, float rate)
{
	media_format_description d;
	d.family = B_QUICKTIME_FORMAT_FAMILY;
	d.u.quicktime.codec = codec;
	d.u.quicktime.vendor = vendor;
	media_format f;
	f.type = B_MEDIA_ENCODED_VIDEO;
	BMediaFormats formats;
	EXPECT_EQ(formats.MakeFormatFor(&d, 1, &f), B_OK);
	f.u.encoded_video.output.field_rate = rate;
	f.u.encoded_video.output.display.line_width = width;
	f.u.encoded_video.output.display.line_count = height;
	return f;
}

// The value of "key" in the JSON object of MediaInfo's track of @type `type` ("" if absent).
inline std::string MediaInfoField(const std::string& json, const std::string& type, int nth,
                                  const std::string& key)
{
	size_t at = 0;
	for (int i = 0; i <= nth; i++) {
		at = json.find("\"@type\": \"" + type + "\"", at);
		if (at == std::string::npos)
			return "";
		at++;
	}
	size_t end = json.find('}', at);
	size_t k = json.find("\"" + key + "\": \"", at);
	if (k == std::string::npos || k > end)
		return "";
	k += key.size() + 5;
	return json.substr(k, json.find('"', k) - k);
}

// MediaInfo's JSON description of the file at `path`, "" when mediainfo is not installed.
inline std::string MediaInfoJson(const std::string& path)
{
	FILE* pipe = popen(("mediainfo --Output=JSON '" + path + "' 2>/dev/null").c_str(), "r");
	if (!pipe)
		return "";
	std::string json;
	char buf[4096];
	while (size_t n = fread(buf, 1, sizeof(buf), pipe))
		json.append(buf, n);
	pclose(pipe);
	return json;
}

// Reads every chunk of every track, seeks, and reads again: what a player does with a file.
inline void ReadEverything(BMediaFile& file)
{
	for (int32 i = 0; i < file.CountTracks(); i++) {
		BMediaTrack* track = file.TrackAt(i);
		if (!track || track->InitCheck() != B_OK)
			continue;
		char* chunk;
		int32 size;
		media_header h;
		for (int n = 0; n < 100 && track->ReadChunk(&chunk, &size, &h) == B_OK; n++) {
			if (size > 0) {
				volatile char touch = chunk[0] ^ chunk[size - 1];
				(void)touch;
			}
		}
		int64 frame = track->CountFrames() / 2;
		track->SeekToFrame(&frame);
		bigtime_t time = track->Duration();
		track->SeekToTime(&time, B_MEDIA_SEEK_CLOSEST_FORWARD);
		track->ReadChunk(&chunk, &size, &h);
	}
}

// Opens and reads `bytes`; a refusal must come with a reason.
inline void OpenDamaged(const std::vector<uint8>& bytes, bool mustRefuse, const std::string& what)
{
	BMemoryIO io(static_cast<const void*>(bytes.data()), bytes.size());
	BMediaFile file(&io);
	if (file.InitCheck() == B_OK) {
		EXPECT_FALSE(mustRefuse) << what;
		ReadEverything(file);
	} else {
		EXPECT_STRNE(file.ErrorText(), "") << what;
	}
}
