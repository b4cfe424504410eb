/* corvix: io routines. */
#ifndef CORVIX_IO_H
#define CORVIX_IO_H

#include <stddef.h>
#include <stdio.h>

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
 * or NULL with nothing allocated, the file closed and the reason set (corvix/error.h) when:
 * the name is NULL; the file cannot be opened or is a directory; the header is malformed or
 * cut short; width or height is below 1; width x height x 3 does not fit a signed 32-bit
 * size; the maximum is 0 or above 65535; a sample exceeds the maximum; fewer sample bytes
 * follow than the header announces; memory runs out. Bytes after the samples are never read. A pipe or device is read as it
 * comes; a regular file must hold every announced sample before any memory is taken. */
CORVIX_API Bitmap *gx_loadppmasbitmap(const char *filename);

/* Saves a three-byte bitmap as a binary PPM file: the header "P6\n<width> <height>\n255\n"
 * (plain decimal numbers), then the pixel buffer as it stands, nothing after it.
 * An existing regular file of that name is replaced only once the whole new file has been
 * written and closed (it is written under a temporary name in the same directory, given the
 * old file's permissions, and renamed over it); a symbolic link is followed to the file it
 * names. A device or pipe is written directly (a pipe that nobody reads fails at once).
 * Returns 1 when the whole file was written, closed without an error and renamed into place,
 * else 0 with the reason set, leaving no partial file and an older file of that name as it
 * was. Refused with 0 and no file made: a NULL bitmap or name,
 * bytes per pixel other than 3, width or height below 1, a NULL pixel buffer, a size that
 * does not fit a signed 32-bit count. */
CORVIX_API int32_t gx_savebitmapasppm(const Bitmap *bitmap, const char *filename);

/* The loader on other sources, with the same header rules and the same refusals.
 * gx_loadppmasbitmapfd reads an open descriptor from its current offset and leaves it open,
 * placed just after the image (a seekable file is read ahead and put back; a pipe is read a
 * header byte at a time), so a stream of images can be read one after another. A regular
 * file must hold every announced sample before any memory is taken.
 * gx_loadppmasbitmapfile does the same on a stdio stream, taking nothing beyond the image.
 * gx_loadppmasbitmapmemory reads the first image of size bytes at data. */
CORVIX_API Bitmap *gx_loadppmasbitmapfd(int fd);
CORVIX_API Bitmap *gx_loadppmasbitmapfile(FILE *stream);
CORVIX_API Bitmap *gx_loadppmasbitmapmemory(const void *data, size_t size);

/* The saver onto an open descriptor or a stdio stream (flushed), which stays open: the same
 * bytes and refusals as gx_savebitmapasppm; 1 when all of it was written, else 0 (what was
 * written before a failure stays written). */
CORVIX_API int32_t gx_savebitmapasppmfd(const Bitmap *bitmap, int fd);
CORVIX_API int32_t gx_savebitmapasppmfile(const Bitmap *bitmap, FILE *stream);

/* ---- Image files of any kind ------------------------------------------------------ */

/* What a loaded file held. */
enum {
  CORVIX_FORMAT_NONE = 0,
  CORVIX_FORMAT_PPM = 1, /* binary or plain PPM */
  CORVIX_FORMAT_PGM = 2, /* binary or plain PGM */
  CORVIX_FORMAT_PNG = 3,
  CORVIX_FORMAT_JPEG = 4
};
typedef struct CorvixImageInfo {
  int32_t format; /* CORVIX_FORMAT_* */
  int32_t alpha;  /* 1 when the file carried transparency (now dropped or composed) */
} CorvixImageInfo;

/* Background for the _ex loaders that drops transparency instead of composing it. */
#define CORVIX_ALPHA_DROP (-1)

/* Loads an image chosen by its first bytes, never by its name: binary PPM (P6) and PGM (P5),
 * plain PPM (P3) and PGM (P2), PNG (1..16 bits a sample; grey, grey with alpha, RGB, RGBA,
 * palette; interlaced or not) and JPEG (baseline and progressive, grey and colour). Grey
 * images load as one byte a pixel, colour ones as three, red first. Samples of more than 8
 * bits are reduced as the PPM loader reduces them, (v * 255 + max / 2) / max. Transparency
 * is dropped. Returns a bitmap the caller releases with gx_freebitmap, or NULL with the
 * reason (corvix_last_error) set and nothing allocated: a file that cannot be read, bytes of
 * none of these kinds, a damaged or cut-short file (a PNG must run to its end chunk, a JPEG
 * decode must finish without a warning), an image whose width x height x 3 does not fit a
 * signed 32-bit size, memory. */
CORVIX_API Bitmap *corvix_load_image(const char *filename);
/* The same from size bytes at data. */
CORVIX_API Bitmap *corvix_load_image_memory(const void *data, size_t size);
/* The same from an open descriptor's current offset (it stays open). A netpbm image leaves it
 * just after the image, as gx_loadppmasbitmapfd does, so an image stream can be read one by
 * one; a PNG or JPEG is read to the end of the descriptor. */
CORVIX_API Bitmap *corvix_load_image_fd(int fd);

/* The loaders above with transparency composed over a background colour, 0xRRGGBB (each
 * channel (c * a + bg * (max - a)) / max, rounded, at the file's precision: max 255 or 65535
 * with the background's channels taken x 257), or dropped
 * with CORVIX_ALPHA_DROP; a grey image over a coloured background becomes colour. `info`
 * (may be NULL) receives what the file held, also when the load fails after the header. */
CORVIX_API Bitmap *corvix_load_image_ex(const char *filename, int32_t background,
                                        CorvixImageInfo *info);
CORVIX_API Bitmap *corvix_load_image_memory_ex(const void *data, size_t size, int32_t background,
                                               CorvixImageInfo *info);
CORVIX_API Bitmap *corvix_load_image_fd_ex(int fd, int32_t background, CorvixImageInfo *info);

/* Saves a bitmap of one (grey) or three (colour, red first) bytes a pixel. `format`: "ppm",
 * "pgm" or "pnm" (all three: the netpbm form of the bitmap, binary PPM for three bytes a
 * pixel and PGM for one, maximum 255), "png" (8 bits a sample, grey or RGB, lossless),
 * "jpeg" or "jpg" (baseline, 4:2:0 for colour, at `quality` 1..100); NULL picks it from the
 * file name's extension (.ppm .pgm .pnm .png .jpg .jpeg, any case). `quality` is read for
 * JPEG only. The file is replaced as gx_savebitmapasppm replaces it: whole or not at all.
 * Returns 1 when the whole file was written, else 0 with the reason set: a NULL or empty
 * bitmap, other bytes per pixel, an unknown format or extension, quality outside 1..100, a
 * file that cannot be written. */
CORVIX_API int32_t corvix_save_image(const Bitmap *bitmap, const char *filename, const char *format,
                                     int32_t quality);
/* The same onto an open descriptor, which stays open; `format` must be named. */
CORVIX_API int32_t corvix_save_image_fd(const Bitmap *bitmap, int fd, const char *format,
                                        int32_t quality);
/* The same into memory: a buffer from malloc holding the file (release it with free), its
 * length in *size; NULL with the reason set. */
CORVIX_API void *corvix_save_image_memory(const Bitmap *bitmap, const char *format, int32_t quality,
                                          size_t *size);

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
