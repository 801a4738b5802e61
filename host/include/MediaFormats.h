// BMediaFormats: the process-wide registry that names encoded formats in each file family, and the
// enumerations of writable file formats and of encoders that applications use to pick a codec.
#pragma once

#include "MediaDefs.h"

// Every distinct media_format_description gets its own non-zero encoding number the first time
// MakeFormatFor sees it; later calls with the same description get the same number back. One format
// may carry several descriptions (one per family, say), when they are registered in one call.
// The registry is shared by all BMediaFormats objects; Lock/Unlock make a sequence of calls atomic.
class KORVO_HOST_API BMediaFormats {
public:
	BMediaFormats();
	virtual ~BMediaFormats();

	status_t InitCheck();

	// Registers `count` descriptions for one format. `inout_format->type` must be
	// B_MEDIA_ENCODED_AUDIO or B_MEDIA_ENCODED_VIDEO; its encoding is set to the number of the first
	// description already known, or to a fresh number. `flags` is accepted and not needed here.
	status_t MakeFormatFor(const media_format_description* descriptions, int32 count,
	                       media_format* inout_format, uint32 flags = 0, void* _reserved = 0);
	// The format registered for exactly this description (B_MEDIA_BAD_FORMAT if none): the type and
	// encoding set, everything else wildcard.
	status_t GetFormatFor(const media_format_description& description, media_format* out_format);
	// The description in `family` of the format's type and encoding (B_MEDIA_BAD_FORMAT if none).
	status_t GetCodeFor(const media_format& format, media_format_family family,
	                    media_format_description* out_description);

	bool Lock();
	void Unlock();
};

// The file formats applications can write: built-in writers first, then add-on writers, in load
// order. Returns B_BAD_INDEX after the last one; start with *cookie = 0.
KORVO_HOST_API status_t get_next_file_format(int32* cookie, media_file_format* mfi);

// The encoders that can write `input` into files of `mfi`'s family (either may be null: no condition).
// For each match `output` (if not null) gets the encoded format the encoder would produce and `ei` its
// codec info. Returns B_BAD_INDEX after the last one; start with *cookie = 0.
KORVO_HOST_API status_t get_next_encoder(int32* cookie, const media_file_format* mfi,
                                         const media_format* input, media_format* output,
                                         media_codec_info* ei);
