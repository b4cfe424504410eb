// PPM files: exact writer output, round trips, the header rules, hostile headers, 16-bit
// samples, failed saves, and the string helpers.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "io/ppm.h"
#include "tests/io_files.h"

namespace corvix {
namespace {

using test::file_bytes;
using test::pixel_bytes;
using test::put_file;

class PpmTest : public test::LeakCheck {
 protected:
  // Loads `bytes` written to a file.
  Bitmap *load_bytes(const std::string &bytes) {
    const std::string path = dir_ / "in.ppm";
    put_file(path, bytes);
    return gx_loadppmasbitmap(path.c_str());
  }
  test::ScratchDir dir_;
};

const std::string kSix = "ABCDEF";  // two pixels of sample data

TEST_F(PpmTest, SaveWritesTheExactHeaderAndPixelsAndLoadsBack) {
  Bitmap *b = gx_allocbitmap(2, 1, 3);
  const uint8_t px[] = {255, 0, 0, 0, 0, 255};
  std::memcpy(b->pixels, px, 6);
  const std::string path = dir_ / "two.ppm";
  put_file(path, std::string(100, 'x'));  // a longer older file leaves no tail
  ASSERT_EQ(gx_savebitmapasppm(b, path.c_str()), 1);
  EXPECT_EQ(file_bytes(path), std::string("P6\n2 1\n255\n\xff\0\0\0\0\xff", 17));
  Bitmap *back = gx_loadppmasbitmap(path.c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->width, 2);
  EXPECT_EQ(back->height, 1);
  EXPECT_EQ(back->bytes_per_pixel, 3);
  EXPECT_EQ(pixel_bytes(back), pixel_bytes(b));
  gx_freebitmap(back);
  gx_freebitmap(b);
  EXPECT_EQ(dir_.entries().size(), 1u) << "a temporary file was left behind";
}

TEST_F(PpmTest, PhotographsAndOddSizesRoundTripByteForByte) {
  for (const char *name : {"astronaut.ppm", "coffee.ppm"}) {
    const test::Image im = test::load_image(name);
    Bitmap *b = test::image_bitmap(im);
    const std::string path = dir_ / name;
    ASSERT_EQ(gx_savebitmapasppm(b, path.c_str()), 1);
    // Our writer and the photographs' converter agree on the whole file.
    EXPECT_EQ(file_bytes(path), file_bytes(std::string(CORVIX_TEST_IMAGES) + "/" + name));
    Bitmap *back = gx_loadppmasbitmap(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(pixel_bytes(back), test::image_bytes(im));
    gx_freebitmap(back);
    gx_freebitmap(b);
  }
  for (auto [w, h] : {std::pair{1, 1}, {7, 3}, {1, 13}, {1000, 1}}) {
    Bitmap *b = gx_allocrawbitmap(w, h, 3);
    for (int i = 0; i < w * h * 3; ++i) b->pixels[i] = static_cast<uint8_t>(i * 37 + 11);
    const std::string path = dir_ / "odd.ppm";
    ASSERT_EQ(gx_savebitmapasppm(b, path.c_str()), 1);
    Bitmap *back = gx_loadppmasbitmap(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->width, w);
    EXPECT_EQ(back->height, h);
    EXPECT_EQ(pixel_bytes(back), pixel_bytes(b));
    gx_freebitmap(back);
    gx_freebitmap(b);
  }
}

// Large sample runs are read in step with the file's alignment and moved into place: every
// header length modulo 64 must land the samples exactly.
TEST_F(PpmTest, LargeSampleRunsLandExactlyAfterHeadersOfEveryLength) {
  std::string samples(200 * 120 * 3, '\0');
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<char>(i * 131 + i / 7);
  for (int pad = 0; pad < 64; ++pad) {
    Bitmap *b = load_bytes("P6\n#" + std::string(pad, '-') + "\n200 120\n255\n" + samples);
    ASSERT_NE(b, nullptr) << pad;
    ASSERT_EQ(pixel_bytes(b), samples) << pad;
    gx_freebitmap(b);
  }
}

// Layouts netpbm reads as a 2 x 1 image of the samples "ABCDEF".
TEST_F(PpmTest, HeaderWhiteSpaceCommentsAndLayoutFollowNetpbm) {
  for (const char *header :
       {"P6\n2 1\n255\n", "P6 2 1 255\n", "P6\n2\t1\n255\n", "P6\n2\n1\n255\n",
        "P6\n2  1 \n255\n", "P6\r2\r1\r255\r", "P6\v2\f1 255\t", "P6\n002 01\n0255\n",
        "P6\n# c\n2 1\n255\n", "P6#c\n2 1\n255\n", "P6\n2#c\n1\n255\n", "P6\n2 1 #c\r255\n",
        "P6\n2 1\n255#comment\n", "P6\n#\n#\n2 1\n# a long comment: 0123456789 #\n255\n"}) {
    Bitmap *b = load_bytes(header + kSix + "trailing bytes are ignored");
    ASSERT_NE(b, nullptr) << header;
    EXPECT_EQ(b->width, 2) << header;
    EXPECT_EQ(b->height, 1) << header;
    EXPECT_EQ(pixel_bytes(b), kSix) << header;
    gx_freebitmap(b);
  }
  // Exactly one white-space byte ends the header: the next one is a sample.
  Bitmap *b = load_bytes("P6\n2 1\n255\r\nABCDE");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(pixel_bytes(b), "\nABCDE");
  gx_freebitmap(b);
}

// Malformed, cut-short, zero, negative, overflowing and over-long headers: null, before any
// allocation, in bounded time, ASan and UBSan quiet.
TEST_F(PpmTest, HostileHeadersAreRefusedBeforeAllocating) {
  const std::string pad(64, 'x');
  for (const std::string &header : std::initializer_list<std::string>{
        "", "P", "P6", "Q6\n2 1\n255\n", "P5\n2 1\n255\n", "P3\n2 1\n255\n", "p6\n2 1\n255\n",
        " P6\n2 1\n255\n", "P62 1 255\n", "P6\n2x1\n255\n", "P6\n2 1\n255X", "P6\n+2 1\n255\n",
        "P6\n2 1\n", "P6\n# c", "P6\n2 1\n# comment running into the end",
        "P6\n-2 1\n255\n", "P6\n0 5\n255\n", "P6\n5 0\n255\n", "P6\n2 1\n0\n",
        "P6\n2 1\n65536\n", "P6\n2 1\n99999999999999999999\n",
        "P6\n99999999999999999999 1\n255\n", "P6\n" + std::string(200, '7') + " 1\n255\n",
        "P6\n1431655766 1\n255\nabc", "P6\n65536 65536\n255\n", "P6\n46341 46341\n255\n",
        "P6\n20000 20000\n255\n", "P6\n10000 10000\n65535\n"}) {
    const auto start = std::chrono::steady_clock::now();
    const uint64_t calls = corvix_alloc_calls();
    EXPECT_EQ(load_bytes(header + pad), nullptr) << header;
    EXPECT_EQ(corvix_alloc_calls(), calls) << header;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200)) << header;
  }
}

TEST_F(PpmTest, ShortSampleDataFailsForEveryPrefix) {
  const std::string file = "P6\n# c\n3 2\n255\n" + std::string(18, '\x80');
  for (size_t n = 0; n < file.size(); ++n) EXPECT_EQ(load_bytes(file.substr(0, n)), nullptr) << n;
  Bitmap *b = load_bytes(file);
  ASSERT_NE(b, nullptr);
  gx_freebitmap(b);
  const std::string wide = "P6\n3 2\n65535\n" + std::string(36, '\x80');
  for (size_t n = 0; n < wide.size(); ++n) EXPECT_EQ(load_bytes(wide.substr(0, n)), nullptr) << n;
}

TEST_F(PpmTest, SamplesAreScaledFromAnyMaximumAsNetpbmRoundsThem) {
  // Every two-byte value against maximum 65535: 65536 pixels of (v, 65535 - v, v ^ 0x5a5a).
  std::string wide = "P6\n65536 1\n65535\n";
  for (uint32_t v = 0; v < 65536; ++v)
    for (uint32_t s : {v, 65535 - v, v ^ 0x5a5a}) wide += {char(s >> 8), char(s & 255)};
  Bitmap *b = load_bytes(wide);
  ASSERT_NE(b, nullptr);
  for (uint32_t v = 0; v < 65536; ++v) {
    const uint8_t *p = b->pixels + 3 * v;
    ASSERT_EQ(p[0], (v * 255 + 32767) / 65535) << v;
    ASSERT_EQ(p[1], ((65535 - v) * 255 + 32767) / 65535) << v;
    ASSERT_EQ(p[2], ((v ^ 0x5a5a) * 255 + 32767) / 65535) << v;
  }
  gx_freebitmap(b);
  // Values netpbm's depth conversion gives (halves round up: 300 of 1000 is 76.5 -> 77).
  struct Case {
    const char *max;
    std::string samples;
    std::string expected;
  };
  for (const Case &c : {Case{"1000", {0, 0, 1, 44, 3, (char)232}, {0, 77, (char)255}},
                        Case{"100", {0, 30, 70}, {0, 77, (char)179}},
                        Case{"1", {0, 1, 1}, {0, (char)255, (char)255}},
                        Case{"15", {7, 8, 15}, {119, (char)136, (char)255}},
                        Case{"256", {0, (char)128, 1, 0, 0, 0}, {(char)128, (char)255, 0}}}) {
    Bitmap *s = load_bytes(std::string("P6\n1 1\n") + c.max + "\n" + c.samples);
    ASSERT_NE(s, nullptr) << c.max;
    EXPECT_EQ(pixel_bytes(s), c.expected) << c.max;
    gx_freebitmap(s);
  }
  // A sample above the maximum makes the file invalid, as netpbm finds it.
  EXPECT_EQ(load_bytes(std::string("P6\n2 1\n100\n\0\0\0\0\0e", 11 + 6)), nullptr);
  EXPECT_EQ(load_bytes(std::string("P6\n1 1\n1000\n\0\0\3\xe9\0\0", 12 + 6)), nullptr);
}

TEST_F(PpmTest, DirectoriesMissingFilesAndPipesWithoutWriterGiveNull) {
  EXPECT_EQ(gx_loadppmasbitmap(nullptr), nullptr);
  EXPECT_EQ(gx_loadppmasbitmap(""), nullptr);
  EXPECT_EQ(gx_loadppmasbitmap("/tmp"), nullptr);
  EXPECT_EQ(gx_loadppmasbitmap(dir_.path().c_str()), nullptr);
  EXPECT_EQ(gx_loadppmasbitmap((dir_ / "missing.ppm").c_str()), nullptr);
  const std::string fifo = dir_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(gx_loadppmasbitmap(fifo.c_str()), nullptr);  // returns at once: no writer
}

TEST_F(PpmTest, PipesAreReadAsTheyComeAndMayFallShort) {
  for (const std::string &file :
       std::initializer_list<std::string>{"P6\n2 1\n255\n" + kSix, "P6\n2 1\n255\nABCDE"}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([&] {
      // The header first, the rest a little later, then the end of the stream.
      EXPECT_EQ(write(fds[1], file.data(), 9), 9);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      const auto rest = static_cast<ssize_t>(file.size() - 9);
      EXPECT_EQ(write(fds[1], file.data() + 9, rest), rest);
      close(fds[1]);
    });
    Bitmap *b = gx_loadppmasbitmap(("/proc/self/fd/" + std::to_string(fds[0])).c_str());
    writer.join();
    close(fds[0]);
    EXPECT_EQ(b != nullptr, file.size() == 17);
    if (b != nullptr) {
      EXPECT_EQ(pixel_bytes(b), kSix);
    }
    gx_freebitmap(b);
  }
}

TEST_F(PpmTest, AllocationFailuresLeaveNothingBehind) {
  const std::string path = dir_ / "a.ppm";
  put_file(path, "P6\n3 2\n255\n" + std::string(18, 'q'));
  const int made = test::sweep_allocation_failures([&](int failing) {
    Bitmap *b = gx_loadppmasbitmap(path.c_str());
    EXPECT_EQ(b == nullptr, failing != 0);
    gx_freebitmap(b);
  });
  EXPECT_EQ(made, 2);
}

TEST_F(PpmTest, UnsuitableBitmapsAreNotSavedAndNoFileIsMade) {
  Bitmap *grey = gx_allocbitmap(4, 3, 1), *wide = gx_allocbitmap(4, 3, 4);
  Bitmap *empty = gx_allocbitmap(0, 3, 3), *good = gx_allocbitmap(4, 3, 3);
  Bitmap no_pixels{nullptr, 4, 3, 3}, negative{good->pixels, -4, 3, 3};
  Bitmap huge{good->pixels, 65536, 65536, 3};
  const std::string path = dir_ / "out.ppm";
  for (const Bitmap *b : {(const Bitmap *)nullptr, (const Bitmap *)grey, (const Bitmap *)wide,
                          (const Bitmap *)empty, (const Bitmap *)&no_pixels,
                          (const Bitmap *)&negative, (const Bitmap *)&huge})
    EXPECT_EQ(gx_savebitmapasppm(b, path.c_str()), 0);
  EXPECT_EQ(gx_savebitmapasppm(good, nullptr), 0);
  EXPECT_TRUE(dir_.entries().empty());
  EXPECT_EQ(gx_savebitmapasppm(good, (dir_ / "no/such/dir.ppm").c_str()), 0);
  EXPECT_EQ(gx_savebitmapasppm(good, dir_.path().c_str()), 0);
  EXPECT_EQ(gx_savebitmapasppm(good, "/dev/null"), 1);  // devices are written as they are
  EXPECT_EQ(gx_savebitmapasppm(good, "/dev/full"), 0);  // every write fails there
  EXPECT_TRUE(dir_.entries().empty());
  const std::string fifo = dir_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(gx_savebitmapasppm(good, fifo.c_str()), 0);  // at once: nobody reads it
  for (Bitmap *b : {grey, wide, empty, good}) gx_freebitmap(b);
}

TEST_F(PpmTest, AFailedWriteKeepsTheOlderFileAndLeavesNoPartialFile) {
  Bitmap *b = test::image_bitmap(test::load_image("coffee.ppm"));
  const std::string path = dir_ / "keep.ppm";
  put_file(path, "older contents");
  // Writes past 4 KiB now fail with EFBIG instead of ending the process.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto *old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int32_t result = gx_savebitmapasppm(b, path.c_str());
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(file_bytes(path), "older contents");
  EXPECT_EQ(dir_.entries(), std::vector<std::string>{"keep.ppm"});
  gx_freebitmap(b);
}

TEST_F(PpmTest, ReplacingKeepsPermissionsAndFollowsLinks) {
  Bitmap *b = gx_allocbitmap(1, 1, 3);
  const std::string path = dir_ / "f.ppm", link = dir_ / "link.ppm";
  put_file(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(symlink("f.ppm", link.c_str()), 0);
  ASSERT_EQ(gx_savebitmapasppm(b, link.c_str()), 1);
  struct stat st{};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(file_bytes(path), std::string("P6\n1 1\n255\n\0\0\0", 14));
  gx_freebitmap(b);
}

TEST(PpmStrings, InstrLeftRightAndMaxval) {
  EXPECT_EQ(instr("640 480", ' '), 3);
  EXPECT_EQ(instr("640  480 ", ' '), 8);  // the last one
  EXPECT_EQ(instr("640480", ' '), -1);
  EXPECT_EQ(instr(nullptr, ' '), -1);
  EXPECT_EQ(instr("a\xe9z", -23), 1);  // compared as signed bytes
  EXPECT_EQ(instr("a\xe9z", 233), -1);
  EXPECT_STREQ(left("640 480", 3), "640");
  EXPECT_STREQ(left("640 480", 0), "");
  EXPECT_STREQ(left("64", 5), "64");  // stops at the end of a short string
  EXPECT_STREQ(right("640 480", 3), " 480");
  EXPECT_STREQ(right("640 480", 7), "");
  EXPECT_STREQ(right("640 480", 70), "");
  const std::string long_text(200, 'd');
  EXPECT_EQ(std::string(left(long_text.c_str(), 200)), std::string(79, 'd'));
  EXPECT_EQ(std::string(right(long_text.c_str(), 1)), std::string(79, 'd'));
  // One buffer per routine: a later call overwrites the earlier result.
  const char *first = left("abc", 2);
  EXPECT_EQ(left("xyz", 1), first);
  EXPECT_STREQ(first, "x");
}

}  // namespace
}  // namespace corvix
