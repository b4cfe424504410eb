// Binary PPM files: loading into and saving from three-byte bitmaps, and the library's small
// string helpers.
#include "io/ppm.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "core/pixels.h"
#include "corvix/bitmap.h"
#include "corvix/io.h"

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

// Reads a descriptor through a small buffer for the header, and straight into the caller's
// memory for the samples.
class Reader {
 public:
  static constexpr int64_t kLargeRead = 64 * 1024;

  explicit Reader(int fd) : fd_(fd) {}

  // The next byte, or -1 at the end of the file or on a read error.
  int get() {
    if (pos_ == len_ && !refill()) return -1;
    return buf_[pos_++];
  }

  // Bytes taken from the file so far.
  int64_t consumed() const { return taken_ - (len_ - pos_); }

  // Exactly n bytes into dst; false when the file ends sooner or a read fails (dst's contents
  // are then undefined).
  bool read_exact(uint8_t *dst, int64_t n) {
    const int64_t held = std::min<int64_t>(n, len_ - pos_);
    const uint8_t *from = buf_ + pos_;
    pos_ += static_cast<int32_t>(held);
    uint8_t *rest = dst + held;
    const int64_t remaining = n - held;
    // The kernel copies from the page cache several times faster when the file offset and the
    // destination agree modulo 64, and a header (17 bytes for full HD) puts every sample out
    // of step. So a large rest is read that many bytes early, over the place of the bytes
    // still held in the buffer, and moved into step in memory; the held bytes go in last.
    int64_t early = 0;
    if (remaining >= kLargeRead) {
      const off_t at = lseek(fd_, 0, SEEK_CUR);
      const auto step = static_cast<int64_t>(
          (reinterpret_cast<uintptr_t>(rest) - static_cast<uintptr_t>(at)) & 63);
      if (at >= 0 && step <= held) early = step;
    }
    for (int64_t done = 0; done < remaining;) {
      const int64_t got = read_some(rest - early + done, remaining - done);
      if (got <= 0) return false;
      done += got;
    }
    if (early != 0) std::memmove(rest, rest - early, static_cast<size_t>(remaining));
    std::memcpy(dst, from, static_cast<size_t>(held));
    return true;
  }

 private:
  int64_t read_some(uint8_t *dst, int64_t n) {
    for (;;) {
      const ssize_t got = ::read(fd_, dst, static_cast<size_t>(std::min<int64_t>(n, INT32_MAX)));
      if (got >= 0 || errno != EINTR) {
        if (got > 0) taken_ += got;
        return got;
      }
    }
  }

  bool refill() {
    const int64_t got = read_some(buf_, sizeof buf_);
    if (got <= 0) return false;
    pos_ = 0;
    len_ = static_cast<int32_t>(got);
    return true;
  }

  int fd_;
  int32_t pos_ = 0, len_ = 0;
  int64_t taken_ = 0;
  uint8_t buf_[4096];
};

bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool is_digit(int c) { return c >= '0' && c <= '9'; }

// The next header byte with a comment ("#" up to the next LF or CR) standing for its
// terminating LF or CR, as netpbm reads headers. -1 at the end of the file, also inside a
// comment.
int header_byte(Reader &r) {
  int c = r.get();
  if (c == '#') {
    do c = r.get();
    while (c != -1 && c != '\n' && c != '\r');
  }
  return c;
}

// Larger than any width, height or maximum that can load; digits beyond it change nothing.
constexpr int64_t kNumberCap = int64_t{1} << 40;

// One header number after any white space and comments. Consumes the byte that ends the
// digits, which must be white space (or a comment): it separates the number from the next
// item, and after the maximum it is the single byte before the samples. -1 when the header
// is malformed or cut short.
int64_t header_number(Reader &r) {
  int c = header_byte(r);
  while (is_space(c)) c = header_byte(r);
  if (!is_digit(c)) return -1;
  int64_t value = 0;
  for (; is_digit(c); c = header_byte(r)) value = std::min(value * 10 + (c - '0'), kNumberCap);
  return is_space(c) ? value : -1;
}

// Samples of 1..254: scaled through a table, a sample above the maximum refuses the file.
bool scale_bytes(uint8_t *p, int64_t n, uint32_t max) {
  uint8_t table[256] = {};
  for (uint32_t v = 0; v <= max; ++v) table[v] = scale_sample(v, max);
  uint8_t highest = 0;
  for (int64_t i = 0; i < n; ++i) {
    highest = std::max(highest, p[i]);
    p[i] = table[p[i]];
  }
  return highest <= max;
}

// Two-byte samples (most significant first) scaled into bytes; the highest sample seen.
// `Max` is a constant for the common maximum 65535, so the division becomes a multiply.
template <typename Max>
uint32_t scale_wide(const uint8_t *in, uint8_t *out, int64_t count, Max max) {
  uint32_t highest = 0;
  for (int64_t i = 0; i < count; ++i) {
    const uint32_t v = (uint32_t{in[2 * i]} << 8) | in[2 * i + 1];
    highest = std::max(highest, v);
    out[i] = scale_sample(std::min<uint32_t>(v, max), max);
  }
  return highest;
}

// Two-byte samples read in chunks and scaled into dst.
bool read_wide_samples(Reader &r, uint8_t *dst, int64_t n, uint32_t max) {
  uint8_t chunk[16384];
  constexpr int64_t kPerChunk = sizeof chunk / 2;
  uint32_t highest = 0;
  for (int64_t done = 0; done < n;) {
    const int64_t count = std::min(kPerChunk, n - done);
    if (!r.read_exact(chunk, 2 * count)) return false;
    const uint32_t h = max == 65535 ? scale_wide(chunk, dst + done, count,
                                                 std::integral_constant<uint32_t, 65535>{})
                                    : scale_wide(chunk, dst + done, count, max);
    highest = std::max(highest, h);
    done += count;
  }
  return highest <= max;
}

}  // namespace

Bitmap *load_ppm_fd(int fd) {
  Reader r(fd);
  // "P6" and at least one white-space byte or comment before the width.
  if (r.get() != 'P' || r.get() != '6' || !is_space(header_byte(r))) return nullptr;
  const int64_t width = header_number(r);
  if (width < 1) return nullptr;
  const int64_t height = header_number(r);
  if (height < 1) return nullptr;
  const int64_t max = header_number(r);
  if (max < 1 || max > 65535) return nullptr;

  const int64_t bytes = checked_size(width, height, 3);
  if (bytes < 0) return nullptr;
  const int64_t file_bytes = max > 255 ? 2 * bytes : bytes;
  // A header announcing more samples than the file holds fails before anything is allocated.
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && file_bytes > st.st_size - r.consumed())
    return nullptr;

  Bitmap *b = gx_allocrawbitmap(static_cast<int32_t>(width), static_cast<int32_t>(height), 3);
  if (b == nullptr) return nullptr;
  bool ok;
  if (max > 255) {
    ok = read_wide_samples(r, b->pixels, bytes, static_cast<uint32_t>(max));
  } else {
    ok = r.read_exact(b->pixels, bytes);
    if (ok && max != 255) ok = scale_bytes(b->pixels, bytes, static_cast<uint32_t>(max));
  }
  if (!ok) {
    gx_freebitmap(b);
    return nullptr;
  }
  return b;
}

namespace {

bool write_all(int fd, const uint8_t *p, int64_t n) {
  while (n > 0) {
    const ssize_t put = ::write(fd, p, static_cast<size_t>(std::min<int64_t>(n, INT32_MAX)));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= put;
  }
  return true;
}

// Header and samples into fd, then closes it; false when any of it failed.
bool write_and_close(int fd, const char *header, const uint8_t *pixels, int64_t n) {
  bool ok = write_all(fd, reinterpret_cast<const uint8_t *>(header),
                      static_cast<int64_t>(std::strlen(header))) &&
            write_all(fd, pixels, n);
  if (::close(fd) != 0) ok = false;
  return ok;
}

std::atomic<uint32_t> temp_counter{0};

// A new file beside `target` under a name no one else uses; -1 when none can be made.
int make_temp(const char *target, char (&temp)[PATH_MAX]) {
  const char *slash = std::strrchr(target, '/');
  const int dir = slash == nullptr ? 0 : static_cast<int>(slash - target) + 1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int len = std::snprintf(temp, sizeof temp, "%.*s.corvix-%ld-%u.tmp", dir, target,
                                  static_cast<long>(getpid()), temp_counter.fetch_add(1));
    if (len < 0 || len >= static_cast<int>(sizeof temp)) return -1;
    const int fd = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

int32_t save_file(const char *filename, const char *header, const uint8_t *pixels, int64_t n) {
  // A link is followed, so the file it names is replaced and the link stays.
  char resolved[PATH_MAX];
  const char *target = filename;
  struct stat st;
  if (lstat(filename, &st) == 0 && S_ISLNK(st.st_mode) && realpath(filename, resolved))
    target = resolved;

  const bool exists = stat(target, &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return 0;
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or pipe cannot be replaced; write to it as it is. Opened without blocking, so
    // a pipe nobody reads fails at once instead of holding the caller.
    const int fd = ::open(target, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return 0;
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      ::close(fd);
      return 0;
    }
    return write_and_close(fd, header, pixels, n) ? 1 : 0;
  }

  char temp[PATH_MAX];
  const int fd = make_temp(target, temp);
  if (fd < 0) return 0;
  if (exists) (void)fchmod(fd, st.st_mode & 07777);
  if (write_and_close(fd, header, pixels, n) && std::rename(temp, target) == 0) return 1;
  ::unlink(temp);
  return 0;
}

}  // namespace
}  // namespace corvix

extern "C" {

Bitmap *gx_loadppmasbitmap(const char *filename) {
  if (filename == nullptr) return nullptr;
  // Non-blocking only while opening, so a pipe without a writer does not hold the caller.
  const int fd = ::open(filename, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return nullptr;
  Bitmap *b = nullptr;
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) b = corvix::load_ppm_fd(fd);
  ::close(fd);
  return b;
}

int32_t gx_savebitmapasppm(const Bitmap *bitmap, const char *filename) {
  if (bitmap == nullptr || filename == nullptr || bitmap->bytes_per_pixel != 3 ||
      bitmap->width < 1 || bitmap->height < 1)
    return 0;
  const int64_t n = corvix::bitmap_bytes(bitmap, 3);
  if (n <= 0) return 0;
  char header[48];
  std::snprintf(header, sizeof header, "P6\n%ld %ld\n255\n", static_cast<long>(bitmap->width),
                static_cast<long>(bitmap->height));
  return corvix::save_file(filename, header, bitmap->pixels, n);
}

}  // extern "C"
