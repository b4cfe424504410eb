// Destinations for the blit and drawing tests: a bitmap record over a vector whose 16 guard
// bytes on each side show stray writes.
#ifndef CORVIX_TESTS_BLIT_SUPPORT_H
#define CORVIX_TESTS_BLIT_SUPPORT_H

#include <algorithm>
#include <vector>

#include "tests/support.h"

namespace corvix::test {

using Bytes = std::vector<uint8_t>;

struct Target {
  Bytes bytes;
  Bitmap bm;
  // Pixels copied from `fill`, or zero; the guards hold 0xA5.
  Target(int32_t w, int32_t h, int32_t bpp, const uint8_t *fill = nullptr)
      : bytes(static_cast<size_t>(w) * h * bpp + 32, 0xA5), bm{bytes.data() + 16, w, h, bpp} {
    const size_t n = bytes.size() - 32;
    if (fill != nullptr) std::copy(fill, fill + n, bm.pixels);
    else std::fill_n(bm.pixels, n, 0);
  }
  Bytes px(size_t from, size_t to) const { return Bytes(bm.pixels + from, bm.pixels + to); }
};

}  // namespace corvix::test

#endif
