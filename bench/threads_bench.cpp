// Threads inside one conversion: frames per second of 1280x720 encoding and decoding with 1, 2 and
// 4 threads in the context, without and with the in-loop filters (the chunks and pictures are the
// same for every count; the tests say so). The TwoJobs cases give the ceiling in the same run: two
// single-threaded contexts on two threads, each doing the whole clip, counted together.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "../codec/tests/enc_scenes.h"
#include "korvo.h"

namespace {

constexpr uint32_t kWidth = 1280, kHeight = 720;
constexpr int kFrames = 30;  // one I-VOP and 29 P-VOPs

using Chunks = std::vector<std::vector<uint8_t>>;

// Pre-made caller pictures, so that only the codec is timed.
const std::vector<enctest::Frame>& Pictures()
{
	static const std::vector<enctest::Frame> frames = [] {
		std::vector<enctest::Frame> f;
		for (int i = 0; i < kFrames; ++i)
			f.push_back(enctest::SceneFrame(enctest::Pan(2.5, -1.5), i, kWidth, kHeight, kPixelFormatBGRA));
		return f;
	}();
	return frames;
}

KorvParams* NewEncoder(uint32_t threads, bool filters)
{
	KorvParams* encoder = NewKorvParamsPtr(1, kWidth, kHeight);
	encoder->spatialQuality = 870;
	encoder->pixelFormat = kPixelFormatBGRA;
	encoder->deblock = encoder->dering = filters;
	encoder->threadCount = threads;
	return encoder;
}

// Encodes the clip; the chunks are kept when asked for.
bool EncodeClip(KorvParams* encoder, Chunks* chunks)
{
	for (const enctest::Frame& frame : Pictures()) {
		encoder->pixMap->rowBytes = uint16_t(frame.rowBytes);
		encoder->pixMap->baseAddr = const_cast<uint8_t*>(frame.bytes.data());
		if (CompressPixMap(encoder) != kKorvoOK)
			return false;
		if (chunks)
			chunks->emplace_back(encoder->stream, encoder->stream + encoder->streamBytes);
	}
	return true;
}

const Chunks& Stream(bool filters)
{
	static Chunks streams[2];
	Chunks& chunks = streams[filters];
	if (chunks.empty()) {
		KorvParams* encoder = NewEncoder(1, filters);
		EncodeClip(encoder, &chunks);
		DisposeKorvParamsPtr(encoder);
	}
	return chunks;
}

KorvParams* NewDecoder(uint32_t threads, uint8_t* picture)
{
	KorvParams* decoder = NewKorvParamsPtr(2, kWidth, kHeight);
	decoder->pixelFormat = kPixelFormatBGRA;
	decoder->pixMap->rowBytes = uint16_t(4 * kWidth);
	decoder->pixMap->baseAddr = picture;
	decoder->threadCount = threads;
	return decoder;
}

bool DecodeClip(KorvParams* decoder, const Chunks& chunks)
{
	for (const std::vector<uint8_t>& chunk : chunks) {
		decoder->stream = const_cast<uint8_t*>(chunk.data());
		decoder->streamSize = uint32_t(chunk.size());
		decoder->fullRefresh = 1;  // as the decoder add-on asks
		if (DecompressPixMap(decoder) != kKorvoOK)
			return false;
	}
	return true;
}

void BM_Encode720p(benchmark::State& state)
{
	const uint32_t threads = uint32_t(state.range(0));
	const bool filters = state.range(1) != 0;
	InitKorvax();
	Pictures();
	int64_t coded = 0;
	for (auto _ : state) {
		state.PauseTiming();
		KorvParams* encoder = NewEncoder(threads, filters);
		state.ResumeTiming();
		if (!EncodeClip(encoder, nullptr))
			state.SkipWithError("CompressPixMap failed");
		state.PauseTiming();
		DisposeKorvParamsPtr(encoder);
		state.ResumeTiming();
		coded += kFrames;
	}
	state.counters["fps"] = benchmark::Counter(double(coded), benchmark::Counter::kIsRate);
	TerminateKorvax();
}

void BM_Decode720p(benchmark::State& state)
{
	const uint32_t threads = uint32_t(state.range(0));
	const bool filters = state.range(1) != 0;
	InitKorvax();
	const Chunks& chunks = Stream(filters);
	std::vector<uint8_t> picture(size_t{kWidth} * kHeight * 4);
	int64_t decoded = 0;
	for (auto _ : state) {
		state.PauseTiming();
		KorvParams* decoder = NewDecoder(threads, picture.data());
		state.ResumeTiming();
		if (!DecodeClip(decoder, chunks))
			state.SkipWithError("DecompressPixMap failed");
		state.PauseTiming();
		DisposeKorvParamsPtr(decoder);
		state.ResumeTiming();
		decoded += int64_t(chunks.size());
	}
	state.counters["fps"] = benchmark::Counter(double(decoded), benchmark::Counter::kIsRate);
	TerminateKorvax();
}

// Two contexts of one thread each, made while the clock is stopped, code the whole clip side by side
// on two threads of their own; the clock runs from starting those threads to joining them.
template <class MakeContext, class CodeClip>
void TwoJobs(benchmark::State& state, int64_t framesPerJob, MakeContext make, CodeClip code)
{
	int64_t coded = 0;
	for (auto _ : state) {
		state.PauseTiming();
		KorvParams* contexts[2] = {make(0), make(1)};
		std::atomic<bool> failed{false};
		state.ResumeTiming();
		std::thread jobs[2];
		for (int j = 0; j < 2; ++j)
			jobs[j] = std::thread([&, j] {
				if (!code(contexts[j]))
					failed = true;
			});
		for (std::thread& job : jobs)
			job.join();
		state.PauseTiming();
		if (failed)
			state.SkipWithError("a job failed");
		for (KorvParams* context : contexts)
			DisposeKorvParamsPtr(context);
		state.ResumeTiming();
		coded += 2 * framesPerJob;
	}
	state.counters["fps"] = benchmark::Counter(double(coded), benchmark::Counter::kIsRate);
}

void BM_Encode720pTwoJobs(benchmark::State& state)
{
	const bool filters = state.range(0) != 0;
	InitKorvax();
	Pictures();
	TwoJobs(
	        state, kFrames, [&](int) { return NewEncoder(1, filters); },
	        [](KorvParams* encoder) { return EncodeClip(encoder, nullptr); });
	TerminateKorvax();
}

void BM_Decode720pTwoJobs(benchmark::State& state)
{
	const bool filters = state.range(0) != 0;
	InitKorvax();
	const Chunks& chunks = Stream(filters);
	std::vector<uint8_t> pictures[2];
	for (std::vector<uint8_t>& picture : pictures)
		picture.resize(size_t{kWidth} * kHeight * 4);
	TwoJobs(
	        state, int64_t(chunks.size()), [&](int job) { return NewDecoder(1, pictures[job].data()); },
	        [&](KorvParams* decoder) { return DecodeClip(decoder, chunks); });
	TerminateKorvax();
}

#define KORVO_THREAD_COUNTS                                                                                  \
	ArgNames({"threads", "filters"})                                                                         \
	        ->Args({1, 0})                                                                                   \
	        ->Args({2, 0})                                                                                   \
	        ->Args({4, 0})                                                                                   \
	        ->Args({1, 1})                                                                                   \
	        ->Args({2, 1})                                                                                   \
	        ->Args({4, 1})                                                                                   \
	        ->Unit(benchmark::kMillisecond)                                                                  \
	        ->UseRealTime()
BENCHMARK(BM_Encode720p)->KORVO_THREAD_COUNTS;
BENCHMARK(BM_Decode720p)->KORVO_THREAD_COUNTS;
#define KORVO_TWO_JOBS ArgNames({"filters"})->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_Encode720pTwoJobs)->KORVO_TWO_JOBS;
BENCHMARK(BM_Decode720pTwoJobs)->KORVO_TWO_JOBS;

}  // namespace

BENCHMARK_MAIN();
