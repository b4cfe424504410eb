// The level-correction table (the frame then passes through it, core/translate.h).
#ifndef CORVIX_EFFECTS_CORRECT_H
#define CORVIX_EFFECTS_CORRECT_H

#include <cstdint>

namespace corvix {

// table[i] for every level i: trunc((i - 128) * factor + 128) + offset, clamped to 0..255,
// turned into 255 - v when `invert` is non-zero. factor = contrast / 100 in double rounded
// to single; the product is single precision, the sum double.
void build_level_table(uint8_t table[256], int32_t contrast, int32_t offset, int32_t invert);

}  // namespace corvix

#endif
