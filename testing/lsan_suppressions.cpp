// Leaks of libraries the tree calls but cannot mend, known to LeakSanitizer in every program of the
// sanitizer build that may meet them (test programs and the tools they run).
//
// libvorbisenc 1.3.7 keeps a block it allocates while setting up a six-channel (5.1) encoder at
// 44.1 or 48 kHz and frees it nowhere, whatever the caller clears.
extern "C" const char* __lsan_default_suppressions()
{
	return "leak:vorbis_encode_setup_init\n";
}
