// The small string helpers of the library, and opening files as the loaders do.
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

// Opens a file for reading as the loaders do (a pipe without a writer does not block the
// open); -1 with the reason set ("No such file or directory", "is a directory").
int open_image_file(const char *filename);

}  // namespace corvix

#endif
