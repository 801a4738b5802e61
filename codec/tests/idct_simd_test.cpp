// Differential tests of the SSE4.1 inverse DCT against the plain kernel: random, DC-only, sparse and
// near-limit blocks that make the 32-bit arithmetic wrap, plus its installation in the hook table.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "korvo.h"
#include "transform_internal.h"
#if KORVO_DSP_X86

namespace {

using Block64 = std::array<int16_t, 64>;

bool HasSse41() { return __builtin_cpu_supports("sse4.1"); }

void ExpectSameAsPlain(const Block64& in, const char* what, int n)
{
	Block64 plain = in, fast = in;
	IDCT_Fast(plain.data());
	IDCT_FastSSE41(fast.data());
	ASSERT_EQ(fast, plain) << what << " block " << n;
}

class IdctSse41 : public ::testing::Test {
protected:
	void SetUp() override
	{
		if (!HasSse41())
			GTEST_SKIP() << "processor without SSE4.1";
	}
	std::mt19937 rng{2024};
	int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
};

TEST_F(IdctSse41, DcOnlyAndSparseBlocks)
{
	for (int dc = -32768; dc <= 32767; dc += 7) {
		Block64 b{};
		b[0] = static_cast<int16_t>(dc);
		ExpectSameAsPlain(b, "dc", dc);
	}
	for (int n = 0; n < 20000; ++n) {
		Block64 b{};
		const int count = 1 + n % 6;
		for (int k = 0; k < count; ++k)
			b[Uniform(0, 63)] = static_cast<int16_t>(Uniform(-2048, 2047));
		ExpectSameAsPlain(b, "sparse", n);
	}
	// One non-zero AC in each position alone: every row and column skip decision of the plain kernel.
	for (int i = 1; i < 64; ++i)
		for (int v : {-2048, -1, 1, 2047}) {
			Block64 b{};
			b[0] = 100;
			b[i] = static_cast<int16_t>(v);
			ExpectSameAsPlain(b, "single", i);
		}
}

TEST_F(IdctSse41, RandomAndWrappingBlocks)
{
	for (int n = 0; n < 20000; ++n) {
		Block64 b;
		for (auto& v : b)
			v = static_cast<int16_t>(Uniform(-2048, 2047));
		ExpectSameAsPlain(b, "random", n);
	}
	// Coefficients at the 12-bit limit with random signs overflow 32 bits in both passes.
	for (int n = 0; n < 20000; ++n) {
		Block64 b;
		for (auto& v : b)
			v = static_cast<int16_t>(Uniform(0, 1) ? 2047 - Uniform(0, 3) : -2048 + Uniform(0, 3));
		ExpectSameAsPlain(b, "limit", n);
	}
	// Hostile 16-bit input, beyond anything a dequantiser produces.
	for (int n = 0; n < 20000; ++n) {
		Block64 b;
		for (auto& v : b)
			v = static_cast<int16_t>(Uniform(-32768, 32767));
		ExpectSameAsPlain(b, "int16", n);
	}
}

TEST(IdctHooks, SpecificKernelOnlyWhenAllowed)
{
	KorvHooks table{};
	const uint8_t saved = gUseSpecificHooks;
	gUseSpecificHooks = 0;
	InitHooks(&table);
	EXPECT_EQ(table.inverseDCT, &IDCT_Fast);
	gUseSpecificHooks = 1;
	InitHooks(&table);
	EXPECT_EQ(table.inverseDCT, HasSse41() ? &IDCT_FastSSE41 : &IDCT_Fast);
	gUseSpecificHooks = saved;
}

}  // namespace

#endif  // KORVO_DSP_X86
