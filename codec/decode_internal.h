// Private helpers of frame decoding and motion compensation, shared with their tests.
// Not part of the public interface in korvo.h.
#ifndef KORVO_DECODE_INTERNAL_H
#define KORVO_DECODE_INTERNAL_H

#include <stdint.h>

// One component of the chrominance vector derived from a luminance vector component m (half-pels):
// m / 2 truncated toward zero, plus 1 unless m is a multiple of 4.
int32_t ChromaVectorComponent(int32_t m);

#endif
