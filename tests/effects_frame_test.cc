// Frame effects: nearest scaling, level correction, fades, line doubling, and the records
// and sizes no effect can use.
#include <algorithm>
#include <numeric>
#include <tuple>
#include <vector>

#include "core/translate.h"
#include "effects/correct.h"
#include "effects/fade.h"
#include "tests/support.h"

namespace corvix {
namespace {

using Bytes = std::vector<uint8_t>;

class FrameEffects : public test::LeakCheck {};

// A photograph's buffer read as one byte a pixel: the same size copies rows, enlarging
// repeats them, odd sizes and 1 x 1 sample pixel (W x / W', H y / H'), positions truncated.
// Each allocation (record, pixels, column table) failing in turn gives NULL, no leak.
TEST_F(FrameEffects, ScaleSamplesTheTruncatedPositionAndReleasesOnFailure) {
  test::Image im = test::load_image("coffee.ppm");
  const int32_t w = im.width, h = im.height;
  const Bitmap src{im.rgb.data(), w, h, 3};
  // clang-format off
  for (const auto &[nw, nh] : {std::pair{w, h}, {w / 2, h / 2}, {2 * w, 2 * h}, {1, 1}, {7, 1},
                               {333, 211}, {3 * w - 1, h - 1}}) {
    // clang-format on
    Bytes model;
    for (int32_t y = 0; y < nh; ++y)
      for (int32_t x = 0; x < nw; ++x) model.push_back(im.rgb[(h * y / nh) * w + (w * x / nw)]);
    EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
                Bitmap *r = cvx_scale_ll(&src, nw, nh);
                ASSERT_EQ(r == nullptr, failing != 0);
                if (r == nullptr) return;
                EXPECT_EQ(std::tie(r->width, r->height, r->bytes_per_pixel), std::tuple(nw, nh, 1));
                EXPECT_EQ(Bytes(r->pixels, r->pixels + model.size()), model) << nw << "x" << nh;
                gx_freebitmap(r);
              }),
              3);
  }
}

TEST(LevelTable, PrecisionTruncationAndHugeSettings) {
  // {contrast, offset, invert, level, entry}. At 15 the product is single precision but the
  // sum double (112.999999; 113 in single); at 10 and 1 the single-precision products are
  // exactly -10 and +1; -62.5 truncates toward zero before the offset and the clamp; any
  // non-zero invert inverts; huge settings neither wrap nor overflow, the clamp decides.
  // clang-format off
  const int32_t entries[][5] = {
      {15, 0, 0, 28, 112}, {10, 0, 0, 28, 118}, {1, 0, 0, 228, 129}, {150, 100, 0, 0, 36},
      {150, 100, 0, 1, 38}, {50, 0, 0, 255, 191}, {200, 0, 0, 192, 255}, {-100, 0, 0, 1, 255},
      {0, 0, 1, 200, 127}, {100, -256, -1, 0, 255}, {100, INT32_MAX, 0, 255, 255},
      {200, INT32_MIN, 0, 0, 0}, {INT32_MAX, INT32_MIN, 0, 255, 255}};
  // clang-format on
  uint8_t table[256];
  for (const auto &e : entries) {
    build_level_table(table, e[0], e[1], e[2]);
    EXPECT_EQ(table[e[3]], e[4]) << e[0] << " " << e[1] << " " << e[2];
  }
}

// The record covers all but the last row of its buffer: every routine changes its own bytes
// by the byte rule and leaves the row outside alone. Levels past 254 put every byte below
// the threshold, and raise it to 255, the highest a byte holds; cross-fade levels outside
// 0..255 take the nearest end, and the output may be either input. Line doubling copies each
// even row over the odd row below it; the record's last row, even, has no partner.
TEST_F(FrameEffects, InPlaceRoutinesOnPhotographsChangeTheRecordsBytesOnly) {
  const int32_t w = 301, h = 97;
  const Bytes a = test::load_image("astronaut.ppm").rgb, b = test::load_image("coffee.ppm").rgb;
  const Bytes pa(a.begin(), a.begin() + 3 * w * (h + 1)), pb(b.begin(), b.begin() + 3 * w * h);
  auto check = [&](auto run, auto rule) {
    Bytes px = pa;
    Bitmap f{px.data(), w, h, 3};
    run(&f);
    for (size_t k = 0; k < pa.size(); ++k)
      ASSERT_EQ(px[k], k < pb.size() ? rule(k, pa[k]) : pa[k]) << "byte " << k;
  };
  uint8_t table[256];
  build_level_table(table, 135, -20, 1);
  check([](Bitmap *f) { cvx_correct_ll(f, 135, -20, 1); }, [&](size_t, int v) { return table[v]; });
  check([](Bitmap *f) { cvx_deinterlace_ll(f); },
        [&](size_t k, int v) { return k / (3 * w) % 2 ? pa[k - 3 * w] : v; });
  for (int32_t level : {INT32_MIN, -1, 0, 99, 254, 255, 256, INT32_MAX}) {
    const int64_t t = int64_t{level} + 1, l = std::clamp<int64_t>(level, 0, 255);
    auto below = [&](size_t k, int v) { return v < t ? pb[k] : v; };
    check([&](Bitmap *f) { cvx_specialfade_ll(f, level); },
          [&](size_t, int v) { return v < t ? std::min<int64_t>(t, 255) : v; });
    check([&](Bitmap *f) { cvx_specialfadeover_ll(f, pb.data(), level); }, below);
    check([&](Bitmap *f) { cvx_flickerover_ll(f, pb.data(), level); }, below);
    check([&](Bitmap *f) { cvx_fadeover_ll(f->pixels, pb.data(), f->pixels, level, w, h, 3); },
          [&](size_t k, int v) { return (pb[k] * l + v * (255 - l)) / 255; });
    check([&](Bitmap *f) { cvx_fadeover_ll(pb.data(), f->pixels, f->pixels, level, w, h, 3); },
          [&](size_t k, int v) { return (v * l + pb[k] * (255 - l)) / 255; });
  }
}

// At every level this CPU runs, over the whole input space: the cross-fade of all 65536
// byte pairs (byte k of A is k & 255, of B k >> 8) at every level, and the raise and the
// replacement at every threshold over an odd length that leaves byte 255 outside. Then the
// table lookup at every length past two of its 128-byte steps, over
// every byte value, through a different permutation at each length.
class FadeKernels : public test::AtEachLevel {};
CORVIX_AT_EACH_LEVEL(FadeKernels);

TEST_P(FadeKernels, OverTheWholeInputSpace) {
  Bytes a(65536), b(65536), out(65536);
  for (size_t k = 0; k < a.size(); ++k) a[k] = uint8_t(k), b[k] = uint8_t(k >> 8);
  for (int32_t level = 0; level < 256; ++level) {
    fade_bytes(a.data(), b.data(), out.data(), a.size(), static_cast<uint8_t>(level));
    for (size_t k = 0; k < a.size(); ++k)
      if (out[k] != (b[k] * level + a[k] * (255 - level)) / 255)
        FAIL() << int(a[k]) << " " << int(b[k]) << " level " << level << ": " << int(out[k]);
  }
  for (int t = 1; t < 256; ++t) {
    Bytes raised(a.begin(), a.begin() + 256), replaced = raised;
    raise_bytes(raised.data(), 255, static_cast<uint8_t>(t));
    replace_below(replaced.data(), b.data() + 256, 255, static_cast<uint8_t>(t));
    for (int k = 0; k < 256; ++k) {
      ASSERT_EQ(raised[k], k == 255 ? 255 : std::max(k, t));
      ASSERT_EQ(replaced[k], k < t && k < 255 ? 1 : k);
    }
  }
  for (size_t n = 0; n < 300; ++n) {
    const uint8_t *table = a.data() + 3 * n;
    Bytes want(a.begin(), a.begin() + 400), got = want;
    for (size_t k = 1; k <= n; ++k) want[k] = table[want[k]];
    translate_bytes(got.data() + 1, n, table);
    ASSERT_EQ(want, got) << n;
  }
}

// Records and sizes no effect can use: nothing is written or allocated, results are NULL.
TEST_F(FrameEffects, UnusableRecordsAndSizesAreRefused) {
  Bytes buf(24);
  std::iota(buf.begin(), buf.end(), 1);
  const Bytes px = buf;
  const uint8_t *p = px.data();
  uint8_t *q = buf.data();
  const uint64_t calls = corvix_alloc_calls();
  auto refused = [&](Bitmap *r, bool one_byte_a_pixel) {
    cvx_deinterlace_ll(r);
    fxx_mirror_ll(r, 1, 1);
    fxx_minmax_ll(r, 10, 20, 10, 20, 10, 20, 0, 255);
    fxx_min_max_ll(r);
    EXPECT_TRUE(fxx_rotangle_ll(r, 0) == nullptr && fxx_findminmax_ll(r, 1) == nullptr);
    if (one_byte_a_pixel) return;  // the routines below may use such a record
    cvx_correct_ll(r, 150, 10, 1);
    cvx_specialfade_ll(r, 200);
    cvx_specialfadeover_ll(r, p, 255);
    cvx_flickerover_ll(r, p, 255);
    fxx_invert_ll(r);
    EXPECT_EQ(cvx_scale_ll(r, 2, 2), nullptr);
  };
  refused(nullptr, false);
  // Scaling: negative sizes, an empty source, a last source position (H y or W x) past 32
  // bits; 70000 (W - 1) passes it first at the W one above `fits`.
  const int32_t fits = INT32_MAX / 70000 + 1;
  Bytes wide(70000);
  Bitmap row{wide.data(), 70000, 1, 1}, two{q, 2, 2, 3};
  // clang-format off
  // The last record holds one byte a pixel: three-byte rows of 12 bytes would pass its 4.
  for (Bitmap r : {Bitmap{q, -2, 2, 3}, {q, 2, -2, 3}, {q, 2, 2, -3}, {nullptr, 2, 2, 3},
                   {q, 1 << 16, 1 << 16, 3}, {q, 46341, 46341, 3}, {q, 4, 3, 1}})
    refused(&r, r.bytes_per_pixel == 1);
  for (auto [r, w, h] : {std::tuple{Bitmap{q, 4, 3, 1}, -1, 2}, {{q, 4, 3, 1}, 2, -1},
                         {{q, 2, 0, 3}, 2, 2}, {{q, 4, 3, 1}, 1, 800000000}, {row, fits + 1, 1}})
    EXPECT_EQ(cvx_scale_ll(&r, w, h), nullptr) << w << "x" << h;
  cvx_specialfadeover_ll(&two, nullptr, 255);
  for (int32_t turn : {-1, 3}) EXPECT_EQ(fxx_rotangle_ll(&two, turn), nullptr);
  for (auto [a, b, o, w, h, bpp] : {std::tuple{p, p, q, -1, 2, 3}, {p, p, q, 2, 2, -3},
                                    {p, p, q, 65536, 65536, 1}, {nullptr, p, q, 2, 2, 2},
                                    {p, nullptr, q, 2, 2, 2}, {p, p, nullptr, 2, 2, 2}})
    // clang-format on
    cvx_fadeover_ll(a, b, o, 128, w, h, bpp);
  EXPECT_EQ(buf, px);
  EXPECT_EQ(corvix_alloc_calls(), calls);
  Bitmap *ok = cvx_scale_ll(&row, fits, 1);
  EXPECT_NE(ok, nullptr);
  gx_freebitmap(ok);
}

}  // namespace
}  // namespace corvix
