// The progress line: "[ 45%] 27/60 frames, 120.3 fps, 812 kb/s, eta 0:03", rewritten with \r.
#include "progress.h"

#include <cstdio>

#include "console.h"

Progress::Progress(bool quiet, const char* unit, double total, double unitsPerSecond)
    : fShown(!quiet && Console::ErrIsTerminal()), fUnit(unit), fTotal(total),
      fUnitsPerSecond(unitsPerSecond > 0 ? unitsPerSecond : 1), fStart(std::chrono::steady_clock::now()),
      fLast(fStart)
{
}

Progress::~Progress() { Finish(); }

void Progress::Update(double done, uint64_t bytes)
{
	if (!fShown)
		return;
	auto now = std::chrono::steady_clock::now();
	if (fDrawn && now - fLast < std::chrono::milliseconds(200))
		return;
	fLast = now;
	double elapsed = std::chrono::duration<double>(now - fStart).count();
	double speed = elapsed > 0 ? done / elapsed : 0;
	double mediaSeconds = done / fUnitsPerSecond;
	double kbps = mediaSeconds > 0 ? bytes * 8.0 / mediaSeconds / 1000.0 : 0;
	char line[160];
	int n = 0;
	bool frames = fUnit == "frames";
	if (fTotal > 0) {
		n = snprintf(line, sizeof line, "[%3.0f%%] ", 100.0 * done / fTotal);
		n += snprintf(line + n, sizeof line - n, frames ? "%.0f/%.0f %s" : "%.1f/%.1f %s", done, fTotal,
		              fUnit.c_str());
	} else {
		n = snprintf(line, sizeof line, frames ? "%.0f %s" : "%.1f %s", done, fUnit.c_str());
	}
	n += snprintf(line + n, sizeof line - n, frames ? ", %.1f fps" : ", %.1fx", speed);
	n += snprintf(line + n, sizeof line - n, ", %.0f kb/s", kbps);
	if (fTotal > 0 && speed > 0) {
		int eta = (int)((fTotal - done) / speed + 0.5);
		snprintf(line + n, sizeof line - n, ", eta %d:%02d", eta / 60, eta % 60);
	}
	fprintf(Console::Err(), "\r%-79s", line);
	fflush(Console::Err());
	fDrawn = true;
}

void Progress::Finish()
{
	if (fShown && fDrawn) {
		fprintf(Console::Err(), "\r%79s\r", "");
		fflush(Console::Err());
	}
	fDrawn = false;
}
