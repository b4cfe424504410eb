// The byte loops behind the fades; each picks its fastest form for the process's level.
#ifndef CORVIX_EFFECTS_FADE_H
#define CORVIX_EFFECTS_FADE_H

#include <cstddef>
#include <cstdint>

namespace corvix {

// output[k] = (b[k] * level + a[k] * (255 - level)) / 255 for level in 0..255. The output
// may be a or b.
void fade_bytes(const uint8_t *a, const uint8_t *b, uint8_t *output, size_t n, uint8_t level);
// bytes[k] = max(bytes[k], floor) for k < n.
void raise_bytes(uint8_t *bytes, size_t n, uint8_t floor);
// a[k] = b[k] where a[k] < threshold, for threshold in 1..255.
void replace_below(uint8_t *a, const uint8_t *b, size_t n, uint8_t threshold);

}  // namespace corvix

#endif
