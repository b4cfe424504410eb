// Shear and transpose of three-byte bitmaps, both into a new pixel buffer that replaces the
// old one.
#include <cstring>
#include <utility>

#include "core/bitmaps.h"
#include "core/parallel.h"
#include "core/pixels.h"
#include "corvix/geometry.h"
#include "geometry/helpers.h"

namespace corvix {
namespace {

// A bitmap these routines may reshape: three bytes a pixel by its own record, a buffer of
// the size the record names. -1 otherwise.
int64_t rgb_bytes(const Bitmap *b) {
  if (b != nullptr && b->bytes_per_pixel != 3) {
    set_error(CORVIX_E_INVALID, "bitmap has %d bytes per pixel, not 3", b->bytes_per_pixel);
    return -1;
  }
  return require_bitmap(b, 3, "bitmap");
}

// Installs a new buffer and releases the old one.
void replace_pixels(Bitmap *b, uint8_t *pixels) {
  if (b->pixels != nullptr) PPCFreeVec(b->pixels);
  b->pixels = pixels;
}

void fill_pixels(uint8_t *p, int64_t count, const uint8_t background[3]) {
  if (count <= 0) return;
  std::memcpy(p, background, 3);
  repeat_bytes(p, 3, static_cast<size_t>(count) * 3);
}

// Square blocks of the transpose: both the rows read and the rows written stay in cache.
constexpr int32_t kTile = 32;

}  // namespace

int32_t maxval(int32_t a, int32_t b) { return a > b ? a : b; }

int32_t interpol(int32_t a, int32_t b, int32_t percent) {
  const int64_t a64 = a, b64 = b;
  if (a <= b) return static_cast<int32_t>(a64 + (b64 - a64) * percent / 100);
  return static_cast<int32_t>(a64 - (a64 - b64) * percent / 100);
}

}  // namespace corvix

extern "C" {

int32_t gx_shearbitmap(Bitmap *bitmap, int32_t first_row, int32_t last_row, int32_t first_shift,
                       int32_t last_shift, int32_t background0, int32_t background1,
                       int32_t background2) {
  if (corvix::rgb_bytes(bitmap) < 0) return 0;
  // A shift to the left would place pixels before their row.
  if (first_shift < 0 || last_shift < 0)
    return corvix::fail(CORVIX_E_INVALID, "shift %d is negative",
                        first_shift < 0 ? first_shift : last_shift);
  const int32_t w = bitmap->width, h = bitmap->height;
  const int64_t d = int64_t{w} + corvix::maxval(first_shift, last_shift);
  const int64_t size = corvix::require_size("widened width x height x 3", d, h, 3);
  if (size < 0) return 0;
  // Not cleared: each row is written whole, background, pixels and background.
  auto *out = static_cast<uint8_t *>(corvix::alloc_bytes(size, MEMF_ANY));
  if (out == nullptr) return 0;
  // Rows of no bytes (a widened width of 0) are not visited.
  const int32_t rows = size == 0 ? 0 : h;
  const uint8_t background[3] = {static_cast<uint8_t>(background0 & 0xFF),
                                 static_cast<uint8_t>(background1 & 0xFF),
                                 static_cast<uint8_t>(background2 & 0xFF)};
  corvix::for_rows(rows, size * corvix::kGatherCost, [&](int64_t begin, int64_t end) {
    for (int32_t y = static_cast<int32_t>(begin); y < end; ++y) {
      int32_t shift = 0;
      if (first_row <= y && y <= last_row) {
        if (first_row == last_row) {
          shift = first_shift;  // a band of one row: no span to divide by
        } else {
          // The percent is truncated first, then interpol truncates again.
          const int64_t percent = (int64_t{y} - first_row) * 100 / (int64_t{last_row} - first_row);
          shift = corvix::interpol(first_shift, last_shift, static_cast<int32_t>(percent));
        }
      }
      uint8_t *row = out + y * d * 3;
      corvix::fill_pixels(row, shift, background);
      if (w > 0)
        std::memcpy(row + int64_t{shift} * 3, bitmap->pixels + int64_t{y} * w * 3,
                    static_cast<size_t>(w) * 3);
      corvix::fill_pixels(row + (int64_t{shift} + w) * 3, d - shift - w, background);
    }
  });
  corvix::replace_pixels(bitmap, out);
  bitmap->width = static_cast<int32_t>(d);
  return 1;
}

int32_t gx_transposebitmap(Bitmap *bitmap) {
  const int64_t size = corvix::rgb_bytes(bitmap);
  if (size < 0) return 0;
  // Not cleared: every pixel of it is written.
  auto *out = static_cast<uint8_t *>(corvix::alloc_bytes(size, MEMF_ANY));
  if (out == nullptr) return 0;
  // An empty bitmap has no pixel to move; only its sizes trade places.
  const int64_t w = size == 0 ? 0 : bitmap->width, h = size == 0 ? 0 : bitmap->height;
  const uint8_t *in = bitmap->pixels;
  // Old pixel (x, y) becomes new pixel (y, x): index y * w + x goes to x * h + y.
  for (int64_t y0 = 0; y0 < h; y0 += corvix::kTile) {
    const int64_t y1 = y0 + corvix::kTile < h ? y0 + corvix::kTile : h;
    for (int64_t x0 = 0; x0 < w; x0 += corvix::kTile) {
      const int64_t x1 = x0 + corvix::kTile < w ? x0 + corvix::kTile : w;
      for (int64_t y = y0; y < y1; ++y) {
        for (int64_t x = x0; x < x1; ++x) {
          const uint8_t *s = in + (y * w + x) * 3;
          uint8_t *t = out + (x * h + y) * 3;
          t[0] = s[0];
          t[1] = s[1];
          t[2] = s[2];
        }
      }
    }
  }
  corvix::replace_pixels(bitmap, out);
  std::swap(bitmap->width, bitmap->height);
  return 1;
}

}  // extern "C"
