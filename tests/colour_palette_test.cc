// Colour-cube pen tables and remapping: levels, the whole pixel space on both kernels, runs
// around the vector widths, and pen tables asked of the graphics library.
#include <algorithm>
#include <numeric>
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

TEST_F(Palette, LevelsAndCubeIndices) {
  struct Case { uint8_t r, g, b, index; };
  const Case cases[] = {{0, 0, 0, 0},    {255, 255, 255, 215}, {255, 0, 0, 180}, {0, 255, 0, 30},
                        {0, 0, 255, 5},  {63, 64, 232, 11},    {231, 105, 106, 4 * 36 + 6 + 2},
                        {147, 148, 189, 2 * 36 + 3 * 6 + 3},   {190, 0, 0, 4 * 36}};
  for (const Case &c : cases) {
    const uint8_t px[3] = {c.r, c.g, c.b};
    uint8_t out[2] = {0xEE, 0xEE};
    gx_remap24(px, out, nullptr, 3);
    EXPECT_EQ(out[0], c.index) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    EXPECT_EQ(out[1], 0xEE);
  }
}

// Every one of the 2^24 pixels, with and without a pen table, on the plain and the vector
// kernel, against the level formula.
TEST_F(Palette, WholePixelSpaceOnEveryKernel) {
  const std::vector<uint8_t> pens = some_pens(216);
  std::vector<uint8_t> slice(3 * 65536), out(65536 + 1), want(65536);
  for (int r = 0; r < 256; ++r) {
    for (int i = 0; i < 65536; ++i) {
      slice[3 * i] = static_cast<uint8_t>(r);
      slice[3 * i + 1] = static_cast<uint8_t>(i >> 8);
      slice[3 * i + 2] = static_cast<uint8_t>(i);
      want[i] = static_cast<uint8_t>(36 * level(r) + 6 * level(i >> 8) + level(i & 255));
    }
    for (int kernel = 0; kernel < (remap_vector_available() ? 2 : 1); ++kernel)
      for (const uint8_t *table : {static_cast<const uint8_t *>(nullptr), pens.data()}) {
        out.back() = 0xEE;
        (kernel ? remap24_vector : remap24_plain)(slice.data(), out.data(), table, 3 * 65536);
        for (int i = 0; i < 65536; ++i)
          ASSERT_EQ(out[i], table ? table[want[i]] : want[i]) << r << " " << i << " " << kernel;
        ASSERT_EQ(out.back(), 0xEE);
      }
  }
}

// Runs of every length near the vector steps on a photograph: plain and public bytes agree,
// and nothing is written past ceil(length / 3) bytes. Remapping to cube indices then through
// the pen table equals remapping with the pen table.
TEST_F(Palette, PhotographRunsAndTwoStepRemap) {
  const test::Image im = test::load_image("coffee.ppm");
  const std::vector<uint8_t> pens = some_pens(216);
  for (uint32_t len : {0u, 3u, 4u, 189u, 191u, 192u, 195u, 383u, 384u, 387u, 3u * 4096 + 2,
                       static_cast<uint32_t>(im.rgb.size())}) {
    const size_t n = (len + 2) / 3;
    std::vector<uint8_t> src(im.rgb.begin(), im.rgb.begin() + 3 * n);
    std::vector<uint8_t> a(n + 8, 0xEE), b(n + 8, 0xEE), c(n + 8, 0xEE);
    remap24_plain(src.data(), a.data(), pens.data(), len);
    gx_remap24(src.data(), b.data(), pens.data(), len);
    EXPECT_EQ(a, b) << len;
    EXPECT_EQ(std::count(a.begin() + n, a.end(), 0xEE), 8) << len;
    gx_remap24(src.data(), c.data(), nullptr, len);
    gx_remap8(c.data(), pens.data(), static_cast<uint32_t>(n));
    EXPECT_EQ(c, b) << len;
  }
}

TEST_F(Palette, Remap8AllValuesBothKernelsAndShortTables) {
  std::vector<uint8_t> identity(256), seven(256, 7), scrambled = some_pens(256);
  std::iota(identity.begin(), identity.end(), 0);
  for (uint32_t len : {0u, 1u, 63u, 64u, 65u, 256u, 4095u, 4096u, 4097u, 10000u}) {
    std::vector<uint8_t> buf(len + 1);
    for (uint32_t i = 0; i < len; ++i) buf[i] = static_cast<uint8_t>(i * 7 + i / 256);
    for (const auto *table : {&identity, &seven, &scrambled}) {
      std::vector<uint8_t> a = buf, b = buf;
      a.back() = b.back() = 0xEE;
      remap8_plain(a.data(), table->data(), len);
      gx_remap8(b.data(), table->data(), len);
      EXPECT_EQ(a, b) << len;
      for (uint32_t i = 0; i < len; ++i) ASSERT_EQ(a[i], (*table)[buf[i]]);
      EXPECT_EQ(a.back(), 0xEE);
    }
  }
  // A table need only reach the largest value present, even when that value first occurs in
  // a later block (the sanitizer build faults on any read past the table).
  std::vector<uint8_t> buf(10000);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<uint8_t>(i % 10);
  buf[9000] = 200;
  const std::vector<uint8_t> table = some_pens(201);
  std::vector<uint8_t> a = buf;
  gx_remap8(a.data(), table.data(), static_cast<uint32_t>(a.size()));
  for (size_t i = 0; i < buf.size(); ++i) ASSERT_EQ(a[i], table[buf[i]]);
}

TEST_F(Palette, PenTableAsksTheColourMapInCubeOrder) {
  // Pens 0..255 hold one grey that is no cube colour, pens 256..471 the cube colours: the
  // exact match wins and only its low 8 bits are kept, so cube colour k gets pen k.
  std::vector<uint8_t> rgb(3 * 472, 25);
  for (int k = 0; k < 216; ++k) {
    rgb[3 * (256 + k)] = static_cast<uint8_t>(51 * (k / 36));
    rgb[3 * (256 + k) + 1] = static_cast<uint8_t>(51 * (k / 6 % 6));
    rgb[3 * (256 + k) + 2] = static_cast<uint8_t>(51 * (k % 6));
  }
  for (int first : {256, 0}) {
    ColorMap *map = corvix_colormap_create(rgb.data() + 3 * first, 472 - first);
    ASSERT_NE(map, nullptr);
    uint8_t *pens = gx_allocpalette(map);
    ASSERT_NE(pens, nullptr);
    for (int k = 0; k < 216; ++k) ASSERT_EQ(pens[k], k) << first;
    gx_freepalette(pens);
    corvix_colormap_free(map);
  }
  gx_freepalette(nullptr);
}

TEST_F(Palette, PenTableAllocationFailureGivesNull) {
  ColorMap *map = corvix_colormap_create(some_pens(30).data(), 10);
  const int made = test::sweep_allocation_failures([&](int failing) {
    uint8_t *pens = gx_allocpalette(map);
    EXPECT_EQ(pens == nullptr, failing != 0);
    gx_freepalette(pens);
  });
  EXPECT_EQ(made, 1);
  corvix_colormap_free(map);
}

}  // namespace
}  // namespace corvix
