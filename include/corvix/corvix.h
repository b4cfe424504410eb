/* corvix: image-processing command server and chunky-pixel graphics library.
 *
 * One include for everything: the records, the kernel services (memory, ports), the
 * routines of every family, and the host client library. C and C++ alike. */
#ifndef CORVIX_CORVIX_H
#define CORVIX_CORVIX_H

#include "corvix/types.h"
#include "corvix/platform.h"
#include "corvix/bitmap.h"
#include "corvix/colour.h"
#include "corvix/effects.h"
#include "corvix/geometry.h"
#include "corvix/blit.h"
#include "corvix/io.h"
#include "corvix/error.h"
#include "corvix/threads.h"
#include "corvix/commands.h"
#include "corvix/host.h"

#define CORVIX_VERSION_STRING "0.1.0"

#endif
