// The context's worker pool: helper threads that sleep between passes, a pass handing out rows in
// increasing order, and the per-row progress counters that order the cells of a wavefront.
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "workers_internal.h"

namespace {

struct Pass {
	uint32_t rows;
	uint32_t columns;  // 0 for a plain row pass
	uint32_t span;     // columns a row's thread runs between two looks at the row above
	RowTask rowTask;
	CellTask cellTask;
	void* arg;
	LeadTask lead;  // run by the caller before it takes rows
	void* leadArg;
	RowTask retire;  // run on every row of cells once nothing can read it any more
	void* retireArg;
};

// A row's progress that no thread sleeps on.
constexpr uint32_t kNobodyWaits = UINT32_MAX;

}  // namespace

struct KorvWorkers {
	uint32_t requested = 0;
	std::vector<std::thread> helpers;
	std::mutex mutex;
	std::condition_variable wake;      // a new pass, or the end
	std::condition_variable finished;  // the last helper left the pass
	uint64_t generation = 0;
	// The generation again, for helpers that look for the next pass before they sleep, and the
	// helpers still in the pass, for the caller that looks for its end before it sleeps; both change
	// under the mutex too.
	std::atomic<uint64_t> posted{0};
	std::atomic<uint32_t> busy{0};
	bool stopping = false;
	Pass pass{};
	std::atomic<uint32_t> nextRow{0};
	// Cells done per row in the current wavefront, each on a cache line of its own: the row below
	// polls it while its own row's thread bumps it. A thread that sleeps on it says how many cells
	// it waits for, so that the row's thread wakes it once, not at every cell.
	struct alignas(64) Progress {
		std::atomic<uint32_t> cells{0};
		std::atomic<uint32_t> wanted{kNobodyWaits};
	};
	std::unique_ptr<Progress[]> progress;
	uint32_t progressRows = 0;
	// Rows the lead of the current pass has made ready.
	std::atomic<uint32_t> ready{0};
	// A buffer per row that the passes' tasks keep from frame to frame.
	std::unique_ptr<std::vector<uint8_t>[]> scratch;
};

namespace {

// Marks the ready count once the lead has returned.
constexpr uint32_t kLeadDone = 0x80000000u;

uint32_t CellsNeeded(uint32_t column, uint32_t columns)
{
	return column + 2 < columns ? column + 2 : columns;
}

inline void Relax()
{
#if defined(__x86_64__) || defined(__i386__)
	__builtin_ia32_pause();
#endif
}

// Polls before a thread sleeps: between passes about 60 microseconds on this machine's processors,
// for a cell of the row above a few.
constexpr int kPollsBeforeSleep = 2048, kPollsForCells = 256;

// Polls `done` up to `polls` times before the thread sleeps: waking a sleeping thread takes far
// longer than what is usually left to wait. Returns whether it came true.
template <class Done>
bool PollBeforeSleeping(int polls, Done done)
{
	for (int poll = 0; poll < polls; ++poll) {
		if (done())
			return true;
		Relax();
	}
	return false;
}

// Waits until `progress` counts `need` cells. Cells are short and the row above is usually about to
// finish the one awaited, so the thread polls a while before it sleeps.
void AwaitCells(KorvWorkers::Progress& progress, uint32_t need)
{
	if (PollBeforeSleeping(kPollsForCells,
	                       [&] { return progress.cells.load(std::memory_order_acquire) >= need; }))
		return;
	progress.wanted.store(need);
	for (uint32_t seen = progress.cells.load(); seen < need; seen = progress.cells.load())
		progress.cells.wait(seen);
	progress.wanted.store(kNobodyWaits, std::memory_order_relaxed);
}

void CountCell(KorvWorkers::Progress& progress, uint32_t done)
{
	progress.cells.store(done);
	if (progress.wanted.load() <= done)
		progress.cells.notify_all();
}

void RunCells(KorvWorkers* workers, const Pass& pass, uint32_t row)
{
	for (uint32_t first = 0; first < pass.columns; first += pass.span) {
		const uint32_t end = pass.columns - first > pass.span ? first + pass.span : pass.columns;
		if (row > 0)
			AwaitCells(workers->progress[row - 1], CellsNeeded(end - 1, pass.columns));
		for (uint32_t column = first; column < end; ++column)
			pass.cellTask(pass.arg, row, column);
		CountCell(workers->progress[row], end);
	}
	// Nothing reads the row above any more; the last row nobody reads.
	if (pass.retire && row > 0)
		pass.retire(pass.retireArg, row - 1);
	if (pass.retire && row + 1 == pass.rows)
		pass.retire(pass.retireArg, row);
}

// Takes rows until none is left.
void RunRows(KorvWorkers* workers, const Pass& pass)
{
	for (;;) {
		const uint32_t row = workers->nextRow.fetch_add(1, std::memory_order_relaxed);
		if (row >= pass.rows)
			return;
		if (pass.columns)
			RunCells(workers, pass, row);
		else
			pass.rowTask(pass.arg, row);
	}
}

void HelperLoop(KorvWorkers* workers)
{
	std::unique_lock<std::mutex> lock(workers->mutex);
	uint64_t seen = 0;
	for (;;) {
		if (!workers->stopping && workers->generation == seen) {
			lock.unlock();
			PollBeforeSleeping(kPollsBeforeSleep,
			                   [&] { return workers->posted.load(std::memory_order_relaxed) != seen; });
			lock.lock();
		}
		workers->wake.wait(lock, [&] { return workers->stopping || workers->generation != seen; });
		if (workers->stopping)
			return;
		seen = workers->generation;
		const Pass pass = workers->pass;
		lock.unlock();
		RunRows(workers, pass);
		lock.lock();
		if (workers->busy.fetch_sub(1) == 1)
			workers->finished.notify_one();
	}
}

void Run(KorvWorkers* workers, const Pass& pass)
{
	if (workers)
		workers->ready.store(0, std::memory_order_relaxed);
	if (!workers || workers->helpers.empty() || pass.rows < 2) {
		// Alone: the lead, then the rows in order, so every wavefront cell finds its neighbours
		// done; the rows are retired after all are done.
		if (pass.lead)
			pass.lead(pass.leadArg);
		if (workers)
			workers->ready.store(kLeadDone | pass.rows, std::memory_order_relaxed);
		for (uint32_t row = 0; row < pass.rows; ++row) {
			for (uint32_t column = 0; column < pass.columns; ++column)
				pass.cellTask(pass.arg, row, column);
			if (!pass.columns)
				pass.rowTask(pass.arg, row);
		}
		for (uint32_t row = 0; row < pass.rows && pass.retire; ++row)
			pass.retire(pass.retireArg, row);
		return;
	}
	{
		std::lock_guard<std::mutex> lock(workers->mutex);
		workers->pass = pass;
		workers->nextRow.store(0, std::memory_order_relaxed);
		for (uint32_t row = 0; row < pass.rows && pass.columns; ++row) {
			workers->progress[row].cells.store(0, std::memory_order_relaxed);
			workers->progress[row].wanted.store(kNobodyWaits, std::memory_order_relaxed);
		}
		workers->busy.store(uint32_t(workers->helpers.size()));
		workers->generation += 1;
		workers->posted.store(workers->generation);
	}
	workers->wake.notify_all();
	if (pass.lead) {
		pass.lead(pass.leadArg);
		Workers_RowsReady(workers, kLeadDone | pass.rows);
	}
	RunRows(workers, pass);
	PollBeforeSleeping(kPollsBeforeSleep, [&] { return workers->busy.load(std::memory_order_acquire) == 0; });
	std::unique_lock<std::mutex> lock(workers->mutex);
	workers->finished.wait(lock, [&] { return workers->busy.load() == 0; });
}

}  // namespace

KorvWorkers* Workers_New(uint32_t threads, uint32_t rows)
{
	if (threads > kMaxThreads)
		threads = kMaxThreads;
	if (threads <= 1)
		return nullptr;
	KorvWorkers* workers = new (std::nothrow) KorvWorkers;
	if (!workers)
		return nullptr;
	workers->requested = threads;
	workers->progress.reset(new (std::nothrow) KorvWorkers::Progress[rows ? rows : 1]);
	if (!workers->progress) {
		delete workers;
		return nullptr;
	}
	workers->scratch.reset(new (std::nothrow) std::vector<uint8_t>[rows ? rows : 1]);
	if (!workers->scratch) {
		delete workers;
		return nullptr;
	}
	workers->progressRows = rows;
	// Helpers that cannot be started are done without: fewer threads, the same results.
	try {
		workers->helpers.reserve(threads - 1);
		for (uint32_t i = 0; i + 1 < threads; ++i)
			workers->helpers.emplace_back(HelperLoop, workers);
	} catch (const std::system_error&) {
	} catch (const std::bad_alloc&) {
	}
	return workers;
}

void Workers_Dispose(KorvWorkers* workers)
{
	if (!workers)
		return;
	{
		std::lock_guard<std::mutex> lock(workers->mutex);
		workers->stopping = true;
	}
	workers->wake.notify_all();
	for (std::thread& helper : workers->helpers)
		helper.join();
	delete workers;
}

uint32_t Workers_Threads(const KorvWorkers* workers)
{
	return workers ? uint32_t(workers->helpers.size()) + 1 : 1;
}

uint32_t Workers_Requested(const KorvWorkers* workers) { return workers ? workers->requested : 1; }

void Workers_ForEachRow(KorvWorkers* workers, uint32_t rows, RowTask task, void* arg)
{
	Run(workers, Pass{rows, 0, 1, task, nullptr, arg, nullptr, nullptr, nullptr, nullptr});
}

void Workers_ForEachRowBehind(KorvWorkers* workers, uint32_t rows, LeadTask lead, void* leadArg, RowTask task,
                              void* arg)
{
	Run(workers, Pass{rows, 0, 1, task, nullptr, arg, lead, leadArg, nullptr, nullptr});
}

void Workers_RowsReady(KorvWorkers* workers, uint32_t rows)
{
	if (!workers)
		return;
	workers->ready.store(rows, std::memory_order_release);
	workers->ready.notify_all();
}

bool Workers_AwaitRow(KorvWorkers* workers, uint32_t row)
{
	if (!workers)
		return true;
	uint32_t seen = workers->ready.load(std::memory_order_acquire);
	while ((seen & ~kLeadDone) <= row) {
		workers->ready.wait(seen, std::memory_order_acquire);
		seen = workers->ready.load(std::memory_order_acquire);
	}
	return (seen & kLeadDone) != 0;
}

void Workers_Wavefront(KorvWorkers* workers, uint32_t rows, uint32_t columns, CellTask cell, void* arg,
                       RowTask retire, void* retireArg, uint32_t span)
{
	if (columns == 0)
		return;
	if (span == 0)
		span = 1;
	if (workers && rows > workers->progressRows)
		workers = nullptr;  // more rows than counters: in order on the caller
	Run(workers, Pass{rows, columns, span, nullptr, cell, arg, nullptr, nullptr, retire, retireArg});
}

uint8_t* Workers_RowScratch(KorvWorkers* workers, uint32_t row, size_t atLeast, size_t* size)
{
	if (!workers || row >= workers->progressRows)
		return nullptr;
	std::vector<uint8_t>& buffer = workers->scratch[row];
	if (buffer.size() < atLeast) {
		try {
			buffer.resize(atLeast);
		} catch (const std::exception&) {  // out of memory, or a size no vector holds
			return nullptr;
		}
	}
	*size = buffer.size();
	return buffer.data();
}

void Params_PrepareWorkers(KorvParams* params)
{
	const uint32_t rows = params->vop ? params->vop->mbHeight : 0;
	uint32_t wanted =
	        params->threadCount < uint32_t(kMaxThreads) ? params->threadCount : uint32_t(kMaxThreads);
	if (wanted > rows)
		wanted = rows;
	if (params->workers && Workers_Requested(params->workers) == wanted)
		return;
	Workers_Dispose(params->workers);
	params->workers = Workers_New(wanted, rows);
}
