// Contexts used side by side on several threads: every encoder must write the chunks, and every
// decoder give the pictures, that the same work gives alone, while other threads start and stop
// the library and make and dispose contexts. Also run under ThreadSanitizer by `make tsan`.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "enc_scenes.h"
#include "frame_internal.h"
#include "korvo.h"

using enctest::Frame;

namespace {

// A clip to encode: its size, settings and caller pictures (made once: the texture is slow).
struct Clip {
	uint32_t width, height;
	uint8_t deblock, dering, optimalFrame, optimalMb;
	std::vector<Frame> frames;
};

Clip MakeClip(uint32_t width, uint32_t height, int filters, int optimal, const enctest::Scene& scene,
              int count, uint32_t format = kPixelFormatBGRA)
{
	Clip clip{width,
	          height,
	          uint8_t(filters & 1),
	          uint8_t(filters >> 1),
	          uint8_t(optimal & 1),
	          uint8_t(optimal >> 1),
	          {}};
	for (int f = 0; f < count; ++f)
		clip.frames.push_back(enctest::SceneFrame(scene, f, width, height, format));
	return clip;
}

// A pan that cuts to another picture, so that a clip holds I-VOPs beyond the first.
enctest::Scene PanWithCut(int cut)
{
	return [cut](int f, int x, int y) {
		return f < cut ? enctest::TextureRgb(x + 2.5 * f, y - 1.5 * f)
		               : enctest::TextureRgb(y * 0.7 + 3 * f, x * 1.3 - f);
	};
}

// Sizes from one macroblock to several rows, odd ones, every filter and decision mode.
const std::vector<Clip>& Clips()
{
	static const std::vector<Clip> clips = [] {
		std::vector<Clip> c;
		c.push_back(MakeClip(176, 144, 0, 0, PanWithCut(6), 10));
		c.push_back(MakeClip(96, 64, 3, 0, enctest::MovingObject(), 10));
		c.push_back(MakeClip(100, 52, 1, 3, PanWithCut(5), 8));
		c.push_back(MakeClip(48, 48, 2, 2, enctest::Noise(3), 6));
		c.push_back(MakeClip(16, 16, 3, 1, enctest::MovingObject(), 6));
		c.push_back(MakeClip(160, 128, 3, 2, PanWithCut(7), 10));
		c.push_back(MakeClip(88, 45, 0, 1, PanWithCut(4), 6, kPixelFormatYUVS));
		c.push_back(MakeClip(208, 24, 3, 0, PanWithCut(4), 6));  // two rows: the shortest pool
		return c;
	}();
	return clips;
}

using Bytes = std::vector<uint8_t>;

// One job of the mixed work: encoding a clip, or decoding its chunks into one output layout.
struct Job {
	const Clip* clip;
	bool decode;
	uint32_t format;            // of the decoded pictures
	std::vector<Bytes> chunks;  // the clip encoded alone
	Bytes alone;                // what the job gives alone: the chunks or the pictures, end to end
};

uint32_t RowBytes(const Job& job)
{
	const uint32_t width = job.clip->width;
	switch (job.format) {
		case kPixelFormatYUVS:
		case kPixelFormat2VUY: return 4 * ((width + 1) / 2);
		case kPixelFormatRGB24: return 3 * width;
		case kPixelFormatYUV420Planar: return width;
		default: return 4 * width;
	}
}

// The caller's picture: rows of RowBytes, and for planar 4:2:0 the two chroma planes after them.
size_t PictureBytes(const Job& job)
{
	const size_t rows = size_t{RowBytes(job)} * job.clip->height;
	return job.format == kPixelFormatYUV420Planar
	               ? rows + 2 * size_t{RowBytes(job) / 2} * (job.clip->height / 2)
	               : rows;
}

KorvParams* MakeContext(const Job& job, uint32_t threads = 0)
{
	KorvParams* params = NewKorvParamsPtr(job.decode ? 2 : 1, job.clip->width, job.clip->height);
	if (!params)
		return nullptr;
	params->threadCount = threads;
	if (job.decode) {
		params->pixelFormat = job.format;
		params->pixMap->rowBytes = uint16_t(RowBytes(job));
		return params;
	}
	params->spatialQuality = 870;
	params->pixelFormat = job.clip->frames.front().format;
	params->deblock = job.clip->deblock;
	params->dering = job.clip->dering;
	params->optimalFrame = job.clip->optimalFrame;
	params->optimalMb = job.clip->optimalMb;
	return params;
}

// Runs the job on a fresh context and disposes it: every chunk (or picture) end to end; empty when
// a frame fails.
Bytes Code(const Job& job, KorvParams* params, std::vector<Bytes>* chunks = nullptr)
{
	Bytes out;
	if (!params)
		return out;
	Bytes picture(PictureBytes(job));
	const size_t frames = job.clip->frames.size();
	for (size_t f = 0; f < frames; ++f) {
		int16_t status;
		if (job.decode) {
			params->stream = const_cast<uint8_t*>(job.chunks[f].data());
			params->streamSize = uint32_t(job.chunks[f].size());
			params->pixMap->baseAddr = picture.data();
			params->fullRefresh = 1;
			status = DecompressPixMap(params);
		} else {
			const Frame& frame = job.clip->frames[f];
			params->pixMap->rowBytes = uint16_t(frame.rowBytes);
			params->pixMap->baseAddr = const_cast<uint8_t*>(frame.bytes.data());
			status = CompressPixMap(params);
		}
		if (status != kKorvoOK) {
			out.clear();
			break;
		}
		const uint8_t* begin = job.decode ? picture.data() : params->stream;
		const uint8_t* end = begin + (job.decode ? picture.size() : size_t(params->streamBytes));
		out.insert(out.end(), begin, end);
		if (chunks)
			chunks->emplace_back(begin, end);
	}
	DisposeKorvParamsPtr(params);
	return out;
}

std::vector<Job> MakeJobs()
{
	std::vector<Job> jobs;
	const uint32_t formats[] = {kPixelFormatBGRA,  kPixelFormatYUVS, kPixelFormatRGBA,
	                            kPixelFormatRGB24, kPixelFormat2VUY, kPixelFormatYUV420Planar};
	for (size_t i = 0; i < Clips().size(); ++i) {
		Job encode{&Clips()[i], false, kPixelFormatBGRA, {}, {}};
		encode.alone = Code(encode, MakeContext(encode), &encode.chunks);
		Job decode{&Clips()[i], true, formats[i % 6], encode.chunks, {}};
		decode.alone = Code(decode, MakeContext(decode));
		jobs.push_back(encode);
		jobs.push_back(decode);
	}
	return jobs;
}

// Starts `threads` threads that wait for each other, then run body(thread index); joins them.
template <class Body>
void RunTogether(int threads, Body body)
{
	std::atomic<int> ready{0};
	std::vector<std::thread> pool;
	for (int t = 0; t < threads; ++t) {
		pool.emplace_back([&, t] {
			ready.fetch_add(1);
			while (ready.load() < threads)
				std::this_thread::yield();
			body(t);
		});
	}
	for (std::thread& thread : pool)
		thread.join();
}

class Threads : public ::testing::Test {
protected:
	static void SetUpTestSuite()
	{
		ASSERT_EQ(InitKorvax(), kKorvoOK);
		jobs = new std::vector<Job>(MakeJobs());
		for (const Job& job : *jobs)
			ASSERT_FALSE(job.alone.empty());
	}
	static void TearDownTestSuite()
	{
		delete jobs;
		TerminateKorvax();
	}
	static std::vector<Job>* jobs;
};

std::vector<Job>* Threads::jobs = nullptr;

// Four threads run every job, each from a different one on, three times over, the first time
// with contexts that code alone, then with contexts that have workers of their own: a shared bit
// writer word or shared scratch shows as a different chunk or picture.
TEST_F(Threads, ContextsSideBySideGiveTheResultsOfWorkAlone)
{
	constexpr int kThreads = 4, kRounds = 3;
	std::vector<std::vector<size_t>> failed(kThreads);
	RunTogether(kThreads, [&](int t) {
		for (int round = 0; round < kRounds; ++round)
			for (size_t k = 0; k < jobs->size(); ++k) {
				const size_t j = (k + size_t(t) * 3) % jobs->size();
				const uint32_t threads = round == 0 ? 0 : 2 + uint32_t(j + size_t(round)) % 2;
				if (Code((*jobs)[j], MakeContext((*jobs)[j], threads)) != (*jobs)[j].alone)
					failed[t].push_back(j);
			}
	});
	for (int t = 0; t < kThreads; ++t)
		EXPECT_TRUE(failed[t].empty()) << "thread " << t << ", job " << failed[t].front();
}

// Every job with 2, 3 and 4 threads in its context gives what it gives on the caller's thread: the
// encoder's decisions, chunks and reference pictures and the decoder's pictures do not depend on
// how the rows are shared out. A context can change its count between frames.
TEST_F(Threads, ThreadCountsChangeNothing)
{
	for (const Job& job : *jobs) {
		const std::string what = std::string(job.decode ? "decode " : "encode ") +
		                         std::to_string(job.clip->width) + "x" + std::to_string(job.clip->height);
		for (uint32_t threads = 2; threads <= 4; ++threads)
			EXPECT_TRUE(Code(job, MakeContext(job, threads)) == job.alone)
			        << what << ", " << threads << " threads";
	}
	// One encoder whose count changes from frame to frame, down to none and back.
	const Job& job = (*jobs)[0];
	KorvParams* params = MakeContext(job, 0);
	ASSERT_NE(params, nullptr);
	Bytes out;
	for (size_t f = 0; f < job.clip->frames.size(); ++f) {
		params->threadCount = uint32_t(f * 3 % 5);
		params->pixMap->rowBytes = uint16_t(job.clip->frames[f].rowBytes);
		params->pixMap->baseAddr = const_cast<uint8_t*>(job.clip->frames[f].bytes.data());
		ASSERT_EQ(CompressPixMap(params), kKorvoOK);
		out.insert(out.end(), params->stream, params->stream + params->streamBytes);
	}
	DisposeKorvParamsPtr(params);
	EXPECT_TRUE(out == job.alone);
}

// Rows of noise at the finest quantiser outgrow the buffers the encoder's rows are first written
// into, and a caller's buffer too small for a frame fails it: both alike on any thread count, the
// frames that fit byte for byte.
TEST_F(Threads, LargeRowsAndShortBuffersAlikeOnAnyThreadCount)
{
	const Clip clip = MakeClip(2048, 48, 0, 0, enctest::Noise(11), 3);
	const Job job{&clip, false, kPixelFormatBGRA, {}, {}};
	auto encode = [&](uint32_t threads, uint32_t capacity, std::vector<int16_t>* statuses) {
		KorvParams* params = MakeContext(job, threads);
		params->spatialQuality = 1024;
		Bytes out, buffer(capacity);
		for (const Frame& frame : clip.frames) {
			if (capacity) {
				params->stream = buffer.data();
				params->streamSize = capacity;
			}
			params->pixMap->rowBytes = uint16_t(frame.rowBytes);
			params->pixMap->baseAddr = const_cast<uint8_t*>(frame.bytes.data());
			statuses->push_back(CompressPixMap(params));
			out.insert(out.end(), params->stream, params->stream + params->streamBytes);
			out.push_back(0xEE);  // frame boundary
		}
		DisposeKorvParamsPtr(params);
		return out;
	};
	std::vector<int16_t> statusesAlone;
	const Bytes alone = encode(0, 0, &statusesAlone);
	EXPECT_EQ(statusesAlone, std::vector<int16_t>(3, kKorvoOK));
	ASSERT_GT(alone.size(), 3 * 3 * 16384u) << "rows this large are what the test is for";
	// The second frame's size, less a byte, fits none of the frames (noise needs as much every time).
	const uint32_t size = uint32_t(std::find(alone.begin() + 1, alone.end(), 0xEE) - alone.begin());
	std::vector<int16_t> shortAlone;
	const Bytes cutAlone = encode(0, size / 2, &shortAlone);
	EXPECT_EQ(shortAlone[0], kKorvoEntryFailed);
	for (uint32_t threads = 2; threads <= 3; ++threads) {
		std::vector<int16_t> statuses, shortStatuses;
		EXPECT_TRUE(encode(threads, 0, &statuses) == alone) << threads << " threads";
		EXPECT_EQ(statuses, statusesAlone);
		EXPECT_TRUE(encode(threads, size / 2, &shortStatuses) == cutAlone) << threads << " threads";
		EXPECT_EQ(shortStatuses, shortAlone);
	}
}

// Every thread starts and stops the library around its own work, as every add-on instance does: a
// start must not return before the tables are built, and the last stop frees them, again and again.
TEST_F(Threads, EveryThreadStartsAndStopsTheLibrary)
{
	TerminateKorvax();  // only the threads hold the library now
	constexpr int kThreads = 4, kRounds = 6;
	std::vector<int> failures(kThreads, 0);
	RunTogether(kThreads, [&](int t) {
		for (int round = 0; round < kRounds; ++round) {
			if (InitKorvax() != kKorvoOK) {
				failures[t] += 1;
				continue;
			}
			const Job& job = (*jobs)[size_t(t + round) % jobs->size()];
			failures[t] += Code(job, MakeContext(job)) != job.alone;
			TerminateKorvax();
		}
	});
	for (int t = 0; t < kThreads; ++t)
		EXPECT_EQ(failures[t], 0) << "thread " << t;
	EXPECT_EQ(gKorvaxInitCount.load(), 0);
	EXPECT_EQ(IClampTable, nullptr);    // the last stop freed the tables
	ASSERT_EQ(InitKorvax(), kKorvoOK);  // given back to the suite
}

// While coders are in the middle of frames, another thread starts and stops the library, makes and
// disposes contexts of every mode and switches the kernels between plain and processor-specific:
// the kernel table is refilled only between frames (the coders made their contexts first, so only
// that thread reads the switch), and either set of kernels gives the same results.
TEST_F(Threads, ContextsComeAndGoWhileOthersCode)
{
	constexpr int kCoders = 3, kRounds = 2;
	const uint8_t saved = gUseSpecificHooks;
	// Every coder's contexts, made before the churn begins.
	std::vector<std::vector<std::pair<const Job*, KorvParams*>>> work(kCoders);
	for (int t = 0; t < kCoders; ++t)
		for (int round = 0; round < kRounds; ++round)
			for (size_t k = 0; k < jobs->size(); k += 2) {
				const Job& job = (*jobs)[(k + size_t(t) + size_t(round)) % jobs->size()];
				work[t].emplace_back(&job, MakeContext(job));
			}
	std::atomic<int> coding{kCoders};
	std::vector<int> failures(kCoders + 1, 0);
	int switches = 0;
	RunTogether(kCoders + 1, [&](int t) {
		if (t < kCoders) {
			for (auto& [job, params] : work[t])
				failures[t] += Code(*job, params) != job->alone;
			coding.fetch_sub(1);
			return;
		}
		for (uint32_t i = 0; coding.load() > 0 || i < 4; ++i) {
			gUseSpecificHooks = uint8_t(i & 1);
			if (InitKorvax() != kKorvoOK) {
				failures[t] += 1;
				continue;
			}
			KorvParams* params = NewKorvParamsPtr(uint8_t(1 + i % 3), 16 + 16 * (i % 5), 16 + 8 * (i % 7));
			failures[t] += params == nullptr;
			// The table matches the switch once a context has been made.
			KorvHooks expected;
			InitHooks(&expected);
			failures[t] += std::memcmp(&expected, &gHooks, sizeof expected) != 0;
			DisposeKorvParamsPtr(params);
			TerminateKorvax();
			switches += 1;
		}
	});
	gUseSpecificHooks = saved;
	KorvParams* params = NewKorvParamsPtr(3, 16, 16);  // the table back to the saved switch
	DisposeKorvParamsPtr(params);
	for (int t = 0; t <= kCoders; ++t)
		EXPECT_EQ(failures[t], 0) << "thread " << t;
	EXPECT_GE(switches, 4);
}

// Damaged chunks decode to the same pictures and the same damage record whatever the number of
// threads: the record comes from the reading of the frame, which no worker shares.
TEST_F(Threads, DamagedFramesDecodeAlikeOnAnyThreadCount)
{
	size_t damaged = 0;
	for (const Job& job : *jobs) {
		if (!job.decode)
			continue;
		// Every third frame cut in half, every third one with bytes flipped past its header.
		std::vector<Bytes> chunks = job.chunks;
		for (size_t f = 1; f < chunks.size(); ++f) {
			Bytes& chunk = chunks[f];
			if (f % 3 == 1)
				chunk.resize(chunk.size() / 2);
			else if (f % 3 == 2)
				for (size_t at = 8 + f; at < chunk.size(); at += 11 + f)
					chunk[at] ^= uint8_t(0x5A + at);
		}
		auto decode = [&](uint32_t threads, std::vector<uint8_t>* damage) {
			KorvParams* params = MakeContext(job, threads);
			Bytes out, picture(PictureBytes(job));
			for (const Bytes& chunk : chunks) {
				params->stream = const_cast<uint8_t*>(chunk.data());
				params->streamSize = uint32_t(chunk.size());
				params->pixMap->baseAddr = picture.data();
				params->fullRefresh = 1;
				EXPECT_EQ(DecompressPixMap(params), kKorvoOK);
				damage->push_back(params->damage);
				out.insert(out.end(), picture.begin(), picture.end());
			}
			DisposeKorvParamsPtr(params);
			return out;
		};
		std::vector<uint8_t> damageAlone;
		const Bytes alone = decode(0, &damageAlone);
		EXPECT_EQ(damageAlone[0], 0) << "the first frame is whole";
		damaged += size_t(std::count_if(damageAlone.begin(), damageAlone.end(), [](uint8_t d) { return d; }));
		for (uint32_t threads = 2; threads <= 4; ++threads) {
			std::vector<uint8_t> damage;
			EXPECT_TRUE(decode(threads, &damage) == alone) << job.clip->width << "x" << job.clip->height;
			EXPECT_EQ(damage, damageAlone) << job.clip->width << "x" << job.clip->height << ", " << threads;
		}
	}
	EXPECT_GE(damaged, 10u) << "the damage went unnoticed";
}

}  // namespace
