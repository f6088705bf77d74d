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
  bool designated = false;  // an ECI designator in the data chose eci (else it is the default)
};

// The text of a message of several segments, each converted with its own set. False (and *error
// set) when any segment cannot be converted.
bool segmentsToUtf8(const std::vector<Segment>& segments, std::string* utf8, std::string* error = nullptr);

// A message's content as a reader reports it: every segment's bytes together, and either its
// text or word that it is binary. Binary when a segment is binary data (ECI 899), or when a
// segment read in the default set holds bytes no text has: control codes other than tab, line
// feed, carriage return and the separators EOT, FS, GS and RS that GS1 and ISO 15434 data carry,
// and DEL and the C1 controls. Segments under a designated ECI are text in that set. ok is false
// (error saying why) when a segment that should be text does not convert.
struct Content {
  std::vector<uint8_t> bytes;
  bool binary = false;
  std::string text;  // UTF-8, empty when binary
  bool ok = true;
  std::string error;
};
Content contentOf(const std::vector<Segment>& segments);

}  // namespace charset

#endif
