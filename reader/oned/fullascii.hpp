// Full ASCII: the 128 ASCII characters spelled with the 43 characters of Code 39 (and Code 93's
// four shift characters): "$A" is 0x01, "+A" is 'a', "/A" is '!', "%U" is NUL, ...
#ifndef IDUT_READER_ONED_FULLASCII_HPP
#define IDUT_READER_ONED_FULLASCII_HPP

#include <optional>
#include <string>

namespace oned {

// The ASCII character of a shift ('$', '%', '/' or '+') and the letter after it, or -1 when the
// pair spells none.
int fullAsciiPair(char shift, char letter);

// The message spelled in full ASCII, or nothing when some shift character starts no valid pair.
std::optional<std::string> decodeFullAscii(const std::string& printed);

// Code 39's Italian pharmacode (Code 32): six characters of a base-32 alphabet holding nine
// digits, the last a check digit: "A" and the nine digits, or nothing.
std::optional<std::string> decodeCode32(const std::string& printed);

// Pharmazentralnummer: '-' then 7 (PZN7) or 8 (PZN8) digits whose last is the mod-11 check.
bool isPzn(const std::string& printed);

}  // namespace oned

#endif
