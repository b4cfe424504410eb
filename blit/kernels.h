// The pieces the blit and drawing routines share: clipping of a placed rectangle, the blend
// formulas, and the per-row kernels. The plain kernels are the definition; the fast ones are
// used only where they are proven byte-identical (see tests/blit_test.cc).
#ifndef CORVIX_BLIT_KERNELS_H
#define CORVIX_BLIT_KERNELS_H

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/sampling.h"

namespace corvix {

// The part of a rectangle placed at (x, y) with size w x h that lies inside a W x H bitmap:
// columns col0 <= col < col1, rows row0 <= row < row1. Bounds are worked out in 64 bits and
// kept within 0..W and 0..H, so a position or size near the ends of the 32-bit range cannot
// wrap into the bitmap. W and H are not negative.
struct Clip {
  int32_t col0 = 0, col1 = 0, row0 = 0, row1 = 0;
  bool empty() const { return col0 >= col1 || row0 >= row1; }
};

inline Clip clip_rect(int32_t x, int32_t y, int32_t w, int32_t h, int32_t width, int32_t height) {
  Clip c;
  c.col0 = static_cast<int32_t>(std::max<int64_t>(x, 0));
  c.col1 = static_cast<int32_t>(std::clamp<int64_t>(int64_t{x} + w, 0, width));
  c.row0 = static_cast<int32_t>(std::max<int64_t>(y, 0));
  c.row1 = static_cast<int32_t>(std::clamp<int64_t>(int64_t{y} + h, 0, height));
  return c;
}

// True when the byte ranges [a, a + an) and [b, b + bn) share a byte.
inline bool ranges_overlap(const void *a, int64_t an, const void *b, int64_t bn) {
  const auto pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);
  return pa < pb + static_cast<uintptr_t>(bn) && pb < pa + static_cast<uintptr_t>(an);
}

// ---- Blend formulas (the definition, for every argument) ------------------------------

// (d x p + s x (100 - p)) / 100 in 32-bit signed arithmetic, wrapping like the machine word
// for percentages far outside 0..100; the quotient truncates toward zero and its low 8 bits
// are kept.
inline uint8_t blend_percent(uint8_t d, uint8_t s, int32_t p) {
  const uint32_t up = static_cast<uint32_t>(p);
  const uint32_t sum = d * up + s * (100u - up);
  return static_cast<uint8_t>(static_cast<int32_t>(sum) / 100);
}

// The scale of the brightness-alpha percentage: one step above the double nearest to 2.55,
// so that 100 scales to 255 and not 254.
inline constexpr double kAlphaScale = std::bit_cast<double>(uint64_t{0x4004666666666667});

// t = p x kAlphaScale in double precision, truncated toward zero. Products beyond the 32-bit
// range saturate at its ends (a plain conversion would be undefined there).
inline int32_t alpha_offset(int32_t p) {
  const double v = static_cast<double>(p) * kAlphaScale;
  if (v >= 2147483648.0) return INT32_MAX;
  if (v <= -2147483649.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// The destination's weight out of 255 for a source pixel of brightness lum (0..255): 255 -
// lum + t, capped at 255 and without a lower bound. The sum is formed in 64 bits; after the
// cap it fits 32.
inline int32_t alpha_weight(int32_t lum, int32_t t) {
  const int64_t a = int64_t{255} - lum + t;
  return static_cast<int32_t>(std::min<int64_t>(a, 255));
}

// (d x a + s x (255 - a)) / 255, 32-bit signed and wrapping, truncated, low 8 bits kept.
inline uint8_t blend_alpha(uint8_t d, uint8_t s, int32_t a) {
  const uint32_t ua = static_cast<uint32_t>(a);
  const uint32_t sum = d * ua + s * (255u - ua);
  return static_cast<uint8_t>(static_cast<int32_t>(sum) / 255);
}

// ---- Plain row kernels ----------------------------------------------------------------
// Pixel by pixel, left to right: each pixel's source bytes are read before its destination
// bytes are written. They stay correct when the source row overlaps the destination buffer.

inline void copy_row_grey(uint8_t *d, const uint8_t *s, int32_t n) {
  for (int32_t i = 0; i < n; ++i) d[i] = s[i];
}

inline void copy_row_rgb(uint8_t *d, const uint8_t *s, int32_t n) {
  for (int32_t i = 0; i < n; ++i, d += 3, s += 3) {
    const uint8_t s0 = s[0], s1 = s[1], s2 = s[2];
    d[0] = s0;
    d[1] = s1;
    d[2] = s2;
  }
}

inline void percent_row_rgb(uint8_t *d, const uint8_t *s, int32_t n, int32_t p) {
  for (int32_t i = 0; i < n; ++i, d += 3, s += 3) {
    const uint8_t s0 = s[0], s1 = s[1], s2 = s[2];
    d[0] = blend_percent(d[0], s0, p);
    d[1] = blend_percent(d[1], s1, p);
    d[2] = blend_percent(d[2], s2, p);
  }
}

inline void alpha_row_rgb(uint8_t *d, const uint8_t *s, int32_t n, int32_t t) {
  for (int32_t i = 0; i < n; ++i, d += 3, s += 3) {
    const uint8_t s0 = s[0], s1 = s[1], s2 = s[2];
    const int32_t a = alpha_weight((s0 + s1 + s2) / 3, t);
    d[0] = blend_alpha(d[0], s0, a);
    d[1] = blend_alpha(d[1], s1, a);
    d[2] = blend_alpha(d[2], s2, a);
  }
}

// ---- Fast row kernels -----------------------------------------------------------------
// Only for rows that do not overlap, and for percentages 0..100, where every intermediate
// is a non-negative value below 65536.

inline void copy_row_fast(uint8_t *__restrict d, const uint8_t *__restrict s, int32_t bytes) {
  std::memcpy(d, s, static_cast<size_t>(bytes));
}

// p in 0..100: the weights are p and 100 - p, both non-negative.
inline void percent_row_fast(uint8_t *__restrict d, const uint8_t *__restrict s, int32_t bytes,
                             int32_t p) {
  const auto dp = static_cast<uint16_t>(p), sp = static_cast<uint16_t>(100 - p);
  for (int32_t i = 0; i < bytes; ++i) {
    const auto sum = static_cast<uint16_t>(d[i] * dp + s[i] * sp);
    d[i] = static_cast<uint8_t>(sum / 100);
  }
}

// alpha_weight for a pixel's channel sum (0..765) and t in 0..255 (p in 0..100): the
// weight lies in 0..255.
inline uint8_t alpha_weight_fast(uint16_t sum, uint16_t t) {
  return static_cast<uint8_t>(std::min<uint16_t>(255, static_cast<uint16_t>(255 + t - sum / 3)));
}

// blend_alpha for a in 0..255: the sum stays below 65536.
inline uint8_t blend_alpha_fast(uint8_t d, uint8_t s, uint16_t a) {
  return static_cast<uint8_t>(static_cast<uint16_t>(d * a + s * (255 - a)) / 255);
}

// A chunk of pixels at a time: first each pixel's weight, repeated for its three bytes, then
// one plain loop over the bytes, which the compiler vectorises.
inline void alpha_row_fast(uint8_t *__restrict d, const uint8_t *__restrict s, int32_t n,
                           int32_t t) {
  constexpr int32_t kChunk = 256;
  uint8_t weight[3 * kChunk];
  for (int32_t start = 0; start < n; start += kChunk) {
    const int32_t m = std::min(kChunk, n - start);
    const uint8_t *sp = s + 3 * start;
    uint8_t *dp = d + 3 * start;
    for (int32_t i = 0; i < m; ++i) {
      const auto sum = static_cast<uint16_t>(sp[3 * i] + sp[3 * i + 1] + sp[3 * i + 2]);
      weight[3 * i] = weight[3 * i + 1] = weight[3 * i + 2] =
          alpha_weight_fast(sum, static_cast<uint16_t>(t));
    }
    for (int32_t i = 0; i < 3 * m; ++i) dp[i] = blend_alpha_fast(dp[i], sp[i], weight[i]);
  }
}

}  // namespace corvix

#endif
