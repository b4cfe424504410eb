// Lines and boxes: the clipped line walk against a plain walk over every short line around a
// small bitmap, worked pixel lists, lines across the whole coordinate range, boxes solid and
// dotted on both layouts.
#include <climits>
#include <set>
#include <utility>
#include <vector>

#include "tests/support.h"

namespace corvix {
namespace {

// A zeroed target inside 16 guard bytes each side.
struct Target {
  std::vector<uint8_t> bytes;
  Bitmap bm;
  Target(int32_t w, int32_t h, int32_t bpp)
      : bytes(static_cast<size_t>(w) * h * bpp + 32, 0), bm{bytes.data() + 16, w, h, bpp} {
    std::fill(bytes.begin(), bytes.begin() + 16, 0xA5);
    std::fill(bytes.end() - 16, bytes.end(), 0xA5);
  }
  // The coordinates of every pixel whose first byte is not 0.
  std::set<std::pair<int, int>> lit() const {
    std::set<std::pair<int, int>> s;
    const int32_t step = bm.bytes_per_pixel == 3 ? 3 : 1;
    for (int y = 0; y < bm.height; ++y)
      for (int x = 0; x < bm.width; ++x)
        if (bm.pixels[(y * bm.width + x) * step] != 0) s.insert({x, y});
    return s;
  }
};

using Points = std::set<std::pair<int, int>>;

// The plain walk, every step from the first point, plotting (x, y) into a W x H point set.
Points plain_line(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t w, int64_t h) {
  const int64_t dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
  const int64_t ix = x2 < x1 ? -1 : 1, iy = y2 < y1 ? -1 : 1;
  const bool steep = dy > dx;
  int64_t e = steep ? 2 * dx - dy : 2 * dy - dx, x = x1, y = y1;
  Points p;
  for (int64_t n = (steep ? dy : dx) + 1; n > 0; --n) {
    if (x >= 0 && x < w && y >= 0 && y < h) p.insert({int(x), int(y)});
    const bool diagonal = e >= 0;
    e += steep ? 2 * (diagonal ? dx - dy : dx) : 2 * (diagonal ? dy - dx : dy);
    if (steep || diagonal) y += iy;
    if (!steep || diagonal) x += ix;
  }
  return p;
}

class Draw : public test::LeakCheck {};

// Every line with both ends in -4..10 around a 7 x 5 bitmap: all octants, ties, ends outside.
TEST_F(Draw, LinesMatchThePlainWalk) {
  for (int x1 = -4; x1 <= 10; ++x1)
    for (int y1 = -4; y1 <= 10; ++y1)
      for (int x2 = -4; x2 <= 10; ++x2)
        for (int y2 = -4; y2 <= 10; ++y2) {
          const int32_t bpp = (x1 + y2) & 1 ? 3 : 1;
          Target t(7, 5, bpp);
          gx_drawline(&t.bm, x1, y1, x2, y2, 9, 8, 7);
          const Points got = t.lit();
          ASSERT_EQ(got, plain_line(x1, y1, x2, y2, 7, 5))
              << x1 << "," << y1 << " to " << x2 << "," << y2 << " bpp " << bpp;
          ASSERT_EQ(t.bytes.front(), 0xA5);
          ASSERT_EQ(t.bytes.back(), 0xA5);
          if (x1 >= 0 && x1 < 7 && x2 >= 0 && x2 < 7 && y1 >= 0 && y1 < 5 && y2 >= 0 && y2 < 5) {
            ASSERT_EQ(got.size(), size_t(std::max(std::abs(x2 - x1), std::abs(y2 - y1)) + 1));
            ASSERT_TRUE(got.count({x1, y1}) && got.count({x2, y2}));
          }
        }
}

TEST_F(Draw, LineWorkedValues) {
  struct Case { int32_t x1, y1, x2, y2; Points want; };
  const Case cases[] = {
      {0, 0, 2, 1, {{0, 0}, {1, 1}, {2, 1}}},  // a tie steps diagonally...
      {2, 1, 0, 0, {{2, 1}, {1, 0}, {0, 0}}},  // ...so the reverse differs
      {0, 0, 0, 0, {{0, 0}}},
      {-5, 2, 5, 2, {{0, 2}, {1, 2}, {2, 2}, {3, 2}}},
      {0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
      {0, 0, 1, 3, {{0, 0}, {0, 1}, {1, 2}, {1, 3}}},
      {3, 0, 0, 1, {{3, 0}, {2, 0}, {1, 1}, {0, 1}}},
      {1, 3, 0, 0, {{1, 3}, {1, 2}, {0, 1}, {0, 0}}},
  };
  for (const Case &c : cases) {
    Target t(4, 4, 3);
    gx_drawline(&t.bm, c.x1, c.y1, c.x2, c.y2, 1, 2, 3);
    EXPECT_EQ(t.lit(), c.want) << c.x1 << "," << c.y1 << " to " << c.x2 << "," << c.y2;
  }
  Target rgb(2, 1, 3), grey(2, 1, 1);
  gx_drawline(&rgb.bm, 1, 0, 1, 0, 200 + 256, 10, -1);  // low 8 bits of each colour
  gx_drawline(&grey.bm, 1, 0, 1, 0, 200, 10, 10);
  EXPECT_EQ(std::vector<uint8_t>(rgb.bm.pixels, rgb.bm.pixels + 6),
            std::vector<uint8_t>({0, 0, 0, 200, 10, 255}));
  EXPECT_EQ(std::vector<uint8_t>(grey.bm.pixels, grey.bm.pixels + 2),
            std::vector<uint8_t>({0, 200}));
}

// Ends far outside: the walk starts where the line enters and still lands on the same pixels.
TEST_F(Draw, LinesAcrossTheWholeCoordinateRange) {
  Target d(6, 6, 1), h(6, 6, 3);
  gx_drawline(&d.bm, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 1, 1, 1);
  gx_drawline(&h.bm, INT32_MAX, 3, INT32_MIN, 3, 1, 1, 1);
  EXPECT_EQ(d.lit(), Points({{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}}));
  EXPECT_EQ(h.lit(), Points({{0, 3}, {1, 3}, {2, 3}, {3, 3}, {4, 3}, {5, 3}}));
  const int32_t lines[][4] = {{-1500000, -700001, 1500003, 700000},
                              {700000, 1500003, -700001, -1500000},
                              {-999999, 3000000, 1000001, -3000001}};
  for (const auto &l : lines) {
    Target t(64, 48, 3);
    gx_drawline(&t.bm, l[0], l[1], l[2], l[3], 5, 5, 5);
    EXPECT_FALSE(t.lit().empty());
    EXPECT_EQ(t.lit(), plain_line(l[0], l[1], l[2], l[3], 64, 48));
  }
}

TEST_F(Draw, BoxesSolidAndDotted) {
  struct Case { int32_t x1, y1, x2, y2, step; };
  const Case cases[] = {{3, 3, 1, 1, 1},   {-10, -10, 100, 100, 1}, {0, 0, 4, 4, 2},
                        {5, 0, 9, 3, 1},   {1, 2, 8, 6, 2},          {-4, -4, 100, 100, 3},
                        {8, 7, 8, 7, 5},   {2, -9, 2, -1, 1},         {9, 7, 9, 8, 1},
                        {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX}};
  for (int32_t bpp : {3, 1, 2})
    for (const Case &c : cases) {
      Target t(9, 8, bpp);
      gx_drawbox(&t.bm, c.x1, c.y1, c.x2, c.y2, 7, 6, 5, c.step);
      // Lit: inside the ordered, clamped box, on the grid counted from its top-left corner.
      const int x0 = std::clamp(std::min(c.x1, c.x2), 0, 8), y0 = std::clamp(std::min(c.y1, c.y2), 0, 7);
      Points want;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 9; ++x)
          if (x >= std::min(c.x1, c.x2) && x <= std::max(c.x1, c.x2) && y >= std::min(c.y1, c.y2) &&
              y <= std::max(c.y1, c.y2) && (x - x0) % c.step == 0 && (y - y0) % c.step == 0)
            want.insert({x, y});
      ASSERT_EQ(t.lit(), want) << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2 << " step "
                               << c.step << " bpp " << bpp;
      ASSERT_EQ(t.bytes.front(), 0xA5);
      ASSERT_EQ(t.bytes.back(), 0xA5);
      // Three-byte pixels take all three colours; other layouts the red value in one byte.
      if (bpp == 3 && !want.empty()) {
        EXPECT_EQ(t.bm.pixels[3 * (y0 * 9 + x0) + 2], 5);
      } else if (bpp != 3) {
        EXPECT_EQ(t.bm.pixels[9 * 8], bpp == 1 ? 0xA5 : 0);
      }
    }
}

TEST_F(Draw, TargetsAndStepsThatCannotBeDrawnDoNothing) {
  Target t(4, 4, 3);
  const auto before = t.bytes;
  for (int32_t step : {0, -1, INT32_MIN}) gx_drawbox(&t.bm, 0, 0, 3, 3, 1, 1, 1, step);
  Bitmap none{nullptr, 4, 4, 3}, bad{t.bm.pixels, -4, 4, 3}, zero{t.bm.pixels, 4, 4, 0},
      huge{t.bm.pixels, 65536, 65536, 3};
  for (Bitmap *b : {&none, &bad, &zero, &huge, static_cast<Bitmap *>(nullptr)}) {
    gx_drawbox(b, 0, 0, 3, 3, 1, 1, 1, 1);
    gx_drawline(b, 0, 0, 3, 3, 1, 1, 1);
  }
  EXPECT_EQ(t.bytes, before);
}

}  // namespace
}  // namespace corvix
