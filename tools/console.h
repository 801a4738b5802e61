// The tool's own standard output and error, kept apart from the add-ons' diagnostics: while the tool
// runs, descriptors 1 and 2 lead to /dev/null (or to the real standard error with --verbose).
#pragma once

#include <cstdio>

class Console {
public:
	// Moves descriptors 1 and 2 aside; `verbose` sends what the add-ons print to standard error.
	static void Divert(bool verbose);
	// Puts the descriptors back (after flushing what the add-ons left in stdio's buffers).
	static void Restore();
	// The real standard output and standard error (the process's own before Divert).
	static FILE* Out();
	static FILE* Err();
	static bool ErrIsTerminal();
};
