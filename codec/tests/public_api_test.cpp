// An add-on-like program that includes only the public header: it starts the library, encodes a
// short moving clip with one context and decodes it with two others, through the entry points only.
#include <korvo.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr uint32_t kWidth = 48;
constexpr uint32_t kHeight = 32;
constexpr int kFrames = 4;

// A smooth BGRA gradient that moves right by two pixels a frame.
std::vector<uint8_t> Frame(int index)
{
	std::vector<uint8_t> bgra(size_t{kWidth} * kHeight * 4);
	for (uint32_t y = 0; y < kHeight; ++y) {
		for (uint32_t x = 0; x < kWidth; ++x) {
			uint8_t* p = &bgra[(size_t{y} * kWidth + x) * 4];
			const uint32_t u = x + 2 * uint32_t(index);
			p[0] = uint8_t(40 + 3 * u);
			p[1] = uint8_t(60 + 2 * y + u);
			p[2] = uint8_t(200 - 2 * y);
			p[3] = 255;
		}
	}
	return bgra;
}

// Peak signal-to-noise ratio of the colour bytes (alpha left out).
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
	double sum = 0;
	size_t n = 0;
	for (size_t i = 0; i < a.size(); ++i) {
		if (i % 4 == 3)
			continue;
		const double d = double(a[i]) - double(b[i]);
		sum += d * d;
		++n;
	}
	return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(n) / sum);
}

struct Decoder {
	KorvParams* params = NewKorvParamsPtr(2, kWidth, kHeight);
	~Decoder() { DisposeKorvParamsPtr(params); }

	std::vector<uint8_t> Decode(std::vector<uint8_t>& chunk)
	{
		std::vector<uint8_t> picture(size_t{kWidth} * kHeight * 4);
		params->pixelFormat = kPixelFormatBGRA;
		params->pixMap->rowBytes = uint16_t(kWidth * 4);
		params->pixMap->baseAddr = picture.data();
		params->stream = chunk.data();
		params->streamSize = uint32_t(chunk.size());
		params->fullRefresh = 1;
		EXPECT_EQ(DecompressPixMap(params), kKorvoOK);
		return picture;
	}
};

TEST(PublicApi, EncodeDecodeThroughTheEntryPoints)
{
	ASSERT_EQ(InitKorvax(), kKorvoOK);
	KorvParams* encoder = NewKorvParamsPtr(1, kWidth, kHeight);
	ASSERT_NE(encoder, nullptr);
	{
		Decoder first;
		Decoder second;
		ASSERT_TRUE(first.params && second.params);
		encoder->pixelFormat = kPixelFormatBGRA;
		encoder->spatialQuality = 870;
		encoder->pixMap->rowBytes = uint16_t(kWidth * 4);
		for (int i = 0; i < kFrames; ++i) {
			std::vector<uint8_t> source = Frame(i);
			encoder->pixMap->baseAddr = source.data();
			ASSERT_EQ(CompressPixMap(encoder), kKorvoOK) << i;
			ASSERT_GT(encoder->streamBytes, 0) << i;
			// The first frame is a key frame, the moving ones after it are predicted.
			EXPECT_EQ(encoder->prevCodingType, i == 0 ? kCodingTypeI : kCodingTypeP) << i;
			EXPECT_GE(encoder->vop->quant, 1);
			EXPECT_LE(encoder->vop->quant, 31);
			std::vector<uint8_t> chunk(encoder->stream, encoder->stream + encoder->streamBytes);

			const std::vector<uint8_t> picture = first.Decode(chunk);
			// Two decoders fed the same chunks agree byte for byte, and the picture is the source's.
			EXPECT_EQ(picture, second.Decode(chunk)) << i;
			EXPECT_GT(Psnr(picture, source), 30.0) << i;
		}
		EXPECT_EQ(encoder->frameCount, uint32_t(kFrames));
	}
	DisposeKorvParamsPtr(encoder);
	TerminateKorvax();
}

TEST(PublicApi, QualityConversionsRoundTrip)
{
	// Every codec quality index maps to a host quality that maps back to it.
	for (uint32_t k = 6; k <= 26; ++k)
		EXPECT_EQ(QTToKorveXSpatialQuality(KorveXToQTSpatialQuality(k)), int32_t(k)) << k;
}

}  // namespace
