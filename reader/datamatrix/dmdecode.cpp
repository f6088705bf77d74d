#include "reader/datamatrix/dmdecode.hpp"

#include <cstddef>
#include <cstdio>

#include "reader/charset.hpp"

namespace dmread {

namespace {

enum class Mode { ascii, c40, text, x12, edifact, base256, done };

// Where the message bytes stand and which ECI applies from each offset on.
struct Decoder {
  explicit Decoder(const std::vector<uint8_t>& words) : cw(words) {}
  const std::vector<uint8_t>& cw;
  size_t pos = 0;
  Message msg;
  std::vector<std::pair<size_t, int>> eciAt;  // (byte offset, ECI)
  bool upperShift = false;

  void put(int byte) {
    msg.bytes.push_back(static_cast<uint8_t>(upperShift ? byte + 128 : byte));
    upperShift = false;
  }
  bool fail(const char* why) {
    if (msg.error.empty()) msg.error = why;
    return false;
  }
  size_t left() const { return cw.size() - pos; }

  // FNC1 first (or after structured append) marks GS1 data; elsewhere it separates fields.
  void fnc1() {
    if (msg.bytes.empty() && !msg.gs1 && firstData()) msg.gs1 = true;
    else put(0x1D);
  }
  bool firstData() const {
    const size_t start = msg.appendCount ? 4 : 0;
    return pos - 1 == start;
  }

  bool ascii(Mode* mode);
  bool triples(Mode mode, Mode* next);
  bool edifact(Mode* next);
  bool base256();
  bool eci();
};

bool Decoder::eci() {
  if (left() < 1) return fail("ECI designator cut short");
  const int c1 = cw[pos++];
  int value;
  if (c1 <= 127) {
    value = c1 - 1;
  } else if (c1 <= 191) {
    if (left() < 1) return fail("ECI designator cut short");
    value = (c1 - 128) * 254 + cw[pos++] - 1 + 127;
  } else {
    if (left() < 2) return fail("ECI designator cut short");
    const int c2 = cw[pos++], c3 = cw[pos++];
    value = (c1 - 192) * 64516 + (c2 - 1) * 254 + (c3 - 1) + 16383;
  }
  if (value < 0) return fail("invalid ECI designator");
  msg.ecis.push_back(value);
  eciAt.push_back({msg.bytes.size(), value});
  return true;
}

bool Decoder::ascii(Mode* mode) {
  const int c = cw[pos++];
  if (c == 0) return fail("codeword 0 is not valid");
  if (c <= 128) {
    put(c - 1);
  } else if (c == 129) {
    *mode = Mode::done;  // padding follows
  } else if (c <= 229) {
    const int pair = c - 130;
    put('0' + pair / 10);
    put('0' + pair % 10);
  } else {
    switch (c) {
      case 230: *mode = Mode::c40; break;
      case 231: *mode = Mode::base256; break;
      case 232: fnc1(); break;
      case 233:
        if (pos != 1) return fail("structured append not at the start");
        if (left() < 3) return fail("structured append cut short");
        msg.appendPosition = (cw[pos] >> 4) + 1;
        msg.appendCount = 17 - (cw[pos] & 15);
        msg.appendFileId = cw[pos + 1] * 256 + cw[pos + 2];
        pos += 3;
        if (msg.appendCount < 2 || msg.appendPosition > msg.appendCount) return fail("invalid structured append");
        break;
      case 234:
        if (pos != 1) return fail("reader programming not at the start");
        msg.readerProgramming = true;
        break;
      case 235: upperShift = true; break;
      case 236:
      case 237:
        if (pos != 1) return fail("macro not at the start");
        msg.macro = c == 236 ? 5 : 6;
        for (int b : {int('['), int(')'), int('>'), 0x1E, int('0'), c == 236 ? int('5') : int('6'), 0x1D}) put(b);
        break;
      case 238: *mode = Mode::x12; break;
      case 239: *mode = Mode::text; break;
      case 240: *mode = Mode::edifact; break;
      case 241: return eci();
      default: return fail("invalid codeword in ASCII");
    }
  }
  return true;
}

// C40, Text and X12: two codewords carry three values; 254 returns to ASCII.
bool Decoder::triples(Mode mode, Mode* next) {
  int shift = 0;
  while (left() > 0) {
    if (cw[pos] == 254) {
      ++pos;
      break;
    }
    // A lone last codeword is ASCII, without an unlatch.
    if (left() == 1) break;
    const int v = cw[pos] * 256 + cw[pos + 1] - 1;
    pos += 2;
    const int values[3] = {v / 1600, (v / 40) % 40, v % 40};
    if (v / 1600 >= 40 || v < 0) return fail("invalid codeword pair in C40/Text/X12");
    for (int u : values) {
      if (mode == Mode::x12) {
        static const char kX12[] = "\r*> ";
        if (u < 4) put(kX12[u]);
        else if (u < 14) put('0' + u - 4);
        else put('A' + u - 14);
        continue;
      }
      if (shift == 0) {
        if (u < 3) shift = u + 1;
        else if (u == 3) put(' ');
        else if (u < 14) put('0' + u - 4);
        else put((mode == Mode::c40 ? 'A' : 'a') + u - 14);
      } else if (shift == 1) {
        put(u);
        shift = 0;
      } else if (shift == 2) {
        shift = 0;
        if (u < 15) put('!' + u);
        else if (u < 22) put(':' + u - 15);
        else if (u < 27) put('[' + u - 22);
        else if (u == 27) fnc1();
        else if (u == 30) upperShift = true;
        else return fail("invalid shift 2 value");
      } else {
        shift = 0;
        if (mode == Mode::c40) put(96 + u);
        else if (u == 0) put('`');
        else if (u < 27) put('A' + u - 1);
        else if (u < 32) put('{' + u - 27);
        else return fail("invalid shift 3 value");
      }
    }
  }
  *next = Mode::ascii;
  return true;
}

// EDIFACT: four 6-bit values in three codewords; the value 31 returns to ASCII at the next
// codeword boundary. With two codewords or fewer left the symbol ends in ASCII.
bool Decoder::edifact(Mode* next) {
  *next = Mode::ascii;
  while (left() > 2) {
    const uint32_t bits = (cw[pos] << 16) | (cw[pos + 1] << 8) | cw[pos + 2];
    for (int i = 0; i < 4; ++i) {
      const int u = (bits >> (18 - 6 * i)) & 63;
      if (u == 31) {
        pos += i < 3 ? i + 1 : 3;  // resume after the codeword holding the value's last bit
        return true;
      }
      put(u < 32 ? (u | 0x40) : u);
    }
    pos += 3;
  }
  return true;
}

bool Decoder::base256() {
  auto next = [&]() {
    const int randomised = cw[pos];
    const int pseudo = ((149 * static_cast<int>(pos + 1)) % 255) + 1;
    ++pos;
    const int v = randomised - pseudo;
    return v < 0 ? v + 256 : v;
  };
  if (left() < 1) return fail("Base 256 length missing");
  int length = next();
  if (length == 0) {
    length = static_cast<int>(left());
  } else if (length >= 250) {
    if (left() < 1) return fail("Base 256 length cut short");
    length = (length - 249) * 250 + next();
  }
  if (length > static_cast<int>(left())) return fail("Base 256 field longer than the symbol");
  for (int i = 0; i < length; ++i) put(next());
  return true;
}

}  // namespace

Message decodeMessage(const std::vector<uint8_t>& data) {
  Decoder d(data);
  Mode mode = Mode::ascii;
  bool good = true;
  while (good && mode != Mode::done && d.left() > 0) {
    switch (mode) {
      case Mode::ascii: good = d.ascii(&mode); break;
      case Mode::c40:
      case Mode::text:
      case Mode::x12: good = d.triples(mode, &mode); break;
      case Mode::edifact: good = d.edifact(&mode); break;
      case Mode::base256:
        good = d.base256();
        mode = Mode::ascii;
        break;
      case Mode::done: break;
    }
  }
  Message msg = std::move(d.msg);
  if (!good) return msg;
  if (msg.macro) msg.bytes.insert(msg.bytes.end(), {0x1E, 0x04});
  // The bytes in segments by the ECI in force, each converted by its character set.
  std::vector<charset::Segment> segments(1);
  size_t from = 0;
  for (const auto& [at, eci] : d.eciAt) {
    segments.back().bytes.assign(msg.bytes.begin() + static_cast<ptrdiff_t>(from), msg.bytes.begin() + static_cast<ptrdiff_t>(at));
    segments.push_back(charset::Segment{eci, {}, true});
    from = at;
  }
  segments.back().bytes.assign(msg.bytes.begin() + static_cast<ptrdiff_t>(from), msg.bytes.end());
  charset::Content content = charset::contentOf(segments);
  if (!content.ok) {
    msg.error = content.error;
    return msg;
  }
  msg.binary = content.binary;
  if (!msg.binary) msg.text = (msg.gs1 ? "]d2" : "") + content.text;
  msg.ok = true;
  return msg;
}

}  // namespace dmread
