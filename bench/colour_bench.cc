// Scaled YUV conversion, the pixel scalers and the remappers on photographic frames, beside
// OpenCV's nearest-neighbour resize and byte table, and beside memcpy of the same frame.
// Rates count destination pixels (frame pixels for the remappers and memcpy).
#include <cstring>

#include "bench/support.h"
#include "colour/palette.h"

#ifdef CORVIX_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif
#ifdef CORVIX_HAVE_LIBYUV
#include <libyuv.h>
#include <libyuv/scale_rgb.h>  // not in libyuv.h
#endif

namespace corvix::bench {
namespace {

// Both ways between the two frame sizes, and each size onto itself.
void scale_sizes(benchmark::internal::Benchmark *b) {
  b->Args({720, 576, 1920, 1080})
      ->Args({1920, 1080, 720, 576})
      ->Args({720, 576, 720, 576})
      ->Args({1920, 1080, 1920, 1080});
}

void BM_YuvScale(benchmark::State &state) {
  const Size s = size_arg(state), d = size_arg(state, 2);
  const auto f = static_cast<int32_t>(state.range(4));
  const std::vector<uint8_t> y = photo_frame(s, 1);
  std::vector<uint8_t> cr(y.size() / f + 1), cb(cr.size());
  for (size_t i = 0; i < cr.size(); ++i) {
    cr[i] = static_cast<uint8_t>(96 + (i * 7) % 64);
    cb[i] = static_cast<uint8_t>(110 + (i * 5) % 48);
  }
  for (auto _ : state) {
    Bitmap *b =
        fx_yuvscale_ll(y.data(), cr.data(), cb.data(), s.width, s.height, d.width, d.height, f);
    benchmark::DoNotOptimize(b->pixels);
    gx_freebitmap(b);
  }
  set_pixels(state, d);
}
BENCHMARK(BM_YuvScale)
    ->Args({720, 576, 1920, 1080, 4})
    ->Args({1920, 1080, 720, 576, 4})
    ->Args({720, 576, 720, 576, 4})
    ->Args({1920, 1080, 1920, 1080, 2});

template <int P>
void BM_Scale(benchmark::State &state) {
  const Size s = size_arg(state), d = size_arg(state, 2);
  const std::vector<uint8_t> src = photo_frame(s, P);
  std::vector<uint8_t> dst(static_cast<size_t>(P) * d.width * d.height);
  for (auto _ : state) {
    (P == 3 ? gx_scale24 : gx_scale8)(src.data(), dst.data(), s.width, s.height, d.width, d.height);
    benchmark::DoNotOptimize(dst.data());
  }
  set_pixels(state, d);
}
BENCHMARK(BM_Scale<3>)->Apply(scale_sizes);
BENCHMARK(BM_Scale<1>)->Apply(scale_sizes);

#ifdef CORVIX_HAVE_LIBYUV
// libyuv's three-byte scaler without filtering (nearest sample), into a reused frame.
void BM_LibyuvRgbScaleNearest(benchmark::State &state) {
  const Size s = size_arg(state), d = size_arg(state, 2);
  const std::vector<uint8_t> src = photo_frame(s, 3);
  std::vector<uint8_t> dst(size_t{3} * d.width * d.height);
  for (auto _ : state) {
    libyuv::RGBScale(src.data(), 3 * s.width, s.width, s.height, dst.data(), 3 * d.width, d.width,
                     d.height, libyuv::kFilterNone);
    benchmark::DoNotOptimize(dst.data());
  }
  set_pixels(state, d);
}
BENCHMARK(BM_LibyuvRgbScaleNearest)->Apply(scale_sizes);
#endif

void BM_ScaleCopyBitmap(benchmark::State &state) {
  const Size s = size_arg(state), d = size_arg(state, 2);
  Bitmap *src = photo_bitmap(s, 3);
  for (auto _ : state) {
    Bitmap *b = gx_scalecopybitmap(src, d.width, d.height);
    benchmark::DoNotOptimize(b->pixels);
    gx_freebitmap(b);
  }
  gx_freebitmap(src);
  set_pixels(state, d);
}
BENCHMARK(BM_ScaleCopyBitmap)->Apply(scale_sizes);

#ifdef CORVIX_HAVE_OPENCV
// One thread, as corvix's routines run: the comparison is per core.
template <int P>
void BM_CvResizeNearest(benchmark::State &state) {
  cv::setNumThreads(1);
  const Size s = size_arg(state), d = size_arg(state, 2);
  std::vector<uint8_t> px = photo_frame(s, P);
  const cv::Mat src(s.height, s.width, P == 3 ? CV_8UC3 : CV_8UC1, px.data());
  cv::Mat dst(d.height, d.width, src.type());
  for (auto _ : state) {
    cv::resize(src, dst, dst.size(), 0, 0, cv::INTER_NEAREST);
    benchmark::DoNotOptimize(dst.data);
  }
  set_pixels(state, d);
}
BENCHMARK(BM_CvResizeNearest<3>)->Apply(scale_sizes);
BENCHMARK(BM_CvResizeNearest<1>)->Apply(scale_sizes);

// Into a new image every time, as gx_scalecopybitmap makes one.
void BM_CvResizeNearestNew(benchmark::State &state) {
  cv::setNumThreads(1);
  const Size s = size_arg(state), d = size_arg(state, 2);
  std::vector<uint8_t> px = photo_frame(s, 3);
  const cv::Mat src(s.height, s.width, CV_8UC3, px.data());
  for (auto _ : state) {
    cv::Mat dst;
    cv::resize(src, dst, cv::Size(d.width, d.height), 0, 0, cv::INTER_NEAREST);
    benchmark::DoNotOptimize(dst.data);
  }
  set_pixels(state, d);
}
BENCHMARK(BM_CvResizeNearestNew)->Apply(scale_sizes);
#endif

void frame_sizes(benchmark::internal::Benchmark *b) { b->Args({720, 576})->Args({1920, 1080}); }

// Third argument: pen table or none; fourth: 1 forces the plain kernel (what processors
// without 64-byte byte permutes run).
void BM_Remap24(benchmark::State &state) {
  const Size s = size_arg(state);
  const std::vector<uint8_t> src = photo_frame(s, 3);
  std::vector<uint8_t> out(src.size() / 3), pens(216);
  for (size_t i = 0; i < pens.size(); ++i) pens[i] = static_cast<uint8_t>(255 - i);
  const uint8_t *table = state.range(2) ? pens.data() : nullptr;
  const auto remap = state.range(3) ? remap24_plain : gx_remap24;
  for (auto _ : state) {
    remap(src.data(), out.data(), table, static_cast<uint32_t>(src.size()));
    benchmark::DoNotOptimize(out.data());
  }
  set_pixels(state, s);
}
BENCHMARK(BM_Remap24)
    ->Args({720, 576, 0, 0})
    ->Args({720, 576, 1, 0})
    ->Args({1920, 1080, 0, 0})
    ->Args({1920, 1080, 1, 0})
    ->Args({720, 576, 1, 1});

std::vector<uint8_t> scrambled_table() {
  std::vector<uint8_t> t(256);
  for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<uint8_t>(i * 73 + 11);
  return t;
}

// The buffer is translated in place on every pass, so its values keep changing. Third
// argument: 1 forces the plain kernel.
void BM_Remap8(benchmark::State &state) {
  const Size s = size_arg(state);
  std::vector<uint8_t> buf = photo_frame(s, 1);
  const std::vector<uint8_t> table = scrambled_table();
  const auto remap = state.range(2) ? remap8_plain : gx_remap8;
  for (auto _ : state) {
    remap(buf.data(), table.data(), static_cast<uint32_t>(buf.size()));
    benchmark::DoNotOptimize(buf.data());
  }
  set_pixels(state, s);
}
BENCHMARK(BM_Remap8)->Args({720, 576, 0})->Args({1920, 1080, 0})->Args({720, 576, 1});

#ifdef CORVIX_HAVE_OPENCV
void BM_CvLut(benchmark::State &state) {
  cv::setNumThreads(1);
  const Size s = size_arg(state);
  std::vector<uint8_t> px = photo_frame(s, 1);
  std::vector<uint8_t> t = scrambled_table();
  cv::Mat buf(s.height, s.width, CV_8UC1, px.data()), lut(1, 256, CV_8UC1, t.data());
  for (auto _ : state) {
    cv::LUT(buf, lut, buf);
    benchmark::DoNotOptimize(buf.data);
  }
  set_pixels(state, s);
}
BENCHMARK(BM_CvLut)->Apply(frame_sizes);
#endif

// memcpy of a frame of `bpp` bytes a pixel: the bound any one-pass routine approaches.
void BM_Memcpy(benchmark::State &state) {
  memcpy_frame(state, size_arg(state), static_cast<int32_t>(state.range(2)));
}
BENCHMARK(BM_Memcpy)
    ->Args({720, 576, 1})
    ->Args({720, 576, 3})
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, 3});

}  // namespace
}  // namespace corvix::bench
