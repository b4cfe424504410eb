// The one place that knows the CPU, and the one convention for picking a kernel.
//
// A routine with faster forms keeps them beside each other under one name and a suffix:
// name_plain (portable C++, the reference), name_avx2, name_avx512, name_avx512vbmi. It lists
// them once in a Kernels record (CORVIX_KERNELS_AVX and CORVIX_KERNELS_VBMI in core/simd.h
// fill one from the names) and calls pick(record) where it runs; pick gives the best form at
// or below the process's level. The levels are real feature sets:
//   avx2        AVX2
//   avx512      AVX-512 F, BW, DQ and VL (byte and word arithmetic, masked loads and stores
//               at every width; every processor with BW has the other two)
//   avx512vbmi  the above and VBMI (byte permutes across the whole register)
// The level is the CPU's best, decided once from what the CPU and the operating system
// support, lowered by the environment:
//   CORVIX_NO_SIMD=1 (any value but empty or 0) forces the plain forms;
//   CORVIX_SIMD=plain|avx2|avx512|avx512vbmi caps the level (never above the CPU's).
// Builds with CORVIX_NO_SIMD defined, and builds for other processors, have only plain forms.
#ifndef CORVIX_CORE_CPU_H
#define CORVIX_CORE_CPU_H

namespace corvix {

enum class Simd : int { kPlain = 0, kAvx2 = 1, kAvx512 = 2, kAvx512Vbmi = 3 };
inline constexpr Simd kSimdLevels[] = {Simd::kPlain, Simd::kAvx2, Simd::kAvx512, Simd::kAvx512Vbmi};

// The best level this CPU (and this build) runs, whatever the environment says.
Simd cpu_simd();
// The level kernels are picked for: cpu_simd() capped by the environment, or by
// set_simd_level.
Simd simd_level();
// Sets the level for the whole process, capped at cpu_simd(); returns the level it replaced.
// For tests and benchmarks that run every form the machine has through the public routines.
Simd set_simd_level(Simd level);
// The level the environment gives on a CPU whose best is `cpu`: the values of
// CORVIX_NO_SIMD and CORVIX_SIMD, null when unset.
Simd level_for(Simd cpu, const char *no_simd, const char *cap);
// "plain", "avx2", "avx512", "avx512vbmi".
const char *simd_name(Simd level);
// The level of a name as CORVIX_SIMD spells it; false for any other text.
bool simd_from_name(const char *name, Simd *level);

// One routine's forms, best last; a form the build lacks is null. Plain is null only where
// the caller keeps a fallback of another shape and asks whether a faster form exists.
template <class Fn>
struct Kernels {
  Fn plain;
  Fn avx2 = nullptr;
  Fn avx512 = nullptr;
  Fn avx512vbmi = nullptr;
};

// The best form at or below `level` (null when there is none).
template <class Fn>
Fn pick(const Kernels<Fn> &k, Simd level) {
  if (level >= Simd::kAvx512Vbmi && k.avx512vbmi != nullptr) return k.avx512vbmi;
  if (level >= Simd::kAvx512 && k.avx512 != nullptr) return k.avx512;
  if (level >= Simd::kAvx2 && k.avx2 != nullptr) return k.avx2;
  return k.plain;
}
template <class Fn>
Fn pick(const Kernels<Fn> &k) {
  return pick(k, simd_level());
}

}  // namespace corvix

#endif
