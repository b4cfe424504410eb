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
  // What the process wrote to its standard output.
  std::string output() const;

 private:
  std::string name_, out_path_;
  int pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
};

// A host connection with helpers for big-endian words and records in shared memory.
class Host {
 public:
  explicit Host(const std::string &port_name);  // connect to a running server
  Host();                                        // an embedded server of its own
  ~Host();
  Host(const Host &) = delete;
  Host &operator=(const Host &) = delete;

  corvix_host *get() const { return h_; }
  bool ok() const { return h_ != nullptr; }
  uint32_t alloc(uint32_t size, uint32_t attr = MEMF_CLEAR) {
    return corvix_host_alloc(h_, size, attr);
  }
  void free(uint32_t address) { corvix_host_free(h_, address); }
  uint8_t *at(uint32_t address) { return static_cast<uint8_t *>(corvix_host_pointer(h_, address)); }
  // A new shared block holding a copy of the bytes.
  uint32_t put(const void *data, size_t size);
  uint32_t put(const std::vector<uint8_t> &bytes) { return put(bytes.data(), bytes.size()); }
  // A 40-byte argument block with words 1.. set as given.
  uint32_t args(std::initializer_list<uint32_t> words);
  // A 16-byte big-endian Bitmap record.
  uint32_t bitmap(uint32_t pixels, int32_t width, int32_t height, int32_t bpp);
  // A shared bitmap (record and pixels) holding an image.
  uint32_t bitmap_of(const Image &image);
  // A record read back from shared memory, its pixels a pointer into this host's view.
  Bitmap read_bitmap(uint32_t address);
  // Frees a bitmap a command returned (record and pixels).
  void free_bitmap(uint32_t address);
  int32_t send(int32_t code, uint32_t block) { return corvix_host_send(h_, code, block); }
  uint32_t word(uint32_t block, int n) { return corvix_get_be32(at(block) + 4 * n); }
  // Live blocks of this host as the server counts them.
  uint32_t blocks();

 private:
  corvix_host *h_ = nullptr;
};

}  // namespace corvix::test

#endif
