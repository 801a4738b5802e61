// The core's private frame records keep the layout the kernels rely on.
#include "bitstream_internal.h"
#include "frame_internal.h"

#include <gtest/gtest.h>

namespace {

TEST(FrameRecords, Layout)
{
	// 16-byte aligned frame objects and 64-entry blocks.
	static_assert(alignof(Block) == 16 && alignof(MacroBlock) == 16);
	static_assert(sizeof(((Block*)nullptr)->coef) == 128);
	EXPECT_EQ(sizeof(Motion), 4u);
	EXPECT_EQ(kBitStreamFlushSlack, 4u);
}

}  // namespace
