// The five BT.601 conversion tables shared by the plain and the scaled YUV conversion.
#ifndef CORVIX_COLOUR_YUV_TABLES_H
#define CORVIX_COLOUR_YUV_TABLES_H

#include <cstdint>

#include "core/pixels.h"

namespace corvix {

struct YuvTables {
  int32_t luma[256];      // trunc((i - 16) * 1.164)
  int32_t cr_red[256];    // trunc((i - 128) * 1.596)
  int32_t cr_green[256];  // trunc((i - 128) * 0.813)
  int32_t cb_blue[256];   // trunc((i - 128) * 2.018)
  int32_t cb_green[256];  // trunc((i - 128) * 0.391)
};

// Products in double precision, truncated toward zero (never rounded).
inline void build_yuv_tables(YuvTables &t) {
  for (int i = 0; i < 256; ++i) {
    t.luma[i] = static_cast<int32_t>((i - 16) * 1.164);
    t.cr_red[i] = static_cast<int32_t>((i - 128) * 1.596);
    t.cr_green[i] = static_cast<int32_t>((i - 128) * 0.813);
    t.cb_blue[i] = static_cast<int32_t>((i - 128) * 2.018);
    t.cb_green[i] = static_cast<int32_t>((i - 128) * 0.391);
  }
}

// One pixel: byte 0 from the Cb term, byte 1 from the green sum, byte 2 from the Cr term.
inline void yuv_pixel(int32_t l, int32_t blue, int32_t green, int32_t red, uint8_t *out) {
  out[0] = clamp255(l + blue);
  out[1] = clamp255(l - green);
  out[2] = clamp255(l + red);
}

}  // namespace corvix

#endif
