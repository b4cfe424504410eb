// The segment: a 4 GiB sparse memfd, sealed so no host can shrink or grow it, mapped once
// per process. Address 0 and the first 64 KiB are never handed out and are inaccessible, so
// a null address faults like a null pointer.
#include "platform/memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "corvix/platform.h"
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
constexpr uint64_t kPage = 4096;

struct State {
  Segment seg{-1, nullptr};
  std::mutex lock;
  RangeAllocator ranges{kSegmentReserved, kSegmentSize};
  uint64_t calls = 0;
  uint64_t fail_at = 0;  // call number that fails, 0 = none
  uint64_t freed_since_trim = 0;
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
    if (fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0)
      die("F_ADD_SEALS");
    void *p = mmap(nullptr, kSegmentSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_NORESERVE,
                   fd, 0);
    if (p == MAP_FAILED) die("mmap");
    if (mprotect(p, kSegmentReserved, PROT_NONE) != 0) die("mprotect");
    st->seg = Segment{fd, static_cast<uint8_t *>(p)};
    st->ranges.set_default_quota(st->quota);
    return st;
  }();
  return *s;
}

thread_local uint32_t t_owner = 0;

// Punches the whole pages inside every large free range. Caller holds the lock.
void trim_locked(State &s) {
  s.freed_since_trim = 0;
  for (const auto &[addr, size] : s.ranges.free_ranges()) {
    const uint64_t lo = (addr + kPage - 1) / kPage * kPage;
    const uint64_t hi = (addr + size) / kPage * kPage;
    if (hi >= lo + 16 * kPage)
      fallocate(s.seg.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                static_cast<off_t>(lo), static_cast<off_t>(hi - lo));
  }
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
      const uint64_t end = addr + s.ranges.block_at(addr)->reserved;
      if (end > s.high_water) {
        CORVIX_POISON(s.seg.base + s.high_water, end - s.high_water);
        s.high_water = end;
      }
      CORVIX_UNPOISON(s.seg.base + addr, size);
    }
  }
  if (addr != 0 && (attr & MEMF_CLEAR) != 0) std::memset(s.seg.base + addr, 0, size);
  return static_cast<uint32_t>(addr);
}

}  // namespace

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
  if (s.freed_since_trim >= kTrimBudget) trim_locked(s);
  return 0;
}

bool owned_range(uint32_t owner, uint64_t address, uint64_t length) {
  State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  return s.ranges.contains(address, length, owner);
}

void release_owner(uint32_t owner, bool trim) {
  State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  for (const auto &[addr, size] : s.ranges.release_owner(owner)) {
    CORVIX_POISON(s.seg.base + addr, size);
  }
  if (trim) trim_locked(s);
}

uint64_t owner_blocks(uint32_t owner) {
  State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  return s.ranges.owner_blocks(owner);
}

uint64_t owner_bytes(uint32_t owner) {
  State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  return s.ranges.owner_bytes(owner);
}

void set_host_quota(uint64_t bytes) {
  State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  s.quota = bytes;
  s.ranges.set_default_quota(bytes);
}

uint64_t host_quota() {
  State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  return s.quota;
}

bool trim_pending() {
  State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  return s.freed_since_trim > 0;
}

void trim_segment() {
  State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  trim_locked(s);
}

}  // namespace corvix

using corvix::state;

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
  corvix::State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  if (live_blocks) *live_blocks = s.ranges.live_blocks();
  if (live_bytes) *live_bytes = s.ranges.live_bytes();
}

void corvix_alloc_fail_nth(uint32_t n) {
  corvix::State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  s.fail_at = n == 0 ? 0 : s.calls + n;
}

uint64_t corvix_alloc_calls(void) {
  corvix::State &s = state();
  std::lock_guard<std::mutex> g(s.lock);
  return s.calls;
}

}  // extern "C"
