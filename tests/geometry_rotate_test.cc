// Free rotation: turned sizes, direction, exact values against results worked out
// independently (small ramps and photographs), background, refusals, allocation failures.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "geometry/helpers.h"
#include "tests/support.h"

namespace corvix {
namespace {

class RotateTest : public test::LeakCheck {};

// A w x h bitmap whose byte i is (i * mul + add) mod 256: no symmetry to hide a wrong turn.
Bitmap *ramp(int32_t w, int32_t h, int32_t bpp, uint32_t mul, uint32_t add) {
  Bitmap *b = gx_allocrawbitmap(w, h, bpp);
  for (size_t i = 0; i < static_cast<size_t>(w) * h * bpp; ++i)
    b->pixels[i] = static_cast<uint8_t>((i * mul + add) % 256);
  return b;
}

std::vector<uint8_t> bytes_of(const Bitmap *b) {
  return {b->pixels, b->pixels + static_cast<size_t>(b->width) * b->height * b->bytes_per_pixel};
}

uint64_t fnv1a(const std::vector<uint8_t> &v) {
  uint64_t h = 0xcbf29ce484222325u;
  for (uint8_t c : v) h = (h ^ c) * 0x100000001b3u;
  return h;
}

TEST(RotateBoundary, TurnedSizesAreEvenAndFitTheCorners) {
  struct Case { int32_t w, h; float angle; int32_t d, e; };
  // clang-format off
  for (const Case &c : {Case{5, 3, 0, 6, 4}, {4, 2, 90, 2, 4}, {640, 480, 90, 480, 640},
                        {100, 100, 45, 142, 142}, {64, 48, 30, 80, 74}, {64, 48, -30, 80, 74},
                        {2, 2, 45, 2, 2}, {9, 7, 45, 12, 12}, {6, 4, 180, 6, 4},
                        {0, 0, 30, 0, 0}, {1, 1, 0, 2, 2}, {3, 1, 450, 2, 4},
                        {-4, 2, 10, -1, -1}, {INT32_MAX, INT32_MAX, 45, -1, -1},
                        {4, 2, std::numeric_limits<float>::quiet_NaN(), -1, -1}}) {
    // clang-format on
    int32_t d = 0, e = 0;
    CalculateBoundary(&d, &e, c.w, c.h, c.angle);
    EXPECT_EQ(d, c.d) << c.w << "x" << c.h << " at " << c.angle;
    EXPECT_EQ(e, c.e) << c.w << "x" << c.h << " at " << c.angle;
  }
}

TEST_F(RotateTest, ZeroDegreesReproducesTheSourceAboutItsCentre) {
  // Each sample needs the row above and the column to the right, so row 0 and the last
  // column keep the background. The odd 5 x 3 grows to 6 x 4 and moves by one pixel.
  for (auto [w, h, bpp, shift] : {std::array{6, 4, 3, 0}, std::array{5, 3, 1, 1}}) {
    Bitmap *src = ramp(w, h, bpp, 7, 3);
    const std::vector<uint8_t> px = bytes_of(src);
    Bitmap *r = gx_rotatebitmap(src, 0x101, 0x202, 0x303, 0.0f);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->width, 6);
    ASSERT_EQ(r->height, 4);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x)
        for (int c = 0; c < bpp; ++c) {
          const int sx = x - shift, sy = y - shift;
          const bool sampled = sx >= 0 && sx <= w - 2 && sy >= 1 && sy < h;
          EXPECT_EQ(r->pixels[(y * 6 + x) * bpp + c], sampled ? px[(sy * w + sx) * bpp + c] : c + 1)
              << x << "," << y;
        }
    EXPECT_EQ(bytes_of(src), px) << "the source was changed";
    gx_freebitmap(r);
    gx_freebitmap(src);
  }
}

TEST_F(RotateTest, QuarterTurnIsCounterClockwise) {
  // The source's right column becomes the top row, its top row the left column. The cosine
  // of 90 degrees is not quite 0: most weights fall just short of 1 and truncate one lower.
  Bitmap *src = ramp(8, 6, 1, 37, 11);
  Bitmap *r = gx_rotatebitmap(src, 1, 2, 3, 90.0f);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->width, 6);
  EXPECT_EQ(bytes_of(r),
            (std::vector<uint8_t>{1, 1,   1,   1,   1,   1,   1, 1,   1,   1,   1,   1,
                                  1, 16,  56,  96,  136, 176, 1, 235, 19,  59,  99,  139,
                                  1, 198, 238, 23,  62,  102, 1, 161, 201, 241, 25,  65,
                                  1, 124, 164, 204, 244, 28,  1, 87,  127, 167, 207, 248}));
  gx_freebitmap(r);
  gx_freebitmap(src);
}

TEST_F(RotateTest, MatchesIndependentlyComputedResults) {
  // Fingerprints of whole results, computed apart from this code with the same double
  // mapping and per-term truncation.
  struct Case {
    int32_t w, h, bpp;
    uint32_t mul, add;
    float angle;
    int32_t bg, d, e;
    uint64_t hash;
  };
  for (const Case &c : {Case{9, 6, 1, 37, 11, 30, 0x1C9, 12, 10, 0xb55c44ae9e16f167u},
                        Case{6, 5, 3, 53, 7, -30, 10, 8, 8, 0xcf7c74df8a39be5bu},
                        Case{7, 5, 3, 29, 5, 45, 1, 10, 10, 0x5aecc4071ad1959fu}}) {
    Bitmap *src = ramp(c.w, c.h, c.bpp, c.mul, c.add);
    Bitmap *r = gx_rotatebitmap(src, c.bg, c.bg * 2, c.bg * 3, c.angle);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->width, c.d);
    EXPECT_EQ(r->height, c.e);
    EXPECT_EQ(fnv1a(bytes_of(r)), c.hash) << c.angle;
    gx_freebitmap(r);
    gx_freebitmap(src);
  }
  const test::Image coffee = test::load_image("coffee.ppm");
  Bitmap *src = test::image_bitmap(coffee);
  Bitmap *r = gx_rotatebitmap(src, 1, 2, 3, 30.0f);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->width, 720);
  EXPECT_EQ(r->height, 646);
  EXPECT_EQ(fnv1a(bytes_of(r)), 0x5dbb1af4570c1c7du);
  gx_freebitmap(r);
  gx_freebitmap(src);
  // The astronaut's green channel as a one-byte picture.
  const test::Image astronaut = test::load_image("astronaut.ppm");
  src = gx_allocrawbitmap(512, 512, 1);
  for (int i = 0; i < 512 * 512; ++i) src->pixels[i] = astronaut.rgb[3 * i + 1];
  r = gx_rotatebitmap(src, 7, 0, 0, -37.5f);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->width, 718);
  EXPECT_EQ(fnv1a(bytes_of(r)), 0xa9d748067a797e87u);
  gx_freebitmap(r);
  gx_freebitmap(src);
}

TEST_F(RotateTest, FortyFiveDegreesKeepsCornersAndTruncatesEachTerm) {
  Bitmap *src = gx_allocrawbitmap(100, 100, 1);
  std::memset(src->pixels, 255, 100 * 100);
  Bitmap *r = gx_rotatebitmap(src, 0x07, 0, 0, 45.0f);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->width, 142);
  int low = 255, outside = 0;
  for (int y = 0; y < 142; ++y)
    for (int x = 0; x < 142; ++x) {
      const uint8_t v = r->pixels[y * 142 + x];
      if (std::abs(x - 71) + std::abs(71 - y) > 72)
        outside += v != 0x07;  // corner triangles
      else if (v != 0x07)
        low = std::min<int>(low, v);
    }
  EXPECT_EQ(outside, 0);
  EXPECT_EQ(low, 252) << "four truncated quarters of 255";
  EXPECT_EQ(r->pixels[71 * 142 + 71], 255) << "the centre samples the source centre";
  gx_freebitmap(r);
  gx_freebitmap(src);
}

TEST_F(RotateTest, RefusalsAndAllocationFailures) {
  const uint64_t calls = corvix_alloc_calls();
  EXPECT_EQ(gx_rotatebitmap(nullptr, 0, 0, 0, 10.0f), nullptr);
  uint8_t buffer[64] = {};
  // Other pixel sizes, negative or unbacked sizes, an infinite angle, and a 45-degree turn
  // of 40000 x 40000 (about 56570 square, past 2^31 bytes): nothing read or allocated.
  for (Bitmap b : {Bitmap{buffer, 4, 4, 2}, Bitmap{buffer, 4, 4, 4}, Bitmap{buffer, -4, 4, 1},
                   Bitmap{nullptr, 4, 4, 1}, Bitmap{buffer, 40000, 40000, 1}})
    EXPECT_EQ(gx_rotatebitmap(&b, 0, 0, 0, 45.0f), nullptr) << b.width << " " << b.bytes_per_pixel;
  Bitmap ok{buffer, 4, 4, 1};
  EXPECT_EQ(gx_rotatebitmap(&ok, 0, 0, 0, std::numeric_limits<float>::infinity()), nullptr);
  EXPECT_EQ(corvix_alloc_calls(), calls);
  // Tiny and empty sources give background only.
  Bitmap one{buffer, 1, 1, 3};
  Bitmap *r = gx_rotatebitmap(&one, 4, 5, 6, 0.0f);
  EXPECT_EQ(bytes_of(r), (std::vector<uint8_t>{4, 5, 6, 4, 5, 6, 4, 5, 6, 4, 5, 6}));
  gx_freebitmap(r);
  Bitmap empty{nullptr, 0, 0, 1};
  r = gx_rotatebitmap(&empty, 4, 5, 6, 30.0f);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->width + r->height, 0);
  gx_freebitmap(r);

  Bitmap *src = ramp(7, 5, 3, 13, 1);
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              Bitmap *t = gx_rotatebitmap(src, 0, 0, 0, 30.0f);
              EXPECT_EQ(t == nullptr, failing != 0);
              gx_freebitmap(t);
            }),
            2);
  gx_freebitmap(src);
}

}  // namespace
}  // namespace corvix
