// Quarter and half turns of a frame of three-byte pixels into a new bitmap.
#include <algorithm>

#include "core/bitmaps.h"
#include "core/pixels.h"
#include "corvix/bitmap.h"
#include "corvix/effects.h"
#include "core/cpu.h"
#include "effects/frame_kernels.h"

#include "core/simd.h"

namespace corvix {

// The source in buffer order, each pixel to the place the turn gives it.
void quarter_turn_plain(const uint8_t *source, uint8_t *destination, int32_t width, int32_t height,
                        bool clockwise) {
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const int64_t index =
          clockwise ? int64_t{x} * height + (height - y - 1) : int64_t{width - x - 1} * height + y;
      const uint8_t *s = source + 3 * (int64_t{y} * width + x);
      uint8_t *d = destination + 3 * index;
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
}

namespace {

// Destination row r, column c takes source pixel first(r) + c * step: clockwise the source
// column r read from the bottom row up, counter-clockwise the column width - 1 - r read down.
struct TurnWalk {
  int64_t width, height, step;
  bool clockwise;
  int64_t first(int64_t r) const { return clockwise ? (height - 1) * width + r : width - 1 - r; }
};

// Destination rows [r0, r1), columns [c0, c1), one pixel at a time (the strips the vector
// form leaves).
[[maybe_unused]] void turn_block(const uint8_t *source, uint8_t *destination, const TurnWalk &t,
                                 int64_t r0, int64_t r1, int64_t c0, int64_t c1) {
  for (int64_t r = r0; r < r1; ++r) {
    const uint8_t *s = source + 3 * (t.first(r) + c0 * t.step);
    uint8_t *d = destination + 3 * (r * t.height + c0);
    for (int64_t c = c0; c < c1; ++c, s += 3 * t.step, d += 3) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
  }
}

// 16 x 16 tiles, each read along its source rows: the tile's destination rows stay in the
// first-level cache while it is written a column at a time.
void turn_tiled(const uint8_t *source, uint8_t *destination, const TurnWalk &t) {
  constexpr int64_t kTile = 16;
  const int64_t w = t.width, h = t.height;
  const int64_t across = t.clockwise ? 3 * h : -3 * h;  // destination step per source column
  for (int64_t y0 = 0; y0 < h; y0 += kTile)
    for (int64_t x0 = 0; x0 < w; x0 += kTile) {
      const int64_t y1 = std::min(y0 + kTile, h), x1 = std::min(x0 + kTile, w);
      for (int64_t y = y0; y < y1; ++y) {
        const uint8_t *s = source + 3 * (y * w + x0);
        uint8_t *d = destination + 3 * (t.clockwise ? x0 * h + h - 1 - y : (w - 1 - x0) * h + y);
        for (int64_t x = x0; x < x1; ++x, s += 3, d += across) {
          const uint8_t b0 = s[0], b1 = s[1], b2 = s[2];
          d[0] = b0;
          d[1] = b1;
          d[2] = b2;
        }
      }
    }
}

#ifdef CORVIX_X86
// A 16 x 16 pixel tile at a time: sixteen source row pieces of 48 bytes are widened to
// sixteen 4-byte words each, the 16 x 16 word matrix is transposed in registers, and each
// column is packed back to 48 bytes (in reverse order for the clockwise turn) and stored as
// a piece of one destination row. Loads and stores are masked to the 48 bytes of a piece.
// The strips right of and below the last whole tile go pixel by pixel.
CORVIX_TARGET_VBMI CORVIX_ALWAYS_INLINE void transpose16(__m512i (&m)[16]) {
  __m512i t[16], u[16];
  for (int i = 0; i < 16; i += 2) {
    t[i] = _mm512_unpacklo_epi32(m[i], m[i + 1]);
    t[i + 1] = _mm512_unpackhi_epi32(m[i], m[i + 1]);
  }
  // u[4g + k], 128-bit lane l: column 4l + k of rows 4g .. 4g + 3.
  for (int g = 0; g < 16; g += 4) {
    u[g] = _mm512_unpacklo_epi64(t[g], t[g + 2]);
    u[g + 1] = _mm512_unpackhi_epi64(t[g], t[g + 2]);
    u[g + 2] = _mm512_unpacklo_epi64(t[g + 1], t[g + 3]);
    u[g + 3] = _mm512_unpackhi_epi64(t[g + 1], t[g + 3]);
  }
  for (int k = 0; k < 4; ++k) {
    const __m512i a = _mm512_shuffle_i32x4(u[k], u[4 + k], 0x88);  // columns k, 8 + k
    const __m512i b = _mm512_shuffle_i32x4(u[k], u[4 + k], 0xDD);  // columns 4 + k, 12 + k
    const __m512i c = _mm512_shuffle_i32x4(u[8 + k], u[12 + k], 0x88);
    const __m512i d = _mm512_shuffle_i32x4(u[8 + k], u[12 + k], 0xDD);
    m[k] = _mm512_shuffle_i32x4(a, c, 0x88);
    m[8 + k] = _mm512_shuffle_i32x4(a, c, 0xDD);
    m[4 + k] = _mm512_shuffle_i32x4(b, d, 0x88);
    m[12 + k] = _mm512_shuffle_i32x4(b, d, 0xDD);
  }
}

CORVIX_TARGET_VBMI void turn_avx512vbmi(const uint8_t *source, uint8_t *destination,
                                        const TurnWalk &t) {
  constexpr __mmask64 kBlock48 = (__mmask64{1} << 48) - 1;
  alignas(64) uint8_t widen_bytes[64], pack_bytes[64];
  for (int b = 0; b < 64; ++b) {
    widen_bytes[b] = static_cast<uint8_t>(3 * (b / 4) + b % 4 % 3);
    const int pixel = t.clockwise ? 15 - b / 3 : b / 3;
    pack_bytes[b] = static_cast<uint8_t>(b < 48 ? 4 * pixel + b % 3 : 0);
  }
  const __m512i widen = _mm512_load_si512(widen_bytes);
  const __m512i pack = _mm512_load_si512(pack_bytes);
  const int64_t w = t.width, h = t.height;
  const int64_t w16 = w / 16 * 16, h16 = h / 16 * 16;
  // Bands of four tiles across keep the destination rows being filled in the first-level
  // cache while the band walks down the source.
  for (int64_t band = 0; band < w16; band += 64) {
    const int64_t band_end = std::min(band + 64, w16);
    for (int64_t y0 = 0; y0 < h16; y0 += 16)
      for (int64_t x0 = band; x0 < band_end; x0 += 16) {
        __m512i m[16];
        for (int j = 0; j < 16; ++j)
          m[j] = _mm512_permutexvar_epi8(
              widen, _mm512_maskz_loadu_epi8(kBlock48, source + 3 * ((y0 + j) * w + x0)));
        transpose16(m);
        // m[i]: source column x0 + i, rows y0 .. y0 + 15.
        for (int i = 0; i < 16; ++i) {
          const int64_t at = t.clockwise ? (x0 + i) * h + (h - 16 - y0) : (w - 1 - x0 - i) * h + y0;
          _mm512_mask_storeu_epi8(destination + 3 * at, kBlock48,
                                  _mm512_maskz_permutexvar_epi8(kBlock48, pack, m[i]));
        }
      }
  }
  if (t.clockwise) {
    // Destination rows = source columns; columns h - 1 - y.
    turn_block(source, destination, t, w16, w, 0, h);
    turn_block(source, destination, t, 0, w16, 0, h - h16);
  } else {
    // Destination rows = w - 1 - source columns; columns y.
    turn_block(source, destination, t, 0, w - w16, 0, h);
    turn_block(source, destination, t, w - w16, w, h16, h);
  }
}
#endif

TurnWalk walk(int32_t width, int32_t height, bool clockwise) {
  return TurnWalk{width, height, clockwise ? -int64_t{width} : int64_t{width}, clockwise};
}

}  // namespace

void quarter_turn_tiled(const uint8_t *source, uint8_t *destination, int32_t width, int32_t height,
                        bool clockwise) {
  turn_tiled(source, destination, walk(width, height, clockwise));
}

#ifdef CORVIX_X86
void quarter_turn_avx512vbmi(const uint8_t *source, uint8_t *destination, int32_t width,
                             int32_t height, bool clockwise) {
  turn_avx512vbmi(source, destination, walk(width, height, clockwise));
}
#endif

namespace {
using TurnFn = void (*)(const uint8_t *, uint8_t *, int32_t, int32_t, bool);
// The tiles are the portable form; quarter_turn_plain is the reference both are held to.
constexpr Kernels<TurnFn> kTurn{.plain = quarter_turn_tiled,
                                .avx512vbmi = CORVIX_X86_KERNEL(quarter_turn_avx512vbmi)};
}  // namespace

void quarter_turn(const uint8_t *source, uint8_t *destination, int32_t width, int32_t height,
                  bool clockwise) {
  if (width <= 0 || height <= 0) return;
  pick(kTurn)(source, destination, width, height, clockwise);
}

}  // namespace corvix

extern "C" {

Bitmap *fxx_rotangle_ll(const Bitmap *source, int32_t turn) {
  if (turn < 0 || turn > 2) return corvix::fail(CORVIX_E_INVALID, "turn %d is outside 0..2", turn);
  if (corvix::require_bitmap(source, 3, "source bitmap") < 0) return nullptr;
  const int32_t width = source->width, height = source->height;
  const bool half = turn == 1;
  // Every destination byte is written below, so the buffer need not be cleared first.
  Bitmap *turned = gx_allocrawbitmap(half ? width : height, half ? height : width, 3);
  if (turned == nullptr) return nullptr;
  if (half)
    corvix::reverse_copy_pixels(source->pixels, turned->pixels, int64_t{width} * height);
  else
    corvix::quarter_turn(source->pixels, turned->pixels, width, height, turn == 0);
  return turned;
}

}  // extern "C"
