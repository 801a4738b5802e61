// The built-in libsndfile reader on hand-made WAV files in memory: seeking by time within the file
// and far past its end at a sample rate where the frame number overflows 64 bits.
#include <gtest/gtest.h>

#include <vector>

#include "DataIO.h"
#include "MediaFile.h"
#include "MediaTrack.h"

namespace {

void PutLE(std::vector<uint8>& out, uint32 value, int bytes)
{
	for (int i = 0; i < bytes; i++)
		out.push_back((uint8)(value >> (8 * i)));
}

// A mono 16-bit PCM WAV of `frames` samples at `rate`.
std::vector<uint8> MonoWav(uint32 rate, uint32 frames)
{
	std::vector<uint8> w;
	const uint32 data = frames * 2;
	w.insert(w.end(), {'R', 'I', 'F', 'F'});
	PutLE(w, 36 + data, 4);
	w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
	PutLE(w, 16, 4);
	PutLE(w, 1, 2);  // PCM
	PutLE(w, 1, 2);  // channels
	PutLE(w, rate, 4);
	PutLE(w, rate * 2, 4);
	PutLE(w, 2, 2);
	PutLE(w, 16, 2);
	w.insert(w.end(), {'d', 'a', 't', 'a'});
	PutLE(w, data, 4);
	for (uint32 i = 0; i < frames; i++)
		PutLE(w, i * 37, 2);
	return w;
}

TEST(SndfileReader, SeekByTimeLandsInsideAndRefusesPastTheEnd)
{
	// 8000 Hz: 1000 frames last 125 ms. 2 GHz: INT64_MAX microseconds are about 1.8e22 frames.
	for (uint32 rate : {8000u, 2000000000u}) {
		const std::vector<uint8> bytes = MonoWav(rate, 1000);
		BMemoryIO io(bytes.data(), bytes.size());
		BMediaFile file(&io);
		ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
		BMediaTrack* track = file.TrackAt(0);
		ASSERT_NE(track, nullptr);
		ASSERT_EQ(track->CountFrames(), 1000) << rate;

		// 62500 us is frame 500 at 8000 Hz; at 2 GHz only time 0 lies inside the file.
		bigtime_t time = rate == 8000 ? 62500 : 0;
		ASSERT_EQ(track->SeekToTime(&time), B_OK) << rate;
		EXPECT_EQ(track->CurrentFrame(), rate == 8000 ? 500 : 0) << rate;

		time = INT64_MAX;
		EXPECT_EQ(track->SeekToTime(&time), B_BAD_VALUE) << rate;
		time = (bigtime_t)(2000.0 * 1e6 / rate) + 1;
		EXPECT_EQ(track->SeekToTime(&time), B_BAD_VALUE) << rate;
	}
}

}  // namespace
