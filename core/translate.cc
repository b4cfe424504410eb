// The table kernels: plain loops, and 64 bytes a step through register permutes.
#include "core/translate.h"

#include "core/cpu.h"

namespace corvix {

void translate_bytes_plain(uint8_t *bytes, size_t n, const uint8_t table[256]) {
  for (size_t k = 0; k < n; ++k) bytes[k] = table[bytes[k]];
}

void translate_pixels_plain(uint8_t *pixels, size_t count, const uint8_t (&tables)[3][256]) {
  for (size_t i = 0; i < count; ++i) {
    uint8_t *p = pixels + 3 * i;
    p[0] = tables[0][p[0]];
    p[1] = tables[1][p[1]];
    p[2] = tables[2][p[2]];
  }
}

#ifdef CORVIX_X86

// Two registers a step; the tail goes through masked loads and stores, which touch no byte
// outside the buffer.
CORVIX_TARGET_VBMI void translate_bytes_avx512vbmi(uint8_t *bytes, size_t n,
                                                   const uint8_t table[256]) {
  const Table512 t = load_table512(table);
  size_t k = 0;
  for (; k + 128 <= n; k += 128) {
    const __m512i a = _mm512_loadu_si512(bytes + k);
    const __m512i b = _mm512_loadu_si512(bytes + k + 64);
    _mm512_storeu_si512(bytes + k, lookup512(t, a));
    _mm512_storeu_si512(bytes + k + 64, lookup512(t, b));
  }
  for (; k < n; k += 64) {
    const __mmask64 m = first_bytes512(n - k);
    _mm512_mask_storeu_epi8(bytes + k, m, lookup512(t, _mm512_maskz_loadu_epi8(m, bytes + k)));
  }
}

namespace {

// The three tables; a byte is looked up in all three and each lane keeps the answer of the
// table of the channel it holds.
struct PixelTables {
  Table512 t[3];
  // select[phase][c]: lanes holding channel c in a run of 64 bytes whose first byte is
  // channel `phase`.
  __mmask64 select[3][3];
};

CORVIX_TARGET_VBMI CORVIX_ALWAYS_INLINE __m512i lookup_phase(const PixelTables &t, __m512i x,
                                                             int phase) {
  const __m512i r0 = lookup512(t.t[0], x), r1 = lookup512(t.t[1], x), r2 = lookup512(t.t[2], x);
  return _mm512_mask_blend_epi8(t.select[phase][2],
                                _mm512_mask_blend_epi8(t.select[phase][1], r0, r1), r2);
}

}  // namespace

CORVIX_TARGET_VBMI void translate_pixels_avx512vbmi(uint8_t *pixels, size_t count,
                                                    const uint8_t (&tables)[3][256]) {
  PixelTables t;
  for (int c = 0; c < 3; ++c) t.t[c] = load_table512(tables[c]);
  for (int phase = 0; phase < 3; ++phase)
    for (int c = 0; c < 3; ++c) {
      __mmask64 m = 0;
      for (int j = 0; j < 64; ++j)
        if ((phase + j) % 3 == c) m |= __mmask64{1} << j;
      t.select[phase][c] = m;
    }
  const size_t bytes = 3 * count;
  size_t i = 0;
  // 192 bytes are three registers whose first bytes are channels 0, 1 and 2 (64 = 1 mod 3).
  for (; i + 192 <= bytes; i += 192)
    for (int v = 0; v < 3; ++v) {
      uint8_t *p = pixels + i + 64 * v;
      _mm512_storeu_si512(p, lookup_phase(t, _mm512_loadu_si512(p), v));
    }
  for (; i < bytes; i += 64) {
    const __mmask64 m = first_bytes512(bytes - i);
    uint8_t *p = pixels + i;
    _mm512_mask_storeu_epi8(
        p, m, lookup_phase(t, _mm512_maskz_loadu_epi8(m, p), static_cast<int>((i % 192) / 64)));
  }
}

#else

void translate_bytes_avx512vbmi(uint8_t *bytes, size_t n, const uint8_t table[256]) {
  translate_bytes_plain(bytes, n, table);
}
void translate_pixels_avx512vbmi(uint8_t *pixels, size_t count, const uint8_t (&tables)[3][256]) {
  translate_pixels_plain(pixels, count, tables);
}

#endif

namespace {
using BytesFn = void (*)(uint8_t *, size_t, const uint8_t *);
using PixelsFn = void (*)(uint8_t *, size_t, const uint8_t (&)[3][256]);
constexpr Kernels<BytesFn> kTranslateBytes = CORVIX_KERNELS_VBMI(translate_bytes);
constexpr Kernels<PixelsFn> kTranslatePixels = CORVIX_KERNELS_VBMI(translate_pixels);
}  // namespace

void translate_bytes(uint8_t *bytes, size_t n, const uint8_t table[256]) {
  pick(kTranslateBytes)(bytes, n, table);
}

void translate_pixels(uint8_t *pixels, size_t count, const uint8_t (&tables)[3][256]) {
  pick(kTranslatePixels)(pixels, count, tables);
}

}  // namespace corvix
