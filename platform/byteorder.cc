// Big-endian words as hosts and the server exchange them in shared memory.
#include "corvix/platform.h"

extern "C" {

uint32_t corvix_get_be32(const void *at) {
  const auto *b = static_cast<const uint8_t *>(at);
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

void corvix_put_be32(void *at, uint32_t value) {
  auto *b = static_cast<uint8_t *>(at);
  b[0] = static_cast<uint8_t>(value >> 24);
  b[1] = static_cast<uint8_t>(value >> 16);
  b[2] = static_cast<uint8_t>(value >> 8);
  b[3] = static_cast<uint8_t>(value);
}

}  // extern "C"
