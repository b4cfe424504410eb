/* corvix: blit routines. */
#ifndef CORVIX_BLIT_H
#define CORVIX_BLIT_H

#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

CORVIX_EXTERN_C_END

#endif
