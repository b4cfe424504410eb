// Nearest-sample scaling and YUV conversion in one pass: the column divisions are done once
// per call in two tables, each row costs two multiplications and two divisions, each pixel
// only table lookups, additions and the clamps.
#include "colour/yuvscale.h"

#include <cstring>

#include "colour/yuv_tables.h"
#include "core/bitmaps.h"
#include "core/parallel.h"
#include "core/sampling.h"
#include "corvix/bitmap.h"
#include "corvix/colour.h"

namespace corvix {

bool yuvscale_plane_bytes(int32_t src_width, int32_t src_height, int32_t dst_width,
                          int32_t dst_height, int32_t factor, int64_t *luma, int64_t *chroma) {
  *luma = 0;
  *chroma = 0;
  if (factor < 1) return fail(CORVIX_E_INVALID, "chroma factor %d is below 1", factor);
  // Every product the routine forms must fit 32 bits: src_width x column, row x src_height,
  // source row x src_width (covered by the frame size), and the destination's byte count.
  if (require_size("source width x height", src_width, src_height) < 0 ||
      require_size("destination width x height x 3", dst_width, dst_height, 3) < 0)
    return false;
  if (dst_width == 0 || dst_height == 0) return true;  // nothing is read
  if ((dst_width > 0 && checked_size(src_width, dst_width - 1) < 0) ||
      (dst_height > 0 && checked_size(dst_height - 1, src_height) < 0))
    return fail(CORVIX_E_INVALID,
                "scaling %d x %d to %d x %d needs positions beyond the 32-bit range", src_width,
                src_height, dst_width, dst_height);
  // A non-empty destination always reads source pixel (0, 0).
  if (src_width == 0 || src_height == 0)
    return fail(CORVIX_E_INVALID,
                "source of %d x %d pixels is empty, the destination %d x %d is not", src_width,
                src_height, dst_width, dst_height);
  const int32_t last_row = (dst_height - 1) * src_height / dst_height;
  const int32_t last_column = src_width * (dst_width - 1) / dst_width;
  const int32_t row_start = last_row * src_width;
  *luma = int64_t{row_start} + last_column + 1;
  *chroma = int64_t{row_start / factor} + last_column / factor + 1;
  return true;
}

}  // namespace corvix

extern "C" {

Bitmap *fx_yuvscale_ll(const uint8_t *y, const uint8_t *cr, const uint8_t *cb, int32_t src_width,
                       int32_t src_height, int32_t dst_width, int32_t dst_height, int32_t factor) {
  using namespace corvix;
  int64_t luma_bytes = 0, chroma_bytes = 0;
  if (!yuvscale_plane_bytes(src_width, src_height, dst_width, dst_height, factor, &luma_bytes,
                            &chroma_bytes))
    return nullptr;
  // An empty destination converts no pixel: the bitmap as it is made for that size.
  if (luma_bytes == 0) return gx_allocrawbitmap(dst_width, dst_height, 3);
  if (y == nullptr || cr == nullptr || cb == nullptr)
    return fail(CORVIX_E_INVALID, "%s plane is NULL",
                y == nullptr    ? "Y"
                : cr == nullptr ? "Cr"
                                : "Cb");

  auto *xs = alloc_array<int32_t>(dst_width, MEMF_ANY);
  if (xs == nullptr) return nullptr;
  auto *xc = alloc_array<int32_t>(dst_width, MEMF_ANY);
  if (xc == nullptr) {
    PPCFreeVec(xs);
    return nullptr;
  }
  Bitmap *out = gx_allocrawbitmap(dst_width, dst_height, 3);
  if (out == nullptr) {
    PPCFreeVec(xc);
    PPCFreeVec(xs);
    return nullptr;
  }

  for (int32_t i = 0; i < dst_width; ++i) {
    xs[i] = src_width * i / dst_width;
    xc[i] = xs[i] / factor;
  }
  YuvTables t;
  build_yuv_tables(t);

  const size_t row_bytes = 3 * static_cast<size_t>(dst_width);
  for_rows(dst_height, int64_t{dst_height} * dst_width * 3 * kFilterCost,
           [&](int64_t first, int64_t end) {
             // Local copies: stores through byte pointers could otherwise alias the captured ones.
             const int32_t *const column = xs, *const chroma_column = xc;
             const YuvTables &tables = t;
             sample_rows(
                 first, end, out->pixels, row_bytes,
                 [&](int32_t j) { return j * src_height / dst_height; },
                 [&](uint8_t *d, int32_t sy) {
                   const int32_t luma_start = sy * src_width;
                   const int32_t chroma_start = luma_start / factor;
                   const uint8_t *yr = y + luma_start;
                   const uint8_t *crr = cr + chroma_start;
                   const uint8_t *cbr = cb + chroma_start;
                   for (int32_t i = 0, n = dst_width; i < n; ++i) {
                     const uint8_t r = crr[chroma_column[i]], b = cbr[chroma_column[i]];
                     yuv_pixel(tables.luma[yr[column[i]]], tables.cb_blue[b],
                               tables.cb_green[b] + tables.cr_green[r], tables.cr_red[r],
                               d + 3 * i);
                   }
                 });
           });

  PPCFreeVec(xc);
  PPCFreeVec(xs);
  return out;
}

}  // extern "C"
