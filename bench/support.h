// Frames for benchmarks: real photographic content at the sizes video uses.
#ifndef CORVIX_BENCH_SUPPORT_H
#define CORVIX_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/cpu.h"
#include "corvix/corvix.h"

namespace corvix::bench {

// The standard frame sizes: 720x576 (PAL) and 1920x1080.
struct Size {
  int32_t width, height;
};
inline constexpr Size kPal{720, 576};
inline constexpr Size kHd{1920, 1080};

// width x height pixels of `bpp` bytes taken from a test photograph (stretched by nearest
// sampling; one-byte frames hold its green channel).
std::vector<uint8_t> photo_frame(Size size, int32_t bpp);
// The same frame as a Bitmap of PPCAllocVec blocks (free with gx_freebitmap).
Bitmap *photo_bitmap(Size size, int32_t bpp);
// The frame size in the benchmark's arguments `first` and `first` + 1.
Size size_arg(const benchmark::State &state, int first = 0);
// The bandwidth limit beside every one-pass routine: a memcpy of a frame of `bpp` bytes a
// pixel, reported in pixels per second like the routines.
void memcpy_frame(benchmark::State &state, Size size, int32_t bpp);
// Reports pixels per second (shown as Mpixel/s by --benchmark_counters_tabular).
void set_pixels(benchmark::State &state, Size size);

// Times `make(photograph)`, a routine making a new bitmap from a three-byte photograph of
// `size`, releasing each result; reports the photograph's pixels per second.
template <class Make>
void time_new_bitmaps(benchmark::State &state, Size size, Make make) {
  Bitmap *src = photo_bitmap(size, 3);
  for (auto _ : state) {
    Bitmap *r = make(src);
    benchmark::DoNotOptimize(r->pixels);
    gx_freebitmap(r);
  }
  gx_freebitmap(src);
  set_pixels(state, size);
}

// Times `change(photograph)`, a routine changing a three-byte photograph of `size` in place.
template <class Change>
void time_in_place(benchmark::State &state, Size size, Change change) {
  Bitmap *b = photo_bitmap(size, 3);
  for (auto _ : state) {
    change(b);
    benchmark::DoNotOptimize(b->pixels);
  }
  gx_freebitmap(b);
  set_pixels(state, size);
}

// Times a shear of all rows of a three-byte photograph by 0..shift pixels. The shear widens
// its bitmap, so each round starts from a fresh copy, made and released untimed.
void time_shear(benchmark::State &state, Size size, int32_t shift);

// Sets the process's instruction-set level (core/cpu.h) for one benchmark, and back after
// it; a level the CPU lacks skips the benchmark (check ok()).
class AtLevel {
 public:
  AtLevel(benchmark::State &state, Simd level);
  ~AtLevel() { set_simd_level(before_); }
  AtLevel(const AtLevel &) = delete;
  AtLevel &operator=(const AtLevel &) = delete;
  bool ok() const { return ok_; }

 private:
  Simd before_;
  bool ok_;
};

// A corvixd process on a private port in a private runtime directory (set as this process's
// CORVIX_RUNTIME_DIR), started with `args` and killed at the end.
class Daemon {
 public:
  explicit Daemon(std::vector<std::string> args);
  ~Daemon();
  Daemon(const Daemon &) = delete;
  Daemon &operator=(const Daemon &) = delete;
  const std::string &name() const { return name_; }
  pid_t pid() const { return pid_; }

 private:
  std::string dir_, name_;
  pid_t pid_ = -1;
};

}  // namespace corvix::bench

#endif
