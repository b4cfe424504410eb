// Shared test helpers: leak accounting, allocation-failure sweeps, the test photographs.
#ifndef CORVIX_TESTS_SUPPORT_H
#define CORVIX_TESTS_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "corvix/corvix.h"

namespace corvix::test {

// Fails the test when the segment holds other blocks at the end than at the start.
class LeakCheck : public ::testing::Test {
 protected:
  void SetUp() override { corvix_alloc_stats(&blocks_, &bytes_); }
  void TearDown() override {
    uint64_t blocks = 0, bytes = 0;
    corvix_alloc_stats(&blocks, &bytes);
    EXPECT_EQ(blocks, blocks_) << "live blocks changed: leak or double free";
    EXPECT_EQ(bytes, bytes_);
  }

 private:
  uint64_t blocks_ = 0, bytes_ = 0;
};

// Runs `body` once undisturbed (failing = 0), then once per allocation that run made, with
// that allocation (failing = 1, 2, ...) refused. Returns how many allocations the undisturbed
// run made. `body` must allocate the same way every time.
int sweep_allocation_failures(const std::function<void(int failing)> &body);

// A packed three-byte image, red first, as the test photographs hold it.
struct Image {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
};
// Reads tests/images/<name> (binary PPM, maxval 255).
Image load_image(const std::string &name);
// A Bitmap (PPCAllocVec blocks) holding the image's pixels; free with gx_freebitmap.
Bitmap *image_bitmap(const Image &image);
// Y, Cr and Cb planes of an image by the BT.601 studio-range forward transform, chroma
// averaged over groups of `group` pixels along the run.
struct Planes {
  std::vector<uint8_t> y, cr, cb;
};
Planes image_planes(const Image &image, uint32_t group);

}  // namespace corvix::test

#endif
