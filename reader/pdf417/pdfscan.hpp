// One scan line across a PDF417 symbol's rows: the grey profile sampled along it, its edges found
// against a local threshold with hysteresis, the start pattern located (else the stop pattern),
// and the codewords read one after another from there, resynchronising on the expected position
// of the next word wherever a word does not read.
#ifndef IDUT_READER_PDF417_PDFSCAN_HPP
#define IDUT_READER_PDF417_PDFSCAN_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pdf417 {

// Words a line holds at most after the start pattern: the left row indicator, 30 data columns,
// the right row indicator, and a little slack for a line that runs on past a compact symbol.
inline constexpr int kMaxLineWords = 34;

struct LineRead {
  bool found = false;        // a start pattern was found, or failing that a stop pattern
  // Read from the stop pattern leftwards (the start pattern was not found): word k is then the
  // k-th from the right (0: right row indicator), and startAt the slot where the start pattern
  // begins (-1 when not seen), stopAt unused.
  bool fromStop = false;
  int cluster = -1;          // the row's cluster (0, 3 or 6), by most of its words; -1 unknown
  std::vector<int> words;    // word k from the start pattern (0: left row indicator); -1 unread
  // Per word slot, the word read by edge-to-similar-edge distances and the word read by element
  // boundaries (-1 where a way gave none of the row's cluster); words[k] is their agreement, or
  // the one way that gave a word, and -1 where they disagree.
  std::vector<std::array<int, 2>> readings;
  // Per word slot that did not read, the edge-to-similar-edge distances measured there in
  // modules (the first kNotMeasured where its elements could not be measured): the nearest word
  // to them may still be the one, which error correction then checks.
  std::vector<std::array<float, 6>> unread;
  int stopAt = -1;           // the word slot where the stop pattern begins; -1 when not seen
  int startAt = -1;          // read from the stop pattern: the slot where the start pattern begins
  // Where the line meets the symbol's sides, in samples along the profile: the start pattern's
  // leading edge and the stop pattern's trailing edge, -1 where not seen; where each word slot
  // begins (read from the start pattern; one slot more when the stop pattern was seen, where it
  // begins); and the module, in samples, of the pattern the reading began at.
  float startEdge = -1, stopEnd = -1;
  std::vector<float> slotStart;
  std::vector<uint8_t> slotEdges;  // read from the start pattern: edges within each slot (at most 255)
  float module = 0;
};

// Reads a profile (grey values along the line, samples evenly spaced). Bars are dark: a caller
// reads light-on-dark symbols from the negated profile, and a symbol running right to left
// from the profile reversed.
LineRead readLine(const std::vector<float>& profile);

// The first of the samples p[from], ..., p[to - 1] lying above level (above) or below it; to when
// none does. Most of a profile's stretches between two edges are passed a few samples at a time.
size_t firstBeyond(const float* p, size_t from, size_t to, float level, bool above);

// Distances not measured.
inline constexpr float kNotMeasured = -1.0f;

// The word whose edge-to-similar-edge distances (in modules, not rounded) are raw: each rounded
// to the nearest, and when that gives no word, the one nearest to halfway rounded the other way.
// -1 when neither gives a word; *cluster receives the cluster the rounded distances imply.
int wordOfDistances(const std::array<float, 6>& raw, int* cluster);

}  // namespace pdf417

#endif
