// The shared segment and its allocator, as the server and the host library see them.
#ifndef CORVIX_PLATFORM_MEMORY_H
#define CORVIX_PLATFORM_MEMORY_H

#include <cstdint>

namespace corvix {

constexpr uint64_t kSegmentSize = uint64_t{1} << 32;  // every 32-bit address
constexpr uint64_t kSegmentReserved = 0x10000;        // never handed out, PROT_NONE

struct Segment {
  int fd;         // sealed memfd, close-on-exec
  uint8_t *base;  // this process's mapping of offset 0
};

// This process's segment, made (and sealed against resizing) on first use.
const Segment &segment();

inline uint8_t *segment_pointer(uint32_t address) {
  return address == 0 ? nullptr : segment().base + address;
}
// The offset of p in this process's segment, or 0 when p is not inside it.
uint32_t segment_address(const void *p);

// Allocations made on this thread are charged to the owner of the innermost scope (0, the
// process itself, outside any scope). The server runs each command inside its host's scope.
class OwnerScope {
 public:
  explicit OwnerScope(uint32_t owner);
  ~OwnerScope();
  OwnerScope(const OwnerScope &) = delete;
  OwnerScope &operator=(const OwnerScope &) = delete;

 private:
  uint32_t saved_;
};
uint32_t current_owner();

// Owner ids of host connections: never 0, never one still held by a connection or a block.
// Connections of one host process pass the same `group` (its pid) and share one quota; 0
// gives the connection a quota of its own. 0 when no id is free.
uint32_t acquire_owner(uint64_t group);
// Releases everything the owner holds (see release_owner) and frees its id.
void retire_owner(uint32_t owner, bool trim = true);

// Services the server gives its hosts. Addresses are segment offsets. With MEMF_CLEAR the
// block is zero-filled before this returns.
uint32_t alloc_for(uint32_t owner, uint32_t size, uint32_t attr);
// Zero-fills [address, address + length), part of a block of `block_size` bytes the caller
// holds. The whole pages of a large block are given back to the system instead of being
// written: pages that hold nothing cost nothing, and no page is written.
void clear_range(uint64_t address, uint64_t length, uint64_t block_size);
// 0, or -EINVAL (not a live block) / -EPERM (another owner's block).
int free_for(uint32_t owner, uint32_t address);
// [address, address + length) lies inside one live block of `owner`.
bool owned_range(uint32_t owner, uint64_t address, uint64_t length);
// Releases everything `owner` holds; with `trim`, also returns the free pages to the system
// (without, the bytes stay readable to a host that still maps them, until they are reused).
void release_owner(uint32_t owner, bool trim = true);
uint64_t owner_blocks(uint32_t owner);
uint64_t owner_bytes(uint32_t owner);
// Byte quota of every host (owner other than 0).
void set_host_quota(uint64_t bytes);
uint64_t host_quota();
// Bytes of the segment in memory (live blocks and free pages not given back).
uint64_t resident_bytes();
// Gives the pages of free ranges back to the system.
void trim_segment();
// True when blocks were freed since the last trim (a server trims when it falls idle).
bool trim_pending();
// A server loop gives pages back in slices between messages (trim_step) instead of all at
// once inside a free; without one, a free past the budget trims at once. Calls nest: each
// serving loop turns it on at start and off at its end.
void set_trim_in_slices(bool on);
// True when a trim is due: enough was freed, or a host left.
bool trim_due();
// Marks a trim as due (a server that fell idle).
void request_trim();
// Gives back at most about `budget` bytes of free pages; false once the trim is complete.
bool trim_step(uint64_t budget);

}  // namespace corvix

#endif
