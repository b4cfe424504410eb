/* corvix: how many threads one call may use.
 *
 * The routines whose work is computation (free rotation, shear, smoothing, dither, the
 * scalers, the YUV conversions, the remaps) and the fades and level corrections of large
 * frames split their rows across threads. Results are the same bytes at any count; small
 * frames stay on the calling thread, where waking others would cost more than it gives.
 *
 * The count in force is, first found:
 *   - the last count set by corvix_set_threads (other than 0);
 *   - the environment variable CORVIX_THREADS, read once, when the count is first needed: a
 *     whole decimal number from 1 to 256, nothing around it. Any other text (empty, 0,
 *     negative, a sign, blanks, a suffix, larger than 256) is ignored;
 *   - the number of cores the process may run on (its affinity mask, so `taskset` and
 *     container cpusets are respected).
 * The count applies to the whole process and to every thread that calls the library. */
#ifndef CORVIX_THREADS_H
#define CORVIX_THREADS_H

#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

/* Sets the count: 1 to 256 threads, or 0 to go back to CORVIX_THREADS or the cores. Returns
 * 1, or 0 for any other count (the count in force stays; corvix_last_error says why). */
CORVIX_API int32_t corvix_set_threads(int32_t count);

/* The count in force, 1 to 256. */
CORVIX_API int32_t corvix_threads(void);

CORVIX_EXTERN_C_END

#endif
