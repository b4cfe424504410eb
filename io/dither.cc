// Ordered dither of three-byte bitmaps to eight colours.
#include "io/dither.h"

#include <algorithm>
#include <cstddef>

#include "core/bitmaps.h"
#include "core/parallel.h"
#include "core/pixels.h"
#include "corvix/bitmap.h"
#include "corvix/io.h"

namespace corvix {
namespace {

// A row of thresholds is laid out once per matrix row as a span of whole tiles, three bytes
// a pixel, so that each image row is a plain byte-wise compare against one span after
// another. Every matrix gives a span of about 1 KiB; Bayer16 the largest, 22 tiles of 48.
constexpr int32_t kSpanTarget = 1024;
constexpr int32_t kMaxSpan = 1056;
constexpr int32_t kMaxMatrix = 16;

constexpr int32_t span_of(int32_t n) { return (kSpanTarget + 3 * n - 1) / (3 * n) * 3 * n; }
constexpr bool spans_fit() {
  for (int32_t n : {3, 4, 5, 6, 8, 16})
    if (span_of(n) > kMaxSpan || n > kMaxMatrix) return false;
  return true;
}
static_assert(spans_fit(), "a threshold span outgrows its buffer");

// The result of a usable source and method: an allocated bitmap of the source's size, or
// null (nothing allocated) when the call is refused or memory runs out. Its pixels are not
// cleared: every byte is written by the dither.
Bitmap *dither_result(const Bitmap *source, int32_t method, DitherMatrix m) {
  if (require_bitmap(source, 3, "source bitmap") < 0) return nullptr;
  if (m.entries == nullptr) return fail(CORVIX_E_INVALID, "method %d is outside 1..7", method);
  return gx_allocrawbitmap(source->width, source->height, 3);
}

}  // namespace

DitherMatrix dither_matrix(int32_t method) {
  switch (method) {
    case 1: return {ClassicalScreen, 8};
    case 2: return {Rectangular, 3};
    case 3: return {Halftone, 6};
    case 4: return {Bayer4, 4};
    case 5: return {Bayer16, 16};
    case 6: return {FourStars, 5};
    case 7: return {BoxDither, 5};
    default: return {nullptr, 0};
  }
}

Bitmap *dither_reference(const Bitmap *source, int32_t method) {
  const DitherMatrix m = dither_matrix(method);
  Bitmap *result = dither_result(source, method, m);
  if (result == nullptr) return nullptr;
  const uint8_t *s = source->pixels;
  uint8_t *d = result->pixels;
  int32_t my = 0;
  for (int32_t y = 0; y < source->height; ++y) {
    int32_t mx = 0;
    for (int32_t x = 0; x < source->width; ++x) {
      const uint8_t t = m.entries[my * m.size + mx];
      for (int c = 0; c < 3; ++c) *d++ = *s++ >= t ? 255 : 0;
      if (++mx == m.size) mx = 0;
    }
    if (++my == m.size) my = 0;
  }
  return result;
}

}  // namespace corvix

extern "C" Bitmap *gx_dither(const Bitmap *source, int32_t method) {
  using namespace corvix;
  const DitherMatrix m = dither_matrix(method);
  Bitmap *result = dither_result(source, method, m);
  if (result == nullptr) return nullptr;

  const int32_t n = m.size;
  const int32_t tile = 3 * n;
  const int64_t row_bytes = int64_t{3} * source->width;
  if (row_bytes == 0) return result;  // rows of no bytes: nothing to compare
  // Whole tiles, about kSpanTarget bytes, but never more than one row needs.
  const auto span =
      static_cast<int32_t>(std::min<int64_t>(span_of(n), (row_bytes + tile - 1) / tile * tile));
  // Each row's first tile is laid out entry by entry and the rest of its span copied from the
  // tiles before it: a few copies, not a division per byte, before the rows can be split.
  alignas(64) uint8_t thresholds[kMaxMatrix * kMaxSpan];
  for (int32_t r = 0; r < n; ++r) {
    uint8_t *row = thresholds + r * span;
    for (int32_t i = 0; i < tile; ++i) row[i] = m.entries[r * n + i / 3];
    repeat_bytes(row, static_cast<size_t>(tile), static_cast<size_t>(span));
  }

  for_rows(source->height, row_bytes * source->height * kGatherCost,
           [&](int64_t first, int64_t end) {
             const uint8_t *s = source->pixels + first * row_bytes;
             uint8_t *d = result->pixels + first * row_bytes;
             auto my = static_cast<int32_t>(first % n);
             for (int64_t y = first; y < end; ++y) {
               const uint8_t *t = thresholds + static_cast<ptrdiff_t>(my) * span;
               for (int64_t off = 0; off < row_bytes; off += span) {
                 const int64_t len = std::min<int64_t>(span, row_bytes - off);
                 const uint8_t *sp = s + off;
                 uint8_t *dp = d + off;
                 for (int64_t i = 0; i < len; ++i) dp[i] = sp[i] >= t[i] ? 255 : 0;
               }
               s += row_bytes;
               d += row_bytes;
               if (++my == n) my = 0;
             }
           });
  return result;
}
