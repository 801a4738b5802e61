// The bit cursor's reader and writer (most significant bit first, bounded by its data window) and
// the context's stream writer. Private to the codec and its tests.
#ifndef KORVO_BITSTREAM_INTERNAL_H
#define KORVO_BITSTREAM_INTERNAL_H

#include <stdint.h>

#include "korvo.h"

extern "C" {

/* The bit writer's flush may store up to this many bytes past a frame's last byte. */
#define kBitStreamFlushSlack 4u

// The word the writer is filling, one per thread: a frame is written on one thread from its first
// field to its flush, so contexts on different threads write side by side. Its storage is set aside
// when the library is loaded (initial-exec), not allocated at a thread's first frame: an add-on's
// thread that met no memory there would end the process.
extern thread_local uint32_t gBitBuffer __attribute__((tls_model("initial-exec")));

/* Cursors: a reader over the chunk [data, data + size) starting at bit 0 of data (base is data
 * rounded down to a multiple of 4), and a writer over a buffer of capacity bytes. */
void BitStream_InitReader(BitStream* stream, const uint8_t* data, uint32_t size);
void BitStream_InitWriter(BitStream* stream, uint8_t* buffer, uint32_t capacity);

void BitStream_WriteVLC(BitStream* stream, uint32_t code, uint32_t length);
void BitStream_Flush(BitStream* stream);
uint32_t BitStream_PeekBits(const BitStream* stream, uint32_t n);
/* Peek n bits at an arbitrary bit position of the cursor's data, without moving it. */
uint32_t BitStream_PeekBitsAt(const BitStream* stream, uint32_t bitPos, uint32_t n);
uint32_t BitStream_GetBits(BitStream* stream, uint32_t n);
// The bit position just past the reader's data (counted from base, like bitPos).
uint64_t BitStream_EndBits(const BitStream* stream);
// Marks the reader's data as holding an invalid code of `bits` bits at bitPos, when they all lie
// within the data.
void BitStream_NoteInvalid(BitStream* stream, uint32_t bits);
void BitStream_SeekBits(BitStream* stream, uint32_t n);
void BitStream_WriteBlock16(BitStream* stream, const uint32_t* words);
void BitStream_ReadBlock16(BitStream* stream, uint32_t* words);

// A writer over the context's stream: its own buffer up to the allocation, a caller's buffer up
// to streamSize. Every frame and every trial coding writes through one of these.
void Params_InitStreamWriter(KorvParams* params, BitStream* stream);

}  // extern "C"

#endif  // KORVO_BITSTREAM_INTERNAL_H
