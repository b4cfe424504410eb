// Vector kernels for the YUV to three-byte conversion, byte-identical to the table loop.
//
// The five tables are truncated products trunc(v * k) with v = sample - 16 or sample - 128.
// Written as k = a + f with a whole and |f| < 1/2, floor(v * k) = a * v + floor(v * f), and
// floor(v * f) is the high half of a 16-bit product with f * 65536 rounded so that the error
// stays below the distance to the next whole number for every v of the range (no product of
// the range is whole except at v = 0). Truncation toward zero adds 1 where v < 0. The
// yuv_terms_* functions let a test hold every term to its table for all 256 samples.
//
// Per pixel the sums l + blue, l - green and l + red fit 16 bits; the saturating pack to bytes
// is the clamp to 0..255.
#include "colour/yuvtorgb_simd.h"

#include <array>
#include <cstring>

#include "core/simd.h"
#include "colour/yuv_tables.h"

namespace corvix {

#ifdef CORVIX_X86
namespace {

// floor(v * f) as (v * m) >> 16 for the fractional parts f of 1.164, 1.596 (= 2 - 0.404),
// 0.813 (= 1 - 0.187), 2.018 and 0.391.
constexpr int16_t kLumaFrac = 10748;      // 0.164
constexpr int16_t kCrRedFrac = -26477;    // -0.404
constexpr int16_t kCrGreenFrac = -12255;  // -0.187
constexpr int16_t kCbBlueFrac = 1180;     // 0.018
constexpr int16_t kCbGreenFrac = 25625;   // 0.391

// ---------------------------------------------------------------------------------------
// AVX-512 VBMI: 64 pixels a step in 16-bit lanes, even pixels in one register and odd ones in
// the other, so a byte load splits into words with one mask and one shift; the final byte
// permutes undo the split while they interleave the three bytes of each pixel.

struct Terms512 {
  __m512i blue, green, red;
};

CORVIX_TARGET_VBMI inline __m512i negative512(__m512i v) { return _mm512_srli_epi16(v, 15); }

// a * v + floor(v * f) + (v < 0): trunc(v * (a + f)) for 16-bit lanes.
template <int kWhole>
CORVIX_TARGET_VBMI inline __m512i trunc_product512(__m512i v, int16_t frac) {
  __m512i r = _mm512_add_epi16(_mm512_mulhi_epi16(v, _mm512_set1_epi16(frac)), negative512(v));
  for (int i = 0; i < kWhole; ++i) r = _mm512_add_epi16(r, v);
  return r;
}

CORVIX_TARGET_VBMI inline __m512i luma512(__m512i y) {
  return trunc_product512<1>(_mm512_sub_epi16(y, _mm512_set1_epi16(16)), kLumaFrac);
}
CORVIX_TARGET_VBMI inline __m512i centred512(__m512i c) {
  return _mm512_sub_epi16(c, _mm512_set1_epi16(128));
}
CORVIX_TARGET_VBMI inline __m512i cr_red512(__m512i c) {
  return trunc_product512<2>(centred512(c), kCrRedFrac);
}
CORVIX_TARGET_VBMI inline __m512i cr_green512(__m512i c) {
  return trunc_product512<1>(centred512(c), kCrGreenFrac);
}
CORVIX_TARGET_VBMI inline __m512i cb_blue512(__m512i c) {
  return trunc_product512<2>(centred512(c), kCbBlueFrac);
}
CORVIX_TARGET_VBMI inline __m512i cb_green512(__m512i c) {
  return trunc_product512<0>(centred512(c), kCbGreenFrac);
}

CORVIX_TARGET_VBMI inline Terms512 chroma512(__m512i cr, __m512i cb) {
  return {cb_blue512(cb), _mm512_add_epi16(cr_green512(cr), cb_green512(cb)), cr_red512(cr)};
}

// Where each of the 192 output bytes of a 64-pixel step comes from. The packs give
// A = (byte 0, byte 1) of the even pixels, B = the same of the odd pixels, C = byte 2 of
// both; per 16-byte lane k each holds eight pixels' values, 8 * k .. 8 * k + 7 of its half.
// Bytes 0 and 1 are taken from A:B by a two-register permute (index + 64 selects B), byte 2
// is then laid over from C by a masked one-register permute with the same index vector.
struct Interleave512 {
  alignas(64) uint8_t index[192];
  uint64_t from_c[3];
};

constexpr Interleave512 make_interleave512() {
  Interleave512 t{};
  for (int o = 0; o < 192; ++o) {
    const int pixel = o / 3, byte = o % 3, odd = pixel & 1, j = pixel >> 1;
    const int lane = 16 * (j >> 3), at = j & 7;
    if (byte < 2) {
      t.index[o] = static_cast<uint8_t>(lane + 8 * byte + at + 64 * odd);
    } else {
      t.index[o] = static_cast<uint8_t>(lane + 8 * odd + at);
      t.from_c[o / 64] |= uint64_t{1} << (o % 64);
    }
  }
  return t;
}

constexpr Interleave512 kInterleave512 = make_interleave512();

// Group size 4: lane j of the even and of the odd pixels of step h takes group 16 * h + j / 2
// of the 32 groups whose terms are computed at once.
constexpr std::array<std::array<uint16_t, 32>, 2> make_spread4() {
  std::array<std::array<uint16_t, 32>, 2> t{};
  for (int h = 0; h < 2; ++h)
    for (int j = 0; j < 32; ++j) t[h][j] = static_cast<uint16_t>(16 * h + j / 2);
  return t;
}
alignas(64) constexpr std::array<std::array<uint16_t, 32>, 2> kSpread4 = make_spread4();

constexpr std::array<uint8_t, 64> make_widen() {
  std::array<uint8_t, 64> t{};
  for (int j = 0; j < 32; ++j) t[2 * j] = static_cast<uint8_t>(j);
  return t;
}
alignas(64) constexpr std::array<uint8_t, 64> kWiden = make_widen();

// The low 32 bytes of v as 32 words: byte j goes to the low half of word j, zeros above.
CORVIX_TARGET_VBMI inline __m512i widen512(__m512i v) {
  return _mm512_maskz_permutexvar_epi8(__mmask64{0x5555555555555555},
                                       _mm512_load_si512(kWiden.data()), v);
}

CORVIX_TARGET_VBMI inline __mmask64 first_bytes(size_t n) {
  return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
}

// Converts `n` (1..64) pixels: `y` holds their Y bytes, `even` and `odd` the chroma terms of
// the even and the odd pixels. Writes exactly 3 * n bytes.
CORVIX_TARGET_VBMI inline void step512(__m512i y, const Terms512 &even, const Terms512 &odd,
                                       uint8_t *out, size_t n) {
  const __m512i low = _mm512_set1_epi16(0xFF);
  const __m512i le = luma512(_mm512_and_si512(y, low));
  const __m512i lo = luma512(_mm512_srli_epi16(y, 8));
  const __m512i a =
      _mm512_packus_epi16(_mm512_add_epi16(le, even.blue), _mm512_sub_epi16(le, even.green));
  const __m512i b =
      _mm512_packus_epi16(_mm512_add_epi16(lo, odd.blue), _mm512_sub_epi16(lo, odd.green));
  const __m512i c =
      _mm512_packus_epi16(_mm512_add_epi16(le, even.red), _mm512_add_epi16(lo, odd.red));
  __m512i v[3];
  for (int q = 0; q < 3; ++q) {
    const __m512i index = _mm512_load_si512(kInterleave512.index + 64 * q);
    v[q] = _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(a, index, b),
                                        kInterleave512.from_c[q], index, c);
  }
  if (n == 64) {
    for (int q = 0; q < 3; ++q) _mm512_storeu_si512(out + 64 * q, v[q]);
  } else {
    for (size_t q = 0; 64 * q < 3 * n; ++q)
      _mm512_mask_storeu_epi8(out + 64 * q, first_bytes(3 * n - 64 * q), v[q]);
  }
}

CORVIX_TARGET_VBMI void group1_512(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                                   uint8_t *out, size_t pixels) {
  const __m512i low = _mm512_set1_epi16(0xFF);
  for (size_t done = 0; done < pixels; done += 64) {
    const size_t n = pixels - done < 64 ? pixels - done : 64;
    const __mmask64 m = first_bytes(n);
    const __m512i r = _mm512_maskz_loadu_epi8(m, cr + done);
    const __m512i b = _mm512_maskz_loadu_epi8(m, cb + done);
    const Terms512 even = chroma512(_mm512_and_si512(r, low), _mm512_and_si512(b, low));
    const Terms512 odd = chroma512(_mm512_srli_epi16(r, 8), _mm512_srli_epi16(b, 8));
    step512(_mm512_maskz_loadu_epi8(m, y + done), even, odd, out + 3 * done, n);
  }
}

// Pixels 2j and 2j + 1 share group j: the even and the odd lanes take the same terms.
CORVIX_TARGET_VBMI void group2_512(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                                   uint8_t *out, size_t groups) {
  for (size_t g = 0; g < groups; g += 32) {
    const size_t n = groups - g < 32 ? groups - g : 32;
    const __mmask64 m = first_bytes(n);
    const Terms512 t = chroma512(widen512(_mm512_maskz_loadu_epi8(m, cr + g)),
                                 widen512(_mm512_maskz_loadu_epi8(m, cb + g)));
    step512(_mm512_maskz_loadu_epi8(first_bytes(2 * n), y + 2 * g), t, t, out + 6 * g, 2 * n);
  }
}

// 32 groups' terms at once, spread over two 64-pixel steps.
CORVIX_TARGET_VBMI void group4_512(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                                   uint8_t *out, size_t groups) {
  const __m512i spread[2] = {_mm512_load_si512(kSpread4[0].data()),
                             _mm512_load_si512(kSpread4[1].data())};
  for (size_t g = 0; g < groups; g += 32) {
    const size_t n = groups - g < 32 ? groups - g : 32;
    const __mmask64 m = first_bytes(n);
    const Terms512 t = chroma512(widen512(_mm512_maskz_loadu_epi8(m, cr + g)),
                                 widen512(_mm512_maskz_loadu_epi8(m, cb + g)));
    for (size_t h = 0; h < 2 && 64 * h < 4 * n; ++h) {
      const size_t pixels = 4 * n - 64 * h < 64 ? 4 * n - 64 * h : 64;
      const Terms512 s{_mm512_permutexvar_epi16(spread[h], t.blue),
                       _mm512_permutexvar_epi16(spread[h], t.green),
                       _mm512_permutexvar_epi16(spread[h], t.red)};
      const uint8_t *yp = y + 4 * g + 64 * h;
      step512(_mm512_maskz_loadu_epi8(first_bytes(pixels), yp), s, s, out + 12 * g + 192 * h,
              pixels);
    }
  }
}

// ---------------------------------------------------------------------------------------
// AVX2: 32 pixels a step, split into even and odd pixels the same way. Byte shuffles stay
// inside 16-byte lanes, so each lane converts 16 pixels into 48 bytes and the three results
// are put in order by lane moves. The last partial step runs on zero-padded copies on the
// stack and only its own bytes are copied out.

struct Terms256 {
  __m256i blue, green, red;
};

template <int kWhole>
CORVIX_TARGET_AVX2 inline __m256i trunc_product256(__m256i v, int16_t frac) {
  __m256i r =
      _mm256_add_epi16(_mm256_mulhi_epi16(v, _mm256_set1_epi16(frac)), _mm256_srli_epi16(v, 15));
  for (int i = 0; i < kWhole; ++i) r = _mm256_add_epi16(r, v);
  return r;
}

CORVIX_TARGET_AVX2 inline __m256i luma256(__m256i y) {
  return trunc_product256<1>(_mm256_sub_epi16(y, _mm256_set1_epi16(16)), kLumaFrac);
}
CORVIX_TARGET_AVX2 inline __m256i centred256(__m256i c) {
  return _mm256_sub_epi16(c, _mm256_set1_epi16(128));
}
CORVIX_TARGET_AVX2 inline __m256i cr_red256(__m256i c) {
  return trunc_product256<2>(centred256(c), kCrRedFrac);
}
CORVIX_TARGET_AVX2 inline __m256i cr_green256(__m256i c) {
  return trunc_product256<1>(centred256(c), kCrGreenFrac);
}
CORVIX_TARGET_AVX2 inline __m256i cb_blue256(__m256i c) {
  return trunc_product256<2>(centred256(c), kCbBlueFrac);
}
CORVIX_TARGET_AVX2 inline __m256i cb_green256(__m256i c) {
  return trunc_product256<0>(centred256(c), kCbGreenFrac);
}

CORVIX_TARGET_AVX2 inline Terms256 chroma256(__m256i cr, __m256i cb) {
  return {cb_blue256(cb), _mm256_add_epi16(cr_green256(cr), cb_green256(cb)), cr_red256(cr)};
}

// Shuffle controls for one 16-byte lane: output chunk r (bytes 16 r .. 16 r + 15 of the
// lane's 48) takes from the packed byte-c register, where pixel u of the lane sits at
// 8 * (u & 1) + u / 2; 0x80 leaves a zero for the other two registers to fill.
struct Interleave256 {
  alignas(32) uint8_t control[3][3][32];
};

constexpr Interleave256 make_interleave256() {
  Interleave256 t{};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      for (int x = 0; x < 32; ++x) {
        const int o = 16 * r + x % 16, u = o / 3;
        t.control[r][c][x] = o % 3 == c ? static_cast<uint8_t>(8 * (u & 1) + u / 2) : 0x80;
      }
  return t;
}

constexpr Interleave256 kInterleave256 = make_interleave256();

// Converts 32 pixels: `y` their Y bytes, `even` and `odd` the terms of the even and odd ones.
CORVIX_TARGET_AVX2 inline void step256(__m256i y, const Terms256 &even, const Terms256 &odd,
                                       uint8_t *out) {
  const __m256i le = luma256(_mm256_and_si256(y, _mm256_set1_epi16(0xFF)));
  const __m256i lo = luma256(_mm256_srli_epi16(y, 8));
  const __m256i p[3] = {
      _mm256_packus_epi16(_mm256_add_epi16(le, even.blue), _mm256_add_epi16(lo, odd.blue)),
      _mm256_packus_epi16(_mm256_sub_epi16(le, even.green), _mm256_sub_epi16(lo, odd.green)),
      _mm256_packus_epi16(_mm256_add_epi16(le, even.red), _mm256_add_epi16(lo, odd.red))};
  __m256i v[3];
  for (int r = 0; r < 3; ++r) {
    __m256i x = _mm256_setzero_si256();
    for (int c = 0; c < 3; ++c) {
      const __m256i control =
          _mm256_load_si256(reinterpret_cast<const __m256i *>(kInterleave256.control[r][c]));
      x = _mm256_or_si256(x, _mm256_shuffle_epi8(p[c], control));
    }
    v[r] = x;
  }
  // v[r] holds chunk r of lane 0 (pixels 0..15) low and of lane 1 (pixels 16..31) high.
  auto *o = reinterpret_cast<__m256i *>(out);
  _mm256_storeu_si256(o, _mm256_permute2x128_si256(v[0], v[1], 0x20));
  _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(v[2], v[0], 0x30));
  _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(v[1], v[2], 0x31));
}

CORVIX_TARGET_AVX2 inline __m256i load256(const uint8_t *p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
CORVIX_TARGET_AVX2 inline __m256i widen16(const uint8_t *p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

// One whole chunk of each group size: 32 pixels for groups 1 and 2, 64 for group 4.
CORVIX_TARGET_AVX2 inline void chunk1_256(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                                          uint8_t *out) {
  const __m256i low = _mm256_set1_epi16(0xFF);
  const __m256i r = load256(cr), b = load256(cb);
  step256(load256(y), chroma256(_mm256_and_si256(r, low), _mm256_and_si256(b, low)),
          chroma256(_mm256_srli_epi16(r, 8), _mm256_srli_epi16(b, 8)), out);
}

CORVIX_TARGET_AVX2 inline void chunk2_256(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                                          uint8_t *out) {
  const Terms256 t = chroma256(widen16(cr), widen16(cb));
  step256(load256(y), t, t, out);
}

// 16 groups' terms; lane j of step h takes group 8 h + j / 2, which a 64-bit move that puts
// groups 8 h .. 8 h + 3 low in lane 0 and 8 h + 4 .. 8 h + 7 low in lane 1 and a self-unpack
// give.
CORVIX_TARGET_AVX2 inline __m256i spread4_256(__m256i v, int h) {
  const __m256i x = h == 0 ? _mm256_permute4x64_epi64(v, 0x50) : _mm256_permute4x64_epi64(v, 0xFA);
  return _mm256_unpacklo_epi16(x, x);
}

CORVIX_TARGET_AVX2 inline void chunk4_256(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                                          uint8_t *out) {
  const Terms256 t = chroma256(widen16(cr), widen16(cb));
  for (int h = 0; h < 2; ++h) {
    const Terms256 s{spread4_256(t.blue, h), spread4_256(t.green, h), spread4_256(t.red, h)};
    step256(load256(y + 32 * h), s, s, out + 96 * h);
  }
}

template <uint32_t kGroup>
CORVIX_TARGET_AVX2 inline void chunk256(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                                        uint8_t *out) {
  if constexpr (kGroup == 1) {
    chunk1_256(y, cr, cb, out);
  } else if constexpr (kGroup == 2) {
    chunk2_256(y, cr, cb, out);
  } else {
    chunk4_256(y, cr, cb, out);
  }
}

template <uint32_t kGroup>
CORVIX_TARGET_AVX2 void groups256(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                                  uint8_t *out, size_t groups) {
  constexpr size_t kChunk = kGroup == 1 ? 32 : 16;  // groups a chunk
  size_t g = 0;
  for (; g + kChunk <= groups; g += kChunk)
    chunk256<kGroup>(y + g * kGroup, cr + g, cb + g, out + 3 * g * kGroup);
  if (g == groups) return;
  const size_t n = groups - g;
  alignas(32) uint8_t ty[kChunk * kGroup] = {}, tr[kChunk] = {}, tb[kChunk] = {};
  alignas(32) uint8_t to[3 * kChunk * kGroup];
  std::memcpy(ty, y + g * kGroup, n * kGroup);
  std::memcpy(tr, cr + g, n);
  std::memcpy(tb, cb + g, n);
  chunk256<kGroup>(ty, tr, tb, to);
  std::memcpy(out + 3 * g * kGroup, to, 3 * n * kGroup);
}

}  // namespace

CORVIX_TARGET_VBMI void yuv_to_rgb_avx512vbmi(const uint8_t *y, const uint8_t *cr,
                                              const uint8_t *cb, uint8_t *destination,
                                              size_t groups, uint32_t group) {
  switch (group) {
    case 1: return group1_512(y, cr, cb, destination, groups);
    case 2: return group2_512(y, cr, cb, destination, groups);
    case 4: return group4_512(y, cr, cb, destination, groups);
    default: break;
  }
}

CORVIX_TARGET_VBMI void yuv_terms_avx512vbmi(int16_t terms[5][256]) {
  for (int i = 0; i < 256; i += 32) {
    alignas(64) int16_t samples[32];
    for (int j = 0; j < 32; ++j) samples[j] = static_cast<int16_t>(i + j);
    const __m512i s = _mm512_load_si512(samples);
    _mm512_storeu_si512(terms[0] + i, luma512(s));
    _mm512_storeu_si512(terms[1] + i, cr_red512(s));
    _mm512_storeu_si512(terms[2] + i, cr_green512(s));
    _mm512_storeu_si512(terms[3] + i, cb_blue512(s));
    _mm512_storeu_si512(terms[4] + i, cb_green512(s));
  }
}

CORVIX_TARGET_AVX2 void yuv_to_rgb_avx2(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                                        uint8_t *destination, size_t groups, uint32_t group) {
  switch (group) {
    case 1: return groups256<1>(y, cr, cb, destination, groups);
    case 2: return groups256<2>(y, cr, cb, destination, groups);
    case 4: return groups256<4>(y, cr, cb, destination, groups);
    default: break;
  }
}

CORVIX_TARGET_AVX2 void yuv_terms_avx2(int16_t terms[5][256]) {
  for (int i = 0; i < 256; i += 16) {
    alignas(32) int16_t samples[16];
    for (int j = 0; j < 16; ++j) samples[j] = static_cast<int16_t>(i + j);
    const __m256i s = _mm256_load_si256(reinterpret_cast<const __m256i *>(samples));
    const __m256i t[5] = {luma256(s), cr_red256(s), cr_green256(s), cb_blue256(s), cb_green256(s)};
    for (int k = 0; k < 5; ++k)
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(terms[k] + i), t[k]);
  }
}

#else  // no x86 kernels in this build: the tables and the plain loop stand in

namespace {
void plain_groups(const uint8_t *y, const uint8_t *cr, const uint8_t *cb, uint8_t *out,
                  size_t groups, uint32_t group) {
  for (size_t g = 0; g < groups;) {
    const size_t n = groups - g < (uint32_t{1} << 20) ? groups - g : (uint32_t{1} << 20);
    yuv_to_rgb_plain(y + g * group, cr + g, cb + g, out + 3 * g * group,
                     static_cast<uint32_t>(n * group), group);
    g += n;
  }
}
void table_terms(int16_t terms[5][256]) {
  YuvTables t;
  build_yuv_tables(t);
  for (int i = 0; i < 256; ++i) {
    terms[0][i] = static_cast<int16_t>(t.luma[i]);
    terms[1][i] = static_cast<int16_t>(t.cr_red[i]);
    terms[2][i] = static_cast<int16_t>(t.cr_green[i]);
    terms[3][i] = static_cast<int16_t>(t.cb_blue[i]);
    terms[4][i] = static_cast<int16_t>(t.cb_green[i]);
  }
}
}  // namespace

void yuv_to_rgb_avx512vbmi(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                           uint8_t *destination, size_t groups, uint32_t group) {
  plain_groups(y, cr, cb, destination, groups, group);
}
void yuv_to_rgb_avx2(const uint8_t *y, const uint8_t *cr, const uint8_t *cb, uint8_t *destination,
                     size_t groups, uint32_t group) {
  plain_groups(y, cr, cb, destination, groups, group);
}
void yuv_terms_avx512vbmi(int16_t terms[5][256]) { table_terms(terms); }
void yuv_terms_avx2(int16_t terms[5][256]) { table_terms(terms); }

#endif

}  // namespace corvix
