// Every slot of the internal kernel table, plain and as this processor runs it, on the same data:
// one benchmark pair per slot (names end in /plain and /fastest).
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "kernels_internal.h"
#include "korvo.h"
namespace {

constexpr uint32_t kStride = 128;

struct Data {
	std::vector<uint8_t> a, b;
	int16_t x[64], y[64];
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
	Register("blockSad8", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t*) {
		benchmark::DoNotOptimize(t.blockSad8(d.a.data(), d.b.data(), kStride, INT32_MAX));
	});
	Register("blockSad16", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t*) {
		benchmark::DoNotOptimize(t.blockSad16(d.a.data(), d.b.data(), kStride, INT32_MAX));
	});
	Register("halfSampleSad(all 8)", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t*) {
		for (HalfSampleSadFn sad : t.halfSampleSad)
			benchmark::DoNotOptimize(sad(d.a.data() + kStride + 1, d.b.data(), kStride, 0, INT32_MAX));
	});
	Register("sadIncrease8x8", [](const KorvKernels& t, const Data& d, uint8_t*, int16_t*) {
		int32_t increase = 0;
		benchmark::DoNotOptimize(t.sadIncrease8x8(d.b.data(), kStride, d.a.data(), kStride, &increase));
		benchmark::DoNotOptimize(increase);
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
