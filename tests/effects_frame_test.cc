// Frame effects: nearest-sample scaling, level correction, fades and line doubling.
#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "effects/correct.h"
#include "effects/fade.h"
#include "tests/support.h"

namespace corvix {
namespace {

class FrameEffects : public test::LeakCheck {};

// A bitmap of the given geometry holding `bytes` (which may be longer than the geometry).
Bitmap *bitmap_of(const std::vector<uint8_t> &bytes, int32_t w, int32_t h, int32_t bpp) {
  auto *b = static_cast<Bitmap *>(PPCAllocVec(sizeof(Bitmap), MEMF_ANY));
  b->pixels = static_cast<uint8_t *>(PPCAllocVec(static_cast<uint32_t>(bytes.size()), 0));
  std::memcpy(b->pixels, bytes.data(), bytes.size());
  b->width = w;
  b->height = h;
  b->bytes_per_pixel = bpp;
  return b;
}

std::vector<uint8_t> bytes_of(const Bitmap *b, size_t n) {
  return std::vector<uint8_t>(b->pixels, b->pixels + n);
}

// The top-left w x h pixels of a photograph, three bytes each.
std::vector<uint8_t> crop(const test::Image &im, int32_t w, int32_t h) {
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < h; ++y) {
    const auto row = im.rgb.begin() + 3 * static_cast<ptrdiff_t>(y) * im.width;
    out.insert(out.end(), row, row + 3 * w);
  }
  return out;
}

// The kernel levels this CPU can run, the plain one first.
std::vector<Isa> runnable_isas() {
  std::vector<Isa> isas{Isa::kPlain};
#if defined(__x86_64__) && defined(__GNUC__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) isas.push_back(Isa::kAvx2);
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi"))
    isas.push_back(Isa::kAvx512Vbmi);
#endif
  return isas;
}

// ---- Scaling --------------------------------------------------------------------------

// Source pixel of every result pixel, computed directly for each pixel.
std::vector<uint8_t> scale_model(const uint8_t *src, int32_t w, int32_t h, int32_t nw, int32_t nh) {
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < nh; ++y)
    for (int32_t x = 0; x < nw; ++x) out.push_back(src[(h * y / nh) * w + (w * x / nw)]);
  return out;
}

TEST_F(FrameEffects, ScaleTakesThePixelAtOrBeforeTheScaledPosition) {
  const std::vector<uint8_t> row{10, 11, 12, 13, 14};
  Bitmap *src = bitmap_of(row, 5, 1, 1);
  Bitmap *r = cvx_scale_ll(src, 3, 1);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->width, 3);
  EXPECT_EQ(r->height, 1);
  EXPECT_EQ(r->bytes_per_pixel, 1);
  EXPECT_EQ(bytes_of(r, 3), (std::vector<uint8_t>{10, 11, 13}));
  gx_freebitmap(r);
  gx_freebitmap(src);

  // 4 x 2 doubled: each pixel fills a 2 x 2 block; halved back: the even pixels.
  const std::vector<uint8_t> px{1, 2, 3, 4, 5, 6, 7, 8};
  src = bitmap_of(px, 4, 2, 1);
  Bitmap *big = cvx_scale_ll(src, 8, 4);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(bytes_of(big, 32),
            (std::vector<uint8_t>{1, 1, 2, 2, 3, 3, 4, 4, 1, 1, 2, 2, 3, 3, 4, 4,
                                  5, 5, 6, 6, 7, 7, 8, 8, 5, 5, 6, 6, 7, 7, 8, 8}));
  Bitmap *half = cvx_scale_ll(src, 2, 1);
  ASSERT_NE(half, nullptr);
  EXPECT_EQ(bytes_of(half, 2), (std::vector<uint8_t>{1, 3}));
  gx_freebitmap(half);
  gx_freebitmap(big);
  gx_freebitmap(src);
}

// A photograph's three-byte buffer read as one byte a pixel, at sizes that shrink, enlarge,
// keep one axis, reach 1 x 1 and use odd counts, each against the per-pixel model.
TEST_F(FrameEffects, ScaleOfAPhotographMatchesThePerPixelModel) {
  const test::Image im = test::load_image("coffee.ppm");
  Bitmap *src = test::image_bitmap(im);
  ASSERT_NE(src, nullptr);
  const int32_t w = im.width, h = im.height;
  const int32_t sizes[][2] = {{w, h},         {w / 2, h / 2}, {2 * w, 2 * h}, {w, 3 * h + 1},
                              {1, 1},         {7, 1},         {1, 9},         {333, 211},
                              {w + 1, h - 1}, {3 * w - 1, h}};
  for (const auto &s : sizes) {
    Bitmap *r = cvx_scale_ll(src, s[0], s[1]);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(bytes_of(r, static_cast<size_t>(s[0]) * s[1]),
              scale_model(src->pixels, w, h, s[0], s[1]))
        << s[0] << "x" << s[1];
    gx_freebitmap(r);
  }
  // The same size is a byte-for-byte copy of the first W x H bytes; the source is unchanged.
  Bitmap *same = cvx_scale_ll(src, w, h);
  ASSERT_NE(same, nullptr);
  EXPECT_EQ(0, std::memcmp(same->pixels, im.rgb.data(), static_cast<size_t>(w) * h));
  EXPECT_EQ(0, std::memcmp(src->pixels, im.rgb.data(), im.rgb.size()));
  gx_freebitmap(same);
  gx_freebitmap(src);
}

TEST_F(FrameEffects, ScaleRefusesWhatItCannotSample) {
  std::vector<uint8_t> px(12, 7);
  Bitmap *src = bitmap_of(px, 4, 3, 1);
  EXPECT_EQ(cvx_scale_ll(nullptr, 2, 2), nullptr);
  EXPECT_EQ(cvx_scale_ll(src, -1, 2), nullptr);
  EXPECT_EQ(cvx_scale_ll(src, 2, -1), nullptr);
  src->bytes_per_pixel = 0;  // cannot hold one byte a pixel
  EXPECT_EQ(cvx_scale_ll(src, 2, 2), nullptr);
  src->bytes_per_pixel = 1;
  src->height = -3;
  EXPECT_EQ(cvx_scale_ll(src, 2, 2), nullptr);
  src->height = 0;  // nothing to sample for a non-empty result, but an empty one is fine
  EXPECT_EQ(cvx_scale_ll(src, 2, 2), nullptr);
  Bitmap *empty = cvx_scale_ll(src, 0, 5);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->width, 0);
  EXPECT_EQ(empty->height, 5);
  gx_freebitmap(empty);
  src->height = 3;
  // 4 x (W' - 1) past 2^31: the column positions would wrap.
  EXPECT_EQ(cvx_scale_ll(src, 600000000, 1), nullptr);
  EXPECT_EQ(cvx_scale_ll(src, 1, 800000000), nullptr);
  gx_freebitmap(src);

  // A wide source whose products just fit, and just do not.
  std::vector<uint8_t> wide(70000);
  std::iota(wide.begin(), wide.end(), 0);
  src = bitmap_of(wide, 70000, 1, 1);
  const int32_t fits = INT32_MAX / 70000 + 1;
  Bitmap *ok = cvx_scale_ll(src, fits, 1);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->pixels[fits - 1], wide[70000 * (fits - 1) / fits]);
  gx_freebitmap(ok);
  EXPECT_EQ(cvx_scale_ll(src, INT32_MAX / 70000 + 2, 1), nullptr);
  gx_freebitmap(src);
}

TEST_F(FrameEffects, ScaleReleasesEverythingWhenMemoryRunsOut) {
  std::vector<uint8_t> px(35);
  std::iota(px.begin(), px.end(), 1);
  Bitmap *src = bitmap_of(px, 7, 5, 1);
  const int made = test::sweep_allocation_failures([&](int failing) {
    Bitmap *r = cvx_scale_ll(src, 11, 4);
    if (failing != 0) {
      EXPECT_EQ(r, nullptr) << "allocation " << failing << " failed";
    } else {
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(bytes_of(r, 44), scale_model(px.data(), 7, 5, 11, 4));
    }
    gx_freebitmap(r);
  });
  EXPECT_EQ(made, 3);  // record, pixels, column table
  gx_freebitmap(src);
}

// ---- Level correction -----------------------------------------------------------------

std::vector<uint8_t> table_of(int32_t contrast, int32_t offset, int32_t invert) {
  std::vector<uint8_t> t(256);
  build_level_table(t.data(), contrast, offset, invert);
  return t;
}

TEST(LevelTable, PrecisionAndOrderOfTheSteps) {
  // Single-precision product: 28 lands just below 113.
  auto t = table_of(15, 0, 0);
  EXPECT_EQ(t[28], 112);
  EXPECT_EQ(t[0], 108);
  EXPECT_EQ(t[128], 128);
  // Truncation toward zero before the offset: -62.5 + 128 -> -62 -> 38, not 37.
  t = table_of(150, 100, 0);
  EXPECT_EQ(t[0], 36);
  EXPECT_EQ(t[1], 38);
  t = table_of(200, 0, 0);
  for (int i = 0; i <= 64; ++i) EXPECT_EQ(t[i], 0) << i;
  EXPECT_EQ(t[65], 2);
  EXPECT_EQ(t[191], 254);
  for (int i = 192; i < 256; ++i) EXPECT_EQ(t[i], 255) << i;
  t = table_of(50, 0, 0);
  EXPECT_EQ(t[0], 64);
  EXPECT_EQ(t[1], 64);
  EXPECT_EQ(t[255], 191);
  t = table_of(-100, 0, 0);
  EXPECT_EQ(t[0], 255);
  EXPECT_EQ(t[1], 255);
  EXPECT_EQ(t[128], 128);
  EXPECT_EQ(t[255], 1);
}

TEST(LevelTable, FlatTablesAndTheExtremes) {
  std::vector<uint8_t> identity(256);
  std::iota(identity.begin(), identity.end(), 0);
  EXPECT_EQ(table_of(100, 0, 0), identity);
  EXPECT_EQ(table_of(0, 0, 1), std::vector<uint8_t>(256, 127));
  EXPECT_EQ(table_of(0, 0, 0), std::vector<uint8_t>(256, 128));
  EXPECT_EQ(table_of(100, -256, 0), std::vector<uint8_t>(256, 0));
  EXPECT_EQ(table_of(100, -256, -1), std::vector<uint8_t>(256, 255));
  // Huge settings neither wrap nor overflow: the clamp decides.
  EXPECT_EQ(table_of(100, INT32_MAX, 0), std::vector<uint8_t>(256, 255));
  EXPECT_EQ(table_of(100, INT32_MIN, 0), std::vector<uint8_t>(256, 0));
  for (int32_t contrast : {INT32_MAX, INT32_MIN}) {
    const auto t = table_of(contrast, 0, 0);
    for (int i = 0; i < 256; ++i) {
      const bool up = (i > 128) == (contrast > 0);
      EXPECT_EQ(t[i], i == 128 ? 128 : (up ? 255 : 0)) << contrast << " " << i;
    }
  }
  EXPECT_EQ(table_of(INT32_MAX, INT32_MIN, 0)[255], 255);  // 2.7e9 - 2^31 is still high
}

TEST_F(FrameEffects, CorrectRewritesEveryByteOfTheFrameAndNoMore) {
  const test::Image im = test::load_image("astronaut.ppm");
  // The record covers all but the last row of the buffer: that row must stay.
  Bitmap *b = bitmap_of(im.rgb, im.width, im.height - 1, 3);
  const size_t n = static_cast<size_t>(im.width) * (im.height - 1) * 3;
  cvx_correct_ll(b, 135, -20, 1);
  const auto t = table_of(135, -20, 1);
  for (size_t k = 0; k < im.rgb.size(); ++k) {
    const uint8_t want = k < n ? t[im.rgb[k]] : im.rgb[k];
    if (b->pixels[k] != want) {
      ADD_FAILURE() << "byte " << k << ": " << int(b->pixels[k]) << " != " << int(want);
      break;
    }
  }
  gx_freebitmap(b);
}

TEST_F(FrameEffects, CorrectLeavesUnusableFramesAlone) {
  cvx_correct_ll(nullptr, 150, 10, 0);
  const std::vector<uint8_t> px(12, 40);
  Bitmap *b = bitmap_of(px, 2, 2, 3);
  for (const auto &[w, h, bpp] :
       {std::tuple{-2, 2, 3}, {2, -2, 3}, {2, 2, -3}, {2, 2, 0}, {65536, 65536, 3}, {0, 2, 3}}) {
    b->width = w;
    b->height = h;
    b->bytes_per_pixel = bpp;
    cvx_correct_ll(b, 100, 50, 1);
    EXPECT_EQ(bytes_of(b, 12), px) << w << "x" << h << "x" << bpp;
  }
  gx_freebitmap(b);
}

// The permute path gives the plain path's bytes for every byte value, under settings tables
// and random tables, at every length and start around the 64- and 128-byte steps.
TEST(LevelTable, WideLookupEqualsThePlainLoop) {
  if (best_isa() != Isa::kAvx512Vbmi) GTEST_SKIP() << "CPU lacks the permute instructions";
  std::vector<std::vector<uint8_t>> tables;
  for (int32_t c : {-300, -100, 0, 15, 50, 100, 150, 200, 1000})
    for (int32_t o : {-256, -40, 0, 100})
      for (int32_t inv : {0, 1}) tables.push_back(table_of(c, o, inv));
  std::mt19937 rng(7);
  for (int i = 0; i < 64; ++i) {
    std::vector<uint8_t> t(256);
    for (auto &v : t) v = static_cast<uint8_t>(rng());
    tables.push_back(t);
  }
  std::vector<uint8_t> all(3 * 256 + 1 + 300);
  for (size_t k = 0; k < all.size(); ++k) all[k] = static_cast<uint8_t>(k * 167 + 13);
  for (const auto &t : tables) {
    for (size_t start : {size_t{0}, size_t{1}, size_t{63}}) {
      for (size_t n : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{127},
                       size_t{128}, size_t{129}, size_t{200}, size_t{768}}) {
        std::vector<uint8_t> plain = all, wide = all;
        apply_table_plain(plain.data() + start, n, t.data());
        apply_table_avx512vbmi(wide.data() + start, n, t.data());
        ASSERT_EQ(plain, wide) << "start " << start << " n " << n;
      }
    }
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
  for (Isa isa : runnable_isas()) {
    for (int32_t level = 0; level < 256; ++level) {
      out.back() = 0xEE;
      fade_bytes(isa, a.data(), b.data(), out.data(), a.size(), static_cast<uint8_t>(level));
      for (size_t k = 0; k < a.size(); ++k) {
        const int32_t want = (b[k] * level + a[k] * (255 - level)) / 255;
        if (out[k] != want) {
          FAIL() << "a " << int(a[k]) << " b " << int(b[k]) << " level " << level << ": "
                 << int(out[k]) << " != " << want;
        }
      }
      ASSERT_EQ(out.back(), 0xEE);
    }
  }
}

TEST(Fades, CrossFadeWorkedValuesAndLevelsOutsideTheRange) {
  auto one = [](uint8_t a, uint8_t b, int32_t level) {
    uint8_t out = 0;
    cvx_fadeover_ll(&a, &b, &out, level, 1, 1, 1);
    return int(out);
  };
  EXPECT_EQ(one(100, 200, 64), 125);
  EXPECT_EQ(one(255, 0, 128), 127);
  EXPECT_EQ(one(0, 255, 128), 128);
  EXPECT_EQ(one(100, 200, 0), 100);
  EXPECT_EQ(one(100, 200, 255), 200);
  EXPECT_EQ(one(100, 200, 256), 200);
  EXPECT_EQ(one(100, 200, INT32_MAX), 200);
  EXPECT_EQ(one(100, 200, -1), 100);
  EXPECT_EQ(one(100, 200, INT32_MIN), 100);
}

// Two photographs: writing over A or over B gives the bytes of a separate output, and the
// byte after the frame is never written.
TEST(Fades, CrossFadeInPlaceEqualsSeparateOutput) {
  const int32_t w = 511, h = 399;  // odd sizes: the vector loops end in a remainder
  const auto a = crop(test::load_image("astronaut.ppm"), w, h);
  const auto b = crop(test::load_image("coffee.ppm"), w, h);
  for (int32_t level : {1, 77, 200}) {
    std::vector<uint8_t> out(a.size() + 1, 0xEE);
    cvx_fadeover_ll(a.data(), b.data(), out.data(), level, w, h, 3);
    EXPECT_EQ(out.back(), 0xEE);
    out.pop_back();
    auto over_a = a, over_b = b;
    cvx_fadeover_ll(over_a.data(), b.data(), over_a.data(), level, w, h, 3);
    cvx_fadeover_ll(a.data(), over_b.data(), over_b.data(), level, w, h, 3);
    EXPECT_EQ(over_a, out) << level;
    EXPECT_EQ(over_b, out) << level;
    // An output one byte past A overlaps it: every byte still follows the formula, in order.
    std::vector<uint8_t> shifted(a.size() + 1, 0);
    std::copy(a.begin(), a.end(), shifted.begin());
    cvx_fadeover_ll(shifted.data(), b.data(), shifted.data() + 1, level, w, h, 3);
    uint8_t prev = a[0];
    for (size_t k = 0; k < 64; ++k) {
      const int want = (b[k] * level + prev * (255 - level)) / 255;
      ASSERT_EQ(shifted[k + 1], want) << k;
      prev = static_cast<uint8_t>(want);
    }
  }
}

TEST(Fades, CrossFadeOfBadSizesWritesNothing) {
  const std::vector<uint8_t> a(8, 10), b(8, 250);
  std::vector<uint8_t> out(8, 0xEE);
  for (const auto &[w, h, bpp] : {std::tuple{-1, 2, 3},
                                  {2, -1, 3},
                                  {2, 2, -3},
                                  {0, 2, 3},
                                  {65536, 65536, 1},
                                  {2, 65536, 65536}}) {
    cvx_fadeover_ll(a.data(), b.data(), out.data(), 128, w, h, bpp);
  }
  cvx_fadeover_ll(nullptr, b.data(), out.data(), 128, 2, 2, 2);
  cvx_fadeover_ll(a.data(), nullptr, out.data(), 128, 2, 2, 2);
  cvx_fadeover_ll(a.data(), b.data(), nullptr, 128, 2, 2, 2);
  EXPECT_EQ(out, std::vector<uint8_t>(8, 0xEE));
}

// Every byte value, as a 16 x 16 frame of one byte a pixel.
std::vector<uint8_t> every_byte() {
  std::vector<uint8_t> v(256);
  std::iota(v.begin(), v.end(), 0);
  return v;
}

TEST_F(FrameEffects, SpecialFadeRaisesBytesBelowTheThreshold) {
  for (int32_t level : {INT32_MIN, -2, -1, 0, 1, 99, 200, 253, 254, 255, 256, INT32_MAX}) {
    Bitmap *f = bitmap_of(every_byte(), 16, 16, 1);
    cvx_specialfade_ll(f, level);
    for (int v = 0; v < 256; ++v) {
      // Below level + 1 a byte becomes level + 1; past 254 there is no higher byte than 255.
      const int want = v < int64_t{level} + 1 ? std::min<int64_t>(int64_t{level} + 1, 255) : v;
      ASSERT_EQ(f->pixels[v], want) << "level " << level << " byte " << v;
    }
    gx_freebitmap(f);
  }
  for (Isa isa : runnable_isas()) {  // every floor on every kernel, odd lengths
    for (int floor = 0; floor < 256; ++floor) {
      auto v = every_byte();
      raise_bytes(isa, v.data(), 255, static_cast<uint8_t>(floor));
      for (int k = 0; k < 255; ++k) ASSERT_EQ(v[k], std::max(k, floor));
      ASSERT_EQ(v[255], 255);
    }
  }
}

TEST_F(FrameEffects, SpecialFadeWorksOnTheRecordsBytesOnly) {
  const test::Image im = test::load_image("coffee.ppm");
  Bitmap *f = bitmap_of(im.rgb, im.width, im.height - 2, 3);  // two rows outside the record
  cvx_specialfade_ll(f, 99);
  const size_t n = static_cast<size_t>(im.width) * (im.height - 2) * 3;
  for (size_t k = 0; k < im.rgb.size(); ++k) {
    const uint8_t want = k < n ? std::max<uint8_t>(im.rgb[k], 100) : im.rgb[k];
    ASSERT_EQ(f->pixels[k], want) << k;
  }
  cvx_specialfade_ll(nullptr, 50);
  f->bytes_per_pixel = -3;
  cvx_specialfade_ll(f, 200);
  f->bytes_per_pixel = 3;
  f->width = 1 << 22;  // a size that does not fit
  cvx_specialfade_ll(f, 200);
  f->width = im.width;
  for (size_t k = 0; k < n; ++k) ASSERT_EQ(f->pixels[k], std::max<uint8_t>(im.rgb[k], 100));
  gx_freebitmap(f);
}

TEST_F(FrameEffects, SpecialFadeOverReplacesDarkBytesByTheOtherFrame) {
  const auto b_bytes = std::vector<uint8_t>(256, 0xB0);
  for (auto fade : {cvx_specialfadeover_ll, cvx_flickerover_ll}) {
    for (int32_t level : {INT32_MIN, -1, 0, 1, 50, 254, 255, INT32_MAX}) {
      Bitmap *a = bitmap_of(every_byte(), 16, 16, 1);
      fade(a, b_bytes.data(), level);
      for (int v = 0; v < 256; ++v)
        ASSERT_EQ(a->pixels[v], v < int64_t{level} + 1 ? 0xB0 : v) << level << " " << v;
      gx_freebitmap(a);
    }
  }
  // A colour pixel's channels are replaced one by one.
  Bitmap *a = bitmap_of({10, 200, 30}, 1, 1, 3);
  const uint8_t b[3] = {1, 2, 3};
  cvx_specialfadeover_ll(a, b, 50);
  EXPECT_EQ(bytes_of(a, 3), (std::vector<uint8_t>{1, 200, 3}));
  gx_freebitmap(a);
  for (Isa isa : runnable_isas()) {  // every threshold on every kernel, odd lengths
    for (int t = 1; t < 256; ++t) {
      auto v = every_byte();
      replace_below(isa, v.data(), b_bytes.data(), 255, static_cast<uint8_t>(t));
      for (int k = 0; k < 255; ++k) ASSERT_EQ(v[k], k < t ? 0xB0 : k);
      ASSERT_EQ(v[255], 255);
    }
  }
}

TEST_F(FrameEffects, SpecialFadeOverOfPhotographsAndOverlappingBuffers) {
  const int32_t w = 301, h = 97;
  const auto pa = crop(test::load_image("astronaut.ppm"), w, h);
  const auto pb = crop(test::load_image("coffee.ppm"), w, h);
  Bitmap *a = bitmap_of(pa, w, h, 3);
  cvx_specialfadeover_ll(a, pb.data(), 120);
  for (size_t k = 0; k < pa.size(); ++k) ASSERT_EQ(a->pixels[k], pa[k] < 121 ? pb[k] : pa[k]) << k;
  // B starting one byte before A's own buffer: each byte sees B as the bytes before it were
  // left, in order, at a middle level and at the copy-everything level.
  for (int32_t level : {120, 300}) {
    std::vector<uint8_t> buf(pa.size() + 1);
    std::copy(pa.begin(), pa.end(), buf.begin() + 1);
    buf[0] = 3;
    std::vector<uint8_t> model = buf;
    for (size_t k = 0; k < pa.size(); ++k)
      if (model[k + 1] < int64_t{level} + 1) model[k + 1] = model[k];
    Bitmap rec{buf.data() + 1, w, h, 3};
    cvx_specialfadeover_ll(&rec, buf.data(), level);
    ASSERT_EQ(buf, model) << level;
  }
  // Unusable frames and a missing B do nothing.
  const auto before = bytes_of(a, pa.size());
  cvx_specialfadeover_ll(a, nullptr, 200);
  cvx_specialfadeover_ll(nullptr, pb.data(), 200);
  a->height = -1;
  cvx_flickerover_ll(a, pb.data(), 200);
  a->height = h;
  EXPECT_EQ(bytes_of(a, pa.size()), before);
  gx_freebitmap(a);
}

// ---- Deinterlace ----------------------------------------------------------------------

TEST_F(FrameEffects, DeinterlaceCopiesEvenRowsOverOddRows) {
  const test::Image im = test::load_image("astronaut.ppm");
  const int32_t w = 13;
  for (int32_t h : {0, 1, 2, 4, 5, 9}) {
    const auto px = crop(im, w, 10);  // one row more than any height: it must stay
    Bitmap *f = bitmap_of(px, w, h, 3);
    cvx_deinterlace_ll(f);
    const size_t row = 3 * w;
    for (int32_t y = 0; y < 10; ++y) {
      const int32_t from = (y % 2 == 1 && y < h - h % 2) ? y - 1 : y;
      ASSERT_EQ(0, std::memcmp(f->pixels + y * row, px.data() + from * row, row))
          << "height " << h << " row " << y;
    }
    const auto once = bytes_of(f, px.size());
    cvx_deinterlace_ll(f);
    EXPECT_EQ(bytes_of(f, px.size()), once) << "a second pass changes nothing";
    gx_freebitmap(f);
  }
}

TEST_F(FrameEffects, DeinterlaceNeedsThreeBytesAPixel) {
  std::vector<uint8_t> px(24);
  std::iota(px.begin(), px.end(), 1);
  Bitmap *f = bitmap_of(px, 4, 2, 1);  // 8 bytes of frame, but rows would be 12 bytes
  cvx_deinterlace_ll(f);
  EXPECT_EQ(bytes_of(f, 24), px);
  for (const auto &[w, h] : {std::pair{-4, 2}, {4, -2}, {1 << 30, 2}}) {
    f->width = w;
    f->height = h;
    f->bytes_per_pixel = 3;
    cvx_deinterlace_ll(f);
    EXPECT_EQ(bytes_of(f, 24), px);
  }
  cvx_deinterlace_ll(nullptr);
  // A wider field holds three bytes a pixel: rows stay 3 x width bytes.
  f->width = 2;
  f->height = 2;
  f->bytes_per_pixel = 4;
  cvx_deinterlace_ll(f);
  EXPECT_EQ(0, std::memcmp(f->pixels + 6, px.data(), 6));
  EXPECT_EQ(0, std::memcmp(f->pixels + 12, px.data() + 12, 12));
  gx_freebitmap(f);
}

}  // namespace
}  // namespace corvix
