// The safe writer when the file system reports a failure only at close (as NFS and quota
// limits do): the write is refused and an older file stays. close() is replaced in this test
// program to make that failure happen on demand, for temporary files of the writer only.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>

#include "corvix/corvix.h"
#include "tests/support.h"

namespace {
std::atomic<int> g_failing_closes{0};
}  // namespace

// Closes the descriptor, then reports EIO for a writer's temporary file while armed.
extern "C" int close(int fd) {
  char link[64], target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = g_failing_closes.load() > 0 ? readlink(link, target, sizeof target - 1) : -1;
  const bool temporary =
      n > 0 && std::string(target, size_t(n)).find(".corvix-") != std::string::npos;
  const long result = syscall(SYS_close, fd);
  if (temporary && g_failing_closes.fetch_sub(1) > 0) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(result);
}

namespace corvix {
namespace {

namespace fs = std::filesystem;

TEST(SafeFile, AFailingCloseRefusesTheFileAndKeepsTheOlderOne) {
  std::string dir = fs::temp_directory_path() / "corvix-close-XXXXXX";
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  const std::string out = dir + "/out";
  uint8_t px[3 * 5 * 4] = {1, 2, 3};
  const Bitmap b{px, 5, 4, 3};
  for (const char *format : {"ppm", "png", "jpeg"}) {
    test::put_file(out, "older");
    g_failing_closes = 1;
    const int32_t saved = std::string(format) == "ppm"
                              ? gx_savebitmapasppm(&b, out.c_str())
                              : corvix_save_image(&b, out.c_str(), format, 90);
    EXPECT_EQ(g_failing_closes.load(), 0) << "the writer never closed a temporary file";
    EXPECT_EQ(saved, 0) << format;
    EXPECT_EQ(std::string(corvix_last_error()), "closing the file failed: Input/output error");
    EXPECT_EQ(test::file_bytes(out), "older") << format;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "a temporary was left";
    // Unarmed, the same save replaces the file.
    EXPECT_EQ(corvix_save_image(&b, out.c_str(), format, 90), 1);
    EXPECT_NE(test::file_bytes(out), "older");
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace corvix
