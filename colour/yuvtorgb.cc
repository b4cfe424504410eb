// YUV to three-byte pixels: one chroma pair per group of N pixels, whole groups only.
#include "core/error.h"
#include "core/cpu.h"
#include "core/parallel.h"
#include "core/simd.h"
#include "colour/yuv_tables.h"
#include "colour/yuvtorgb_simd.h"
#include "corvix/colour.h"

namespace corvix {

void yuv_to_rgb_plain(const uint8_t *y, const uint8_t *cr, const uint8_t *cb, uint8_t *destination,
                      uint32_t count, uint32_t group) {
  // Outside the domain: a count of 0 would still convert one group, a group of 0 would never
  // end. Both convert nothing.
  if (count == 0 || group == 0) return;
  YuvTables t;
  build_yuv_tables(t);
  uint32_t done = 0;
  do {
    const uint8_t r = *cr++, b = *cb++;
    const int32_t blue = t.cb_blue[b], red = t.cr_red[r];
    const int32_t green = t.cb_green[b] + t.cr_green[r];
    for (uint32_t j = 0; j < group; ++j) {
      yuv_pixel(t.luma[*y++], blue, green, red, destination);
      destination += 3;
    }
    done += group;
  } while (done < count && done >= group);  // the second test stops a counter that wrapped
}

namespace {
using GroupsFn = void (*)(const uint8_t *, const uint8_t *, const uint8_t *, uint8_t *, size_t,
                          uint32_t);
// Whole groups at a time; the plain loop, with its own way of counting, is the fallback.
constexpr Kernels<GroupsFn> kVectorGroups{.plain = nullptr,
                                          .avx2 = CORVIX_X86_KERNEL(yuv_to_rgb_avx2),
                                          .avx512vbmi = CORVIX_X86_KERNEL(yuv_to_rgb_avx512vbmi)};
}  // namespace

}  // namespace corvix

extern "C" {

void fx_yuvtorgb_ll(const uint8_t *y, const uint8_t *cr, const uint8_t *cb, uint8_t *destination,
                    uint32_t count, uint32_t group) {
  if (group == 0) {
    corvix::set_error(CORVIX_E_INVALID, "group of 0 pixels per chroma pair");
    return;
  }
  if (count > 0 && (y == nullptr || cr == nullptr || cb == nullptr || destination == nullptr)) {
    corvix::set_error(CORVIX_E_INVALID, "%s is NULL",
                      y == nullptr    ? "Y plane"
                      : cr == nullptr ? "Cr plane"
                      : cb == nullptr ? "Cb plane"
                                      : "destination");
    return;
  }
  if (count == 0) return;  // nothing to convert
  // The picked whole-group kernel, or null for the plain loop (no such kernel at this level,
  // or a group size it does not take).
  const corvix::GroupsFn picked = corvix::pick(corvix::kVectorGroups);
  const corvix::GroupsFn fast = corvix::yuv_vector_group(group) ? picked : nullptr;
  // The plain loop's group count: the count raised to whole groups (its last group may carry
  // the 32-bit pixel counter past 2^32, which ends the loop there; such a call stays whole).
  const size_t groups = (size_t{count} + group - 1) / group;
  const bool whole = uint64_t{groups} * group > UINT32_MAX;
  // Runs of whole groups, each converted as a call of its own: a group's pixels depend only
  // on its own bytes.
  const int64_t work = static_cast<int64_t>(groups) * group * 3 * corvix::kStreamCost;
  corvix::for_items(whole ? 1 : static_cast<int64_t>(groups), 64, work,
                    [&](int64_t first, int64_t end) {
                      const size_t g0 = whole ? 0 : static_cast<size_t>(first);
                      const size_t n = whole ? groups : static_cast<size_t>(end) - g0;
                      const uint8_t *ys = y + g0 * group;
                      uint8_t *out = destination + g0 * group * 3;
                      if (fast == nullptr) {
                        const uint32_t pixels = whole || g0 + n == groups
                                                    ? count - static_cast<uint32_t>(g0 * group)
                                                    : static_cast<uint32_t>(n * group);
                        corvix::yuv_to_rgb_plain(ys, cr + g0, cb + g0, out, pixels, group);
                      } else {
                        fast(ys, cr + g0, cb + g0, out, n, group);
                      }
                    });
}

void gx_yuv_to_rgb(const uint8_t *y, const uint8_t *cr, const uint8_t *cb, uint8_t *destination,
                   uint32_t count, uint32_t group) {
  fx_yuvtorgb_ll(y, cr, cb, destination, count, group);
}

void gx_yuvtorgb(const uint8_t *y, const uint8_t *cr, const uint8_t *cb, uint8_t *destination,
                 uint32_t count) {
  gx_yuv_to_rgb(y, cr, cb, destination, count, 4);
}

}  // extern "C"
