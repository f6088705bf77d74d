/* Integer square roots and fixed-point sine and cosine, for code that keeps floating point out
 * of its inner loops.
 *
 * Angles are 16-bit: a full turn is 65536, so 0x4000 is a quarter turn (90 degrees), 0x8000 a
 * half turn and 0xC000 three quarters; the angle runs counter-clockwise from the x axis in a
 * y-up frame (with image rows growing downwards it turns clockwise on the screen, just as
 * atan2 on image coordinates does). Only the low 16 bits of an angle argument count, so any
 * int32 (negative too) is taken modulo 65536. Convert radians r with round(r * 32768 / pi). */
#ifndef IDUT_CMATH_FIXED_H
#define IDUT_CMATH_FIXED_H

#include "base/csys.h"

IDUT_EXTERN_C_BEGIN

/* floor(sqrt(value)), exact for every 32-bit value (UINT32_MAX gives 65535). */
IDUT_API uint32_t cmath_sqrt32(uint32_t value);
/* floor(sqrt(value)), exact for every 64-bit value (UINT64_MAX gives 4294967295). */
IDUT_API uint32_t cmath_sqrt64(uint64_t value);

/* sin and cos of the 16-bit angle with fracBits fraction bits: round(sin(angle * 2pi / 65536)
 * * 2^fracBits), rounding halves away from zero. The result is within 0.5 + 2^(fracBits - 31)
 * of the exact value, sin(-a) = -sin(a) exactly, and the quarter-turn values are exact
 * (sin 0x4000 = 2^fracBits). fracBits must lie in 0..30 (asserted; 0 is returned otherwise). */
IDUT_API int32_t cmath_sin16FixedPoint(int32_t angle, int32_t fracBits);
IDUT_API int32_t cmath_cos16FixedPoint(int32_t angle, int32_t fracBits);

IDUT_EXTERN_C_END

#endif
