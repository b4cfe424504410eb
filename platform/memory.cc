// The segment: a 4 GiB sparse memfd, sealed so no host can shrink or grow it, mapped once
// per process. Address 0 and the first 64 KiB are never handed out and are inaccessible, so
// a null address faults like a null pointer.
#include "platform/memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>

#include "corvix/platform.h"
#include "platform/owner_ids.h"
#include "platform/range_allocator.h"

// Under AddressSanitizer everything of the segment that is not a live block is poisoned, so a
// routine that runs past its block inside the segment is reported like a heap overflow.
#if defined(__SANITIZE_ADDRESS__)
#define CORVIX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)  // clang names it this way
#define CORVIX_ASAN 1
#endif
#endif
#if defined(CORVIX_ASAN)
#include <sanitizer/asan_interface.h>
#define CORVIX_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define CORVIX_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define CORVIX_POISON(p, n) ((void)(p), (void)(n))
#define CORVIX_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace corvix {
namespace {

constexpr uint64_t kDefaultHostQuota = uint64_t{1} << 30;
constexpr uint64_t kTrimBudget = uint64_t{256} << 20;  // freed bytes between trims
// Pages kept in memory beyond the recent peak of live bytes before a trim gives any back.
constexpr uint64_t kWorkingSetSlack = uint64_t{64} << 20;
constexpr uint64_t kPage = 4096;
// Blocks at least this large are cleared by giving their pages back (ranges of them shorter
// than kClearByPages are written).
constexpr uint64_t kClearByPunching = uint64_t{32} << 20;
constexpr uint64_t kClearByPages = 64 * 1024;
// The smallest window a partial trim looks at, going down from the top.
constexpr uint64_t kTopWindow = uint64_t{8} << 20;

struct State {
  Segment seg{-1, nullptr};
  std::mutex lock;
  RangeAllocator ranges{kSegmentReserved, kSegmentSize};
  uint64_t calls = 0;
  uint64_t fail_at = 0;           // call number that fails, 0 = none
  uint64_t freed_since_trim = 0;  // since the last look at the working set
  bool freed_since_full_trim = false;
  bool trim_due = false;
  uint64_t trim_left = 0;  // bytes the current trim still gives back (UINT64_MAX: all)
  // The working set: the highest live bytes seen since the last look, and in the window
  // before it. Free pages within it stay in memory, so a stream of frames that are taken
  // and freed again does not fault its pages in over and over.
  uint64_t peak_live = 0, peak_live_before = 0;
  int trim_in_slices = 0;    // server loops that trim in slices
  uint64_t trim_cursor = 0;  // where the next trim slice goes on
  OwnerIds owner_ids;
  uint64_t quota = kDefaultHostQuota;
  uint64_t high_water = kSegmentReserved;  // end of the part ever handed out (poisoned so far)
};

[[noreturn]] void die(const char *what) {
  std::fprintf(stderr, "corvix: cannot make the shared segment: %s: %s\n", what,
               std::strerror(errno));
  std::abort();
}

State &state() {
  static State *s = [] {
    auto *st = new State;  // lives as long as the process: its mapping is never undone
    int fd = memfd_create("corvix-segment", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) die("memfd_create");
    if (ftruncate(fd, static_cast<off_t>(kSegmentSize)) != 0) die("ftruncate");
    if (fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) die("F_ADD_SEALS");
    void *p =
        mmap(nullptr, kSegmentSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_NORESERVE, fd, 0);
    if (p == MAP_FAILED) die("mmap");
    if (mprotect(p, kSegmentReserved, PROT_NONE) != 0) die("mprotect");
    st->seg = Segment{fd, static_cast<uint8_t *>(p)};
    st->ranges.set_default_quota(st->quota);
    return st;
  }();
  return *s;
}

// Runs `f` on the state with its lock held and returns what `f` returns.
template <typename F>
auto with_lock(F f) {
  State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  return f(s);
}

thread_local uint32_t t_owner = 0;

uint64_t page_down(uint64_t a) { return a / kPage * kPage; }
uint64_t page_up(uint64_t a) { return (a + kPage - 1) / kPage * kPage; }

void punch(int fd, uint64_t from, uint64_t to) {
  fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
            static_cast<off_t>(to - from));
}

// The first page holding data inside [from, to), or `to` when there is none. (A hole reads
// as zeros. Where data ends is not asked: the kernel would walk every page of it.)
uint64_t next_data(int fd, uint64_t from, uint64_t to) {
  const off_t d = lseek(fd, static_cast<off_t>(from), SEEK_DATA);
  return d < 0 ? to : std::min(static_cast<uint64_t>(d), to);
}

uint64_t resident_locked(const State &s) {
  struct stat st {};
  return fstat(s.seg.fd, &st) == 0 ? static_cast<uint64_t>(st.st_blocks) * 512 : 0;
}

void finish_trim(State &s) {
  if (s.trim_left == UINT64_MAX) s.freed_since_full_trim = false;
  s.trim_cursor = 0;
  s.trim_due = false;
  s.trim_left = 0;
}

// A trim of part of the free pages goes from the highest addresses down: the allocator
// prefers the lowest of equal fits, so the pages a stream of frames reuses are the last to
// go. The cursor is the end of the part not yet visited. Caller holds the lock.
bool trim_top_slice_locked(State &s, uint64_t budget) {
  const auto &free = s.ranges.free_ranges();
  budget = std::min(budget, s.trim_left);
  uint64_t done = 0;
  for (auto it = free.lower_bound(s.trim_cursor); it != free.begin() && done < budget;) {
    --it;
    const uint64_t lo = page_up(it->first);
    const uint64_t hi = std::min(page_down(it->first + it->second), s.trim_cursor);
    s.trim_cursor = it->first;
    if (lo + 16 * kPage > hi) continue;
    // Windows as large as what is left to give back (at least 8 MiB), from the top down; a
    // window that holds no data costs one look. What a punch gave back is what the segment's
    // resident size dropped by: a window may hold holes as well.
    for (uint64_t top = hi; top > lo && done < budget;) {
      const uint64_t span = std::max(page_up(budget - done), kTopWindow);
      const uint64_t from = top - std::min(top - lo, span);
      const uint64_t d = next_data(s.seg.fd, from, top);
      if (d < top) {
        const uint64_t before = resident_locked(s);
        punch(s.seg.fd, d, top);
        done += before - std::min(before, resident_locked(s));
      }
      top = from;
      if (done >= budget) s.trim_cursor = from;
    }
  }
  s.trim_left -= std::min(done, s.trim_left);
  if (s.trim_left == 0 || done < budget) {
    finish_trim(s);
    return false;
  }
  return true;
}

// Gives back up to `budget` bytes of pages holding data inside large free ranges, going on
// from where the last slice stopped. Caller holds the lock. False once every free range was
// visited.
bool trim_slice_locked(State &s, uint64_t budget) {
  if (s.trim_left != UINT64_MAX) return trim_top_slice_locked(s, budget);
  const auto &free = s.ranges.free_ranges();
  auto it = free.upper_bound(s.trim_cursor);
  if (it != free.begin() && std::prev(it)->first + std::prev(it)->second > s.trim_cursor)
    --it;  // the range holding the cursor
  uint64_t done = 0;
  for (; it != free.end(); ++it) {
    const uint64_t lo = std::max(page_up(it->first), page_down(s.trim_cursor));
    const uint64_t hi = page_down(it->first + it->second);
    if (page_up(it->first) + 16 * kPage > hi) continue;
    for (uint64_t at = lo; (at = next_data(s.seg.fd, at, hi)) < hi;) {
      const uint64_t e = std::min(hi, at + (budget - done));
      punch(s.seg.fd, at, e);
      done += e - at;
      at = e;
      if (done >= budget) {
        s.trim_cursor = at;
        return true;
      }
    }
  }
  finish_trim(s);
  return false;
}

void start_trim(State &s, uint64_t bytes) {
  s.trim_due = true;
  s.trim_left = bytes;
  s.trim_cursor = bytes == UINT64_MAX ? 0 : UINT64_MAX;
}

void trim_locked(State &s) {
  start_trim(s, UINT64_MAX);
  while (trim_slice_locked(s, UINT64_MAX / 2)) {
  }
}

// Gives back the pages in memory beyond `keep` bytes, from the top down (at once, or in the
// server loop's slices). A full trim under way is left to finish.
void trim_beyond(State &s, uint64_t keep) {
  if (s.trim_due && s.trim_left == UINT64_MAX) return;
  const uint64_t resident = resident_locked(s);
  if (resident <= keep) return;
  start_trim(s, resident - keep);
  if (s.trim_in_slices == 0) {
    while (trim_slice_locked(s, UINT64_MAX / 2)) {
    }
  }
}

// After enough was freed: the pages in memory beyond the working set go back.
void trim_past_working_set(State &s) {
  s.freed_since_trim = 0;
  const uint64_t keep = std::max(s.peak_live, s.peak_live_before) + kWorkingSetSlack;
  s.peak_live_before = s.peak_live;
  s.peak_live = s.ranges.live_bytes();
  trim_beyond(s, keep);
}

// Allocates under the lock; the zero fill happens outside it.
uint32_t allocate(uint32_t owner, uint32_t size, uint32_t attr) {
  State &s = state();
  uint64_t addr;
  {
    std::lock_guard<std::mutex> g(s.lock);
    ++s.calls;
    if (s.fail_at != 0 && s.calls == s.fail_at) {
      s.fail_at = 0;
      return 0;
    }
    // A size past 2 GiB is a negative 32-bit size that was passed on unchecked.
    if (size > INT32_MAX) return 0;
    addr = s.ranges.allocate(size, owner);
    if (addr != 0) {
      s.peak_live = std::max(s.peak_live, s.ranges.live_bytes());
      const uint64_t end = addr + s.ranges.block_at(addr)->reserved;
      if (end > s.high_water) {
        CORVIX_POISON(s.seg.base + s.high_water, end - s.high_water);
        s.high_water = end;
      }
      CORVIX_UNPOISON(s.seg.base + addr, size);
    }
  }
  if (addr != 0 && (attr & MEMF_CLEAR) != 0) clear_range(addr, size, size);
  return static_cast<uint32_t>(addr);
}

}  // namespace

void clear_range(uint64_t address, uint64_t length, uint64_t block_size) {
  State &s = state();
  uint8_t *base = s.seg.base;
  // A smaller block is about to be written by its owner: its pages are written now (a page
  // that holds nothing is faulted in once, as the owner's write would). A large block's whole
  // pages are given back instead: pages that hold nothing cost nothing, pages with data are
  // freed rather than written, and all read as zeros. Only the partial pages it shares with
  // its neighbours are written.
  if (block_size < kClearByPunching || length < kClearByPages) {
    std::memset(base + address, 0, length);
    return;
  }
  const uint64_t end = address + length;
  const uint64_t inner_lo = page_up(address), inner_hi = page_down(end);
  std::memset(base + address, 0, inner_lo - address);
  std::memset(base + inner_hi, 0, end - inner_hi);
  if (inner_hi > inner_lo) punch(s.seg.fd, inner_lo, inner_hi);
}

const Segment &segment() { return state().seg; }

uint32_t segment_address(const void *p) {
  const auto *b = static_cast<const uint8_t *>(p);
  const uint8_t *base = segment().base;
  if (b < base || static_cast<uint64_t>(b - base) >= kSegmentSize) return 0;
  return static_cast<uint32_t>(b - base);
}

OwnerScope::OwnerScope(uint32_t owner) : saved_(t_owner) { t_owner = owner; }
OwnerScope::~OwnerScope() { t_owner = saved_; }
uint32_t current_owner() { return t_owner; }

uint32_t alloc_for(uint32_t owner, uint32_t size, uint32_t attr) {
  return allocate(owner, size, attr);
}

int free_for(uint32_t owner, uint32_t address) {
  State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  const RangeAllocator::Block *b = s.ranges.block_at(address);
  const uint64_t reserved = b ? b->reserved : 0;
  switch (s.ranges.release(address, owner)) {
    case RangeAllocator::Release::not_live: return -EINVAL;
    case RangeAllocator::Release::not_owner: return -EPERM;
    case RangeAllocator::Release::ok: break;
  }
  CORVIX_POISON(s.seg.base + address, reserved);
  s.freed_since_trim += reserved;
  s.freed_since_full_trim = true;
  if (s.freed_since_trim >= kTrimBudget && !(s.trim_due && s.trim_left == UINT64_MAX))
    trim_past_working_set(s);
  return 0;
}

bool owned_range(uint32_t owner, uint64_t address, uint64_t length) {
  return with_lock([&](State &s) { return s.ranges.contains(address, length, owner); });
}

namespace {

void release_owner_locked(State &s, uint32_t owner, bool trim) {
  for (const auto &[addr, size] : s.ranges.release_owner(owner)) {
    CORVIX_POISON(s.seg.base + addr, size);
    s.freed_since_full_trim = true;
  }
  if (trim) {
    // A host left: the free pages go back, but for the slack above what is still live, which
    // the top-down trim leaves to the lowest free pages: those the hosts still here reuse for
    // their frames, so a stream beside the host that left does not fault its pages in again.
    // The working set starts again from what is live; an idle server gives back the rest.
    const uint64_t live = s.ranges.live_bytes();
    s.peak_live = s.peak_live_before = live;
    trim_beyond(s, live + kWorkingSetSlack);
  }
}

}  // namespace

void release_owner(uint32_t owner, bool trim) {
  with_lock([=](State &s) { release_owner_locked(s, owner, trim); });
}

uint32_t acquire_owner(uint64_t group) {
  State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  const uint32_t owner = s.owner_ids.acquire();
  if (owner != OwnerIds::kNone && group != 0) s.ranges.join_group(owner, group);
  return owner;
}

// One step under the lock: no allocation can be charged to the id between the release and
// the id's return.
void retire_owner(uint32_t owner, bool trim) {
  with_lock([=](State &s) {
    release_owner_locked(s, owner, trim);
    s.ranges.leave_group(owner);
    s.owner_ids.retire(owner);
  });
}

uint64_t owner_blocks(uint32_t owner) {
  return with_lock([owner](State &s) { return s.ranges.owner_blocks(owner); });
}

uint64_t owner_bytes(uint32_t owner) {
  return with_lock([owner](State &s) { return s.ranges.owner_bytes(owner); });
}

void set_host_quota(uint64_t bytes) {
  with_lock([bytes](State &s) {
    s.quota = bytes;
    s.ranges.set_default_quota(bytes);
  });
}

uint64_t host_quota() {
  return with_lock([](State &s) { return s.quota; });
}

bool trim_pending() {
  return with_lock([](State &s) { return s.freed_since_full_trim; });
}

uint64_t resident_bytes() { return resident_locked(state()); }

void trim_segment() {
  with_lock([](State &s) { trim_locked(s); });
}

void set_trim_in_slices(bool on) {
  with_lock([on](State &s) { s.trim_in_slices += on ? 1 : -1; });
}

bool trim_due() {
  return with_lock([](State &s) { return s.trim_due; });
}

void request_trim() {
  with_lock([](State &s) { start_trim(s, UINT64_MAX); });
}

bool trim_step(uint64_t budget) {
  return with_lock([budget](State &s) { return s.trim_due && trim_slice_locked(s, budget); });
}

}  // namespace corvix

using corvix::with_lock;

extern "C" {

void *PPCAllocVec(uint32_t size, uint32_t attr) {
  const uint32_t addr = corvix::allocate(corvix::t_owner, size, attr);
  return corvix::segment_pointer(addr);
}

void PPCFreeVec(void *block) {
  if (block == nullptr) return;
  const uint32_t addr = corvix::segment_address(block);
  if (addr != 0) corvix::free_for(corvix::t_owner, addr);
}

void corvix_alloc_stats(uint64_t *live_blocks, uint64_t *live_bytes) {
  with_lock([=](const corvix::State &s) {
    if (live_blocks) *live_blocks = s.ranges.live_blocks();
    if (live_bytes) *live_bytes = s.ranges.live_bytes();
  });
}

void corvix_alloc_fail_nth(uint32_t n) {
  with_lock([n](corvix::State &s) { s.fail_at = n == 0 ? 0 : s.calls + n; });
}

uint64_t corvix_alloc_calls(void) {
  return with_lock([](const corvix::State &s) { return s.calls; });
}

}  // extern "C"
