// The corvix tool beside the tools people already use: ffmpeg's y4m streams, PNG and JPEG files
// in and out, transparency composed as pngtopam composes it, image streams going through image
// by image, and a corvixd process of its own. Tests that need a tool skip when it is missing.
#include <chrono>
#include <thread>

#include "tests/cli_harness_test.h"

namespace corvix::test::cli {
namespace {

class CliInterop : public CliTest {};

// A netpbm file with every sample inverted, as `corvix invert` must give it.
std::string inverted(std::string pnm) {
  for (size_t i = pnm.size() - parse_pnm(pnm).bytes.size(); i < pnm.size(); ++i)
    pnm[i] = static_cast<char>(255 - uint8_t(pnm[i]));
  return pnm;
}

// Raw planes that ffmpeg made from the photograph, and the same frames as its y4m stream (whose
// header names the layout; NV12 has no y4m tag), give the same bytes.
TEST_F(CliInterop, FfmpegY4mStreamsGiveTheBytesOfTheirRawFrames) {
  if (!have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string ffmpeg = "ffmpeg -loglevel error -nostdin -y ", raw = " -f rawvideo ";
  const std::string planes = path("planes.yuv"), stream = path("stream.y4m");
  for (const char *format : {"yuv411p", "yuv422p", "yuv444p", "yuv420p"}) {
    SCOPED_TRACE(format);
    const Result made =
        shell(ffmpeg + "-i " + quote(image_path("coffee.ppm")) + " -pix_fmt " + format + raw +
              quote(planes) + " && " + ffmpeg + raw + "-pix_fmt " + format +
              " -video_size 600x400 -i " + quote(planes) + " -f yuv4mpegpipe " + quote(stream));
    ASSERT_EQ(made.code, 0) << made.err;
    const std::string ours = ok({"yuv2rgb", "--size", "600x400", "--pix-fmt", format, planes, "-"});
    EXPECT_TRUE(ok({"yuv2rgb", stream, "-"}) == ours);
  }
}

// A stream of colour and grey images, joined as cat joins them, comes out of a pipe image by
// image, each processed; nothing is dropped.
TEST_F(CliInterop, EveryImageOfAStreamIsProcessedInTurn) {
  const std::string coffee = slurp(image_path("coffee.ppm"));
  const std::string grey = "P5\n3 2\n255\n\x01\x02\x03\x04\x05\xfe";
  write_file(path("stream"), coffee + grey + coffee + "\n");
  const Result piped = shell("cat " + quote(path("stream")) + " | \"$CORVIX\" invert - -");
  EXPECT_EQ(piped.code, 0) << piped.err;
  EXPECT_TRUE(piped.out == inverted(coffee) + inverted(grey) + inverted(coffee));
  // To a named file too, which appears once every image is in it.
  ok({"invert", path("stream"), path("out.ppm")});
  EXPECT_TRUE(slurp(path("out.ppm")) == piped.out);
  // An image that breaks off fails the run, and a named output is not made.
  write_file(path("cut"), coffee + coffee.substr(0, 1000));
  refused({"invert", path("cut"), path("cut.ppm")}, 1, "file ends after 985 of 720000 sample",
          path("cut.ppm"));
}

// PNG and JPEG in, chosen by content whatever the name; out by the name's extension or
// --format. Our PNG holds exactly our pixels.
TEST_F(CliInterop, PngAndJpegFilesGoInAndOut) {
  if (!have("cjpeg")) GTEST_SKIP() << "cjpeg is missing";
  const std::string png = path("photo.dat"), jpeg = path("photo.ppm");
  ok({"invert", image_path("astronaut.ppm"), path("a.png")});
  std::filesystem::rename(path("a.png"), png);
  ASSERT_EQ(
      shell("cjpeg -progressive " + quote(image_path("coffee.ppm")) + " > " + quote(jpeg)).code, 0);
  // Inverted twice is the photograph again, byte for byte, through a PNG.
  EXPECT_TRUE(ok({"invert", png, "-"}) == slurp(image_path("astronaut.ppm")));
  EXPECT_EQ(ok({"--format", "png", "invert", jpeg, "-"}).substr(1, 3), "PNG");
  ok({"--quality", "40", "invert", jpeg, path("q40.JPG")});
  ok({"invert", jpeg, path("q90.jpeg")});
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
      {damaged, "damaged PNG file"}, {jpeg.substr(0, jpeg.size() / 2), "cut-short JPEG file"}};
  for (const auto &[bytes, message] : files) {
    write_file(path("in"), bytes);
    for (const std::string &input : {path("in"), std::string("-")})
      refused({"rotate", "--angle", "3", input, path("out.png")}, 1, message, path("out.png"),
              path("in"));
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

// Against a real corvixd process: the same bytes as with the embedded server, every shared
// block handed back, and the server ended with command 0.
TEST_F(CliInterop, AServerProcessGivesTheBytesOfTheEmbeddedOneAndQuits) {
  ServerProcess server;
  Host h(server.name());
  ASSERT_TRUE(h.ok());
  uint32_t baseline = 0, blocks = 0;
  corvix_host_stats(h.get(), &baseline, nullptr);
  const std::string still = media_path("astronaut_512x512.yuv411p");
  const std::string coffee = image_path("coffee.ppm");
  // The conversion and the scaling conversion; the frames' layout is read in the tool.
  const std::vector<std::vector<std::string>> runs = {
      {"yuv2rgb", "--chroma", "4", "--size", "512x512", still},
      {"yuv2rgb", "--chroma", "4", "--size", "512x512", "--resize", "640x360", still},
      {"scale", "--size", "123x45", coffee},
      {"correct", "--contrast", "80", "--brightness", "30", coffee},
      {"remap", coffee},
  };
  for (const std::vector<std::string> &run : runs) {
    SCOPED_TRACE(run[0]);
    std::vector<std::string> args = run;
    args.push_back("-");
    const std::string embedded = ok(args);
    EXPECT_FALSE(embedded.empty());
    // --port before the operation's name and after it.
    for (const size_t at : {size_t{0}, run.size()}) {
      std::vector<std::string> with = args;
      with.insert(with.begin() + static_cast<long>(at), {"--port", server.name()});
      EXPECT_TRUE(ok(with) == embedded);
    }
    // Every block the tool had in the server went back when it ended (the server reclaims a host's
    // blocks once it notices the connection close).
    for (int i = 0; i < 100; ++i) {
      corvix_host_stats(h.get(), &blocks, nullptr);
      if (blocks == baseline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(blocks, baseline);
  }
  // Command 0 ends the server.
  const Result r = corvix({"quit", "--port", server.name()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("quit"), std::string::npos) << r.err;
  EXPECT_EQ(server.wait_exit(5000), 0);
  // Now nobody answers on that port: a failure that names it, and no output.
  refused({"invert", "--port", server.name(), image_path("coffee.ppm"), path("out.ppm")}, 1,
          "no server answers on port '" + server.name() + "'", path("out.ppm"));
  EXPECT_EQ(corvix({"-q", "quit", "--port", server.name()}).code, 1);
}

}  // namespace
}  // namespace corvix::test::cli
