// Frame effects on photographic frames: scaling beside OpenCV's nearest resize, level
// correction beside cv::LUT, the fades, line doubling, and a memcpy of the frame as the
// bandwidth limit. Per-byte effects run on three-byte frames, as the host's colour frames.
#include <cstring>

#include "bench/support.h"
#include "core/translate.h"
#include "effects/correct.h"
#include "effects/fade.h"

#ifdef CORVIX_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace corvix::bench {
namespace {

// Source size, result size; the rate counts result pixels.
void BM_Scale(benchmark::State &state) {
  const Size from = size_arg(state), to = size_arg(state, 2);
  Bitmap *src = photo_bitmap(from, 1);
  for (auto _ : state) {
    Bitmap *r = cvx_scale_ll(src, to.width, to.height);
    benchmark::DoNotOptimize(r->pixels);
    gx_freebitmap(r);
  }
  gx_freebitmap(src);
  set_pixels(state, to);
}
BENCHMARK(BM_Scale)
    ->Args({720, 576, 1920, 1080})
    ->Args({1920, 1080, 720, 576})
    ->Args({720, 576, 360, 288})
    ->Args({1920, 1080, 1440, 810});

#ifdef CORVIX_HAVE_OPENCV
// OpenCV runs on one thread, as corvix does; its worker threads would escape the CPU clock.
void BM_OpenCvResizeNearest(benchmark::State &state) {
  cv::setNumThreads(1);
  const Size from = size_arg(state), to = size_arg(state, 2);
  std::vector<uint8_t> px = photo_frame(from, 1);
  const cv::Mat src(from.height, from.width, CV_8UC1, px.data());
  cv::Mat dst(to.height, to.width, CV_8UC1);
  for (auto _ : state) {
    cv::resize(src, dst, cv::Size(to.width, to.height), 0, 0, cv::INTER_NEAREST);
    benchmark::DoNotOptimize(dst.data);
  }
  set_pixels(state, to);
}
BENCHMARK(BM_OpenCvResizeNearest)
    ->Args({720, 576, 1920, 1080})
    ->Args({1920, 1080, 720, 576})
    ->Args({720, 576, 360, 288})
    ->Args({1920, 1080, 1440, 810});
#endif

void BM_Correct(benchmark::State &state) {
  const Size s = size_arg(state);
  Bitmap *b = photo_bitmap(s, 3);
  for (auto _ : state) {
    cvx_correct_ll(b, 130, 10, 0);
    benchmark::DoNotOptimize(b->pixels);
  }
  gx_freebitmap(b);
  set_pixels(state, s);
}
BENCHMARK(BM_Correct)->Args({720, 576})->Args({1920, 1080});

// The plain lookup loop alone, as a CPU without the permute instructions runs it.
void BM_CorrectPlainLoop(benchmark::State &state) {
  const Size s = size_arg(state);
  std::vector<uint8_t> px = photo_frame(s, 3);
  uint8_t table[256];
  build_level_table(table, 130, 10, 0);
  for (auto _ : state) {
    translate_bytes_plain(px.data(), px.size(), table);
    benchmark::DoNotOptimize(px.data());
  }
  set_pixels(state, s);
}
BENCHMARK(BM_CorrectPlainLoop)->Args({720, 576})->Args({1920, 1080});

#ifdef CORVIX_HAVE_OPENCV
void BM_OpenCvLut(benchmark::State &state) {
  cv::setNumThreads(1);
  const Size s = size_arg(state);
  std::vector<uint8_t> px = photo_frame(s, 3);
  cv::Mat frame(s.height, s.width, CV_8UC3, px.data());
  cv::Mat lut(1, 256, CV_8UC1);
  build_level_table(lut.data, 130, 10, 0);
  for (auto _ : state) {
    cv::LUT(frame, lut, frame);
    benchmark::DoNotOptimize(frame.data);
  }
  set_pixels(state, s);
}
BENCHMARK(BM_OpenCvLut)->Args({720, 576})->Args({1920, 1080});
#endif

// Third argument 0: separate output; 1: written over A.
void BM_FadeOver(benchmark::State &state) {
  const Size s = size_arg(state);
  std::vector<uint8_t> a = photo_frame(s, 3), b(a.rbegin(), a.rend()), out(a.size());
  uint8_t *dst = state.range(2) != 0 ? a.data() : out.data();
  for (auto _ : state) {
    cvx_fadeover_ll(a.data(), b.data(), dst, 100, s.width, s.height, 3);
    benchmark::DoNotOptimize(dst);
  }
  set_pixels(state, s);
}
BENCHMARK(BM_FadeOver)->Args({720, 576, 0})->Args({720, 576, 1})->Args({1920, 1080, 0});

// The fade's loop at each instruction-set level (third argument: 0 plain, 1 AVX2,
// 2 AVX-512), separate output; levels this CPU lacks are skipped.
void BM_FadeOverKernel(benchmark::State &state) {
  const Size s = size_arg(state);
  const AtLevel level(state, static_cast<Simd>(state.range(2)));
  if (!level.ok()) return;
  std::vector<uint8_t> a = photo_frame(s, 3), b(a.rbegin(), a.rend()), out(a.size());
  for (auto _ : state) {
    fade_bytes(a.data(), b.data(), out.data(), a.size(), 100);
    benchmark::DoNotOptimize(out.data());
  }
  set_pixels(state, s);
}
BENCHMARK(BM_FadeOverKernel)->ArgsProduct({{720}, {576}, {0, 1, 2}});

void BM_SpecialFade(benchmark::State &state) {
  time_in_place(state, size_arg(state), [](Bitmap *b) { cvx_specialfade_ll(b, 60); });
}
BENCHMARK(BM_SpecialFade)->Args({720, 576})->Args({1920, 1080});

void BM_SpecialFadeOver(benchmark::State &state) {
  const Size s = size_arg(state);
  Bitmap *a = photo_bitmap(s, 3);
  std::vector<uint8_t> b = photo_frame(s, 3);
  std::reverse(b.begin(), b.end());
  for (auto _ : state) {
    cvx_specialfadeover_ll(a, b.data(), 120);
    benchmark::DoNotOptimize(a->pixels);
  }
  gx_freebitmap(a);
  set_pixels(state, s);
}
BENCHMARK(BM_SpecialFadeOver)->Args({720, 576})->Args({1920, 1080});

void BM_SpecialFadeOverKernel(benchmark::State &state) {
  const Size s = size_arg(state);
  const AtLevel level(state, static_cast<Simd>(state.range(2)));
  if (!level.ok()) return;
  std::vector<uint8_t> a = photo_frame(s, 3), b(a.rbegin(), a.rend());
  for (auto _ : state) {
    replace_below(a.data(), b.data(), a.size(), 121);
    benchmark::DoNotOptimize(a.data());
  }
  set_pixels(state, s);
}
BENCHMARK(BM_SpecialFadeOverKernel)->ArgsProduct({{720}, {576}, {0, 1, 2}});

void BM_Deinterlace(benchmark::State &state) {
  time_in_place(state, size_arg(state), [](Bitmap *b) { cvx_deinterlace_ll(b); });
}
BENCHMARK(BM_Deinterlace)->Args({720, 576})->Args({1920, 1080});

// Third argument: bytes a pixel (1 for the scaling figures, 3 for the per-byte effects).
void BM_MemcpyFrame(benchmark::State &state) {
  memcpy_frame(state, size_arg(state), static_cast<int32_t>(state.range(2)));
}
BENCHMARK(BM_MemcpyFrame)
    ->Args({720, 576, 3})
    ->Args({1920, 1080, 3})
    ->Args({720, 576, 1})
    ->Args({1920, 1080, 1});

}  // namespace
}  // namespace corvix::bench
