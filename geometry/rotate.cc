// Free rotation: the size of the turned picture, then inverse mapping with bilinear sampling.
//
// All geometry is double precision. The angle arrives as a float, is widened, and becomes
// radians as angle * pi * 2.0 / 360.0 in that order; each bilinear term is truncated on its
// own before the four are summed, so a flat 255 area can come out as low as 252.
#include <cmath>
#include <cstring>

#include "core/bitmaps.h"
#include "core/parallel.h"
#include "core/pixels.h"
#include "corvix/geometry.h"
#include "geometry/helpers.h"

namespace corvix {
namespace {

constexpr double kPi = 3.141592653589793;

double radians(double degrees) { return degrees * kPi * 2.0 / 360.0; }

// Halves away from zero: up by 0.5 above zero, down by 0.5 otherwise, then toward zero.
int64_t round_half_away(double v) { return static_cast<int64_t>(v > 0 ? v + 0.5 : v - 0.5); }

// Floor as truncation corrected by one where truncation went up (negative fractions).
int64_t floor_of(double v) {
  const auto t = static_cast<int64_t>(v);
  return static_cast<double>(t) > v ? t - 1 : t;
}

// The inverse mapping for one pixel size, over visit rows [first, end). Destination pixels
// are visited in buffer order, from the top row (y = dh) down and from the left (x = -dw);
// the write position advances on every visit, sampled or not, so visit row r starts
// r x 2dw pixels into the buffer.
template <int Bpp>
void turn_pixels(const Bitmap &source, Bitmap &destination, double sn, double cs, int64_t first,
                 int64_t end) {
  const int64_t w = source.width, h = source.height;
  const int64_t sw = w / 2, sh = h / 2;
  const int32_t dw = destination.width / 2, dh = destination.height / 2;
  const uint8_t *src = source.pixels;
  const int64_t stride = w * Bpp;
  uint8_t *out = destination.pixels + first * 2 * dw * Bpp;
  for (auto y = static_cast<int32_t>(dh - first); y > dh - end; --y) {
    for (int32_t x = -dw; x < dw; ++x, out += Bpp) {
      const double u = x * cs - y * sn;
      const double v = x * sn + y * cs;
      const int64_t ix = floor_of(u), iy = floor_of(v);
      // The sample lies between columns sx and sx + 1 and between rows r - 1 and r; all
      // four must be inside the source.
      const int64_t sx = ix + sw, r = sh - iy;
      if (sx < 0 || sx > w - 2 || r < 1 || r > h - 1) continue;
      const double fx = u - static_cast<double>(ix), fy = v - static_cast<double>(iy);
      const double above_left = (1 - fx) * fy, above_right = fx * fy;
      const double below_left = (1 - fx) * (1 - fy), below_right = fx * (1 - fy);
      const uint8_t *below = src + r * stride + sx * Bpp;
      const uint8_t *above = below - stride;
      for (int c = 0; c < Bpp; ++c) {
        const int32_t sum = static_cast<int32_t>(above[c] * above_left) +
                            static_cast<int32_t>(above[c + Bpp] * above_right) +
                            static_cast<int32_t>(below[c] * below_left) +
                            static_cast<int32_t>(below[c + Bpp] * below_right);
        out[c] = static_cast<uint8_t>(sum & 0xFF);
      }
    }
  }
}

// Every pixel of the new bitmap takes the background, bytes 0, 1, 2 in order.
void fill_background(Bitmap &b, int64_t size, const uint8_t background[3]) {
  if (b.bytes_per_pixel == 1) {
    std::memset(b.pixels, background[0], static_cast<size_t>(size));
    return;
  }
  for (int64_t i = 0; i + 2 < size; i += 3) {
    b.pixels[i] = background[0];
    b.pixels[i + 1] = background[1];
    b.pixels[i + 2] = background[2];
  }
}

}  // namespace

void CalculateBoundary(int32_t *width, int32_t *height, int32_t source_width, int32_t source_height,
                       float angle) {
  if (width == nullptr || height == nullptr) return;
  *width = *height = -1;
  if (!std::isfinite(angle) || source_width < 0 || source_height < 0) return;
  const double rad = radians(static_cast<double>(angle));
  const double sn = std::sin(rad), cs = std::cos(rad);
  // Odd sizes count as the next even one, so the corners sit at whole half-sizes.
  const int64_t w = source_width + int64_t{source_width % 2 != 0};
  const int64_t h = source_height + int64_t{source_height % 2 != 0};
  const int64_t hw = w / 2, hh = h / 2;
  const int64_t corner_x[4] = {-hw, hw, hw, -hw}, corner_y[4] = {-hh, -hh, hh, hh};
  int64_t min_x = 0, max_x = 0, min_y = 0, max_y = 0;
  for (int k = 0; k < 4; ++k) {
    const auto x = static_cast<double>(corner_x[k]), y = static_cast<double>(corner_y[k]);
    const int64_t tx = round_half_away(x * cs - y * sn);
    const int64_t ty = round_half_away(x * sn + y * cs);
    if (k == 0 || tx < min_x) min_x = tx;
    if (k == 0 || tx > max_x) max_x = tx;
    if (k == 0 || ty < min_y) min_y = ty;
    if (k == 0 || ty > max_y) max_y = ty;
  }
  // The corners come in opposite pairs, (x, y) and (-x, -y). Negating both inputs negates
  // each product and their difference exactly, and the rounding is symmetric, so the turned
  // corners are opposite pairs too: the smallest of each coordinate is the negated largest
  // and every extent is twice a whole number, even without raising.
  const int64_t d = max_x - min_x, e = max_y - min_y;
  if (d > INT32_MAX || e > INT32_MAX) return;
  *width = static_cast<int32_t>(d);
  *height = static_cast<int32_t>(e);
}

void CalculateImage(const Bitmap *source, Bitmap *destination, float angle) {
  if (source == nullptr || destination == nullptr || !std::isfinite(angle)) return;
  const int32_t bpp = source->bytes_per_pixel;
  if ((bpp != 1 && bpp != 3) || destination->bytes_per_pixel != bpp) return;
  if (bitmap_bytes(source, bpp) < 0 || bitmap_bytes(destination, bpp) < 0) return;
  // A destination less than two pixels wide or high has no visit (the visits run over
  // whole halves): nothing to map, whatever its other size.
  if (destination->width < 2 || destination->height < 2) return;
  // The mapping runs from the destination back into the source: turn by the negated angle.
  const double rad = radians(-static_cast<double>(angle));
  const double sn = std::sin(rad), cs = std::cos(rad);
  // Rows of visits, 2dh of them, each 2dw pixels.
  const int64_t rows = destination->height / 2 * 2;
  const int64_t visits = destination->width / 2 * 2;
  for_rows(rows, rows * visits * bpp * kSampleCost, [&](int64_t first, int64_t end) {
    if (bpp == 1)
      turn_pixels<1>(*source, *destination, sn, cs, first, end);
    else
      turn_pixels<3>(*source, *destination, sn, cs, first, end);
  });
}

}  // namespace corvix

extern "C" {

Bitmap *gx_rotatebitmap(const Bitmap *source, int32_t background0, int32_t background1,
                        int32_t background2, float angle) {
  using namespace corvix;
  if (source == nullptr) return fail(CORVIX_E_INVALID, "source bitmap is NULL");
  const int32_t bpp = source->bytes_per_pixel;
  // Other pixel sizes have no defined background fill or sample offset.
  if (bpp != 1 && bpp != 3)
    return fail(CORVIX_E_INVALID, "source bitmap has %d bytes per pixel, not 1 or 3", bpp);
  if (require_bitmap(source, bpp, "source bitmap") < 0) return nullptr;
  if (!std::isfinite(angle)) return fail(CORVIX_E_INVALID, "angle %g is not finite", angle);
  int32_t width = -1, height = -1;
  CalculateBoundary(&width, &height, source->width, source->height, angle);
  if (width < 0 || height < 0)
    return fail(CORVIX_E_INVALID, "%d x %d turned by %g degrees does not fit a 32-bit size",
                source->width, source->height, angle);
  const int64_t size = require_size("turned width x height x bytes per pixel", width, height, bpp);
  if (size < 0) return nullptr;
  Bitmap *b = wrap_pixels(static_cast<uint8_t *>(alloc_bytes(size, MEMF_ANY)), width, height, bpp);
  if (b == nullptr) return nullptr;
  const uint8_t background[3] = {static_cast<uint8_t>(background0 & 0xFF),
                                 static_cast<uint8_t>(background1 & 0xFF),
                                 static_cast<uint8_t>(background2 & 0xFF)};
  fill_background(*b, size, background);
  CalculateImage(source, b, angle);
  return b;
}

}  // extern "C"
