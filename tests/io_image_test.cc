// Image files of every kind: PNG and JPEG decoded as netpbm's pngtopam and libjpeg-turbo's
// djpeg decode them, lossless PNG round trips, cut and damaged files refused with a reason,
// netpbm streams read image by image from pipes, files and memory, and saving by format or
// extension. Tests that need a tool skip where it is missing.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "corvix/corvix.h"
#include "io/codecs.h"
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

}  // namespace
}  // namespace corvix
