// The progress line of long work: shown on standard error only when it is a terminal and not
// --quiet, rewritten in place and at most a few times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class Progress {
public:
	// `total` units (frames, or seconds of audio; 0 when unknown); `unitsPerSecond` converts units to
	// seconds of media for the bit rate.
	Progress(bool quiet, const char* unit, double total, double unitsPerSecond);
	~Progress();
	// `done` units so far and `bytes` of output so far.
	void Update(double done, uint64_t bytes);
	// Clears the line.
	void Finish();

private:
	bool fShown;
	std::string fUnit;
	double fTotal, fUnitsPerSecond;
	std::chrono::steady_clock::time_point fStart, fLast;
	bool fDrawn = false;
};
