// Lines and boxes on either pixel layout.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/bitmaps.h"
#include "core/pixels.h"
#include "corvix/blit.h"

namespace corvix {
namespace {

// What a plot writes: the three bytes of a three-byte pixel, or the single byte of any other
// layout (the red value).
struct Pen {
  uint8_t *pixels = nullptr;
  int32_t width = 0, height = 0;
  bool rgb = false;
  uint8_t c0 = 0, c1 = 0, c2 = 0;

  // (x, y) must lie inside the target.
  void plot(int64_t x, int64_t y) const {
    const size_t at = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
    if (rgb) {
      pixels[3 * at] = c0;
      pixels[3 * at + 1] = c1;
      pixels[3 * at + 2] = c2;
    } else {
      pixels[at] = c0;
    }
  }
  // Pixels x0..x1 of row y, all inside the target.
  void span(int64_t x0, int64_t x1, int64_t y) const {
    const size_t row = static_cast<size_t>(y) * static_cast<size_t>(width);
    if (!rgb) {
      std::memset(pixels + row + x0, c0, static_cast<size_t>(x1 - x0 + 1));
      return;
    }
    // One pixel, then copied onto the rest.
    uint8_t *p = pixels + 3 * (row + static_cast<size_t>(x0));
    const size_t bytes = 3 * static_cast<size_t>(x1 - x0 + 1);
    p[0] = c0;
    p[1] = c1;
    p[2] = c2;
    repeat_bytes(p, 3, bytes);
  }
};

// False for a target nothing can be drawn on: null, negative or empty sizes, a pixel size
// below 1, a buffer that cannot hold what the layout writes.
bool make_pen(const Bitmap *target, int32_t red, int32_t green, int32_t blue, Pen &pen) {
  if (target == nullptr) return fail(CORVIX_E_INVALID, "target bitmap is NULL");
  pen.rgb = target->bytes_per_pixel == 3;
  const int64_t bytes = require_bitmap(target, pen.rgb ? 3 : 1, "target bitmap");
  if (bytes <= 0) return false;  // an empty target has no pixel to draw on
  pen.pixels = target->pixels;
  pen.width = target->width;
  pen.height = target->height;
  pen.c0 = static_cast<uint8_t>(red);
  pen.c1 = static_cast<uint8_t>(green);
  pen.c2 = static_cast<uint8_t>(blue);
  return true;
}

// 128-bit intermediates: the products below reach 2^65 for lines across the whole 32-bit
// coordinate range.
__extension__ typedef __int128 Wide;

}  // namespace
}  // namespace corvix

extern "C" {

void gx_drawline(Bitmap *target, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t red,
                 int32_t green, int32_t blue) {
  using namespace corvix;
  Pen pen;
  if (!make_pen(target, red, green, blue, pen)) return;
  // Bresenham along the major axis u (x for shallow lines, y for steep ones), minor axis v.
  // Differences are 64-bit: the ends may lie anywhere in the 32-bit range.
  const int64_t dx = std::llabs(int64_t{x2} - x1), dy = std::llabs(int64_t{y2} - y1);
  const bool steep = dy > dx;
  const int64_t du = steep ? dy : dx, dv = steep ? dx : dy;
  const int64_t u0 = steep ? y1 : x1, v0 = steep ? x1 : y1;
  const int64_t su = (steep ? y2 < y1 : x2 < x1) ? -1 : 1;
  const int64_t sv = (steep ? x2 < x1 : y2 < y1) ? -1 : 1;
  const int64_t u_size = steep ? pen.height : pen.width, v_size = steep ? pen.width : pen.height;

  // Points k = 0..du have u = u0 + su k; only those with 0 <= u < u_size can be plotted, so
  // the walk starts at the first of them and stops after the last.
  int64_t k0 = su > 0 ? -u0 : u0 - (u_size - 1);
  int64_t k1 = su > 0 ? u_size - 1 - u0 : u0;
  k0 = std::max<int64_t>(k0, 0);
  k1 = std::min<int64_t>(k1, du);
  if (k0 > k1) return;
  // After k steps from the start, the walk has taken m diagonal steps and holds the error e:
  //   m = floor((2 dv k + du) / (2 du)),  e = 2 dv (k + 1) - du - 2 du m,
  // which is what stepping from e = 2 dv - du (diagonal when e >= 0) gives; so the walk can
  // begin at k0 without taking the steps before it.
  int64_t m = 0, e = 2 * dv - du;
  if (k0 > 0) {
    m = static_cast<int64_t>((2 * Wide{dv} * k0 + du) / (2 * Wide{du}));
    e = static_cast<int64_t>(2 * Wide{dv} * (k0 + 1) - du - 2 * Wide{du} * m);
  }
  for (int64_t k = k0; k <= k1; ++k) {
    const int64_t u = u0 + su * k, v = v0 + sv * m;
    if (v >= 0 && v < v_size) {
      if (steep)
        pen.plot(v, u);
      else
        pen.plot(u, v);
    }
    if (e >= 0) {
      ++m;
      e += 2 * (dv - du);
    } else {
      e += 2 * dv;
    }
  }
}

void gx_drawbox(Bitmap *target, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t red,
                int32_t green, int32_t blue, int32_t step) {
  using namespace corvix;
  if (step < 1) {
    set_error(CORVIX_E_INVALID, "grid step %d is below 1", step);
    return;
  }
  Pen pen;
  if (!make_pen(target, red, green, blue, pen)) return;
  int32_t xmin = std::min(x1, x2), xmax = std::max(x1, x2);
  int32_t ymin = std::min(y1, y2), ymax = std::max(y1, y2);
  if (ymin >= pen.height || xmin >= pen.width || xmax < 0 || ymax < 0) return;
  xmin = std::clamp(xmin, 0, pen.width - 1);
  xmax = std::clamp(xmax, 0, pen.width - 1);
  ymin = std::clamp(ymin, 0, pen.height - 1);
  ymax = std::clamp(ymax, 0, pen.height - 1);
  // 64-bit counters: adding a large step to a coordinate near the top must not wrap.
  for (int64_t y = ymin; y <= ymax; y += step) {
    if (step == 1) {
      pen.span(xmin, xmax, y);
      continue;
    }
    for (int64_t x = xmin; x <= xmax; x += step) pen.plot(x, y);
  }
}

}  // extern "C"
