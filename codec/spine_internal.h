// Private helpers shared by the context, bit stream and VOP header files of the core.
// Not part of the public interface in korvo.h.
#ifndef KORVO_SPINE_INTERNAL_H
#define KORVO_SPINE_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "korvo.h"

// True when a width x height picture stays inside the macroblock limits of the format.
bool Vop_GeometryFits(uint32_t width, uint32_t height);
// Bytes of the context's own stream buffer for a picture of that size (geometry already checked).
size_t Params_StreamBufferSize(uint32_t width, uint32_t height);
// A writer over the context's stream: its own buffer up to the allocation, a caller's buffer up
// to streamSize. Every frame and every trial coding writes through one of these.
void Params_InitStreamWriter(KorvParams* params, BitStream* stream);

#endif
