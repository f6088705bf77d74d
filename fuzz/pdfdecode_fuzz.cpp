// Fuzzes the PDF417 reader: the message decoder on arbitrary data codewords; valid symbols built
// from the input's data words, then damaged, read as codewords and as module rows; module rows
// whose bits come straight from the input; and small images read inside any four corners,
// inside the image, beyond it or degenerate. A read may fail; a damaged
// symbol that reads must read as the undamaged one (never another text), and every read is
// repeatable.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "reader/pdf417/pdfecc.hpp"
#include "reader/pdf417/pdfread.hpp"
#include "reader/pdf417/pdftables.hpp"

namespace {

std::string contentOf(const pdf417::Reading& r) {
  std::string s;
  for (const auto& seg : r.message.segments) s += std::to_string(seg.eci) + ":" + std::string(seg.bytes.begin(), seg.bytes.end());
  return s;
}

void appendBits(std::vector<uint8_t>* row, uint32_t pattern, int bits) {
  for (int b = bits - 1; b >= 0; --b) row->push_back((pattern >> b) & 1);
}

// The module rows of a symbol of these words (rows * columns, row by row).
std::vector<std::vector<uint8_t>> rowsOf(const std::vector<int>& words, int columns, int level, bool compact) {
  const int rows = static_cast<int>(words.size()) / columns;
  std::vector<std::vector<uint8_t>> out(rows);
  for (int r = 0; r < rows; ++r) {
    const int k = r % 3;
    appendBits(&out[r], 0x1FEA8, 17);  // start 8 1 1 1 1 1 1 3
    appendBits(&out[r], pdf417::kCodewordPatterns[k][pdf417::leftIndicator(r, rows, columns, level)], 17);
    for (int c = 0; c < columns; ++c) appendBits(&out[r], pdf417::kCodewordPatterns[k][words[r * columns + c]], 17);
    if (compact) {
      out[r].push_back(1);
    } else {
      appendBits(&out[r], pdf417::kCodewordPatterns[k][pdf417::rightIndicator(r, rows, columns, level)], 17);
      appendBits(&out[r], 0x3FA29, 18);  // stop 7 1 1 3 1 1 1 2 1
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  fuzz::Bytes in{data, size};
  const uint32_t mode = in.next() % 4;
  if (mode == 0) {  // data codewords straight to the message decoder
    std::vector<int> words;
    while (in.at < size) words.push_back(static_cast<int>(in.next16() % 929));
    const pdf417::Message m = pdf417::decodeData(words);
    check(m.ok || !m.error.empty());
    return 0;
  }
  if (mode == 1) {  // a valid symbol, damaged
    const int level = static_cast<int>(in.next() % 6);
    const int columns = 1 + static_cast<int>(in.next() % 8);
    const int k = pdf417::checkWordCount(level);
    std::vector<int> words;
    words.push_back(0);
    for (int n = static_cast<int>(in.next() % 60); n > 0; --n) words.push_back(static_cast<int>(in.next16() % 929));
    int total = static_cast<int>(words.size()) + k;
    while (total % columns != 0 || total / columns < 3) words.push_back(900), ++total;
    words[0] = static_cast<int>(words.size());
    const std::vector<int> check = pdf417::checkWords(words, level);
    words.insert(words.end(), check.begin(), check.end());
    const pdf417::Reading clean = pdf417::readCodewords(words, columns, level);
    std::vector<int> damaged = words;
    for (int n = static_cast<int>(in.next() % 8); n > 0; --n) {
      const size_t at = in.next16() % damaged.size();
      damaged[at] = static_cast<int>(in.next16() % 930) - 1;  // -1: erased
    }
    const pdf417::Reading got = pdf417::readCodewords(damaged, columns, level);
    if (got.ok) check(clean.ok && contentOf(got) == contentOf(clean));
    // As module rows too, where the symbol has a printable size (at most 90 rows).
    if (std::find(damaged.begin(), damaged.end(), -1) == damaged.end() && damaged.size() / columns <= 90) {
      std::vector<std::vector<uint8_t>> rows = rowsOf(damaged, columns, level, (in.next() & 1) != 0);
      for (int n = static_cast<int>(in.next() % 8); n > 0; --n) {
        auto& row = rows[in.next() % rows.size()];
        row[in.next16() % row.size()] ^= 1;
      }
      const pdf417::Reading fromRows = pdf417::readModuleRows(rows);
      if (fromRows.ok) check(clean.ok && contentOf(fromRows) == contentOf(clean));
    }
    return 0;
  }
  if (mode == 3) {  // an image and four corners
    const int w = 1 + static_cast<int>(in.next() % 64), h = 1 + static_cast<int>(in.next() % 64);
    std::array<cmath_vect, 4> corners{};
    for (cmath_vect& c : corners) {
      c.x = static_cast<double>(in.next16s()) / 512.0;
      c.y = static_cast<double>(in.next16s()) / 512.0;
    }
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h);
    for (uint8_t& p : pixels) p = static_cast<uint8_t>(in.next());
    const cimg_windowConst window{w, h, 0, 0, w, pixels.data()};
    idut::Symbol sym;
    const bool ok = pdf417::readSymbol(window, corners, sym);
    check(ok == sym.decoded && ok == sym.decodeError.empty());
    return 0;
  }
  // Module rows of the input's bits.
  const int rows = 3 + static_cast<int>(in.next() % 30);
  const int width = 35 + static_cast<int>(in.next() % 200);
  std::vector<std::vector<uint8_t>> grid(rows, std::vector<uint8_t>(width));
  for (auto& row : grid)
    for (int i = 0; i < width; i += 8) {
      const uint32_t byte = in.next();
      for (int b = 0; b < 8 && i + b < width; ++b) row[i + b] = (byte >> b) & 1;
    }
  const pdf417::Reading first = pdf417::readModuleRows(grid);
  const pdf417::Reading again = pdf417::readModuleRows(grid);
  check(first.ok == again.ok && contentOf(first) == contentOf(again));
  idut::Symbol sym;
  check(pdf417::fillSymbol(first, sym) ? sym.decodeError.empty() : !sym.decodeError.empty() && sym.text.empty());
  return 0;
}
