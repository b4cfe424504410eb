// Splitting the rows of one call across threads.
//
//   for_rows(height, row_bytes * kCost, [&](int64_t begin, int64_t end) {
//     for (int64_t y = begin; y < end; ++y) ...;
//   });
//
// The rows [0, rows) are cut into consecutive runs, each handed to the body exactly once.
// How many runs there are depends on the thread count and the work, so a body must give the
// same bytes for a row whichever run it falls in: it writes only its own rows, reads no row
// another run writes, and takes nothing from the run before it (a row that copies "the row
// just made" must make the first row of its run itself).
//
// Bodies run on other threads: they must not allocate (allocations are charged to the
// calling thread's owner), set a failure reason (reasons are per thread) or throw. Do the
// checks and the allocations before the split.
#ifndef CORVIX_CORE_PARALLEL_H
#define CORVIX_CORE_PARALLEL_H

#include <cstdint>
#include <type_traits>
#include <utility>

namespace corvix {

// The most threads a call is split across, whatever is asked.
constexpr int32_t kMaxThreads = 256;

// The least work worth a run of its own, in bytes of a plain streaming pass (read a byte,
// write a byte). Waking a sleeping helper and joining it costs a few microseconds, a small
// part of streaming this much; and a streaming routine gains from a second core only once
// its frame outgrows the core's own cache, which a PAL frame (1.2 MB) about fills. So a
// streaming pass splits from a little over 2 MiB (an HD frame, 6 MB, does), the costlier
// routines from correspondingly smaller frames.
constexpr int64_t kMinRunWork = int64_t{1} << 20;

// Runs per thread that a large call is cut into, taken by whichever thread is free next. A
// thread that joins late (a sleeping helper takes tens of microseconds to wake) or runs
// slower (its core shared with another process) then leaves runs to the others instead of
// holding up the call for a whole share of the frame. On a 2-core virtual machine whose
// cores ran at different speeds, eight runs a thread instead of one cut the two-thread
// times of the HD benchmarks by a tenth to a third; a run costs a few microseconds.
constexpr int32_t kRunsPerThread = 8;

// Weights for the `work` of for_rows: what a routine costs per byte written against a plain
// streaming pass, from single-thread times of the plain forms on HD frames, rounded down to
// powers of two (the faster forms narrow the gaps).
constexpr int64_t kStreamCost = 1;   // fades, levels, table lookups
constexpr int64_t kGatherCost = 4;   // nearest-sample scaling, YUV conversion, remap, dither
constexpr int64_t kFilterCost = 16;  // smoothing, shear, YUV scaling
constexpr int64_t kSampleCost = 64;  // bilinear free rotation

// A thread count from the text of CORVIX_THREADS: a whole decimal number from 1 to
// kMaxThreads, nothing else (no sign, blank or suffix). 0 for anything else: unset, empty,
// 0, negative, too large, not a number.
int32_t parse_thread_count(const char *text);

// The cores this process may run on (its affinity mask, so taskset and container cpusets
// count), at least 1 and at most kMaxThreads.
int32_t available_cores();

// The count in force: the one set through corvix_set_threads, else CORVIX_THREADS as read at
// the first call, else available_cores().
int32_t thread_count();

// Replaces kMinRunWork for the whole process (tests split small frames with 1); 0 restores
// it.
void set_min_run_work(int64_t work);

// How many runs `rows` rows with `work` in all are cut into with `threads` threads: as many
// as give each run at least the least run work, but no more than kRunsPerThread for each
// thread and no more than the rows; 1 with one thread or little work (0 for no rows).
int64_t run_count(int64_t rows, int64_t work, int32_t threads);

// The rows of run `index` of `runs`: [rows * index / runs, rows * (index + 1) / runs).
inline int64_t run_start(int64_t rows, int64_t runs, int64_t index) {
  // rows * index overflows only for row counts no buffer of 32-bit size can hold.
  return rows * index / runs;
}

using RowsBody = void (*)(void *context, int64_t begin, int64_t end);

// Runs body over `runs` runs of [0, rows), on up to `runs` threads, and returns when all are
// done. With one run, or from inside a run, the calling thread does all of them.
void run_rows(int64_t rows, int64_t runs, RowsBody body, void *context);

// The usual entry: `work` estimates the whole call in streaming bytes (bytes written times
// one of the cost weights above).
template <class Body>
void for_rows(int64_t rows, int64_t work, Body &&body) {
  const int64_t runs = run_count(rows, work, thread_count());
  if (runs <= 1) {
    if (rows > 0) body(int64_t{0}, rows);
    return;
  }
  using B = std::remove_reference_t<Body>;
  run_rows(
      rows, runs,
      [](void *context, int64_t begin, int64_t end) { (*static_cast<B *>(context))(begin, end); },
      const_cast<std::remove_const_t<B> *>(&body));
}

// The same over a run of `items` (bytes, pixels, groups) cut only at multiples of `grain`
// items: body(begin, end) gets whole grains but for the last run, which ends at `items`.
template <class Body>
void for_items(int64_t items, int64_t grain, int64_t work, Body &&body) {
  if (items <= 0) return;
  const int64_t grains = (items - 1) / grain + 1;
  for_rows(grains, work, [&](int64_t begin, int64_t end) {
    body(begin * grain, end == grains ? items : end * grain);
  });
}

}  // namespace corvix

#endif
