// Bitmap lifecycle: allocation, release, clone, copy, and every allocation failure.
#include <algorithm>
#include <cstring>

#include "tests/support.h"

namespace corvix {
namespace {

class BitmapTest : public test::LeakCheck {};

TEST_F(BitmapTest, AllocatedBitmapsHaveTheirGeometryAndAClearedBuffer) {
  // Dirty the memory first so a missing clear shows.
  void *dirt = PPCAllocVec(1024, MEMF_ANY);
  std::memset(dirt, 0x5A, 1024);
  PPCFreeVec(dirt);
  Bitmap *b = gx_allocbitmap(4, 3, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->width, 4);
  EXPECT_EQ(b->height, 3);
  EXPECT_EQ(b->bytes_per_pixel, 3);
  EXPECT_TRUE(std::all_of(b->pixels, b->pixels + 36, [](uint8_t v) { return v == 0; }));
  Bitmap *r = gx_allocrawbitmap(4, 3, 3);
  ASSERT_NE(r, nullptr);
  EXPECT_NE(r->pixels, b->pixels);
  gx_freebitmap(r);
  gx_freebitmap(b);
  gx_freebitmap(nullptr);
}

TEST_F(BitmapTest, EmptySizesGiveABitmapAndBadSizesGiveNull) {
  Bitmap *e = gx_allocbitmap(0, 5, 3);
  ASSERT_NE(e, nullptr);
  EXPECT_NE(e->pixels, nullptr);
  gx_freebitmap(e);
  EXPECT_EQ(gx_allocbitmap(-2, 1, 3), nullptr);
  EXPECT_EQ(gx_allocrawbitmap(65536, 65536, 3), nullptr);  // 12 GiB: does not fit
  EXPECT_EQ(gx_allocbitmap(46341, 46341, 1), nullptr);     // just past 2^31 bytes
}

TEST_F(BitmapTest, FailedAllocationsLeaveNothingBehind) {
  for (auto make : {gx_allocbitmap, gx_allocrawbitmap}) {
    const int allocations = test::sweep_allocation_failures([&](int failing) {
      Bitmap *b = make(7, 5, 3);
      EXPECT_EQ(b == nullptr, failing == 1 || failing == 2);
      gx_freebitmap(b);
    });
    EXPECT_EQ(allocations, 2);
  }
  Bitmap *src = gx_allocbitmap(7, 5, 1);
  test::sweep_allocation_failures([&](int failing) {
    Bitmap *c = gx_clonebitmap(src);
    EXPECT_EQ(c == nullptr, failing != 0);
    gx_freebitmap(c);
  });
  gx_freebitmap(src);
}

TEST_F(BitmapTest, CloneCopiesPixelsIntoItsOwnBuffer) {
  const test::Image im = test::load_image("coffee.ppm");
  Bitmap *src = test::image_bitmap(im);
  Bitmap *c = gx_clonebitmap(src);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->width, 600);
  EXPECT_EQ(c->height, 400);
  EXPECT_NE(c->pixels, src->pixels);
  EXPECT_EQ(std::memcmp(c->pixels, im.rgb.data(), im.rgb.size()), 0);
  c->pixels[0] ^= 0xFF;
  EXPECT_EQ(src->pixels[0], im.rgb[0]);
  EXPECT_EQ(gx_clonebitmap(nullptr), nullptr);
  gx_freebitmap(c);
  gx_freebitmap(src);
}

TEST_F(BitmapTest, CopyNeedsEqualGeometryNotEqualSize) {
  Bitmap *a = gx_allocbitmap(4, 3, 3), *b = gx_allocbitmap(3, 4, 3), *c = gx_allocbitmap(4, 3, 3);
  for (int i = 0; i < 36; ++i) a->pixels[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(gx_copybitmap(a, b), 0);
  EXPECT_TRUE(std::all_of(b->pixels, b->pixels + 36, [](uint8_t v) { return v == 0; }));
  EXPECT_EQ(gx_copybitmap(a, c), 1);
  EXPECT_EQ(std::memcmp(a->pixels, c->pixels, 36), 0);
  EXPECT_EQ(gx_copybitmap(a, a), 1);  // onto itself: defined, unchanged
  EXPECT_EQ(a->pixels[35], 36);
  gx_freebitmap(a);
  gx_freebitmap(b);
  gx_freebitmap(c);
}

}  // namespace
}  // namespace corvix
