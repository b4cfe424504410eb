// Shear and transpose: band shifts with both truncations, rows outside the band, the
// widened bitmap, transposition on odd sizes and photographs, refusals, allocation failures.
#include <cstring>
#include <vector>

#include "geometry/helpers.h"
#include "tests/support.h"

namespace corvix {
namespace {

class ShearTest : public test::LeakCheck {};

// A w x h three-byte bitmap whose pixel (x, y) is (x + 1, y + 1, 200 - x - y): every pixel
// tells where it came from.
Bitmap *labelled(int32_t w, int32_t h) {
  Bitmap *b = gx_allocrawbitmap(w, h, 3);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      uint8_t *p = b->pixels + (static_cast<size_t>(y) * w + x) * 3;
      p[0] = static_cast<uint8_t>(x + 1);
      p[1] = static_cast<uint8_t>(y + 1);
      p[2] = static_cast<uint8_t>(200 - x - y);
    }
  }
  return b;
}

// The column where row y of a sheared labelled bitmap starts, or -1 when the row is not
// one source row shifted intact on a background of (0xB0, 0xB1, 0xB2).
int row_start(const Bitmap *b, int32_t source_width, int32_t y) {
  const uint8_t *row = b->pixels + static_cast<size_t>(y) * b->width * 3;
  int start = -1;
  for (int32_t x = 0; x < b->width; ++x) {
    const uint8_t *p = row + x * 3;
    if (p[0] == 0xB0 && p[1] == 0xB1 && p[2] == 0xB2) continue;
    if (start < 0) start = x;
    const int sx = x - start;
    if (sx >= source_width || p[0] != static_cast<uint8_t>(sx + 1) ||
        p[1] != static_cast<uint8_t>(y + 1) || p[2] != static_cast<uint8_t>(200 - sx - y))
      return -1;
  }
  return start;
}

std::vector<int> row_starts(const Bitmap *b, int32_t source_width) {
  std::vector<int> starts;
  for (int32_t y = 0; y < b->height; ++y) starts.push_back(row_start(b, source_width, y));
  return starts;
}

TEST(Interpol, RoundsTowardTheStart) {
  EXPECT_EQ(interpol(0, 7, 50), 3);
  EXPECT_EQ(interpol(7, 0, 50), 4);
  EXPECT_EQ(interpol(5, 5, 77), 5);
  EXPECT_EQ(interpol(-10, 10, 25), -5);
  EXPECT_EQ(interpol(0, 100, 100), 100);
  EXPECT_EQ(interpol(3, 9, 0), 3);
  // Ends far apart do not overflow.
  EXPECT_EQ(interpol(0, 2000000000, 100), 2000000000);
  EXPECT_EQ(interpol(2000000000, -2000000000, 50), 0);
  EXPECT_EQ(maxval(3, 9), 9);
  EXPECT_EQ(maxval(-3, -9), -3);
}

TEST_F(ShearTest, BandShiftsRunFromFirstToLastRow) {
  Bitmap *b = labelled(4, 3);
  uint8_t *old = b->pixels;
  ASSERT_EQ(gx_shearbitmap(b, 0, 2, 0, 10, 0x1B0, 0xB1, -0x4E), 1);  // low bytes B0 B1 B2
  EXPECT_NE(b->pixels, old);
  EXPECT_EQ(b->width, 14);
  EXPECT_EQ(b->height, 3);
  EXPECT_EQ(b->bytes_per_pixel, 3);
  EXPECT_EQ(row_starts(b, 4), (std::vector<int>{0, 5, 10}));
  gx_freebitmap(b);

  b = labelled(4, 3);
  ASSERT_EQ(gx_shearbitmap(b, 0, 2, 10, 0, 0xB0, 0xB1, 0xB2), 1);
  EXPECT_EQ(b->width, 14);
  EXPECT_EQ(row_starts(b, 4), (std::vector<int>{10, 5, 0}));
  gx_freebitmap(b);
}

TEST_F(ShearTest, PercentIsTruncatedBeforeTheShift) {
  // Rows 0..3 with shifts 0..200: row 2 is 66 percent along, so 132 (not 2/3 of 200, 133).
  Bitmap *b = labelled(2, 4);
  ASSERT_EQ(gx_shearbitmap(b, 0, 3, 0, 200, 0xB0, 0xB1, 0xB2), 1);
  EXPECT_EQ(row_starts(b, 2), (std::vector<int>{0, 66, 132, 200}));
  gx_freebitmap(b);
  // Downward the shift rounds toward the first row's.
  b = labelled(2, 4);
  ASSERT_EQ(gx_shearbitmap(b, 0, 3, 200, 0, 0xB0, 0xB1, 0xB2), 1);
  EXPECT_EQ(row_starts(b, 2), (std::vector<int>{200, 134, 68, 0}));
  gx_freebitmap(b);
  // A long band: 300 / 299 is 1 percent, so row 3 is the first to move.
  b = labelled(1, 300);
  ASSERT_EQ(gx_shearbitmap(b, 0, 299, 0, 100, 0xB0, 0xB1, 0xB2), 1);
  const std::vector<int> starts = row_starts(b, 1);
  EXPECT_EQ(starts[2], 0);
  EXPECT_EQ(starts[3], 1);
  EXPECT_EQ(starts[299], 100);
  gx_freebitmap(b);
}

TEST_F(ShearTest, RowsOutsideTheBandStayAtColumnZero) {
  Bitmap *b = labelled(5, 40);
  ASSERT_EQ(gx_shearbitmap(b, 10, 20, 0, 50, 0xB0, 0xB1, 0xB2), 1);
  EXPECT_EQ(b->width, 55);
  const std::vector<int> starts = row_starts(b, 5);
  for (int y = 0; y < 40; ++y)
    EXPECT_EQ(starts[y], y >= 10 && y <= 20 ? (y - 10) * 5 : 0) << "row " << y;
  gx_freebitmap(b);

  // A band that starts above the bitmap: only its part inside counts, percent from -5.
  b = labelled(2, 6);
  ASSERT_EQ(gx_shearbitmap(b, -5, 4, 0, 9, 0xB0, 0xB1, 0xB2), 1);
  EXPECT_EQ(row_starts(b, 2), (std::vector<int>{4, 5, 6, 7, 9, 0}));
  gx_freebitmap(b);
}

TEST_F(ShearTest, DegenerateBands) {
  // First row after the last: nothing moves, the bitmap still widens.
  Bitmap *b = labelled(3, 4);
  ASSERT_EQ(gx_shearbitmap(b, 3, 1, 2, 6, 0xB0, 0xB1, 0xB2), 1);
  EXPECT_EQ(b->width, 9);
  EXPECT_EQ(row_starts(b, 3), (std::vector<int>{0, 0, 0, 0}));
  gx_freebitmap(b);
  // One row: it takes the first row's shift.
  b = labelled(3, 4);
  ASSERT_EQ(gx_shearbitmap(b, 2, 2, 4, 6, 0xB0, 0xB1, 0xB2), 1);
  EXPECT_EQ(b->width, 9);
  EXPECT_EQ(row_starts(b, 3), (std::vector<int>{0, 0, 4, 0}));
  gx_freebitmap(b);
  // Both shifts 0: same pixels, same width.
  const test::Image im = test::load_image("coffee.ppm");
  b = test::image_bitmap(im);
  ASSERT_EQ(gx_shearbitmap(b, 0, 399, 0, 0, 1, 2, 3), 1);
  EXPECT_EQ(b->width, 600);
  EXPECT_EQ(std::memcmp(b->pixels, im.rgb.data(), im.rgb.size()), 0);
  gx_freebitmap(b);
}

TEST_F(ShearTest, PhotographRowsLandAtTheirShift) {
  const test::Image im = test::load_image("coffee.ppm");
  Bitmap *b = test::image_bitmap(im);
  ASSERT_EQ(gx_shearbitmap(b, 100, 299, 7, 130, 0, 0, 0), 1);
  ASSERT_EQ(b->width, 730);
  for (int y = 0; y < 400; y += 13) {
    int shift = 0;
    if (y >= 100 && y <= 299) shift = 7 + (123 * ((y - 100) * 100 / 199)) / 100;
    const uint8_t *row = b->pixels + static_cast<size_t>(y) * 730 * 3;
    EXPECT_EQ(std::memcmp(row + shift * 3, &im.rgb[static_cast<size_t>(y) * 600 * 3], 1800), 0)
        << "row " << y;
    for (int x = 0; x < 730; ++x) {
      if (x >= shift && x < shift + 600) continue;
      ASSERT_EQ(row[x * 3] | row[x * 3 + 1] | row[x * 3 + 2], 0) << x << "," << y;
    }
  }
  gx_freebitmap(b);
}

TEST_F(ShearTest, RefusalsLeaveTheBitmapAlone) {
  EXPECT_EQ(gx_shearbitmap(nullptr, 0, 1, 0, 1, 0, 0, 0), 0);
  Bitmap *b = labelled(3, 3);
  uint8_t *old = b->pixels;
  const uint64_t calls = corvix_alloc_calls();
  EXPECT_EQ(gx_shearbitmap(b, 0, 2, -1, 4, 0, 0, 0), 0);
  EXPECT_EQ(gx_shearbitmap(b, 0, 2, 4, -1, 0, 0, 0), 0);
  EXPECT_EQ(gx_shearbitmap(b, 0, 2, 0, INT32_MAX, 0, 0, 0), 0);  // width does not fit
  b->bytes_per_pixel = 1;
  EXPECT_EQ(gx_shearbitmap(b, 0, 2, 0, 4, 0, 0, 0), 0);
  EXPECT_EQ(gx_transposebitmap(b), 0);
  b->bytes_per_pixel = 4;
  EXPECT_EQ(gx_transposebitmap(b), 0);
  b->bytes_per_pixel = 3;
  b->height = -3;
  EXPECT_EQ(gx_shearbitmap(b, 0, 2, 0, 4, 0, 0, 0), 0);
  EXPECT_EQ(gx_transposebitmap(b), 0);
  b->height = 3;
  EXPECT_EQ(corvix_alloc_calls(), calls);
  EXPECT_EQ(b->pixels, old);
  EXPECT_EQ(b->width, 3);
  EXPECT_EQ(row_starts(b, 3), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(gx_transposebitmap(nullptr), 0);
  gx_freebitmap(b);
}

TEST_F(ShearTest, AllocationFailuresLeaveTheBitmapUnchanged) {
  Bitmap *b = labelled(5, 4);
  const std::vector<uint8_t> pixels(b->pixels, b->pixels + 60);
  // Allocations in order: the clone's record and buffer, the shear's, the transpose's.
  const int made = test::sweep_allocation_failures([&](int failing) {
    Bitmap *c = gx_clonebitmap(b);
    if (c == nullptr) return;
    uint8_t *before = c->pixels;
    const int32_t sheared = gx_shearbitmap(c, 0, 3, 0, 3, 0, 0, 0);
    EXPECT_EQ(sheared, failing == 3 ? 0 : 1);
    if (sheared == 0) {
      EXPECT_EQ(c->pixels, before);
      EXPECT_EQ(c->width, 5);
      EXPECT_EQ(std::vector<uint8_t>(c->pixels, c->pixels + 60), pixels);
    }
    const int32_t w = c->width, h = c->height;
    before = c->pixels;
    const int32_t turned = gx_transposebitmap(c);
    EXPECT_EQ(turned, failing == 4 ? 0 : 1);
    if (turned == 0) {
      EXPECT_EQ(c->pixels, before);
      EXPECT_EQ(c->width, w);
      EXPECT_EQ(c->height, h);
    }
    gx_freebitmap(c);
  });
  EXPECT_EQ(made, 4);
  gx_freebitmap(b);
}

TEST_F(ShearTest, TransposeMovesPixelXYToYX) {
  Bitmap *b = labelled(4, 3);
  uint8_t *old = b->pixels;
  ASSERT_EQ(gx_transposebitmap(b), 1);
  EXPECT_NE(b->pixels, old);
  ASSERT_EQ(b->width, 3);
  ASSERT_EQ(b->height, 4);
  EXPECT_EQ(b->bytes_per_pixel, 3);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 3; ++x) {
      const uint8_t *p = b->pixels + (y * 3 + x) * 3;
      EXPECT_EQ(p[0], y + 1);  // the old column
      EXPECT_EQ(p[1], x + 1);  // the old row
      EXPECT_EQ(p[2], 200 - x - y);
    }
  }
  gx_freebitmap(b);

  // One column becomes one row with the pixels in the same order.
  b = labelled(1, 9);
  std::vector<uint8_t> before(b->pixels, b->pixels + 27);
  ASSERT_EQ(gx_transposebitmap(b), 1);
  EXPECT_EQ(b->width, 9);
  EXPECT_EQ(b->height, 1);
  EXPECT_EQ(std::vector<uint8_t>(b->pixels, b->pixels + 27), before);
  gx_freebitmap(b);

  b = gx_allocbitmap(0, 5, 3);
  ASSERT_EQ(gx_transposebitmap(b), 1);
  EXPECT_EQ(b->width, 5);
  EXPECT_EQ(b->height, 0);
  gx_freebitmap(b);
}

TEST_F(ShearTest, TransposingTwiceGivesTheBitmapBack) {
  // Odd sizes that do not divide into the routine's blocks, and a photograph.
  for (auto [w, h] : {std::pair{37, 71}, std::pair{65, 33}, std::pair{1, 1}}) {
    Bitmap *b = labelled(w, h);
    const std::vector<uint8_t> before(b->pixels, b->pixels + w * h * 3);
    ASSERT_EQ(gx_transposebitmap(b), 1);
    ASSERT_EQ(row_start(b, b->width, 0), h == 1 ? 0 : -1);
    ASSERT_EQ(gx_transposebitmap(b), 1);
    EXPECT_EQ(b->width, w);
    EXPECT_EQ(b->height, h);
    EXPECT_EQ(std::vector<uint8_t>(b->pixels, b->pixels + w * h * 3), before) << w << "x" << h;
    gx_freebitmap(b);
  }
  const test::Image im = test::load_image("astronaut.ppm");
  Bitmap *b = test::image_bitmap(im);
  ASSERT_EQ(gx_transposebitmap(b), 1);
  // Old (511, 3) is new (3, 511).
  EXPECT_EQ(std::memcmp(b->pixels + (511 * 512 + 3) * 3, &im.rgb[(3 * 512 + 511) * 3], 3), 0);
  ASSERT_EQ(gx_transposebitmap(b), 1);
  EXPECT_EQ(std::memcmp(b->pixels, im.rgb.data(), im.rgb.size()), 0);
  gx_freebitmap(b);
}

}  // namespace
}  // namespace corvix
