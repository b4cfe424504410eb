// Cut and smooth: rectangles across the edges and pixel sizes, smoothing worked by hand,
// pass alternation between the two buffers, photographs, refusals, allocation failures.
#include <array>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "tests/support.h"

namespace corvix {
namespace {

class CutTest : public test::LeakCheck {};
class SmoothTest : public test::LeakCheck {};

Bitmap *make_bitmap(int32_t w, int32_t h, int32_t bpp, const std::vector<uint8_t> &bytes) {
  Bitmap *b = gx_allocrawbitmap(w, h, bpp);
  if (b != nullptr && !bytes.empty()) std::memcpy(b->pixels, bytes.data(), bytes.size());
  return b;
}

std::vector<uint8_t> bytes_of(const Bitmap *b) {
  return {b->pixels, b->pixels + static_cast<size_t>(b->width) * b->height * b->bytes_per_pixel};
}

// A 4 x 3 bitmap of `bpp` bytes a pixel: byte k of pixel (x, y) is 10 * (y * 4 + x) + k + 1.
Bitmap *numbered(int32_t bpp) {
  std::vector<uint8_t> v;
  for (int i = 0; i < 12; ++i)
    for (int k = 0; k < bpp; ++k) v.push_back(static_cast<uint8_t>(10 * i + k + 1));
  return make_bitmap(4, 3, bpp, v);
}

// Dirty freed memory so that a byte the cut forgets to write shows.
void dirty_free_memory() {
  void *p = PPCAllocVec(4096, MEMF_ANY);
  std::memset(p, 0x5A, 4096);
  PPCFreeVec(p);
}

TEST_F(CutTest, CornersInEitherOrderGiveTheSameRectangle) {
  Bitmap *src = numbered(3);
  const std::vector<uint8_t> want = {51, 52, 53, 61, 62, 63, 91, 92, 93, 101, 102, 103};
  for (auto [x1, y1, x2, y2] : {std::array{1, 1, 2, 2}, std::array{2, 2, 1, 1},
                                std::array{1, 2, 2, 1}}) {
    dirty_free_memory();
    Bitmap *c = gx_cutbitmap(src, x1, y1, x2, y2);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->width, 2);
    EXPECT_EQ(c->height, 2);
    EXPECT_EQ(c->bytes_per_pixel, 3);
    EXPECT_EQ(bytes_of(c), want) << x1 << "," << y1 << " " << x2 << "," << y2;
    gx_freebitmap(c);
  }
  gx_freebitmap(src);
}

TEST_F(CutTest, OutsideTheSourceIsBlack) {
  Bitmap *src = numbered(3);
  struct Case { int x1, y1, x2, y2; std::vector<uint8_t> want; };
  const Case cases[] = {
      {-1, 0, 0, 0, {0, 0, 0, 1, 2, 3}},
      {3, 0, 4, 0, {31, 32, 33, 0, 0, 0}},
      {3, 2, 4, 3, {111, 112, 113, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {0, -1, 0, 0, {0, 0, 0, 1, 2, 3}},
      {7, 7, 8, 8, std::vector<uint8_t>(12, 0)},
      {-3, -2, -3, 5, std::vector<uint8_t>(24, 0)},
  };
  for (const Case &k : cases) {
    dirty_free_memory();
    Bitmap *c = gx_cutbitmap(src, k.x1, k.y1, k.x2, k.y2);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(bytes_of(c), k.want) << k.x1 << "," << k.y1 << " " << k.x2 << "," << k.y2;
    gx_freebitmap(c);
  }
  // Wider than the source on both sides: the whole source rows between black.
  Bitmap *c = gx_cutbitmap(src, -1, 1, 4, 1);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(bytes_of(c), (std::vector<uint8_t>{0,  0,  0,  41, 42, 43, 51, 52, 53,
                                               61, 62, 63, 71, 72, 73, 0,  0,  0}));
  gx_freebitmap(c);
  gx_freebitmap(src);
}

TEST_F(CutTest, CopiesWholePixelsOfAnySize) {
  for (int32_t bpp : {1, 2, 4}) {
    Bitmap *src = numbered(bpp);
    dirty_free_memory();
    Bitmap *c = gx_cutbitmap(src, 2, 0, 4, 1);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->bytes_per_pixel, bpp);
    std::vector<uint8_t> want;
    for (int pixel : {2, 3, -1, 6, 7, -1})
      for (int k = 0; k < bpp; ++k) want.push_back(pixel < 0 ? 0 : 10 * pixel + k + 1);
    EXPECT_EQ(bytes_of(c), want) << bpp << " bytes a pixel";
    gx_freebitmap(c);
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
              0)
        << "row " << y;
  gx_freebitmap(c);
  // The whole picture, exactly.
  c = gx_cutbitmap(src, 0, 0, 599, 399);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(bytes_of(c), im.rgb);
  gx_freebitmap(c);
  gx_freebitmap(src);
}

TEST_F(CutTest, RefusesMalformedSourcesAndSizesThatDoNotFit) {
  const uint64_t calls = corvix_alloc_calls();
  EXPECT_EQ(gx_cutbitmap(nullptr, 0, 0, 1, 1), nullptr);
  uint8_t buffer[48] = {};
  Bitmap negative{buffer, -4, 4, 3};
  EXPECT_EQ(gx_cutbitmap(&negative, 0, 0, 1, 1), nullptr);
  Bitmap no_bpp{buffer, 4, 4, 0};
  EXPECT_EQ(gx_cutbitmap(&no_bpp, 0, 0, 1, 1), nullptr);
  Bitmap no_pixels{nullptr, 4, 4, 3};
  EXPECT_EQ(gx_cutbitmap(&no_pixels, 0, 0, 1, 1), nullptr);
  Bitmap ok{buffer, 4, 4, 3};
  EXPECT_EQ(gx_cutbitmap(&ok, INT32_MIN, 0, INT32_MAX, 0), nullptr);
  EXPECT_EQ(gx_cutbitmap(&ok, 0, 0, 40000, 40000), nullptr);
  EXPECT_EQ(corvix_alloc_calls(), calls) << "refused before allocating";
}

TEST_F(CutTest, AllocationFailuresLeaveNothing) {
  Bitmap *src = numbered(3);
  const int made = test::sweep_allocation_failures([&](int failing) {
    Bitmap *c = gx_cutbitmap(src, -1, -1, 2, 2);
    EXPECT_EQ(c == nullptr, failing != 0);
    gx_freebitmap(c);
  });
  EXPECT_EQ(made, 2);
  gx_freebitmap(src);
}

// A w x h three-byte bitmap with all bytes 0 except the listed grey pixels.
Bitmap *grey(int32_t w, int32_t h, std::initializer_list<std::array<int, 3>> pixels) {
  Bitmap *b = gx_allocbitmap(w, h, 3);
  for (const auto &[x, y, v] : pixels)
    std::memset(b->pixels + (y * w + x) * 3, v, 3);
  return b;
}

TEST_F(SmoothTest, WorkedByHand) {
  // A single 100 at the centre of 3 x 3 halves on every pass; the border stays 0.
  for (auto [passes, centre] : {std::pair{0, 100}, std::pair{1, 50}, std::pair{2, 25},
                                std::pair{3, 12}}) {
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
  const int row[5] = {0, 10, 40, 10, 0};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(b->pixels[(5 + x) * 3 + 1], row[x]) << x;
  gx_freebitmap(b);
  // Neighbours 0, 0, 0 and 3 add up to less than 4: n = 0, so 100 becomes 50.
  b = grey(3, 3, {{1, 1, 100}, {1, 2, 3}});
  ASSERT_EQ(gx_smoothbitmap(b, 1), 1);
  EXPECT_EQ(b->pixels[4 * 3], 50);
  gx_freebitmap(b);
}

TEST_F(SmoothTest, BytesOfAPixelAreFilteredApart) {
  // 4 x 3 with inner pixels (1, 1) and (2, 1); every neighbour differs per byte.
  std::vector<uint8_t> px(36);
  for (int i = 0; i < 36; ++i) px[i] = static_cast<uint8_t>((i * 47 + 13) % 256);
  Bitmap *b = make_bitmap(4, 3, 3, px);
  ASSERT_EQ(gx_smoothbitmap(b, 1), 1);
  std::vector<uint8_t> want = px;
  // Worked out: pixel (1, 1) is bytes 15..17, (2, 1) bytes 18..20.
  // byte 15: m = 206, l = 65, r = 91, u = 154, d = 2 -> n = 78, (206 + 78) / 2 = 142.
  const uint8_t inner[6] = {142, 189, 108, 123, 138, 153};
  std::memcpy(&want[15], inner, 6);
  EXPECT_EQ(bytes_of(b), want);
  gx_freebitmap(b);
}

TEST_F(SmoothTest, PassesReadOnlyThePreviousPassAndAlternateBuffers) {
  const test::Image im = test::load_image("astronaut.ppm");
  Bitmap *step = test::image_bitmap(im);
  Bitmap *all = test::image_bitmap(im);
  uint8_t *const original = all->pixels;
  // Three passes at once equal three single passes, border included.
  for (int i = 0; i < 3; ++i) {
    uint8_t *before = step->pixels;
    ASSERT_EQ(gx_smoothbitmap(step, 1), 1);
    EXPECT_NE(step->pixels, before) << "an odd pass count leaves the result in the other block";
  }
  ASSERT_EQ(gx_smoothbitmap(all, 3), 1);
  EXPECT_NE(all->pixels, original);
  EXPECT_EQ(bytes_of(all), bytes_of(step));
  EXPECT_EQ(std::memcmp(all->pixels, im.rgb.data(), 512 * 3), 0) << "top row changed";
  // An even count ends in the bitmap's own block.
  uint8_t *const own = all->pixels;
  ASSERT_EQ(gx_smoothbitmap(all, 4), 1);
  EXPECT_EQ(all->pixels, own);
  gx_freebitmap(step);
  gx_freebitmap(all);
}

TEST_F(SmoothTest, OnePassOverAPhotograph) {
  const test::Image im = test::load_image("coffee.ppm");
  Bitmap *b = test::image_bitmap(im);
  ASSERT_EQ(gx_smoothbitmap(b, 1), 1);
  const int w = im.width, h = im.height;
  auto at = [&](int x, int y, int c) { return int{im.rgb[(y * w + x) * 3 + c]}; };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) {
        int want = at(x, y, c);
        if (x > 0 && y > 0 && x < w - 1 && y < h - 1)
          want = (want + (at(x - 1, y, c) + at(x + 1, y, c) + at(x, y - 1, c) +
                          at(x, y + 1, c)) / 4) / 2;
        ASSERT_EQ(b->pixels[(y * w + x) * 3 + c], want) << x << "," << y << " byte " << c;
      }
    }
  }
  gx_freebitmap(b);
}

TEST_F(SmoothTest, NarrowBitmapsAreUnchanged) {
  for (auto [w, h] : {std::pair{2, 5}, std::pair{5, 2}, std::pair{1, 1}, std::pair{0, 4}}) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 91 + 5);
    Bitmap *b = make_bitmap(w, h, 3, px);
    EXPECT_EQ(gx_smoothbitmap(b, 3), 1);
    EXPECT_EQ(bytes_of(b), px) << w << "x" << h;
    gx_freebitmap(b);
  }
}

TEST_F(SmoothTest, RefusalsAndAllocationFailuresLeaveTheBitmapAlone) {
  Bitmap *b = grey(4, 4, {{1, 1, 100}, {2, 2, 60}});
  const std::vector<uint8_t> px = bytes_of(b);
  uint8_t *const own = b->pixels;
  const uint64_t calls = corvix_alloc_calls();
  EXPECT_EQ(gx_smoothbitmap(b, -1), 0);
  EXPECT_EQ(gx_smoothbitmap(nullptr, 1), 0);
  b->bytes_per_pixel = 1;
  EXPECT_EQ(gx_smoothbitmap(b, 1), 0);
  b->bytes_per_pixel = 3;
  b->width = -4;
  EXPECT_EQ(gx_smoothbitmap(b, 1), 0);
  b->width = 4;
  EXPECT_EQ(corvix_alloc_calls(), calls);
  const int made = test::sweep_allocation_failures([&](int failing) {
    if (failing == 0) {
      // Zero passes allocate like any count and change nothing.
      EXPECT_EQ(gx_smoothbitmap(b, 0), 1);
      return;
    }
    EXPECT_EQ(gx_smoothbitmap(b, 1), 0);
  });
  EXPECT_EQ(made, 2);
  EXPECT_EQ(b->pixels, own);
  EXPECT_EQ(bytes_of(b), px);
  gx_freebitmap(b);
}

}  // namespace
}  // namespace corvix
