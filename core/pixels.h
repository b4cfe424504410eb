// Helpers every routine family shares: checked sizes, allocation through the one seam, the
// byte clamp, and the usability test for bitmaps handed to fixed-pixel-size routines.
#ifndef CORVIX_CORE_PIXELS_H
#define CORVIX_CORE_PIXELS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/error.h"
#include "corvix/platform.h"
#include "corvix/types.h"

namespace corvix {

// The byte count a * b * c of non-negative factors; -1 when a factor is negative or the
// product does not fit a signed 32-bit size.
inline int64_t checked_size(int64_t a, int64_t b = 1, int64_t c = 1) {
  if (a < 0 || b < 0 || c < 0) return -1;
  if (a == 0 || b == 0 || c == 0) return 0;
  if (a > INT32_MAX / b) return -1;
  const int64_t ab = a * b;
  if (ab > INT32_MAX / c) return -1;
  return ab * c;
}

// PPCAllocVec for a size from checked_size: null for -1. A null result leaves the reason
// (the size, or the memory that ran out); callers that can name the arguments of a size
// that does not fit check it first.
inline void *alloc_bytes(int64_t size, uint32_t attr) {
  if (size < 0) return fail(CORVIX_E_INVALID, "a block size does not fit a 32-bit size");
  void *p = PPCAllocVec(static_cast<uint32_t>(size), attr);
  if (p == nullptr)
    set_error(CORVIX_E_NOMEM, "out of memory for a block of %lld bytes",
              static_cast<long long>(size));
  return p;
}

template <class T>
T *alloc_array(int64_t count, uint32_t attr) {
  const int64_t bytes = checked_size(count, static_cast<int64_t>(sizeof(T)));
  return static_cast<T *>(alloc_bytes(bytes, attr));
}

// Repeats the first `unit` bytes at p over its first `total` bytes (0 < unit <= total), by
// copies that double what is done: a row of one colour or a span of threshold tiles in a
// few copies rather than a loop per pixel.
inline void repeat_bytes(uint8_t *p, size_t unit, size_t total) {
  for (size_t done = unit; done < total;) {
    const size_t part = done < total - done ? done : total - done;
    std::memcpy(p + done, p, part);
    done += part;
  }
}

// 0..255: above 255 becomes 255, below 0 becomes 0.
inline uint8_t clamp255(int32_t v) { return static_cast<uint8_t>(v > 255 ? 255 : (v < 0 ? 0 : v)); }

// Bytes a routine reads or writes when it takes `b` as `bpp` bytes a pixel; -1 when the
// bitmap cannot hold that: null record or pixels, negative sizes, a bytes-per-pixel field
// smaller than bpp, or a size that does not fit.
inline int64_t bitmap_bytes(const Bitmap *b, int32_t bpp) {
  if (b == nullptr || b->width < 0 || b->height < 0 || b->bytes_per_pixel < bpp) return -1;
  const int64_t n = checked_size(b->width, b->height, bpp);
  if (n < 0 || (n > 0 && b->pixels == nullptr)) return -1;
  return n;
}

// Bytes of `b` taken at its own bytes-per-pixel field (width x height x field); -1 as for
// bitmap_bytes.
inline int64_t own_bytes(const Bitmap *b) {
  return b == nullptr ? -1 : bitmap_bytes(b, b->bytes_per_pixel);
}

}  // namespace corvix

#endif
