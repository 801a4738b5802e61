// Golden checksums of the encoder's chunks: a fixed set of clips in all four encoder modes (filters
// on/off, optimal on/off), with the processor-specific kernels on and off. Any change to a kernel or a
// decision that alters one byte of a chunk changes a checksum here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "frame_internal.h"
#include "korvo.h"

namespace {

struct Library : ::testing::Environment {
	void SetUp() override { ASSERT_EQ(InitKorvax(), kKorvoOK); }
	void TearDown() override { TerminateKorvax(); }
};
const auto* const kLibrary = ::testing::AddGlobalTestEnvironment(new Library);

// Integer-only clip generator, so the pictures are the same on every machine and library build:
// a textured background panning by (dx, dy) per frame, a square moving the other way, and noise of
// the given amplitude from a position-and-frame hash.
struct Clip {
	const char* name;
	uint32_t width, height, format;
	int dx, dy, noise, frames;
};

uint32_t Hash(uint32_t x)
{
	x ^= x >> 16;
	x *= 0x7feb352du;
	x ^= x >> 15;
	x *= 0x846ca68bu;
	x ^= x >> 16;
	return x;
}

uint8_t Clamp255(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

void Sample(const Clip& clip, int f, int x, int y, int rgb[3])
{
	const int bx = x + clip.dx * f, by = y + clip.dy * f;
	int base[3] = {((bx * 3 + by * 5) & 255), ((bx ^ by) * 7 & 255) / 2 + 64,
	               (((bx >> 3) + (by >> 3)) & 1) * 120 + 60};
	const int sx = 20 + 3 * f, sy = 12 + 2 * f;
	if (x >= sx && x < sx + 24 && y >= sy && y < sy + 24)
		base[0] = 230, base[1] = 40, base[2] = 90;
	const uint32_t h = Hash(uint32_t(x) * 7919u + uint32_t(y) * 104729u + uint32_t(f) * 1299709u);
	for (int c = 0; c < 3; ++c) {
		const int n = clip.noise ? int((h >> (8 * c)) % uint32_t(2 * clip.noise + 1)) - clip.noise : 0;
		rgb[c] = Clamp255(base[c] + n);
	}
}

std::vector<uint8_t> MakeFrame(const Clip& clip, int f, uint32_t* rowBytes)
{
	std::vector<uint8_t> bytes;
	if (clip.format == kPixelFormatYUVS) {
		*rowBytes = 4 * ((clip.width + 1) / 2);
		bytes.resize(size_t{*rowBytes} * clip.height);
		for (uint32_t y = 0; y < clip.height; ++y)
			for (uint32_t x = 0; x < clip.width; ++x) {
				int rgb[3];
				Sample(clip, f, int(x), int(y), rgb);
				uint8_t* pair = &bytes[y * *rowBytes + 4 * (x / 2)];
				pair[2 * (x & 1)] = uint8_t(rgb[0]);
				if ((x & 1) == 0)
					pair[1] = uint8_t(rgb[1]), pair[3] = uint8_t(rgb[2]);
			}
		return bytes;
	}
	*rowBytes = 4 * clip.width;
	bytes.resize(size_t{*rowBytes} * clip.height);
	for (uint32_t y = 0; y < clip.height; ++y)
		for (uint32_t x = 0; x < clip.width; ++x) {
			int rgb[3];
			Sample(clip, f, int(x), int(y), rgb);
			uint8_t* p = &bytes[y * *rowBytes + 4 * x];
			p[0] = uint8_t(rgb[2]), p[1] = uint8_t(rgb[1]), p[2] = uint8_t(rgb[0]), p[3] = 255;
		}
	return bytes;
}

// FNV-1a over every chunk of the clip, each preceded by its length.
uint64_t EncodeDigest(const Clip& clip, bool filters, bool optimal)
{
	KorvParams* params = NewKorvParamsPtr(1, clip.width, clip.height);
	EXPECT_NE(params, nullptr);
	if (!params)
		return 0;
	params->spatialQuality = 700;
	params->deblock = params->dering = filters ? 1 : 0;
	params->optimalFrame = params->optimalMb = optimal ? 1 : 0;
	params->pixelFormat = clip.format;
	uint64_t h = 1469598103934665603ull;
	auto mix = [&h](uint8_t byte) { h = (h ^ byte) * 1099511628211ull; };
	for (int f = 0; f < clip.frames; ++f) {
		uint32_t rowBytes = 0;
		std::vector<uint8_t> picture = MakeFrame(clip, f, &rowBytes);
		params->pixMap->rowBytes = uint16_t(rowBytes);
		params->pixMap->baseAddr = picture.data();
		EXPECT_EQ(CompressPixMap(params), kKorvoOK) << clip.name << " frame " << f;
		const uint32_t n = uint32_t(params->streamBytes);
		for (int shift = 0; shift < 32; shift += 8)
			mix(uint8_t(n >> shift));
		for (uint32_t i = 0; i < n; ++i)
			mix(params->stream[i]);
	}
	DisposeKorvParamsPtr(params);
	return h;
}

const Clip kClips[] = {
        {"pan_noise_bgra", 176, 144, kPixelFormatBGRA, 2, 1, 12, 8},
        {"still_clean_yuvs", 160, 96, kPixelFormatYUVS, 0, 0, 0, 5},
        {"fast_pan_yuvs", 96, 64, kPixelFormatYUVS, -5, 3, 30, 8},
        {"odd_size_bgra", 72, 40, kPixelFormatBGRA, 1, -2, 4, 6},
};

// Today's chunks: [clip][mode], mode = filters * 2 + optimal.
const uint64_t kGolden[4][4] = {
        {0x9e1760068ac2965bull, 0xe690bf7e9f9d1009ull, 0xa9f78cc93617159cull, 0xb3f940b544813ecbull},
        {0x23d4e57dc86316c0ull, 0x7271b8cdfdf12636ull, 0x1fd20ac0c27c7321ull, 0x8415fb04e703e6f9ull},
        {0x6973138cffb40bbbull, 0x76f7e4014c6a3627ull, 0xf1cccd9cd10ddfd0ull, 0xa57cb48dedfd7497ull},
        {0xf85b200637deb81cull, 0x9789ee0489850805ull, 0x763822c47fb29ea4ull, 0x55ec58a85d15a91dull},
};

class GoldenChunks : public ::testing::TestWithParam<int> {
protected:
	void TearDown() override
	{
		gUseSpecificHooks = 1;
		Hooks_Install();
	}
};

TEST_P(GoldenChunks, EveryModeMatchesTodaysChunks)
{
	gUseSpecificHooks = uint8_t(GetParam());
	Hooks_Install();
	for (size_t c = 0; c < sizeof kClips / sizeof kClips[0]; ++c)
		for (int mode = 0; mode < 4; ++mode) {
			const uint64_t digest = EncodeDigest(kClips[c], mode & 2, mode & 1);
			EXPECT_EQ(digest, kGolden[c][mode]) << kClips[c].name << " filters " << (mode >> 1) << " optimal "
			                                    << (mode & 1) << ": 0x" << std::hex << digest << "ull";
		}
}

INSTANTIATE_TEST_SUITE_P(Kernels, GoldenChunks, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param ? "Specific" : "Plain"; });

}  // namespace
