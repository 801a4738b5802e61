// The classic encoder's chunks pinned byte for byte: with no data rate and the classic tuning, every
// mode (filters on/off, optimal decisions on/off) writes exactly the bytes it wrote when these
// digests were recorded. A change of any decision, table or writer shows here first.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "enc_test_util.h"
using namespace enctest;

namespace {

::testing::Environment* const kLibrary = ::testing::AddGlobalTestEnvironment(new Library);

// FNV-1a over every chunk and its length, in coding order.
struct Digest {
	uint64_t h = 14695981039346656037ull;
	void Add(const uint8_t* p, size_t n)
	{
		for (size_t i = 0; i < n; ++i)
			h = (h ^ p[i]) * 1099511628211ull;
	}
	void AddChunk(const std::vector<uint8_t>& chunk)
	{
		const uint32_t n = uint32_t(chunk.size());
		const uint8_t size[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
		Add(size, 4);
		Add(chunk.data(), chunk.size());
	}
};

// A pan that cuts to noise and back to a moving object: P-VOPs, skips, the intra switch.
Scene Mixed()
{
	const Scene pan = Pan(1.5, 0.5), noise = Noise(3), object = MovingObject();
	return [=](int f, int x, int y) {
		return f < 10 ? pan(f, x, y) : f < 13 ? noise(f, x, y) : object(f, x, y);
	};
}

struct GoldenCase {
	const char* name;
	uint32_t width, height, quality;
	int mode;  // bit 0 filters (deblock and dering), bit 1 optimal (frame and macroblock)
	uint64_t digest;
	uint32_t bytes;
};

uint64_t EncodeClip(const GoldenCase& c, uint32_t* bytes)
{
	CodecPair pair(c.width, c.height, c.quality);
	pair.encoder->deblock = pair.encoder->dering = c.mode & 1;
	pair.encoder->optimalFrame = pair.encoder->optimalMb = c.mode >> 1;
	const Scene scene = Mixed();
	Digest digest;
	*bytes = 0;
	for (int f = 0; f < 24; ++f) {
		Frame frame = SceneFrame(scene, f, c.width, c.height, kPixelFormatBGRA);
		EXPECT_EQ(pair.EncodeOnly(frame), kKorvoOK);
		digest.AddChunk(pair.chunk);
		*bytes += uint32_t(pair.chunk.size());
	}
	return digest.h;
}

TEST(ClassicTuning, ChunksAreByteIdenticalInEveryMode)
{
	const GoldenCase cases[] = {
	        {"plain", 93, 61, 870, 0, 0x19e2a5ab91fa3c18ull, 20533},
	        {"filtered", 93, 61, 870, 1, 0x01dced562c1859daull, 20864},
	        {"optimal", 93, 61, 870, 2, 0x53c899567eca559cull, 19579},
	        {"filtered optimal", 93, 61, 870, 3, 0xb75e099c8ddbc3cdull, 19948},
	        {"plain low quality", 64, 48, 200, 0, 0x4f75b4148a1ebe39ull, 5224},
	        {"filtered optimal low quality", 64, 48, 200, 3, 0x0736d4b54d93f9eaull, 4913},
	};
	for (const GoldenCase& c : cases) {
		uint32_t bytes = 0;
		const uint64_t digest = EncodeClip(c, &bytes);
		if (c.digest != digest || c.bytes != bytes)
			std::printf("%s: 0x%016llxull, %u\n", c.name, (unsigned long long)digest, bytes);
		EXPECT_EQ(digest, c.digest) << c.name;
		EXPECT_EQ(bytes, c.bytes) << c.name;
	}
}

}  // namespace
