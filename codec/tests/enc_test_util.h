// Test support for the encoder: the library environment and an encoder/decoder pair that checks
// every frame's reconstruction against the decoder's picture.
#ifndef KORVO_ENC_TEST_UTIL_H
#define KORVO_ENC_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "enc_scenes.h"
#include "frame_internal.h"
#include "korvo.h"
namespace enctest {

struct Library : ::testing::Environment {
	void SetUp() override { ASSERT_EQ(InitKorvax(), kKorvoOK); }
	void TearDown() override { TerminateKorvax(); }
};

inline bool SamePlane(const Plane* a, const Plane* b)
{
	return a->width == b->width && a->height == b->height &&
	       std::memcmp(a->data, b->data, size_t{a->width} * a->height) == 0;
}

// An encoder context and a decoder context of the same size. Encode() codes one frame, decodes
// the chunk it produced and checks that both hold the same reconstructed planes.
struct CodecPair {
	uint32_t width, height;
	KorvParams* encoder;
	KorvParams* decoder;
	std::vector<uint8_t> chunk;
	std::vector<uint8_t> output;

	CodecPair(uint32_t w, uint32_t h, uint32_t quality = 870)
	    : width(w), height(h), encoder(NewKorvParamsPtr(1, w, h)), decoder(NewKorvParamsPtr(2, w, h)),
	      output(size_t{w} * h * 4)
	{
		encoder->spatialQuality = quality;
		decoder->pixelFormat = kPixelFormatBGRA;
		decoder->pixMap->rowBytes = uint16_t(4 * w);
		decoder->pixMap->baseAddr = output.data();
	}
	~CodecPair()
	{
		DisposeKorvParamsPtr(encoder);
		DisposeKorvParamsPtr(decoder);
	}

	int16_t EncodeOnly(Frame& frame)
	{
		encoder->pixelFormat = frame.format;
		encoder->pixMap->rowBytes = uint16_t(frame.rowBytes);
		encoder->pixMap->baseAddr = frame.bytes.data();
		const int16_t status = CompressPixMap(encoder);
		if (status == kKorvoOK)
			chunk.assign(encoder->stream, encoder->stream + encoder->streamBytes);
		return status;
	}

	int16_t Decode()
	{
		decoder->stream = chunk.data();
		decoder->streamSize = uint32_t(chunk.size());
		return DecompressPixMap(decoder);
	}

	// Codes and decodes one frame; the reconstructions must agree sample for sample (the encoder
	// rebuilds none before an I-VOP).
	void Encode(Frame& frame, const char* where = "")
	{
		ASSERT_EQ(EncodeOnly(frame), kKorvoOK) << where;
		ASSERT_EQ(Decode(), kKorvoOK) << where;
		EXPECT_EQ(decoder->streamBytes, encoder->streamBytes) << where;
		if (encoder->vop->codingType == kCodingTypeI)
			return;
		const Vop* e = encoder->vop;
		const Vop* d = decoder->vop;
		ASSERT_TRUE(SamePlane(e->planeY, d->planeY)) << "Y differs " << where;
		ASSERT_TRUE(SamePlane(e->planeU, d->planeU)) << "U differs " << where;
		ASSERT_TRUE(SamePlane(e->planeV, d->planeV)) << "V differs " << where;
	}
};

}  // namespace enctest

#endif
