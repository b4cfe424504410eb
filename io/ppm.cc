// Binary PPM files by name, descriptor, stream and memory, and the library's small string
// helpers.
#include "io/ppm.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/error.h"
#include "core/pixels.h"
#include "corvix/bitmap.h"
#include "corvix/io.h"
#include "io/netpbm.h"
#include "io/safe_file.h"

namespace corvix {

int32_t instr(const char *string, int32_t character) {
  if (string == nullptr) return -1;
  int32_t found = -1;
  for (int32_t i = 0; string[i] != '\0'; ++i)
    if (static_cast<int32_t>(static_cast<int8_t>(string[i])) == character) found = i;
  return found;
}

namespace {
constexpr int32_t kTextBuffer = 80;
}

const char *left(const char *string, int32_t count) {
  thread_local char buffer[kTextBuffer];
  const int32_t n = std::clamp(count, 0, kTextBuffer - 1);
  int32_t i = 0;
  // Stops at the terminator too, so a short string is never read past its end.
  for (; string != nullptr && i < n && string[i] != '\0'; ++i) buffer[i] = string[i];
  buffer[i] = '\0';
  return buffer;
}

const char *right(const char *string, int32_t start) {
  thread_local char buffer[kTextBuffer];
  int32_t i = 0;
  if (string != nullptr) {
    const size_t from = static_cast<size_t>(std::max(start, 0));
    if (strnlen(string, from) == from)
      for (const char *s = string + from; i < kTextBuffer - 1 && s[i] != '\0'; ++i)
        buffer[i] = s[i];
  }
  buffer[i] = '\0';
  return buffer;
}

namespace {

// Opens a file for reading. Non-blocking only while opening, so a pipe without a writer does
// not hold the caller. -1 with the reason set when it cannot be read.
int open_for_reading(const char *filename) {
  if (filename == nullptr) return fail(CORVIX_E_INVALID, "no file name"), -1;
  const int fd = ::open(filename, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return fail(CORVIX_E_IO, "%s", std::strerror(errno)), -1;
  struct stat st;
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int err = errno;
    ::close(fd);
    return fail(CORVIX_E_IO, "%s", std::strerror(err)), -1;
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return fail(CORVIX_E_IO, "is a directory"), -1;
  }
  return fd;
}

// Writes a bitmap of three bytes a pixel as a PPM file through `save` (one of the safe
// writers, given the header and the pixels); 0 with the reason set.
template <class Save>
int32_t save_ppm(const Bitmap *bitmap, Save save) {
  if (bitmap != nullptr && bitmap->bytes_per_pixel != 3)
    return fail(CORVIX_E_INVALID, "a PPM file holds 3 bytes a pixel, not %d",
                bitmap->bytes_per_pixel);
  char header[48];
  const int n = netpbm_header(bitmap, header);
  if (n == 0) return 0;
  const size_t pixels = static_cast<size_t>(bitmap->width) * static_cast<size_t>(bitmap->height) *
                        static_cast<size_t>(bitmap->bytes_per_pixel);
  return save(Bytes{header, size_t(n)}, Bytes{bitmap->pixels, pixels}) ? 1 : 0;
}

}  // namespace

int open_image_file(const char *filename) { return open_for_reading(filename); }

}  // namespace corvix

extern "C" {

Bitmap *gx_loadppmasbitmap(const char *filename) {
  const int fd = corvix::open_for_reading(filename);
  if (fd < 0) return nullptr;
  Bitmap *b = gx_loadppmasbitmapfd(fd);
  ::close(fd);
  return b;
}

Bitmap *gx_loadppmasbitmapfd(int fd) {
  corvix::Source source = corvix::Source::descriptor(fd);
  return corvix::read_netpbm(source, true);
}

Bitmap *gx_loadppmasbitmapfile(FILE *stream) {
  if (stream == nullptr) return corvix::fail(CORVIX_E_INVALID, "no stream");
  corvix::Source source = corvix::Source::stream(stream);
  return corvix::read_netpbm(source, true);
}

Bitmap *gx_loadppmasbitmapmemory(const void *data, size_t size) {
  if (data == nullptr && size > 0) return corvix::fail(CORVIX_E_INVALID, "no data");
  corvix::Source source = corvix::Source::memory(data, size);
  return corvix::read_netpbm(source, true);
}

int32_t gx_savebitmapasppm(const Bitmap *bitmap, const char *filename) {
  return corvix::save_ppm(bitmap, [&](corvix::Bytes header, corvix::Bytes pixels) {
    if (filename == nullptr)
      return static_cast<bool>(corvix::fail(CORVIX_E_INVALID, "no file name"));
    return corvix::save_file(filename, {header, pixels});
  });
}

int32_t gx_savebitmapasppmfd(const Bitmap *bitmap, int fd) {
  return corvix::save_ppm(bitmap, [&](corvix::Bytes header, corvix::Bytes pixels) {
    return corvix::save_fd(fd, {header, pixels});
  });
}

int32_t gx_savebitmapasppmfile(const Bitmap *bitmap, FILE *stream) {
  return corvix::save_ppm(bitmap, [&](corvix::Bytes header, corvix::Bytes pixels) {
    if (stream == nullptr) return static_cast<bool>(corvix::fail(CORVIX_E_INVALID, "no stream"));
    return corvix::save_stream(stream, {header, pixels});
  });
}

}  // extern "C"
