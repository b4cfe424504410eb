// Lines and boxes: the clipped line walk against a plain walk over every short line around a
// small bitmap, worked pixel lists, lines across the whole coordinate range, boxes solid and
// dotted on both layouts, refused calls.
#include <array>
#include <climits>
#include <set>

#include "tests/blit_support.h"

namespace corvix {
namespace {

using test::Bytes;
using test::Target;
using Points = std::set<std::pair<int64_t, int64_t>>;

// The pixels whose first byte is not 0.
Points lit(const Target &t) {
  Points s;
  const int32_t step = t.bm.bytes_per_pixel == 3 ? 3 : 1;
  for (int y = 0; y < t.bm.height; ++y)
    for (int x = 0; x < t.bm.width; ++x)
      if (t.bm.pixels[(y * t.bm.width + x) * step] != 0) s.insert({x, y});
  return s;
}

// Every step from the first point, keeping the points inside w x h.
Points plain_line(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t w, int64_t h) {
  const int64_t dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
  const bool steep = dy > dx;
  int64_t e = steep ? 2 * dx - dy : 2 * dy - dx, x = x1, y = y1;
  Points p;
  for (int64_t n = (steep ? dy : dx) + 1; n > 0; --n) {
    if (x >= 0 && x < w && y >= 0 && y < h) p.insert({x, y});
    const bool diagonal = e >= 0;
    e += steep ? 2 * (diagonal ? dx - dy : dx) : 2 * (diagonal ? dy - dx : dy);
    if (steep || diagonal) y += y2 < y1 ? -1 : 1;
    if (!steep || diagonal) x += x2 < x1 ? -1 : 1;
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
          Target t(7, 5, (x1 + y2) & 1 ? 3 : 1);
          gx_drawline(&t.bm, x1, y1, x2, y2, 9, 8, 7);
          ASSERT_EQ(lit(t), plain_line(x1, y1, x2, y2, 7, 5)) << x1 << "," << y1 << " " << x2
                                                              << "," << y2;
          ASSERT_EQ(t.bytes, Target(7, 5, t.bm.bytes_per_pixel, t.bm.pixels).bytes);  // guards
        }
}

TEST_F(Draw, LineWorkedValues) {
  const std::pair<std::array<int32_t, 4>, Points> cases[] = {
      {{0, 0, 2, 1}, {{0, 0}, {1, 1}, {2, 1}}},  // a tie steps diagonally...
      {{2, 1, 0, 0}, {{2, 1}, {1, 0}, {0, 0}}},  // ...so the reverse differs
      {{0, 0, 0, 0}, {{0, 0}}},
      {{-5, 2, 5, 2}, {{0, 2}, {1, 2}, {2, 2}, {3, 2}}},
      {{0, 0, 1, 3}, {{0, 0}, {0, 1}, {1, 2}, {1, 3}}},
      {{1, 3, 0, 0}, {{1, 3}, {1, 2}, {0, 1}, {0, 0}}},
  };
  for (const auto &[l, want] : cases) {
    Target t(4, 4, 3);
    gx_drawline(&t.bm, l[0], l[1], l[2], l[3], 1, 2, 3);
    EXPECT_EQ(lit(t), want) << l[0] << "," << l[1] << " " << l[2] << "," << l[3];
  }
}

// Ends far outside: the walk starts where the line enters and lands on the same pixels.
TEST_F(Draw, LinesAcrossTheWholeCoordinateRange) {
  Target d(6, 6, 1), h(6, 6, 3);
  gx_drawline(&d.bm, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 1, 1, 1);
  gx_drawline(&h.bm, INT32_MAX, 3, INT32_MIN, 3, 1, 1, 1);
  EXPECT_EQ(lit(d), Points({{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}}));
  EXPECT_EQ(lit(h), Points({{0, 3}, {1, 3}, {2, 3}, {3, 3}, {4, 3}, {5, 3}}));
  for (const auto &l : {std::array{-1500000, -700001, 1500003, 700000},
                        {1000003, 3000000, -1000000, -3000001}}) {
    Target t(64, 48, 3);
    gx_drawline(&t.bm, l[0], l[1], l[2], l[3], 5, 5, 5);
    EXPECT_EQ(lit(t), plain_line(l[0], l[1], l[2], l[3], 64, 48));
    EXPECT_GT(lit(t).size(), 20u);
  }
}

TEST_F(Draw, BoxesSolidAndDotted) {
  const std::array<int32_t, 5> cases[] = {
      {3, 3, 1, 1, 1}, {-10, -10, 100, 100, 1}, {0, 0, 4, 4, 2}, {5, 0, 9, 3, 1},
      {1, 2, 8, 6, 2}, {-4, -4, 100, 100, 3},   {8, 7, 8, 7, 5}, {2, -9, 2, -1, 1},
      {9, 7, 9, 8, 1}, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX}};
  for (int32_t bpp : {3, 1, 2})
    for (const auto &[x1, y1, x2, y2, step] : cases) {
      Target t(9, 8, bpp);
      gx_drawbox(&t.bm, x1, y1, x2, y2, 7 + 256, 6, 5 - 256, step);  // low 8 bits: 7, 6, 5
      // Inside the ordered box, on the grid counted from its clamped top-left corner.
      const int64_t xl = std::min(x1, x2), xh = std::max(x1, x2), x0 = std::clamp(xl, 0L, 8L);
      const int64_t yl = std::min(y1, y2), yh = std::max(y1, y2), y0 = std::clamp(yl, 0L, 7L);
      Points want;
      for (int64_t y = std::max<int64_t>(yl, 0); y <= std::min<int64_t>(yh, 7); ++y)
        for (int64_t x = std::max<int64_t>(xl, 0); x <= std::min<int64_t>(xh, 8); ++x)
          if ((x - x0) % step == 0 && (y - y0) % step == 0) want.insert({x, y});
      ASSERT_EQ(lit(t), want) << x1 << "," << y1 << " " << x2 << "," << y2 << " step " << step;
      // Three-byte pixels take all three colours, other layouts one byte of red per pixel.
      const Bytes pixel = bpp == 3 ? Bytes{7, 6, 5} : Bytes{7};
      const size_t at = (y0 * 9 + x0) * pixel.size(), end = 72 * pixel.size();
      if (!want.empty()) {
        EXPECT_EQ(t.px(at, at + pixel.size()), pixel);
      }
      EXPECT_EQ(t.px(end, 72 * bpp), Bytes(72 * bpp - end, 0));  // past the one-byte pixels
      EXPECT_EQ(t.bytes.back(), 0xA5);
    }
}

TEST_F(Draw, TargetsAndStepsThatCannotBeDrawnDoNothing) {
  Target t(4, 4, 3);
  for (int32_t step : {0, -1, INT32_MIN}) gx_drawbox(&t.bm, 0, 0, 3, 3, 1, 1, 1, step);
  Bitmap none{nullptr, 4, 4, 3}, bad{t.bm.pixels, -4, 4, 3}, zero{t.bm.pixels, 4, 4, 0},
      huge{t.bm.pixels, 65536, 65536, 3};
  for (Bitmap *b : {&none, &bad, &zero, &huge, static_cast<Bitmap *>(nullptr)}) {
    gx_drawbox(b, 0, 0, 3, 3, 1, 1, 1, 1);
    gx_drawline(b, 0, 0, 3, 3, 1, 1, 1);
  }
  EXPECT_EQ(t.bytes, Target(4, 4, 3).bytes);
}

}  // namespace
}  // namespace corvix
