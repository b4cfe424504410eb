// The remapping kernels behind gx_remap24 and gx_remap8: the plain ones, which are the
// reference, and the vector ones the public routines use where the processor has them.
#ifndef CORVIX_COLOUR_PALETTE_H
#define CORVIX_COLOUR_PALETTE_H

#include <cstdint>

namespace corvix {

// Cube level of a byte: (v + 20) / 42 - 1, with -1 raised to 0.
inline int32_t cube_level(uint8_t v) {
  const int32_t level = (v + 20) / 42 - 1;
  return level < 0 ? 0 : level;
}

void remap24_plain(const uint8_t *source, uint8_t *output, const uint8_t *pens, uint32_t length);
void remap8_plain(uint8_t *buffer, const uint8_t *table, uint32_t length);

// Same bytes as the plain kernels, 64 at a time through byte permutes (where the build has
// them; call only where cpu_simd() reaches avx512vbmi).
void remap24_avx512vbmi(const uint8_t *source, uint8_t *output, const uint8_t *pens,
                        uint32_t length);
void remap8_avx512vbmi(uint8_t *buffer, const uint8_t *table, uint32_t length);

}  // namespace corvix

#endif
