// Encoding speed: CompressPixMap on moving sequences at 352x288 and 1280x720 (BGRA input, the
// encoder add-on's layout), with the bytes and luminance PSNR of the result at quality 0.85.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "../codec/tests/enc_scenes.h"
#include "korvo.h"
namespace {

using enctest::Frame;
using enctest::Scene;

constexpr int kFrames = 30;  // one I-VOP and 29 P-VOPs per pass

// Pre-converted caller pictures of the sequence, so that only the encoder is timed.
std::vector<Frame> Sequence(const Scene& scene, uint32_t width, uint32_t height)
{
	std::vector<Frame> frames;
	for (int f = 0; f < kFrames; ++f)
		frames.push_back(enctest::SceneFrame(scene, f, width, height, kPixelFormatBGRA));
	return frames;
}

void EncodeSequence(benchmark::State& state, const Scene& scene, bool optimal)
{
	const uint32_t width = uint32_t(state.range(0)), height = uint32_t(state.range(1));
	InitKorvax();
	std::vector<Frame> frames = Sequence(scene, width, height);
	KorvParams* encoder = NewKorvParamsPtr(1, width, height);
	KorvParams* decoder = NewKorvParamsPtr(2, width, height);
	std::vector<uint8_t> picture(size_t{width} * height * 4);
	decoder->pixelFormat = kPixelFormatBGRA;
	decoder->pixMap->rowBytes = uint16_t(4 * width);
	decoder->pixMap->baseAddr = picture.data();

	uint64_t bytes = 0;
	double psnr = 0;
	int64_t coded = 0;
	bool first = true;
	for (auto _ : state) {
		// Every pass starts a fresh sequence with an I-VOP.
		state.PauseTiming();
		DisposeKorvParamsPtr(encoder);
		encoder = NewKorvParamsPtr(1, width, height);
		encoder->spatialQuality = 870;
		encoder->pixelFormat = kPixelFormatBGRA;
		encoder->optimalFrame = encoder->optimalMb = optimal;
		state.ResumeTiming();
		for (Frame& frame : frames) {
			encoder->pixMap->rowBytes = uint16_t(frame.rowBytes);
			encoder->pixMap->baseAddr = frame.bytes.data();
			if (CompressPixMap(encoder) != kKorvoOK)
				state.SkipWithError("CompressPixMap failed");
			if (first) {
				// Bytes and quality of the first pass, measured through the decoder.
				state.PauseTiming();
				bytes += uint32_t(encoder->streamBytes);
				std::vector<uint8_t> chunk(encoder->stream, encoder->stream + encoder->streamBytes);
				decoder->stream = chunk.data();
				decoder->streamSize = uint32_t(chunk.size());
				if (DecompressPixMap(decoder) != kKorvoOK)
					state.SkipWithError("DecompressPixMap failed");
				psnr += enctest::LumaPsnr(encoder->vop, decoder->vop);
				state.ResumeTiming();
			}
		}
		first = false;
		coded += kFrames;
	}
	state.counters["fps"] = benchmark::Counter(double(coded), benchmark::Counter::kIsRate);
	state.counters["bytes_per_frame"] = double(bytes) / kFrames;
	state.counters["psnr_y_dB"] = psnr / kFrames;
	DisposeKorvParamsPtr(encoder);
	DisposeKorvParamsPtr(decoder);
	TerminateKorvax();
}

void BM_EncodePan(benchmark::State& state) { EncodeSequence(state, enctest::Pan(2.5, -1.5), false); }
void BM_EncodeMovingObject(benchmark::State& state) { EncodeSequence(state, enctest::MovingObject(), false); }
void BM_EncodePanOptimal(benchmark::State& state) { EncodeSequence(state, enctest::Pan(2.5, -1.5), true); }

#define KORVO_SIZES Args({352, 288})->Args({1280, 720})->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_EncodePan)->KORVO_SIZES;
BENCHMARK(BM_EncodeMovingObject)->KORVO_SIZES;
BENCHMARK(BM_EncodePanOptimal)->KORVO_SIZES;

}  // namespace

BENCHMARK_MAIN();
