// Contrast, brightness and negative correction through a per-call 256-entry table.
#include "effects/correct.h"

#include "core/bitmaps.h"
#include "core/parallel.h"
#include "corvix/effects.h"
#include "effects/frame.h"

#include "core/simd.h"

namespace corvix {

void build_level_table(uint8_t table[256], int32_t contrast, int32_t offset, int32_t invert) {
  // The precisions are part of the result: at contrast 15 the single-precision product puts
  // level 28 just below 113, so it truncates to 112.
  const float factor = static_cast<float>(contrast / 100.0);
  for (int32_t i = 0; i < 256; ++i) {
    const float p = static_cast<float>(i - 128) * factor;
    const double q = static_cast<double>(p) + 128.0;
    // |q| stays below 2^32 for any contrast, so the truncation and the offset fit 64 bits;
    // inside the 32-bit range this is the 32-bit sum, beyond it nothing wraps.
    const int64_t v = static_cast<int64_t>(q) + offset;
    const uint8_t level = static_cast<uint8_t>(v > 255 ? 255 : (v < 0 ? 0 : v));
    table[i] = invert != 0 ? static_cast<uint8_t>(255 - level) : level;
  }
}

void apply_table_plain(uint8_t *bytes, size_t n, const uint8_t table[256]) {
  for (size_t k = 0; k < n; ++k) bytes[k] = table[bytes[k]];
}

#ifdef CORVIX_X86

namespace {

// vpermi2b looks 64 bytes up in a 128-entry table held in two registers, using the low seven
// bits of each index; two such lookups (entries 0..127 and 128..255) and a select on the
// index's top bit make the full table.
struct Table512 {
  __m512i t0, t1, t2, t3;
};

CORVIX_TARGET_VBMI inline __m512i lookup512(const Table512 &t, __m512i idx) {
  const __m512i low = _mm512_permutex2var_epi8(t.t0, idx, t.t1);
  const __m512i high = _mm512_permutex2var_epi8(t.t2, idx, t.t3);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(idx), low, high);
}

}  // namespace

// The tail goes through masked loads and stores, which touch no byte outside the buffer.
CORVIX_TARGET_VBMI void apply_table_avx512vbmi(uint8_t *bytes, size_t n, const uint8_t table[256]) {
  const Table512 t{_mm512_loadu_si512(table), _mm512_loadu_si512(table + 64),
                   _mm512_loadu_si512(table + 128), _mm512_loadu_si512(table + 192)};
  size_t k = 0;
  for (; k + 128 <= n; k += 128) {
    const __m512i a = _mm512_loadu_si512(bytes + k);
    const __m512i b = _mm512_loadu_si512(bytes + k + 64);
    _mm512_storeu_si512(bytes + k, lookup512(t, a));
    _mm512_storeu_si512(bytes + k + 64, lookup512(t, b));
  }
  for (; k < n; k += 64) {
    const size_t left = n - k;
    const __mmask64 m = left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
    const __m512i a = _mm512_maskz_loadu_epi8(m, bytes + k);
    _mm512_mask_storeu_epi8(bytes + k, m, lookup512(t, a));
  }
}
#else
void apply_table_avx512vbmi(uint8_t *bytes, size_t n, const uint8_t table[256]) {
  apply_table_plain(bytes, n, table);
}
#endif

void apply_table(uint8_t *bytes, size_t n, const uint8_t table[256]) {
  if (best_isa() == Isa::kAvx512Vbmi)
    apply_table_avx512vbmi(bytes, n, table);
  else
    apply_table_plain(bytes, n, table);
}

}  // namespace corvix

extern "C" {

void cvx_correct_ll(Bitmap *frame, int32_t contrast, int32_t offset, int32_t invert) {
  const int64_t n = corvix::require_own_bitmap(frame, "frame");
  if (n <= 0) return;
  uint8_t table[256];
  corvix::build_level_table(table, contrast, offset, invert);
  corvix::for_items(n, 4096, n * corvix::kStreamCost, [&](int64_t first, int64_t end) {
    corvix::apply_table(frame->pixels + first, static_cast<size_t>(end - first), table);
  });
}

}  // extern "C"
