// Bitmap lifecycle: allocation, release, clone, copy, and every allocation failure.
#include <algorithm>
#include <cstring>

#include "tests/support.h"

namespace corvix {
namespace {

class BitmapTest : public test::LeakCheck {};

bool all_zero(const uint8_t *p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t v) { return v == 0; });
}

TEST_F(BitmapTest, AllocatedBitmapsHaveTheirGeometryAndAClearedBuffer) {
  // Dirty the memory first so a missing clear shows.
  void *dirt = PPCAllocVec(1024, MEMF_ANY);
  std::memset(dirt, 0x5A, 1024);
  PPCFreeVec(dirt);
  Bitmap *b = gx_allocbitmap(4, 3, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(b->width == 4 && b->height == 3 && b->bytes_per_pixel == 3);
  EXPECT_TRUE(all_zero(b->pixels, 36));
  Bitmap *e = gx_allocbitmap(0, 5, 3);
  ASSERT_NE(e, nullptr);
  EXPECT_NE(e->pixels, nullptr);
  EXPECT_EQ(gx_allocbitmap(-2, 1, 3), nullptr);
  EXPECT_EQ(gx_allocrawbitmap(65536, 65536, 3), nullptr);  // 12 GiB: does not fit
  EXPECT_EQ(gx_allocbitmap(46341, 46341, 1), nullptr);     // just past 2^31 bytes
  gx_freebitmap(e);
  gx_freebitmap(b);
  gx_freebitmap(nullptr);
}

TEST_F(BitmapTest, FailedAllocationsLeaveNothingBehind) {
  Bitmap *src = gx_allocbitmap(7, 5, 1);
  const std::function<Bitmap *()> makers[] = {[] { return gx_allocbitmap(7, 5, 3); },
                                              [] { return gx_allocrawbitmap(7, 5, 3); },
                                              [&] { return gx_clonebitmap(src); }};
  for (const auto &make : makers) {
    const int allocations = test::sweep_allocation_failures([&](int failing) {
      Bitmap *b = make();
      EXPECT_EQ(b == nullptr, failing != 0);
      gx_freebitmap(b);
    });
    EXPECT_EQ(allocations, 2);
  }
  gx_freebitmap(src);
}

TEST_F(BitmapTest, CloneOwnsACopyAndCopyNeedsEqualGeometry) {
  Bitmap *a = gx_allocbitmap(4, 3, 3), *b = gx_allocbitmap(3, 4, 3), *d = gx_allocbitmap(4, 3, 3);
  for (int i = 0; i < 36; ++i) a->pixels[i] = static_cast<uint8_t>(i + 1);
  Bitmap *c = gx_clonebitmap(a);
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(c->width == 4 && c->height == 3 && c->bytes_per_pixel == 3 && c->pixels != a->pixels);
  EXPECT_EQ(std::memcmp(c->pixels, a->pixels, 36), 0);
  EXPECT_EQ(gx_clonebitmap(nullptr), nullptr);
  EXPECT_EQ(gx_copybitmap(a, b), 0);
  EXPECT_TRUE(all_zero(b->pixels, 36));
  EXPECT_EQ(gx_copybitmap(a, d), 1);
  EXPECT_EQ(std::memcmp(a->pixels, d->pixels, 36), 0);
  EXPECT_EQ(gx_copybitmap(a, a), 1);  // onto itself: defined, unchanged
  EXPECT_EQ(a->pixels[35], 36);
  for (Bitmap *x : {a, b, c, d}) gx_freebitmap(x);
}

}  // namespace
}  // namespace corvix
