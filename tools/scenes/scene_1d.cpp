// One-dimensional barcode scenes: libzint's bars as a module matrix placed by scene::render.
#include "scenes/scene_1d.hpp"

#include "scenes/scene_phone.hpp"

#include <zint.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace scene {

const char* barcodeName(Barcode1d kind) {
  static const char* const kNames[] = {"Code128", "GS1-128", "EAN-13", "UPC-A",   "EAN-8",  "Code39", "ITF",
                                       "UPC-E",   "Code93",  "Codabar", "Code39FA", "Code32", "PZN",    "EAN-13+5", "DataBar",
                                       "DataBarExp"};
  return kNames[static_cast<int>(kind)];
}

const char* conditionName(Condition1d condition) {
  static const char* const kNames[] = {"clean", "rotated", "perspective", "blurred", "noisy", "lowContrast", "crowded", "phone"};
  return kNames[static_cast<int>(condition)];
}

namespace {

int zintSymbology(Barcode1d kind) {
  static const int kSymbologies[] = {BARCODE_CODE128, BARCODE_GS1_128, BARCODE_EANX,     BARCODE_UPCA,
                                     BARCODE_EANX,    BARCODE_CODE39,  BARCODE_C25INTER, BARCODE_UPCE,
                                     BARCODE_CODE93,  BARCODE_CODABAR, BARCODE_EXCODE39, BARCODE_CODE32,
                                     BARCODE_PZN,     BARCODE_EANX,    BARCODE_DBAR_OMN,  BARCODE_DBAR_EXP};
  return kSymbologies[static_cast<int>(kind)];
}

// Element strings of "[AI]value..." data as a GS1 reader returns them: the brackets go, and GS
// follows a field of variable length that another field follows (the fields this generator
// writes: 01, 11 to 17, 310x and 320x have fixed lengths).
std::string gs1Text(const std::string& data) {
  std::string out;
  for (size_t at = 0; at < data.size();) {
    const size_t close = data.find(']', at), next = data.find('[', close);
    const std::string ai = data.substr(at + 1, close - at - 1);
    out += ai + data.substr(close + 1, next == std::string::npos ? std::string::npos : next - close - 1);
    const bool fixed = ai == "01" || (ai.size() == 2 && ai[0] == '1' && ai[1] != '0') || ai.compare(0, 3, "310") == 0 || ai.compare(0, 3, "320") == 0;
    if (next != std::string::npos && !fixed) out += '\x1D';
    at = next;
  }
  return out;
}

// The text a reader returns, from libzint's human-readable text.
std::string readerText(Barcode1d kind, const std::string& data, const std::string& humanReadable) {
  switch (kind) {
    case Barcode1d::gs1_128: {
      // Fixed-length element strings only: the brackets go, FNC1 leads.
      std::string out = "]C1";
      for (char c : data)
        if (c != '[' && c != ']') out.push_back(c);
      return out;
    }
    case Barcode1d::code39: return humanReadable.substr(1, humanReadable.size() - 2);  // without the '*'
    case Barcode1d::code128:
    case Barcode1d::code93:
    case Barcode1d::code39FullAscii: return data;
    case Barcode1d::codabar: return data.substr(1, data.size() - 2);  // without start and stop
    case Barcode1d::ean13AddOn: return humanReadable.substr(0, 13);
    case Barcode1d::databar: return "]e001" + humanReadable.substr(4);  // "(01)" and the GTIN-14
    case Barcode1d::databarExpanded: return "]e0" + gs1Text(data);
    case Barcode1d::pzn: {
      // The bars carry '-' and the digits (human-readable "PZN - 12345678").
      std::string digits;
      for (char c : humanReadable)
        if (c >= '0' && c <= '9') digits.push_back(c);
      return "-" + digits;
    }
    default: return humanReadable;
  }
}

}  // namespace

Encoded1d encode1d(Barcode1d kind, const std::string& data, int heightModules) {
  std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> sym(ZBarcode_Create(), ZBarcode_Delete);
  if (!sym) throw std::runtime_error("libzint: out of memory");
  sym->symbology = zintSymbology(kind);
  if (kind == Barcode1d::gs1_128 || kind == Barcode1d::databarExpanded) sym->input_mode = GS1_MODE;
  const int rc =
      ZBarcode_Encode(sym.get(), reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
  if (rc >= ZINT_ERROR) throw std::runtime_error(std::string("libzint: ") + sym->errtxt);
  Encoded1d out;
  out.kind = kind;
  out.text = readerText(kind, data, reinterpret_cast<const char*>(sym->text));
  if (kind == Barcode1d::ean13AddOn) out.addOn = data.substr(data.find('+') + 1);
  // The bars are in the last row (linear symbols have one, EAN/UPC may carry an empty add-on row).
  const int row = sym->rows - 1;
  int first = sym->width, last = -1;
  for (int c = 0; c < sym->width; ++c)
    if ((sym->encoded_data[row][c >> 3] >> (c & 7)) & 1) {
      first = std::min(first, c);
      last = c;
    }
  if (last < first) throw std::runtime_error("libzint: no bars");
  DmSymbol& bars = out.bars;
  bars.text = out.text;
  bars.rows = heightModules;
  bars.cols = last - first + 1;
  bars.modules.resize(static_cast<size_t>(bars.rows) * bars.cols);
  for (int r = 0; r < bars.rows; ++r)
    for (int c = 0; c < bars.cols; ++c)
      bars.modules[static_cast<size_t>(r) * bars.cols + c] =
          (sym->encoded_data[row][(c + first) >> 3] >> ((c + first) & 7)) & 1;
  return out;
}

namespace {

// A GTIN-14 with its check digit, starting with `first` ('0'..'9').
std::string gtin(Random& rng, char first) {
  std::string s(1, first);
  for (int i = 0; i < 12; ++i) s.push_back(static_cast<char>('0' + rng.uniformInt(0, 9)));
  int sum = 0;
  for (int i = 0; i < 13; ++i) sum += (s[12 - i] - '0') * (i % 2 == 0 ? 3 : 1);
  return s + static_cast<char>('0' + (10 - sum % 10) % 10);
}

// DataBar expanded data that takes each of the encodation methods: a GTIN with a batch, the
// weight and date forms of variable-measure items (GTINs starting with 9), prices, and fields
// without a GTIN that need the alphanumeric and ISO/IEC 646 modes.
std::string randomDataBarExpanded(Random& rng) {
  auto digits = [&rng](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + rng.uniformInt(0, 9)));
    return s;
  };
  auto chars = [&rng](const char* set, int n) {
    std::string s;
    const int size = static_cast<int>(std::strlen(set));
    for (int i = 0; i < n; ++i) s.push_back(set[rng.uniformInt(0, size - 1)]);
    return s;
  };
  const char* upper = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-./*,";
  const char* iso = "abcdefghijklmnopqrstuvwxyzABCDEFG0123456789!%&()+:;<=>?_";
  auto date = [&] {
    return digits(2) + "0" + std::to_string(rng.uniformInt(1, 9)) + std::to_string(rng.uniformInt(10, 28));
  };
  switch (rng.uniformInt(0, 7)) {
    case 0: return "[01]" + gtin(rng, static_cast<char>('0' + rng.uniformInt(0, 9))) + "[10]" + chars(upper, rng.uniformInt(1, 6));
    case 1: return "[01]" + gtin(rng, '9') + "[3103]0" + std::to_string(rng.uniformInt(10000, 32767));
    case 2: return "[01]" + gtin(rng, '9') + "[3202]00" + std::to_string(rng.uniformInt(1000, 9999));
    case 3: return "[01]" + gtin(rng, '9') + "[310" + std::to_string(rng.uniformInt(0, 5)) + "]0" + digits(5) + "[1" +
                   "1357"[rng.uniformInt(0, 3)] + "]" + date();
    case 4: return "[01]" + gtin(rng, '9') + "[392" + std::to_string(rng.uniformInt(0, 3)) + "]" + digits(rng.uniformInt(1, 6));
    case 5: return "[01]" + gtin(rng, '9') + "[393" + std::to_string(rng.uniformInt(0, 3)) + "]978" + digits(rng.uniformInt(1, 4));
    case 6: return "[10]" + chars(upper, rng.uniformInt(2, 6)) + "[21]" + digits(rng.uniformInt(2, 8));
    default: return "[01]" + gtin(rng, static_cast<char>('0' + rng.uniformInt(0, 9))) + "[21]" + chars(iso, rng.uniformInt(2, 6));
  }
}

}  // namespace

std::string randomData1d(Random& rng, Barcode1d kind) {
  auto digits = [&rng](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + rng.uniformInt(0, 9)));
    return s;
  };
  switch (kind) {
    case Barcode1d::code128: {
      // Mixed text and digit runs, so libzint switches between sets B and C (and A for controls).
      std::string s;
      const int parts = rng.uniformInt(1, 3);
      for (int p = 0; p < parts; ++p) {
        if (rng.chance(0.5)) {
          s += digits(rng.uniformInt(2, 6));
        } else {
          const int n = rng.uniformInt(1, 4);
          for (int i = 0; i < n; ++i) s.push_back(static_cast<char>(rng.uniformInt(33, 126)));
        }
      }
      return s;
    }
    case Barcode1d::gs1_128: return "[01]" + digits(14) + (rng.chance(0.5) ? "[11]" + digits(6) : "");
    case Barcode1d::ean13: return static_cast<char>('1' + rng.uniformInt(0, 8)) + digits(11);
    case Barcode1d::upca: return digits(11);
    case Barcode1d::ean8: return digits(7);
    case Barcode1d::code39: {
      static const char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";
      std::string s;
      const int n = rng.uniformInt(2, 7);
      for (int i = 0; i < n; ++i) s.push_back(kChars[rng.uniformInt(0, 42)]);
      if (s.front() == ' ') s.front() = 'A';  // libzint keeps spaces, but leading ones read badly in tests
      // No full ASCII pair by chance: a reader reads those as the character they spell.
      for (size_t i = 0; i + 1 < s.size(); ++i)
        if (std::strchr("$%/+", s[i]) && s[i + 1] >= 'A' && s[i + 1] <= 'Z') s[i] = '-';
      // Nor six characters of Code 32's alphabet (digits and the letters but A, E, I and O): one
      // in ten of those passes Code 32's check, and the bars are then a Code 32 symbol.
      if (s.size() == 6 && s.find_first_not_of("0123456789BCDFGHJKLMNPQRSTUVWXYZ") == std::string::npos) s[5] = '-';
      return s;
    }
    case Barcode1d::itf: return digits(2 * rng.uniformInt(3, 7));
    case Barcode1d::upce: {
      // Six digits in the form a UPC-A number suppresses to (libzint adds the number system 0 and
      // the check): a last digit 3 needs a third digit above 2, 4 a fifth digit other than 0,
      // 5 to 9 a fifth digit other than 0.
      while (true) {
        const std::string d = digits(6);
        if ((d[5] == '3' && d[2] <= '2') || (d[5] >= '4' && d[4] == '0')) continue;
        try {
          encode1d(kind, d, 1);  // libzint refuses some more
        } catch (const std::runtime_error&) {
          continue;
        }
        return d;
      }
    }
    case Barcode1d::code93:
    case Barcode1d::code39FullAscii: {
      // Capitals, digits and some lower case and punctuation, which need the shift characters.
      static const char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijkz-.!#:;@";
      std::string s;
      const int n = rng.uniformInt(3, kind == Barcode1d::code93 ? 8 : 5);
      for (int i = 0; i < n; ++i) s.push_back(kChars[rng.uniformInt(0, static_cast<int>(sizeof kChars) - 2)]);
      if (kind == Barcode1d::code39FullAscii) s[static_cast<size_t>(rng.uniformInt(0, n - 1))] = 'q';
      return s;
    }
    case Barcode1d::codabar: {
      static const char kData[] = "0123456789-$:/.+";
      std::string s(1, static_cast<char>('A' + rng.uniformInt(0, 3)));
      const int n = rng.uniformInt(4, 10);
      for (int i = 0; i < n; ++i) s.push_back(kData[rng.uniformInt(0, 15)]);
      s.push_back(static_cast<char>('A' + rng.uniformInt(0, 3)));
      return s;
    }
    case Barcode1d::code32: return digits(8);
    case Barcode1d::pzn: {
      // Seven digits whose mod-11 check is not 10 (no such PZN is issued).
      while (true) {
        const std::string d = digits(7);
        int sum = 0;
        for (int i = 0; i < 7; ++i) sum += (d[i] - '0') * (i + 1);
        if (sum % 11 != 10) return d;
      }
    }
    case Barcode1d::ean13AddOn:
      return static_cast<char>('1' + rng.uniformInt(0, 8)) + digits(11) + "+" + digits(5);
    case Barcode1d::databar: return digits(13);
    case Barcode1d::databarExpanded: return randomDataBarExpanded(rng);
  }
  return "0";
}

Scene1d generate1d(Barcode1d kind, Condition1d condition, uint32_t seed) {
  Random rng(seed * 2654435761u + static_cast<uint32_t>(kind) * 97u + static_cast<uint32_t>(condition) * 7919u + 1u);
  Scene1d out;
  const std::string data = randomData1d(rng, kind);
  if (condition == Condition1d::phone) return generatePhone1d(kind, data, rng);
  out.barcode = encode1d(kind, data, 1);
  const int cols = out.barcode.bars.cols;
  out.barcode = encode1d(kind, data, std::max(10, cols / 5));

  SceneSpec spec;
  spec.seed = rng.bits();
  const int contrast = condition == Condition1d::lowContrast ? rng.uniformInt(25, 45) : rng.uniformInt(80, 200);
  spec.darkLevel = static_cast<uint8_t>(rng.uniformInt(10, 250 - contrast));
  spec.lightLevel = static_cast<uint8_t>(spec.darkLevel + contrast);
  spec.background = spec.lightLevel + rng.uniform(-5, 5);
  spec.gradientX = rng.uniform(-10, 10);
  spec.gradientY = rng.uniform(-10, 10);
  spec.clutterLevel = spec.darkLevel + contrast * rng.uniform(0, 0.3);
  spec.blurSigma = rng.uniform(0, 0.5);
  spec.noiseSigma = condition == Condition1d::noisy ? rng.uniform(6, 14) : rng.uniform(0, 2);

  Placement p;
  p.quietZone = 10;
  p.antiAlias = 4;  // enough for bars, and four times quicker to draw
  p.angleDeg = condition == Condition1d::clean ? rng.uniform(-10, 10) + (rng.chance(0.5) ? 180 : 0) : rng.uniform(0, 360);
  if (condition == Condition1d::perspective) {
    p.perspectiveU = rng.uniform(-0.3, 0.3);
    p.perspectiveV = rng.uniform(-0.2, 0.2);
  }
  const double minModule = condition == Condition1d::clean || condition == Condition1d::rotated ? 1.0 : 1.5;
  p.moduleSize = rng.uniform(minModule, 5);
  if (condition == Condition1d::blurred) spec.blurSigma = std::clamp(rng.uniform(0.3, 0.5) * p.moduleSize, 0.6, 2.0);
  // The image holds the rotated quiet-zone box with some room to spare.
  const double slack = 1 + std::fabs(p.perspectiveU) + std::fabs(p.perspectiveV);
  const double boxW = (cols + 2 * p.quietZone) * p.moduleSize * slack;
  const double boxH = (out.barcode.bars.rows + 2 * p.quietZone) * p.moduleSize * slack;
  const double a = p.angleDeg * 3.14159265358979323846 / 180;
  const double c = std::fabs(std::cos(a)), sn = std::fabs(std::sin(a));
  spec.width = std::max(200, static_cast<int>(boxW * c + boxH * sn) + rng.uniformInt(16, 80));
  spec.height = std::max(160, static_cast<int>(boxW * sn + boxH * c) + rng.uniformInt(16, 80));
  if (condition == Condition1d::crowded) {
    spec.width += 160;
    spec.height += 160;
  }
  spec.symbols.push_back(out.barcode.bars);
  spec.placements.push_back(p);
  if (condition == Condition1d::crowded) {
    spec.textBlocks = rng.uniformInt(2, 5);
    spec.barBlocks = rng.uniformInt(0, 2);
    spec.lines = rng.uniformInt(0, 2);
    spec.symbols.push_back(encodeDataMatrix(randomData1d(rng, Barcode1d::code39), 0));
    Placement dm;
    dm.moduleSize = rng.uniform(2, 4);
    dm.angleDeg = rng.uniform(0, 360);
    spec.placements.push_back(dm);
    // A second, smaller 1D barcode of another kind; the image grows by its quiet-zone box.
    const Barcode1d otherKind =
        kAllBarcodes1d[(static_cast<int>(kind) % kSecondBarcodeKinds + rng.uniformInt(1, 6)) % kSecondBarcodeKinds];
    const std::string otherData = randomData1d(rng, otherKind);
    const int otherCols = encode1d(otherKind, otherData, 1).bars.cols;
    out.others.push_back(encode1d(otherKind, otherData, std::max(10, otherCols / 5)));
    Placement q;
    q.quietZone = 10;
    q.antiAlias = 4;
    q.moduleSize = rng.uniform(1.5, 2.5);
    q.angleDeg = rng.uniform(0, 360);
    const int grow = static_cast<int>((otherCols + 2 * q.quietZone) * q.moduleSize);
    spec.width += grow;
    spec.height += grow;
    spec.symbols.push_back(out.others.back().bars);
    spec.placements.push_back(q);
  }
  out.scene = renderAtRandom(spec, rng, 3 + 2 * spec.blurSigma);
  return out;
}

}  // namespace scene
