// Shear and transpose: band shifts with both truncations, rows outside the band, the
// widened bitmap, transposition on odd sizes and photographs, refusals, allocation failures.
#include <cstring>
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
  for (int i = 0; i < w * h * 3; ++i) b->pixels[i] = label(i / 3 % w, i / 3 / w, i % 3);
  return b;
}

// Where each row of a sheared w-wide labelled bitmap starts; -1 for a row that is not its
// source row intact on the background (0xB0, 0xB1, 0xB2).
std::vector<int> row_starts(const Bitmap *b, int32_t w) {
  std::vector<int> starts;
  for (int32_t y = 0; y < b->height; ++y) {
    int start = -1;
    for (int32_t x = 0; x < b->width; ++x) {
      const uint8_t *p = b->pixels + (static_cast<size_t>(y) * b->width + x) * 3;
      if (p[0] == 0xB0 && p[1] == 0xB1 && p[2] == 0xB2) continue;
      if (start < 0) start = x;
      for (int c = 0; c < 3; ++c)
        if (x - start >= w || p[c] != label(x - start, y, c)) start = -2;
      if (start == -2) break;
    }
    starts.push_back(start < 0 ? -1 : start);
  }
  return starts;
}

TEST(Interpol, RoundsTowardTheStartWithoutOverflow) {
  EXPECT_EQ(interpol(0, 7, 50), 3);
  EXPECT_EQ(interpol(7, 0, 50), 4);
  EXPECT_EQ(interpol(-10, 10, 25), -5);
  EXPECT_EQ(interpol(2000000000, -2000000000, 50), 0);
  EXPECT_EQ(maxval(-3, -9), -3);
}

TEST_F(ShearTest, BandShifts) {
  struct Case {
    int32_t w, h, first, last, s0, s1, width;
    std::vector<int> starts;
  };
  const Case cases[] = {
      {4, 3, 0, 2, 0, 10, 14, {0, 5, 10}},
      {4, 3, 0, 2, 10, 0, 14, {10, 5, 0}},
      // 66 percent of 200 is 132, not two thirds (133); downward it rounds toward 200.
      {2, 4, 0, 3, 0, 200, 202, {0, 66, 132, 200}},
      {2, 4, 0, 3, 200, 0, 202, {200, 134, 68, 0}},
      // Rows outside the band stay put; a band from above the bitmap counts from -5.
      {1, 9, 2, 5, 0, 30, 31, {0, 0, 0, 9, 19, 30, 0, 0, 0}},
      {2, 6, -5, 4, 0, 9, 11, {4, 5, 6, 7, 9, 0}},
      // First row after the last: nothing moves, the bitmap still widens.
      {3, 4, 3, 1, 2, 6, 9, {0, 0, 0, 0}},
      // One row takes the first row's shift.
      {3, 4, 2, 2, 4, 6, 9, {0, 0, 4, 0}},
      {3, 2, 0, 1, 0, 0, 3, {0, 0}},
  };
  for (const Case &c : cases) {
    Bitmap *b = labelled(c.w, c.h);
    uint8_t *old = b->pixels;
    // Background values above 255 use their low byte.
    ASSERT_EQ(gx_shearbitmap(b, c.first, c.last, c.s0, c.s1, 0x1B0, 0xB1, -0x4E), 1);
    EXPECT_NE(b->pixels, old);
    EXPECT_EQ(b->width, c.width);
    EXPECT_EQ(b->height, c.h);
    EXPECT_EQ(row_starts(b, c.w), c.starts) << c.first << ".." << c.last;
    gx_freebitmap(b);
  }
  // A long band: 300 / 299 is 1 percent, so row 3 is the first to move.
  Bitmap *b = labelled(1, 300);
  ASSERT_EQ(gx_shearbitmap(b, 0, 299, 0, 100, 0xB0, 0xB1, 0xB2), 1);
  const std::vector<int> starts = row_starts(b, 1);
  EXPECT_EQ(std::vector<int>(starts.begin(), starts.begin() + 5),
            (std::vector<int>{0, 0, 0, 1, 1}));
  EXPECT_EQ(starts[299], 100);
  gx_freebitmap(b);
}

TEST_F(ShearTest, TransposeMovesPixelXYToYXAndTwiceIsIdentity) {
  // Odd sizes that do not divide into the routine's blocks, a column, a single pixel.
  for (auto [w, h] :
       {std::pair{4, 3}, std::pair{37, 71}, std::pair{65, 33}, std::pair{1, 9}, std::pair{1, 1}}) {
    Bitmap *b = labelled(w, h);
    uint8_t *old = b->pixels;
    ASSERT_EQ(gx_transposebitmap(b), 1);
    EXPECT_NE(b->pixels, old);
    ASSERT_EQ(b->width, h);
    ASSERT_EQ(b->height, w);
    for (int i = 0; i < w * h * 3; ++i)
      ASSERT_EQ(b->pixels[i], label(i / 3 / h, i / 3 % h, i % 3)) << w << "x" << h << " " << i;
    ASSERT_EQ(gx_transposebitmap(b), 1);
    EXPECT_EQ(b->width, w);
    EXPECT_EQ(row_starts(b, w), std::vector<int>(h, 0));
    gx_freebitmap(b);
  }
  const test::Image im = test::load_image("astronaut.ppm");
  Bitmap *b = test::image_bitmap(im);
  ASSERT_EQ(gx_transposebitmap(b), 1);
  EXPECT_EQ(std::memcmp(b->pixels + (511 * 512 + 3) * 3, &im.rgb[(3 * 512 + 511) * 3], 3), 0);
  ASSERT_EQ(gx_transposebitmap(b), 1);
  EXPECT_EQ(std::memcmp(b->pixels, im.rgb.data(), im.rgb.size()), 0);
  gx_freebitmap(b);
  b = gx_allocbitmap(0, 5, 3);
  ASSERT_EQ(gx_transposebitmap(b), 1);
  EXPECT_EQ(b->width, 5);
  gx_freebitmap(b);
}

TEST_F(ShearTest, RefusalsAndAllocationFailuresLeaveTheBitmapAlone) {
  EXPECT_EQ(gx_shearbitmap(nullptr, 0, 1, 0, 1, 0, 0, 0), 0);
  EXPECT_EQ(gx_transposebitmap(nullptr), 0);
  Bitmap *b = labelled(3, 3);
  uint8_t *old = b->pixels;
  const uint64_t calls = corvix_alloc_calls();
  EXPECT_EQ(gx_shearbitmap(b, 0, 2, -1, 4, 0, 0, 0), 0);  // a shift to the left
  EXPECT_EQ(gx_shearbitmap(b, 0, 2, 4, -1, 0, 0, 0), 0);
  EXPECT_EQ(gx_shearbitmap(b, 0, 2, 0, INT32_MAX, 0, 0, 0), 0);  // width does not fit
  for (auto [bpp, height] : {std::pair{1, 3}, std::pair{4, 3}, std::pair{3, -3}}) {
    b->bytes_per_pixel = bpp;
    b->height = height;
    EXPECT_EQ(gx_shearbitmap(b, 0, 2, 0, 4, 0, 0, 0), 0);
    EXPECT_EQ(gx_transposebitmap(b), 0);
  }
  b->bytes_per_pixel = 3;
  b->height = 3;
  EXPECT_EQ(corvix_alloc_calls(), calls);
  EXPECT_EQ(b->pixels, old);
  EXPECT_EQ(b->width, 3);
  EXPECT_EQ(row_starts(b, 3), (std::vector<int>{0, 0, 0}));

  // Allocations in order: the clone's record and buffer, the shear's, the transpose's.
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              Bitmap *c = gx_clonebitmap(b);
              if (c == nullptr) return;
              EXPECT_EQ(gx_shearbitmap(c, 0, 2, 0, 3, 0xB0, 0xB1, 0xB2), failing == 3 ? 0 : 1);
              const std::vector<int> starts =
                  failing == 3 ? std::vector<int>{0, 0, 0} : std::vector<int>{0, 1, 3};
              EXPECT_EQ(row_starts(c, 3), starts);
              const int32_t w = c->width;
              EXPECT_EQ(gx_transposebitmap(c), failing == 4 ? 0 : 1);
              if (failing == 4) {
                EXPECT_EQ(row_starts(c, 3), starts);
                EXPECT_EQ(c->width, w);
              }
              gx_freebitmap(c);
            }),
            4);
  gx_freebitmap(b);
}

}  // namespace
}  // namespace corvix
