// Best-fit range allocator over an address range it does not touch: all bookkeeping lives in
// ordinary containers, so whatever is written into the managed memory cannot corrupt it.
#ifndef CORVIX_PLATFORM_RANGE_ALLOCATOR_H
#define CORVIX_PLATFORM_RANGE_ALLOCATOR_H

#include <cstdint>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvix {

class RangeAllocator {
 public:
  static constexpr uint64_t kGranule = 16;

  struct Block {
    uint64_t size;      // requested bytes
    uint64_t reserved;  // bytes taken from the range (granule multiple, at least one)
    uint32_t owner;
  };

  enum class Release { ok, not_live, not_owner };

  // Manages [begin, end); begin and end are granule multiples.
  RangeAllocator(uint64_t begin, uint64_t end);

  // Start of a new block, or 0 when no free range fits or the owner's quota would be
  // exceeded. Owner 0 has no quota.
  uint64_t allocate(uint64_t size, uint32_t owner);
  // Releases the block starting at `addr` if `owner` owns it (kAnyOwner: whoever owns it).
  Release release(uint64_t addr, uint32_t owner);
  // Releases every block of `owner`; returns the ranges now free that were released.
  std::vector<std::pair<uint64_t, uint64_t>> release_owner(uint32_t owner);
  // True when [addr, addr + len) lies inside one live block owned by `owner` (kAnyOwner: by
  // anyone). Computed without wrapping.
  bool contains(uint64_t addr, uint64_t len, uint32_t owner) const;
  // The live block starting at addr, or nullptr.
  const Block *block_at(uint64_t addr) const;
  void set_owner(uint64_t addr, uint32_t owner);

  // Every owner other than 0 may hold `bytes` in all; owners that joined one group (the
  // connections of one host process) share one such quota.
  void set_default_quota(uint64_t bytes) { default_quota_ = bytes; }
  void join_group(uint32_t owner, uint64_t group);
  void leave_group(uint32_t owner);
  uint64_t owner_bytes(uint32_t owner) const;
  uint64_t owner_blocks(uint32_t owner) const;
  // Bytes held by the owners that share `owner`'s quota.
  uint64_t quota_bytes(uint32_t owner) const;

  uint64_t live_blocks() const { return live_.size(); }
  uint64_t live_bytes() const { return live_bytes_; }
  uint64_t free_bytes() const { return free_bytes_; }
  // Free ranges, by address (for trimming and for tests).
  const std::map<uint64_t, uint64_t> &free_ranges() const { return free_by_addr_; }

  static constexpr uint32_t kAnyOwner = 0xFFFFFFFFu;

 private:
  void insert_free(uint64_t addr, uint64_t size);
  void erase_free(std::map<uint64_t, uint64_t>::iterator it);
  void charge(uint32_t owner, int64_t bytes, int64_t blocks);
  uint64_t quota_key(uint32_t owner) const;

  std::set<std::pair<uint64_t, uint64_t>> free_by_size_;  // (size, addr)
  std::map<uint64_t, uint64_t> free_by_addr_;             // addr -> size
  std::map<uint64_t, Block> live_;                        // addr -> block
  struct Usage {
    uint64_t bytes = 0;
    uint64_t blocks = 0;
  };
  std::unordered_map<uint32_t, Usage> usage_;
  std::unordered_map<uint32_t, uint64_t> group_of_;     // owner -> group
  std::unordered_map<uint64_t, uint64_t> quota_usage_;  // quota key -> reserved bytes
  uint64_t default_quota_ = UINT64_MAX;
  uint64_t live_bytes_ = 0;
  uint64_t free_bytes_ = 0;
};

}  // namespace corvix

#endif
