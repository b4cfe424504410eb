// Scaled YUV conversion: the sample each destination pixel takes, the plain conversion at
// equal size, the planes' exact extent, refusals and allocation failures.
#include <vector>

#include "colour/yuvscale.h"
#include "tests/support.h"

namespace corvix {
namespace {

class YuvScale : public test::LeakCheck {};

// Y, Cr, Cb with distinct neighbouring values, so a wrong index shows.
struct Ramp {
  std::vector<uint8_t> y, cr, cb;
  explicit Ramp(size_t n) : y(n), cr(n), cb(n) {
    for (size_t i = 0; i < n; ++i) {
      y[i] = static_cast<uint8_t>(16 + 37 * i);
      cr[i] = static_cast<uint8_t>(60 + 29 * i);
      cb[i] = static_cast<uint8_t>(200 - 23 * i);
    }
  }
};

// Destination pixel (i, j) must be the plain conversion of luma index `columns[i]` of row
// rows[j] and of chroma index (row * sw) / f + column / f.
void expect_samples(const Ramp &p, int32_t sw, int32_t sh, const std::vector<int32_t> &columns,
                    const std::vector<int32_t> &rows, int32_t f) {
  const auto dw = static_cast<int32_t>(columns.size()), dh = static_cast<int32_t>(rows.size());
  Bitmap *b = fx_yuvscale_ll(p.y.data(), p.cr.data(), p.cb.data(), sw, sh, dw, dh, f);
  ASSERT_NE(b, nullptr);
  for (int32_t j = 0; j < dh; ++j)
    for (int32_t i = 0; i < dw; ++i) {
      const int32_t c = rows[j] * sw / f + columns[i] / f;
      uint8_t want[3];
      fx_yuvtorgb_ll(&p.y[rows[j] * sw + columns[i]], &p.cr[c], &p.cb[c], want, 1, 1);
      for (int k = 0; k < 3; ++k)
        ASSERT_EQ(b->pixels[3 * (j * dw + i) + k], want[k]) << i << "," << j << " f=" << f;
    }
  gx_freebitmap(b);
}

TEST_F(YuvScale, TakesTheNearestLowerSampleAndItsOwnChroma) {
  const Ramp p(64);
  expect_samples(p, 10, 6, {0, 2, 5, 7}, {0, 2, 4}, 1);
  expect_samples(p, 4, 2, {0, 0, 1, 1, 2, 2, 3, 3}, {0, 0, 0, 1, 1, 1}, 1);
  // Columns 0 and 1 share chroma 0, 2 and 3 share 1; row 1 starts at chroma 4.
  expect_samples(p, 8, 2, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1}, 2);
  // Width 10 is no multiple of 3: row 1 starts at chroma 3, so its column 2 takes chroma 3,
  // not (10 + 2) / 3 = 4.
  expect_samples(p, 10, 2, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 1}, 3);
}

TEST_F(YuvScale, EqualSizeIsThePlainConversionOfAPhotograph) {
  for (const char *name : {"astronaut.ppm", "coffee.ppm"}) {
    const test::Image im = test::load_image(name);
    for (uint32_t f : {1u, 2u, 4u}) {
      const test::Planes p = test::image_planes(im, f);
      const auto n = static_cast<uint32_t>(im.width * im.height);
      std::vector<uint8_t> want(3 * n);
      fx_yuvtorgb_ll(p.y.data(), p.cr.data(), p.cb.data(), want.data(), n, f);
      Bitmap *b = fx_yuvscale_ll(p.y.data(), p.cr.data(), p.cb.data(), im.width, im.height,
                                 im.width, im.height, static_cast<int32_t>(f));
      ASSERT_NE(b, nullptr);
      EXPECT_EQ(b->bytes_per_pixel, 3);
      EXPECT_EQ(std::vector<uint8_t>(b->pixels, b->pixels + 3 * n), want) << name << " " << f;
      gx_freebitmap(b);
    }
  }
}

// The plane sizes a caller must provide are exact: planes of just that many bytes suffice
// (the sanitizer build faults on one more), and the last byte of each is really read.
TEST_F(YuvScale, PlaneBytesAreTheLargestIndexRead) {
  struct Case { int32_t sw, sh, dw, dh, f; int64_t luma, chroma; };
  for (const Case &c : {Case{10, 6, 4, 3, 3, 48, 16}, Case{8, 2, 16, 5, 2, 16, 8},
                        Case{7, 3, 7, 3, 4, 21, 5}, Case{5, 5, 1, 1, 2, 1, 1}}) {
    int64_t luma = -1, chroma = -1;
    ASSERT_TRUE(yuvscale_plane_bytes(c.sw, c.sh, c.dw, c.dh, c.f, &luma, &chroma));
    EXPECT_EQ(luma, c.luma);
    EXPECT_EQ(chroma, c.chroma);
    Ramp p(static_cast<size_t>(luma));
    p.cr.resize(static_cast<size_t>(chroma));
    p.cb.resize(static_cast<size_t>(chroma));
    Bitmap *a = fx_yuvscale_ll(p.y.data(), p.cr.data(), p.cb.data(), c.sw, c.sh, c.dw, c.dh, c.f);
    p.y.back() ^= 0x80;
    p.cr.back() ^= 0x80;
    Bitmap *b = fx_yuvscale_ll(p.y.data(), p.cr.data(), p.cb.data(), c.sw, c.sh, c.dw, c.dh, c.f);
    ASSERT_TRUE(a && b);
    const size_t n = 3 * static_cast<size_t>(c.dw) * c.dh;
    EXPECT_NE(std::vector<uint8_t>(a->pixels, a->pixels + n),
              std::vector<uint8_t>(b->pixels, b->pixels + n));
    gx_freebitmap(a);
    gx_freebitmap(b);
  }
}

TEST_F(YuvScale, RefusesBadCallsWithoutAllocating) {
  const Ramp p(16);
  const uint8_t *y = p.y.data(), *cr = p.cr.data(), *cb = p.cb.data();
  const uint64_t calls = corvix_alloc_calls();
  EXPECT_EQ(fx_yuvscale_ll(y, cr, cb, 4, 4, 8, 8, 0), nullptr);
  EXPECT_EQ(fx_yuvscale_ll(y, cr, cb, 4, 4, 8, 8, -2), nullptr);
  EXPECT_EQ(fx_yuvscale_ll(y, cr, cb, -4, 4, 8, 8, 1), nullptr);
  EXPECT_EQ(fx_yuvscale_ll(y, cr, cb, 4, 4, 8, -8, 1), nullptr);
  EXPECT_EQ(fx_yuvscale_ll(y, cr, cb, 0, 4, 8, 8, 1), nullptr);       // empty source
  EXPECT_EQ(fx_yuvscale_ll(nullptr, cr, cb, 4, 4, 8, 8, 1), nullptr);
  EXPECT_EQ(fx_yuvscale_ll(y, cr, cb, 70000, 1, 70000, 1, 1), nullptr);  // width x column
  EXPECT_EQ(fx_yuvscale_ll(y, cr, cb, 1, 70000, 1, 70000, 1), nullptr);  // row x height
  EXPECT_EQ(fx_yuvscale_ll(y, cr, cb, 1, 1, 30000, 30000, 1), nullptr);  // destination bytes
  EXPECT_EQ(corvix_alloc_calls(), calls);
  // An empty destination reads nothing and is the empty bitmap.
  Bitmap *b = fx_yuvscale_ll(nullptr, nullptr, nullptr, 4, 4, 0, 5, 1);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->width, 0);
  EXPECT_EQ(b->height, 5);
  gx_freebitmap(b);
}

TEST_F(YuvScale, AllocationFailureGivesNullAndLeavesNothing) {
  const Ramp p(64);
  const int made = test::sweep_allocation_failures([&](int failing) {
    Bitmap *b = fx_yuvscale_ll(p.y.data(), p.cr.data(), p.cb.data(), 8, 8, 5, 11, 2);
    EXPECT_EQ(b == nullptr, failing != 0) << failing;
    gx_freebitmap(b);
  });
  EXPECT_EQ(made, 4);  // two column tables, the record, the pixels
}

}  // namespace
}  // namespace corvix
