// Geometry on PAL frames: free rotation beside OpenCV's bilinear warpAffine, smoothing
// passes beside a 3x3 box blur and the same five-point kernel, transpose, cut and shear.
// Rates are source pixels per second. OpenCV runs on one thread, like corvix.
#include <cstring>

#include "bench/support.h"

#ifdef CORVIX_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace corvix::bench {
namespace {

void BM_Rotate30(benchmark::State &state) {
  const auto bpp = static_cast<int32_t>(state.range(0));
  Bitmap *src = photo_bitmap(kPal, bpp);
  for (auto _ : state) {
    Bitmap *r = gx_rotatebitmap(src, 0, 0, 0, 30.0f);
    benchmark::DoNotOptimize(r->pixels);
    gx_freebitmap(r);
  }
  gx_freebitmap(src);
  set_pixels(state, kPal);
}
BENCHMARK(BM_Rotate30)->Arg(1)->Arg(3);

void BM_Smooth(benchmark::State &state) {
  const auto passes = static_cast<int32_t>(state.range(0));
  Bitmap *b = photo_bitmap(kPal, 3);
  for (auto _ : state) {
    gx_smoothbitmap(b, passes);
    benchmark::DoNotOptimize(b->pixels);
  }
  gx_freebitmap(b);
  set_pixels(state, kPal);
}
BENCHMARK(BM_Smooth)->Arg(1)->Arg(4);

void BM_Transpose(benchmark::State &state) {
  time_in_place(state, kPal, [](Bitmap *b) { gx_transposebitmap(b); });
}
BENCHMARK(BM_Transpose);

// A centred half-size rectangle, and the whole frame with a 16-pixel black margin.
void BM_Cut(benchmark::State &state) {
  const bool margin = state.range(0) != 0;
  Bitmap *src = photo_bitmap(kPal, 3);
  const Size out =
      margin ? Size{kPal.width + 32, kPal.height + 32} : Size{kPal.width / 2, kPal.height / 2};
  const int32_t x = margin ? -16 : kPal.width / 4, y = margin ? -16 : kPal.height / 4;
  for (auto _ : state) {
    Bitmap *c = gx_cutbitmap(src, x, y, x + out.width - 1, y + out.height - 1);
    benchmark::DoNotOptimize(c->pixels);
    gx_freebitmap(c);
  }
  gx_freebitmap(src);
  set_pixels(state, out);
}
BENCHMARK(BM_Cut)->Arg(0)->Arg(1);

void BM_Shear(benchmark::State &state) { time_shear(state, kPal, 200); }
BENCHMARK(BM_Shear);

#ifdef CORVIX_HAVE_OPENCV
cv::Mat photo_mat(int32_t bpp, std::vector<uint8_t> &store) {
  store = photo_frame(kPal, bpp);
  return cv::Mat(kPal.height, kPal.width, bpp == 1 ? CV_8UC1 : CV_8UC3, store.data());
}

void BM_OpenCvWarpAffine30(benchmark::State &state) {
  cv::setNumThreads(1);
  const auto bpp = static_cast<int32_t>(state.range(0));
  std::vector<uint8_t> store;
  const cv::Mat src = photo_mat(bpp, store);
  // The same 912 x 858 result as the turn above, centre onto centre.
  const cv::Size out(912, 858);
  cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(kPal.width / 2.0f, kPal.height / 2.0f), 30, 1);
  m.at<double>(0, 2) += out.width / 2.0 - kPal.width / 2.0;
  m.at<double>(1, 2) += out.height / 2.0 - kPal.height / 2.0;
  cv::Mat dst;
  for (auto _ : state) {
    cv::warpAffine(src, dst, m, out, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    benchmark::DoNotOptimize(dst.data);
  }
  set_pixels(state, kPal);
}
BENCHMARK(BM_OpenCvWarpAffine30)->Arg(1)->Arg(3);

void BM_OpenCvBlur3x3(benchmark::State &state) {
  cv::setNumThreads(1);
  const auto passes = static_cast<int>(state.range(0));
  std::vector<uint8_t> store;
  cv::Mat a = photo_mat(3, store).clone(), b(a.size(), a.type());
  for (auto _ : state) {
    for (int p = 0; p < passes; ++p) {
      cv::blur(a, b, cv::Size(3, 3));
      std::swap(a, b);
    }
    benchmark::DoNotOptimize(a.data);
  }
  set_pixels(state, kPal);
}
BENCHMARK(BM_OpenCvBlur3x3)->Arg(1)->Arg(4);

void BM_OpenCvFivePointFilter(benchmark::State &state) {
  cv::setNumThreads(1);
  const auto passes = static_cast<int>(state.range(0));
  std::vector<uint8_t> store;
  cv::Mat a = photo_mat(3, store).clone(), b(a.size(), a.type());
  const cv::Mat kernel =
      (cv::Mat_<float>(3, 3) << 0, 0.125f, 0, 0.125f, 0.5f, 0.125f, 0, 0.125f, 0);
  for (auto _ : state) {
    for (int p = 0; p < passes; ++p) {
      cv::filter2D(a, b, -1, kernel);
      std::swap(a, b);
    }
    benchmark::DoNotOptimize(a.data);
  }
  set_pixels(state, kPal);
}
BENCHMARK(BM_OpenCvFivePointFilter)->Arg(1)->Arg(4);

void BM_OpenCvTranspose(benchmark::State &state) {
  cv::setNumThreads(1);
  std::vector<uint8_t> store;
  const cv::Mat src = photo_mat(3, store);
  cv::Mat dst;
  for (auto _ : state) {
    cv::transpose(src, dst);
    benchmark::DoNotOptimize(dst.data);
  }
  set_pixels(state, kPal);
}
BENCHMARK(BM_OpenCvTranspose);

void BM_OpenCvRoiCopy(benchmark::State &state) {
  std::vector<uint8_t> store;
  const cv::Mat src = photo_mat(3, store);
  const cv::Rect roi(kPal.width / 4, kPal.height / 4, kPal.width / 2, kPal.height / 2);
  cv::Mat dst;
  for (auto _ : state) {
    src(roi).copyTo(dst);
    benchmark::DoNotOptimize(dst.data);
  }
  set_pixels(state, Size{kPal.width / 2, kPal.height / 2});
}
BENCHMARK(BM_OpenCvRoiCopy);
#endif

}  // namespace
}  // namespace corvix::bench
