// Allocation failure survived: the allocations of a small encode, decode and `info` are made to fail
// in turn (through the test build's allocation-failure library), under the address and leak
// sanitizers: all of them with KORVO_ALLOC_SWEEP_ALL=1, evenly spread ones in the suite. Each run ends with status 0 and exactly the output of a run without failure, or with
// status 1, one "mediaconv: ..." message and no output file: never a crash, a sanitizer report, a
// blank picture or a half-written file.
#include <cinttypes>

#include "tool_test_support.h"

using namespace tooltest;

namespace {

// Runs of each sweep in the suite (a run of the tool under the sanitizers takes a good part of a
// second).
constexpr uint64_t kSuiteRuns = 60;

class AllocationFailure : public ToolTest {
protected:
	void SetUp() override
	{
		ToolTest::SetUp();
		if (!HaveKorvo())
			GTEST_SKIP() << "the Korvo add-ons are not built";
		// Only the two video add-ons: fewer allocations to sweep, and the ones that matter here.
		for (const char* addOn : {"encoders/krv1.encoder", "decoders/krv1.decoder.generic"}) {
			const std::string link = Path("addons/") + addOn;
			ASSERT_EQ(system(("mkdir -p \"$(dirname '" + link + "')\"").c_str()), 0);
			ASSERT_EQ(symlink((std::string(MEDIACONV_ADDONS) + "/" + addOn).c_str(), link.c_str()), 0);
		}
		WriteY4m(Path("clip.y4m"), MovingClip(48, 32, 3));
	}

	// Runs the tool with allocation `failAt` failing (0: none); `count` gets how many allocations
	// the run made.
	Result Run(const std::string& arguments, uint64_t failAt, uint64_t* count = nullptr) const
	{
		const std::string countFile = Path(".count");
		Result r = Shell("LD_PRELOAD='" MEDIACONV_ALLOC_FAILURE
		                 "' ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0:print_suppressions=0 "
		                 "KORVO_FAIL_ALLOC=" +
		                 std::to_string(failAt) + " KORVO_ALLOC_COUNT='" + countFile +
		                 "' \"$MC\" -q --addons addons " + arguments);
		if (count)
			*count = strtoull(ReadFile(countFile).c_str(), nullptr, 10);
		return r;
	}

	// Sweeps every allocation of `arguments`, whose result is the file `out` (or standard output
	// when `out` is empty), in `suiteRuns` runs spread over them in the suite.
	void Sweep(const std::string& arguments, const std::string& out, uint64_t suiteRuns = kSuiteRuns)
	{
		uint64_t total = 0;
		const Result clean = Run(arguments, 0, &total);
		ASSERT_EQ(clean.status, 0) << clean.err;
		const std::string expected = out.empty() ? clean.out : ReadFile(Path(out));
		ASSERT_FALSE(expected.empty());
		ASSERT_GT(total, 10u) << "the allocation-failure library counted nothing";
		if (!out.empty())
			unlink(Path(out).c_str());
		// The suite spreads a fixed number of runs over the allocations; KORVO_ALLOC_SWEEP_ALL=1 (make
		// alloc-sweep) fails every one of them.
		const bool all = getenv("KORVO_ALLOC_SWEEP_ALL") && *getenv("KORVO_ALLOC_SWEEP_ALL") == '1';
		const uint64_t step = all ? 1 : (total + suiteRuns - 1) / suiteRuns;
		uint64_t refused = 0, runs = 0;
		for (uint64_t n = 1; n <= total; n += step, runs++) {
			const Result r = Run(arguments, n);
			const std::string produced = out.empty() ? r.out : ReadFile(Path(out));
			if (r.status == 0) {
				ASSERT_EQ(produced, expected) << "allocation " << n << " failed, run said success: " << r.err;
			} else {
				ASSERT_EQ(r.status, 1) << "allocation " << n << ": " << r.err;
				ASSERT_EQ(r.err.rfind("mediaconv: ", 0), 0u) << "allocation " << n << ": " << r.err;
				ASSERT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1)
				        << "allocation " << n << ": " << r.err;
				ASSERT_TRUE(out.empty() ? r.out.empty() : !Exists(Path(out))) << "allocation " << n << ": " << r.err;
				refused++;
			}
			if (!out.empty())
				unlink(Path(out).c_str());
		}
		// Most allocations are needed: a sweep that never fails a run has not failed any.
		EXPECT_GT(refused, runs / 4) << "of " << runs;
		printf("%s: %" PRIu64 " of %" PRIu64 " allocations failed in turn, %" PRIu64 " runs refused\n",
		       arguments.c_str(), runs, total, refused);
	}
};

// The coding runs on the caller's thread alone, so the allocations come in the same order every run.
TEST_F(AllocationFailure, Encode) { Sweep("convert --threads 1 clip.y4m out.mov", "out.mov"); }

TEST_F(AllocationFailure, Decode)
{
	ASSERT_EQ(Run("convert clip.y4m movie.mov", 0).status, 0);
	Sweep("convert --threads 1 movie.mov out.y4m", "out.y4m");
}

// With worker threads the pool's own allocations, made by the calling thread, fail too: a pool short
// of memory codes on fewer threads or the run is refused.
TEST_F(AllocationFailure, ThreadedEncodeAndDecode)
{
	Sweep("convert --threads 2 clip.y4m out.mov", "out.mov", kSuiteRuns / 2);
	ASSERT_EQ(Run("convert clip.y4m movie.mov", 0).status, 0);
	Sweep("convert --threads 2 movie.mov out.y4m", "out.y4m", kSuiteRuns / 2);
}

TEST_F(AllocationFailure, Info)
{
	ASSERT_EQ(Run("convert clip.y4m movie.mov", 0).status, 0);
	Sweep("info movie.mov", "");
}

}  // namespace
