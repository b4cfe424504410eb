// Every operation of the corvix tool, run as a process on the shipped photographs, gives the bytes
// that its library routine gives in this process.
#include <functional>

#include "tests/cli_harness_test.h"

namespace corvix::test::cli {
namespace {

struct Row {
  std::vector<std::string> args;  // operation and options; inputs and output are added
  // The routine on a copy of the first input: returns that copy changed in place, or a new bitmap.
  std::function<Bitmap *(Bitmap *)> routine;
};

class CliOperations : public CliTest {
 protected:
  void check(const std::vector<Row> &rows, const std::vector<std::string> &inputs) {
    for (size_t i = 0; i < rows.size(); ++i) {
      SCOPED_TRACE(testing::PrintToString(rows[i].args));
      std::vector<std::string> args = rows[i].args;
      args.insert(args.end(), inputs.begin(), inputs.end());
      args.push_back(path("out" + std::to_string(i)));
      ok(args);
      BitmapPtr copy = load(inputs[0]);
      ASSERT_TRUE(copy);
      Bitmap *made = rows[i].routine(copy.get());
      const BitmapPtr want(made == copy.get() ? copy.release() : made);
      ASSERT_TRUE(want);
      EXPECT_EQ(read_pnm(args.back()), pnm_of(*want));
    }
  }
};

// Cube indices (or pens) of a colour bitmap, as a one-byte bitmap.
Bitmap *remapped(const Bitmap *b, const uint8_t *pens) {
  Bitmap *c = gx_allocbitmap(b->width, b->height, 1);
  gx_remap24(b->pixels, c->pixels, pens, static_cast<uint32_t>(3 * b->width * b->height));
  return c;
}

TEST_F(CliOperations, EachOperationGivesItsRoutinesBytes) {
  // Each option's text as the routine's arguments: sizes, pairs and rectangles with negative
  // parts, colours, fractional angles. (The Python suite gives every operation, options or
  // none, one or two frames, the tool's bytes through its own calls of the routines.)
  const std::string coffee = image_path("coffee.ppm");
  check(
      {{{"correct", "--contrast", "150", "--brightness", "-20", "--negative"},
        [](Bitmap *b) { return cvx_correct_ll(b, 150, -20, -1), b; }},
       {{"scale", "--size", "333x801"}, [](Bitmap *b) { return gx_scalecopybitmap(b, 333, 801); }},
       {{"mirror", "--vertical"}, [](Bitmap *b) { return fxx_mirror_ll(b, 1, 0), b; }},
       {{"mirror", "--horizontal"}, [](Bitmap *b) { return fxx_mirror_ll(b, 0, 1), b; }},
       {{"stretch", "--red", "200,10", "--green", "30,220", "--blue", "-255,255", "--master",
         "64,191"},
        [](Bitmap *b) { return fxx_minmax_ll(b, 200, 10, 30, 220, -255, 255, 64, 191), b; }},
       {{"rotate", "--angle", "-12.5", "--background", "10,20,30"},
        [](Bitmap *b) { return gx_rotatebitmap(b, 10, 20, 30, -12.5f); }},
       {{"shear", "--rows", "50,300", "--shift", "0,80", "--background", "255,0,0"},
        [](Bitmap *b) { return gx_shearbitmap(b, 50, 300, 0, 80, 255, 0, 0), b; }},
       {{"cut", "--rect", "200x100-50+350"},
        [](Bitmap *b) { return gx_cutbitmap(b, -50, 350, 149, 449); }},
       {{"line", "--from", "-20,10", "--to", "700,390", "--colour", "0,255,0"},
        [](Bitmap *b) { return gx_drawline(b, -20, 10, 700, 390, 0, 255, 0), b; }},
       {{"box", "--from", "590,390", "--to", "10,20", "--step", "3", "--colour", "1,2,3"},
        [](Bitmap *b) { return gx_drawbox(b, 590, 390, 10, 20, 1, 2, 3, 3), b; }},
       {{"remap"}, [](Bitmap *b) { return remapped(b, nullptr); }}},
      {coffee});

  // A one-byte frame (cube indices) takes the chunky scaler.
  ok({"remap", coffee, path("cube.pgm")});
  check({{{"scale", "--size", "40x130"}, [](Bitmap *c) { return cvx_scale_ll(c, 40, 130); }}},
        {path("cube.pgm")});
}

// (The blended, by-brightness and masked blits are compared with the Python suite's calls.)
TEST_F(CliOperations, EachBlitGivesItsRoutinesBytes) {
  const BitmapPtr src = load(image_path("coffee.ppm"));
  const int32_t w = src->width, h = src->height;
  const uint8_t *px = src->pixels;
  const Bitmap *s = src.get();
  check({{{"blit", "--at", "-100,50"}, [s](Bitmap *d) { return gx_blitbitmap(d, s, -100, 50), d; }},
         {{"blit", "--size", "300x200", "--at", "100,-30"},
          [=](Bitmap *d) { return gx_scaledblit(d, w, h, px, 100, -30, 300, 200), d; }}},
        {image_path("astronaut.ppm"), image_path("coffee.ppm")});
  // A light map is 256x256.
  const std::string light_path = path("light.ppm");
  ok({"cut", "--rect", "256x256+100+50", image_path("coffee.ppm"), light_path});
  const BitmapPtr light = load(light_path);
  const uint8_t *lp = light->pixels;
  check(
      {{{"blit", "--light", "255,128,64", "--size", "512x300", "--at", "0,100"},
        [lp](Bitmap *d) { return gx_scaledlightblit(d, lp, 0, 100, 512, 300, 255, 128, 64), d; }}},
      {image_path("astronaut.ppm"), light_path});
}

TEST_F(CliOperations, LevelsPrintsEachChannelsRange) {
  const std::string coffee = image_path("coffee.ppm");
  const BitmapPtr image = load(coffee);
  const char *names[] = {"average", "red", "green", "blue"};
  std::string all, green;
  for (int32_t channel : {1, 2, 3, 0}) {
    LevelRange *r = fxx_findminmax_ll(image.get(), channel);
    char line[64];
    std::snprintf(line, sizeof line, "%-7s %3d %3d\n", names[channel], r->minimum, r->maximum);
    all += line;
    if (channel == 2) green = std::to_string(r->minimum) + " " + std::to_string(r->maximum) + "\n";
    PPCFreeVec(r);
  }
  EXPECT_EQ(ok({"levels", coffee}), all);
  EXPECT_EQ(ok({"levels", "--channel", "green", coffee}), green);
}

TEST_F(CliOperations, RemapToPensAndPreviews) {
  const std::string coffee = image_path("coffee.ppm"), pal = path("palette.ppm");
  // A palette of exactly 256 colours, as many as a screen has pens.
  ok({"cut", "--rect", "16x16+300+200", coffee, pal});
  ColorMap *map = corvix_colormap_create(load(pal)->pixels, 256);
  uint8_t *pens = gx_allocpalette(map);
  const BitmapPtr want(remapped(load(coffee).get(), pens));
  gx_freepalette(pens);
  corvix_colormap_free(map);
  ok({"remap", "--palette", pal, coffee, path("pens.pgm")});
  EXPECT_EQ(read_pnm(path("pens.pgm")), pnm_of(*want));
  // Cube indices translated to pens afterwards give the same frame.
  ok({"remap", "--preview", path("preview.ppm"), coffee, path("cube.pgm")});
  ok({"pens", "--palette", pal, path("cube.pgm"), path("pens2.pgm")});
  EXPECT_EQ(read_pnm(path("pens2.pgm")), read_pnm(path("pens.pgm")));
  // The preview shows each cube index's colour: levels of 51 per step.
  std::string colours;
  for (const uint8_t c : read_pnm(path("cube.pgm")).bytes)
    for (const int level : {c / 36, c / 6 % 6, c % 6}) colours += static_cast<char>(51 * level);
  EXPECT_EQ(read_pnm(path("preview.ppm")), (Pnm{600, 400, 3, colours}));
}

// A raw clip of 8 frames comes out as the library converts each frame (Cr as the second plane),
// one after the other, blue first.
TEST_F(CliOperations, Yuv2RgbConvertsEachFrameOfAClip) {
  const std::string clip = media_path("astronaut_zoom_224x168.yuv411p"), planes = slurp(clip);
  const size_t luma = 224 * 168, frame = luma + luma / 2;
  std::string bgr(8 * 3 * luma, '\0');
  ASSERT_EQ(planes.size(), 8 * frame);
  for (size_t at = 0, n = 0; n < bgr.size(); at += frame, n += 3 * luma) {
    const auto *y = reinterpret_cast<const uint8_t *>(planes.data() + at);
    fx_yuvtorgb_ll(y, y + frame - luma / 4, y + luma, reinterpret_cast<uint8_t *>(&bgr[n]),
                   static_cast<uint32_t>(luma), 4);
  }
  EXPECT_TRUE(ok({"yuv2rgb", "--chroma", "4", "--size", "224x168", "--raw", "-"}, clip) == bgr);
}

// Worked conversions: Y, Cr, Cb and the colour they give (red, green, blue).
struct Worked {
  uint8_t y, cr, cb, r, g, b;
};
constexpr Worked kBlack{16, 128, 128, 0, 0, 0}, kRed{81, 240, 90, 253, 0, 0},
    kGreen{145, 34, 54, 0, 254, 1}, kBlue{41, 110, 240, 1, 0, 255},
    kOrange{100, 200, 50, 211, 69, 0}, kGrey{126, 128, 128, 128, 128, 128};

// A frame of w x h pixels whose chroma sample (column, row) is grid[row][column], `group`
// pixels of a row to a sample and, when `half`, two rows to a chroma row. Every pixel's luma
// is its sample's, so each pixel must come out as that sample's colour.
struct Built {
  std::string y, cb, cr;  // planes as stored
  Pnm picture;            // what they show
};
Built build(int w, int h, int group, bool half, const std::vector<std::vector<Worked>> &grid) {
  Built f{{}, {}, {}, {w, h, 3, {}}};
  for (const auto &row : grid)
    for (const Worked &c : row) f.cb += static_cast<char>(c.cb), f.cr += static_cast<char>(c.cr);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const Worked &c =
          grid.at(static_cast<size_t>(half ? y / 2 : y)).at(static_cast<size_t>(x / group));
      f.y += static_cast<char>(c.y);
      f.picture.bytes += {static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b)};
    }
  }
  return f;
}

TEST_F(CliOperations, Yuv2RgbGivesEachPixelItsOwnChromaInEveryLayout) {
  // 4:2:0 with an odd height: rows 0 and 1 share chroma row 0, row 2 takes chroma row 1.
  const Built yuv420 = build(6, 3, 2, true, {{kRed, kGreen, kBlue}, {kOrange, kBlack, kGrey}});
  const std::string frame = yuv420.y + yuv420.cb + yuv420.cr;
  std::string uv;  // NV12: the same samples as U,V pairs
  for (size_t i = 0; i < yuv420.cb.size(); ++i) uv += {yuv420.cb[i], yuv420.cr[i]};
  write_file(path("a.yuv420p"), frame);
  write_file(path("a.nv12"), yuv420.y + uv);
  // Two frames, the second with frame parameters.
  write_file(path("a.y4m"), "YUV4MPEG2 W6 H3 F25:1 Ip A1:1 C420mpeg2 XYSCSS=420MPEG2\nFRAME\n" +
                                frame + "FRAME Ip\n" + frame);
  // Widths that are no multiple of the group: each stored chroma row has a last, partial
  // group, which the last pixels of the row take.
  const Built yuv411 = build(5, 2, 4, false, {{kRed, kGreen}, {kBlue, kOrange}});
  write_file(path("b.y4m"), "YUV4MPEG2 W5 H2 C411\nFRAME\n" + yuv411.y + yuv411.cb + yuv411.cr);
  // Doubled in width while converting: column i shows source column i / 2.
  Pnm wide{10, 2, 3, {}};
  for (int i = 0; i < 20; ++i) wide.bytes += yuv411.picture.bytes.substr(3 * (i / 2), 3);

  const std::pair<std::vector<std::string>, Pnm> runs[] = {
      {{"--pix-fmt", "yuv420p", "--size", "6x3", path("a.yuv420p")}, yuv420.picture},
      {{"--pix-fmt", "nv12", "--size", "6x3", path("a.nv12")}, yuv420.picture},
      {{path("b.y4m")}, yuv411.picture},
      {{"--resize", "10x2", path("b.y4m")}, wide},
  };
  for (const auto &[args, want] : runs) {
    std::vector<std::string> line = {"yuv2rgb"};
    line.insert(line.end(), args.begin(), args.end());
    line.push_back(path("out.ppm"));
    ok(line);
    EXPECT_EQ(read_pnm(path("out.ppm")), want) << testing::PrintToString(args);
  }
  // Each frame of a stream to its own numbered file, counted from 1.
  ok({"yuv2rgb", path("a.y4m"), path("f-%02d.ppm")});
  EXPECT_EQ(read_pnm(path("f-01.ppm")), yuv420.picture);
  EXPECT_EQ(read_pnm(path("f-02.ppm")), yuv420.picture);
  EXPECT_FALSE(exists(path("f-00.ppm")) || exists(path("f-03.ppm")));
}

TEST_F(CliOperations, Rgb2YuvStoresCbThenCrAndWritesY4mStreams) {
  // Pure red, then pure blue: Y 81, Cb 90, Cr 240 and Y 41, Cb 240, Cr 110.
  write_file(path("rb.ppm"), std::string("P6\n2 1\n255\n\xff\0\0\0\0\xff", 17));
  write_file(path("br.ppm"), std::string("P6\n2 1\n255\n\0\0\xff\xff\0\0", 17));
  ok({"rgb2yuv", "--pix-fmt", "yuv444p", path("rb.ppm"), path("rb.yuv")});
  EXPECT_EQ(slurp(path("rb.yuv")), "\x51\x29\x5a\xf0\xf0\x6e");
  // Two frames in the order given as a y4m stream, chosen by the name; the header names the
  // layout.
  ok({"rgb2yuv", "--chroma", "1", path("rb.ppm"), path("br.ppm"), path("rb.y4m")});
  EXPECT_EQ(slurp(path("rb.y4m")), "YUV4MPEG2 W2 H1 F25:1 Ip A1:1 C444\nFRAME\n" +
                                       slurp(path("rb.yuv")) + "FRAME\n\x29\x51\xf0\x5a\x6e\xf0");
  // 4:2:0 from a 3x3 picture (R B B / B R B / G G K): the top-left sample is the mean of two
  // red and two blue pixels, and samples past the edges repeat the last column and row.
  write_file(path("mix.ppm"), std::string("P6\n3 3\n255\n"
                                          "\xff\0\0\0\0\xff\0\0\xff"
                                          "\0\0\xff\xff\0\0\0\0\xff"
                                          "\0\xff\0\0\xff\0\0\0\0",
                                          38));
  const std::string luma = "\x51\x29\x29\x29\x51\x29\x91\x91\x10";
  ok({"rgb2yuv", "--pix-fmt", "yuv420p", path("mix.ppm"), path("mix.yuv")});
  EXPECT_EQ(slurp(path("mix.yuv")), luma + "\xa5\xf0\x36\x80" + "\xaf\x6e\x22\x80");
  ok({"rgb2yuv", "--pix-fmt", "nv12", path("mix.ppm"), path("mix.nv12")});
  EXPECT_EQ(slurp(path("mix.nv12")), luma + "\xa5\xaf\xf0\x6e\x36\x22\x80\x80");
}

}  // namespace
}  // namespace corvix::test::cli
