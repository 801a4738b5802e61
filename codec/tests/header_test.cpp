// The public header compiles on its own, in C++ with nothing included before it, and keeps the frame
// objects private: a library user sees the context records and the entry points only.
#include "korvo.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace {

// True when T is a complete type at this point of the translation unit.
template <class T, class = void>
struct IsComplete : std::false_type {
};
template <class T>
struct IsComplete<T, std::void_t<decltype(sizeof(T))>> : std::true_type {
};

TEST(Header, StandsAlone)
{
	// What the add-ons touch is complete: the context, its picture and the frame's quantiser.
	static_assert(IsComplete<KorvParams>::value && IsComplete<PixMap>::value && IsComplete<Vop>::value);
	static_assert(std::is_same_v<decltype(KorvParams{}.vop->quant), uint8_t>);
	static_assert(std::is_same_v<decltype(&CompressPixMap), int16_t (*)(KorvParams*)>);
	static_assert(std::is_same_v<decltype(&DecompressPixMap), int16_t (*)(KorvParams*)>);
	// The frame objects are only named, so the core may change them without touching a user.
	static_assert(!IsComplete<Block>::value && !IsComplete<MacroBlock>::value && !IsComplete<Plane>::value);
	EXPECT_EQ(kPixelFormatBGRA, 0x42475241u);
	EXPECT_EQ(kKorvoOK, 0);
}

}  // namespace
