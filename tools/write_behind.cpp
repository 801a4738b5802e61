// Writing frames on a thread of its own, one frame behind the reading; the caller's thread sees
// the first failure of the writing at its next hand-over or at the end.
#include "write_behind.h"

#include <system_error>

WriteBehind::WriteBehind(size_t frameBytes, bool behind, std::function<void(const uint8_t*)> write)
    : fWrite(std::move(write))
{
	fBuffers[0].resize(frameBytes);
	if (!behind)
		return;
	fBuffers[1].resize(frameBytes);
	try {
		fThread = std::thread(&WriteBehind::Run, this);
	} catch (const std::system_error&) {
		// No thread: the frames are written on the caller.
	}
}

WriteBehind::~WriteBehind()
{
	if (!fThread.joinable())
		return;
	{
		std::lock_guard<std::mutex> lock(fLock);
		fStopping = true;
	}
	fChanged.notify_all();
	fThread.join();
}

void WriteBehind::Run()
{
	std::unique_lock<std::mutex> lock(fLock);
	for (;;) {
		fChanged.wait(lock, [this] { return fStopping || fPending; });
		if (fStopping)
			return;
		const uint8_t* frame = fPending;
		lock.unlock();
		std::exception_ptr error;
		try {
			fWrite(frame);
		} catch (...) {
			error = std::current_exception();
		}
		lock.lock();
		if (error && !fError)
			fError = error;
		fPending = nullptr;
		fChanged.notify_all();
	}
}

void WriteBehind::AwaitIdle(std::unique_lock<std::mutex>& lock)
{
	fChanged.wait(lock, [this] { return !fPending; });
	if (fError)
		std::rethrow_exception(fError);
}

void WriteBehind::Submit()
{
	if (!fThread.joinable()) {
		fWrite(Next());
		return;
	}
	std::unique_lock<std::mutex> lock(fLock);
	AwaitIdle(lock);
	fPending = Next();
	fNext = 1 - fNext;
	lock.unlock();
	fChanged.notify_all();
}

void WriteBehind::Finish()
{
	if (!fThread.joinable())
		return;
	std::unique_lock<std::mutex> lock(fLock);
	AwaitIdle(lock);
}
