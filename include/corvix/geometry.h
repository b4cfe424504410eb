/* corvix: geometry routines.
 *
 * A call that refuses its arguments or fails also leaves the reason, per thread, for
 * corvix_last_error() (corvix/error.h); results and return values are as described here.
 * A result of width or height 0 is made without reading or writing a pixel. */
#ifndef CORVIX_GEOMETRY_H
#define CORVIX_GEOMETRY_H

#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

/* ---- Free rotation ---------------------------------------------------------------- */

/* Turns a bitmap of 1 or 3 bytes per pixel about its centre by `angle` degrees (positive is
 * counter-clockwise on screen) into a new bitmap just large enough for the turned picture;
 * its width and height are always even. Every destination pixel is mapped back into the
 * source and sampled bilinearly from a 2 x 2 block of source pixels; a pixel whose block
 * does not lie wholly inside the source keeps the background: bytes 0, 1 and 2 take the low
 * 8 bits of background0..2 (a 1-byte source uses only background0). The source is only read.
 * Returns the new bitmap (the caller releases it with gx_freebitmap), or NULL when memory
 * runs out, for a NULL or malformed source, a source of other than 1 or 3 bytes per pixel,
 * an angle that is not finite, or a turned size that does not fit; nothing is then left
 * allocated. */
CORVIX_API Bitmap *gx_rotatebitmap(const Bitmap *source, int32_t background0, int32_t background1,
                                   int32_t background2, float angle);

/* ---- Shear and transpose ---------------------------------------------------------- */

/* Shifts the rows first_row..last_row of a 3-byte-per-pixel bitmap to the right: the shift
 * runs from first_shift at the band's first row to last_shift at its last, in whole-percent
 * steps rounded toward first_shift; rows outside the band stay at column 0. The bitmap
 * widens by the larger shift; uncovered pixels take the low 8 bits of background0..2. A band
 * of one row takes first_shift; a band with first_row > last_row shifts nothing but still
 * widens. The bitmap gets a new pixel buffer and the old one (which must come from
 * PPCAllocVec) is released. Returns 1 when done; 0, with the bitmap unchanged, when memory
 * runs out, for a NULL or malformed bitmap, one of other than 3 bytes per pixel, a negative
 * shift, or a widened size that does not fit. */
CORVIX_API int32_t gx_shearbitmap(Bitmap *bitmap, int32_t first_row, int32_t last_row,
                                  int32_t first_shift, int32_t last_shift, int32_t background0,
                                  int32_t background1, int32_t background2);
/* Mirrors a 3-byte-per-pixel bitmap about its main diagonal: pixel (x, y) moves to (y, x),
 * width and height trade places. The bitmap gets a new pixel buffer and the old one (which
 * must come from PPCAllocVec) is released. Returns 1 when done; 0, with the bitmap unchanged,
 * when memory runs out or for a NULL or malformed bitmap or one of other than 3 bytes per
 * pixel. */
CORVIX_API int32_t gx_transposebitmap(Bitmap *bitmap);

/* ---- Cut and smooth --------------------------------------------------------------- */

/* Copies the rectangle with corners (x1, y1) and (x2, y2), both inclusive and in either
 * order, out of a bitmap into a new one of the source's bytes per pixel. The rectangle may
 * reach past the source's edges: pixels there are black (all bytes 0). The source is only
 * read. Returns the new bitmap (the caller releases it with gx_freebitmap), or NULL when
 * memory runs out, for a NULL or malformed source, or when the rectangle's size does not
 * fit; nothing is then left allocated. */
CORVIX_API Bitmap *gx_cutbitmap(const Bitmap *source, int32_t x1, int32_t y1, int32_t x2,
                                int32_t y2);
/* Softens a 3-byte-per-pixel bitmap by `passes` passes of a five-point filter: each byte
 * of an inner pixel becomes (m + (l + r + u + d) / 4) / 2 of its own value m and the same
 * byte of its four neighbours, both divisions truncating; every pass reads only the result
 * of the one before. The outermost rows and columns keep their values. The passes alternate
 * between the bitmap's buffer and one working buffer, so afterwards the bitmap's pixel
 * pointer may name the other block (re-read it; the block not holding the result is
 * released). Returns 1 when done; 0, with the bitmap unchanged and nothing left allocated,
 * when memory runs out, for a negative pass count, for a NULL or malformed bitmap or one of
 * other than 3 bytes per pixel. */
CORVIX_API int32_t gx_smoothbitmap(Bitmap *bitmap, int32_t passes);

CORVIX_EXTERN_C_END

#endif
