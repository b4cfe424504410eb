#include "tests/support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace corvix::test {

int sweep_allocation_failures(const std::function<void(int)> &body) {
  const uint64_t before = corvix_alloc_calls();
  body(0);
  const int made = static_cast<int>(corvix_alloc_calls() - before);
  for (int n = 1; n <= made; ++n) {
    corvix_alloc_fail_nth(static_cast<uint32_t>(n));
    body(n);
    corvix_alloc_fail_nth(0);
  }
  return made;
}

Image load_image(const std::string &name) {
  Image im;
  std::ifstream f(std::string(CORVIX_TEST_IMAGES) + "/" + name, std::ios::binary);
  std::string magic;
  int maxval = 0;
  f >> magic >> im.width >> im.height >> maxval;
  f.get();
  if (!f || magic != "P6" || maxval != 255) {
    ADD_FAILURE() << "cannot read test image " << name;
    return {};
  }
  im.rgb.resize(static_cast<size_t>(im.width) * im.height * 3);
  f.read(reinterpret_cast<char *>(im.rgb.data()), static_cast<std::streamsize>(im.rgb.size()));
  if (!f) ADD_FAILURE() << "short test image " << name;
  return im;
}

Bitmap *image_bitmap(const Image &image) {
  Bitmap *b = gx_allocrawbitmap(image.width, image.height, 3);
  if (b != nullptr) std::memcpy(b->pixels, image.rgb.data(), image.rgb.size());
  return b;
}

Planes image_planes(const Image &image, uint32_t group) {
  Planes p;
  const size_t n = static_cast<size_t>(image.width) * image.height;
  const size_t groups = (n + group - 1) / group;
  p.y.resize(groups * group);
  p.cr.resize(groups);
  p.cb.resize(groups);
  auto byte = [](double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); };
  for (size_t g = 0; g < groups; ++g) {
    double cr = 0, cb = 0;
    for (uint32_t j = 0; j < group; ++j) {
      const size_t i = std::min(g * group + j, n - 1);
      const double r = image.rgb[3 * i], gr = image.rgb[3 * i + 1], b = image.rgb[3 * i + 2];
      p.y[g * group + j] = byte(16 + 0.257 * r + 0.504 * gr + 0.098 * b);
      cb += 128 - 0.148 * r - 0.291 * gr + 0.439 * b;
      cr += 128 + 0.439 * r - 0.368 * gr - 0.071 * b;
    }
    p.cr[g] = byte(cr / group);
    p.cb[g] = byte(cb / group);
  }
  return p;
}

}  // namespace corvix::test
