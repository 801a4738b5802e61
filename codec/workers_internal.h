// A context's worker threads and the passes over a frame's macroblock rows that run on them: plain
// row passes, and wavefronts in which a row follows the row above one macroblock behind.
#ifndef KORVO_WORKERS_INTERNAL_H
#define KORVO_WORKERS_INTERNAL_H

#include <stdint.h>

#include <type_traits>
#include <utility>

#include "korvo.h"

// More threads than this are taken as this many.
enum { kMaxThreads = 32 };

// A pool of `threads` - 1 helper threads (the thread that runs a pass is the last one) for frames
// of up to `rows` macroblock rows; fewer when the system refuses a thread. Null when threads is 0
// or 1 or memory runs out: the passes then run on the caller alone, with the same results.
KorvWorkers* Workers_New(uint32_t threads, uint32_t rows);
void Workers_Dispose(KorvWorkers* workers);
// Threads a pass runs on, the caller included (1 without workers), and the count asked for.
uint32_t Workers_Threads(const KorvWorkers* workers);
uint32_t Workers_Requested(const KorvWorkers* workers);

// Gives the context the workers its threadCount asks for (no more than its macroblock rows), or
// none for 0 or 1; kept from frame to frame while the count stays.
void Params_PrepareWorkers(KorvParams* params);

// task(arg, row) once for every row in [0, rows), each on one thread, rows begun in increasing
// order; returns when all are done. The rows must not depend on each other.
typedef void (*RowTask)(void* arg, uint32_t row);
void Workers_ForEachRow(KorvWorkers* workers, uint32_t rows, RowTask task, void* arg);

// The same, with lead(leadArg) run by the calling thread meanwhile (and only then does it take rows):
// the lead makes rows ready in order with Workers_RowsReady, and a row's task waits for its row with
// Workers_AwaitRow. Every row counts as ready once the lead returns: Workers_AwaitRow then returns
// true, and everything the lead wrote is visible. Alone: the lead, then the rows (and true).
typedef void (*LeadTask)(void* arg);
void Workers_ForEachRowBehind(KorvWorkers* workers, uint32_t rows, LeadTask lead, void* leadArg, RowTask task,
                              void* arg);
void Workers_RowsReady(KorvWorkers* workers, uint32_t rows);
bool Workers_AwaitRow(KorvWorkers* workers, uint32_t row);

// cell(arg, row, column) once for every cell of a rows x columns grid, each row left to right on one
// thread, cell (r, c) only after cells (r - 1, 0..c + 1) are done: every cell sees its left,
// above-left, above and above-right neighbours finished, as in raster order, and nothing after it
// in raster order that it could touch (cells two columns further right in the row above excepted).
// With `retire`, retire(retireArg, row) runs once for every row as soon as no cell still to run can
// read it (the row below is done; the last row once it is done), on the thread that finished the
// row below: rows retire in any order, side by side with each other and with the cells of later
// rows. Alone: every cell, then every row's retirement in order. A row's thread runs `span` cells
// (0 taken as 1) between two looks at the row above and reports them done together: cells of a
// microsecond or so go in spans of a few, so that two rows' threads do not trade a cache line per cell.
typedef void (*CellTask)(void* arg, uint32_t row, uint32_t column);
void Workers_Wavefront(KorvWorkers* workers, uint32_t rows, uint32_t columns, CellTask cell, void* arg,
                       RowTask retire = nullptr, void* retireArg = nullptr, uint32_t span = 1);

// A buffer of at least `atLeast` bytes (its whole size in *size) for one row's task, kept with the pool
// from pass to pass; null without workers, for a row beyond the pool's or when memory runs out.
uint8_t* Workers_RowScratch(KorvWorkers* workers, uint32_t row, size_t atLeast, size_t* size);

// The same with callables: body(row), or body(row, column) and retire(row).
template <class Body>
void ForEachRow(KorvWorkers* workers, uint32_t rows, Body&& body)
{
	using B = std::remove_reference_t<Body>;
	Workers_ForEachRow(
	        workers, rows, [](void* arg, uint32_t row) { (*static_cast<B*>(arg))(row); }, &body);
}

template <class Lead, class Body>
void ForEachRowBehind(KorvWorkers* workers, uint32_t rows, Lead&& lead, Body&& body)
{
	using L = std::remove_reference_t<Lead>;
	using B = std::remove_reference_t<Body>;
	Workers_ForEachRowBehind(
	        workers, rows, [](void* arg) { (*static_cast<L*>(arg))(); }, &lead,
	        [](void* arg, uint32_t row) { (*static_cast<B*>(arg))(row); }, &body);
}

// A wavefront whose rows' threads run `span` cells at a time.
template <class Body>
void WavefrontInSpans(KorvWorkers* workers, uint32_t rows, uint32_t columns, uint32_t span, Body&& body)
{
	using B = std::remove_reference_t<Body>;
	Workers_Wavefront(
	        workers, rows, columns,
	        [](void* arg, uint32_t row, uint32_t column) { (*static_cast<B*>(arg))(row, column); }, &body,
	        nullptr, nullptr, span);
}

template <class Body>
void Wavefront(KorvWorkers* workers, uint32_t rows, uint32_t columns, Body&& body)
{
	WavefrontInSpans(workers, rows, columns, 1, std::forward<Body>(body));
}

template <class Body, class Retire>
void Wavefront(KorvWorkers* workers, uint32_t rows, uint32_t columns, Body&& body, Retire&& retire)
{
	using B = std::remove_reference_t<Body>;
	using R = std::remove_reference_t<Retire>;
	Workers_Wavefront(
	        workers, rows, columns,
	        [](void* arg, uint32_t row, uint32_t column) { (*static_cast<B*>(arg))(row, column); }, &body,
	        [](void* arg, uint32_t row) { (*static_cast<R*>(arg))(row); }, &retire);
}

// The workers of the context that owns a Vop (none for a bare Vop).
inline KorvWorkers* Vop_Workers(const Vop* vop) { return vop->params ? vop->params->workers : nullptr; }

#endif  // KORVO_WORKERS_INTERNAL_H
