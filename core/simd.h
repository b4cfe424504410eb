// What the x86 fast kernels are built with: the compilers and builds that get them
// (CORVIX_X86 is defined then), the intrinsics, and the target attributes of each level.
// Which form runs is decided at run time by pick() (core/cpu.h).
#ifndef CORVIX_CORE_SIMD_H
#define CORVIX_CORE_SIMD_H

#include "core/cpu.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(CORVIX_NO_SIMD)
#define CORVIX_X86 1
#if !defined(__clang__)
// GCC 12's AVX-512 headers start results from an "undefined" register, which its own
// uninitialised-value warning then reports at every use.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#define CORVIX_TARGET_AVX2 __attribute__((target("avx2")))
#if defined(__clang__)
#define CORVIX_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl")))
#else
// GCC keeps to 256-bit vectors on AVX-512 machines unless asked; byte loops gain from 512.
#define CORVIX_TARGET_AVX512 \
  __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,prefer-vector-width=512")))
#endif
#define CORVIX_TARGET_VBMI __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi")))
// A fast form's name in a Kernels record, null in builds without the x86 forms.
#define CORVIX_X86_KERNEL(name) name
#else
#define CORVIX_X86_KERNEL(name) nullptr
#endif

// The Kernels record (core/cpu.h) of a routine whose forms follow the naming convention:
// name_plain, name_avx2 and name_avx512, or name_plain and name_avx512vbmi.
#define CORVIX_KERNELS_AVX(name)                                   \
  {                                                                \
    .plain = name##_plain, .avx2 = CORVIX_X86_KERNEL(name##_avx2), \
    .avx512 = CORVIX_X86_KERNEL(name##_avx512)                     \
  }
#define CORVIX_KERNELS_VBMI(name) \
  { .plain = name##_plain, .avx512vbmi = CORVIX_X86_KERNEL(name##_avx512vbmi) }

#define CORVIX_ALWAYS_INLINE inline __attribute__((always_inline))

#endif
