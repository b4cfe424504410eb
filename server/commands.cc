// The command table: for each code, the words it reads, the buffers those words must name
// (checked against the sending host's own blocks at the sizes the routine touches), and the
// routine it runs.
#include <iterator>

#include "colour/yuvscale.h"
#include "corvix/corvix.h"
#include "server/call.h"

namespace corvix {
namespace {

uint32_t nothing(Call &) { return 0; }

// The frame whose record word 1 names (`bpp` bytes a pixel; 0: any), changed in place.
template <typename Change>
uint32_t change_frame(Call &c, int32_t bpp, Change change) {
  Bitmap b;
  if (c.frame(c.word(1), &b, bpp)) change(&b);
  return 0;
}

// A new record made from the frame word 1 names, handed to the host.
template <typename Make>
uint32_t make_from_frame(Call &c, int32_t bpp, Make make) {
  Bitmap src;
  if (!c.frame(c.word(1), &src, bpp)) return 0;
  return c.give(make(&src));
}

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

// 3: a resized copy of a chunky frame (the source is read as one byte a pixel).
uint32_t scale_frame(Call &c) {
  return make_from_frame(c, 1,
                         [&c](Bitmap *src) { return cvx_scale_ll(src, c.sword(2), c.sword(3)); });
}

// 4: colour pixels to cube indices or pens. Word 1 names a word holding the source address
// (a packed Bitmap's first field serves). The reduction reads whole pixels while its position
// is below the length, and a pen table is read at any cube index.
uint32_t remap_colours(Call &c) {
  const uint8_t *at = c.bytes(c.word(1), 4);
  if (at == nullptr) return 0;
  const uint32_t length = c.word(4);
  const uint64_t pixels = (uint64_t{length} + 2) / 3;
  const uint8_t *src = c.bytes(corvix_get_be32(at), 3 * pixels);
  uint8_t *out = c.bytes(c.word(2), pixels);
  const uint8_t *pens = c.word(3) != 0 ? c.bytes(c.word(3), 216) : nullptr;
  if (c.ok()) gx_remap24(src, out, pens, length);
  return 0;
}

// 5: contrast, brightness and negative over every byte of the frame. Word 3 carries the
// offset plus 256; only the low 16 bits of word 4 count, as a signed number.
uint32_t correct_levels(Call &c) {
  return change_frame(c, 0, [&c](Bitmap *b) {
    const auto offset = static_cast<int32_t>(c.word(3) - 256u);
    const auto invert = static_cast<int32_t>(static_cast<int16_t>(c.word(4) & 0xFFFF));
    cvx_correct_ll(b, c.sword(2), offset, invert);
  });
}

// 6: bytes translated in place through a table; any byte value may occur, so the table must
// have all 256 entries.
uint32_t remap_bytes(Call &c) {
  const uint32_t length = c.word(3);
  uint8_t *buf = c.bytes(c.word(1), length);
  const uint8_t *table = c.bytes(c.word(2), 256);
  if (c.ok()) gx_remap8(buf, table, length);
  return 0;
}

// 7: cross-fade of A into B, written to the output (which may be A or B).
uint32_t fade_over(Call &c) {
  const int64_t n = c.size(c.sword(5), c.sword(6), c.sword(7));
  const uint8_t *a = c.bytes(c.word(1), static_cast<uint64_t>(n));
  const uint8_t *b = c.bytes(c.word(2), static_cast<uint64_t>(n));
  uint8_t *out = c.bytes(c.word(3), static_cast<uint64_t>(n));
  if (!c.ok()) return 0;
  cvx_fadeover_ll(a, b, out, c.sword(4), c.sword(5), c.sword(6), c.sword(7));
  return 0;
}

// 8: line doubling, three bytes a pixel.
uint32_t deinterlace(Call &c) { return change_frame(c, 3, cvx_deinterlace_ll); }

// 9: a scaled copy of a bitmap; three-byte bitmaps are read three bytes a pixel, all others
// one byte a pixel.
uint32_t scale_copy(Call &c) {
  Bitmap src;  // read once: the pixel size picks the scaler and the bytes it reads
  if (!c.bitmap(c.word(1), &src)) return 0;
  const int32_t bpp = src.bytes_per_pixel == 3 ? 3 : 1;
  if (!c.pixels(src, c.size(src.width, src.height, bpp))) return 0;
  return c.give(gx_scalecopybitmap(&src, c.sword(2), c.sword(3)));
}

// 10: a YUV frame scaled and converted into a new bitmap. The planes must hold every index
// the scaler reaches for these sizes.
uint32_t yuv_scale(Call &c) {
  const int32_t sw = c.sword(4), sh = c.sword(5), dw = c.sword(6), dh = c.sword(7);
  const int32_t factor = c.sword(8);
  int64_t luma = 0, chroma = 0;
  if (!yuvscale_plane_bytes(sw, sh, dw, dh, factor, &luma, &chroma)) return 0;
  const uint8_t *y = nullptr, *cr = nullptr, *cb = nullptr;
  if (luma > 0) {
    y = c.bytes(c.word(1), static_cast<uint64_t>(luma));
    cr = c.bytes(c.word(2), static_cast<uint64_t>(chroma));
    cb = c.bytes(c.word(3), static_cast<uint64_t>(chroma));
    if (!c.ok()) return 0;
  }
  return c.give(fx_yuvscale_ll(y, cr, cb, sw, sh, dw, dh, factor));
}

// 11: bytes below level + 1 raised to it.
uint32_t special_fade(Call &c) {
  return change_frame(c, 0, [&c](Bitmap *b) { cvx_specialfade_ll(b, c.sword(2)); });
}

// 12: bytes of A below level + 1 replaced by B's; B holds as many bytes as A.
uint32_t special_fade_over(Call &c) {
  return change_frame(c, 0, [&c](Bitmap *a) {
    const uint8_t *b =
        c.bytes(c.word(2), static_cast<uint64_t>(c.size(a->width, a->height, a->bytes_per_pixel)));
    if (c.ok()) cvx_specialfadeover_ll(a, b, c.sword(3));
  });
}

// 13: a quarter or half turn into a new bitmap.
uint32_t turn(Call &c) {
  return make_from_frame(c, 3, [&c](Bitmap *src) { return fxx_rotangle_ll(src, c.sword(2)); });
}

// 14: mirror upside down and/or left to right, three bytes a pixel.
uint32_t mirror(Call &c) {
  return change_frame(c, 3, [&c](Bitmap *b) { fxx_mirror_ll(b, c.sword(2), c.sword(3)); });
}

// 15: every byte inverted.
uint32_t invert(Call &c) { return change_frame(c, 0, fxx_invert_ll); }

// 16: each channel stretched from its range, then the master range.
uint32_t stretch(Call &c) {
  return change_frame(c, 3, [&c](Bitmap *b) {
    fxx_minmax_ll(b, c.sword(2), c.sword(3), c.sword(4), c.sword(5), c.sword(6), c.sword(7),
                  c.sword(8), c.sword(9));
  });
}

// 17: lowest and highest level of a channel (or of the average) in a new record.
uint32_t find_levels(Call &c) {
  return make_from_frame(c, 3, [&c](Bitmap *b) { return fxx_findminmax_ll(b, c.sword(2)); });
}

// 18: every channel stretched from its own lowest to its own highest level.
uint32_t auto_levels(Call &c) { return change_frame(c, 3, fxx_min_max_ll); }

constexpr Command kCommands[] = {
    /* 0 quit */ {0, nothing},
    /* 1 quit */ {0, nothing},
    /* 2 */ {6, yuv_to_rgb},
    /* 3 */ {3, scale_frame},
    /* 4 */ {4, remap_colours},
    /* 5 */ {4, correct_levels},
    /* 6 */ {3, remap_bytes},
    /* 7 */ {7, fade_over},
    /* 8 */ {1, deinterlace},
    /* 9 */ {3, scale_copy},
    /* 10 */ {8, yuv_scale},
    /* 11 */ {2, special_fade},
    /* 12 */ {3, special_fade_over},
    /* 13 */ {2, turn},
    /* 14 */ {3, mirror},
    /* 15 */ {1, invert},
    /* 16 */ {9, stretch},
    /* 17 */ {2, find_levels},
    /* 18 */ {1, auto_levels},
};

// The public header tells host writers how many words each code reads; it and the table
// cannot drift apart.
constexpr int kPublishedWords[] = CORVIX_COMMAND_WORDS;
static_assert(std::size(kPublishedWords) == std::size(kCommands));
constexpr bool words_agree() {
  for (size_t i = 0; i < std::size(kCommands); ++i)
    if (kCommands[i].words != kPublishedWords[i]) return false;
  return true;
}
static_assert(words_agree(), "CORVIX_COMMAND_WORDS disagrees with the command table");

}  // namespace

const Command *find_command(int32_t code) {
  return code >= 0 && code < CORVIX_CMD_COUNT ? &kCommands[code] : nullptr;
}

}  // namespace corvix
