#include "reader/pdf417/pdfread.hpp"

#include <algorithm>
#include <cmath>

#include "reader/charset.hpp"
#include "reader/pdf417/pdfecc.hpp"
#include "reader/pdf417/pdfgrid.hpp"
#include "reader/geometry.hpp"

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

// A profile sample beyond the image: read as the line's lightest level (its quiet zone) whichever
// the polarity, so that a symbol printed to the image's edge still shows its first bar's leading
// edge, and the line's range of levels stays the image's.
constexpr float kOutside = -1.0f;

std::vector<float> oriented(const std::vector<float>& p, const Way& way) {
  std::vector<float> out(p);
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

// The ways in which some of two dozen lines across the symbol show a start pattern, most first.
std::vector<Way> probeWays(const std::vector<std::vector<float>>& profiles, bool allowInverted) {
  std::vector<Way> ways;
  for (int inverted = 0; inverted < (allowInverted ? 2 : 1); ++inverted)
    for (int reversed = 0; reversed < 2; ++reversed) ways.push_back(Way{inverted != 0, reversed != 0, 0});
  const size_t step = std::max<size_t>(1, profiles.size() / 24);
  for (size_t i = step / 2; i < profiles.size(); i += step)
    for (Way& w : ways) w.starts += readLine(oriented(profiles[i], w)).found ? 1 : 0;
  std::stable_sort(ways.begin(), ways.end(), [](const Way& a, const Way& b) { return a.starts > b.starts; });
  while (!ways.empty() && ways.back().starts == 0) ways.pop_back();
  return ways;
}

// Every line read the one way; those that show a start pattern.
std::vector<ScannedLine> readLines(const std::vector<std::vector<float>>& profiles, const std::vector<double>& vs,
                                   const Way& way) {
  std::vector<ScannedLine> lines;
  for (size_t i = 0; i < profiles.size(); ++i) {
    ScannedLine line{vs[i], readLine(oriented(profiles[i], way))};
    if (line.read.found) lines.push_back(std::move(line));
  }
  return lines;
}

// Whether reading along `along` with rows growing along `down` shows the symbol's mirror image
// (image y pointing down: an upright symbol reads along +x with rows growing along +y).
bool mirroredBy(cmath_vect along, cmath_vect down) { return along.x * down.y - along.y * down.x < 0; }

struct Scan {
  std::vector<std::vector<float>> profiles;
  std::vector<double> vs;
  dmroad::SquareToQuad map;
  double mu = 0;    // the profiles run from u = -mu to 1 + mu
  int samples = 0;  // samples a profile
  // The image point of a position along line l's profile (in samples, of the profile read
  // reversed or not).
  cmath_vect pointAt(double position, double v, bool reversed) const {
    const double s = reversed ? samples - 1 - position : position;
    return map.map(-mu + (1 + 2 * mu) * (s + 0.5) / samples, v);
  }
};

// Profiles along u at v pitch pixels apart, a little beyond the quadrilateral p00 p10 p11 p01 (u runs
// p00 to p10); each sample the mean of three across the line.
bool sampleProfiles(const cimg_windowConst& w, cmath_vect p00, cmath_vect p10, cmath_vect p11, cmath_vect p01,
                    double pitch, Scan* scan) {
  const double width = std::max(dmroad::distance(p00, p10), dmroad::distance(p01, p11));
  const double height = std::max(dmroad::distance(p00, p01), dmroad::distance(p10, p11));
  if (!std::isfinite(width) || !std::isfinite(height) || width < 8 || height < 2 || width > 1e5 || height > 1e5)
    return false;
  scan->map = dmroad::SquareToQuad(p00, p10, p11, p01);
  const double mu = 0.06 + 6 / width, mv = 0.02 + 2 / height;
  const int lines = std::clamp(static_cast<int>(height * (1 + 2 * mv) / pitch), 8, 1500);
  const int samples = std::clamp(static_cast<int>(width * (1 + 2 * mu) / 0.5), 64, 12000);
  scan->mu = mu;
  scan->samples = samples;
  scan->profiles.assign(lines, std::vector<float>(samples));
  scan->vs.resize(lines);
  for (int l = 0; l < lines; ++l) {
    const double v = -mv + (1 + 2 * mv) * (l + 0.5) / lines;
    scan->vs[l] = v;
    // Evenly in the map's u, so that modules stay evenly spaced along the profile however the
    // symbol is tilted away; each sample the mean of three across the line, 0.35 pixels apart.
    const cmath_vect mid = scan->map.map(0.5, v), below = scan->map.map(0.5, v + 1 / height);
    double ax = below.x - mid.x, ay = below.y - mid.y;
    const double norm = std::hypot(ax, ay);
    if (!(norm > 0) || !std::isfinite(norm)) return false;
    ax *= 0.35 / norm;
    ay *= 0.35 / norm;
    const cmath_vect a = scan->map.map(-mu, v), b = scan->map.map(1 + mu, v);
    // Inside when the ends are and the map has no pole between them (its denominator, linear in u,
    // keeps its sign): the points between then lie on the segment joining the ends.
    const double d0 = scan->map.g * -mu + scan->map.h * v + 1, d1 = scan->map.g * (1 + mu) + scan->map.h * v + 1;
    const bool inside = d0 * d1 > 0 && dmroad::samplesUnclamped(w, {cmath_vect{a.x - ax, a.y - ay}, cmath_vect{a.x + ax, a.y + ay},
                                                     cmath_vect{b.x - ax, b.y - ay}, cmath_vect{b.x + ax, b.y + ay}});
    std::vector<float>& profile = scan->profiles[l];
    for (int s = 0; s < samples; ++s) {
      const cmath_vect p = scan->map.map(-mu + (1 + 2 * mu) * (s + 0.5) / samples, v);
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
      if (!inside && !dmroad::sampleNeedsNoClamp(w, p)) {
        profile[s] = kOutside;
        continue;
      }
      const double sum = inside ? dmroad::sampleUnclamped(w, p.x - ax, p.y - ay) + dmroad::sampleUnclamped(w, p.x, p.y) +
                                      dmroad::sampleUnclamped(w, p.x + ax, p.y + ay)
                                : dmroad::sampleAt(w, p.x - ax, p.y - ay) + dmroad::sampleAt(w, p.x, p.y) +
                                      dmroad::sampleAt(w, p.x + ax, p.y + ay);
      profile[s] = static_cast<float>(sum / 3);
    }
  }
  return true;
}

// A line through points, refitted without those more than tolerance off it.
bool robustLine(const std::vector<cmath_vect>& points, double tolerance, dmroad::EdgeLine* line) {
  if (points.size() < 2 || !dmroad::fitLine(points, line)) return false;
  std::vector<cmath_vect> kept;
  for (const cmath_vect& p : points)
    if (dmroad::offLine(*line, p) <= tolerance) kept.push_back(p);
  return kept.size() * 2 > points.size() && dmroad::fitLine(kept, line);
}

// The outline of the symbol the lines read: the start side through the start patterns' leading
// edges, the far side through the stop patterns' trailing edges (a compact symbol's: a module past
// where its last data column ends), a side too few lines met placed from the other one by the
// symbol's width in each line's modules, and the first and last rows' outer edges where the row
// fit puts them.
bool outlineOf(const Scan& scan, const std::vector<ScannedLine>& lines, const CodewordGrid& grid, bool reversed,
               std::array<cmath_vect, 4>* outline) {
  const int widthModules = grid.compact ? 35 + 17 * grid.columns : 69 + 17 * grid.columns;
  std::vector<cmath_vect> left, right, leftFromRight, rightFromLeft;
  for (const ScannedLine& l : lines) {
    const LineRead& r = l.read;
    if (r.cluster < 0) continue;
    float end = r.stopEnd;
    const size_t afterData = static_cast<size_t>(grid.columns) + 1;
    if (end < 0 && grid.compact && !r.fromStop && r.slotStart.size() > afterData)
      end = r.slotStart[afterData] + r.module;
    if (r.startEdge >= 0) {
      left.push_back(scan.pointAt(r.startEdge, l.v, reversed));
      rightFromLeft.push_back(scan.pointAt(r.startEdge + widthModules * r.module, l.v, reversed));
    }
    if (end >= 0) {
      right.push_back(scan.pointAt(end, l.v, reversed));
      leftFromRight.push_back(scan.pointAt(end - widthModules * r.module, l.v, reversed));
    }
  }
  if (left.size() < 2) left = leftFromRight;
  if (right.size() < 2) right = rightFromLeft;
  dmroad::EdgeLine leftLine, rightLine;
  if (!robustLine(left, 1.5, &leftLine) || !robustLine(right, 1.5, &rightLine) || grid.rowPerV == 0) return false;
  const double vTop = (-0.5 - grid.rowBase) / grid.rowPerV, vBottom = (grid.rows - 0.5 - grid.rowBase) / grid.rowPerV;
  auto rowLine = [&](double v) {
    const cmath_vect a = scan.map.map(0, v), b = scan.map.map(1, v);
    const double length = dmroad::distance(a, b);
    return dmroad::EdgeLine{a, cmath_vect{(b.x - a.x) / length, (b.y - a.y) / length}};
  };
  const dmroad::EdgeLine top = rowLine(vTop), bottom = rowLine(vBottom);
  cmath_vect q[4];
  if (!dmroad::crossing(leftLine, top, &q[0]) || !dmroad::crossing(rightLine, top, &q[1]) ||
      !dmroad::crossing(rightLine, bottom, &q[2]) || !dmroad::crossing(leftLine, bottom, &q[3]))
    return false;
  *outline = {q[0], q[1], q[2], q[3]};
  for (const cmath_vect& p : *outline)
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
  return dmroad::convexQuad(*outline);
}

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
    const CodewordGrid grid = assembleGrid(readLines(profiles, vs, way));
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

Reading readImage(const cimg_windowConst& window, const std::array<cmath_vect, 4>& c) {
  Reading first;
  first.error = "no start pattern along the located rows";
  bool haveFirst = false;
  // Lines 1.5 pixels apart first, two or more a row in most symbols; only where they find the
  // patterns but do not read, twice as many. Then the same with the corners a quarter turn round.
  for (int pass = 0; pass < 4; ++pass) {
    const int axis = pass / 2;
    Scan scan;
    const double pitch = pass % 2 == 0 ? 1.5 : 0.75;
    const bool sampled = axis == 0 ? sampleProfiles(window, c[0], c[1], c[2], c[3], pitch, &scan)
                                   : sampleProfiles(window, c[0], c[3], c[2], c[1], pitch, &scan);
    if (!sampled) {
      if (!haveFirst) first.error = "located corners too small or not finite to sample";
      pass |= 1;
      continue;
    }
    const std::vector<Way> ways = probeWays(scan.profiles, true);
    if (ways.empty()) pass |= 1;  // no start pattern this way round: closer lines will not find one
    for (const Way& way : ways) {
      const std::vector<ScannedLine> lines = readLines(scan.profiles, scan.vs, way);
      if (lines.size() < 3) continue;
      const CodewordGrid grid = assembleGrid(lines);
      Reading r;
      if (grid.ok) r = readGrid(grid);
      else r.error = grid.error;
      r.inverted = way.inverted;
      if (grid.ok) {
        const cmath_vect o = scan.map.map(0.5, 0.5), right = scan.map.map(0.6, 0.5), down = scan.map.map(0.5, 0.6);
        cmath_vect along{right.x - o.x, right.y - o.y}, rowsDown{down.x - o.x, down.y - o.y};
        if (way.reversed) along = {-along.x, -along.y};
        if (!grid.rowsAlongV) rowsDown = {-rowsDown.x, -rowsDown.y};
        r.mirrored = mirroredBy(along, rowsDown);
        if (r.ok) r.haveOutline = outlineOf(scan, lines, grid, way.reversed, &r.outline);
      }
      if (r.ok) return r;
      if (!haveFirst || (grid.ok && first.rows == 0)) first = r, haveFirst = true;
    }
  }
  return first;
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
  bool binary = false;
  for (const charset::Segment& s : m.segments) {
    symbol.bytes.insert(symbol.bytes.end(), s.bytes.begin(), s.bytes.end());
    binary = binary || charset::isBinary(s.eci);
  }
  symbol.contentType = binary ? idut::ContentType::Binary : idut::ContentType::Text;
  if (!binary) {
    std::string error;
    if (!charset::segmentsToUtf8(m.segments, &symbol.text, &error)) {
      symbol.decodeError = "content is not text in its character set: " + error;
      return false;
    }
  }
  symbol.decoded = true;
  return true;
}

void carryEcis(const std::vector<Reading*>& readings) {
  std::vector<Reading*> parts;
  for (Reading* r : readings)
    if (r->ok && r->message.append.index >= 0 && !r->message.segments.empty()) parts.push_back(r);
  std::sort(parts.begin(), parts.end(),
            [](const Reading* a, const Reading* b) { return a->message.append.index < b->message.append.index; });
  for (size_t k = 1; k < parts.size(); ++k) {
    const Message &before = parts[k - 1]->message;
    Message& m = parts[k]->message;
    if (m.append.index != before.append.index + 1 || m.append.id != before.append.id ||
        m.append.count != before.append.count || m.leadingEci)
      continue;
    m.segments.front().eci = before.segments.back().eci;
  }
}

bool readSymbol(const cimg_windowConst& window, const std::array<cmath_vect, 4>& corners, idut::Symbol& symbol) {
  return fillSymbol(readImage(window, corners), symbol);
}

}  // namespace pdf417
