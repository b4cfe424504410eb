// The one place that decides which instruction set the faster kernels may use. Every fast
// path sits beside a plain one that gives the same bytes; this picks between them.
#ifndef CORVIX_CORE_CPU_H
#define CORVIX_CORE_CPU_H

namespace corvix {

// Instruction-set levels a kernel can be picked for, best last.
enum class Isa { kPlain, kAvx2, kAvx512Vbmi };

// The best level this CPU runs, decided once. Building with CORVIX_NO_SIMD defined, or
// running with the environment variable CORVIX_NO_SIMD set (to anything), gives kPlain.
Isa best_isa();

}  // namespace corvix

#endif
