// Across the routine families: a refused or failed call says why; a result of width or height
// 0 is made without dividing by its size; and no call loops over rows that hold no bytes.
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "tests/support.h"

namespace corvix {
namespace {

class Refusals : public test::LeakCheck {};
class EmptyResults : public test::LeakCheck {};
using Bytes = std::vector<uint8_t>;

struct Refusal {
  std::function<bool()> call;  // true when the call's result shows the refusal
  const char *words;           // part of the message
  int32_t error_class = CORVIX_E_INVALID;
};

// A few refusals per family (the others are tested with each family), each with its class and
// the argument it names; then calls that work, including empty ones, leave the reason alone.
TEST_F(Refusals, EachFamilySaysWhy) {
  Bytes px(64, 1);
  Bitmap rgb{px.data(), 4, 4, 3}, grey{px.data(), 4, 4, 1}, two{px.data(), 2, 2, 2},
      narrow{px.data(), -1, 4, 3}, bare{nullptr, 4, 4, 3}, huge{px.data(), 70000, 70000, 3};
  const uint8_t *p = px.data();
  uint8_t *q = px.data() + 32;
  auto none = [](auto call) { return [call] { return call(), true; }; };
  const Refusal refusals[] = {
      {[] { return !gx_allocbitmap(70000, 70000, 3); },
       "width x height x bytes per pixel (70000 x 70000 x 3) does not fit a 32-bit size"},
      {[&] { return !gx_copybitmap(&rgb, &grey); }, "source 4 x 4 x 3 and destination 4 x 4 x 1"},
      {[&] { return !gx_copybitmap(&rgb, nullptr); }, "destination bitmap is NULL"},
      {[&] { return !gx_clonebitmap(&bare); }, "has no pixels"},
      {none([&] { gx_scale8(p, q, 0, 3, 2, 2); }), "source of 0 x 3 pixels is empty"},
      {[&] { return !gx_scalecopybitmap(&narrow, 2, 2); }, "size -1 x 4 is negative"},
      {[&] { return !fx_yuvscale_ll(p, p, p, 4, 4, 2, 2, 0); }, "chroma factor 0 is below 1"},
      {none([&] { fx_yuvtorgb_ll(p, p, nullptr, q, 4, 2); }), "Cb plane is NULL"},
      {[&] { return !fxx_rotangle_ll(&rgb, 3); }, "turn 3 is outside 0..2"},
      {none([&] { fxx_mirror_ll(&huge, 1, 1); }), "70000 x 70000 x 3 bytes do not fit"},
      {[&] { return !gx_rotatebitmap(&rgb, 0, 0, 0, NAN); }, "not finite"},
      {[&] { return !gx_shearbitmap(&rgb, 0, 3, 2, -1, 0, 0, 0); }, "shift -1 is negative"},
      {none([&] { gx_chunkyblit(&two, 2, 2, p, 0, 0); }), "2 bytes per pixel, not 1 or 3"},
      {[&] { return !gx_dither(&rgb, 8); }, "method 8 is outside 1..7"},
      {[] { return corvix_alloc_fail_nth(1), !gx_allocbitmap(2, 2, 3); },
       "out of memory for a block of 12 bytes", CORVIX_E_NOMEM},
      {[&] { return corvix_alloc_fail_nth(2), !gx_cutbitmap(&rgb, 0, 0, 1, 1); }, "bitmap record",
       CORVIX_E_NOMEM},
  };
  for (const Refusal &r : refusals) {
    corvix_clear_error();
    EXPECT_TRUE(r.call()) << r.words;
    corvix_alloc_fail_nth(0);
    EXPECT_EQ(corvix_last_error_class(), r.error_class) << r.words << ": " << corvix_last_error();
    EXPECT_NE(std::string(corvix_last_error()).find(r.words), std::string::npos)
        << corvix_last_error();
  }
  EXPECT_EQ(px, Bytes(64, 1));  // no refusal wrote a byte

  corvix_clear_error();
  Bitmap *b = gx_scalecopybitmap(&rgb, 0, 3);  // empty, not refused
  gx_scaledblit(&rgb, 2, 2, p, 9, 9, 4, 4);    // wholly outside the destination
  gx_drawbox(&rgb, 0, 0, 1, 1, 9, 9, 9, 1);    // drawn
  EXPECT_TRUE(b != nullptr && gx_smoothbitmap(b, 3) == 1);
  EXPECT_EQ(corvix_last_error_class(), CORVIX_E_NONE) << corvix_last_error();
  gx_freebitmap(b);
}

// A size of 0 gives the routine's ordinary empty result, with no division by that size, and
// 0 x 0x7FFFFFFF (or 0x7FFFFFFF x 0) does no work per row.
TEST_F(EmptyResults, NoDivisionAndNoWorkPerRow) {
  // None of these touches a byte: together they return in microseconds, while a loop over the
  // 2^31 rows of a width-0 result takes seconds.
  const auto start = std::chrono::steady_clock::now();
  constexpr int32_t kTall = INT32_MAX;
  Bytes px(48, 5);
  Bitmap one{px.data(), 1, 1, 1}, flat{px.data(), 0, 1, 1}, deep{px.data(), 16, 1, 16};
  const uint8_t *p = px.data();
  std::vector<Bitmap *> made;
  auto keep = [&](Bitmap *b, int32_t w, int32_t h) {
    EXPECT_TRUE(b != nullptr && b->width == w && b->height == h) << w << " x " << h;
    made.push_back(b);
  };
  keep(cvx_scale_ll(&one, 0, kTall), 0, kTall);
  keep(gx_scalecopybitmap(&flat, 0, kTall), 0, kTall);
  keep(gx_scalecopybitmap(&deep, 0, kTall), 0, kTall);
  keep(gx_scalecopybitmap(&one, kTall, 0), kTall, 0);
  keep(fx_yuvscale_ll(p, p, p, 1, 1, 0, kTall, 1), 0, kTall);
  keep(fx_yuvscale_ll(p, p, p, 7, 1, 9, 0, 2), 9, 0);
  gx_scale8(p, nullptr, 1, 1, 0, kTall);
  gx_scale24(p, nullptr, 0, 1, 0, kTall);

  // Odd heights are raised to even before turning: the turned height must still fit.
  constexpr int32_t kHigh = INT32_MAX - 2;
  Bitmap *tall = gx_allocbitmap(0, kHigh, 3);
  ASSERT_NE(tall, nullptr);
  keep(gx_rotatebitmap(tall, 1, 2, 3, 0.0f), 0, kHigh + 1);
  keep(gx_dither(tall, 5), 0, kHigh);
  keep(fxx_rotangle_ll(tall, 0), kHigh, 0);
  EXPECT_EQ(gx_shearbitmap(tall, 0, kHigh, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(gx_transposebitmap(tall), 1);
  EXPECT_TRUE(tall->width == kHigh && tall->height == 0);
  Bitmap *small = gx_allocbitmap(2, 2, 3);
  EXPECT_EQ(gx_smoothbitmap(small, kTall), 1);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took.count(), 1.0) << "a routine loops over rows that hold no bytes";
  gx_freebitmap(small);
  gx_freebitmap(tall);
  for (Bitmap *b : made) gx_freebitmap(b);
  EXPECT_EQ(px, Bytes(48, 5));
}

}  // namespace
}  // namespace corvix
