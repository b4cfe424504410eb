// Helpers the frame effects share: the byte count of a frame taken at its own pixel size, and
// the choice between the plain loops and the wider instruction sets of the running CPU.
#ifndef CORVIX_EFFECTS_FRAME_H
#define CORVIX_EFFECTS_FRAME_H

#include <cstdint>

#include "bitmap/pixels.h"

namespace corvix {

// Bytes of `b` taken at its own bytes-per-pixel field (width x height x field); -1 when the
// record is null, a size or the field is negative, the product does not fit, or a non-empty
// frame has no pixels.
inline int64_t own_bytes(const Bitmap *b) {
  return b == nullptr ? -1 : bitmap_bytes(b, b->bytes_per_pixel);
}

// Instruction-set levels a frame effect can pick a kernel for, best last.
enum class Isa { kPlain, kAvx2, kAvx512Vbmi };

// The best level this CPU runs, decided once. Building with CORVIX_NO_SIMD defined, or
// running with the environment variable CORVIX_NO_SIMD set (to anything), gives kPlain.
Isa best_isa();

}  // namespace corvix

#endif
