// Pixel conversion speed: whole-picture BGRA and yuvs output and BGRA input at CIF and 720p.
// Items are pixels, so the rate reads as pixels per second.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "frame_internal.h"
#include "korvo.h"
#include "pixel_internal.h"
namespace {

struct Picture {
	KorvParams* params;
	std::vector<uint8_t> buffer;

	Picture(uint32_t w, uint32_t h, uint32_t format)
	    : params(NewKorvParamsPtr(1, w, h)), buffer(size_t(w) * h * 4)
	{
		std::mt19937 rng(1);
		Vop* vop = params->vop;
		for (Plane* p : {vop->planeY, vop->planeU, vop->planeV, vop->srcY, vop->srcU, vop->srcV})
			for (size_t i = 0; i < size_t(p->width) * p->height; ++i)
				p->data[i] = uint8_t(rng());
		for (uint8_t& b : buffer)
			b = uint8_t(rng());
		vop->codingType = kCodingTypeI;
		params->pixelFormat = format;
		params->pixMap->rowBytes = uint16_t(format == kPixelFormatYUVS ? 2 * w : 4 * w);
		params->pixMap->baseAddr = buffer.data();
	}
	~Picture() { DisposeKorvParamsPtr(params); }
};

template <int16_t (*convert)(KorvParams*), uint32_t format>
void Convert(benchmark::State& state)
{
	const uint32_t w = uint32_t(state.range(0)), h = uint32_t(state.range(1));
	Picture picture(w, h, format);
	for (auto _ : state) {
		benchmark::DoNotOptimize(convert(picture.params));
		benchmark::ClobberMemory();
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * w * h);
}

void Sizes(benchmark::internal::Benchmark* b) { b->Args({352, 288})->Args({1280, 720}); }

struct Library {
	Library() { InitKorvax(); }
	~Library() { TerminateKorvax(); }
} gLibrary;

BENCHMARK(Convert<PlanesToPixMap, kPixelFormatBGRA>)->Name("PlanesToPixMap/BGRA")->Apply(Sizes);
BENCHMARK(Convert<PlanesToPixMap, kPixelFormatYUVS>)->Name("PlanesToPixMap/yuvs")->Apply(Sizes);
BENCHMARK(Convert<PixMapToPlanes, kPixelFormatBGRA>)->Name("PixMapToPlanes/BGRA")->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
