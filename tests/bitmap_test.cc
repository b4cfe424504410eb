// Bitmap lifecycle: allocation, release, clone, copy, and every allocation failure.
#include <functional>
#include <vector>

#include "tests/support.h"

namespace corvix {
namespace {

class BitmapTest : public test::LeakCheck {};

// The geometry asked for and a cleared buffer (the memory is dirtied first so a missing clear
// shows); negative sizes and sizes past 2^31 bytes refused; each allocation of the allocators
// and the clone failing in turn gives NULL and leaves nothing behind.
TEST_F(BitmapTest, AllocationClearsRefusesAndLeavesNothingOnFailure) {
  test::dirty_freed_memory(1024);
  Bitmap *b = gx_allocbitmap(4, 3, 3), *e = gx_allocbitmap(0, 5, 3);
  ASSERT_TRUE(b != nullptr && e != nullptr && e->pixels != nullptr);
  EXPECT_TRUE(b->width == 4 && b->height == 3 && b->bytes_per_pixel == 3);
  EXPECT_EQ(test::bytes_of(b), std::vector<uint8_t>(36, 0));
  EXPECT_EQ(gx_allocbitmap(-2, 1, 3), nullptr);
  EXPECT_EQ(gx_allocrawbitmap(65536, 65536, 3), nullptr);  // 12 GiB: does not fit
  EXPECT_EQ(gx_allocbitmap(46341, 46341, 1), nullptr);     // just past 2^31 bytes
  const std::function<Bitmap *()> makers[] = {[] { return gx_allocbitmap(7, 5, 3); },
                                              [] { return gx_allocrawbitmap(7, 5, 3); },
                                              [&] { return gx_clonebitmap(b); }};
  for (const auto &make : makers)
    EXPECT_EQ(test::sweep_allocation_failures([&](int failing) {
                Bitmap *m = make();
                EXPECT_EQ(m == nullptr, failing != 0);
                gx_freebitmap(m);
              }),
              2);
  gx_freebitmap(e);
  gx_freebitmap(b);
  gx_freebitmap(nullptr);
}

TEST_F(BitmapTest, CloneOwnsACopyAndCopyNeedsEqualGeometry) {
  Bitmap *a = gx_allocbitmap(4, 3, 3), *b = gx_allocbitmap(3, 4, 3), *d = gx_allocbitmap(4, 3, 3);
  for (int i = 0; i < 36; ++i) a->pixels[i] = static_cast<uint8_t>(i + 1);
  Bitmap *c = gx_clonebitmap(a);
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(c->width == 4 && c->height == 3 && c->bytes_per_pixel == 3 && c->pixels != a->pixels);
  EXPECT_EQ(test::bytes_of(c), test::bytes_of(a));
  EXPECT_EQ(gx_clonebitmap(nullptr), nullptr);
  EXPECT_EQ(gx_copybitmap(a, b), 0);
  EXPECT_EQ(test::bytes_of(b), std::vector<uint8_t>(36, 0));
  EXPECT_EQ(gx_copybitmap(a, d), 1);
  EXPECT_EQ(test::bytes_of(d), test::bytes_of(a));
  EXPECT_EQ(gx_copybitmap(a, a), 1);  // onto itself: defined, unchanged
  EXPECT_EQ(a->pixels[35], 36);
  for (Bitmap *x : {a, b, c, d}) gx_freebitmap(x);
}

}  // namespace
}  // namespace corvix
