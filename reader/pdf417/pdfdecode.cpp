#include "reader/pdf417/pdfdecode.hpp"

#include <array>
#include <cstdint>

namespace pdf417 {

namespace {

enum Code : int {
  kTextLatch = 900,
  kByteLatch = 901,
  kNumericLatch = 902,
  kByteShift = 913,
  kLinkageOther = 918,
  kLinkageGs1 = 920,
  kReaderInit = 921,
  kMacroTerminator = 922,
  kMacroOptional = 923,
  kByteLatch6 = 924,
  kEciUser = 925,
  kEciGeneral = 926,
  kEciCharset = 927,
  kMacroBlock = 928,
};

bool isEci(int c) { return c >= kEciUser && c <= kEciCharset; }

constexpr char kMixed[] = "0123456789&\r\t,:#-.$/+%*=^";   // values 0..24
constexpr char kPunct[] = ";<>@[\\]_`~!\r\t,:\n-.$/\"|*()?{}'";  // values 0..28

enum class SubMode { alpha, lower, mixed, punct };

// The decimal digits of a group of up to 15 base-900 words, the leading 1 the encoder puts in
// front of the digits removed. False when the group does not start with that 1.
bool base900ToDigits(const int* words, int count, std::string* digits) {
  constexpr uint32_t kLimb = 1000000000;  // base of the little-endian limbs
  std::array<uint32_t, 6> limbs{};        // 900^15 < 10^45: five limbs, one to spare
  for (int i = 0; i < count; ++i) {
    uint64_t carry = static_cast<uint64_t>(words[i]);
    for (uint32_t& limb : limbs) {
      const uint64_t v = static_cast<uint64_t>(limb) * 900 + carry;
      limb = static_cast<uint32_t>(v % kLimb);
      carry = v / kLimb;
    }
  }
  std::string s;
  int top = static_cast<int>(limbs.size()) - 1;
  while (top > 0 && limbs[top] == 0) --top;
  s = std::to_string(limbs[top]);
  for (int i = top - 1; i >= 0; --i) {
    const std::string part = std::to_string(limbs[i]);
    s += std::string(9 - part.size(), '0') + part;
  }
  if (s.size() < 2 || s[0] != '1') return false;
  digits->append(s, 1, std::string::npos);
  return true;
}

class Decoder {
 public:
  Decoder(const std::vector<int>& words, int end, Message& m) : w_(words), end_(end), m_(m) {
    m_.segments.push_back(charset::Segment{});
  }

  bool run() {
    while (pos_ < end_) {
      const int c = w_[pos_];
      bool ok = true;
      if (c < kTextLatch || c == kByteShift) {
        ok = text();
      } else if (c == kTextLatch) {
        ++pos_;
        subMode_ = SubMode::alpha;
        ok = text();
      } else if (c == kByteLatch || c == kByteLatch6) {
        ++pos_;
        ok = bytes(c);
      } else if (c == kNumericLatch) {
        ++pos_;
        ok = numeric(nullptr);
      } else if (isEci(c)) {
        ok = eci();
      } else if (c == kReaderInit) {
        if (pos_ != 1) return fail("reader initialisation codeword after the first data word");
        m_.readerInit = true;
        ++pos_;
      } else if (c == kMacroBlock) {
        return macroBlock();
      } else if (c == kLinkageGs1 || c == kLinkageOther) {
        return fail("linkage codeword " + std::to_string(c) + ": part of a composite symbol, not read alone");
      } else if (c == kMacroOptional || c == kMacroTerminator) {
        return fail("macro field codeword " + std::to_string(c) + " outside a control block");
      } else {
        return fail("reserved codeword " + std::to_string(c));
      }
      if (!ok) return false;
    }
    return true;
  }

 private:
  bool fail(std::string why) {
    m_.error = std::move(why);
    return false;
  }

  std::vector<uint8_t>& dataOut() { return m_.segments.back().bytes; }

  // An ECI designator at pos_: a new segment in the set it names.
  bool eci() {
    const int c = w_[pos_++];
    const int need = c == kEciGeneral ? 2 : 1;
    if (pos_ + need > end_) return fail("ECI designator cut short");
    for (int i = 0; i < need; ++i)
      if (w_[pos_ + i] >= kTextLatch) return fail("ECI designator with a codeword above 899");
    int value;
    if (c == kEciCharset) value = w_[pos_];
    else if (c == kEciGeneral) value = 900 * (w_[pos_] + 1) + w_[pos_ + 1];
    else value = 810900 + w_[pos_];
    pos_ += need;
    m_.ecis.push_back(value);
    if (fieldOut_ != nullptr) return true;  // inside a macro field: the field keeps its own set
    if (dataOut().empty()) m_.segments.back() = charset::Segment{value, {}, true};
    else m_.segments.push_back(charset::Segment{value, {}, true});
    return true;
  }

  // One text value in the current sub-mode; false for a value no encoder writes.
  bool textValue(int v, bool last) {
    if (shift_ != 0) {
      const int shift = shift_;
      shift_ = 0;
      if (shift == 1) {  // alpha shift
        if (v < 26) return put(static_cast<uint8_t>('A' + v));
        if (v == 26) return put(' ');
      } else if (v < 29) {  // punctuation shift
        return put(static_cast<uint8_t>(kPunct[v]));
      }
      return last || fail("text shift followed by a latch");
    }
    switch (subMode_) {
      case SubMode::alpha:
      case SubMode::lower:
        if (v < 26) return put(static_cast<uint8_t>((subMode_ == SubMode::alpha ? 'A' : 'a') + v));
        if (v == 26) return put(' ');
        if (v == 27) {
          if (subMode_ == SubMode::alpha) subMode_ = SubMode::lower;
          else shift_ = 1;
        } else if (v == 28) {
          subMode_ = SubMode::mixed;
        } else {
          shift_ = 2;
        }
        return true;
      case SubMode::mixed:
        if (v < 25) return put(static_cast<uint8_t>(kMixed[v]));
        if (v == 25) subMode_ = SubMode::punct;
        else if (v == 26) return put(' ');
        else if (v == 27) subMode_ = SubMode::lower;
        else if (v == 28) subMode_ = SubMode::alpha;
        else shift_ = 2;
        return true;
      case SubMode::punct:
        if (v < 29) return put(static_cast<uint8_t>(kPunct[v]));
        subMode_ = SubMode::alpha;
        return true;
    }
    return true;
  }

  bool put(uint8_t b) {
    (fieldOut_ != nullptr ? *fieldOut_ : dataOut()).push_back(b);
    return true;
  }

  // Text compaction from pos_ until a codeword that ends it. A shift left pending at the end, or
  // before a byte shift, is padding.
  bool text() {
    while (pos_ < end_) {
      const int c = w_[pos_];
      if (c < kTextLatch) {
        ++pos_;
        const bool lastWord = pos_ >= end_ || w_[pos_] >= kTextLatch;
        if (!textValue(c / 30, false) || !textValue(c % 30, lastWord)) return false;
      } else if (c == kTextLatch) {
        ++pos_;
        subMode_ = SubMode::alpha;
        shift_ = 0;
      } else if (c == kByteShift) {
        ++pos_;
        shift_ = 0;
        while (pos_ < end_ && isEci(w_[pos_]))
          if (!eci()) return false;
        if (pos_ >= end_) return fail("byte shift at the end of the data");
        if (w_[pos_] > 255) return fail("byte shift followed by a codeword above 255");
        put(static_cast<uint8_t>(w_[pos_++]));
      } else if (isEci(c)) {
        if (!eci()) return false;
      } else {
        break;
      }
    }
    shift_ = 0;
    return true;
  }

  // Byte compaction after a 901 or 924 latch: groups of five words for six bytes, and under 901
  // the last one to five words a byte each. ECI designators may stand between groups.
  bool bytes(int latch) {
    std::vector<int> run;
    std::vector<std::pair<int, int>> ecisAt;  // (words before it, position of the designator)
    int p = pos_;
    while (p < end_) {
      const int c = w_[p];
      if (c < kTextLatch) {
        run.push_back(c);
        ++p;
      } else if (isEci(c)) {
        ecisAt.push_back({static_cast<int>(run.size()), p});
        p += c == kEciGeneral ? 3 : 2;
      } else {
        break;
      }
    }
    if (p > end_) return fail("ECI designator cut short");
    const int n = static_cast<int>(run.size());
    int single = 0;
    if (latch == kByteLatch) single = n == 0 ? 0 : (n % 5 == 0 ? 5 : n % 5);
    else if (n % 5 != 0) return fail("byte compaction 924 with a word count that is not a multiple of 5");
    const int grouped = n - single;
    size_t nextEci = 0;
    int i = 0;
    auto ecisBefore = [&](int index) {
      while (nextEci < ecisAt.size() && ecisAt[nextEci].first == index) {
        pos_ = ecisAt[nextEci++].second;
        if (!eci()) return false;
      }
      return true;
    };
    while (i < n) {
      if (!ecisBefore(i)) return false;
      if (i < grouped) {
        uint64_t v = 0;
        for (int j = 0; j < 5; ++j) v = v * 900 + static_cast<uint64_t>(run[i + j]);
        if (v >> 48 != 0) return fail("byte compaction group above 2^48");
        for (int j = 5; j >= 0; --j) put(static_cast<uint8_t>(v >> (8 * j)));
        i += 5;
      } else {
        if (run[i] > 255) return fail("byte compaction word above 255");
        put(static_cast<uint8_t>(run[i]));
        ++i;
      }
      if (nextEci < ecisAt.size() && ecisAt[nextEci].first < i) return fail("ECI designator inside a byte group");
    }
    if (!ecisBefore(n)) return false;
    pos_ = p;
    return true;
  }

  // Numeric compaction: groups of up to 15 words, each a number whose digits follow a leading 1;
  // a repeated 902 or an ECI designator ends a group early. The digits go to field, or with
  // none to the message's segment in force (looked up at each group: an ECI adds a segment).
  bool numeric(std::vector<uint8_t>* field) {
    int group[15];
    int count = 0;
    auto flush = [&]() {
      if (count == 0) return true;
      std::string digits;
      if (!base900ToDigits(group, count, &digits)) return fail("numeric compaction group without its leading 1");
      std::vector<uint8_t>& out = field != nullptr ? *field : dataOut();
      out.insert(out.end(), digits.begin(), digits.end());
      count = 0;
      return true;
    };
    while (pos_ < end_) {
      const int c = w_[pos_];
      if (c < kTextLatch) {
        group[count++] = c;
        ++pos_;
        if (count == 15 && !flush()) return false;
      } else if (c == kNumericLatch) {
        ++pos_;
        if (!flush()) return false;
      } else if (isEci(c)) {
        if (!flush() || !eci()) return false;
      } else {
        break;
      }
    }
    return flush();
  }

  // A numeric macro field's value; false when it has no digits or more than 18.
  bool numericField(int64_t* value) {
    std::vector<uint8_t> digits;
    if (!numeric(&digits)) return false;
    if (digits.empty() || digits.size() > 18) return fail("macro field number of " + std::to_string(digits.size()) + " digits");
    int64_t v = 0;
    for (uint8_t d : digits) v = v * 10 + (d - '0');
    *value = v;
    return true;
  }

  // A text macro field: text compaction from the alpha sub-mode, bytes read as code page 437.
  bool textField(std::string* field) {
    std::vector<uint8_t> raw;
    fieldOut_ = &raw;
    subMode_ = SubMode::alpha;
    const bool ok = text();
    fieldOut_ = nullptr;
    if (!ok) return false;
    std::string error;
    if (!charset::toUtf8(0, raw.data(), raw.size(), field, &error)) return fail("macro text field: " + error);
    return true;
  }

  bool optionalField() {
    if (pos_ >= end_) return fail("macro optional field without its designator");
    const int designator = w_[pos_++];
    idut::StructuredAppend& a = m_.append;
    int64_t v = 0;
    switch (designator) {
      case 0: return textField(&a.fileName);
      case 3: return textField(&a.sender);
      case 4: return textField(&a.addressee);
      case 1:
        if (!numericField(&v)) return false;
        if (v < 1 || v > 99999) return fail("macro segment count outside 1..99999");
        a.count = static_cast<int>(v);
        return true;
      case 2: return numericField(&a.timeStamp);
      case 5: return numericField(&a.fileSize);
      case 6:
        if (!numericField(&v)) return false;
        if (v > 65535) return fail("macro checksum above 65535");
        a.checksum = static_cast<int>(v);
        return true;
      default: return fail("macro optional field designator " + std::to_string(designator));
    }
  }

  // The control block: segment index (two words), file id (words up to 923 / 922 / the end),
  // optional fields, terminator. Nothing but the block may follow it.
  bool macroBlock() {
    ++pos_;
    if (pos_ + 2 > end_ || w_[pos_] >= kTextLatch || w_[pos_ + 1] >= kTextLatch)
      return fail("macro control block without its segment index");
    std::string digits;
    if (!base900ToDigits(&w_[pos_], 2, &digits)) return fail("macro segment index without its leading 1");
    const int index = std::stoi(digits);
    if (index > 99998) return fail("macro segment index above 99998");
    pos_ += 2;
    idut::StructuredAppend& a = m_.append;
    a.index = index;
    for (; pos_ < end_ && w_[pos_] < kTextLatch; ++pos_) {
      const std::string group = std::to_string(w_[pos_]);
      a.id += std::string(3 - group.size(), '0') + group;
    }
    while (pos_ < end_) {
      const int c = w_[pos_++];
      if (c == kMacroOptional) {
        if (!optionalField()) return false;
      } else if (c == kMacroTerminator) {
        a.last = true;
        if (pos_ != end_) return fail("codewords after the macro terminator");
      } else {
        return fail("codeword " + std::to_string(c) + " inside the macro control block");
      }
    }
    if (a.count > 0 && a.index >= a.count) return fail("macro segment index beyond the segment count");
    if (a.last && a.count == 0) a.count = a.index + 1;  // the terminator says this is the last
    return true;
  }

  const std::vector<int>& w_;
  const int end_;
  Message& m_;
  int pos_ = 1;
  SubMode subMode_ = SubMode::alpha;
  int shift_ = 0;  // 1 alpha shift, 2 punctuation shift pending
  std::vector<uint8_t>* fieldOut_ = nullptr;  // a macro text field being read, else the message
};

}  // namespace

Message decodeData(const std::vector<int>& data) {
  Message m;
  if (data.empty()) {
    m.error = "no data codewords";
    return m;
  }
  for (int c : data)
    if (c < 0 || c > 928) {
      m.error = "codeword value outside 0..928";
      return m;
    }
  const int length = data[0];
  if (length < 1 || length > static_cast<int>(data.size())) {
    m.error = "length descriptor " + std::to_string(length) + " does not fit " + std::to_string(data.size()) +
              " data codewords";
    return m;
  }
  Decoder decoder(data, length, m);
  m.ok = decoder.run();
  return m;
}

}  // namespace pdf417
