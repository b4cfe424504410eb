// Ordered dither: the matrices' values, the span-wise and the plain routine against the
// threshold rule over every value at every matrix position, refusals, allocation failures.
#include "io/dither.h"
#include "tests/support.h"

namespace corvix {
namespace {

class DitherTest : public test::LeakCheck {};

std::string bytes(const Bitmap *b) {
  if (b == nullptr) return "null";
  return std::string(reinterpret_cast<const char *>(b->pixels), size_t(b->width) * b->height * 3);
}

// Both routines on src: true when each gives a new bitmap of src's size that is 255 exactly
// where a byte is at least the threshold tiled from the top-left pixel, and src is unchanged.
bool follows_the_rule(const Bitmap *src, int32_t method) {
  const DitherMatrix m = dither_matrix(method);
  std::string want;
  for (int32_t i = 0; i < src->width * src->height * 3; ++i) {
    const int32_t x = i / 3 % src->width, y = i / 3 / src->width;
    want += src->pixels[i] >= m.entries[y % m.size * m.size + x % m.size] ? '\xff' : '\0';
  }
  const std::string before = bytes(src);
  bool ok = true;
  // The result is not cleared first: a byte the dither skips shows as 0x5A, not as a 0.
  if (!want.empty()) test::dirty_freed_memory(uint32_t(want.size()));
  for (Bitmap *out : {gx_dither(src, method), dither_reference(src, method)}) {
    ok = ok && out != nullptr && out->width == src->width && out->height == src->height &&
         out->bytes_per_pixel == 3 && bytes(out) == want;
    gx_freebitmap(out);
  }
  return ok && bytes(src) == before;
}

// The position-weighted sum of each published table: a changed, moved or swapped entry, or a
// wrong size, changes it.
TEST(DitherMatrices, HoldThePublishedValues) {
  const int64_t expected[] = {240240, 7245, 86345, 16800, 4200792, 41810, 41883};
  for (int32_t method = 1; method <= 7; ++method) {
    const DitherMatrix m = dither_matrix(method);
    int64_t weighted = 0;
    for (int32_t i = 0; i < m.size * m.size; ++i) weighted += (i + 1) * int64_t{m.entries[i]};
    EXPECT_EQ(weighted, expected[method - 1]) << method;
  }
}

// Pixel (x, y) holds x / n + y / n, so each byte value meets each matrix position, on a width
// that ends inside a span; then views of a photograph with widths around the span ends, tiny
// and empty sizes.
TEST_F(DitherTest, EveryValueAtEveryPositionAndOddSizesFollowTheRule) {
  test::Image photo = test::load_image("astronaut.ppm");
  for (int32_t method = 1; method <= 7; ++method) {
    const int32_t n = dither_matrix(method).size, w = 256 * n + 1, h = 2 * n + 1;
    Bitmap *src = gx_allocrawbitmap(w, h, 3);
    for (int32_t i = 0; i < w * h * 3; ++i)
      src->pixels[i] = static_cast<uint8_t>(i / 3 % w / n + i / 3 / w / n);
    EXPECT_TRUE(follows_the_rule(src, method)) << method;
    gx_freebitmap(src);
    for (int32_t w : {0, 1, 2, 5, 17, 343, 344, 351, 352, 353, 512, 704, 705, 1057})
      for (int32_t h : {0, 1, 3, 17}) {
        const Bitmap view{photo.rgb.data(), w, h, 3};
        EXPECT_TRUE(follows_the_rule(&view, method)) << method << " " << w << "x" << h;
      }
  }
}

TEST_F(DitherTest, RefusalsAllocateNothingAndAllocationFailuresLeaveNothing) {
  uint8_t px[9 * 7 * 3] = {};
  const Bitmap good{px, 9, 7, 3};
  const uint64_t calls = corvix_alloc_calls();
  for (int32_t method : {0, 8, -1, INT32_MIN, INT32_MAX})
    EXPECT_EQ(gx_dither(&good, method), nullptr);
  for (const Bitmap &b : {Bitmap{px, 9, 7, 1}, Bitmap{nullptr, 9, 7, 3}, Bitmap{px, -9, 7, 3},
                          Bitmap{px, 65536, 65536, 3}})
    for (int32_t method = 1; method <= 7; ++method)
      EXPECT_EQ(bytes(gx_dither(&b, method)) + bytes(dither_reference(&b, method)), "nullnull");
  EXPECT_EQ(gx_dither(nullptr, 1), nullptr);
  EXPECT_EQ(corvix_alloc_calls(), calls);
  const int made = test::sweep_allocation_failures([&](int failing) {
    Bitmap *b = gx_dither(&good, 3);
    EXPECT_EQ(b == nullptr, failing != 0);
    gx_freebitmap(b);
  });
  EXPECT_EQ(made, 2);
}

}  // namespace
}  // namespace corvix
