/* corvix: the records every routine shares, and the export macro.
 *
 * Pixel buffers: rows from the top row down, each row width x bytes_per_pixel bytes, no
 * padding between rows; pixel (x, y) starts at byte (y * width + x) * bytes_per_pixel.
 * One-byte pixels are chunky (a pen, a grey level or a cube index); three-byte pixels are
 * packed colour. Routines that name channels take byte 0, 1, 2 as red, green, blue; the YUV
 * conversions write blue into byte 0 when their second plane carries Cr.
 *
 * Every record, pixel buffer and per-call table comes from PPCAllocVec and goes back through
 * PPCFreeVec (see platform.h). */
#ifndef CORVIX_TYPES_H
#define CORVIX_TYPES_H

#include <stdint.h>

#if defined(_WIN32)
#define CORVIX_API
#else
#define CORVIX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define CORVIX_EXTERN_C_BEGIN extern "C" {
#define CORVIX_EXTERN_C_END }
#else
#define CORVIX_EXTERN_C_BEGIN
#define CORVIX_EXTERN_C_END
#endif

CORVIX_EXTERN_C_BEGIN

/* The image record. In a process the fields are native; a server translates the 16-byte
 * big-endian record its hosts exchange into this form and back. */
typedef struct Bitmap {
  uint8_t *pixels;
  int32_t width;
  int32_t height;
  int32_t bytes_per_pixel;
} Bitmap;

/* Lowest and highest level found by fxx_findminmax_ll. */
typedef struct LevelRange {
  int32_t minimum;
  int32_t maximum;
} LevelRange;

CORVIX_EXTERN_C_END

#endif
