// Small arithmetic helpers, context option helpers and the crash exit.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "frame_internal.h"
#include "korvo.h"
int32_t Min3(int32_t a, int32_t b, int32_t c) { return std::min({a, b, c}); }

int32_t Min8(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g, int32_t h)
{
	return std::min({a, b, c, d, e, f, g, h});
}

int32_t Max8(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g, int32_t h)
{
	return std::max({a, b, c, d, e, f, g, h});
}

int32_t Clamp(int32_t x, int32_t low, int32_t high) { return x > high ? high : std::max(x, low); }

int32_t Clip(int32_t x, int32_t a, int32_t b) { return std::clamp(x, std::min(a, b), std::max(a, b)); }

int32_t Sign(int32_t x) { return x < 0 ? -1 : 1; }

int32_t Condition(int32_t x) { return x != 0; }

void Sort16(const int16_t* source, int16_t* destination, uint32_t n)
{
	std::copy(source, source + n, destination);
	for (bool swapped = n > 1; swapped;) {
		swapped = false;
		for (uint32_t i = 1; i < n; i++) {
			if (destination[i - 1] > destination[i]) {
				std::swap(destination[i - 1], destination[i]);
				swapped = true;
			}
		}
	}
}

bool DeblockEnabled(void) { return false; }

bool DeringEnabled(void) { return false; }

void Params_SetCompressionOptions(KorvParams* params)
{
	params->deblock = 0;
	params->dering = 0;
	params->optimalFrame = 0;
	params->optimalMb = 0;
}

void Params_CopyState(const KorvParams* source, KorvParams* destination)
{
	destination->deblock = source->deblock;
	destination->dering = source->dering;
}

void Panic(int32_t code)
{
	if (FILE* log = fopen("KorvoCrashLog", "a")) {
		fprintf(log, "unhandled exception (ID# %d) KorvoV3\n", int(code));
		fclose(log);
	}
	exit(1);
}
