// Fuzz targets for the PNG and the JPEG decoder (built once for each, CORVIX_FUZZ_PNG or
// CORVIX_FUZZ_JPEG). Any bytes must decode or be refused with a reason, without a fault, a
// leak or undefined behaviour; whatever decodes must encode, and a PNG must decode back to
// the same pixels.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "corvix/corvix.h"
#include "io/codecs.h"
#include "tests/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  CorvixImageInfo info{};
  corvix_clear_error();
#if defined(CORVIX_FUZZ_PNG)
  // The last input byte picks dropping or composing alpha.
  const int32_t background = size > 0 && (data[size - 1] & 1) ? 0x204060 : CORVIX_ALPHA_DROP;
  Bitmap *b = corvix::decode_png(data, size, background, &info);
  const char *format = "png";
#else
  Bitmap *b = corvix::decode_jpeg(data, size, &info);
  const char *format = "jpeg";
#endif
  CHECK(b != nullptr || corvix_last_error()[0] != '\0');
  if (b != nullptr) {
    size_t n = 0;
    void *file = corvix_save_image_memory(b, format, 90, &n);
    CHECK(file != nullptr);
    Bitmap *back = corvix_load_image_memory(file, n);
    CHECK(back != nullptr && back->width == b->width && back->height == b->height &&
          back->bytes_per_pixel == b->bytes_per_pixel);
#if defined(CORVIX_FUZZ_PNG)
    CHECK(std::memcmp(back->pixels, b->pixels,
                      size_t(b->width) * size_t(b->height) * size_t(b->bytes_per_pixel)) == 0);
#endif
    gx_freebitmap(back);
    std::free(file);
    gx_freebitmap(b);
  }
  CHECK(g_live_blocks == 0);
  return 0;
}
