// Making, releasing, cloning and copying bitmaps.
#include <cstring>

#include "core/pixels.h"
#include "corvix/bitmap.h"

namespace corvix {
namespace {

Bitmap *alloc_bitmap(int32_t width, int32_t height, int32_t bpp, uint32_t attr) {
  auto *b = static_cast<Bitmap *>(PPCAllocVec(sizeof(Bitmap), MEMF_ANY));
  if (b == nullptr) return nullptr;
  b->width = width;
  b->height = height;
  b->bytes_per_pixel = bpp;
  b->pixels = static_cast<uint8_t *>(alloc_bytes(checked_size(width, height, bpp), attr));
  if (b->pixels == nullptr) {
    PPCFreeVec(b);
    return nullptr;
  }
  return b;
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
  if (source == nullptr) return nullptr;
  const int64_t n = corvix::checked_size(source->width, source->height, source->bytes_per_pixel);
  if (n < 0 || (n > 0 && source->pixels == nullptr)) return nullptr;
  Bitmap *b = gx_allocrawbitmap(source->width, source->height, source->bytes_per_pixel);
  if (b != nullptr && n > 0) std::memcpy(b->pixels, source->pixels, static_cast<size_t>(n));
  return b;
}

int32_t gx_copybitmap(const Bitmap *source, Bitmap *destination) {
  if (source->width != destination->width || source->height != destination->height ||
      source->bytes_per_pixel != destination->bytes_per_pixel)
    return 0;
  const int64_t n = corvix::checked_size(source->width, source->height, source->bytes_per_pixel);
  if (n < 0) return 0;
  // memmove: a bitmap copied onto itself (or onto a record sharing its buffer) stays defined.
  if (n > 0) std::memmove(destination->pixels, source->pixels, static_cast<size_t>(n));
  return 1;
}

}  // extern "C"
