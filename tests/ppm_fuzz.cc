// Fuzz target for the PPM reader. Any bytes, read as a file, must load or be refused without
// a fault, leak or undefined behaviour; whatever loads must save and load back unchanged.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "corvix/corvix.h"
#include "tests/fuzz_support.h"

namespace {

// A file in a scratch directory that goes at exit.
std::string scratch_file() {
  static std::string dir = std::filesystem::temp_directory_path() / "corvix-ppm-fuzz-XXXXXX";
  static const bool made =
      mkdtemp(dir.data()) && std::atexit([] { std::filesystem::remove_all(dir); }) == 0;
  CHECK(made);
  return dir + "/out.ppm";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The input as a regular file, so the reader sees a size as it does on disk.
  static const int fd = memfd_create("ppm-fuzz-input", MFD_CLOEXEC);
  CHECK(fd >= 0 && ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == ssize_t(size));
  CHECK(lseek(fd, 0, SEEK_SET) == 0);
  if (Bitmap *b = gx_loadppmasbitmapfd(fd)) {
    const std::string path = scratch_file();
    CHECK(gx_savebitmapasppm(b, path.c_str()) == 1);
    Bitmap *back = gx_loadppmasbitmap(path.c_str());
    CHECK(back != nullptr && back->width == b->width && back->height == b->height &&
          std::memcmp(back->pixels, b->pixels, size_t(b->width) * b->height * 3) == 0);
    gx_freebitmap(back);
    gx_freebitmap(b);
  }
  CHECK(g_live_blocks == 0);
  return 0;
}
