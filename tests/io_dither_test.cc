// Ordered dither: the matrices as published, the tiling, the fast routine against the plain
// one over every value at every matrix position, refusals and allocation failures.
#include <algorithm>
#include <cstring>
#include <random>

#include "io/dither.h"
#include "tests/io_files.h"

namespace corvix {
namespace {

using namespace std::string_literals;

class DitherTest : public test::LeakCheck {};

std::vector<uint8_t> matrix_values(int32_t method) {
  const DitherMatrix m = dither_matrix(method);
  return {m.entries, m.entries + m.size * m.size};
}

// Sum and position-weighted sum of each table, taken from the published tables: a changed,
// moved or swapped entry changes the second.
TEST(DitherMatrices, HoldThePublishedValues) {
  const struct {
    int32_t size;
    int64_t sum, weighted;
  } expected[] = {{8, 7392, 240240}, {3, 1449, 7245},  {6, 4662, 86345},  {4, 1856, 16800},
                  {16, 32639, 4200792}, {5, 3250, 41810}, {5, 3191, 41883}};
  for (int32_t method = 1; method <= 7; ++method) {
    EXPECT_EQ(dither_matrix(method).size, expected[method - 1].size);
    const std::vector<uint8_t> v = matrix_values(method);
    int64_t sum = 0, weighted = 0;
    for (size_t i = 0; i < v.size(); ++i) {
      sum += v[i];
      weighted += static_cast<int64_t>(i + 1) * v[i];
    }
    EXPECT_EQ(sum, expected[method - 1].sum) << method;
    EXPECT_EQ(weighted, expected[method - 1].weighted) << method;
  }
  EXPECT_EQ(dither_matrix(1).entries, ClassicalScreen);
  EXPECT_EQ(dither_matrix(5).entries, Bayer16);
  // Bayer16: one 0 at (8, 8), 254 at (7, 6) and (15, 14), no 255.
  EXPECT_EQ(std::count(Bayer16, Bayer16 + 256, 0), 1);
  EXPECT_EQ(Bayer16[8 * 16 + 8], 0);
  EXPECT_EQ(Bayer16[6 * 16 + 7], 254);
  EXPECT_EQ(Bayer16[14 * 16 + 15], 254);
  EXPECT_EQ(std::count(Bayer16, Bayer16 + 256, 255), 0);
  // The other six keep black black and white white.
  for (int32_t method : {1, 2, 3, 4, 6, 7}) {
    const std::vector<uint8_t> v = matrix_values(method);
    EXPECT_GT(*std::min_element(v.begin(), v.end()), 0) << method;
    EXPECT_LT(*std::max_element(v.begin(), v.end()), 255) << method;
  }
  // ClassicalScreen repeats rows 0..3 as rows 4..7 shifted by four columns.
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(ClassicalScreen[(y + 4) * 8 + (x + 4) % 8], ClassicalScreen[y * 8 + x]);
}

// Every method: each byte value meets each matrix position (pixel (x, y) holds x / n plus a
// per-row offset), on a width that ends inside a span. Checked against the threshold rule
// directly and against the plain routine.
TEST_F(DitherTest, EveryValueAgainstEveryThresholdFollowsTheRule) {
  for (int32_t method = 1; method <= 7; ++method) {
    const DitherMatrix m = dither_matrix(method);
    const int32_t n = m.size, w = 256 * n + 1, h = 2 * n + 1;
    Bitmap *src = gx_allocrawbitmap(w, h, 3);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        uint8_t *p = src->pixels + 3 * (y * w + x);
        p[0] = static_cast<uint8_t>(x / n + y / n);
        p[1] = static_cast<uint8_t>(255 - p[0]);
        p[2] = static_cast<uint8_t>(x * 7 + y * 13);
      }
    const std::string before = test::pixel_bytes(src);
    Bitmap *out = gx_dither(src, method);
    Bitmap *ref = dither_reference(src, method);
    ASSERT_NE(out, nullptr);
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(out->width, w);
    EXPECT_EQ(out->height, h);
    EXPECT_EQ(out->bytes_per_pixel, 3);
    int wrong = 0;
    for (int32_t i = 0; i < w * h * 3; ++i) {
      const int32_t x = i / 3 % w, y = i / 3 / w;
      const uint8_t t = m.entries[(y % n) * n + x % n];
      wrong += out->pixels[i] != (src->pixels[i] >= t ? 255 : 0);
    }
    EXPECT_EQ(wrong, 0) << method;
    EXPECT_EQ(test::pixel_bytes(out), test::pixel_bytes(ref)) << method;
    EXPECT_EQ(test::pixel_bytes(src), before) << "source changed";
    for (Bitmap *b : {src, out, ref}) gx_freebitmap(b);
  }
}

// Widths around the span ends and tiny sizes, on photographs: fast equals plain exactly.
TEST_F(DitherTest, FastRoutineMatchesPlainOnPhotographsAndOddSizes) {
  const test::Image im = test::load_image("astronaut.ppm");
  Bitmap *photo = test::image_bitmap(im);
  std::mt19937 rng(7);
  for (int32_t method = 1; method <= 7; ++method) {
    Bitmap *a = gx_dither(photo, method), *b = dither_reference(photo, method);
    EXPECT_EQ(test::pixel_bytes(a), test::pixel_bytes(b)) << method;
    gx_freebitmap(a);
    gx_freebitmap(b);
    for (int32_t w : {1, 2, 3, 5, 16, 17, 343, 344, 351, 352, 353, 704, 705, 1057}) {
      for (int32_t h : {1, 3, 17}) {
        Bitmap *src = gx_allocrawbitmap(w, h, 3);
        for (int32_t i = 0; i < w * h * 3; ++i) src->pixels[i] = static_cast<uint8_t>(rng());
        Bitmap *f = gx_dither(src, method), *r = dither_reference(src, method);
        ASSERT_EQ(test::pixel_bytes(f), test::pixel_bytes(r)) << method << " " << w << "x" << h;
        for (Bitmap *x : {src, f, r}) gx_freebitmap(x);
      }
    }
  }
  gx_freebitmap(photo);
}

TEST_F(DitherTest, PublishedExamples) {
  // 2 x 2 of 128 against Bayer4's 40 104 / 8 200.
  Bitmap *grey = gx_allocrawbitmap(2, 2, 3);
  std::memset(grey->pixels, 128, 12);
  Bitmap *out = gx_dither(grey, 4);
  EXPECT_EQ(test::pixel_bytes(out), std::string(9, '\xff') + std::string(3, '\0'));
  gx_freebitmap(out);
  gx_freebitmap(grey);
  // (100, 150, 50) against Bayer4's 120 at (2, 0) and FourStars' 100 at (4, 1).
  Bitmap *px = gx_allocbitmap(5, 2, 3);
  for (int i = 0; i < 10; ++i) std::memcpy(px->pixels + 3 * i, "\x64\x96\x32", 3);
  Bitmap *b4 = gx_dither(px, 4), *fs = gx_dither(px, 6);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(b4->pixels) + 6, 3), "\0\xff\0"s);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(fs->pixels) + 27, 3), "\xff\xff\0"s);
  for (Bitmap *b : {px, b4, fs}) gx_freebitmap(b);
  // Black 32 x 32 with Bayer16: white only where the zero entry falls.
  Bitmap *black = gx_allocbitmap(32, 32, 3);
  Bitmap *bayer = gx_dither(black, 5);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      ASSERT_EQ(bayer->pixels[3 * (y * 32 + x)], x % 16 == 8 && y % 16 == 8 ? 255 : 0);
  gx_freebitmap(bayer);
  gx_freebitmap(black);
}

TEST_F(DitherTest, BadMethodsAndUnusableSourcesGiveNullWithoutAllocating) {
  Bitmap *good = gx_allocbitmap(4, 4, 3), *grey = gx_allocbitmap(4, 4, 1);
  Bitmap no_pixels{nullptr, 4, 4, 3}, negative{good->pixels, -4, 4, 3};
  Bitmap huge{good->pixels, 65536, 65536, 3};
  const uint64_t calls = corvix_alloc_calls();
  for (int32_t method : {0, 8, -1, INT32_MIN, INT32_MAX}) EXPECT_EQ(gx_dither(good, method), nullptr);
  for (const Bitmap *b : {(const Bitmap *)nullptr, (const Bitmap *)grey,
                          (const Bitmap *)&no_pixels, (const Bitmap *)&negative,
                          (const Bitmap *)&huge})
    for (int32_t method = 1; method <= 7; ++method) {
      EXPECT_EQ(gx_dither(b, method), nullptr);
      EXPECT_EQ(dither_reference(b, method), nullptr);
    }
  EXPECT_EQ(corvix_alloc_calls(), calls);
  // Empty sizes give an empty result.
  Bitmap *empty = gx_allocbitmap(0, 5, 3);
  Bitmap *out = gx_dither(empty, 5);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->width, 0);
  EXPECT_EQ(out->height, 5);
  for (Bitmap *b : {good, grey, empty, out}) gx_freebitmap(b);
}

TEST_F(DitherTest, AllocationFailuresLeaveNothingBehind) {
  Bitmap *src = gx_allocbitmap(9, 7, 3);
  const int made = test::sweep_allocation_failures([&](int failing) {
    Bitmap *b = gx_dither(src, 3);
    EXPECT_EQ(b == nullptr, failing != 0);
    gx_freebitmap(b);
  });
  EXPECT_EQ(made, 2);
  gx_freebitmap(src);
}

}  // namespace
}  // namespace corvix
