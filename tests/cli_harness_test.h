// Helpers for the tests that run the corvix binary: a private directory per test, running the tool
// (or a shell pipeline around it) with its exit code and messages, and netpbm files read back
// exactly as the tool writes them.
#ifndef CORVIX_TESTS_CLI_HARNESS_TEST_H
#define CORVIX_TESTS_CLI_HARNESS_TEST_H

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/tool.h"
#include "tests/support.h"

namespace corvix::test::cli {

using corvix::cli::BitmapPtr;

inline std::string corvix_binary() {
  const char *env = std::getenv("CORVIX_BINARY_DIR");
  return std::string(env != nullptr && *env != '\0' ? env : CORVIX_BINARY_DIR) + "/corvix";
}
inline std::string image_path(const std::string &name) { return CORVIX_TEST_IMAGES "/" + name; }
inline std::string media_path(const std::string &name) {
  return CORVIX_TEST_IMAGES "/../../examples/media/" + name;
}
inline bool exists(const std::string &path) { return std::filesystem::exists(path); }
inline std::string slurp(const std::string &path) { return test::file_bytes(path); }
inline void write_file(const std::string &path, const std::string &s) { test::put_file(path, s); }
// A word for /bin/sh, taken literally.
inline std::string quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A binary PPM or PGM exactly as the tool writes it: "P6\n<w> <h>\n255\n" (or P5), then the
// samples. Anything else reads as an empty image, so a comparison with it fails.
struct Pnm {
  int width = 0, height = 0, channels = 0;
  std::string bytes;
  bool operator==(const Pnm &) const = default;
};
inline std::ostream &operator<<(std::ostream &os, const Pnm &p) {
  return os << p.width << "x" << p.height << "x" << p.channels << " (" << p.bytes.size() << ")";
}
inline Pnm parse_pnm(const std::string &file) {
  Pnm p;
  char kind = 0;
  if (std::sscanf(file.c_str(), "P%c %d %d", &kind, &p.width, &p.height) != 3) return {};
  p.channels = kind == '6' ? 3 : kind == '5' ? 1 : 0;
  const std::string header = std::string("P") + kind + "\n" + std::to_string(p.width) + " " +
                             std::to_string(p.height) + "\n255\n";
  if (p.channels == 0 || file.compare(0, header.size(), header) != 0 ||
      file.size() != header.size() + static_cast<size_t>(p.width) * p.height * p.channels)
    return {};
  p.bytes = file.substr(header.size());
  return p;
}
inline Pnm read_pnm(const std::string &path) { return parse_pnm(slurp(path)); }
inline Pnm pnm_of(const Bitmap &b) {
  const auto *at = reinterpret_cast<const char *>(b.pixels);
  return {b.width, b.height, b.bytes_per_pixel,
          std::string(at, static_cast<size_t>(b.width) * b.height * b.bytes_per_pixel)};
}
// A bitmap holding a PPM or PGM file's pixels (null when the file is no such image).
inline BitmapPtr load(const std::string &path) {
  const Pnm p = read_pnm(path);
  BitmapPtr b(p.channels != 0 ? gx_allocbitmap(p.width, p.height, p.channels) : nullptr);
  if (b) std::copy(p.bytes.begin(), p.bytes.end(), b->pixels);
  return b;
}

struct Result {
  int code = -1;         // exit code
  std::string out, err;  // standard output and error
};

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
    for (const char *end : {"", ".out", ".err"}) std::filesystem::remove_all(dir_ + end, ec);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }

  // Runs a shell command line in which $CORVIX names the tool, standard input from `input`. Its
  // standard output and error are kept beside the test directory, not in it.
  Result shell(const std::string &line, const std::string &input = "/dev/null") {
    const int status =
        std::system(("CORVIX=" + quote(corvix_binary()) + "; (" + line + ") <" + quote(input) +
                     " >" + quote(dir_ + ".out") + " 2>" + quote(dir_ + ".err"))
                        .c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir_ + ".out"),
            slurp(dir_ + ".err")};
  }
  Result corvix(const std::vector<std::string> &args, const std::string &input = "/dev/null") {
    std::string line = "\"$CORVIX\"";
    for (const std::string &a : args) line.append(" ").append(quote(a));
    return shell(line, input);
  }
  bool have(const std::string &program) { return shell("command -v " + program).code == 0; }
  // Runs the tool, expects success and returns its standard output.
  std::string ok(const std::vector<std::string> &args, const std::string &input = "/dev/null") {
    const Result r = corvix(args, input);
    EXPECT_EQ(r.code, 0) << testing::PrintToString(args) << ": " << r.err;
    return r.out;
  }
  // Runs the tool and expects exit `code`, `message` on a line "corvix: " (followed by the
  // operation's name when it failed while working), and no `out`.
  void refused(const std::vector<std::string> &args, int code, const std::string &message,
               const std::string &out, const std::string &input = "/dev/null") {
    SCOPED_TRACE(testing::PrintToString(args));
    const Result r = corvix(args, input);
    EXPECT_EQ(r.code, code) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind("corvix: " + (code == 1 ? args[0] + ": " : ""), 0), 0u) << r.err;
    EXPECT_FALSE(exists(out));
  }

  std::string dir_;
};

}  // namespace corvix::test::cli

#endif
