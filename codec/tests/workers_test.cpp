// The worker pool's passes: every row and every cell runs exactly once, a wavefront cell always
// finds its left, above-left, above and above-right neighbours finished, and the results of a
// computation that depends on exactly those neighbours equal the raster-order ones for any count.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "workers_internal.h"

namespace {

// Allocations this thread may still make before one fails; negative: none fails.
thread_local int64_t tAllocationsLeft = -1;

bool AllocationFails() { return tAllocationsLeft >= 0 && tAllocationsLeft-- == 0; }

void* Allocate(size_t size)
{
	if (AllocationFails())
		throw std::bad_alloc();
	if (void* p = malloc(size ? size : 1))
		return p;
	throw std::bad_alloc();
}

void* AllocateNoThrow(size_t size) noexcept { return AllocationFails() ? nullptr : malloc(size ? size : 1); }

}  // namespace

// The program's own allocator, so that a test can make one of the pool's allocations fail. Once GCC
// inlines these into a caller it takes the free() for a mismatch with operator new, which here it is not.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return AllocateNoThrow(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return AllocateNoThrow(size); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

namespace {

TEST(Workers, NoPoolForOneThreadAndAtMostTheLimit)
{
	EXPECT_EQ(Workers_New(0, 10), nullptr);
	EXPECT_EQ(Workers_New(1, 10), nullptr);
	EXPECT_EQ(Workers_Threads(nullptr), 1u);
	KorvWorkers* workers = Workers_New(3, 10);
	ASSERT_NE(workers, nullptr);
	EXPECT_EQ(Workers_Threads(workers), 3u);
	Workers_Dispose(workers);
	workers = Workers_New(1000, 1);
	ASSERT_NE(workers, nullptr);
	EXPECT_EQ(Workers_Threads(workers), uint32_t(kMaxThreads));
	Workers_Dispose(workers);
	Workers_Dispose(nullptr);
}

TEST(Workers, EveryRowRunsOncePerPass)
{
	for (uint32_t threads = 1; threads <= 4; ++threads) {
		KorvWorkers* workers = Workers_New(threads, 40);
		for (uint32_t rows : {0u, 1u, 2u, 3u, 17u, 40u}) {
			std::vector<std::atomic<int>> runs(rows);
			for (int pass = 0; pass < 5; ++pass)
				ForEachRow(workers, rows, [&](uint32_t row) { runs[row].fetch_add(1); });
			for (uint32_t row = 0; row < rows; ++row)
				EXPECT_EQ(runs[row].load(), 5) << threads << " threads, row " << row << " of " << rows;
		}
		Workers_Dispose(workers);
	}
}

// A grid where each cell is a hash of its left, above-left, above and above-right cells: any cell
// that ran before one of those would take a different value, and the mark left by a cell running
// while a neighbour it reads is unfinished is caught directly.
std::vector<uint32_t> HashGrid(KorvWorkers* workers, uint32_t rows, uint32_t columns, std::atomic<int>* early,
                               uint32_t span = 1)
{
	std::vector<uint32_t> grid(size_t{rows} * columns, 0);
	std::vector<std::atomic<uint8_t>> done(size_t{rows} * columns);
	WavefrontInSpans(workers, rows, columns, span, [&](uint32_t r, uint32_t c) {
		auto at = [&](int64_t rr, int64_t cc) -> uint32_t {
			if (rr < 0 || cc < 0 || cc >= int64_t(columns))
				return 7;
			const size_t i = size_t(rr) * columns + size_t(cc);
			if (!done[i].load(std::memory_order_acquire))
				early->fetch_add(1);
			return grid[i];
		};
		// Uneven work, so that rows catch up with the rows above them.
		for (volatile uint32_t spin = 0; spin < (r * 7 + c * 13) % 5 * 2000;)
			spin = spin + 1;
		uint32_t h = r * 2654435761u ^ c * 40503u;
		h = (h ^ at(r, int64_t(c) - 1)) * 16777619u;
		h = (h ^ at(int64_t(r) - 1, int64_t(c) - 1)) * 16777619u;
		h = (h ^ at(int64_t(r) - 1, c)) * 16777619u;
		h = (h ^ at(int64_t(r) - 1, int64_t(c) + 1)) * 16777619u;
		grid[size_t(r) * columns + c] = h;
		done[size_t(r) * columns + c].store(1, std::memory_order_release);
	});
	return grid;
}

TEST(Workers, WavefrontCellsSeeTheirNeighboursFinished)
{
	std::atomic<int> early{0};
	const std::vector<uint32_t> expected = HashGrid(nullptr, 23, 9, &early);
	for (uint32_t threads = 2; threads <= 5; ++threads) {
		KorvWorkers* workers = Workers_New(threads, 23);
		for (int pass = 0; pass < 20; ++pass) {
			EXPECT_TRUE(HashGrid(workers, 23, 9, &early) == expected) << threads << " threads, pass " << pass;
			EXPECT_TRUE(HashGrid(workers, 5, 1, &early) == HashGrid(nullptr, 5, 1, &early)) << "one column";
			EXPECT_TRUE(HashGrid(workers, 1, 7, &early) == HashGrid(nullptr, 1, 7, &early)) << "one row";
		}
		Workers_Dispose(workers);
	}
	EXPECT_EQ(early.load(), 0);
}

// Cells run in spans: the last cell of a span still finds the cell above-right of it finished, for
// spans that divide the row, that do not, and that are longer than it.
TEST(Workers, WavefrontSpansKeepTheNeighbourOrder)
{
	std::atomic<int> early{0};
	const std::vector<uint32_t> expected = HashGrid(nullptr, 17, 12, &early);
	for (uint32_t threads = 2; threads <= 4; ++threads) {
		KorvWorkers* workers = Workers_New(threads, 17);
		for (uint32_t span : {0u, 2u, 3u, 4u, 5u, 11u, 12u, 40u}) {
			for (int pass = 0; pass < 8; ++pass)
				EXPECT_TRUE(HashGrid(workers, 17, 12, &early, span) == expected)
				        << threads << " threads, span " << span << ", pass " << pass;
			EXPECT_TRUE(HashGrid(nullptr, 17, 12, &early, span) == expected) << "alone, span " << span;
		}
		Workers_Dispose(workers);
	}
	EXPECT_EQ(early.load(), 0);
}

// Each allocation of a four-thread pool failing in turn: the pool is refused or starts with fewer
// helpers, never a crash or a leak, and its passes still run every row and cell exactly once in the
// right order.
TEST(Workers, APoolShortOfMemoryRunsOnFewerThreads)
{
	std::atomic<int> early{0};
	const std::vector<uint32_t> expected = HashGrid(nullptr, 6, 5, &early);
	std::set<uint32_t> counts;  // threads of the pools made; 0 for none
	for (int64_t fail = 0;; ++fail) {
		tAllocationsLeft = fail;
		KorvWorkers* workers = Workers_New(4, 6);
		const bool failed = tAllocationsLeft < 0;
		tAllocationsLeft = -1;
		if (!failed) {
			EXPECT_EQ(Workers_Threads(workers), 4u);
			Workers_Dispose(workers);
			break;
		}
		counts.insert(workers ? Workers_Threads(workers) : 0);
		std::vector<std::atomic<int>> runs(6);
		ForEachRow(workers, 6, [&](uint32_t row) { runs[row].fetch_add(1); });
		for (const std::atomic<int>& run : runs)
			EXPECT_EQ(run.load(), 1) << "allocation " << fail;
		EXPECT_TRUE(HashGrid(workers, 6, 5, &early) == expected) << "allocation " << fail;
		Workers_Dispose(workers);
	}
	EXPECT_EQ(early.load(), 0);
	// Refused outright (the pool or its counters), no helper (their list), one or two of three.
	EXPECT_EQ(counts, (std::set<uint32_t>{0, 1, 2, 3}));
}

// Each row retires once, only when it and the whole row below are done, and no cell runs after the
// retirement of a row it reads; alone, the rows retire in order after every cell.
TEST(Workers, RowsRetireOnceNothingReadsThem)
{
	for (uint32_t threads = 1; threads <= 4; ++threads) {
		KorvWorkers* workers = Workers_New(threads, 12);
		for (const auto& [rows, columns] : {std::pair{12u, 7u}, {1u, 5u}, {9u, 1u}, {2u, 2u}, {12u, 2u}}) {
			std::vector<std::atomic<uint8_t>> done(size_t{rows} * columns), retired(rows);
			std::atomic<int> late{0};
			std::vector<std::atomic<int>> retirements(rows);
			std::vector<uint32_t> order;
			std::mutex orderLock;
			auto at = [&](uint32_t r, uint32_t c) { return size_t{r} * columns + c; };
			Wavefront(
			        workers, rows, columns,
			        [&](uint32_t r, uint32_t c) {
				        for (volatile uint32_t spin = 0; spin < (r * 5 + c * 3) % 4 * 1500;)
					        spin = spin + 1;
				        // Reading a retired row would be a cell running too late.
				        if ((r > 0 && retired[r - 1].load()) || retired[r].load())
					        late.fetch_add(1);
				        done[at(r, c)].store(1, std::memory_order_release);
			        },
			        [&](uint32_t r) {
				        for (uint32_t c = 0; c < columns; ++c)
					        if (!done[at(r, c)].load(std::memory_order_acquire) ||
					            (r + 1 < rows && !done[at(r + 1, c)].load(std::memory_order_acquire)))
						        late.fetch_add(1000);
				        for (volatile uint32_t spin = 0; spin < r % 3 * 4000;)
					        spin = spin + 1;
				        retired[r].store(1);
				        retirements[r].fetch_add(1);
				        std::lock_guard<std::mutex> lock(orderLock);
				        order.push_back(r);
			        });
			for (uint32_t r = 0; r < rows; ++r)
				EXPECT_EQ(retirements[r].load(), 1) << threads << " threads, row " << r;
			EXPECT_EQ(late.load(), 0) << threads << " threads, " << rows << "x" << columns;
			if (!workers) {
				for (uint32_t i = 0; i < order.size(); ++i)
					EXPECT_EQ(order[i], i);
			}
		}
		Workers_Dispose(workers);
	}
}

// A row's scratch buffer keeps its bytes and grows on demand; there is none without a pool or
// beyond its rows.
TEST(Workers, RowScratchIsKeptPerRow)
{
	size_t size = 0;
	EXPECT_EQ(Workers_RowScratch(nullptr, 0, 16, &size), nullptr);
	KorvWorkers* workers = Workers_New(2, 3);
	ASSERT_NE(workers, nullptr);
	EXPECT_EQ(Workers_RowScratch(workers, 3, 16, &size), nullptr);
	uint8_t* first = Workers_RowScratch(workers, 1, 100, &size);
	ASSERT_NE(first, nullptr);
	EXPECT_EQ(size, 100u);
	first[99] = 42;
	uint8_t* again = Workers_RowScratch(workers, 1, 10, &size);
	EXPECT_EQ(size, 100u);
	EXPECT_EQ(again, first);
	uint8_t* grown = Workers_RowScratch(workers, 1, 1000, &size);
	ASSERT_NE(grown, nullptr);
	EXPECT_EQ(size, 1000u);
	EXPECT_EQ(grown[99], 42);
	EXPECT_NE(Workers_RowScratch(workers, 0, 1, &size), grown);
	EXPECT_EQ(Workers_RowScratch(workers, 2, size_t(-1), &size), nullptr) << "too large to hold";
	Workers_Dispose(workers);
}

// Rows run behind a lead that makes them ready one by one: each row's task finds what the lead
// wrote for it, and a lead that stops early leaves the rest to its end, when all it wrote is seen.
TEST(Workers, RowsRunBehindTheirLead)
{
	for (uint32_t threads = 1; threads <= 4; ++threads) {
		KorvWorkers* workers = Workers_New(threads, 16);
		for (uint32_t stop : {16u, 5u, 0u}) {
			std::vector<uint32_t> written(16, 0);
			std::vector<std::atomic<int>> runs(16);
			std::atomic<int> wrong{0};
			uint32_t finalCount = 0;
			ForEachRowBehind(
			        workers, 16,
			        [&] {
				        for (uint32_t row = 0; row < stop; ++row) {
					        for (volatile uint32_t spin = 0; spin < 3000;)
						        spin = spin + 1;
					        written[row] = row + 1;
					        Workers_RowsReady(workers, row + 1);
				        }
				        for (uint32_t row = stop; row < 16; ++row)
					        written[row] = 100 + row;
				        finalCount = 16 - stop;
			        },
			        [&](uint32_t row) {
				        const bool leadDone = Workers_AwaitRow(workers, row);
				        runs[row].fetch_add(1);
				        if (written[row] != (row < stop ? row + 1 : 100 + row))
					        wrong.fetch_add(1);
				        if (leadDone && finalCount != 16 - stop)
					        wrong.fetch_add(1);
				        if (!leadDone && row >= stop)
					        wrong.fetch_add(1);
			        });
			for (const std::atomic<int>& run : runs)
				EXPECT_EQ(run.load(), 1) << threads << " threads";
			EXPECT_EQ(wrong.load(), 0) << threads << " threads, lead stops at " << stop;
		}
		Workers_Dispose(workers);
	}
}

// A wavefront taller than the pool was made for runs on the caller alone, still in raster order.
TEST(Workers, WavefrontBeyondThePoolsRowsRunsInOrder)
{
	KorvWorkers* workers = Workers_New(3, 4);
	std::vector<uint32_t> order;
	Wavefront(workers, 6, 3, [&](uint32_t r, uint32_t c) { order.push_back(r * 3 + c); });
	ASSERT_EQ(order.size(), 18u);
	for (uint32_t i = 0; i < 18; ++i)
		EXPECT_EQ(order[i], i);
	Workers_Dispose(workers);
}

}  // namespace
