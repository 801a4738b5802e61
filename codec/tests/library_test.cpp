// Tests of the library's start and stop, the clamp tables, the hook table, the small helpers and
// the crash exit.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>

#include "frame_internal.h"
#include "korvo.h"
#include "transform_internal.h"
namespace {

TEST(Library, ReferenceCounted)
{
	ASSERT_EQ(gKorvaxInitCount.load(), 0);
	ASSERT_EQ(InitKorvax(), kKorvoOK);
	const int16_t* table = IClampTable;
	ASSERT_NE(table, nullptr);
	ASSERT_EQ(InitKorvax(), kKorvoOK);
	EXPECT_EQ(IClampTable, table);  // built once
	EXPECT_EQ(gKorvaxInitCount.load(), 2);
	TerminateKorvax();
	EXPECT_EQ(gKorvaxInitCount.load(), 1);
	EXPECT_EQ(IClampTable, table);
	EXPECT_NE(PClampTable, nullptr);
	TerminateKorvax();
	EXPECT_EQ(gKorvaxInitCount.load(), 0);
	EXPECT_EQ(IClampTable, nullptr);
	EXPECT_EQ(PClampTable, nullptr);
	TerminateKorvax();  // a third stop does nothing
	EXPECT_EQ(gKorvaxInitCount.load(), 0);
	ASSERT_EQ(InitKorvax(), kKorvoOK);  // and the library starts again
	EXPECT_NE(IClampTable, nullptr);
	TerminateKorvax();
}

TEST(Library, ClampTables)
{
	ASSERT_EQ(InitKorvax(), kKorvoOK);
	for (int32_t v = -2048; v <= 2047; v++) {
		ASSERT_EQ(IClampTable[v], v < 0 ? 0 : v > 255 ? 255 : v) << v;
		ASSERT_EQ(PClampTable[v], v < -255 ? -255 : v > 255 ? 255 : v) << v;
	}
	TerminateKorvax();
}

// Makes and disposes a context; false when it cannot be made.
bool MakeContext()
{
	KorvParams* params = NewKorvParamsPtr(3, 16, 16);
	DisposeKorvParamsPtr(params);
	return params != nullptr;
}

// The kernel table is filled once: later contexts leave it alone (a slot swapped by a test stays
// swapped), and the first context after gUseSpecificHooks changed fills it again, with the plain
// kernels for 0.
TEST(Hooks, FilledOnceAndAgainWhenTheSwitchChanges)
{
	const uint8_t saved = gUseSpecificHooks;
	ASSERT_TRUE(MakeContext());
	KorvHooks installed;
	memset(&installed, 0x5A, sizeof installed);
	InitHooks(&installed);
	EXPECT_EQ(memcmp(&gHooks, &installed, sizeof gHooks), 0);

	gHooks.intraBlit = nullptr;
	ASSERT_TRUE(MakeContext());
	EXPECT_EQ(gHooks.intraBlit, nullptr);
	gHooks.intraBlit = installed.intraBlit;

	gUseSpecificHooks = 0;
	ASSERT_TRUE(MakeContext());
	EXPECT_EQ(gHooks.inverseDCT, &IDCT_Fast);
	KorvHooks plain;
	InitHooks(&plain);
	EXPECT_EQ(memcmp(&gHooks, &plain, sizeof gHooks), 0);

	gUseSpecificHooks = saved;
	ASSERT_TRUE(MakeContext());
	EXPECT_EQ(memcmp(&gHooks, &installed, sizeof gHooks), 0);
}

TEST(Helpers, SmallArithmetic)
{
	EXPECT_EQ(Min3(4, -2, 7), -2);
	EXPECT_EQ(Min3(INT32_MIN, 0, INT32_MAX), INT32_MIN);
	EXPECT_EQ(Min8(8, 7, 6, 5, 4, 3, 2, -9), -9);
	EXPECT_EQ(Max8(-8, 7, 6, 50, 4, 3, 2, 1), 50);
	EXPECT_EQ(Clamp(5, 0, 3), 3);
	EXPECT_EQ(Clamp(-5, 0, 3), 0);
	EXPECT_EQ(Clamp(2, 0, 3), 2);
	EXPECT_EQ(Clamp(5, 7, 3), 3);  // high wins when the range is empty
	EXPECT_EQ(Clamp(-5, 7, 3), 7);
	EXPECT_EQ(Clip(5, 10, 0), 5);
	EXPECT_EQ(Clip(-3, 10, 0), 0);
	EXPECT_EQ(Clip(12, 10, 0), 10);
	EXPECT_EQ(Clip(12, 0, 10), 10);
	EXPECT_EQ(Sign(0), 1);
	EXPECT_EQ(Sign(-7), -1);
	EXPECT_EQ(Sign(INT32_MIN), -1);
	EXPECT_EQ(Condition(0), 0);
	EXPECT_EQ(Condition(-3), 1);
	EXPECT_FALSE(DeblockEnabled());
	EXPECT_FALSE(DeringEnabled());
}

TEST(Helpers, Sort16)
{
	std::mt19937 rng(5);
	for (uint32_t n : {0u, 1u, 2u, 9u, 64u}) {
		int16_t source[64], sorted[64], result[64];
		for (uint32_t i = 0; i < n; i++)
			source[i] = int16_t(rng() % 200 - 100);
		source[0] = n ? INT16_MIN : 0;
		int16_t copy[64];
		memcpy(copy, source, sizeof copy);
		std::copy(source, source + n, sorted);
		std::sort(sorted, sorted + n);
		memset(result, 0x7F, sizeof result);
		Sort16(source, result, n);
		EXPECT_TRUE(std::equal(sorted, sorted + n, result)) << n;
		EXPECT_EQ(memcmp(copy, source, sizeof copy), 0);  // the source stays as it was
		if (n < 64) {
			EXPECT_EQ(result[n], 0x7F7F);  // nothing past n is written
		}
	}
}

TEST(HelpersDeathTest, PanicWritesTheCrashLogAndExits)
{
	char directory[] = "/tmp/korvo_panic_XXXXXX";
	ASSERT_NE(mkdtemp(directory), nullptr);
	const std::string log = std::string(directory) + "/KorvoCrashLog";
	{
		std::ofstream earlier(log);
		earlier << "earlier line\n";
	}
	EXPECT_EXIT(
	        {
		        if (chdir(directory) != 0)
			        abort();
		        Panic(-42);
	        },
	        ::testing::ExitedWithCode(1), "");
	std::ifstream in(log);
	const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	EXPECT_EQ(text, "earlier line\nunhandled exception (ID# -42) KorvoV3\n");
	remove(log.c_str());
	rmdir(directory);
}

}  // namespace
