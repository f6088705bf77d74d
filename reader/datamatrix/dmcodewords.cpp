#include "reader/datamatrix/dmcodewords.hpp"

#include <algorithm>
#include <numeric>

#include "ci_id/reedsolomon.h"

namespace dmread {

const std::vector<SymbolSize>& symbolSizes() {
  static const std::vector<SymbolSize> kSizes = {
      // squares
      {10, 10, 8, 8, 1, 1, 3, 5, 1}, {12, 12, 10, 10, 1, 1, 5, 7, 1}, {14, 14, 12, 12, 1, 1, 8, 10, 1},
      {16, 16, 14, 14, 1, 1, 12, 12, 1}, {18, 18, 16, 16, 1, 1, 18, 14, 1}, {20, 20, 18, 18, 1, 1, 22, 18, 1},
      {22, 22, 20, 20, 1, 1, 30, 20, 1}, {24, 24, 22, 22, 1, 1, 36, 24, 1}, {26, 26, 24, 24, 1, 1, 44, 28, 1},
      {32, 32, 14, 14, 2, 2, 62, 36, 1}, {36, 36, 16, 16, 2, 2, 86, 42, 1}, {40, 40, 18, 18, 2, 2, 114, 48, 1},
      {44, 44, 20, 20, 2, 2, 144, 56, 1}, {48, 48, 22, 22, 2, 2, 174, 68, 1}, {52, 52, 24, 24, 2, 2, 204, 84, 2},
      {64, 64, 14, 14, 4, 4, 280, 112, 2}, {72, 72, 16, 16, 4, 4, 368, 144, 4}, {80, 80, 18, 18, 4, 4, 456, 192, 4},
      {88, 88, 20, 20, 4, 4, 576, 224, 4}, {96, 96, 22, 22, 4, 4, 696, 272, 4},
      {104, 104, 24, 24, 4, 4, 816, 336, 6}, {120, 120, 18, 18, 6, 6, 1050, 408, 6},
      {132, 132, 20, 20, 6, 6, 1304, 496, 8}, {144, 144, 22, 22, 6, 6, 1558, 620, 10},
      // rectangles
      {8, 18, 6, 16, 1, 1, 5, 7, 1}, {8, 32, 6, 14, 1, 2, 10, 11, 1}, {12, 26, 10, 24, 1, 1, 16, 14, 1},
      {12, 36, 10, 16, 1, 2, 22, 18, 1}, {16, 36, 14, 16, 1, 2, 32, 24, 1}, {16, 48, 14, 22, 1, 2, 49, 28, 1},
      // rectangular extension
      {8, 48, 6, 22, 1, 2, 18, 15, 1}, {8, 64, 6, 14, 1, 4, 24, 18, 1}, {8, 80, 6, 18, 1, 4, 32, 22, 1},
      {8, 96, 6, 22, 1, 4, 38, 28, 1}, {8, 120, 6, 18, 1, 6, 49, 32, 1}, {8, 144, 6, 22, 1, 6, 63, 36, 1},
      {12, 64, 10, 14, 1, 4, 43, 27, 1}, {12, 88, 10, 20, 1, 4, 64, 36, 1}, {16, 64, 14, 14, 1, 4, 62, 36, 1},
      {20, 36, 18, 16, 1, 2, 44, 28, 1}, {20, 44, 18, 20, 1, 2, 56, 34, 1}, {20, 64, 18, 14, 1, 4, 84, 42, 1},
      {22, 48, 20, 22, 1, 2, 72, 38, 1}, {24, 48, 22, 22, 1, 2, 80, 41, 1}, {24, 64, 22, 14, 1, 4, 108, 46, 1},
      {26, 40, 24, 18, 1, 2, 70, 38, 1}, {26, 48, 24, 22, 1, 2, 90, 42, 1}, {26, 64, 24, 14, 1, 4, 118, 50, 1},
  };
  return kSizes;
}

const SymbolSize* findSize(int rows, int cols) {
  for (const SymbolSize& s : symbolSizes())
    if (s.rows == rows && s.cols == cols) return &s;
  return nullptr;
}

namespace {

// The standard's diagonal placement walk: each codeword fills an "L"-shaped 8-module cluster,
// clusters wrap around the mapping matrix's edges, and four special shapes fill the corners.
struct Placer {
  int nrow, ncol;
  std::vector<int>& a;

  void module(int row, int col, int chr, int bit) {
    if (row < 0) {
      row += nrow;
      col += 4 - ((nrow + 4) % 8);
    }
    if (col < 0) {
      col += ncol;
      row += 4 - ((ncol + 4) % 8);
    }
    // The wrap can overshoot the far edge (24-row mappings with 36 or 44 columns): it continues
    // from the top, where the standard's extension sizes expect those bits.
    if (row >= nrow) row -= nrow;
    if (col >= ncol) col -= ncol;
    if (row < 0 || col < 0 || row >= nrow || col >= ncol) return;
    a[static_cast<size_t>(row) * ncol + col] = chr * 8 + bit;
  }
  // Eight (row, col) pairs, most significant bit first.
  void shape(const int (&rc)[16], int chr) {
    for (int bit = 0; bit < 8; ++bit) module(rc[2 * bit], rc[2 * bit + 1], chr, bit);
  }
  void utah(int r, int c, int chr) {
    shape({r - 2, c - 2, r - 2, c - 1, r - 1, c - 2, r - 1, c - 1, r - 1, c, r, c - 2, r, c - 1, r, c}, chr);
  }
  bool free(int r, int c) const { return a[static_cast<size_t>(r) * ncol + c] < 0; }

  void run() {
    const int R = nrow, C = ncol;
    int chr = 0, row = 4, col = 0;
    do {
      if (row == R && col == 0) shape({R - 1, 0, R - 1, 1, R - 1, 2, 0, C - 2, 0, C - 1, 1, C - 1, 2, C - 1, 3, C - 1}, chr++);
      if (row == R - 2 && col == 0 && C % 4)
        shape({R - 3, 0, R - 2, 0, R - 1, 0, 0, C - 4, 0, C - 3, 0, C - 2, 0, C - 1, 1, C - 1}, chr++);
      if (row == R - 2 && col == 0 && C % 8 == 4)
        shape({R - 3, 0, R - 2, 0, R - 1, 0, 0, C - 2, 0, C - 1, 1, C - 1, 2, C - 1, 3, C - 1}, chr++);
      if (row == R + 4 && col == 2 && C % 8 == 0)
        shape({R - 1, 0, R - 1, C - 1, 0, C - 3, 0, C - 2, 0, C - 1, 1, C - 3, 1, C - 2, 1, C - 1}, chr++);
      do {
        if (row < R && col >= 0 && free(row, col)) utah(row, col, chr++);
        row -= 2;
        col += 2;
      } while (row >= 0 && col < C);
      row += 1;
      col += 3;
      do {
        if (row >= 0 && col < C && free(row, col)) utah(row, col, chr++);
        row += 2;
        col -= 2;
      } while (row < R && col >= 0);
      row += 3;
      col += 1;
    } while (row < R || col < C);
  }
};

}  // namespace

std::vector<int> placement(int mappingRows, int mappingCols) {
  std::vector<int> a(static_cast<size_t>(mappingRows) * mappingCols, -1);
  Placer{mappingRows, mappingCols, a}.run();
  return a;
}

void readCodewords(const ModuleMatrix& m, const SymbolSize& size, std::vector<uint8_t>* words,
                   std::vector<float>* confidence) {
  const int mr = size.regionRows * size.regionsV, mc = size.regionCols * size.regionsH;
  const std::vector<int> map = placement(mr, mc);
  const int total = size.dataWords + size.eccWords;
  words->assign(total, 0);
  confidence->assign(total, 1.0f);
  for (int r = 0; r < mr; ++r) {
    // Mapping row r lies in region r / regionRows, below that region's clock row.
    const int symbolRow = r + 1 + 2 * (r / size.regionRows);
    for (int c = 0; c < mc; ++c) {
      const int v = map[static_cast<size_t>(r) * mc + c];
      if (v < 0 || v / 8 >= total) continue;
      const int symbolCol = c + 1 + 2 * (c / size.regionCols);
      const size_t at = static_cast<size_t>(symbolRow) * m.cols + symbolCol;
      if (m.dark[at]) (*words)[v / 8] |= static_cast<uint8_t>(0x80 >> (v % 8));
      if (!m.margin.empty()) (*confidence)[v / 8] = std::min((*confidence)[v / 8], m.margin[at]);
    }
  }
}

namespace {

// Owns one codec for the call.
struct Codec {
  cid2d_ReedSolomonCode code{};
  bool built = false;
  explicit Codec(int ecc) { built = !CSYS_FAILED(cid2d_ReedSolomonCode_construct(&code, 8, ecc, 0x12D, 2)); }
  ~Codec() {
    if (built) cid2d_ReedSolomonCode_destruct(&code);
  }
};

// Corrects one block (data words first, highest power first, then its check words); the codec
// wants the lowest power first. erase lists block positions to erase. Returns the words repaired
// or -1.
int correctBlock(Codec& codec, std::vector<uint8_t>& block, int dataCount, const std::vector<int>& erase) {
  const int n = static_cast<int>(block.size()), k = n - dataCount;
  std::vector<uint32_t> poly(n);
  for (int i = 0; i < n; ++i) poly[n - 1 - i] = block[i];
  for (int i : erase) poly[n - 1 - i] = 0x80000000u;
  int32_t corrected = -1;
  if (CSYS_FAILED(cid2d_ReedSolomonCode_CorrectErrs(&codec.code, poly.data(), n, &corrected)) || corrected < 0)
    return -1;
  // An erasure-assisted repair must leave three check words unused, or noise passes as data.
  const int s = static_cast<int>(erase.size());
  if (s > 0 && k - s - 2 * (corrected - s) < 3) return -1;
  for (int i = 0; i < n; ++i) block[i] = static_cast<uint8_t>(poly[n - 1 - i]);
  return corrected;
}

}  // namespace

Correction correct(const SymbolSize& size, const std::vector<uint8_t>& words, const std::vector<float>& confidence) {
  Correction out;
  const int B = size.blocks, k = size.eccWords / B;
  Codec codec(k);
  if (!codec.built) {
    out.error = "error correction could not be set up";
    return out;
  }
  out.data.assign(size.dataWords, 0);
  for (int b = 0; b < B; ++b) {
    // Interleaved: data word i and check word j belong to block i % B and j % B.
    std::vector<uint8_t> block;
    std::vector<float> conf;
    std::vector<int> where;
    for (int i = b; i < size.dataWords; i += B) {
      block.push_back(words[i]);
      conf.push_back(confidence[i]);
      where.push_back(i);
    }
    const int dataCount = static_cast<int>(block.size());
    // The largest size has two shorter blocks, and its check words start with the ninth block.
    const int first = size.rows == 144 ? (b + B - 8) % B : b;
    for (int j = first; j < size.eccWords; j += B) {
      block.push_back(words[size.dataWords + j]);
      conf.push_back(confidence[size.dataWords + j]);
    }
    std::vector<uint8_t> work = block;
    int fixed = correctBlock(codec, work, dataCount, {});
    if (fixed < 0) {
      // Erase the least confident words, a few more each time.
      std::vector<int> order(block.size());
      std::iota(order.begin(), order.end(), 0);
      std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return conf[x] < conf[y]; });
      for (int s = 2; s <= k - 3 && fixed < 0; s += 2) {
        if (conf[order[s - 1]] >= 1.0f) break;  // nothing left in doubt
        work = block;
        fixed = correctBlock(codec, work, dataCount, std::vector<int>(order.begin(), order.begin() + s));
        if (fixed >= 0) out.erased += s;
      }
    }
    if (fixed < 0) {
      out.error = "block " + std::to_string(b + 1) + " of " + std::to_string(B) + " has more errors than its " +
                  std::to_string(k) + " check words can correct";
      out.data.clear();
      return out;
    }
    out.corrected += fixed;
    for (int i = 0; i < dataCount; ++i) out.data[where[i]] = work[i];
  }
  out.ok = true;
  return out;
}

}  // namespace dmread
