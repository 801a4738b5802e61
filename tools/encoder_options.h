// Handing --artifact-reduction and --optimal to a video encoder through the parameters of its web
// named "Artifact Reduction" and "Optimal Compression".
#pragma once

#include <string>

class BMediaTrack;
struct Options;

// Turns the requested settings on in the track's encoder; throws Failure naming `output` when the
// encoder offers no way to receive one that was asked for.
void ApplyEncoderOptions(BMediaTrack* track, const Options& options, const std::string& output);
