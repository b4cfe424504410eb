// Making, releasing, cloning and copying bitmaps.
#include <cstring>

#include "core/bitmaps.h"
#include "core/pixels.h"
#include "corvix/bitmap.h"

namespace corvix {
namespace {

Bitmap *alloc_bitmap(int32_t width, int32_t height, int32_t bpp, uint32_t attr) {
  const int64_t size = require_size("width x height x bytes per pixel", width, height, bpp);
  if (size < 0) return nullptr;
  return wrap_pixels(static_cast<uint8_t *>(alloc_bytes(size, attr)), width, height, bpp);
}

}  // namespace
}  // namespace corvix

extern "C" {

Bitmap *gx_allocbitmap(int32_t width, int32_t height, int32_t bytes_per_pixel) {
  return corvix::alloc_bitmap(width, height, bytes_per_pixel, MEMF_CLEAR);
}

Bitmap *gx_allocrawbitmap(int32_t width, int32_t height, int32_t bytes_per_pixel) {
  return corvix::alloc_bitmap(width, height, bytes_per_pixel, MEMF_ANY);
}

void gx_freebitmap(Bitmap *bitmap) {
  if (bitmap == nullptr) return;
  if (bitmap->pixels != nullptr) PPCFreeVec(bitmap->pixels);
  PPCFreeVec(bitmap);
}

Bitmap *gx_clonebitmap(const Bitmap *source) {
  using namespace corvix;
  const int64_t n = require_own_bitmap(source, "source bitmap");
  if (n < 0) return nullptr;
  Bitmap *b = gx_allocrawbitmap(source->width, source->height, source->bytes_per_pixel);
  if (b != nullptr && n > 0) std::memcpy(b->pixels, source->pixels, static_cast<size_t>(n));
  return b;
}

int32_t gx_copybitmap(const Bitmap *source, Bitmap *destination) {
  using namespace corvix;
  if (source == nullptr || destination == nullptr)
    return fail(CORVIX_E_INVALID, "%s bitmap is NULL", source ? "destination" : "source bitmap");
  if (source->width != destination->width || source->height != destination->height ||
      source->bytes_per_pixel != destination->bytes_per_pixel)
    return fail(CORVIX_E_INVALID, "source %d x %d x %d and destination %d x %d x %d differ",
                source->width, source->height, source->bytes_per_pixel, destination->width,
                destination->height, destination->bytes_per_pixel);
  const int64_t n = require_own_bitmap(source, "source bitmap");
  if (n < 0 || require_own_bitmap(destination, "destination bitmap") < 0) return 0;
  // memmove: a bitmap copied onto itself (or onto a record sharing its buffer) stays defined.
  if (n > 0) std::memmove(destination->pixels, source->pixels, static_cast<size_t>(n));
  return 1;
}

}  // extern "C"
