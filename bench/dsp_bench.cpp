// Speed of the transform and quantisation kernels: the inverse DCT (plain and SSE4.1) on typical
// decoded blocks, the decoder's dequantisers and the encoder's fused transform-and-quantise.
#include <benchmark/benchmark.h>

#include <string.h>

#include <random>
#include <vector>

#include "transform_internal.h"
namespace {

// Decoded blocks as a stream carries them: kind 0 DC only, 1 a few low-frequency levels, 2 dense.
std::vector<int16_t> MakeLevels(int kind, int blocks)
{
	std::mt19937 rng(42);
	std::vector<int16_t> levels(64 * static_cast<size_t>(blocks), 0);
	for (int b = 0; b < blocks; ++b) {
		int16_t* c = &levels[64 * static_cast<size_t>(b)];
		c[0] = static_cast<int16_t>(rng() % 255);
		const int count = kind == 0 ? 0 : (kind == 1 ? 4 : 64);
		for (int k = 0; k < count; ++k) {
			const int i = kind == 1 ? static_cast<int>(rng() % 10) + 1 : k;
			if (i < 64 && i > 0)
				c[i] = static_cast<int16_t>(static_cast<int>(rng() % 9) - 4);
		}
	}
	return levels;
}

constexpr int kBlocks = 256;
const char* const kKindNames[] = {"dc_only", "sparse", "dense"};

// Coefficients as the dequantiser hands them to the inverse DCT.
std::vector<int16_t> MakeCoefficients(int kind)
{
	std::vector<int16_t> levels = MakeLevels(kind, kBlocks), coefficients(levels.size());
	for (int b = 0; b < kBlocks; ++b)
		DequantizeIntra(&levels[64 * b], &coefficients[64 * b], 8, b % 6);
	return coefficients;
}

void RunIdct(benchmark::State& state, void (*idct)(int16_t*))
{
	const int kind = static_cast<int>(state.range(0));
	const std::vector<int16_t> source = MakeCoefficients(kind);
	alignas(16) int16_t block[64];
	for (auto _ : state) {
		for (int b = 0; b < kBlocks; ++b) {
			memcpy(block, &source[64 * b], sizeof(block));
			idct(block);
			benchmark::DoNotOptimize(block);
		}
	}
	state.SetItemsProcessed(state.iterations() * kBlocks);
	state.SetLabel(kKindNames[kind]);
}

void BM_IdctPlain(benchmark::State& state) { RunIdct(state, IDCT_Fast); }
BENCHMARK(BM_IdctPlain)->Arg(0)->Arg(1)->Arg(2);

#if KORVO_DSP_X86
void BM_IdctSse41(benchmark::State& state)
{
	if (!__builtin_cpu_supports("sse4.1")) {
		state.SkipWithError("processor without SSE4.1");
		return;
	}
	RunIdct(state, IDCT_FastSSE41);
}
BENCHMARK(BM_IdctSse41)->Arg(0)->Arg(1)->Arg(2);
#endif

void BM_DequantizeIntra(benchmark::State& state)
{
	const int kind = static_cast<int>(state.range(0));
	const std::vector<int16_t> levels = MakeLevels(kind, kBlocks);
	std::vector<int16_t> out(levels.size());
	for (auto _ : state) {
		for (int b = 0; b < kBlocks; ++b)
			DequantizeIntra(&levels[64 * b], &out[64 * b], 8, b % 6);
		benchmark::DoNotOptimize(out.data());
		benchmark::ClobberMemory();
	}
	state.SetItemsProcessed(state.iterations() * kBlocks);
	state.SetLabel(kKindNames[kind]);
}
BENCHMARK(BM_DequantizeIntra)->Arg(1)->Arg(2);

void BM_DequantizeInter(benchmark::State& state)
{
	const int kind = static_cast<int>(state.range(0));
	const std::vector<int16_t> levels = MakeLevels(kind, kBlocks);
	std::vector<int16_t> out(levels.size());
	for (auto _ : state) {
		for (int b = 0; b < kBlocks; ++b)
			DequantizeInter(&levels[64 * b], &out[64 * b], 8);
		benchmark::DoNotOptimize(out.data());
		benchmark::ClobberMemory();
	}
	state.SetItemsProcessed(state.iterations() * kBlocks);
	state.SetLabel(kKindNames[kind]);
}
BENCHMARK(BM_DequantizeInter)->Arg(1)->Arg(2);

void BM_FusedQuantizeIntraY(benchmark::State& state)
{
	std::mt19937 rng(7);
	std::vector<int16_t> pixels(64 * kBlocks);
	for (auto& v : pixels)
		v = static_cast<int16_t>(rng() % 256);
	std::vector<int16_t> out(pixels.size());
	for (auto _ : state) {
		for (int b = 0; b < kBlocks; ++b)
			GapsDCTQuantize_IntraY(&pixels[64 * b], 8, &out[64 * b]);
		benchmark::DoNotOptimize(out.data());
		benchmark::ClobberMemory();
	}
	state.SetItemsProcessed(state.iterations() * kBlocks);
}
BENCHMARK(BM_FusedQuantizeIntraY);

}  // namespace

BENCHMARK_MAIN();
