// The level-correction table and the kernels that pass a buffer through a 256-entry table.
#ifndef CORVIX_EFFECTS_CORRECT_H
#define CORVIX_EFFECTS_CORRECT_H

#include <cstddef>
#include <cstdint>

namespace corvix {

// table[i] for every level i: trunc((i - 128) * factor + 128) + offset, clamped to 0..255,
// turned into 255 - v when `invert` is non-zero. factor = contrast / 100 in double rounded
// to single; the product is single precision, the sum double.
void build_level_table(uint8_t table[256], int32_t contrast, int32_t offset, int32_t invert);

// bytes[k] = table[bytes[k]] for k < n: the plain loop, and the same through 64-byte
// two-register permutes (callable only where best_isa() is kAvx512Vbmi).
void apply_table_plain(uint8_t *bytes, size_t n, const uint8_t table[256]);
void apply_table_avx512vbmi(uint8_t *bytes, size_t n, const uint8_t table[256]);
// The best of the two for this CPU.
void apply_table(uint8_t *bytes, size_t n, const uint8_t table[256]);

}  // namespace corvix

#endif
