#include "reader/pdf417/pdfroad.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "reader/datamatrix/dmdenoise.hpp"
#include "reader/geometry.hpp"
#include "reader/pdf417/pdfcheck.hpp"
#include "reader/pdf417/pdfcolumns.hpp"
#include "reader/pdf417/pdfpattern.hpp"
#include "reader/roadbase.hpp"

namespace pdfroad {

namespace {

// Noise (grey levels of deviation) above which the road searches a smoothed copy, and the
// factor by which the 3 x 3 binomial lowers white noise.
constexpr double kDenoiseAbove = 5.0;
constexpr double kBinomialNoiseGain = 0.375;
// The grey levels a pattern line must span near a run before it is split there: five times the
// noise, at least a few levels; on the image itself (not smoothed) at most what any printed
// symbol spans, so that a noisy-looking image still gets its lines read.
constexpr double kMinContrast = 12, kMaxContrastAsked = 40;
// A lone column shorter than this part of its outline's reach is turned to find the rows, by
// kTurnStep degrees at a time up to kTurnMost either way.
constexpr double kShortColumn = 0.35, kTurnStep = 1.5, kTurnMost = 12;
constexpr double kPi = 3.14159265358979323846;
// Modules by which a lone column's wide bar may lie outside the outline its reading gives.
constexpr double kColumnSlack = 2;

// Whether any of the points lies in a symbol claimed already.
csys_status anyClaimed(const cid_mask* mask, std::initializer_list<cmath_vect> points, bool* claimed) {
  *claimed = false;
  for (const cmath_vect& p : points) {
    uint32_t masked = 0;
    const csys_status st = cid_mask_isPointUnMasked(mask, &p, nullptr, &masked);
    if (CSYS_FAILED(st)) return st;
    *claimed = *claimed || masked != 0;
  }
  return 0;
}

cmath_vect centreOf(const std::array<cmath_vect, 4>& q) {
  return cmath_vect{(q[0].x + q[1].x + q[2].x + q[3].x) / 4, (q[0].y + q[1].y + q[2].y + q[3].y) / 4};
}

// A pair whose middle or either column lies in a symbol claimed already is that symbol seen
// again (or a neighbour's column); a lone column's outline reaches far past its symbol, so only
// its column tells.
csys_status claimedAlready(const cid_mask* mask, const PatternFind& f, bool* claimed) {
  return f.kind == PatternFind::Kind::pair ? anyClaimed(mask, {centreOf(f.corners), f.startMiddle, f.stopMiddle}, claimed)
                                           : anyClaimed(mask, {f.startMiddle}, claimed);
}

// A lone column's outline with its far side turned by angle (radians) about the column: the
// column's side stays, the other two sides turn with the rows.
std::array<cmath_vect, 4> turnedAway(const PatternFind& f, double angle) {
  const bool stopOnly = f.kind == PatternFind::Kind::stopOnly;
  // The column's corners and the far ones at the same ends.
  const int near0 = stopOnly ? 1 : 0, near1 = stopOnly ? 2 : 3, far0 = stopOnly ? 0 : 1, far1 = stopOnly ? 3 : 2;
  std::array<cmath_vect, 4> q = f.corners;
  const double c = std::cos(angle), s = std::sin(angle);
  for (const auto& [near, far] : {std::pair{near0, far0}, std::pair{near1, far1}}) {
    const cmath_vect d{f.corners[far].x - f.corners[near].x, f.corners[far].y - f.corners[near].y};
    q[far] = cmath_vect{f.corners[near].x + c * d.x - s * d.y, f.corners[near].y + s * d.x + c * d.y};
  }
  return q;
}

// A lone column's outline cut to the width the reading gives (its data columns, in the column's
// module): its far side reaches to the image's border, and a claim of all that would hide the
// symbols beyond. For a reading whose lines did not show the symbol's sides.
std::array<cmath_vect, 4> widthFromReading(const PatternFind& f, const pdf417::Reading& r) {
  const double modules = r.compact ? 35 + 17 * r.columns : 69 + 17 * r.columns;
  const bool stopOnly = f.kind == PatternFind::Kind::stopOnly;
  const int near0 = stopOnly ? 1 : 0, near1 = stopOnly ? 2 : 3, far0 = stopOnly ? 0 : 1, far1 = stopOnly ? 3 : 2;
  std::array<cmath_vect, 4> q = f.corners;
  for (const auto& [near, far] : {std::pair{near0, far0}, std::pair{near1, far1}}) {
    const double reach = dmroad::distance(f.corners[near], f.corners[far]);
    const double k = std::min(1.0, modules * f.module / reach);
    q[far] = cmath_vect{f.corners[near].x + k * (f.corners[far].x - f.corners[near].x),
                        f.corners[near].y + k * (f.corners[far].y - f.corners[near].y)};
  }
  return q;
}

// A lone column fixes its side's direction only as well as its length allows, and the far side
// is put square to it: on a short column (a symbol of few rows) a degree or two off turns the
// lines out of their rows before they cross it. When the square outline does not read, the
// outline turned a little either way that reads most words along a few lines is read instead.
void readTurned(const cimg_windowConst& window, const PatternFind& f, const pdf417::ReadHint& hint, Symbol* s) {
  const double side = dmroad::distance(f.corners[0], f.corners[3]), reach = dmroad::distance(f.corners[0], f.corners[1]);
  if (!(side < kShortColumn * reach)) return;
  int bestWords = pdf417::wordsAlongRows(window, f.corners, hint);
  double bestAngle = 0;
  for (double degrees = kTurnStep; degrees <= kTurnMost + 1e-9; degrees += kTurnStep)
    for (double sign : {1.0, -1.0}) {
      const double angle = sign * degrees * kPi / 180;
      const int words = pdf417::wordsAlongRows(window, turnedAway(f, angle), hint);
      if (words > bestWords) bestWords = words, bestAngle = angle;
    }
  if (bestAngle == 0) return;
  pdf417::Reading again = pdf417::readImage(window, turnedAway(f, bestAngle), hint);
  if (again.ok) s->reading = std::move(again);
}

// Whether p lies within the convex outline q, or within slack pixels of it.
bool withinOutline(const std::array<cmath_vect, 4>& q, cmath_vect p, double slack) {
  double area = 0;  // twice the signed area: its sign gives the outline's turning
  for (int i = 0; i < 4; ++i) area += q[i].x * q[(i + 1) % 4].y - q[(i + 1) % 4].x * q[i].y;
  const double turn = area < 0 ? -1 : 1;
  for (int i = 0; i < 4; ++i) {
    const cmath_vect a = q[i], b = q[(i + 1) % 4];
    const double length = dmroad::distance(a, b);
    const double cross = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    if (turn * cross < -slack * length) return false;
  }
  return true;
}

// Reads one candidate (unless decoding is off and the patterns vouch for a pair), into s; *vouched
// tells whether it is a pair whose start and stop patterns show along its rows.
void tryCandidate(const cimg_imageConst& image, const cimg_windowConst& window, const PatternFind& f, double noise,
                  const Options& options, Symbol* s, bool* vouched) {
  *vouched = false;
  s->corners = f.corners;
  s->score = f.hits;
  if (f.kind == PatternFind::Kind::pair) {
    std::array<cmath_vect, 4> checked = f.corners;
    *vouched = hasPdf417Pattern(image, &checked);
    if (*vouched) s->corners = checked;
    if (!options.decode) return;
  }
  pdf417::ReadHint hint;
  hint.known = true;
  hint.lightBars = f.lightBars;
  hint.module = f.module;
  hint.noise = noise;
  s->reading = pdf417::readImage(window, s->corners, hint);
  s->readTried = true;
  // Turning the far side helps lines that leave their rows; lines that showed no rows at all
  // (every row begins with the same start pattern, which a line sees at any angle within 45
  // degrees; and a line slanting across rows meets rows of several clusters) show none turned.
  if (!s->reading.ok && !s->reading.noRows && f.kind != PatternFind::Kind::pair) readTurned(window, f, hint, s);
  // A lone column's outline reaches to the image's border, and its lines may read another symbol
  // in line with it (one seen whole further on): that reading is not the column's symbol, and
  // taking it would report the other symbol twice and claim nothing of this one.
  if (s->reading.ok && s->reading.haveOutline && f.kind != PatternFind::Kind::pair &&
      !withinOutline(s->reading.outline, f.startMiddle, kColumnSlack * f.module))
    s->reading.ok = false;
  if (s->reading.ok && s->reading.haveOutline) s->corners = s->reading.outline;
  else if (s->reading.ok && f.kind != PatternFind::Kind::pair) s->corners = widthFromReading(f, s->reading);
}

// The mask the road claims symbols in: the caller's, or one of its own.
struct MaskInUse {
  cid_mask own{};
  bool haveOwn = false;
  cid_mask* mask = nullptr;
  ~MaskInUse() {
    if (haveOwn) cid_mask_destruct(&own);
  }
  csys_status use(cid_mask* callerMask) {
    mask = callerMask;
    if (mask != nullptr) return 0;
    const csys_status st = cid_mask_construct(&own, nullptr);
    if (CSYS_FAILED(st)) return st;
    haveOwn = true;
    mask = &own;
    return 0;
  }
};

// Whether the outline's sides lie within the options' bounds.
bool sidesWithin(const std::array<cmath_vect, 4>& q, const Options& options) {
  double shortest = 1e300, longest = 0;
  for (int i = 0; i < 4; ++i) {
    const double side = dmroad::distance(q[i], q[(i + 1) % 4]);
    shortest = std::min(shortest, side);
    longest = std::max(longest, side);
  }
  return (options.minSide <= 0 || shortest >= options.minSide) && (options.maxSide <= 0 || longest <= options.maxSide);
}

}  // namespace

Outcome findAll(const cimg_imageConst& image, const Options& options, cid_mask* callerMask) {
  Outcome out;
  road::Base r;
  MaskInUse claims;
  csys_status st = r.open(image);
  if (CSYS_FAILED(st) || CSYS_FAILED(st = claims.use(callerMask))) {
    out.status = st;
    return out;
  }
  const cimg_windowConst& fine = r.fine.window;
  const int32_t width = fine.width, height = fine.height;
  if (width < 16 || height < 16) return out;

  // The pattern lines over the image, and over a smoothed copy too when the image looks noisy:
  // fine detail (a sharp symbol of one-pixel modules filling the frame) looks like noise to the
  // estimate, and smoothing would blur it away. Hits of both join the same columns.
  idutread::FrontPass* front = options.front && options.front->covers(fine) ? options.front : nullptr;
  const double noise = front ? front->noise() : dmroad::noiseSigma(fine);
  PatternScan scan;
  scan.spacing = std::max(1, options.rowStep);
  scan.minContrast = std::clamp(5 * noise, kMinContrast, kMaxContrastAsked);
  std::unique_ptr<uint8_t[]> ownSmoothed;  // without a front pass
  bool smoothed = false;
  cimg_windowConst searched = fine;
  PatternScan smooth = scan;
  if (options.denoise && noise > kDenoiseAbove) {
    if (front) {
      searched.pixels = front->smoothedOnce();
    } else {
      ownSmoothed = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(width) * height);
      dmroad::smoothBinomial(fine, ownSmoothed.get());
      searched.pixels = ownSmoothed.get();
    }
    smoothed = true;
    searched.stride = width;
    smooth.minContrast = std::max(kMinContrast, 5 * noise * kBinomialNoiseGain);
  }
  // Every other line of each family first. A symbol's side crosses several neighbouring lines of
  // the family that runs along its rows, so it shows on both halves: an image whose first half
  // shows no pattern at all (most images hold no PDF417) is left after half the scan, and of the
  // second half only the lines near the first half's hits are read.
  auto halfOf = [](PatternScan s, int parity) {
    s.parity = parity;
    return s;
  };
  std::vector<std::vector<PatternHit>> halves{scanPatterns(fine, halfOf(scan, 0))};
  if (smoothed) halves.push_back(scanPatterns(searched, halfOf(smooth, 0)));
  if (halves.front().empty() && (!smoothed || halves.back().empty())) return out;
  if (smoothed) scanSecondHalfNear({fine, searched}, {scan, smooth}, &halves);
  else scanSecondHalfNear({fine}, {scan}, &halves);
  std::vector<PatternHit>& hits = halves.front();
  if (smoothed) hits.insert(hits.end(), halves.back().begin(), halves.back().end());
  const std::vector<PatternFind> finds = outlinesFromHits(fine, scan, hits);
  // The candidates of one column in turn: the first that reads and shows its outline is taken;
  // failing that, the first that reads (its corners those located). A pair that does not read but
  // whose patterns show along its rows waits until every column has had its turn: it is taken
  // (reported unread) only where no symbol read since claims its place.
  std::vector<Symbol> unread;
  auto take = [&](Symbol s) -> bool {  // false when the road is to stop
    if (!sidesWithin(s.corners, options)) return true;
    // A lone column is checked at its own middle only: read, it can turn out to be a symbol taken
    // already, seen again from its other side.
    bool claimed = false;
    if (CSYS_FAILED(st = anyClaimed(claims.mask, {centreOf(s.corners)}, &claimed))) return false;
    if (claimed) return true;
    if (CSYS_FAILED(st = road::claim(claims.mask, s.corners, false))) return false;
    out.symbols.push_back(std::move(s));
    return options.maxSymbols <= 0 || static_cast<int>(out.symbols.size()) < options.maxSymbols;
  };
  bool going = true;
  for (size_t i = 0; i < finds.size() && going;) {
    size_t end = i;
    while (end < finds.size() && finds[end].group == finds[i].group) ++end;
    Symbol best;
    int bestRank = 0;  // 1: vouched for, 2: read, 3: read with its outline
    for (; i < end && bestRank < 3; ++i) {
      const PatternFind& f = finds[i];
      if (CSYS_FAILED(st = csys_attention_check())) break;
      bool claimed = false;
      if (CSYS_FAILED(st = claimedAlready(claims.mask, f, &claimed))) break;
      if (claimed) continue;
      ++out.candidates;
      Symbol s;
      bool vouched = false;
      tryCandidate(r.fine, fine, f, noise, options, &s, &vouched);
      const bool read = s.readTried && s.reading.ok;
      const int rank = read ? (s.reading.haveOutline ? 3 : 2) : vouched ? 1 : 0;
      if (rank > bestRank) best = std::move(s), bestRank = rank;
      if (rank == 0) ++out.rejected;
    }
    i = end;
    going = !CSYS_FAILED(st);
    if (bestRank == 1) unread.push_back(std::move(best));
    else if (bestRank > 1 && going) going = take(std::move(best));
  }
  for (Symbol& s : unread) {
    if (!going) break;
    going = take(std::move(s));
  }
  out.status = st;
  return out;
}

}  // namespace pdfroad
