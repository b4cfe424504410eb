// Command-2 conversion in process (the kernel this CPU picks, the AVX2 kernel and the plain
// table loop), beside libyuv's I422ToRGB24 and a memcpy of the output.
#include <cstring>

#include "bench/support.h"
#include "core/cpu.h"
#include "colour/yuvtorgb_simd.h"

#ifdef CORVIX_HAVE_LIBYUV
#include <libyuv.h>
#endif

namespace corvix::bench {
namespace {

struct YuvFrame {
  std::vector<uint8_t> y, cr, cb, out;
  YuvFrame(Size s, uint32_t group) {
    const size_t n = static_cast<size_t>(s.width) * s.height;
    y = photo_frame(s, 1);
    cr.assign(n / group + 1, 0);
    cb.assign(n / group + 1, 0);
    for (size_t i = 0; i < cr.size(); ++i) {
      cr[i] = static_cast<uint8_t>(96 + (i * 7) % 64);
      cb[i] = static_cast<uint8_t>(110 + (i * 5) % 48);
    }
    out.assign(3 * n, 0);
  }
};

enum class Path { kBest, kAvx2, kPlain };

void run_yuv(benchmark::State &state, Path path) {
  const Size s = size_arg(state);
  const auto group = static_cast<uint32_t>(state.range(2));
  const AtLevel level(state, path == Path::kAvx2 ? Simd::kAvx2 : simd_level());
  if (!level.ok()) return;
  YuvFrame f(s, group);
  const auto n = static_cast<uint32_t>(s.width * s.height);
  for (auto _ : state) {
    if (path != Path::kPlain)
      fx_yuvtorgb_ll(f.y.data(), f.cr.data(), f.cb.data(), f.out.data(), n, group);
    else
      yuv_to_rgb_plain(f.y.data(), f.cr.data(), f.cb.data(), f.out.data(), n, group);
    benchmark::DoNotOptimize(f.out.data());
  }
  set_pixels(state, s);
}

void BM_YuvToRgb(benchmark::State &state) { run_yuv(state, Path::kBest); }
void BM_YuvToRgbAvx2(benchmark::State &state) { run_yuv(state, Path::kAvx2); }
void BM_YuvToRgbPlain(benchmark::State &state) { run_yuv(state, Path::kPlain); }
#define CORVIX_YUV_SIZES(b)   \
  b->Args({720, 576, 4})      \
      ->Args({720, 576, 2})   \
      ->Args({720, 576, 1})   \
      ->Args({1920, 1080, 4}) \
      ->Args({1920, 1080, 1})
CORVIX_YUV_SIZES(BENCHMARK(BM_YuvToRgb));
CORVIX_YUV_SIZES(BENCHMARK(BM_YuvToRgbAvx2));
CORVIX_YUV_SIZES(BENCHMARK(BM_YuvToRgbPlain));

void BM_MemcpyOutput(benchmark::State &state) { memcpy_frame(state, size_arg(state), 3); }
BENCHMARK(BM_MemcpyOutput)->Args({720, 576})->Args({1920, 1080});

#ifdef CORVIX_HAVE_LIBYUV
void BM_LibyuvI422ToRGB24(benchmark::State &state) {
  const Size s = size_arg(state);
  YuvFrame f(s, 2);
  const int half = (s.width + 1) / 2;
  std::vector<uint8_t> u(static_cast<size_t>(half) * s.height, 128), v(u.size(), 128);
  for (auto _ : state) {
    libyuv::I422ToRGB24(f.y.data(), s.width, u.data(), half, v.data(), half, f.out.data(),
                        s.width * 3, s.width, s.height);
    benchmark::DoNotOptimize(f.out.data());
  }
  set_pixels(state, s);
}
BENCHMARK(BM_LibyuvI422ToRGB24)->Args({720, 576})->Args({1920, 1080});
#endif

}  // namespace
}  // namespace corvix::bench
