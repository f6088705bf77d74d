// PDF417 codeword patterns: the table of the three clusters, and the look-ups a reader needs:
// a pattern's cluster from its element widths, and a codeword from its pattern or from its
// edge-to-similar-edge distances (which ink spread and blur leave unchanged).
#ifndef IDUT_READER_PDF417_PDFTABLES_HPP
#define IDUT_READER_PDF417_PDFTABLES_HPP

#include <array>
#include <cstdint>

namespace pdf417 {

inline constexpr int kModulesPerWord = 17;
inline constexpr int kWordValues = 929;        // codeword values 0..928
inline constexpr int kStartModules = 17;       // start pattern 8 1 1 1 1 1 1 3
inline constexpr int kStopModules = 18;        // stop pattern 7 1 1 3 1 1 1 2 1
inline constexpr std::array<int, 8> kStartWidths = {8, 1, 1, 1, 1, 1, 1, 3};
inline constexpr std::array<int, 9> kStopWidths = {7, 1, 1, 3, 1, 1, 1, 2, 1};

// [cluster / 3][value]: the pattern as 17 bits read left to right, bar modules set.
extern const uint32_t kCodewordPatterns[3][929];

// The cluster (0, 3 or 6) of eight element widths, bar first; the sum need not be 17. Any
// value 0..8 for widths that are no codeword of the three clusters.
inline int clusterOf(const std::array<int, 8>& w) { return ((w[0] - w[2] + w[4] - w[6]) % 9 + 9) % 9; }

// The value of a 17-bit pattern in the cluster (0, 3 or 6), or -1 when it is none of its words.
int valueOfPattern(int cluster, uint32_t pattern);

// The codeword whose edge-to-similar-edge distances (the widths of element pairs 0+1, 1+2, ...,
// 5+6, in modules) are e, in the cluster those distances give; -1 when no word has them.
// *cluster receives the cluster (0..8) the distances imply.
int valueOfEdges(const std::array<int, 6>& e, int* cluster);

// The word of the cluster (0, 3 or 6) whose edge-to-similar-edge distances are nearest to e (in
// modules, not rounded), by the largest difference of one distance; -1 when none is within
// `within` modules. *off receives that difference.
int nearestWord(const std::array<float, 6>& e, int cluster, float within, float* off);

// The 17-bit pattern of eight element widths that add up to 17 (bar first); 0 otherwise.
uint32_t patternOfWidths(const std::array<int, 8>& w);

// Row indicator values. Row r's indicators are 30 * (r / 3) plus, by the row's cluster:
//   cluster 0: left (rows - 1) / 3,              right columns - 1
//   cluster 3: left 3 * level + (rows - 1) % 3,  right (rows - 1) / 3
//   cluster 6: left columns - 1,                 right 3 * level + (rows - 1) % 3
int leftIndicator(int row, int rows, int columns, int level);
int rightIndicator(int row, int rows, int columns, int level);

}  // namespace pdf417

#endif
