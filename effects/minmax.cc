// Level statistics of a frame of three-byte pixels, and the level stretch through tables.
#include <algorithm>

#include "core/bitmaps.h"
#include "core/parallel.h"
#include "core/pixels.h"
#include "corvix/effects.h"
#include "core/translate.h"
#include "effects/frame_kernels.h"

namespace corvix {

ChannelRanges channel_ranges_plain(const uint8_t *pixels, int64_t count) {
  ChannelRanges r{{255, 255, 255}, {0, 0, 0}};
  for (int64_t i = 0; i < count; ++i)
    for (int c = 0; c < 3; ++c) {
      const int32_t v = pixels[3 * i + c];
      if (v > r.high[c]) r.high[c] = v;
      if (v < r.low[c]) r.low[c] = v;
    }
  return r;
}

ChannelRanges channel_ranges(const uint8_t *pixels, int64_t count) {
  // Sixteen pixels at a time into 48 running lanes (lane j follows byte j % 3), a loop the
  // compiler turns into vector minimum and maximum; the lanes then fold into the channels.
  constexpr int kLanes = 48;
  uint8_t low[kLanes], high[kLanes];
  std::fill_n(low, kLanes, uint8_t{255});
  std::fill_n(high, kLanes, uint8_t{0});
  const int64_t blocks = count / 16;
  for (int64_t b = 0; b < blocks; ++b) {
    const uint8_t *p = pixels + b * kLanes;
    for (int j = 0; j < kLanes; ++j) {
      const uint8_t v = p[j];
      low[j] = v < low[j] ? v : low[j];
      high[j] = v > high[j] ? v : high[j];
    }
  }
  ChannelRanges r = channel_ranges_plain(pixels + blocks * kLanes, count - blocks * 16);
  for (int j = 0; j < kLanes; ++j) {
    r.low[j % 3] = std::min<int32_t>(r.low[j % 3], low[j]);
    r.high[j % 3] = std::max<int32_t>(r.high[j % 3], high[j]);
  }
  return r;
}

namespace {

// The table that maps low..high (in either order) onto 0..255: values at or below low give
// 0, at or above high 255, between them (v - low) * 255 / span truncated; an empty span
// counts as 1. Formed in 64 bits, so bounds too far apart for 32-bit products still give
// the straight line instead of a wrapped one.
void range_table(int32_t low, int32_t high, uint8_t (&table)[256]) {
  if (high < low) std::swap(low, high);
  int64_t span = int64_t{high} - low;
  if (span == 0) span = 1;
  for (int32_t i = 0; i < 256; ++i) {
    const int64_t k = std::min<int64_t>(std::max(i, low), high);
    table[i] = static_cast<uint8_t>((k - low) * 255 / span);
  }
}

LevelRange *new_level_range(int32_t minimum, int32_t maximum) {
  auto *range = static_cast<LevelRange *>(alloc_bytes(sizeof(LevelRange), MEMF_CLEAR));
  if (range == nullptr) return nullptr;
  range->minimum = minimum;
  range->maximum = maximum;
  return range;
}

}  // namespace
}  // namespace corvix

extern "C" {

LevelRange *fxx_findminmax_ll(const Bitmap *frame, int32_t channel) {
  const int64_t bytes = corvix::require_bitmap(frame, 3, "frame");
  if (bytes < 0) return nullptr;
  const int64_t count = bytes / 3;
  const uint8_t *p = frame->pixels;
  int32_t minimum = 255, maximum = 0;
  if (channel == 0) {
    for (int64_t i = 0; i < count; ++i) {
      const int32_t v = (p[3 * i] + p[3 * i + 1] + p[3 * i + 2]) / 3;
      if (v > maximum) maximum = v;
      if (v < minimum) minimum = v;
    }
  } else if (channel >= 1 && channel <= 3) {
    const corvix::ChannelRanges r = corvix::channel_ranges(p, count);
    minimum = r.low[channel - 1];
    maximum = r.high[channel - 1];
  }
  return corvix::new_level_range(minimum, maximum);
}

void fxx_minmax_ll(Bitmap *frame, int32_t red_low, int32_t red_high, int32_t green_low,
                   int32_t green_high, int32_t blue_low, int32_t blue_high, int32_t master_low,
                   int32_t master_high) {
  const int64_t bytes = corvix::require_bitmap(frame, 3, "frame");
  if (bytes < 0) return;
  uint8_t tables[3][256], master[256];
  corvix::range_table(red_low, red_high, tables[0]);
  corvix::range_table(green_low, green_high, tables[1]);
  corvix::range_table(blue_low, blue_high, tables[2]);
  corvix::range_table(master_low, master_high, master);
  for (auto &table : tables)
    for (uint8_t &entry : table) entry = master[entry];
  // Runs of whole pixels, 64 at a time (whole vector steps).
  corvix::for_items(bytes / 3, 64, bytes * corvix::kStreamCost, [&](int64_t first, int64_t end) {
    corvix::translate_pixels(frame->pixels + first * 3, static_cast<size_t>(end - first), tables);
  });
}

void fxx_min_max_ll(Bitmap *frame) {
  const int64_t bytes = corvix::require_bitmap(frame, 3, "frame");
  if (bytes < 0) return;
  // One walk measures all three channels; the frame is not written until the stretch, so
  // this reads as three walks would. The three records are made and released as the
  // separate measurements make them: a failure leaves the frame as it was.
  const corvix::ChannelRanges r = corvix::channel_ranges(frame->pixels, bytes / 3);
  LevelRange *red = corvix::new_level_range(r.low[0], r.high[0]);
  if (red == nullptr) return;
  LevelRange *green = corvix::new_level_range(r.low[1], r.high[1]);
  if (green == nullptr) {
    PPCFreeVec(red);
    return;
  }
  LevelRange *blue = corvix::new_level_range(r.low[2], r.high[2]);
  if (blue == nullptr) {
    PPCFreeVec(green);
    PPCFreeVec(red);
    return;
  }
  fxx_minmax_ll(frame, red->minimum, red->maximum, green->minimum, green->maximum, blue->minimum,
                blue->maximum, 0, 255);
  PPCFreeVec(blue);
  PPCFreeVec(green);
  PPCFreeVec(red);
}

int32_t fx_minmax(int32_t value, int32_t low, int32_t high) {
  int32_t result = value < low ? low : value;
  if (result > high) result = high;
  return result;
}

void fxm_perc(int32_t) {}

}  // extern "C"
