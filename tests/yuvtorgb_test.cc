// YUV to three-byte conversion: tables, worked values, groups and counts, vector kernels.
#include <random>
#include <vector>

#include "core/cpu.h"
#include "colour/yuv_tables.h"
#include "colour/yuvtorgb_simd.h"
#include "tests/support.h"

namespace corvix {
namespace {

// The integer form of every table entry equals the truncated double product, and worked
// pixels come out exactly, nothing written past them.
TEST(YuvToRgb, TablesTruncateTowardZeroAndWorkedValuesHold) {
  YuvTables t;
  build_yuv_tables(t);
  for (int i = 0; i < 256; ++i) {
    const int c = i - 128;
    EXPECT_TRUE(t.luma[i] == (i - 16) * 1164 / 1000 && t.cr_red[i] == c * 1596 / 1000 &&
                t.cr_green[i] == c * 813 / 1000 && t.cb_blue[i] == c * 2018 / 1000 &&
                t.cb_green[i] == c * 391 / 1000)
        << i;
  }
  // {Y, Cr, Cb, byte 0, byte 1, byte 2}
  const uint8_t cases[][6] = {{16, 128, 128, 0, 0, 0},        {126, 128, 128, 128, 128, 128},
                              {235, 128, 128, 254, 254, 254}, {255, 128, 128, 255, 255, 255},
                              {81, 240, 90, 0, 0, 253},       {145, 34, 54, 1, 254, 0},
                              {41, 110, 240, 255, 0, 1},      {100, 200, 50, 0, 69, 211}};
  for (const uint8_t *c : cases) {
    uint8_t out[4] = {0, 0, 0, 0xEE};
    fx_yuvtorgb_ll(&c[0], &c[1], &c[2], out, 1, 1);
    EXPECT_TRUE(out[0] == c[3] && out[1] == c[4] && out[2] == c[5] && out[3] == 0xEE)
        << int(c[0]) << "," << int(c[1]) << "," << int(c[2]);  // and nothing past the pixel
  }
}

// Count 6 in groups of 4 converts 8 pixels (the byte after them untouched), as the whole-group
// call does; pixels 0..3 take chroma pair 0, 4..7 pair 1; group 0 converts nothing.
TEST(YuvToRgb, WholeGroupsSharedChromaAndNothingPastTheEnd) {
  const uint8_t y[8] = {16, 50, 90, 130, 170, 210, 235, 255};
  const uint8_t cr[2] = {200, 60}, cb[2] = {50, 220};
  std::vector<uint8_t> a(25, 0xEE), b(25, 0xEE), d(24, 0xEE);
  gx_yuv_to_rgb(y, cr, cb, a.data(), 6, 4);
  gx_yuvtorgb(y, cr, cb, b.data(), 8);
  EXPECT_TRUE(a[24] == 0xEE && a == b);
  for (int i = 0; i < 8; ++i) fx_yuvtorgb_ll(&y[i], &cr[i / 4], &cb[i / 4], &b[3 * i], 1, 1);
  EXPECT_EQ(a, b);
  fx_yuvtorgb_ll(y, cr, cb, d.data(), 8, 0);
  EXPECT_EQ(d, std::vector<uint8_t>(24, 0xEE));
}

// ---- Vector kernels against the plain loop ------------------------------------------

// The public routine at every level this CPU runs.
class YuvToRgbKernels : public test::AtEachLevel {};
CORVIX_AT_EACH_LEVEL(YuvToRgbKernels);

// Every Y against every Cb, one Cr value at a time, 4:4:4.
TEST_P(YuvToRgbKernels, EveryTripleConvertsLikeThePlainLoop) {
  std::vector<uint8_t> y(65536), cr(65536), cb(65536), plain(3 * 65536), fast(3 * 65536);
  for (size_t i = 0; i < 65536; ++i) {
    y[i] = static_cast<uint8_t>(i);
    cb[i] = static_cast<uint8_t>(i >> 8);
  }
  for (int r = 0; r < 256; ++r) {
    std::fill(cr.begin(), cr.end(), static_cast<uint8_t>(r));
    yuv_to_rgb_plain(y.data(), cr.data(), cb.data(), plain.data(), 65536, 1);
    fx_yuvtorgb_ll(y.data(), cr.data(), cb.data(), fast.data(), 65536, 1);
    ASSERT_EQ(plain, fast) << "Cr " << r;
  }
}

// Random planes just as long as each count needs; the destination is followed by sentinels.
TEST_P(YuvToRgbKernels, EveryCountAndGroupStaysInsideItsBuffers) {
  std::mt19937 rng(7);
  for (uint32_t group : {1u, 2u, 3u, 4u}) {
    for (uint32_t count = 0; count <= 200; ++count) {
      const size_t groups = (count + group - 1) / group, pixels = groups * group;
      std::vector<uint8_t> y(pixels), cr(groups), cb(groups);
      for (auto *plane : {&y, &cr, &cb})
        for (uint8_t &v : *plane) v = static_cast<uint8_t>(rng());
      std::vector<uint8_t> want(3 * pixels + 8, 0xA5), got(want.size(), 0x5A);
      yuv_to_rgb_plain(y.data(), cr.data(), cb.data(), want.data(), count, group);
      std::fill(want.begin() + static_cast<ptrdiff_t>(3 * pixels), want.end(), 0x5A);
      fx_yuvtorgb_ll(y.data(), cr.data(), cb.data(), got.data(), count, group);
      ASSERT_EQ(want, got) << "group " << group << " count " << count;
    }
  }
}

}  // namespace
}  // namespace corvix
