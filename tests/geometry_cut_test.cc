// Cut and smooth: rectangles across the edges and pixel sizes, smoothing worked by hand,
// pass alternation between the two buffers, photographs, refusals, allocation failures.
#include <array>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "tests/support.h"

namespace corvix {
namespace {

class CutTest : public test::LeakCheck {};
class SmoothTest : public test::LeakCheck {};

std::vector<uint8_t> bytes_of(const Bitmap *b) {
  return {b->pixels, b->pixels + static_cast<size_t>(b->width) * b->height * b->bytes_per_pixel};
}

// A 4 x 3 bitmap: byte k of pixel i = y * 4 + x is 10 * i + k + 1.
Bitmap *numbered(int32_t bpp) {
  Bitmap *b = gx_allocrawbitmap(4, 3, bpp);
  for (int i = 0; i < 12 * bpp; ++i)
    b->pixels[i] = static_cast<uint8_t>(10 * (i / bpp) + i % bpp + 1);
  return b;
}

TEST_F(CutTest, RectanglesInsideAndAcrossTheEdges) {
  struct Case { int x1, y1, x2, y2, w, h; std::vector<int> pixels; };  // -1: black
  // clang-format off
  const Case cases[] = {
      {1, 1, 2, 2, 2, 2, {5, 6, 9, 10}},  {2, 2, 1, 1, 2, 2, {5, 6, 9, 10}},
      {1, 2, 2, 1, 2, 2, {5, 6, 9, 10}},  {-1, 0, 0, 0, 2, 1, {-1, 0}},
      {3, 0, 4, 0, 2, 1, {3, -1}},        {0, -1, 0, 0, 1, 2, {-1, 0}},
      {3, 2, 4, 3, 2, 2, {11, -1, -1, -1}}, {7, 7, 8, 8, 2, 2, {-1, -1, -1, -1}},
      {-1, 1, 4, 1, 6, 1, {-1, 4, 5, 6, 7, -1}},
  };
  // clang-format on
  for (int32_t bpp : {3, 1, 2, 4}) {  // whole pixels of the source's size
    Bitmap *src = numbered(bpp);
    for (const Case &c : cases) {
      // Dirty freed memory so that a byte the cut forgets to write shows.
      void *dirt = PPCAllocVec(4096, MEMF_ANY);
      std::memset(dirt, 0x5A, 4096);
      PPCFreeVec(dirt);
      Bitmap *r = gx_cutbitmap(src, c.x1, c.y1, c.x2, c.y2);
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(r->width, c.w);
      EXPECT_EQ(r->height, c.h);
      EXPECT_EQ(r->bytes_per_pixel, bpp);
      std::vector<uint8_t> want;
      for (int p : c.pixels)
        for (int k = 0; k < bpp; ++k) want.push_back(p < 0 ? 0 : 10 * p + k + 1);
      EXPECT_EQ(bytes_of(r), want) << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
      gx_freebitmap(r);
    }
    gx_freebitmap(src);
  }
}

TEST_F(CutTest, PhotographRegion) {
  const test::Image im = test::load_image("coffee.ppm");
  Bitmap *src = test::image_bitmap(im);
  Bitmap *c = gx_cutbitmap(src, 599, 399, 123, 45);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->width, 477);
  ASSERT_EQ(c->height, 355);
  for (int y = 0; y < 355; ++y)
    ASSERT_EQ(std::memcmp(c->pixels + y * 477 * 3, &im.rgb[((y + 45) * 600 + 123) * 3], 477 * 3),
              0);
  gx_freebitmap(c);
  gx_freebitmap(src);
}

TEST_F(CutTest, RefusalsAndAllocationFailures) {
  const uint64_t calls = corvix_alloc_calls();
  EXPECT_EQ(gx_cutbitmap(nullptr, 0, 0, 1, 1), nullptr);
  uint8_t buffer[48] = {};
  for (Bitmap b : {Bitmap{buffer, -4, 4, 3}, Bitmap{buffer, 4, 4, 0}, Bitmap{nullptr, 4, 4, 3}})
    EXPECT_EQ(gx_cutbitmap(&b, 0, 0, 1, 1), nullptr);
  Bitmap ok{buffer, 4, 4, 3};
  EXPECT_EQ(gx_cutbitmap(&ok, INT32_MIN, 0, INT32_MAX, 0), nullptr);  // sizes that do not fit
  EXPECT_EQ(gx_cutbitmap(&ok, 0, 0, 40000, 40000), nullptr);
  EXPECT_EQ(corvix_alloc_calls(), calls) << "refused before allocating";
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              Bitmap *c = gx_cutbitmap(&ok, -1, -1, 2, 2);
              EXPECT_EQ(c == nullptr, failing != 0);
              gx_freebitmap(c);
            }),
            2);
}

// A w x h three-byte bitmap, 0 but for the listed grey pixels {x, y, value}.
Bitmap *grey(int32_t w, int32_t h, std::initializer_list<std::array<int, 3>> pixels) {
  Bitmap *b = gx_allocbitmap(w, h, 3);
  for (const auto &[x, y, v] : pixels) std::memset(b->pixels + (y * w + x) * 3, v, 3);
  return b;
}

TEST_F(SmoothTest, WorkedByHand) {
  // A single 100 at the centre of 3 x 3 halves on every pass; the border stays 0.
  for (auto [passes, centre] :
       {std::pair{0, 100}, std::pair{1, 50}, std::pair{2, 25}, std::pair{3, 12}}) {
    Bitmap *b = grey(3, 3, {{1, 1, 100}});
    ASSERT_EQ(gx_smoothbitmap(b, passes), 1);
    std::vector<uint8_t> want(27, 0);
    std::memset(&want[12], centre, 3);
    EXPECT_EQ(bytes_of(b), want) << passes << " passes";
    gx_freebitmap(b);
  }
  // 5 x 3, middle row 0 0 80 0 0: each neighbour of the 80 gets 80 / 4 / 2.
  Bitmap *b = grey(5, 3, {{2, 1, 80}});
  ASSERT_EQ(gx_smoothbitmap(b, 1), 1);
  EXPECT_EQ(std::vector<uint8_t>(b->pixels + 15, b->pixels + 30),
            (std::vector<uint8_t>{0, 0, 0, 10, 10, 10, 40, 40, 40, 10, 10, 10, 0, 0, 0}));
  gx_freebitmap(b);
  // Neighbours 0, 0, 0 and 3 add up to less than 4: n = 0, so 100 becomes 50.
  b = grey(3, 3, {{1, 1, 100}, {1, 2, 3}});
  ASSERT_EQ(gx_smoothbitmap(b, 1), 1);
  EXPECT_EQ(b->pixels[12], 50);
  gx_freebitmap(b);
  // Bytes of a pixel are filtered apart: pixel (1, 1) of 4 x 3 with byte i = (47 i + 13) mod
  // 256; byte 15: m = 206, l = 65, r = 91, u = 154, d = 2, n = 78, (206 + 78) / 2 = 142.
  b = gx_allocrawbitmap(4, 3, 3);
  for (int i = 0; i < 36; ++i) b->pixels[i] = static_cast<uint8_t>((i * 47 + 13) % 256);
  ASSERT_EQ(gx_smoothbitmap(b, 1), 1);
  EXPECT_EQ(std::vector<uint8_t>(b->pixels + 15, b->pixels + 21),
            (std::vector<uint8_t>{142, 189, 108, 123, 138, 153}));
  gx_freebitmap(b);
}

TEST_F(SmoothTest, PassesReadOnlyThePreviousPassAndAlternateBuffers) {
  const test::Image im = test::load_image("astronaut.ppm");
  Bitmap *step = test::image_bitmap(im);
  Bitmap *all = test::image_bitmap(im);
  uint8_t *const original = all->pixels;
  for (int i = 0; i < 3; ++i) {
    uint8_t *before = step->pixels;
    ASSERT_EQ(gx_smoothbitmap(step, 1), 1);
    EXPECT_NE(step->pixels, before) << "one pass leaves the result in the other block";
  }
  ASSERT_EQ(gx_smoothbitmap(all, 3), 1);
  EXPECT_NE(all->pixels, original);
  EXPECT_EQ(bytes_of(all), bytes_of(step)) << "three passes at once are three single passes";
  EXPECT_EQ(std::memcmp(all->pixels, im.rgb.data(), 512 * 3), 0) << "top row changed";
  uint8_t *const own = all->pixels;
  ASSERT_EQ(gx_smoothbitmap(all, 4), 1);
  EXPECT_EQ(all->pixels, own) << "an even count ends in the bitmap's own block";
  gx_freebitmap(step);
  gx_freebitmap(all);
}

TEST_F(SmoothTest, NarrowBitmapsRefusalsAndAllocationFailures) {
  for (auto [w, h] : {std::pair{2, 5}, std::pair{5, 2}, std::pair{1, 1}, std::pair{0, 4}}) {
    Bitmap *b = gx_allocrawbitmap(w, h, 3);
    for (int i = 0; i < w * h * 3; ++i) b->pixels[i] = static_cast<uint8_t>(i * 91 + 5);
    const std::vector<uint8_t> px = bytes_of(b);
    EXPECT_EQ(gx_smoothbitmap(b, 3), 1);
    EXPECT_EQ(bytes_of(b), px) << w << "x" << h;
    gx_freebitmap(b);
  }
  Bitmap *b = grey(4, 4, {{1, 1, 100}, {2, 2, 60}});
  const std::vector<uint8_t> px = bytes_of(b);
  uint8_t *const own = b->pixels;
  const uint64_t calls = corvix_alloc_calls();
  EXPECT_EQ(gx_smoothbitmap(b, -1), 0);
  EXPECT_EQ(gx_smoothbitmap(nullptr, 1), 0);
  for (auto [bpp, width] : {std::pair{1, 4}, std::pair{4, 4}, std::pair{3, -4}}) {
    b->bytes_per_pixel = bpp;
    b->width = width;
    EXPECT_EQ(gx_smoothbitmap(b, 1), 0);
  }
  b->bytes_per_pixel = 3;
  b->width = 4;
  EXPECT_EQ(corvix_alloc_calls(), calls);
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              // The undisturbed run smooths nothing, so every run starts from the same pixels.
              EXPECT_EQ(gx_smoothbitmap(b, failing == 0 ? 0 : 1), failing == 0 ? 1 : 0);
            }),
            2);
  EXPECT_EQ(b->pixels, own);
  EXPECT_EQ(bytes_of(b), px);
  gx_freebitmap(b);
}

}  // namespace
}  // namespace corvix
