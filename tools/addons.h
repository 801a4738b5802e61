// Finding what the loaded add-ons offer: encoders by name or by what they write, and the add-on
// folder the tool uses by default.
#pragma once

#include <string>

#include "MediaDefs.h"

// <folder of the executable>/../add-ons/media.
std::string DefaultAddOnFolder();

// The first encoder that writes `input` into files of `file`'s family and whose name contains `name`
// (compared without case and punctuation: "g723" finds "G.723_3"); "" takes the first that fits.
// Throws Failure naming the output file when none does.
media_codec_info FindEncoder(const media_file_format& file, const media_format& input,
                             const std::string& name, const std::string& output);

// "G.723_3" -> "g7233": lower case letters and digits only.
std::string Simplified(const std::string& name);
