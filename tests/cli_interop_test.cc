// The corvix tool beside the tools people already use: raw planes from ffmpeg convert close to
// ffmpeg's own conversion, netpbm and Pillow read our PPM, PGM and PNG files back to the same
// pixels, PNG and JPEG files come in as pngtopam and djpeg decode them, and image streams
// from ffmpeg go through image by image. Each test skips when its tool is missing.
#include "tests/cli_harness_test.h"

namespace corvix::test::cli {
namespace {

const char kPython[] = "/usr/bin/python3";  // the system Python, which has Pillow

class CliInterop : public CliTest {};

// The number of sample bytes of a binary netpbm file (everything after its header), found
// from the header's three numbers.
size_t read_pnm_bytes(const std::string &pnm) {
  int w = 0, h = 0, max = 0, header = 0;
  char kind = 0;
  if (std::sscanf(pnm.c_str(), "P%c %d %d %d%n", &kind, &w, &h, &max, &header) != 4) return 0;
  return size_t(w) * h * (kind == '6' ? 3 : 1);
}

TEST_F(CliInterop, FramesFromFfmpegConvertCloseToFfmpegsOwnConversion) {
  if (!have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string ffmpeg = "ffmpeg -loglevel error -nostdin -y ", raw = " -f rawvideo ";
  const std::string planes = path("planes.yuv"), stream = path("stream.y4m");
  const std::string photo = image_path("coffee.ppm"), size = "600x400";
  for (const char *format : {"yuv411p", "yuv422p", "yuv444p", "yuv420p", "nv12"}) {
    SCOPED_TRACE(format);
    const Result made =
        shell(ffmpeg + "-i " + quote(photo) + " -pix_fmt " + format + raw + quote(planes));
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

// netpbm writes maxval-255 files with exactly our header, so its copy must be our bytes; Pillow
// reads the same samples.
TEST_F(CliInterop, NetpbmAndPillowReadOurFilesBackIdentically) {
  const bool netpbm = have("pamtopnm"),
             pillow = exists(kPython) && shell(std::string(kPython) + " -c 'import PIL'").code == 0;
  if (!netpbm && !pillow) GTEST_SKIP() << "neither netpbm nor Pillow is installed";
  ASSERT_EQ(corvix({"rotate", "--angle", "20", image_path("coffee.ppm"), path("r.ppm")}).code, 0);
  ASSERT_EQ(corvix({"remap", image_path("astronaut.ppm"), path("c.pgm")}).code, 0);
  const std::string pil = std::string(kPython) + " -c " +
                          quote(
                              "import sys, PIL.Image as I\n"
                              "sys.stdout.buffer.write(I.open(sys.argv[1]).tobytes())");
  for (const char *name : {"r.ppm", "c.pgm"}) {
    const std::string netpbm_read = netpbm ? shell("pamtopnm < " + quote(path(name))).out : "";
    const std::string pillow_read = pillow ? shell(pil + " " + quote(path(name))).out : "";
    EXPECT_TRUE(!netpbm || netpbm_read == slurp(path(name))) << name;
    EXPECT_TRUE(!pillow || pillow_read == read_pnm(path(name)).bytes) << name;
  }
}

// The samples of a netpbm file with every byte inverted, as `corvix invert` must give them.
std::string inverted(std::string pnm) {
  const size_t header = pnm.size() - read_pnm_bytes(pnm);
  for (size_t i = header; i < pnm.size(); ++i) pnm[i] = static_cast<char>(255 - uint8_t(pnm[i]));
  return pnm;
}

// A stream of colour and grey images, joined as cat joins them and as ffmpeg's image2pipe
// writes them, comes out image by image, each processed; nothing is dropped.
TEST_F(CliInterop, EveryImageOfAStreamIsProcessedInTurn) {
  const std::string coffee = slurp(image_path("coffee.ppm"));
  const std::string grey = "P5\n3 2\n255\n\x01\x02\x03\x04\x05\xfe";
  write_file(path("stream"), coffee + grey + coffee + "\n");
  const Result r = corvix({"invert", "-", "-"}, path("stream"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.out == inverted(coffee) + inverted(grey) + inverted(coffee));
  // To a named file too, which appears once every image is in it.
  ASSERT_EQ(corvix({"invert", path("stream"), path("out.ppm")}).code, 0);
  EXPECT_TRUE(slurp(path("out.ppm")) == r.out);
  // An image that breaks off fails the run, and a named output is not made.
  write_file(path("cut"), coffee + coffee.substr(0, 1000));
  const Result cut = corvix({"invert", path("cut"), path("cut.ppm")});
  EXPECT_EQ(cut.code, 1);
  EXPECT_NE(cut.err.find("file ends after 985 of 720000 sample bytes"), std::string::npos)
      << cut.err;
  EXPECT_FALSE(exists(path("cut.ppm")));

  if (!have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string ffmpeg = "ffmpeg -loglevel error -nostdin ";
  const std::string frames =
      ffmpeg + "-f lavfi -i testsrc=size=67x45:rate=5 -frames:v 7 -f image2pipe -c:v ppm -";
  const Result theirs = shell(frames + " | " + ffmpeg +
                              "-f image2pipe -c:v ppm -i - -vf vflip "
                              "-f image2pipe -c:v ppm -");
  const Result ours = shell(frames + " | \"$CORVIX\" mirror --vertical - - | " + ffmpeg +
                            "-f image2pipe -c:v ppm -i - -f image2pipe -c:v ppm -");
  ASSERT_EQ(ours.code, 0) << ours.err;
  EXPECT_EQ(ours.out.size(), 7u * (67 * 45 * 3 + 13));
  EXPECT_TRUE(ours.out == theirs.out);
}

// PNG and JPEG in, chosen by content whatever the name; out by the name's extension or
// --format. Decoded pixels are those of pngtopam and djpeg; our PNG holds exactly our pixels.
TEST_F(CliInterop, PngAndJpegFilesGoInAndOut) {
  if (!have("pngtopam") || !have("djpeg")) GTEST_SKIP() << "netpbm or djpeg is missing";
  const std::string png = path("photo.dat"), jpeg = path("photo.ppm");
  ASSERT_EQ(corvix({"invert", image_path("astronaut.ppm"), path("a.png")}).code, 0);
  std::filesystem::rename(path("a.png"), png);
  ASSERT_EQ(
      shell("cjpeg -progressive " + quote(image_path("coffee.ppm")) + " > " + quote(jpeg)).code, 0);
  for (const auto &[input, decoder] : {std::pair{png, "pngtopam"}, {jpeg, "djpeg"}}) {
    const Result theirs = shell(std::string(decoder) + " " + quote(input));
    const Result ours = corvix({"invert", input, "-"});
    ASSERT_EQ(ours.code, 0) << ours.err;
    EXPECT_TRUE(ours.out == inverted(theirs.out)) << decoder;
  }
  // Inverted twice is the photograph again, byte for byte, through a PNG.
  EXPECT_TRUE(corvix({"invert", png, "-"}).out == slurp(image_path("astronaut.ppm")));
  const Result as_png = corvix({"--format", "png", "invert", jpeg, "-"});
  EXPECT_EQ(as_png.out.substr(1, 3), "PNG");
  ASSERT_EQ(corvix({"--quality", "40", "invert", jpeg, path("q40.JPG")}).code, 0);
  ASSERT_EQ(corvix({"invert", jpeg, path("q90.jpeg")}).code, 0);
  EXPECT_LT(slurp(path("q40.JPG")).size(), slurp(path("q90.jpeg")).size());
  EXPECT_EQ(corvix({"--quality", "101", "invert", jpeg, path("x.jpg")}).code, 2);
  EXPECT_EQ(corvix({"--format", "gif", "invert", jpeg, path("x.jpg")}).code, 2);
  EXPECT_FALSE(exists(path("x.jpg")));
}

// Transparency is dropped with one note, or composed over --background as pngtopam -mix
// composes it.
TEST_F(CliInterop, TransparencyIsDroppedWithANoteOrComposed) {
  if (!have("pngtopam")) GTEST_SKIP() << "netpbm is missing";
  const std::string rgba = CORVIX_TEST_IMAGES "/../corpus/png/rgba8_gradient";
  const Result dropped = corvix({"invert", rgba, "-"});
  ASSERT_EQ(dropped.code, 0);
  EXPECT_TRUE(dropped.out == inverted(shell("pngtopam " + quote(rgba)).out));
  EXPECT_NE(dropped.err.find("has transparency, which was dropped"), std::string::npos);
  EXPECT_EQ(std::count(dropped.err.begin(), dropped.err.end(), '\n'), 1);
  EXPECT_EQ(corvix({"--quiet", "invert", rgba, "-"}).err, "");
  const Result composed = corvix({"--background", "32,64,96", "invert", rgba, "-"});
  EXPECT_TRUE(composed.out ==
              inverted(shell("pngtopam -mix -background=rgb:20/40/60 " + quote(rgba)).out));
  EXPECT_EQ(composed.err, "");
}

// Damaged and cut-short PNG and JPEG files: a clear message, exit 1, no output file.
// Standard input is read directly: no temporary copy is made, and none is left behind.
TEST_F(CliInterop, DamagedFilesFailAndStandardInputLeavesNothingBehind) {
  const std::string png = slurp(CORVIX_TEST_IMAGES "/../corpus/png/rgb16");
  const std::string jpeg = slurp(CORVIX_TEST_IMAGES "/../corpus/jpeg/progressive_420");
  std::string damaged = png;
  damaged[damaged.size() - 40] ^= 1;
  const std::pair<std::string, std::string> files[] = {
      {png.substr(0, png.size() - 5), "PNG file ends after"},
      {damaged, "damaged PNG file"},
      {jpeg.substr(0, jpeg.size() / 2), "damaged or cut-short JPEG file"},
      {jpeg.substr(0, 200) + std::string(300, '\x55'), "damaged JPEG file"}};
  for (const auto &[bytes, message] : files) {
    write_file(path("in"), bytes);
    for (const std::string &input : {path("in"), std::string("-")}) {
      const Result r = corvix({"rotate", "--angle", "3", input, path("out.png")}, path("in"));
      EXPECT_EQ(r.code, 1);
      EXPECT_NE(r.err.find("corvix: rotate: cannot read"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
      EXPECT_FALSE(exists(path("out.png")));
    }
  }
  std::filesystem::create_directory(path("tmp"));
  const Result r = shell("TMPDIR=" + quote(path("tmp")) + " \"$CORVIX\" invert - - | " +
                             "TMPDIR=" + quote(path("tmp")) + " \"$CORVIX\" mirror --vertical - " +
                             quote(path("tmp/out.ppm")),
                         image_path("coffee.ppm"));
  ASSERT_EQ(r.code, 0) << r.err;
  const auto entries = std::filesystem::directory_iterator(path("tmp"));
  EXPECT_EQ(std::distance(begin(entries), end(entries)), 1) << "only out.ppm";
}

}  // namespace
}  // namespace corvix::test::cli
