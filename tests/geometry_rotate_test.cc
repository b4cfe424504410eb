// Free rotation: turned sizes, direction, exact bilinear values against values worked out
// independently, background, real photographs, refusals and allocation failures.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "geometry/helpers.h"
#include "tests/support.h"

namespace corvix {
namespace {

class RotateTest : public test::LeakCheck {};

// A bitmap whose bytes are `bytes` (PPCAllocVec blocks; free with gx_freebitmap).
Bitmap *make_bitmap(int32_t w, int32_t h, int32_t bpp, const std::vector<uint8_t> &bytes) {
  Bitmap *b = gx_allocrawbitmap(w, h, bpp);
  if (b != nullptr && !bytes.empty()) std::memcpy(b->pixels, bytes.data(), bytes.size());
  return b;
}

// (i * mul + add) mod 256 for every byte: no two neighbours alike, no symmetry.
std::vector<uint8_t> pattern(size_t n, uint32_t mul, uint32_t add) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * mul + add) % 256);
  return v;
}

uint64_t fnv1a(const uint8_t *p, size_t n) {
  uint64_t h = 0xcbf29ce484222325u;
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3u;
  return h;
}

std::vector<uint8_t> bytes_of(const Bitmap *b) {
  return {b->pixels, b->pixels + static_cast<size_t>(b->width) * b->height * b->bytes_per_pixel};
}

TEST(RotateBoundary, TurnedSizesAreEvenAndFitTheCorners) {
  struct Case { int32_t w, h; float angle; int32_t d, e; };
  const Case cases[] = {
      {5, 3, 0, 6, 4},       {4, 2, 90, 2, 4},     {640, 480, 90, 480, 640},
      {100, 100, 45, 142, 142}, {64, 48, 30, 80, 74}, {64, 48, -30, 80, 74},
      {2, 2, 45, 2, 2},      {7, 5, 90, 6, 8},     {9, 7, 45, 12, 12},
      {720, 576, 30, 912, 858}, {6, 4, 180, 6, 4}, {0, 0, 30, 0, 0},
      {1, 1, 0, 2, 2},       {3, 1, 450, 2, 4},
  };
  for (const Case &c : cases) {
    int32_t d = 0, e = 0;
    CalculateBoundary(&d, &e, c.w, c.h, c.angle);
    EXPECT_EQ(d, c.d) << c.w << "x" << c.h << " at " << c.angle;
    EXPECT_EQ(e, c.e) << c.w << "x" << c.h << " at " << c.angle;
  }
  int32_t d = 0, e = 0;
  CalculateBoundary(&d, &e, -4, 2, 10);
  EXPECT_EQ(d, -1);
  CalculateBoundary(&d, &e, 4, 2, std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(e, -1);
  // An extent past 2^31 cannot be a bitmap's size.
  CalculateBoundary(&d, &e, INT32_MAX, INT32_MAX, 45);
  EXPECT_EQ(d, -1);
}

TEST_F(RotateTest, ZeroDegreesReproducesTheSourceAboutItsCentre) {
  // Even size: the picture stays where it was. Every sample needs the row above and the
  // column to the right, so row 0 and the last column keep the background.
  const std::vector<uint8_t> px = pattern(6 * 4 * 3, 7, 3);
  Bitmap *src = make_bitmap(6, 4, 3, px);
  Bitmap *r = gx_rotatebitmap(src, 0x101, 0x202, 0x303, 0.0f);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->width, 6);
  EXPECT_EQ(r->height, 4);
  EXPECT_EQ(r->bytes_per_pixel, 3);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      const uint8_t *o = r->pixels + (y * 6 + x) * 3;
      const bool background = y == 0 || x == 5;
      for (int c = 0; c < 3; ++c)
        EXPECT_EQ(o[c], background ? c + 1 : px[(y * 6 + x) * 3 + c]) << x << "," << y;
    }
  }
  EXPECT_EQ(bytes_of(src), px) << "the source was changed";
  gx_freebitmap(r);
  gx_freebitmap(src);

  // Odd size: 5 x 3 becomes 6 x 4 with the source centre (2, 1) at the new centre (3, 2).
  const std::vector<uint8_t> odd = pattern(5 * 3, 29, 5);
  src = make_bitmap(5, 3, 1, odd);
  r = gx_rotatebitmap(src, 0xEE, 0, 0, 0.0f);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->width, 6);
  ASSERT_EQ(r->height, 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      const int sx = x - 1, sy = y - 1;
      const bool sampled = sx >= 0 && sx <= 3 && sy >= 1 && sy <= 2;
      EXPECT_EQ(r->pixels[y * 6 + x], sampled ? odd[sy * 5 + sx] : 0xEE) << x << "," << y;
    }
  }
  gx_freebitmap(r);
  gx_freebitmap(src);
}

TEST_F(RotateTest, QuarterTurnIsCounterClockwise) {
  // An 8 x 6 ramp turned by 90 degrees: the source's right column becomes the top row and
  // its top row the left column. The cosine of 90 degrees is not quite 0, so most samples
  // come out one below the source value (the weight just under 1 is truncated).
  const std::vector<uint8_t> px = pattern(8 * 6, 37, 11);
  Bitmap *src = make_bitmap(8, 6, 1, px);
  Bitmap *r = gx_rotatebitmap(src, 1, 2, 3, 90.0f);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->width, 6);
  ASSERT_EQ(r->height, 8);
  const std::vector<uint8_t> expected = {
      1, 1,   1,   1,   1,   1,   1, 1,   1,   1,   1,   1,   1, 16,  56,  96,  136, 176,
      1, 235, 19,  59,  99,  139, 1, 198, 238, 23,  62,  102, 1, 161, 201, 241, 25,  65,
      1, 124, 164, 204, 244, 28,  1, 87,  127, 167, 207, 248,
  };
  EXPECT_EQ(bytes_of(r), expected);
  gx_freebitmap(r);
  gx_freebitmap(src);

  // A photograph: new pixel (x, y) is old pixel (W - y, x), less at most one. Along the
  // last new column the sample sits a hair from the source's bottom edge, on either side.
  const test::Image im = test::load_image("coffee.ppm");
  src = test::image_bitmap(im);
  r = gx_rotatebitmap(src, 0, 0, 0, 90.0f);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->width, im.height);
  ASSERT_EQ(r->height, im.width);
  int sampled = 0;
  for (int y = 0; y < r->height; ++y) {
    for (int x = 0; x < r->width; ++x) {
      const int sx = im.width - y, sy = x;
      if (sx > im.width - 2 || sy < 1 || sy > im.height - 2) continue;
      for (int c = 0; c < 3; ++c) {
        const int want = im.rgb[(static_cast<size_t>(sy) * im.width + sx) * 3 + c];
        const int got = r->pixels[(static_cast<size_t>(y) * r->width + x) * 3 + c];
        ASSERT_TRUE(got == want || got == want - 1) << x << "," << y << " byte " << c;
      }
      ++sampled;
    }
  }
  EXPECT_EQ(sampled, (im.height - 2) * (im.width - 2));
  gx_freebitmap(r);
  gx_freebitmap(src);
}

TEST_F(RotateTest, ThirtyDegreesBothWaysExactly) {
  // Values worked out independently in double precision from the mapping and the
  // per-term truncation. Background 0x1C9 keeps its low byte 0xC9 = 201.
  const uint8_t turned30[] = {
      201, 201, 201, 201, 201, 201, 201, 201, 201, 201, 201, 201,
      201, 201, 201, 201, 201, 201, 201, 43,  81,  201, 201, 201,
      201, 201, 201, 201, 201, 201, 140, 74,  128, 201, 201, 201,
      201, 201, 201, 201, 151, 194, 37,  106, 177, 129, 201, 201,
      201, 201, 58,  128, 173, 106, 83,  154, 191, 123, 110, 201,
      201, 201, 106, 177, 179, 61,  134, 203, 87,  87,  159, 201,
      201, 201, 154, 140, 73,  109, 180, 157, 91,  201, 201, 201,
      201, 201, 201, 135, 87,  158, 229, 201, 201, 201, 201, 201,
      201, 201, 201, 201, 135, 201, 201, 201, 201, 201, 201, 201,
      201, 201, 201, 201, 201, 201, 201, 201, 201, 201, 201, 201,
  };
  Bitmap *src = make_bitmap(9, 6, 1, pattern(9 * 6, 37, 11));
  Bitmap *r = gx_rotatebitmap(src, 0x1C9, 2, 3, 30.0f);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->width, 12);
  ASSERT_EQ(r->height, 10);
  EXPECT_EQ(bytes_of(r), std::vector<uint8_t>(std::begin(turned30), std::end(turned30)));
  gx_freebitmap(r);
  gx_freebitmap(src);

  const uint8_t turned_minus30[] = {
      10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,
      10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,
      10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,
      146, 199, 115, 124, 151, 152, 118, 102, 156, 10,  20,  30,  10,  20,  30,  10,  20,  30,
      10,  20,  30,  10,  20,  30,  63,  90,  143, 151, 144, 95,  195, 137, 62,  146, 139, 90,
      105, 150, 204, 10,  20,  30,  10,  20,  30,  156, 81,  134, 185, 51,  104, 135, 188, 130,
      88,  141, 194, 147, 91,  126, 177, 42,  95,  10,  20,  30,  10,  20,  30,  10,  20,  30,
      74,  121, 172, 86,  79,  132, 104, 140, 82,  184, 134, 68,  10,  20,  30,  10,  20,  30,
      10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,  125, 178, 162, 76,  127, 154,
      10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,
      10,  20,  30,  10,  20,  30,  10,  20,  30,  10,  20,  30,
  };
  src = make_bitmap(6, 5, 3, pattern(6 * 5 * 3, 53, 7));
  r = gx_rotatebitmap(src, 10, 20, 30, -30.0f);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->width, 8);
  ASSERT_EQ(r->height, 8);
  EXPECT_EQ(bytes_of(r),
            std::vector<uint8_t>(std::begin(turned_minus30), std::end(turned_minus30)));
  gx_freebitmap(r);
  gx_freebitmap(src);
}

TEST_F(RotateTest, FortyFiveDegreesLeavesCornersAndTruncatesEachTerm) {
  Bitmap *src = make_bitmap(100, 100, 1, std::vector<uint8_t>(100 * 100, 255));
  Bitmap *r = gx_rotatebitmap(src, 0x07, 0, 0, 45.0f);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->width, 142);
  ASSERT_EQ(r->height, 142);
  int low = 255, corner_samples = 0;
  for (int y = 0; y < 142; ++y) {
    for (int x = 0; x < 142; ++x) {
      const uint8_t v = r->pixels[y * 142 + x];
      // Outside the turned square (|x| + |y| > 71 from the centre) nothing can map.
      if (std::abs(x - 71) + std::abs(71 - y) > 72) {
        corner_samples += v != 0x07;
        continue;
      }
      if (v == 0x07) continue;
      EXPECT_GE(v, 252) << x << "," << y;  // four truncated quarters of 255 at worst
      low = std::min<int>(low, v);
    }
  }
  EXPECT_EQ(corner_samples, 0);
  EXPECT_LT(low, 255) << "each weighted term must be truncated before the sum";
  EXPECT_EQ(r->pixels[71 * 142 + 71], 255) << "the centre samples the source centre";
  gx_freebitmap(r);
  gx_freebitmap(src);
}

TEST_F(RotateTest, PhotographsMatchIndependentlyComputedResults) {
  // Fingerprints of the whole result, from the same mapping computed independently.
  const test::Image coffee = test::load_image("coffee.ppm");
  Bitmap *src = test::image_bitmap(coffee);
  Bitmap *r = gx_rotatebitmap(src, 1, 2, 3, 30.0f);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->width, 720);
  EXPECT_EQ(r->height, 646);
  EXPECT_EQ(fnv1a(r->pixels, 720 * 646 * 3), 0x5dbb1af4570c1c7du);
  gx_freebitmap(r);
  gx_freebitmap(src);

  const test::Image astronaut = test::load_image("astronaut.ppm");
  std::vector<uint8_t> green(astronaut.rgb.size() / 3);
  for (size_t i = 0; i < green.size(); ++i) green[i] = astronaut.rgb[3 * i + 1];
  src = make_bitmap(astronaut.width, astronaut.height, 1, green);
  r = gx_rotatebitmap(src, 7, 0, 0, -37.5f);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->width, 718);
  EXPECT_EQ(r->height, 718);
  EXPECT_EQ(fnv1a(r->pixels, 718 * 718), 0xa9d748067a797e87u);
  gx_freebitmap(r);
  gx_freebitmap(src);
}

TEST_F(RotateTest, TinyAndEmptySourcesGiveBackgroundOnly) {
  Bitmap *one = make_bitmap(1, 1, 3, {9, 9, 9});
  Bitmap *r = gx_rotatebitmap(one, 4, 5, 6, 0.0f);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(bytes_of(r), (std::vector<uint8_t>{4, 5, 6, 4, 5, 6, 4, 5, 6, 4, 5, 6}));
  gx_freebitmap(r);
  gx_freebitmap(one);
  Bitmap *empty = gx_allocbitmap(0, 0, 1);
  r = gx_rotatebitmap(empty, 4, 5, 6, 30.0f);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->width, 0);
  EXPECT_EQ(r->height, 0);
  gx_freebitmap(r);
  gx_freebitmap(empty);
}

TEST_F(RotateTest, RefusesWhatItCannotTurn) {
  EXPECT_EQ(gx_rotatebitmap(nullptr, 0, 0, 0, 10.0f), nullptr);
  uint8_t buffer[64] = {};
  for (int32_t bpp : {0, 2, 4}) {
    Bitmap b{buffer, 4, 4, bpp};
    EXPECT_EQ(gx_rotatebitmap(&b, 0, 0, 0, 10.0f), nullptr) << bpp;
  }
  Bitmap negative{buffer, -4, 4, 1};
  EXPECT_EQ(gx_rotatebitmap(&negative, 0, 0, 0, 10.0f), nullptr);
  Bitmap no_pixels{nullptr, 4, 4, 1};
  EXPECT_EQ(gx_rotatebitmap(&no_pixels, 0, 0, 0, 10.0f), nullptr);
  Bitmap ok{buffer, 4, 4, 1};
  EXPECT_EQ(gx_rotatebitmap(&ok, 0, 0, 0, std::numeric_limits<float>::infinity()), nullptr);
  // 40000 x 40000 fits, its 45-degree turn (about 56570 square) does not: refused before
  // anything is read or allocated.
  const uint64_t calls = corvix_alloc_calls();
  Bitmap huge{buffer, 40000, 40000, 1};
  EXPECT_EQ(gx_rotatebitmap(&huge, 0, 0, 0, 45.0f), nullptr);
  EXPECT_EQ(corvix_alloc_calls(), calls);

  // CalculateImage on its own leaves mismatched bitmaps alone.
  uint8_t out[48];
  std::memset(out, 0xAB, sizeof out);
  Bitmap dst{out, 4, 4, 3};
  CalculateImage(&ok, &dst, 0.0f);
  EXPECT_EQ(out[20], 0xAB);
}

TEST_F(RotateTest, AllocationFailuresLeaveNothing) {
  Bitmap *src = make_bitmap(7, 5, 3, pattern(7 * 5 * 3, 13, 1));
  const int made = test::sweep_allocation_failures([&](int failing) {
    Bitmap *r = gx_rotatebitmap(src, 0, 0, 0, 30.0f);
    EXPECT_EQ(r == nullptr, failing != 0);
    gx_freebitmap(r);
  });
  EXPECT_EQ(made, 2);
  gx_freebitmap(src);
}

}  // namespace
}  // namespace corvix
