#include "platform/range_allocator.h"

#include <iterator>

namespace corvix {

RangeAllocator::RangeAllocator(uint64_t begin, uint64_t end) {
  if (end > begin) insert_free(begin, end - begin);
}

void RangeAllocator::insert_free(uint64_t addr, uint64_t size) {
  free_by_addr_.emplace(addr, size);
  free_by_size_.emplace(size, addr);
  free_bytes_ += size;
}

void RangeAllocator::erase_free(std::map<uint64_t, uint64_t>::iterator it) {
  free_by_size_.erase({it->second, it->first});
  free_bytes_ -= it->second;
  free_by_addr_.erase(it);
}

// An owner outside any group has a quota of its own, keyed apart from every group.
uint64_t RangeAllocator::quota_key(uint32_t owner) const {
  auto g = group_of_.find(owner);
  return g == group_of_.end() ? (uint64_t{1} << 32 | owner) : g->second;
}

void RangeAllocator::charge(uint32_t owner, int64_t bytes, int64_t blocks) {
  Usage &u = usage_[owner];
  u.bytes += static_cast<uint64_t>(bytes);
  u.blocks += static_cast<uint64_t>(blocks);
  if (u.blocks == 0) usage_.erase(owner);
  const uint64_t key = quota_key(owner);
  uint64_t &q = quota_usage_[key];
  q += static_cast<uint64_t>(bytes);
  if (q == 0) quota_usage_.erase(key);
}

void RangeAllocator::join_group(uint32_t owner, uint64_t group) {
  // Whatever the owner already holds moves to the group's account.
  const uint64_t held = owner_bytes(owner);
  charge(owner, -static_cast<int64_t>(held), 0);
  group_of_[owner] = group;
  charge(owner, static_cast<int64_t>(held), 0);
}

void RangeAllocator::leave_group(uint32_t owner) {
  const uint64_t held = owner_bytes(owner);
  charge(owner, -static_cast<int64_t>(held), 0);
  group_of_.erase(owner);
  charge(owner, static_cast<int64_t>(held), 0);
}

uint64_t RangeAllocator::quota_bytes(uint32_t owner) const {
  auto it = quota_usage_.find(quota_key(owner));
  return it == quota_usage_.end() ? 0 : it->second;
}

uint64_t RangeAllocator::owner_bytes(uint32_t owner) const {
  auto it = usage_.find(owner);
  return it == usage_.end() ? 0 : it->second.bytes;
}

uint64_t RangeAllocator::owner_blocks(uint32_t owner) const {
  auto it = usage_.find(owner);
  return it == usage_.end() ? 0 : it->second.blocks;
}

uint64_t RangeAllocator::allocate(uint64_t size, uint32_t owner) {
  if (size > (UINT64_MAX >> 1)) return 0;
  const uint64_t reserved = size == 0 ? kGranule : (size + kGranule - 1) / kGranule * kGranule;
  if (owner != 0 && (reserved > default_quota_ || quota_bytes(owner) > default_quota_ - reserved))
    return 0;
  auto fit = free_by_size_.lower_bound({reserved, 0});
  if (fit == free_by_size_.end()) return 0;
  const uint64_t addr = fit->second;
  const uint64_t have = fit->first;
  erase_free(free_by_addr_.find(addr));
  if (have > reserved) insert_free(addr + reserved, have - reserved);
  live_.emplace(addr, Block{size, reserved, owner});
  live_bytes_ += size;
  charge(owner, static_cast<int64_t>(reserved), 1);
  return addr;
}

RangeAllocator::Release RangeAllocator::release(uint64_t addr, uint32_t owner) {
  auto it = live_.find(addr);
  if (it == live_.end()) return Release::not_live;
  if (owner != kAnyOwner && it->second.owner != owner) return Release::not_owner;
  const Block b = it->second;
  live_.erase(it);
  live_bytes_ -= b.size;
  charge(b.owner, -static_cast<int64_t>(b.reserved), -1);

  uint64_t start = addr, size = b.reserved;
  auto next = free_by_addr_.lower_bound(addr);
  if (next != free_by_addr_.begin()) {
    auto prev = std::prev(next);
    if (prev->first + prev->second == start) {
      start = prev->first;
      size += prev->second;
      erase_free(prev);
    }
  }
  next = free_by_addr_.lower_bound(start + size);
  if (next != free_by_addr_.end() && next->first == start + size) {
    size += next->second;
    erase_free(next);
  }
  insert_free(start, size);
  return Release::ok;
}

std::vector<std::pair<uint64_t, uint64_t>> RangeAllocator::release_owner(uint32_t owner) {
  std::vector<uint64_t> mine;
  for (const auto &[addr, b] : live_)
    if (b.owner == owner) mine.push_back(addr);
  std::vector<std::pair<uint64_t, uint64_t>> freed;
  for (uint64_t addr : mine) {
    freed.emplace_back(addr, live_.at(addr).reserved);
    release(addr, owner);
  }
  return freed;
}

bool RangeAllocator::contains(uint64_t addr, uint64_t len, uint32_t owner) const {
  auto it = live_.upper_bound(addr);
  if (it == live_.begin()) return false;
  --it;
  const uint64_t start = it->first, size = it->second.size;
  if (owner != kAnyOwner && it->second.owner != owner) return false;
  if (addr - start > size) return false;
  return len <= size - (addr - start);
}

const RangeAllocator::Block *RangeAllocator::block_at(uint64_t addr) const {
  auto it = live_.find(addr);
  return it == live_.end() ? nullptr : &it->second;
}

void RangeAllocator::set_owner(uint64_t addr, uint32_t owner) {
  auto it = live_.find(addr);
  if (it == live_.end() || it->second.owner == owner) return;
  charge(it->second.owner, -static_cast<int64_t>(it->second.reserved), -1);
  it->second.owner = owner;
  charge(owner, static_cast<int64_t>(it->second.reserved), 1);
}

}  // namespace corvix
