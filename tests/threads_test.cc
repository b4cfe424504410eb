// Every routine that splits its rows across threads gives the same bytes at any thread count:
// on the photographs and on odd sizes, with every frame split however small, and at every
// level (each level's kernels take the runs' slices).
#include <algorithm>
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

// The size and bytes of what `routine` returns for a fresh bitmap of the image (the image
// itself at three bytes a pixel, its green bytes at one); both bitmaps released.
Bytes result(const Image &im, int32_t bpp, const std::function<Bitmap *(Bitmap *)> &routine) {
  Bitmap *b = gx_allocrawbitmap(im.width, im.height, bpp);
  for (size_t i = 0; i < im.rgb.size() / 3 * bpp; ++i)
    b->pixels[i] = bpp == 3 ? im.rgb[i] : im.rgb[3 * i + 1];
  Bitmap *r = routine(b);
  Bytes out =
      r ? Bytes(reinterpret_cast<uint8_t *>(&r->width), reinterpret_cast<uint8_t *>(&r->width) + 8)
        : Bytes{};
  if (r)
    out.insert(out.end(), r->pixels, r->pixels + size_t(r->width) * r->height * r->bytes_per_pixel);
  if (r != b) gx_freebitmap(r);
  gx_freebitmap(b);
  return out;
}

using Run = std::function<std::vector<Bytes>(const Image &)>;
const std::pair<const char *, Run> kCases[] = {
    {"rotate, shear, smooth, dither with every matrix",
     [](const Image &im) {
       const int32_t last = im.height - 3;
       std::vector<Bytes> out = {
           result(im, 3, [](Bitmap *b) { return gx_rotatebitmap(b, 10, 20, 30, 30.0f); }),
           result(im, 1, [](Bitmap *b) { return gx_rotatebitmap(b, 7, 0, 0, -117.5f); }),
           result(im, 3, [&](Bitmap *b) { return gx_shearbitmap(b, 2, last, 3, 41, 1, 2, 3), b; }),
           result(im, 3, [](Bitmap *b) { return gx_smoothbitmap(b, 3), b; })};
       for (int32_t method = 1; method <= 7; ++method)
         out.push_back(result(im, 3, [&](Bitmap *b) { return gx_dither(b, method); }));
       return out;
     }},
    {"scaling up and down, three-byte, one-byte, frames and YUV",
     [](const Image &im) {
       const int32_t w = im.width, h = im.height;
       const Planes p = image_planes(im, 2);
       auto scaled = [&](int32_t bpp, int32_t dw, int32_t dh) {
         return result(im, bpp, [&](Bitmap *b) { return gx_scalecopybitmap(b, dw, dh); });
       };
       auto yuv = [&](int32_t dw, int32_t dh) {
         return result(im, 1, [&](Bitmap *) {
           return fx_yuvscale_ll(p.y.data(), p.cr.data(), p.cb.data(), w, h, dw, dh, 2);
         });
       };
       std::vector<Bytes> out = {scaled(3, 2 * w + 1, h * 3 / 2 + 1),
                                 scaled(3, w / 3 + 1, h / 2 + 1), scaled(1, w + 7, h * 2 + 3),
                                 yuv(2 * w + 3, h * 3 / 2 + 1), yuv(w / 2 + 1, h / 3 + 1)};
       out.push_back(
           result(im, 1, [&](Bitmap *b) { return cvx_scale_ll(b, w * 3 / 2 + 1, h * 5 / 3 + 2); }));
       return out;
     }},
    {"YUV conversion in groups of 4 and 3, remap to the cube and to pens, translate",
     [](const Image &im) {
       const auto count = uint32_t(im.width) * im.height, length = 3 * count;
       const Planes four = image_planes(im, 4), three = image_planes(im, 3);
       uint8_t pens[216], table[256];
       for (int i = 0; i < 256; ++i)
         table[i] = uint8_t(i * 7 + 3), pens[i % 216] = uint8_t(255 - i);
       Bytes out(size_t(length) * 2 + 2 * count + 2);
       fx_yuvtorgb_ll(four.y.data(), four.cr.data(), four.cb.data(), out.data(), count & ~3u, 4);
       fx_yuvtorgb_ll(three.y.data(), three.cr.data(), three.cb.data(), out.data() + length,
                      count / 3 * 3, 3);
       gx_remap24(im.rgb.data(), out.data() + 2 * length, nullptr, length);
       gx_remap24(im.rgb.data(), out.data() + 2 * length + count + 1, pens, length);
       return std::vector<Bytes>{
           out, result(im, 1, [&](Bitmap *b) { return gx_remap8(b->pixels, table, count), b; })};
     }},
    {"fades and levels",
     [](const Image &im) {
       Bytes other(im.rgb.rbegin(), im.rgb.rend()), out(im.rgb.size());  // a second frame
       cvx_fadeover_ll(im.rgb.data(), other.data(), out.data(), 77, im.width, im.height, 3);
       auto changed = [&](const std::function<void(Bitmap *)> &routine) {
         return result(im, 3, [&](Bitmap *b) { return routine(b), b; });
       };
       return std::vector<Bytes>{
           out,
           changed([](Bitmap *b) { cvx_specialfade_ll(b, 90); }),
           changed([&](Bitmap *b) { cvx_specialfadeover_ll(b, other.data(), 120); }),
           changed([](Bitmap *b) { cvx_correct_ll(b, 140, -12, 1); }),
           changed([](Bitmap *b) { fxx_minmax_ll(b, 20, 230, 200, 10, 0, 255, 5, 250); }),
           changed([](Bitmap *b) { fxx_min_max_ll(b); })};
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

// A photograph, and odd crops of two: a prime width and height, one row, one column, two
// rows (fewer rows than threads).
TEST_P(ThreadInvariance, SameBytesAtOneTwoThreeAndSevenThreads) {
  const Image coffee = load_image("coffee.ppm"), astronaut = load_image("astronaut.ppm");
  // clang-format off
  const std::pair<std::string, Image> images[] = {
      {"coffee", coffee}, {"101x67", crop(coffee, 101, 67)}, {"37x1", crop(astronaut, 37, 1)},
      {"1x29", crop(coffee, 1, 29)}, {"13x2", crop(astronaut, 13, 2)}};
  // clang-format on
  for (const auto &[what, run] : kCases)
    for (const auto &[name, image] : images) {
      ASSERT_EQ(corvix_set_threads(1), 1);
      const std::vector<Bytes> one = run(image);
      for (int32_t threads : {2, 3, 7}) {
        ASSERT_EQ(corvix_set_threads(threads), 1);
        const std::vector<Bytes> many = run(image);
        for (size_t i = 0; i < one.size(); ++i)
          EXPECT_TRUE(many[i] == one[i]) << what << " on " << name << ", " << threads
                                         << " threads: result " << i << " differs";
      }
    }
}

CORVIX_AT_EACH_LEVEL(ThreadInvariance);

}  // namespace
}  // namespace corvix::test
