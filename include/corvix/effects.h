/* corvix: effects routines. */
#ifndef CORVIX_EFFECTS_H
#define CORVIX_EFFECTS_H

#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

/* ---- Frame scaling ---------------------------------------------------------------- */

/* ---- Level correction ------------------------------------------------------------- */

/* ---- Fades ------------------------------------------------------------------------ */

/* ---- Deinterlace ------------------------------------------------------------------ */

/* ---- Mirror and invert ------------------------------------------------------------ */

/* Mirrors a frame of three-byte pixels in place: a non-zero `upside_down` reverses the order
 * of the rows, a non-zero `left_right` the order of the pixels within each row (the three
 * bytes of a pixel keep their order); both together turn the frame by half a turn. Rows are
 * width x 3 bytes whatever the bytes-per-pixel field says. Takes no memory. A NULL frame,
 * negative sizes, a bytes-per-pixel field below 3 or a size past 2^31 bytes: nothing. */
CORVIX_API void fxx_mirror_ll(Bitmap *frame, int32_t upside_down, int32_t left_right);
/* The negative: each of the frame's width x height x bytes-per-pixel bytes b becomes
 * 255 - b. A NULL frame, negative sizes or a size past 2^31 bytes: nothing. */
CORVIX_API void fxx_invert_ll(Bitmap *frame);

/* ---- Quarter turns ---------------------------------------------------------------- */

/* A new bitmap (three bytes a pixel) holding the source turned: `turn` 0 a quarter turn
 * clockwise (height x width; source (x, y) lands at column height-1-y of row x), 1 a half
 * turn (width x height; at (width-1-x, height-1-y)), 2 a quarter turn counter-clockwise
 * (height x width; at column y of row width-1-x). The source is read as width x height x 3
 * bytes whatever its bytes-per-pixel field says, and is not changed. The caller owns the
 * result (gx_freebitmap). NULL when memory runs out, for another turn code, a NULL source,
 * negative sizes, a bytes-per-pixel field below 3 or a size past 2^31 bytes; nothing is
 * allocated then. */
CORVIX_API Bitmap *fxx_rotangle_ll(const Bitmap *source, int32_t turn);

/* ---- Level statistics and stretch ------------------------------------------------- */

/* The lowest and highest sample of a frame of three-byte pixels, in a new 8-byte record the
 * caller releases with PPCFreeVec. `channel` 1, 2, 3 samples byte 0, 1, 2 of each pixel;
 * 0 the average of the three bytes, truncated; any other value reads no pixel. With no
 * sample the record holds minimum 255 and maximum 0. NULL when memory runs out, for a NULL
 * frame, negative sizes, a bytes-per-pixel field below 3 or a size past 2^31 bytes. */
CORVIX_API LevelRange *fxx_findminmax_ll(const Bitmap *frame, int32_t channel);
/* Stretches each byte of a frame of three-byte pixels in place: byte 0 from red_low..red_high
 * to 0..255, byte 1 by the green pair, byte 2 by the blue pair, then every result by the
 * master pair the same way. A pair maps values at or below its low bound to 0, at or above
 * its high bound to 255 and between them to (v - low) x 255 / (high - low), truncated; the
 * bounds may come in either order, and equal bounds map everything to 0. Takes no memory.
 * A NULL frame, negative sizes, a bytes-per-pixel field below 3 or a size past 2^31 bytes:
 * nothing. */
CORVIX_API void fxx_minmax_ll(Bitmap *frame, int32_t red_low, int32_t red_high,
                              int32_t green_low, int32_t green_high, int32_t blue_low,
                              int32_t blue_high, int32_t master_low, int32_t master_high);
/* Automatic levels: stretches each byte of a frame of three-byte pixels from its own lowest
 * to its own highest value over the frame (fxx_minmax_ll with the measured pairs and the
 * master pair 0, 255). When memory for the measurements runs out the frame is unchanged.
 * Refuses what fxx_minmax_ll refuses. */
CORVIX_API void fxx_min_max_ll(Bitmap *frame);
/* `value` raised to `low`, then lowered to `high` (so `high` when low > high). */
CORVIX_API int32_t fx_minmax(int32_t value, int32_t low, int32_t high);
/* Ignores its argument and does nothing. */
CORVIX_API void fxm_perc(int32_t value);

CORVIX_EXTERN_C_END

#endif
