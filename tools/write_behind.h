// Writing frames behind the reading of the next: a thread of its own runs each frame's writing
// while the caller reads (decodes) the frame after it into a second buffer.
#ifndef MEDIACONV_WRITE_BEHIND_H
#define MEDIACONV_WRITE_BEHIND_H

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WriteBehind {
public:
	// write(frame) is run for every frame handed over, in order, on the writing thread; without one
	// (`behind` false, or no thread to be had) on the caller, at once.
	WriteBehind(size_t frameBytes, bool behind, std::function<void(const uint8_t*)> write);
	// Stops the writing thread after the frame it is writing; what it had not written is dropped.
	~WriteBehind();
	WriteBehind(const WriteBehind&) = delete;
	WriteBehind& operator=(const WriteBehind&) = delete;

	// The buffer to read the next frame into: not the one being written.
	uint8_t* Next() { return fBuffers[fNext].data(); }
	// Hands the frame in Next() to the writing; throws what an earlier frame's writing threw.
	void Submit();
	// Waits until every frame is written; throws what the writing threw.
	void Finish();

private:
	void Run();
	void AwaitIdle(std::unique_lock<std::mutex>& lock);

	std::function<void(const uint8_t*)> fWrite;
	std::vector<uint8_t> fBuffers[2];
	int fNext = 0;
	std::thread fThread;
	std::mutex fLock;
	std::condition_variable fChanged;
	const uint8_t* fPending = nullptr;  // handed over, not yet finished
	bool fStopping = false;
	std::exception_ptr fError;
};

#endif  // MEDIACONV_WRITE_BEHIND_H
