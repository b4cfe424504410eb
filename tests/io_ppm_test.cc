// PPM files: exact writer output, the header rules, hostile headers and paths, scaled
// samples, refused and failed saves, the string helpers, and files exchanged with netpbm and
// Pillow (those tests skip where the tool is not installed).
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "io/ppm.h"
#include "tests/support.h"

namespace corvix {
namespace {

using namespace std::string_literals;

const std::string kPhotos = CORVIX_TEST_IMAGES "/"s;

using test::file_bytes;
using test::put_file;
bool run(const std::string &command) { return test::run_shell(command); }

// "<width>x<height>x<bytes per pixel> <pixels>" of a bitmap, "null" for none.
std::string shape(const Bitmap *b) {
  if (b == nullptr) return "null";
  return std::to_string(b->width) + "x" + std::to_string(b->height) + "x" +
         std::to_string(b->bytes_per_pixel) + " " +
         std::string(reinterpret_cast<const char *>(b->pixels), size_t(b->width) * b->height * 3);
}
// What the file at `path` loads as.
std::string load(const std::string &path) {
  Bitmap *b = gx_loadppmasbitmap(path.c_str());
  const std::string s = shape(b);
  gx_freebitmap(b);
  return s;
}

// Each a 2 x 1 image of the samples after it, as netpbm reads headers (checked with its
// ppmtoppm when these were written).
// clang-format off
const char *const kLayouts[] = {
    "P6\n2 1\n255\n",      "P6 2 1 255\n",      "P6\n2\t1\n255\n",     "P6\n2\n1\n255\n",
    "P6\n2  1 \n255\n",    "P6\r2\r1\r255\r",   "P6\n2\f1 255\t",      "P6\n002 01\n0255\n",
    "P6\n# c\n2 1\n255\n", "P6#c\n2 1\n255\n",  "P6\n2#c\n1\n255\n",   "P6\n2 1 #c\r255\n",
    "P6\n2 1\n255#c\n",    "P6\n#\n#\n2 1\n# long comment: 0123456789 #\n255\n"};
// clang-format on

class PpmTest : public test::LeakCheck {
 protected:
  PpmTest() { EXPECT_NE(mkdtemp(dir_.data()), nullptr); }
  ~PpmTest() override { std::filesystem::remove_all(dir_); }
  std::string at(const char *name) const { return dir_ + "/" + name; }
  auto files() const { return std::distance(std::filesystem::directory_iterator(dir_), {}); }
  // What a file holding `bytes` loads as.
  std::string loaded(const std::string &bytes) {
    put_file(at("in.ppm"), bytes);
    return load(at("in.ppm"));
  }
  std::string dir_ = std::filesystem::temp_directory_path() / "corvix-io-XXXXXX";
};

// Large sample runs are read in step with the file's alignment and moved into place, so the
// saved file is loaded back after headers of every length modulo 64.
TEST_F(PpmTest, SavedPhotographMatchesTheReferenceFileAndLoadsBack) {
  Bitmap *b = test::image_bitmap(test::load_image("coffee.ppm"));
  ASSERT_EQ(gx_savebitmapasppm(b, at("out.ppm").c_str()), 1);
  const std::string file = file_bytes(at("out.ppm"));
  EXPECT_TRUE(file == file_bytes(kPhotos + "coffee.ppm"));
  for (int pad = 0; pad < 64; ++pad)
    ASSERT_TRUE(loaded("P6\n#" + std::string(pad, '-') + file.substr(2)) == shape(b)) << pad;
  gx_freebitmap(b);
}

// VT separates items too, though this machine's netpbm takes it for junk. Exactly one
// white-space byte ends the header: the next one is a sample. Samples of any maximum are
// scaled as netpbm rounds them, halves up (300 of 1000 is 76.5 -> 77), two bytes each, most
// significant first, above 255; a sample above the maximum refuses the file.
TEST_F(PpmTest, HeadersAndSamplesAreReadAsNetpbmReadsThem) {
  for (const char *header : kLayouts)
    EXPECT_EQ(loaded(header + "ABCDEFtrailing bytes are ignored"s), "2x1x3 ABCDEF") << header;
  // clang-format off
  for (auto [file, pixels] : {std::pair{"P6\v2 1\v255\vABCDEF"s, "2x1x3 ABCDEF"s},
        {"P6\n2 1\n255\r\nABCDE"s, "2x1x3 \nABCDE"s}, {"P6 1 1 100\n\0\036F"s, "1x1x3 \0M\263"s},
        {"P6 1 1 1000\n\0\0\1\054\3\350"s, "1x1x3 \0M\377"s}, {"P6 2 1 100\n\0\0\0\0\0e"s, "null"s},
        {"P6 1 1 256\n\0\200\1\0\0\0"s, "1x1x3 \200\377\0"s},
        {"P6 1 1 1000\n\0\0\3\351\0\0"s, "null"s}})
    // clang-format on
    EXPECT_EQ(loaded(file), pixels) << file;
  // Every two-byte value against maximum 65535.
  std::string wide = "P6\n65536 1\n65535\n", expected = "65536x1x3 ";
  for (uint32_t v = 0; v < 65536; ++v)
    for (uint32_t s : {v, 65535 - v, v ^ 0x5a5a}) {
      wide += {static_cast<char>(s >> 8), static_cast<char>(s & 255)};
      expected += static_cast<char>((s * 255 + 32767) / 65535);
    }
  EXPECT_TRUE(loaded(wide) == expected);
}

// Malformed, overflowing, over-long and cut-short files: null before any allocation (so no
// huge one either). Where the whole file loads, a failed allocation leaves nothing behind.
TEST_F(PpmTest, HostileHeadersAndCutFilesAreRefusedBeforeAllocating) {
  // clang-format off
  std::vector<std::string> bad = {
      "Q6\n2 1\n255\n", "P5\n2 1\n255\n", "p6\n2 1\n255\n", " P6\n2 1\n255\n", "P62 1 255\n",
      "P6\n2x1\n255\n", "P6\n2 1\n255X", "P6\n+2 1\n255\n", "P6\n# c", "P6\n-2 1\n255\n",
      "P6\n0 5\n255\n", "P6\n5 0\n255\n", "P6\n2 1\n0\n", "P6\n2 1\n65536\n",
      "P6\n2 1\n99999999999999999999\n", "P6\n99999999999999999999 1\n255\n",
      "P6\n1431655766 1\n255\nabc", "P6\n65536 65536\n255\n", "P6\n20000 20000\n255\n",
      "P6\n10000 10000\n65535\n", "P6\n" + std::string(200, '7') + " 1\n255\n"};
  // clang-format on
  for (std::string &header : bad) header += std::string(64, 'x');  // not merely cut short
  for (const std::string &good :
       {"P6\n# c\n3 2\n255\n" + std::string(18, 'A'), "P6\n3 2\n65535\n" + std::string(36, 'A')}) {
    const auto once = [&](int failing) { EXPECT_EQ(loaded(good) == "null", failing != 0); };
    EXPECT_EQ(test::sweep_allocation_failures(once), 2);
    for (size_t n = 0; n < good.size(); ++n) bad.push_back(good.substr(0, n));
  }
  for (const std::string &file : bad) {
    const uint64_t calls = corvix_alloc_calls();
    EXPECT_EQ(loaded(file), "null") << file;
    EXPECT_EQ(corvix_alloc_calls(), calls) << file;
  }
}

// Directories, missing places, pipes nobody serves and full devices: refused at once both
// ways, and no file is made; bitmaps a file cannot hold are not saved.
TEST_F(PpmTest, UnsuitablePathsAndBitmapsAreRefusedAndNoFileIsMade) {
  uint8_t px[36] = {};
  const Bitmap good{px, 4, 3, 3};
  for (const Bitmap &b :
       {Bitmap{px, 4, 3, 1}, Bitmap{px, 4, 3, 4}, Bitmap{px, 0, 3, 3}, Bitmap{nullptr, 4, 3, 3},
        Bitmap{px, -4, 3, 3}, Bitmap{px, 65536, 65536, 3}})
    EXPECT_EQ(gx_savebitmapasppm(&b, at("out.ppm").c_str()), 0);
  EXPECT_EQ(gx_savebitmapasppm(nullptr, at("out.ppm").c_str()), 0);
  ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
  for (const std::string &path :
       std::initializer_list<std::string>{dir_, at("no/such.ppm"), at("fifo"), "/dev/full"}) {
    EXPECT_EQ(load(path), "null") << path;
    EXPECT_EQ(gx_savebitmapasppm(&good, path.c_str()), 0) << path;
  }
  EXPECT_EQ(gx_loadppmasbitmap(nullptr), nullptr);
  EXPECT_EQ(gx_savebitmapasppm(&good, nullptr), 0);
  EXPECT_EQ(files(), 1) << "only the pipe";
  EXPECT_EQ(gx_savebitmapasppm(&good, "/dev/null"), 1);  // devices are written as they are
}

// A pipe is read as it comes; one that ends short gives null and releases what was taken.
TEST_F(PpmTest, PipesAreReadAsTheyComeAndMayFallShort) {
  for (const std::string samples : {"ABCDEF", "ABCDE"}) {
    const std::string writer = "printf 'P6\\n2 1\\n25'; sleep 0.02; printf '5\\n" + samples + "'";
    FILE *pipe = popen(writer.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    const std::string got = load("/proc/self/fd/" + std::to_string(fileno(pipe)));
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(got, samples.size() == 6 ? "2x1x3 ABCDEF" : "null");
  }
}

// A file is replaced whole through a link, keeping its permissions, or not at all.
TEST_F(PpmTest, ReplacingKeepsPermissionsFollowsLinksAndNeverLeavesAPartialFile) {
  std::vector<uint8_t> px(3 * 64 * 64);
  const Bitmap one{px.data(), 1, 1, 3}, big{px.data(), 64, 64, 3};
  put_file(at("f.ppm"), std::string(100, 'x'));
  ASSERT_EQ(chmod(at("f.ppm").c_str(), 0640), 0);
  ASSERT_EQ(symlink("f.ppm", at("link.ppm").c_str()), 0);
  ASSERT_EQ(gx_savebitmapasppm(&one, at("link.ppm").c_str()), 1);
  EXPECT_EQ(std::filesystem::status(at("f.ppm")).permissions(), std::filesystem::perms(0640));
  // Writes past 4 KiB now fail with EFBIG instead of ending the process.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const rlimit small{4096, saved.rlim_max};
  std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  EXPECT_EQ(gx_savebitmapasppm(&big, at("link.ppm").c_str()), 0);
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(file_bytes(at("f.ppm")), "P6\n1 1\n255\n\0\0\0"s);
  EXPECT_EQ(files(), 2) << "a temporary file was left behind";
}

// The last occurrence, bytes compared as signed; copies that stop at the string's end and
// at 79 characters.
TEST(PpmStrings, InstrLeftAndRight) {
  EXPECT_EQ(std::tuple(instr("640  480 ", ' '), instr("a\xe9z", -23), instr(nullptr, ' ')),
            std::tuple(8, 1, -1));
  const std::string d200(200, 'd'), d79(79, 'd');
  using Case = std::pair<std::string, std::string>;
  // clang-format off
  for (auto [got, want] : {Case{left("64", 5), "64"}, {left("64", -5), ""},
                           {left(d200.c_str(), 200), d79}, {right("640 480", 3), " 480"},
                           {right("640 480", 70), ""}, {right(d200.c_str(), 1), d79}})
    // clang-format on
    EXPECT_EQ(got, want);
}

// Files netpbm writes at other maxima load as netpbm's own conversion of them to 255 does.
TEST_F(PpmTest, NetpbmAndWeScaleSamplesAlike) {
  if (!run("command -v pamdepth >/dev/null")) GTEST_SKIP() << "netpbm is missing";
  const std::string in = at("a.ppm"), out = at("b.ppm");
  for (const char *max : {"65535", "1000", "300", "37", "1"}) {
    ASSERT_TRUE(run("pamdepth "s + max + " " + kPhotos + "astronaut.ppm > " + out));
    ASSERT_TRUE(run("pamdepth 255 " + out + " > " + in));
    const std::string theirs = load(in);
    EXPECT_TRUE(theirs != "null" && load(out) == theirs) << max;
  }
}

// Pillow reads a photograph as our writer saves it (the same bytes, above) and saves its own
// file, which we read as the same pixels.
TEST_F(PpmTest, PillowReadsOurFilesAndWeReadPillowsFiles) {
  // The Python that has Pillow (a pyenv first on PATH may not).
  const std::string py = "/usr/bin/python3 -c 'from PIL import Image; import sys; ";
  if (!run(py + "' 2>/dev/null")) GTEST_SKIP() << "Pillow is missing";
  ASSERT_TRUE(run(py + "im = Image.open(sys.argv[1]); assert im.mode == \"RGB\"; " +
                  "im.save(sys.argv[2])' " + kPhotos + "astronaut.ppm " + at("theirs.ppm")));
  EXPECT_TRUE(load(at("theirs.ppm")) == load(kPhotos + "astronaut.ppm"));
}

}  // namespace
}  // namespace corvix
