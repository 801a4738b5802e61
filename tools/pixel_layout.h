// Rows of packed 4:2:2 (Y0 U Y1 V) and of 32-bit B G R A pixels turned into each other, BT.601 studio
// range, for pictures whose rows the video add-ons take in only one of the two layouts.
#pragma once

#include <cstdint>

// The video add-ons take rows of at most this many bytes.
constexpr uint64_t kMaxRowBytes = 16383;

void BgraToYuv422(const uint8_t* bgra, uint8_t* yuv, uint32_t width, uint32_t height);
void Yuv422ToBgra(const uint8_t* yuv, uint8_t* bgra, uint32_t width, uint32_t height);
// BT.601 studio-range Y'CbCr of one R'G'B' pixel.
void ToYCbCr(int r, int g, int b, uint8_t* y, uint8_t* cb, uint8_t* cr);
