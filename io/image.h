// The loader and writer behind the public image routines, for callers that keep a source or
// an output open across several images (the tool's image streams).
#ifndef CORVIX_IO_IMAGE_H
#define CORVIX_IO_IMAGE_H

#include "corvix/io.h"
#include "io/safe_file.h"
#include "io/source.h"

namespace corvix {

// One image from the source, its kind from the first bytes; a netpbm image leaves the source
// just after it, a PNG or JPEG is read to the end. `info` receives what the file held.
Bitmap *load_image(Source &source, int32_t background, CorvixImageInfo *info);

// The bitmap as a file of `format` (as corvix_save_image names them; not NULL) appended to
// an open file. False with the reason set.
bool write_image(SafeFile &file, const Bitmap *bitmap, const char *format, int32_t quality);

}  // namespace corvix

#endif
