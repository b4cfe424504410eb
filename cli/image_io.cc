// Image files for the tool: binary PPM through the library's own loader and saver, binary PGM
// (the tool's one-byte frames) through a small reader and writer of its own, standard input
// and output, and output files that appear whole or not at all.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "cli/tool.h"

namespace corvix::cli {
namespace {

// ---- Temporary files removed on every way out ----------------------------------------

// Paths of temporary files that exist right now. A fixed table of plain character arrays,
// because the signal handler that removes them may only call async-signal-safe functions.
constexpr int kTempSlots = 8;
char g_temp[kTempSlots][PATH_MAX];
volatile sig_atomic_t g_temp_used[kTempSlots];

void remove_temps_and_die(int sig) {
  for (int i = 0; i < kTempSlots; ++i)
    if (g_temp_used[i]) unlink(g_temp[i]);
  signal(sig, SIG_DFL);
  raise(sig);
}

int remember_temp(const std::string &path) {
  static bool handlers = false;
  if (!handlers) {
    handlers = true;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(sig, remove_temps_and_die);
  }
  for (int i = 0; i < kTempSlots; ++i) {
    if (!g_temp_used[i] && path.size() < PATH_MAX) {
      std::memcpy(g_temp[i], path.c_str(), path.size() + 1);
      g_temp_used[i] = 1;
      return i;
    }
  }
  return -1;  // not tracked: removed on normal exits only
}

void forget_temp(int slot) {
  if (slot >= 0) g_temp_used[slot] = 0;
}

std::string system_error(int err) { return err != 0 ? std::strerror(err) : "unknown error"; }

std::string quoted(const std::string &path) {
  return path == "-" ? std::string("standard input") : "'" + path + "'";
}

// A copy of standard input in a temporary file, so that the loader can take it as a file and
// a failure can still be diagnosed from its first bytes. Removed when it goes.
class StdinCopy {
 public:
  StdinCopy() {
    const char *dir = std::getenv("TMPDIR");
    path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/corvix-stdin-XXXXXX";
    const int fd = mkstemp(path_.data());
    if (fd < 0)
      throw Failure("cannot make a temporary file for standard input: " + system_error(errno));
    slot_ = remember_temp(path_);
    char buffer[1 << 16];
    for (;;) {
      const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n == 0) break;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || write(fd, buffer, static_cast<size_t>(n)) != n) {
        const int err = errno;
        close(fd);
        throw Failure(
            std::string(n < 0 ? "cannot read standard input: " : "cannot buffer standard input: ") +
            system_error(err));
      }
    }
    close(fd);
  }
  ~StdinCopy() {
    unlink(path_.c_str());
    forget_temp(slot_);
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
  int slot_ = -1;
};

// ---- PGM --------------------------------------------------------------------------------

// One header number of a binary netpbm file: white space and '#' comments before it, then
// decimal digits; at most 1e9 so that later products stay small.
bool header_number(std::FILE *f, int64_t *out) {
  int c = std::fgetc(f);
  for (;;) {
    if (c == '#') {
      while (c != '\n' && c != '\r' && c != EOF) c = std::fgetc(f);
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
      c = std::fgetc(f);
    } else {
      break;
    }
  }
  if (c < '0' || c > '9') return false;
  int64_t v = 0;
  while (c >= '0' && c <= '9') {
    v = v * 10 + (c - '0');
    if (v > 1000000000) return false;
    c = std::fgetc(f);
  }
  // The byte after the number must separate it from what follows; after the maximum value it
  // is the single white-space byte before the samples.
  if (!(c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')) {
    if (c != '#') return false;
    std::ungetc(c, f);
  }
  *out = v;
  return true;
}

// A binary PGM with a maximum value up to 255, its bytes taken as they stand (a one-byte
// frame holds pens or cube indices, which must not be rescaled). An empty string when it
// loaded, else what is wrong.
std::string read_pgm(const std::string &path, BitmapPtr *out) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return system_error(errno);
  struct Closer {
    std::FILE *f;
    ~Closer() { std::fclose(f); }
  } closer{f};
  char magic[2];
  if (std::fread(magic, 1, 2, f) != 2 || magic[0] != 'P' || magic[1] != '5')
    return "not a binary PGM file";
  int64_t w = 0, h = 0, maxval = 0;
  if (!header_number(f, &w) || !header_number(f, &h) || !header_number(f, &maxval))
    return "malformed PGM header";
  if (w < 1 || h < 1) return "the PGM image is empty";
  if (maxval < 1 || maxval > 255)
    return "the PGM maximum value " + std::to_string(maxval) + " is not 1..255";
  const int64_t size = w * h;
  if (size > INT32_MAX) return "the PGM image is too large";
  BitmapPtr b(gx_allocrawbitmap(static_cast<int32_t>(w), static_cast<int32_t>(h), 1));
  if (!b) return "out of memory";
  if (std::fread(b->pixels, 1, static_cast<size_t>(size), f) != static_cast<size_t>(size))
    return "the PGM pixel data is truncated";
  for (int64_t i = 0; i < size; ++i)
    if (b->pixels[i] > maxval) return "a PGM sample exceeds the maximum value";
  *out = std::move(b);
  return {};
}

// What is wrong with an image file the loaders refused, judged from its first bytes.
std::string diagnose(const std::string &path, Accept accept) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return system_error(errno);
  if (S_ISDIR(st.st_mode)) return "is a directory";
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return system_error(errno);
  char magic[2] = {0, 0};
  const size_t n = std::fread(magic, 1, 2, f);
  std::fclose(f);
  if (n == 0) return "the file is empty";
  if (n == 2 && magic[0] == 'P') {
    if (magic[1] == '6') return "malformed or truncated PPM file";
    if (magic[1] == '5')
      return accept == Accept::kColour ? "a greyscale PGM file; this operation needs a colour PPM"
                                       : "malformed or truncated PGM file";
    if (magic[1] >= '1' && magic[1] <= '3')
      return "a plain-text netpbm file; only binary PPM (P6) and PGM (P5) are read";
  }
  return accept == Accept::kColour ? "not a binary PPM file" : "not a binary PPM or PGM file";
}

bool is_pgm(const std::string &path) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char magic[2] = {0, 0};
  const bool pgm = std::fread(magic, 1, 2, f) == 2 && magic[0] == 'P' && magic[1] == '5';
  std::fclose(f);
  return pgm;
}

}  // namespace

BitmapPtr new_bitmap(int32_t width, int32_t height, int32_t bytes_per_pixel) {
  BitmapPtr b(gx_allocrawbitmap(width, height, bytes_per_pixel));
  if (!b)
    throw Failure("out of memory for a " + std::to_string(width) + "x" + std::to_string(height) +
                  " image");
  return b;
}

BitmapPtr read_image(const std::string &path, Accept accept) {
  std::unique_ptr<StdinCopy> copy;
  if (path == "-") copy = std::make_unique<StdinCopy>();
  const std::string &file = copy ? copy->path() : path;
  BitmapPtr image;
  if (accept == Accept::kColourOrGrey && is_pgm(file)) {
    const std::string why = read_pgm(file, &image);
    if (!why.empty()) throw Failure("cannot read " + quoted(path) + ": " + why);
    return image;
  }
  image.reset(gx_loadppmasbitmap(file.c_str()));
  if (!image) throw Failure("cannot read " + quoted(path) + ": " + diagnose(file, accept));
  return image;
}

std::vector<uint8_t> read_all(const std::string &path) {
  std::FILE *f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (f == nullptr) throw Failure("cannot read " + quoted(path) + ": " + system_error(errno));
  std::vector<uint8_t> bytes;
  uint8_t buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  const bool bad = std::ferror(f) != 0;
  const int err = errno;
  if (f != stdin) std::fclose(f);
  if (bad) throw Failure("cannot read " + quoted(path) + ": " + system_error(err));
  return bytes;
}

void check_binary_output(const std::string &path) {
  if (path == "-" && isatty(STDOUT_FILENO))
    throw UsageError(
        "refusing to write image data to a terminal: name an output file or "
        "redirect standard output");
}

OutputFile::OutputFile(const std::string &path) : path_(path) {
  if (path == "-") {
    check_binary_output(path);
    file_ = stdout;
    return;
  }
  std::string target = path;
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // A link is followed: the file it names is replaced, the link stays.
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) target = resolved;
  }
  const bool exists = stat(target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    if (S_ISDIR(st.st_mode)) throw Failure("cannot write '" + path + "': is a directory");
    // A device or pipe cannot be replaced: it is written directly.
    file_ = std::fopen(target.c_str(), "wb");
    if (file_ == nullptr) throw Failure("cannot write '" + path + "': " + system_error(errno));
    return;
  }
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  temp_ = dir + "." + base + ".corvix-XXXXXX";
  const int fd = mkstemp(temp_.data());
  if (fd < 0) {
    const int err = errno;
    temp_.clear();
    throw Failure("cannot write '" + path + "': " + system_error(err));
  }
  slot_ = remember_temp(temp_);
  // mkstemp makes the file private; the result keeps the permissions of the file it
  // replaces, or gets those of a new file.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, exists ? (st.st_mode & 07777) : (0666 & ~mask));
  target_ = target;
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    close(fd);
    throw Failure("cannot write '" + path + "': " + system_error(errno));
  }
}

OutputFile::~OutputFile() {
  if (file_ != nullptr && file_ != stdout) std::fclose(file_);
  if (!temp_.empty() && !committed_) unlink(temp_.c_str());
  forget_temp(slot_);
}

void OutputFile::write(const void *data, size_t size) {
  if (size > 0 && std::fwrite(data, 1, size, file_) != size)
    throw Failure("cannot write " +
                  (path_ == "-" ? std::string("standard output") : "'" + path_ + "'") + ": " +
                  system_error(errno));
}

void OutputFile::commit() {
  const std::string where = path_ == "-" ? std::string("standard output") : "'" + path_ + "'";
  if (file_ == stdout) {
    if (std::fflush(stdout) != 0)
      throw Failure("cannot write " + where + ": " + system_error(errno));
    committed_ = true;
    return;
  }
  std::FILE *f = std::exchange(file_, nullptr);
  if (std::fclose(f) != 0) throw Failure("cannot write " + where + ": " + system_error(errno));
  if (!temp_.empty() && std::rename(temp_.c_str(), target_.c_str()) != 0)
    throw Failure("cannot write " + where + ": " + system_error(errno));
  committed_ = true;
}

void write_image(const Bitmap &bitmap, const std::string &path) {
  if (bitmap.bytes_per_pixel != 1 && bitmap.bytes_per_pixel != 3)
    throw Failure("cannot write an image of " + std::to_string(bitmap.bytes_per_pixel) +
                  " bytes a pixel");
  if (bitmap.width < 1 || bitmap.height < 1)
    throw Failure("the result is empty (" + std::to_string(bitmap.width) + "x" +
                  std::to_string(bitmap.height) + "): nothing to write");
  const size_t size = static_cast<size_t>(bitmap.width) * static_cast<size_t>(bitmap.height) *
                      static_cast<size_t>(bitmap.bytes_per_pixel);
  if (bitmap.bytes_per_pixel == 3 && path != "-") {
    // Colour images to a named file go through the library's own writer, which replaces
    // the file only once it is complete.
    errno = 0;
    if (gx_savebitmapasppm(&bitmap, path.c_str()) != 1) {
      struct stat st {};
      const int err = errno;
      throw Failure("cannot write '" + path + "': " +
                    (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? "is a directory"
                                                                         : system_error(err)));
    }
    return;
  }
  // The same header bytes the library's writer puts out ("P6\n<w> <h>\n255\n"), and the
  // one-byte form of it for PGM.
  const std::string header = std::string(bitmap.bytes_per_pixel == 3 ? "P6\n" : "P5\n") +
                             std::to_string(bitmap.width) + " " + std::to_string(bitmap.height) +
                             "\n255\n";
  OutputFile out(path);
  out.write(header.data(), header.size());
  out.write(bitmap.pixels, size);
  out.commit();
}

}  // namespace corvix::cli
