// Every routine that splits its rows across threads gives the same bytes at any thread count:
// on the photographs and on odd sizes, with every frame split however small, and at every
// level (each level's kernels take the runs' slices).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/parallel.h"
#include "tests/support.h"

namespace corvix::test {
namespace {

using Bytes = std::vector<uint8_t>;

// The top-left width x height of an image: odd sizes with photographic content.
Image crop(const Image &image, int32_t width, int32_t height) {
  Image out{width, height, {}};
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t *row = image.rgb.data() + size_t(y) * image.width * 3;
    out.rgb.insert(out.rgb.end(), row, row + size_t(width) * 3);
  }
  return out;
}

// Byte 1 of every pixel: a one-byte frame.
Bytes green(const Image &image) {
  Bytes g(image.rgb.size() / 3);
  for (size_t i = 0; i < g.size(); ++i) g[i] = image.rgb[3 * i + 1];
  return g;
}

// The image turned upside down: a second frame that differs from the first everywhere.
Bytes flipped(const Image &image) {
  Bytes f(image.rgb.size());
  const size_t row = size_t(image.width) * 3;
  for (int32_t y = 0; y < image.height; ++y)
    std::memcpy(f.data() + y * row, image.rgb.data() + (image.height - 1 - y) * row, row);
  return f;
}

// A bitmap's size and bytes, and the bitmap released.
Bytes take(Bitmap *b) {
  if (b == nullptr) return {};
  Bytes out(reinterpret_cast<uint8_t *>(&b->width), reinterpret_cast<uint8_t *>(&b->width) + 8);
  out.insert(out.end(), b->pixels, b->pixels + size_t(b->width) * b->height * b->bytes_per_pixel);
  gx_freebitmap(b);
  return out;
}

Bitmap *bitmap_of(const Bytes &bytes, int32_t width, int32_t height, int32_t bpp) {
  Bitmap *b = gx_allocbitmap(width, height, bpp);
  std::memcpy(b->pixels, bytes.data(), bytes.size());
  return b;
}

// Runs an in-place routine on a fresh copy of the image and keeps the result.
Bytes in_place(const Image &image, const std::function<void(Bitmap *)> &routine) {
  Bitmap *b = image_bitmap(image);
  routine(b);
  return take(b);
}

struct Case {
  const char *name;
  std::function<Bytes(const Image &)> run;
};

const Case kCases[] = {
    {"rotate three-byte",
     [](const Image &im) {
       Bitmap *b = image_bitmap(im);
       Bytes out = take(gx_rotatebitmap(b, 10, 20, 30, 30.0f));
       gx_freebitmap(b);
       return out;
     }},
    {"rotate one-byte",
     [](const Image &im) {
       Bitmap *b = bitmap_of(green(im), im.width, im.height, 1);
       Bytes out = take(gx_rotatebitmap(b, 7, 0, 0, -117.5f));
       gx_freebitmap(b);
       return out;
     }},
    {"shear",
     [](const Image &im) {
       return in_place(im, [&](Bitmap *b) { gx_shearbitmap(b, 2, im.height - 3, 3, 41, 1, 2, 3); });
     }},
    {"smooth",
     [](const Image &im) { return in_place(im, [](Bitmap *b) { gx_smoothbitmap(b, 3); }); }},
    {"dither, every matrix",
     [](const Image &im) {
       Bitmap *b = image_bitmap(im);
       Bytes out;
       for (int32_t method = 1; method <= 7; ++method) {
         const Bytes d = take(gx_dither(b, method));
         out.insert(out.end(), d.begin(), d.end());
       }
       gx_freebitmap(b);
       return out;
     }},
    {"scale three-byte up and down",
     [](const Image &im) {
       Bytes up(size_t(im.width * 2 + 1) * (im.height * 3 / 2 + 1) * 3);
       gx_scale24(im.rgb.data(), up.data(), im.width, im.height, im.width * 2 + 1,
                  im.height * 3 / 2 + 1);
       Bytes down(size_t(im.width / 3 + 1) * (im.height / 2 + 1) * 3);
       gx_scale24(im.rgb.data(), down.data(), im.width, im.height, im.width / 3 + 1,
                  im.height / 2 + 1);
       up.insert(up.end(), down.begin(), down.end());
       return up;
     }},
    {"scale one-byte",
     [](const Image &im) {
       const Bytes g = green(im);
       Bytes up(size_t(im.width + 7) * (im.height * 2 + 3));
       gx_scale8(g.data(), up.data(), im.width, im.height, im.width + 7, im.height * 2 + 3);
       Bitmap *b = bitmap_of(g, im.width, im.height, 1);
       const Bytes frame = take(cvx_scale_ll(b, im.width * 3 / 2 + 1, im.height * 5 / 3 + 2));
       gx_freebitmap(b);
       up.insert(up.end(), frame.begin(), frame.end());
       return up;
     }},
    {"YUV scaling up and down",
     [](const Image &im) {
       const Planes p = image_planes(im, 2);
       Bytes out = take(fx_yuvscale_ll(p.y.data(), p.cr.data(), p.cb.data(), im.width, im.height,
                                       im.width * 2 + 3, im.height * 3 / 2 + 1, 2));
       const Bytes down = take(fx_yuvscale_ll(p.y.data(), p.cr.data(), p.cb.data(), im.width,
                                              im.height, im.width / 2 + 1, im.height / 3 + 1, 2));
       out.insert(out.end(), down.begin(), down.end());
       return out;
     }},
    {"YUV conversion, groups of 4 and 3",
     [](const Image &im) {
       const auto count = uint32_t(im.width) * im.height;
       Bytes out(size_t(count) * 3 * 2);
       const Planes four = image_planes(im, 4), three = image_planes(im, 3);
       fx_yuvtorgb_ll(four.y.data(), four.cr.data(), four.cb.data(), out.data(), count & ~3u, 4);
       fx_yuvtorgb_ll(three.y.data(), three.cr.data(), three.cb.data(), out.data() + count * 3,
                      count / 3 * 3, 3);
       return out;
     }},
    {"remap to cube and pens, translate",
     [](const Image &im) {
       uint8_t pens[216], table[256];
       for (int i = 0; i < 216; ++i) pens[i] = uint8_t(255 - i);
       for (int i = 0; i < 256; ++i) table[i] = uint8_t(i * 7 + 3);
       const auto length = uint32_t(im.rgb.size());
       Bytes out(size_t(length / 3 + 1) * 2);
       gx_remap24(im.rgb.data(), out.data(), nullptr, length);
       gx_remap24(im.rgb.data(), out.data() + length / 3 + 1, pens, length);
       Bytes g = green(im);
       gx_remap8(g.data(), table, uint32_t(g.size()));
       out.insert(out.end(), g.begin(), g.end());
       return out;
     }},
    {"fades",
     [](const Image &im) {
       const Bytes other = flipped(im);
       Bytes out(im.rgb.size());
       cvx_fadeover_ll(im.rgb.data(), other.data(), out.data(), 77, im.width, im.height, 3);
       const Bytes raised = in_place(im, [](Bitmap *b) { cvx_specialfade_ll(b, 90); });
       const Bytes over =
           in_place(im, [&](Bitmap *b) { cvx_specialfadeover_ll(b, other.data(), 120); });
       out.insert(out.end(), raised.begin(), raised.end());
       out.insert(out.end(), over.begin(), over.end());
       return out;
     }},
    {"levels",
     [](const Image &im) {
       Bytes out = in_place(im, [](Bitmap *b) { cvx_correct_ll(b, 140, -12, 1); });
       const Bytes stretched =
           in_place(im, [](Bitmap *b) { fxx_minmax_ll(b, 20, 230, 200, 10, 0, 255, 5, 250); });
       const Bytes automatic = in_place(im, [](Bitmap *b) { fxx_min_max_ll(b); });
       out.insert(out.end(), stretched.begin(), stretched.end());
       out.insert(out.end(), automatic.begin(), automatic.end());
       return out;
     }},
};

class ThreadInvariance : public AtEachLevel {
 protected:
  void SetUp() override {
    AtEachLevel::SetUp();
    set_min_run_work(1);
  }
  void TearDown() override {
    set_min_run_work(0);
    corvix_set_threads(0);
    AtEachLevel::TearDown();
  }
};

// The photographs, and odd crops of them: a prime width and height, one row, one column,
// two rows (fewer rows than threads).
TEST_P(ThreadInvariance, SameBytesAtOneTwoThreeAndSevenThreads) {
  const Image coffee = load_image("coffee.ppm"), astronaut = load_image("astronaut.ppm");
  const std::pair<std::string, Image> images[] = {{"coffee", coffee},
                                                  {"astronaut", astronaut},
                                                  {"101x67", crop(coffee, 101, 67)},
                                                  {"37x1", crop(astronaut, 37, 1)},
                                                  {"1x29", crop(coffee, 1, 29)},
                                                  {"13x2", crop(astronaut, 13, 2)}};
  for (const Case &c : kCases) {
    for (const auto &[name, image] : images) {
      SCOPED_TRACE(std::string(c.name) + " on " + name);
      ASSERT_EQ(corvix_set_threads(1), 1);
      const Bytes one = c.run(image);
      for (int32_t threads : {2, 3, 7}) {
        ASSERT_EQ(corvix_set_threads(threads), 1);
        const Bytes many = c.run(image);
        ASSERT_EQ(many.size(), one.size()) << threads << " threads";
        size_t first = 0;
        while (first < one.size() && many[first] == one[first]) ++first;
        EXPECT_EQ(first, one.size()) << threads << " threads: first difference at byte " << first;
      }
    }
  }
}

CORVIX_AT_EACH_LEVEL(ThreadInvariance);

}  // namespace
}  // namespace corvix::test
