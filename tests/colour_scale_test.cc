// Nearest-sample scaling of buffers and bitmaps, and the byte-run tools.
#include <cstring>
#include <string>
#include <vector>

#include "colour/scale.h"
#include "tests/support.h"

namespace corvix {
namespace {

class Scale : public test::LeakCheck {};

using Bytes = std::vector<uint8_t>;

// Scales `src` (pixels of p bytes) and returns the destination with one sentinel after it.
Bytes scaled(const Bytes &src, uint32_t p, uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh) {
  Bytes dst(p * dw * dh + 1, 0xEE);
  (p == 3 ? gx_scale24 : gx_scale8)(src.data(), dst.data(), sw, sh, dw, dh);
  return dst;
}

TEST_F(Scale, ColumnsRowsAndWrappingProducts) {
  const Bytes ramp = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(scaled(ramp, 1, 3, 1, 4, 1), (Bytes{0, 0, 1, 2, 0xEE}));
  EXPECT_EQ(scaled(ramp, 1, 10, 1, 4, 1), (Bytes{0, 2, 5, 7, 0xEE}));
  EXPECT_EQ(scaled(ramp, 1, 1, 6, 1, 3), (Bytes{0, 2, 4, 0xEE}));  // rows 0, 2, 4
  EXPECT_EQ(scaled(rgb, 3, 3, 1, 4, 1), (Bytes{1, 2, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE}));
  for (uint32_t sw = 1; sw <= 10; ++sw)  // the stepped column table against the division
    for (uint32_t dw = 1; dw < 40; ++dw)
      for (uint32_t x = 0; x < dw; ++x) ASSERT_EQ(scaled(ramp, 1, sw, 1, dw, 1)[x], x * sw / dw);
  // Products keep their low 32 bits: 61357 x 70000 wraps to 22704, so destination column
  // 61357 shows source column 0.
  Bytes wide(70000);
  for (size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<uint8_t>(i % 251 + 1);
  const Bytes out = scaled(wide, 1, 70000, 1, 70000, 1);
  EXPECT_EQ(out[61356], wide[61356]);
  EXPECT_EQ(out[61357], wide[0]);
}

TEST_F(Scale, EqualSizeCopiesAndFailuresWriteNothing) {
  const test::Image im = test::load_image("astronaut.ppm");
  const auto w = static_cast<uint32_t>(im.width), h = static_cast<uint32_t>(im.height);
  Bytes want = im.rgb;
  want.push_back(0xEE);
  EXPECT_EQ(scaled(im.rgb, 3, w, h, w, h), want);
  const uint8_t src[4] = {1, 2, 3, 4};
  EXPECT_FALSE(scale_pixels(src, want.data(), 0, 3, 2, 2, 1));  // empty source
  test::sweep_allocation_failures([&](int failing) {
    Bytes dst(10, 0xEE);
    EXPECT_EQ(scale_pixels(src, dst.data(), 2, 2, 3, 3, 1), failing == 0);
    EXPECT_EQ(dst, failing ? Bytes(10, 0xEE) : (Bytes{1, 1, 2, 1, 1, 2, 3, 3, 4, 0xEE}));
  });
}

TEST_F(Scale, ScaleBitmapInPlace) {
  Bitmap *b = gx_allocrawbitmap(2, 1, 3);
  std::memcpy(b->pixels, "ABCabc", 6);
  ASSERT_EQ(gx_scalebitmap(b, 4, 2), 1);
  const Bitmap was = *b;
  // Refused or failed (the new pixels, then the column table): 0 and the bitmap as it was.
  for (int failing = 1; failing <= 2; ++failing) {
    corvix_alloc_fail_nth(failing);
    EXPECT_EQ(gx_scalebitmap(b, 3, 3), 0);
    corvix_alloc_fail_nth(0);
  }
  EXPECT_EQ(
      gx_scalebitmap(nullptr, 4, 2) + gx_scalebitmap(b, -1, 2) + gx_scalebitmap(b, 100000, 100000),
      0);
  b->bytes_per_pixel = 2;  // read as three bytes a pixel: refused
  EXPECT_EQ(gx_scalebitmap(b, 2, 2), 0);
  b->bytes_per_pixel = 3;
  EXPECT_EQ(std::memcmp(b, &was, sizeof was), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(b->pixels), 24), "ABCABCabcabcABCABCabcabc");
  gx_freebitmap(b);
}

TEST_F(Scale, ScaleCopyPicksTheScalerByPixelSize) {
  Bitmap *src = test::image_bitmap(test::load_image("coffee.ppm"));
  const Bytes px(src->pixels, src->pixels + 600 * 400 * 3);
  for (int32_t bpp : {3, 1, 4}) {  // three bytes a pixel, else the first bytes as one
    src->bytes_per_pixel = bpp;
    const Bytes want = scaled(px, bpp == 3 ? 3 : 1, 600, 400, 301, 157);
    Bitmap *c = gx_scalecopybitmap(src, 301, 157);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->bytes_per_pixel, bpp);
    EXPECT_EQ(std::memcmp(c->pixels, want.data(), want.size() - 1), 0) << bpp;
    gx_freebitmap(c);
  }
  EXPECT_FALSE(gx_scalecopybitmap(nullptr, 4, 4) || gx_scalecopybitmap(src, 4, -4) ||
               gx_scalecopybitmap(src, 40000, 40000));
  src->bytes_per_pixel = 0;
  EXPECT_EQ(gx_scalecopybitmap(src, 4, 4), nullptr);
  src->bytes_per_pixel = 3;
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              Bitmap *r = gx_scalecopybitmap(src, 5, 3);
              EXPECT_EQ(r == nullptr, failing != 0);
              gx_freebitmap(r);
            }),
            3);  // pixels, column table, record
  gx_freebitmap(src);
}

TEST_F(Scale, ByteRuns) {
  auto run = [](void (*f)(const uint8_t *, uint8_t *, uint32_t, uint32_t), uint32_t n, uint32_t k) {
    std::string out(6, '.');
    f(reinterpret_cast<const uint8_t *>("abcde"), reinterpret_cast<uint8_t *>(out.data()), n, k);
    return out;
  };
  EXPECT_EQ(run(gx_multchunky, 2, 3) + run(gx_multchunky, 5, 1) + run(gx_multchunky, 5, 0),
            "aaabbbabcde.......");
  EXPECT_EQ(run(gx_divchunky, 5, 2) + run(gx_divchunky, 5, 1) + run(gx_divchunky, 5, 5) +
                run(gx_divchunky, 5, 0xFFFFFFFFu) + run(gx_divchunky, 0, 2) +
                run(gx_divchunky, 5, 0),
            "ace...abcde.a.....a.................");
  uint8_t buf[3] = {0x00, 0x5A, 0xFF};
  gx_xor(buf, 3, 0x1FF);  // low 8 bits only
  gx_xor(buf, 0, 0xFF);
  EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{0xFF, 0xA5, 0x00}));
}

}  // namespace
}  // namespace corvix
