// Replacing files safely: temporary file, complete write, checked close, rename.
#include "io/safe_file.h"

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

#include "core/error.h"

namespace corvix {
namespace {

// Paths of the temporary files that exist right now, in plain arrays so that a signal
// handler can remove them.
constexpr int kSlots = 16;
char g_paths[kSlots][PATH_MAX];
std::atomic<int> g_used[kSlots];

int remember(const char *path) {
  if (std::strlen(path) >= PATH_MAX) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    // 2 while the path is being copied, 1 once a handler may use it.
    if (g_used[i].compare_exchange_strong(expected, 2)) {
      std::strcpy(g_paths[i], path);
      g_used[i].store(1);
      return i;
    }
  }
  return -1;  // not tracked: removed on ordinary failures only
}

void forget(int slot) {
  if (slot >= 0) g_used[slot].store(0);
}

std::atomic<uint32_t> g_counter{0};

// A new file beside `target` under a name no one else uses; -1 (errno set) when none can be
// made. `temp` receives its path.
int make_temp(const char *target, char (&temp)[PATH_MAX]) {
  const char *slash = std::strrchr(target, '/');
  const int dir = slash == nullptr ? 0 : static_cast<int>(slash - target) + 1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int len = std::snprintf(temp, sizeof temp, "%.*s.corvix-%ld-%u.tmp", dir, target,
                                  static_cast<long>(getpid()), g_counter.fetch_add(1));
    if (len < 0 || len >= static_cast<int>(sizeof temp)) {
      errno = ENAMETOOLONG;
      return -1;
    }
    const int fd = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

bool write_all(int fd, const void *data, size_t size) {
  const auto *p = static_cast<const uint8_t *>(data);
  while (size > 0) {
    const ssize_t put = ::write(fd, p, std::min<size_t>(size, INT32_MAX));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0)
      return fail(CORVIX_E_IO, "%s", put < 0 ? std::strerror(errno) : "nothing was written");
    p += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

bool SafeFile::open(const char *path) {
  discard();
  failed_ = false;
  // A link is followed, so the file it names is replaced and the link stays.
  char resolved[PATH_MAX];
  const char *target = path;
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode) && realpath(path, resolved)) target = resolved;

  const bool exists = stat(target, &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return fail(CORVIX_E_IO, "is a directory");
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or pipe cannot be replaced; it is written as it is. Opened without blocking,
    // so a pipe nobody reads fails at once instead of holding the caller.
    const int fd = ::open(target, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return fail(CORVIX_E_IO, "%s", std::strerror(errno));
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      const int err = errno;
      ::close(fd);
      return fail(CORVIX_E_IO, "%s", std::strerror(err));
    }
    fd_ = fd;
    owned_ = true;
    return true;
  }
  char temp[PATH_MAX];
  const int fd = make_temp(target, temp);
  if (fd < 0) return fail(CORVIX_E_IO, "%s", std::strerror(errno));
  if (exists) (void)fchmod(fd, st.st_mode & 07777);
  fd_ = fd;
  owned_ = true;
  temp_ = strdup(temp);
  target_ = strdup(target);
  slot_ = remember(temp);
  if (temp_ == nullptr || target_ == nullptr) {
    discard();
    return fail(CORVIX_E_NOMEM, "out of memory");
  }
  return true;
}

void SafeFile::adopt(int fd) {
  discard();
  fd_ = fd;
  owned_ = false;
  failed_ = false;
}

bool SafeFile::write(const void *data, size_t size) {
  if (fd_ < 0 || failed_) return fail(CORVIX_E_IO, "the file is not open");
  if (!write_all(fd_, data, size)) failed_ = true;
  return !failed_;
}

bool SafeFile::commit() {
  if (fd_ < 0) return fail(CORVIX_E_IO, "the file is not open");
  if (failed_) {
    discard();
    return fail(CORVIX_E_IO, "an earlier write failed");
  }
  if (!owned_) {
    fd_ = -1;
    return true;
  }
  // A failing close can mean the data never reached the disk (NFS, quotas): the file must
  // not replace an older one then.
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    const int err = errno;
    discard();
    return fail(CORVIX_E_IO, "closing the file failed: %s", std::strerror(err));
  }
  if (temp_ != nullptr && std::rename(temp_, target_) != 0) {
    const int err = errno;
    discard();
    return fail(CORVIX_E_IO, "%s", std::strerror(err));
  }
  forget(slot_);
  slot_ = -1;
  std::free(temp_);
  std::free(target_);
  temp_ = target_ = nullptr;
  return true;
}

bool save_file(const char *path, std::initializer_list<Bytes> parts) {
  SafeFile file;
  if (!file.open(path)) return false;
  for (const Bytes &part : parts)
    if (!file.write(part.data, part.size)) return false;
  return file.commit();
}

bool save_fd(int fd, std::initializer_list<Bytes> parts) {
  for (const Bytes &part : parts)
    if (!write_all(fd, part.data, part.size)) return false;
  return true;
}

bool save_stream(std::FILE *stream, std::initializer_list<Bytes> parts) {
  for (const Bytes &part : parts)
    if (part.size > 0 && std::fwrite(part.data, 1, part.size, stream) != part.size)
      return fail(CORVIX_E_IO, "%s", std::strerror(errno));
  if (std::fflush(stream) != 0) return fail(CORVIX_E_IO, "%s", std::strerror(errno));
  return true;
}

void SafeFile::discard() {
  if (fd_ >= 0 && owned_) ::close(fd_);
  fd_ = -1;
  if (temp_ != nullptr) ::unlink(temp_);
  forget(slot_);
  slot_ = -1;
  std::free(temp_);
  std::free(target_);
  temp_ = target_ = nullptr;
}

void remove_temporary_files() {
  for (int i = 0; i < kSlots; ++i)
    if (g_used[i].load() == 1) ::unlink(g_paths[i]);
}

}  // namespace corvix
