#include "reader/pdf417/pdfecc.hpp"

#include <algorithm>
#include <cstdint>

#include "ci_id/reedsolomon.h"

namespace pdf417 {

namespace {

constexpr int kPrime = 929;

int mulMod(int a, int b) { return static_cast<int>((static_cast<long long>(a) * b) % kPrime); }

// g(x) = (x - 3)(x - 3^2)...(x - 3^k), coefficients highest power first (g[0] = 1).
std::vector<int> generator(int k) {
  std::vector<int> g{1};
  int root = 1;
  for (int i = 1; i <= k; ++i) {
    root = mulMod(root, 3);
    std::vector<int> next(g.size() + 1, 0);
    for (size_t j = 0; j < g.size(); ++j) {
      next[j] = (next[j] + g[j]) % kPrime;
      next[j + 1] = (next[j + 1] + mulMod(g[j], kPrime - root)) % kPrime;
    }
    g = std::move(next);
  }
  return g;
}

bool validLevel(int level) { return level >= 0 && level <= 8; }

}  // namespace

std::vector<int> checkWords(const std::vector<int>& data, int level) {
  if (!validLevel(level)) return {};
  const int k = checkWordCount(level);
  if (static_cast<int>(data.size()) + k > kMaxCodewords) return {};
  const std::vector<int> g = generator(k);
  // Remainder of data(x) * x^k by g(x), by long division; the check words are its negation, so
  // that data and check words together are a multiple of g.
  std::vector<int> rem(k, 0);
  for (int d : data) {
    const int factor = (((d % kPrime) + rem[0]) % kPrime + kPrime) % kPrime;
    for (int j = 0; j < k; ++j) {
      const int next = j + 1 < k ? rem[j + 1] : 0;
      rem[j] = (next + kPrime - mulMod(factor, g[j + 1])) % kPrime;
    }
  }
  for (int& r : rem) r = (kPrime - r) % kPrime;
  return rem;
}

bool syndromesZero(const std::vector<int>& words, int level) {
  if (!validLevel(level)) return false;
  const int k = checkWordCount(level);
  // Horner's rule in unsigned 64 bits, reduced every kSteps words: from below 929 each step
  // multiplies by a root below 929 and adds a word below 929, so kSteps steps stay below 929^6,
  // far inside 64 bits, and most words cost a multiplication and an addition.
  constexpr size_t kSteps = 5;
  std::vector<uint32_t> w(words.size());
  for (size_t i = 0; i < words.size(); ++i) w[i] = static_cast<uint32_t>(((words[i] % kPrime) + kPrime) % kPrime);
  uint64_t root = 1;
  for (int j = 1; j <= k; ++j) {
    root = root * 3 % kPrime;
    uint64_t s = 0;
    size_t i = 0;
    for (; i + kSteps <= w.size(); i += kSteps) {
      for (size_t step = 0; step < kSteps; ++step) s = s * root + w[i + step];
      s %= kPrime;
    }
    for (; i < w.size(); ++i) s = (s * root + w[i]) % kPrime;
    if (s != 0) return false;
  }
  return true;
}

Correction correct(std::vector<int>& words, int level, const std::vector<int>& erased) {
  Correction out;
  const int n = static_cast<int>(words.size());
  if (!validLevel(level)) {
    out.error = "error correction level outside 0..8";
    return out;
  }
  const int k = checkWordCount(level);
  if (n <= k || n > kMaxCodewords) {
    out.error = "codeword count does not fit the error correction level";
    return out;
  }
  std::vector<int32_t> exponents;
  for (int i : erased)
    if (i >= 0 && i < n) exponents.push_back(n - i);
  std::sort(exponents.begin(), exponents.end());
  exponents.erase(std::unique(exponents.begin(), exponents.end()), exponents.end());
  if (static_cast<int>(exponents.size()) > k - 2 && !exponents.empty()) {
    // The codec keeps two words back to detect a wrong repair; more erasures than that leave
    // nothing to check the repair with.
    out.error = std::to_string(exponents.size()) + " erased codewords, more than level " + std::to_string(level) +
                " can repair with a check";
    return out;
  }
  // Words read as a codeword (nothing erased, every word a field element, every syndrome zero)
  // need no repair: the codec would hand them back unchanged, after computing the same syndromes
  // again. A word outside the field goes to the codec, which reduces it its own way.
  const bool inField = std::all_of(words.begin(), words.end(), [](int w) { return w >= 0 && w < kPrime; });
  if (exponents.empty() && inField && syndromesZero(words, level)) {
    out.ok = true;
    return out;
  }
  std::vector<uint32_t> buffer(words.begin(), words.end());
  for (int32_t e : exponents) buffer[n - e] = 0;
  int32_t errors = 0, flag = 0;
  const csys_status status = cid_RSSCCA_RSCorrectErrors_(buffer.data(), n, k, static_cast<int32_t>(exponents.size()),
                                                         exponents.data(), &errors, &flag);
  if (status != 0 || flag != 1) {
    out.error = status != 0 ? "error correction failed to run" : "too many damaged codewords to correct";
    return out;
  }
  std::vector<int> repaired(buffer.begin(), buffer.end());
  // Never trust a repair blindly: the result must be a codeword.
  if (!syndromesZero(repaired, level)) {
    out.error = "error correction gave words that are not a codeword";
    return out;
  }
  for (int i = 0; i < n; ++i)
    if (repaired[i] != words[i]) ++out.corrected;
  out.erasures = static_cast<int>(exponents.size());
  // An erased word that read right is still counted as repaired: it was not known to be.
  for (int32_t e : exponents)
    if (repaired[n - e] == words[n - e]) ++out.corrected;
  words = std::move(repaired);
  out.ok = true;
  return out;
}

}  // namespace pdf417
