// Text and JSON output of idut-find.
#include "result.hpp"

#include <algorithm>
#include <cstdint>

namespace idutfind {

std::string jsonEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::array<idut::Point, 4> printOrder(const idut::Quad& q) { return {q.origin(), q.xEnd(), q.yEnd(), q.opposite()}; }

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(const std::vector<uint8_t>& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t v = static_cast<uint32_t>(bytes[i]) << 16;
    if (n > 1) v |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (n > 2) v |= bytes[i + 2];
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kBase64[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

// The decoding details after text or decode_error, each only where it says something.
void printDetails(std::FILE* out, const idut::Symbol& s) {
  if (s.decoded) {
    std::fprintf(out, ",\"bytes\":\"%s\",\"content_type\":\"%s\"", base64(s.bytes).c_str(), idut::toString(s.contentType));
    if (!s.symbologyIdentifier.empty())
      std::fprintf(out, ",\"symbology_identifier\":\"%s\"", jsonEscape(s.symbologyIdentifier).c_str());
    if (s.eci >= 0) std::fprintf(out, ",\"eci\":%d", s.eci);
  }
  if (s.rows > 0) std::fprintf(out, ",\"rows\":%d,\"columns\":%d", s.rows, s.columns);
  if (s.ecLevel >= 0) std::fprintf(out, ",\"ec_level\":%d", s.ecLevel);
  if (s.errorsCorrected > 0 || s.erasures > 0)
    std::fprintf(out, ",\"errors_corrected\":%d,\"erasures\":%d", s.errorsCorrected, s.erasures);
  if (s.readerInit) std::fprintf(out, ",\"reader_init\":true");
  if (s.mirrored) std::fprintf(out, ",\"mirrored\":true");
  if (s.inverted) std::fprintf(out, ",\"inverted\":true");
  if (!s.addOn.empty()) std::fprintf(out, ",\"add_on\":\"%s\"", jsonEscape(s.addOn).c_str());
  if (!s.rawText.empty()) std::fprintf(out, ",\"raw_text\":\"%s\"", jsonEscape(s.rawText).c_str());
  const idut::StructuredAppend& a = s.structuredAppend;
  if (a.index >= 0) {
    std::fprintf(out, ",\"structured_append\":{\"index\":%d,\"count\":%d,\"id\":\"%s\"", a.index, a.count,
                 jsonEscape(a.id).c_str());
    if (a.last) std::fprintf(out, ",\"last\":true");
    if (!a.fileName.empty()) std::fprintf(out, ",\"file_name\":\"%s\"", jsonEscape(a.fileName).c_str());
    if (!a.sender.empty()) std::fprintf(out, ",\"sender\":\"%s\"", jsonEscape(a.sender).c_str());
    if (!a.addressee.empty()) std::fprintf(out, ",\"addressee\":\"%s\"", jsonEscape(a.addressee).c_str());
    if (a.timeStamp >= 0) std::fprintf(out, ",\"time_stamp\":%lld", static_cast<long long>(a.timeStamp));
    if (a.fileSize >= 0) std::fprintf(out, ",\"file_size\":%lld", static_cast<long long>(a.fileSize));
    if (a.checksum >= 0) std::fprintf(out, ",\"checksum\":%d", a.checksum);
    std::fprintf(out, "}");
  }
}

}  // namespace

void printText(std::FILE* out, const ImageResult& r) {
  for (const idut::Symbol& s : r.symbols) {
    std::fprintf(out, "%s: %s", r.file.c_str(), idut::toString(s.symbology));
    for (const idut::Point& c : printOrder(s.corners)) std::fprintf(out, " (%.2f,%.2f)", c.x, c.y);
    std::fprintf(out, " score=%d parallelogram=%d", s.score, s.parallelogram ? 1 : 0);
    if (s.decoded) std::fprintf(out, " text=\"%s\"", jsonEscape(s.text).c_str());
    if (s.decoded && !s.addOn.empty()) std::fprintf(out, " add_on=\"%s\"", jsonEscape(s.addOn).c_str());
    if (s.decoded && !s.addOn.empty()) std::fprintf(out, " add_on=\"%s\"", jsonEscape(s.addOn).c_str());
    std::fprintf(out, "\n");
  }
}

void printJson(std::FILE* out, const ImageResult& r) {
  std::fprintf(out, "{\"file\":\"%s\"", jsonEscape(r.file).c_str());
  if (!r.readOk) {
    std::fprintf(out, ",\"error\":\"%s\"}\n", jsonEscape(r.error).c_str());
    return;
  }
  std::fprintf(out, ",\"width\":%d,\"height\":%d,\"symbols\":[", r.width, r.height);
  for (size_t i = 0; i < r.symbols.size(); ++i) {
    const idut::Symbol& s = r.symbols[i];
    std::fprintf(out, "%s{\"symbology\":\"%s\",\"corners\":[", i ? "," : "", idut::toString(s.symbology));
    const std::array<idut::Point, 4> corners = printOrder(s.corners);
    for (size_t k = 0; k < corners.size(); ++k)
      std::fprintf(out, "%s[%.3f,%.3f]", k ? "," : "", corners[k].x, corners[k].y);
    std::fprintf(out, "],\"score\":%d,\"parallelogram\":%s", s.score, s.parallelogram ? "true" : "false");
    if (s.decoded)
      std::fprintf(out, ",\"text\":\"%s\"", jsonEscape(s.text).c_str());
    else if (!s.decodeError.empty())
      std::fprintf(out, ",\"decode_error\":\"%s\"", jsonEscape(s.decodeError).c_str());
    printDetails(out, s);
    std::fprintf(out, "}");
  }
  std::fprintf(out, "]}\n");
}

}  // namespace idutfind
