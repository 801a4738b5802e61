// Frame storage is made with the context: coding and decoding a frame allocates nothing. This program
// counts every allocation made while CompressPixMap or DecompressPixMap runs: operator new is replaced
// here, and malloc, calloc, realloc, aligned_alloc and posix_memalign are wrapped at link time
// (-Wl,--wrap), which covers the codec library and this program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "enc_test_util.h"
#include "korvo.h"

namespace {

std::atomic<bool> gCounting{false};
std::atomic<uint64_t> gAllocations{0};

void Note()
{
	if (gCounting.load(std::memory_order_relaxed))
		gAllocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

extern "C" {

void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* p, size_t size);
void* __real_aligned_alloc(size_t alignment, size_t size);
int __real_posix_memalign(void** p, size_t alignment, size_t size);

void* __wrap_malloc(size_t size)
{
	Note();
	return __real_malloc(size);
}
void* __wrap_calloc(size_t count, size_t size)
{
	Note();
	return __real_calloc(count, size);
}
void* __wrap_realloc(void* p, size_t size)
{
	Note();
	return __real_realloc(p, size);
}
void* __wrap_aligned_alloc(size_t alignment, size_t size)
{
	Note();
	return __real_aligned_alloc(alignment, size);
}
int __wrap_posix_memalign(void** p, size_t alignment, size_t size)
{
	Note();
	return __real_posix_memalign(p, alignment, size);
}

}  // extern "C"

// The replaced operators allocate with malloc and release with free, which GCC cannot see through.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(size_t size)
{
	Note();
	if (void* p = __real_malloc(size ? size : 1))
		return p;
	throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
	Note();
	return __real_malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

const auto* const kLibrary = ::testing::AddGlobalTestEnvironment(new enctest::Library);

// Allocations made while `call` runs.
template <class Call>
uint64_t Counted(Call call)
{
	gAllocations = 0;
	gCounting = true;
	call();
	gCounting = false;
	return gAllocations;
}

struct Coding {
	uint32_t threads;
	bool filters, optimal;
	uint32_t outputFormat;
};

class NoAllocationPerFrame : public ::testing::TestWithParam<Coding> {};

// Twenty frames of a noisy pan with a moving object (I- and P-VOPs, skipped, intra and inter
// macroblocks) through an encoder and a decoder. With worker threads the first frame of each
// context starts them; from then on nothing is allocated.
TEST_P(NoAllocationPerFrame, TwentyFramesEncodedAndDecoded)
{
	const Coding setup = GetParam();
	constexpr uint32_t kWidth = 176, kHeight = 144;
	enctest::CodecPair pair(kWidth, kHeight, 700);
	for (KorvParams* params : {pair.encoder, pair.decoder}) {
		params->threadCount = setup.threads;
		params->deblock = params->dering = setup.filters;
	}
	pair.encoder->optimalFrame = pair.encoder->optimalMb = setup.optimal;
	pair.decoder->pixelFormat = setup.outputFormat;
	pair.decoder->pixMap->rowBytes =
	        uint16_t(setup.outputFormat == kPixelFormatYUV420Planar ? kWidth
	                 : setup.outputFormat == kPixelFormatYUVS       ? 2 * kWidth
	                                                                : 4 * kWidth);
	pair.output.assign(size_t{kWidth} * kHeight * 4, 0);
	pair.decoder->pixMap->baseAddr = pair.output.data();

	const enctest::Scene pan = enctest::Pan(2.5, 1.0);
	const enctest::Scene object = enctest::MovingObject();
	std::vector<enctest::Frame> frames;
	for (int f = 0; f < 20; ++f)
		frames.push_back(enctest::SceneFrame(f < 12 ? pan : object, f, kWidth, kHeight, kPixelFormatBGRA));
	pair.chunk.reserve(size_t{kWidth} * kHeight * 4);

	const bool warmUp = setup.threads > 1;
	for (int f = 0; f < 20; ++f) {
		pair.encoder->pixelFormat = frames[f].format;
		pair.encoder->pixMap->rowBytes = uint16_t(frames[f].rowBytes);
		pair.encoder->pixMap->baseAddr = frames[f].bytes.data();
		int16_t status = -1;
		const uint64_t encoding = Counted([&] { status = CompressPixMap(pair.encoder); });
		ASSERT_EQ(status, kKorvoOK) << "frame " << f;
		pair.chunk.assign(pair.encoder->stream, pair.encoder->stream + pair.encoder->streamBytes);
		pair.decoder->stream = pair.chunk.data();
		pair.decoder->streamSize = uint32_t(pair.chunk.size());
		const uint64_t decoding = Counted([&] { status = DecompressPixMap(pair.decoder); });
		ASSERT_EQ(status, kKorvoOK) << "frame " << f;
		ASSERT_GT(pair.decoder->streamBytes, 0) << "frame " << f;
		if (warmUp && f == 0)
			continue;
		EXPECT_EQ(encoding, 0u) << "allocations while encoding frame " << f;
		EXPECT_EQ(decoding, 0u) << "allocations while decoding frame " << f;
	}
}

INSTANTIATE_TEST_SUITE_P(
        Frames, NoAllocationPerFrame,
        ::testing::Values(Coding{1, false, false, kPixelFormatBGRA}, Coding{1, true, false, kPixelFormatYUVS},
                          Coding{1, true, true, kPixelFormatYUV420Planar}, Coding{1, false, true, kPixelFormatRGB24},
                          Coding{2, true, false, kPixelFormatBGRA}, Coding{3, false, true, kPixelFormatYUVS}),
        [](const auto& info) { return "setup" + std::to_string(info.index); });

// The counter sees what it is meant to see, so a zero above means something.
TEST(AllocationCounter, CountsMallocAndNewHereAndInTheLibrary)
{
	const uint64_t n = Counted([] {
		void* volatile p = std::malloc(16);
		std::free(p);
		int* volatile q = new int(3);
		delete q;
	});
	EXPECT_EQ(n, 2u);
	// The library's own allocations are seen too: a context is several records and planes.
	KorvParams* made = nullptr;
	EXPECT_GT(Counted([&made] { made = NewKorvParamsPtr(1, 64, 48); }), 5u);
	ASSERT_NE(made, nullptr);
	DisposeKorvParamsPtr(made);
}

}  // namespace
