// Fades: cross-fade of two frames, raising dark bytes, replacing dark bytes by another frame.
// All three work byte by byte, so the channels of a colour pixel are treated independently.
#include "effects/fade.h"

#include <cstring>

#include "core/bitmaps.h"
#include "core/cpu.h"
#include "core/parallel.h"
#include "core/pixels.h"
#include "core/simd.h"
#include "corvix/effects.h"

namespace corvix {
namespace {

// The loops are written once and compiled for each level: plain indexed loops over bytes
// that the compiler vectorises (with a run-time overlap check, so the output may share a
// buffer with an input and still see every input byte before it is written).

CORVIX_ALWAYS_INLINE void fade_loop(const uint8_t *a, const uint8_t *b, uint8_t *output, size_t n,
                                    uint8_t level) {
  // b * level + a * (255 - level) is at most 255 * 255, so 16 bits hold the whole sum and
  // its quotient by 255 is the truncated 32-bit one.
  const uint16_t wb = level, wa = static_cast<uint16_t>(255 - level);
  for (size_t k = 0; k < n; ++k) {
    const uint16_t sum = static_cast<uint16_t>(b[k] * wb + a[k] * wa);
    output[k] = static_cast<uint8_t>(sum / 255);
  }
}

CORVIX_ALWAYS_INLINE void raise_loop(uint8_t *bytes, size_t n, uint8_t floor) {
  for (size_t k = 0; k < n; ++k) {
    const uint8_t v = bytes[k];
    bytes[k] = v < floor ? floor : v;
  }
}

CORVIX_ALWAYS_INLINE void replace_loop(uint8_t *a, const uint8_t *b, size_t n, uint8_t threshold) {
  // Both bytes are read whatever the comparison gives, so the select needs no branch.
  for (size_t k = 0; k < n; ++k) {
    const uint8_t v = a[k], w = b[k];
    a[k] = v < threshold ? w : v;
  }
}

void fade_plain(const uint8_t *a, const uint8_t *b, uint8_t *o, size_t n, uint8_t level) {
  fade_loop(a, b, o, n, level);
}
void raise_plain(uint8_t *bytes, size_t n, uint8_t floor) { raise_loop(bytes, n, floor); }
void replace_plain(uint8_t *a, const uint8_t *b, size_t n, uint8_t threshold) {
  replace_loop(a, b, n, threshold);
}

// True when the n bytes at p and at q are the same bytes or share none. Whole-block kernels
// read a block of both inputs before writing its output, which keeps the byte order's
// result in exactly these two cases.
bool same_or_apart(const uint8_t *p, const uint8_t *q, size_t n) {
  const auto x = reinterpret_cast<uintptr_t>(p), y = reinterpret_cast<uintptr_t>(q);
  return x == y || x + n <= y || y + n <= x;
}

#ifdef CORVIX_X86
// The cross-fade in one multiply-add per byte pair. pmaddubsw multiplies unsigned bytes by
// signed ones and adds neighbours: with the weights (255 - level, level) as the unsigned
// side and the pixels moved to -128..127 (top bit flipped) as the signed side, each 16-bit
// lane gets a' * (255 - level) + b' * level, within -32640..32385, so it never saturates.
// Adding 128 * 255 gives the sum of the byte formula, 0..65025, and the high half of its
// product with 0x8081, shifted right by 7, is its quotient by 255 for every such sum.
// Unpacking and packing both work within 128-bit lanes, so the bytes come out in order.
CORVIX_TARGET_AVX2 void fade_avx2(const uint8_t *a, const uint8_t *b, uint8_t *o, size_t n,
                                  uint8_t level) {
  const __m256i w = _mm256_set1_epi16(static_cast<int16_t>((255 - level) | (level << 8)));
  const __m256i flip = _mm256_set1_epi8(static_cast<char>(0x80));
  const __m256i base = _mm256_set1_epi16(128 * 255);
  const __m256i magic = _mm256_set1_epi16(static_cast<int16_t>(0x8081));
  size_t k = 0;
  for (; k + 32 <= n; k += 32) {
    const __m256i va =
        _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(a + k)), flip);
    const __m256i vb =
        _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + k)), flip);
    __m256i lo = _mm256_maddubs_epi16(w, _mm256_unpacklo_epi8(va, vb));
    __m256i hi = _mm256_maddubs_epi16(w, _mm256_unpackhi_epi8(va, vb));
    lo = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_add_epi16(lo, base), magic), 7);
    hi = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_add_epi16(hi, base), magic), 7);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(o + k), _mm256_packus_epi16(lo, hi));
  }
  fade_loop(a + k, b + k, o + k, n - k, level);
}

// The same in 64-byte blocks.
CORVIX_TARGET_AVX512 void fade_avx512(const uint8_t *a, const uint8_t *b, uint8_t *o, size_t n,
                                      uint8_t level) {
  const __m512i w = _mm512_set1_epi16(static_cast<int16_t>((255 - level) | (level << 8)));
  const __m512i flip = _mm512_set1_epi8(static_cast<char>(0x80));
  const __m512i base = _mm512_set1_epi16(128 * 255);
  const __m512i magic = _mm512_set1_epi16(static_cast<int16_t>(0x8081));
  size_t k = 0;
  for (; k + 64 <= n; k += 64) {
    const __m512i va = _mm512_xor_si512(_mm512_loadu_si512(a + k), flip);
    const __m512i vb = _mm512_xor_si512(_mm512_loadu_si512(b + k), flip);
    __m512i lo = _mm512_maddubs_epi16(w, _mm512_unpacklo_epi8(va, vb));
    __m512i hi = _mm512_maddubs_epi16(w, _mm512_unpackhi_epi8(va, vb));
    lo = _mm512_srli_epi16(_mm512_mulhi_epu16(_mm512_add_epi16(lo, base), magic), 7);
    hi = _mm512_srli_epi16(_mm512_mulhi_epu16(_mm512_add_epi16(hi, base), magic), 7);
    _mm512_storeu_si512(o + k, _mm512_packus_epi16(lo, hi));
  }
  fade_loop(a + k, b + k, o + k, n - k, level);
}

CORVIX_TARGET_AVX2 void raise_avx2(uint8_t *bytes, size_t n, uint8_t floor) {
  raise_loop(bytes, n, floor);
}
CORVIX_TARGET_AVX2 void replace_avx2(uint8_t *a, const uint8_t *b, size_t n, uint8_t threshold) {
  replace_loop(a, b, n, threshold);
}
CORVIX_TARGET_AVX512 void raise_avx512(uint8_t *bytes, size_t n, uint8_t floor) {
  raise_loop(bytes, n, floor);
}
CORVIX_TARGET_AVX512 void replace_avx512(uint8_t *a, const uint8_t *b, size_t n,
                                         uint8_t threshold) {
  replace_loop(a, b, n, threshold);
}
#endif

}  // namespace

namespace {
using FadeFn = void (*)(const uint8_t *, const uint8_t *, uint8_t *, size_t, uint8_t);
using RaiseFn = void (*)(uint8_t *, size_t, uint8_t);
using ReplaceFn = void (*)(uint8_t *, const uint8_t *, size_t, uint8_t);
constexpr Kernels<FadeFn> kFade = CORVIX_KERNELS_AVX(fade);
constexpr Kernels<RaiseFn> kRaise = CORVIX_KERNELS_AVX(raise);
constexpr Kernels<ReplaceFn> kReplace = CORVIX_KERNELS_AVX(replace);
}  // namespace

void fade_bytes(const uint8_t *a, const uint8_t *b, uint8_t *output, size_t n, uint8_t level) {
  // An output that partly overlaps an input must see earlier outputs as inputs: byte order,
  // which only the plain loop keeps.
  const bool blocks = same_or_apart(a, output, n) && same_or_apart(b, output, n);
  (blocks ? pick(kFade) : fade_plain)(a, b, output, n, level);
}

void raise_bytes(uint8_t *bytes, size_t n, uint8_t floor) { pick(kRaise)(bytes, n, floor); }

void replace_below(uint8_t *a, const uint8_t *b, size_t n, uint8_t threshold) {
  pick(kReplace)(a, b, n, threshold);
}

namespace {

// Byte runs across threads are cut at multiples of this (whole cache lines and vector steps).
constexpr int64_t kByteGrain = 4096;

// The level compared with every byte, widened so that level + 1 cannot overflow.
int64_t threshold_of(int32_t level) { return int64_t{level} + 1; }

void special_fade_over(Bitmap *a, const uint8_t *b, int32_t level) {
  const int64_t n = require_own_bitmap(a, "frame A");
  if (n <= 0) return;
  if (b == nullptr) {
    set_error(CORVIX_E_INVALID, "frame B is NULL");
    return;
  }
  const int64_t t = threshold_of(level);
  if (t <= 0) return;  // no byte lies below the threshold
  if (t > 255) {
    // Every byte lies below: all of B. memmove stays defined for a B that shares bytes with
    // A, which only a confused caller passes.
    std::memmove(a->pixels, b, static_cast<size_t>(n));
    return;
  }
  for_items(n, kByteGrain, n * kStreamCost, [&](int64_t first, int64_t end) {
    replace_below(a->pixels + first, b + first, static_cast<size_t>(end - first),
                  static_cast<uint8_t>(t));
  });
}

}  // namespace
}  // namespace corvix

extern "C" {

void cvx_fadeover_ll(const uint8_t *a, const uint8_t *b, uint8_t *output, int32_t level,
                     int32_t width, int32_t height, int32_t bytes_per_pixel) {
  using namespace corvix;
  const int64_t n =
      require_size("width x height x bytes per pixel", width, height, bytes_per_pixel);
  if (n <= 0) return;
  if (a == nullptr || b == nullptr || output == nullptr) {
    set_error(CORVIX_E_INVALID, "frame %s is NULL",
              a == nullptr   ? "A"
              : b == nullptr ? "B"
                             : "output");
    return;
  }
  const uint8_t l = corvix::clamp255(level);
  const auto size = static_cast<size_t>(n);
  // An output that partly overlaps an input sees earlier outputs as inputs: one pass in
  // byte order, not split.
  if (!corvix::same_or_apart(a, output, size) || !corvix::same_or_apart(b, output, size)) {
    corvix::fade_bytes(a, b, output, size, l);
    return;
  }
  corvix::for_items(n, corvix::kByteGrain, n * corvix::kStreamCost,
                    [&](int64_t first, int64_t end) {
                      corvix::fade_bytes(a + first, b + first, output + first,
                                         static_cast<size_t>(end - first), l);
                    });
}

void cvx_specialfade_ll(Bitmap *frame, int32_t level) {
  const int64_t n = corvix::require_own_bitmap(frame, "frame");
  if (n <= 0) return;
  const int64_t t = corvix::threshold_of(level);
  if (t <= 0) return;  // no byte lies below the threshold
  // Bytes below the threshold are raised to it; from 256 up every byte is below it and
  // becomes the highest level a byte holds.
  const uint8_t floor = t > 255 ? 255 : static_cast<uint8_t>(t);
  corvix::for_items(
      n, corvix::kByteGrain, n * corvix::kStreamCost, [&](int64_t first, int64_t end) {
        corvix::raise_bytes(frame->pixels + first, static_cast<size_t>(end - first), floor);
      });
}

void cvx_specialfadeover_ll(Bitmap *a, const uint8_t *b, int32_t level) {
  corvix::special_fade_over(a, b, level);
}

void cvx_flickerover_ll(Bitmap *a, const uint8_t *b, int32_t level) {
  corvix::special_fade_over(a, b, level);
}

}  // extern "C"
