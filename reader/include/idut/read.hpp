// idut's front door: every symbol of an 8-bit grey image, located and read, in one call.
//
//   #include <idut/read.hpp>
//
//   idut::ReadOptions options;                       // every symbology, decoding on
//   for (const idut::Symbol& s : idut::readSymbols(idut::ImageView(pixels, width, height, stride), options))
//     std::printf("%s %s\n", idut::toString(s.symbology), s.text.c_str());
//
// Coordinates are image pixels, pixel (x, y) covering [x, x + 1) x [y, y + 1), so the centre of
// the top-left pixel is (0.5, 0.5). Link the installed package's target idut::reader (or
// pkg-config idut-reader). idut/read.h offers the same for C.
//
// Thread safety: readSymbols keeps no state between calls; calls on different threads run at
// once. A stop callback is polled on the calling thread.
#ifndef IDUT_READ_HPP
#define IDUT_READ_HPP

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#if defined(__GNUC__)
#define IDUT_READER_API __attribute__((visibility("default")))
#else
#define IDUT_READER_API
#endif

namespace idut {

// A caller's 8-bit grey image: `height` rows of `width` pixels, row y starting at
// pixels + y * stride. The view does not own the pixels; they must outlive the call that reads
// them. The constructor only records the values; readSymbols checks them.
struct ImageView {
  const uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;

  ImageView() = default;
  ImageView(const uint8_t* pixels_, int width_, int height_, int stride_)
      : pixels(pixels_), width(width_), height(height_), stride(stride_) {}
};

// The symbologies idut reads. The values are stable (they are the bit positions of a
// Symbologies mask and the numbers of the C interface).
enum class Symbology : int {
  DataMatrix = 0,
  PDF417 = 1,
  Code128 = 2,
  EAN13 = 3,
  UPCA = 4,
  EAN8 = 5,
  Code39 = 6,
  ITF = 7,
  UPCE = 8,
  Code93 = 9,
  Codabar = 10,
  DataBar = 11,          // GS1 DataBar omnidirectional (and truncated)
  DataBarExpanded = 12,  // GS1 DataBar expanded
  Code32 = 13,           // Italian pharmacode: a Code 39 whose data says so
  PZN = 14,              // Pharmazentralnummer: a Code 39 whose data says so
};
constexpr int kSymbologyCount = 15;

// The name results report: "DataMatrix", "PDF417", "Code128", "EAN-13", "UPC-A", "EAN-8",
// "Code39", "ITF", "UPC-E", "Code93", "Codabar", "DataBar", "DataBarExpanded", "Code32", "PZN";
// "" for a value that is not a symbology.
IDUT_READER_API const char* toString(Symbology symbology) noexcept;
// The short lower-case name options take: "datamatrix", "pdf417", "code128", "ean13", "upca",
// "ean8", "code39", "itf", "upce", "code93", "codabar", "databar", "databarexpanded", "code32",
// "pzn"; "" for a value that is not a symbology.
IDUT_READER_API const char* optionName(Symbology symbology) noexcept;
// The symbology a name stands for: an option name or a reported name, case-insensitive.
IDUT_READER_API std::optional<Symbology> parseSymbology(std::string_view name) noexcept;

// A set of symbologies (a bit mask: bit k stands for the Symbology of value k).
class Symbologies {
 public:
  constexpr Symbologies() = default;  // empty
  constexpr Symbologies(std::initializer_list<Symbology> list) {
    for (Symbology s : list) mask_ |= bit(s);
  }
  static constexpr Symbologies all() { return fromMask((uint32_t{1} << kSymbologyCount) - 1); }
  // Any mask; bits that stand for no symbology make readSymbols refuse the options.
  static constexpr Symbologies fromMask(uint32_t mask) {
    Symbologies s;
    s.mask_ = mask;
    return s;
  }
  constexpr uint32_t mask() const { return mask_; }
  constexpr bool contains(Symbology s) const { return (mask_ & bit(s)) != 0; }
  constexpr bool empty() const { return mask_ == 0; }
  constexpr Symbologies& insert(Symbology s) { return mask_ |= bit(s), *this; }
  constexpr Symbologies& erase(Symbology s) { return mask_ &= ~bit(s), *this; }
  constexpr bool operator==(const Symbologies&) const = default;

 private:
  static constexpr uint32_t bit(Symbology s) {
    const int k = static_cast<int>(s);
    return k >= 0 && k < 32 ? uint32_t{1} << k : uint32_t{1} << 31;  // bit 31: never a symbology
  }
  uint32_t mask_ = 0;
};

struct Point {
  double x = 0;
  double y = 0;
  constexpr bool operator==(const Point&) const = default;
};

// A located symbol's quadrilateral. points holds the corners in polygon order, around the
// outline: the origin corner, the end of its first side (xEnd), the opposite corner, the end of
// its second side (yEnd). Which corner is the origin depends on the symbology:
//  - Data Matrix: the corner where the two solid sides of the finder meet; xEnd ends the solid
//    side along the symbol's rows (the one the bottom row lies on), yEnd the solid column.
//  - PDF417: the top of the start pattern (where the first row begins); xEnd the end of the
//    first row (at the stop pattern), yEnd the bottom of the start pattern.
//  - 1D: the start of the first bar at the bars' bottom end (the symbol read left to right with
//    its bars upright); xEnd the end of the last bar at the bottom, yEnd the first bar's top.
struct Quad {
  std::array<Point, 4> points{};

  constexpr const Point& origin() const { return points[0]; }
  constexpr const Point& xEnd() const { return points[1]; }
  constexpr const Point& opposite() const { return points[2]; }
  constexpr const Point& yEnd() const { return points[3]; }
  // Built from the named corners.
  static constexpr Quad fromCorners(Point origin, Point xEnd, Point yEnd, Point opposite) {
    return Quad{{origin, xEnd, opposite, yEnd}};
  }
  Point centre() const;
  constexpr bool operator==(const Quad&) const = default;
};

// What the decoded bytes are.
enum class ContentType : int {
  Text = 0,       // characters: text holds them as UTF-8
  Binary = 1,     // bytes that are not text (ECI 899, or not valid in their character set): text empty
  GS1 = 2,        // GS1 element strings (FNC1 in the first position); separators are GS (0x1D)
  ISO15434 = 3,   // a 05 / 06 macro (ISO/IEC 15434 format 05 or 06), header and trailer expanded
};
IDUT_READER_API const char* toString(ContentType type) noexcept;

// Structured append: one symbol of a message spread over several (Data Matrix structured
// append, Macro PDF417).
struct StructuredAppend {
  int index = -1;       // this symbol's position in the message, from 0; -1: not part of one
  int count = 0;        // symbols in the message; 0 when the symbol does not say
  std::string id;       // the message's file id (Data Matrix: "hi.lo" of its two codewords;
                        // PDF417: the file id codewords as three-digit groups)
  bool last = false;    // PDF417: this symbol carries the terminator of the message
  // Macro PDF417's optional fields, as carried (empty or -1 when absent).
  std::string fileName, sender, addressee;
  int64_t timeStamp = -1, fileSize = -1;
  int checksum = -1;
};

// One located symbol and, when decoding is on, what it says.
struct Symbol {
  Symbology symbology = Symbology::DataMatrix;
  Quad corners;
  int score = 0;               // the locator's confidence (Data Matrix, PDF417); 1D: agreeing lines
  bool parallelogram = true;   // the corners were completed to a parallelogram, not each located
  // Decoding. decoded is true when the symbol was read; then text (UTF-8, empty for binary
  // content) and bytes (the data bytes as encoded, ECI designators left out) hold its content.
  // When it could not be read, decodeError says why. Both false/empty when decoding was off.
  bool decoded = false;
  std::string text;
  std::vector<uint8_t> bytes;
  std::string decodeError;
  std::string symbologyIdentifier;  // "]d1", "]d2", "]L2", "]C1", "]E0", ...
  ContentType contentType = ContentType::Text;
  int eci = -1;                // the first ECI designator in the data; -1: none (default set)
  bool readerInit = false;     // reader initialisation / programming symbol
  bool mirrored = false;       // read from its mirror image
  bool inverted = false;       // light modules on a dark ground
  // Size and error correction: Data Matrix rows x columns of modules; PDF417 rows x data
  // columns; 1D 0 x 0. ecLevel: PDF417 0..8, -1 elsewhere.
  int rows = 0, columns = 0;
  int ecLevel = -1;
  int errorsCorrected = 0;     // codewords the error correction repaired (erasures included)
  int erasures = 0;            // of those, words known to be damaged before decoding
  StructuredAppend structuredAppend;
  // 1D: an EAN/UPC symbol's 2- or 5-digit add-on, when one was read beside it (not in text).
  std::string addOn;
  // 1D: the characters as the bars carry them, where text interprets them (Code 39 full ASCII,
  // Code 32); empty otherwise.
  std::string rawText;
};

// What to look for and how. The defaults look for every symbology and read what they find.
struct ReadOptions {
  Symbologies symbologies = Symbologies::all();  // at least one
  bool decode = true;          // turn located symbols into text
  int step = 2;                // scan every step-th row (and column where columns are scanned), 1..64
  int minSize = 0;             // smallest 2D symbol side, pixels (4..100000); 0: the default
  int maxSize = 0;             // largest 2D symbol side, pixels (4..100000, >= minSize); 0: the default
  // Expected Data Matrix module counts: 0 (unknown), or 8..144 each; modulesB 0 with modulesA
  // set means square.
  int modulesA = 0;
  int modulesB = 0;
  bool adaptive = false;       // Data Matrix: adaptive-threshold boundary tracking
  bool lowContrast = false;    // Data Matrix: accept weaker edges as seeds
  // Data Matrix: the long rectangles (8 x 48 to 8 x 144) are found by default round the long
  // outlines the scan leaves; this also searches the whole image turned sixteen ways for them
  // (about 40 times slower).
  bool longRectangles = false;
  int maxSymbols = 0;          // stop after this many symbols; 0: no limit
  // Polled while the search runs, on the calling thread; returning true stops it and
  // readSymbols throws Error with status csys_errAttention. The reader installs the library's
  // process-wide attention callback for this, the first time a search with a stop callback
  // runs: a program that installs its own should not also pass stop callbacks.
  std::function<bool()> stop;
};

// A failure: a bad argument at the front door (status csys_errBadArgument, 0x80000024), or
// the library's failure status (out of memory, a stop request, ...). Finding nothing is not a
// failure. symbols() holds what was found before the failure.
class IDUT_READER_API Error : public std::runtime_error {
 public:
  Error(int32_t status, const std::string& message, std::vector<Symbol> found = {});
  int32_t status() const noexcept { return status_; }
  const char* statusName() const noexcept;  // "csys_errNoMemory", ...
  const std::vector<Symbol>& symbols() const noexcept { return found_; }

 private:
  int32_t status_;
  std::vector<Symbol> found_;
};

// The name of a library status ("csys_errNoMemory", "cidut_errOutOfRange", ...), "success" for
// 0 and other non-negative values, "unknown status" for a failure code the library does not name.
IDUT_READER_API const char* statusName(int32_t status) noexcept;

// The UPC-A number (12 digits) a UPC-E number stands for: 8 digits (number system 0 or 1, six
// digits, check digit), or 6 or 7 digits (number system 0 assumed, check digit computed). Empty
// when the digits are not a UPC-E number.
IDUT_READER_API std::string expandUpce(std::string_view upce);

// Checks options and throws Error (csys_errBadArgument) naming the first problem: an empty or
// unknown symbology set, a value out of its range, minSize above maxSize.
IDUT_READER_API void validate(const ReadOptions& options);

// Every symbol of the image the options select, Data Matrix first, then PDF417, then 1D.
// Throws Error on a bad image view (null pixels, width or height below 1, stride below width),
// bad options, or a library failure.
IDUT_READER_API std::vector<Symbol> readSymbols(const ImageView& image, const ReadOptions& options = {});

}  // namespace idut

#endif
