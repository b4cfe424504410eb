/* corvix: why the last call failed.
 *
 * Results and return values say whether a routine worked (NULL, 0, work not done); the
 * reason sits beside them, per thread. Every public routine that refuses its arguments or
 * fails replaces the reason with a short English sentence ("width x height x 3 does not fit
 * a 32-bit size", "file ends after 1200 of 921600 sample bytes") and a class. A call that
 * succeeds leaves the reason as it was: where a routine's result alone cannot tell failure
 * (routines that return nothing), call corvix_clear_error() before it and look afterwards. */
#ifndef CORVIX_ERROR_H
#define CORVIX_ERROR_H

#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

/* Kinds of failure. */
enum {
  CORVIX_E_NONE = 0,    /* nothing failed since the reason was last cleared */
  CORVIX_E_NOMEM = 1,   /* memory (or a host's quota) ran out */
  CORVIX_E_INVALID = 2, /* an argument the routine cannot take: null, negative, too large */
  CORVIX_E_IO = 3,      /* a file or stream could not be opened, read, written or closed */
  CORVIX_E_FORMAT = 4,  /* the bytes are not a file of the expected kind, or are cut short */
  CORVIX_E_REFUSED = 5, /* a server refused the request or is gone */
  CORVIX_E_TIMEOUT = 6  /* nothing answered in the time allowed */
};

/* The calling thread's last reason: a message without a line end, "" when none. The text
 * stays valid until this thread's next corvix call. */
CORVIX_API const char *corvix_last_error(void);
/* Its class: one of CORVIX_E_*. */
CORVIX_API int32_t corvix_last_error_class(void);
/* Forgets the reason: corvix_last_error() gives "" and the class CORVIX_E_NONE. */
CORVIX_API void corvix_clear_error(void);

CORVIX_EXTERN_C_END

#endif
