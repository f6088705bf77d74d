// GS1 DataBar expanded: the element strings its data characters' bits carry.
#include <string>
#include <vector>

#include "reader/oned/databarexp.hpp"
#include "reader/oned/eanparts.hpp"

namespace oned {

namespace {

constexpr char kGs = 0x1D;
constexpr int kGtinBits = 40;  // the GTIN's 12 digits after its first, in four groups of 10 bits

class Bits {
 public:
  explicit Bits(const std::vector<int>& values) {
    for (int v : values)
      for (int b = 11; b >= 0; --b) bits_.push_back(static_cast<char>((v >> b) & 1));
  }
  int size() const { return static_cast<int>(bits_.size()); }
  // The count bits from at as an unsigned number; -1 when they run past the end.
  int value(int at, int count) const {
    if (at < 0 || count < 0 || at + count > size()) return -1;
    int v = 0;
    for (int k = 0; k < count; ++k) v = v << 1 | bits_[at + k];
    return v;
  }

 private:
  std::vector<char> bits_;
};

// The 14-digit GTIN after "01": its first digit, then 12 digits from four 10-bit groups, then the
// check digit computed. False when a group is not three digits.
bool appendGtin(const Bits& bits, int at, char firstDigit, std::string& out) {
  std::string digits(1, firstDigit);
  for (int g = 0; g < 4; ++g) {
    const int v = bits.value(at + 10 * g, 10);
    if (v < 0 || v > 999) return false;
    digits += static_cast<char>('0' + v / 100);
    digits += static_cast<char>('0' + v / 10 % 10);
    digits += static_cast<char>('0' + v % 10);
  }
  out += "01" + digits + static_cast<char>('0' + eanCheckDigit(digits));
  return true;
}

void appendPadded(std::string& out, int value, int digits) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < digits) s.insert(0, digits - s.size(), '0');
  out += s;
}

// The general-purpose field from bit `at` to the end: numeric, alphanumeric and ISO/IEC 646
// modes, FNC1 written as GS. False on a value no mode has.
bool appendGeneral(const Bits& bits, int at, std::string& out) {
  enum class Mode { numeric, alpha, iso } mode = Mode::numeric;
  const int n = bits.size();
  while (at < n) {
    if (mode == Mode::numeric) {
      if (at + 7 > n) {
        // A last digit in four bits (1..10 for 0..9); zero or fewer bits end the data.
        const int v = bits.value(at, 4);
        if (v > 0 && v <= 10) out += static_cast<char>('0' + v - 1);
        else if (v > 10) return false;
        break;
      }
      if (bits.value(at, 4) == 0) {  // latch to alphanumeric
        at += 4;
        mode = Mode::alpha;
        continue;
      }
      const int v = bits.value(at, 7) - 8;
      at += 7;
      const int d1 = v / 11, d2 = v % 11;
      out += d1 == 10 ? kGs : static_cast<char>('0' + d1);
      out += d2 == 10 ? kGs : static_cast<char>('0' + d2);
      continue;
    }
    // Alphanumeric and ISO/IEC 646: "000" latches to numeric, "00100" from either to the other.
    if (at + 5 > n) break;  // the padding's last bits
    const int five = bits.value(at, 5);
    if (bits.value(at, 3) == 0) {
      at += 3;
      mode = Mode::numeric;
      continue;
    }
    if (five == 4) {
      at += 5;
      mode = mode == Mode::alpha ? Mode::iso : Mode::alpha;
      continue;
    }
    if (five >= 5 && five <= 14) {
      out += static_cast<char>('0' + five - 5);
      at += 5;
      continue;
    }
    if (five == 15) {  // FNC1, which also returns to numeric
      out += kGs;
      at += 5;
      mode = Mode::numeric;
      continue;
    }
    if (mode == Mode::alpha) {
      const int six = bits.value(at, 6);
      if (six >= 32 && six <= 57) out += static_cast<char>('A' + six - 32);
      else if (six >= 58 && six <= 62) out += "*,-./"[six - 58];
      else return false;
      at += 6;
      continue;
    }
    const int seven = bits.value(at, 7);
    if (seven >= 64 && seven <= 89) {
      out += static_cast<char>('A' + seven - 64);
      at += 7;
      continue;
    }
    if (seven >= 90 && seven <= 115) {
      out += static_cast<char>('a' + seven - 90);
      at += 7;
      continue;
    }
    const int eight = bits.value(at, 8);
    if (eight < 232 || eight > 252) return false;
    out += "!\"%&'()*+,-./:;<=>?_ "[eight - 232];
    at += 8;
  }
  return true;
}

// The two bits that record the number of symbol characters: its parity and whether it exceeds 14.
bool lengthAgrees(const Bits& bits, int at, int symbolCharacters) {
  return bits.value(at, 1) == symbolCharacters % 2 && bits.value(at + 1, 1) == (symbolCharacters > 14 ? 1 : 0);
}

}  // namespace

bool decodeDataBarExpandedBits(const std::vector<int>& values, int symbolCharacters, std::string& text) {
  const Bits bits(values);
  std::string out;
  if (bits.value(1, 1) == 1) {
    // A GTIN of any first digit, then the general-purpose field.
    const int first = bits.value(4, 4);
    if (!lengthAgrees(bits, 2, symbolCharacters) || first < 0 || first > 9 ||
        !appendGtin(bits, 8, static_cast<char>('0' + first), out) || !appendGeneral(bits, 8 + kGtinBits, out))
      return false;
  } else if (bits.value(2, 1) == 0) {
    if (!lengthAgrees(bits, 3, symbolCharacters) || !appendGeneral(bits, 5, out)) return false;
  } else if (const int method4 = bits.value(1, 4); method4 == 4 || method4 == 5) {
    // A GTIN starting with 9 and a net weight in kilograms (3103) or pounds (3202 / 3203), no more.
    const int weight = bits.value(5 + kGtinBits, 15);
    if (bits.size() != 5 + kGtinBits + 15 || weight < 0 || !appendGtin(bits, 5, '9', out)) return false;
    if (method4 == 4) out += "3103";
    else out += weight < 10000 ? "3202" : "3203";
    appendPadded(out, method4 == 4 || weight < 10000 ? weight : weight - 10000, 6);
  } else if (const int method5 = bits.value(1, 5); method5 == 12 || method5 == 13) {
    // A GTIN starting with 9 and a price (392x), or a price with its currency (393x).
    const int decimals = bits.value(8 + kGtinBits, 2);
    if (!lengthAgrees(bits, 6, symbolCharacters) || decimals < 0 || !appendGtin(bits, 8, '9', out)) return false;
    out += (method5 == 12 ? "392" : "393") + std::to_string(decimals);
    int at = 8 + kGtinBits + 2;
    if (method5 == 13) {
      const int currency = bits.value(at, 10);
      if (currency < 0 || currency > 999) return false;
      appendPadded(out, currency, 3);
      at += 10;
    }
    if (!appendGeneral(bits, at, out)) return false;
  } else if (const int method7 = bits.value(1, 7); method7 >= 56 && method7 <= 63) {
    // A GTIN starting with 9, a weight (310x in kilograms, 320x in pounds) and a date.
    const int weight = bits.value(8 + kGtinBits, 20), date = bits.value(8 + kGtinBits + 20, 16);
    if (bits.size() != 8 + kGtinBits + 36 || weight < 0 || weight / 100000 > 9 || date < 0 || date > 38400 ||
        !appendGtin(bits, 8, '9', out))
      return false;
    out += (method7 % 2 == 0 ? "310" : "320") + std::to_string(weight / 100000);
    appendPadded(out, weight % 100000, 6);
    if (date != 38400) {  // 38400: no date
      out += "1" + std::to_string(1 + 2 * ((method7 - 56) / 2));
      appendPadded(out, date / 384, 2);
      appendPadded(out, date / 32 % 12 + 1, 2);
      appendPadded(out, date % 32, 2);
    }
  } else {
    return false;
  }
  // A separator closing the data separates nothing.
  while (!out.empty() && out.back() == kGs) out.pop_back();
  if (out.empty()) return false;
  text = out;
  return true;
}

}  // namespace oned
