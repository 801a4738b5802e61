// Handing --artifact-reduction and --optimal to a video encoder through what it publishes: its
// parameter web or the check boxes of its settings view.
#pragma once

#include <string>

class BMediaTrack;
struct Options;

// Turns the requested settings on in the track's encoder; throws Failure naming `output` when the
// encoder offers no way to receive one that was asked for.
void ApplyEncoderOptions(BMediaTrack* track, const Options& options, const std::string& output);
