// Scaled YUV conversion: the sample each destination pixel takes, the plain conversion at
// equal size, the planes' exact extent, refusals and allocation failures.
#include <cstring>
#include <vector>

#include "colour/yuvscale.h"
#include "tests/support.h"

namespace corvix {
namespace {

class YuvScale : public test::LeakCheck {};

// Planes whose neighbouring values differ, so a wrong index shows.
struct Ramp {
  std::vector<uint8_t> y, cr, cb;
  Ramp(size_t n, size_t chroma) : y(n), cr(chroma), cb(chroma) {
    for (size_t i = 0; i < n; ++i) y[i] = static_cast<uint8_t>(16 + 37 * i);
    for (size_t i = 0; i < chroma; ++i) cr[i] = static_cast<uint8_t>(60 + 29 * i);
    for (size_t i = 0; i < chroma; ++i) cb[i] = static_cast<uint8_t>(200 - 23 * i);
  }
  Bitmap *scale(int32_t sw, int32_t sh, int32_t dw, int32_t dh, int32_t f) const {
    return fx_yuvscale_ll(y.data(), cr.data(), cb.data(), sw, sh, dw, dh, f);
  }
};

// Pixel (i, j) converts luma rows[j] * sw + cols[i] with chroma rows[j] * sw / f + cols[i] / f.
void expect_samples(int32_t sw, int32_t sh, std::vector<int32_t> cols, std::vector<int32_t> rows,
                    int32_t f) {
  const Ramp p(64, 64);
  const auto dw = static_cast<int32_t>(cols.size()), dh = static_cast<int32_t>(rows.size());
  Bitmap *b = p.scale(sw, sh, dw, dh, f);
  for (int32_t j = 0; j < dh; ++j)
    for (int32_t i = 0; i < dw; ++i) {
      const int32_t c = rows[j] * sw / f + cols[i] / f;
      uint8_t want[3];
      fx_yuvtorgb_ll(&p.y[rows[j] * sw + cols[i]], &p.cr[c], &p.cb[c], want, 1, 1);
      ASSERT_EQ(std::memcmp(b->pixels + 3 * (j * dw + i), want, 3), 0) << i << "," << j;
    }
  gx_freebitmap(b);
}

TEST_F(YuvScale, TakesTheNearestLowerSampleAndItsOwnChroma) {
  expect_samples(10, 6, {0, 2, 5, 7}, {0, 2, 4}, 1);
  expect_samples(4, 2, {0, 0, 1, 1, 2, 2, 3, 3}, {0, 0, 0, 1, 1, 1}, 1);
  expect_samples(8, 2, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1}, 2);  // pairs share; row 1 at 4
  // Row 1 of width 10 starts at chroma 3, so its column 2 takes chroma 3, not 12 / 3.
  expect_samples(10, 2, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 1}, 3);
}

TEST_F(YuvScale, EqualSizeIsThePlainConversionOfAPhotograph) {
  const test::Image im = test::load_image("coffee.ppm");
  const auto n = static_cast<uint32_t>(im.width * im.height);
  for (int32_t f : {1, 2, 4}) {
    const test::Planes p = test::image_planes(im, static_cast<uint32_t>(f));
    std::vector<uint8_t> want(3 * n);
    fx_yuvtorgb_ll(p.y.data(), p.cr.data(), p.cb.data(), want.data(), n, f);
    Bitmap *b = fx_yuvscale_ll(p.y.data(), p.cr.data(), p.cb.data(), im.width, im.height, im.width,
                               im.height, f);
    EXPECT_EQ(std::memcmp(b->pixels, want.data(), want.size()), 0) << f;
    gx_freebitmap(b);
  }
}

// Planes of exactly the stated sizes suffice: the sanitizer build faults on a byte more.
TEST_F(YuvScale, PlaneBytesAreOnePastTheLargestIndexRead) {
  int64_t luma = -1, chroma = -1;
  ASSERT_TRUE(yuvscale_plane_bytes(10, 6, 4, 3, 3, &luma, &chroma));
  EXPECT_EQ(luma, 4 * 10 + 7 + 1);  // last row 4, last column 7
  EXPECT_EQ(chroma, 40 / 3 + 7 / 3 + 1);
  const Ramp p(static_cast<size_t>(luma), static_cast<size_t>(chroma));
  gx_freebitmap(p.scale(10, 6, 4, 3, 3));
}

TEST_F(YuvScale, RefusalsAllocateNothingAndFailuresLeaveNothing) {
  const Ramp p(16, 16);
  const uint64_t calls = corvix_alloc_calls();
  for (auto s : std::vector<std::vector<int32_t>>{{4, 4, 8, 8, 0},
                                                  {-4, 4, 8, 8, 1},
                                                  {4, 4, 8, -8, 1},
                                                  {0, 4, 8, 8, 1},
                                                  {70000, 1, 70000, 1, 1},
                                                  {1, 70000, 1, 70000, 1},
                                                  {1, 1, 30000, 30000, 1}})
    EXPECT_EQ(p.scale(s[0], s[1], s[2], s[3], s[4]), nullptr) << s[0] << " " << s[4];
  EXPECT_EQ(fx_yuvscale_ll(nullptr, p.cr.data(), p.cb.data(), 4, 4, 8, 8, 1), nullptr);
  EXPECT_EQ(corvix_alloc_calls(), calls);
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              Bitmap *b = p.scale(4, 4, 5, 11, 2);
              EXPECT_EQ(b == nullptr, failing != 0) << failing;
              gx_freebitmap(b);
            }),
            4);  // two column tables, the record, the pixels
}

}  // namespace
}  // namespace corvix
