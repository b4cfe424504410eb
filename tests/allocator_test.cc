// The range allocator against a trivial model, and PPCAllocVec's contract.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <random>

#include "platform/memory.h"
#include "platform/owner_ids.h"
#include "platform/range_allocator.h"
#include "tests/support.h"

namespace corvix {
namespace {

// The model: live blocks by address with size and owner. The allocator must agree with it on
// every answer, never hand out overlapping blocks, and keep its free space consistent.
TEST(RangeAllocator, AgreesWithModelOverRandomSequences) {
  constexpr uint64_t kBegin = 0x10000, kEnd = kBegin + (1 << 20);
  constexpr uint64_t kGranule = RangeAllocator::kGranule;
  using Release = RangeAllocator::Release;
  const auto end = [](uint64_t addr, uint64_t size) { return addr + std::max<uint64_t>(size, 1); };
  std::mt19937_64 rng(12345);
  for (int seq = 0; seq < 2000; ++seq) {
    RangeAllocator a(kBegin, kEnd);
    a.set_default_quota(300 * 1024);
    struct Live {
      uint64_t size;
      uint32_t owner;
    };
    std::map<uint64_t, Live> model;
    for (int step = 0; step < 400; ++step) {
      const int op = static_cast<int>(rng() % 10);
      const uint32_t owner = static_cast<uint32_t>(rng() % 4);
      auto it = model.begin();
      if (!model.empty()) std::advance(it, static_cast<long>(rng() % model.size()));
      if (op < 5) {
        const uint64_t size = rng() % 3 == 0 ? rng() % 64 : rng() % 40000;
        const uint64_t addr = a.allocate(size, owner);
        if (addr == 0) continue;
        ASSERT_TRUE(addr >= kBegin && addr % kGranule == 0 && end(addr, size) <= kEnd) << addr;
        const auto next = model.lower_bound(addr);
        ASSERT_TRUE(next == model.end() || end(addr, size) <= next->first) << "overlaps next";
        ASSERT_TRUE(next == model.begin() ||
                    end(std::prev(next)->first, std::prev(next)->second.size) <= addr)
            << "overlaps previous";
        model[addr] = {size, owner};
      } else if (it == model.end()) {
        continue;
      } else if (const auto [addr, live] = *it; op < 8) {  // refusals, then the free
        ASSERT_TRUE(live.size <= kGranule ||
                    a.release(addr + kGranule, live.owner) == Release::not_live);
        ASSERT_EQ(a.release(addr, live.owner + 1), Release::not_owner);
        ASSERT_EQ(a.release(addr, live.owner), Release::ok);
        ASSERT_EQ(a.release(addr, live.owner), Release::not_live);
        model.erase(it);
      } else if (op == 8) {
        a.release_owner(owner);
        std::erase_if(model, [&](const auto &kv) { return kv.second.owner == owner; });
      } else {
        ASSERT_TRUE(a.contains(addr, live.size, live.owner));
        ASSERT_FALSE(a.contains(addr, live.size + 1, live.owner));
        ASSERT_FALSE(a.contains(addr, 1, live.owner + 1));
        ASSERT_FALSE(a.contains(addr, UINT64_MAX, RangeAllocator::kAnyOwner));
        ASSERT_TRUE(live.size == 0 || a.contains(addr + live.size - 1, 1, live.owner));
      }
      // Accounting matches the model, and live plus free space covers the range exactly.
      uint64_t bytes = 0, reserved = 0;
      for (const auto &[addr, l] : model) {
        bytes += l.size;
        reserved += a.block_at(addr)->reserved;
      }
      ASSERT_EQ(a.live_blocks(), model.size());
      ASSERT_EQ(a.live_bytes(), bytes);
      ASSERT_EQ(a.free_bytes() + reserved, kEnd - kBegin);
      for (uint32_t o = 1; o < 4; ++o) ASSERT_LE(a.owner_bytes(o), 300u * 1024);
    }
    // With everything released the free space coalesces back into one range.
    for (uint32_t o = 0; o < 4; ++o) a.release_owner(o);
    ASSERT_EQ(a.free_ranges().size(), 1u);
  }
}

class PPCAllocVecTest : public test::LeakCheck {};

TEST_F(PPCAllocVecTest, ZeroFillZeroSizeRefusalsAndInjectedFailures) {
  auto *a = static_cast<uint8_t *>(PPCAllocVec(4096, MEMF_ANY));
  ASSERT_NE(a, nullptr);
  std::memset(a, 0xAB, 4096);
  PPCFreeVec(a);
  auto *b = static_cast<uint8_t *>(PPCAllocVec(4096, MEMF_CLEAR));
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(std::all_of(b, b + 4096, [](uint8_t v) { return v == 0; }));
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
  // An injected failure hits exactly the n-th call.
  corvix_alloc_fail_nth(2);
  void *p[3];
  for (void *&q : p) q = PPCAllocVec(8, MEMF_ANY);
  EXPECT_TRUE(p[0] != nullptr && p[1] == nullptr && p[2] != nullptr);
  for (void *q : p) PPCFreeVec(q);
}

TEST_F(PPCAllocVecTest, HostQuotaAndReclaim) {
  const uint64_t saved = host_quota();
  set_host_quota(1 << 20);
  const uint32_t host = 4242, other = 4243;
  std::vector<uint32_t> got;
  for (uint32_t a; got.size() < 20 && (a = alloc_for(host, 100000, MEMF_ANY)) != 0;)
    got.push_back(a);
  EXPECT_EQ(got.size(), 10u);  // 10 x ~100 kB fit in 1 MiB, the 11th does not
  EXPECT_NE(alloc_for(other, 100000, MEMF_ANY), 0u) << "another host keeps its quota";
  EXPECT_TRUE(owned_range(host, got[0], 100000));
  EXPECT_EQ(free_for(other, got[0]), -EPERM);
  EXPECT_EQ(free_for(host, got[0] + 16), -EINVAL);
  OwnerScope scope(host);
  EXPECT_EQ(PPCAllocVec(200000, MEMF_ANY), nullptr) << "routines run under the host's quota";
  for (uint32_t o : {host, other}) release_owner(o);
  EXPECT_EQ(owner_blocks(host), 0u);
  // Two connections of one process share its quota; when one goes, its share comes back.
  const uint32_t first = acquire_owner(777), second = acquire_owner(777);
  EXPECT_NE(alloc_for(first, 600000, MEMF_ANY), 0u);
  EXPECT_EQ(alloc_for(second, 600000, MEMF_ANY), 0u);
  retire_owner(first);
  EXPECT_NE(alloc_for(second, 600000, MEMF_ANY), 0u);
  retire_owner(second);
  set_host_quota(saved);
}

// Freed frame-sized blocks give their pages back; the segment cannot be resized by anyone.
TEST(Segment, ReleasedPagesReturnAndTheSizeIsSealed) {
  const uint32_t size = 96u << 20;
  auto *p = static_cast<uint8_t *>(PPCAllocVec(size, MEMF_ANY));
  ASSERT_NE(p, nullptr);
  std::memset(p, 1, size);
  const uint64_t touched = resident_bytes();
  PPCFreeVec(p);
  trim_segment();
  EXPECT_LT(resident_bytes() + size / 2, touched);
  EXPECT_NE(ftruncate(segment().fd, 0), 0);
  EXPECT_EQ(errno, EPERM);
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
// end, and none while the ranges are live.
TEST(Segment, TrimInSlicesReturnsEveryFreePage) {
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
