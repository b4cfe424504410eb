// Row kernels behind the mirror, the quarter turns and the level stretch. Each has a plain
// version, the reference every faster one is tested against, and a dispatching version that
// picks the fastest form for the process's level (core/cpu.h). All work on packed three-byte
// pixels; counts are pixels unless they say bytes.
#ifndef CORVIX_EFFECTS_FRAME_KERNELS_H
#define CORVIX_EFFECTS_FRAME_KERNELS_H

#include <cstdint>

namespace corvix {

// Reverses the order of `count` pixels in place; the bytes within a pixel keep their order.
void reverse_pixels_plain(uint8_t *pixels, int64_t count);
void reverse_pixels(uint8_t *pixels, int64_t count);

// Destination pixel count - 1 - i = source pixel i. The buffers must not overlap.
void reverse_copy_pixels_plain(const uint8_t *source, uint8_t *destination, int64_t count);
void reverse_copy_pixels(const uint8_t *source, uint8_t *destination, int64_t count);

// Quarter turns of a width x height source into a height x width destination: clockwise
// puts source (x, y) at destination column height - 1 - y of row x; counter-clockwise at
// column y of row width - 1 - x.
void quarter_turn_plain(const uint8_t *source, uint8_t *destination, int32_t width, int32_t height,
                        bool clockwise);
// The same in tiles, for processors without the permute path.
void quarter_turn_tiled(const uint8_t *source, uint8_t *destination, int32_t width, int32_t height,
                        bool clockwise);
// Through register transposes of 16 x 16 tiles (where the build has them).
void quarter_turn_avx512vbmi(const uint8_t *source, uint8_t *destination, int32_t width,
                             int32_t height, bool clockwise);
void quarter_turn(const uint8_t *source, uint8_t *destination, int32_t width, int32_t height,
                  bool clockwise);

// Lowest and highest value of byte 0, 1 and 2 over `count` pixels; low 255 and high 0 when
// there are none.
struct ChannelRanges {
  int32_t low[3];
  int32_t high[3];
};
ChannelRanges channel_ranges_plain(const uint8_t *pixels, int64_t count);
ChannelRanges channel_ranges(const uint8_t *pixels, int64_t count);

}  // namespace corvix

#endif
