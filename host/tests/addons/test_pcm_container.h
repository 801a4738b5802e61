// The test PCM container shared by the test extractor and writer add-ons: "TPCM", rate (uint32),
// channel count (uint16), two zero bytes, then 16-bit little-endian samples.
#pragma once

#include "MediaFormats.h"

constexpr size_t kTestPcmHeader = 12;
constexpr uint32 kTestPcmFileFormat = 0x7470636D;  // 'tpcm'
constexpr uint32 kTestPcmCodec = 0x70636D20;       // 'pcm '

// The encoded-audio format the extractor reports: registered on first use.
inline int32 test_pcm_encoding()
{
	media_format_description d;
	d.family = B_MISC_FORMAT_FAMILY;
	d.u.misc.file_format = kTestPcmFileFormat;
	d.u.misc.codec = kTestPcmCodec;
	media_format f;
	f.type = B_MEDIA_ENCODED_AUDIO;
	BMediaFormats formats;
	return formats.MakeFormatFor(&d, 1, &f) == B_OK ? f.u.encoded_audio.encoding : 0;
}
