// Image files of every kind: PNG and JPEG decoded as netpbm's pngtopam and libjpeg-turbo's
// djpeg decode them, lossless PNG round trips, cut and damaged files refused with a reason,
// netpbm streams read image by image from pipes, files and memory, saving by format or
// extension, and the PPM routines. Tests that need a tool skip where it is missing.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "corvix/corvix.h"
#include "io/codecs.h"
#include "io/ppm.h"
#include "tests/support.h"

namespace corvix {
namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

const std::string kCorpus = CORVIX_TEST_IMAGES "/../corpus/"s;
const std::string kPhotos = CORVIX_TEST_IMAGES "/"s;

using test::file_bytes;
using test::put_file;
bool run(const std::string &command) { return test::run_shell(command); }
bool have(const char *tool) { return run("command -v "s + tool + " >/dev/null 2>&1"); }

// "<w>x<h>x<bpp> <pixels>", or "null: <reason>".
std::string shape(Bitmap *b) {
  if (b == nullptr) return "null: "s + corvix_last_error();
  const std::string s = std::to_string(b->width) + "x" + std::to_string(b->height) + "x" +
                        std::to_string(b->bytes_per_pixel) + " " +
                        std::string(reinterpret_cast<const char *>(b->pixels),
                                    size_t(b->width) * b->height * b->bytes_per_pixel);
  gx_freebitmap(b);
  return s;
}
std::string load(const std::string &path) { return shape(corvix_load_image(path.c_str())); }
std::string load_bytes(const std::string &bytes) {
  return shape(corvix_load_image_memory(bytes.data(), bytes.size()));
}

std::vector<std::string> corpus(const char *kind) {
  std::vector<std::string> files;
  for (const auto &e : fs::directory_iterator(kCorpus + kind)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

class ImageTest : public test::LeakCheck {
 protected:
  ImageTest() { EXPECT_NE(mkdtemp(dir_.data()), nullptr); }
  ~ImageTest() override { fs::remove_all(dir_); }
  std::string at(const std::string &name) const { return dir_ + "/" + name; }
  // What another program makes of `file`, loaded by our netpbm reader (checked against
  // netpbm in the PPM tests).
  std::string theirs(const std::string &command) {
    if (!run(command + " > " + at("ref.pnm"))) return "tool failed: " + command;
    return load(at("ref.pnm"));
  }
  std::string dir_ = fs::temp_directory_path() / "corvix-image-XXXXXX";
};

// Every depth (1, 2, 4, 8, 16), colour type, palettes with transparency and interlacing, each
// 13x7 so that no row is a whole number of bytes or vectors. Transparency is dropped as
// pngtopam drops it, or composed over a background as pngtopam -mix composes it: each channel
// c * a + bg * (255 - a) over 255, rounded, a grey image over a coloured background in colour.
// 16-bit samples are rounded as pamdepth rounds them.
TEST_F(ImageTest, PngDecodesAsNetpbmDecodesIt) {
  if (!have("pngtopam") || !have("pamdepth")) GTEST_SKIP() << "netpbm is missing";
  for (const std::string &file : corpus("png")) {
    const std::string ours = load(file), name = fs::path(file).filename();
    const auto has = [&](const char *part) { return name.find(part) != std::string::npos; };
    EXPECT_EQ(ours.substr(0, 7), has("grey") || has("bilevel") ? "13x7x1 " : "13x7x3 ") << file;
    EXPECT_TRUE(ours == theirs("pngtopam " + file + " | pamdepth 255 2>/dev/null")) << file;
    CorvixImageInfo info{};
    Bitmap *b = corvix_load_image_ex(file.c_str(), 0x204060, &info);
    EXPECT_EQ(info.format, CORVIX_FORMAT_PNG);
    EXPECT_EQ(info.alpha, has("a8") || has("a16") || has("trns")) << name;
    // An image without transparency ignores the background.
    const std::string mix = "pngtopam -mix -background=rgb:20/40/60 " + file + " | pamdepth 255";
    EXPECT_TRUE(shape(b) == (info.alpha ? theirs(mix) : ours)) << name;
  }
}

// Baseline, progressive, arithmetic-coded, restart markers, 4:4:4, 4:2:2, grey, an RGB
// colour space, and a photograph: the same pixels as djpeg's (same library, default
// settings).
TEST_F(ImageTest, JpegDecodesAsDjpegDecodesIt) {
  if (!have("djpeg") || !have("cjpeg")) GTEST_SKIP() << "libjpeg-turbo-progs is missing";
  std::vector<std::string> files = corpus("jpeg");
  ASSERT_TRUE(run("cjpeg -progressive -quality 83 " + kPhotos + "coffee.ppm > " + at("p.jpg")));
  files.push_back(at("p.jpg"));
  for (const std::string &file : files) {
    EXPECT_TRUE(load(file) == theirs("djpeg " + file)) << file;
  }
}

// Our JPEG is the file cjpeg makes at the same quality (the fuzz replays read every PNG and PPM
// they save back to the same pixels).
TEST_F(ImageTest, SavedFilesAreWhatOtherProgramsRead) {
  Bitmap *photo = corvix_load_image((kPhotos + "coffee.ppm").c_str());
  ASSERT_NE(photo, nullptr);
  Bitmap *grey = gx_allocbitmap(37, 5, 1);
  for (int i = 0; i < 37 * 5; ++i) grey->pixels[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(corvix_save_image(grey, at("x.PNG").c_str(), nullptr, 0), 1) << corvix_last_error();
  if (have("cjpeg")) {
    for (int quality : {90, 37}) {
      ASSERT_EQ(corvix_save_image(photo, at("ours.jpg").c_str(), nullptr, quality), 1);
      ASSERT_TRUE(run("cjpeg -quality " + std::to_string(quality) + " " + kPhotos +
                      "coffee.ppm > " + at("theirs.jpg")));
      EXPECT_TRUE(file_bytes(at("ours.jpg")) == file_bytes(at("theirs.jpg"))) << quality;
    }
  }
  // The same bytes into memory, a descriptor and a stream as into a named file.
  size_t size = 0;
  void *memory = corvix_save_image_memory(grey, "png", 0, &size);
  ASSERT_NE(memory, nullptr);
  EXPECT_TRUE(std::string(static_cast<char *>(memory), size) == file_bytes(at("x.PNG")));
  std::free(memory);
  ASSERT_EQ(gx_savebitmapasppm(photo, at("named.ppm").c_str()), 1);
  const int fd = open(at("fd.ppm").c_str(), O_WRONLY | O_CREAT, 0600);
  FILE *stream = fopen(at("stream.ppm").c_str(), "wb");
  EXPECT_EQ(gx_savebitmapasppmfd(photo, fd), 1);
  EXPECT_EQ(gx_savebitmapasppmfile(photo, stream), 1);
  EXPECT_EQ(corvix_save_image_fd(photo, fd, "ppm", 0), 1);
  EXPECT_EQ(corvix_save_image_fd(photo, fd, nullptr, 0), 0);  // a descriptor has no name
  close(fd);
  fclose(stream);
  EXPECT_TRUE(file_bytes(at("stream.ppm")) == file_bytes(at("named.ppm")));
  EXPECT_TRUE(file_bytes(at("fd.ppm")) ==
              file_bytes(at("named.ppm")) + file_bytes(at("named.ppm")));
  gx_freebitmap(photo);
  gx_freebitmap(grey);
}

// Every prefix of a PNG and a JPEG, and single damaged bytes in the image data: refused with
// a reason, nothing allocated. A PNG must run to its end chunk.
TEST_F(ImageTest, CutAndDamagedFilesAreRefusedWithAReason) {
  for (const char *name :
       {"png/rgba16_interlaced", "png/palette4", "jpeg/progressive_420", "jpeg/baseline_420"}) {
    const std::string file = file_bytes(kCorpus + name);
    ASSERT_EQ(load_bytes(file).substr(0, 5) == "null:", false) << name;
    for (size_t n = 0; n < file.size(); ++n) {
      const std::string got = load_bytes(file.substr(0, n));
      ASSERT_EQ(got.substr(0, 5), "null:") << name << " cut at " << n;
      ASSERT_GT(got.size(), 6u) << "no reason";
    }
  }
  std::string png = file_bytes(kCorpus + "png/rgb8");
  png[png.size() - 30] ^= 0x10;  // inside IDAT: its CRC no longer matches
  EXPECT_EQ(load_bytes(png).substr(0, 22), "null: damaged PNG file");
  EXPECT_EQ(load_bytes(file_bytes(kCorpus + "png/rgb8").substr(0, 100)),
            "null: PNG file ends after 100 bytes, before its end chunk");
  EXPECT_EQ(load_bytes(""), "null: the file is empty");
  EXPECT_EQ(load_bytes("GIF89a"), "null: not a PPM, PGM, PNG or JPEG file");
  EXPECT_EQ(load_bytes("P4\n1 1\n\x80"), "null: a PBM file, which is not read");
  EXPECT_EQ(load_bytes("P6\n640 480\n255\n" + std::string(1200, 'x')),
            "null: file ends after 1200 of 921600 sample bytes");
  EXPECT_EQ(load_bytes("P5 70000 70000 255\n"),
            "null: 70000 x 70000 x 1 does not fit a 32-bit size");
  // (A missing file and a directory are refused by name in the tool's tests.)
  // A descriptor that cannot be read is a read error, not an empty file.
  const int dir = open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
  EXPECT_EQ(shape(corvix_load_image_fd(dir)), "null: read error: Is a directory");
  close(dir);
}

// A header announcing more pixels than the file's bytes can code is refused before the image
// is allocated: at the limit the decode is tried (and fails on the missing data), one row
// past it the header alone refuses.
TEST_F(ImageTest, JpegHeadersClaimingMoreThanTheFileHoldsAreRefused) {
  std::string file = file_bytes(kCorpus + "jpeg/baseline_420");
  const size_t sof = file.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  auto claim = [&](uint32_t width, uint32_t height) {
    const char dims[4] = {char(height >> 8), char(height), char(width >> 8), char(width)};
    file.replace(sof + 5, 4, dims, 4);
    return load_bytes(file);
  };
  const uint32_t rows = 4096 + uint32_t(file.size());  // 4096 x rows = 2^24 + 4096 x size
  EXPECT_EQ(claim(4096, rows).substr(0, 31), "null: damaged or cut-short JPEG");
  EXPECT_EQ(claim(4096, rows + 1), "null: 4096 x " + std::to_string(rows + 1) +
                                       " pixels cannot come from a JPEG file of 665 bytes");
}

// Plain netpbm (P2, P3) reads as the binary forms: through pnmtoplainpnm, at maximum 255 and
// at others (scaled as binary samples are). Samples are checked against the maximum.
TEST_F(ImageTest, PlainNetpbmReadsAsTheBinaryForms) {
  EXPECT_EQ(load_bytes("P3\n# c\n2 1 1000\n0 1000 500\n999 1 3"), "2x1x3 \0\377\200\377\0\1"s);
  EXPECT_EQ(load_bytes("P2 3 1 255 7 0\t255"), "3x1x1 \a\0\377"s);
  EXPECT_EQ(load_bytes("P2 2 1 255 7 256"), "null: a sample exceeds the maximum value 255");
  EXPECT_EQ(load_bytes("P2 2 1 255 7 x"), "null: sample 2 is not a decimal number");
  EXPECT_EQ(load_bytes("P2 3 1 255 7 1     "), "null: file ends after 2 of 3 samples");
  EXPECT_EQ(load_bytes("P2 3 1 255 7 1"),
            "null: file ends after 3 bytes, too few for 3 plain samples");
  if (!have("pnmtoplainpnm")) GTEST_SKIP() << "netpbm is missing";
  const std::string photo = kPhotos + "coffee.ppm";
  ASSERT_TRUE(run("pnmtoplainpnm " + photo + " > " + at("plain.ppm")));
  ASSERT_TRUE(run("ppmtopgm " + photo + " | tee " + at("grey.pgm") + " | pnmtoplainpnm > " +
                  at("plain.pgm")));
  EXPECT_TRUE(load(at("plain.ppm")) == load(photo));
  EXPECT_TRUE(load(at("plain.pgm")) == load(at("grey.pgm")));
}

// Images one after another in a pipe, a file and memory: each load takes exactly one image
// and leaves the descriptor at the next, whatever the kind and however short the image.
TEST_F(ImageTest, NetpbmStreamsAreReadImageByImage) {
  const std::string stream =
      "P6\n2 1\n255\nABCDEF"
      "P5 1 1 255\nG"
      "P3 1 1 255 1 2 3\n"
      "P6\n1 1\n65535\n\1\0\2\0\3\0"s;
  const std::vector<std::string> want = {"2x1x3 ABCDEF", "1x1x1 G", "1x1x3 \1\2\3", "1x1x3 \1\2\3"};
  put_file(at("stream"), stream);
  const int file = open(at("stream").c_str(), O_RDONLY);
  FILE *pipe = popen(("cat " + at("stream")).c_str(), "r");
  ASSERT_TRUE(file >= 0 && pipe != nullptr);
  for (const std::string &image : want) {
    EXPECT_EQ(shape(corvix_load_image_fd(file)), image);
    EXPECT_EQ(shape(corvix_load_image_fd(fileno(pipe))), image);
  }
  EXPECT_EQ(lseek(file, 0, SEEK_CUR), static_cast<off_t>(stream.size()));
  EXPECT_EQ(shape(corvix_load_image_fd(fileno(pipe))), "null: the file is empty");
  close(file);
  pclose(pipe);
  // The PPM forms take only P6, and a stdio stream keeps what follows.
  FILE *f = fopen(at("stream").c_str(), "rb");
  EXPECT_EQ(shape(gx_loadppmasbitmapfile(f)), want[0]);
  EXPECT_EQ(shape(gx_loadppmasbitmapfile(f)), "null: not a binary PPM file: a PGM file");
  fclose(f);
  EXPECT_EQ(shape(gx_loadppmasbitmapmemory(stream.data(), stream.size())), want[0]);
}

// The format comes from the argument or the extension; anything unclear is refused before a
// file is made.
TEST_F(ImageTest, SavingRefusesWhatItCannotWrite) {
  uint8_t px[12] = {};
  const Bitmap colour{px, 2, 2, 3}, two{px, 2, 2, 2}, empty{px, 0, 2, 3};
  using Case = std::tuple<const Bitmap *, std::string, const char *, int, std::string>;
  for (const auto &[b, name, format, quality, reason] :
       {Case{&colour, "a.gif", nullptr, 90, "no image format for the name"},
        Case{&colour, "a.png", "tiff", 90, "unknown image format \"tiff\""},
        Case{&colour, "a.jpg", nullptr, 0, "JPEG quality 0 is not 1..100"},
        Case{&colour, "a.jpg", nullptr, 101, "JPEG quality 101 is not 1..100"},
        Case{&two, "a.png", nullptr, 90, "a bitmap of 2 bytes a pixel"},
        Case{&empty, "a.png", nullptr, 90, "the bitmap is empty (0x2)"},
        Case{nullptr, "a.png", nullptr, 90, "no bitmap"}}) {
    EXPECT_EQ(corvix_save_image(b, at(name).c_str(), format, quality), 0) << name;
    EXPECT_EQ(std::string(corvix_last_error()).rfind(reason, 0), 0u) << corvix_last_error();
  }
  EXPECT_TRUE(fs::is_empty(dir_));
  EXPECT_EQ(corvix_save_image(&colour, at("q.jpeg").c_str(), nullptr, 1), 1);
  EXPECT_EQ(corvix_save_image(&colour, at("q.jpeg").c_str(), nullptr, 100), 1);
  EXPECT_EQ(load(at("q.jpeg")).substr(0, 6), "2x2x3 ");
}

// The PPM routines: exact writer output, the header rules, hostile headers and paths, scaled
// samples, refused and failed saves, and the string helpers.

// What the file at `path` loads as through the PPM routine ("null" when refused).
std::string ppm_load(const std::string &path) {
  Bitmap *b = gx_loadppmasbitmap(path.c_str());
  return b == nullptr ? "null" : shape(b);
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

class PpmTest : public ImageTest {
 protected:
  auto files() const { return std::distance(fs::directory_iterator(dir_), {}); }
  // What a file holding `bytes` loads as.
  std::string loaded(const std::string &bytes) {
    put_file(at("in.ppm"), bytes);
    return ppm_load(at("in.ppm"));
  }
};

// Large sample runs are read in step with the file's alignment and moved into place, so the
// saved file is loaded back after headers of every length modulo 64.
TEST_F(PpmTest, SavedPhotographMatchesTheReferenceFileAndLoadsBack) {
  Bitmap *b = test::image_bitmap(test::load_image("coffee.ppm"));
  ASSERT_EQ(gx_savebitmapasppm(b, at("out.ppm").c_str()), 1);
  const std::string file = file_bytes(at("out.ppm"));
  EXPECT_TRUE(file == file_bytes(kPhotos + "coffee.ppm"));
  const std::string want = shape(gx_clonebitmap(b));
  for (int pad = 0; pad < 64; ++pad)
    ASSERT_TRUE(loaded("P6\n#" + std::string(pad, '-') + file.substr(2)) == want) << pad;
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
    EXPECT_EQ(ppm_load(path), "null") << path;
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
    const std::string got = ppm_load("/proc/self/fd/" + std::to_string(fileno(pipe)));
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

}  // namespace
}  // namespace corvix
