/* corvix: geometry routines. */
#ifndef CORVIX_GEOMETRY_H
#define CORVIX_GEOMETRY_H

#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

CORVIX_EXTERN_C_END

#endif
