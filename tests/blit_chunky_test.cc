// Chunky blits: every position against a pixel-by-pixel model, worked blend values, the fast
// rows over all byte pairs, grey and refused layouts, overlap, and calls that must do nothing.
#include <climits>
#include <cmath>
#include <vector>

#include "blit/kernels.h"
#include "tests/support.h"

namespace corvix {
namespace {

enum Mode { kOpaque, kPercent, kAlpha };

// A destination inside a larger vector: 16 guard bytes on each side show stray writes.
struct Target {
  std::vector<uint8_t> bytes;
  Bitmap bm;
  Target(int32_t w, int32_t h, int32_t bpp, const uint8_t *fill)
      : bytes(static_cast<size_t>(w) * h * bpp + 32, 0xA5), bm{nullptr, w, h, bpp} {
    bm.pixels = bytes.data() + 16;
    if (fill != nullptr) std::copy(fill, fill + bytes.size() - 32, bm.pixels);
  }
};

void blit(Bitmap *d, int32_t w, int32_t h, const uint8_t *s, int32_t x, int32_t y, Mode m,
          int32_t p) {
  if (m == kOpaque) gx_chunkyblit(d, w, h, s, x, y);
  if (m == kPercent) gx_transchunkyblit(d, w, h, s, x, y, p);
  if (m == kAlpha) gx_transalphachunkyblit(d, w, h, s, x, y, p);
}

// What the blit must leave: each destination pixel that the placed block covers, worked out
// on its own from the blend formulas; everything else unchanged.
std::vector<uint8_t> model(const Target &t, int32_t w, int32_t h, const uint8_t *s, int32_t x,
                           int32_t y, Mode m, int32_t p) {
  std::vector<uint8_t> out = t.bytes;
  const int32_t bpp = t.bm.bytes_per_pixel;
  for (int32_t row = 0; row < t.bm.height; ++row)
    for (int32_t col = 0; col < t.bm.width; ++col) {
      const int64_t sx = int64_t{col} - x, sy = int64_t{row} - y;
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

// Blocks cut from a photograph onto another, at positions past every edge of an odd-sized
// destination, in every blend, on both layouts.
TEST_F(ChunkyBlit, ClipsAtEveryEdgeExactlyAsTheModel) {
  const test::Image src = test::load_image("astronaut.ppm");
  const test::Image dst = test::load_image("coffee.ppm");
  const int32_t sizes[][2] = {{13, 11}, {5, 3}, {1, 1}, {0, 4}, {4, 0}, {20, 15}, {-3, 2}};
  const int32_t xs[] = {-25, -20, -4, 0, 6, 12, 13, INT32_MIN, INT32_MAX - 2};
  const int32_t ys[] = {-16, -15, -2, 0, 5, 10, 11, INT32_MAX};
  const int32_t blends[][2] = {{kOpaque, 0}, {kPercent, 0}, {kPercent, 37}, {kPercent, 100},
                               {kPercent, -20}, {kPercent, 150}, {kAlpha, 0}, {kAlpha, 20},
                               {kAlpha, 100}, {kAlpha, -50}, {kAlpha, 300}};
  for (int32_t bpp : {3, 1})
    for (const auto &wh : sizes)
      for (int32_t x : xs)
        for (int32_t y : ys)
          for (const auto &b : blends) {
            Target t(13, 11, bpp, dst.rgb.data());
            const auto want = model(t, wh[0], wh[1], src.rgb.data(), x, y, Mode(b[0]), b[1]);
            blit(&t.bm, wh[0], wh[1], src.rgb.data(), x, y, Mode(b[0]), b[1]);
            ASSERT_EQ(t.bytes, want) << "bpp " << bpp << " block " << wh[0] << "x" << wh[1]
                                     << " at " << x << "," << y << " blend " << b[0] << "/"
                                     << b[1];
          }
}

TEST_F(ChunkyBlit, BlendWorkedValues) {
  struct Case { Mode m; int32_t p; uint8_t d[3], s[3], want[3]; };
  const Case cases[] = {
      {kPercent, 50, {255, 255, 255}, {0, 0, 0}, {127, 127, 127}},
      {kPercent, 25, {255, 0, 10}, {0, 255, 11}, {63, 191, 10}},
      {kPercent, 150, {200, 0, 0}, {100, 0, 0}, {250, 0, 0}},     // 25000 / 100
      {kPercent, 300, {255, 0, 0}, {0, 0, 0}, {253, 0, 0}},       // 765: low 8 bits
      {kPercent, -100, {255, 0, 0}, {0, 0, 0}, {1, 0, 0}},        // -255: low 8 bits
      {kAlpha, 20, {200, 200, 200}, {90, 120, 150}, {170, 178, 186}},
      {kAlpha, 0, {9, 99, 199}, {255, 255, 255}, {255, 255, 255}},
      {kAlpha, 0, {9, 99, 199}, {0, 0, 0}, {9, 99, 199}},
      {kAlpha, 100, {0, 0, 0}, {255, 255, 255}, {0, 0, 0}},  // t = 255; 254 would give 1s
      {kAlpha, 50, {9, 99, 199}, {200, 100, 0}, {9, 99, 199}},     // a = 282, capped
      {kAlpha, -50, {10, 10, 10}, {200, 100, 0}, {179, 90, 1}},    // a = 28
      {kAlpha, INT32_MAX, {9, 99, 199}, {255, 255, 255}, {9, 99, 199}},
  };
  for (const Case &c : cases) {
    Target t(1, 1, 3, c.d);
    blit(&t.bm, 1, 1, c.s, 0, 0, c.m, c.p);
    EXPECT_EQ(std::vector<uint8_t>(t.bm.pixels, t.bm.pixels + 3),
              std::vector<uint8_t>(c.want, c.want + 3)) << "mode " << c.m << " p " << c.p;
  }
  uint8_t s[3] = {1, 2, 3};
  Target t(1, 1, 3, s);
  gx_transalphachunkyblit(&t.bm, 1, 1, s, 0, 0, INT32_MIN);  // wrapping, defined: no report
}

TEST(AlphaScale, IsOneStepAboveTheNearestDouble) {
  EXPECT_EQ(std::bit_cast<uint64_t>(kAlphaScale), 0x4004666666666667u);
  EXPECT_EQ(std::nextafter(2.55, 3.0), kAlphaScale);
  EXPECT_EQ(alpha_offset(100), 255);
  EXPECT_EQ(static_cast<int32_t>(100 * 2.55), 254);
  for (int32_t p = 0; p < 100; ++p) EXPECT_EQ(alpha_offset(p), static_cast<int32_t>(p * 2.55));
  EXPECT_EQ(alpha_offset(INT32_MAX), INT32_MAX);
  EXPECT_EQ(alpha_offset(INT32_MIN), INT32_MIN);
}

// The fast rows against the formulas for every pair of destination and source bytes (in bytes
// 0 and 1 of 65536 pixels) at every percentage of the contract.
TEST_F(ChunkyBlit, FastRowsMatchTheFormulasOverAllBytePairs) {
  std::vector<uint8_t> s(3 * 65536), d(3 * 65536);
  for (int j = 0; j < 65536; ++j) {
    s[3 * j] = d[3 * j + 1] = static_cast<uint8_t>(j);
    s[3 * j + 1] = d[3 * j] = static_cast<uint8_t>(j >> 8);
    s[3 * j + 2] = static_cast<uint8_t>(j * 37), d[3 * j + 2] = static_cast<uint8_t>(~j);
  }
  for (int32_t p = 0; p <= 100; ++p)
    for (Mode m : {kPercent, kAlpha}) {
      Target t(256, 256, 3, d.data());
      blit(&t.bm, 256, 256, s.data(), 0, 0, m, p);
      ASSERT_EQ(t.bytes, model(Target(256, 256, 3, d.data()), 256, 256, s.data(), 0, 0, m, p))
          << "mode " << m << " p " << p;
    }
}

TEST_F(ChunkyBlit, LayoutsOtherThanOneAndThreeBytesAreLeftAlone) {
  const uint8_t src[24] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  for (int32_t bpp : {0, 2, 4, -1}) {
    Target t(2, 2, bpp < 0 ? 1 : bpp, nullptr);
    t.bm.bytes_per_pixel = bpp;
    const auto before = t.bytes;
    for (Mode m : {kOpaque, kPercent, kAlpha}) blit(&t.bm, 2, 2, src, 0, 0, m, 0);
    EXPECT_EQ(t.bytes, before) << bpp;
  }
}

// A source bitmap hands on pixels, width and height; its own layout must hold what the
// destination's reads.
TEST_F(ChunkyBlit, BitmapSources) {
  Bitmap *photo = test::image_bitmap(test::load_image("astronaut.ppm"));
  Target a(40, 30, 3, nullptr), b(40, 30, 3, nullptr), c(40, 30, 3, nullptr);
  gx_blitbitmap(&a.bm, photo, -7, -9);
  gx_newblitbitmap(&b.bm, photo, -7, -9);
  gx_chunkyblit(&c.bm, photo->width, photo->height, photo->pixels, -7, -9);
  EXPECT_EQ(a.bytes, c.bytes);
  EXPECT_EQ(b.bytes, c.bytes);
  gx_blitbitmaptrans(&a.bm, photo, 3, 2, 40);
  gx_transchunkyblit(&c.bm, photo->width, photo->height, photo->pixels, 3, 2, 40);
  EXPECT_EQ(a.bytes, c.bytes);
  // A one-byte source cannot feed a three-byte destination; the reverse reads its first bytes.
  Target grey(4, 3, 1, photo->pixels);
  const auto before = a.bytes;
  gx_blitbitmap(&a.bm, &grey.bm, 0, 0);
  gx_newblitbitmap(&a.bm, nullptr, 0, 0);
  gx_newblitbitmap(nullptr, photo, 0, 0);
  gx_blitbitmaptrans(&a.bm, nullptr, 0, 0, 50);
  EXPECT_EQ(a.bytes, before);
  gx_blitbitmap(&grey.bm, photo, 1, 1);
  EXPECT_EQ(grey.bm.pixels[5], photo->pixels[0]);
  EXPECT_EQ(grey.bm.pixels[11], photo->pixels[photo->width + 2]);
  gx_freebitmap(photo);
}

// A block read out of the destination's own buffer is read as the drawing goes: shifting a
// row right by one pixel repeats its first pixel.
TEST_F(ChunkyBlit, OverlapReadsPixelByPixel) {
  uint8_t px[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  Target t(4, 1, 3, px);
  gx_blitbitmap(&t.bm, &t.bm, 1, 0);
  EXPECT_EQ(std::vector<uint8_t>(t.bm.pixels, t.bm.pixels + 12),
            std::vector<uint8_t>({1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}));
}

TEST_F(ChunkyBlit, CallsThatCannotBeDrawnSafelyDoNothing) {
  const uint8_t src[27] = {};
  Target t(3, 3, 3, nullptr);
  const auto before = t.bytes;
  gx_chunkyblit(nullptr, 1, 1, src, 0, 0);
  gx_chunkyblit(&t.bm, 2, 2, nullptr, 0, 0);
  gx_chunkyblit(&t.bm, 65536, 65536, src, 0, 0);  // the block's size does not fit
  Bitmap bad{t.bm.pixels, -3, 3, 3}, huge{t.bm.pixels, 65536, 65536, 3}, none{nullptr, 3, 3, 3};
  for (Bitmap *b : {&bad, &huge, &none}) gx_transalphachunkyblit(b, 1, 1, src, 0, 0, 0);
  EXPECT_EQ(t.bytes, before);
  EXPECT_EQ(test::sweep_allocation_failures(
                [&](int) { gx_transchunkyblit(&t.bm, 3, 3, src, 0, 0, 10); }),
            0);
}

}  // namespace
}  // namespace corvix
