// The tags of a RIFF WAVE file as its 'LIST' chunk of type 'INFO' (INAM, IART, ...).
#pragma once

#include <vector>

#include "Message.h"

namespace BPrivate::media {

// Adds the tags found in the body of a 'LIST' chunk (after its 8-byte chunk header) to `tags`;
// a list of another type or a damaged one adds nothing.
void read_riff_info_tags(const uint8* list, size_t size, BMessage* tags);
// The whole 'LIST' chunk (header included, even length) for `tags`; empty when it has none.
std::vector<uint8> riff_info_chunk(const BMessage& tags);

}  // namespace BPrivate::media
