// Free rotation: the size of the turned picture, then inverse mapping with bilinear sampling.
//
// All geometry is double precision. The angle arrives as a float, is widened, and becomes
// radians as angle * pi * 2.0 / 360.0 in that order; each bilinear term is truncated on its
// own before the four are summed, so a flat 255 area can come out as low as 252.
#include <cmath>
#include <cstring>

#include "core/bitmaps.h"
#include "core/cpu.h"
#include "core/parallel.h"
#include "core/pixels.h"
#include "core/simd.h"
#include "corvix/geometry.h"
#include "geometry/helpers.h"

namespace corvix {
namespace {

constexpr double kPi = 3.141592653589793;

double radians(double degrees) { return degrees * kPi * 2.0 / 360.0; }

// Halves away from zero: up by 0.5 above zero, down by 0.5 otherwise, then toward zero.
int64_t round_half_away(double v) { return static_cast<int64_t>(v > 0 ? v + 0.5 : v - 0.5); }

// Floor as truncation corrected by one where truncation went up (negative fractions).
int64_t floor_of(double v) {
  const auto t = static_cast<int64_t>(v);
  return static_cast<double>(t) > v ? t - 1 : t;
}

// The turn's fixed quantities: the source, the destination, the sine and cosine of the
// mapping, and the background written where the sample leaves the source (null: such
// pixels keep what they hold).
struct Turn {
  const Bitmap &source;
  Bitmap &destination;
  double sn, cs;
  const uint8_t *background;
};

// What every pixel's step needs of the source.
struct Sampler {
  int64_t w, h, sw, sh, stride;
  const uint8_t *src;
  double sn, cs;
  const uint8_t *background;
  Sampler(const Turn &t, int bpp)
      : w(t.source.width),
        h(t.source.height),
        sw(w / 2),
        sh(h / 2),
        stride(w * bpp),
        src(t.source.pixels),
        sn(t.sn),
        cs(t.cs),
        background(t.background) {}
};

// Destination pixel (x, y) from the 2 x 2 source block its inverse mapping falls in.
template <int Bpp>
CORVIX_ALWAYS_INLINE void turn_pixel(const Sampler &s, int32_t x, int32_t y, uint8_t *out) {
  const double u = x * s.cs - y * s.sn;
  const double v = x * s.sn + y * s.cs;
  const int64_t ix = floor_of(u), iy = floor_of(v);
  // The sample lies between columns sx and sx + 1 and between rows r - 1 and r; all four
  // must be inside the source.
  const int64_t sx = ix + s.sw, r = s.sh - iy;
  if (sx < 0 || sx > s.w - 2 || r < 1 || r > s.h - 1) {
    if (s.background != nullptr) std::memcpy(out, s.background, Bpp);
    return;
  }
  const double fx = u - static_cast<double>(ix), fy = v - static_cast<double>(iy);
  const double above_left = (1 - fx) * fy, above_right = fx * fy;
  const double below_left = (1 - fx) * (1 - fy), below_right = fx * (1 - fy);
  const uint8_t *below = s.src + r * s.stride + sx * Bpp;
  const uint8_t *above = below - s.stride;
  for (int c = 0; c < Bpp; ++c) {
    const int32_t sum = static_cast<int32_t>(above[c] * above_left) +
                        static_cast<int32_t>(above[c + Bpp] * above_right) +
                        static_cast<int32_t>(below[c] * below_left) +
                        static_cast<int32_t>(below[c + Bpp] * below_right);
    out[c] = static_cast<uint8_t>(sum & 0xFF);
  }
}

// The inverse mapping for one pixel size, over visit rows [first, end). Destination pixels
// are visited in buffer order, from the top row (y = dh) down and from the left (x = -dw);
// the write position advances on every visit, sampled or not, so visit row r starts
// r x 2dw pixels into the buffer.
template <int Bpp>
void turn_pixels(const Turn &t, int64_t first, int64_t end) {
  const Sampler s(t, Bpp);
  const int32_t dw = t.destination.width / 2, dh = t.destination.height / 2;
  uint8_t *out = t.destination.pixels + first * 2 * dw * Bpp;
  for (auto y = static_cast<int32_t>(dh - first); y > dh - end; --y)
    for (int32_t x = -dw; x < dw; ++x, out += Bpp) turn_pixel<Bpp>(s, x, y, out);
}

void turn_plain(const Turn &t, int64_t first, int64_t end) {
  if (t.source.bytes_per_pixel == 1)
    turn_pixels<1>(t, first, end);
  else
    turn_pixels<3>(t, first, end);
}

#ifdef CORVIX_X86
// The same operations on eight pixels at a time, one double lane each: the products,
// differences, floors and truncations are the IEEE operations the plain loop performs, in
// the same order, so every byte is the same. Each pixel's two source pixel pairs come in by
// gathering eight bytes from each row; a group where such a read would pass the end of the
// source goes through the plain loop's steps instead.
// Bytes 3k .. 3k + 2 for each lane k of an eight-lane mask.
struct LaneBytes {
  uint32_t of[256];
};
constexpr LaneBytes make_lane_bytes() {
  LaneBytes l{};
  for (int m = 0; m < 256; ++m)
    for (int k = 0; k < 8; ++k)
      if ((m >> k) & 1) l.of[m] |= 7u << (3 * k);
  return l;
}
constexpr LaneBytes kLaneBytes = make_lane_bytes();

// Doubles of 2^52 and above hold whole numbers in their low mantissa bits.
constexpr int64_t kTwo52Bits = 0x4330000000000000;

// trunc(sample x weight) for the byte k of each 64-bit lane of `from` that `pick` brings to
// the lane's bottom, as the low bits of 2^52 + trunc. The byte under 2^52's exponent is
// 2^52 + byte, less 2^52 the byte itself; adding 2^52 rounding toward zero to the product
// (0 up to 255, never negative) truncates it.
CORVIX_TARGET_AVX512 CORVIX_ALWAYS_INLINE __m512i term(__m512i from, __m512i pick, __m512d weight) {
  const __m512i two52_bits = _mm512_set1_epi64(kTwo52Bits);
  const __m512d two52 = _mm512_castsi512_pd(two52_bits);
  const __m512i bits = _mm512_mask_shuffle_epi8(two52_bits, 0x0101010101010101u, from, pick);
  const __m512d product = _mm512_mul_pd(_mm512_sub_pd(_mm512_castsi512_pd(bits), two52), weight);
  return _mm512_castpd_si512(
      _mm512_add_round_pd(product, two52, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
}

template <int Bpp>
CORVIX_TARGET_AVX512 void turn_pixels_avx512(const Turn &t, int64_t begin, int64_t end) {
  const Sampler s(t, Bpp);
  const int64_t w = s.w, h = s.h, sw = s.sw, sh = s.sh, stride = s.stride;
  const int64_t total = stride * h;
  const uint8_t *src = s.src;
  const int32_t dw = t.destination.width / 2, dh = t.destination.height / 2;
  uint8_t *out = t.destination.pixels + begin * 2 * dw * Bpp;

  const __m512d sn = _mm512_set1_pd(t.sn), cs = _mm512_set1_pd(t.cs);
  const __m512d one = _mm512_set1_pd(1.0);
  const __m512d lane = _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7);
  // ix + sw in 0..w - 2 and sh - iy in 1..h - 1, as bounds on the floors themselves.
  const __m512d ix_low = _mm512_set1_pd(static_cast<double>(-sw));
  const __m512d ix_high = _mm512_set1_pd(static_cast<double>(w - 2 - sw));
  const __m512d iy_low = _mm512_set1_pd(static_cast<double>(sh - (h - 1)));
  const __m512d iy_high = _mm512_set1_pd(static_cast<double>(sh - 1));
  (void)w;
  const __m256i sw32 = _mm256_set1_epi32(static_cast<int32_t>(sw));
  const __m256i sh32 = _mm256_set1_epi32(static_cast<int32_t>(sh));
  const __m512i stride64 = _mm512_set1_epi64(stride);
  const __m512i bpp64 = _mm512_set1_epi64(Bpp);
  // Gathers read eight bytes; lanes whose read would end past the source go the plain way.
  const __m512i last_read = _mm512_set1_epi64(total - 8);
  const __m512i even_lanes = _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14);
  const __m512i odd_lanes = _mm512_setr_epi64(1, 3, 5, 7, 9, 11, 13, 15);
  // Byte k of every 64-bit lane moved to the lane's lowest byte, the others cleared (an
  // index with its top bit set clears).
  __m512i pick_byte[2 * Bpp];
  for (int k = 0; k < 2 * Bpp; ++k) {
    alignas(64) int8_t index[64];
    for (int b = 0; b < 64; ++b) index[b] = b % 8 == 0 ? static_cast<int8_t>(b % 16 + k) : -128;
    pick_byte[k] = _mm512_load_si512(index);
  }
  const uint32_t bg =
      t.background == nullptr
          ? 0
          : (Bpp == 1 ? t.background[0]
                      : t.background[0] | t.background[1] << 8 | t.background[2] << 16);
  const __m256i background = _mm256_set1_epi32(static_cast<int32_t>(bg));
  // Three bytes of each 32-bit lane packed together: within each 128-bit half, then the halves'
  // 12 bytes joined.
  const __m256i pack3 = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
                                         1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i join3 = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  // The pixels of the lanes in `keep`, Bpp bytes each, from the low bytes of their words.
  auto store = [&](uint8_t *at, __mmask8 keep, __m256i word) CORVIX_TARGET_AVX512 {
    if (Bpp == 1) {
      _mm_mask_storeu_epi8(at, keep, _mm256_cvtepi32_epi8(word));
    } else {
      const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(word, pack3), join3);
      _mm256_mask_storeu_epi8(at, kLaneBytes.of[keep], packed);
    }
  };

  for (auto y = static_cast<int32_t>(dh - begin); y > dh - end; --y) {
    const __m512d yd = _mm512_set1_pd(static_cast<double>(y));
    const __m512d y_sn = _mm512_mul_pd(yd, sn), y_cs = _mm512_mul_pd(yd, cs);
    for (int32_t x0 = -dw; x0 < dw; x0 += 8) {
      const int32_t n = dw - x0 < 8 ? dw - x0 : 8;
      uint8_t *const at = out;
      out += n * Bpp;
      const __mmask8 live = static_cast<__mmask8>((1u << n) - 1);
      const __m512d xd = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(x0)), lane);
      const __m512d u = _mm512_sub_pd(_mm512_mul_pd(xd, cs), y_sn);
      const __m512d v = _mm512_add_pd(_mm512_mul_pd(xd, sn), y_cs);
      const __m512d ix = _mm512_roundscale_pd(u, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
      const __m512d iy = _mm512_roundscale_pd(v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
      __mmask8 inside = _mm512_mask_cmp_pd_mask(live, ix, ix_low, _CMP_GE_OQ);
      inside = _mm512_mask_cmp_pd_mask(inside, ix, ix_high, _CMP_LE_OQ);
      inside = _mm512_mask_cmp_pd_mask(inside, iy, iy_low, _CMP_GE_OQ);
      inside = _mm512_mask_cmp_pd_mask(inside, iy, iy_high, _CMP_LE_OQ);
      if (inside == 0) {
        // Nothing sampled: the background, or nothing at all.
        if (t.background != nullptr) store(at, live, background);
        continue;
      }
      // Byte offsets of the lower row's pair; the upper row is one stride before.
      const __m256i sx = _mm256_add_epi32(_mm512_cvttpd_epi32(ix), sw32);
      const __m256i r = _mm256_sub_epi32(sh32, _mm512_cvttpd_epi32(iy));
      const __m512i below_at =
          _mm512_add_epi64(_mm512_mul_epi32(_mm512_cvtepi32_epi64(r), stride64),
                           _mm512_mul_epi32(_mm512_cvtepi32_epi64(sx), bpp64));
      if (_mm512_mask_cmpgt_epi64_mask(inside, below_at, last_read) != 0) {
        // A read near the end of the source: this group pixel by pixel.
        for (int k = 0; k < n; ++k) turn_pixel<Bpp>(s, x0 + k, y, at + k * Bpp);
        continue;
      }
      // Each pixel's eight bytes of the upper row, then of the lower, in one 128-bit piece
      // (plain loads: this is faster than gathering); lanes outside repeat a lane inside.
      alignas(64) int64_t offset[8];
      _mm512_store_si512(offset, below_at);
      const int64_t some = offset[__builtin_ctz(inside)];
      __m128i piece[8];
      for (int k = 0; k < 8; ++k) {
        const uint8_t *p = src + ((inside >> k) & 1 ? offset[k] : some);
        const __m128i up = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p - stride));
        piece[k] = _mm_castpd_si128(
            _mm_loadh_pd(_mm_castsi128_pd(up), reinterpret_cast<const double *>(p)));
      }
      __m512i first = _mm512_castsi128_si512(piece[0]), second = _mm512_castsi128_si512(piece[4]);
      first = _mm512_inserti64x2(first, piece[1], 1);
      first = _mm512_inserti64x2(first, piece[2], 2);
      first = _mm512_inserti64x2(first, piece[3], 3);
      second = _mm512_inserti64x2(second, piece[5], 1);
      second = _mm512_inserti64x2(second, piece[6], 2);
      second = _mm512_inserti64x2(second, piece[7], 3);
      const __m512i above = _mm512_permutex2var_epi64(first, even_lanes, second);
      const __m512i below = _mm512_permutex2var_epi64(first, odd_lanes, second);
      const __m512d fx = _mm512_sub_pd(u, ix), fy = _mm512_sub_pd(v, iy);
      const __m512d gx = _mm512_sub_pd(one, fx), gy = _mm512_sub_pd(one, fy);
      const __m512d above_left = _mm512_mul_pd(gx, fy), above_right = _mm512_mul_pd(fx, fy);
      const __m512d below_left = _mm512_mul_pd(gx, gy), below_right = _mm512_mul_pd(fx, gy);
      // The four truncated terms summed as integers: the 2^52 parts leave the low bits alone.
      const __m512i low = _mm512_set1_epi64(0xFF);
      __m512i words = _mm512_setzero_si512();
      for (int c = 0; c < Bpp; ++c) {
        __m512i sum = _mm512_add_epi64(term(above, pick_byte[c], above_left),
                                       term(above, pick_byte[c + Bpp], above_right));
        sum = _mm512_add_epi64(sum, term(below, pick_byte[c], below_left));
        sum = _mm512_add_epi64(sum, term(below, pick_byte[c + Bpp], below_right));
        words = _mm512_or_si512(words, _mm512_slli_epi64(_mm512_and_si512(sum, low), 8 * c));
      }
      __m256i word = _mm512_cvtepi64_epi32(words);
      if (t.background != nullptr) {
        word = _mm256_mask_blend_epi32(inside, background, word);
        inside = live;
      }
      store(at, inside, word);
    }
  }
}

void turn_avx512(const Turn &t, int64_t first, int64_t end) {
  if (t.source.bytes_per_pixel == 1)
    turn_pixels_avx512<1>(t, first, end);
  else
    turn_pixels_avx512<3>(t, first, end);
}
#endif

// A turn kernel maps the visit rows [first, end).
using TurnFn = void (*)(const Turn &, int64_t first, int64_t end);
constexpr Kernels<TurnFn> kTurn{.plain = turn_plain, .avx512 = CORVIX_X86_KERNEL(turn_avx512)};

// Every pixel of the new bitmap takes the background, bytes 0, 1, 2 in order.
void fill_background(Bitmap &b, int64_t size, const uint8_t background[3]) {
  if (b.bytes_per_pixel == 1) {
    std::memset(b.pixels, background[0], static_cast<size_t>(size));
    return;
  }
  for (int64_t i = 0; i + 2 < size; i += 3) std::memcpy(b.pixels + i, background, 3);
}

// The mapping runs from the destination back into the source: turn by the negated angle.
void turn_into(const Bitmap &source, Bitmap &destination, float angle, const uint8_t *background) {
  // The visits run over whole halves: a destination less than two pixels wide or high has
  // none, whatever its other size (and any pixel it has was filled already).
  if (destination.width < 2 || destination.height < 2) return;
  const double rad = radians(-static_cast<double>(angle));
  const Turn t{source, destination, std::sin(rad), std::cos(rad), background};
  const TurnFn kernel = pick(kTurn);
  // Rows of visits, 2dh of them, each 2dw pixels.
  const int64_t rows = destination.height / 2 * 2;
  const int64_t visits = destination.width / 2 * 2;
  for_rows(rows, rows * visits * source.bytes_per_pixel * kSampleCost,
           [&](int64_t first, int64_t end) { kernel(t, first, end); });
}

}  // namespace

void CalculateBoundary(int32_t *width, int32_t *height, int32_t source_width, int32_t source_height,
                       float angle) {
  if (width == nullptr || height == nullptr) return;
  *width = *height = -1;
  if (!std::isfinite(angle) || source_width < 0 || source_height < 0) return;
  const double rad = radians(static_cast<double>(angle));
  const double sn = std::sin(rad), cs = std::cos(rad);
  // Odd sizes count as the next even one, so the corners sit at whole half-sizes.
  const int64_t w = source_width + int64_t{source_width % 2 != 0};
  const int64_t h = source_height + int64_t{source_height % 2 != 0};
  const int64_t hw = w / 2, hh = h / 2;
  const int64_t corner_x[4] = {-hw, hw, hw, -hw}, corner_y[4] = {-hh, -hh, hh, hh};
  int64_t min_x = 0, max_x = 0, min_y = 0, max_y = 0;
  for (int k = 0; k < 4; ++k) {
    const auto x = static_cast<double>(corner_x[k]), y = static_cast<double>(corner_y[k]);
    const int64_t tx = round_half_away(x * cs - y * sn);
    const int64_t ty = round_half_away(x * sn + y * cs);
    if (k == 0 || tx < min_x) min_x = tx;
    if (k == 0 || tx > max_x) max_x = tx;
    if (k == 0 || ty < min_y) min_y = ty;
    if (k == 0 || ty > max_y) max_y = ty;
  }
  // The corners come in opposite pairs, (x, y) and (-x, -y). Negating both inputs negates
  // each product and their difference exactly, and the rounding is symmetric, so the turned
  // corners are opposite pairs too: the smallest of each coordinate is the negated largest
  // and every extent is twice a whole number, even without raising.
  const int64_t d = max_x - min_x, e = max_y - min_y;
  if (d > INT32_MAX || e > INT32_MAX) return;
  *width = static_cast<int32_t>(d);
  *height = static_cast<int32_t>(e);
}

void CalculateImage(const Bitmap *source, Bitmap *destination, float angle) {
  if (source == nullptr || destination == nullptr || !std::isfinite(angle)) return;
  const int32_t bpp = source->bytes_per_pixel;
  if ((bpp != 1 && bpp != 3) || destination->bytes_per_pixel != bpp) return;
  if (bitmap_bytes(source, bpp) < 0 || bitmap_bytes(destination, bpp) < 0) return;
  turn_into(*source, *destination, angle, nullptr);
}

}  // namespace corvix

extern "C" {

Bitmap *gx_rotatebitmap(const Bitmap *source, int32_t background0, int32_t background1,
                        int32_t background2, float angle) {
  using namespace corvix;
  if (source == nullptr) return fail(CORVIX_E_INVALID, "source bitmap is NULL");
  const int32_t bpp = source->bytes_per_pixel;
  // Other pixel sizes have no defined background fill or sample offset.
  if (bpp != 1 && bpp != 3)
    return fail(CORVIX_E_INVALID, "source bitmap has %d bytes per pixel, not 1 or 3", bpp);
  if (require_bitmap(source, bpp, "source bitmap") < 0) return nullptr;
  if (!std::isfinite(angle)) return fail(CORVIX_E_INVALID, "angle %g is not finite", angle);
  int32_t width = -1, height = -1;
  CalculateBoundary(&width, &height, source->width, source->height, angle);
  if (width < 0 || height < 0)
    return fail(CORVIX_E_INVALID, "%d x %d turned by %g degrees does not fit a 32-bit size",
                source->width, source->height, angle);
  const int64_t size = require_size("turned width x height x bytes per pixel", width, height, bpp);
  if (size < 0) return nullptr;
  Bitmap *b = wrap_pixels(static_cast<uint8_t *>(alloc_bytes(size, MEMF_ANY)), width, height, bpp);
  if (b == nullptr) return nullptr;
  const uint8_t background[3] = {static_cast<uint8_t>(background0 & 0xFF),
                                 static_cast<uint8_t>(background1 & 0xFF),
                                 static_cast<uint8_t>(background2 & 0xFF)};
  // The turn visits every pixel of a bitmap whose sizes are even, as CalculateBoundary makes
  // them, and writes the background where it samples nothing: no filling first.
  if (width % 2 != 0 || height % 2 != 0) corvix::fill_background(*b, size, background);
  corvix::turn_into(*source, *b, angle, background);
  return b;
}

}  // extern "C"
