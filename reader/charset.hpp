// Character sets of Extended Channel Interpretations: the bytes of one ECI segment turned into
// UTF-8 by glibc's iconv. Shared by the Data Matrix and PDF417 decoders.
//
// No ECI means ISO 8859-1 for both symbologies (the caller passes kDefaultEci). ECI 899 marks
// binary data: it has no text, and toUtf8 refuses it (the caller reports the bytes instead). An
// ECI that names no character set iconv converts, or bytes that are not valid in their set, give
// a failure with the reason, never a guessed text.
//
// Thread safety: every conversion opens and closes its own iconv descriptor.
#ifndef IDUT_READER_CHARSET_HPP
#define IDUT_READER_CHARSET_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace charset {

// The interpretation in force where a symbol carries no ECI designator.
inline constexpr int kDefaultEci = 3;
// Binary data: bytes that are not text in any character set.
inline constexpr int kBinaryEci = 899;

// iconv's name for the character set an ECI designates; nullptr when the ECI designates none we
// convert (binary 899 included).
const char* iconvName(int eci);

// Whether the ECI marks binary data.
inline bool isBinary(int eci) { return eci == kBinaryEci; }

// Appends the UTF-8 form of size bytes read in the ECI's character set to *utf8. On failure
// *utf8 is left as it was and *error (when not null) says why.
bool toUtf8(int eci, const uint8_t* data, size_t size, std::string* utf8, std::string* error = nullptr);

// One stretch of a message read under one ECI.
struct Segment {
  int eci = kDefaultEci;
  std::vector<uint8_t> bytes;
};

// The text of a message of several segments, each converted with its own set. False (and *error
// set) when any segment cannot be converted.
bool segmentsToUtf8(const std::vector<Segment>& segments, std::string* utf8, std::string* error = nullptr);

}  // namespace charset

#endif
