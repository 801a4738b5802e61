// Test support for the video add-ons: the add-ons' instances, captured standard output, a synthetic
// clip with motion and a scene cut, a chunk source standing in for the host, and the core's own
// encode-then-decode round trip the add-ons' results are compared with.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Decoder.h"
#include "Encoder.h"
#include "MediaAddOns.h"
#include "MediaFormats.h"
#include "addon_test.h"
#include "korvo.h"

namespace video_test {

using addon_test::AddOnEntry;
using addon_test::RecordingWriter;

inline BPrivate::Encoder* NewEncoder(const char* fileName = "krv1.encoder.generic")
{
	auto make = reinterpret_cast<instantiate_encoder_func>(AddOnEntry(fileName, "instantiate_encoder"));
	return make ? make() : nullptr;
}

inline BPrivate::Decoder* NewDecoder()
{
	auto make = reinterpret_cast<instantiate_decoder_func>(
	        AddOnEntry("krv1.decoder.generic", "instantiate_decoder"));
	return make ? make() : nullptr;
}

// The encoding the host gave the decoder's description (QuickTime 'KRV1' without vendor).
inline int32 DecoderEncoding()
{
	AddOnEntry("krv1.decoder.generic", "register_decoder");
	media_format_description d;
	d.family = B_QUICKTIME_FORMAT_FAMILY;
	d.u.quicktime.codec = 0x4B525631;
	media_format f;
	BMediaFormats formats;
	EXPECT_EQ(formats.GetFormatFor(d, &f), B_OK);
	return f.u.encoded_video.encoding;
}

// Standard output of a stretch of code (printf included).
class StdoutCapture {
public:
	StdoutCapture()
	{
		fflush(stdout);
		testing::internal::CaptureStdout();
	}
	~StdoutCapture()
	{
		if (!fDone)
			Text();
	}
	std::string Text()
	{
		fflush(stdout);
		fDone = true;
		return testing::internal::GetCapturedStdout();
	}

private:
	bool fDone = false;
};

inline media_format RawVideo(uint32 width, uint32 height, float rate, color_space space = B_RGB32,
                             uint32 rowBytes = 0)
{
	media_format f;
	f.type = B_MEDIA_RAW_VIDEO;
	f.u.raw_video.field_rate = rate;
	f.u.raw_video.interlace = 1;
	f.u.raw_video.orientation = B_VIDEO_TOP_LEFT_RIGHT;
	f.u.raw_video.last_active = height - 1;
	f.u.raw_video.display.format = space;
	f.u.raw_video.display.line_width = width;
	f.u.raw_video.display.line_count = height;
	f.u.raw_video.display.bytes_per_row =
	        rowBytes ? rowBytes : width * (space == B_YUV422 ? 2 : space == B_YUV420 ? 1 : 4);
	return f;
}

// Frame `i` of a clip: smooth colour waves drifting right and down, a bright square moving across,
// and from frame `cut` on a different scene (gentle gradients) so the encoder must start afresh.
inline std::vector<uint8> ClipFrame(uint32 width, uint32 height, int i, int cut = 1 << 30)
{
	std::vector<uint8> bgra(size_t{width} * height * 4);
	const bool second = i >= cut;
	for (uint32 y = 0; y < height; y++) {
		for (uint32 x = 0; x < width; x++) {
			uint8* p = &bgra[(size_t{y} * width + x) * 4];
			const double u = double(x) - 1.5 * i, v = double(y) - 0.5 * i;
			if (!second) {
				p[0] = uint8(128 + 100 * std::sin(u / 9.0));
				p[1] = uint8(128 + 90 * std::cos(v / 7.0 + u / 23.0));
				p[2] = uint8(128 + 110 * std::sin((u + v) / 13.0));
			} else {
				// Dark, nearly flat and unlike the waves: nothing of the old scene predicts it.
				p[0] = uint8(30 + (x + i) / 4);
				p[1] = uint8(200 - y / 2);
				p[2] = uint8(60 + (x + y) / 8);
			}
			const int sx = (i * 3) % int(width), sy = int(height) / 3;
			if (int(x) >= sx && int(x) < sx + 12 && int(y) >= sy && int(y) < sy + 12)
				p[0] = p[1] = p[2] = 250;
			p[3] = 255;
		}
	}
	return bgra;
}

// 4:2:2 Y0 Cb Y1 Cr bytes of a clip frame's luminance and chrominance waves.
inline std::vector<uint8> ClipFrameYUV422(uint32 width, uint32 height, int i)
{
	std::vector<uint8> yuv(size_t{width} * height * 2);
	for (uint32 y = 0; y < height; y++) {
		for (uint32 x = 0; x < width; x += 2) {
			uint8* p = &yuv[(size_t{y} * width + x) * 2];
			const double u = double(x) - 2.0 * i, v = double(y) - i;
			p[0] = uint8(128 + 90 * std::sin(u / 8.0 + v / 11.0));
			p[1] = uint8(128 + 60 * std::cos(v / 9.0));
			p[2] = uint8(128 + 90 * std::sin((u + 1) / 8.0 + v / 11.0));
			p[3] = uint8(128 + 60 * std::sin(u / 15.0));
		}
	}
	return yuv;
}

// Planar 4:2:0 bytes of a clip frame: luminance waves, then Cb and Cr planes whose rows all differ.
inline std::vector<uint8> ClipFrameYUV420(uint32 width, uint32 height, int i)
{
	const size_t luma = size_t{width} * height, chroma = size_t{width / 2} * (height / 2);
	std::vector<uint8> yuv(luma + 2 * chroma);
	for (uint32 y = 0; y < height; y++)
		for (uint32 x = 0; x < width; x++)
			yuv[size_t{y} * width + x] = uint8(128 + 90 * std::sin((x - 2.0 * i) / 8.0 + (y - i) / 11.0));
	for (uint32 y = 0; y < height / 2; y++)
		for (uint32 x = 0; x < width / 2; x++) {
			yuv[luma + size_t{y} * (width / 2) + x] = uint8(128 + 60 * std::cos((y + i) / 3.0 + x / 17.0));
			yuv[luma + chroma + size_t{y} * (width / 2) + x] = uint8(128 + 50 * std::sin((x - i) / 5.0 + y / 2.0));
		}
	return yuv;
}

// The core itself, driven as the add-ons drive it: every frame compressed, its chunk kept with its
// coding type, and decoded again into BGRA (or 4:2:2) pictures.
struct CoreRoundTrip {
	std::vector<std::vector<uint8>> chunks;
	std::vector<bool> intra;
	std::vector<std::vector<uint8>> pictures;

	CoreRoundTrip(uint32 width, uint32 height, const std::vector<std::vector<uint8>>& frames,
	              uint32 inputFormat = kPixelFormatBGRA, uint32 quality = 870,
	              uint8_t tuning = kTuningClassic)
	{
		EXPECT_EQ(InitKorvax(), 0);
		const uint16_t inRow = uint16_t(width * (inputFormat == kPixelFormatYUVS           ? 2
		                                         : inputFormat == kPixelFormatYUV420Planar ? 1
		                                                                                   : 4));
		KorvParams* enc = NewKorvParamsPtr(1, width, height);
		KorvParams* dec = NewKorvParamsPtr(2, width, height);
		EXPECT_TRUE(enc && dec);
		if (enc && dec) {
			enc->pixelFormat = inputFormat;
			enc->spatialQuality = quality;
			enc->tuning = tuning;
			enc->pixMap->rowBytes = inRow;
			dec->pixelFormat = kPixelFormatBGRA;
			dec->pixMap->rowBytes = uint16_t(width * 4);
			for (const std::vector<uint8>& frame : frames) {
				enc->pixMap->baseAddr = const_cast<uint8*>(frame.data());
				EXPECT_EQ(CompressPixMap(enc), 0);
				chunks.emplace_back(enc->stream, enc->stream + enc->streamBytes);
				intra.push_back(enc->prevCodingType == kCodingTypeI);
				pictures.emplace_back(size_t{width} * height * 4);
				dec->stream = chunks.back().data();
				dec->streamSize = uint32_t(chunks.back().size());
				dec->fullRefresh = 1;
				dec->pixMap->baseAddr = pictures.back().data();
				EXPECT_EQ(DecompressPixMap(dec), 0);
			}
		}
		DisposeKorvParamsPtr(enc);
		DisposeKorvParamsPtr(dec);
		TerminateKorvax();
	}
};

// Hands a decoder prepared chunks in order, then B_LAST_BUFFER_ERROR.
class ChunkQueue : public BPrivate::ChunkProvider {
public:
	std::vector<std::vector<uint8>> chunks;
	size_t next = 0;

	status_t GetNextChunk(const void** chunk, size_t* size, media_header* header) override
	{
		if (next >= chunks.size())
			return B_LAST_BUFFER_ERROR;
		*chunk = chunks[next].data();
		*size = chunks[next].size();
		*header = media_header();
		header->start_time = bigtime_t(next) * 40000;
		next++;
		return B_OK;
	}
};

// A QuickTime 'KRV1' encoded video format as the track reader gives it to a decoder.
inline media_format EncodedKorvo(uint32 width, uint32 height, float rate)
{
	media_format f;
	f.type = B_MEDIA_ENCODED_VIDEO;
	f.u.encoded_video.encoding = DecoderEncoding();
	f.u.encoded_video.output.field_rate = rate;
	f.u.encoded_video.output.interlace = 1;
	f.u.encoded_video.output.display.line_width = width;
	f.u.encoded_video.output.display.line_count = height;
	return f;
}

}  // namespace video_test
