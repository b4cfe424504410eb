// The range allocator and the segment's allocator (from several threads at once) against a
// trivial model, and PPCAllocVec's contract.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <random>
#include <thread>

#include "platform/memory.h"
#include "platform/owner_ids.h"
#include "platform/range_allocator.h"
#include "tests/support.h"

namespace corvix {
namespace {

constexpr uint64_t kGranule = RangeAllocator::kGranule;
constexpr uint64_t kQuota = 300 * 1024;

uint64_t reserved(uint64_t size) {
  return std::max(kGranule, (size + kGranule - 1) & ~(kGranule - 1));
}

// A RangeAllocator of 1 MiB on its own, owners 0 to 3 (0, the process, has no quota). Its
// free space must coalesce and, with the live blocks, cover the range exactly.
struct RangeSide {
  static constexpr uint64_t kBegin = 0x10000, kEnd = kBegin + (1 << 20);
  static constexpr bool kExactQuota = false;  // a fragmented range refuses below the quota
  RangeAllocator a{kBegin, kEnd};
  RangeSide() { a.set_default_quota(kQuota); }
  static bool has_quota(int o) { return o != 0; }
  uint64_t alloc(uint64_t size, int o) { return a.allocate(size, o); }
  int release(uint64_t addr, int o) {
    const auto r = a.release(addr, static_cast<uint32_t>(o));
    return r == RangeAllocator::Release::ok         ? 0
           : r == RangeAllocator::Release::not_live ? -EINVAL
                                                    : -EPERM;
  }
  bool contains(uint64_t addr, uint64_t len, int o) { return a.contains(addr, len, o); }
  void release_owner(int o) { a.release_owner(o); }
  void fill(uint64_t, uint64_t, int) {}
  bool intact(uint64_t, uint64_t, int) { return true; }
  void check(const std::map<uint64_t, std::pair<uint64_t, int>> &model, const uint64_t *) {
    uint64_t bytes = 0, held = 0;
    for (const auto &[addr, l] : model) bytes += l.first, held += a.block_at(addr)->reserved;
    ASSERT_EQ(a.live_blocks(), model.size());
    ASSERT_EQ(a.live_bytes(), bytes);
    ASSERT_EQ(a.free_bytes() + held, kEnd - kBegin);
  }
  void finish() {
    for (int o = 0; o < 4; ++o) a.release_owner(o);
    ASSERT_EQ(a.free_ranges().size(), 1u) << "free space did not coalesce";
  }
};

// The process's segment through the server's calls, four host ids of one thread. Other
// threads work on the segment at the same time: every block holds a byte of its own, so a
// block handed out twice, or a page given back under a live block, shows.
struct SegmentSide {
  static constexpr uint64_t kBegin = kSegmentReserved, kEnd = kSegmentSize;
  static constexpr bool kExactQuota = true;  // the segment has room for every quota
  uint32_t ids[4];
  uint8_t tag;
  explicit SegmentSide(int thread) : tag(static_cast<uint8_t>(16 * thread)) {
    for (uint32_t &id : ids) id = acquire_owner(0);
  }
  static bool has_quota(int) { return true; }
  uint64_t alloc(uint64_t size, int o) {
    return alloc_for(ids[o], static_cast<uint32_t>(size), MEMF_ANY);
  }
  int release(uint64_t addr, int o) { return free_for(ids[o], static_cast<uint32_t>(addr)); }
  bool contains(uint64_t addr, uint64_t len, int o) { return owned_range(ids[o], addr, len); }
  void release_owner(int o) { corvix::release_owner(ids[o], false); }
  void fill(uint64_t addr, uint64_t size, int o) {
    std::memset(segment_pointer(addr), tag + o, size);
  }
  bool intact(uint64_t addr, uint64_t size, int o) {
    const uint8_t *p = segment_pointer(static_cast<uint32_t>(addr));
    return std::all_of(p, p + size, [&](uint8_t v) { return v == tag + o; });
  }
  void check(const std::map<uint64_t, std::pair<uint64_t, int>> &model, const uint64_t *held) {
    for (int o = 0; o < 4; ++o) {
      ASSERT_EQ(owner_bytes(ids[o]), held[o]);
      ASSERT_EQ(owner_blocks(ids[o]),
                std::count_if(model.begin(), model.end(),
                              [&](const auto &kv) { return kv.second.second == o; }));
    }
  }
  void finish() {
    for (uint32_t id : ids) retire_owner(id, false);
  }
};

// `sequences` random sequences of allocations, frees (refused ones first), releases of an
// owner and range checks on `Side`, against the model: live blocks by address with size and
// owner. No two blocks overlap, every refusal and acceptance is the model's, and the quota
// refuses exactly what would pass it.
template <class Side, class... Args>
void run_model(uint64_t seed, int sequences, Args... args) {
  std::mt19937_64 rng(seed);
  for (int seq = 0; seq < sequences; ++seq) {
    Side a(args...);
    std::map<uint64_t, std::pair<uint64_t, int>> model;  // address -> size, owner
    uint64_t held[4] = {};
    for (int step = 0; step < 400; ++step) {
      const int op = static_cast<int>(rng() % 10), owner = static_cast<int>(rng() % 4);
      auto it = model.begin();
      if (!model.empty()) std::advance(it, static_cast<long>(rng() % model.size()));
      if (op < 5) {
        const uint64_t size = rng() % 3 == 0 ? rng() % 64 : rng() % 40000;
        const bool over = Side::has_quota(owner) && held[owner] + reserved(size) > kQuota;
        const uint64_t addr = a.alloc(size, owner);
        ASSERT_TRUE(addr == 0 ? over || !Side::kExactQuota : !over)
            << "quota: " << held[owner] << " + " << size;
        if (addr == 0) continue;
        ASSERT_TRUE(addr >= Side::kBegin && addr % kGranule == 0 &&
                    addr + reserved(size) <= Side::kEnd)
            << addr;
        const auto next = model.lower_bound(addr);
        ASSERT_TRUE(next == model.end() || addr + reserved(size) <= next->first) << "overlaps next";
        ASSERT_TRUE(next == model.begin() ||
                    std::prev(next)->first + reserved(std::prev(next)->second.first) <= addr)
            << "overlaps previous";
        model[addr] = {size, owner};
        held[owner] += reserved(size);
        a.fill(addr, size, owner);
      } else if (it == model.end()) {
        continue;
      } else if (const auto [addr, live] = *it; op < 8) {  // refusals, then the free
        const auto [size, o] = live;
        ASSERT_TRUE(a.intact(addr, size, o)) << "a block's bytes changed under it";
        ASSERT_TRUE(size <= kGranule || a.release(addr + kGranule, o) == -EINVAL);
        ASSERT_EQ(a.release(addr, (o + 1) % 4), -EPERM);
        ASSERT_EQ(a.release(addr, o), 0);
        ASSERT_LT(a.release(addr, o), 0) << "freed twice";  // (another thread may hold it now)
        held[o] -= reserved(size);
        model.erase(it);
      } else if (op == 8) {
        a.release_owner(owner);
        held[owner] = 0;
        std::erase_if(model, [&](const auto &kv) { return kv.second.second == owner; });
      } else {
        const auto [size, o] = live;
        ASSERT_TRUE(a.contains(addr, size, o));
        ASSERT_FALSE(a.contains(addr, size + 1, o));
        ASSERT_FALSE(a.contains(addr, 1, (o + 1) % 4));
        ASSERT_FALSE(a.contains(addr, UINT64_MAX, o));
        ASSERT_TRUE(size == 0 || a.contains(addr + size - 1, 1, o));
      }
      a.check(model, held);
    }
    a.finish();
  }
}

TEST(RangeAllocator, AgreesWithModelOverRandomSequences) { run_model<RangeSide>(12345, 2000); }

// The segment's allocator from 1 and from 3 threads at once (a server's workers), while
// another thread gives free pages back in slices (its port thread).
class SegmentModel : public test::LeakCheck, public ::testing::WithParamInterface<int> {};

TEST_P(SegmentModel, AgreesWithModelOnEveryThread) {
  const uint64_t saved = host_quota();
  set_host_quota(kQuota);
  set_trim_in_slices(true);
  std::atomic<bool> running{true};
  std::thread trimmer([&] {
    while (running.load()) {
      request_trim();
      while (trim_step(1u << 20)) {
      }
    }
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < GetParam(); ++t)
    threads.emplace_back([t] { run_model<SegmentSide>(777 + t, 60, t + 1); });
  for (std::thread &t : threads) t.join();
  running = false;
  trimmer.join();
  set_trim_in_slices(false);
  set_host_quota(saved);
}
INSTANTIATE_TEST_SUITE_P(Threads, SegmentModel, ::testing::Values(1, 3));

class PPCAllocVecTest : public test::LeakCheck {};

// Cleared blocks and failure injection are tested through the bitmap allocators.
TEST_F(PPCAllocVecTest, AlignmentZeroSizeRefusalsAndForeignFrees) {
  auto *b = static_cast<uint8_t *>(PPCAllocVec(4096, MEMF_ANY));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
  void *z1 = PPCAllocVec(0, MEMF_ANY), *z2 = PPCAllocVec(0, MEMF_ANY);
  EXPECT_TRUE(z1 != nullptr && z1 != z2);
  // A negative size passed on unchecked, and sizes past the segment, are refused.
  for (int32_t size : {-36, INT32_MIN}) EXPECT_EQ(PPCAllocVec(uint32_t(size), MEMF_ANY), nullptr);
  EXPECT_EQ(PPCAllocVec(UINT32_MAX, MEMF_CLEAR), nullptr);
  // Interior, foreign and repeated frees change nothing.
  uint64_t before = 0, after = 0;
  corvix_alloc_stats(&before, nullptr);
  int local = 0;
  for (void *p : {static_cast<void *>(b + 16), static_cast<void *>(&local), static_cast<void *>(b),
                  static_cast<void *>(b)})
    PPCFreeVec(p);
  corvix_alloc_stats(&after, nullptr);
  EXPECT_EQ(after, before - 1);
  for (void *z : {z1, z2}) PPCFreeVec(z);
}

// Routines run under the host's quota; two connections of one process share one quota, and
// when one goes, its share comes back.
TEST_F(PPCAllocVecTest, CommandsAndConnectionsOfOneProcessShareItsQuota) {
  const uint64_t saved = host_quota();
  set_host_quota(1 << 20);
  const uint32_t first = acquire_owner(777), second = acquire_owner(777);
  EXPECT_NE(alloc_for(first, 600000, MEMF_ANY), 0u);
  EXPECT_EQ(alloc_for(second, 600000, MEMF_ANY), 0u);
  {
    OwnerScope scope(second);
    EXPECT_EQ(PPCAllocVec(600000, MEMF_ANY), nullptr);
  }
  retire_owner(first);
  EXPECT_NE(alloc_for(second, 600000, MEMF_ANY), 0u);
  retire_owner(second);
  set_host_quota(saved);
}

// Near the wrap of the 32-bit ids: 0 and the allocator's "any owner" are never handed out,
// and ids still held are skipped until retired.
TEST(OwnerIds, NeverZeroNeverReservedNeverOneStillHeld) {
  OwnerIds ids(0xFFFFFFFDu);
  const uint32_t a = ids.acquire(), b = ids.acquire(), c = ids.acquire(), d = ids.acquire();
  EXPECT_EQ(std::vector<uint32_t>({a, b, c, d}),
            std::vector<uint32_t>({0xFFFFFFFDu, 0xFFFFFFFEu, 1u, 2u}))
      << "past the wrap, skipping the reserved id and 0";
  ids.retire(b);
  ids.set_next(0xFFFFFFFDu);  // the counter comes round again
  EXPECT_EQ(ids.acquire(), 0xFFFFFFFEu) << "the retired id, not the held one before it";
  EXPECT_EQ(ids.acquire(), 3u) << "ids 1 and 2 are still held";
  ids.retire(c);
  ids.set_next(0);
  EXPECT_EQ(ids.acquire(), 1u);
}

// Pages of free ranges go back in slices when a server loop asks for them, all of them in the
// end, and none while the ranges are live. The segment cannot be resized by anyone.
TEST(Segment, TrimInSlicesReturnsEveryFreePageAndTheSizeIsSealed) {
  trim_segment();
  const uint32_t size = 24u << 20;
  auto *keep = static_cast<uint8_t *>(PPCAllocVec(size, MEMF_ANY));
  auto *p = static_cast<uint8_t *>(PPCAllocVec(size, MEMF_ANY));
  ASSERT_TRUE(keep != nullptr && p != nullptr);
  std::memset(keep, 1, size);
  std::memset(p, 1, size);
  set_trim_in_slices(true);
  PPCFreeVec(p);
  request_trim();
  const uint64_t before = resident_bytes();
  int slices = 0;
  while (trim_step(2u << 20)) ++slices;
  set_trim_in_slices(false);
  EXPECT_GE(slices, 11) << "slices of 2 MiB over 24 MiB";
  EXPECT_LE(resident_bytes() + size - (1u << 20), before) << "every free page went back";
  EXPECT_TRUE(std::all_of(keep, keep + size, [](uint8_t v) { return v == 1; }));
  PPCFreeVec(keep);
  EXPECT_NE(ftruncate(segment().fd, 0), 0);
  EXPECT_EQ(errno, EPERM);
}

// A stream of frames taken and freed keeps its pages in memory (no frame faults them in
// again), while pages past the recent working set still go back.
TEST(Segment, FrameStreamKeepsItsWorkingSetAndGivesBackTheRest) {
  auto faults = [] {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
  };
  constexpr uint32_t kFrame = 8u << 20, kBurst = 160u << 20;
  trim_segment();
  auto *burst = static_cast<uint8_t *>(PPCAllocVec(kBurst, MEMF_ANY));
  ASSERT_NE(burst, nullptr);
  std::memset(burst, 1, kBurst);
  PPCFreeVec(burst);
  const auto frame = [] {
    auto *p = static_cast<uint8_t *>(PPCAllocVec(kFrame, MEMF_CLEAR));
    std::memset(p, 2, kFrame);
    PPCFreeVec(p);
  };
  frame();
  const long before = faults();
  for (int i = 0; i < 96; ++i) frame();  // 768 MiB freed: three looks at the working set
  EXPECT_LT(faults() - before, long{kFrame / 4096 / 2}) << "frames faulted their pages in again";
  EXPECT_LT(resident_bytes(), uint64_t{kFrame} + (96u << 20)) << "the burst's pages stayed";
}

}  // namespace
}  // namespace corvix
