// The corvix tool beside the tools people already use: raw planes from ffmpeg convert close to
// ffmpeg's own conversion, and netpbm and Pillow read our PPM and PGM files back to the same
// pixels. Each test skips when its tool is missing.
#include "tests/cli_harness_test.h"

namespace corvix::test::cli {
namespace {

const char kPython[] = "/usr/bin/python3";  // the system Python, which has Pillow

class CliInterop : public CliTest {};

TEST_F(CliInterop, FramesFromFfmpegConvertCloseToFfmpegsOwnConversion) {
  if (!have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string ffmpeg = "ffmpeg -loglevel error -nostdin -y ", raw = " -f rawvideo ";
  const std::string planes = path("planes.yuv"), stream = path("stream.y4m");
  for (const char *photo : {"astronaut.ppm", "coffee.ppm"}) {
    const Pnm original = read_pnm(image_path(photo));
    const std::string size = std::to_string(original.width) + "x" + std::to_string(original.height);
    for (const char *format : {"yuv411p", "yuv422p", "yuv444p", "yuv420p", "nv12"}) {
      SCOPED_TRACE(std::string(photo) + " " + format);
      const Result made = shell(ffmpeg + "-i " + quote(image_path(photo)) + " -pix_fmt " + format +
                                raw + quote(planes));
      ASSERT_EQ(made.code, 0) << made.err;
      // Both blue first; ffmpeg gives each pixel its own group's chroma, not an interpolation.
      const Result ours = corvix({"yuv2rgb", "--size", size, "--pix-fmt", format, "--raw", planes});
      const std::string scaler = " -sws_flags neighbor+full_chroma_int+accurate_rnd -pix_fmt bgr24";
      const Result theirs = shell(ffmpeg + raw + "-pix_fmt " + format + " -video_size " + size +
                                  " -i " + quote(planes) + scaler + raw + "-");
      ASSERT_EQ(ours.code, 0) << ours.err;
      ASSERT_EQ(theirs.out.size(), ours.out.size()) << theirs.err;
      int worst = 0;
      double sum = 0;
      for (size_t i = 0; i < ours.out.size(); ++i) {
        const int d =
            std::abs(static_cast<uint8_t>(ours.out[i]) - static_cast<uint8_t>(theirs.out[i]));
        worst = std::max(worst, d);
        sum += d;
      }
      EXPECT_LE(worst, 6);
      EXPECT_LT(sum / static_cast<double>(ours.out.size()), 1.0);
      // The same frames as a y4m stream (NV12 has no y4m tag) give the same bytes.
      if (std::string(format) == "nv12") continue;
      ASSERT_EQ(shell(ffmpeg + raw + "-pix_fmt " + format + " -video_size " + size + " -i " +
                      quote(planes) + " -f yuv4mpegpipe " + quote(stream))
                    .code,
                0);
      EXPECT_TRUE(corvix({"yuv2rgb", "--raw", stream, "-"}).out == ours.out);
    }
  }
}

TEST_F(CliInterop, NetpbmReadsOurFilesBackIdentically) {
  if (!have("pamtopnm")) GTEST_SKIP() << "netpbm is not installed";
  // netpbm writes maxval-255 files with exactly our header, so a round trip through it must
  // reproduce our bytes.
  ASSERT_EQ(corvix({"rotate", "--angle", "20", image_path("coffee.ppm"), path("r.ppm")}).code, 0);
  ASSERT_EQ(corvix({"remap", image_path("coffee.ppm"), path("c.pgm")}).code, 0);
  for (const char *name : {"r.ppm", "c.pgm"}) {
    const Result r = shell("pamtopnm < " + quote(path(name)));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.out == slurp(path(name))) << name;
  }
}

TEST_F(CliInterop, PillowReadsOurFilesBackIdentically) {
  if (!exists(kPython) || shell(std::string(kPython) + " -c 'import PIL.Image'").code != 0)
    GTEST_SKIP() << "Pillow is not installed for " << kPython;
  ASSERT_EQ(corvix({"dither", "--method", "3", image_path("coffee.ppm"), path("d.ppm")}).code, 0);
  ASSERT_EQ(corvix({"remap", image_path("astronaut.ppm"), path("c.pgm")}).code, 0);
  for (const char *name : {"d.ppm", "c.pgm"}) {
    const Result r = shell(std::string(kPython) + " -c " +
                           quote("import sys, PIL.Image as I\n"
                                 "sys.stdout.buffer.write(I.open(sys.argv[1]).tobytes())") +
                           " " + quote(path(name)));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.out == read_pnm(path(name)).bytes) << name;
  }
}

}  // namespace
}  // namespace corvix::test::cli
