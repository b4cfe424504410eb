/* corvix: the host side. A host shares memory with a server and sends it commands.
 *
 *   corvix_host *h = corvix_host_open("VODARAVID");      // or corvix_host_embedded()
 *   uint32_t block = corvix_host_alloc(h, 40, MEMF_CLEAR);
 *   uint32_t *words = corvix_host_pointer(h, block);      // big-endian 32-bit words
 *   ...fill words 1..9, send, then read word 0...
 *   corvix_host_send(h, 2, block);
 *
 * Addresses are 32-bit offsets into the server's segment; records in it (argument words,
 * Bitmap records, LevelRange) are big-endian. A host may name only blocks it allocated or
 * that commands returned to it, and may free only those; when it closes or dies the server
 * reclaims them.
 *
 * Limits a server sets: all connections of one host process share one memory quota (1 GiB
 * unless corvixd --quota says otherwise), and a server refuses connections past its caps on
 * connections per process and in all.
 *
 * Failures: every call that fails sets errno and the failure reason (corvix/error.h:
 * corvix_last_error, corvix_last_error_class), e.g. CORVIX_E_REFUSED for a server that is
 * gone or refused, CORVIX_E_TIMEOUT for one that did not answer an open in time,
 * CORVIX_E_NOMEM for a refused allocation. */
#ifndef CORVIX_HOST_H
#define CORVIX_HOST_H

#include "corvix/platform.h" /* corvix_get_be32, corvix_put_be32 */
#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

typedef struct corvix_host corvix_host;

/* Connects to a running server's port. NULL, with errno and the reason set, when none
 * serves that name (ECONNREFUSED or ENOENT), the server refuses the connection
 * (ECONNREFUSED: it holds as many connections as it allows; EUSERS: this process holds as
 * many as it allows), or it does not answer within the open timeout (ETIMEDOUT). */
CORVIX_API corvix_host *corvix_host_open(const char *port_name);
/* The open timeout of this process, for the connection and the server's first answer:
 * `milliseconds` > 0 bounds the wait, 0 waits without a bound, a negative value returns to
 * the default: $CORVIX_HOST_TIMEOUT_MS when set (same meaning), else 5000. Commands are
 * never timed: a send waits as long as the server works on it, and fails at once when the
 * server is gone. */
CORVIX_API void corvix_host_set_timeout(int32_t milliseconds);
/* Starts a server inside this process on a private port and connects to it. NULL, with the
 * reason set, when the port cannot be made (for example an unusable runtime directory). */
CORVIX_API corvix_host *corvix_host_embedded(void);
/* Disconnects (an embedded server is told to quit and joined). NULL does nothing. */
CORVIX_API void corvix_host_close(corvix_host *host);
/* A shared block of `size` bytes; 0 when the server refuses (this process's quota, memory)
 * or is gone. */
CORVIX_API uint32_t corvix_host_alloc(corvix_host *host, uint32_t size, uint32_t attr);
/* Releases one of this host's blocks; anything else is refused by the server. */
CORVIX_API void corvix_host_free(corvix_host *host, uint32_t address);
/* This process's view of a shared address (NULL for 0 or past the segment). */
CORVIX_API void *corvix_host_pointer(corvix_host *host, uint32_t address);
/* Sends a command and waits for the reply: 0 once replied; negative when the server is gone
 * or refused the argument block (-EFAULT: not a live block of this host). */
CORVIX_API int32_t corvix_host_send(corvix_host *host, int32_t code, uint32_t block);
/* Leak accounting through the port: live blocks of the server's whole segment and of this
 * host. 0, or negative when the server is gone. */
CORVIX_API int32_t corvix_host_stats(corvix_host *host, uint32_t *server_blocks,
                                     uint32_t *host_blocks);
/* The port name the host is connected to. */
CORVIX_API const char *corvix_host_port_name(const corvix_host *host);

CORVIX_EXTERN_C_END

#endif
