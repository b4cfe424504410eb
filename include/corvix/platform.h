/* corvix: the kernel services the routines and the server stand on.
 *
 * Memory. Every address the system exchanges is a 32-bit byte offset into one shared
 * segment; offset 0 is null and the first 64 KiB are never handed out. A process that is not
 * a server allocates from a private segment made on first use, so the library works on its
 * own. The allocator's bookkeeping lives outside the segment: a block whose neighbour is
 * overrun, a double free or a foreign free cannot corrupt it. Safe from several threads.
 *
 * Ports. A named port is reachable by other processes of the same user through a socket in
 * the runtime directory ($CORVIX_RUNTIME_DIR, else $XDG_RUNTIME_DIR/corvix, else
 * /tmp/corvix-<uid>; created with mode 0700 and refused when another user owns it). A message
 * carries a command code and the address of an argument block; the sender waits for the
 * reply. */
#ifndef CORVIX_PLATFORM_H
#define CORVIX_PLATFORM_H

#include <stddef.h>
#include "corvix/types.h"

CORVIX_EXTERN_C_BEGIN

/* ---- Memory ---------------------------------------------------------------------- */

#define MEMF_ANY 0x0u       /* contents undefined */
#define MEMF_CLEAR 0x10000u /* filled with zero bytes */

/* A block of `size` bytes (16-byte aligned), or NULL when memory or the caller's quota ran
 * out. A size of 0 gives a valid, distinct block. */
CORVIX_API void *PPCAllocVec(uint32_t size, uint32_t attr);
/* Releases a block from PPCAllocVec. NULL, an address inside a block, a block already
 * released and another owner's block are all refused without effect. */
CORVIX_API void PPCFreeVec(void *block);

/* Leak accounting: live blocks and requested bytes of this process's segment. */
CORVIX_API void corvix_alloc_stats(uint64_t *live_blocks, uint64_t *live_bytes);
/* Failure injection for tests: the n-th PPCAllocVec call from now (1 = the next) returns
 * NULL, once. 0 cancels a pending injection. */
CORVIX_API void corvix_alloc_fail_nth(uint32_t n);
/* Calls to PPCAllocVec (failed ones included) since the process started. */
CORVIX_API uint64_t corvix_alloc_calls(void);

/* ---- Message ports --------------------------------------------------------------- */

typedef struct PPCTagItem {
  uint32_t ti_Tag;
  uintptr_t ti_Data;
} PPCTagItem;

#define TAG_END 0u
#define PPCPORTTAG_NAME 0x80024000u /* ti_Data: const char* port name */
#define PPCMSGTAG_DATA 0x80025000u  /* the argument block's address */
#define PPCMSGTAG_MSGID 0x80025002u /* the command code */

typedef struct PPCPort PPCPort;
typedef struct PPCMessage PPCMessage;

/* NULL when the name is taken by a live server (failure class CORVIX_E_REFUSED), the
 * runtime directory is unsafe, the name is not a plain file name, or the socket cannot be
 * made (CORVIX_E_IO); corvix_last_error() says which. */
CORVIX_API PPCPort *PPCCreatePort(const PPCTagItem *tags);
/* Returns 1 once at least one message waits, serving the hosts' memory requests meanwhile
 * (one request in work per host: a host's next request is read only after its reply was
 * delivered). Returns 0 when a stop signal ended the wait. */
CORVIX_API uint32_t PPCWaitPort(PPCPort *port);
CORVIX_API PPCMessage *PPCGetMessage(PPCPort *port);
CORVIX_API uint32_t PPCGetMessageAttr(PPCMessage *msg, uint32_t tag);
CORVIX_API void PPCReplyMessage(PPCMessage *msg);
/* Closes every connection, removes the name (socket and lock file); the low 16 bits are
 * non-zero once deleted. */
CORVIX_API uint32_t PPCDeletePort(PPCPort *port);
/* A full memory fence: every write before it is visible to the hosts. */
CORVIX_API void PPCCacheFlushAll(void);

/* ---- Calls into 68k libraries ---------------------------------------------------- */

typedef struct Library Library;

/* The call record: the library base, its negative vector offset, the 68k registers and the
 * two cache-mode words. */
typedef struct PPCCallRecord {
  Library *caos_a6;
  int32_t caos_offset;
  uintptr_t caos_d[8];
  uintptr_t caos_a[6];
  int32_t caos_m68k_cache;
  int32_t caos_ppc_cache;
} PPCCallRecord;

/* Runs the routine at the record's vector offset; its d0 result. */
CORVIX_API uintptr_t PPCCallOS(PPCCallRecord *record);
/* The stand-in "graphics.library" at `version` or later; NULL if it is older. Its version is
 * 40, or the value of $CORVIX_GRAPHICS_VERSION. */
CORVIX_API Library *OpenLibrary(const char *name, uint32_t version);
CORVIX_API void CloseLibrary(Library *library);
/* The graphics library base the palette routine calls through (opened on first use when no
 * server start-up opened it). */
CORVIX_API Library *corvix_gfxbase(void);

/* A screen's colour map for the stand-in graphics library: pen k has the colour of triplet
 * k (red, green, blue) of `rgb`. NULL for count < 1 or when memory runs out. */
typedef struct ColorMap ColorMap;
CORVIX_API ColorMap *corvix_colormap_create(const uint8_t *rgb, int32_t count);
CORVIX_API void corvix_colormap_free(ColorMap *map);
/* Vector offset of the nearest-pen lookup: d0 = pen; a3 colour map, d1..d3 left-justified
 * 32-bit red, green, blue, d4 the pen limit (-1 for all pens). */
#define GFX_FINDCOLOR_OFFSET (-1008)

/* Big-endian words and records in shared memory (argument words, Bitmap records). */
CORVIX_API uint32_t corvix_get_be32(const void *at);
CORVIX_API void corvix_put_be32(void *at, uint32_t value);

CORVIX_EXTERN_C_END

#endif
