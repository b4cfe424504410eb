// Internals of the PPM reader and writer that the tests and the fuzz target reach, and the
// small integer and string helpers of the library.
#ifndef CORVIX_IO_PPM_H
#define CORVIX_IO_PPM_H

#include <cstdint>

#include "corvix/types.h"

namespace corvix {

// 0-based index of the last occurrence of `character` in the NUL-terminated string, the
// bytes compared as signed 8-bit values; -1 when it does not occur or the string is null.
int32_t instr(const char *string, int32_t character);

// The first `count` characters of the string (fewer when it ends sooner; count is taken as
// 0..79), NUL-terminated in a buffer of 80 bytes that the next call of left on the same
// thread overwrites.
const char *left(const char *string, int32_t count);

// The string from index `start` to its end (at most 79 characters; empty when start is at or
// past the end, a negative start counts as 0), NUL-terminated in a buffer of 80 bytes that
// the next call of right on the same thread overwrites.
const char *right(const char *string, int32_t start);

// gx_loadppmasbitmap on an open descriptor read from its current offset; the descriptor
// stays open. A regular file's size bounds what the header may announce.
Bitmap *load_ppm_fd(int fd);

// (v * 255 + maxval / 2) / maxval: a sample of 0..maxval on the 0..255 scale, halves rounded
// up, as netpbm's depth conversion gives it.
inline uint8_t scale_sample(uint32_t v, uint32_t maxval) {
  return static_cast<uint8_t>((v * 255u + maxval / 2u) / maxval);
}

}  // namespace corvix

#endif
