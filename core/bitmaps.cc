// Checks and construction shared by every routine that takes or makes a Bitmap.
#include "core/bitmaps.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/error.h"
#include "core/pixels.h"

namespace corvix {

int64_t require_size(const char *what, int64_t a, int64_t b, int64_t c) {
  const int64_t n = checked_size(a, b, c);
  if (n >= 0) return n;
  // The factors as `what` names them: one more than the " x " in it.
  int factors = 1;
  for (const char *p = std::strstr(what, " x "); p != nullptr; p = std::strstr(p + 3, " x "))
    ++factors;
  char values[80];
  if (factors >= 3)
    std::snprintf(values, sizeof values, "%" PRId64 " x %" PRId64 " x %" PRId64, a, b, c);
  else if (factors == 2)
    std::snprintf(values, sizeof values, "%" PRId64 " x %" PRId64, a, b);
  else
    std::snprintf(values, sizeof values, "%" PRId64, a);
  set_error(CORVIX_E_INVALID, "%s (%s) %s", what, values,
            a < 0 || b < 0 || c < 0 ? "has a negative factor" : "does not fit a 32-bit size");
  return -1;
}

int64_t require_bitmap(const Bitmap *b, int32_t bpp, const char *name) {
  if (b == nullptr) {
    set_error(CORVIX_E_INVALID, "%s is NULL", name);
    return -1;
  }
  if (b->width < 0 || b->height < 0) {
    set_error(CORVIX_E_INVALID, "%s's size %d x %d is negative", name, b->width, b->height);
    return -1;
  }
  if (b->bytes_per_pixel < 0) {
    set_error(CORVIX_E_INVALID, "%s has %d bytes per pixel", name, b->bytes_per_pixel);
    return -1;
  }
  if (b->bytes_per_pixel < bpp) {
    set_error(CORVIX_E_INVALID, "%s has %d bytes per pixel, %d needed", name, b->bytes_per_pixel,
              bpp);
    return -1;
  }
  const int64_t n = checked_size(b->width, b->height, bpp);
  if (n < 0) {
    set_error(CORVIX_E_INVALID, "%s's %d x %d x %d bytes do not fit a 32-bit size", name, b->width,
              b->height, bpp);
    return -1;
  }
  if (n > 0 && b->pixels == nullptr) {
    set_error(CORVIX_E_INVALID, "%s of %d x %d has no pixels (NULL)", name, b->width, b->height);
    return -1;
  }
  return n;
}

int64_t require_own_bitmap(const Bitmap *b, const char *name) {
  return require_bitmap(b, b == nullptr ? 0 : b->bytes_per_pixel, name);
}

Bitmap *wrap_pixels(uint8_t *pixels, int32_t width, int32_t height, int32_t bytes_per_pixel) {
  if (pixels == nullptr) return nullptr;
  auto *b = static_cast<Bitmap *>(PPCAllocVec(sizeof(Bitmap), MEMF_ANY));
  if (b == nullptr) {
    PPCFreeVec(pixels);
    return fail(CORVIX_E_NOMEM, "out of memory for a %zu-byte bitmap record", sizeof(Bitmap));
  }
  b->pixels = pixels;
  b->width = width;
  b->height = height;
  b->bytes_per_pixel = bytes_per_pixel;
  return b;
}

}  // namespace corvix
