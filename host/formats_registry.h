// Host-internal access to the BMediaFormats registry: the loader watches which formats an add-on
// registers while its register_* entry point runs.
#pragma once

#include <vector>

#include "MediaDefs.h"

namespace BPrivate::media {

// While a capture is set, every MakeFormatFor appends its resulting format and descriptions.
void formats_set_capture(std::vector<media_format>* formats,
                         std::vector<media_format_description>* descriptions);

}  // namespace BPrivate::media
