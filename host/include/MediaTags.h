// Descriptive tags of a media file (title, artist, ...): a BMessage of string fields named by the
// lower-case Vorbis comment names below. Readers hand them out through Extractor::Perform, encoders
// and writers take them through their Perform, BMediaFile passes them between application and both.
#pragma once

#include "SupportDefs.h"

// The tags every container that has tags carries, in a fixed order.
inline constexpr const char* kMediaTagNames[] = {"title", "artist",  "album",       "date",
                                                 "genre", "comment", "tracknumber", "copyright"};

enum : perform_code {
	// Extractor::Perform: `data` is a BMessage* that gets the file's tags.
	B_PERFORM_GET_TAGS = 0x6b746772,  // 'ktgr'
	// Encoder::Perform and MediaWriter::Perform, before the header is committed: `data` is a
	// const BMessage* with the tags to store.
	B_PERFORM_SET_TAGS = 0x6b746777,  // 'ktgw'
};
