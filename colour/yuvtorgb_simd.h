// The YUV to three-byte conversion's plain loop and the vector kernels that must match it.
#ifndef CORVIX_COLOUR_YUVTORGB_SIMD_H
#define CORVIX_COLOUR_YUVTORGB_SIMD_H

#include <cstddef>
#include <cstdint>

namespace corvix {

// The table-driven loop: whole groups of `group` pixels share one Cr and one Cb byte, the
// count is raised to whole groups, a count or group of 0 converts nothing. Every faster
// kernel gives exactly its bytes.
void yuv_to_rgb_plain(const uint8_t *y, const uint8_t *cr, const uint8_t *cb, uint8_t *destination,
                      uint32_t count, uint32_t group);

// Group sizes the vector kernels handle; any other group goes through the plain loop.
inline bool yuv_vector_group(uint32_t group) { return group == 1 || group == 2 || group == 4; }

// Converts `groups` whole groups (`group` is 1, 2 or 4), reading groups * group Y bytes and
// `groups` bytes of each chroma plane, writing 3 * groups * group bytes and nothing past them.
// Call only where cpu_simd() reaches the level the name gives; builds without the x86 forms
// run the plain loop.
void yuv_to_rgb_avx512vbmi(const uint8_t *y, const uint8_t *cr, const uint8_t *cb,
                           uint8_t *destination, size_t groups, uint32_t group);
void yuv_to_rgb_avx2(const uint8_t *y, const uint8_t *cr, const uint8_t *cb, uint8_t *destination,
                     size_t groups, uint32_t group);

// The five per-sample terms (luma, Cr red, Cr green, Cb blue, Cb green) for every sample
// value as each kernel computes them without tables, so a test can hold them to the tables.
void yuv_terms_avx512vbmi(int16_t terms[5][256]);
void yuv_terms_avx2(int16_t terms[5][256]);

}  // namespace corvix

#endif
