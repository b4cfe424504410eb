// Scaled blits: every rectangle against a pixel-by-pixel model, the stepping sampler against
// division, worked values, table failures and calls that must do nothing.
#include <climits>
#include <vector>

#include "bitmap/pixels.h"
#include "blit/kernels.h"
#include "tests/support.h"

namespace corvix {
namespace {

// A three-byte destination inside 16 guard bytes each side, filled from `fill` or with 0.
struct Target {
  std::vector<uint8_t> bytes;
  Bitmap bm;
  Target(int32_t w, int32_t h, const uint8_t *fill)
      : bytes(static_cast<size_t>(w) * h * 3 + 32, 0xA5), bm{bytes.data() + 16, w, h, 3} {
    if (fill != nullptr) std::copy(fill, fill + bytes.size() - 32, bm.pixels);
    else std::fill(bm.pixels, bm.pixels + bytes.size() - 32, 0);
  }
};

// The 256 x 256 light map: the astronaut photograph's top-left quarter.
std::vector<uint8_t> light_map(const test::Image &im) {
  std::vector<uint8_t> map;
  for (int row = 0; row < 256; ++row) {
    const auto *p = im.rgb.data() + static_cast<size_t>(row) * im.width * 3;
    map.insert(map.end(), p, p + 768);
  }
  return map;
}

// What a call must leave: every destination pixel inside the rectangle takes the source pixel
// that division picks, copied, masked or added; all else unchanged. `threshold` INT32_MIN
// means an unmasked copy; a null `f` means a copy, else the light factors.
std::vector<uint8_t> model(const Target &t, int32_t sw, int32_t sh, const uint8_t *s, int32_t x,
                           int32_t y, int32_t dw, int32_t dh, int32_t threshold,
                           const int32_t *f) {
  std::vector<uint8_t> out = t.bytes;
  for (int64_t row = 0; row < t.bm.height; ++row)
    for (int64_t col = 0; col < t.bm.width; ++col) {
      if (col < x || col >= int64_t{x} + dw || row < y || row >= int64_t{y} + dh) continue;
      const int64_t sx = (col - x) * sw / dw, sy = (row - y) * sh / dh;
      const uint8_t *sp = s + (sy * sw + sx) * 3;
      uint8_t *d = out.data() + 16 + (row * t.bm.width + col) * 3;
      if (sp[0] <= threshold) continue;
      for (int k = 0; k < 3; ++k)
        d[k] = f == nullptr ? sp[k]
                            : clamp255(d[k] + static_cast<uint8_t>(
                                                  static_cast<int32_t>(uint32_t(f[k]) * sp[k]) /
                                                  255));
    }
  return out;
}

class ScaledBlit : public test::LeakCheck {};

TEST_F(ScaledBlit, EveryRectangleMatchesTheModel) {
  const test::Image src = test::load_image("astronaut.ppm");
  const test::Image dst = test::load_image("coffee.ppm");
  const std::vector<uint8_t> map = light_map(src);
  const int32_t sources[][2] = {{4, 2}, {8, 8}, {13, 7}, {1, 1}};
  const int32_t sizes[] = {8, 4, 11, 23, 1, 0, -2};
  const int32_t places[] = {-12, -2, 0, 5, 10, 11, INT32_MIN, INT32_MAX};
  const int32_t thresholds[] = {INT32_MIN, -1, 0, 100, 254, 255};
  const int32_t factors[][3] = {{128, 64, 255}, {300, -255, 0}, {255, 255, 255}};
  for (int32_t dw : sizes)
    for (int32_t dh : {7, 3, 0})
      for (int32_t x : places)
        for (int32_t y : {-5, 0, 4, 9}) {
          for (const auto &s : sources)
            for (int32_t th : thresholds) {
              Target t(11, 9, dst.rgb.data());
              const auto want = model(t, s[0], s[1], src.rgb.data(), x, y, dw, dh, th, nullptr);
              if (th == INT32_MIN) gx_scaledblit(&t.bm, s[0], s[1], src.rgb.data(), x, y, dw, dh);
              else gx_scaledmaskblit(&t.bm, s[0], s[1], src.rgb.data(), x, y, dw, dh, th);
              ASSERT_EQ(t.bytes, want) << s[0] << "x" << s[1] << " onto " << dw << "x" << dh
                                       << "+" << x << "+" << y << " threshold " << th;
            }
          for (const auto &f : factors) {
            Target t(11, 9, dst.rgb.data());
            const auto want = model(t, 256, 256, map.data(), x, y, dw, dh, INT32_MIN, f);
            gx_scaledlightblit(&t.bm, map.data(), x, y, dw, dh, f[0], f[1], f[2]);
            ASSERT_EQ(t.bytes, want) << dw << "x" << dh << "+" << x << "+" << y << " light "
                                     << f[0] << "," << f[1] << "," << f[2];
          }
        }
}

TEST(SampleStepper, GivesTheQuotientsOfDivision) {
  for (int32_t s = 1; s <= 70; ++s)
    for (int32_t d = 1; d <= 70; ++d)
      for (int32_t k0 : {0, 1, d / 2}) {
        SampleStepper st(k0, s, d);
        for (int32_t k = k0; k < d; ++k, st.next()) ASSERT_EQ(st.index(), k * s / d);
      }
  // The ends of long runs whose products just fit 32 bits.
  const int32_t big[][2] = {{2, 1 << 30}, {INT32_MAX / 4, 5}, {1, INT32_MAX}, {46340, 46341},
                            {INT32_MAX, 1}};
  for (const auto &b : big) {
    ASSERT_TRUE(sampling_fits(b[0], b[1]));
    const int32_t k0 = std::max(0, b[1] - 1000);
    SampleStepper st(k0, b[0], b[1]);
    for (int64_t k = k0; k < b[1]; ++k, st.next()) ASSERT_EQ(st.index(), k * b[0] / b[1]);
  }
  EXPECT_FALSE(sampling_fits(3, 1 << 30));
}

TEST_F(ScaledBlit, WorkedValues) {
  // A 4 x 2 block doubled: 2 x 2 copies; halved 8 x 8: the even pixels of even rows.
  std::vector<uint8_t> src(8 * 8 * 3);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i);
  Target t(8, 4, nullptr);
  gx_scaledblit(&t.bm, 4, 2, src.data(), 0, 0, 8, 4);
  EXPECT_EQ(t.bm.pixels[(1 * 8 + 3) * 3], src[(0 * 4 + 1) * 3]);
  EXPECT_EQ(t.bm.pixels[(2 * 8 + 7) * 3 + 2], src[(1 * 4 + 3) * 3 + 2]);
  gx_scaledblit(&t.bm, 8, 8, src.data(), 0, 0, 4, 4);
  EXPECT_EQ(t.bm.pixels[(3 * 8 + 3) * 3 + 1], src[(6 * 8 + 6) * 3 + 1]);
  gx_scaledblit(&t.bm, 4, 2, src.data(), -2, 0, 8, 4);  // column 0 shows source column 1
  EXPECT_EQ(t.bm.pixels[0], src[3]);
  // Masking compares byte 0 alone.
  const uint8_t px[6] = {100, 255, 255, 101, 0, 0};
  Target m(2, 1, nullptr);
  gx_scaledmaskblit(&m.bm, 2, 1, px, 0, 0, 2, 1, 100);
  EXPECT_EQ(std::vector<uint8_t>(m.bm.pixels, m.bm.pixels + 6),
            std::vector<uint8_t>({0, 0, 0, 101, 0, 0}));
  // Light adds tinted map bytes, saturating; 512 x 512 shows each map pixel as 2 x 2.
  std::vector<uint8_t> map(196608);
  const uint8_t d1[3] = {10, 20, 30}, d2[3] = {100, 200, 250};
  const uint8_t l1[3] = {200, 100, 50}, l2[3] = {255, 128, 64};
  for (size_t i = 0; i < map.size(); ++i) map[i] = (i / 3) % 2 ? l2[i % 3] : l1[i % 3];
  Target a(1, 1, d1), b(1, 1, d2), c(4, 2, nullptr);
  gx_scaledlightblit(&a.bm, map.data(), 0, 0, 256, 256, 128, 64, 255);
  gx_scaledlightblit(&b.bm, map.data(), -1, 0, 256, 256, 255, 255, 128);
  gx_scaledlightblit(&c.bm, map.data(), 0, 0, 512, 512, 255, 255, 255);
  EXPECT_EQ(std::vector<uint8_t>(a.bm.pixels, a.bm.pixels + 3),
            std::vector<uint8_t>({110, 45, 80}));
  EXPECT_EQ(std::vector<uint8_t>(b.bm.pixels, b.bm.pixels + 3),
            std::vector<uint8_t>({255, 255, 255}));
  EXPECT_EQ(std::vector<uint8_t>(c.bm.pixels + 9, c.bm.pixels + 12), std::vector<uint8_t>(l2, l2 + 3));
  EXPECT_EQ(c.bm.pixels[(4 + 1) * 3], c.bm.pixels[0]);
}

TEST_F(ScaledBlit, WithoutItsTablesTheLightBlitTouchesNothing) {
  const std::vector<uint8_t> map = light_map(test::load_image("astronaut.ppm"));
  const test::Image dst = test::load_image("coffee.ppm");
  const int made = test::sweep_allocation_failures([&](int failing) {
    Target t(11, 9, dst.rgb.data());
    gx_scaledlightblit(&t.bm, map.data(), -3, 2, 20, 5, 200, 100, 50);
    EXPECT_EQ(t.bytes == Target(11, 9, dst.rgb.data()).bytes, failing != 0) << failing;
  });
  EXPECT_EQ(made, 3);
}

TEST_F(ScaledBlit, CallsThatCannotBeDrawnSafelyDoNothing) {
  const std::vector<uint8_t> src(196608, 200);
  Target t(4, 4, nullptr);
  const auto before = t.bytes;
  Bitmap grey{t.bm.pixels, 4, 4, 1}, none{nullptr, 4, 4, 3}, bad{t.bm.pixels, 4, -4, 3};
  for (Bitmap *b : {&grey, &none, &bad, static_cast<Bitmap *>(nullptr)}) {
    gx_scaledblit(b, 2, 2, src.data(), 0, 0, 4, 4);
    gx_scaledlightblit(b, src.data(), 0, 0, 4, 4, 255, 255, 255);
  }
  gx_scaledblit(&t.bm, 2, 2, nullptr, 0, 0, 4, 4);
  gx_scaledblit(&t.bm, 0, 2, src.data(), 0, 0, 4, 4);   // empty source
  gx_scaledblit(&t.bm, 2, -1, src.data(), 0, 0, 4, 4);
  gx_scaledblit(&t.bm, 65536, 65536, src.data(), 0, 0, 4, 4);        // block does not fit
  gx_scaledblit(&t.bm, 1 << 20, 1, src.data(), 0, 0, 1 << 12, 4);  // sampling overflows
  gx_scaledlightblit(&t.bm, src.data(), 0, 0, 1 << 24, 4, 255, 255, 255);
  gx_scaledlightblit(&t.bm, nullptr, 0, 0, 4, 4, 255, 255, 255);
  EXPECT_EQ(t.bytes, before);
}

}  // namespace
}  // namespace corvix
