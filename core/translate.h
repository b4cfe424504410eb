// Translating bytes through 256-entry tables: one table for every byte, or three taken in
// turn for the bytes of three-byte pixels. Every routine that looks bytes up goes through
// these kernels or, inside a wider kernel of its own, through the register lookup below.
#ifndef CORVIX_CORE_TRANSLATE_H
#define CORVIX_CORE_TRANSLATE_H

#include <cstddef>
#include <cstdint>

#include "core/simd.h"

namespace corvix {

// bytes[k] = table[bytes[k]] for k < n.
void translate_bytes_plain(uint8_t *bytes, size_t n, const uint8_t table[256]);
void translate_bytes_avx512vbmi(uint8_t *bytes, size_t n, const uint8_t table[256]);
void translate_bytes(uint8_t *bytes, size_t n, const uint8_t table[256]);

// Byte c of each of `count` pixels becomes tables[c][byte] (c = 0, 1, 2).
void translate_pixels_plain(uint8_t *pixels, size_t count, const uint8_t (&tables)[3][256]);
void translate_pixels_avx512vbmi(uint8_t *pixels, size_t count, const uint8_t (&tables)[3][256]);
void translate_pixels(uint8_t *pixels, size_t count, const uint8_t (&tables)[3][256]);

#ifdef CORVIX_X86
// A 256-entry table held in four registers.
struct Table512 {
  __m512i q[4];
};

CORVIX_TARGET_VBMI CORVIX_ALWAYS_INLINE Table512 load_table512(const uint8_t *table) {
  return {{_mm512_loadu_si512(table), _mm512_loadu_si512(table + 64),
           _mm512_loadu_si512(table + 128), _mm512_loadu_si512(table + 192)}};
}

// table[v] for each of the 64 bytes v. A two-register permute looks 64 bytes up in 128
// entries using the low seven bits of each index; bit 7 picks which half's answer is kept.
CORVIX_TARGET_VBMI CORVIX_ALWAYS_INLINE __m512i lookup512(const Table512 &t, __m512i v) {
  const __m512i low = _mm512_permutex2var_epi8(t.q[0], v, t.q[1]);
  const __m512i high = _mm512_permutex2var_epi8(t.q[2], v, t.q[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
}

// The first n bytes of a register (all 64 from n = 64 up).
CORVIX_TARGET_VBMI CORVIX_ALWAYS_INLINE __mmask64 first_bytes512(size_t n) {
  return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
}
#endif

}  // namespace corvix

#endif
