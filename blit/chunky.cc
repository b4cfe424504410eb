// Chunky blits: pixel blocks copied or blended into a bitmap at a position, clipped to it.
#include "core/bitmaps.h"
#include "core/pixels.h"
#include "blit/kernels.h"
#include "corvix/blit.h"

namespace corvix {
namespace {

enum class Blend { kOpaque, kPercent, kAlpha };

// Draws the w x h block `source` at (x, y). The destination's pixel size picks the layout:
// 1 reads grey bytes and writes one byte per pixel, 3 reads and writes packed three-byte
// pixels; any other size, and every call that would reach outside either buffer, draws
// nothing. Grey pixels are copied whatever the blend.
void chunky_blit(Bitmap *dst, int32_t w, int32_t h, const uint8_t *source, int32_t x, int32_t y,
                 Blend blend, int32_t p) {
  if (dst != nullptr && dst->bytes_per_pixel != 1 && dst->bytes_per_pixel != 3) {
    set_error(CORVIX_E_INVALID, "destination bitmap has %d bytes per pixel, not 1 or 3",
              dst->bytes_per_pixel);
    return;
  }
  const int64_t dst_bytes = require_own_bitmap(dst, "destination bitmap");
  if (dst_bytes < 0) return;
  const int32_t bpp = dst->bytes_per_pixel;
  const int64_t src_bytes = require_size("block width x height x bytes per pixel", w, h, bpp);
  if (src_bytes < 0) return;
  const Clip c = clip_rect(x, y, w, h, dst->width, dst->height);
  if (c.empty()) return;  // nothing of the block lands inside
  if (source == nullptr) {
    set_error(CORVIX_E_INVALID, "source pixels are NULL");
    return;
  }
  if (bpp == 1) blend = Blend::kOpaque;

  // A block that shares bytes with the destination is drawn by the plain kernels, which read
  // each pixel as the drawing reaches it; percentages outside 0..100 need the wrapping forms.
  const bool plain = ranges_overlap(source, src_bytes, dst->pixels, dst_bytes) ||
                     (blend != Blend::kOpaque && (p < 0 || p > 100));
  const int32_t t = blend == Blend::kAlpha ? alpha_offset(p) : 0;

  const int32_t n = c.col1 - c.col0;
  for (int32_t row = c.row0; row < c.row1; ++row) {
    uint8_t *d = dst->pixels + (static_cast<size_t>(row) * dst->width + c.col0) * bpp;
    const uint8_t *s =
        source + (static_cast<size_t>(row - y) * w + static_cast<size_t>(c.col0 - x)) * bpp;
    if (plain) {
      switch (blend) {
        case Blend::kOpaque:
          if (bpp == 1)
            copy_row_grey(d, s, n);
          else
            copy_row_rgb(d, s, n);
          break;
        case Blend::kPercent: percent_row_rgb(d, s, n, p); break;
        case Blend::kAlpha: alpha_row_rgb(d, s, n, t); break;
      }
    } else {
      switch (blend) {
        case Blend::kOpaque: copy_row_fast(d, s, n * bpp); break;
        case Blend::kPercent: percent_row_fast(d, s, n * 3, p); break;
        case Blend::kAlpha: alpha_row_fast(d, s, n, t); break;
      }
    }
  }
}

// A source bitmap hands on its pixels, width and height; its buffer must hold the block as
// the destination's pixel size reads it.
void bitmap_blit(Bitmap *dst, const Bitmap *src, int32_t x, int32_t y, Blend blend, int32_t p) {
  if (dst == nullptr || src == nullptr) {
    set_error(CORVIX_E_INVALID, "%s bitmap is NULL", dst ? "source" : "destination");
    return;
  }
  if (require_bitmap(src, dst->bytes_per_pixel, "source bitmap") < 0) return;
  chunky_blit(dst, src->width, src->height, src->pixels, x, y, blend, p);
}

}  // namespace
}  // namespace corvix

extern "C" {

void gx_chunkyblit(Bitmap *destination, int32_t w, int32_t h, const uint8_t *source, int32_t x,
                   int32_t y) {
  corvix::chunky_blit(destination, w, h, source, x, y, corvix::Blend::kOpaque, 0);
}

void gx_transchunkyblit(Bitmap *destination, int32_t w, int32_t h, const uint8_t *source, int32_t x,
                        int32_t y, int32_t p) {
  corvix::chunky_blit(destination, w, h, source, x, y, corvix::Blend::kPercent, p);
}

void gx_transalphachunkyblit(Bitmap *destination, int32_t w, int32_t h, const uint8_t *source,
                             int32_t x, int32_t y, int32_t p) {
  corvix::chunky_blit(destination, w, h, source, x, y, corvix::Blend::kAlpha, p);
}

void gx_blitbitmap(Bitmap *destination, const Bitmap *source, int32_t x, int32_t y) {
  corvix::bitmap_blit(destination, source, x, y, corvix::Blend::kOpaque, 0);
}

void gx_blitbitmaptrans(Bitmap *destination, const Bitmap *source, int32_t x, int32_t y,
                        int32_t p) {
  corvix::bitmap_blit(destination, source, x, y, corvix::Blend::kPercent, p);
}

void gx_newblitbitmap(Bitmap *destination, const Bitmap *source, int32_t x, int32_t y) {
  corvix::bitmap_blit(destination, source, x, y, corvix::Blend::kOpaque, 0);
}

}  // extern "C"
