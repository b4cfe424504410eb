// The thread count and the split of one call's rows.
//
// The threads are oneTBB's: its workers are shared with any other TBB user in the process, it
// sizes itself by the affinity mask, a waiting caller takes back runs no worker has picked
// up (so a busy machine degrades to one thread instead of waiting for one), and a child of
// fork() gets working threads again. (GCC's OpenMP runtime hangs in the first parallel
// region of a forked child, and hosts and tests fork.)
#include "core/parallel.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <vector>

#include "core/error.h"
#include "corvix/threads.h"

#if CORVIX_HAVE_TBB
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>
#endif

namespace corvix {
namespace {

// Set through corvix_set_threads; 0 while none is.
std::atomic<int32_t> g_chosen{0};

std::atomic<int64_t> g_min_run_work{kMinRunWork};

// Set while this thread runs a run: a routine called from inside one stays on its thread.
thread_local bool t_in_run = false;

int32_t default_count() {
  static const int32_t count = [] {
    const int32_t from_environment = parse_thread_count(std::getenv("CORVIX_THREADS"));
    return from_environment > 0 ? from_environment : available_cores();
  }();
  return count;
}

void run_one(int64_t rows, int64_t runs, int64_t index, RowsBody body, void *context) {
  const bool outer = t_in_run;
  t_in_run = true;
  body(context, run_start(rows, runs, index), run_start(rows, runs, index + 1));
  t_in_run = outer;
}

}  // namespace

int32_t parse_thread_count(const char *text) {
  if (text == nullptr || *text == '\0') return 0;
  int32_t value = 0;
  for (const char *p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
    value = value * 10 + (*p - '0');
    if (value > kMaxThreads) return 0;
  }
  return value;
}

int32_t available_cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count < 1 ? 1 : (count > kMaxThreads ? kMaxThreads : count);
}

int32_t thread_count() {
  const int32_t chosen = g_chosen.load(std::memory_order_relaxed);
  return chosen > 0 ? chosen : default_count();
}

void set_min_run_work(int64_t work) {
  g_min_run_work.store(work > 0 ? work : kMinRunWork, std::memory_order_relaxed);
}

int64_t run_count(int64_t rows, int64_t work, int32_t threads) {
  if (rows <= 0) return 0;
  if (threads <= 1) return 1;
  int64_t runs = work / g_min_run_work.load(std::memory_order_relaxed);
  if (runs > int64_t{threads} * kRunsPerThread) runs = int64_t{threads} * kRunsPerThread;
  if (runs > rows) runs = rows;
  return runs < 1 ? 1 : runs;
}

void run_rows(int64_t rows, int64_t runs, RowsBody body, void *context) {
  if (rows <= 0) return;
  if (runs > rows) runs = rows;
  if (runs <= 1 || t_in_run) {
    run_one(rows, 1, 0, body, context);
    return;
  }
  // Runs are handed out last first. A body that wrongly leans on the rows of the run before
  // its own then finds them not yet made, whatever the machine's load, instead of finding
  // them done because one thread happened to take the runs in order.
#if CORVIX_HAVE_TBB
  // One task per thread in force, no more threads than the count. Task t first takes the
  // runs of its own share, so from call to call each thread tends to work on the same rows
  // (still in its core's cache when the next routine reads them); then it helps with the
  // shares of the others, so that a thread that starts late or runs slowly (a helper waking
  // from sleep, a core shared with another process) takes fewer runs instead of holding up
  // the call. Isolation keeps a waiting caller from picking up unrelated tasks (another
  // caller's runs) while its own are in flight.
  struct alignas(64) Share {
    std::atomic<int64_t> taken{0};
    int64_t first = 0, end = 0;
  };
  const int64_t tasks = std::min<int64_t>(runs, thread_count());
  std::vector<Share> shares(static_cast<size_t>(tasks));
  for (int64_t t = 0; t < tasks; ++t) {
    shares[static_cast<size_t>(t)].first = runs * t / tasks;
    shares[static_cast<size_t>(t)].end = runs * (t + 1) / tasks;
  }
  tbb::this_task_arena::isolate([&] {
    tbb::parallel_for(
        tbb::blocked_range<int64_t>(0, tasks, 1),
        [&](const tbb::blocked_range<int64_t> &r) {
          for (int64_t t = r.begin(); t != r.end(); ++t)
            for (int64_t k = 0; k < tasks; ++k) {
              Share &share = shares[static_cast<size_t>((t + k) % tasks)];
              for (int64_t i; (i = share.taken.fetch_add(1, std::memory_order_relaxed)) <
                              share.end - share.first;)
                run_one(rows, runs, share.end - 1 - i, body, context);
            }
        },
        tbb::simple_partitioner());
  });
#else
  for (int64_t i = runs - 1; i >= 0; --i) run_one(rows, runs, i, body, context);
#endif
}

}  // namespace corvix

extern "C" {

int32_t corvix_set_threads(int32_t count) {
  if (count < 0 || count > corvix::kMaxThreads)
    return corvix::fail(CORVIX_E_INVALID, "thread count %d is outside 0 to %d", count,
                        corvix::kMaxThreads);
  corvix::g_chosen.store(count, std::memory_order_relaxed);
  return 1;
}

int32_t corvix_threads(void) { return corvix::thread_count(); }

}  // extern "C"
