// Decides the instruction-set level once per process.
#include "core/cpu.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace corvix {
namespace {

Simd detect_cpu() {
#if defined(CORVIX_NO_SIMD) || !(defined(__x86_64__) && defined(__GNUC__))
  return Simd::kPlain;
#else
  // These also check that the operating system saves the wider registers.
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2")) return Simd::kPlain;
  if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw") ||
      !__builtin_cpu_supports("avx512dq") || !__builtin_cpu_supports("avx512vl"))
    return Simd::kAvx2;
  if (!__builtin_cpu_supports("avx512vbmi")) return Simd::kAvx512;
  return Simd::kAvx512Vbmi;
#endif
}

Simd lower(Simd a, Simd b) { return a < b ? a : b; }

// -1 until first asked; then the level, changed only by set_simd_level.
std::atomic<int> g_level{-1};

}  // namespace

Simd level_for(Simd cpu, const char *no_simd, const char *cap) {
  if (no_simd != nullptr && no_simd[0] != '\0' && std::strcmp(no_simd, "0") != 0)
    return Simd::kPlain;
  Simd asked;
  if (simd_from_name(cap, &asked)) return lower(asked, cpu);
  return cpu;
}

Simd cpu_simd() {
  static const Simd cpu = detect_cpu();
  return cpu;
}

Simd simd_level() {
  int level = g_level.load(std::memory_order_relaxed);
  if (level < 0) {
    int unset = -1;
    level = static_cast<int>(
        level_for(cpu_simd(), std::getenv("CORVIX_NO_SIMD"), std::getenv("CORVIX_SIMD")));
    // A set_simd_level that came first wins.
    if (!g_level.compare_exchange_strong(unset, level, std::memory_order_relaxed)) level = unset;
  }
  return static_cast<Simd>(level);
}

Simd set_simd_level(Simd level) {
  const Simd before = simd_level();
  g_level.store(static_cast<int>(lower(level, cpu_simd())), std::memory_order_relaxed);
  return before;
}

const char *simd_name(Simd level) {
  switch (level) {
    case Simd::kPlain: return "plain";
    case Simd::kAvx2: return "avx2";
    case Simd::kAvx512: return "avx512";
    case Simd::kAvx512Vbmi: return "avx512vbmi";
  }
  return "plain";
}

bool simd_from_name(const char *name, Simd *level) {
  if (name == nullptr) return false;
  for (Simd s : kSimdLevels)
    if (std::strcmp(name, simd_name(s)) == 0) {
      *level = s;
      return true;
    }
  return false;
}

}  // namespace corvix
