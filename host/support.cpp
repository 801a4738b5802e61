// Support and kernel kit services: status texts and the microsecond clock.
// status_text keeps the platform's wording for the codes this system uses.
#include <ctime>

#include "Errors.h"
#include "OS.h"

const char* status_text(status_t status)
{
	switch (status) {
		case B_OK: return "No error";
		case B_ERROR: return "General error";
		case B_NO_MEMORY: return "Out of memory";
		case B_IO_ERROR: return "I/O error";
		case B_PERMISSION_DENIED: return "Permission denied";
		case B_BAD_INDEX: return "Index not in range for the data set";
		case B_BAD_TYPE: return "Bad argument type passed to function";
		case B_BAD_VALUE: return "Bad value";
		case B_MISMATCHED_VALUES: return "Mismatched values passed to function";
		case B_NAME_NOT_FOUND: return "Name not found";
		case B_NAME_IN_USE: return "Name in use";
		case B_TIMED_OUT: return "Operation timed out";
		case B_INTERRUPTED: return "Interrupted system call";
		case B_WOULD_BLOCK: return "Operation would block";
		case B_CANCELED: return "Operation canceled";
		case B_NO_INIT: return "Initialization failed";
		case B_BUSY: return "Device/File/Resource busy";
		case B_NOT_ALLOWED: return "Operation not allowed";
		case B_BAD_DATA: return "Bad data";
		case B_FILE_ERROR: return "Bad file descriptor";
		case B_FILE_EXISTS: return "File or directory already exists";
		case B_ENTRY_NOT_FOUND: return "No such file or directory";
		case B_LAST_BUFFER_ERROR: return "Last buffer";
		case B_MEDIA_BAD_FORMAT: return "Bad media format";
	}
	return "Unknown error";
}

bigtime_t system_time()
{
	timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	return (bigtime_t)now.tv_sec * 1000000 + now.tv_nsec / 1000;
}
