// Mirror, invert and quarter turns: worked cases, turn algebra, photographs against the
// pixel-by-pixel definitions, the faster paths against the plain ones, refused frames.
#include <cstring>
#include <random>
#include <vector>

#include "effects/frame_kernels.h"
#include "tests/support.h"

namespace corvix {
namespace {

using Bytes = std::vector<uint8_t>;

class EffectsGeometry : public test::LeakCheck {};

Bitmap *make_frame(int32_t w, int32_t h, int32_t bpp, const Bytes &bytes) {
  Bitmap *b = gx_allocrawbitmap(w, h, bpp);
  std::memcpy(b->pixels, bytes.data(), bytes.size());
  return b;
}

Bytes bytes_of(const Bitmap *b) {
  return Bytes(b->pixels, b->pixels + size_t(b->width) * b->height * b->bytes_per_pixel);
}

// The top-left w x h pixels of a photograph.
Bytes crop(const test::Image &im, int32_t w, int32_t h) {
  Bytes out;
  for (int32_t y = 0; y < h; ++y)
    out.insert(out.end(), &im.rgb[3 * size_t(y) * im.width],
               &im.rgb[3 * (size_t(y) * im.width + w)]);
  return out;
}

// The mirror as defined: each step copies every pixel back from a copy of the frame.
Bytes mirror_by_copy(Bytes f, int32_t w, int32_t h, bool upside_down, bool left_right) {
  auto step = [&](auto from) {
    const Bytes copy = f;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        std::memcpy(&f[3 * size_t(y * w + x)], &copy[3 * from(x, y)], 3);
  };
  if (upside_down) step([&](int32_t x, int32_t y) { return size_t((h - 1 - y) * w + x); });
  if (left_right) step([&](int32_t x, int32_t y) { return size_t(y * w + w - 1 - x); });
  return f;
}

TEST_F(EffectsGeometry, MirrorTwoByTwoKeepsBytesWithinPixels) {
  // P00 P10 / P01 P11, each pixel's bytes distinct and in rising order.
  const Bytes start = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  struct Case {
    int32_t ud, lr;
    Bytes want;
  };
  const Case cases[] = {{1, 0, {7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}},
                        {0, -7, {4, 5, 6, 1, 2, 3, 10, 11, 12, 7, 8, 9}},
                        {2, 1, {10, 11, 12, 7, 8, 9, 4, 5, 6, 1, 2, 3}},
                        {0, 0, start}};
  for (const Case &c : cases) {
    Bitmap *b = make_frame(2, 2, 3, start);
    const uint64_t calls = corvix_alloc_calls();
    fxx_mirror_ll(b, c.ud, c.lr);
    EXPECT_EQ(corvix_alloc_calls(), calls) << "the mirror takes no memory";
    EXPECT_EQ(bytes_of(b), c.want) << c.ud << "," << c.lr;
    gx_freebitmap(b);
  }
}

TEST_F(EffectsGeometry, MirrorMatchesCopyBackOnPhotographsOfAwkwardSizes) {
  const test::Image im = test::load_image("astronaut.ppm");
  const int32_t sizes[][2] = {{1, 1},  {1, 7},   {7, 1},     {17, 5},   {63, 3},
                              {64, 4}, {129, 9}, {200, 131}, {512, 512}};
  for (const auto &s : sizes)
    for (int mode = 1; mode < 4; ++mode) {
      const Bytes start = crop(im, s[0], s[1]);
      Bitmap *b = make_frame(s[0], s[1], 3, start);
      fxx_mirror_ll(b, mode & 1, mode & 2);
      EXPECT_EQ(bytes_of(b), mirror_by_copy(start, s[0], s[1], mode & 1, mode & 2))
          << s[0] << "x" << s[1] << " mode " << mode;
      gx_freebitmap(b);
    }
}

TEST_F(EffectsGeometry, MirrorReadsThreeBytesAPixelInvertTheRecordsSize) {
  // Four bytes a pixel in the record: the mirror moves the first w x h x 3 bytes as 3-byte
  // pixels, the negative covers all w x h x 4; the sentinel after them stays.
  Bytes start(2 * 3 * 4 + 1);
  for (size_t i = 0; i < start.size(); ++i) start[i] = uint8_t(i * 11);
  Bitmap *b = make_frame(5, 5, 1, start);
  b->width = 2, b->height = 3, b->bytes_per_pixel = 4;
  fxx_mirror_ll(b, 1, 1);
  Bytes want = mirror_by_copy(Bytes(start.begin(), start.begin() + 18), 2, 3, true, true);
  want.insert(want.end(), start.begin() + 18, start.end());
  EXPECT_EQ(Bytes(b->pixels, b->pixels + 25), want);
  fxx_invert_ll(b);
  for (size_t i = 0; i < 24; ++i) want[i] = uint8_t(255 - want[i]);
  EXPECT_EQ(Bytes(b->pixels, b->pixels + 25), want);
  gx_freebitmap(b);
  // Every byte value, one byte a pixel; twice restores.
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = uint8_t(i);
  b = make_frame(16, 16, 1, all);
  fxx_invert_ll(b);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(b->pixels[i], 255 - i);
  fxx_invert_ll(b);
  EXPECT_EQ(bytes_of(b), all);
  gx_freebitmap(b);
}

// Frames a routine cannot read at three bytes a pixel (or at all): nothing is read, written
// or allocated, and the routines with a result give NULL.
TEST_F(EffectsGeometry, UnreadableFramesAreRefused) {
  Bytes start(12);
  for (size_t i = 0; i < start.size(); ++i) start[i] = uint8_t(7 * i);
  Bitmap *b = make_frame(4, 3, 1, start);
  const uint64_t calls = corvix_alloc_calls();
  auto all_refused = [&](Bitmap *f, bool invert_too) {
    fxx_mirror_ll(f, 1, 1);
    fxx_mirror_ll(f, 0, 1);
    EXPECT_EQ(fxx_rotangle_ll(f, 0), nullptr);
    EXPECT_EQ(fxx_findminmax_ll(f, 1), nullptr);
    fxx_minmax_ll(f, 10, 20, 10, 20, 10, 20, 0, 255);
    fxx_min_max_ll(f);
    if (invert_too) fxx_invert_ll(f);
  };
  all_refused(b, false);  // one byte a pixel: only the negative may work on it
  all_refused(nullptr, true);
  b->bytes_per_pixel = 3;
  for (auto [w, h] : {std::pair{-4, 3}, {4, -3}, {65536, 65536}, {46341, 46341}}) {
    b->width = w;
    b->height = h;
    all_refused(b, true);
  }
  EXPECT_EQ(corvix_alloc_calls(), calls);
  b->width = 4, b->height = 3, b->bytes_per_pixel = 1;
  EXPECT_EQ(bytes_of(b), start);
  for (int32_t turn : {-1, 3, 90}) EXPECT_EQ(fxx_rotangle_ll(b, turn), nullptr);
  EXPECT_EQ(corvix_alloc_calls(), calls);
  gx_freebitmap(b);
}

TEST_F(EffectsGeometry, TurnsOfACornerPixel) {
  // 4 x 3 with one marked top-left pixel: clockwise it lands top right, counter-clockwise
  // bottom left, half a turn bottom right.
  Bytes corner(36, 0);
  corner[0] = 200, corner[1] = 100, corner[2] = 50;
  const size_t at[] = {3 * 2, 3 * 11, 3 * 9};
  for (int32_t turn = 0; turn < 3; ++turn) {
    Bitmap *src = make_frame(4, 3, 3, corner);
    Bitmap *t = fxx_rotangle_ll(src, turn);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->width, turn == 1 ? 4 : 3);
    EXPECT_EQ(t->height, turn == 1 ? 3 : 4);
    EXPECT_EQ(t->bytes_per_pixel, 3);
    EXPECT_EQ(bytes_of(src), corner);
    EXPECT_EQ(Bytes(t->pixels + at[turn], t->pixels + at[turn] + 3), (Bytes{200, 100, 50}));
    gx_freebitmap(t);
    gx_freebitmap(src);
  }
}

TEST_F(EffectsGeometry, TurnAlgebraAndDefinitionOnPhotographs) {
  const test::Image im = test::load_image("coffee.ppm");
  const int32_t sizes[][2] = {{1, 1},   {3, 1},   {1, 5},    {15, 17},  {16, 16},
                              {33, 47}, {64, 80}, {97, 130}, {600, 400}};
  for (const auto &s : sizes) {
    const Bytes start = crop(im, s[0], s[1]);
    Bitmap *src = make_frame(s[0], s[1], 3, start);
    Bitmap *cw = fxx_rotangle_ll(src, 0), *half = fxx_rotangle_ll(src, 1);
    Bitmap *back = fxx_rotangle_ll(cw, 2), *whole = fxx_rotangle_ll(half, 1);
    Bitmap *ccw = fxx_rotangle_ll(src, 2);
    Bytes plain(start.size());
    quarter_turn_plain(start.data(), plain.data(), s[0], s[1], true);
    EXPECT_EQ(bytes_of(cw), plain) << s[0] << "x" << s[1];
    quarter_turn_plain(start.data(), plain.data(), s[0], s[1], false);
    EXPECT_EQ(bytes_of(ccw), plain);
    EXPECT_EQ(bytes_of(back), start);
    EXPECT_EQ(bytes_of(whole), start);
    EXPECT_EQ(bytes_of(half), mirror_by_copy(start, s[0], s[1], true, true));
    EXPECT_EQ(back->width, s[0]);
    for (Bitmap *b : {src, cw, half, back, whole, ccw}) gx_freebitmap(b);
  }
}

TEST_F(EffectsGeometry, EmptyTurnsAndAllocationFailures) {
  Bitmap *src = make_frame(3, 2, 3, Bytes(18, 1));
  src->width = 0;  // an empty bitmap of the turned size
  Bitmap *e = fxx_rotangle_ll(src, 0);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->width, 2);
  EXPECT_EQ(e->height, 0);
  gx_freebitmap(e);
  src->width = 3;
  EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
              Bitmap *t = fxx_rotangle_ll(src, 2);
              EXPECT_EQ(t == nullptr, failing != 0);
              gx_freebitmap(t);
            }),
            2);
  gx_freebitmap(src);
}

// The faster paths against the plain ones on random pixels, every length up to a few blocks
// and the sizes around the tile edges; exact-size buffers, so nothing may reach past them.
TEST(EffectsGeometryKernels, FastPathsMatchThePlainOnes) {
  std::mt19937 rng(5);
  auto random_bytes = [&](size_t n) {
    Bytes b(n);
    for (auto &v : b) v = uint8_t(rng());
    return b;
  };
  for (int64_t count = 0; count < 420; ++count) {
    const Bytes src = random_bytes(3 * size_t(count));
    Bytes a = src, b = src, c(src.size()), d(src.size());
    reverse_pixels_plain(a.data(), count);
    reverse_pixels(b.data(), count);
    ASSERT_EQ(a, b) << count;
    reverse_copy_pixels(src.data(), c.data(), count);
    ASSERT_EQ(c, a) << count;
    reverse_copy_pixels_plain(src.data(), d.data(), count);
    ASSERT_EQ(d, a) << count;
  }
  for (int32_t w : {1, 2, 15, 16, 17, 48, 63, 64, 65, 130})
    for (int32_t h : {1, 3, 16, 17, 32, 47, 81})
      for (bool clockwise : {true, false}) {
        const Bytes src = random_bytes(3 * size_t(w) * h);
        Bytes plain(src.size()), tiled(src.size()), best(src.size());
        quarter_turn_plain(src.data(), plain.data(), w, h, clockwise);
        quarter_turn_tiled(src.data(), tiled.data(), w, h, clockwise);
        quarter_turn(src.data(), best.data(), w, h, clockwise);
        ASSERT_EQ(tiled, plain) << w << "x" << h << " " << clockwise;
        ASSERT_EQ(best, plain) << w << "x" << h << " " << clockwise;
      }
}

}  // namespace
}  // namespace corvix
