#include "reader/oned/fullascii.hpp"

#include <cstdint>
#include <cstring>

namespace oned {

int fullAsciiPair(char shift, char letter) {
  switch (shift) {
    case '$':
      if (letter >= 'A' && letter <= 'Z') return letter - 'A' + 1;
      return -1;
    case '+':
      if (letter >= 'A' && letter <= 'Z') return letter - 'A' + 'a';
      return -1;
    case '/':
      if (letter >= 'A' && letter <= 'O') return letter - 'A' + '!';
      if (letter == 'Z') return ':';
      return -1;
    case '%':
      if (letter >= 'A' && letter <= 'E') return letter - 'A' + 0x1B;
      if (letter >= 'F' && letter <= 'J') return letter - 'F' + ';';
      if (letter >= 'K' && letter <= 'O') return letter - 'K' + '[';
      if (letter >= 'P' && letter <= 'T') return letter - 'P' + '{';
      if (letter == 'U') return 0;
      if (letter == 'V') return '@';
      if (letter == 'W') return '`';
      if (letter >= 'X' && letter <= 'Z') return 0x7F;
      return -1;
    default: return -1;
  }
}

std::optional<std::string> decodeFullAscii(const std::string& printed) {
  std::string out;
  for (size_t i = 0; i < printed.size(); ++i) {
    const char c = printed[i];
    if (std::strchr("$%/+", c) == nullptr) {
      out.push_back(c);
      continue;
    }
    if (i + 1 >= printed.size()) return std::nullopt;
    const int ascii = fullAsciiPair(c, printed[i + 1]);
    if (ascii < 0) return std::nullopt;
    out.push_back(static_cast<char>(ascii));
    ++i;
  }
  return out;
}

std::optional<std::string> decodeCode32(const std::string& printed) {
  static constexpr char kAlphabet[] = "0123456789BCDFGHJKLMNPQRSTUVWXYZ";
  if (printed.size() != 6) return std::nullopt;
  uint64_t value = 0;
  for (char c : printed) {
    const char* at = c ? std::strchr(kAlphabet, c) : nullptr;
    if (!at) return std::nullopt;
    value = value * 32 + static_cast<uint64_t>(at - kAlphabet);
  }
  if (value >= 1000000000u) return std::nullopt;
  std::string digits = std::to_string(value);
  digits.insert(0, 9 - digits.size(), '0');
  // Check: digits in odd places count once, those in even places doubled with their digits summed.
  int sum = 0;
  for (int i = 0; i < 8; ++i) {
    const int d = digits[i] - '0';
    sum += i % 2 == 0 ? d : (2 * d) / 10 + (2 * d) % 10;
  }
  if (sum % 10 != digits[8] - '0') return std::nullopt;
  return "A" + digits;
}

bool isPzn(const std::string& printed) {
  const size_t n = printed.size();
  if ((n != 8 && n != 9) || printed[0] != '-') return false;
  for (size_t i = 1; i < n; ++i)
    if (printed[i] < '0' || printed[i] > '9') return false;
  // PZN8 weighs its seven digits 1..7, PZN7 its six digits 2..7; a sum of 10 mod 11 is never issued.
  int sum = 0;
  const int first = n == 9 ? 1 : 2;
  for (size_t i = 1; i + 1 < n; ++i) sum += (printed[i] - '0') * (first + static_cast<int>(i) - 1);
  return sum % 11 != 10 && sum % 11 == printed[n - 1] - '0';
}

}  // namespace oned
