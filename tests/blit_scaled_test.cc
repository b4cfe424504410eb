// Scaled blits: every rectangle against a pixel-by-pixel model on photographs, the stepping
// sampler against division, worked values, overlap, table failures and refused calls.
#include <array>
#include <climits>

#include "bitmap/pixels.h"
#include "blit/kernels.h"
#include "tests/blit_support.h"

namespace corvix {
namespace {

using test::Bytes;
using test::Target;

// Each destination pixel inside the rectangle takes the source pixel that division picks:
// copied when byte 0 exceeds `threshold` (INT32_MIN: always), or added through the light
// factors `f` when given.
Bytes model(const Target &t, int32_t sw, int32_t sh, const uint8_t *s, int32_t x, int32_t y,
            int32_t dw, int32_t dh, int32_t threshold, const int32_t *f) {
  Bytes out = t.bytes;
  for (int64_t row = 0; row < t.bm.height; ++row)
    for (int64_t col = 0; col < t.bm.width; ++col) {
      if (col < x || col >= int64_t{x} + dw || row < y || row >= int64_t{y} + dh) continue;
      const uint8_t *sp = s + ((row - y) * sh / dh * sw + (col - x) * sw / dw) * 3;
      uint8_t *d = out.data() + 16 + (row * t.bm.width + col) * 3;
      for (int k = 0; k < 3 && sp[0] > threshold; ++k)
        d[k] = f == nullptr ? sp[k]
                            : clamp255(d[k] + static_cast<uint8_t>(static_cast<int32_t>(
                                                  f[k] * uint32_t{sp[k]}) / 255));
    }
  return out;
}

class ScaledBlit : public test::LeakCheck {};

TEST_F(ScaledBlit, EveryRectangleMatchesTheModel) {
  const test::Image src = test::load_image("astronaut.ppm"), dst = test::load_image("coffee.ppm");
  const int32_t sources[][2] = {{4, 2}, {8, 8}, {13, 7}, {1, 1}};
  const int32_t factors[][3] = {{128, 64, 255}, {300, -255, 0}};
  const uint8_t *s = src.rgb.data();  // also the light map: its first 196,608 bytes
  for (int32_t dw : {8, 4, 11, 23, 1, 0, -2})
    for (int32_t dh : {7, 3, 0})
      for (int32_t x : {-12, -2, 0, 5, 10, 11, INT32_MIN, INT32_MAX})
        for (int32_t y : {-5, 0, 4, 9}) {
          for (const auto &sz : sources)
            for (int32_t th : {INT32_MIN, -1, 0, 100, 254, 255}) {
              Target t(11, 9, 3, dst.rgb.data());
              const Bytes want = model(t, sz[0], sz[1], s, x, y, dw, dh, th, nullptr);
              if (th == INT32_MIN) gx_scaledblit(&t.bm, sz[0], sz[1], s, x, y, dw, dh);
              else gx_scaledmaskblit(&t.bm, sz[0], sz[1], s, x, y, dw, dh, th);
              ASSERT_EQ(t.bytes, want) << dw << "x" << dh << "+" << x << "+" << y << " " << th;
            }
          for (const auto &f : factors) {
            Target t(11, 9, 3, dst.rgb.data());
            const Bytes want = model(t, 256, 256, s, x, y, dw, dh, INT32_MIN, f);
            gx_scaledlightblit(&t.bm, s, x, y, dw, dh, f[0], f[1], f[2]);
            ASSERT_EQ(t.bytes, want) << dw << "x" << dh << "+" << x << "+" << y << " " << f[0];
          }
        }
}

// The model covers short runs; here the ends of long ones whose products just fit 32 bits.
TEST(SampleStepper, GivesTheQuotientsOfDivisionOnLongRuns) {
  for (const auto &[s, d] :
       {std::pair{2, 1 << 30}, {INT32_MAX / 4, 5}, {1, INT32_MAX}, {46340, 46341}}) {
    ASSERT_TRUE(sampling_fits(s, d));
    SampleStepper st(d - 5, s, d);
    for (int64_t k = d - 5; k < d; ++k, st.next()) ASSERT_EQ(st.index(), k * s / d);
  }
  EXPECT_FALSE(sampling_fits(3, 1 << 30));
}

TEST_F(ScaledBlit, WorkedValues) {
  // A block inside the destination is read as drawn: row 0 moves pixels 1 and 2 left, so
  // row 1, sampling the same block row, sees the moved pixel.
  const uint8_t px[18] = {1, 1, 1, 2, 2, 2, 3, 3, 3};
  Target o(3, 2, 3, px);
  gx_scaledblit(&o.bm, 2, 1, o.bm.pixels + 3, 0, 0, 2, 2);
  EXPECT_EQ(o.px(0, 18), Bytes({2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 0, 0, 0}));
  // Light adds tinted map bytes, saturating; each map pixel of a 512 x 512 rectangle is 2 x 2.
  Bytes map(196608);
  const uint8_t d1[3] = {10, 20, 30}, d2[3] = {100, 200, 250}, l[6] = {200, 100, 50, 255, 128, 64};
  for (size_t i = 0; i < map.size(); ++i) map[i] = l[i % 6];
  Target a(1, 1, 3, d1), b(1, 1, 3, d2), c(4, 2, 3);
  gx_scaledlightblit(&a.bm, map.data(), 0, 0, 256, 256, 128, 64, 255);
  gx_scaledlightblit(&b.bm, map.data(), -1, 0, 256, 256, 255, 255, 128);
  gx_scaledlightblit(&c.bm, map.data(), 0, 0, 512, 512, 255, 255, 255);
  EXPECT_EQ(a.px(0, 3), Bytes({110, 45, 80}));
  EXPECT_EQ(b.px(0, 3), Bytes({255, 255, 255}));
  EXPECT_EQ(c.px(0, 24), Bytes({200, 100, 50, 200, 100, 50, 255, 128, 64, 255, 128, 64,
                                200, 100, 50, 200, 100, 50, 255, 128, 64, 255, 128, 64}));
}

TEST_F(ScaledBlit, WithoutItsTablesTheLightBlitTouchesNothing) {
  const test::Image im = test::load_image("astronaut.ppm");
  const int made = test::sweep_allocation_failures([&](int failing) {
    Target t(11, 9, 3);
    gx_scaledlightblit(&t.bm, im.rgb.data(), -3, 2, 20, 5, 200, 100, 50);
    EXPECT_EQ(t.bytes == Target(11, 9, 3).bytes, failing != 0) << failing;
  });
  EXPECT_EQ(made, 3);
}

TEST_F(ScaledBlit, CallsThatCannotBeDrawnSafelyDoNothing) {
  const Bytes src(196608, 200);
  const uint8_t *s = src.data();
  Target t(4, 4, 3);
  Bitmap grey{t.bm.pixels, 4, 4, 1}, none{nullptr, 4, 4, 3}, bad{t.bm.pixels, 4, -4, 3};
  for (Bitmap *b : {&grey, &none, &bad, static_cast<Bitmap *>(nullptr), &t.bm}) {
    gx_scaledlightblit(b, b == &t.bm ? nullptr : s, 0, 0, 4, 4, 255, 255, 255);
    gx_scaledblit(b, 2, 2, b == &t.bm ? nullptr : s, 0, 0, 4, 4);
  }
  // Empty or oversized blocks; (dw - 1) x sw that does not fit 32 bits.
  for (const auto &[sw, sh, dw] : {std::array{0, 2, 4}, {2, -1, 4}, {65536, 65536, 4},
                                   {1 << 20, 1, 1 << 12}})
    gx_scaledblit(&t.bm, sw, sh, s, 0, 0, dw, 4);
  gx_scaledlightblit(&t.bm, s, 0, 0, 1 << 24, 4, 255, 255, 255);
  EXPECT_EQ(t.bytes, Target(4, 4, 3).bytes);
}

}  // namespace
}  // namespace corvix
