// The 6 x 6 x 6 colour cube: a pen table asked of the graphics library, reduction of
// three-byte pixels to cube indices or pens, and translation of bytes through a table.
#include "colour/palette.h"

#include <cstring>

#include "core/cpu.h"
#include "core/parallel.h"
#include "core/pixels.h"
#include "core/translate.h"
#include "corvix/colour.h"

namespace corvix {
namespace {

constexpr uint32_t kPenTableBytes = 300;
constexpr int kCubeColours = 216;

// weight x level of every byte value: the per-call table that replaces three divisions a
// pixel.
void weighted_levels(uint8_t weight, uint8_t *table) {
  for (int v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(weight * cube_level(v));
}

}  // namespace

void remap24_plain(const uint8_t *source, uint8_t *output, const uint8_t *pens, uint32_t length) {
  uint8_t red[256], green[256], blue[256];
  weighted_levels(36, red);
  weighted_levels(6, green);
  weighted_levels(1, blue);
  // The position grows by 3 while below the length, so a length that is not a multiple of 3
  // still reduces its last, partial pixel as a whole one.
  if (pens == nullptr) {
    for (uint32_t pos = 0; pos < length; pos += 3, source += 3)
      *output++ = static_cast<uint8_t>(red[source[0]] + green[source[1]] + blue[source[2]]);
  } else {
    for (uint32_t pos = 0; pos < length; pos += 3, source += 3)
      *output++ = pens[red[source[0]] + green[source[1]] + blue[source[2]]];
  }
}

void remap8_plain(uint8_t *buffer, const uint8_t *table, uint32_t length) {
  translate_bytes_plain(buffer, length, table);
}

#ifdef CORVIX_X86

namespace {

// Byte k of each of 64 three-byte pixels held in a, b, c (192 bytes).
CORVIX_TARGET_VBMI inline __m512i channel(__m512i a, __m512i b, __m512i c, __m512i index,
                                          __mmask64 from_c) {
  const __m512i ab = _mm512_permutex2var_epi8(a, index, b);
  return _mm512_mask_permutexvar_epi8(ab, from_c, index, c);
}

}  // namespace

CORVIX_TARGET_VBMI void remap24_avx512vbmi(const uint8_t *source, uint8_t *output,
                                           const uint8_t *pens, uint32_t length) {
  // Short runs stay plain: they would not fill one vector step.
  if (length < 192) return remap24_plain(source, output, pens, length);
  alignas(64) uint8_t red[256], green[256], blue[256], pen[256];
  weighted_levels(36, red);
  weighted_levels(6, green);
  weighted_levels(1, blue);
  // Indices never exceed 215, so the pen table is read no further than a plain pass reads it.
  std::memset(pen, 0, sizeof pen);
  if (pens != nullptr) std::memcpy(pen, pens, kCubeColours);
  const Table512 tr = load_table512(red), tg = load_table512(green), tb = load_table512(blue);
  const Table512 tp = load_table512(pen);

  alignas(64) uint8_t index[3][64];
  uint64_t from_c[3] = {0, 0, 0};
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 64; ++i) {
      index[k][i] = static_cast<uint8_t>(3 * i + k);
      if (3 * i + k >= 128) from_c[k] |= uint64_t{1} << i;
    }
  const __m512i i0 = _mm512_load_si512(index[0]), i1 = _mm512_load_si512(index[1]),
                i2 = _mm512_load_si512(index[2]);

  uint32_t pos = 0;
  for (; length - pos >= 192; pos += 192, source += 192, output += 64) {
    const __m512i a = _mm512_loadu_si512(source), b = _mm512_loadu_si512(source + 64),
                  c = _mm512_loadu_si512(source + 128);
    __m512i cube = _mm512_add_epi8(lookup512(tr, channel(a, b, c, i0, from_c[0])),
                                   lookup512(tg, channel(a, b, c, i1, from_c[1])));
    cube = _mm512_add_epi8(cube, lookup512(tb, channel(a, b, c, i2, from_c[2])));
    if (pens != nullptr) cube = lookup512(tp, cube);
    _mm512_storeu_si512(output, cube);
  }
  if (pos < length) remap24_plain(source, output, pens, length - pos);
}

CORVIX_TARGET_VBMI void remap8_avx512vbmi(uint8_t *buffer, const uint8_t *table, uint32_t length) {
  // The caller's table need only reach the largest value in the buffer, so it is copied into
  // a full local table just as far as the values met so far require: a block's largest value
  // first, then the block through the table while it is still in the cache.
  alignas(64) uint8_t local[256];
  std::memset(local, 0, sizeof local);
  uint32_t copied = 0;
  constexpr uint32_t kBlock = 4096;
  for (uint32_t start = 0; start < length;) {
    const uint32_t n = length - start < kBlock ? length - start : kBlock;
    uint8_t *p = buffer + start;
    const uint32_t whole = n & ~63u;
    __m512i most = _mm512_maskz_loadu_epi8(first_bytes512(n - whole), p + whole);
    for (uint32_t i = 0; i < whole; i += 64)
      most = _mm512_max_epu8(most, _mm512_loadu_si512(p + i));
    alignas(64) uint8_t lanes[64];
    _mm512_store_si512(lanes, most);
    uint32_t largest = 0;
    for (uint8_t v : lanes) largest = v > largest ? v : largest;
    if (largest + 1 > copied) {
      std::memcpy(local + copied, table + copied, largest + 1 - copied);
      copied = largest + 1;
    }
    translate_bytes_avx512vbmi(p, n, local);
    start += n;
  }
}

#endif

namespace {
using Remap24Fn = void (*)(const uint8_t *, uint8_t *, const uint8_t *, uint32_t);
using Remap8Fn = void (*)(uint8_t *, const uint8_t *, uint32_t);
constexpr Kernels<Remap24Fn> kRemap24 = CORVIX_KERNELS_VBMI(remap24);
constexpr Kernels<Remap8Fn> kRemap8 = CORVIX_KERNELS_VBMI(remap8);
}  // namespace

}  // namespace corvix

extern "C" {

uint8_t *gx_allocpalette(ColorMap *colormap) {
  auto *pens = static_cast<uint8_t *>(corvix::alloc_bytes(corvix::kPenTableBytes, MEMF_ANY));
  if (pens == nullptr) return nullptr;
  Library *gfx = corvix_gfxbase();
  int k = 0;
  for (uint32_t r = 0; r < 6; ++r)
    for (uint32_t g = 0; g < 6; ++g)
      for (uint32_t b = 0; b < 6; ++b) {
        // Left-justified 32-bit components: the 8-bit value in the top byte.
        PPCCallRecord call{};
        call.caos_a6 = gfx;
        call.caos_offset = GFX_FINDCOLOR_OFFSET;
        call.caos_a[3] = reinterpret_cast<uintptr_t>(colormap);
        call.caos_d[1] = (51u * r) << 24;
        call.caos_d[2] = (51u * g) << 24;
        call.caos_d[3] = (51u * b) << 24;
        call.caos_d[4] = 0xFFFFFFFFu;  // pen limit -1: every pen
        call.caos_m68k_cache = 1;
        call.caos_ppc_cache = 1;
        pens[k++] = static_cast<uint8_t>(PPCCallOS(&call) & 0xFF);
      }
  return pens;
}

void gx_freepalette(uint8_t *pens) {
  if (pens != nullptr) PPCFreeVec(pens);
}

void gx_remap24(const uint8_t *source, uint8_t *output, const uint8_t *pens, uint32_t length) {
  if (length > 0 && (source == nullptr || output == nullptr)) {
    corvix::set_error(CORVIX_E_INVALID, "%s is NULL", source ? "output" : "source");
    return;
  }
  const auto remap = corvix::pick(corvix::kRemap24);
  // Runs of whole pixels (and whole vector steps but for the last); the last run takes any
  // partial pixel at the end, as a single pass would.
  corvix::for_items(
      length, 192 * 16, int64_t{length} * corvix::kStreamCost, [&](int64_t first, int64_t end) {
        remap(source + first, output + first / 3, pens, static_cast<uint32_t>(end - first));
      });
}

void gx_remap8(uint8_t *buffer, const uint8_t *table, uint32_t length) {
  if (length > 0 && (buffer == nullptr || table == nullptr)) {
    corvix::set_error(CORVIX_E_INVALID, "%s is NULL", buffer ? "table" : "buffer");
    return;
  }
  const auto remap = corvix::pick(corvix::kRemap8);
  corvix::for_items(length, 4096, int64_t{length} * corvix::kStreamCost,
                    [&](int64_t first, int64_t end) {
                      remap(buffer + first, table, static_cast<uint32_t>(end - first));
                    });
}

}  // extern "C"
