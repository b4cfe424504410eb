// Frame effects: nearest scaling, level correction, fades, line doubling.
#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>
#include <random>
#include <tuple>
#include <vector>

#include "effects/correct.h"
#include "effects/fade.h"
#include "tests/support.h"

namespace corvix {
namespace {

class FrameEffects : public test::LeakCheck {};

std::vector<uint8_t> bytes_of(const Bitmap *b, size_t n) { return {b->pixels, b->pixels + n}; }

// The top-left w x h pixels of a photograph, three bytes each.
std::vector<uint8_t> crop(const char *name, int32_t w, int32_t h) {
  const test::Image im = test::load_image(name);
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < h; ++y) {
    const auto row = im.rgb.begin() + 3 * static_cast<ptrdiff_t>(y) * im.width;
    out.insert(out.end(), row, row + 3 * w);
  }
  return out;
}

std::vector<uint8_t> every_byte() {
  std::vector<uint8_t> v(256);
  std::iota(v.begin(), v.end(), 0);
  return v;
}

// The kernel levels this CPU runs (each level's CPUs run the ones below it).
std::vector<Isa> runnable_isas() {
  std::vector<Isa> isas;
  for (Isa isa : {Isa::kPlain, Isa::kAvx2, Isa::kAvx512Vbmi})
    if (isa <= best_isa()) isas.push_back(isa);
  return isas;
}

// ---- Scaling --------------------------------------------------------------------------

std::vector<uint8_t> scale_model(const uint8_t *src, int32_t w, int32_t h, int32_t nw, int32_t nh) {
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < nh; ++y)
    for (int32_t x = 0; x < nw; ++x) out.push_back(src[(h * y / nh) * w + (w * x / nw)]);
  return out;
}

TEST_F(FrameEffects, ScaleTakesThePixelAtOrBeforeTheScaledPosition) {
  uint8_t row[] = {10, 11, 12, 13, 14};
  Bitmap rec{row, 5, 1, 1};
  Bitmap *r = cvx_scale_ll(&rec, 3, 1);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(std::tie(r->width, r->height, r->bytes_per_pixel), std::make_tuple(3, 1, 1));
  EXPECT_EQ(bytes_of(r, 3), (std::vector<uint8_t>{10, 11, 13}));
  gx_freebitmap(r);
  // A photograph's three-byte buffer, read as one byte a pixel: the same size copies it,
  // enlarging repeats rows, odd sizes and 1 x 1 sample as the per-pixel model does.
  const test::Image im = test::load_image("coffee.ppm");
  Bitmap *src = test::image_bitmap(im);
  const int32_t w = im.width, h = im.height;
  const std::pair<int32_t, int32_t> sizes[] = {{w, h},         {w / 2, h / 2}, {2 * w, 2 * h},
                                               {w, 3 * h + 1}, {1, 1},         {7, 1},
                                               {1, 9},         {333, 211},     {3 * w - 1, h - 1}};
  for (const auto &[nw, nh] : sizes) {
    r = cvx_scale_ll(src, nw, nh);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(bytes_of(r, size_t(nw) * nh), scale_model(im.rgb.data(), w, h, nw, nh))
        << nw << "x" << nh;
    gx_freebitmap(r);
  }
  EXPECT_EQ(bytes_of(src, im.rgb.size()), im.rgb);
  gx_freebitmap(src);
}

TEST_F(FrameEffects, ScaleRefusesWhatItCannotSample) {
  uint8_t px[12] = {};
  Bitmap rec{px, 4, 3, 1}, *src = &rec;
  EXPECT_EQ(cvx_scale_ll(nullptr, 2, 2), nullptr);
  EXPECT_EQ(cvx_scale_ll(src, -1, 2), nullptr);
  EXPECT_EQ(cvx_scale_ll(src, 2, -1), nullptr);
  EXPECT_EQ(cvx_scale_ll(src, 600000000, 1), nullptr);  // 4 x (W' - 1) past 2^31
  EXPECT_EQ(cvx_scale_ll(src, 1, 800000000), nullptr);
  src->bytes_per_pixel = 0;
  EXPECT_EQ(cvx_scale_ll(src, 2, 2), nullptr);
  rec = Bitmap{px, 4, 0, 1};  // nothing to sample, unless nothing is asked for
  EXPECT_EQ(cvx_scale_ll(src, 2, 2), nullptr);
  Bitmap *empty = cvx_scale_ll(src, 0, 5);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(std::tie(empty->width, empty->height), std::make_tuple(0, 5));
  gx_freebitmap(empty);
  // A 70000-wide row: the largest width whose last product fits, and one more.
  std::vector<uint8_t> wide(70000);
  std::iota(wide.begin(), wide.end(), 0);
  rec = Bitmap{wide.data(), 70000, 1, 1};
  const int32_t fits = INT32_MAX / 70000 + 1;
  Bitmap *ok = cvx_scale_ll(src, fits, 1);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->pixels[fits - 1], wide[70000 * (fits - 1) / fits]);
  gx_freebitmap(ok);
  EXPECT_EQ(cvx_scale_ll(src, fits + 1, 1), nullptr);
}

TEST_F(FrameEffects, ScaleReleasesEverythingWhenMemoryRunsOut) {
  std::vector<uint8_t> px(35);
  std::iota(px.begin(), px.end(), 1);
  Bitmap src{px.data(), 7, 5, 1};
  const int made = test::sweep_allocation_failures([&](int failing) {
    Bitmap *r = cvx_scale_ll(&src, 11, 4);
    EXPECT_EQ(r == nullptr, failing != 0) << "allocation " << failing << " failed";
    if (r != nullptr) {
      EXPECT_EQ(bytes_of(r, 44), scale_model(px.data(), 7, 5, 11, 4));
    }
    gx_freebitmap(r);
  });
  EXPECT_EQ(made, 3);  // record, pixels, column table
}

// ---- Level correction -----------------------------------------------------------------

std::vector<uint8_t> table_of(int32_t contrast, int32_t offset, int32_t invert) {
  std::vector<uint8_t> t(256);
  build_level_table(t.data(), contrast, offset, invert);
  return t;
}

TEST(LevelTable, PrecisionOrderAndExtremes) {
  struct Entry {
    int32_t contrast, offset, invert, level, want;
  };
  // clang-format off
  const Entry entries[] = {
      {15, 0, 0, 28, 112},  // the single-precision product lands just below 113
      {10, 0, 0, 28, 118}, {1, 0, 0, 228, 129},  // and rounds to exactly -10 and +1 here
      {150, 100, 0, 0, 36}, {150, 100, 0, 1, 38},  // -62.5 truncates to -62, then the offset
      {15, 0, 0, 0, 108}, {15, 0, 0, 128, 128}, {200, 0, 0, 64, 0}, {200, 0, 0, 65, 2},
      {200, 0, 0, 191, 254}, {200, 0, 0, 192, 255}, {50, 0, 0, 1, 64}, {50, 0, 0, 255, 191},
      {-100, 0, 0, 1, 255}, {-100, 0, 0, 255, 1}, {0, 0, 1, 200, 127}, {100, -256, 0, 255, 0},
      {100, -256, -1, 0, 255},
      // Huge settings neither wrap nor overflow: the clamp decides.
      {100, INT32_MAX, 0, 0, 255}, {100, INT32_MIN, 0, 255, 0}, {INT32_MAX, 0, 0, 127, 0},
      {INT32_MAX, 0, 0, 129, 255}, {INT32_MIN, 0, 0, 127, 255}, {INT32_MAX, INT32_MIN, 0, 255, 255}};
  // clang-format on
  for (const Entry &e : entries)
    EXPECT_EQ(table_of(e.contrast, e.offset, e.invert)[e.level], e.want)
        << e.contrast << " " << e.offset << " " << e.invert << " level " << e.level;
  EXPECT_EQ(table_of(100, 0, 0), every_byte());
}

// Every byte value through the permute path equals the plain loop, for settings tables and
// random ones, at lengths and starts around the 64- and 128-byte steps.
TEST(LevelTable, WideLookupEqualsThePlainLoop) {
  if (best_isa() != Isa::kAvx512Vbmi) GTEST_SKIP() << "CPU lacks the permute instructions";
  std::vector<std::vector<uint8_t>> tables;
  for (int32_t c : {-300, 0, 15, 150, 1000})
    for (int32_t o : {-256, -40, 0, 100}) tables.push_back(table_of(c, o, c & 1));
  std::mt19937 rng(7);
  for (int i = 0; i < 64; ++i) {
    tables.emplace_back(256);
    for (auto &v : tables.back()) v = static_cast<uint8_t>(rng());
  }
  std::vector<uint8_t> all(1100);
  for (size_t k = 0; k < all.size(); ++k) all[k] = static_cast<uint8_t>(k * 167 + 13);
  for (const auto &t : tables)
    for (size_t start : {0, 1, 63})
      for (size_t n : {0, 1, 63, 64, 65, 127, 128, 129, 200, 1024}) {
        std::vector<uint8_t> plain = all, wide = all;
        apply_table_plain(plain.data() + start, n, t.data());
        apply_table_avx512vbmi(wide.data() + start, n, t.data());
        ASSERT_EQ(plain, wide) << "start " << start << " n " << n;
      }
}

// ---- The in-place routines on a photograph ----------------------------------------------

// The record covers all but the last row of its buffer: every routine changes its own
// bytes by the byte rule and leaves the row outside alone.
TEST_F(FrameEffects, InPlaceRoutinesChangeTheRecordsBytesOnly) {
  const int32_t w = 301, h = 97;
  const auto pa = crop("astronaut.ppm", w, h + 1), pb = crop("coffee.ppm", w, h);
  const auto table = table_of(135, -20, 1);
  const size_t n = pb.size();
  struct Case {
    std::function<void(Bitmap *)> run;
    std::function<uint8_t(size_t k, uint8_t v)> rule;
  };
  const Case cases[] = {{[&](Bitmap *f) { cvx_correct_ll(f, 135, -20, 1); },
                         [&](size_t, uint8_t v) { return table[v]; }},
                        {[](Bitmap *f) { cvx_specialfade_ll(f, 99); },
                         [](size_t, uint8_t v) { return std::max<uint8_t>(v, 100); }},
                        {[&](Bitmap *f) { cvx_specialfadeover_ll(f, pb.data(), 120); },
                         [&](size_t k, uint8_t v) { return v < 121 ? pb[k] : v; }},
                        {[&](Bitmap *f) { cvx_flickerover_ll(f, pb.data(), 120); },
                         [&](size_t k, uint8_t v) { return v < 121 ? pb[k] : v; }}};
  for (const Case &c : cases) {
    std::vector<uint8_t> px = pa;
    Bitmap f{px.data(), w, h, 3};
    c.run(&f);
    for (size_t k = 0; k < pa.size(); ++k)
      ASSERT_EQ(px[k], k < n ? c.rule(k, pa[k]) : pa[k]) << "byte " << k;
  }
}

// ---- Fades ----------------------------------------------------------------------------

TEST(Fades, CrossFadeOfEveryPairAtEveryLevelOnEveryKernel) {
  // Byte k of A is k & 255 and of B is k >> 8: all 65536 pairs in one run per level.
  std::vector<uint8_t> a(65536), b(65536), out(65536 + 1);
  for (size_t k = 0; k < a.size(); ++k) {
    a[k] = static_cast<uint8_t>(k);
    b[k] = static_cast<uint8_t>(k >> 8);
  }
  for (Isa isa : runnable_isas())
    for (int32_t level = 0; level < 256; ++level) {
      out.back() = 0xEE;
      fade_bytes(isa, a.data(), b.data(), out.data(), a.size(), static_cast<uint8_t>(level));
      for (size_t k = 0; k < a.size(); ++k)
        if (out[k] != (b[k] * level + a[k] * (255 - level)) / 255)
          FAIL() << int(a[k]) << " " << int(b[k]) << " level " << level << ": " << int(out[k]);
      ASSERT_EQ(out.back(), 0xEE);
    }
}

TEST(Fades, CrossFadeWorkedValuesAndLevelsOutsideTheRange) {
  auto one = [](uint8_t a, uint8_t b, int32_t level) {
    uint8_t out = 0;
    cvx_fadeover_ll(&a, &b, &out, level, 1, 1, 1);
    return int(out);
  };
  const std::tuple<uint8_t, uint8_t, int32_t, int> cases[] = {
      {100, 200, 64, 125},       {255, 0, 128, 127},  {0, 255, 128, 128},
      {100, 200, 256, 200},      {100, 200, -1, 100}, {100, 200, INT32_MAX, 200},
      {100, 200, INT32_MIN, 100}};
  for (const auto &[a, b, level, want] : cases)
    EXPECT_EQ(one(a, b, level), want) << int(a) << " " << int(b) << " " << level;
}

// Two photographs at an odd size: writing over A or over B gives the bytes of a separate
// output; an output one byte past A takes each earlier output as the next A byte.
TEST(Fades, CrossFadeOverItsInputsEqualsSeparateOutput) {
  const int32_t w = 511, h = 399;
  const auto a = crop("astronaut.ppm", w, h), b = crop("coffee.ppm", w, h);
  for (int32_t level : {1, 77, 200}) {
    std::vector<uint8_t> out(a.size() + 1, 0xEE), over_a = a, over_b = b;
    cvx_fadeover_ll(a.data(), b.data(), out.data(), level, w, h, 3);
    EXPECT_EQ(out.back(), 0xEE);
    out.pop_back();
    cvx_fadeover_ll(over_a.data(), b.data(), over_a.data(), level, w, h, 3);
    cvx_fadeover_ll(a.data(), over_b.data(), over_b.data(), level, w, h, 3);
    EXPECT_EQ(over_a, out) << level;
    EXPECT_EQ(over_b, out) << level;
    std::vector<uint8_t> shifted = a;
    shifted.push_back(0);
    cvx_fadeover_ll(shifted.data(), b.data(), shifted.data() + 1, level, w, h, 3);
    for (size_t k = 0; k < a.size(); ++k)
      ASSERT_EQ(shifted[k + 1], (b[k] * level + (k ? shifted[k] : a[0]) * (255 - level)) / 255);
  }
}

TEST_F(FrameEffects, ThresholdFadesAtEveryLevel) {
  const std::vector<uint8_t> b(256, 0xB0);
  for (int32_t level : {INT32_MIN, -1, 0, 1, 50, 99, 254, 255, 256, INT32_MAX}) {
    const int64_t t = int64_t{level} + 1;
    auto raised = every_byte(), replaced = every_byte();
    Bitmap r1{raised.data(), 16, 16, 1}, r2{replaced.data(), 16, 16, 1};
    cvx_specialfade_ll(&r1, level);
    cvx_specialfadeover_ll(&r2, b.data(), level);
    for (int v = 0; v < 256; ++v) {
      // Past 254 every byte is below the threshold, and 255 is the highest a byte holds.
      ASSERT_EQ(raised[v], v < t ? std::min<int64_t>(t, 255) : v) << level << " " << v;
      ASSERT_EQ(replaced[v], v < t ? 0xB0 : v) << level << " " << v;
    }
  }
  for (Isa isa : runnable_isas())  // every kernel, every floor and threshold, odd length
    for (int t = 1; t < 256; ++t) {
      auto raised = every_byte(), replaced = every_byte();
      raise_bytes(isa, raised.data(), 255, static_cast<uint8_t>(t));
      replace_below(isa, replaced.data(), b.data(), 255, static_cast<uint8_t>(t));
      for (int k = 0; k < 256; ++k) {
        ASSERT_EQ(raised[k], k == 255 ? 255 : std::max(k, t));
        ASSERT_EQ(replaced[k], k < t && k < 255 ? 0xB0 : k);
      }
    }
  // A colour pixel's channels are replaced one by one.
  uint8_t pixel[3] = {10, 200, 30};
  const uint8_t other[3] = {1, 2, 3};
  Bitmap rec{pixel, 1, 1, 3};
  cvx_specialfadeover_ll(&rec, other, 50);
  EXPECT_EQ(bytes_of(&rec, 3), (std::vector<uint8_t>{1, 200, 3}));
}

// ---- Deinterlace ----------------------------------------------------------------------

TEST_F(FrameEffects, DeinterlaceCopiesEvenRowsOverOddRows) {
  const int32_t w = 13;
  const size_t row = 3 * w;
  const auto px = crop("astronaut.ppm", w, 10);  // one row more than any height: it stays
  for (int32_t h : {0, 1, 2, 4, 5, 9}) {
    std::vector<uint8_t> buf = px;
    Bitmap f{buf.data(), w, h, 3};
    cvx_deinterlace_ll(&f);
    for (int32_t y = 0; y < 10; ++y) {
      const int32_t from = (y % 2 == 1 && y < h - h % 2) ? y - 1 : y;
      ASSERT_EQ(0, std::memcmp(&buf[y * row], &px[from * row], row)) << h << " " << y;
    }
    const auto once = buf;
    cvx_deinterlace_ll(&f);
    EXPECT_EQ(buf, once) << "a second pass changes nothing";
  }
}

// ---- Records and sizes the routines cannot use ------------------------------------------

TEST_F(FrameEffects, UnusableRecordsAndSizesAreLeftAlone) {
  std::vector<uint8_t> px(24);
  std::iota(px.begin(), px.end(), 1);
  std::vector<uint8_t> buf = px;
  Bitmap rec{}, *f = &rec;
  auto run_all = [&](Bitmap *r) {
    cvx_correct_ll(r, 150, 10, 1);
    cvx_specialfade_ll(r, 200);
    cvx_specialfadeover_ll(r, px.data() + 12, 255);
    cvx_flickerover_ll(r, px.data() + 12, 255);
    cvx_deinterlace_ll(r);
  };
  run_all(nullptr);
  for (const auto &[w, h, bpp] :
       {std::tuple{-2, 2, 3}, {2, -2, 3}, {2, 2, -3}, {0, 2, 3}, {1 << 22, 1 << 10, 3}}) {
    rec = Bitmap{buf.data(), w, h, bpp};
    run_all(f);
    EXPECT_EQ(buf, px) << w << "x" << h << "x" << bpp;
  }
  rec = Bitmap{buf.data(), 2, 2, 3};
  cvx_specialfadeover_ll(f, nullptr, 255);
  rec = Bitmap{buf.data(), 4, 2, 1};  // rows of 12 bytes would pass the 8 this record holds
  cvx_deinterlace_ll(f);
  rec = Bitmap{buf.data(), 2, 2, 4};  // a wider field holds three bytes a pixel: 6-byte rows
  cvx_deinterlace_ll(f);
  EXPECT_EQ(0, std::memcmp(&buf[6], &px[0], 6));
  EXPECT_EQ(0, std::memcmp(&buf[12], &px[12], 12));
  // The cross-fade: bad sizes, sizes that do not fit and null buffers write nothing.
  const std::vector<uint8_t> a(8, 10), b(8, 250);
  std::vector<uint8_t> out(8, 0xEE);
  for (const auto &[w, h, bpp] : {std::tuple{-1, 2, 3}, {2, 2, -3}, {65536, 65536, 1}})
    cvx_fadeover_ll(a.data(), b.data(), out.data(), 128, w, h, bpp);
  cvx_fadeover_ll(nullptr, b.data(), out.data(), 128, 2, 2, 2);
  cvx_fadeover_ll(a.data(), b.data(), nullptr, 128, 2, 2, 2);
  EXPECT_EQ(out, std::vector<uint8_t>(8, 0xEE));
}

}  // namespace
}  // namespace corvix
