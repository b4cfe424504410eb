/* corvix: making, releasing, cloning and copying bitmaps.
 *
 * A bitmap made here is two PPCAllocVec blocks, the record and its pixel buffer; whoever
 * receives it releases both with gx_freebitmap.
 *
 * A call that refuses its arguments or fails also leaves the reason, per thread, for
 * corvix_last_error() (corvix/error.h); results and return values are as described here. */
#ifndef CORVIX_BITMAP_H
#define CORVIX_BITMAP_H

#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

/* A new bitmap with a zero-filled buffer of width x height x bytes_per_pixel bytes; NULL
 * when memory runs out or the size is negative or does not fit (nothing left allocated). */
CORVIX_API Bitmap *gx_allocbitmap(int32_t width, int32_t height, int32_t bytes_per_pixel);
/* As gx_allocbitmap, but the buffer's contents are undefined. */
CORVIX_API Bitmap *gx_allocrawbitmap(int32_t width, int32_t height, int32_t bytes_per_pixel);
/* Releases the pixel buffer (when not NULL) and the record. NULL does nothing. */
CORVIX_API void gx_freebitmap(Bitmap *bitmap);
/* A new bitmap with the source's geometry and a copy of its pixels; NULL for a NULL source
 * or when memory runs out. */
CORVIX_API Bitmap *gx_clonebitmap(const Bitmap *source);
/* Copies the source's pixels into the destination when width, height and bytes per pixel
 * are equal: 1. Otherwise 0 and nothing is copied, also for a NULL record, negative sizes or
 * a NULL pixel buffer of a non-empty bitmap. */
CORVIX_API int32_t gx_copybitmap(const Bitmap *source, Bitmap *destination);

CORVIX_EXTERN_C_END

#endif
