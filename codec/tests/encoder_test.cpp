// The frame encoder end to end: bit-exact encode/decode round trips, the frame-type and rounding
// sequence, the skip test, the 45 % intra rule, the quality mapping and the output buffer bound.
#include <gtest/gtest.h>

#include <string>

#include "bitstream_internal.h"
#include "enc_internal.h"
#include "filters_internal.h"
#include "frame_internal.h"
#include "korvo.h"
#include "pixel_internal.h"
#include "reconstruct_internal.h"
#include "syntax_internal.h"
#include "enc_test_util.h"
using namespace enctest;

namespace {

::testing::Environment* const kLibrary = ::testing::AddGlobalTestEnvironment(new Library);

struct RoundTripCase {
	uint32_t width, height;
	int filters;  // bit 0 deblock, bit 1 dering
	int optimal;  // bit 0 optimalFrame, bit 1 optimalMb
	int scene;    // 0 pan, 1 moving object, 2 noise
	uint32_t format;
};

std::string CaseName(const ::testing::TestParamInfo<RoundTripCase>& info)
{
	const RoundTripCase& c = info.param;
	static const char* const kScenes[] = {"Pan", "Object", "Noise"};
	static const char* const kOptions[] = {"Default", "OptimalFrame", "OptimalMb", "Optimal"};
	static const char* const kFilters[] = {"Plain", "Deblocked", "Deringed", "Filtered"};
	return std::to_string(c.width) + "x" + std::to_string(c.height) + kScenes[c.scene] + kFilters[c.filters] +
	       kOptions[c.optimal] + (c.format == kPixelFormatYUVS ? "Yuvs" : "Bgra");
}

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

// Every reference the encoder keeps equals the decoder's picture from the chunks written.
TEST_P(RoundTrip, ReconstructionsAreBitExact)
{
	const RoundTripCase& c = GetParam();
	const Scene scenes[] = {Pan(2.5, -1.5), MovingObject(), Noise(7)};
	// Noise is coded at the best quality, the rest at the add-on's default and a low one.
	CodecPair pair(c.width, c.height, c.scene == 2 ? 1024 : c.optimal ? 870 : 300);
	pair.encoder->deblock = c.filters & 1;
	pair.encoder->dering = c.filters >> 1;
	pair.encoder->optimalFrame = c.optimal & 1;
	pair.encoder->optimalMb = c.optimal >> 1;
	uint32_t intraFrames = 0, halfSample = 0, skipped = 0;
	for (int f = 0; f < 40; ++f) {
		Frame frame = SceneFrame(scenes[c.scene], f, c.width, c.height, c.format);
		pair.Encode(frame, ("frame " + std::to_string(f)).c_str());
		if (HasFatalFailure())
			return;
		intraFrames += pair.encoder->prevCodingType == kCodingTypeI;
		if (pair.encoder->prevCodingType != kCodingTypeP)
			continue;
		const Vop* vop = pair.decoder->vop;
		for (uint32_t i = 0; i < vop->mbCount; ++i) {
			const MacroBlock* mb = vop->mbs[i];
			skipped += !mb->codedMb;
			halfSample += mb->codedMb && mb->mbType == kMbTypeInter && ((mb->mv.x | mb->mv.y) & 1);
		}
		EXPECT_EQ(pair.decoder->deblock, pair.encoder->deblock);
		EXPECT_EQ(pair.decoder->dering, pair.encoder->dering);
	}
	EXPECT_EQ(pair.encoder->frameCount, 40u);
	// Motion is followed by P-VOPs; noise has nothing to predict from.
	// The sequences reach what they are meant to: half-sample vectors on the pan, skipped
	// background around the moving object.
	if (c.scene != 2) {
		EXPECT_LT(intraFrames, 10u);
	}
	if (c.scene == 0) {
		EXPECT_GT(halfSample, 0u);
	}
	if (c.scene == 1) {
		EXPECT_GT(skipped, 0u);
	}
}

std::vector<RoundTripCase> RoundTripCases()
{
	std::vector<RoundTripCase> cases;
	for (auto [w, h] : {std::pair{64u, 48u}, std::pair{93u, 61u}})
		for (int filters : {0, 3})
			for (int optimal : {0, 3})
				for (int scene = 0; scene < 3; ++scene)
					cases.push_back({w, h, filters, optimal, scene,
					                 scene == 1 && w == 93 ? kPixelFormatYUVS : kPixelFormatBGRA});
	// 4:2:2 input of every scene.
	for (int scene = 0; scene < 3; ++scene)
		cases.push_back({64, 48, scene == 0 ? 3 : 0, scene == 2 ? 3 : 0, scene, kPixelFormatYUVS});
	// Each option on its own.
	for (int optimal : {1, 2})
		cases.push_back({93, 61, optimal == 1 ? 3 : 0, optimal, 1, kPixelFormatBGRA});
	// Each filter on its own.
	for (int filters : {1, 2})
		cases.push_back({93, 61, filters, 0, 0, kPixelFormatBGRA});
	// Pictures smaller than a macroblock, one macroblock wide or high.
	for (auto [w, h] : {std::pair{8u, 8u}, std::pair{17u, 9u}, std::pair{16u, 80u}, std::pair{80u, 16u}})
		cases.push_back({w, h, 3, 0, 0, kPixelFormatBGRA});
	return cases;
}

INSTANTIATE_TEST_SUITE_P(Encoder, RoundTrip, ::testing::ValuesIn(RoundTripCases()), CaseName);

// The luminance of a 4:2:2 frame rebuilt from the encoder's reconstructed planes, so that the next
// source equals the reference exactly; `change` alters chosen samples (picture x, y, plane 0..2).
Frame FromReconstruction(const Vop* vop, const std::function<int(int x, int y, int plane, int v)>& change)
{
	auto at = [](const Plane* p, int border, int x, int y) {
		return p->data[size_t(y + border) * p->width + x + border];
	};
	return MakeYuvs(
	        vop->width, vop->height,
	        [&](int x, int y) { return uint8_t(change(x, y, 0, at(vop->planeY, 16, x, y))); },
	        [&](int x, int y) { return uint8_t(change(x, y, 1, at(vop->planeU, 8, x / 2, y / 2))); },
	        [&](int x, int y) { return uint8_t(change(x, y, 2, at(vop->planeV, 8, x / 2, y / 2))); });
}

// A calm picture whose samples stay in 40..215, so that +-20 never clips.
Frame Calm(uint32_t w, uint32_t h, int f = 0)
{
	return MakeYuvs(
	        w, h,
	        [f](int x, int y) { return uint8_t(128 + 60 * std::sin((x + f) * 0.3) * std::cos(y * 0.2)); },
	        [](int x, int y) { return uint8_t(120 + 30 * std::sin(x * 0.1 + y * 0.05)); },
	        [](int, int y) { return uint8_t(130 + 25 * std::cos(y * 0.12)); });
}

TEST(FrameCoder, StaticPictureIsHeaderAndOneBitPerMacroBlock)
{
	CodecPair pair(64, 48);
	Frame first = Calm(64, 48);
	pair.Encode(first);
	Frame same = FromReconstruction(pair.encoder->vop, [](int, int, int, int v) { return v; });
	pair.Encode(same);
	EXPECT_EQ(pair.encoder->prevCodingType, kCodingTypeP);
	// 51 header bits and 12 COD bits of 1, then zeros up to the byte.
	ASSERT_EQ(pair.chunk.size(), 8u);
	BitStream reader;
	BitStream_InitReader(&reader, pair.chunk.data(), uint32_t(pair.chunk.size()));
	BitStream_SeekBits(&reader, 51);
	EXPECT_EQ(BitStream_GetBits(&reader, 12), 0xFFFu);
	EXPECT_EQ(BitStream_GetBits(&reader, 1), 0u);
	for (uint32_t i = 0; i < pair.encoder->vop->mbCount; ++i)
		EXPECT_EQ(pair.encoder->vop->mbs[i]->codedMb, 0);
}

TEST(FrameCoder, SkipTestLooksAtTheLargestIncreaseAndTheBlockSads)
{
	CodecPair pair(64, 48);
	Frame first = Calm(64, 48);
	pair.Encode(first);
	// Macroblock 0 up by 1, macroblock 1 up by 2, macroblock 2 down by 20, every sample.
	const int delta[3] = {1, 2, -20};
	Frame next = FromReconstruction(pair.encoder->vop, [&](int x, int y, int, int v) {
		const int mb = y < 16 ? x / 16 : 3;
		return mb < 3 ? v + delta[mb] : v;
	});
	pair.Encode(next);
	const Vop* vop = pair.encoder->vop;
	EXPECT_EQ(pair.encoder->prevCodingType, kCodingTypeP);
	const uint32_t expectedSad[3] = {64, 128, 1280};
	for (int m = 0; m < 3; ++m)
		for (const Block& block : vop->mbs[m]->blocks)
			EXPECT_EQ(block.sad, expectedSad[m]) << "macroblock " << m;
	EXPECT_EQ(vop->mbs[0]->codedMb, 0);  // skipped by the test
	EXPECT_EQ(vop->mbs[1]->codedMb, 1);  // compressed, and a level survives quantiser 6
	EXPECT_EQ(vop->mbs[2]->codedMb, 1);  // darker passes the increase test, not the SADs
	for (uint32_t i = 3; i < vop->mbCount; ++i)
		EXPECT_EQ(vop->mbs[i]->codedMb, 0);
}

TEST(FrameCoder, SceneCutBecomesAnIntraVop)
{
	CodecPair pair(64, 48);
	Frame noise = SceneFrame(Noise(3), 0, 64, 48, kPixelFormatBGRA);
	pair.Encode(noise);
	Frame cut = Calm(64, 48);
	pair.Encode(cut);
	EXPECT_EQ(pair.encoder->prevCodingType, kCodingTypeI);
	EXPECT_EQ(pair.encoder->framesSinceKey, 0u);
	EXPECT_EQ(pair.decoder->vop->codingType, kCodingTypeI);
	EXPECT_EQ(pair.decoder->vop->quant, 7);  // recoded at quant + 1
	const uint8_t userData[5] = {0x00, 0x00, 0x01, 0xB2, 0x80};
	ASSERT_GE(pair.chunk.size(), 5u);
	EXPECT_EQ(std::memcmp(pair.chunk.data(), userData, 5), 0);
	// The P-VOP after it starts the rounding sequence again.
	Frame moved = Calm(64, 48, 1);
	pair.Encode(moved);
	EXPECT_EQ(pair.encoder->prevCodingType, kCodingTypeP);
	EXPECT_EQ(pair.encoder->prevRounding, 0);
	EXPECT_EQ(pair.encoder->framesSinceKey, 1u);
}

TEST(FrameCoder, KeyFramesEvery152AndAlternatingRounding)
{
	CodecPair pair(48, 32);
	const Scene pan = Pan(0.5, 0.25);
	int lastKey = -1;
	for (int f = 0; f < 310; ++f) {
		Frame frame = SceneFrame(pan, f, 48, 32, kPixelFormatBGRA);
		pair.Encode(frame);
		if (HasFatalFailure())
			return;
		const bool key = f % 152 == 0;
		ASSERT_EQ(pair.encoder->prevCodingType, key ? kCodingTypeI : kCodingTypeP) << "frame " << f;
		ASSERT_EQ(pair.decoder->vop->codingType, pair.encoder->prevCodingType);
		if (key) {
			lastKey = f;
		} else {
			ASSERT_EQ(pair.encoder->prevRounding, (f - lastKey - 1) % 2) << "frame " << f;
			ASSERT_EQ(pair.decoder->vop->rounding, pair.encoder->prevRounding);
		}
		ASSERT_EQ(pair.encoder->framesSinceKey, uint32_t(f - lastKey));
	}
}

TEST(FrameCoder, OptimalFrameTypeKeepsAtMost150PredictedVops)
{
	CodecPair pair(48, 32);
	pair.encoder->optimalFrame = 1;
	const Scene pan = Pan(0.5, 0.25);
	int lastKey = 0, keys = 0;
	for (int f = 0; f < 160; ++f) {
		Frame frame = SceneFrame(pan, f, 48, 32, kPixelFormatBGRA);
		pair.Encode(frame);
		if (HasFatalFailure())
			return;
		if (pair.encoder->prevCodingType == kCodingTypeI) {
			lastKey = f;
			++keys;
		}
		ASSERT_LE(f - lastKey, 150) << "frame " << f;
	}
	EXPECT_GE(keys, 2);
}

TEST(FrameCoder, OptimalMacroBlockDecisionIsLive)
{
	// A third of a textured picture brightens by 40 every other frame: the default rule codes much
	// of it intra (its spread is below the SAD of 10240); trial coding decides otherwise in places.
	auto flicker = [](int f) {
		Frame frame = Calm(64, 48);
		for (uint32_t y = 0; y < 32; ++y)
			for (uint32_t x = 0; x < 32; ++x)
				frame.bytes[y * frame.rowBytes + 2 * x] += (f & 1) * 40;
		return frame;
	};
	uint32_t intraMbs[2] = {0, 0};
	for (uint8_t optimalMb : {0, 1}) {
		CodecPair pair(64, 48);
		pair.encoder->optimalMb = optimalMb;
		for (int f = 0; f < 6; ++f) {
			Frame frame = flicker(f);
			pair.Encode(frame);
			if (HasFatalFailure())
				return;
			ASSERT_EQ(pair.encoder->prevCodingType, f ? kCodingTypeP : kCodingTypeI);
			for (uint32_t i = 0; f && i < pair.decoder->vop->mbCount; ++i)
				intraMbs[optimalMb] += pair.decoder->vop->mbs[i]->mbType == kMbTypeIntra;
		}
	}
	EXPECT_GE(intraMbs[0], 10u);
	EXPECT_NE(intraMbs[1], intraMbs[0]);
}

TEST(FrameCoder, QualityGivesTheQuantisers)
{
	struct {
		uint32_t quality;
		uint8_t intra, predicted;
	} const cases[] = {{870, 7, 6},  {0, 27, 26},  {512, 11, 10},
	                   {1024, 5, 4}, {5000, 5, 4}, {0xFFFFFFFFu, 5, 4}};
	for (const auto& c : cases) {
		CodecPair pair(32, 32, c.quality);
		const Scene pan = Pan(1, 0);
		for (int f = 0; f < 2; ++f) {
			Frame frame = SceneFrame(pan, f, 32, 32, kPixelFormatBGRA);
			pair.Encode(frame);
			EXPECT_EQ(pair.decoder->vop->quant, f == 0 ? c.intra : c.predicted) << "quality " << c.quality;
		}
	}
}

TEST(FrameCoder, UnsupportedInputFails)
{
	CodecPair pair(32, 32);
	Frame frame = SceneFrame(Pan(1, 0), 0, 32, 32, kPixelFormatBGRA);
	frame.format = kPixelFormat2VUY;  // an output layout only
	EXPECT_EQ(pair.EncodeOnly(frame), kKorvoEntryFailed);
	EXPECT_EQ(pair.encoder->frameCount, 0u);
	EXPECT_EQ(pair.encoder->streamBytes, 0);
}

TEST(StreamBuffer, HoldsTheWorstCaseFrame)
{
	for (auto [w, h] :
	     {std::pair{1u, 1u}, std::pair{64u, 48u}, std::pair{93u, 61u}, std::pair{1280u, 720u}}) {
		const uint64_t mbs = uint64_t((w + 15) / 16) * ((h + 15) / 16);
		const uint64_t worst = (mbs * kMaxMacroBlockBits + kMaxFrameHeaderBits + 7) / 8;
		EXPECT_GE(Params_StreamBufferSize(w, h), worst + kBitStreamFlushSlack) << w << "x" << h;
		EXPECT_GE(Params_StreamBufferSize(w, h), uint64_t{w} * h * 4);
	}
}

// Noise at the smallest quantisers, coded by the frame step's own pieces with the quantiser forced
// below what any quality gives; runs under the address sanitizer in the test build.
TEST(StreamBuffer, NoiseAtQuantiserOneFits)
{
	CodecPair pair(64, 48);
	KorvParams* enc = pair.encoder;
	// Noise, then the same noise disturbed a little: P-VOPs with large inter residuals.
	const Scene noise = Noise(11), disturbance = Noise(12);
	auto disturbed = [&](int f, int x, int y) {
		const Rgb a = noise(0, x, y), d = disturbance(f, x, y);
		auto mix = [f](uint8_t v, uint8_t n) { return f ? Clip(v + int(n % 41) - 20) : v; };
		return Rgb{mix(a.r, d.r), mix(a.g, d.g), mix(a.b, d.b)};
	};
	for (int f = 0; f < 4; ++f) {
		Frame frame = SceneFrame(disturbed, f, 64, 48, kPixelFormatBGRA);
		enc->pixelFormat = frame.format;
		enc->pixMap->rowBytes = uint16_t(frame.rowBytes);
		enc->pixMap->baseAddr = frame.bytes.data();
		enc->vop->codingType = f == 0 ? kCodingTypeI : kCodingTypeP;
		enc->vop->rounding = uint8_t(f & 1);
		ASSERT_EQ(PixMapToPlanes(enc), kKorvoOK);
		ASSERT_EQ(PreFilter(enc), kKorvoOK);
		enc->vop->quant = f == 0 ? 0 : 1;  // an I-VOP one above: 1
		ASSERT_EQ(PlanesToVop(enc), kKorvoOK);
		ASSERT_EQ(VopToStream(enc), kKorvoOK);
		if (f == 0) {
			EXPECT_GT(enc->streamBytes, 64 * 48);
		}
		pair.chunk.assign(enc->stream, enc->stream + enc->streamBytes);
		Vop_Decompress(enc->vop);
		ASSERT_EQ(VopToPlanes(enc), kKorvoOK);
		ASSERT_EQ(PostFilter(enc), kKorvoOK);
		ASSERT_EQ(pair.Decode(), kKorvoOK);
		EXPECT_EQ(pair.decoder->vop->codingType, f == 0 ? kCodingTypeI : kCodingTypeP);
		EXPECT_EQ(pair.decoder->vop->quant, 1);
		ASSERT_TRUE(SamePlane(enc->vop->planeY, pair.decoder->vop->planeY)) << "frame " << f;
		ASSERT_TRUE(SamePlane(enc->vop->planeU, pair.decoder->vop->planeU));
		ASSERT_TRUE(SamePlane(enc->vop->planeV, pair.decoder->vop->planeV));
	}
}

TEST(StreamBuffer, NoiseAtTheBestQualityFits)
{
	for (auto [w, h] : {std::pair{16u, 16u}, std::pair{93u, 61u}}) {
		CodecPair pair(w, h, 1024);
		pair.encoder->optimalFrame = pair.encoder->optimalMb = 1;
		for (int f = 0; f < 6; ++f) {
			Frame frame = SceneFrame(Noise(5), f, w, h, f % 2 ? kPixelFormatYUVS : kPixelFormatBGRA);
			pair.Encode(frame);
			if (HasFatalFailure())
				return;
		}
	}
}

TEST(StreamBuffer, FrameThatDoesNotFitFailsAndChangesNothing)
{
	CodecPair pair(64, 48);
	const Scene pan = Pan(3, 1);
	for (int f = 0; f < 3; ++f) {
		Frame frame = SceneFrame(pan, f, 64, 48, kPixelFormatBGRA);
		pair.Encode(frame);
	}
	// A caller's buffer too small for the frame: the writer stops at its end.
	std::vector<uint8_t> small(40, 0xA5);
	std::vector<uint8_t> guard(small);
	KorvParams* enc = pair.encoder;
	const KorvParams before = *enc;
	const std::vector<uint8_t> referenceY(enc->vop->planeY->data,
	                                      enc->vop->planeY->data +
	                                              enc->vop->planeY->width * enc->vop->planeY->height);
	enc->stream = small.data();
	enc->streamSize = 16;
	Frame cut = SceneFrame(Noise(9), 3, 64, 48, kPixelFormatBGRA);
	EXPECT_EQ(pair.EncodeOnly(cut), kKorvoEntryFailed);
	EXPECT_EQ(enc->streamBytes, 0);
	EXPECT_TRUE(std::equal(small.begin() + 16, small.end(), guard.begin() + 16));
	EXPECT_EQ(enc->frameCount, before.frameCount);
	EXPECT_EQ(enc->framesSinceKey, before.framesSinceKey);
	EXPECT_EQ(enc->totalBytes, before.totalBytes);
	EXPECT_EQ(enc->prevCodingType, before.prevCodingType);
	EXPECT_EQ(enc->prevRounding, before.prevRounding);
	EXPECT_EQ(enc->vop->codingType, kCodingTypeP);  // not the I-VOP the scene cut had made of it
	EXPECT_TRUE(std::equal(referenceY.begin(), referenceY.end(), enc->vop->planeY->data));

	// With its own buffer back the sequence goes on where it was, still in step with the decoder.
	enc->stream = enc->streamBuffer;
	enc->streamSize = before.streamSize;
	for (int f = 3; f < 6; ++f) {
		Frame frame = SceneFrame(pan, f, 64, 48, kPixelFormatBGRA);
		pair.Encode(frame);
		EXPECT_EQ(enc->prevCodingType, kCodingTypeP);
	}
	EXPECT_EQ(enc->frameCount, 6u);
}

}  // namespace
