// Cutting a rectangle out of a bitmap, and smoothing a three-byte bitmap in place.
#include <algorithm>
#include <cstring>
#include <utility>

#include "core/bitmaps.h"
#include "core/cpu.h"
#include "core/parallel.h"
#include "core/pixels.h"
#include "core/simd.h"
#include "corvix/bitmap.h"
#include "corvix/geometry.h"

namespace corvix {
namespace {

// One smoothing pass over the inner pixels: each byte becomes (m + (l + r + u + d) / 4) / 2,
// reading only `in`. Both buffers are distinct; the border of `out` is left alone. Written
// once and compiled for each level: a byte loop the compiler vectorises.
CORVIX_ALWAYS_INLINE void smooth_rows(const uint8_t *in, uint8_t *__restrict out, int64_t width,
                                      int64_t height) {
  if (width < 3 || height < 3) return;
  const int64_t stride = width * 3;
  for (int64_t y = 1; y < height - 1; ++y) {
    const uint8_t *m = in + y * stride;
    const uint8_t *up = m - stride, *down = m + stride;
    uint8_t *o = out + y * stride;
    // Bytes 3 .. stride - 4 of a row are the three bytes of columns 1 .. width - 2.
    for (int64_t i = 3; i < stride - 3; ++i) {
      const uint32_t n = (uint32_t{m[i - 3]} + m[i + 3] + up[i] + down[i]) >> 2;
      o[i] = static_cast<uint8_t>((m[i] + n) >> 1);
    }
  }
}

void smooth_pass_plain(const uint8_t *in, uint8_t *out, int64_t width, int64_t height) {
  smooth_rows(in, out, width, height);
}
#ifdef CORVIX_X86
CORVIX_TARGET_AVX2 void smooth_pass_avx2(const uint8_t *in, uint8_t *out, int64_t width,
                                         int64_t height) {
  smooth_rows(in, out, width, height);
}
CORVIX_TARGET_AVX512 void smooth_pass_avx512(const uint8_t *in, uint8_t *out, int64_t width,
                                             int64_t height) {
  smooth_rows(in, out, width, height);
}
#endif

using SmoothFn = void (*)(const uint8_t *, uint8_t *, int64_t, int64_t);
constexpr Kernels<SmoothFn> kSmooth = CORVIX_KERNELS_AVX(smooth_pass);

// The bytes of `from` that no pass writes, into `to`: the first and last rows and the first
// and last pixel of every row between them (all of it when there is no inside).
void copy_border(const uint8_t *from, uint8_t *to, int64_t width, int64_t height) {
  const int64_t stride = width * 3;
  if (width < 3 || height < 3) {
    if (stride * height > 0) std::memcpy(to, from, static_cast<size_t>(stride * height));
    return;
  }
  std::memcpy(to, from, static_cast<size_t>(stride));
  for (int64_t y = 1; y < height - 1; ++y) {
    std::memcpy(to + y * stride, from + y * stride, 3);
    std::memcpy(to + y * stride + stride - 3, from + y * stride + stride - 3, 3);
  }
  std::memcpy(to + (height - 1) * stride, from + (height - 1) * stride,
              static_cast<size_t>(stride));
}

// One pass of `kernel` with its rows split across threads. The run of inside rows
// [first, end) is the inside of the window of frame rows first .. end + 1, which a pass over
// that window writes and nothing beyond.
void smooth_pass_split(SmoothFn kernel, const uint8_t *in, uint8_t *out, int64_t width,
                       int64_t height) {
  if (width < 3 || height < 3) return;
  const int64_t stride = width * 3;
  for_rows(height - 2, (height - 2) * stride * kFilterCost, [&](int64_t first, int64_t end) {
    kernel(in + first * stride, out + first * stride, width, end - first + 2);
  });
}

}  // namespace
}  // namespace corvix

extern "C" {

Bitmap *gx_cutbitmap(const Bitmap *source, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  using namespace corvix;
  if (source != nullptr && source->bytes_per_pixel < 1)
    return fail(CORVIX_E_INVALID, "source bitmap has %d bytes per pixel", source->bytes_per_pixel);
  const int32_t bpp = source ? source->bytes_per_pixel : 1;
  if (require_bitmap(source, bpp, "source bitmap") < 0) return nullptr;
  if (y1 > y2) std::swap(y1, y2);
  if (x1 > x2) std::swap(x1, x2);
  const int64_t nw = int64_t{x2} - x1 + 1, nh = int64_t{y2} - y1 + 1;
  const int64_t size = require_size("rectangle width x height x bytes per pixel", nw, nh, bpp);
  if (size < 0) return nullptr;
  auto *pixels = static_cast<uint8_t *>(alloc_bytes(size, MEMF_ANY));
  if (pixels == nullptr) return nullptr;
  // Whole pixels of the source's size; what lies outside the source is black.
  const int64_t sw = source->width, sh = source->height;
  const int64_t row_bytes = nw * bpp;
  const int64_t inside_first = std::max<int64_t>(x1, 0),
                inside_last = std::min<int64_t>(x2, sw - 1);
  for (int64_t ry = y1; ry <= y2; ++ry) {
    uint8_t *row = pixels + (ry - y1) * row_bytes;
    if (ry < 0 || ry >= sh || inside_first > inside_last) {
      std::memset(row, 0, static_cast<size_t>(row_bytes));
      continue;
    }
    const int64_t left = (inside_first - x1) * bpp;
    const int64_t copied = (inside_last - inside_first + 1) * bpp;
    std::memset(row, 0, static_cast<size_t>(left));
    std::memcpy(row + left, source->pixels + (ry * sw + inside_first) * bpp,
                static_cast<size_t>(copied));
    std::memset(row + left + copied, 0, static_cast<size_t>(row_bytes - left - copied));
  }
  return wrap_pixels(pixels, static_cast<int32_t>(nw), static_cast<int32_t>(nh), bpp);
}

int32_t gx_smoothbitmap(Bitmap *bitmap, int32_t passes) {
  using namespace corvix;
  if (passes < 0) return fail(CORVIX_E_INVALID, "pass count %d is negative", passes);
  if (bitmap != nullptr && bitmap->bytes_per_pixel != 3)
    return fail(CORVIX_E_INVALID, "bitmap has %d bytes per pixel, not 3", bitmap->bytes_per_pixel);
  const int64_t size = require_bitmap(bitmap, 3, "bitmap");
  if (size < 0) return 0;
  // Every pass writes every inside byte of its output, so the working buffer needs no clearing
  // and takes only the border from the frame; the border, never written, is then the same in
  // either buffer.
  Bitmap *work = gx_allocrawbitmap(bitmap->width, bitmap->height, 3);
  if (work == nullptr) return 0;
  // Without an inner pixel no pass changes a byte: none is run.
  if (bitmap->width < 3 || bitmap->height < 3) passes = 0;
  uint8_t *in = bitmap->pixels, *out = work->pixels;
  if (passes > 0) corvix::copy_border(in, out, bitmap->width, bitmap->height);
  const auto smooth_pass = corvix::pick(corvix::kSmooth);
  for (int32_t p = 0; p < passes; ++p) {
    corvix::smooth_pass_split(smooth_pass, in, out, bitmap->width, bitmap->height);
    std::swap(in, out);
  }
  // `in` holds the last pass's output. If that is the working buffer, the bitmap takes it
  // and the working record goes away with the bitmap's old buffer.
  if (in == work->pixels) {
    work->pixels = bitmap->pixels;
    bitmap->pixels = in;
  }
  gx_freebitmap(work);
  return 1;
}

}  // extern "C"
