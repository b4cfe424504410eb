// The corvix tool beside the tools people already use: raw planes from ffmpeg convert close to
// ffmpeg's own conversion, ffmpeg reads the raw stream, and netpbm and Pillow read the PPM and
// PGM files back to the same pixels. Each test skips when its tool is not installed.
#include "tests/cli_harness_test.h"

namespace corvix::test::cli {
namespace {

const char kPython[] = "/usr/bin/python3";  // the system Python, which has Pillow

class CliInterop : public CliTest {
 protected:
  Result ffmpeg(const std::string &args) {
    return shell("ffmpeg -hide_banner -loglevel error -nostdin -y " + args);
  }
};

// Largest and mean absolute difference of two byte runs of equal length.
struct Difference {
  int worst = 0;
  double mean = 0;
};
Difference difference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
  Difference d;
  EXPECT_EQ(a.size(), b.size());
  const size_t n = std::min(a.size(), b.size());
  double sum = 0;
  for (size_t i = 0; i < n; ++i) {
    const int v = std::abs(a[i] - b[i]);
    d.worst = std::max(d.worst, v);
    sum += v;
  }
  d.mean = n > 0 ? sum / static_cast<double>(n) : 255;
  return d;
}

TEST_F(CliInterop, PlanesFromFfmpegConvertCloseToFfmpegsOwnConversion) {
  if (!have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  struct Format {
    const char *name, *chroma;
  } formats[] = {{"yuv411p", "4"}, {"yuv422p", "2"}, {"yuv444p", "1"}};
  for (const char *photo : {"astronaut.ppm", "coffee.ppm"}) {
    const Pnm original = read_pnm(image_path(photo));
    const std::string size = std::to_string(original.width) + "x" + std::to_string(original.height);
    for (const Format &f : formats) {
      const std::string planes = path(std::string(f.name) + ".yuv");
      ASSERT_EQ(ffmpeg("-i '" + image_path(photo) + "' -pix_fmt " + f.name + " -f rawvideo '" +
                       planes + "'")
                    .code,
                0);
      ASSERT_EQ(
          corvix({"yuv2rgb", "--size", size, "--chroma", f.chroma, planes, path("ours.ppm")}).code,
          0);
      // ffmpeg's conversion of the same planes, each pixel taking its own group's chroma.
      ASSERT_EQ(ffmpeg("-f rawvideo -pix_fmt " + std::string(f.name) + " -video_size " + size +
                       " -i '" + planes +
                       "' -sws_flags neighbor+full_chroma_int+accurate_rnd "
                       "-pix_fmt rgb24 -f rawvideo '" +
                       path("theirs.rgb") + "'")
                    .code,
                0);
      const Difference d =
          difference(read_pnm(path("ours.ppm")).bytes, file_bytes(path("theirs.rgb")));
      EXPECT_LE(d.worst, 6) << photo << " " << f.name;
      EXPECT_LT(d.mean, 1.0) << photo << " " << f.name;
    }
  }
}

TEST_F(CliInterop, FfmpegReadsOurRawStreamAndOurPlanes) {
  if (!have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  // The raw stream is bgr24: ffmpeg turns it into the same pixels as our PPM files.
  const std::string clip = media_path("astronaut_zoom_224x168.yuv411p");
  ASSERT_EQ(corvix({"yuv2rgb", "--size", "224x168", "--raw", clip, path("clip.bgr")}).code, 0);
  ASSERT_EQ(corvix({"yuv2rgb", "--size", "224x168", clip, path("f%d.ppm")}).code, 0);
  ASSERT_EQ(ffmpeg("-f rawvideo -pix_fmt bgr24 -video_size 224x168 -i '" + path("clip.bgr") +
                   "' -pix_fmt rgb24 -f rawvideo '" + path("clip.rgb") + "'")
                .code,
            0);
  const std::vector<uint8_t> rgb = file_bytes(path("clip.rgb"));
  ASSERT_EQ(rgb.size(), 8u * 224 * 168 * 3);
  const size_t frame = 224 * 168 * 3;
  for (int i = 0; i < 8; ++i) {
    const std::vector<uint8_t> want(rgb.begin() + static_cast<long>(i * frame),
                                    rgb.begin() + static_cast<long>((i + 1) * frame));
    EXPECT_EQ(read_pnm(path("f" + std::to_string(i + 1) + ".ppm")).bytes, want) << i;
  }
  // Our planes, read by ffmpeg, give back a picture close to the photograph.
  ASSERT_EQ(corvix({"rgb2yuv", "--chroma", "1", image_path("coffee.ppm"), path("c.yuv")}).code, 0);
  ASSERT_EQ(ffmpeg("-f rawvideo -pix_fmt yuv444p -video_size 600x400 -i '" + path("c.yuv") +
                   "' -sws_flags neighbor+full_chroma_int+accurate_rnd -pix_fmt rgb24 "
                   "-f rawvideo '" +
                   path("c.rgb") + "'")
                .code,
            0);
  const Difference d =
      difference(file_bytes(path("c.rgb")), read_pnm(image_path("coffee.ppm")).bytes);
  EXPECT_LE(d.worst, 6);
  EXPECT_LT(d.mean, 1.0);
}

TEST_F(CliInterop, NetpbmReadsOurFilesBackIdentically) {
  if (!have("pamtopnm") || !have("pnmcut")) GTEST_SKIP() << "netpbm is not installed";
  // netpbm writes maxval-255 files with exactly our header, so a round trip through it must
  // reproduce our bytes; and its cut of a region must equal ours.
  ASSERT_EQ(corvix({"rotate", "--angle", "20", image_path("coffee.ppm"), path("r.ppm")}).code, 0);
  ASSERT_EQ(corvix({"remap", image_path("coffee.ppm"), path("c.pgm")}).code, 0);
  for (const char *name : {"r.ppm", "c.pgm"}) {
    const Result r = shell("pamtopnm < '" + path(name) + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, text_of(path(name))) << name;
  }
  const Result cut = shell("pnmcut 10 20 30 40 < '" + path("r.ppm") + "'");
  ASSERT_EQ(corvix({"cut", "--rect", "30x40+10+20", path("r.ppm"), path("cut.ppm")}).code, 0);
  EXPECT_EQ(cut.out, text_of(path("cut.ppm")));
  // And we read what netpbm writes, comments and all.
  const Result flipped =
      shell("pamflip -topbottom < '" + image_path("coffee.ppm") + "' > '" + path("nf.ppm") + "'");
  ASSERT_EQ(flipped.code, 0);
  ASSERT_EQ(corvix({"cut", "--rect", "600x400+0+0", path("nf.ppm"), path("same.ppm")}).code, 0);
  EXPECT_EQ(file_bytes(path("same.ppm")), file_bytes(path("nf.ppm")));
}

TEST_F(CliInterop, PillowReadsOurFilesBackIdentically) {
  if (!exists(kPython) || spawn({kPython, "-c", "import PIL.Image"}).code != 0)
    GTEST_SKIP() << "Pillow is not installed for " << kPython;
  ASSERT_EQ(corvix({"dither", "--method", "3", image_path("coffee.ppm"), path("d.ppm")}).code, 0);
  ASSERT_EQ(corvix({"remap", image_path("astronaut.ppm"), path("c.pgm")}).code, 0);
  for (const char *name : {"d.ppm", "c.pgm"}) {
    // Pillow's pixels, size and mode, written out raw.
    const Result r = spawn({kPython, "-c",
                            "import sys, PIL.Image as I\n"
                            "im = I.open(sys.argv[1]); im.load()\n"
                            "sys.stdout.write('%s %d %d\\n' % (im.mode, im.width, im.height))\n"
                            "sys.stdout.flush(); sys.stdout.buffer.write(im.tobytes())\n",
                            path(name)});
    ASSERT_EQ(r.code, 0) << r.err;
    const Pnm ours = read_pnm(path(name));
    const std::string head = (ours.channels == 3 ? "RGB " : "L ") + std::to_string(ours.width) +
                             " " + std::to_string(ours.height) + "\n";
    ASSERT_EQ(r.out.substr(0, head.size()), head) << name;
    EXPECT_TRUE(r.out.compare(head.size(), std::string::npos,
                              std::string(ours.bytes.begin(), ours.bytes.end())) == 0)
        << name;
  }
  // And the tool reads the PPM files Pillow writes.
  ASSERT_EQ(spawn({kPython, "-c",
                   "import sys, PIL.Image as I\n"
                   "I.open(sys.argv[1]).transpose(I.Transpose.FLIP_LEFT_RIGHT).save(sys.argv[2])\n",
                   image_path("coffee.ppm"), path("p.ppm")})
                .code,
            0);
  ASSERT_EQ(corvix({"transpose", path("p.ppm"), path("t.ppm")}).code, 0);
  BitmapPtr want = photo("coffee.ppm");
  gx_transposebitmap(want.get());
  const Pnm t = read_pnm(path("t.ppm"));
  ASSERT_EQ(t.width, 400);
  // Mirrored left to right, then transposed: row y of the result is column 599 - y.
  for (int y = 0; y < 600; y += 37)
    for (int x = 0; x < 400; x += 29)
      for (int k = 0; k < 3; ++k)
        ASSERT_EQ(t.bytes[3 * (y * 400 + x) + k], want->pixels[3 * ((599 - y) * 400 + x) + k]);
}

}  // namespace
}  // namespace corvix::test::cli
