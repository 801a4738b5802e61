// Which conversions each option of `convert` applies to. An option given to a conversion that cannot
// use it at all is a usage error naming it (exit status 2), never accepted and silently ignored.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class Option;
}

// What a conversion does, as far as its options are concerned; a conversion has several.
enum ConversionTrait : unsigned {
	kVideoEncode = 1u << 0,  // frames coded by a video encoder into a movie
	kVideoDecode = 1u << 1,  // frames decoded from a movie
	kPngInput = 1u << 2,     // a PNG sequence read (PNG files carry no frame rate)
	kAudioEncode = 1u << 3,  // samples coded by an audio encoder (Ogg, or WAV with --codec)
	kAudioOutput = 1u << 4,  // audio written, as PCM or through an encoder
	kAnyConversion = ~0u,
};

// The conversion a command line asks for: its traits and its name for messages.
struct Conversion {
	unsigned traits = 0;
	std::string name;  // "Y4M video to QuickTime movie"
};

class OptionRules {
public:
	// `option` applies to conversions with any of `traits`; `purpose` says what it is for ("sets the
	// frame rate of PNG sequence input"). Returns `option`.
	CLI::Option* Add(CLI::Option* option, unsigned traits, const char* purpose);
	// Throws UsageFailure naming the first option given on the command line that `conversion` cannot
	// use.
	void Check(const Conversion& conversion) const;

private:
	struct Rule {
		CLI::Option* option;
		unsigned traits;
		const char* purpose;
	};
	std::vector<Rule> fRules;
};
