// The command table: for each code, the words it reads, the buffers those words must name
// (checked against the sending host's own blocks at the sizes the routine touches), and the
// routine it runs.
#include "corvix/corvix.h"
#include "server/call.h"

namespace corvix {
namespace {

uint32_t nothing(Call &) { return 0; }

// 2: YUV planes to three-byte pixels. The conversion works in whole groups: P is the count
// raised to a multiple of the group.
uint32_t yuv_to_rgb(Call &c) {
  const uint32_t count = c.word(5), group = c.word(6);
  if (count == 0 || group == 0) return 0;
  const uint64_t groups = (uint64_t{count} + group - 1) / group;
  const uint64_t p = groups * group;
  const uint8_t *y = c.bytes(c.word(1), p);
  const uint8_t *cr = c.bytes(c.word(2), groups);
  const uint8_t *cb = c.bytes(c.word(3), groups);
  uint8_t *dst = c.bytes(c.word(4), 3 * p);
  if (!c.ok()) return 0;
  fx_yuvtorgb_ll(y, cr, cb, dst, count, group);
  return 0;
}

const Command kCommands[19] = {
    /* 0 quit */ {0, nothing},
    /* 1 quit */ {0, nothing},
    /* 2 */ {6, yuv_to_rgb},
    /* 3 */ {0, nothing},
    /* 4 */ {0, nothing},
    /* 5 */ {0, nothing},
    /* 6 */ {0, nothing},
    /* 7 */ {0, nothing},
    /* 8 */ {0, nothing},
    /* 9 */ {0, nothing},
    /* 10 */ {0, nothing},
    /* 11 */ {0, nothing},
    /* 12 */ {0, nothing},
    /* 13 */ {0, nothing},
    /* 14 */ {0, nothing},
    /* 15 */ {0, nothing},
    /* 16 */ {0, nothing},
    /* 17 */ {0, nothing},
    /* 18 */ {0, nothing},
};

}  // namespace

const Command *find_command(int32_t code) {
  return code >= 0 && code <= 18 ? &kCommands[code] : nullptr;
}

}  // namespace corvix
