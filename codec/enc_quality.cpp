// The encoder's quality scale: host quality to the codec's quality index and back, and the VOP
// quantiser that every frame starts from.
#include <math.h>

#include "enc_internal.h"
#include "korvo.h"
int32_t QTToKorveXSpatialQuality(int32_t q)
{
	// A negative quality has no square root; it counts as the lowest quality.
	const double root = q > 0 ? sqrt(double(q)) : 0.0;
	return int32_t((root * 99.0 + 72.0) / 144.0) + 6;
}

int32_t KorveXToQTSpatialQuality(uint32_t k)
{
	const uint32_t d = k - 6;  // for k < 6 the wrapped difference still squares to (6 - k)^2
	return int32_t((d * d * 20736u + 4900u) / 9801u);
}

int32_t KorveXToQTTemporalQuality(void) { return 512; }

int32_t QTToKorveXTemporalQuality(void) { return 512; }

uint8_t Params_VopQuant(uint32_t spatialQuality)
{
	// Outside 0..1024 the mapping would give quantisers below 4 and finally none at all.
	const uint32_t q = spatialQuality > 1024 ? 1024 : spatialQuality;
	return uint8_t(32 - QTToKorveXSpatialQuality(int32_t(q)));
}
