/* corvix: colour conversion, palettes and pixel scaling.
 *
 * A call that refuses its arguments or fails also leaves the reason, per thread, for
 * corvix_last_error() (corvix/error.h); results and return values are as described here.
 * A result of width or height 0 is made without reading or writing a pixel. */
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

/* Scales a YUV frame by nearest lower sample and converts it to three-byte pixels in one pass
 * (the formulas of fx_yuvtorgb_ll). The Y plane holds src_width x src_height bytes, row after
 * row; the Cr and Cb planes hold one byte per `factor` luma samples: the chroma of source
 * pixel (x, y) is at (y * src_width) / factor + x / factor, each division truncating on its
 * own. Destination column i shows source column (i * src_width) / dst_width, row j source row
 * (j * src_height) / dst_height.
 * Result: a new bitmap of dst_width x dst_height x 3 (the caller frees it with
 * gx_freebitmap), or NULL when memory runs out or the call is refused: a factor below 1,
 * negative sizes, sizes whose products do not fit 32 bits, an empty source or a null plane
 * with a non-empty destination. Nothing is left allocated on failure. A destination width or
 * height of 0 reads no plane and gives the empty bitmap. */
CORVIX_API Bitmap *fx_yuvscale_ll(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                                  int32_t src_width, int32_t src_height, int32_t dst_width,
                                  int32_t dst_height, int32_t factor);

/* ---- Palette and remapping -------------------------------------------------------- */

struct ColorMap; /* a screen's colour map of the graphics library (platform.h) */

/* A pen table for the 6 x 6 x 6 colour cube (levels 0, 51, 102, 153, 204, 255 per
 * component; cube index 36 x red + 6 x green + blue): byte k holds the pen of `colormap`
 * nearest to cube colour k, asked of the graphics library once per colour (216 lookups).
 * The table is a 300-byte block of which bytes 0..215 are set. Free it with gx_freepalette.
 * NULL when the table cannot be allocated; the graphics library is then not called. */
CORVIX_API uint8_t *gx_allocpalette(struct ColorMap *colormap);
/* Releases a pen table from gx_allocpalette; NULL does nothing. */
CORVIX_API void gx_freepalette(uint8_t *pens);
/* Reduces three-byte pixels (red, green, blue) to one byte each: the cube index of the
 * pixel's levels, each byte v giving level (v + 20) / 42 - 1 raised to 0, or with a pen
 * table (216 bytes or more) the table's pen for that index. `length` is the source length in
 * bytes, a multiple of 3: the routine reads 3 x ceil(length / 3) source bytes and writes
 * ceil(length / 3) output bytes. The output may be the source itself (reduced in place) but
 * must not overlap it otherwise; the table lies outside both. */
CORVIX_API void gx_remap24(const uint8_t *source, uint8_t *output, const uint8_t *pens,
                           uint32_t length);
/* Replaces each of the `length` bytes of `buffer` with table[byte]. The table must have an
 * entry for every value in the buffer (256 bytes cover any buffer) and lie outside it. */
CORVIX_API void gx_remap8(uint8_t *buffer, const uint8_t *table, uint32_t length);

/* ---- Pixel scaling ---------------------------------------------------------------- */

/* Nearest-sample scaling of a buffer of three-byte (gx_scale24) or one-byte (gx_scale8)
 * pixels, rows without gaps: destination column x shows source column
 * (x * src_width) / dst_width and row y source row (y * src_height) / dst_height, in
 * unsigned 32-bit arithmetic (products keep their low 32 bits). The source holds
 * src_width x src_height pixels, the destination dst_width x dst_height. When the column
 * table cannot be allocated, or the source is empty and the destination is not, nothing is
 * written. */
CORVIX_API void gx_scale24(const uint8_t *source, uint8_t *destination, uint32_t src_width,
                           uint32_t src_height, uint32_t dst_width, uint32_t dst_height);
CORVIX_API void gx_scale8(const uint8_t *source, uint8_t *destination, uint32_t src_width,
                          uint32_t src_height, uint32_t dst_width, uint32_t dst_height);
/* Scales a bitmap in place to width x height, read and written as 3 bytes a pixel whatever
 * its bytes-per-pixel field says (which stays): the pixel buffer (a PPCAllocVec block) is
 * replaced and the old one freed. 1 when scaled; 0 with the bitmap unchanged when memory
 * runs out or the call is refused (NULL bitmap or pixels, a bytes-per-pixel field below 3,
 * negative sizes, sizes that do not fit, an empty bitmap scaled to a non-empty size). */
CORVIX_API int32_t gx_scalebitmap(Bitmap *bitmap, int32_t width, int32_t height);
/* A new bitmap of width x height with the source's bytes per pixel, scaled from the source
 * by gx_scale24 when it has 3 bytes a pixel, otherwise by gx_scale8 over the first
 * width x height bytes (for 2 or 4 and more bytes a pixel the rest of the new buffer is
 * left as allocated). The source is unchanged; the caller frees the result with
 * gx_freebitmap. NULL with nothing allocated when memory runs out or the call is refused
 * (NULL source or pixels, bytes per pixel below 1, negative sizes, sizes that do not fit,
 * an empty source scaled to a non-empty size). */
CORVIX_API Bitmap *gx_scalecopybitmap(const Bitmap *source, int32_t width, int32_t height);
/* Writes each of the `length` source bytes `factor` times in a row: length x factor bytes.
 * A factor of 0 writes nothing. */
CORVIX_API void gx_multchunky(const uint8_t *source, uint8_t *destination, uint32_t length,
                              uint32_t factor);
/* Copies source bytes 0, step, 2 x step, ... below `length`: ceil(length / step) bytes.
 * A step of 0 writes nothing. */
CORVIX_API void gx_divchunky(const uint8_t *source, uint8_t *destination, uint32_t length,
                             uint32_t step);
/* XORs each of the `length` bytes of `buffer` with the low 8 bits of `value`. */
CORVIX_API void gx_xor(uint8_t *buffer, uint32_t length, uint32_t value);

CORVIX_EXTERN_C_END

#endif
