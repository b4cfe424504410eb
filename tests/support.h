// Shared test helpers: leak accounting, allocation-failure sweeps, the test photographs.
#ifndef CORVIX_TESTS_SUPPORT_H
#define CORVIX_TESTS_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/cpu.h"
#include "corvix/corvix.h"
#include "corvix/host.hpp"

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

// A bitmap's pixel bytes.
inline std::vector<uint8_t> bytes_of(const Bitmap *b) {
  return {b->pixels, b->pixels + size_t(b->width) * b->height * b->bytes_per_pixel};
}
// Fills `size` bytes of memory with 0x5A and frees them: a byte that a later allocation of
// that size leaves unwritten then shows.
inline void dirty_freed_memory(uint32_t size) {
  void *dirt = PPCAllocVec(size, MEMF_ANY);
  std::memset(dirt, 0x5A, size);
  PPCFreeVec(dirt);
}

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

// ---- Hosts and servers -------------------------------------------------------------

// A private runtime directory for this test process's ports (made once, set as
// $CORVIX_RUNTIME_DIR, removed at exit).
const std::string &runtime_dir();

// A corvixd process serving a private port name.
class ServerProcess {
 public:
  explicit ServerProcess(std::vector<std::string> args = {}, bool wait_for_port = true);
  ~ServerProcess();
  ServerProcess(const ServerProcess &) = delete;
  ServerProcess &operator=(const ServerProcess &) = delete;

  const std::string &name() const { return name_; }
  int pid() const { return pid_; }
  // The exit code once the process ended within timeout_ms; -1 if it still runs, -2 if a
  // signal ended it.
  int wait_exit(int timeout_ms);
  void signal(int sig);
  // What the process wrote to its standard output, and to its standard error.
  std::string output() const;
  std::string errors() const;

 private:
  std::string name_, out_path_;
  int pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
};

// A host connection (embedded server of its own, or a running server's port), plus a helper
// for the test photographs.
class Host : public corvix::Host {
 public:
  explicit Host(const std::string &port_name);
  Host();
  bool ok() const { return static_cast<bool>(*this); }
  using corvix::Host::put;
  uint32_t put(const std::vector<uint8_t> &bytes) { return put(bytes.data(), bytes.size()); }
  // A shared bitmap (record and pixels) holding an image.
  uint32_t bitmap_of(const Image &image) {
    return bitmap(put(image.rgb), image.width, image.height, 3);
  }
};

// A whole file's bytes ("" when it cannot be read); a file holding exactly `bytes`.
std::string file_bytes(const std::string &path);
void put_file(const std::string &path, const std::string &bytes);
// Whether a shell command line succeeds.
bool run_shell(const std::string &command);

// ---- Instruction-set levels ----------------------------------------------------------

// A test run once per level (core/cpu.h) with the whole process set to it, so the public
// routines take that level's forms; the levels this CPU lacks say SKIPPED. Leaks fail it as
// they fail a LeakCheck. Instantiate with CORVIX_AT_EACH_LEVEL(Suite).
class AtEachLevel : public LeakCheck, public ::testing::WithParamInterface<Simd> {
 protected:
  void SetUp() override {
    LeakCheck::SetUp();
    if (GetParam() > cpu_simd()) GTEST_SKIP() << simd_name(GetParam()) << " is not on this CPU";
    before_ = set_simd_level(GetParam());
  }
  void TearDown() override {
    set_simd_level(before_);
    LeakCheck::TearDown();
  }

 private:
  Simd before_ = simd_level();
};

#define CORVIX_AT_EACH_LEVEL(suite)                                                   \
  INSTANTIATE_TEST_SUITE_P(Level, suite, ::testing::ValuesIn(::corvix::kSimdLevels),  \
                           [](const ::testing::TestParamInfo<::corvix::Simd> &info) { \
                             return std::string(::corvix::simd_name(info.param));     \
                           })

}  // namespace corvix::test

namespace corvix {
// Test names and messages show a level by its name.
inline void PrintTo(Simd level, std::ostream *os) { *os << simd_name(level); }
}  // namespace corvix

#endif
