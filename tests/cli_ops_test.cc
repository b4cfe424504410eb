// Every operation of the corvix tool, run as a process on the shipped photographs, gives the
// bytes that its library routine gives in this process.
#include <functional>

#include "tests/cli_harness_test.h"

namespace corvix::test::cli {
namespace {

// A routine applied to a copy of a photograph: the bitmap the operation should write.
using Routine = std::function<BitmapPtr(BitmapPtr)>;

// A routine that changes its bitmap in place.
Routine in_place(std::function<void(Bitmap *)> f) {
  return [f](BitmapPtr b) {
    f(b.get());
    return b;
  };
}

// A routine that makes a new bitmap from its source.
Routine making(std::function<Bitmap *(Bitmap *)> f) {
  return [f](BitmapPtr b) { return BitmapPtr(f(b.get())); };
}

struct Case {
  std::vector<std::string> args;  // operation and options; input(s) and output are added
  Routine expected;
};

class CliOperations : public CliTest {
 protected:
  // Runs each case on `inputs` and compares the output with the routine's result on a copy
  // of the first input.
  void check(const std::vector<Case> &cases, const std::vector<std::string> &inputs) {
    int n = 0;
    for (const Case &c : cases) {
      std::vector<std::string> args = c.args;
      const std::string out = path("out" + std::to_string(n++) + ".pnm");
      args.insert(args.end(), inputs.begin(), inputs.end());
      args.push_back(out);
      const Result r = corvix(args);
      std::string line;
      for (const std::string &a : c.args) line += a + " ";
      ASSERT_EQ(r.code, 0) << line << r.err;
      const Pnm written = read_pnm(out);
      BitmapPtr source(gx_loadppmasbitmap(inputs[0].c_str()));
      // The grey cases start from the one-byte frame that grey_frame saved.
      BitmapPtr want = c.expected(BitmapPtr(gx_clonebitmap(source ? source.get() : grey_.get())));
      ASSERT_TRUE(want) << line;
      EXPECT_EQ(written, pnm_of(*want)) << line;
    }
  }

  // A one-byte frame with a diagonal ramp, saved as PGM.
  std::string grey_frame(int32_t w, int32_t h) {
    Bitmap *b = gx_allocbitmap(w, h, 1);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) b->pixels[y * w + x] = static_cast<uint8_t>(x * 3 + y * 5);
    const std::string p = path("grey.pgm");
    const std::string header = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::vector<uint8_t> file(header.begin(), header.end());
    file.insert(file.end(), b->pixels, b->pixels + w * h);
    write_file(p, file.data(), file.size());
    grey_ = BitmapPtr(b);
    return p;
  }

  BitmapPtr grey_;
};

TEST_F(CliOperations, ServerFrameEffectsMatchTheirRoutines) {
  const std::string coffee = image_path("coffee.ppm");
  check(
      {{{"correct", "--contrast", "150", "--brightness", "-20"},
        in_place([](Bitmap *b) { cvx_correct_ll(b, 150, -20, 0); })},
       {{"correct", "--contrast", "15", "--negative"},
        in_place([](Bitmap *b) { cvx_correct_ll(b, 15, 0, -1); })},
       {{"raise", "--level", "99"}, in_place([](Bitmap *b) { cvx_specialfade_ll(b, 99); })},
       {{"raise", "--level", "-1"}, in_place([](Bitmap *) {})},
       {{"deinterlace"}, in_place([](Bitmap *b) { cvx_deinterlace_ll(b); })},
       {{"scale", "--size", "333x111"},
        making([](Bitmap *b) { return gx_scalecopybitmap(b, 333, 111); })},
       {{"scale", "--size", "1x1"}, making([](Bitmap *b) { return gx_scalecopybitmap(b, 1, 1); })},
       {{"scale", "--size", "1200x801"},
        making([](Bitmap *b) { return gx_scalecopybitmap(b, 1200, 801); })}},
      {coffee});
}

TEST_F(CliOperations, TurnsMirrorsInversionAndStretchesMatchTheirRoutines) {
  const std::string coffee = image_path("coffee.ppm");
  check({{{"turn"}, making([](Bitmap *b) { return fxx_rotangle_ll(b, 0); })},
         {{"turn", "--angle", "180"}, making([](Bitmap *b) { return fxx_rotangle_ll(b, 1); })},
         {{"turn", "--angle", "270"}, making([](Bitmap *b) { return fxx_rotangle_ll(b, 2); })},
         {{"mirror", "--vertical"}, in_place([](Bitmap *b) { fxx_mirror_ll(b, 1, 0); })},
         {{"mirror", "--horizontal"}, in_place([](Bitmap *b) { fxx_mirror_ll(b, 0, 1); })},
         {{"mirror", "--horizontal", "--vertical"},
          in_place([](Bitmap *b) { fxx_mirror_ll(b, 1, 1); })},
         {{"invert"}, in_place([](Bitmap *b) { fxx_invert_ll(b); })},
         {{"stretch", "--red", "200,10", "--green", "30,220", "--master", "64,191"},
          in_place([](Bitmap *b) { fxx_minmax_ll(b, 200, 10, 30, 220, 0, 255, 64, 191); })},
         {{"stretch", "--blue", "-255,255"},
          in_place([](Bitmap *b) { fxx_minmax_ll(b, 0, 255, 0, 255, -255, 255, 0, 255); })},
         {{"autolevel"}, in_place([](Bitmap *b) { fxx_min_max_ll(b); })}},
        {coffee});

  // levels prints each channel's range as the routine finds it: red, green, blue, average.
  BitmapPtr image = photo("coffee.ppm");
  std::string want;
  const char *names[] = {"average", "red", "green", "blue"};
  for (int32_t channel : {1, 2, 3, 0}) {
    LevelRange *range = fxx_findminmax_ll(image.get(), channel);
    char line[64];
    std::snprintf(line, sizeof line, "%-7s %3d %3d\n", names[channel], range->minimum,
                  range->maximum);
    want += line;
    if (channel == 2) {
      const Result one = corvix({"levels", "--channel", "green", coffee});
      EXPECT_EQ(one.out,
                std::to_string(range->minimum) + " " + std::to_string(range->maximum) + "\n");
    }
    PPCFreeVec(range);
  }
  const Result all = corvix({"levels", coffee});
  ASSERT_EQ(all.code, 0) << all.err;
  EXPECT_EQ(all.out, want);
}

TEST_F(CliOperations, OneByteFramesGoThroughTheChunkyPaths) {
  const std::string grey = grey_frame(97, 61);
  check(
      {{{"scale", "--size", "40x130"}, making([](Bitmap *b) { return cvx_scale_ll(b, 40, 130); })},
       {{"correct", "--contrast", "200"},
        in_place([](Bitmap *b) { cvx_correct_ll(b, 200, 0, 0); })},
       {{"raise", "--level", "200"}, in_place([](Bitmap *b) { cvx_specialfade_ll(b, 200); })},
       {{"invert"}, in_place([](Bitmap *b) { fxx_invert_ll(b); })},
       {{"cut", "--rect", "50x50+70-10"},
        making([](Bitmap *b) { return gx_cutbitmap(b, 70, -10, 119, 39); })},
       {{"rotate", "--angle", "33", "--background", "77,0,0"},
        making([](Bitmap *b) { return gx_rotatebitmap(b, 77, 0, 0, 33.0f); })},
       {{"line", "--from", "96,0", "--to", "-5,70", "--colour", "200,1,1"},
        in_place([](Bitmap *b) { gx_drawline(b, 96, 0, -5, 70, 200, 1, 1); })},
       {{"box", "--from", "10,10", "--to", "50,40", "--step", "3", "--colour", "9,9,9"},
        in_place([](Bitmap *b) { gx_drawbox(b, 10, 10, 50, 40, 9, 9, 9, 3); })}},
      {grey});
}

TEST_F(CliOperations, TwoFrameEffectsMatchTheirRoutines) {
  // B: the coffee photograph scaled to the astronaut's size.
  BitmapPtr coffee = photo("coffee.ppm");
  BitmapPtr b(gx_scalecopybitmap(coffee.get(), 512, 512));
  const std::string b_path = save(*b, "b.ppm");
  const uint8_t *bp = b->pixels;
  check({{{"fade", "--level", "100"}, in_place([bp](Bitmap *a) {
            cvx_fadeover_ll(a->pixels, bp, a->pixels, 100, a->width, a->height, 3);
          })},
         {{"fade", "--level", "255"}, in_place([bp](Bitmap *a) {
            cvx_fadeover_ll(a->pixels, bp, a->pixels, 255, a->width, a->height, 3);
          })},
         {{"fadeover", "--level", "120"},
          in_place([bp](Bitmap *a) { cvx_specialfadeover_ll(a, bp, 120); })}},
        {image_path("astronaut.ppm"), b_path});
  // Frames of different sizes are refused, naming both.
  const Result r = corvix({"fade", image_path("coffee.ppm"), b_path, path("x.ppm")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("600x400"), std::string::npos) << r.err;
  EXPECT_FALSE(exists(path("x.ppm")));
}

TEST_F(CliOperations, LibraryGeometryMatchesItsRoutines) {
  std::vector<Case> cases = {
      {{"rotate", "--angle", "30", "--background", "10,20,30"},
       making([](Bitmap *b) { return gx_rotatebitmap(b, 10, 20, 30, 30.0f); })},
      {{"rotate", "--angle", "-12.5"},
       making([](Bitmap *b) { return gx_rotatebitmap(b, 0, 0, 0, -12.5f); })},
      {{"shear", "--rows", "50,300", "--shift", "0,80", "--background", "255,0,0"},
       in_place([](Bitmap *b) { gx_shearbitmap(b, 50, 300, 0, 80, 255, 0, 0); })},
      {{"shear", "--shift", "40,0"},
       in_place([](Bitmap *b) { gx_shearbitmap(b, 0, b->height - 1, 40, 0, 0, 0, 0); })},
      {{"transpose"}, in_place([](Bitmap *b) { gx_transposebitmap(b); })},
      {{"cut", "--rect", "200x100-50+350"},
       making([](Bitmap *b) { return gx_cutbitmap(b, -50, 350, 149, 449); })},
      {{"smooth", "--passes", "3"}, in_place([](Bitmap *b) { gx_smoothbitmap(b, 3); })},
      {{"line", "--from", "-20,10", "--to", "700,390", "--colour", "0,255,0"},
       in_place([](Bitmap *b) { gx_drawline(b, -20, 10, 700, 390, 0, 255, 0); })},
      {{"box", "--from", "590,390", "--to", "10,20", "--colour", "1,2,3"},
       in_place([](Bitmap *b) { gx_drawbox(b, 590, 390, 10, 20, 1, 2, 3, 1); })},
  };
  for (int m = 1; m <= 7; ++m)
    cases.push_back({{"dither", "--method", std::to_string(m)},
                     making([m](Bitmap *b) { return gx_dither(b, m); })});
  check(cases, {image_path("coffee.ppm")});
}

TEST_F(CliOperations, BlitsMatchTheirRoutines) {
  BitmapPtr src = photo("coffee.ppm");
  const Bitmap *s = src.get();
  BitmapPtr light(gx_cutbitmap(src.get(), 100, 50, 355, 305));
  const std::string light_path = save(*light, "light.ppm");
  const uint8_t *lp = light->pixels;
  check({{{"blit", "--at", "-100,50"}, in_place([s](Bitmap *d) { gx_blitbitmap(d, s, -100, 50); })},
         {{"blit", "--at", "20,20", "--transparency", "30"},
          in_place([s](Bitmap *d) { gx_blitbitmaptrans(d, s, 20, 20, 30); })},
         {{"blit", "--alpha", "20"}, in_place([s](Bitmap *d) {
            gx_transalphachunkyblit(d, s->width, s->height, s->pixels, 0, 0, 20);
          })},
         {{"blit", "--size", "300x200", "--at", "100,-30"}, in_place([s](Bitmap *d) {
            gx_scaledblit(d, s->width, s->height, s->pixels, 100, -30, 300, 200);
          })},
         {{"blit", "--mask", "128", "--size", "700x700"}, in_place([s](Bitmap *d) {
            gx_scaledmaskblit(d, s->width, s->height, s->pixels, 0, 0, 700, 700, 128);
          })}},
        {image_path("astronaut.ppm"), image_path("coffee.ppm")});
  check(
      {{{"blit", "--light", "255,128,64", "--size", "512x300", "--at", "0,100"},
        in_place([lp](Bitmap *d) { gx_scaledlightblit(d, lp, 0, 100, 512, 300, 255, 128, 64); })}},
      {image_path("astronaut.ppm"), light_path});
  // A light map is 256x256; anything else is refused before a file is written.
  const Result r = corvix({"blit", "--light", "1,1,1", image_path("astronaut.ppm"),
                           image_path("coffee.ppm"), path("x.ppm")});
  EXPECT_EQ(r.code, 1);
  EXPECT_FALSE(exists(path("x.ppm")));
}

TEST_F(CliOperations, RemapWritesCubeIndicesPensAndPreviews) {
  const std::string coffee = image_path("coffee.ppm");
  ASSERT_EQ(corvix({"remap", "--preview", path("preview.ppm"), coffee, path("cube.pgm")}).code, 0);
  BitmapPtr image = photo("coffee.ppm");
  const int32_t n = image->width * image->height;
  std::vector<uint8_t> cube(static_cast<size_t>(n));
  gx_remap24(image->pixels, cube.data(), nullptr, static_cast<uint32_t>(3 * n));
  const Pnm frame = read_pnm(path("cube.pgm"));
  EXPECT_EQ(frame, (Pnm{600, 400, 1, cube}));
  // The preview shows each cube index's colour: levels of 51 per step.
  const Pnm preview = read_pnm(path("preview.ppm"));
  ASSERT_EQ(preview.bytes.size(), 3u * n);
  for (int32_t i = 0; i < n; i += 97) {
    const int k = cube[static_cast<size_t>(i)];
    EXPECT_EQ(preview.bytes[3 * i], 51 * (k / 36)) << i;
    EXPECT_EQ(preview.bytes[3 * i + 1], 51 * (k / 6 % 6)) << i;
    EXPECT_EQ(preview.bytes[3 * i + 2], 51 * (k % 6)) << i;
  }

  // A palette of 16 colours as a screen would hold them.
  Bitmap *palette = gx_allocbitmap(4, 4, 3);
  for (int i = 0; i < 16; ++i) {
    palette->pixels[3 * i] = static_cast<uint8_t>(i * 17);
    palette->pixels[3 * i + 1] = static_cast<uint8_t>((i % 4) * 85);
    palette->pixels[3 * i + 2] = static_cast<uint8_t>(255 - i * 13);
  }
  const std::string pal = save(*palette, "palette.ppm");
  ColorMap *map = corvix_colormap_create(palette->pixels, 16);
  uint8_t *pens = gx_allocpalette(map);
  std::vector<uint8_t> want(static_cast<size_t>(n));
  gx_remap24(image->pixels, want.data(), pens, static_cast<uint32_t>(3 * n));
  gx_freepalette(pens);
  corvix_colormap_free(map);
  gx_freebitmap(palette);
  ASSERT_EQ(corvix({"remap", "--palette", pal, coffee, path("pens.pgm")}).code, 0);
  EXPECT_EQ(read_pnm(path("pens.pgm")), (Pnm{600, 400, 1, want}));
  // Cube indices translated to pens afterwards (command 6) give the same frame.
  ASSERT_EQ(corvix({"pens", "--palette", pal, path("cube.pgm"), path("pens2.pgm")}).code, 0);
  EXPECT_EQ(file_bytes(path("pens2.pgm")), file_bytes(path("pens.pgm")));
  // A frame holding values that are no cube index is refused.
  const Result r = corvix({"pens", "--palette", pal, grey_frame(97, 61), path("x.pgm")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("cube index"), std::string::npos) << r.err;
}

// The Y, U and V planes of each frame of a raw file, as a video tool writes them.
struct Planes {
  std::vector<uint8_t> y, u, v;
};
std::vector<Planes> read_frames(const std::string &file, int32_t w, int32_t h, int32_t group) {
  const std::vector<uint8_t> bytes = file_bytes(file);
  const size_t luma = static_cast<size_t>(w) * h, chroma = luma / group;
  std::vector<Planes> frames;
  for (size_t at = 0; at + luma + 2 * chroma <= bytes.size(); at += luma + 2 * chroma) {
    const auto *p = bytes.data() + at;
    frames.push_back(
        {{p, p + luma}, {p + luma, p + luma + chroma}, {p + luma + chroma, p + luma + 2 * chroma}});
  }
  return frames;
}

// The conversion of one frame (Cr = V as the second plane), red first.
Pnm converted(const Planes &f, int32_t w, int32_t h, int32_t group) {
  std::vector<uint8_t> bgr(3 * f.y.size());
  fx_yuvtorgb_ll(f.y.data(), f.v.data(), f.u.data(), bgr.data(), static_cast<uint32_t>(f.y.size()),
                 static_cast<uint32_t>(group));
  for (size_t i = 0; i < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
  return Pnm{w, h, 3, bgr};
}

TEST_F(CliOperations, Yuv2RgbConvertsFramesLikeTheConversion) {
  const std::string still = media_path("astronaut_512x512.yuv411p");
  ASSERT_EQ(corvix({"yuv2rgb", "--size", "512x512", still, path("still.ppm")}).code, 0);
  const std::vector<Planes> frame = read_frames(still, 512, 512, 4);
  ASSERT_EQ(frame.size(), 1u);
  EXPECT_EQ(read_pnm(path("still.ppm")), converted(frame[0], 512, 512, 4));

  // Scaled while converting (command 10).
  ASSERT_EQ(
      corvix({"yuv2rgb", "--size", "512x512", "--resize", "301x203", still, path("small.ppm")})
          .code,
      0);
  BitmapPtr small(fx_yuvscale_ll(frame[0].y.data(), frame[0].v.data(), frame[0].u.data(), 512, 512,
                                 301, 203, 4));
  for (int32_t i = 0; i < 301 * 203; ++i) std::swap(small->pixels[3 * i], small->pixels[3 * i + 2]);
  EXPECT_EQ(read_pnm(path("small.ppm")), pnm_of(*small));

  // The clip: numbered files from 1, and one raw stream holding the same frames blue first.
  const std::string clip = media_path("astronaut_zoom_224x168.yuv411p");
  const std::vector<Planes> frames = read_frames(clip, 224, 168, 4);
  ASSERT_EQ(frames.size(), 8u);
  ASSERT_EQ(corvix({"-q", "yuv2rgb", "--size", "224x168", clip, path("f-%02d.ppm")}).code, 0);
  const Result raw = corvix({"yuv2rgb", "--size", "224x168", "--raw", "-"}, clip);
  ASSERT_EQ(raw.code, 0) << raw.err;
  ASSERT_EQ(raw.out.size(), 8u * 224 * 168 * 3);
  for (size_t i = 0; i < frames.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f-%02zu.ppm", i + 1);
    const Pnm want = converted(frames[i], 224, 168, 4);
    EXPECT_EQ(read_pnm(path(name)), want) << name;
    const size_t at = i * want.bytes.size();
    for (size_t k = 0; k < want.bytes.size(); k += 3) {
      ASSERT_EQ(static_cast<uint8_t>(raw.out[at + k]), want.bytes[k + 2]) << "frame " << i;
      ASSERT_EQ(static_cast<uint8_t>(raw.out[at + k + 2]), want.bytes[k]) << "frame " << i;
    }
  }
  EXPECT_FALSE(exists(path("f-00.ppm")));
  EXPECT_FALSE(exists(path("f-09.ppm")));
}

TEST_F(CliOperations, Rgb2YuvMakesPlanesThatConvertBackClosely) {
  // Planes in every grouping, made by the tool, convert back through the tool exactly as the
  // conversion converts them, and close to the photograph.
  const Pnm original = read_pnm(image_path("coffee.ppm"));
  for (int32_t group : {4, 2, 1}) {
    const std::string g = std::to_string(group), planes = path("coffee" + g + ".yuv");
    ASSERT_EQ(corvix({"rgb2yuv", "--chroma", g, image_path("coffee.ppm"), planes}).code, 0);
    const std::vector<Planes> frame = read_frames(planes, 600, 400, group);
    ASSERT_EQ(file_bytes(planes).size(), 600u * 400 + 2 * 600 * 400 / group);
    ASSERT_EQ(
        corvix({"yuv2rgb", "--chroma", g, "--size", "600x400", planes, path("back.ppm")}).code, 0);
    const Pnm back = read_pnm(path("back.ppm"));
    EXPECT_EQ(back, converted(frame[0], 600, 400, group));
    ASSERT_EQ(back.bytes.size(), original.bytes.size());
    int worst = 0;
    double sum = 0;
    for (size_t i = 0; i < back.bytes.size(); ++i) {
      const int d = std::abs(back.bytes[i] - original.bytes[i]);
      worst = std::max(worst, d);
      sum += d;
    }
    // Without subsampling only rounding and the conversion's truncating tables separate them.
    if (group == 1) {
      EXPECT_LE(worst, 4);
    }
    EXPECT_LT(sum / static_cast<double>(back.bytes.size()), group == 1 ? 1.0 : 3.0) << group;
  }
  // Several inputs make a stream of frames, in order.
  ASSERT_EQ(corvix({"rgb2yuv", "--chroma", "1", image_path("coffee.ppm"), image_path("coffee.ppm"),
                    path("two.yuv")})
                .code,
            0);
  const std::vector<uint8_t> one = file_bytes(path("coffee1.yuv"));
  std::vector<uint8_t> twice = one;
  twice.insert(twice.end(), one.begin(), one.end());
  EXPECT_EQ(file_bytes(path("two.yuv")), twice);
}

}  // namespace
}  // namespace corvix::test::cli
