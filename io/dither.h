// The threshold matrices of the ordered dither and the plain form of the dither, which the
// tests hold the fast one against.
#ifndef CORVIX_IO_DITHER_H
#define CORVIX_IO_DITHER_H

#include <cstdint>

#include "corvix/types.h"

namespace corvix {

// Square threshold tables, row by row: the entry of row y, column x sits at y * n + x.
// clang-format off
inline constexpr uint8_t ClassicalScreen[8 * 8] = {
     84,  91, 112, 133, 147, 140, 119,  98,
     28,  21,  70, 196, 203, 210, 161,  35,
      7,  14,  77, 189, 224, 217, 154,  42,
     49,  56, 105, 168, 182, 175, 126,  63,
    147, 140, 119,  98,  84,  91, 112, 133,
    203, 210, 161,  35,  28,  21,  70, 196,
    224, 217, 154,  42,   7,  14,  77, 189,
    182, 175, 126,  63,  49,  56, 105, 168,
};
inline constexpr uint8_t Rectangular[3 * 3] = {
    126, 189, 126,
    252,  63, 252,
    126, 189, 126,
};
inline constexpr uint8_t Halftone[6 * 6] = {
    105,  63, 119, 224, 154, 210,
     49,   7,  21, 133, 245, 161,
     91,  35,  77, 189, 182, 231,
    217, 147, 203, 112,  70, 126,
    140, 252, 168,  56,  14,  28,
    196, 175, 238,  98,  42,  84,
};
inline constexpr uint8_t Bayer4[4 * 4] = {
     40, 104, 120, 184,
      8, 200,  88,  24,
    160, 224,  80, 144,
    128,  64,  48, 240,
};
inline constexpr uint8_t Bayer16[16 * 16] = {
      1, 235,  59, 219,  15, 231,  55, 215,   2, 232,  56, 216,  12, 228,  52, 212,
    129,  65, 187, 123, 143,  79, 183, 119, 130,  66, 184, 120, 140,  76, 180, 116,
     33, 193,  17, 251,  47, 207,  31, 247,  34, 194,  18, 248,  44, 204,  28, 244,
    161,  97, 145,  81, 175, 111, 159,  95, 162,  98, 146,  82, 172, 108, 156,  92,
      9, 225,  49, 209,   5, 239,  63, 223,  10, 226,  50, 210,   6, 236,  60, 220,
    137,  73, 177, 113, 133,  69, 191, 127, 138,  74, 178, 114, 134,  70, 188, 124,
     41, 201,  25, 241,  37, 197,  21, 254,  42, 202,  26, 242,  38, 198,  22, 252,
    169, 105, 153,  89, 165, 101, 149,  85, 170, 106, 154,  90, 166, 102, 150,  86,
      3, 233,  57, 217,  13, 229,  53, 213,   0, 234,  58, 218,  14, 230,  54, 214,
    131,  67, 185, 121, 141,  77, 181, 117, 128,  64, 186, 122, 142,  78, 182, 118,
     35, 195,  19, 249,  45, 205,  29, 245,  32, 192,  16, 250,  46, 206,  30, 246,
    163,  99, 147,  83, 173, 109, 157,  93, 160,  96, 144,  80, 174, 110, 158,  94,
     11, 227,  51, 211,   7, 237,  61, 221,   8, 224,  48, 208,   4, 238,  62, 222,
    139,  75, 179, 115, 135,  71, 189, 125, 136,  72, 176, 112, 132,  68, 190, 126,
     43, 203,  27, 243,  39, 199,  23, 253,  40, 200,  24, 240,  36, 196,  20, 254,
    171, 107, 155,  91, 167, 103, 151,  87, 168, 104, 152,  88, 164, 100, 148,  84,
};
inline constexpr uint8_t FourStars[5 * 5] = {
     40,  80, 140, 120,  20,
     60, 170, 210, 190, 100,
    150, 240, 250, 230, 160,
     90, 200, 220, 180,  50,
     10, 110, 130,  70,  30,
};
inline constexpr uint8_t BoxDither[5 * 5] = {
    138, 230,   5, 219, 107,
     87,  46, 179,  67, 148,
    189,  26, 250,  15, 199,
    158,  77, 168,  56,  97,
    128, 209,  36, 240, 117,
};
// clang-format on

struct DitherMatrix {
  const uint8_t *entries;
  int32_t size;  // n of the n x n table
};

// The matrix of method 1..7; {nullptr, 0} for any other method.
DitherMatrix dither_matrix(int32_t method);

// gx_dither written pixel by pixel with counted, wrapping matrix indices: the reference for
// the span-wise routine.
Bitmap *dither_reference(const Bitmap *source, int32_t method);

}  // namespace corvix

#endif
