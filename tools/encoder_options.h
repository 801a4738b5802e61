// Handing settings to the codecs: the quality through an encoder's encode parameters; --artifact-reduction,
// --optimal, --bitrate, --keyint and --tune to a video encoder, and --threads to a video encoder or
// decoder, through the parameters of its web named "Artifact Reduction", "Optimal Compression", "Data
// Rate", "Key Frame Interval", "Tuning" (0 classic, 1 better) and "Threads".
#pragma once

#include <string>

class BMediaTrack;
struct Options;

// Hands the quality to the track's encoder; a quality given on the command line that the encoder
// cannot take is a usage error naming `codec`. With --bitrate the quality is the encoder's lowest
// allowed, none unless --quality names one.
void SetQuality(BMediaTrack* track, const Options& options, const std::string& codec);

// Turns the requested settings on in the track's encoder; throws Failure naming `output` when the
// encoder offers no way to receive one that was asked for. Returns the tuning set ("classic" or
// "better"), "" for an encoder without the choice.
std::string ApplyEncoderOptions(BMediaTrack* track, const Options& options, const std::string& output);

// Gives the track's video encoder or decoder the threads of --threads (by default the number of
// cores) through a "Threads" parameter of its web. A codec without one works as it does; when
// --threads was given, a warning names `file`. Throws Failure when the codec refuses the count.
void ApplyThreads(BMediaTrack* track, const Options& options, const std::string& file);
