// Line doubling: each odd row of a three-byte frame becomes a copy of the even row above.
#include <cstring>

#include "core/bitmaps.h"
#include "core/pixels.h"
#include "corvix/effects.h"

extern "C" {

void cvx_deinterlace_ll(Bitmap *frame) {
  // Rows are always width x 3 bytes, so the record must hold three bytes a pixel.
  if (corvix::require_bitmap(frame, 3, "frame") <= 0) return;
  const size_t row = static_cast<size_t>(frame->width) * 3;
  const int32_t pairs = frame->height / 2;  // the last row of an odd height has no partner
  uint8_t *even = frame->pixels;
  for (int32_t k = 0; k < pairs; ++k, even += 2 * row) std::memcpy(even + row, even, row);
}

}  // extern "C"
