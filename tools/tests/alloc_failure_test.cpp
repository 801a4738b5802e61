// Allocation failure survived: every allocation of a small encode, decode and `info` is made to fail
// in turn (through the test build's allocation-failure library), under the address and leak
// sanitizers. Each run ends with status 0 and exactly the output of a run without failure, or with
// status 1, one "mediaconv: ..." message and no output file: never a crash, a sanitizer report, a
// blank picture or a half-written file.
#include "tool_test_support.h"

using namespace tooltest;

namespace {

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
		                 "' ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 "
		                 "KORVO_FAIL_ALLOC=" +
		                 std::to_string(failAt) + " KORVO_ALLOC_COUNT='" + countFile +
		                 "' \"$MC\" -q --addons addons " + arguments);
		if (count)
			*count = strtoull(ReadFile(countFile).c_str(), nullptr, 10);
		return r;
	}

	// Sweeps every allocation of `arguments`, whose result is the file `out` (or standard output
	// when `out` is empty).
	void Sweep(const std::string& arguments, const std::string& out)
	{
		uint64_t total = 0;
		const Result clean = Run(arguments, 0, &total);
		ASSERT_EQ(clean.status, 0) << clean.err;
		const std::string expected = out.empty() ? clean.out : ReadFile(Path(out));
		ASSERT_FALSE(expected.empty());
		ASSERT_GT(total, 10u) << "the allocation-failure library counted nothing";
		if (!out.empty())
			unlink(Path(out).c_str());
		uint64_t refused = 0;
		for (uint64_t n = 1; n <= total; n++) {
			const Result r = Run(arguments, n);
			const std::string produced = out.empty() ? r.out : ReadFile(Path(out));
			if (r.status == 0) {
				ASSERT_EQ(produced, expected) << "allocation " << n << " failed, run said success: " << r.err;
			} else {
				ASSERT_EQ(r.status, 1) << "allocation " << n << ": " << r.err;
				ASSERT_EQ(r.err.rfind("mediaconv: ", 0), 0u) << "allocation " << n << ": " << r.err;
				ASSERT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1)
				        << "allocation " << n << ": " << r.err;
				ASSERT_TRUE(out.empty() ? r.out.empty() : !Exists(Path(out))) << "allocation " << n;
				refused++;
			}
			if (!out.empty())
				unlink(Path(out).c_str());
		}
		// Most allocations are needed: a sweep that never fails a run has not failed any.
		EXPECT_GT(refused, total / 4) << "of " << total;
	}
};

TEST_F(AllocationFailure, Encode) { Sweep("convert clip.y4m out.mov", "out.mov"); }

TEST_F(AllocationFailure, Decode)
{
	ASSERT_EQ(Run("convert clip.y4m movie.mov", 0).status, 0);
	Sweep("convert movie.mov out.y4m", "out.y4m");
}

TEST_F(AllocationFailure, Info)
{
	ASSERT_EQ(Run("convert clip.y4m movie.mov", 0).status, 0);
	Sweep("info movie.mov", "");
}

}  // namespace
