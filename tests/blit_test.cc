// Blits, lines and boxes. Every routine's placements are checked byte for byte against a
// pixel-by-pixel model on photographs, in destinations between guard bytes; worked values pin
// the blend formulas the model shares with the code, whose fast forms are proven over their
// whole domain; lines and boxes are checked against plain walks of their definitions.
#include "core/pixels.h"
#include "blit/kernels.h"
#include "tests/support.h"

namespace corvix {
namespace {

using Bytes = std::vector<uint8_t>;
// The chunky blits come first, then the scaled ones.
enum Mode { kChunky, kTrans, kAlpha, kBitmap, kBitmapTrans, kScaled, kMasked, kLight };

// A bitmap record over a vector whose 16 guard bytes (0xA5) on each side show stray writes;
// the pixels are copied from `fill`, or zero.
struct Target {
  Bytes bytes;
  Bitmap bm;
  Target(int32_t w, int32_t h, int32_t bpp, const uint8_t *fill = nullptr)
      : bytes(static_cast<size_t>(w) * h * bpp + 32, 0xA5), bm{bytes.data() + 16, w, h, bpp} {
    for (size_t i = 0; i + 32 < bytes.size(); ++i) bm.pixels[i] = fill != nullptr ? fill[i] : 0;
  }
  // Sets pixel (x, y), when inside, to 7, 6, 5 (one byte, 7, unless three-byte).
  void plot(int64_t x, int64_t y) {
    if (x < 0 || x >= bm.width || y < 0 || y >= bm.height) return;
    for (int64_t k = 0, n = bm.bytes_per_pixel == 3 ? 3 : 1; k < n; ++k)
      bm.pixels[(y * bm.width + x) * n + k] = static_cast<uint8_t>(7 - k);
  }
};

// Routine m drawing the sw x sh block s on the dw x dh rectangle at (x, y). The chunky blits
// draw a dw x dh block (the bitmap forms as a three-byte bitmap); light draws a 256 x 256 map
// with the factors p, 64 and -p.
void draw(Bitmap *d, int32_t sw, int32_t sh, const uint8_t *s, int32_t x, int32_t y, int32_t dw,
          int32_t dh, Mode m, int32_t p) {
  Bitmap src{const_cast<uint8_t *>(s), dw, dh, 3};
  if (m == kChunky) gx_chunkyblit(d, dw, dh, s, x, y);
  if (m == kTrans) gx_transchunkyblit(d, dw, dh, s, x, y, p);
  if (m == kAlpha) gx_transalphachunkyblit(d, dw, dh, s, x, y, p);
  if (m == kBitmap) gx_blitbitmap(d, &src, x, y);
  if (m == kBitmapTrans) gx_blitbitmaptrans(d, &src, x, y, p);
  if (m == kScaled) gx_scaledblit(d, sw, sh, s, x, y, dw, dh);
  if (m == kMasked) gx_scaledmaskblit(d, sw, sh, s, x, y, dw, dh, p);
  if (m == kLight) gx_scaledlightblit(d, s, x, y, dw, dh, p, 64, -p);
}

// The target's bytes after draw(): each destination pixel inside the rectangle meets, on its
// own, the block pixel that division picks. One-byte layouts copy; masks copy where byte 0
// exceeds p; light adds (factor x map byte) / 255 in wrapping 32-bit arithmetic, low 8 bits,
// saturating.
Bytes model(const Target &t, int64_t sw, int64_t sh, const uint8_t *s, int64_t x, int64_t y,
            int64_t dw, int64_t dh, Mode m, int32_t p) {
  if (m < kScaled) sw = dw, sh = dh;
  if (m == kLight) sw = sh = 256;
  const int64_t bpp = t.bm.bytes_per_pixel;
  const uint32_t f[3] = {static_cast<uint32_t>(p), 64, static_cast<uint32_t>(-p)};
  Bytes out = t.bytes;
  for (int64_t row = y < 0 ? 0 : y; row < std::min<int64_t>(y + dh, t.bm.height); ++row)
    for (int64_t col = x < 0 ? 0 : x; col < std::min<int64_t>(x + dw, t.bm.width); ++col) {
      uint8_t *d = out.data() + 16 + (row * t.bm.width + col) * bpp;
      const uint8_t *b = s + ((row - y) * sh / dh * sw + (col - x) * sw / dw) * bpp;
      const int32_t a = alpha_weight((b[0] + b[1] + b[2]) / 3, alpha_offset(p));
      for (int k = 0; k < bpp; ++k)
        if (bpp == 1 || m == kChunky || m == kBitmap || m == kScaled)
          d[k] = b[k];
        else if (m == kTrans || m == kBitmapTrans)
          d[k] = blend_percent(d[k], b[k], p);
        else if (m == kAlpha)
          d[k] = blend_alpha(d[k], b[k], a);
        else if (m == kMasked)
          d[k] = b[0] > p ? b[k] : d[k];
        else
          d[k] = clamp255(d[k] + static_cast<uint8_t>(static_cast<int32_t>(f[k] * b[k]) / 255));
    }
  return out;
}

class Blit : public test::LeakCheck {};

// Blocks of a photograph onto another past every edge of an odd-sized destination and along
// rows longer than the fast alpha row's chunks: every routine, blends on both sides of the
// fast forms' range, shrinking and stretching, both layouts for the chunky blits (a
// three-byte source bitmap then feeds one-byte pixels a byte each). The photograph is also
// the light map (its first 196,608 bytes).
TEST_F(Blit, EveryPlacementMatchesTheModel) {
  const test::Image src = test::load_image("astronaut.ppm"), dst = test::load_image("coffee.ppm");
  const int32_t sizes[][4] = {{4, 2, 13, 11}, {8, 8, 5, 3},   {13, 7, 1, 1},  {1, 1, 0, 4},
                              {4, 2, 4, 0},   {8, 8, 20, 15}, {13, 7, -3, 2}, {3, 5, 290, 3}};
  const int32_t ops[][2] = {{kChunky, 0},   {kTrans, 0},        {kTrans, 37},  {kTrans, 100},
                            {kTrans, 150},  {kAlpha, 0},        {kAlpha, 100}, {kAlpha, -50},
                            {kBitmap, 0},   {kBitmapTrans, 30}, {kScaled, 0},  {kMasked, -1},
                            {kMasked, 100}, {kLight, 128},      {kLight, 300}};
  for (const auto &[width, height] : {std::pair{13, 11}, {300, 2}})
    for (int32_t bpp : {3, 1})
      for (const auto &[sw, sh, dw, dh] : sizes)
        for (int32_t x : {-25, -20, -4, 0, 6, 12, 13, INT32_MIN, INT32_MAX - 2})
          for (int32_t y : {-16, -15, -2, 0, 5, 10, 11, INT32_MAX})
            for (const auto &[m, p] : ops) {
              if (bpp == 1 && m >= kScaled) continue;  // scaled blits draw three-byte pixels
              Target t(width, height, bpp, dst.rgb.data());
              const Bytes want = model(t, sw, sh, src.rgb.data(), x, y, dw, dh, Mode(m), p);
              draw(&t.bm, sw, sh, src.rgb.data(), x, y, dw, dh, Mode(m), p);
              ASSERT_EQ(t.bytes, want) << width << " " << bpp << " " << sw << "x" << sh << " " << dw
                                       << "x" << dh << "+" << x << "+" << y << " " << m << "/" << p;
            }
  // A block inside the destination's own buffer is read as the drawing reaches it: a row
  // shifted right by one repeats its first pixel; a scaled row that moved pixels left is what
  // the next row, sampling the same block row, copies.
  const uint8_t px[18] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  Target row(4, 1, 3, px), block(3, 2, 3, px);
  gx_newblitbitmap(&row.bm, &row.bm, 1, 0);
  gx_scaledblit(&block.bm, 2, 1, block.bm.pixels + 3, 0, 0, 2, 2);
  EXPECT_EQ(Bytes(row.bm.pixels, row.bm.pixels + 12), Bytes({1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}));
  EXPECT_EQ(Bytes(block.bm.pixels, block.bm.pixels + 18),
            Bytes({4, 5, 6, 7, 8, 9, 7, 8, 9, 7, 8, 9, 7, 8, 9, 0, 0, 0}));
}

// Worked values: truncation, which side p weighs, the low 8 bits; t = p x 2.55 in double (a
// float product differs for large p), 100 giving 255, negatives toward zero, saturating at the
// 32-bit ends; the weight without a lower bound. The fast
// forms equal the definitions for every input they take, and the stepping sampler gives
// division's quotients at the ends of runs whose products just fit 32 bits.
TEST(BlitKernels, FormulasFastFormsAndSampler) {
  EXPECT_EQ(blend_percent(255, 0, 25), 63);
  EXPECT_EQ(blend_percent(255, 0, 300), 253);
  for (int32_t p = 0; p < 100; ++p) EXPECT_EQ(alpha_offset(p), static_cast<int32_t>(p * 2.55));
  // clang-format off
  for (const auto &[p, t] : {std::pair{100, 255}, {-50, -127}, {123456789, 314814811},
                             {INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}})
    // clang-format on
    EXPECT_EQ(alpha_offset(p), t);
  EXPECT_EQ(blend_alpha(10, 200, alpha_weight(200, -127)), 253);  // a = -72, d x a wraps
  int wrong = 0;
  Bytes d(65536), s(65536);
  for (int32_t p = 0; p <= 100; ++p) {
    const int32_t t = alpha_offset(p);
    for (int j = 0; j < 65536; ++j) d[j] = static_cast<uint8_t>(j), s[j] = j >> 8;
    percent_row_fast(d.data(), s.data(), 65536, p);
    for (int j = 0; j < 65536; ++j)
      wrong += d[j] != blend_percent(j & 255, j >> 8, p) ||
               alpha_weight_fast(j % 766, t) != alpha_weight(j % 766 / 3, t);
  }
  for (int j = 0; j < (1 << 24); ++j)
    wrong += blend_alpha_fast(j & 255, (j >> 8) & 255, j >> 16) !=
             blend_alpha(j & 255, (j >> 8) & 255, j >> 16);
  EXPECT_EQ(wrong, 0);
  for (const auto &[sw, dw] :
       {std::pair{2, 1 << 30}, {INT32_MAX / 4, 5}, {1, INT32_MAX}, {46340, 46341}}) {
    SampleStepper st(dw - 5, sw, dw);
    for (int64_t k = dw - 5; k < dw; ++k, st.next()) ASSERT_EQ(st.index(), k * sw / dw);
  }
}

// Every step from the first end along the longer axis, diagonal where the error is not
// negative.
void plain_line(Target &t, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  const int64_t dx = std::abs(x2 - x1), dy = std::abs(y2 - y1), du = std::max(dx, dy);
  int64_t e = 2 * std::min(dx, dy) - du, x = x1, y = y1;
  for (int64_t k = 0; k <= du; ++k) {
    t.plot(x, y);
    const bool diagonal = e >= 0;
    e += 2 * std::min(dx, dy) - (diagonal ? 2 * du : 0);
    if (dy > dx || diagonal) y += y2 < y1 ? -1 : 1;
    if (dy <= dx || diagonal) x += x2 < x1 ? -1 : 1;
  }
}

// Every line with both ends in -4..10 around a 7 x 5 bitmap (all octants, ties, ends outside)
// against the plain walk, a worked tie, ends at the 32-bit extremes (the walk starts where the
// line enters); boxes inside the ordered corners, clipped, on the grid counted from the
// clipped top-left corner. Colours by their low 8 bits; layouts other than three bytes take
// one byte a pixel.
TEST_F(Blit, LinesAndBoxesMatchTheirPlainWalks) {
  for (int i = 0; i < 15 * 15 * 15 * 15; ++i) {
    const int x1 = i % 15 - 4, y1 = i / 15 % 15 - 4, x2 = i / 225 % 15 - 4, y2 = i / 3375 - 4;
    Target t(7, 5, i % 2 == 0 ? 1 : 3), want(7, 5, i % 2 == 0 ? 1 : 3);
    gx_drawline(&t.bm, x1, y1, x2, y2, 7 + 256, 6, 5 - 256);
    plain_line(want, x1, y1, x2, y2);
    ASSERT_EQ(t.bytes, want.bytes) << x1 << "," << y1 << " " << x2 << "," << y2;
  }
  Target t(4, 4, 3), want(4, 4, 3);
  gx_drawline(&t.bm, 2, 1, 0, 0, 7, 6, 5);  // the tie steps diagonally: (1, 0), not (1, 1)
  gx_drawline(&t.bm, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 7, 6, 5);
  for (const auto &[x, y] : {std::pair{2, 1}, {1, 0}, {0, 0}, {1, 1}, {2, 2}, {3, 3}})
    want.plot(x, y);
  EXPECT_EQ(t.bytes, want.bytes);
  // clang-format off
  const int32_t boxes[][5] = {
      {3, 3, 1, 1, 1}, {5, 0, 9, 3, 1}, {1, 2, 8, 6, 2}, {8, 7, 8, 7, 5}, {-4, -4, 100, 100, 3},
      {2, -9, 2, -1, 1}, {9, 7, 9, 8, 1}, {-10, -10, 100, 100, 1},
      {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX},
      // Right or bottom edge on column or row 0: that column or row is still drawn.
      {-3, 2, 0, 5, 1}, {1, -4, 6, 0, 1}, {0, 0, -5, -5, 2}};
  // clang-format on
  for (int32_t bpp : {3, 1, 2})
    for (const auto &[x1, y1, x2, y2, step] : boxes) {
      Target b(9, 8, bpp), want(9, 8, bpp);
      gx_drawbox(&b.bm, x1, y1, x2, y2, 7 + 256, 6, 5 - 256, step);
      const int64_t x0 = std::max(std::min(x1, x2), 0), y0 = std::max(std::min(y1, y2), 0);
      for (int64_t y = y0; y <= std::min(std::max(y1, y2), 7); y += step)
        for (int64_t x = x0; x <= std::min(std::max(x1, x2), 8); x += step) want.plot(x, y);
      ASSERT_EQ(b.bytes, want.bytes) << x1 << "," << y1 << " " << step;
    }
}

// Every routine leaves the destination as it was for unusable targets, layouts it does not
// draw (chunky blits draw one- and three-byte pixels, scaled blits three bytes or more),
// missing sources, a one-byte source for three-byte pixels, blocks whose size or sampling
// products do not fit 32 bits, steps below 1, and the light blit without all three of its
// tables.
TEST_F(Blit, CallsThatCannotBeDrawnSafelyDoNothing) {
  Bytes src(196608, 200);
  Target t(4, 4, 3);
  uint8_t *p = t.bm.pixels;
  Bitmap none{nullptr, 4, 4, 3}, neg{p, -4, 4, 3}, huge{p, 65536, 65536, 3}, l0{p, 2, 2, 0},
      l1{p, 4, 4, 1}, l2{p, 2, 2, 2}, l4{p, 1, 3, 4}, grey{src.data(), 4, 4, 1};
  for (int m = kChunky; m <= kLight; ++m) {
    for (Bitmap *b :
         {&none, &neg, &huge, &l0, &l2, m < kScaled ? &l4 : &l1, static_cast<Bitmap *>(nullptr)})
      draw(b, 2, 2, src.data(), 0, 0, 4, 4, Mode(m), 0);
    draw(&t.bm, 2, 2, nullptr, 0, 0, 4, 4, Mode(m), 0);
    draw(&t.bm, 65536, 65536, src.data(), 0, 0, 1 << 24, 1 << 24, Mode(m), 0);
  }
  for (Bitmap *b : {&none, &neg, &huge, &l0, static_cast<Bitmap *>(nullptr)}) {
    gx_drawbox(b, 0, 0, 3, 3, 1, 1, 1, 1);
    gx_drawline(b, 0, 0, 3, 3, 1, 1, 1);
  }
  gx_blitbitmap(&t.bm, &grey, 0, 0);
  gx_newblitbitmap(&t.bm, nullptr, 0, 0);
  for (const auto &[sw, sh] : {std::pair{0, 2}, {2, -1}, {1 << 20, 1}})
    gx_scaledblit(&t.bm, sw, sh, src.data(), 0, 0, 1 << 12, 1 << 12);
  for (int32_t step : {0, -1, INT32_MIN}) gx_drawbox(&t.bm, 0, 0, 3, 3, 1, 1, 1, step);
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              Target u(4, 4, 3);
              gx_scaledlightblit(&u.bm, src.data(), 0, 0, 4, 4, 255, 255, 255);
              EXPECT_EQ(u.bytes == t.bytes, failing != 0) << failing;
            }),
            3);
  EXPECT_EQ(t.bytes, Target(4, 4, 3).bytes);
}

}  // namespace
}  // namespace corvix
