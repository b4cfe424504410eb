/* corvix: blit routines.
 *
 * Every routine here draws into a destination bitmap in place, clipped to it: nothing is read
 * outside the source block the call names and nothing is written outside the destination's
 * pixel buffer, whatever the position. A call it cannot carry out safely (a null record or
 * pixel buffer, negative sizes, a size whose byte count does not fit 32 bits, a pixel size the
 * routine does not draw) leaves every pixel as it was. None of them returns a result.
 * A call that refuses its arguments or fails also leaves the reason, per thread, for
 * corvix_last_error() (corvix/error.h); results and return values are as described here. A
 * rectangle that lies wholly outside the destination is not a refusal. */
#ifndef CORVIX_BLIT_H
#define CORVIX_BLIT_H

#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

/* ---- Chunky blits ----------------------------------------------------------------- */

/* Pixel blocks placed with their top-left pixel at column x, row y of the destination.
 * Destination pixel (col, row) takes block pixel (col - x, row - y); only the part inside the
 * destination is drawn. Rows are drawn top to bottom, each left to right, pixel by pixel, so a
 * block that overlaps the destination's own buffer is read as the drawing goes.
 *
 * The destination's bytes per pixel choose the layout of both sides:
 *   3: the block is w x h packed three-byte pixels (red, green, blue), rows without gaps.
 *   1: the block is w x h one-byte grey pixels; each lands unchanged in the destination's byte
 *      col + row x width (the transparent variants copy it without blending).
 * Destinations of any other pixel size are left untouched. */

/* Opaque copy of a w x h block. */
CORVIX_API void gx_chunkyblit(Bitmap *destination, int32_t w, int32_t h, const uint8_t *source,
                              int32_t x, int32_t y);
/* Blend of a w x h block with transparency p (0 = the block replaces the destination, 100 =
 * the destination stays): each byte becomes (d x p + s x (100 - p)) / 100, truncated, low 8
 * bits stored. A p outside 0..100 runs the same formula in wrapping 32-bit arithmetic. */
CORVIX_API void gx_transchunkyblit(Bitmap *destination, int32_t w, int32_t h, const uint8_t *source,
                                   int32_t x, int32_t y, int32_t p);
/* Blend in which the block pixel's own brightness sets its weight: with t = p x 2.55
 * (truncated) and lum the mean of the pixel's three bytes, a = min(255, 255 - lum + t) and
 * each byte becomes (d x a + s x (255 - a)) / 255, truncated, low 8 bits stored. Black block
 * pixels never show; white ones replace the destination at p = 0; p = 100 changes nothing. */
CORVIX_API void gx_transalphachunkyblit(Bitmap *destination, int32_t w, int32_t h,
                                        const uint8_t *source, int32_t x, int32_t y, int32_t p);
/* gx_chunkyblit with the source bitmap's pixels, width and height. The source's pixel buffer
 * must hold the destination's pixel size: a source whose bytes per pixel are smaller than the
 * destination's, or a null source, draws nothing. */
CORVIX_API void gx_blitbitmap(Bitmap *destination, const Bitmap *source, int32_t x, int32_t y);
/* gx_transchunkyblit with the source bitmap, under the same conditions as gx_blitbitmap. */
CORVIX_API void gx_blitbitmaptrans(Bitmap *destination, const Bitmap *source, int32_t x, int32_t y,
                                   int32_t p);
/* gx_blitbitmap; a null destination or source does nothing. */
CORVIX_API void gx_newblitbitmap(Bitmap *destination, const Bitmap *source, int32_t x, int32_t y);

/* ---- Scaled blits ----------------------------------------------------------------- */

/* A block stretched or shrunk by nearest sampling onto the rectangle with top-left (x, y),
 * dw x dh pixels, of a destination of packed three-byte pixels (bytes per pixel 3 or more;
 * smaller ones are left untouched). Destination pixel (col, row) takes block pixel
 * (((col - x) x sw) / dw, ((row - y) x sh) / dh); only the part inside the destination is
 * drawn, sampled where the whole rectangle would sample it. An empty rectangle or block, or
 * one for which (dw - 1) x sw or (dh - 1) x sh does not fit 32 bits, draws nothing. */

/* Copies every sampled pixel of the sw x sh packed three-byte block. */
CORVIX_API void gx_scaledblit(Bitmap *destination, int32_t sw, int32_t sh, const uint8_t *source,
                              int32_t x, int32_t y, int32_t dw, int32_t dh);
/* Copies only the sampled pixels whose byte 0 (0..255) is greater than threshold; the others
 * leave the destination as it was. */
CORVIX_API void gx_scaledmaskblit(Bitmap *destination, int32_t sw, int32_t sh,
                                  const uint8_t *source, int32_t x, int32_t y, int32_t dw,
                                  int32_t dh, int32_t threshold);
/* Adds a light map of 256 x 256 packed three-byte pixels (196,608 bytes), stretched over the
 * rectangle, onto the destination: byte k becomes min(255, d + low 8 bits of (f_k x m) / 255),
 * m being the map's byte and f_k the red, green or blue factor (255 = full strength, 0 =
 * nothing added). Takes three small tables from PPCAllocVec for the call and releases them;
 * when one cannot be had, no pixel is touched. A null map draws nothing. */
CORVIX_API void gx_scaledlightblit(Bitmap *destination, const uint8_t *light, int32_t x, int32_t y,
                                   int32_t dw, int32_t dh, int32_t red, int32_t green,
                                   int32_t blue);

/* ---- Lines and boxes -------------------------------------------------------------- */

/* Both draw on either pixel layout, chosen by the target's bytes per pixel: 3 sets the three
 * bytes of pixel (x, y) to the low 8 bits of red, green and blue; any other size of 1 or more
 * sets the single byte x + y x width to the low 8 bits of red (green and blue unused). A null
 * target, or one with a pixel size below 1, is left untouched. Points outside the target are
 * skipped. */

/* A one-pixel line from (x1, y1) to (x2, y2), both ends included, by Bresenham stepping along
 * the longer axis; where the error term is exactly 0 the step is diagonal, so a line and its
 * reverse may differ. */
CORVIX_API void gx_drawline(Bitmap *target, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                            int32_t red, int32_t green, int32_t blue);
/* The box with corners (x1, y1) and (x2, y2), both included, clipped to the target. Step 1
 * fills it; step s > 1 draws every s-th column of every s-th row, counted from the top-left
 * corner of the clipped box. A step below 1 draws nothing. */
CORVIX_API void gx_drawbox(Bitmap *target, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                           int32_t red, int32_t green, int32_t blue, int32_t step);

CORVIX_EXTERN_C_END

#endif
