// Every slot of the internal kernel table, plain and as this processor runs it, on the same data:
// one benchmark pair per slot (names end in /plain and /fastest; rows and planes sized as named).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "kernels_internal.h"
#include "korvo.h"
namespace {

constexpr uint32_t kStride = 128;

struct Data {
	std::vector<uint8_t> a, b;
	int16_t x[64], y[64], levels[64];
	Data() : a(size_t{kStride} * 64), b(a.size())
	{
		std::mt19937 rng(7);
		for (size_t i = 0; i < a.size(); ++i) {
			a[i] = uint8_t(rng());
			b[i] = uint8_t(a[i] + int(rng() % 9) - 4);  // a near match, as motion search sees
		}
		for (int i = 0; i < 64; ++i) {
			x[i] = int16_t(int(rng() % 300) - 20);
			y[i] = int16_t(int(rng() % 60) - 30);
			levels[i] = int16_t(i < 12 || rng() % 8 == 0 ? int(rng() % 9) - 4 : 0);  // a coded block
		}
	}
};

const Data& Inputs()
{
	static const Data data;
	return data;
}

const KorvKernels& Table(bool fastest)
{
	static const KorvKernels plain = [] {
		KorvKernels t{};
		Kernels_Init(&t, false);
		return t;
	}();
	static const KorvKernels fast = [] {
		KorvKernels t{};
		Kernels_Init(&t, true);
		return t;
	}();
	return fastest ? fast : plain;
}

template <class Body>
void Register(const char* slot, Body body)
{
	for (bool fastest : {false, true}) {
		const std::string name = std::string(slot) + (fastest ? "/fastest" : "/plain");
		benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
			const KorvKernels& t = Table(fastest);
			const Data& d = Inputs();
			std::vector<uint8_t> out(size_t{kStride} * 16);
			int16_t block[64];
			for (auto _ : state)
				body(t, d, out.data(), block);
			benchmark::DoNotOptimize(out.data());
			benchmark::DoNotOptimize(block);
		});
	}
}

const bool kRegistered = [] {
	Register("blitSet", [](const KorvKernels& t, const Data& d, uint8_t* out, int16_t*) {
		t.blitSet(out, kStride, d.x);
		benchmark::ClobberMemory();
	});
	Register("blitSetAdd", [](const KorvKernels& t, const Data& d, uint8_t* out, int16_t*) {
		t.blitSetAdd(out, kStride, d.x, d.y);
		benchmark::ClobberMemory();
	});
	Register("fetchBlock", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t* block) {
		t.fetchBlock(d.a.data() + 3, kStride, block);
		benchmark::ClobberMemory();
	});
	Register("fetchBlockAverage4", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t* block) {
		t.fetchBlockAverage4(d.a.data() + 3, kStride, block, 1);
		benchmark::ClobberMemory();
	});
	Register("blockSadRow8", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t*) {
		uint16_t sads[16];
		t.blockSadRow8(d.a.data(), d.b.data(), kStride, sads);
		benchmark::DoNotOptimize(sads);
	});
	Register("blockSadRow16", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t*) {
		uint16_t sads[8];
		t.blockSadRow16(d.a.data(), d.b.data(), kStride, sads);
		benchmark::DoNotOptimize(sads);
	});
	Register("blockSad16", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t*) {
		benchmark::DoNotOptimize(t.blockSad16(d.a.data(), d.b.data(), kStride, INT32_MAX));
	});
	Register("halfSampleSads", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t*) {
		int32_t sads[kHalfSampleCandidates];
		t.halfSampleSads(d.a.data() + kStride + 1, d.b.data(), kStride, 0, sads);
		benchmark::DoNotOptimize(sads);
	});
	Register("halfSampleSadDiagonal", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t*) {
		benchmark::DoNotOptimize(
		        t.halfSampleSadDiagonal(d.a.data() + kStride + 1, d.b.data(), kStride, 0, INT32_MAX));
	});
	Register("sadIncrease8x8", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t*) {
		int32_t increase = 0;
		benchmark::DoNotOptimize(t.sadIncrease8x8(d.b.data(), kStride, d.a.data(), kStride, &increase));
		benchmark::DoNotOptimize(increase);
	});
	Register("blitAdd", [](const KorvKernels& t, const Data& d, uint8_t* out, int16_t*) {
		t.blitAdd(out, kStride, d.y);
		benchmark::ClobberMemory();
	});
	Register("deviation16x16", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t*) {
		benchmark::DoNotOptimize(t.deviation16x16(d.x, d.x, d.x, d.x));
	});
	Register("subsample(64x16)", [](const KorvKernels& t, const Data& d, uint8_t* out, int16_t*) {
		t.subsample(d.a.data(), kStride, out, kStride, 64, 16);
		benchmark::ClobberMemory();
	});
	Register("dctQuantizeInter", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t* block) {
		t.dctQuantizeInter(d.y, 8, block);
		benchmark::ClobberMemory();
	});
	Register("dctQuantizeIntraY", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t* block) {
		t.dctQuantizeIntraY(d.x, 8, block);
		benchmark::ClobberMemory();
	});
	Register("dequantizeIntra", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t* block) {
		t.dequantizeIntra(d.levels, block, 8, 0);
		benchmark::ClobberMemory();
	});
	Register("dequantizeInter", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t* block) {
		t.dequantizeInter(d.levels, block, 8);
		benchmark::ClobberMemory();
	});
	// One 1280-pixel row of output or input.
	Register("rowToBGRA(1280)", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t*) {
		static std::vector<uint8_t> row(4 * 1280);
		t.rowToBGRA(d.a.data(), d.b.data(), d.b.data() + 640, row.data(), 0, 1280);
		benchmark::ClobberMemory();
	});
	Register("rowToYUVS(1280)", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t*) {
		static std::vector<uint8_t> row(2 * 1280);
		t.rowToYUVS(d.a.data(), d.b.data(), d.b.data() + 640, row.data(), 0, 1280);
		benchmark::ClobberMemory();
	});
	Register("lumaFromBGRA(1280)", [](const KorvKernels& t, const Data& d, uint8_t* out, int16_t*) {
		t.lumaFromBGRA(d.a.data(), out, 1280);
		benchmark::ClobberMemory();
	});
	Register("chromaFromBGRA(640)", [](const KorvKernels& t, const Data& d, uint8_t* out, int16_t*) {
		t.chromaFromBGRA(d.a.data(), d.b.data(), out, out + 640, 640);
		benchmark::ClobberMemory();
	});
	Register("lumaFromYUVS(1280)", [](const KorvKernels& t, const Data& d, uint8_t* out, int16_t*) {
		t.lumaFromYUVS(d.a.data(), out, 1280);
		benchmark::ClobberMemory();
	});
	Register("chromaFromYUVS(640)", [](const KorvKernels& t, const Data& d, uint8_t* out, int16_t*) {
		t.chromaFromYUVS(d.a.data(), d.b.data(), out, out + 640, 640);
		benchmark::ClobberMemory();
	});
	Register("deblockLowerEdge", [](const KorvKernels& t, const Data& d, uint8_t* out, int16_t*) {
		std::copy(d.b.begin(), d.b.begin() + 16 * kStride, out);
		t.deblockLowerEdge(out + 16, 8, kStride);
		benchmark::ClobberMemory();
	});
	Register("deblockRightEdge", [](const KorvKernels& t, const Data& d, uint8_t* out, int16_t*) {
		std::copy(d.b.begin(), d.b.begin() + 16 * kStride, out);
		t.deblockRightEdge(out + 16, 8, kStride);
		benchmark::ClobberMemory();
	});
	Register("deringBlock", [](const KorvKernels& t, const Data& d, uint8_t* out, int16_t*) {
		std::copy(d.b.begin(), d.b.begin() + 16 * kStride, out);
		t.deringBlock(out + kStride + 16, kStride, 128, 4);
		benchmark::ClobberMemory();
	});
	return true;
}();

}  // namespace

// The plain block writers clamp through the library's tables.
int main(int argc, char** argv)
{
	if (InitKorvax() != kKorvoOK)
		return 1;
	benchmark::Initialize(&argc, argv);
	benchmark::RunSpecifiedBenchmarks();
	TerminateKorvax();
	return 0;
}
