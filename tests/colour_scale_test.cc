// Nearest-sample scaling of buffers and bitmaps, and the byte-run tools.
#include <cstring>
#include <vector>

#include "colour/scale.h"
#include "tests/support.h"

namespace corvix {
namespace {

class Scale : public test::LeakCheck {};

// Scales a row whose pixel x holds x (and x + 100, x + 200 for three-byte pixels) and
// returns the source column each destination pixel shows; a sentinel guards the end.
std::vector<int> columns(uint32_t sw, uint32_t dw, uint32_t p) {
  std::vector<uint8_t> src(p * sw), dst(p * dw + 1, 0xEE);
  for (uint32_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i / p + 100 * (i % p));
  (p == 3 ? gx_scale24 : gx_scale8)(src.data(), dst.data(), sw, 1, dw, 1);
  EXPECT_EQ(dst.back(), 0xEE);
  std::vector<int> shown;
  for (uint32_t x = 0; x < dw; ++x) {
    for (uint32_t k = 1; k < p; ++k) EXPECT_EQ(dst[p * x + k], dst[p * x] + 100 * k);
    shown.push_back(dst[p * x]);
  }
  return shown;
}

TEST_F(Scale, ColumnAndRowMappings) {
  for (uint32_t p : {1u, 3u}) {
    EXPECT_EQ(columns(3, 4, p), (std::vector<int>{0, 0, 1, 2}));
    EXPECT_EQ(columns(10, 4, p), (std::vector<int>{0, 2, 5, 7}));
    EXPECT_EQ(columns(4, 3, p), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(columns(2, 4, p), (std::vector<int>{0, 0, 1, 1}));
  }
  // Rows: a column of 6 to 3 takes rows 0, 2, 4; to 9 repeats rows.
  const uint8_t src[6] = {0, 1, 2, 3, 4, 5};
  uint8_t dst[10];
  std::memset(dst, 0xEE, sizeof dst);
  gx_scale8(src, dst, 1, 6, 1, 3);
  EXPECT_EQ(std::vector<uint8_t>(dst, dst + 4), (std::vector<uint8_t>{0, 2, 4, 0xEE}));
  gx_scale8(src, dst, 1, 6, 1, 9);
  EXPECT_EQ(std::vector<uint8_t>(dst, dst + 10),
            (std::vector<uint8_t>{0, 0, 1, 2, 2, 3, 4, 4, 5, 0xEE}));
}

// Products keep their low 32 bits: with 70000 columns, 61357 x 70000 wraps to 22704, so
// destination column 61357 shows source column 0.
TEST_F(Scale, ProductsWrapAt32Bits) {
  std::vector<uint8_t> src(70000), dst(70000);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i % 251 + 1);
  gx_scale8(src.data(), dst.data(), 70000, 1, 70000, 1);
  EXPECT_EQ(dst[61356], src[61356]);
  EXPECT_EQ(dst[61357], src[0]);
  EXPECT_EQ(dst[69999], src[(69999u * 70000u) / 70000u]);
}

TEST_F(Scale, EqualSizeCopiesAPhotograph) {
  const test::Image im = test::load_image("astronaut.ppm");
  const auto w = static_cast<uint32_t>(im.width), h = static_cast<uint32_t>(im.height);
  std::vector<uint8_t> out(im.rgb.size() + 1, 0xEE);
  gx_scale24(im.rgb.data(), out.data(), w, h, w, h);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.end() - 1), im.rgb);
  EXPECT_EQ(out.back(), 0xEE);
}

TEST_F(Scale, EmptyAndFailedScalesWriteNothing) {
  const uint8_t src[4] = {1, 2, 3, 4};
  std::vector<uint8_t> dst(16, 0xEE);
  gx_scale24(src, dst.data(), 1, 1, 0, 5);
  gx_scale8(src, dst.data(), 4, 1, 4, 0);
  EXPECT_FALSE(scale_pixels(src, dst.data(), 0, 3, 2, 2, 1));   // empty source
  EXPECT_FALSE(scale_pixels(nullptr, dst.data(), 1, 1, 2, 2, 1));
  EXPECT_EQ(dst, std::vector<uint8_t>(16, 0xEE));
  test::sweep_allocation_failures([&](int failing) {
    std::vector<uint8_t> out(10, 0xEE);
    EXPECT_EQ(scale_pixels(src, out.data(), 2, 2, 3, 3, 1), failing == 0);
    EXPECT_EQ(out, failing ? std::vector<uint8_t>(10, 0xEE)
                           : (std::vector<uint8_t>{1, 1, 2, 1, 1, 2, 3, 3, 4, 0xEE}));
  });
}

TEST_F(Scale, ScaleBitmapInPlace) {
  Bitmap *b = gx_allocrawbitmap(2, 1, 3);
  const uint8_t ab[6] = {1, 2, 3, 4, 5, 6};
  std::memcpy(b->pixels, ab, 6);
  ASSERT_EQ(gx_scalebitmap(b, 4, 2), 1);
  EXPECT_EQ(b->width, 4);
  EXPECT_EQ(b->height, 2);
  EXPECT_EQ(b->bytes_per_pixel, 3);
  const uint8_t want[24] = {1, 2, 3, 1, 2, 3, 4, 5, 6, 4, 5, 6, 1, 2, 3, 1, 2, 3, 4, 5, 6, 4, 5, 6};
  EXPECT_EQ(std::memcmp(b->pixels, want, 24), 0);
  // Refused or failed: 0 and the bitmap exactly as it was.
  const Bitmap before = *b;
  EXPECT_EQ(gx_scalebitmap(nullptr, 4, 2), 0);
  EXPECT_EQ(gx_scalebitmap(b, -1, 2), 0);
  EXPECT_EQ(gx_scalebitmap(b, 100000, 100000), 0);
  b->bytes_per_pixel = 2;
  EXPECT_EQ(gx_scalebitmap(b, 2, 2), 0);
  b->bytes_per_pixel = 3;
  EXPECT_EQ(std::memcmp(b, &before, sizeof before), 0);
  const int made = test::sweep_allocation_failures([&](int failing) {
    const Bitmap was = *b;
    const std::vector<uint8_t> pixels(b->pixels, b->pixels + 3 * b->width * b->height);
    EXPECT_EQ(gx_scalebitmap(b, 3, 3), failing == 0 ? 1 : 0);
    if (failing != 0) {
      EXPECT_EQ(std::memcmp(b, &was, sizeof was), 0);
      EXPECT_EQ(std::vector<uint8_t>(b->pixels, b->pixels + pixels.size()), pixels);
    }
  });
  EXPECT_EQ(made, 2);  // pixels, column table
  gx_freebitmap(b);
}

TEST_F(Scale, ScaleCopyPicksTheScalerByPixelSize) {
  const test::Image im = test::load_image("coffee.ppm");
  Bitmap *src = test::image_bitmap(im);
  std::vector<uint8_t> want(3 * 301 * 157);
  gx_scale24(src->pixels, want.data(), 600, 400, 301, 157);
  Bitmap *c = gx_scalecopybitmap(src, 301, 157);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->bytes_per_pixel, 3);
  EXPECT_EQ(std::vector<uint8_t>(c->pixels, c->pixels + want.size()), want);
  gx_freebitmap(c);
  // Any other pixel size scales the first bytes as one-byte pixels and keeps the size.
  for (int32_t bpp : {1, 2, 4}) {
    src->bytes_per_pixel = bpp;
    gx_scale8(src->pixels, want.data(), 600, 400, 301, 157);
    c = gx_scalecopybitmap(src, 301, 157);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->bytes_per_pixel, bpp);
    EXPECT_EQ(std::memcmp(c->pixels, want.data(), 301 * 157), 0) << bpp;
    gx_freebitmap(c);
  }
  src->bytes_per_pixel = 0;
  EXPECT_EQ(gx_scalecopybitmap(src, 4, 4), nullptr);
  src->bytes_per_pixel = 3;
  EXPECT_EQ(gx_scalecopybitmap(nullptr, 4, 4), nullptr);
  EXPECT_EQ(gx_scalecopybitmap(src, 4, -4), nullptr);
  EXPECT_EQ(gx_scalecopybitmap(src, 40000, 40000), nullptr);
  const int made = test::sweep_allocation_failures([&](int failing) {
    Bitmap *r = gx_scalecopybitmap(src, 5, 3);
    EXPECT_EQ(r == nullptr, failing != 0);
    gx_freebitmap(r);
  });
  EXPECT_EQ(made, 3);  // pixels, column table, record
  gx_freebitmap(src);
}

TEST_F(Scale, ByteRuns) {
  const uint8_t abcde[5] = {'a', 'b', 'c', 'd', 'e'};
  auto run = [&](void (*f)(const uint8_t *, uint8_t *, uint32_t, uint32_t), uint32_t n,
                 uint32_t k) {
    std::string out(12, '.');
    f(abcde, reinterpret_cast<uint8_t *>(out.data()), n, k);
    return out;
  };
  EXPECT_EQ(run(gx_multchunky, 2, 3), "aaabbb......");
  EXPECT_EQ(run(gx_multchunky, 5, 1), "abcde.......");
  EXPECT_EQ(run(gx_multchunky, 5, 0), "............");
  EXPECT_EQ(run(gx_divchunky, 5, 2), "ace.........");
  EXPECT_EQ(run(gx_divchunky, 5, 1), "abcde.......");
  EXPECT_EQ(run(gx_divchunky, 5, 5), "a...........");
  EXPECT_EQ(run(gx_divchunky, 5, 0xFFFFFFFFu), "a...........");
  EXPECT_EQ(run(gx_divchunky, 0, 2), "............");
  EXPECT_EQ(run(gx_divchunky, 5, 0), "............");
  uint8_t buf[3] = {0x00, 0x5A, 0xFF};
  gx_xor(buf, 3, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 3), (std::vector<uint8_t>{0xFF, 0xA5, 0x00}));
  gx_xor(buf, 3, 0x100);
  gx_xor(buf, 0, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 3), (std::vector<uint8_t>{0xFF, 0xA5, 0x00}));
}

}  // namespace
}  // namespace corvix
