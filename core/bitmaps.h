// Checks and construction shared by every routine that takes or makes a Bitmap: the byte
// count a bitmap must hold, with the reason when it cannot, and the one place where new
// pixels get their record.
#ifndef CORVIX_CORE_BITMAPS_H
#define CORVIX_CORE_BITMAPS_H

#include <cstdint>

#include "corvix/types.h"

namespace corvix {

// a * b * c as checked_size, or -1 with the thread's reason set: `what` names the product
// ("width x height x 3"), the message gives the factors.
int64_t require_size(const char *what, int64_t a, int64_t b = 1, int64_t c = 1);

// Bytes of `b` read at `bpp` bytes a pixel, as bitmap_bytes; -1 with the reason set when the
// bitmap cannot hold them. `name` names the argument in the message ("source bitmap").
int64_t require_bitmap(const Bitmap *b, int32_t bpp, const char *name);

// Bytes of `b` at its own bytes-per-pixel field, as own_bytes; -1 with the reason set.
int64_t require_own_bitmap(const Bitmap *b, const char *name);

// A new record (a PPCAllocVec block, as gx_freebitmap releases it) around `pixels`, which
// must come from PPCAllocVec too. Null when `pixels` is null or the record cannot be had; the
// pixels are then released, so nothing stays allocated either way.
Bitmap *wrap_pixels(uint8_t *pixels, int32_t width, int32_t height, int32_t bytes_per_pixel);

}  // namespace corvix

#endif
