// Picks the instruction-set level for the fast kernels once per process.
#include "core/cpu.h"

#include <cstdlib>

namespace corvix {
namespace {

Isa detect() {
#if defined(CORVIX_NO_SIMD) || !(defined(__x86_64__) && defined(__GNUC__))
  return Isa::kPlain;
#else
  if (std::getenv("CORVIX_NO_SIMD") != nullptr) return Isa::kPlain;
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi"))
    return Isa::kAvx512Vbmi;
  if (__builtin_cpu_supports("avx2")) return Isa::kAvx2;
  return Isa::kPlain;
#endif
}

}  // namespace

Isa best_isa() {
  static const Isa isa = detect();
  return isa;
}

}  // namespace corvix
