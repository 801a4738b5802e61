// A shared library without add-on entry points: the loader must skip it with a reason.
// It exports one unrelated function.
#include "SupportDefs.h"

KORVO_EXPORT int test_not_an_addon() { return 42; }
