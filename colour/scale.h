// The nearest-sample scaler behind gx_scale24, gx_scale8 and the bitmap scalers.
#ifndef CORVIX_COLOUR_SCALE_H
#define CORVIX_COLOUR_SCALE_H

#include <cstdint>

namespace corvix {

// Scales src_width x src_height pixels of `pixel` bytes (1 or 3) into dst_width x dst_height
// pixels, in unsigned 32-bit arithmetic. An empty destination (a size of 0) is true at once:
// nothing read, nothing written. False, with nothing written and the reason set, when the
// column table cannot be allocated or a non-empty destination is asked of an empty source or
// a null buffer.
bool scale_pixels(const uint8_t *source, uint8_t *destination, uint32_t src_width,
                  uint32_t src_height, uint32_t dst_width, uint32_t dst_height, uint32_t pixel);

}  // namespace corvix

#endif
