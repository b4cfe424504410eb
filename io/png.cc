// PNG through libpng: every colour type and depth in, 8-bit grey or RGB out.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/error.h"
#include "core/pixels.h"
#include "corvix/bitmap.h"
#include "io/codecs.h"
#include "io/netpbm.h"

namespace corvix {
namespace {

// Everything a decode or encode touches, reached through libpng's pointers, so that it stays
// valid across libpng's longjmp out of an error.
struct PngState {
  const uint8_t *data = nullptr;  // reading: the file
  size_t size = 0, pos = 0;
  bool cut_short = false;
  Bitmap *bitmap = nullptr;  // reading: the result
  uint8_t *rows = nullptr;   // reading: decoded rows (all of them when interlaced)
  uint8_t **row_pointers = nullptr;
  Encoded out;  // writing: the file
  size_t capacity = 0;
  char message[160] = "";
};

void on_error(png_structp png, png_const_charp message) {
  auto *state = static_cast<PngState *>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  png_longjmp(png, 1);
}
void on_warning(png_structp, png_const_charp) {}

void read_bytes(png_structp png, png_bytep to, png_size_t n) {
  auto *state = static_cast<PngState *>(png_get_io_ptr(png));
  if (n > state->size - state->pos) {
    state->cut_short = true;
    png_error(png, "cut short");
  }
  std::memcpy(to, state->data + state->pos, n);
  state->pos += n;
}

void write_bytes(png_structp png, png_bytep from, png_size_t n) {
  auto *state = static_cast<PngState *>(png_get_io_ptr(png));
  Encoded &out = state->out;
  if (n > state->capacity - out.size) {
    size_t grown = state->capacity < 65536 ? 65536 : state->capacity;
    while (grown - out.size < n) grown *= 2;
    auto *bigger = static_cast<uint8_t *>(std::realloc(out.data, grown));
    if (bigger == nullptr) png_error(png, "out of memory");
    out.data = bigger;
    state->capacity = grown;
  }
  std::memcpy(out.data + out.size, from, n);
  out.size += n;
}
void flush_bytes(png_structp) {}

// A decoded row (`channels` samples a pixel of 1 or 2 bytes, alpha last where there is one)
// into 8-bit output pixels of `out_bpp` bytes; alpha is dropped (background < 0) or composed
// at the file's precision before two-byte samples are reduced.
void convert_row(const uint8_t *in, uint8_t *out, uint32_t width, int channels, bool wide,
                 bool alpha, int out_bpp, int32_t background) {
  const int colours = alpha ? channels - 1 : channels;
  const uint32_t max = wide ? 65535 : 255, unit = wide ? 257 : 1;
  const uint32_t bg[3] = {((static_cast<uint32_t>(background) >> 16) & 255) * unit,
                          ((static_cast<uint32_t>(background) >> 8) & 255) * unit,
                          (static_cast<uint32_t>(background) & 255) * unit};
  const bool composing = alpha && background >= 0;
  for (uint32_t x = 0; x < width; ++x) {
    uint32_t s[4];
    for (int c = 0; c < channels; ++c) {
      s[c] = wide ? (uint32_t{in[0]} << 8) | in[1] : in[0];
      in += wide ? 2 : 1;
    }
    for (int c = 0; c < out_bpp; ++c) {
      uint32_t v = s[colours == 1 ? 0 : c];
      if (composing) v = compose(v, s[colours], bg[c], max);
      *out++ = wide ? scale_sample(v, 65535) : static_cast<uint8_t>(v);
    }
  }
}

// The decode proper; libpng's errors leave it by longjmp to decode_png.
void decode(png_structp png, png_infop info, PngState *state, int32_t background,
            CorvixImageInfo *what) {
  png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, type = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &type, &interlace, nullptr, nullptr);
  const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  const bool grey = (type & PNG_COLOR_MASK_COLOR) == 0;
  const bool alpha = (type & PNG_COLOR_MASK_ALPHA) != 0 || trns;
  what->alpha = alpha ? 1 : 0;
  // Deflate packs at most 1032 bytes into one, so larger claims are damaged or hostile and
  // are refused before the image's memory is taken.
  const uint64_t file_row = (uint64_t{width} * png_get_channels(png, info) * depth + 7) / 8;
  if (uint64_t{height} * (file_row + 1) > 1032 * uint64_t{state->size} + 65536)
    png_error(png, "the image data cannot fit in a file this small");

  const bool bg_grey = ((background >> 16) & 255) == (background & 255) &&
                       ((background >> 8) & 255) == (background & 255);
  const int out_bpp = grey && !(alpha && background >= 0 && !bg_grey) ? 1 : 3;
  if (checked_size(width, height, out_bpp) < 0) {
    std::snprintf(state->message, sizeof state->message, "%u x %u x %d does not fit a 32-bit size",
                  width, height, out_bpp);
    png_longjmp(png, 2);
  }
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (grey && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (trns) png_set_tRNS_to_alpha(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int channels = png_get_channels(png, info);
  const size_t row_bytes = png_get_rowbytes(png, info);

  state->bitmap =
      gx_allocrawbitmap(static_cast<int32_t>(width), static_cast<int32_t>(height), out_bpp);
  const size_t held = passes > 1 ? height : 1;
  state->rows = static_cast<uint8_t *>(std::malloc(row_bytes * held));
  state->row_pointers = static_cast<uint8_t **>(std::malloc(sizeof(uint8_t *) * held));
  if (state->bitmap == nullptr || state->rows == nullptr || state->row_pointers == nullptr) {
    std::snprintf(state->message, sizeof state->message, "out of memory for a %ux%u image", width,
                  height);
    png_longjmp(png, 3);
  }
  for (size_t y = 0; y < held; ++y) state->row_pointers[y] = state->rows + y * row_bytes;
  const size_t out_row = size_t{width} * out_bpp;
  const bool wide = png_get_bit_depth(png, info) == 16;
  if (passes > 1) png_read_image(png, state->row_pointers);
  for (png_uint_32 y = 0; y < height; ++y) {
    uint8_t *row = state->row_pointers[passes > 1 ? y : 0];
    if (passes == 1) png_read_row(png, row, nullptr);
    convert_row(row, state->bitmap->pixels + y * out_row, width, channels, wide, alpha, out_bpp,
                background);
  }
  png_read_end(png, nullptr);
}

void release_rows(PngState *state) {
  std::free(state->rows);
  std::free(state->row_pointers);
  state->rows = nullptr;
  state->row_pointers = nullptr;
}

void encode(png_structp png, png_infop info, const Bitmap *b) {
  png_set_IHDR(png, info, static_cast<png_uint_32>(b->width), static_cast<png_uint_32>(b->height),
               8, b->bytes_per_pixel == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const size_t row = size_t(b->width) * b->bytes_per_pixel;
  for (int32_t y = 0; y < b->height; ++y) png_write_row(png, b->pixels + y * row);
  png_write_end(png, nullptr);
}

}  // namespace

Bitmap *decode_png(const uint8_t *data, size_t size, int32_t background, CorvixImageInfo *what) {
  PngState state;
  state.data = data;
  state.size = size;
  what->format = CORVIX_FORMAT_PNG;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, on_error, on_warning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return fail(CORVIX_E_NOMEM, "out of memory");
  }
  png_set_read_fn(png, &state, read_bytes);
  const int failed = setjmp(png_jmpbuf(png));
  if (failed == 0) decode(png, info, &state, background, what);
  png_destroy_read_struct(&png, &info, nullptr);
  release_rows(&state);
  if (failed == 0) return state.bitmap;
  gx_freebitmap(state.bitmap);
  if (state.cut_short)
    return fail(CORVIX_E_FORMAT, "PNG file ends after %zu bytes, before its end chunk", size);
  if (failed == 2) return fail(CORVIX_E_FORMAT, "%s", state.message);
  if (failed == 3) return fail(CORVIX_E_NOMEM, "%s", state.message);
  return fail(CORVIX_E_FORMAT, "damaged PNG file: %s", state.message);
}

bool encode_png(const Bitmap *bitmap, Encoded *out) {
  PngState state;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, on_error, on_warning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return fail(CORVIX_E_NOMEM, "out of memory");
  }
  png_set_write_fn(png, &state, write_bytes, flush_bytes);
  const int failed = setjmp(png_jmpbuf(png));
  if (failed == 0) encode(png, info, bitmap);
  png_destroy_write_struct(&png, &info);
  if (failed != 0) {
    std::free(state.out.data);
    return fail(CORVIX_E_NOMEM, "cannot encode the PNG file: %s", state.message);
  }
  *out = state.out;
  return true;
}

}  // namespace corvix
