// The platform's status codes (Errors.h of the Support Kit), as add-ons and applications see them.
// status_text() gives a short English text for any of them, for messages.
#pragma once

#include "SupportDefs.h"

enum : status_t {
	B_OK = 0,
	B_ERROR = -1,
	B_NO_MEMORY = (status_t)0x80000000,
	B_IO_ERROR = (status_t)0x80000001,
	B_PERMISSION_DENIED = (status_t)0x80000002,
	B_BAD_INDEX = (status_t)0x80000003,
	B_BAD_TYPE = (status_t)0x80000004,
	B_BAD_VALUE = (status_t)0x80000005,
	B_MISMATCHED_VALUES = (status_t)0x80000006,
	B_NAME_NOT_FOUND = (status_t)0x80000007,
	B_NAME_IN_USE = (status_t)0x80000008,
	B_TIMED_OUT = (status_t)0x80000009,
	B_INTERRUPTED = (status_t)0x8000000A,
	B_WOULD_BLOCK = (status_t)0x8000000B,
	B_CANCELED = (status_t)0x8000000C,
	// An object used before it was set up (a track without encoder, a writer without source, ...).
	B_NO_INIT = (status_t)0x8000000D,
	B_BUSY = (status_t)0x8000000E,
	B_NOT_ALLOWED = (status_t)0x8000000F,
	B_BAD_DATA = (status_t)0x80000010,

	B_FILE_ERROR = (status_t)0x80006000,
	B_FILE_EXISTS = (status_t)0x80006002,
	B_ENTRY_NOT_FOUND = (status_t)0x80006003,

	B_LAST_BUFFER_ERROR = (status_t)0x80004007,
	B_MEDIA_BAD_FORMAT = (status_t)0x80004103,
};

// "Bad value", "Last buffer", ...; never null. Unknown codes give "Unknown error".
KORVO_HOST_API const char* status_text(status_t status);
