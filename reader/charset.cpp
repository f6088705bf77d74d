#include "reader/charset.hpp"

#include <iconv.h>

#include <cerrno>

namespace charset {

const char* iconvName(int eci) {
  switch (eci) {
    case 0:
    case 2:
      return "CP437";
    case 1:
    case 3:
      return "ISO-8859-1";
    case 4: return "ISO-8859-2";
    case 5: return "ISO-8859-3";
    case 6: return "ISO-8859-4";
    case 7: return "ISO-8859-5";
    case 8: return "ISO-8859-6";
    case 9: return "ISO-8859-7";
    case 10: return "ISO-8859-8";
    case 11: return "ISO-8859-9";
    case 12: return "ISO-8859-10";
    case 13: return "ISO-8859-11";
    // 14 was kept for a part 12 that was never published.
    case 15: return "ISO-8859-13";
    case 16: return "ISO-8859-14";
    case 17: return "ISO-8859-15";
    case 18: return "ISO-8859-16";
    case 20: return "SHIFT_JIS";
    case 21: return "CP1250";
    case 22: return "CP1251";
    case 23: return "CP1252";
    case 24: return "CP1256";
    case 25: return "UTF-16BE";
    case 26: return "UTF-8";
    case 27:
    case 170:  // the invariant subset of ISO 646: ASCII decodes it exactly
      return "US-ASCII";
    case 28: return "BIG5";
    case 29: return "GB2312";
    case 30: return "EUC-KR";
    case 31: return "GBK";
    case 32: return "GB18030";
    case 33: return "UTF-16LE";
    case 34: return "UTF-32BE";
    case 35: return "UTF-32LE";
    default: return nullptr;
  }
}

namespace {

void setError(std::string* error, std::string message) {
  if (error != nullptr) *error = std::move(message);
}

// The descriptor closed on every path out.
struct Converter {
  iconv_t cd;
  explicit Converter(const char* from) : cd(iconv_open("UTF-8", from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

}  // namespace

bool toUtf8(int eci, const uint8_t* data, size_t size, std::string* utf8, std::string* error) {
  const char* name = iconvName(eci);
  if (name == nullptr) {
    setError(error, isBinary(eci) ? "ECI 899 marks binary data, not text"
                                  : "ECI " + std::to_string(eci) + " names no character set this reader converts");
    return false;
  }
  if (size == 0) return true;
  Converter converter(name);
  if (!converter.ok()) {
    setError(error, std::string("iconv cannot convert from ") + name);
    return false;
  }
  // UTF-8 takes at most four bytes a character and no set here has characters under one byte,
  // except that one byte can be a whole character of up to three UTF-8 bytes (CP437, CP1256, ...).
  std::string out(size * 4 + 4, '\0');
  char* in = const_cast<char*>(reinterpret_cast<const char*>(data));
  size_t inLeft = size;
  char* outPtr = out.data();
  size_t outLeft = out.size();
  const size_t rc = iconv(converter.cd, &in, &inLeft, &outPtr, &outLeft);
  if (rc == static_cast<size_t>(-1) || inLeft != 0) {
    const size_t at = size - inLeft;
    setError(error, std::string(errno == EINVAL ? "bytes end inside a character of " : "bytes not valid in ") + name +
                        " at byte " + std::to_string(at));
    return false;
  }
  // Flush any shift state (stateful encodings); none of the sets above keeps one, but it is cheap.
  if (iconv(converter.cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
    setError(error, std::string("incomplete character at the end of ") + name + " bytes");
    return false;
  }
  out.resize(out.size() - outLeft);
  utf8->append(out);
  return true;
}

bool segmentsToUtf8(const std::vector<Segment>& segments, std::string* utf8, std::string* error) {
  std::string text;
  for (const Segment& s : segments)
    if (!toUtf8(s.eci, s.bytes.data(), s.bytes.size(), &text, error)) return false;
  utf8->append(text);
  return true;
}

namespace {

bool noText(uint8_t b) {
  if (b >= 0x7F && b <= 0x9F) return true;
  if (b >= 0x20) return false;
  return b != 0x09 && b != 0x0A && b != 0x0D && b != 0x04 && b != 0x1C && b != 0x1D && b != 0x1E;
}

}  // namespace

Content contentOf(const std::vector<Segment>& segments) {
  Content c;
  for (const Segment& s : segments) {
    c.bytes.insert(c.bytes.end(), s.bytes.begin(), s.bytes.end());
    c.binary = c.binary || isBinary(s.eci);
    if (!s.designated)
      for (uint8_t b : s.bytes) c.binary = c.binary || noText(b);
  }
  if (!c.binary && !segmentsToUtf8(segments, &c.text, &c.error)) {
    c.ok = false;
    c.error = "content is not text in its character set: " + c.error;
  }
  return c;
}

}  // namespace charset
