/* corvix: io routines. */
#ifndef CORVIX_IO_H
#define CORVIX_IO_H

#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

/* ---- PPM files -------------------------------------------------------------------- */

/* Loads a binary PPM ("P6") file into a new three-byte bitmap, red in byte 0.
 * The header follows the netpbm rules: "P6", then width, height and maximum sample value as
 * decimal numbers separated by any run of white space (blank, tab, CR, LF, VT, FF) and
 * "#" comments running to the end of their line, then exactly one white-space byte before
 * the samples. A maximum of 1..255 takes one byte a sample, 256..65535 two bytes, most
 * significant first. Samples are scaled to 0..255 as (v * 255 + max / 2) / max, rounding
 * halves up; a maximum of 255 takes them as they stand.
 * Returns a bitmap of two PPCAllocVec blocks that the caller releases with gx_freebitmap,
 * or NULL with nothing allocated and the file closed when: the name is NULL; the file cannot
 * be opened or is a directory; the header is malformed or cut short; width or height is
 * below 1; width x height x 3 does not fit a signed 32-bit size; the maximum is 0 or above
 * 65535; a sample exceeds the maximum; fewer sample bytes follow than the header announces;
 * memory runs out. Bytes after the samples are never read. A pipe or device is read as it
 * comes; a regular file must hold every announced sample before any memory is taken. */
CORVIX_API Bitmap *gx_loadppmasbitmap(const char *filename);

/* Saves a three-byte bitmap as a binary PPM file: the header "P6\n<width> <height>\n255\n"
 * (plain decimal numbers), then the pixel buffer as it stands, nothing after it.
 * An existing regular file of that name is replaced only once the whole new file has been
 * written and closed (it is written under a temporary name in the same directory, given the
 * old file's permissions, and renamed over it); a symbolic link is followed to the file it
 * names. A device or pipe is written directly (a pipe that nobody reads fails at once).
 * Returns 1 when the whole file was written, else 0, leaving no partial file and an older
 * file of that name as it was. Refused with 0 and no file made: a NULL bitmap or name,
 * bytes per pixel other than 3, width or height below 1, a NULL pixel buffer, a size that
 * does not fit a signed 32-bit count. */
CORVIX_API int32_t gx_savebitmapasppm(const Bitmap *bitmap, const char *filename);

/* ---- Ordered dither --------------------------------------------------------------- */

/* Reduces a three-byte bitmap to eight colours by ordered dithering: each byte becomes 255
 * where it is at least the threshold of a matrix tiled over the image from its top-left
 * pixel, else 0. Methods: 1 ClassicalScreen (8x8), 2 Rectangular (3x3), 3 Halftone (6x6),
 * 4 Bayer4 (4x4), 5 Bayer16 (16x16), 6 FourStars (5x5), 7 BoxDither (5x5).
 * Returns a new bitmap of the source's size with 3 bytes per pixel (release it with
 * gx_freebitmap); the source does not change. NULL when the source is NULL or unusable
 * (NULL pixels, negative sizes, fewer than 3 bytes per pixel), the method is outside 1..7,
 * or memory runs out. A width or height of 0 gives an empty bitmap. A refusal or failure
 * leaves the reason for corvix_last_error() (corvix/error.h). */
CORVIX_API Bitmap *gx_dither(const Bitmap *source, int32_t method);

CORVIX_EXTERN_C_END

#endif
