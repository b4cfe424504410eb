// Level statistics and stretches: worked values, bound order and empty spans, the master pair
// after the colour pairs, the automatic stretch and its allocation failures.
#include <array>
#include <tuple>
#include <vector>

#include "tests/support.h"

namespace corvix {
namespace {

using Bytes = std::vector<uint8_t>;

class EffectsLevels : public test::LeakCheck {};

// One row of pixels stretched by the eight bounds.
Bytes stretched(Bytes px, const std::array<int32_t, 8> &k) {
  Bitmap b{px.data(), int32_t(px.size() / 3), 1, 3};
  fxx_minmax_ll(&b, k[0], k[1], k[2], k[3], k[4], k[5], k[6], k[7]);
  return px;
}

// Channels 1 to 3 are bytes 0 to 2, channel 0 the truncated average (761 / 3 gives 253);
// other channels and an empty frame sample nothing and give low 255, high 0.
TEST_F(EffectsLevels, FindSamplesAChannelOrTheTruncatedAverage) {
  Bytes px = {2, 1, 0, 255, 254, 252, 7, 200, 30};
  // {width, channel, low, high}
  // clang-format off
  const int32_t want[][4] = {{3, 0, 1, 253}, {3, 1, 2, 255}, {3, 2, 1, 254}, {3, 3, 0, 252},
                             {3, 4, 255, 0}, {3, -1, 255, 0}, {0, 1, 255, 0}};
  // clang-format on
  for (const auto &e : want) {
    Bitmap b{px.data(), e[0], 1, 3};
    LevelRange *r = fxx_findminmax_ll(&b, e[1]);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::tie(r->minimum, r->maximum), std::tie(e[2], e[3])) << e[0] << " " << e[1];
    PPCFreeVec(r);
  }
}

TEST(LevelStretch, WorkedValues) {
  // Red 10..200 ((105 - 10) x 255 / 190 = 127.5 truncates), green the same pair reversed,
  // blue -255..255.
  EXPECT_EQ(stretched({9, 9, 0, 10, 10, 255, 105, 105, 1, 200, 200, 128, 201, 201, 254},
                      {10, 200, 200, 10, -255, 255, 0, 255}),
            (Bytes{0, 0, 127, 0, 0, 255, 127, 127, 128, 255, 255, 191, 255, 255, 254}));
  // Red 77..77 maps everything to 0; green 0..127 then master 100..255: 100 becomes 200,
  // then (200 - 100) x 255 / 155 = 164 (the master applied first would give 0).
  EXPECT_EQ(stretched({0, 100, 30, 77, 50, 100, 255, 127, 255}, {77, 77, 0, 127, 0, 255, 100, 255}),
            (Bytes{0, 164, 0, 0, 0, 0, 0, 255, 255}));
  // Bounds as far apart as 32 bits allow: no overflow, a straight line from the middle.
  EXPECT_EQ(stretched({0, 255, 128},
                      {INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN, 0, 255}),
            (Bytes{127, 127, 127}));
  EXPECT_EQ(fx_minmax(10, 20, 5), 5);  // raised to low, then lowered to high
}

// The routines that allocate, with each allocation failing in turn: a measurement gives NULL,
// and the automatic stretch, when any of its three measurements fails, leaves the frame as it
// was. Red 77..77, green 10..200 with 105 between, blue already full range; the fourth pixel
// is outside the record and stays (this also guards the stretch by bounds, which writes).
TEST_F(EffectsLevels, MeasurementAndAutomaticStretchWhenMemoryRunsOut) {
  const Bytes start = {77, 10, 0, 77, 105, 255, 77, 200, 128, 1, 2, 3};
  const Bytes done = {0, 0, 0, 0, 127, 255, 0, 255, 128, 1, 2, 3};
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              Bytes px = start;
              Bitmap b{px.data(), 3, 1, 3};
              LevelRange *r = fxx_findminmax_ll(&b, 2);
              EXPECT_EQ(r == nullptr, failing == 1);
              PPCFreeVec(r);
              fxx_min_max_ll(&b);
              EXPECT_EQ(px, failing > 1 ? start : done) << failing;
            }),
            4);
}

}  // namespace
}  // namespace corvix
