// Nearest-sample resizing of one-byte-per-pixel frames into a new bitmap.
#include <cstring>

#include "core/bitmaps.h"
#include "core/parallel.h"
#include "core/sampling.h"
#include "core/pixels.h"
#include "corvix/bitmap.h"
#include "corvix/effects.h"

extern "C" {

Bitmap *cvx_scale_ll(const Bitmap *source, int32_t width, int32_t height) {
  using namespace corvix;
  // The source is always read as one byte per pixel, so any record that holds that will do.
  const int64_t have = require_bitmap(source, 1, "source bitmap");
  if (have < 0) return nullptr;
  if (require_size("new width x height", width, height) < 0) return nullptr;
  // An empty result samples nothing: the new bitmap as it is made, before any division.
  if (width == 0 || height == 0) return gx_allocbitmap(width, height, 1);
  const int32_t w = source->width, h = source->height;
  // An empty source has nothing to sample for a non-empty result.
  if (have == 0)
    return fail(CORVIX_E_INVALID, "source of %d x %d pixels is empty, the result %d x %d is not", w,
                h, width, height);
  // The source positions come from the 32-bit products W * x and H * y; where the last of
  // them would not fit, refuse rather than sample from a wrapped position.
  if (int64_t{w} * (width - 1) > INT32_MAX || int64_t{h} * (height - 1) > INT32_MAX)
    return fail(CORVIX_E_INVALID,
                "scaling %d x %d to %d x %d needs positions beyond the 32-bit range", w, h, width,
                height);

  Bitmap *result = gx_allocbitmap(width, height, 1);
  if (result == nullptr) return nullptr;
  auto *column = alloc_array<int32_t>(width, MEMF_CLEAR);
  if (column == nullptr) {
    gx_freebitmap(result);
    return nullptr;
  }
  for (int32_t x = 0; x < width; ++x) column[x] = w * x / width;

  const size_t row_bytes = static_cast<size_t>(width);
  const int64_t work = int64_t{width} * height * corvix::kGatherCost;
  corvix::for_rows(height, work, [&](int64_t first, int64_t end) {
    corvix::sample_rows(
        first, end, result->pixels, row_bytes, [&](int32_t y) { return h * y / height; },
        [&](uint8_t *out, int32_t sy) {
          const uint8_t *row = source->pixels + static_cast<size_t>(sy) * static_cast<size_t>(w);
          if (width == w) {
            std::memcpy(out, row, row_bytes);  // the column table is the identity
          } else {
            const int32_t *const columns = column;  // a local copy no byte store can alias
            for (int32_t x = 0, n = width; x < n; ++x) out[x] = row[columns[x]];
          }
        });
  });
  PPCFreeVec(column);
  return result;
}

}  // extern "C"
