// Bytes for the image readers from descriptors, streams and memory.
#include "io/source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "core/error.h"

namespace corvix {

bool Source::failed_reading() const {
  if (error_ == 0) return false;
  set_error(CORVIX_E_IO, "read error: %s", std::strerror(error_));
  return true;
}

Source::Source(Kind kind, int fd, std::FILE *file, const void *data, size_t size)
    : kind_(kind), fd_(fd), file_(file), buf_(own_) {
  if (kind == Kind::kMemory) {
    buf_ = static_cast<const uint8_t *>(data);
    len_ = taken_ = static_cast<int64_t>(size);
    return;
  }
  if (kind == Kind::kDescriptor) {
    const off_t at = lseek(fd, 0, SEEK_CUR);
    struct stat st;
    seekable_ = at >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (seekable_) {
      start_ = at;
      regular_size_ = st.st_size;
      chunk_ = sizeof own_ - 1;  // refill keeps one byte in front
    }
  }
}

Source Source::descriptor(int fd) { return Source(Kind::kDescriptor, fd, nullptr, nullptr, 0); }
Source Source::stream(std::FILE *file) { return Source(Kind::kStream, -1, file, nullptr, 0); }
Source Source::memory(const void *data, size_t size) {
  return Source(Kind::kMemory, -1, nullptr, data, size);
}

void Source::unget() {
  if (pos_ > 0) --pos_;
}

bool Source::at_end() {
  if (pos_ < len_) return false;
  return !refill();
}

int64_t Source::remaining() const {
  if (kind_ == Kind::kMemory) return len_ - pos_;
  if (regular_size_ < 0) return -1;
  return std::max<int64_t>(regular_size_ - start_ - consumed(), 0);
}

const uint8_t *Source::memory_rest(size_t *size) const {
  if (kind_ != Kind::kMemory) return nullptr;
  *size = static_cast<size_t>(len_ - pos_);
  return buf_ + pos_;
}

void Source::settle() {
  if (kind_ != Kind::kDescriptor || !seekable_ || pos_ == len_) return;
  // The bytes read ahead go back to the descriptor.
  if (lseek(fd_, start_ + consumed(), SEEK_SET) >= 0) {
    taken_ -= len_ - pos_;
    len_ = pos_;
  }
}

int64_t Source::read_some(uint8_t *dst, int64_t n) {
  if (kind_ == Kind::kMemory) return 0;
  if (kind_ == Kind::kStream) {
    const size_t got = std::fread(dst, 1, static_cast<size_t>(n), file_);
    if (got == 0 && std::ferror(file_)) {
      error_ = errno != 0 ? errno : EIO;
      return -1;
    }
    taken_ += static_cast<int64_t>(got);
    return static_cast<int64_t>(got);
  }
  for (;;) {
    const ssize_t got = ::read(fd_, dst, static_cast<size_t>(std::min<int64_t>(n, INT32_MAX)));
    if (got >= 0) {
      taken_ += got;
      return got;
    }
    if (errno != EINTR) {
      error_ = errno;
      return -1;
    }
  }
}

bool Source::refill() {
  if (kind_ == Kind::kMemory) return false;
  // The last byte stays in front, so unget() works across a refill.
  const bool keep = len_ > 0;
  if (keep) own_[0] = buf_[len_ - 1];
  const int64_t from = keep ? 1 : 0;
  const int64_t got = read_some(own_ + from, chunk_);
  if (got <= 0) return false;
  pos_ = from;
  len_ = from + got;
  return true;
}

bool Source::read_exact(uint8_t *dst, int64_t n) {
  got_ = 0;
  const int64_t held = std::min<int64_t>(n, len_ - pos_);
  const uint8_t *from = buf_ + pos_;
  pos_ += held;
  uint8_t *rest = dst + held;
  const int64_t remaining = n - held;
  if (remaining > 0 && kind_ == Kind::kMemory) {
    got_ = held;
    return false;
  }
  // The kernel copies from the page cache several times faster when the file offset and the
  // destination agree modulo 64, and a header (17 bytes for full HD) puts every sample out
  // of step. So a large rest is read that many bytes early, over the place of the bytes
  // still held in the buffer, and moved into step in memory; the held bytes go in last.
  int64_t early = 0;
  if (remaining >= 64 * 1024 && kind_ == Kind::kDescriptor && seekable_) {
    const off_t at = lseek(fd_, 0, SEEK_CUR);
    const auto step =
        static_cast<int64_t>((reinterpret_cast<uintptr_t>(rest) - static_cast<uintptr_t>(at)) & 63);
    if (at >= 0 && step <= held) early = step;
  }
  int64_t done = 0;
  while (done < remaining) {
    const int64_t got = read_some(rest - early + done, remaining - done);
    if (got <= 0) break;
    done += got;
  }
  if (done < remaining) {
    got_ = held + done;
    return false;
  }
  if (early != 0) std::memmove(rest, rest - early, static_cast<size_t>(remaining));
  std::memcpy(dst, from, static_cast<size_t>(held));
  got_ = n;
  return true;
}

bool Source::read_rest(std::vector<uint8_t> *out, int64_t limit) {
  out->insert(out->end(), buf_ + pos_, buf_ + len_);
  pos_ = len_;
  if (kind_ == Kind::kMemory) return static_cast<int64_t>(out->size()) <= limit;
  uint8_t chunk[1 << 16];
  for (;;) {
    const int64_t got = read_some(chunk, sizeof chunk);
    if (got < 0) return false;
    if (got == 0) return true;
    if (static_cast<int64_t>(out->size()) + got > limit) return false;
    out->insert(out->end(), chunk, chunk + got);
  }
}

}  // namespace corvix
