// Fuzz target for the PPM reader. Any bytes, read as a file, must load or be refused without
// a fault, leak or undefined behaviour; whatever loads must save and load back unchanged.
// The allocation seam is served from malloc here, so AddressSanitizer guards every record
// and pixel buffer to the byte (the shared segment is invisible to it).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "corvix/corvix.h"
#include "io/ppm.h"

namespace {

long g_live_blocks = 0;

[[noreturn]] void fail(const char *what) {
  std::fprintf(stderr, "ppm_fuzz: %s\n", what);
  std::abort();
}

// The input as a regular file, so the reader sees a size as it does on disk.
int input_file() {
  static const int fd = memfd_create("ppm-fuzz-input", MFD_CLOEXEC);
  if (fd < 0) fail("cannot make the input file");
  return fd;
}

const std::string &scratch_file() {
  static const std::string path = [] {
    char dir[] = "/tmp/corvix-ppm-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr) fail("cannot make a scratch directory");
    static std::string d = dir;
    std::atexit([] {
      std::remove((d + "/out.ppm").c_str());
      rmdir(d.c_str());
    });
    return d + "/out.ppm";
  }();
  return path;
}

void round_trip(const Bitmap *b) {
  const std::string &path = scratch_file();
  if (gx_savebitmapasppm(b, path.c_str()) != 1) fail("a loaded bitmap did not save");
  Bitmap *back = gx_loadppmasbitmap(path.c_str());
  if (back == nullptr || back->width != b->width || back->height != b->height ||
      back->bytes_per_pixel != 3 ||
      std::memcmp(back->pixels, b->pixels, static_cast<size_t>(b->width) * b->height * 3) != 0)
    fail("a saved bitmap did not load back identically");
  gx_freebitmap(back);
}

}  // namespace

extern "C" void *PPCAllocVec(uint32_t size, uint32_t attr) {
  if (size > INT32_MAX) return nullptr;
  void *p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) return nullptr;
  if ((attr & MEMF_CLEAR) != 0) std::memset(p, 0, size);
  ++g_live_blocks;
  return p;
}

extern "C" void PPCFreeVec(void *block) {
  if (block == nullptr) return;
  --g_live_blocks;
  std::free(block);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const int fd = input_file();
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size) ||
      lseek(fd, 0, SEEK_SET) != 0)
    fail("cannot write the input file");
  Bitmap *b = corvix::load_ppm_fd(fd);
  if (b != nullptr) {
    if (b->width < 1 || b->height < 1 || b->bytes_per_pixel != 3) fail("bad geometry");
    round_trip(b);
    gx_freebitmap(b);
  }
  if (g_live_blocks != 0) fail("blocks left allocated");

  // The string helpers on the same bytes: their 80-byte buffers must hold whatever comes.
  const std::string text(reinterpret_cast<const char *>(data), size);
  const auto n = static_cast<int32_t>(size % 200) - 20;
  corvix::instr(text.c_str(), size > 0 ? static_cast<int8_t>(data[0]) : 0);
  if (std::strlen(corvix::left(text.c_str(), n)) > 79) fail("left overran its buffer");
  if (std::strlen(corvix::right(text.c_str(), n)) > 79) fail("right overran its buffer");
  return 0;
}
