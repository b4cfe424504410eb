// Helpers for the tests that run the corvix binary: a private directory per test, running the
// tool (or a shell pipeline around it) with its exit code and messages, and netpbm files read
// back exactly as the tool writes them.
#ifndef CORVIX_TESTS_CLI_HARNESS_TEST_H
#define CORVIX_TESTS_CLI_HARNESS_TEST_H

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/tool.h"
#include "tests/support.h"

extern char **environ;

namespace corvix::test::cli {

inline std::string binary_dir() {
  const char *env = std::getenv("CORVIX_BINARY_DIR");
  return env != nullptr && *env != '\0' ? env : CORVIX_BINARY_DIR;
}
inline std::string corvix_binary() { return binary_dir() + "/corvix"; }
inline std::string image_path(const std::string &name) {
  return std::string(CORVIX_TEST_IMAGES) + "/" + name;
}
inline std::string media_path(const std::string &name) {
  return std::string(CORVIX_TEST_IMAGES) + "/../../examples/media/" + name;
}

inline std::vector<uint8_t> file_bytes(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}
inline void write_file(const std::string &path, const void *data, size_t size) {
  std::ofstream f(path, std::ios::binary);
  f.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
}
inline bool exists(const std::string &path) { return std::filesystem::exists(path); }
inline std::string text_of(const std::string &path) {
  const std::vector<uint8_t> b = file_bytes(path);
  return std::string(b.begin(), b.end());
}
struct Result {
  int code = -1;         // exit code; 128 + n when signal n ended it
  std::string out, err;  // standard output and error
};

// Runs argv[0] with the rest as arguments; standard input from `input` ("" reads nothing).
inline Result spawn(const std::vector<std::string> &argv, const std::string &input = "") {
  char out_name[] = "/tmp/corvix-cli-out-XXXXXX", err_name[] = "/tmp/corvix-cli-err-XXXXXX";
  const int out_fd = mkstemp(out_name), err_fd = mkstemp(err_name);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.empty() ? "/dev/null" : input.c_str(),
                                   O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  Result r;
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  close(out_fd);
  close(err_fd);
  r.out = text_of(out_name);
  r.err = text_of(err_name);
  unlink(out_name);
  unlink(err_name);
  return r;
}

// Runs the corvix binary.
inline Result corvix(std::vector<std::string> args, const std::string &input = "") {
  args.insert(args.begin(), corvix_binary());
  return spawn(args, input);
}

// Runs a shell command line in which $CORVIX names the binary.
inline Result shell(const std::string &line) {
  return spawn({"/bin/sh", "-c", "CORVIX='" + corvix_binary() + "'; " + line});
}

// Whether a program is on the PATH.
inline bool have(const std::string &program) {
  return spawn({"/bin/sh", "-c", "command -v " + program}).code == 0;
}

// A binary PPM or PGM as the tool writes it: "P6\n<w> <h>\n255\n" or "P5\n...", then the
// samples. Anything else reads as an empty image (so a comparison with it fails).
struct Pnm {
  int width = 0, height = 0, channels = 0;
  std::vector<uint8_t> bytes;
};
inline Pnm parse_pnm(const std::vector<uint8_t> &file) {
  Pnm p;
  if (file.size() < 3 || file[0] != 'P' || (file[1] != '6' && file[1] != '5') || file[2] != '\n')
    return p;
  const std::string text(file.begin(),
                         file.begin() + static_cast<long>(std::min<size_t>(file.size(), 64)));
  int w = 0, h = 0, used = 0;
  if (std::sscanf(text.c_str() + 3, "%d %d\n255\n%n", &w, &h, &used) != 2 || used == 0) return p;
  const std::string header = "P" + std::string(1, static_cast<char>(file[1])) + "\n" +
                             std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  if (text.compare(0, header.size(), header) != 0) return p;
  const int channels = file[1] == '6' ? 3 : 1;
  if (file.size() != header.size() + static_cast<size_t>(w) * h * channels) return p;
  p.width = w;
  p.height = h;
  p.channels = channels;
  p.bytes.assign(file.begin() + static_cast<long>(header.size()), file.end());
  return p;
}
inline Pnm read_pnm(const std::string &path) { return parse_pnm(file_bytes(path)); }

inline Pnm pnm_of(const Bitmap &b) {
  Pnm p{b.width, b.height, b.bytes_per_pixel, {}};
  p.bytes.assign(b.pixels, b.pixels + static_cast<size_t>(b.width) * b.height * b.bytes_per_pixel);
  return p;
}
inline bool operator==(const Pnm &a, const Pnm &b) {
  return a.width == b.width && a.height == b.height && a.channels == b.channels &&
         a.bytes == b.bytes;
}
inline std::ostream &operator<<(std::ostream &os, const Pnm &p) {
  return os << p.width << "x" << p.height << "x" << p.channels << " (" << p.bytes.size()
            << " bytes)";
}

// A fresh directory for each test, removed afterwards. The runtime directory of the ports is
// private to the test process, and the spawned tools inherit it.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!exists(corvix_binary())) GTEST_SKIP() << "the corvix tool is not built (CLI11 missing)";
    runtime_dir();
    char name[] = "/tmp/corvix-cli-test-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  // Saves a bitmap as a PPM in the test directory and returns its path.
  std::string save(const Bitmap &b, const std::string &name) {
    const std::string p = path(name);
    EXPECT_EQ(gx_savebitmapasppm(&b, p.c_str()), 1);
    return p;
  }

  std::string dir_;
};

using corvix::cli::BitmapPtr;

inline BitmapPtr photo(const std::string &name) {
  return BitmapPtr(image_bitmap(load_image(name)));
}

}  // namespace corvix::test::cli

#endif
