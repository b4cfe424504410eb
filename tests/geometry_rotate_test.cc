// Free rotation: whole results against fingerprints worked out apart from this code (same
// double mapping, per-term truncation), refusals, allocation failures.
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support.h"

namespace corvix {
namespace {

class RotateTest : public test::LeakCheck {};

// FNV-1a over the bitmap's pixel bytes.
uint64_t fingerprint(const Bitmap *b) {
  uint64_t h = 0xcbf29ce484222325u;
  for (size_t i = 0; i < static_cast<size_t>(b->width) * b->height * b->bytes_per_pixel; ++i)
    h = (h ^ b->pixels[i]) * 0x100000001b3u;
  return h;
}

TEST_F(RotateTest, MatchesIndependentlyComputedResults) {
  // clang-format off
  struct Case { int32_t w, h, bpp; float angle; int32_t d, e; uint64_t hash; };
  // Odd and even sizes at each angle on background 0x1C9, 0x392, 0x55B (low bytes kept). A
  // single pixel has no 2 x 2 block to sample; an empty source turns to an empty bitmap.
  const Case cases[] = {
           {6, 4, 3, 0, 6, 4, 0xda45ac280678afc7u}, {5, 3, 1, 0, 6, 4, 0xfaf5d9f0d54c93d9u},
           {1, 1, 3, 0, 2, 2, 0xf924e176a7e67e45u}, {0, 0, 1, 30, 0, 0, 0xcbf29ce484222325u},
           {8, 6, 1, 90, 6, 8, 0x715fc4252ff0735eu}, {7, 5, 3, 90, 6, 8, 0xb7904e8c7bd0a23eu},
           {10, 8, 1, 45, 12, 12, 0x3e9eda796ad392c9u}, {7, 5, 3, 45, 10, 10, 0xb62c8f081a52abe0u},
           {8, 6, 3, 30, 10, 10, 0x00db283abc85f4e5u}, {9, 7, 3, 30, 12, 12, 0x12d9e679e5e1b3e9u},
           {9, 6, 1, 30, 12, 10, 0xb55c44ae9e16f167u}, {8, 4, 1, -30, 8, 8, 0x1c0cfe438a2986c8u},
           {5, 7, 1, -30, 10, 10, 0x693c3f555bbe0810u}, {6, 5, 3, -30, 8, 8, 0x63022ea56b0b25f7u}};
  // clang-format on
  for (const Case &c : cases) {
    // Byte i is (37 i + 11) mod 256: no symmetry to hide a wrong turn.
    Bitmap *src = gx_allocrawbitmap(c.w, c.h, c.bpp);
    for (int i = 0; i < c.w * c.h * c.bpp; ++i) src->pixels[i] = static_cast<uint8_t>(i * 37 + 11);
    Bitmap *r = gx_rotatebitmap(src, 0x1C9, 0x392, 0x55B, c.angle);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::tuple(r->width, r->height, fingerprint(r)), std::tuple(c.d, c.e, c.hash))
        << c.w << "x" << c.h << " at " << c.angle;
    for (Bitmap *b : {src, r}) gx_freebitmap(b);
  }
}

// At every level, a photograph cut to sizes around the eight-pixel groups and turned by
// angles with every kind of fraction, against the plain level's bytes: the background where
// the sample leaves the source, the bottom rows (whose reads end at the source's end) and
// the last group of each row (fewer than eight pixels) included.
class RotateLevels : public test::AtEachLevel {};
CORVIX_AT_EACH_LEVEL(RotateLevels);

TEST_P(RotateLevels, SameBytesAsThePlainLevel) {
  const test::Image im = test::load_image("coffee.ppm");
  for (int32_t bpp : {1, 3}) {
    for (const auto &[w, h] : {std::pair{2, 2}, {3, 9}, {16, 5}, {17, 18}, {61, 40}, {200, 150}}) {
      Bitmap *src = gx_allocrawbitmap(w, h, bpp);
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w * bpp; ++x)
          src->pixels[y * w * bpp + x] = im.rgb[size_t(y) * 3 * im.width + x];
      for (float angle : {0.0f, 30.0f, -30.0f, 45.0f, 90.0f, 0.001f, 179.9f, 271.3f}) {
        const Simd level = set_simd_level(Simd::kPlain);
        Bitmap *want = gx_rotatebitmap(src, 7, 300, -2, angle);
        set_simd_level(level);
        Bitmap *got = gx_rotatebitmap(src, 7, 300, -2, angle);
        ASSERT_TRUE(want != nullptr && got != nullptr);
        ASSERT_EQ(test::bytes_of(got), test::bytes_of(want))
            << w << "x" << h << "x" << bpp << " at " << angle;
        for (Bitmap *b : {want, got}) gx_freebitmap(b);
      }
      gx_freebitmap(src);
    }
  }
}

TEST_F(RotateTest, RefusalsAndAllocationFailures) {
  const uint64_t calls = corvix_alloc_calls();
  EXPECT_EQ(gx_rotatebitmap(nullptr, 0, 0, 0, 10.0f), nullptr);
  uint8_t buffer[64] = {};
  // Other pixel sizes, negative or unbacked sizes, turned sizes past 2^31 bytes (40000 square
  // at 45 degrees, or 2^31 - 1 wide, raised to 2^31), angles that are not finite: nothing
  // read or allocated.
  // clang-format off
  for (auto [b, angle] : {std::pair{Bitmap{buffer, 4, 4, 2}, 45.0f}, {{buffer, 4, 4, 4}, 45.0f},
                          {{buffer, -4, 4, 1}, 45.0f}, {{nullptr, 4, 4, 1}, 45.0f},
                          {{buffer, 40000, 40000, 1}, 45.0f}, {{buffer, INT32_MAX, 1, 1}, 0.0f},
                          {{buffer, 4, 4, 1}, INFINITY}, {{buffer, 4, 4, 3}, NAN}})
    // clang-format on
    EXPECT_EQ(gx_rotatebitmap(&b, 0, 0, 0, angle), nullptr) << b.width << " " << b.bytes_per_pixel;
  EXPECT_EQ(corvix_alloc_calls(), calls);
  Bitmap ok{buffer, 4, 4, 3};
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              Bitmap *t = gx_rotatebitmap(&ok, 0, 0, 0, 30.0f);
              EXPECT_EQ(t == nullptr, failing != 0);
              gx_freebitmap(t);
            }),
            2);
}

}  // namespace
}  // namespace corvix
