// PNG and JPEG: decoding from memory into bitmaps and encoding bitmaps into memory.
#ifndef CORVIX_IO_CODECS_H
#define CORVIX_IO_CODECS_H

#include <cstddef>
#include <cstdint>

#include "corvix/io.h"

namespace corvix {

// First bytes of each kind.
inline bool png_signature(const uint8_t *p, size_t n) {
  static const uint8_t kSig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  for (size_t i = 0; i < 8; ++i)
    if (i >= n || p[i] != kSig[i]) return false;
  return true;
}
inline bool jpeg_signature(const uint8_t *p, size_t n) {
  return n >= 3 && p[0] == 0xff && p[1] == 0xd8 && p[2] == 0xff;
}

// A whole PNG or JPEG file of `size` bytes into a new bitmap (one byte a pixel for grey, three
// for colour, red first); `background` and `info` as corvix_load_image_memory_ex takes them.
// Null with the reason set.
Bitmap *decode_png(const uint8_t *data, size_t size, int32_t background, CorvixImageInfo *info);
Bitmap *decode_jpeg(const uint8_t *data, size_t size, CorvixImageInfo *info);

// A file in a malloc'd buffer that the caller frees.
struct Encoded {
  uint8_t *data = nullptr;
  size_t size = 0;
};
// A checked bitmap (1 or 3 bytes a pixel, not empty) as an 8-bit PNG, or as a baseline JPEG
// of quality 1..100 (4:2:0 for colour); false with the reason set.
bool encode_png(const Bitmap *bitmap, Encoded *out);
bool encode_jpeg(const Bitmap *bitmap, int32_t quality, Encoded *out);

// One sample of 0..max with alpha 0..max composed over a background sample, rounded.
inline uint32_t compose(uint32_t value, uint32_t alpha, uint32_t background, uint32_t max) {
  return (static_cast<uint64_t>(value) * alpha + static_cast<uint64_t>(background) * (max - alpha) +
          max / 2) /
         max;
}

}  // namespace corvix

#endif
