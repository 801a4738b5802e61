// Finding the add-ons and what they offer: the add-on folder the tool uses by default, the names
// --codec takes, and encoders by name or by what they write.
#pragma once

#include <string>
#include <vector>

#include "MediaDefs.h"

struct Options;

// The add-on folder beside the tool: <bin>/../lib/korvo/add-ons/media where it is installed, else
// <bin>/../add-ons/media as in the build tree (the first of them that exists).
std::string DefaultAddOnFolder();

// One codec among the loaded encoders (two add-ons of one codec count once).
struct CodecEntry {
	media_codec_info info;
	std::vector<std::string> names;  // what --codec takes: "korvo", "krv1"
	bool video = false;
};
std::vector<CodecEntry> Codecs();

// The codec `name` stands for; throws UsageFailure listing the names there are when none.
CodecEntry CodecNamed(const std::string& name);

// The first encoder that writes `input` into files of `file`'s family, of the codec named `name` ("" for
// any). Throws UsageFailure when the named codec cannot write such files, Failure naming `output`
// when no encoder can.
media_codec_info FindEncoder(const media_file_format& file, const media_format& input,
                             const std::string& name, const std::string& output);

// "G.723_3" -> "g7233": lower case letters and digits only.
std::string Simplified(const std::string& name);

// `mediaconv --version`: the tool's version and each add-on's.
void PrintVersions(const Options& options);
