// Contrast, brightness and negative correction through a per-call 256-entry table.
#include "effects/correct.h"

#include "core/bitmaps.h"
#include "core/parallel.h"
#include "corvix/effects.h"
#include "core/pixels.h"
#include "core/translate.h"

namespace corvix {

void build_level_table(uint8_t table[256], int32_t contrast, int32_t offset, int32_t invert) {
  // The precisions are part of the result: at contrast 15 the single-precision product puts
  // level 28 just below 113, so it truncates to 112.
  const float factor = static_cast<float>(contrast / 100.0);
  for (int32_t i = 0; i < 256; ++i) {
    const float p = static_cast<float>(i - 128) * factor;
    const double q = static_cast<double>(p) + 128.0;
    // |q| stays below 2^32 for any contrast, so the truncation and the offset fit 64 bits;
    // inside the 32-bit range this is the 32-bit sum, beyond it nothing wraps.
    const int64_t v = static_cast<int64_t>(q) + offset;
    const uint8_t level = static_cast<uint8_t>(v > 255 ? 255 : (v < 0 ? 0 : v));
    table[i] = invert != 0 ? static_cast<uint8_t>(255 - level) : level;
  }
}

}  // namespace corvix

extern "C" {

void cvx_correct_ll(Bitmap *frame, int32_t contrast, int32_t offset, int32_t invert) {
  const int64_t n = corvix::require_own_bitmap(frame, "frame");
  if (n <= 0) return;
  uint8_t table[256];
  corvix::build_level_table(table, contrast, offset, invert);
  corvix::for_items(n, 4096, n * corvix::kStreamCost, [&](int64_t first, int64_t end) {
    corvix::translate_bytes(frame->pixels + first, static_cast<size_t>(end - first), table);
  });
}

}  // extern "C"
