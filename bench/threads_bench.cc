// Thread scaling: each routine that splits its rows, on the same frames at 1 and at 2 threads
// (the "threads" argument). Times are wall-clock, since the helper threads' time is not the
// caller's. Compare the pairs: threads:1 time / threads:2 time is the gain of the second
// core. The computing routines come first, the memory-bound ones (which get what the memory
// gives) after.
//
// Calls follow each other at once, so the helper is awake when a call splits; a helper that
// slept (calls 40 ms apart, as frames come) takes 35 to 80 us to wake on a virtual machine,
// which the split absorbs by leaving it fewer runs. The one-thread time depends on which
// core the caller runs on: on a shared virtual machine one core can run at half the other's
// speed for seconds at a time, so run on a quiet machine, pinned (taskset -c 0,1), with
// repetitions interleaved, and read the medians.
#include <cstring>
#include <vector>

#include "bench/support.h"

namespace corvix::bench {
namespace {

// Sets the count for one benchmark and puts the default back afterwards.
class Threads {
 public:
  explicit Threads(const benchmark::State &state) {
    corvix_set_threads(static_cast<int32_t>(state.range(0)));
  }
  ~Threads() { corvix_set_threads(0); }
  Threads(const Threads &) = delete;
  Threads &operator=(const Threads &) = delete;
};

// Planes of a frame in groups of two pixels: Y, then Cr and Cb at half the count.
struct Yuv {
  std::vector<uint8_t> y, cr, cb;
};
Yuv yuv_frame(Size size) {
  Yuv p;
  p.y = photo_frame(size, 1);
  p.cr.assign(p.y.size() / 2 + 1, 0);
  p.cb.assign(p.y.size() / 2 + 1, 0);
  for (size_t i = 0; i < p.cr.size(); ++i) {
    p.cr[i] = static_cast<uint8_t>(96 + (i * 7) % 64);
    p.cb[i] = static_cast<uint8_t>(160 - (i * 5) % 64);
  }
  return p;
}

void BM_Rotate30(benchmark::State &state) {
  const Threads t(state);
  time_new_bitmaps(state, kHd, [](Bitmap *src) { return gx_rotatebitmap(src, 0, 0, 0, 30.0f); });
}

// Command 10: PAL planes to a new HD bitmap.
void BM_YuvScale(benchmark::State &state) {
  const Threads t(state);
  const Yuv p = yuv_frame(kPal);
  for (auto _ : state) {
    Bitmap *r = fx_yuvscale_ll(p.y.data(), p.cr.data(), p.cb.data(), kPal.width, kPal.height,
                               kHd.width, kHd.height, 2);
    benchmark::DoNotOptimize(r->pixels);
    gx_freebitmap(r);
  }
  set_pixels(state, kHd);
}

void BM_Smooth(benchmark::State &state) {
  const Threads t(state);
  time_in_place(state, kHd, [](Bitmap *b) { gx_smoothbitmap(b, 1); });
}

void BM_Dither(benchmark::State &state) {
  const Threads t(state);
  time_new_bitmaps(state, kHd, [](Bitmap *src) { return gx_dither(src, 5); });
}

// PAL to HD, three bytes a pixel.
void BM_ScaleToHd(benchmark::State &state) {
  const Threads t(state);
  const std::vector<uint8_t> src = photo_frame(kPal, 3);
  std::vector<uint8_t> out(size_t{3} * kHd.width * kHd.height);
  for (auto _ : state) {
    gx_scale24(src.data(), out.data(), kPal.width, kPal.height, kHd.width, kHd.height);
    benchmark::DoNotOptimize(out.data());
  }
  set_pixels(state, kHd);
}

void BM_Shear(benchmark::State &state) {
  const Threads t(state);
  time_shear(state, kHd, 400);
}

void BM_YuvToRgb(benchmark::State &state) {
  const Threads t(state);
  const Yuv p = yuv_frame(kHd);
  std::vector<uint8_t> out(size_t{3} * kHd.width * kHd.height);
  const auto count = static_cast<uint32_t>(kHd.width * kHd.height);
  for (auto _ : state) {
    fx_yuvtorgb_ll(p.y.data(), p.cr.data(), p.cb.data(), out.data(), count, 2);
    benchmark::DoNotOptimize(out.data());
  }
  set_pixels(state, kHd);
}

void BM_Remap24(benchmark::State &state) {
  const Threads t(state);
  const std::vector<uint8_t> src = photo_frame(kHd, 3);
  std::vector<uint8_t> out(src.size() / 3);
  for (auto _ : state) {
    gx_remap24(src.data(), out.data(), nullptr, static_cast<uint32_t>(src.size()));
    benchmark::DoNotOptimize(out.data());
  }
  set_pixels(state, kHd);
}

void BM_CrossFade(benchmark::State &state) {
  const Threads t(state);
  const std::vector<uint8_t> a = photo_frame(kHd, 3);
  std::vector<uint8_t> b(a.rbegin(), a.rend()), out(a.size());
  for (auto _ : state) {
    cvx_fadeover_ll(a.data(), b.data(), out.data(), 100, kHd.width, kHd.height, 3);
    benchmark::DoNotOptimize(out.data());
  }
  set_pixels(state, kHd);
}

void BM_LevelCorrection(benchmark::State &state) {
  const Threads t(state);
  Bitmap *b = photo_bitmap(kHd, 3);
  for (auto _ : state) {
    cvx_correct_ll(b, 120, 5, 1);  // inverting, so repeated rounds keep varied content
    benchmark::DoNotOptimize(b->pixels);
  }
  gx_freebitmap(b);
  set_pixels(state, kHd);
}

void BM_LevelStretch(benchmark::State &state) {
  const Threads t(state);
  Bitmap *b = photo_bitmap(kHd, 3);
  for (auto _ : state) {
    fxx_minmax_ll(b, 10, 240, 20, 230, 5, 250, 0, 255);
    benchmark::DoNotOptimize(b->pixels);
  }
  gx_freebitmap(b);
  set_pixels(state, kHd);
}

#define CORVIX_THREADS_BENCH(name) \
  BENCHMARK(name)->ArgName("threads")->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond)

CORVIX_THREADS_BENCH(BM_Rotate30);
CORVIX_THREADS_BENCH(BM_YuvScale);
CORVIX_THREADS_BENCH(BM_Smooth);
CORVIX_THREADS_BENCH(BM_Dither);
CORVIX_THREADS_BENCH(BM_ScaleToHd);
CORVIX_THREADS_BENCH(BM_Shear);
CORVIX_THREADS_BENCH(BM_YuvToRgb);
CORVIX_THREADS_BENCH(BM_Remap24);
CORVIX_THREADS_BENCH(BM_CrossFade);
CORVIX_THREADS_BENCH(BM_LevelCorrection);
CORVIX_THREADS_BENCH(BM_LevelStretch);

}  // namespace
}  // namespace corvix::bench
