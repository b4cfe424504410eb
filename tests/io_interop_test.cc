// PPM files exchanged with netpbm and Pillow: theirs load to the pixels they read, ours load
// in them. Skipped where a tool is not installed.
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "tests/io_files.h"

namespace corvix {
namespace {

using test::file_bytes;
using test::pixel_bytes;
using test::put_file;

bool on_path(const std::string &tool) {
  std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
  for (std::string dir; std::getline(path, dir, ':');)
    if (access((dir + "/" + tool).c_str(), X_OK) == 0) return true;
  return false;
}

bool run(const std::string &command) { return std::system(command.c_str()) == 0; }

// The Python that has Pillow (a pyenv first on PATH may not).
const char *const kPython = "/usr/bin/python3";
bool have_pillow() {
  return access(kPython, X_OK) == 0 &&
         run(std::string(kPython) + " -c 'import PIL.Image' 2>/dev/null");
}

#define REQUIRE_TOOLS(...)                                                   \
  for (const char *tool : {__VA_ARGS__})                                     \
    if (!on_path(tool)) GTEST_SKIP() << tool << " (netpbm) is not installed"

class InteropTest : public test::LeakCheck {
 protected:
  std::string photo(const char *name) { return std::string(CORVIX_TEST_IMAGES) + "/" + name; }
  // Our loader's pixels of a file, "" when it refuses the file.
  std::string our_pixels(const std::string &path) {
    Bitmap *b = gx_loadppmasbitmap(path.c_str());
    const std::string px = b ? pixel_bytes(b) : "";
    gx_freebitmap(b);
    return px;
  }
  test::ScratchDir dir_;
};

TEST_F(InteropTest, NetpbmFilesLoadToThePixelsNetpbmReads) {
  REQUIRE_TOOLS("ppmmake", "pnmtopnm", "pamdepth", "ppmtoppm");
  const std::string made = dir_ / "made.ppm";
  ASSERT_TRUE(run("ppmmake rgb:12/34/56 5 3 > " + made));
  std::string expected;
  for (int i = 0; i < 15; ++i) expected += "\x12\x34\x56";
  EXPECT_EQ(our_pixels(made), expected);

  const std::string coffee = test::image_bytes(test::load_image("coffee.ppm"));
  const std::string copy = dir_ / "copy.ppm", wide = dir_ / "wide.ppm";
  ASSERT_TRUE(run("pnmtopnm < " + photo("coffee.ppm") + " > " + copy));
  EXPECT_EQ(our_pixels(copy), coffee);
  // 8 bits widened to 16 by netpbm come back exactly.
  ASSERT_TRUE(run("pamdepth 65535 " + photo("coffee.ppm") + " > " + wide));
  EXPECT_EQ(file_bytes(wide).substr(0, 17), "P6\n600 400\n65535\n");
  EXPECT_EQ(our_pixels(wide), coffee);
  // Other maxima: our scaling equals netpbm's own conversion of the same file to 255.
  for (const char *max : {"1000", "37", "300", "1"}) {
    const std::string odd = dir_ / "odd.ppm", back = dir_ / "back.ppm";
    ASSERT_TRUE(run(std::string("pamdepth ") + max + " " + photo("astronaut.ppm") + " > " + odd));
    ASSERT_TRUE(run("pamdepth 255 " + odd + " > " + back));
    const std::string ours = our_pixels(odd);
    EXPECT_FALSE(ours.empty()) << max;
    EXPECT_TRUE(ours == our_pixels(back)) << "maxval " << max;
  }
}

// Header layouts: where netpbm reads a file, we read the same pixels from it.
TEST_F(InteropTest, HeaderLayoutsLoadAsNetpbmReadsThem) {
  REQUIRE_TOOLS("ppmtoppm");
  for (const char *header :
       {"P6\n2 1\n255\n", "P6 2 1 255\n", "P6\n2\t1\n255\n", "P6\n2  1 \n255\n", "P6\r2\r1\r255\r",
        "P6\n002 01\n0255\n", "P6\n# c\n2 1\n255\n", "P6#c\n2 1\n255\n", "P6\n2#c\n1\n255\n",
        "P6\n2 1 #c\r255\n", "P6\n2 1\n255#comment\n", "P6\n2 1\n255\r\n", "P6\n2 1\n7\n"}) {
    const std::string in = dir_ / "in.ppm", out = dir_ / "out.ppm";
    put_file(in, header + std::string("\x01\x02\x03\x04\x05\x06\x07"));
    ASSERT_TRUE(run("ppmtoppm < " + in + " > " + out + " 2>/dev/null")) << header;
    EXPECT_EQ(our_pixels(in), our_pixels(out)) << header;
    EXPECT_FALSE(our_pixels(out).empty()) << header;
  }
}

TEST_F(InteropTest, OurFilesLoadInNetpbm) {
  REQUIRE_TOOLS("ppmtoppm", "pamtopnm");
  for (const char *name : {"astronaut.ppm", "coffee.ppm"}) {
    Bitmap *b = test::image_bitmap(test::load_image(name));
    const std::string ours = dir_ / "ours.ppm", theirs = dir_ / "theirs.ppm";
    ASSERT_EQ(gx_savebitmapasppm(b, ours.c_str()), 1);
    // netpbm writes the same header, so a read and rewrite gives the same file.
    ASSERT_TRUE(run("ppmtoppm < " + ours + " > " + theirs));
    EXPECT_EQ(file_bytes(theirs), file_bytes(ours)) << name;
    ASSERT_TRUE(run("pamtopnm " + ours + " > " + theirs));
    EXPECT_EQ(file_bytes(theirs), file_bytes(ours)) << name;
    gx_freebitmap(b);
  }
}

TEST_F(InteropTest, PillowFilesLoadAndOurFilesLoadInPillow) {
  if (!have_pillow()) GTEST_SKIP() << kPython << " with Pillow is not installed";
  const std::string script = dir_ / "pil.py";
  put_file(script,
           "import sys\n"
           "from PIL import Image\n"
           "if sys.argv[1] == 'make':\n"
           "    im = Image.frombytes('RGB', (37, 23), bytes((i * 37 + 11) % 256 "
           "for i in range(37 * 23 * 3)))\n"
           "    im.save(sys.argv[2], 'PPM')\n"
           "    open(sys.argv[3], 'wb').write(im.tobytes())\n"
           "else:\n"
           "    im = Image.open(sys.argv[2])\n"
           "    assert im.mode == 'RGB'\n"
           "    open(sys.argv[3], 'wb').write(im.tobytes())\n");
  const std::string ppm = dir_ / "pil.ppm", raw = dir_ / "pil.raw", py = std::string(kPython);
  ASSERT_TRUE(run(py + " " + script + " make " + ppm + " " + raw));
  EXPECT_EQ(our_pixels(ppm), file_bytes(raw));

  Bitmap *b = test::image_bitmap(test::load_image("astronaut.ppm"));
  const std::string ours = dir_ / "ours.ppm";
  ASSERT_EQ(gx_savebitmapasppm(b, ours.c_str()), 1);
  ASSERT_TRUE(run(py + " " + script + " read " + ours + " " + raw));
  EXPECT_TRUE(file_bytes(raw) == pixel_bytes(b));
  gx_freebitmap(b);
}

}  // namespace
}  // namespace corvix
