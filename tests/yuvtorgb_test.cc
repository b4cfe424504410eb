// YUV to three-byte conversion: tables, worked values, groups and counts, real pictures.
#include <cstring>
#include <random>
#include <vector>

#include "bitmap/cpu.h"
#include "colour/yuv_tables.h"
#include "colour/yuvtorgb_simd.h"
#include "tests/support.h"

namespace corvix {
namespace {

// The integer form of every table entry equals the truncated double product.
TEST(YuvTables, TruncateTowardZero) {
  YuvTables t;
  build_yuv_tables(t);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(t.luma[i], (i - 16) * 1164 / 1000);
    EXPECT_EQ(t.cr_red[i], (i - 128) * 1596 / 1000);
    EXPECT_EQ(t.cr_green[i], (i - 128) * 813 / 1000);
    EXPECT_EQ(t.cb_blue[i], (i - 128) * 2018 / 1000);
    EXPECT_EQ(t.cb_green[i], (i - 128) * 391 / 1000);
  }
}

TEST(YuvToRgb, WorkedValues) {
  struct Case { uint8_t y, cr, cb, b0, b1, b2; };
  const Case cases[] = {{16, 128, 128, 0, 0, 0},     {126, 128, 128, 128, 128, 128},
                        {235, 128, 128, 254, 254, 254}, {255, 128, 128, 255, 255, 255},
                        {81, 240, 90, 0, 0, 253},    {145, 34, 54, 1, 254, 0},
                        {41, 110, 240, 255, 0, 1},   {100, 200, 50, 0, 69, 211}};
  for (const Case &c : cases) {
    uint8_t out[4] = {0, 0, 0, 0xEE};
    fx_yuvtorgb_ll(&c.y, &c.cr, &c.cb, out, 1, 1);
    EXPECT_EQ(out[0], c.b0) << int(c.y) << "," << int(c.cr) << "," << int(c.cb);
    EXPECT_EQ(out[1], c.b1);
    EXPECT_EQ(out[2], c.b2);
    EXPECT_EQ(out[3], 0xEE) << "wrote past the pixel";
  }
}

TEST(YuvToRgb, WholeGroupsSharedChromaAndNothingPastTheEnd) {
  const uint8_t y[8] = {16, 50, 90, 130, 170, 210, 235, 255};
  const uint8_t cr[2] = {200, 60}, cb[2] = {50, 220};
  // Count 6 with groups of 4 converts 8 pixels; the byte after them is untouched.
  std::vector<uint8_t> a(25, 0xEE), b(25, 0xEE);
  gx_yuv_to_rgb(y, cr, cb, a.data(), 6, 4);
  EXPECT_EQ(a[24], 0xEE);
  gx_yuvtorgb(y, cr, cb, b.data(), 8);
  EXPECT_EQ(a, b);
  // Pixels 0..3 take chroma pair 0, pixels 4..7 pair 1: compare with single-pixel groups.
  for (int i = 0; i < 8; ++i) {
    uint8_t one[3];
    fx_yuvtorgb_ll(&y[i], &cr[i / 4], &cb[i / 4], one, 1, 1);
    EXPECT_EQ(std::memcmp(one, &a[3 * i], 3), 0) << "pixel " << i;
  }
  // Exactly a multiple of the group: that many pixels.
  std::vector<uint8_t> c(13, 0xEE);
  fx_yuvtorgb_ll(y, cr, cb, c.data(), 4, 4);
  EXPECT_EQ(c[12], 0xEE);
  // Count 0 and group 0 convert nothing.
  std::vector<uint8_t> d(24, 0xEE);
  fx_yuvtorgb_ll(y, cr, cb, d.data(), 0, 4);
  fx_yuvtorgb_ll(y, cr, cb, d.data(), 8, 0);
  EXPECT_EQ(d, std::vector<uint8_t>(24, 0xEE));
}

// Byte 0 carries blue and byte 2 red when Cr is the second plane: a real photograph made into
// 4:4:4 planes comes back within the error of the studio-range round trip, channels in place.
TEST(YuvToRgb, PhotographRoundTripKeepsChannelsInPlace) {
  const test::Image im = test::load_image("astronaut.ppm");
  const test::Planes p = test::image_planes(im, 1);
  const uint32_t n = static_cast<uint32_t>(im.width * im.height);
  std::vector<uint8_t> out(3 * n);
  fx_yuvtorgb_ll(p.y.data(), p.cr.data(), p.cb.data(), out.data(), n, 1);
  long worst = 0;
  for (uint32_t i = 0; i < n; ++i)
    for (int ch = 0; ch < 3; ++ch)
      worst = std::max(worst, std::labs(long(out[3 * i + ch]) - long(im.rgb[3 * i + 2 - ch])));
  EXPECT_LE(worst, 6);
  // A second call gives identical bytes: nothing is carried between calls.
  std::vector<uint8_t> again(3 * n);
  fx_yuvtorgb_ll(p.y.data(), p.cr.data(), p.cb.data(), again.data(), n, 1);
  EXPECT_EQ(out, again);
}


// ---- Vector kernels against the plain loop ------------------------------------------

struct Kernel {
  const char *name;
  void (*run)(const uint8_t *, const uint8_t *, const uint8_t *, uint8_t *, size_t, uint32_t);
  void (*terms)(int16_t[5][256]);
};

// The kernels this CPU runs.
std::vector<Kernel> kernels() {
  std::vector<Kernel> k;
  if (best_isa() >= Isa::kAvx2) k.push_back({"avx2", yuv_to_rgb_avx2, yuv_terms_avx2});
  if (best_isa() >= Isa::kAvx512Vbmi)
    k.push_back({"avx512vbmi", yuv_to_rgb_avx512vbmi, yuv_terms_avx512vbmi});
  return k;
}

TEST(YuvToRgbKernels, TermsEqualTheTablesAndEveryTripleConvertsAlike) {
  YuvTables t;
  build_yuv_tables(t);
  const int32_t *tables[5] = {t.luma, t.cr_red, t.cr_green, t.cb_blue, t.cb_green};
  // One Cr value at a time: every Y against every Cb, 4:4:4.
  std::vector<uint8_t> y(65536), cr(65536), cb(65536), plain(3 * 65536), fast(3 * 65536);
  for (size_t i = 0; i < 65536; ++i) {
    y[i] = static_cast<uint8_t>(i);
    cb[i] = static_cast<uint8_t>(i >> 8);
  }
  for (const Kernel &k : kernels()) {
    int16_t terms[5][256];
    k.terms(terms);
    for (int n = 0; n < 5; ++n)
      for (int i = 0; i < 256; ++i) ASSERT_EQ(terms[n][i], tables[n][i]) << k.name << n << i;
    for (int r = 0; r < 256; ++r) {
      std::fill(cr.begin(), cr.end(), static_cast<uint8_t>(r));
      yuv_to_rgb_plain(y.data(), cr.data(), cb.data(), plain.data(), 65536, 1);
      k.run(y.data(), cr.data(), cb.data(), fast.data(), 65536, 1);
      ASSERT_EQ(plain, fast) << k.name << " Cr " << r;
    }
  }
}

// Random planes just as long as each count needs; the destination is followed by sentinels.
TEST(YuvToRgbKernels, EveryCountAndGroupStaysInsideItsBuffers) {
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
      ASSERT_EQ(want, got) << "public routine, group " << group << " count " << count;
      if (!yuv_vector_group(group)) continue;
      for (const Kernel &k : kernels()) {
        std::fill(got.begin(), got.end(), 0x5A);
        k.run(y.data(), cr.data(), cb.data(), got.data(), groups, group);
        ASSERT_EQ(want, got) << k.name << " group " << group << " count " << count;
      }
    }
  }
}

}  // namespace
}  // namespace corvix
