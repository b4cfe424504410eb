// Level statistics and stretches: worked values, bound order and empty spans, composition
// with the master pair, the automatic stretch and its allocation failures, photographs.
#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "effects/frame_kernels.h"
#include "tests/support.h"

namespace corvix {
namespace {

using Bytes = std::vector<uint8_t>;

class EffectsLevels : public test::LeakCheck {};

// A frame of pixels given as (byte 0, byte 1, byte 2) triples.
Bitmap *make_frame(const Bytes &bytes) {
  Bitmap *b = gx_allocrawbitmap(int32_t(bytes.size() / 3), 1, 3);
  std::memcpy(b->pixels, bytes.data(), bytes.size());
  return b;
}

Bytes bytes_of(const Bitmap *b) {
  return Bytes(b->pixels, b->pixels + 3 * size_t(b->width) * b->height);
}

LevelRange find(const Bitmap *b, int32_t channel) {
  LevelRange *r = fxx_findminmax_ll(b, channel);
  if (r == nullptr) return {-1, -1};
  const LevelRange copy = *r;
  PPCFreeVec(r);
  return copy;
}

TEST_F(EffectsLevels, FindSamplesAChannelOrTheTruncatedAverage) {
  Bitmap *b = make_frame({1, 1, 0, 255, 255, 254, 7, 200, 30});
  const LevelRange want[] = {{0, 254}, {1, 255}, {1, 255}, {0, 254}, {255, 0}, {255, 0}};
  const int32_t channels[] = {0, 1, 2, 3, 4, -1};
  for (int i = 0; i < 6; ++i) {
    const LevelRange r = find(b, channels[i]);
    EXPECT_EQ(r.minimum, want[i].minimum) << "channel " << channels[i];
    EXPECT_EQ(r.maximum, want[i].maximum) << "channel " << channels[i];
  }
  b->width = 0;  // empty: nothing sampled
  EXPECT_EQ(find(b, 1).minimum, 255);
  EXPECT_EQ(find(b, 1).maximum, 0);
  b->width = 3;
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              LevelRange *r = fxx_findminmax_ll(b, 2);
              EXPECT_EQ(r == nullptr, failing != 0);
              PPCFreeVec(r);
            }),
            1);
  gx_freebitmap(b);
}

TEST_F(EffectsLevels, StretchWorkedValuesAndBoundOrder) {
  // Red 10..200, green the same pair reversed, blue -255..255.
  Bitmap *b = make_frame({9, 9, 0, 10, 10, 255, 105, 105, 1, 200, 200, 128, 201, 201, 254});
  fxx_minmax_ll(b, 10, 200, 200, 10, -255, 255, 0, 255);
  EXPECT_EQ(bytes_of(b),
            (Bytes{0, 0, 127, 0, 0, 255, 127, 127, 128, 255, 255, 191, 255, 255, 254}));
  gx_freebitmap(b);
  // Master 64..191 over identity colour pairs.
  const Bytes levels = {0, 64, 65, 127, 190, 191, 255};
  const Bytes want = {0, 0, 2, 126, 252, 255, 255};
  Bytes grey, grey_want;
  for (size_t i = 0; i < levels.size(); ++i) {
    grey.insert(grey.end(), 3, levels[i]);
    grey_want.insert(grey_want.end(), 3, want[i]);
  }
  b = make_frame(grey);
  fxx_minmax_ll(b, 0, 255, 0, 255, 0, 255, 64, 191);
  EXPECT_EQ(bytes_of(b), grey_want);
  gx_freebitmap(b);
}

TEST_F(EffectsLevels, EmptySpansThenTheMasterAfterTheColourPair) {
  // Red 77..77 maps everything to 0; green 0..127 then master 100..255: 100 becomes 200,
  // then (200 - 100) x 255 / 155 = 164 (the master applied first would give 0).
  Bitmap *b = make_frame({0, 100, 30, 77, 50, 100, 255, 127, 255});
  fxx_minmax_ll(b, 77, 77, 0, 127, 0, 255, 100, 255);
  EXPECT_EQ(bytes_of(b), (Bytes{0, 164, 0, 0, 0, 0, 0, 255, 255}));
  gx_freebitmap(b);
  // Bounds as far apart as 32 bits allow: no overflow, a straight line from the middle.
  b = make_frame({0, 255, 128});
  fxx_minmax_ll(b, INT_MIN, INT_MAX, INT_MIN, INT_MAX, INT_MAX, INT_MIN, 0, 255);
  EXPECT_EQ(bytes_of(b), (Bytes{127, 127, 127}));
  gx_freebitmap(b);
  EXPECT_EQ(fx_minmax(300, 0, 255), 255);
  EXPECT_EQ(fx_minmax(-5, 0, 255), 0);
  EXPECT_EQ(fx_minmax(10, 20, 5), 5);
  EXPECT_EQ(fx_minmax(INT_MIN, INT_MIN, INT_MAX), INT_MIN);
  fxm_perc(42);
}

TEST_F(EffectsLevels, AutomaticStretchPerChannel) {
  // Red all 77, green 10..200 with 105 between, blue already full range.
  Bitmap *b = make_frame({77, 10, 0, 77, 105, 255, 77, 200, 128});
  const Bytes start = bytes_of(b);
  const int made = test::sweep_allocation_failures([&](int failing) {
    std::memcpy(b->pixels, start.data(), start.size());
    fxx_min_max_ll(b);
    if (failing == 0)
      EXPECT_EQ(bytes_of(b), (Bytes{0, 0, 0, 0, 127, 255, 0, 255, 128}));
    else
      EXPECT_EQ(bytes_of(b), start) << "allocation " << failing << " failed";
  });
  EXPECT_EQ(made, 3);
  b->width = 0;  // empty: pairs (255, 0) ordered to (0, 255), nothing to rewrite
  fxx_min_max_ll(b);
  gx_freebitmap(b);
}

TEST_F(EffectsLevels, PhotographRangesAndAutomaticStretch) {
  // The photograph's full-range channels squeezed into 30..220, 5..250 and 60..180.
  test::Image im = test::load_image("coffee.ppm");
  const int lo[3] = {30, 5, 60}, hi[3] = {220, 250, 180};
  for (size_t i = 0; i < im.rgb.size(); ++i)
    im.rgb[i] = uint8_t(lo[i % 3] + im.rgb[i] * (hi[i % 3] - lo[i % 3]) / 255);
  Bitmap *b = test::image_bitmap(im);
  LevelRange r[3];
  for (int c = 0; c < 3; ++c) {
    r[c] = find(b, c + 1);
    EXPECT_EQ(r[c].minimum, lo[c]);
    EXPECT_EQ(r[c].maximum, hi[c]);
  }
  // The automatic stretch is the stretch by the measured ranges, and fills 0..255 again.
  Bitmap *manual = test::image_bitmap(im);
  fxx_minmax_ll(manual, r[0].minimum, r[0].maximum, r[1].minimum, r[1].maximum, r[2].minimum,
                r[2].maximum, 0, 255);
  fxx_min_max_ll(b);
  EXPECT_EQ(bytes_of(b), bytes_of(manual));
  for (int c = 1; c <= 3; ++c) {
    EXPECT_EQ(find(b, c).minimum, 0);
    EXPECT_EQ(find(b, c).maximum, 255);
  }
  gx_freebitmap(manual);
  gx_freebitmap(b);
}

// The faster walks against the plain ones: every byte value in every channel position, all
// lengths up to a few register blocks (exact-size buffers), ranges with planted extremes.
TEST(EffectsLevelsKernels, FastPathsMatchThePlainOnes) {
  std::mt19937 rng(11);
  uint8_t tables[3][256];
  for (auto &t : tables)
    for (auto &v : t) v = uint8_t(rng());
  for (int64_t count = 0; count < 400; ++count) {
    Bytes a(3 * size_t(count));
    for (size_t i = 0; i < a.size(); ++i) a[i] = uint8_t(i / 3 + 85 * (i % 3) + count);
    Bytes b = a;
    lookup_pixels_plain(a.data(), count, tables);
    lookup_pixels(b.data(), count, tables);
    ASSERT_EQ(a, b) << count;
    // Values inside 40..199, one pixel somewhere pushed to the ends.
    for (auto &v : b) v = uint8_t(40 + rng() % 160);
    if (count > 0) {
      const size_t at = 3 * (rng() % count);
      b[at] = 3, b[at + 1] = 250;
    }
    const ChannelRanges p = channel_ranges_plain(b.data(), count),
                        f = channel_ranges(b.data(), count);
    for (int c = 0; c < 3; ++c) {
      ASSERT_EQ(p.low[c], f.low[c]) << count;
      ASSERT_EQ(p.high[c], f.high[c]) << count;
    }
  }
}

}  // namespace
}  // namespace corvix
