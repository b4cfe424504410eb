// Mirror, invert and turns: photographs against the pixel-by-pixel definition and the plain
// walk, turn algebra, and every faster frame kernel against its plain version.
#include <algorithm>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "core/translate.h"
#include "effects/frame_kernels.h"
#include "tests/support.h"

namespace corvix {
namespace {

using Bytes = std::vector<uint8_t>;

// The mirror by its definition: pixel (x, y) takes the pixel across the chosen axes.
Bytes mirrored(const Bytes &f, int32_t w, int32_t h, bool upside_down, bool left_right) {
  Bytes out(f.size());
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const size_t from = size_t(upside_down ? h - 1 - y : y) * w + (left_right ? w - 1 - x : x);
      std::memcpy(&out[3 * (size_t(y) * w + x)], &f[3 * from], 3);
    }
  return out;
}

// A record of four bytes a pixel and one byte after it: the mirror moves three bytes a
// pixel, the negative covers the record's eight bytes.
TEST(MirrorAndNegative, ThreeBytesAPixelForTheMirrorTheRecordsSizeForTheNegative) {
  Bytes px = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  Bitmap b{px.data(), 2, 1, 4};
  fxx_mirror_ll(&b, 0, 1);
  EXPECT_EQ(px, (Bytes{4, 5, 6, 1, 2, 3, 7, 8, 9}));
  fxx_invert_ll(&b);
  EXPECT_EQ(px, (Bytes{251, 250, 249, 254, 253, 252, 248, 247, 9}));
}

class FrameKernels : public test::AtEachLevel {};
CORVIX_AT_EACH_LEVEL(FrameKernels);

// At every level this CPU runs, photographs cut to awkward sizes around the 16-pixel tiles
// and the register sizes (a row of 21 pixels is 63 bytes, of 43 pixels 129). Turn 0 is
// clockwise (the top-left pixel lands top right) as the plain walk gives it, and 2 undoes it;
// 1 is the half turn, the frame mirrored both ways; an empty source gives an empty bitmap of
// the turned size. The mirror in place gives what its definition does for each mode (any
// non-zero flag counts), the negative takes each byte from 255, and neither touches the byte
// after the frame.
TEST_P(FrameKernels, TurnsMirrorsAndNegativeOfPhotographs) {
  const test::Image im = test::load_image("coffee.ppm");
  // clang-format off
  for (const auto &[w, h] : {std::pair{0, 5}, {1, 1}, {3, 1}, {1, 5}, {5, 2}, {15, 17}, {16, 16},
                             {17, 33}, {21, 3}, {22, 7}, {33, 47}, {42, 16}, {43, 2}, {64, 80},
                             {85, 33}, {129, 9}, {97, 130}, {600, 399}}) {
    // clang-format on
    Bitmap *src = test::image_bitmap(im);
    src->width = w, src->height = h;
    const Bytes start = test::bytes_of(src);
    const uint8_t after = src->pixels[start.size()];
    Bitmap *cw = fxx_rotangle_ll(src, 0), *half = fxx_rotangle_ll(src, 1);
    Bitmap *back = fxx_rotangle_ll(cw, 2);
    ASSERT_EQ(std::tie(cw->width, cw->height, half->height), std::tuple(h, w, h));
    Bytes plain(start.size());
    quarter_turn_plain(start.data(), plain.data(), w, h, true);
    EXPECT_EQ(test::bytes_of(cw), plain) << w << "x" << h;
    EXPECT_TRUE(w == 0 || std::memcmp(cw->pixels + 3 * (h - 1), im.rgb.data(), 3) == 0);
    EXPECT_EQ(test::bytes_of(back), start);
    EXPECT_EQ(test::bytes_of(half), mirrored(start, w, h, true, true));
    for (Bitmap *b : {cw, half, back}) gx_freebitmap(b);
    for (int mode = 0; mode < 4; ++mode) {
      const Bytes before = test::bytes_of(src);
      fxx_mirror_ll(src, (mode & 1) * 2, (mode & 2) ? -7 : 0);
      EXPECT_EQ(test::bytes_of(src), mirrored(before, w, h, mode & 1, mode & 2)) << w << "x" << h;
    }
    const Bytes before = test::bytes_of(src);
    fxx_invert_ll(src);
    for (size_t k = 0; k < before.size(); ++k) ASSERT_EQ(src->pixels[k], 255 - before[k]) << k;
    EXPECT_EQ(src->pixels[start.size()], after) << w << "x" << h;
    gx_freebitmap(src);
  }
  Bitmap *src = test::image_bitmap(im);
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              Bitmap *t = fxx_rotangle_ll(src, 2);
              EXPECT_EQ(t == nullptr, failing != 0);
              gx_freebitmap(t);
            }),
            2);
  gx_freebitmap(src);
}

// At every level, the pixel kernels against the plain ones at every length up to a few
// blocks, in exact-size buffers so nothing may reach past them.

TEST_P(FrameKernels, MatchThePlainOnes) {
  std::mt19937 rng(5);
  uint8_t tables[3][256];  // a different permutation for each channel
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 256; ++i) tables[c][i] = uint8_t(i * (2 * c + 3) + 17 * c);
  for (int64_t count = 0; count < 420; ++count) {
    // Every byte value in every channel position through the tables, then the pixels that
    // gives reversed; ranges over values in 40..199 with one pixel at the ends.
    Bytes a(3 * size_t(count)), c(a.size());
    for (size_t i = 0; i < a.size(); ++i) a[i] = uint8_t(i / 3 + 85 * (i % 3) + count);
    Bytes b = a;
    for (size_t i = 0; i < a.size(); ++i) a[i] = tables[i % 3][a[i]];
    translate_pixels(b.data(), size_t(count), tables);
    ASSERT_EQ(b, a) << count;
    reverse_copy_pixels(a.data(), c.data(), count);
    reverse_pixels(b.data(), count);
    ASSERT_EQ(c, b) << count;
    reverse_pixels_plain(a.data(), count);
    ASSERT_EQ(a, b) << count;
    for (auto &v : c) v = uint8_t(40 + rng() % 160);
    if (count > 0) c[3 * (rng() % count)] = 3, c[3 * (rng() % count) + 1] = 250;
    const auto p = channel_ranges_plain(c.data(), count), f = channel_ranges(c.data(), count);
    ASSERT_EQ(0, std::memcmp(&p, &f, sizeof p)) << count;
  }
}

// The environment's say: CORVIX_NO_SIMD forces the plain forms unless it is empty or 0,
// CORVIX_SIMD caps the level by name but never raises it past the CPU's, other names are
// ignored.
TEST(SimdLevel, TheEnvironmentCapsTheCpusLevel) {
  const Simd v = Simd::kAvx512Vbmi, a2 = Simd::kAvx2, p = Simd::kPlain;
  // clang-format off
  const std::tuple<Simd, const char *, const char *, Simd> cases[] = {
      {v, nullptr, nullptr, v}, {v, "1", nullptr, p}, {v, "yes", "avx512", p},
      {v, "0", nullptr, v}, {v, "", nullptr, v}, {v, "0", "avx2", a2},
      {v, nullptr, "avx512", Simd::kAvx512}, {a2, nullptr, "avx512vbmi", a2},
      {v, nullptr, "plain", p}, {v, nullptr, "AVX2 ", v}};
  // clang-format on
  for (const auto &[cpu, no_simd, cap, want] : cases)
    EXPECT_EQ(level_for(cpu, no_simd, cap), want)
        << (no_simd ? no_simd : "-") << " " << (cap ? cap : "-");
}

}  // namespace
}  // namespace corvix
