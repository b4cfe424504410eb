// The corvix tool's command line: usage text, exit codes, messages, standard input and output in
// pipelines, and bad input that must leave no output file behind.
#include "tests/cli_harness_test.h"

namespace corvix::test::cli {
namespace {

class CliUsage : public CliTest {};

TEST_F(CliUsage, HelpListsTheOperationsAndEachHasItsOwnHelp) {
  const std::string help = ok({"--help"});
  for (const std::string op : {"yuv2rgb", "quit"})  // the first and the last
    EXPECT_NE(help.find("\n  " + op + " "), std::string::npos) << op << " missing";
  // An operation's help shows its options with their defaults.
  const std::string correct = ok({"correct", "--help"});
  EXPECT_NE(correct.find("Usage: corvix correct [options]"), std::string::npos);
  EXPECT_NE(correct.find("--contrast PCT=100"), std::string::npos);
  EXPECT_EQ(ok({"--version"}), std::string("corvix ") + CORVIX_VERSION_STRING + "\n");
}

TEST_F(CliUsage, BashCompletionOffersOperationsOptionsAndTheirWords) {
  const std::string script =
      corvix_binary().substr(0, corvix_binary().size() - 6) + "completion/corvix";
  ASSERT_TRUE(exists(script));
  // The words bash would offer for a command line whose last word is being typed.
  auto offers = [&](const std::string &line) {
    return shell("bash -c " + quote("source " + quote(script) + "; COMP_WORDS=(" + line +
                                    "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _corvix; echo "
                                    "\"${COMPREPLY[*]}\""))
        .out;
  };
  EXPECT_EQ(offers("corvix inv"), "invert\n");
  EXPECT_EQ(offers("corvix --port studio mir"), "mirror\n");
  EXPECT_EQ(offers("corvix mirror --h"), "--help --horizontal\n");
  EXPECT_EQ(offers("corvix turn --angle ''"), "90 180 270\n");
  EXPECT_EQ(offers("corvix rotate --angle ''"), "\n");
}

// The option parsers' other bounds (levels, sizes, angles, flags that exclude each other) are
// checked through the Python functions, which hand their values to the same parsers.
TEST_F(CliUsage, MistakesInTheCommandLineExitWithTwoAndSayWhat) {
  const std::string in = image_path("coffee.ppm"), out = path("out.ppm");
  const std::string still = media_path("astronaut_512x512.yuv411p");  // one 512x512 frame
  const std::pair<std::vector<std::string>, const char *> cases[] = {
      {{}, "name an operation"},
      {{"--quiet", "invrt", in, out}, "unknown operation 'invrt'; did you mean 'invert'?"},
      {{"--threads", "0", "invert", in, out}, "--threads"},
      {{"correct", "--contrast", "many", in, out}, "--contrast"},
      {{"scale", in, out}, "--size"},
      {{"rotate", "--angle", "9", "--background", "1,2,256", in, out}, "R,G,B"},
      {{"cut", "--rect", "10x10+1", in, out}, "WxH+X+Y"},
      {{"invert", in, in, out}, "expected INPUT OUTPUT"},
      {{"fade", "-", "-", out}, "standard input"},
      // Raw planes whose layout does not fit the file are refused before anything is written,
      // and a raw layout is never guessed.
      {{"yuv2rgb", "--size", "500x512", "--chroma", "4", still, out},
       "not a whole number of 500x512 yuv411p"},
      {{"yuv2rgb", "--size", "512x512", "--chroma", "3", still, out}, "4|2|1"},
      {{"yuv2rgb", "--size", "256x256", "--chroma", "4", still, out}, "holds 4 frames"},
      {{"yuv2rgb", "--size", "256x256", "--chroma", "4", still, path("f%s.ppm")}, "%d"},
      {{"yuv2rgb", "--size", "512x512", still, out}, "--pix-fmt yuv411p|yuv422p|yuv444p|yuv420p"},
      {{"yuv2rgb", "--pix-fmt", "nv12", still, out}, "--size WxH"},
      {{"yuv2rgb", "--pix-fmt", "yuv444p", "--size", "30000x30000", still, out}, "too large"},
      {{"yuv2rgb", "--size", "4x2", path("one.y4m"), out}, "leave out --size"},
      {{"rgb2yuv", "--pix-fmt", "nv12", in, path("out.y4m")}, "no y4m form"},
      // A palette of more colours than a screen has pens.
      {{"remap", "--palette", path("p257.ppm"), in, out}, "at most 256"},
  };
  write_file(path("one.y4m"), "YUV4MPEG2 W4 H2 C444\nFRAME\n" + std::string(24, 'x'));
  write_file(path("p257.ppm"), "P6\n257 1\n255\n" + std::string(257 * 3, 'x'));
  for (const auto &[args, message] : cases) refused(args, 2, message, out);
  EXPECT_FALSE(exists(path("fs.ppm")));
}

TEST_F(CliUsage, BadInputFailsWithOneAClearMessageAndNoOutputFile) {
  const std::string out = path("out.ppm"), coffee = image_path("coffee.ppm");
  const std::string photo = slurp(coffee);
  write_file(path("short.ppm"), photo.substr(0, photo.size() - 1));
  write_file(path("g.pgm"), "P5\n2 1\n255\n\xd7\xff");  // a one-byte frame
  // Through the server (invert) and through the library (rotate); the loader's other reasons
  // reach the message the same way.
  const std::pair<std::string, std::string> inputs[] = {
      {path("missing.ppm"), "cannot read '" + path("missing.ppm") + "': No such file or directory"},
      {path("short.ppm"), "file ends after 719999 of 720000 sample bytes"},
      {dir_, "is a directory"}};
  for (const auto &[input, message] : inputs) {
    refused({"invert", input, out}, 1, message, out);
    refused({"rotate", "--angle", "5", input, out}, 1, message, out);
  }
  refused({"invert", "-", out}, 1, "standard input: file ends after", out, path("short.ppm"));
  refused({"deinterlace", path("g.pgm"), out}, 1, "needs a colour image", out);
  // Frames that do not fit together.
  refused({"fade", coffee, image_path("astronaut.ppm"), out}, 1, "600x400", out);
  // A raw stream whose last frame is cut short fails after the whole frames.
  const std::string planes = slurp(media_path("astronaut_512x512.yuv411p"));
  write_file(path("cut.yuv"), planes.substr(0, planes.size() - 100));
  const Result cut =
      corvix({"yuv2rgb", "--chroma", "4", "--size", "128x128", "--raw", "-"}, path("cut.yuv"));
  EXPECT_EQ(cut.code, 1);
  EXPECT_NE(cut.err.find("truncated"), std::string::npos) << cut.err;
  EXPECT_EQ(cut.out.size(), 15u * 128 * 128 * 3);
  // A server that cannot start says so (with the host library's reason), and nothing is written.
  const Result no_server = shell("CORVIX_RUNTIME_DIR=/proc/nonexistent \"$CORVIX\" invert " +
                                 quote(coffee) + " " + quote(out));
  EXPECT_EQ(no_server.code, 1);
  EXPECT_EQ(no_server.err.rfind("corvix: invert: cannot start the embedded server", 0), 0u)
      << no_server.err;
  EXPECT_FALSE(exists(out));
  // y4m streams the conversion cannot take, each refused naming what is wrong, and an empty
  // standard input.
  const std::string frame = "FRAME\n" + std::string(24, 'x');  // one 4x2 4:4:4 frame
  const std::pair<std::string, std::string> streams[] = {
      {"YUV4MPEG2 W4 H2 It C444\n" + frame, "field It: interlaced"},
      {"YUV4MPEG2 W4 H2 C420p10\n" + frame, "field C420p10: chroma layout not supported"},
      {"YUV4MPEG2 W4 H2 C444 XCOLORRANGE=FULL\n" + frame, "field XCOLORRANGE=FULL: full-range"},
      {"YUV4MPEG2 W4 H0 C444\n" + frame, "field H0: not a height"},
      {"YUV4MPEG2 W99999999999 H2\n" + frame, "field W99999999999"},
      {"YUV4MPEG2 W4 H2 C444", "truncated inside the y4m header"},
      {"YUV4MPEG2 W4 H2 C444\n" + frame.substr(0, 29), "frame 1 has 23 of 24 bytes"},
      {"YUV4MPEG2 W4 H2 C444\n" + frame + "FRAMES\n", "expected a y4m FRAME header"},
      {"", "standard input is empty"},
  };
  for (const auto &[stream, message] : streams) {
    write_file(path("in.y4m"), stream);
    refused({"yuv2rgb", "--raw", "-", out}, 1, message, out, path("in.y4m"));
  }
}

TEST_F(CliUsage, AFailedRunLeavesAnOlderOutputFileAsItWas) {
  const std::string out = path("out.ppm");
  write_file(out, "older");
  write_file(path("short.ppm"), "P6\n4 4\n255\nabc");
  EXPECT_EQ(corvix({"invert", path("short.ppm"), out}).code, 1);
  EXPECT_EQ(slurp(out), "older");
  // A stream that breaks off after two of its 16x16 frames leaves no file, not even a temporary.
  write_file(path("cut.yuv"), std::string(1000, 'x'));
  refused({"yuv2rgb", "--chroma", "4", "--size", "16x16", "--raw", "-", path("raw")}, 1,
          "truncated", path("raw"), path("cut.yuv"));
  // A successful run replaces it whole and leaves no temporary file.
  ok({"cut", "--rect", "2x2+0+0", image_path("coffee.ppm"), out});
  EXPECT_EQ(read_pnm(out).width, 2);
  const auto entries = std::filesystem::directory_iterator(dir_);
  EXPECT_EQ(std::distance(begin(entries), end(entries)), 3);  // out.ppm, short.ppm, cut.yuv
  refused({"invert", image_path("coffee.ppm"), path("no/out.ppm")}, 1, "cannot write",
          path("no/out.ppm"));
}

TEST_F(CliUsage, OperationsChainThroughStandardInputAndOutput) {
  const std::string in = quote(image_path("coffee.ppm"));
  // With no file at all an operation is a filter: the same bytes as step by step through files.
  Result r = shell("$CORVIX cut --rect 64x32+10+10 < " + in +
                   " | $CORVIX scale --size 128x64 | $CORVIX remap");
  ASSERT_EQ(r.code, 0) << r.err;
  const Result steps = shell("cd " + quote(dir_) + " && $CORVIX cut --rect 64x32+10+10 " + in +
                             " a.ppm && $CORVIX scale --size 128x64 a.ppm b.ppm && $CORVIX remap "
                             "b.ppm c.pgm");
  ASSERT_EQ(steps.code, 0) << steps.err;
  EXPECT_TRUE(r.out == slurp(path("c.pgm")));
  // A failure early in a pipeline leaves the next operation no image, which fails as well.
  r = shell("$CORVIX invert " + quote(path("missing.ppm")) + " - | $CORVIX invert - -");
  EXPECT_NE(r.code, 0);
  EXPECT_NE(r.err.find("missing.ppm"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace corvix::test::cli
