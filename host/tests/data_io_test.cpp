// BMemoryIO, BMallocIO and BFile: bounds, gaps, seeking, and refusals.
#include <gtest/gtest.h>

#include "DataIO.h"
#include "File.h"
#include "OS.h"
#include "host_test_support.h"

namespace {

TEST(DataIO, MallocIOGrowsAndZeroFillsGaps)
{
	BMallocIO io;
	ASSERT_EQ(io.WriteAt(10, "abc", 3), 3);
	ASSERT_EQ(io.BufferLength(), 13u);
	const char* p = static_cast<const char*>(io.Buffer());
	for (int i = 0; i < 10; i++)
		EXPECT_EQ(p[i], 0);
	EXPECT_EQ(io.Seek(0, SEEK_END), 13);
	EXPECT_EQ(io.Write("de", 2), 2);
	EXPECT_EQ(io.Position(), 15);
	char buf[8];
	EXPECT_EQ(io.ReadAt(11, buf, 8), 4);
	EXPECT_EQ(std::string(buf, 4), "bcde");
	EXPECT_EQ(io.ReadAt(15, buf, 8), 0);
	EXPECT_LT(io.Seek(-1, SEEK_SET), 0);
	EXPECT_LT(io.WriteAt(-1, "x", 1), 0);
	EXPECT_LT(io.WriteAt(INT64_MAX, "x", 1), 0);
}

TEST(DataIO, MemoryIOStaysInsideItsBuffer)
{
	char storage[8] = {};
	BMemoryIO io(storage, sizeof(storage));
	EXPECT_EQ(io.WriteAt(6, "wxyz", 4), 2);  // clipped at the end
	EXPECT_EQ(std::string(storage + 6, 2), "wx");
	EXPECT_EQ(io.WriteAt(8, "z", 1), 0);
	const char text[] = "read only";
	BMemoryIO ro(static_cast<const void*>(text), 9);
	EXPECT_EQ(ro.Write("x", 1), B_NOT_ALLOWED);
	char buf[4];
	EXPECT_EQ(ro.Seek(-3, SEEK_END), 6);
	EXPECT_EQ(ro.Read(buf, 4), 3);
	EXPECT_EQ(std::string(buf, 3), "nly");
	off_t size;
	ASSERT_EQ(ro.GetSize(&size), B_OK);
	EXPECT_EQ(size, 9);
}

TEST(DataIO, FileReadsWritesAndReportsMissingFiles)
{
	const std::string path = TestOutput("bfile.bin");
	{
		BFile f(path.c_str(), B_READ_WRITE | B_CREATE_FILE | B_ERASE_FILE);
		ASSERT_EQ(f.InitCheck(), B_OK);
		EXPECT_EQ(f.Write("hello", 5), 5);
		EXPECT_EQ(f.WriteAt(8, "!", 1), 1);
		off_t size;
		ASSERT_EQ(f.GetSize(&size), B_OK);
		EXPECT_EQ(size, 9);
	}
	BFile f(path.c_str(), B_READ_ONLY);
	ASSERT_EQ(f.InitCheck(), B_OK);
	char buf[16];
	EXPECT_EQ(f.ReadAt(0, buf, sizeof(buf)), 9);
	EXPECT_EQ(std::string(buf, 5), "hello");
	EXPECT_EQ(buf[5], 0);
	EXPECT_LT(f.Write("x", 1), 0);
	BFile missing(TestOutput("no/such/file").c_str(), B_READ_ONLY);
	EXPECT_EQ(missing.InitCheck(), B_ENTRY_NOT_FOUND);
	BFile directory(KORVO_TEST_OUTPUT_DIR, B_READ_ONLY);
	EXPECT_EQ(directory.InitCheck(), B_BAD_TYPE);
}

TEST(DataIO, SystemTimeCountsMicroseconds)
{
	bigtime_t a = system_time();
	bigtime_t b = system_time();
	EXPECT_GE(b, a);
	EXPECT_GT(a, 0);
}

}  // namespace
