// Chunky blits: every position against a pixel-by-pixel model on photographs, worked blend
// values, the fast forms over their whole domain, layouts, overlap and refused calls.
#include <climits>
#include <cmath>

#include "blit/kernels.h"
#include "tests/blit_support.h"

namespace corvix {
namespace {

using test::Bytes;
using test::Target;
enum Mode { kOpaque, kPercent, kAlpha };

void blit(Bitmap *d, int32_t w, int32_t h, const uint8_t *s, int32_t x, int32_t y, Mode m,
          int32_t p) {
  if (m == kOpaque) gx_chunkyblit(d, w, h, s, x, y);
  if (m == kPercent) gx_transchunkyblit(d, w, h, s, x, y, p);
  if (m == kAlpha) gx_transalphachunkyblit(d, w, h, s, x, y, p);
}

// Each destination pixel that the placed block covers, worked out on its own from the blend
// formulas (one-byte layouts copy); everything else unchanged.
Bytes model(const Target &t, int32_t w, int32_t h, const uint8_t *s, int32_t x, int32_t y,
            Mode m, int32_t p) {
  Bytes out = t.bytes;
  const int64_t bpp = t.bm.bytes_per_pixel;
  for (int64_t row = 0; row < t.bm.height; ++row)
    for (int64_t col = 0; col < t.bm.width; ++col) {
      const int64_t sx = col - x, sy = row - y;
      if (sx < 0 || sx >= w || sy < 0 || sy >= h) continue;
      uint8_t *d = out.data() + 16 + (row * t.bm.width + col) * bpp;
      const uint8_t *sp = s + (sy * w + sx) * bpp;
      const int32_t a = alpha_weight((sp[0] + sp[1] + sp[2]) / 3, alpha_offset(p));
      for (int k = 0; k < bpp; ++k)
        d[k] = bpp == 1 || m == kOpaque ? sp[k]
               : m == kPercent          ? blend_percent(d[k], sp[k], p)
                                        : blend_alpha(d[k], sp[k], a);
    }
  return out;
}

class ChunkyBlit : public test::LeakCheck {};

// Blocks of a photograph onto another past every edge of an odd-sized destination, every
// blend (percentages outside 0..100 too), both layouts.
TEST_F(ChunkyBlit, ClipsAtEveryEdgeExactlyAsTheModel) {
  const test::Image src = test::load_image("astronaut.ppm"), dst = test::load_image("coffee.ppm");
  const int32_t sizes[][2] = {{13, 11}, {5, 3}, {1, 1}, {0, 4}, {4, 0}, {20, 15}, {-3, 2}};
  const int32_t blends[][2] = {{kOpaque, 0},   {kPercent, 0}, {kPercent, 37}, {kPercent, 100},
                               {kPercent, -20}, {kPercent, 150}, {kAlpha, 0},  {kAlpha, 20},
                               {kAlpha, 100},  {kAlpha, -50}, {kAlpha, 300}};
  for (int32_t bpp : {3, 1})
    for (const auto &wh : sizes)
      for (int32_t x : {-25, -20, -4, 0, 6, 12, 13, INT32_MIN, INT32_MAX - 2})
        for (int32_t y : {-16, -15, -2, 0, 5, 10, 11, INT32_MAX})
          for (const auto &b : blends) {
            Target t(13, 11, bpp, dst.rgb.data());
            const Bytes want = model(t, wh[0], wh[1], src.rgb.data(), x, y, Mode(b[0]), b[1]);
            blit(&t.bm, wh[0], wh[1], src.rgb.data(), x, y, Mode(b[0]), b[1]);
            ASSERT_EQ(t.bytes, want) << bpp << " " << wh[0] << "x" << wh[1] << "+" << x << "+"
                                     << y << " " << b[0] << "/" << b[1];
          }
}

TEST_F(ChunkyBlit, BlendWorkedValues) {
  struct Case { Mode m; int32_t p; uint8_t d[3], s[3], want[3]; };
  const Case cases[] = {
      {kPercent, 50, {255, 255, 255}, {0, 0, 0}, {127, 127, 127}},
      {kPercent, 25, {255, 0, 10}, {0, 255, 11}, {63, 191, 10}},
      {kPercent, 300, {255, 0, 0}, {0, 0, 0}, {253, 0, 0}},     // 765: low 8 bits
      {kAlpha, 20, {200, 200, 200}, {90, 120, 150}, {170, 178, 186}},
      {kAlpha, 0, {9, 99, 199}, {255, 255, 255}, {255, 255, 255}},
      {kAlpha, 0, {9, 99, 199}, {0, 0, 0}, {9, 99, 199}},
      {kAlpha, 100, {0, 0, 0}, {255, 255, 255}, {0, 0, 0}},     // t = 255; 254 would give 1s
      {kAlpha, 50, {9, 99, 199}, {200, 100, 0}, {9, 99, 199}},  // a = 282, capped
      {kAlpha, -50, {10, 10, 10}, {200, 100, 0}, {179, 90, 1}},  // a = 28
  };
  for (const Case &c : cases) {
    Target t(1, 1, 3, c.d);
    blit(&t.bm, 1, 1, c.s, 0, 0, c.m, c.p);
    EXPECT_EQ(t.px(0, 3), Bytes(c.want, c.want + 3)) << c.m << " p " << c.p;
  }
}

// The alpha scale's bit pattern, and the fast forms of the blends against the definitions
// for every input they take.
TEST(ChunkyKernels, ScaleAndFastFormsMatchTheDefinitions) {
  EXPECT_EQ(std::bit_cast<uint64_t>(kAlphaScale), 0x4004666666666667u);
  EXPECT_EQ(std::nextafter(2.55, 3.0), kAlphaScale);
  EXPECT_EQ(alpha_offset(100), 255);
  for (int32_t p = 0; p < 100; ++p) EXPECT_EQ(alpha_offset(p), static_cast<int32_t>(p * 2.55));
  EXPECT_EQ(alpha_offset(INT32_MAX), INT32_MAX);
  EXPECT_EQ(alpha_offset(INT32_MIN), INT32_MIN);
  int wrong = 0;
  Bytes d(65536), s(65536);
  for (int32_t p = 0; p <= 100; ++p) {
    for (uint16_t sum = 0; sum <= 765; ++sum)
      wrong += alpha_weight_fast(sum, alpha_offset(p)) != alpha_weight(sum / 3, alpha_offset(p));
    for (int j = 0; j < 65536; ++j) d[j] = static_cast<uint8_t>(j), s[j] = j >> 8;
    percent_row_fast(d.data(), s.data(), 65536, p);
    for (int j = 0; j < 65536; ++j) wrong += d[j] != blend_percent(j & 255, j >> 8, p);
  }
  for (int j = 0; j < (1 << 24); ++j)
    wrong += blend_alpha_fast(j & 255, (j >> 8) & 255, j >> 16) !=
             blend_alpha(j & 255, (j >> 8) & 255, j >> 16);
  EXPECT_EQ(wrong, 0);
}

// Whole photographs as source bitmaps (rows longer than the fast alpha row's chunks); the
// layouts: one-byte destinations read one byte a pixel, others are left alone; a block inside
// the destination is read as drawn; calls that cannot be drawn safely do nothing.
TEST_F(ChunkyBlit, SourcesLayoutsOverlapAndRefusedCalls) {
  Bitmap *photo = test::image_bitmap(test::load_image("astronaut.ppm"));
  const test::Image coffee = test::load_image("coffee.ppm");
  const uint8_t *px = photo->pixels;
  for (Mode m : {kOpaque, kPercent, kAlpha}) {
    Target t(600, 400, 3, coffee.rgb.data());
    const Bytes want = model(t, 512, 512, px, -7, 100, m, 30);
    if (m == kOpaque) gx_blitbitmap(&t.bm, photo, -7, 100);
    if (m == kPercent) gx_blitbitmaptrans(&t.bm, photo, -7, 100, 30);
    if (m == kAlpha) gx_transalphachunkyblit(&t.bm, 512, 512, px, -7, 100, 30);
    EXPECT_EQ(t.bytes, want) << m;
  }
  Target a(4, 3, 3), grey(4, 3, 1, px);
  gx_blitbitmap(&grey.bm, photo, 1, 1);  // a three-byte source feeds one-byte pixels
  EXPECT_EQ(grey.px(5, 7), Bytes(px, px + 2));
  // Refused: other layouts, a one-byte source for three-byte pixels, null records and pixels,
  // negative sizes, blocks and bitmaps whose size does not fit.
  Bitmap l0{a.bm.pixels, 2, 2, 0}, l2{a.bm.pixels, 2, 2, 2}, l4{a.bm.pixels, 1, 3, 4},
      bad{a.bm.pixels, -3, 3, 3}, huge{a.bm.pixels, 65536, 65536, 3}, none{nullptr, 3, 3, 3};
  for (Bitmap *b : {&l0, &l2, &l4, &bad, &huge, &none, static_cast<Bitmap *>(nullptr)})
    for (Mode m : {kOpaque, kPercent, kAlpha}) blit(b, 2, 2, px, 0, 0, m, 0);
  gx_blitbitmap(&a.bm, &grey.bm, 0, 0);
  gx_newblitbitmap(&a.bm, nullptr, 0, 0);
  gx_blitbitmaptrans(&a.bm, nullptr, 0, 0, 50);
  gx_chunkyblit(&a.bm, 2, 2, nullptr, 0, 0);
  gx_chunkyblit(&a.bm, 65536, 65536, px, 0, 0);
  EXPECT_EQ(a.bytes, Target(4, 3, 3).bytes);
  EXPECT_EQ(test::sweep_allocation_failures([&](int) { gx_newblitbitmap(&a.bm, photo, 0, 0); }),
            0);
  // Shifting a row right by one pixel within its own buffer repeats its first pixel.
  gx_blitbitmap(&a.bm, &a.bm, 1, 0);
  EXPECT_EQ(a.px(0, 12), Bytes({px[0], px[1], px[2], px[0], px[1], px[2], px[0], px[1], px[2],
                                px[0], px[1], px[2]}));
  gx_freebitmap(photo);
}

}  // namespace
}  // namespace corvix
