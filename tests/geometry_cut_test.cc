// Cut and smooth: rectangles across the edges and pixel sizes, smoothing worked by hand,
// refusals, allocation failures.
#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "tests/support.h"

namespace corvix {
namespace {

class CutSmoothTest : public test::LeakCheck {};

TEST_F(CutSmoothTest, RectanglesInsideAndAcrossTheEdges) {
  // clang-format off
  struct Case { int x1, y1, x2, y2, w, h; std::vector<int> pixels; };  // -1: black
  // A 4 x 3 source: byte k of pixel i = 4 y + x is 10 i + k + 1. Corners come in any order.
  const Case cases[] = {
      {2, 2, 1, 1, 2, 2, {5, 6, 9, 10}}, {-1, 1, 4, 1, 6, 1, {-1, 4, 5, 6, 7, -1}},
      {1, -1, 1, 3, 1, 5, {-1, 1, 5, 9, -1}}, {3, 2, 4, 3, 2, 2, {11, -1, -1, -1}},
      {-3, 1, -2, 1, 2, 1, {-1, -1}}, {7, 7, 8, 8, 2, 2, {-1, -1, -1, -1}}};
  // clang-format on
  uint8_t px[48];
  for (int32_t bpp : {3, 1, 2, 4}) {  // whole pixels of the source's size
    const Bitmap src{px, 4, 3, bpp};
    for (int i = 0; i < 12 * bpp; ++i) px[i] = static_cast<uint8_t>(10 * (i / bpp) + i % bpp + 1);
    for (const Case &c : cases) {
      // Freed memory dirtied, so that a byte the cut forgets to write shows.
      test::dirty_freed_memory(4096);
      Bitmap *r = gx_cutbitmap(&src, c.x1, c.y1, c.x2, c.y2);
      ASSERT_NE(r, nullptr);
      EXPECT_EQ((std::array{r->width, r->height}), (std::array{c.w, c.h}));
      std::vector<uint8_t> want;
      for (int p : c.pixels)
        for (int k = 0; k < bpp; ++k) want.push_back(p < 0 ? 0 : 10 * p + k + 1);
      EXPECT_EQ(test::bytes_of(r), want) << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
      gx_freebitmap(r);
    }
  }
}

// At every level, random frames at widths around the register sizes (row bytes 3 w, so
// 22 pixels leave 60 inside bytes, 23 leave 63), one pass then two in one call against the
// formula: each byte inside the border becomes (m + (l + r + u + d) / 4) / 2 of the previous
// pass's bytes, the border stays; freed memory is dirtied first, so a border byte the
// working buffer does not take from the frame shows after an odd number of passes.
class SmoothLevels : public test::AtEachLevel {};
CORVIX_AT_EACH_LEVEL(SmoothLevels);

TEST_P(SmoothLevels, EveryWidthMatchesTheFormula) {
  std::mt19937 rng(3);
  for (int32_t w : {1, 2, 3, 4, 12, 22, 23, 24, 44, 45, 90}) {
    for (int32_t h : {1, 3, 4, 9}) {
      std::vector<uint8_t> want(3 * size_t(w) * h);
      for (auto &v : want) v = uint8_t(rng());
      Bitmap *b = gx_allocrawbitmap(w, h, 3);
      std::memcpy(b->pixels, want.data(), want.size());
      for (int passes = 1; passes <= 2; ++passes) {  // three in all
        test::dirty_freed_memory(uint32_t(want.size()));
        for (int pass = 0; pass < passes; ++pass) {
          const std::vector<uint8_t> in = want;
          for (int y = 1; y + 1 < h; ++y)
            for (int i = 3; i < 3 * w - 3; ++i) {
              const size_t k = size_t(y) * 3 * w + i, s = 3 * size_t(w);
              want[k] =
                  uint8_t((in[k] + ((in[k - 3] + in[k + 3] + in[k - s] + in[k + s]) >> 2)) >> 1);
            }
        }
        ASSERT_EQ(gx_smoothbitmap(b, passes), 1);
        ASSERT_EQ(test::bytes_of(b), want) << w << "x" << h << " passes " << passes;
      }
      gx_freebitmap(b);
    }
  }
}

TEST_F(CutSmoothTest, RefusalsAndAllocationFailuresLeaveTheSourceAlone) {
  uint8_t buffer[48];
  for (int i = 0; i < 48; ++i) buffer[i] = static_cast<uint8_t>(i * 91 + 5);
  const std::vector<uint8_t> px(buffer, buffer + 48);
  const uint64_t calls = corvix_alloc_calls();
  EXPECT_TRUE(gx_cutbitmap(nullptr, 0, 0, 1, 1) == nullptr && gx_smoothbitmap(nullptr, 1) == 0);
  // Negative, unbacked or zero-byte pixel sizes; the smoothing needs three bytes a pixel.
  for (Bitmap b :
       {Bitmap{buffer, -4, 4, 3}, {buffer, 4, -4, 3}, {nullptr, 4, 4, 3}, {buffer, 4, 4, 0}})
    EXPECT_TRUE(gx_cutbitmap(&b, 0, 0, 1, 1) == nullptr && gx_smoothbitmap(&b, 1) == 0) << b.width;
  Bitmap ok{buffer, 4, 4, 3}, one{buffer, 4, 4, 1}, four{buffer, 4, 4, 4};
  EXPECT_EQ(gx_smoothbitmap(&one, 1) + gx_smoothbitmap(&four, 1) + gx_smoothbitmap(&ok, -1), 0);
  EXPECT_EQ(gx_cutbitmap(&ok, INT32_MIN, 0, INT32_MAX, 0), nullptr);  // sizes that do not fit
  EXPECT_EQ(gx_cutbitmap(&ok, 0, 0, 40000, 40000), nullptr);
  EXPECT_EQ(corvix_alloc_calls(), calls) << "refused before allocating";
  // Two allocations each. The smoothing runs a pass only when it should fail, so every run
  // starts from the same pixels.
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              Bitmap *c = gx_cutbitmap(&ok, -1, -1, 2, 2);
              EXPECT_EQ(c == nullptr, failing == 1 || failing == 2);
              gx_freebitmap(c);
              EXPECT_EQ(gx_smoothbitmap(&ok, failing < 3 ? 0 : 1), failing < 3 ? 1 : 0);
            }),
            4);
  EXPECT_EQ(ok.pixels, buffer);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 48), px);
}

}  // namespace
}  // namespace corvix
