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

std::string file_bytes(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
void put_file(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
bool run(const std::string &command) { return std::system(command.c_str()) == 0; }

// "<width>x<height>x<bytes per pixel> <pixels>" of a bitmap, "null" for none.
std::string shape(const Bitmap *b) {
  if (b == nullptr) return "null";
  return std::to_string(b->width) + "x" + std::to_string(b->height) + "x" +
         std::to_string(b->bytes_per_pixel) + " " +
         std::string(reinterpret_cast<const char *>(b->pixels), size_t(b->width) * b->height * 3);
}

// Each a 2 x 1 image of the samples after it, as netpbm reads headers.
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
    Bitmap *b = gx_loadppmasbitmap(at("in.ppm").c_str());
    const std::string s = shape(b);
    gx_freebitmap(b);
    return s;
  }
  std::string dir_ = std::filesystem::temp_directory_path() / "corvix-io-XXXXXX";
};

// Large sample runs are read in step with the file's alignment and moved into place, so the
// saved files are loaded back after headers of every length modulo 64.
TEST_F(PpmTest, SavedPhotographsMatchTheReferenceFilesAndLoadBack) {
  for (const char *name : {"astronaut.ppm", "coffee.ppm"}) {
    Bitmap *b = test::image_bitmap(test::load_image(name));
    ASSERT_EQ(gx_savebitmapasppm(b, at("out.ppm").c_str()), 1);
    const std::string file = file_bytes(at("out.ppm"));
    EXPECT_TRUE(file == file_bytes(CORVIX_TEST_IMAGES + "/"s + name)) << name;
    for (int pad = 0; pad < 64; ++pad)
      ASSERT_TRUE(loaded("P6\n#" + std::string(pad, '-') + file.substr(2)) == shape(b)) << pad;
    gx_freebitmap(b);
  }
}

TEST_F(PpmTest, HeaderWhiteSpaceCommentsAndLayoutFollowNetpbm) {
  for (const char *header : kLayouts)
    EXPECT_EQ(loaded(header + "ABCDEFtrailing bytes are ignored"s), "2x1x3 ABCDEF") << header;
  // VT separates items too, though this machine's netpbm takes it for junk. Exactly one
  // white-space byte ends the header: the next one is a sample.
  EXPECT_EQ(loaded("P6\v2 1\v255\vABCDEF"), "2x1x3 ABCDEF");
  EXPECT_EQ(loaded("P6\n2 1\n255\r\nABCDE"), "2x1x3 \nABCDE");
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
    const auto load = [&](int failing) { EXPECT_EQ(loaded(good) == "null", failing != 0); };
    EXPECT_EQ(test::sweep_allocation_failures(load), 2);
    for (size_t n = 0; n < good.size(); ++n) bad.push_back(good.substr(0, n));
  }
  for (const std::string &file : bad) {
    const uint64_t calls = corvix_alloc_calls();
    EXPECT_EQ(loaded(file), "null") << file;
    EXPECT_EQ(corvix_alloc_calls(), calls) << file;
  }
}

TEST_F(PpmTest, SamplesAreScaledFromAnyMaximumAsNetpbmRoundsThem) {
  // Every two-byte value against maximum 65535, most significant byte first.
  std::string wide = "P6\n65536 1\n65535\n", expected = "65536x1x3 ";
  for (uint32_t v = 0; v < 65536; ++v)
    for (uint32_t s : {v, 65535 - v, v ^ 0x5a5a}) {
      wide += {static_cast<char>(s >> 8), static_cast<char>(s & 255)};
      expected += static_cast<char>((s * 255 + 32767) / 65535);
    }
  EXPECT_TRUE(loaded(wide) == expected);
  // Halves round up (300 of 1000 is 76.5 -> 77); a sample above the maximum refuses the file.
  for (auto [header, samples, pixels] :
       {std::tuple{"1 1\n1000", "\0\0\1\054\3\350"s, "1x1x3 \0M\377"s},
        std::tuple{"1 1\n100", "\0\036F"s, "1x1x3 \0M\263"s},
        std::tuple{"1 1\n1", "\0\1\1"s, "1x1x3 \0\377\377"s},
        std::tuple{"1 1\n256", "\0\200\1\0\0\0"s, "1x1x3 \200\377\0"s},
        std::tuple{"2 1\n100", "\0\0\0\0\0e"s, "null"s},
        std::tuple{"1 1\n1000", "\0\0\3\351\0\0"s, "null"s}})
    EXPECT_EQ(loaded("P6\n"s + header + "\n" + samples), pixels) << header;
}

// Directories, missing places, pipes nobody serves and full devices: refused at once both
// ways, and no file is made; bitmaps a file cannot hold are not saved.
TEST_F(PpmTest, UnsuitablePathsAndBitmapsAreRefusedAndNoFileIsMade) {
  Bitmap *good = gx_allocbitmap(4, 3, 3);
  uint8_t *px = good->pixels;
  for (const Bitmap &b :
       {Bitmap{px, 4, 3, 1}, Bitmap{px, 4, 3, 4}, Bitmap{px, 0, 3, 3}, Bitmap{nullptr, 4, 3, 3},
        Bitmap{px, -4, 3, 3}, Bitmap{px, 65536, 65536, 3}})
    EXPECT_EQ(gx_savebitmapasppm(&b, at("out.ppm").c_str()), 0);
  EXPECT_EQ(gx_savebitmapasppm(nullptr, at("out.ppm").c_str()), 0);
  ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
  for (const std::string &path :
       std::initializer_list<std::string>{dir_, at("no/such.ppm"), at("fifo"), "/dev/full"}) {
    EXPECT_EQ(gx_loadppmasbitmap(path.c_str()), nullptr) << path;
    EXPECT_EQ(gx_savebitmapasppm(good, path.c_str()), 0) << path;
  }
  EXPECT_EQ(gx_loadppmasbitmap(nullptr), nullptr);
  EXPECT_EQ(gx_savebitmapasppm(good, nullptr), 0);
  EXPECT_EQ(files(), 1) << "only the pipe";
  EXPECT_EQ(gx_savebitmapasppm(good, "/dev/null"), 1);  // devices are written as they are
  gx_freebitmap(good);
}

// A pipe is read as it comes; one that ends short gives null and releases what was taken.
TEST_F(PpmTest, PipesAreReadAsTheyComeAndMayFallShort) {
  for (const std::string samples : {"ABCDEF", "ABCDE"}) {
    const std::string writer = "printf 'P6\\n2 1\\n25'; sleep 0.02; printf '5\\n" + samples + "'";
    FILE *pipe = popen(writer.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    Bitmap *b = gx_loadppmasbitmap(("/proc/self/fd/" + std::to_string(fileno(pipe))).c_str());
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(shape(b), samples.size() == 6 ? "2x1x3 ABCDEF" : "null");
    gx_freebitmap(b);
  }
}

// A file is replaced whole through a link, keeping its permissions, or not at all.
TEST_F(PpmTest, ReplacingKeepsPermissionsFollowsLinksAndNeverLeavesAPartialFile) {
  Bitmap *one = gx_allocbitmap(1, 1, 3), *big = test::image_bitmap(test::load_image("coffee.ppm"));
  put_file(at("f.ppm"), std::string(100, 'x'));
  ASSERT_EQ(chmod(at("f.ppm").c_str(), 0640), 0);
  ASSERT_EQ(symlink("f.ppm", at("link.ppm").c_str()), 0);
  ASSERT_EQ(gx_savebitmapasppm(one, at("link.ppm").c_str()), 1);
  EXPECT_EQ(std::filesystem::status(at("f.ppm")).permissions(), std::filesystem::perms(0640));
  // Writes past 4 KiB now fail with EFBIG instead of ending the process.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const rlimit small{4096, saved.rlim_max};
  std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  EXPECT_EQ(gx_savebitmapasppm(big, at("link.ppm").c_str()), 0);
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(file_bytes(at("f.ppm")), "P6\n1 1\n255\n\0\0\0"s);
  EXPECT_EQ(files(), 2) << "a temporary file was left behind";
  for (Bitmap *b : {one, big}) gx_freebitmap(b);
}

TEST(PpmStrings, InstrLeftAndRight) {
  EXPECT_EQ(instr("640  480 ", ' '), 8);  // the last one
  EXPECT_EQ(instr("a\xe9z", -23), 1);     // compared as signed bytes
  EXPECT_EQ(instr("a\xe9z", 233), -1);
  EXPECT_EQ(instr(nullptr, ' '), -1);
  EXPECT_STREQ(left("64", 5), "64");
  EXPECT_STREQ(left("64", -5), "");
  EXPECT_STREQ(right("640 480", 3), " 480");
  EXPECT_STREQ(right("640 480", 70), "");
  EXPECT_EQ(left(std::string(200, 'd').c_str(), 200), std::string(79, 'd'));
  EXPECT_EQ(right(std::string(200, 'd').c_str(), 1), std::string(79, 'd'));
}

TEST_F(PpmTest, NetpbmAndWeReadEachOthersFilesAlike) {
  for (const char *tool : {"pamdepth", "ppmtoppm"})
    if (!run("command -v "s + tool + " >/dev/null")) GTEST_SKIP() << tool << " is missing";
  const std::string in = at("a.ppm"), out = at("b.ppm");
  for (const char *header : kLayouts) {
    put_file(in, header + "\1\2\3\4\5\6\7"s);
    ASSERT_TRUE(run("ppmtoppm < " + in + " > " + out)) << header;
    EXPECT_EQ(loaded(file_bytes(out)), "2x1x3 \1\2\3\4\5\6") << header;
  }
  // Other maxima: our scaling equals netpbm's own conversion of the same file to 255.
  for (const char *max : {"65535", "1000", "300", "37", "1"}) {
    ASSERT_TRUE(run("pamdepth "s + max + " " + CORVIX_TEST_IMAGES "/astronaut.ppm > " + out));
    ASSERT_TRUE(run("pamdepth 255 " + out + " > " + in));
    const std::string theirs = loaded(file_bytes(in));
    EXPECT_TRUE(theirs != "null" && loaded(file_bytes(out)) == theirs) << max;
  }
  // netpbm writes our header, so reading and rewriting our file gives the same bytes.
  Bitmap *b = test::image_bitmap(test::load_image("coffee.ppm"));
  ASSERT_EQ(gx_savebitmapasppm(b, in.c_str()), 1);
  gx_freebitmap(b);
  ASSERT_TRUE(run("ppmtoppm < " + in + " > " + out));
  EXPECT_TRUE(file_bytes(out) == file_bytes(in));
}

// Pillow reads our file and saves its own, which we read as the pixels we saved.
TEST_F(PpmTest, PillowReadsOurFilesAndWeReadPillowsFiles) {
  // The Python that has Pillow (a pyenv first on PATH may not).
  const std::string py = "/usr/bin/python3 -c 'from PIL import Image; import sys; ";
  if (!run(py + "' 2>/dev/null")) GTEST_SKIP() << "Pillow is missing";
  Bitmap *b = test::image_bitmap(test::load_image("astronaut.ppm"));
  ASSERT_EQ(gx_savebitmapasppm(b, at("ours.ppm").c_str()), 1);
  ASSERT_TRUE(run(py + "im = Image.open(sys.argv[1]); assert im.mode == \"RGB\"; " +
                  "im.save(sys.argv[2])' " + at("ours.ppm") + " " + at("theirs.ppm")));
  EXPECT_TRUE(loaded(file_bytes(at("theirs.ppm"))) == shape(b));
  gx_freebitmap(b);
}

}  // namespace
}  // namespace corvix
