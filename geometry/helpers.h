// Helpers of the geometry routines that are not public names: the two halves of the free
// rotation and the integer steps of the shear.
#ifndef CORVIX_GEOMETRY_HELPERS_H
#define CORVIX_GEOMETRY_HELPERS_H

#include <cstdint>

#include "corvix/types.h"

namespace corvix {

// Width and height of the bitmap that holds a width x height picture turned by `angle`
// degrees: odd sizes are first raised to even and the four turned corners are rounded half
// away from zero; the corners lie in opposite pairs, so both extents come out even. Both are
// -1 when the angle is not finite, a size is negative, or an extent does not fit a signed
// 32-bit integer.
void CalculateBoundary(int32_t *width, int32_t *height, int32_t source_width, int32_t source_height,
                       float angle);

// Fills `destination` (sized by CalculateBoundary, background already in place) with the
// source turned by `angle` degrees, sampling bilinearly; pixels whose 2 x 2 source block
// leaves the source keep what they hold. Does nothing unless both bitmaps are well formed
// and have the same bytes per pixel, 1 or 3.
void CalculateImage(const Bitmap *source, Bitmap *destination, float angle);

// The larger of a and b (b when they are equal).
int32_t maxval(int32_t a, int32_t b);

// The point `percent` percent of the way from a to b, rounded toward a:
// a + (b - a) * percent / 100 when a <= b, else a - (a - b) * percent / 100, each division
// truncating. Formed in 64 bits, so it is defined for any 32-bit ends and percent 0..100.
int32_t interpol(int32_t a, int32_t b, int32_t percent);

}  // namespace corvix

#endif
