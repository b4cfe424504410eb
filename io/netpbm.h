// The netpbm reader and writer behind every PPM and PGM routine of the library and the tool.
#ifndef CORVIX_IO_NETPBM_H
#define CORVIX_IO_NETPBM_H

#include <cstdint>

#include "corvix/types.h"
#include "io/source.h"

namespace corvix {

// (v * 255 + maxval / 2) / maxval: a sample of 0..maxval on the 0..255 scale, halves rounded
// up, as netpbm's depth conversion gives it.
inline uint8_t scale_sample(uint32_t v, uint32_t maxval) {
  return static_cast<uint8_t>((v * 255u + maxval / 2u) / maxval);
}

// True for the first two bytes of a netpbm image this reader takes: P2, P3, P5, P6.
inline bool netpbm_magic(int first, int second) {
  return first == 'P' && (second == '2' || second == '3' || second == '5' || second == '6');
}

// One image from the source: binary PPM (P6) and PGM (P5), plain PPM (P3) and PGM (P2). Colour
// gives three bytes a pixel, red first; grey one. With `ppm_only` anything but P6 is refused.
// The header follows the netpbm rules (white space and "#" comments between the numbers,
// exactly one white-space byte before binary samples); samples of a maximum other than 255
// are scaled with scale_sample, two bytes each (most significant first) above 255. Nothing
// after the image is taken. Null with the reason set when the bytes are no such image, are
// cut short, would not fit a 32-bit size or memory runs out; nothing stays allocated.
Bitmap *read_netpbm(Source &source, bool ppm_only);

// The header the writer puts before the samples: "P6\n<width> <height>\n255\n" for three bytes
// a pixel, "P5\n..." for one; its length, or 0 (reason set) for a bitmap no netpbm file
// holds: null record or pixels, sizes below 1, other bytes per pixel, too large.
int netpbm_header(const Bitmap *bitmap, char (&header)[48]);

}  // namespace corvix

#endif
