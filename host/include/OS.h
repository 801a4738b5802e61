// Kernel-kit services the add-ons use: the microsecond clock.
// system_time() counts from an arbitrary start and never goes backwards.
#pragma once

#include "SupportDefs.h"

KORVO_HOST_API bigtime_t system_time();
