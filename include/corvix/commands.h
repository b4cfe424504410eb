/* corvix: the server's command codes, its port name and its quit answer.
 *
 * A host fills words 1..N of a 40-byte argument block (big-endian), sends the code, and
 * reads word 0 after the reply. CORVIX_COMMAND_WORDS gives N for each code: how many
 * argument words the command reads (the server's own table is checked against it).
 * docs/commands.md says what each word holds. */
#ifndef CORVIX_COMMANDS_H
#define CORVIX_COMMANDS_H

#include "corvix/types.h"

/* The name a server is found by unless told otherwise. */
#define CORVIX_PORT_NAME "VODARAVID"
/* Word 0 after a quit command. */
#define CORVIX_QUIT_ANSWER 123
/* Bytes of an argument block: word 0 and words 1..9. */
#define CORVIX_ARGUMENT_BLOCK_BYTES 40

enum {
  CORVIX_CMD_QUIT = 0,             /* ends the server; word 0 = 123 */
  CORVIX_CMD_QUIT_TOO = 1,         /* the same */
  CORVIX_CMD_YUVTORGB = 2,         /* fx_yuvtorgb_ll */
  CORVIX_CMD_SCALE = 3,            /* cvx_scale_ll: word 0 = new Bitmap */
  CORVIX_CMD_REMAP24 = 4,          /* gx_remap24: word 0 = 0 */
  CORVIX_CMD_CORRECT = 5,          /* cvx_correct_ll */
  CORVIX_CMD_REMAP8 = 6,           /* gx_remap8 */
  CORVIX_CMD_FADEOVER = 7,         /* cvx_fadeover_ll */
  CORVIX_CMD_DEINTERLACE = 8,      /* cvx_deinterlace_ll */
  CORVIX_CMD_SCALECOPY = 9,        /* gx_scalecopybitmap: word 0 = new Bitmap */
  CORVIX_CMD_YUVSCALE = 10,        /* fx_yuvscale_ll: word 0 = new Bitmap */
  CORVIX_CMD_SPECIALFADE = 11,     /* cvx_specialfade_ll */
  CORVIX_CMD_SPECIALFADEOVER = 12, /* cvx_specialfadeover_ll */
  CORVIX_CMD_ROTANGLE = 13,        /* fxx_rotangle_ll: word 0 = new Bitmap */
  CORVIX_CMD_MIRROR = 14,          /* fxx_mirror_ll */
  CORVIX_CMD_INVERT = 15,          /* fxx_invert_ll */
  CORVIX_CMD_MINMAX = 16,          /* fxx_minmax_ll */
  CORVIX_CMD_FINDMINMAX = 17,      /* fxx_findminmax_ll: word 0 = new LevelRange */
  CORVIX_CMD_AUTOLEVEL = 18,       /* fxx_min_max_ll */
  CORVIX_CMD_COUNT = 19            /* codes are 0 .. CORVIX_CMD_COUNT - 1 */
};

/* Argument words each code reads, indexed by code. */
#define CORVIX_COMMAND_WORDS \
  { 0, 0, 6, 3, 4, 4, 3, 7, 1, 3, 8, 2, 3, 2, 3, 1, 9, 2, 1 }

#endif
