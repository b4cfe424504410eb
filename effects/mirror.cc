// Mirroring a frame of three-byte pixels, and the negative of a frame.
//
// The mirror works in place: swapping rows (upside down), reversing the pixels of each row
// (left to right) or reversing all pixels of the frame (both at once, a half turn) gives the
// same bytes as copying every pixel back from a mirrored copy, without the copy: the mirror
// takes no memory, so it cannot be cut short by a failed allocation either.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/bitmaps.h"
#include "core/pixels.h"
#include "corvix/effects.h"
#include "core/cpu.h"
#include "effects/frame_kernels.h"

#include "core/simd.h"

namespace corvix {

void reverse_pixels_plain(uint8_t *pixels, int64_t count) {
  for (int64_t i = 0, j = count - 1; i < j; ++i, --j) {
    uint8_t *a = pixels + 3 * i;
    uint8_t *b = pixels + 3 * j;
    for (int c = 0; c < 3; ++c) std::swap(a[c], b[c]);
  }
}

void reverse_copy_pixels_plain(const uint8_t *source, uint8_t *destination, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t *s = source + 3 * i;
    uint8_t *d = destination + 3 * (count - 1 - i);
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
  }
}

namespace {

// Exchanges two rows that share no byte.
void swap_rows_plain(uint8_t *__restrict a, uint8_t *__restrict b, int64_t bytes) {
  for (int64_t i = 0; i < bytes; ++i) {
    const uint8_t t = a[i];
    a[i] = b[i];
    b[i] = t;
  }
}

void invert_bytes_plain(uint8_t *p, int64_t bytes) {
  for (int64_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(255 - p[i]);
}

}  // namespace

#ifdef CORVIX_X86
namespace {

// Two block sizes. 64 pixels are exactly three registers, loaded and stored whole: the
// reversed block's registers each come from two neighbouring source registers (the middle one
// takes a single byte from the third). 16 pixels (48 bytes) sit in the low part of one
// register with masked loads and stores, for what is left; masked stores are kept out of the
// main loop because a load close behind one waits for it.
struct ReverseBytes {
  alignas(64) uint8_t index[4][64];
  uint64_t third;  // the middle register's lanes taken from the last source register
};

constexpr ReverseBytes make_reverse_bytes() {
  ReverseBytes r{};
  for (int b = 0; b < 192; ++b) {
    const int from = 3 * (63 - b / 3) + b % 3;  // source byte of destination byte b
    // Register 0 reads source registers 1 and 2, registers 1 and 2 read registers 0 and 1.
    r.index[b / 64][b % 64] = static_cast<uint8_t>(b < 64 ? from - 64 : from);
    if (b / 64 == 1 && from >= 128) r.third |= uint64_t{1} << (b % 64);
  }
  for (int b = 0; b < 64; ++b)
    r.index[3][b] = static_cast<uint8_t>(b < 48 ? 3 * (15 - b / 3) + b % 3 : b);
  return r;
}
constexpr ReverseBytes kReverseBytes = make_reverse_bytes();

struct Reverse {
  __m512i index[3];
  __mmask64 third;
  __m512i index16;
};
constexpr __mmask64 kBlock48 = (__mmask64{1} << 48) - 1;

CORVIX_TARGET_VBMI CORVIX_ALWAYS_INLINE Reverse reverse_indices() {
  Reverse r;
  for (int k = 0; k < 3; ++k) r.index[k] = _mm512_load_si512(kReverseBytes.index[k]);
  r.third = kReverseBytes.third;
  r.index16 = _mm512_load_si512(kReverseBytes.index[3]);
  return r;
}

struct Block64 {
  __m512i v[3];
};

CORVIX_TARGET_VBMI CORVIX_ALWAYS_INLINE Block64 load64(const uint8_t *p) {
  return {{_mm512_loadu_si512(p), _mm512_loadu_si512(p + 64), _mm512_loadu_si512(p + 128)}};
}

CORVIX_TARGET_VBMI CORVIX_ALWAYS_INLINE void store_reversed64(uint8_t *p, const Block64 &x,
                                                              const Reverse &r) {
  const __m512i middle = _mm512_permutex2var_epi8(x.v[0], r.index[1], x.v[1]);
  _mm512_storeu_si512(p, _mm512_permutex2var_epi8(x.v[1], r.index[0], x.v[2]));
  _mm512_storeu_si512(p + 64, _mm512_mask_permutexvar_epi8(middle, r.third, r.index[1], x.v[2]));
  _mm512_storeu_si512(p + 128, _mm512_permutex2var_epi8(x.v[0], r.index[2], x.v[1]));
}

CORVIX_TARGET_VBMI CORVIX_ALWAYS_INLINE __m512i reversed16(const uint8_t *p, const Reverse &r) {
  return _mm512_maskz_permutexvar_epi8(kBlock48, r.index16, _mm512_maskz_loadu_epi8(kBlock48, p));
}

CORVIX_TARGET_VBMI void reverse_pixels_avx512vbmi(uint8_t *pixels, int64_t count) {
  const Reverse r = reverse_indices();
  uint8_t *left = pixels;
  uint8_t *right = pixels + 3 * count;
  // While two whole blocks fit between the ends, swap the outermost blocks reversed; the
  // middle left has the same centre, so reversing it in place finishes the run.
  while (right - left >= 2 * 192) {
    right -= 192;
    const Block64 a = load64(left), b = load64(right);
    store_reversed64(left, b, r);
    store_reversed64(right, a, r);
    left += 192;
  }
  while (right - left >= 2 * 48) {
    right -= 48;
    const __m512i a = reversed16(left, r), b = reversed16(right, r);
    _mm512_mask_storeu_epi8(left, kBlock48, b);
    _mm512_mask_storeu_epi8(right, kBlock48, a);
    left += 48;
  }
  reverse_pixels_plain(left, (right - left) / 3);
}

CORVIX_TARGET_VBMI void reverse_copy_pixels_avx512vbmi(const uint8_t *source, uint8_t *destination,
                                                       int64_t count) {
  const Reverse r = reverse_indices();
  int64_t i = 0;
  for (; i + 64 <= count; i += 64)
    store_reversed64(destination + 3 * (count - 64 - i), load64(source + 3 * i), r);
  for (; i + 16 <= count; i += 16)
    _mm512_mask_storeu_epi8(destination + 3 * (count - 16 - i), kBlock48,
                            reversed16(source + 3 * i, r));
  // Source pixels i.. go to destination pixels count - 1 - i down to 0.
  reverse_copy_pixels_plain(source + 3 * i, destination, count - i);
}

// Exchanging two rows and inverting bytes run at the memory's speed: whole registers, the
// rest byte by byte (AVX2) or through masked loads and stores (AVX-512).
CORVIX_TARGET_AVX2 void swap_rows_avx2(uint8_t *a, uint8_t *b, int64_t bytes) {
  int64_t i = 0;
  for (; i + 64 <= bytes; i += 64) {
    const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(a + i));
    const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(a + i + 32));
    const __m256i y0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + i));
    const __m256i y1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + i + 32));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(a + i), y0);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(a + i + 32), y1);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(b + i), x0);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(b + i + 32), x1);
  }
  swap_rows_plain(a + i, b + i, bytes - i);
}

// Bytes from p up to the next 64-byte boundary (none when p is on one), at most n: whole
// registers after them are stored without splitting a cache line.
inline int64_t head_bytes(const void *p, int64_t n) {
  const int64_t to_line = static_cast<int64_t>(-reinterpret_cast<uintptr_t>(p) & 63);
  return to_line < n ? to_line : n;
}

CORVIX_TARGET_AVX512 CORVIX_ALWAYS_INLINE __mmask64 first_bytes(int64_t n) {
  return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
}

CORVIX_TARGET_AVX512 CORVIX_ALWAYS_INLINE void swap_masked(uint8_t *a, uint8_t *b, __mmask64 m) {
  const __m512i x = _mm512_maskz_loadu_epi8(m, a), y = _mm512_maskz_loadu_epi8(m, b);
  _mm512_mask_storeu_epi8(a, m, y);
  _mm512_mask_storeu_epi8(b, m, x);
}

CORVIX_TARGET_AVX512 void swap_rows_avx512(uint8_t *a, uint8_t *b, int64_t bytes) {
  int64_t i = head_bytes(a, bytes);
  if (i > 0) swap_masked(a, b, first_bytes(i));
  for (; i + 128 <= bytes; i += 128) {
    const __m512i x0 = _mm512_load_si512(a + i), x1 = _mm512_load_si512(a + i + 64);
    const __m512i y0 = _mm512_loadu_si512(b + i), y1 = _mm512_loadu_si512(b + i + 64);
    _mm512_store_si512(a + i, y0);
    _mm512_store_si512(a + i + 64, y1);
    _mm512_storeu_si512(b + i, x0);
    _mm512_storeu_si512(b + i + 64, x1);
  }
  for (; i < bytes; i += 64) swap_masked(a + i, b + i, first_bytes(bytes - i));
}

CORVIX_TARGET_AVX2 void invert_bytes_avx2(uint8_t *p, int64_t bytes) {
  const __m256i ones = _mm256_set1_epi8(-1);
  int64_t i = 0;
  for (; i + 64 <= bytes; i += 64) {
    auto *v = reinterpret_cast<__m256i *>(p + i);
    const __m256i x0 = _mm256_loadu_si256(v), x1 = _mm256_loadu_si256(v + 1);
    _mm256_storeu_si256(v, _mm256_xor_si256(x0, ones));
    _mm256_storeu_si256(v + 1, _mm256_xor_si256(x1, ones));
  }
  invert_bytes_plain(p + i, bytes - i);
}

CORVIX_TARGET_AVX512 CORVIX_ALWAYS_INLINE void invert_masked(uint8_t *p, __mmask64 m) {
  _mm512_mask_storeu_epi8(p, m,
                          _mm512_xor_si512(_mm512_maskz_loadu_epi8(m, p), _mm512_set1_epi8(-1)));
}

CORVIX_TARGET_AVX512 void invert_bytes_avx512(uint8_t *p, int64_t bytes) {
  const __m512i ones = _mm512_set1_epi8(-1);
  int64_t i = head_bytes(p, bytes);
  if (i > 0) invert_masked(p, first_bytes(i));
  for (; i + 128 <= bytes; i += 128) {
    const __m512i x0 = _mm512_load_si512(p + i), x1 = _mm512_load_si512(p + i + 64);
    _mm512_store_si512(p + i, _mm512_xor_si512(x0, ones));
    _mm512_store_si512(p + i + 64, _mm512_xor_si512(x1, ones));
  }
  for (; i < bytes; i += 64) invert_masked(p + i, first_bytes(bytes - i));
}

}  // namespace
#endif

namespace {
using ReverseFn = void (*)(uint8_t *, int64_t);
using ReverseCopyFn = void (*)(const uint8_t *, uint8_t *, int64_t);
using SwapFn = void (*)(uint8_t *, uint8_t *, int64_t);
constexpr Kernels<ReverseFn> kReverse = CORVIX_KERNELS_VBMI(reverse_pixels);
constexpr Kernels<ReverseCopyFn> kReverseCopy = CORVIX_KERNELS_VBMI(reverse_copy_pixels);
constexpr Kernels<SwapFn> kSwapRows = CORVIX_KERNELS_AVX(swap_rows);
constexpr Kernels<ReverseFn> kInvert = CORVIX_KERNELS_AVX(invert_bytes);
}  // namespace

void reverse_pixels(uint8_t *pixels, int64_t count) { pick(kReverse)(pixels, count); }

void reverse_copy_pixels(const uint8_t *source, uint8_t *destination, int64_t count) {
  pick(kReverseCopy)(source, destination, count);
}

}  // namespace corvix

extern "C" {

void fxx_mirror_ll(Bitmap *frame, int32_t upside_down, int32_t left_right) {
  if (upside_down == 0 && left_right == 0) return;
  // Three bytes a pixel whatever the record says; a frame that cannot hold them is left alone.
  const int64_t bytes = corvix::require_bitmap(frame, 3, "frame");
  if (bytes <= 0) return;
  const int64_t width = frame->width, height = frame->height, row = 3 * width;
  uint8_t *pixels = frame->pixels;
  if (upside_down != 0 && left_right != 0) {
    // Pixel (x, y) takes (W-1-x, H-1-y): the frame's pixel order reversed.
    corvix::reverse_pixels(pixels, width * height);
  } else if (upside_down != 0) {
    for (int64_t y = 0; y < height / 2; ++y)
      corvix::pick(corvix::kSwapRows)(pixels + y * row, pixels + (height - 1 - y) * row, row);
  } else {
    for (int64_t y = 0; y < height; ++y) corvix::reverse_pixels(pixels + y * row, width);
  }
}

void fxx_invert_ll(Bitmap *frame) {
  // Every byte of the frame, at whatever size its record gives.
  const int64_t bytes = corvix::require_own_bitmap(frame, "frame");
  if (bytes <= 0) return;
  corvix::pick(corvix::kInvert)(frame->pixels, bytes);
}

}  // extern "C"
