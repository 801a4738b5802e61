// The demo's synthetic material: a video clip with real motion and a stereo test signal.
#pragma once

#include <cstdint>
#include <string>

// A Y4M clip: a textured scene that pans and zooms, an object moving across it, and some noise.
void WriteDemoClip(const std::string& path, uint32_t width, uint32_t height, int frames, uint32_t rate);
// A 16-bit stereo WAV: tones, a logarithmic sweep and a little noise.
void WriteDemoSignal(const std::string& path, double seconds, uint32_t rate);
