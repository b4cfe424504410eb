// Blits of a PAL block into an HD frame (opaque, blended, brightness alpha) beside a memcpy of
// the block, scaled blits onto the whole HD frame, and line and box drawing.
#include <cstring>

#include "bench/support.h"

namespace corvix::bench {
namespace {

// An HD destination and a PAL block taken from the photograph, in the layout `bpp`.
struct Scene {
  Bitmap *frame;
  std::vector<uint8_t> block;
  explicit Scene(int32_t bpp) : frame(photo_bitmap(kHd, bpp)), block(photo_frame(kPal, bpp)) {}
  ~Scene() { gx_freebitmap(frame); }
};

enum Blit { kOpaque, kPercent, kAlpha };

void BM_BlitPalIntoHd(benchmark::State &state) {
  const auto kind = static_cast<Blit>(state.range(0));
  Scene s(static_cast<int32_t>(state.range(1)));
  for (auto _ : state) {
    if (kind == kOpaque) gx_chunkyblit(s.frame, kPal.width, kPal.height, s.block.data(), 600, 250);
    if (kind == kPercent)
      gx_transchunkyblit(s.frame, kPal.width, kPal.height, s.block.data(), 600, 250, 40);
    if (kind == kAlpha)
      gx_transalphachunkyblit(s.frame, kPal.width, kPal.height, s.block.data(), 600, 250, 20);
    benchmark::DoNotOptimize(s.frame->pixels);
  }
  set_pixels(state, kPal);
}
BENCHMARK(BM_BlitPalIntoHd)
    ->ArgNames({"blend", "bpp"})
    ->Args({kOpaque, 3})
    ->Args({kPercent, 3})
    ->Args({kAlpha, 3})
    ->Args({kOpaque, 1});

// The bandwidth limit: the block's bytes in one copy.
void BM_MemcpyPalBlock(benchmark::State &state) {
  memcpy_frame(state, kPal, static_cast<int32_t>(state.range(0)));
}
BENCHMARK(BM_MemcpyPalBlock)->ArgName("bpp")->Arg(3)->Arg(1);

enum Scaled { kCopy, kMask, kLight };

// PAL stretched over the whole HD frame; the light map is the block's first 256 x 256 pixels.
void BM_ScaledPalOntoHd(benchmark::State &state) {
  const auto kind = static_cast<Scaled>(state.range(0));
  Scene s(3);
  for (auto _ : state) {
    if (kind == kCopy)
      gx_scaledblit(s.frame, kPal.width, kPal.height, s.block.data(), 0, 0, kHd.width, kHd.height);
    if (kind == kMask)
      gx_scaledmaskblit(s.frame, kPal.width, kPal.height, s.block.data(), 0, 0, kHd.width,
                        kHd.height, 100);
    if (kind == kLight)
      gx_scaledlightblit(s.frame, s.block.data(), 0, 0, kHd.width, kHd.height, 40, 30, 20);
    benchmark::DoNotOptimize(s.frame->pixels);
  }
  set_pixels(state, kHd);
}
BENCHMARK(BM_ScaledPalOntoHd)->ArgName("kind")->Arg(kCopy)->Arg(kMask)->Arg(kLight);

// 512 lines crossing the frame in all directions, each starting and ending outside it.
void BM_DrawLines(benchmark::State &state) {
  Scene s(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    for (int32_t i = 0; i < 256; ++i) {
      const int32_t a = i * 7 % 1920, b = i * 13 % 1080;
      gx_drawline(s.frame, a - 300, -200, 1920 - a + 300, 1280, i, 2 * i, 3 * i);
      gx_drawline(s.frame, -400, b - 100, 2320, 1080 - b + 100, i, i, i);
    }
    benchmark::DoNotOptimize(s.frame->pixels);
  }
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * 512,
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DrawLines)->ArgName("bpp")->Arg(3)->Arg(1);

void BM_DrawBoxHd(benchmark::State &state) {
  Scene s(static_cast<int32_t>(state.range(0)));
  const auto step = static_cast<int32_t>(state.range(1));
  for (auto _ : state) {
    gx_drawbox(s.frame, -5, -5, 1925, 1085, 10, 20, 30, step);
    benchmark::DoNotOptimize(s.frame->pixels);
  }
  set_pixels(state, kHd);
}
BENCHMARK(BM_DrawBoxHd)->ArgNames({"bpp", "step"})->Args({3, 1})->Args({1, 1})->Args({3, 4});

}  // namespace
}  // namespace corvix::bench
