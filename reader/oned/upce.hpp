// UPC-E: a UPC-A number with its zeros suppressed, six digits between a 101 start guard and a
// 010101 end guard. The number system (0 or 1) and the check digit are carried in the digits'
// parities (L or G codes); the check digit is that of the UPC-A number the digits stand for.
#ifndef IDUT_READER_ONED_UPCE_HPP
#define IDUT_READER_ONED_UPCE_HPP

#include <string>
#include <vector>

#include "reader/oned/oned.hpp"

namespace oned {

// A UPC-E symbol starting at the bar widths[start], forward only; the text is its 8 digits.
bool readUpcE(const std::vector<double>& widths, int start, Read& read);

// The 8 UPC-E digits of six digits whose parities (bit 5 the first digit's, 1 = G code) carry the
// number system and the check digit, or empty when they carry none or the check digit fails.
std::string upceFromParities(const std::string& digits, int parity);

// The 12-digit UPC-A number of 8 UPC-E digits (number system, six digits, check), or empty
// when they are no UPC-E number (not digits, a number system other than 0 or 1).
std::string upceToUpca(const std::string& upce);

}  // namespace oned

#endif
