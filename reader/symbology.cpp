// Names of the symbologies and content types, and the small value types of the front door.
#include <cctype>

#include "idut/read.hpp"

namespace idut {

namespace {

struct SymbologyNames {
  Symbology symbology;
  const char* reported;  // what results say
  const char* option;    // what options take
};

// In the order of the values; a new symbology adds one row.
constexpr SymbologyNames kNames[kSymbologyCount] = {
    {Symbology::DataMatrix, "DataMatrix", "datamatrix"},
    {Symbology::PDF417, "PDF417", "pdf417"},
    {Symbology::Code128, "Code128", "code128"},
    {Symbology::EAN13, "EAN-13", "ean13"},
    {Symbology::UPCA, "UPC-A", "upca"},
    {Symbology::EAN8, "EAN-8", "ean8"},
    {Symbology::Code39, "Code39", "code39"},
    {Symbology::ITF, "ITF", "itf"},
    {Symbology::UPCE, "UPC-E", "upce"},
    {Symbology::Code93, "Code93", "code93"},
    {Symbology::Codabar, "Codabar", "codabar"},
    {Symbology::DataBar, "DataBar", "databar"},
    {Symbology::DataBarExpanded, "DataBarExpanded", "databarexpanded"},
    {Symbology::Code32, "Code32", "code32"},
    {Symbology::PZN, "PZN", "pzn"},
};

const SymbologyNames* namesOf(Symbology symbology) {
  const int k = static_cast<int>(symbology);
  return k >= 0 && k < kSymbologyCount ? &kNames[k] : nullptr;
}

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

static_assert(kNames[kSymbologyCount - 1].symbology == Symbology::PZN, "one row per symbology, in value order");

const char* toString(Symbology symbology) noexcept {
  const SymbologyNames* n = namesOf(symbology);
  return n ? n->reported : "";
}

const char* optionName(Symbology symbology) noexcept {
  const SymbologyNames* n = namesOf(symbology);
  return n ? n->option : "";
}

std::optional<Symbology> parseSymbology(std::string_view name) noexcept {
  for (const SymbologyNames& n : kNames)
    if (equalNoCase(name, n.option) || equalNoCase(name, n.reported)) return n.symbology;
  return std::nullopt;
}

const char* toString(ContentType type) noexcept {
  switch (type) {
    case ContentType::Text: return "text";
    case ContentType::Binary: return "binary";
    case ContentType::GS1: return "gs1";
    case ContentType::ISO15434: return "iso15434";
  }
  return "";
}

Point Quad::centre() const {
  Point c;
  for (const Point& p : points) {
    c.x += p.x / 4;
    c.y += p.y / 4;
  }
  return c;
}

}  // namespace idut
