// The public header compiles on its own, in C++ with nothing included before it.
#include "korvo.h"

#include <gtest/gtest.h>

namespace {

TEST(Header, StandsAlone) {
    // The record sizes the core relies on: 16-byte aligned frame objects and 64-entry blocks.
    static_assert(alignof(Block) == 16 && alignof(MacroBlock) == 16);
    static_assert(sizeof(((Block*)nullptr)->coef) == 128);
    EXPECT_EQ(sizeof(Motion), 4u);
    EXPECT_EQ(kBitStreamFlushSlack, 4u);
}

}  // namespace
