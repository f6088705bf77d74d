// Text and JSON output of idut-find.
#include "result.hpp"

#include <utility>

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

void printText(std::FILE* out, const ImageResult& r) {
  for (const Symbol& s : r.symbols) {
    std::fprintf(out, "%s: %s", r.file.c_str(), s.symbology.c_str());
    for (const Corner& c : s.corners) std::fprintf(out, " (%.2f,%.2f)", c.x, c.y);
    std::fprintf(out, " score=%d parallelogram=%d", s.score, s.parallelogram ? 1 : 0);
    if (s.decoded) std::fprintf(out, " text=\"%s\"", jsonEscape(s.text).c_str());
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
    const Symbol& s = r.symbols[i];
    std::fprintf(out, "%s{\"symbology\":\"%s\",\"corners\":[", i ? "," : "", jsonEscape(s.symbology).c_str());
    for (size_t k = 0; k < s.corners.size(); ++k)
      std::fprintf(out, "%s[%.3f,%.3f]", k ? "," : "", s.corners[k].x, s.corners[k].y);
    std::fprintf(out, "],\"score\":%d,\"parallelogram\":%s", s.score, s.parallelogram ? "true" : "false");
    if (s.decoded)
      std::fprintf(out, ",\"text\":\"%s\"", jsonEscape(s.text).c_str());
    if (s.decoded) {
      const std::pair<const char*, const std::string*> extras[] = {
          {"add_on", &s.addOn}, {"raw_text", &s.rawText}, {"symbology_identifier", &s.identifier}};
      for (const auto& [key, value] : extras)
        if (!value->empty()) std::fprintf(out, ",\"%s\":\"%s\"", key, jsonEscape(*value).c_str());
    } else if (!s.decodeError.empty())
      std::fprintf(out, ",\"decode_error\":\"%s\"", jsonEscape(s.decodeError).c_str());
    std::fprintf(out, "}");
  }
  std::fprintf(out, "]}\n");
}

}  // namespace idutfind
