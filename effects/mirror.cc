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
#include "effects/frame.h"
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

CORVIX_TARGET_VBMI CORVIX_ALWAYS_INLINE void store_reversed64(uint8_t *p,
                                                                               const Block64 &x,
                                                                               const Reverse &r) {
  const __m512i middle = _mm512_permutex2var_epi8(x.v[0], r.index[1], x.v[1]);
  _mm512_storeu_si512(p, _mm512_permutex2var_epi8(x.v[1], r.index[0], x.v[2]));
  _mm512_storeu_si512(p + 64, _mm512_mask_permutexvar_epi8(middle, r.third, r.index[1], x.v[2]));
  _mm512_storeu_si512(p + 128, _mm512_permutex2var_epi8(x.v[0], r.index[2], x.v[1]));
}

CORVIX_TARGET_VBMI CORVIX_ALWAYS_INLINE __m512i reversed16(const uint8_t *p,
                                                                            const Reverse &r) {
  return _mm512_maskz_permutexvar_epi8(kBlock48, r.index16, _mm512_maskz_loadu_epi8(kBlock48, p));
}

CORVIX_TARGET_VBMI void reverse_pixels_vbmi(uint8_t *pixels, int64_t count) {
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

CORVIX_TARGET_VBMI void reverse_copy_pixels_vbmi(const uint8_t *source, uint8_t *destination,
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

}  // namespace
#endif

void reverse_pixels(uint8_t *pixels, int64_t count) {
#ifdef CORVIX_X86
  if (vbmi_enabled()) return reverse_pixels_vbmi(pixels, count);
#endif
  reverse_pixels_plain(pixels, count);
}

void reverse_copy_pixels(const uint8_t *source, uint8_t *destination, int64_t count) {
#ifdef CORVIX_X86
  if (vbmi_enabled()) return reverse_copy_pixels_vbmi(source, destination, count);
#endif
  reverse_copy_pixels_plain(source, destination, count);
}

namespace {

// Exchanges two non-overlapping rows, a plain loop the compiler vectorises.
void swap_rows(uint8_t *__restrict a, uint8_t *__restrict b, int64_t bytes) {
  for (int64_t i = 0; i < bytes; ++i) {
    const uint8_t t = a[i];
    a[i] = b[i];
    b[i] = t;
  }
}

}  // namespace
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
      corvix::swap_rows(pixels + y * row, pixels + (height - 1 - y) * row, row);
  } else {
    for (int64_t y = 0; y < height; ++y) corvix::reverse_pixels(pixels + y * row, width);
  }
}

void fxx_invert_ll(Bitmap *frame) {
  // Every byte of the frame, at whatever size its record gives.
  const int64_t bytes = corvix::require_own_bitmap(frame, "frame");
  if (bytes <= 0) return;
  uint8_t *p = frame->pixels;
  for (int64_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(255 - p[i]);
}

}  // extern "C"
