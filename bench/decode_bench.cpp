// Whole-frame decoding speed: DecompressPixMap on I- and P-frames at 352x288 and 1280x720, output in
// the decoder add-on's BGRA layout, with and without the in-loop filters.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "../codec/tests/stream_builder.h"
#include "frame_internal.h"
#include "korvo.h"
namespace {

using korvo_test::StreamBuilder;

// A small deterministic generator, so every run decodes the same frames.
struct Random {
	uint32_t state;
	uint32_t Next()
	{
		state = state * 1664525u + 1013904223u;
		return state >> 8;
	}
	int32_t Range(int32_t low, int32_t high)
	{
		return low + static_cast<int32_t>(Next() % uint32_t(high - low + 1));
	}
};

// Intra content: smooth DC levels across the picture and a few low-frequency levels per block, the
// kind of frame a quantiser of 8 gives for ordinary video.
void FillIntra(MacroBlock* mb, Random& r)
{
	for (int b = 0; b < 6; ++b) {
		Block& block = mb->blocks[b];
		block.coef[0] = static_cast<int16_t>(30 + (mb->mbX * 3 + mb->mbY * 2 + b * 5) % 60);
		for (int k = 0; k < 5; ++k)
			block.coef[r.Range(1, 20)] = static_cast<int16_t>(r.Range(-3, 3));
	}
}

// Predicted content: a vector per macroblock near the neighbours', residual levels in a third of the
// blocks, an intra macroblock now and then and a tenth of the macroblocks skipped.
void FillInter(MacroBlock* mb, Random& r)
{
	const uint32_t kind = r.Next() % 20;
	if (kind < 2) {
		mb->codedMb = 0;
		return;
	}
	if (kind == 2) {
		mb->mbType = kMbTypeIntra;
		FillIntra(mb, r);
		return;
	}
	mb->mv = Motion{static_cast<int16_t>(r.Range(-9, 9)), static_cast<int16_t>(r.Range(-6, 6))};
	for (Block& block : mb->blocks) {
		if (r.Next() % 3)
			continue;
		for (int k = 0; k < 3; ++k)
			block.coef[r.Range(0, 15)] = static_cast<int16_t>(r.Range(-2, 2));
	}
}

struct Clip {
	std::vector<uint8_t> intra;
	std::vector<uint8_t> inter[8];
};

// A frame of moving texture for the encoder: gradients, a sine-like ripple and a square that moves
// by a few pixels per frame, in the BGRA layout the encoder add-on feeds.
void PaintFrame(std::vector<uint8_t>& bgra, uint32_t width, uint32_t height, int t)
{
	for (uint32_t y = 0; y < height; ++y) {
		for (uint32_t x = 0; x < width; ++x) {
			uint8_t* p = &bgra[(size_t{y} * width + x) * 4];
			const int u = static_cast<int>(x) + 3 * t, v = static_cast<int>(y) + t;
			const int ripple = ((u * 7 + v * 3) % 32) - 16;
			const bool square = static_cast<uint32_t>(u % 160) < 48 && static_cast<uint32_t>(v % 120) < 48;
			p[0] = static_cast<uint8_t>((u / 2 + ripple + 256) % 256);
			p[1] = static_cast<uint8_t>(square ? 220 : (v / 3 + 40) % 256);
			p[2] = static_cast<uint8_t>((u + v) / 4 % 256);
			p[3] = 0;
		}
	}
}

// The same kind of clip as the encoder makes it: one I-frame and the P-frames after it.
Clip EncodeClip(uint32_t width, uint32_t height, uint8_t filters)
{
	KorvParams* encoder = NewKorvParamsPtr(1, width, height);
	encoder->pixelFormat = kPixelFormatBGRA;
	encoder->pixMap->rowBytes = static_cast<uint16_t>(width * 4);
	encoder->spatialQuality = 768;
	encoder->deblock = encoder->dering = filters;
	std::vector<uint8_t> bgra(size_t{width} * height * 4);
	encoder->pixMap->baseAddr = bgra.data();
	Clip clip;
	for (int t = 0; t < 9; ++t) {
		PaintFrame(bgra, width, height, t);
		if (CompressPixMap(encoder) != kKorvoOK)
			break;
		std::vector<uint8_t> chunk(encoder->stream, encoder->stream + encoder->streamBytes);
		(t == 0 ? clip.intra : clip.inter[t - 1]) = std::move(chunk);
	}
	DisposeKorvParamsPtr(encoder);
	return clip;
}

Clip MakeClip(uint32_t width, uint32_t height, uint8_t filters)
{
	StreamBuilder builder(width, height);
	Random r{width * 7919u + height};
	Clip clip;
	clip.intra = builder.Intra(
	        8, [&](MacroBlock* mb) { FillIntra(mb, r); }, filters, filters);
	for (int i = 0; i < 8; ++i)
		clip.inter[i] =
		        builder.Inter(8, static_cast<uint8_t>(i & 1), [&](MacroBlock* mb) { FillInter(mb, r); });
	return clip;
}

class Player {
public:
	Player(uint32_t width, uint32_t height)
	    : params_(NewKorvParamsPtr(2, width, height)), out_(size_t{width} * height * 4)
	{
		params_->pixelFormat = kPixelFormatBGRA;
		params_->pixMap->rowBytes = static_cast<uint16_t>(width * 4);
		params_->pixMap->baseAddr = out_.data();
	}
	~Player() { DisposeKorvParamsPtr(params_); }
	bool Decode(const std::vector<uint8_t>& chunk)
	{
		params_->stream = const_cast<uint8_t*>(chunk.data());
		params_->streamSize = static_cast<uint32_t>(chunk.size());
		params_->fullRefresh = 1;  // as the decoder add-on does before every frame
		return DecompressPixMap(params_) == kKorvoOK;
	}

private:
	KorvParams* params_;
	std::vector<uint8_t> out_;
};

void DecodeFrames(benchmark::State& state, bool predicted)
{
	const uint32_t width = static_cast<uint32_t>(state.range(0)),
	               height = static_cast<uint32_t>(state.range(1));
	const uint8_t filters = static_cast<uint8_t>(state.range(2));
	const bool encoded = state.range(3) != 0;
	InitKorvax();
	{
		const Clip clip = encoded ? EncodeClip(width, height, filters) : MakeClip(width, height, filters);
		for (const auto& chunk : clip.inter)
			if (chunk.empty())
				state.SkipWithError("the encoder made no frame");
		Player player(width, height);
		if (!player.Decode(clip.intra))
			state.SkipWithError("the intra frame did not decode");
		size_t bytes = 0, frame = 0;
		for (auto _ : state) {
			const std::vector<uint8_t>& chunk = predicted ? clip.inter[frame++ % 8] : clip.intra;
			if (!player.Decode(chunk))
				state.SkipWithError("a frame did not decode");
			bytes += chunk.size();
		}
		state.counters["fps"] =
		        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
		state.counters["bytes/frame"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
	}
	TerminateKorvax();
}

void BM_DecodeIntra(benchmark::State& state) { DecodeFrames(state, false); }
void BM_DecodeInter(benchmark::State& state) { DecodeFrames(state, true); }

// Arguments: width, height, filters (deblocking and deringing announced in the stream), and whether
// the frames come from the encoder (1) or are written directly with synthetic levels (0).
void Sizes(benchmark::internal::Benchmark* b)
{
	for (int encoded : {0, 1}) {
		b->Args({352, 288, 0, encoded})->Args({1280, 720, 0, encoded})->Args({352, 288, 1, encoded});
		b->Args({1280, 720, 1, encoded});
	}
	b->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_DecodeIntra)->Apply(Sizes);
BENCHMARK(BM_DecodeInter)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
