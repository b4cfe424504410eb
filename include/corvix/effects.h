/* corvix: effects routines.
 *
 * A call that refuses its arguments or fails also leaves the reason, per thread, for
 * corvix_last_error() (corvix/error.h); results and return values are as described here.
 * A result of width or height 0 is made without reading or writing a pixel. */
#ifndef CORVIX_EFFECTS_H
#define CORVIX_EFFECTS_H

#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

/* ---- Frame scaling ---------------------------------------------------------------- */

/* A resized copy of a one-byte-per-pixel frame by nearest sampling: result pixel (x, y) takes
 * source pixel ((W * x) / W', (H * y) / H'), the quotients truncated, so nothing is blended.
 * The source is read as one byte per pixel whatever its bytes-per-pixel field says (any
 * field of 1 or more holds that) and is not changed. Returns a new one-byte bitmap of
 * width x height that the caller releases with gx_freebitmap, or NULL, with nothing left
 * allocated, when memory runs out, the source is NULL or unusable (negative sizes, a field
 * below 1, no pixels), a size is negative, an empty source is asked for a non-empty result,
 * or W * (W' - 1) or H * (H' - 1) does not fit a signed 32-bit integer. A width or height of
 * 0 gives the empty bitmap without sampling. */
CORVIX_API Bitmap *cvx_scale_ll(const Bitmap *source, int32_t width, int32_t height);

/* ---- Level correction ------------------------------------------------------------- */

/* Contrast, brightness and negative correction of every byte of a frame, in place: a level
 * i becomes trunc((i - 128) * contrast / 100 + 128) + offset, clamped to 0..255 (the factor
 * and the product in single precision, the sum in double), then 255 minus that when
 * `invert` is non-zero. Contrast is in percent (100 keeps levels, 0 makes them all 128,
 * negative values turn them around 128). All width x height x bytes-per-pixel bytes are
 * treated alike, so every channel of a colour frame gets the same curve. A NULL frame or
 * one with negative sizes, no pixels or a size that does not fit is left alone. */
CORVIX_API void cvx_correct_ll(Bitmap *frame, int32_t contrast, int32_t offset, int32_t invert);

/* ---- Fades ------------------------------------------------------------------------ */

/* One step of a cross-fade from frame A to frame B: for each of the
 * n = width x height x bytes_per_pixel bytes, output = (b * level + a * (255 - level)) / 255,
 * the fraction dropped. Level 0 gives A, 255 gives B; levels outside 0..255 are taken as
 * the nearer end. The output may be the buffer of A or of B. Nothing happens for negative
 * sizes, a byte count that does not fit, or a NULL buffer when n > 0. */
CORVIX_API void cvx_fadeover_ll(const uint8_t *a, const uint8_t *b, uint8_t *output, int32_t level,
                                int32_t width, int32_t height, int32_t bytes_per_pixel);
/* Raises every byte of the frame below level + 1 to level + 1, in place: level -1 (or
 * lower) changes nothing, level 254 makes every byte 255 and so does any higher level.
 * Works on width x height x bytes-per-pixel bytes; a NULL or unusable frame is left alone. */
CORVIX_API void cvx_specialfade_ll(Bitmap *frame, int32_t level);
/* Replaces every byte of frame A below level + 1 by the byte of `b` at the same offset, in
 * place in A: dark bytes give way first, level -1 (or lower) changes nothing, level 255 (or
 * higher) copies all of B. `b` is only read and holds at least as many bytes as A's
 * width x height x bytes-per-pixel. A NULL or unusable A, or a NULL `b` for a non-empty A,
 * does nothing. */
CORVIX_API void cvx_specialfadeover_ll(Bitmap *a, const uint8_t *b, int32_t level);
/* The same operation as cvx_specialfadeover_ll under its library name. */
CORVIX_API void cvx_flickerover_ll(Bitmap *a, const uint8_t *b, int32_t level);

/* ---- Deinterlace ------------------------------------------------------------------ */

/* Line doubling of a three-byte-per-pixel frame, in place: each odd row becomes a copy of
 * the even row above it; the last row of an odd height keeps its pixels, even rows are never
 * written. Rows are width x 3 bytes whatever the bytes-per-pixel field says, so a NULL
 * frame, negative sizes, a field below 3 or a size that does not fit leave it alone. */
CORVIX_API void cvx_deinterlace_ll(Bitmap *frame);

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
CORVIX_API void fxx_minmax_ll(Bitmap *frame, int32_t red_low, int32_t red_high, int32_t green_low,
                              int32_t green_high, int32_t blue_low, int32_t blue_high,
                              int32_t master_low, int32_t master_high);
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
