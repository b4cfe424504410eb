// The range allocator against a trivial model, and PPCAllocVec's contract.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <random>

#include "platform/memory.h"
#include "platform/range_allocator.h"
#include "tests/support.h"

namespace corvix {
namespace {

// The model: live blocks by address with size and owner. The allocator must agree with it on
// every answer, never hand out overlapping blocks, and keep its free space consistent.
TEST(RangeAllocator, AgreesWithModelOverRandomSequences) {
  constexpr uint64_t kBegin = 0x10000, kEnd = kBegin + (1 << 20);
  std::mt19937_64 rng(12345);
  for (int seq = 0; seq < 2000; ++seq) {
    RangeAllocator a(kBegin, kEnd);
    a.set_default_quota(300 * 1024);
    struct Live { uint64_t size; uint32_t owner; };
    std::map<uint64_t, Live> model;
    for (int step = 0; step < 400; ++step) {
      const int op = static_cast<int>(rng() % 10);
      const uint32_t owner = static_cast<uint32_t>(rng() % 4);
      if (op < 5) {
        const uint64_t size = rng() % 3 == 0 ? rng() % 64 : rng() % 40000;
        const uint64_t addr = a.allocate(size, owner);
        if (addr == 0) continue;
        ASSERT_GE(addr, kBegin);
        ASSERT_EQ(addr % RangeAllocator::kGranule, 0u);
        ASSERT_LE(addr + std::max<uint64_t>(size, 1), kEnd);
        auto next = model.lower_bound(addr);
        if (next != model.end()) {
          ASSERT_LE(addr + std::max<uint64_t>(size, 1), next->first);
        }
        if (next != model.begin()) {
          auto prev = std::prev(next);
          ASSERT_LE(prev->first + std::max<uint64_t>(prev->second.size, 1), addr);
        }
        model[addr] = {size, owner};
      } else if (op < 8 && !model.empty()) {
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        const uint64_t addr = it->first;
        const int how = static_cast<int>(rng() % 4);
        if (how == 0) {  // interior address: refused
          if (it->second.size > RangeAllocator::kGranule) {
            ASSERT_EQ(a.release(addr + RangeAllocator::kGranule, it->second.owner),
                      RangeAllocator::Release::not_live);
          }
        } else if (how == 1) {  // another owner: refused
          ASSERT_EQ(a.release(addr, it->second.owner + 1), RangeAllocator::Release::not_owner);
        } else {
          ASSERT_EQ(a.release(addr, it->second.owner), RangeAllocator::Release::ok);
          ASSERT_EQ(a.release(addr, it->second.owner), RangeAllocator::Release::not_live);
          model.erase(it);
        }
      } else if (op == 8) {
        a.release_owner(owner);
        std::erase_if(model, [&](const auto &kv) { return kv.second.owner == owner; });
      } else if (!model.empty()) {
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        const uint64_t size = it->second.size;
        ASSERT_TRUE(a.contains(it->first, size, it->second.owner));
        ASSERT_FALSE(a.contains(it->first, size + 1, it->second.owner));
        ASSERT_FALSE(a.contains(it->first, 1, it->second.owner + 1));
        ASSERT_FALSE(a.contains(it->first, UINT64_MAX, RangeAllocator::kAnyOwner));
        if (size > 0) {
          ASSERT_TRUE(a.contains(it->first + size - 1, 1, it->second.owner));
        }
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

TEST_F(PPCAllocVecTest, ZeroFillZeroSizeAndRefusals) {
  auto *a = static_cast<uint8_t *>(PPCAllocVec(4096, MEMF_ANY));
  ASSERT_NE(a, nullptr);
  std::memset(a, 0xAB, 4096);
  PPCFreeVec(a);
  auto *b = static_cast<uint8_t *>(PPCAllocVec(4096, MEMF_CLEAR));
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(std::all_of(b, b + 4096, [](uint8_t v) { return v == 0; }));
  void *z1 = PPCAllocVec(0, MEMF_ANY), *z2 = PPCAllocVec(0, MEMF_ANY);
  EXPECT_NE(z1, nullptr);
  EXPECT_NE(z1, z2);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
  // A negative size passed on unchecked, and sizes past the segment, are refused.
  EXPECT_EQ(PPCAllocVec(static_cast<uint32_t>(-36), MEMF_ANY), nullptr);
  EXPECT_EQ(PPCAllocVec(UINT32_MAX, MEMF_CLEAR), nullptr);
  // Interior, repeated and foreign frees change nothing.
  uint64_t blocks = 0;
  corvix_alloc_stats(&blocks, nullptr);
  PPCFreeVec(b + 16);
  int local = 0;
  PPCFreeVec(&local);
  corvix_alloc_stats(&blocks, nullptr);
  PPCFreeVec(b);
  PPCFreeVec(b);
  uint64_t after = 0;
  corvix_alloc_stats(&after, nullptr);
  EXPECT_EQ(after, blocks - 1);
  PPCFreeVec(z1);
  PPCFreeVec(z2);
}

TEST_F(PPCAllocVecTest, InjectedFailureHitsExactlyTheNthCall) {
  corvix_alloc_fail_nth(2);
  void *a = PPCAllocVec(8, MEMF_ANY);
  void *b = PPCAllocVec(8, MEMF_ANY);
  void *c = PPCAllocVec(8, MEMF_ANY);
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(b, nullptr);
  EXPECT_NE(c, nullptr);
  PPCFreeVec(a);
  PPCFreeVec(c);
}

TEST_F(PPCAllocVecTest, HostQuotaAndReclaim) {
  const uint64_t saved = host_quota();
  set_host_quota(1 << 20);
  const uint32_t host = 4242;
  std::vector<uint32_t> got;
  for (int i = 0; i < 20; ++i) {
    const uint32_t a = alloc_for(host, 100000, MEMF_ANY);
    if (a == 0) break;
    got.push_back(a);
  }
  EXPECT_EQ(got.size(), 10u);  // 10 x ~100 kB fit in 1 MiB, the 11th does not
  EXPECT_NE(alloc_for(4243, 100000, MEMF_ANY), 0u) << "another host keeps its quota";
  EXPECT_TRUE(owned_range(host, got[0], 100000));
  EXPECT_FALSE(owned_range(4243, got[0], 1));
  EXPECT_EQ(free_for(4243, got[0]), -EPERM);
  EXPECT_EQ(free_for(host, got[0] + 16), -EINVAL);
  {
    OwnerScope scope(host);
    EXPECT_EQ(PPCAllocVec(200000, MEMF_ANY), nullptr) << "routines run under the host's quota";
  }
  release_owner(host);
  release_owner(4243);
  EXPECT_EQ(owner_blocks(host), 0u);
  set_host_quota(saved);
}

TEST(Segment, NullAndReservedPrefixAreNotAddresses) {
  EXPECT_EQ(segment_pointer(0), nullptr);
  int local = 0;
  EXPECT_EQ(segment_address(&local), 0u);
  void *p = PPCAllocVec(16, MEMF_ANY);
  EXPECT_GE(segment_address(p), kSegmentReserved);
  PPCFreeVec(p);
}

}  // namespace
}  // namespace corvix

namespace corvix {
namespace {

// Freed frame-sized blocks give their pages back; the segment cannot be resized by anyone.
TEST(Segment, ReleasedPagesReturnAndTheSizeIsSealed) {
  auto resident = [] {
    struct stat st{};
    fstat(segment().fd, &st);
    return static_cast<uint64_t>(st.st_blocks) * 512;
  };
  const uint32_t size = 96u << 20;
  auto *p = static_cast<uint8_t *>(PPCAllocVec(size, MEMF_ANY));
  ASSERT_NE(p, nullptr);
  std::memset(p, 1, size);
  const uint64_t touched = resident();
  PPCFreeVec(p);
  trim_segment();
  EXPECT_LT(resident() + size / 2, touched);
  EXPECT_NE(ftruncate(segment().fd, 0), 0);
  EXPECT_EQ(errno, EPERM);
}

}  // namespace
}  // namespace corvix
