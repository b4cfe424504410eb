// What every fuzz target of the file readers shares: the allocation seam served from malloc,
// so that AddressSanitizer guards every record and pixel buffer to the byte (the shared
// segment is invisible to it), with a count of live blocks; and a check that stops the run.
// Included by exactly one file of each fuzz program.
#ifndef CORVIX_TESTS_FUZZ_SUPPORT_H
#define CORVIX_TESTS_FUZZ_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Stops the run, naming the condition that failed.
#define CHECK(cond) \
  ((cond) ? void() : (std::fprintf(stderr, "fuzz: %s fails\n", #cond), std::abort()))

namespace {
long g_live_blocks = 0;
}  // namespace

// Every block cleared, which MEMF_ANY allows. Blocks above 64 MiB are refused, so that a
// hostile header cannot take the fuzzer past its memory limit; the readers must then fail
// cleanly.
extern "C" void *PPCAllocVec(uint32_t size, uint32_t /*attr*/) {
  void *p = size > (64u << 20) ? nullptr : std::calloc(1, size == 0 ? 1 : size);
  g_live_blocks += p != nullptr;
  return p;
}

extern "C" void PPCFreeVec(void *block) {
  g_live_blocks -= block != nullptr;
  std::free(block);
}

#endif
