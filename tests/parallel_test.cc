// The row split and the thread count behind it.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/parallel.h"
#include "corvix/error.h"
#include "corvix/threads.h"

namespace corvix {
namespace {

// Puts the process's count back as it was found.
class ThreadCount : public ::testing::Test {
 protected:
  void TearDown() override { corvix_set_threads(0); }
};

// Runs are consecutive, non-empty, cover every row once and are as many as asked (or as
// rows there are), including row counts just below and at odd multiples of the split.
TEST(RowSplit, EveryRowOnceInConsecutiveRuns) {
  for (int64_t runs : {1, 2, 3, 7})
    for (int64_t rows :
         {int64_t{0}, int64_t{1}, runs - 1, runs, runs + 1, int64_t{577}, int64_t{1081}}) {
      std::mutex m;
      std::vector<std::pair<int64_t, int64_t>> spans;
      auto body = [&](int64_t begin, int64_t end) {
        std::lock_guard<std::mutex> lock(m);
        spans.emplace_back(begin, end);
      };
      run_rows(
          rows, runs,
          [](void *c, int64_t b, int64_t e) { (*static_cast<decltype(body) *>(c))(b, e); }, &body);
      std::sort(spans.begin(), spans.end());
      EXPECT_EQ(int64_t(spans.size()), std::min(rows, runs)) << runs << " runs, rows " << rows;
      int64_t next = 0;
      for (const auto &[begin, end] : spans) {
        EXPECT_TRUE(begin == next && begin < end)
            << runs << " runs, rows " << rows << ": " << begin;
        next = end;
      }
      EXPECT_EQ(next, rows);
    }
}

// Small calls stay whole, a run takes at least the least work, and never more runs than rows
// (large calls: CountHonouredAndNestedSplitsStayOnTheirThread).
TEST(RowSplit, RunsFollowWorkAndRows) {
  EXPECT_EQ(run_count(0, kMinRunWork * 100, 4), 0);
  EXPECT_EQ(run_count(1080, kMinRunWork * 2 - 1, 4), 1);
  EXPECT_EQ(run_count(1080, kMinRunWork * 2, 4), 2);
  EXPECT_EQ(run_count(3, kMinRunWork * 100, 7), 3);
}

TEST(RowSplit, EnvironmentText) {
  // clang-format off
  const std::pair<const char *, int32_t> cases[] = {
      {"1", 1}, {"3", 3}, {"007", 7}, {"256", 256}, {"257", 0}, {"0", 0}, {"-2", 0}, {"+2", 0},
      {" 2", 0}, {"2 ", 0}, {"2x", 0}, {"", 0}, {"four", 0}, {"99999999999999999999", 0},
      {nullptr, 0}};
  // clang-format on
  for (const auto &[text, want] : cases)
    EXPECT_EQ(parse_thread_count(text), want) << (text ? text : "(unset)");
}

TEST_F(ThreadCount, SetReadAndRefuse) {
  ASSERT_EQ(corvix_set_threads(3), 1);
  EXPECT_EQ(corvix_threads(), 3);
  corvix_clear_error();
  EXPECT_EQ(corvix_set_threads(-1), 0);
  EXPECT_EQ(corvix_last_error_class(), CORVIX_E_INVALID);
  EXPECT_EQ(corvix_set_threads(kMaxThreads + 1), 0);
  EXPECT_EQ(corvix_threads(), 3) << "a refused count replaced the one in force";
  ASSERT_EQ(corvix_set_threads(kMaxThreads), 1);
  EXPECT_EQ(corvix_threads(), kMaxThreads);
  ASSERT_EQ(corvix_set_threads(0), 1);
  const int32_t env = parse_thread_count(std::getenv("CORVIX_THREADS"));
  EXPECT_EQ(corvix_threads(), env > 0 ? env : available_cores());
}

// A large call is cut into a few runs per thread of the count (one thread: one run) on no
// more threads than the count; a split inside a run stays on that run's thread and still
// covers its rows.
TEST_F(ThreadCount, CountHonouredAndNestedSplitsStayOnTheirThread) {
  for (int32_t n : {1, 2, 3, 7}) {
    ASSERT_EQ(corvix_set_threads(n), 1);
    std::mutex m;
    std::set<std::thread::id> threads;
    int calls = 0;
    std::atomic<int64_t> rows{0};
    std::atomic<bool> moved{false};
    for_rows(1000, kMinRunWork * 1000, [&](int64_t begin, int64_t end) {
      const auto outer = std::this_thread::get_id();
      for_rows(100, kMinRunWork * 100, [&](int64_t b, int64_t e) {
        if (std::this_thread::get_id() != outer) moved = true;
        rows += (e - b) * (end - begin);
      });
      std::lock_guard<std::mutex> lock(m);
      threads.insert(outer);
      ++calls;
    });
    EXPECT_EQ(calls, n == 1 ? 1 : n * kRunsPerThread);
    EXPECT_LE(int(threads.size()), n);
    EXPECT_EQ(rows, 100000);
    EXPECT_FALSE(moved) << n;
  }
}

// A thread held up in a run leaves the rest of its share to the others. The caller's first
// run waits for a helper to take one; that run then waits until every other run is done,
// which happens only if the caller takes over the helper's remaining runs instead of
// waiting for them.
TEST_F(ThreadCount, AHeldUpThreadLeavesItsRunsToTheOthers) {
  if (available_cores() < 2) GTEST_SKIP() << "one core: no helper thread";
  corvix_set_threads(2);
  const auto caller = std::this_thread::get_id();
  const int64_t runs = 2 * kRunsPerThread;
  std::atomic<int64_t> done{0};
  std::atomic<bool> held{false}, caller_waited{false}, waited_out{false};
  const auto wait_for = [](const auto &ready) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ready() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return ready();
  };
  for_rows(runs, kMinRunWork * 1000, [&](int64_t begin, int64_t end) {
    if (std::this_thread::get_id() == caller) {
      if (!caller_waited.exchange(true)) wait_for([&] { return held.load(); });
    } else if (!held.exchange(true)) {
      waited_out = !wait_for([&] { return done == runs - 1; });
    }
    done += end - begin;
  });
  if (!held) GTEST_SKIP() << "no helper thread took a run within 10 s";
  EXPECT_FALSE(waited_out) << "the held-up thread's other runs were left to it";
  EXPECT_EQ(done, runs);
}

// The default is the cores the thread may run on, not the machine's: a thread held to one
// core sees 1.
TEST(ThreadDefault, FollowsAffinity) {
  cpu_set_t saved;
  ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
  int first = 0;
  while (!CPU_ISSET(first, &saved)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  const int32_t cores = available_cores();
  sched_setaffinity(0, sizeof saved, &saved);
  EXPECT_EQ(cores, 1);
  EXPECT_EQ(available_cores(), CPU_COUNT(&saved));
}

// Hosts fork; a child must still be able to split work (some thread runtimes hang there).
TEST_F(ThreadCount, SplitsAfterFork) {
  corvix_set_threads(2);
  for_rows(100, kMinRunWork * 100, [](int64_t, int64_t) {});  // the helper threads now run
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(20);  // a hang ends the child by a signal
    std::atomic<int64_t> n{0};
    for_rows(100, kMinRunWork * 100, [&](int64_t b, int64_t e) { n += e - b; });
    _exit(n == 100 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
}

// Run by ctest a second time with CORVIX_THREADS set (see CMakeLists.txt).
TEST(ThreadDefault, EnvironmentChosen) {
  const char *text = std::getenv("CORVIX_THREADS");
  if (text == nullptr) GTEST_SKIP() << "CORVIX_THREADS not set for this run";
  const int32_t want = parse_thread_count(text);
  EXPECT_EQ(corvix_threads(), want > 0 ? want : available_cores());
}

}  // namespace
}  // namespace corvix
