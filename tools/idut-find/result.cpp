// Text and JSON output of idut-find. The printers write straight to the stream, escaping as they
// go, so that printing a result needs no memory: a result that ran out of memory still gets its
// line.
#include "result.hpp"

#include <algorithm>
#include <cstdint>

namespace idutfind {

namespace {

// The length of the valid UTF-8 sequence at p (at most left bytes), 0 when none starts there:
// no overlong forms, no surrogates, nothing above U+10FFFF.
size_t utf8Length(const unsigned char* p, size_t left, uint32_t* codePoint) {
  const unsigned char c = p[0];
  size_t n;
  uint32_t cp, least;
  if (c < 0x80) return *codePoint = c, 1;
  if ((c & 0xE0) == 0xC0) n = 2, cp = c & 0x1F, least = 0x80;
  else if ((c & 0xF0) == 0xE0) n = 3, cp = c & 0x0F, least = 0x800;
  else if ((c & 0xF8) == 0xF0) n = 4, cp = c & 0x07, least = 0x10000;
  else return 0;
  if (n > left) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *codePoint = cp;
  return n;
}

// Escapes text for a JSON string, handing the pieces to put(const char*, size_t).
template <class Put>
void escapeJson(std::string_view text, Put put) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    const unsigned char c = p[i];
    char buf[8];
    uint32_t cp = 0;
    const size_t n = utf8Length(p + i, size - i, &cp);
    if (n == 0) {  // a stray byte: its lone surrogate, as "surrogateescape" writes it
      std::snprintf(buf, sizeof buf, "\\udc%02x", c);
      put(buf, 6);
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      put("\\", 1);
      put(reinterpret_cast<const char*>(p + i), 1);
    } else if (c == '\n') {
      put("\\n", 2);
    } else if (c == '\r') {
      put("\\r", 2);
    } else if (c == '\t') {
      put("\\t", 2);
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      put(buf, 6);
    } else {
      put(reinterpret_cast<const char*>(p + i), n);
    }
    i += n;
  }
}

// Escapes text for a terminal line, handing the pieces to put(const char*, size_t).
template <class Put>
void escapePrintable(std::string_view text, Put put) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    uint32_t cp = 0;
    size_t n = utf8Length(p + i, size - i, &cp);
    const bool control = n == 0 || cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F);
    if (!control) {
      if (cp == '\\') put("\\\\", 2);
      else put(reinterpret_cast<const char*>(p + i), n);
    } else if (cp == '\n' && n == 1) {
      put("\\n", 2);
    } else if (cp == '\r' && n == 1) {
      put("\\r", 2);
    } else if (cp == '\t' && n == 1) {
      put("\\t", 2);
    } else {
      n = std::max<size_t>(n, 1);
      for (size_t k = 0; k < n; ++k) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02x", p[i + k]);
        put(buf, 4);
      }
    }
    i += n;
  }
}

struct FilePut {
  std::FILE* out;
  void operator()(const char* s, size_t n) const { std::fwrite(s, 1, n, out); }
};

// A JSON string, quotes included.
void putJson(std::FILE* out, std::string_view text) {
  std::fputc('"', out);
  escapeJson(text, FilePut{out});
  std::fputc('"', out);
}

void putJsonField(std::FILE* out, const char* name, std::string_view text) {
  std::fprintf(out, ",\"%s\":", name);
  putJson(out, text);
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void putBase64(std::FILE* out, const std::vector<uint8_t>& bytes) {
  std::fputc('"', out);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t v = static_cast<uint32_t>(bytes[i]) << 16;
    if (n > 1) v |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (n > 2) v |= bytes[i + 2];
    for (size_t k = 0; k < 4; ++k) std::fputc(k <= n ? kBase64[(v >> (18 - 6 * k)) & 63] : '=', out);
  }
  std::fputc('"', out);
}

// The decoding details after text or decode_error, each only where it says something.
void printDetails(std::FILE* out, const idut::Symbol& s) {
  if (s.decoded) {
    std::fprintf(out, ",\"bytes\":");
    putBase64(out, s.bytes);
    std::fprintf(out, ",\"content_type\":\"%s\"", idut::toString(s.contentType));
    if (!s.symbologyIdentifier.empty()) putJsonField(out, "symbology_identifier", s.symbologyIdentifier);
    if (s.eci >= 0) std::fprintf(out, ",\"eci\":%d", s.eci);
  }
  if (s.rows > 0) std::fprintf(out, ",\"rows\":%d,\"columns\":%d", s.rows, s.columns);
  if (s.ecLevel >= 0) std::fprintf(out, ",\"ec_level\":%d", s.ecLevel);
  if (s.errorsCorrected > 0 || s.erasures > 0)
    std::fprintf(out, ",\"errors_corrected\":%d,\"erasures\":%d", s.errorsCorrected, s.erasures);
  if (s.readerInit) std::fprintf(out, ",\"reader_init\":true");
  if (s.mirrored) std::fprintf(out, ",\"mirrored\":true");
  if (s.inverted) std::fprintf(out, ",\"inverted\":true");
  if (!s.addOn.empty()) putJsonField(out, "add_on", s.addOn);
  if (!s.rawText.empty()) putJsonField(out, "raw_text", s.rawText);
  const idut::StructuredAppend& a = s.structuredAppend;
  if (a.index >= 0) {
    std::fprintf(out, ",\"structured_append\":{\"index\":%d,\"count\":%d", a.index, a.count);
    putJsonField(out, "id", a.id);
    if (a.last) std::fprintf(out, ",\"last\":true");
    if (!a.fileName.empty()) putJsonField(out, "file_name", a.fileName);
    if (!a.sender.empty()) putJsonField(out, "sender", a.sender);
    if (!a.addressee.empty()) putJsonField(out, "addressee", a.addressee);
    if (a.timeStamp >= 0) std::fprintf(out, ",\"time_stamp\":%lld", static_cast<long long>(a.timeStamp));
    if (a.fileSize >= 0) std::fprintf(out, ",\"file_size\":%lld", static_cast<long long>(a.fileSize));
    if (a.checksum >= 0) std::fprintf(out, ",\"checksum\":%d", a.checksum);
    std::fprintf(out, "}");
  }
}

void printSymbolJson(std::FILE* out, const idut::Symbol& s) {
  std::fprintf(out, "{\"symbology\":\"%s\",\"corners\":[", idut::toString(s.symbology));
  const std::array<idut::Point, 4> corners = printOrder(s.corners);
  for (size_t k = 0; k < corners.size(); ++k) std::fprintf(out, "%s[%.3f,%.3f]", k ? "," : "", corners[k].x, corners[k].y);
  std::fprintf(out, "],\"score\":%d,\"parallelogram\":%s", s.score, s.parallelogram ? "true" : "false");
  if (s.decoded)
    putJsonField(out, "text", s.text);
  else if (!s.decodeError.empty())
    putJsonField(out, "decode_error", s.decodeError);
  printDetails(out, s);
  std::fprintf(out, "}");
}

void printError(std::FILE* out, const ImageResult& r) {
  std::fprintf(out, ",\"error\":{\"status\":");
  putJson(out, r.status);
  putJsonField(out, "message", r.error);
  std::fprintf(out, "}");
}

}  // namespace

std::string jsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  escapeJson(text, [&out](const char* s, size_t n) { out.append(s, n); });
  return out;
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  escapePrintable(text, [&out](const char* s, size_t n) { out.append(s, n); });
  return out;
}

void printNotice(std::FILE* out, std::initializer_list<std::string_view> message) {
  std::fputs("idut-find: ", out);
  for (std::string_view part : message) escapePrintable(part, FilePut{out});
  std::fputc('\n', out);
}

std::array<idut::Point, 4> printOrder(const idut::Quad& q) { return {q.origin(), q.xEnd(), q.yEnd(), q.opposite()}; }

void printText(std::FILE* out, const ImageResult& r) {
  for (const idut::Symbol& s : r.symbols) {
    escapePrintable(r.file, FilePut{out});
    std::fprintf(out, ": %s", idut::toString(s.symbology));
    for (const idut::Point& c : printOrder(s.corners)) std::fprintf(out, " (%.2f,%.2f)", c.x, c.y);
    std::fprintf(out, " score=%d parallelogram=%d", s.score, s.parallelogram ? 1 : 0);
    if (s.decoded) {
      std::fprintf(out, " text=\"");
      escapeJson(s.text, FilePut{out});
      std::fputc('"', out);
    }
    if (s.decoded && !s.addOn.empty()) {
      std::fprintf(out, " add_on=\"");
      escapeJson(s.addOn, FilePut{out});
      std::fputc('"', out);
    }
    std::fputc('\n', out);
  }
}

void printJson(std::FILE* out, const ImageResult& r) {
  std::fprintf(out, "{\"file\":");
  putJson(out, r.file);
  if (!r.readOk) {
    printError(out, r);
    std::fprintf(out, "}\n");
    return;
  }
  std::fprintf(out, ",\"width\":%d,\"height\":%d,\"symbols\":[", r.width, r.height);
  for (size_t i = 0; i < r.symbols.size(); ++i) {
    if (i) std::fputc(',', out);
    printSymbolJson(out, r.symbols[i]);
  }
  std::fprintf(out, "]");
  if (r.truncated) {
    std::fprintf(out, ",\"truncated\":true");
    putJsonField(out, "truncated_reason", r.truncatedReason);
  }
  if (r.failure != Failure::none) printError(out, r);
  std::fprintf(out, "}\n");
}

}  // namespace idutfind
