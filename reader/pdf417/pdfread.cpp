#include "reader/pdf417/pdfread.hpp"

#include <algorithm>
#include <cmath>

#include "reader/charset.hpp"
#include "reader/pdf417/pdfecc.hpp"
#include "reader/pdf417/pdfgrid.hpp"
#include "reader/geometry.hpp"
#include "reader/pdf417/pdfsample.hpp"
#include "reader/pdf417/pdftables.hpp"

namespace pdf417 {

namespace {

Reading readGrid(const CodewordGrid& grid) {
  Reading decoded = readCodewords(grid.words, grid.columns, grid.level);
  // Again with the least sure words taken as erased too, a quarter, half and all of what the
  // level can spare after the words nobody read.
  int erased = 0;
  for (int w : grid.words) erased += w < 0;
  const int spare = checkWordCount(grid.level) - 2 - erased;
  for (int part = 1; part <= 4 && !decoded.ok && spare > 0; part *= 2) {
    const int n = std::min<int>(static_cast<int>(grid.weak.size()), spare * part / 4);
    if (n == 0) continue;
    std::vector<int> words = grid.words;
    for (int i = 0; i < n; ++i) words[grid.weak[i]] = -1;
    Reading again = readCodewords(words, grid.columns, grid.level);
    if (again.ok) decoded = std::move(again);
    if (n == static_cast<int>(grid.weak.size())) break;
  }
  decoded.compact = grid.compact;
  return decoded;
}

// A way of reading the profiles: negated (light bars on a dark ground) and/or reversed (the
// rows running against the profile's direction).
struct Way {
  bool inverted = false, reversed = false;
  int starts = 0;  // sampled lines that show a start pattern this way
};

// The profile as the way reads it: p itself when the way changes nothing (not negated, not
// reversed, no sample beyond the image left to resolve), else a copy in scratch.
const std::vector<float>& oriented(const std::vector<float>& p, const Way& way, bool resolved,
                                   std::vector<float>* scratch) {
  if (!way.inverted && !way.reversed && resolved) return p;
  std::vector<float>& out = *scratch;
  out.assign(p.begin(), p.end());
  if (way.reversed) std::reverse(out.begin(), out.end());
  float lightest = 0;
  for (float& s : out) {
    if (s == kOutside) continue;
    if (way.inverted) s = 255.0f - s;
    lightest = std::max(lightest, s);
  }
  for (float& s : out)
    if (s == kOutside) s = lightest;
  return out;
}

// How many of two dozen lines across the symbol show a start pattern read each of the ways.
void probe(const std::vector<std::vector<float>>& profiles, bool resolved, std::vector<Way>* ways) {
  std::vector<float> scratch;
  const size_t step = std::max<size_t>(1, profiles.size() / 24);
  for (size_t i = step / 2; i < profiles.size(); i += step)
    for (Way& w : *ways) w.starts += readLine(oriented(profiles[i], w, resolved, &scratch)).found ? 1 : 0;
}

// The ways in which some of two dozen lines across the symbol show a start pattern, most first.
std::vector<Way> probeWays(const std::vector<std::vector<float>>& profiles, bool allowInverted) {
  std::vector<Way> ways;
  for (int inverted = 0; inverted < (allowInverted ? 2 : 1); ++inverted)
    for (int reversed = 0; reversed < 2; ++reversed) ways.push_back(Way{inverted != 0, reversed != 0, 0});
  probe(profiles, false, &ways);
  std::stable_sort(ways.begin(), ways.end(), [](const Way& a, const Way& b) { return a.starts > b.starts; });
  while (!ways.empty() && ways.back().starts == 0) ways.pop_back();
  return ways;
}

// Every line read the one way; those that show a start pattern.
std::vector<ScannedLine> readLines(const std::vector<std::vector<float>>& profiles, const std::vector<double>& vs,
                                   const Way& way, bool resolved) {
  std::vector<ScannedLine> lines;
  std::vector<float> scratch;
  for (size_t i = 0; i < profiles.size(); ++i) {
    ScannedLine line{vs[i], readLine(oriented(profiles[i], way, resolved, &scratch))};
    if (line.read.found) lines.push_back(std::move(line));
  }
  return lines;
}

// Whether reading along `along` with rows growing along `down` shows the symbol's mirror image
// (image y pointing down: an upright symbol reads along +x with rows growing along +y).
bool mirroredBy(cmath_vect along, cmath_vect down) { return along.x * down.y - along.y * down.x < 0; }

}  // namespace

Reading readCodewords(std::vector<int> words, int columns, int level) {
  Reading r;
  r.columns = columns;
  r.level = level;
  if (columns < 1 || columns > 30 || words.empty() || words.size() % columns != 0) {
    r.error = "codeword count is not a whole number of rows";
    return r;
  }
  r.rows = static_cast<int>(words.size()) / columns;
  std::vector<int> erased;
  for (size_t i = 0; i < words.size(); ++i)
    if (words[i] < 0 || words[i] > 928) erased.push_back(static_cast<int>(i)), words[i] = 0;
  const Correction fix = correct(words, level, erased);
  if (!fix.ok) {
    r.error = fix.error;
    return r;
  }
  r.corrected = fix.corrected;
  r.erasures = fix.erasures;
  words.resize(words.size() - checkWordCount(level));
  r.message = decodeData(words);
  r.ok = r.message.ok;
  if (!r.ok) r.error = "corrected codewords do not decode: " + r.message.error;
  return r;
}

Reading readModuleRows(const std::vector<std::vector<uint8_t>>& rows) {
  // Two samples a module and a quiet zone of four modules round each row.
  std::vector<std::vector<float>> profiles;
  std::vector<double> vs;
  for (size_t i = 0; i < rows.size(); ++i) {
    std::vector<float> p(8, 255.0f);
    for (uint8_t m : rows[i]) p.insert(p.end(), 2, m ? 0.0f : 255.0f);
    p.insert(p.end(), 8, 255.0f);
    profiles.push_back(std::move(p));
    vs.push_back(static_cast<double>(i));
  }
  Reading r;
  r.error = "no start pattern in the rows";
  for (const Way& way : probeWays(profiles, false)) {
    const CodewordGrid grid = assembleGrid(readLines(profiles, vs, way, false));
    if (!grid.ok) {
      r.error = grid.error;
      continue;
    }
    r = readGrid(grid);
    r.mirrored = way.reversed == grid.rowsAlongV;
    if (r.ok) break;
  }
  return r;
}

namespace {

// Noise (deviation, grey levels) below which one sample a point reads as well as the mean of three.
constexpr double kQuietNoise = 2.5;

struct Attempt {
  Reading reading;
  CodewordGrid grid;
};

// The scan's lines read the one way: the grid, and the reading (outline included) when it
// decodes. inverted: the scan's samples were negated already.
Attempt readWay(const Scan& scan, const Way& way, bool inverted) {
  Attempt a;
  const std::vector<ScannedLine> lines = readLines(scan.profiles, scan.vs, way, scan.resolved);
  if (lines.size() < 3) {
    a.reading.error = "too few lines across the located rows show a start or stop pattern";
    return a;
  }
  a.grid = assembleGrid(lines);
  Reading& r = a.reading;
  if (!a.grid.ok) {
    r.error = a.grid.error;
    return a;
  }
  r = readGrid(a.grid);
  r.inverted = way.inverted != inverted;
  const cmath_vect o = scan.map.map(0.5, 0.5), right = scan.map.map(0.6, 0.5), down = scan.map.map(0.5, 0.6);
  cmath_vect along{right.x - o.x, right.y - o.y}, rowsDown{down.x - o.x, down.y - o.y};
  if (way.reversed) along = {-along.x, -along.y};
  if (!a.grid.rowsAlongV) rowsDown = {-rowsDown.x, -rowsDown.y};
  r.mirrored = mirroredBy(along, rowsDown);
  if (r.ok) r.haveOutline = outlineOf(scan, lines, a.grid, way.reversed, &r.outline);
  return a;
}

// Where the rows of a grid lie across the scan: three lines a row, at its middle and a quarter
// of a row either side.
std::vector<double> rowLines(const CodewordGrid& grid) {
  std::vector<double> at;
  if (grid.rowPerV == 0 || grid.rows * 3 > 1500) return at;
  for (int row = 0; row < grid.rows; ++row)
    for (double off : {0.25, 0.5, 0.75}) at.push_back((row + off - grid.rowBase) / grid.rowPerV);
  return at;
}

// Two dozen lines across the corners, sampled as how says: an error when none shows a start or
// stop pattern, or when those that read words all read them in one cluster (the bars of a 1D
// barcode, whose lines are all alike, where a symbol's three or more rows take turns among the
// three clusters); else the corners cut to the stretch of the rows the lines' words (and
// patterns) run over, four modules to spare either way, where that is less than four fifths of
// it, and nullptr. *noRows tells whether the error is that the lines showed no rows (not that
// they could not be sampled).
const char* narrowToProbe(const cimg_windowConst& window, const Sampling& how, std::array<cmath_vect, 4>* corners,
                          bool* noRows) {
  constexpr int kLines = 24;
  constexpr const char* kNoPattern = "no start or stop pattern along the located rows";
  Sampling probeHow = how;
  probeHow.at.clear();
  for (int i = 0; i < kLines; ++i) probeHow.at.push_back((i + 0.5) / kLines);
  Scan scan;
  *noRows = false;
  if (!sampleProfiles(window, *corners, probeHow, &scan)) return kNoPattern;
  *noRows = true;
  double lo = 1e300, hi = -1e300;
  bool any = false;
  int firstCluster = -1;
  bool clustersDiffer = false;
  for (const std::vector<float>& profile : scan.profiles) {
    const LineRead r = readLine(profile);
    if (!r.found) continue;
    any = true;
    if (r.cluster >= 0) {
      if (firstCluster >= 0 && r.cluster != firstCluster) clustersDiffer = true;
      firstCluster = r.cluster;
    }
    const double words = kModulesPerWord * static_cast<double>(r.readings.size());
    const double from = r.startEdge >= 0 ? r.startEdge : r.stopEnd - (kStopModules + words) * r.module;
    const double to = r.stopEnd >= 0 ? r.stopEnd : r.startEdge + (kStartModules + words) * r.module;
    lo = std::min(lo, from - 4 * r.module);
    hi = std::max(hi, to + 4 * r.module);
  }
  if (!any) return kNoPattern;
  if (!clustersDiffer) return "the lines across the located rows read as one row";
  *noRows = false;
  // Positions along the profiles to u, clamped to the corners' own stretch.
  auto uOf = [&](double s) { return std::clamp(-scan.mu + (1 + 2 * scan.mu) * (s + 0.5) / scan.samples, 0.0, 1.0); };
  const double u0 = uOf(lo), u1 = uOf(hi);
  if (u1 - u0 > 0.8 || !(u1 > u0)) return nullptr;
  *corners = {scan.map.map(u0, 0), scan.map.map(u1, 0), scan.map.map(u1, 1), scan.map.map(u0, 1)};
  return nullptr;
}

}  // namespace

Reading readImage(const cimg_windowConst& window, const std::array<cmath_vect, 4>& c, const ReadHint& hint) {
  Reading first;
  first.error = "no start pattern along the located rows";
  bool haveFirst = false;
  auto keep = [&](const Attempt& a) {
    if (!haveFirst || (a.grid.ok && first.rows == 0)) first = a.reading, haveFirst = true;
  };
  // Lines 1.5 pixels apart first (more for large modules: still two or more a row of two
  // modules), two or more a row in most symbols; where they find the patterns but do not read,
  // again along the same way: lines at the middles of the rows the row indicators told, or twice
  // as many lines where they told none. Then the same with the corners a quarter turn round,
  // unless the hint says how the rows run.
  const double module = hint.known ? hint.module : 0;
  for (int axis = 0; axis < (hint.known ? 1 : 2); ++axis) {
    Sampling how;
    how.pitch = std::clamp(0.5 * module, 1.5, 4.0);
    how.step = std::clamp(module / 3.5, 0.5, 1.5);
    how.resolve = hint.known;
    how.invert = hint.known && hint.lightBars;
    how.average = !(hint.noise >= 0 && hint.noise < kQuietNoise);
    std::array<cmath_vect, 4> corners = axis == 0 ? c : std::array<cmath_vect, 4>{c[0], c[3], c[2], c[1]};
    // With the way known, two dozen lines first: none reads, and nothing will; they read, and
    // the corners close in on the stretch their words run over (a lone column's outline reaches
    // to the image's border).
    bool noRows = false;
    if (const char* error = hint.known ? narrowToProbe(window, how, &corners, &noRows) : nullptr) {
      if (!haveFirst) first.error = error, first.noRows = noRows;
      continue;
    }
    Scan scan;
    if (!sampleProfiles(window, corners, how, &scan)) {
      if (!haveFirst) first.error = "located corners too small or not finite to sample";
      continue;
    }
    const std::vector<Way> ways = hint.known ? std::vector<Way>{Way{}} : probeWays(scan.profiles, true);
    for (const Way& way : ways) {
      const Attempt a = readWay(scan, way, how.invert);
      if (a.reading.ok) return a.reading;
      keep(a);
      Sampling again = how;
      again.at = a.grid.ok ? rowLines(a.grid) : std::vector<double>{};
      if (again.at.empty()) again.pitch /= 2;
      Scan closer;
      if (!sampleProfiles(window, corners, again, &closer)) continue;
      const Attempt b = readWay(closer, way, how.invert);
      if (b.reading.ok) return b.reading;
      keep(b);
    }
  }
  return first;
}

int wordsAlongRows(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, const ReadHint& hint) {
  constexpr int kLines = 6;
  Sampling how;
  for (int i = 0; i < kLines; ++i) how.at.push_back((i + 0.5) / kLines);
  how.step = std::clamp(hint.module / 3.5, 0.5, 1.5);
  how.resolve = true;
  how.invert = hint.lightBars;
  how.average = !(hint.noise >= 0 && hint.noise < kQuietNoise);
  Scan scan;
  if (!sampleProfiles(window, corners, how, &scan)) return 0;
  int words = 0;
  for (const std::vector<float>& profile : scan.profiles)
    for (int w : readLine(profile).words) words += w >= 0;
  return words;
}

bool fillSymbol(const Reading& reading, idut::Symbol& symbol) {
  symbol.symbology = idut::Symbology::PDF417;
  symbol.decoded = false;
  symbol.text.clear();
  symbol.bytes.clear();
  symbol.decodeError.clear();
  symbol.rows = reading.rows;
  symbol.columns = reading.columns;
  symbol.ecLevel = reading.level;
  symbol.mirrored = reading.mirrored;
  symbol.inverted = reading.inverted;
  symbol.errorsCorrected = reading.corrected;
  symbol.erasures = reading.erasures;
  if (!reading.ok) {
    symbol.decodeError = reading.error.empty() ? "not read" : reading.error;
    return false;
  }
  const Message& m = reading.message;
  // Our output is the basic channel's: ECIs are applied, not passed on as escapes.
  symbol.symbologyIdentifier = "]L2";
  symbol.readerInit = m.readerInit;
  symbol.structuredAppend = m.append;
  symbol.eci = m.ecis.empty() ? -1 : m.ecis.front();
  charset::Content content = charset::contentOf(m.segments);
  symbol.bytes = std::move(content.bytes);
  symbol.contentType = content.binary ? idut::ContentType::Binary : idut::ContentType::Text;
  if (!content.ok) {
    symbol.decodeError = content.error;
    return false;
  }
  symbol.text = std::move(content.text);
  symbol.decoded = true;
  return true;
}

void carryEcis(const std::vector<Reading*>& readings) {
  std::vector<Reading*> parts;
  for (Reading* r : readings)
    if (r->ok && r->message.append.index >= 0 && !r->message.segments.empty()) parts.push_back(r);
  // In index order, so that a part carried into passes that on down the chain.
  std::stable_sort(parts.begin(), parts.end(),
                   [](const Reading* a, const Reading* b) { return a->message.append.index < b->message.append.index; });
  for (Reading* r : parts) {
    Message& m = r->message;
    if (m.segments.front().designated) continue;
    // Every part before it of the same message: one image may hold two messages of the same id
    // and count (two labels alike, or two scans side by side) or the same part twice. They must
    // all end in the same ECI, or which one goes on is a guess, and nothing is carried.
    const charset::Segment* from = nullptr;
    bool agree = true;
    for (const Reading* p : parts) {
      const Message& before = p->message;
      if (before.append.index != m.append.index - 1 || before.append.id != m.append.id ||
          before.append.count != m.append.count)
        continue;
      const charset::Segment& end = before.segments.back();
      agree = agree && (from == nullptr || (from->eci == end.eci && from->designated == end.designated));
      from = &end;
    }
    if (from == nullptr || !agree) continue;
    m.segments.front().eci = from->eci;
    m.segments.front().designated = from->designated;
  }
}

bool readSymbol(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, idut::Symbol& symbol) {
  return fillSymbol(readImage(window, corners), symbol);
}

}  // namespace pdf417
