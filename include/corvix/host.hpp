// corvix: a thin C++ wrapper over the host API of host.h. Owns its connection; helpers write
// and read the big-endian words and records the server exchanges in shared memory.
//
//   corvix::Host host = corvix::Host::embedded();   // or corvix::Host::open("VODARAVID")
//   uint32_t px = host.put(pixels.data(), pixels.size());
//   uint32_t bm = host.bitmap(px, width, height, 3);
//   uint32_t args = host.args({bm});
//   host.send(15, args);                            // invert in place
#ifndef CORVIX_HOST_HPP
#define CORVIX_HOST_HPP

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "corvix/host.h"
#include "corvix/platform.h"

namespace corvix {

class Host {
 public:
  static Host open(const char *port_name) { return Host(corvix_host_open(port_name)); }
  static Host embedded() { return Host(corvix_host_embedded()); }

  Host() = default;
  explicit Host(corvix_host *h) : h_(h) {}
  Host(Host &&o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  Host &operator=(Host &&o) noexcept {
    if (this != &o) {
      corvix_host_close(h_);
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  Host(const Host &) = delete;
  Host &operator=(const Host &) = delete;
  ~Host() { corvix_host_close(h_); }

  explicit operator bool() const { return h_ != nullptr; }
  corvix_host *get() const { return h_; }

  uint32_t alloc(uint32_t size, uint32_t attr = MEMF_CLEAR) {
    return corvix_host_alloc(h_, size, attr);
  }
  void free(uint32_t address) { corvix_host_free(h_, address); }
  uint8_t *at(uint32_t address) const {
    return static_cast<uint8_t *>(corvix_host_pointer(h_, address));
  }
  int32_t send(int32_t code, uint32_t block) { return corvix_host_send(h_, code, block); }

  // A new block holding a copy of the bytes (0 when refused).
  uint32_t put(const void *data, size_t size) {
    const uint32_t a = alloc(static_cast<uint32_t>(size), MEMF_ANY);
    if (a != 0 && size > 0) std::memcpy(at(a), data, size);
    return a;
  }
  // A 40-byte argument block, words 1.. as given, word 0 cleared.
  uint32_t args(std::initializer_list<uint32_t> words) {
    const uint32_t a = alloc(40, MEMF_CLEAR);
    if (a == 0) return 0;
    int n = 1;
    for (uint32_t w : words) corvix_put_be32(at(a) + 4 * n++, w);
    return a;
  }
  uint32_t word(uint32_t block, int n) const { return corvix_get_be32(at(block) + 4 * n); }
  void set_word(uint32_t block, int n, uint32_t value) {
    corvix_put_be32(at(block) + 4 * n, value);
  }

  // A 16-byte big-endian Bitmap record naming `pixels`.
  uint32_t bitmap(uint32_t pixels, int32_t width, int32_t height, int32_t bpp) {
    const uint32_t a = alloc(16, MEMF_CLEAR);
    if (a == 0) return 0;
    corvix_put_be32(at(a), pixels);
    corvix_put_be32(at(a) + 4, static_cast<uint32_t>(width));
    corvix_put_be32(at(a) + 8, static_cast<uint32_t>(height));
    corvix_put_be32(at(a) + 12, static_cast<uint32_t>(bpp));
    return a;
  }
  // A record read back, its pixels a pointer into this host's view (null for address 0).
  Bitmap read_bitmap(uint32_t address) const {
    const uint8_t *r = at(address);
    return Bitmap{at(corvix_get_be32(r)), static_cast<int32_t>(corvix_get_be32(r + 4)),
                  static_cast<int32_t>(corvix_get_be32(r + 8)),
                  static_cast<int32_t>(corvix_get_be32(r + 12))};
  }
  // The shared address of a record's pixels.
  uint32_t pixels_of(uint32_t bitmap_address) const { return corvix_get_be32(at(bitmap_address)); }
  // Frees a bitmap record and its pixels (as a command returned them). 0 does nothing.
  void free_bitmap(uint32_t address) {
    if (address == 0) return;
    free(pixels_of(address));
    free(address);
  }
  // Live blocks of this host, as the server counts them.
  uint32_t blocks() const {
    uint32_t mine = 0;
    corvix_host_stats(h_, nullptr, &mine);
    return mine;
  }

 private:
  corvix_host *h_ = nullptr;
};

}  // namespace corvix

#endif
