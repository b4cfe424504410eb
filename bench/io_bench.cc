// PPM load and save of a 1920x1080 photograph beside a bare read and write of the same file
// bytes, and the ordered dither of a PAL frame with each matrix beside the plain form.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/support.h"
#include "io/dither.h"

namespace corvix::bench {
namespace {

// Files in the temporary directory, removed when the benchmarks end.
struct Files {
  std::string frame, frame16, out, bare;
  Files() {
    const std::string base =
        (std::filesystem::temp_directory_path() / ("corvix-io-bench-" + std::to_string(getpid())))
            .string();
    frame = base + ".ppm";
    frame16 = base + "-16.ppm";
    out = base + "-out.ppm";
    bare = base + "-bare.ppm";
    Bitmap *b = photo_bitmap(kHd, 3);
    gx_savebitmapasppm(b, frame.c_str());
    // The same frame with two-byte samples (v * 257 is v on the 65535 scale).
    if (FILE *f = std::fopen(frame16.c_str(), "wb")) {
      std::fprintf(f, "P6\n%d %d\n65535\n", b->width, b->height);
      for (int64_t i = 0; i < int64_t{3} * b->width * b->height; ++i) {
        std::fputc(b->pixels[i], f);
        std::fputc(b->pixels[i], f);
      }
      std::fclose(f);
    }
    gx_freebitmap(b);
  }
  ~Files() {
    for (const std::string *p : {&frame, &frame16, &out, &bare}) std::remove(p->c_str());
  }
};
Files &files() {
  static Files f;
  return f;
}

void set_bytes(benchmark::State &state, int64_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
  set_pixels(state, kHd);
}

void BM_PpmLoad(benchmark::State &state) {
  const std::string &path = state.range(0) == 16 ? files().frame16 : files().frame;
  for (auto _ : state) {
    Bitmap *b = gx_loadppmasbitmap(path.c_str());
    if (b == nullptr) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(b);
    gx_freebitmap(b);
  }
  set_bytes(state, static_cast<int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_PpmLoad)->Arg(8)->Arg(16)->UseRealTime();

// fopen, one fread of the whole file into a buffer, fclose: the floor for a load.
void BM_BareRead(benchmark::State &state) {
  const std::string &path = files().frame;
  const auto size = static_cast<size_t>(std::filesystem::file_size(path));
  std::vector<uint8_t> buffer(size);
  for (auto _ : state) {
    FILE *f = std::fopen(path.c_str(), "rb");
    const size_t got = std::fread(buffer.data(), 1, size, f);
    std::fclose(f);
    if (got != size) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.data());
  }
  set_bytes(state, static_cast<int64_t>(size));
}
BENCHMARK(BM_BareRead)->UseRealTime();

// The same read into a new bitmap's buffer each time, as a load must: the segment's memory
// (its pages are returned to the system every 64 MiB freed and faulted in again) costs the
// same here as in a load.
void BM_BareReadIntoBitmap(benchmark::State &state) {
  const std::string &path = files().frame;
  const auto size = static_cast<size_t>(std::filesystem::file_size(path));
  for (auto _ : state) {
    Bitmap *b = gx_allocrawbitmap(kHd.width, kHd.height, 3);
    FILE *f = std::fopen(path.c_str(), "rb");
    const size_t got = std::fread(b->pixels, 1, size - 16, f);  // all but the header's size
    std::fclose(f);
    if (got != size - 16) state.SkipWithError("short read");
    benchmark::DoNotOptimize(b->pixels);
    gx_freebitmap(b);
  }
  set_bytes(state, static_cast<int64_t>(size));
}
BENCHMARK(BM_BareReadIntoBitmap)->UseRealTime();

void BM_PpmSave(benchmark::State &state) {
  Bitmap *b = photo_bitmap(kHd, 3);
  for (auto _ : state)
    if (gx_savebitmapasppm(b, files().out.c_str()) != 1) state.SkipWithError("save failed");
  gx_freebitmap(b);
  set_bytes(state, static_cast<int64_t>(std::filesystem::file_size(files().out)));
}
BENCHMARK(BM_PpmSave)->UseRealTime();

// fopen "wb" over the same file, one fwrite of the whole file's bytes, fclose.
void BM_BareWrite(benchmark::State &state) {
  const std::vector<uint8_t> bytes = [] {
    std::FILE *f = std::fopen(files().frame.c_str(), "rb");
    std::vector<uint8_t> v(static_cast<size_t>(std::filesystem::file_size(files().frame)));
    if (std::fread(v.data(), 1, v.size(), f) != v.size()) v.clear();
    std::fclose(f);
    return v;
  }();
  for (auto _ : state) {
    FILE *f = std::fopen(files().bare.c_str(), "wb");
    const size_t put = std::fwrite(bytes.data(), 1, bytes.size(), f);
    if (std::fclose(f) != 0 || put != bytes.size()) state.SkipWithError("write failed");
  }
  set_bytes(state, static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_BareWrite)->UseRealTime();

void BM_Dither(benchmark::State &state) {
  Bitmap *src = photo_bitmap(kPal, 3);
  const auto method = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    Bitmap *out = gx_dither(src, method);
    benchmark::DoNotOptimize(out->pixels);
    gx_freebitmap(out);
  }
  gx_freebitmap(src);
  set_pixels(state, kPal);
}
BENCHMARK(BM_Dither)->DenseRange(1, 7);

void BM_DitherPlain(benchmark::State &state) {
  Bitmap *src = photo_bitmap(kPal, 3);
  const auto method = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    Bitmap *out = dither_reference(src, method);
    benchmark::DoNotOptimize(out->pixels);
    gx_freebitmap(out);
  }
  gx_freebitmap(src);
  set_pixels(state, kPal);
}
BENCHMARK(BM_DitherPlain)->Arg(1)->Arg(5);

// A bitmap made and released with the result's size: the floor under any dither.
void BM_AllocPalResult(benchmark::State &state) {
  for (auto _ : state) {
    Bitmap *out = gx_allocbitmap(kPal.width, kPal.height, 3);
    benchmark::DoNotOptimize(out->pixels);
    gx_freebitmap(out);
  }
  set_pixels(state, kPal);
}
BENCHMARK(BM_AllocPalResult);

}  // namespace
}  // namespace corvix::bench
