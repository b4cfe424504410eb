// The per-thread failure reason.
#include "core/error.h"

#include <cstdarg>
#include <cstdio>

namespace corvix {
namespace {

struct Reason {
  int32_t error_class = CORVIX_E_NONE;
  char text[256] = "";
};
thread_local Reason t_reason;

void record(int32_t error_class, const char *format, va_list args) {
  t_reason.error_class = error_class;
  std::vsnprintf(t_reason.text, sizeof t_reason.text, format, args);
}

}  // namespace

void set_error(int32_t error_class, const char *format, ...) {
  va_list args;
  va_start(args, format);
  record(error_class, format, args);
  va_end(args);
}

Failed fail(int32_t error_class, const char *format, ...) {
  va_list args;
  va_start(args, format);
  record(error_class, format, args);
  va_end(args);
  return {};
}

}  // namespace corvix

extern "C" {

const char *corvix_last_error(void) { return corvix::t_reason.text; }
int32_t corvix_last_error_class(void) { return corvix::t_reason.error_class; }
void corvix_clear_error(void) {
  corvix::t_reason.error_class = CORVIX_E_NONE;
  corvix::t_reason.text[0] = '\0';
}

}  // extern "C"
