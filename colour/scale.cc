// Nearest-sample scaling of pixel buffers and bitmaps, and three small byte-run tools.
#include "colour/scale.h"

#include <cstring>

#include "core/bitmaps.h"
#include "core/parallel.h"
#include "core/pixels.h"
#include "core/sampling.h"
#include "corvix/bitmap.h"
#include "corvix/colour.h"

namespace corvix {
namespace {

// One destination row: the pixel of P bytes at row + column[x] for each x. The offsets are
// sums of 32-bit values and wrap as such; `no_wrap` says that no sum of this row can wrap
// (row + largest column fits), so the row's start can be taken once.
template <uint32_t P>
void scale_row(const uint8_t *source, uint32_t row, const uint32_t *column, uint8_t *out,
               uint32_t width, bool no_wrap) {
  if (no_wrap) {
    const uint8_t *s = source + row;
    for (uint32_t x = 0; x < width; ++x, out += P) std::memcpy(out, s + column[x], P);
  } else {
    for (uint32_t x = 0; x < width; ++x, out += P)
      std::memcpy(out, source + static_cast<uint32_t>(row + column[x]), P);
  }
}

}  // namespace

bool scale_pixels(const uint8_t *source, uint8_t *destination, uint32_t src_width,
                  uint32_t src_height, uint32_t dst_width, uint32_t dst_height, uint32_t pixel) {
  // An empty destination is done before anything is read, divided or allocated.
  if (dst_width == 0 || dst_height == 0) return true;
  // Every destination pixel reads at least source pixel (0, 0).
  if (src_width == 0 || src_height == 0)
    return fail(CORVIX_E_INVALID,
                "source of %u x %u pixels is empty, the destination %u x %u is not", src_width,
                src_height, dst_width, dst_height);
  if (source == nullptr || destination == nullptr)
    return fail(CORVIX_E_INVALID, "%s pixels are NULL", source ? "destination" : "source bitmap");
  auto *column = alloc_array<uint32_t>(dst_width, MEMF_CLEAR);
  if (column == nullptr) return false;
  // Unsigned 32-bit throughout: a product that overflows keeps its low 32 bits, which only
  // ever gives a smaller column or row, never one outside the source.
  if (src_width == dst_width && uint64_t{src_width} * dst_width <= UINT32_MAX) {
    // (x * width) / width is x while the product does not wrap.
    for (uint32_t x = 0; x < dst_width; ++x) column[x] = pixel * x;
  } else if (uint64_t{src_width} * dst_width <= UINT32_MAX) {
    // No product x * src_width wraps, so the quotient can be stepped instead of divided.
    SampleStepper sx(0, src_width, dst_width);
    for (uint32_t x = 0; x < dst_width; ++x, sx.next())
      column[x] = pixel * static_cast<uint32_t>(sx.index());
  } else {
    for (uint32_t x = 0; x < dst_width; ++x) column[x] = pixel * ((x * src_width) / dst_width);
  }
  uint32_t largest = 0;
  bool identity = true;  // column x is source column x: rows are plain copies
  for (uint32_t x = 0; x < dst_width; ++x) {
    largest = column[x] > largest ? column[x] : largest;
    identity &= column[x] == pixel * x;
  }

  const size_t row_bytes = static_cast<size_t>(dst_width) * pixel;
  if (identity && src_width == dst_width && src_height == dst_height &&
      uint64_t{src_height} * src_height <= UINT32_MAX &&
      uint64_t{pixel} * src_width * src_height <= UINT32_MAX) {
    // Equal sizes where nothing wraps: row y is source row y, the picture is copied whole.
    std::memcpy(destination, source, row_bytes * dst_height);
    PPCFreeVec(column);
    return true;
  }
  const int64_t work = int64_t{dst_height} * static_cast<int64_t>(row_bytes) * kGatherCost;
  for_rows(dst_height, work, [&](int64_t first, int64_t end) {
    uint8_t *out = destination + first * row_bytes;
    uint32_t previous = 0;
    for (auto y = static_cast<uint32_t>(first); y < end; ++y, out += row_bytes) {
      const uint32_t sy = (y * src_height) / dst_height;
      if (y > first && sy == previous) {
        // The same source row again (enlarging): copy the row just written.
        std::memcpy(out, out - row_bytes, row_bytes);
        continue;
      }
      previous = sy;
      const uint32_t row = pixel * (sy * src_width);
      const bool no_wrap = row <= UINT32_MAX - largest;
      if (identity && no_wrap)
        std::memcpy(out, source + row, row_bytes);
      else if (pixel == 3)
        scale_row<3>(source, row, column, out, dst_width, no_wrap);
      else
        scale_row<1>(source, row, column, out, dst_width, no_wrap);
    }
  });
  PPCFreeVec(column);
  return true;
}

}  // namespace corvix

extern "C" {

void gx_scale24(const uint8_t *source, uint8_t *destination, uint32_t src_width,
                uint32_t src_height, uint32_t dst_width, uint32_t dst_height) {
  corvix::scale_pixels(source, destination, src_width, src_height, dst_width, dst_height, 3);
}

void gx_scale8(const uint8_t *source, uint8_t *destination, uint32_t src_width, uint32_t src_height,
               uint32_t dst_width, uint32_t dst_height) {
  corvix::scale_pixels(source, destination, src_width, src_height, dst_width, dst_height, 1);
}

int32_t gx_scalebitmap(Bitmap *bitmap, int32_t width, int32_t height) {
  using namespace corvix;
  // Read as three bytes a pixel whatever the field says, so a smaller field is refused.
  if (require_bitmap(bitmap, 3, "source bitmap") < 0) return 0;
  const int64_t size = require_size("new width x height x 3", width, height, 3);
  if (size < 0) return 0;
  auto *pixels = static_cast<uint8_t *>(alloc_bytes(size, MEMF_ANY));
  if (pixels == nullptr) return 0;
  if (!scale_pixels(bitmap->pixels, pixels, static_cast<uint32_t>(bitmap->width),
                    static_cast<uint32_t>(bitmap->height), static_cast<uint32_t>(width),
                    static_cast<uint32_t>(height), 3)) {
    PPCFreeVec(pixels);
    return 0;
  }
  PPCFreeVec(bitmap->pixels);
  bitmap->pixels = pixels;
  bitmap->width = width;
  bitmap->height = height;
  return 1;
}

Bitmap *gx_scalecopybitmap(const Bitmap *source, int32_t width, int32_t height) {
  using namespace corvix;
  if (source != nullptr && source->bytes_per_pixel < 1)
    return fail(CORVIX_E_INVALID, "source bitmap has %d bytes per pixel", source->bytes_per_pixel);
  const int32_t bpp = source ? source->bytes_per_pixel : 1;
  // Three bytes a pixel take the three-byte scaler; every other size the one-byte scaler
  // over the first width x height bytes of each buffer.
  const uint32_t pixel = bpp == 3 ? 3 : 1;
  if (require_bitmap(source, static_cast<int32_t>(pixel), "source bitmap") < 0) return nullptr;
  const int64_t size = require_size("new width x height x bytes per pixel", width, height, bpp);
  if (size < 0) return nullptr;
  // Pixel sizes other than 1 and 3 fill only the first width x height bytes: the rest starts
  // cleared, so no earlier contents of the memory show through.
  const uint32_t attr = pixel == static_cast<uint32_t>(bpp) ? MEMF_ANY : MEMF_CLEAR;
  auto *pixels = static_cast<uint8_t *>(alloc_bytes(size, attr));
  if (pixels == nullptr) return nullptr;
  if (!scale_pixels(source->pixels, pixels, static_cast<uint32_t>(source->width),
                    static_cast<uint32_t>(source->height), static_cast<uint32_t>(width),
                    static_cast<uint32_t>(height), pixel)) {
    PPCFreeVec(pixels);
    return nullptr;
  }
  return wrap_pixels(pixels, width, height, bpp);
}

void gx_multchunky(const uint8_t *source, uint8_t *destination, uint32_t length, uint32_t factor) {
  if (factor == 0 || length == 0) return;  // nothing to write
  if (source == nullptr || destination == nullptr) {
    corvix::set_error(CORVIX_E_INVALID, "%s is NULL", source ? "destination" : "source bitmap");
    return;
  }
  for (uint32_t i = 0; i < length; ++i, destination += factor)
    std::memset(destination, source[i], factor);
}

void gx_divchunky(const uint8_t *source, uint8_t *destination, uint32_t length, uint32_t step) {
  // A step of 0 would never advance. The position is 64-bit so a large step cannot wrap it
  // back below the length.
  if (step == 0) {
    corvix::set_error(CORVIX_E_INVALID, "step 0 never advances");
    return;
  }
  if (length == 0) return;
  if (source == nullptr || destination == nullptr) {
    corvix::set_error(CORVIX_E_INVALID, "%s is NULL", source ? "destination" : "source bitmap");
    return;
  }
  for (uint64_t pos = 0; pos < length; pos += step) *destination++ = source[pos];
}

void gx_xor(uint8_t *buffer, uint32_t length, uint32_t value) {
  if (length > 0 && buffer == nullptr) {
    corvix::set_error(CORVIX_E_INVALID, "buffer is NULL");
    return;
  }
  const auto v = static_cast<uint8_t>(value & 0xFF);
  for (uint32_t i = 0; i < length; ++i) buffer[i] = static_cast<uint8_t>(buffer[i] ^ v);
}

}  // extern "C"
