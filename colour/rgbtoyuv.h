// The forward transform, three-byte pixels (red first) to Y, Cb and Cr planes by BT.601 in
// studio range (Y 16..235, chroma 16..240): what the conversion to colour inverts. Used to make
// input planes from any picture.
#ifndef CORVIX_COLOUR_RGBTOYUV_H
#define CORVIX_COLOUR_RGBTOYUV_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace corvix {

// `count` pixels into planes of whole groups: Y gets ceil(count / group) x group bytes (a
// last partial group repeats the last pixel), Cb and Cr one byte per group, each the mean of
// the group's per-pixel values, rounded. No pixels or a group of 0 write nothing.
inline void rgb_to_yuv_planes(const uint8_t *rgb, size_t count, uint32_t group, uint8_t *y,
                              uint8_t *cb, uint8_t *cr) {
  if (count == 0 || group == 0) return;
  auto byte = [](double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); };
  const size_t groups = (count + group - 1) / group;
  for (size_t g = 0; g < groups; ++g) {
    double sum_cb = 0, sum_cr = 0;
    for (uint32_t j = 0; j < group; ++j) {
      const size_t i = std::min(g * group + j, count - 1);
      const double r = rgb[3 * i], gr = rgb[3 * i + 1], b = rgb[3 * i + 2];
      y[g * group + j] = byte(16.0 + (65.481 * r + 128.553 * gr + 24.966 * b) / 255.0);
      sum_cb += 128.0 + (-37.797 * r - 74.203 * gr + 112.0 * b) / 255.0;
      sum_cr += 128.0 + (112.0 * r - 93.786 * gr - 18.214 * b) / 255.0;
    }
    cb[g] = byte(sum_cb / group);
    cr[g] = byte(sum_cr / group);
  }
}

}  // namespace corvix

#endif
