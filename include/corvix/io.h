/* corvix: io routines. */
#ifndef CORVIX_IO_H
#define CORVIX_IO_H

#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

CORVIX_EXTERN_C_END

#endif
