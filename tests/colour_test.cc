// Scaling and remapping of the colour family: nearest-sample scaling of buffers and bitmaps,
// the byte-run tools, colour-cube reduction and byte translation over their whole input
// space, pen tables asked of the graphics library, and scaled YUV conversion.
#include <algorithm>
#include <vector>

#include "colour/palette.h"
#include "colour/yuvscale.h"
#include "tests/support.h"

namespace corvix {
namespace {

class Scale : public test::LeakCheck {};
class Palette : public test::LeakCheck {};
class YuvScale : public test::LeakCheck {};
using Bytes = std::vector<uint8_t>;

// ---- Scaling ---------------------------------------------------------------------------

// Scales `src` (pixels of p bytes) and returns the destination with one sentinel after it.
Bytes scaled(const Bytes &src, uint32_t p, uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh) {
  Bytes dst(p * dw * dh + 1, 0xEE);
  (p == 3 ? gx_scale24 : gx_scale8)(src.data(), dst.data(), sw, sh, dw, dh);
  return dst;
}

// Each fast path (stepped columns, repeated rows, whole copies) against the divisions, from
// widths 1..8 (heights 8..1) to widths 1..39 (heights 2..13), at both pixel sizes.
TEST_F(Scale, EverySmallSizeWrappingProductsAndFailures) {
  Bytes src(70000);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i);
  for (uint32_t p : {1u, 3u})
    for (uint32_t sw = 1, sh = 8; sw <= 8; ++sw, --sh)
      for (uint32_t dw = 1, dh = 2; dw < 40; ++dw, dh = dw % 13 + 1) {
        Bytes want(p * dw * dh + 1, 0xEE);
        for (uint32_t i = 0; i + 1 < want.size(); ++i)  // pixel i / p is (i / p % dw, i / p / dw)
          want[i] = p * (i / p / dw * sh / dh * sw + i / p % dw * sw / dw) + i % p;
        ASSERT_EQ(scaled(src, p, sw, sh, dw, dh), want) << sw << " " << dw << " " << p;
      }
  // 61357 x 70000 keeps its low 32 bits, 22704: column 61357 shows column 0, not 61357.
  EXPECT_EQ(scaled(src, 1, 70000, 1, 70000, 1)[61357], 0);
  EXPECT_EQ(scaled(src, 3, 0, 3, 2, 2), Bytes(13, 0xEE));  // a picture out of nothing
  // A destination of width or height 0 is empty: nothing read or written, no division by it.
  for (const auto &[dw, dh] : {std::pair{0u, 1u}, {1u, 0u}, {0u, 0u}})
    for (uint32_t p : {1u, 3u}) EXPECT_EQ(scaled(src, p, 16, 1, dw, dh), Bytes(1, 0xEE));
  corvix_alloc_fail_nth(1);  // no column table: nothing written
  EXPECT_EQ(scaled(src, 3, 2, 2, 3, 3), Bytes(28, 0xEE));
  corvix_alloc_fail_nth(0);
}

// The copy scales three bytes a pixel as such and other sizes as one byte over the first
// width x height bytes (an empty copy of a 16-byte-a-pixel record is the empty bitmap of that
// size); in place always three bytes a pixel. Refused or failing calls return 0 or NULL with
// the bitmap as it was.
TEST_F(Scale, BitmapsCopiedAndInPlace) {
  Bitmap *b = test::image_bitmap(test::load_image("coffee.ppm"));
  const Bytes px(b->pixels, b->pixels + 600 * 400 * 3);
  Bytes want;
  for (int32_t bpp : {1, 4, 3}) {
    b->bytes_per_pixel = bpp;
    want = scaled(px, bpp == 3 ? 3 : 1, 600, 400, 301, 157);
    test::sweep_allocation_failures([&](int failing) {  // pixels, column table, record
      Bitmap *c = gx_scalecopybitmap(b, 301, 157);
      ASSERT_EQ(c == nullptr, failing != 0);
      EXPECT_TRUE(
          !c || (c->bytes_per_pixel == bpp && std::equal(want.begin(), want.end() - 1, c->pixels)))
          << bpp;
      gx_freebitmap(c);
    });
  }
  Bitmap wide{b->pixels, 16, 1, 16};
  for (const auto &[w, h] : {std::pair{0, 1}, {1, 0}}) {
    Bitmap *c = gx_scalecopybitmap(&wide, w, h);
    EXPECT_TRUE(c && c->width == w && c->height == h && c->bytes_per_pixel == 16);
    gx_freebitmap(c);
  }
  // Scaled once, then each allocation fails (the new pixels, the column table) or it is refused.
  test::sweep_allocation_failures(
      [&](int failing) { EXPECT_EQ(gx_scalebitmap(b, 301 - failing, 157), failing ? 0 : 1); });
  auto bpp = [&](int32_t v) { return b->bytes_per_pixel = v, b; };
  EXPECT_FALSE(gx_scalebitmap(nullptr, 4, 2) || gx_scalebitmap(b, -1, 2) ||
               gx_scalebitmap(b, 100000, 100000) || gx_scalebitmap(bpp(2), 2, 2) ||
               gx_scalecopybitmap(nullptr, 4, 4) || gx_scalecopybitmap(bpp(3), 4, -4) ||
               gx_scalecopybitmap(b, 40000, 40000) || gx_scalecopybitmap(bpp(0), 2, 2));
  EXPECT_TRUE(bpp(3)->width == 301 && b->height == 157 &&
              std::equal(want.begin(), want.end() - 1, b->pixels));
  gx_freebitmap(b);
}

TEST_F(Scale, ByteRuns) {
  uint8_t out[21] = "abcde...............";  // runs from the first five bytes
  gx_multchunky(out, out + 5, 2, 3);
  gx_multchunky(out, out + 11, 5, 0);  // a factor or step of 0 writes nothing
  gx_divchunky(out, out + 12, 5, 2);
  gx_divchunky(out, out + 15, 5, 0);
  gx_xor(out + 16, 3, 0x15F);  // low 8 bits only: '.' ^ 0x5F is 'q'
  EXPECT_STREQ(reinterpret_cast<char *>(out), "abcdeaaabbb.ace.qqq.");
}

// ---- Colour cube and remapping ---------------------------------------------------------

const Bytes kPens = [] {
  Bytes pens(256);
  for (size_t i = 0; i < pens.size(); ++i) pens[i] = static_cast<uint8_t>(i * 73 + 11);
  return pens;
}();

// All 2^24 pixels and one more, on the plain kernel and the public routine (the vector kernel
// where the processor has one), then in place: with no pen table, and with the last 216 pens,
// a table that ends with its block (the sanitizer build faults on a read past it). The extra
// pixel is 3, 2 or 1 bytes long: a short tail, partial in the last two (and reduced whole).
TEST_F(Palette, WholePixelSpace) {
  auto level = [](int v) { return std::max((v + 20) / 42 - 1, 0); };
  Bytes slice(3 * 65537), cube(65537), out(65538);
  for (int r = 0; r < 256; ++r) {
    for (int i = 0; i < 3 * 65537; ++i)  // red r, green i / 768, blue i / 3 (low 8 bits)
      slice[i] = i % 3 == 0 ? r : i % 3 == 1 ? i / 768 : i / 3;
    for (int i = 0; i < 65537; ++i)
      cube[i] = 36 * level(r) + 6 * level(i >> 8 & 255) + level(i & 255);
    for (auto *remap : {remap24_plain, gx_remap24})
      for (const uint8_t *pens : {static_cast<const uint8_t *>(nullptr), kPens.data() + 40}) {
        out.back() = 0xEE;
        remap(slice.data(), out.data(), pens, 3 * 65537 - r % 3);
        for (int i = 0; i < 65537; ++i) ASSERT_EQ(out[i], pens ? pens[cube[i]] : cube[i]) << i;
        ASSERT_EQ(out.back(), 0xEE);
      }
    gx_remap24(slice.data(), slice.data(), kPens.data() + 40, 3 * 65537 - r % 3);
    ASSERT_TRUE(std::equal(out.begin(), out.end() - 1, slice.begin())) << r;
  }
}

// At every level: every byte value through a full table, then all but 255 through a table
// that ends at 254, first met in the third 4096-byte block (the sanitizer build faults on a
// read past the table); then values whose largest grows by exactly one from each block to the
// next (0, 1, ..., 255) through a table with no 0: the vector kernel copies the caller's table
// only as far as the values met so far, so an entry copied one short shows as a wrong byte.
class Remap8 : public test::AtEachLevel {};
CORVIX_AT_EACH_LEVEL(Remap8);

TEST_P(Remap8, EveryValueShortTableAndGrowingValues) {
  constexpr uint32_t n = 256 * 4096;
  for (int pattern = 0; pattern < 3; ++pattern) {
    const uint32_t size = pattern == 1 ? 255 : 256;
    Bytes buf(n + 1, 0xEE), table(size);
    for (uint32_t i = 0; i < size; ++i) table[i] = pattern == 2 ? 100 + i / 2 : kPens[i];
    for (uint32_t i = 0; i < n; ++i)
      buf[i] = pattern == 2 ? (i % 4096 == 1000 ? i / 4096 : 0) : i * 7 % (i < 9000 ? 100 : size);
    Bytes got = buf;
    gx_remap8(got.data(), table.data(), n);
    for (uint32_t i = 0; i <= n; ++i)
      ASSERT_EQ(got[i], i < n ? table[buf[i]] : 0xEE) << "pattern " << pattern << ", byte " << i;
  }
}

// Pens 0..255 hold a grey that is no cube colour, pens 256..471 the cube colours in order:
// cube colour k gets pen k, as the exact match wins over every pen and only the low 8 bits of
// pen 256 + k are kept.
TEST_F(Palette, PenTableAsksTheColourMapInCubeOrder) {
  Bytes rgb(3 * 472, 25);
  const int weight[3] = {36, 6, 1};  // colour k has levels k / 36, k / 6 % 6, k % 6
  for (int i = 0; i < 3 * 216; ++i) rgb[768 + i] = 51 * (i / 3 / weight[i % 3] % 6);
  ColorMap *map = corvix_colormap_create(rgb.data(), 472);
  test::sweep_allocation_failures([&](int failing) {
    uint8_t *pens = gx_allocpalette(map);
    ASSERT_EQ(pens == nullptr, failing != 0);
    for (int k = 0; pens && k < 216; ++k) ASSERT_EQ(pens[k], k);
    gx_freepalette(pens);
  });
  corvix_colormap_free(map);
}

// ---- Scaled YUV conversion -------------------------------------------------------------

// Destination column i shows source column i * 11 / 4 and row j row j, with chroma
// row * 11 / 3 + column / 3, each division truncating on its own: rows 1, 2 and 3 start at
// chroma 3, 7 and 11 (not 3, 6 and 9 as row * (11 / 3) would give), and row 1's column 2
// takes chroma 3, not 13 / 3. The planes end one past the last index read, as the routine
// reports them; the sanitizer build faults on a byte more.
TEST_F(YuvScale, TakesTheNearestLowerSampleAndItsOwnChroma) {
  const int32_t cols[4] = {0, 2, 5, 8}, rows[4] = {0, 1, 2, 3};
  const int32_t starts[4] = {0, 3, 7, 11};  // worked by hand: 0, 11 / 3, 22 / 3, 33 / 3
  int64_t luma = 0, chroma = 0;
  // Reads reach luma 3 x 11 + 8 and chroma 33 / 3 + 8 / 3.
  ASSERT_TRUE(yuvscale_plane_bytes(11, 4, 4, 4, 3, &luma, &chroma) && luma == 42 && chroma == 14);
  Bytes y(luma), cr(chroma), cb(chroma), want(3 * 16);
  for (int64_t i = 0; i < luma; ++i) y[i] = 16 + 37 * i;  // neighbouring values differ
  for (int64_t i = 0; i < chroma; ++i) cr[i] = 60 + 29 * i, cb[i] = 200 - 23 * i;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) {
      const int32_t c = starts[j] + cols[i] / 3;
      fx_yuvtorgb_ll(&y[rows[j] * 11 + cols[i]], &cr[c], &cb[c], &want[3 * (4 * j + i)], 1, 1);
    }
  Bitmap *b = fx_yuvscale_ll(y.data(), cr.data(), cb.data(), 11, 4, 4, 4, 3);
  EXPECT_EQ(Bytes(b->pixels, b->pixels + want.size()), want);
  gx_freebitmap(b);
}

TEST_F(YuvScale, RefusalsAndFailuresLeaveNothing) {
  const Bytes p(16, 128);
  auto scale = [&](const uint8_t *y, const int32_t *s) {
    return fx_yuvscale_ll(y, p.data(), p.data(), s[0], s[1], s[2], s[3], s[4]);
  };
  const int32_t refused[][5] = {
      {4, 4, 8, 8, 0},         {-4, 4, 8, 8, 1},        {4, 4, 8, -8, 1},       {0, 4, 8, 8, 1},
      {70000, 1, 70000, 1, 1}, {1, 70000, 1, 70000, 1}, {1, 1, 30000, 30000, 1}};
  const int32_t fits[5] = {4, 4, 5, 11, 2};
  for (const int32_t *s : refused) EXPECT_EQ(scale(p.data(), s), nullptr) << s[0] << " " << s[4];
  EXPECT_EQ(scale(nullptr, fits), nullptr);           // no Y plane
  test::sweep_allocation_failures([&](int failing) {  // column tables, record, pixels
    Bitmap *b = scale(p.data(), fits);
    EXPECT_EQ(b == nullptr, failing != 0) << failing;
    gx_freebitmap(b);
  });
}

}  // namespace
}  // namespace corvix
