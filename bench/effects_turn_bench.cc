// Mirror, quarter and half turns, invert, stretch and automatic levels on photographic
// frames of three-byte pixels, beside OpenCV's flip and rotate and a memcpy of the frame.
#include <cstring>

#include "bench/support.h"
#include "core/translate.h"
#include "effects/frame_kernels.h"

#ifdef CORVIX_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace corvix::bench {
namespace {

// Both frame sizes, each with the extra argument values given.
void sizes_with(benchmark::internal::Benchmark *b, std::initializer_list<int64_t> extra) {
  for (const Size s : {kPal, kHd})
    for (const int64_t e : extra) b->Args({s.width, s.height, e});
}

// Mirror in place: 1 upside down, 2 left to right, 3 both.
void BM_Mirror(benchmark::State &state) {
  const Size s = size_arg(state);
  Bitmap *frame = photo_bitmap(s, 3);
  const auto mode = state.range(2);
  for (auto _ : state) {
    fxx_mirror_ll(frame, mode & 1, mode & 2);
    benchmark::DoNotOptimize(frame->pixels);
  }
  set_pixels(state, s);
  gx_freebitmap(frame);
}
BENCHMARK(BM_Mirror)->Apply([](auto *b) { sizes_with(b, {1, 2, 3}); });

// A turn including the new bitmap's allocation and release: 0 clockwise, 1 half, 2 counter.
void BM_RotAngle(benchmark::State &state) {
  const Size s = size_arg(state);
  Bitmap *frame = photo_bitmap(s, 3);
  const auto turn = static_cast<int32_t>(state.range(2));
  for (auto _ : state) {
    Bitmap *turned = fxx_rotangle_ll(frame, turn);
    benchmark::DoNotOptimize(turned->pixels);
    gx_freebitmap(turned);
  }
  set_pixels(state, s);
  gx_freebitmap(frame);
}
BENCHMARK(BM_RotAngle)->Apply([](auto *b) { sizes_with(b, {0, 1, 2}); });

// The quarter-turn paths alone into a reused buffer: 0 plain, 1 tiled, 2 best.
void BM_QuarterTurnPath(benchmark::State &state) {
  const Size s = size_arg(state);
  const std::vector<uint8_t> src = photo_frame(s, 3);
  std::vector<uint8_t> dst(src.size());
  const auto path = state.range(2);
  for (auto _ : state) {
    if (path == 0)
      quarter_turn_plain(src.data(), dst.data(), s.width, s.height, true);
    else if (path == 1)
      quarter_turn_tiled(src.data(), dst.data(), s.width, s.height, true);
    else
      quarter_turn(src.data(), dst.data(), s.width, s.height, true);
    benchmark::DoNotOptimize(dst.data());
  }
  set_pixels(state, s);
}
BENCHMARK(BM_QuarterTurnPath)->Apply([](auto *b) { sizes_with(b, {0, 1, 2}); });

void BM_Invert(benchmark::State &state) {
  const Size s = size_arg(state);
  Bitmap *frame = photo_bitmap(s, 3);
  for (auto _ : state) {
    fxx_invert_ll(frame);
    benchmark::DoNotOptimize(frame->pixels);
  }
  set_pixels(state, s);
  gx_freebitmap(frame);
}
BENCHMARK(BM_Invert)->Args({kPal.width, kPal.height})->Args({kHd.width, kHd.height});

// The command-16 stretch (tables built on every call).
void BM_Stretch(benchmark::State &state) {
  const Size s = size_arg(state);
  Bitmap *frame = photo_bitmap(s, 3);
  for (auto _ : state) {
    fxx_minmax_ll(frame, 10, 200, 20, 230, 5, 250, 0, 255);
    benchmark::DoNotOptimize(frame->pixels);
  }
  set_pixels(state, s);
  gx_freebitmap(frame);
}
BENCHMARK(BM_Stretch)->Args({kPal.width, kPal.height})->Args({kHd.width, kHd.height});

// The table walk alone by the plain loop, for comparison with the stretch.
void BM_StretchPlainWalk(benchmark::State &state) {
  const Size s = size_arg(state);
  std::vector<uint8_t> frame = photo_frame(s, 3);
  uint8_t tables[3][256];
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 256; ++i) tables[c][i] = static_cast<uint8_t>(255 - i);
  for (auto _ : state) {
    translate_pixels_plain(frame.data(), size_t(s.width) * s.height, tables);
    benchmark::DoNotOptimize(frame.data());
  }
  set_pixels(state, s);
}
BENCHMARK(BM_StretchPlainWalk)->Args({kPal.width, kPal.height})->Args({kHd.width, kHd.height});

// Command 18: three measurements, the stretch, the records.
void BM_AutoLevel(benchmark::State &state) {
  const Size s = size_arg(state);
  const std::vector<uint8_t> photo = photo_frame(s, 3);
  Bitmap *frame = photo_bitmap(s, 3);
  for (auto _ : state) {
    // The same photograph every time, so every call has real ranges to stretch.
    state.PauseTiming();
    std::memcpy(frame->pixels, photo.data(), photo.size());
    state.ResumeTiming();
    fxx_min_max_ll(frame);
    benchmark::DoNotOptimize(frame->pixels);
  }
  set_pixels(state, s);
  gx_freebitmap(frame);
}
BENCHMARK(BM_AutoLevel)->Args({kPal.width, kPal.height})->Args({kHd.width, kHd.height});

void BM_MemcpyFrame(benchmark::State &state) { memcpy_frame(state, size_arg(state), 3); }
BENCHMARK(BM_MemcpyFrame)->Args({kPal.width, kPal.height})->Args({kHd.width, kHd.height});

#ifdef CORVIX_HAVE_OPENCV
// cv::flip in place, its fastest form for a frame that is to be changed: 0 upside down, 1 left
// to right, -1 both (arguments 1, 2, 3 as for BM_Mirror).
void BM_OpenCvFlipInPlace(benchmark::State &state) {
  cv::setNumThreads(1);
  const Size s = size_arg(state);
  std::vector<uint8_t> photo = photo_frame(s, 3);
  cv::Mat frame(s.height, s.width, CV_8UC3, photo.data());
  const int code = state.range(2) == 1 ? 0 : state.range(2) == 2 ? 1 : -1;
  for (auto _ : state) {
    cv::flip(frame, frame, code);
    benchmark::DoNotOptimize(frame.data);
  }
  set_pixels(state, s);
}
BENCHMARK(BM_OpenCvFlipInPlace)->Apply([](auto *b) { sizes_with(b, {1, 2, 3}); });

// cv::bitwise_not in place, beside BM_Invert.
void BM_OpenCvBitwiseNotInPlace(benchmark::State &state) {
  cv::setNumThreads(1);
  const Size s = size_arg(state);
  std::vector<uint8_t> photo = photo_frame(s, 3);
  cv::Mat frame(s.height, s.width, CV_8UC3, photo.data());
  for (auto _ : state) {
    cv::bitwise_not(frame, frame);
    benchmark::DoNotOptimize(frame.data);
  }
  set_pixels(state, s);
}
BENCHMARK(BM_OpenCvBitwiseNotInPlace)
    ->Args({kPal.width, kPal.height})
    ->Args({kHd.width, kHd.height});

// cv::rotate into a reused frame: 0 clockwise, 1 half, 2 counter-clockwise.
void BM_OpenCvRotate(benchmark::State &state) {
  cv::setNumThreads(1);
  const Size s = size_arg(state);
  std::vector<uint8_t> photo = photo_frame(s, 3);
  const cv::Mat src(s.height, s.width, CV_8UC3, photo.data());
  cv::Mat dst;
  const auto turn = state.range(2);
  const int code = turn == 0   ? cv::ROTATE_90_CLOCKWISE
                   : turn == 1 ? cv::ROTATE_180
                               : cv::ROTATE_90_COUNTERCLOCKWISE;
  for (auto _ : state) {
    cv::rotate(src, dst, code);
    benchmark::DoNotOptimize(dst.data);
  }
  set_pixels(state, s);
}
BENCHMARK(BM_OpenCvRotate)->Apply([](auto *b) { sizes_with(b, {0, 1, 2}); });
#endif

}  // namespace
}  // namespace corvix::bench
