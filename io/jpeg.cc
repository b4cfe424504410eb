// JPEG through libjpeg-turbo's TurboJPEG interface: baseline and progressive, grey and colour.
#include <turbojpeg.h>

#include <cstdlib>
#include <cstring>

#include "core/error.h"
#include "core/pixels.h"
#include "corvix/bitmap.h"
#include "io/codecs.h"

namespace corvix {
namespace {

struct Handle {
  tjhandle h;
  ~Handle() {
    if (h != nullptr) tjDestroy(h);
  }
};

}  // namespace

Bitmap *decode_jpeg(const uint8_t *data, size_t size, CorvixImageInfo *what) {
  what->format = CORVIX_FORMAT_JPEG;
  Handle tj{tjInitDecompress()};
  if (tj.h == nullptr) return fail(CORVIX_E_NOMEM, "out of memory");
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(tj.h, data, static_cast<unsigned long>(size), &width, &height,
                          &subsampling, &colourspace) != 0)
    return fail(CORVIX_E_FORMAT, "damaged JPEG file: %s", tjGetErrorStr2(tj.h));
  if (colourspace == TJCS_CMYK || colourspace == TJCS_YCCK)
    return fail(CORVIX_E_FORMAT, "a CMYK JPEG file, which is not read");
  const int32_t bpp = colourspace == TJCS_GRAY ? 1 : 3;
  if (width < 1 || height < 1 || checked_size(width, height, bpp) < 0)
    return fail(CORVIX_E_FORMAT, "%d x %d x %d does not fit a 32-bit size", width, height, bpp);
  // Every 8x8 block of a sequential file costs at least a bit, so it holds at most 512
  // pixels a byte; progressive and arithmetic-coded files can skip blocks, so past 16 Mi
  // pixels a looser 4096 a byte holds. A header claiming more is damaged or hostile, and is
  // refused before the image's memory is taken and its blocks decoded.
  if (int64_t{width} * height > (int64_t{1} << 24) + 4096 * static_cast<int64_t>(size))
    return fail(CORVIX_E_FORMAT, "%d x %d pixels cannot come from a JPEG file of %zu bytes",
                width, height, size);
  Bitmap *b = gx_allocrawbitmap(width, height, bpp);
  if (b == nullptr) return fail(CORVIX_E_NOMEM, "out of memory for a %dx%d image", width, height);
  // A warning (a cut-short or damaged file) ends the decode as an error; progressive files
  // of absurdly many scans are refused rather than decoded for minutes.
  if (tjDecompress2(tj.h, data, static_cast<unsigned long>(size), b->pixels, width, 0, height,
                    bpp == 1 ? TJPF_GRAY : TJPF_RGB,
                    TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS) != 0) {
    gx_freebitmap(b);
    return fail(CORVIX_E_FORMAT, "damaged or cut-short JPEG file: %s", tjGetErrorStr2(tj.h));
  }
  return b;
}

bool encode_jpeg(const Bitmap *bitmap, int32_t quality, Encoded *out) {
  Handle tj{tjInitCompress()};
  if (tj.h == nullptr) return fail(CORVIX_E_NOMEM, "out of memory");
  const bool grey = bitmap->bytes_per_pixel == 1;
  // The accurate DCT, as cjpeg and other encoders use by default (TurboJPEG's default is the
  // fast one, which loses detail).
  unsigned char *file = nullptr;
  unsigned long size = 0;
  if (tjCompress2(tj.h, bitmap->pixels, bitmap->width, 0, bitmap->height,
                  grey ? TJPF_GRAY : TJPF_RGB, &file, &size, grey ? TJSAMP_GRAY : TJSAMP_420,
                  quality, TJFLAG_ACCURATEDCT) != 0) {
    tjFree(file);
    return fail(CORVIX_E_NOMEM, "cannot encode the JPEG file: %s", tjGetErrorStr2(tj.h));
  }
  out->data = static_cast<uint8_t *>(std::malloc(size));
  if (out->data != nullptr) std::memcpy(out->data, file, size);
  out->size = size;
  tjFree(file);
  return out->data != nullptr ? true : static_cast<bool>(fail(CORVIX_E_NOMEM, "out of memory"));
}

}  // namespace corvix
