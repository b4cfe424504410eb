/* corvix: colour conversion, palettes and pixel scaling. */
#ifndef CORVIX_COLOUR_H
#define CORVIX_COLOUR_H

#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

/* YUV (BT.601 studio range) to three-byte pixels. The planes hold one Y byte per pixel and
 * one Cr and one Cb byte per group of `group` pixels; groups run across row ends. Writes
 * byte 0 = Y + blue-difference term of Cb, byte 1 = green, byte 2 = Y + red-difference term
 * of Cr, each clamped to 0..255 (blue, green, red when the second plane is Cr).
 * Whole groups are converted: `count` is raised to the next multiple of `group`, so the
 * caller provides Y of P bytes, Cr and Cb of P / group bytes and a destination of 3 x P
 * bytes, P being the raised count. A count or group of 0 converts nothing. */
CORVIX_API void fx_yuvtorgb_ll(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                               uint8_t *destination, uint32_t count, uint32_t group);
/* The library name of the same conversion. */
CORVIX_API void gx_yuv_to_rgb(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                              uint8_t *destination, uint32_t count, uint32_t group);
/* gx_yuv_to_rgb with groups of four pixels (4:1:1). */
CORVIX_API void gx_yuvtorgb(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                            uint8_t *destination, uint32_t count);

/* ---- YUV scaling ------------------------------------------------------------------ */

/* ---- Palette and remapping -------------------------------------------------------- */

/* ---- Pixel scaling ---------------------------------------------------------------- */

CORVIX_EXTERN_C_END

#endif
