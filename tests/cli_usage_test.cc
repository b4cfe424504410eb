// The corvix tool's command line: usage text, exit codes, messages, standard input and output
// in pipelines, and bad input that must leave no output file behind.
#include <sys/stat.h>

#include <set>

#include "tests/cli_harness_test.h"

namespace corvix::test::cli {
namespace {

class CliUsage : public CliTest {};

// The operation names listed under "Operations:" in the usage text.
std::set<std::string> listed_operations(const std::string &help) {
  std::set<std::string> names;
  std::istringstream in(help.substr(help.find("Operations:")));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line) && line.size() > 2 && line[0] == ' ') {
    std::istringstream words(line);
    std::string name;
    words >> name;
    names.insert(name);
  }
  return names;
}

TEST_F(CliUsage, HelpListsEveryOperationAndEachHasItsOwnHelp) {
  const Result help = corvix({"--help"});
  ASSERT_EQ(help.code, 0);
  const std::set<std::string> names = listed_operations(help.out);
  for (const char *op :
       {"yuv2rgb", "rgb2yuv",   "scale",       "remap", "pens",      "correct", "fade",
        "raise",   "fadeover",  "deinterlace", "turn",  "mirror",    "invert",  "levels",
        "stretch", "autolevel", "rotate",      "shear", "transpose", "cut",     "smooth",
        "dither",  "blit",      "line",        "box",   "quit"}) {
    EXPECT_EQ(names.count(op), 1u) << op << " missing from --help";
  }
  for (const std::string &op : names) {
    const Result r = corvix({op, "--help"});
    EXPECT_EQ(r.code, 0) << op;
    EXPECT_NE(r.out.find("Usage: corvix " + op + " [options]"), std::string::npos) << r.out;
  }
  // An operation's help shows its options with their defaults.
  const Result correct = corvix({"correct", "--help"});
  EXPECT_NE(correct.out.find("--contrast PCT=100"), std::string::npos) << correct.out;
  const Result version = corvix({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, std::string("corvix ") + CORVIX_VERSION_STRING + "\n");
}

TEST_F(CliUsage, MistakesInTheCommandLineExitWithTwoAndSayWhat) {
  const std::string in = image_path("coffee.ppm"), out = path("out.ppm");
  struct Case {
    std::vector<std::string> args;
    const char *message;
  } cases[] = {
      {{}, "name an operation"},
      {{"enhance", in, out}, "enhance"},
      {{"correct", "--contrast", "many", in, out}, "--contrast"},
      {{"fade", "--level", "256", in, in, out}, "0..255"},
      {{"scale", in, out}, "--size"},
      {{"scale", "--size", "0x10", in, out}, "WxH"},
      {{"scale", "--size", "10x", in, out}, "WxH"},
      {{"rotate", "--angle", "nan", in, out}, "--angle"},
      {{"rotate", "--angle", "0x10", in, out}, "--angle"},
      {{"rotate", "--angle", "9", "--background", "1,2,256", in, out}, "R,G,B"},
      {{"cut", "--rect", "10x10+1", in, out}, "WxH+X+Y"},
      {{"turn", "--angle", "45", in, out}, "90|180|270"},
      {{"invert", in, in, out}, "expected INPUT OUTPUT"},
      {{"fade", "-", "-", out}, "standard input"},
      {{"mirror", in, out}, "--vertical"},
      {{"shear", "--shift", "-1,5", in, out}, "0 or more"},
      {{"blit", "--alpha", "5", "--transparency", "5", in, in, out}, "exclude"},
  };
  for (const Case &c : cases) {
    const Result r = corvix(c.args);
    std::string line;
    for (const std::string &a : c.args) line += a + " ";
    EXPECT_EQ(r.code, 2) << line << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << line << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("corvix: ", 0), 0u) << r.err;
    EXPECT_FALSE(exists(out)) << line;
  }
}

TEST_F(CliUsage, BadInputFailsWithOneAClearMessageAndNoOutputFile) {
  const std::string out = path("out.ppm");
  const std::vector<uint8_t> photo = file_bytes(image_path("coffee.ppm"));
  // A truncated photograph, a text file, a plain-text PPM, a directory, an empty file.
  write_file(path("short.ppm"), photo.data(), photo.size() - 1);
  write_file(path("text.ppm"), "hello\n", 6);
  write_file(path("plain.ppm"), "P3\n1 1\n255\n0 0 0\n", 17);
  write_file(path("empty.ppm"), "", 0);
  struct Case {
    std::string input, message;
  } cases[] = {
      {path("missing.ppm"), "cannot read '" + path("missing.ppm") + "': No such file or directory"},
      {path("short.ppm"), "malformed or truncated PPM file"},
      {path("text.ppm"), "not a binary PPM"},
      {path("plain.ppm"), "plain-text"},
      {dir_, "is a directory"},
      {path("empty.ppm"), "empty"},
  };
  for (const Case &c : cases) {
    for (const char *op : {"invert", "rotate"}) {
      std::vector<std::string> args = {op, c.input, out};
      if (std::string(op) == "rotate") args.insert(args.begin() + 1, {"--angle", "5"});
      const Result r = corvix(args);
      EXPECT_EQ(r.code, 1) << op << " " << c.input;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
      EXPECT_EQ(r.err.rfind(std::string("corvix: ") + op + ": ", 0), 0u) << r.err;
      EXPECT_FALSE(exists(out));
    }
  }
  // The same for standard input.
  const Result r = corvix({"invert", "-", out}, path("short.ppm"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("standard input: malformed or truncated"), std::string::npos) << r.err;
  // A greyscale frame where colour is needed.
  write_file(path("g.pgm"), "P5\n2 1\n255\nab", 13);
  const Result g = corvix({"deinterlace", path("g.pgm"), out});
  EXPECT_EQ(g.code, 1);
  EXPECT_NE(g.err.find("needs a colour PPM"), std::string::npos) << g.err;
  EXPECT_FALSE(exists(out));
}

TEST_F(CliUsage, AFailedRunLeavesAnOlderOutputFileAsItWas) {
  const std::string out = path("out.ppm");
  write_file(out, "older", 5);
  chmod(out.c_str(), 0640);
  write_file(path("short.ppm"), "P6\n4 4\n255\nabc", 14);
  EXPECT_EQ(corvix({"invert", path("short.ppm"), out}).code, 1);
  EXPECT_EQ(text_of(out), "older");
  // A successful run replaces it whole and keeps its permissions.
  ASSERT_EQ(corvix({"cut", "--rect", "2x2+0+0", image_path("coffee.ppm"), out}).code, 0);
  EXPECT_EQ(read_pnm(out).width, 2);
  struct stat st {};
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // Nothing else is left in the directory: no temporary files.
  int files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir_))
    files += !entry.is_directory();
  EXPECT_EQ(files, 2);
  // An output in a directory that does not exist fails.
  const Result r = corvix({"invert", image_path("coffee.ppm"), path("no/such/out.ppm")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
}

TEST_F(CliUsage, RawYuvWithTheWrongLayoutIsRefusedBeforeAnythingIsWritten) {
  const std::string still = media_path("astronaut_512x512.yuv411p");
  const std::string out = path("frame-%d.ppm");
  struct Case {
    std::vector<std::string> args;
    int code;
    const char *message;
  } cases[] = {
      // The file holds 393,216 bytes: one 512x512 frame of 4:1:1.
      {{"--size", "500x512"}, 2, "not a whole number of 500x512 yuv411p frames"},
      {{"--size", "512x512", "--chroma", "2"}, 2, "yuv422p"},
      {{"--size", "510x512"}, 2, "not a multiple of 4"},
      {{"--size", "511x511", "--chroma", "1"}, 2, "not a whole number"},
      {{"--size", "512x512", "--chroma", "3"}, 2, "4|2|1"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> args = {"yuv2rgb"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {still, out});
    const Result r = corvix(args);
    EXPECT_EQ(r.code, c.code) << c.args[1];
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(exists(path("frame-1.ppm")));
  }
  // 256x256 divides the file into four frames: a single OUTPUT cannot take them.
  const Result three = corvix({"yuv2rgb", "--size", "256x256", still, path("one.ppm")});
  EXPECT_EQ(three.code, 2);
  EXPECT_NE(three.err.find("holds 4 frames"), std::string::npos) << three.err;
  // A stream whose last frame is cut short fails (exit 1) after the whole frames.
  const std::vector<uint8_t> bytes = file_bytes(still);
  write_file(path("cut.yuv"), bytes.data(), bytes.size() - 100);
  const Result cut = corvix({"yuv2rgb", "--size", "128x128", "--raw", "-"}, path("cut.yuv"));
  EXPECT_EQ(cut.code, 1);
  EXPECT_NE(cut.err.find("truncated"), std::string::npos) << cut.err;
  EXPECT_EQ(cut.out.size(), 15u * 128 * 128 * 3);
  // A bad pattern.
  const Result pattern = corvix({"yuv2rgb", "--size", "256x256", still, path("f%s.ppm")});
  EXPECT_EQ(pattern.code, 2);
}

TEST_F(CliUsage, OperationsChainThroughStandardInputAndOutput) {
  const std::string in = image_path("coffee.ppm");
  // The negative twice is the photograph; the files in between never touch the disk.
  Result r = shell("$CORVIX correct --negative '" + in +
                   "' - | $CORVIX correct --negative - - > '" + path("twice.ppm") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(file_bytes(path("twice.ppm")), file_bytes(in));
  // With no file at all an operation is a filter; with no OUTPUT it writes standard output.
  r = shell("$CORVIX cut --rect 64x32+10+10 < '" + in +
            "' | $CORVIX scale --size 128x64 | "
            "$CORVIX remap > '" +
            path("chain.pgm") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(corvix({"cut", "--rect", "64x32+10+10", in, path("a.ppm")}).code, 0);
  ASSERT_EQ(corvix({"scale", "--size", "128x64", path("a.ppm"), path("b.ppm")}).code, 0);
  ASSERT_EQ(corvix({"remap", path("b.ppm"), path("c.pgm")}).code, 0);
  EXPECT_EQ(file_bytes(path("chain.pgm")), file_bytes(path("c.pgm")));
  EXPECT_EQ(read_pnm(path("c.pgm")).channels, 1);
  // A file written to standard output has exactly the bytes of the named file.
  r = corvix({"rotate", "--angle", "10", in, "-"});
  ASSERT_EQ(corvix({"rotate", "--angle", "10", in, path("r.ppm")}).code, 0);
  EXPECT_EQ(r.out, text_of(path("r.ppm")));
  // A failure early in a pipeline leaves the next operation no image, which fails as well.
  r = shell("$CORVIX invert '" + path("missing.ppm") + "' - | $CORVIX invert - - > /dev/null");
  EXPECT_NE(r.code, 0);
  EXPECT_NE(r.err.find("missing.ppm"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace corvix::test::cli
