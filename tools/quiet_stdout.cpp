// Keeps mediaconv's standard output clean: the add-ons printf their diagnostics to descriptor 1, so it
// is pointed at /dev/null (or standard error) and the tool writes through duplicates of the originals.
#include <fcntl.h>
#include <unistd.h>

#include "console.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

FILE* gOut = stdout;
FILE* gErr = stderr;
int gSavedOut = -1, gSavedErr = -1;

}  // namespace

void Console::Divert(bool verbose)
{
	if (gSavedOut >= 0)
		return;
	fflush(stdout);
	fflush(stderr);
	gSavedOut = dup(STDOUT_FILENO);
	gSavedErr = dup(STDERR_FILENO);
	if (gSavedOut < 0 || gSavedErr < 0)
		return;
	gOut = fdopen(gSavedOut, "w");
	gErr = fdopen(gSavedErr, "w");
	if (!gOut || !gErr) {
		gOut = stdout;
		gErr = stderr;
		return;
	}
	setvbuf(gErr, nullptr, _IONBF, 0);
#if defined(__SANITIZE_ADDRESS__)
	// A sanitizer report must still reach the real standard error.
	__sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(gSavedErr)));
#endif
	int sink = verbose ? dup(gSavedErr) : open("/dev/null", O_WRONLY);
	if (sink >= 0) {
		dup2(sink, STDOUT_FILENO);
		dup2(sink, STDERR_FILENO);
		close(sink);
	}
}

void Console::Restore()
{
	if (gSavedOut < 0)
		return;
	fflush(stdout);
	fflush(stderr);
	fflush(gOut);
	fflush(gErr);
	dup2(gSavedOut, STDOUT_FILENO);
	dup2(gSavedErr, STDERR_FILENO);
}

FILE* Console::Out() { return gOut; }

FILE* Console::Err() { return gErr; }

bool Console::ErrIsTerminal() { return isatty(gSavedErr >= 0 ? gSavedErr : STDERR_FILENO) == 1; }
