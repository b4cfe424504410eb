// Scaled blits: blocks stretched by nearest sampling onto a rectangle, copied, masked by a
// threshold, or added as a tinted light map.
#include <cstring>

#include "core/bitmaps.h"
#include "core/pixels.h"
#include "blit/kernels.h"
#include "corvix/blit.h"

namespace corvix {
namespace {

constexpr int32_t kLightSide = 256;         // the light map is 256 x 256 pixels
constexpr uint32_t kLightTableBytes = 261;  // each channel table's block

// The clipped part of the dw x dh rectangle at (x, y), or an empty clip when the destination
// cannot take packed three-byte pixels or sampling an sw x sh source would overflow.
Clip scaled_clip(const Bitmap *dst, int32_t sw, int32_t sh, int32_t x, int32_t y, int32_t dw,
                 int32_t dh) {
  if (require_bitmap(dst, 3, "destination bitmap") < 0) return {};
  const Clip c = clip_rect(x, y, dw, dh, dst->width, dst->height);
  if (c.empty()) return {};  // nothing of the rectangle lands inside
  if (!sampling_fits(sw, dw) || !sampling_fits(sh, dh)) {
    set_error(CORVIX_E_INVALID,
              "sampling %d x %d onto %d x %d needs positions beyond the 32-bit range", sw, sh, dw,
              dh);
    return {};
  }
  return c;
}

// Copies the sampled pixels; with `masked`, only those whose byte 0 exceeds the threshold.
void scaled_blit(Bitmap *dst, int32_t sw, int32_t sh, const uint8_t *source, int32_t x, int32_t y,
                 int32_t dw, int32_t dh, bool masked, int32_t threshold) {
  const Clip c = scaled_clip(dst, sw, sh, x, y, dw, dh);
  if (c.empty()) return;
  if (sw <= 0 || sh <= 0) {
    set_error(CORVIX_E_INVALID, "block of %d x %d pixels is empty, the rectangle is not", sw, sh);
    return;
  }
  if (require_size("block width x height x 3", sw, sh, 3) < 0) return;
  if (source == nullptr) {
    set_error(CORVIX_E_INVALID, "source pixels are NULL");
    return;
  }
  // A copied row that samples the same source row as the one above it is the same bytes;
  // when the block lies outside the destination, copying that row is exact and cheaper.
  const bool repeat_rows = !masked && !ranges_overlap(source, checked_size(sw, sh, 3), dst->pixels,
                                                      bitmap_bytes(dst, 3));
  const size_t row_bytes = static_cast<size_t>(c.col1 - c.col0) * 3;
  int32_t previous_sy = -1;
  for (int32_t row = c.row0; row < c.row1; ++row) {
    const int32_t sy = sample_index(row - y, sh, dh);
    const uint8_t *src_row = source + static_cast<size_t>(sy) * sw * 3;
    uint8_t *d = dst->pixels + (static_cast<size_t>(row) * dst->width + c.col0) * 3;
    if (repeat_rows && sy == previous_sy) {
      std::memcpy(d, d - static_cast<size_t>(dst->width) * 3, row_bytes);
      continue;
    }
    previous_sy = sy;
    SampleStepper sx(c.col0 - x, sw, dw);
    for (int32_t col = c.col0; col < c.col1; ++col, d += 3, sx.next()) {
      const uint8_t *s = src_row + static_cast<size_t>(sx.index()) * 3;
      const uint8_t s0 = s[0], s1 = s[1], s2 = s[2];
      if (masked && int32_t{s0} <= threshold) continue;
      d[0] = s0;
      d[1] = s1;
      d[2] = s2;
    }
  }
}

}  // namespace
}  // namespace corvix

extern "C" {

void gx_scaledblit(Bitmap *destination, int32_t sw, int32_t sh, const uint8_t *source, int32_t x,
                   int32_t y, int32_t dw, int32_t dh) {
  corvix::scaled_blit(destination, sw, sh, source, x, y, dw, dh, false, 0);
}

void gx_scaledmaskblit(Bitmap *destination, int32_t sw, int32_t sh, const uint8_t *source,
                       int32_t x, int32_t y, int32_t dw, int32_t dh, int32_t threshold) {
  corvix::scaled_blit(destination, sw, sh, source, x, y, dw, dh, true, threshold);
}

void gx_scaledlightblit(Bitmap *destination, const uint8_t *light, int32_t x, int32_t y, int32_t dw,
                        int32_t dh, int32_t red, int32_t green, int32_t blue) {
  using namespace corvix;
  if (light == nullptr) {
    set_error(CORVIX_E_INVALID, "light map is NULL");
    return;
  }
  const Clip c = scaled_clip(destination, kLightSide, kLightSide, x, y, dw, dh);
  if (c.empty()) return;

  // All three tables or none: a missing one leaves every pixel as it was.
  uint8_t *tables[3];
  for (auto &t : tables) t = static_cast<uint8_t *>(alloc_bytes(kLightTableBytes, MEMF_ANY));
  if (tables[0] == nullptr || tables[1] == nullptr || tables[2] == nullptr) {
    for (uint8_t *t : tables)
      if (t != nullptr) PPCFreeVec(t);
    return;
  }
  // Entry i is (f x i) / 255 in wrapping 32-bit arithmetic, low 8 bits kept.
  const int32_t factors[3] = {red, green, blue};
  for (int k = 0; k < 3; ++k) {
    const auto f = static_cast<uint32_t>(factors[k]);
    for (uint32_t i = 0; i < 256; ++i)
      tables[k][i] = static_cast<uint8_t>(static_cast<int32_t>(f * i) / 255);
  }

  const uint8_t *t0 = tables[0], *t1 = tables[1], *t2 = tables[2];
  for (int32_t row = c.row0; row < c.row1; ++row) {
    const int32_t sy = sample_index(row - y, kLightSide, dh);
    const uint8_t *map_row = light + static_cast<size_t>(sy) * kLightSide * 3;
    uint8_t *d = destination->pixels + (static_cast<size_t>(row) * destination->width + c.col0) * 3;
    SampleStepper sx(c.col0 - x, kLightSide, dw);
    for (int32_t col = c.col0; col < c.col1; ++col, d += 3, sx.next()) {
      const uint8_t *m = map_row + static_cast<size_t>(sx.index()) * 3;
      const uint8_t m0 = m[0], m1 = m[1], m2 = m[2];
      d[0] = clamp255(d[0] + t0[m0]);
      d[1] = clamp255(d[1] + t1[m1]);
      d[2] = clamp255(d[2] + t2[m2]);
    }
  }
  for (uint8_t *t : tables) PPCFreeVec(t);
}

}  // extern "C"
