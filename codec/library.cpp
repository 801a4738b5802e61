// Library start and stop: the reference-counted InitKorvax / TerminateKorvax that build and free
// the shared tables, and the clamp tables.
#include <stdlib.h>

#include <mutex>

#include "entropy_internal.h"
#include "frame_internal.h"
#include "korvo.h"
std::atomic<int32_t> gKorvaxInitCount;

const int16_t* IClampTable;
const int16_t* PClampTable;

namespace {

constexpr int32_t kClampEntries = 4096;
constexpr int32_t kClampMiddle = 2048;
int16_t* gIClampStorage;
int16_t* gPClampStorage;

// Starts and stops of the library, from any thread: a start returns only once the tables exist.
std::mutex gLibraryMutex;

}  // namespace

int16_t Clamp_Init(void)
{
	if (gIClampStorage && gPClampStorage)
		return kKorvoOK;
	gIClampStorage = static_cast<int16_t*>(malloc(kClampEntries * sizeof(int16_t)));
	gPClampStorage = static_cast<int16_t*>(malloc(kClampEntries * sizeof(int16_t)));
	if (!gIClampStorage || !gPClampStorage) {
		Clamp_Terminate();
		return kKorvoTableAllocFailed;
	}
	for (int32_t i = 0; i < kClampEntries; i++) {
		const int32_t v = i - kClampMiddle;
		gIClampStorage[i] = int16_t(Clamp(v, 0, 255));
		gPClampStorage[i] = int16_t(Clamp(v, -255, 255));
	}
	IClampTable = gIClampStorage + kClampMiddle;
	PClampTable = gPClampStorage + kClampMiddle;
	return kKorvoOK;
}

void Clamp_Terminate(void)
{
	free(gIClampStorage);
	free(gPClampStorage);
	gIClampStorage = gPClampStorage = nullptr;
	IClampTable = PClampTable = nullptr;
}

namespace {

// The last stop frees the tables; called with the library's lock held.
void ReleaseReference()
{
	if (gKorvaxInitCount <= 0 || --gKorvaxInitCount != 0)
		return;
	VLC_Terminate();
	Clamp_Terminate();
}

}  // namespace

int16_t InitKorvax(void)
{
	std::lock_guard<std::mutex> lock(gLibraryMutex);
	if (++gKorvaxInitCount != 1)
		return kKorvoOK;
	// The coefficient decoding tables are built first, then the clamp tables.
	int16_t status = VLC_Init();
	if (status == kKorvoOK)
		status = Clamp_Init();
	if (status != kKorvoOK) {
		ReleaseReference();
		return status;
	}
	Hooks_Install();
	return kKorvoOK;
}

void TerminateKorvax(void)
{
	std::lock_guard<std::mutex> lock(gLibraryMutex);
	ReleaseReference();
}
