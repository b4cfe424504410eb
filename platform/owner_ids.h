// Owner ids for host connections: 0 (the process itself, without a quota) and kAnyOwner are
// never handed out, and an id comes back only after everything that held it let it go, so
// blocks of a departed host can never be mistaken for a newcomer's, however many hosts came
// and went.
#ifndef CORVIX_PLATFORM_OWNER_IDS_H
#define CORVIX_PLATFORM_OWNER_IDS_H

#include <cstdint>
#include <unordered_set>

namespace corvix {

class OwnerIds {
 public:
  static constexpr uint32_t kNone = 0;
  static constexpr uint32_t kReserved = 0xFFFFFFFFu;  // the allocator's "any owner"

  explicit OwnerIds(uint32_t next = 1) : next_(next) {}

  // A fresh id, or kNone when every usable id is held.
  uint32_t acquire() {
    // Each id is tried at most once, so this ends even when the ids run out.
    for (uint64_t tries = 0; tries <= held_.size() + 2; ++tries) {
      const uint32_t id = next_++;
      if (id == kNone || id == kReserved || held_.count(id) != 0) continue;
      held_.insert(id);
      return id;
    }
    return kNone;
  }
  // The id may be handed out again.
  void retire(uint32_t id) { held_.erase(id); }
  bool held(uint32_t id) const { return held_.count(id) != 0; }
  // Where the search for the next id goes on (tests start it near the wrap).
  void set_next(uint32_t next) { next_ = next; }

 private:
  uint32_t next_;
  std::unordered_set<uint32_t> held_;
};

}  // namespace corvix

#endif
