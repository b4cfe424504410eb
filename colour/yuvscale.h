// Sizes of the planes the scaled YUV conversion reads, for callers that check buffers first.
#ifndef CORVIX_COLOUR_YUVSCALE_H
#define CORVIX_COLOUR_YUVSCALE_H

#include <cstdint>

namespace corvix {

// Bytes of the Y plane and of each of the Cr and Cb planes that fx_yuvscale_ll reads for
// these sizes: one past the largest index it can touch (0 and 0 when the destination is
// empty). False when fx_yuvscale_ll refuses the sizes (it then reads nothing).
bool yuvscale_plane_bytes(int32_t src_width, int32_t src_height, int32_t dst_width,
                          int32_t dst_height, int32_t factor, int64_t *luma, int64_t *chroma);

}  // namespace corvix

#endif
