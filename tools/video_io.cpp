// What every video reader and writer shares: seeking by reading on, sound only where a movie writer has
// a track for it, and the frame rate as a Y4M fraction.
#include <cmath>
#include <vector>

#include "video_io.h"

void VideoReader::SeekTo(int64_t index)
{
	std::vector<uint8_t> scratch(fParams.FrameBytes());
	while (fNext < index) {
		if (!Read(scratch.data()))
			break;
	}
}

// Only movie writers take sound, and only when opened with it; the conversion never asks others.
void VideoWriter::WriteSound(const int16_t*, int64_t)
{
	throw std::logic_error("sound written to a video output without a sound track");
}

void RateAsFraction(double rate, uint32_t* num, uint32_t* den)
{
	*num = 25;
	*den = 1;
	if (!(rate > 0) || rate > 1000)
		return;
	for (uint32_t d : {1u, 1001u, 1000u}) {
		double n = rate * d;
		if (std::fabs(n - std::round(n)) < 0.01 * d / 1000.0 + 1e-3) {
			*num = (uint32_t)std::round(n);
			*den = d;
			return;
		}
	}
	*num = (uint32_t)std::round(rate * 1000);
	*den = 1000;
}
