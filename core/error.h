// Setting the thread's failure reason (corvix/error.h) from inside the library.
//
//   if (width < 0) return fail(CORVIX_E_INVALID, "width %d is negative", width);
//
// fail() records the reason and converts to whatever a refusing routine returns: a null
// pointer, 0 or false.
#ifndef CORVIX_CORE_ERROR_H
#define CORVIX_CORE_ERROR_H

#include <cstdint>

#include "corvix/error.h"

namespace corvix {

// Replaces the calling thread's reason; the message is cut at 255 bytes.
void set_error(int32_t error_class, const char *format, ...) __attribute__((format(printf, 2, 3)));

// What fail() returns: a null pointer of any type, 0 or false.
struct Failed {
  template <class T>
  constexpr operator T *() const {
    return nullptr;
  }
  constexpr operator int32_t() const { return 0; }
  constexpr operator uint32_t() const { return 0; }
  constexpr operator int64_t() const { return 0; }
  constexpr operator bool() const { return false; }
};

Failed fail(int32_t error_class, const char *format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace corvix

#endif
