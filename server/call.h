// One command's view of its host's memory: the argument words copied out of the block once,
// and every buffer checked to lie inside one live block of the sending host before a routine
// sees it. Records travel big-endian in the segment and native in the routines; the
// translation happens here and nowhere else.
#ifndef CORVIX_SERVER_CALL_H
#define CORVIX_SERVER_CALL_H

#include <cstdint>

#include "corvix/types.h"

namespace corvix {

class Call {
 public:
  static constexpr int kWords = 9;

  Call(uint32_t owner, const uint32_t (&words)[kWords + 1]) : owner_(owner) {
    for (int i = 0; i <= kWords; ++i) words_[i] = words[i];
  }

  // Argument word n (1..9) as the host wrote it.
  uint32_t word(int n) const { return words_[n]; }
  int32_t sword(int n) const { return static_cast<int32_t>(words_[n]); }

  // The host's bytes [address, address + length), or null (and the call fails) when they
  // are not inside one live block of this host.
  uint8_t *bytes(uint32_t address, uint64_t length);
  // Reads the 16-byte big-endian Bitmap record at `address` into `out` (pixels translated to
  // a pointer, not yet checked: how many bytes a routine needs is the routine's). False (and
  // the call fails) when the record is not the host's.
  bool bitmap(uint32_t address, Bitmap *out);
  // Checks that a copied record's pixels hold `length` bytes.
  bool pixels(const Bitmap &b, int64_t length);
  // The Bitmap record at `address` with its pixels checked to hold width x height x bpp
  // bytes: bpp is the routine's own pixel size, or 0 for the record's own field.
  bool frame(uint32_t address, Bitmap *out, int32_t bpp);
  // Bytes of width x height x bpp for non-negative fields; the call fails for anything else.
  int64_t size(int64_t width, int64_t height, int64_t bpp);

  // False once any check failed: the command then runs nothing.
  bool ok() const { return ok_; }
  void fail() { ok_ = false; }

  // A new Bitmap or LevelRange a routine made under the host's ownership, rewritten in place
  // as the big-endian record the host reads; returns its address (0 for null).
  uint32_t give(Bitmap *b);
  uint32_t give(LevelRange *r);

 private:
  uint32_t owner_;
  uint32_t words_[kWords + 1];
  bool ok_ = true;
};

// The routine of each command code 0..18, with the number of argument words it reads.
struct Command {
  int words;
  uint32_t (*run)(Call &);  // returns word 0
};
// Null for codes outside 0..18.
const Command *find_command(int32_t code);

}  // namespace corvix

#endif
