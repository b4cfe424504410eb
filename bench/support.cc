#include "bench/support.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace corvix::bench {
namespace {

// The peers beside corvix run on one thread, and times are the calling thread's CPU clock, so
// corvix runs on one thread too (and so do the servers the benchmarks start), unless
// CORVIX_THREADS says otherwise. threads_bench sets its own counts.
[[maybe_unused]] const bool g_one_thread = setenv("CORVIX_THREADS", "1", 0) == 0;

}  // namespace

std::vector<uint8_t> photo_frame(Size size, int32_t bpp) {
  std::ifstream f(std::string(CORVIX_TEST_IMAGES) + "/coffee.ppm", std::ios::binary);
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  f >> magic >> w >> h >> maxval;
  f.get();
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  f.read(reinterpret_cast<char *>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
  std::vector<uint8_t> out(static_cast<size_t>(size.width) * size.height * bpp);
  for (int32_t y = 0; y < size.height; ++y)
    for (int32_t x = 0; x < size.width; ++x) {
      const uint8_t *src =
          &rgb[3 * (static_cast<size_t>(y * h / size.height) * w + x * w / size.width)];
      uint8_t *dst = &out[static_cast<size_t>(bpp) * (static_cast<size_t>(y) * size.width + x)];
      for (int32_t c = 0; c < bpp; ++c) dst[c] = bpp == 1 ? src[1] : src[c % 3];
    }
  return out;
}

Bitmap *photo_bitmap(Size size, int32_t bpp) {
  const std::vector<uint8_t> px = photo_frame(size, bpp);
  Bitmap *b = gx_allocrawbitmap(size.width, size.height, bpp);
  if (b != nullptr) std::memcpy(b->pixels, px.data(), px.size());
  return b;
}

Size size_arg(const benchmark::State &state, int first) {
  return {static_cast<int32_t>(state.range(first)), static_cast<int32_t>(state.range(first + 1))};
}

void memcpy_frame(benchmark::State &state, Size size, int32_t bpp) {
  const std::vector<uint8_t> a = photo_frame(size, bpp);
  std::vector<uint8_t> b(a.size());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
  }
  set_pixels(state, size);
}

void set_pixels(benchmark::State &state, Size size) {
  state.counters["Mpixel/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * size.width * size.height / 1e6,
                         benchmark::Counter::kIsRate);
}

void time_shear(benchmark::State &state, Size size, int32_t shift) {
  Bitmap *src = photo_bitmap(size, 3);
  for (auto _ : state) {
    state.PauseTiming();
    Bitmap *b = gx_clonebitmap(src);
    state.ResumeTiming();
    gx_shearbitmap(b, 0, size.height - 1, 0, shift, 0, 0, 0);
    benchmark::DoNotOptimize(b->pixels);
    state.PauseTiming();
    gx_freebitmap(b);
    state.ResumeTiming();
  }
  gx_freebitmap(src);
  set_pixels(state, size);
}

AtLevel::AtLevel(benchmark::State &state, Simd level)
    : before_(simd_level()), ok_(level <= cpu_simd()) {
  if (!ok_) {
    state.SkipWithError("this CPU lacks the level");
    return;
  }
  set_simd_level(level);
}

Daemon::Daemon(std::vector<std::string> args) {
  char tmpl[] = "/tmp/corvix-bench-XXXXXX";
  dir_ = mkdtemp(tmpl);
  setenv("CORVIX_RUNTIME_DIR", dir_.c_str(), 1);
  static int count = 0;
  name_ = "bench-" + std::to_string(getpid()) + "-" + std::to_string(count++);
  const char *b = std::getenv("CORVIX_BINARY_DIR");
  args.insert(args.begin(),
              {std::string(b != nullptr ? b : CORVIX_BINARY_DIR) + "/corvixd", "--port", name_});
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ);
  struct stat st {};
  for (int i = 0; i < 300 && stat((dir_ + "/" + name_).c_str(), &st) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

Daemon::~Daemon() {
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  const std::string sock = dir_ + "/" + name_;
  unlink(sock.c_str());
  unlink((sock + ".lock").c_str());
  rmdir(dir_.c_str());
}

}  // namespace corvix::bench
