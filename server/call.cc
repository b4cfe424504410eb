#include "server/call.h"

#include <cstring>

#include "core/pixels.h"
#include "corvix/platform.h"
#include "platform/memory.h"

namespace corvix {

uint8_t *Call::bytes(uint32_t address, uint64_t length) {
  if (!ok_ || address == 0 || !owned_range(owner_, address, length)) {
    ok_ = false;
    return nullptr;
  }
  return segment_pointer(address);
}

bool Call::bitmap(uint32_t address, Bitmap *out) {
  const uint8_t *rec = bytes(address, 16);
  if (rec == nullptr) return false;
  const uint32_t pixels = corvix_get_be32(rec);
  out->pixels = segment_pointer(pixels);
  out->width = static_cast<int32_t>(corvix_get_be32(rec + 4));
  out->height = static_cast<int32_t>(corvix_get_be32(rec + 8));
  out->bytes_per_pixel = static_cast<int32_t>(corvix_get_be32(rec + 12));
  return true;
}

bool Call::pixels(const Bitmap &b, int64_t length) {
  if (length < 0) {
    ok_ = false;
    return false;
  }
  return bytes(segment_address(b.pixels), static_cast<uint64_t>(length)) != nullptr;
}

bool Call::frame(uint32_t address, Bitmap *out, int32_t bpp) {
  if (!bitmap(address, out)) return false;
  return pixels(*out, size(out->width, out->height, bpp != 0 ? bpp : out->bytes_per_pixel));
}

int64_t Call::size(int64_t width, int64_t height, int64_t bpp) {
  const int64_t n = checked_size(width, height, bpp);
  if (n < 0) ok_ = false;
  return n;
}

uint32_t Call::give(Bitmap *b) {
  if (b == nullptr) return 0;
  const Bitmap native = *b;
  auto *rec = reinterpret_cast<uint8_t *>(b);
  corvix_put_be32(rec, segment_address(native.pixels));
  corvix_put_be32(rec + 4, static_cast<uint32_t>(native.width));
  corvix_put_be32(rec + 8, static_cast<uint32_t>(native.height));
  corvix_put_be32(rec + 12, static_cast<uint32_t>(native.bytes_per_pixel));
  return segment_address(b);
}

uint32_t Call::give(LevelRange *r) {
  if (r == nullptr) return 0;
  const LevelRange native = *r;
  auto *rec = reinterpret_cast<uint8_t *>(r);
  corvix_put_be32(rec, static_cast<uint32_t>(native.minimum));
  corvix_put_be32(rec + 4, static_cast<uint32_t>(native.maximum));
  return segment_address(r);
}

}  // namespace corvix
