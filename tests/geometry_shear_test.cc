// Shear and transpose: band shifts with both truncations, rows outside the band, the
// widened bitmap, transposition on odd sizes, refusals, allocation failures.
#include <tuple>
#include <utility>
#include <vector>

#include "geometry/helpers.h"
#include "tests/support.h"

namespace corvix {
namespace {

class ShearTest : public test::LeakCheck {};

// Pixel (x, y) is (x + 1, y + 1, 200 - x - y): every pixel tells where it came from.
uint8_t label(int x, int y, int c) {
  return static_cast<uint8_t>(c == 0 ? x + 1 : c == 1 ? y + 1 : 200 - x - y);
}
Bitmap *labelled(int32_t w, int32_t h) {
  Bitmap *b = gx_allocrawbitmap(w, h, 3);
  for (int i = 0; b && i < w * h * 3; ++i) b->pixels[i] = label(i / 3 % w, i / 3 / w, i % 3);
  return b;
}

// A labelled w-wide bitmap with row y moved right by starts[y] in a `width`-wide bitmap
// on the background 0xB0, 0xB1, 0xB2.
std::vector<uint8_t> sheared(int w, int width, const std::vector<int> &starts) {
  std::vector<uint8_t> v;
  for (int y = 0; y < static_cast<int>(starts.size()); ++y)
    for (int x = 0, s = starts[y]; x < width; ++x)
      for (int c = 0; c < 3; ++c) v.push_back(x >= s && x < s + w ? label(x - s, y, c) : 0xB0 + c);
  return v;
}

TEST_F(ShearTest, BandShiftsTruncateTwice) {
  // clang-format off
  struct Case { int32_t w, h, first, last, s0, s1, width; std::vector<int> starts; };
  const Case cases[] = {
      // 66 percent of 200 is 132, not two thirds (133); downward it rounds toward 200.
      {2, 4, 0, 3, 0, 200, 202, {0, 66, 132, 200}}, {2, 4, 0, 3, 200, 0, 202, {200, 134, 68, 0}},
      // Rows outside the band stay put; a band from above the bitmap counts from -5.
      {1, 7, 2, 5, 0, 30, 31, {0, 0, 0, 9, 19, 30, 0}}, {2, 6, -5, 4, 0, 9, 11, {4, 5, 6, 7, 9, 0}},
      // First row after the last: nothing moves, the bitmap still widens. One row takes the
      // first row's shift.
      {3, 4, 3, 1, 2, 6, 9, {0, 0, 0, 0}}, {3, 4, 2, 2, 4, 6, 9, {0, 0, 4, 0}}};
  // clang-format on
  for (const Case &c : cases) {
    Bitmap *b = labelled(c.w, c.h);
    // Background values past 255 keep their low byte.
    ASSERT_EQ(gx_shearbitmap(b, c.first, c.last, c.s0, c.s1, 0x1B0, 0xB1, -0x4E), 1);
    EXPECT_EQ(test::bytes_of(b), sheared(c.w, c.width, c.starts)) << c.first << ".." << c.last;
    gx_freebitmap(b);
  }
  // Products past 32 bits, which no bitmap of a test's size reaches.
  EXPECT_EQ(interpol(2000000000, -2000000000, 50), 0);
  EXPECT_EQ(interpol(-2000000000, 2000000000, 75), 1000000000);
}

TEST_F(ShearTest, TransposeMovesPixelXYToYX) {
  // Sizes that do not divide into the routine's blocks, a column, a single pixel, no pixels.
  for (auto [w, h] : {std::pair{37, 71}, {65, 33}, {1, 9}, {1, 1}, {0, 5}}) {
    Bitmap *b = labelled(w, h);
    ASSERT_EQ(gx_transposebitmap(b), 1);
    ASSERT_EQ(std::pair(b->width, b->height), std::pair(h, w));
    for (int i = 0; i < w * h * 3; ++i)
      ASSERT_EQ(b->pixels[i], label(i / 3 / h, i / 3 % h, i % 3)) << w << "x" << h << " " << i;
    gx_freebitmap(b);
  }
}

TEST_F(ShearTest, RefusalsAndAllocationFailuresLeaveTheBitmapAlone) {
  const uint64_t calls = corvix_alloc_calls();
  EXPECT_EQ(gx_shearbitmap(nullptr, 0, 1, 0, 1, 0, 0, 0) + gx_transposebitmap(nullptr), 0);
  // Other pixel sizes, a negative height, an unbacked buffer: refused by both routines (the
  // rows whose first shift is 0). Shifts to the left, a width that does not fit: by the shear.
  uint8_t buf[27] = {};
  // clang-format off
  for (auto [x, s0, s1] :
       {std::tuple{Bitmap{buf, 3, 3, 1}, 0, 4}, {{buf, 3, 3, 4}, 0, 4}, {{buf, 3, -3, 3}, 0, 4},
        {{nullptr, 3, 3, 3}, 0, 4}, {{buf, 3, 3, 3}, -1, 4}, {{buf, 3, 3, 3}, 4, -1},
        {{buf, 3, 3, 3}, 1, INT32_MAX}})
    // clang-format on
    EXPECT_EQ(gx_shearbitmap(&x, 0, 2, s0, s1, 0, 0, 0) + (!s0 ? gx_transposebitmap(&x) : 0), 0);
  EXPECT_EQ(corvix_alloc_calls(), calls);
  // Allocations in order: the bitmap's record and buffer, the shear's, the transpose's.
  const std::vector<uint8_t> px = sheared(3, 3, {0, 0, 0}), done = sheared(3, 6, {0, 1, 3});
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              Bitmap *c = labelled(3, 3);
              if (c == nullptr) return;
              EXPECT_EQ(gx_shearbitmap(c, 0, 2, 0, 3, 0xB0, 0xB1, 0xB2), failing == 3 ? 0 : 1);
              EXPECT_EQ(test::bytes_of(c), failing == 3 ? px : done);
              EXPECT_EQ(gx_transposebitmap(c), failing == 4 ? 0 : 1);
              EXPECT_TRUE(failing != 4 || (c->width == 6 && test::bytes_of(c) == done));
              gx_freebitmap(c);
            }),
            4);
}

}  // namespace
}  // namespace corvix
