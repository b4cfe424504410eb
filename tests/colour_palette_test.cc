// Colour-cube pen tables and remapping: levels, the whole pixel space on both kernels, runs
// around the vector steps, and pen tables asked of the graphics library.
#include <algorithm>
#include <vector>

#include "colour/palette.h"
#include "tests/support.h"

namespace corvix {
namespace {

class Palette : public test::LeakCheck {};

int level(int v) { return std::max((v + 20) / 42 - 1, 0); }

std::vector<uint8_t> some_pens(size_t n) {
  std::vector<uint8_t> pens(n);
  for (size_t i = 0; i < n; ++i) pens[i] = static_cast<uint8_t>(i * 73 + 11);
  return pens;
}

TEST_F(Palette, CubeIndicesAtTheLevelEdges) {
  const uint8_t px[] = {0, 0, 0,   255, 255, 255, 255, 0,   0,   0,   255, 0,
                        0, 0, 255, 63,  64,  232, 231, 105, 106, 147, 148, 189};
  std::vector<uint8_t> out(9, 0xEE);
  gx_remap24(px, out.data(), nullptr, sizeof px);
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 215, 180, 30, 5, 11, 144 + 6 + 2, 72 + 18 + 3, 0xEE}));
}

// All 2^24 pixels, with and without a pen table, on the plain and the vector kernel.
TEST_F(Palette, WholePixelSpaceOnEveryKernel) {
  const std::vector<uint8_t> pens = some_pens(216);
  std::vector<uint8_t> slice(3 * 65536), out(65536 + 1);
  for (int r = 0; r < 256; ++r) {
    for (int i = 0; i < 65536; ++i) {
      slice[3 * i] = static_cast<uint8_t>(r);
      slice[3 * i + 1] = static_cast<uint8_t>(i >> 8);
      slice[3 * i + 2] = static_cast<uint8_t>(i);
    }
    for (int kernel = 0; kernel < (remap_vector_available() ? 2 : 1); ++kernel)
      for (const uint8_t *table : {static_cast<const uint8_t *>(nullptr), pens.data()}) {
        out.back() = 0xEE;
        (kernel ? remap24_vector : remap24_plain)(slice.data(), out.data(), table, 3 * 65536);
        for (int i = 0; i < 65536; ++i) {
          const int cube = 36 * level(r) + 6 * level(i >> 8) + level(i & 255);
          ASSERT_EQ(out[i], table ? table[cube] : cube) << r << " " << i << " " << kernel;
        }
        ASSERT_EQ(out.back(), 0xEE);
      }
  }
}

// Runs near the vector steps on a photograph: nothing past ceil(length / 3) bytes, cube
// indices then the pen table equal remapping with the pen table, and in place the same.
TEST_F(Palette, PhotographRunsAndTwoStepRemap) {
  const test::Image im = test::load_image("coffee.ppm");
  const std::vector<uint8_t> pens = some_pens(216);
  for (uint32_t len : {0u, 3u, 4u, 189u, 192u, 195u, 387u, 12290u, 720000u}) {
    const size_t n = (len + 2) / 3;
    std::vector<uint8_t> a(n + 8, 0xEE), b = a, c = a;
    remap24_plain(im.rgb.data(), a.data(), pens.data(), len);
    gx_remap24(im.rgb.data(), b.data(), pens.data(), len);
    gx_remap24(im.rgb.data(), c.data(), nullptr, len);
    gx_remap8(c.data(), pens.data(), static_cast<uint32_t>(n));
    EXPECT_EQ(std::count(a.begin() + n, a.end(), 0xEE), 8) << len;
    EXPECT_EQ(a, b) << len;
    EXPECT_EQ(c, b) << len;
    std::vector<uint8_t> in_place(im.rgb.begin(), im.rgb.begin() + 3 * n);  // output = source
    gx_remap24(in_place.data(), in_place.data(), pens.data(), len);
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + n, in_place.begin())) << len;
  }
}

// Every byte value in runs around the vector and block sizes; a table need only reach the
// largest value present, though that first occurs in a later block (the sanitizer build
// faults on a read past the table).
TEST_F(Palette, Remap8EveryValueAndShortTables) {
  for (uint32_t len : {0u, 1u, 63u, 65u, 256u, 4095u, 4097u, 10000u}) {
    const bool short_table = len == 10000;
    std::vector<uint8_t> buf(len + 1, 0xEE);
    for (uint32_t i = 0; i < len; ++i)
      buf[i] = static_cast<uint8_t>(short_table ? i % 10 : i * 7 + i / 256);
    if (short_table) buf[9000] = 200;
    const std::vector<uint8_t> table = some_pens(short_table ? 201 : 256);
    std::vector<uint8_t> a = buf;
    gx_remap8(a.data(), table.data(), len);
    for (uint32_t i = 0; i < len; ++i) ASSERT_EQ(a[i], table[buf[i]]) << len;
    EXPECT_EQ(a.back(), 0xEE);
  }
}

TEST_F(Palette, PenTableAsksTheColourMapInCubeOrder) {
  // Pens 0..255 hold a grey that is no cube colour, pens 256..471 the cube colours in order.
  // Either map gives cube colour k pen k: the exact match wins, and of pen 256 + k only the
  // low 8 bits are kept.
  std::vector<uint8_t> rgb(3 * 472, 25);
  for (int k = 0; k < 216; ++k) {
    const int levels[3] = {k / 36, k / 6 % 6, k % 6};
    for (int c = 0; c < 3; ++c) rgb[3 * (256 + k) + c] = static_cast<uint8_t>(51 * levels[c]);
  }
  for (int first : {256, 0}) {
    ColorMap *map = corvix_colormap_create(rgb.data() + 3 * first, 472 - first);
    EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
                uint8_t *pens = gx_allocpalette(map);
                ASSERT_EQ(pens == nullptr, failing != 0);
                for (int k = 0; pens && k < 216; ++k) ASSERT_EQ(pens[k], k) << first;
                gx_freepalette(pens);
              }),
              1);
    corvix_colormap_free(map);
  }
}

}  // namespace
}  // namespace corvix
