// PDF417 error correction over GF(929): the check words of a level (2^(level + 1) of them)
// computed for given data, and a received codeword sequence corrected (errors and erasures) by
// the library's codec, each correction confirmed by recomputing the syndromes here.
#ifndef IDUT_READER_PDF417_PDFECC_HPP
#define IDUT_READER_PDF417_PDFECC_HPP

#include <string>
#include <vector>

namespace pdf417 {

inline constexpr int kMaxCodewords = 928;  // data and check words of one symbol

inline int checkWordCount(int level) { return 2 << level; }

// The check words for data (values 0..928, the length descriptor first) at level 0..8, to
// follow the data in the symbol. Empty for a level outside 0..8 or more than 928 words in all.
std::vector<int> checkWords(const std::vector<int>& data, int level);

// Whether the words (data then check words of the level) are a codeword: every syndrome zero.
bool syndromesZero(const std::vector<int>& words, int level);

struct Correction {
  bool ok = false;
  std::string error;   // why the words could not be corrected, when !ok
  int corrected = 0;   // words changed (erasures included)
  int erasures = 0;    // of those given as erased
};

// Corrects words in place (all of the symbol's words, check words last). erased lists indices
// of words known to be unreliable (their values are ignored). On failure words is unchanged.
Correction correct(std::vector<int>& words, int level, const std::vector<int>& erased);

}  // namespace pdf417

#endif
