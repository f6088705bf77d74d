// Code 93: 47 characters of nine modules in six elements (three bars, three spaces), framed by a
// start and a stop character and a final one-module bar. Two check characters (C and K, mod 47
// over weights 1..20 and 1..15 counted from the right) come before the stop; four shift
// characters spell the rest of ASCII.
#ifndef IDUT_READER_ONED_CODE93_HPP
#define IDUT_READER_ONED_CODE93_HPP

#include <vector>

#include "reader/oned/oned.hpp"

namespace oned {

// A Code 93 symbol starting at the bar widths[start], forward only; both checks must pass.
bool readCode93(const std::vector<double>& widths, int start, Read& read);

}  // namespace oned

#endif
