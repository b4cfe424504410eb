// Reading and writing netpbm images: binary and plain PPM and PGM.
#include "io/netpbm.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "core/error.h"
#include "core/pixels.h"
#include "corvix/bitmap.h"

namespace corvix {
namespace {

bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool is_digit(int c) { return c >= '0' && c <= '9'; }

// The next header byte with a comment ("#" up to the next LF or CR) standing for its
// terminating LF or CR, as netpbm reads headers. -1 at the end, also inside a comment.
int header_byte(Source &s) {
  int c = s.get();
  if (c == '#') {
    do c = s.get();
    while (c != -1 && c != '\n' && c != '\r');
  }
  return c;
}

// Larger than any width, height, maximum or sample that can load; digits beyond it change
// nothing.
constexpr int64_t kNumberCap = int64_t{1} << 40;

// The reason for a source that ended or failed where `what` was due.
Failed cut_short(Source &s, const char *what) {
  if (s.failed_reading()) return {};
  return fail(CORVIX_E_FORMAT, "file ends before the header's %s", what);
}

// One header number after any white space and comments. Consumes the byte that ends the
// digits, which must be white space (or a comment): it separates the number from the next
// item, and after the maximum it is the single byte before the samples. -1 (reason set)
// when the header is malformed or cut short.
int64_t header_number(Source &s, const char *what) {
  int c = header_byte(s);
  while (is_space(c)) c = header_byte(s);
  if (c == -1) return cut_short(s, what), -1;
  if (!is_digit(c)) return fail(CORVIX_E_FORMAT, "the header's %s is not a number", what), -1;
  int64_t value = 0;
  for (; is_digit(c); c = header_byte(s)) value = std::min(value * 10 + (c - '0'), kNumberCap);
  if (c == -1) return cut_short(s, "end"), -1;
  if (!is_space(c))
    return fail(CORVIX_E_FORMAT, "the header's %s is followed by '%c', not white space", what,
                static_cast<char>(c)),
           -1;
  return value;
}

// One plain sample: white space and comments, then decimal digits; the byte after them is
// taken if it is white space and put back otherwise. -1 at the end, -2 for anything else.
int64_t plain_sample(Source &s) {
  int c = header_byte(s);
  while (is_space(c)) c = header_byte(s);
  if (c == -1) return -1;
  if (!is_digit(c)) return -2;
  int64_t value = 0;
  for (; is_digit(c); c = s.get()) value = std::min(value * 10 + (c - '0'), kNumberCap);
  if (c != -1 && !is_space(c)) s.unget();
  return value;
}

// Samples of 1..254: scaled through a table; false when one is above the maximum.
bool scale_bytes(uint8_t *p, int64_t n, uint32_t max) {
  uint8_t table[256] = {};
  for (uint32_t v = 0; v <= max; ++v) table[v] = scale_sample(v, max);
  uint8_t highest = 0;
  for (int64_t i = 0; i < n; ++i) {
    highest = std::max(highest, p[i]);
    p[i] = table[p[i]];
  }
  return highest <= max;
}

// Two-byte samples (most significant first) scaled into bytes; the highest sample seen.
// `Max` is a constant for the common maximum 65535, so the division becomes a multiply.
template <typename Max>
uint32_t scale_wide(const uint8_t *in, uint8_t *out, int64_t count, Max max) {
  uint32_t highest = 0;
  for (int64_t i = 0; i < count; ++i) {
    const uint32_t v = (uint32_t{in[2 * i]} << 8) | in[2 * i + 1];
    highest = std::max(highest, v);
    out[i] = scale_sample(std::min<uint32_t>(v, max), max);
  }
  return highest;
}

Failed short_samples(Source &s, int64_t got, int64_t want) {
  if (s.failed_reading()) return {};
  return fail(CORVIX_E_FORMAT, "file ends after %lld of %lld sample bytes",
              static_cast<long long>(got), static_cast<long long>(want));
}

Failed above_maximum(uint32_t max) {
  return fail(CORVIX_E_FORMAT, "a sample exceeds the maximum value %u", max);
}

// Two-byte samples read in chunks and scaled into dst.
bool read_wide_samples(Source &s, uint8_t *dst, int64_t n, uint32_t max) {
  uint8_t chunk[16384];
  constexpr int64_t kPerChunk = sizeof chunk / 2;
  uint32_t highest = 0;
  for (int64_t done = 0; done < n;) {
    const int64_t count = std::min(kPerChunk, n - done);
    if (!s.read_exact(chunk, 2 * count)) return short_samples(s, 2 * done + s.got(), 2 * n);
    const uint32_t h = max == 65535 ? scale_wide(chunk, dst + done, count,
                                                 std::integral_constant<uint32_t, 65535>{})
                                    : scale_wide(chunk, dst + done, count, max);
    highest = std::max(highest, h);
    done += count;
  }
  return highest <= max ? true : static_cast<bool>(above_maximum(max));
}

bool read_binary_samples(Source &s, uint8_t *dst, int64_t n, uint32_t max) {
  if (max > 255) return read_wide_samples(s, dst, n, max);
  if (!s.read_exact(dst, n)) return short_samples(s, s.got(), n);
  if (max != 255 && !scale_bytes(dst, n, max)) return above_maximum(max);
  return true;
}

bool read_plain_samples(Source &s, uint8_t *dst, int64_t n, uint32_t max) {
  for (int64_t i = 0; i < n; ++i) {
    const int64_t v = plain_sample(s);
    if (v == -1) {
      if (s.failed_reading()) return {};
      return fail(CORVIX_E_FORMAT, "file ends after %lld of %lld samples",
                  static_cast<long long>(i), static_cast<long long>(n));
    }
    if (v < 0)
      return fail(CORVIX_E_FORMAT, "sample %lld is not a decimal number",
                  static_cast<long long>(i + 1));
    if (v > max) return above_maximum(max);
    dst[i] = max == 255 ? static_cast<uint8_t>(v) : scale_sample(static_cast<uint32_t>(v), max);
  }
  return true;
}

const char *kind_name(int kind) {
  switch (kind) {
    case '1': return "a plain PBM file";
    case '2': return "a plain PGM file";
    case '3': return "a plain PPM file";
    case '4': return "a PBM file";
    case '5': return "a PGM file";
    case '6': return "a PPM file";
    case '7': return "a PAM file";
    default: return nullptr;
  }
}

}  // namespace

Bitmap *read_netpbm(Source &s, bool ppm_only) {
  const int first = s.get();
  if (first == -1) {
    if (s.failed_reading()) return {};
    return fail(CORVIX_E_FORMAT, "the file is empty");
  }
  const int kind = s.get();
  const bool wanted = first == 'P' && (ppm_only ? kind == '6' : netpbm_magic(first, kind));
  if (!wanted) {
    const char *name = first == 'P' ? kind_name(kind) : nullptr;
    if (ppm_only)
      return name != nullptr ? fail(CORVIX_E_FORMAT, "not a binary PPM file: %s", name)
                             : fail(CORVIX_E_FORMAT, "not a binary PPM file");
    return name != nullptr ? fail(CORVIX_E_FORMAT, "%s, which is not read", name)
                           : fail(CORVIX_E_FORMAT, "not a PPM or PGM file");
  }
  // At least one white-space byte or a comment before the width.
  const int c = header_byte(s);
  if (c == -1) return cut_short(s, "width");
  if (!is_space(c)) return fail(CORVIX_E_FORMAT, "no white space after the magic number");
  const int64_t width = header_number(s, "width");
  if (width < 0) return nullptr;
  const int64_t height = header_number(s, "height");
  if (height < 0) return nullptr;
  const int64_t max = header_number(s, "maximum value");
  if (max < 0) return nullptr;
  if (width < 1 || height < 1)
    return fail(CORVIX_E_FORMAT, "the image is empty (%lldx%lld)", static_cast<long long>(width),
                static_cast<long long>(height));
  if (max < 1 || max > 65535)
    return fail(CORVIX_E_FORMAT, "maximum sample value %lld is not 1..65535",
                static_cast<long long>(max));

  const bool colour = kind == '6' || kind == '3';
  const bool plain = kind == '2' || kind == '3';
  const int32_t bpp = colour ? 3 : 1;
  const int64_t bytes = checked_size(width, height, bpp);
  if (bytes < 0)
    return fail(CORVIX_E_FORMAT, "%lld x %lld x %d does not fit a 32-bit size",
                static_cast<long long>(width), static_cast<long long>(height), bpp);
  // A header announcing more samples than a file holds fails before anything is allocated.
  // Plain samples take at least one digit and one separator each (none after the last).
  const int64_t least = plain ? 2 * bytes - 1 : max > 255 ? 2 * bytes : bytes;
  const int64_t left = s.remaining();
  if (left >= 0 && least > left) {
    if (plain)
      return fail(CORVIX_E_FORMAT, "file ends after %lld bytes, too few for %lld plain samples",
                  static_cast<long long>(left), static_cast<long long>(bytes));
    return fail(CORVIX_E_FORMAT, "file ends after %lld of %lld sample bytes",
                static_cast<long long>(left), static_cast<long long>(least));
  }

  Bitmap *b = gx_allocrawbitmap(static_cast<int32_t>(width), static_cast<int32_t>(height), bpp);
  if (b == nullptr)
    return fail(CORVIX_E_NOMEM, "out of memory for a %lldx%lld image",
                static_cast<long long>(width), static_cast<long long>(height));
  const auto m = static_cast<uint32_t>(max);
  if (!(plain ? read_plain_samples(s, b->pixels, bytes, m)
              : read_binary_samples(s, b->pixels, bytes, m))) {
    gx_freebitmap(b);
    return nullptr;
  }
  return b;
}

int netpbm_header(const Bitmap *b, char (&header)[48]) {
  if (b == nullptr) return fail(CORVIX_E_INVALID, "no bitmap");
  if (b->bytes_per_pixel != 1 && b->bytes_per_pixel != 3)
    return fail(CORVIX_E_INVALID, "a bitmap of %d bytes a pixel is no PPM or PGM image",
                b->bytes_per_pixel);
  if (b->width < 1 || b->height < 1)
    return fail(CORVIX_E_INVALID, "the bitmap is empty (%dx%d)", b->width, b->height);
  if (bitmap_bytes(b, b->bytes_per_pixel) <= 0)
    return fail(CORVIX_E_INVALID, "the bitmap has no pixels or does not fit a 32-bit size");
  return std::snprintf(header, sizeof header, "P%c\n%ld %ld\n255\n",
                       b->bytes_per_pixel == 3 ? '6' : '5', static_cast<long>(b->width),
                       static_cast<long>(b->height));
}

}  // namespace corvix
