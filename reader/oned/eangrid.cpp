#include "reader/oned/eangrid.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "reader/oned/eangridlayout.hpp"
#include "reader/oned/eanparts.hpp"
#include "reader/oned/upce.hpp"

namespace oned {

using eangrid::Layout;
using eangrid::kEan13;

namespace {

// UPC-E's parities take 20 of the 64 patterns and the check digit one of those, a check about
// three times stronger than EAN-13's; its six digits are fewer evidence against clutter, so one
// digit at most may stay undecided.
constexpr int kMaxUndecidedUpcE = 1;
// Blurred by more than half a module, UPC-E's digits fit several patterns nearly alike and the
// bars of other symbologies and of clutter fit its guards: sharper only (index into kSigmas).
constexpr int kMaxBlurUpcE = 1;

constexpr int kSamplesPerModule = 4;
constexpr int kDigitSamples = 7 * kSamplesPerModule;
constexpr std::array<double, 4> kSigmas = {0.25, 0.5, 0.75, 1.0};  // blur, modules
constexpr double kMinGuardScore = 0.6;   // correlation of each guard with its rendering
constexpr double kMinDigitScore = 0.7;   // of each digit's best pattern
constexpr double kDigitLead = 0.12;      // a digit decides alone when its best leads the next by this
constexpr int kMaxUndecided = 2;
// On a grid whose centre the digits placed (the centre guard blurred away), none: every undecided
// digit doubles the combinations, one of which passes the parities and the check too often
// (one in ten), and at that blur 1 and 7, 2 and 8 are each other's runners-up.
constexpr int kMaxUndecidedCentreByDigits = 0;
// Where the blur keeps the centre guard's bars and yet no guard fits out to kFarCentreReach (a
// label at an angle and blurred, its guard's fit just under kMinGuardScore), the digits place it
// out to there; sharp, their runners-up are not each other's blurred twins, and one may stay
// undecided for the check digit.
constexpr int kMaxUndecidedSharpByDigits = 1;
constexpr double kMaxQuietSwing = 0.3;   // of the symbol's grey range, in the light beside it
constexpr double kCentreReach = 1.0;     // modules the centre guard may lie off the ends' midpoint
constexpr double kFarCentreReach = 2.0;  // and where it fits nowhere nearer
// The first blur (index into kSigmas) at which the centre guard's one-module bars, two modules
// apart, keep too little swing to be found: its ripple falls to about a twentieth of the contrast.
constexpr int kCentreGuardBlurredFrom = 2;
constexpr double kDriftStep = 0.25;      // modules a digit's window may move from the previous one's
constexpr double kMaxDrift = 1.0;        // modules it may lie off the grid at most
// A tracked grid has more ways to fit a wrong pattern: each digit must fit better, and neither the
// widest blur nor a grid whose centre the digits placed is tracked (a quarter module's move there
// changes a digit's fit too little to tell a bent grid from a wrong pattern: 1 and 7, 2 and 8
// differ only by a module's shift of one edge).
constexpr double kMinTrackedDigitScore = 0.85;
constexpr int kTrackedBlurBelow = static_cast<int>(kSigmas.size()) - 1;
constexpr int kQuietModules = 1;         // light a guard's fit takes in beyond the symbol (photographs crop close)

// First digit of an EAN-13 by the parities of its left half (bit 5 the first digit, 1 = G).
constexpr int kFirstDigitParity[10] = {0x00, 0x0B, 0x0D, 0x0E, 0x13, 0x19, 0x1C, 0x15, 0x16, 0x1A};

double normalCdf(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

// The darkness (1 = bar) at module coordinate x of modules v[0..n) placed at first, first + 1, ...,
// drawn through a Gaussian blur of sigma modules; nothing is dark outside them.
double blurred(const double* v, int n, int first, double x, double sigma) {
  double d = 0;
  for (int m = 0; m < n; ++m) {
    const double lo = first + m, hi = lo + 1;
    if (hi < x - 4 * sigma || lo > x + 4 * sigma) continue;
    d += v[m] * (normalCdf((hi - x) / sigma) - normalCdf((lo - x) / sigma));
  }
  return d;
}

// Module darkness of the 7 modules of pattern index (kEanDigits: 0..9 L, 10..19 G), starting
// with a bar when firstIsBar (the right half's codes).
std::array<double, 7> digitModules(int index, bool firstIsBar) {
  std::array<double, 7> m{};
  int at = 0;
  for (int k = 0; k < 4; ++k)
    for (int r = 0; r < kEanDigits[index][k] - '0' && at < 7; ++r) m[at++] = (k % 2 == 1) != firstIsBar ? 1 : 0;
  return m;
}

// The guards' windows: the start guard with kQuietModules of light before it and the first
// digit's space after it, the end guard the same way round, the centre guard with the bars of the
// digits either side.
constexpr int kEndGuardModules = 4 + kQuietModules, kCentreGuardModules = 7;
constexpr double kStartGuard[] = {0, 0, 0, 0, 1, 0, 1, 0};  // modules -4..3
constexpr double kEndGuard[] = {0, 1, 0, 1, 0, 0, 0, 0};    // modules m - 4 .. m + 3
constexpr double kCentreGuard[] = {1, 0, 1, 0, 1, 0, 1};    // modules c - 1 .. c + 5

// A rendering made ready for fits: its mean taken off and scaled to unit length, so that its
// correlation with grey o is a dot product with o over o's own spread (the mean of o drops out
// against a rendering of zero mean). A flat rendering stays all zeros and fits nothing.
void normalise(double* t, int n) {
  double mean = 0;
  for (int k = 0; k < n; ++k) mean += t[k];
  mean /= n;
  double tt = 0;
  for (int k = 0; k < n; ++k) tt += (t[k] - mean) * (t[k] - mean);
  const double scale = tt > 1e-9 ? 1 / std::sqrt(tt) : 0;
  for (int k = 0; k < n; ++k) t[k] = (t[k] - mean) * scale;
}

// The spread of grey o about its mean (the length of o - mean).
double spread(const double* o, int n) {
  double so = 0;
  for (int k = 0; k < n; ++k) so += o[k];
  so /= n;
  double oo = 0;
  for (int k = 0; k < n; ++k) oo += (o[k] - so) * (o[k] - so);
  return std::sqrt(oo);
}

// Minus the correlation of grey o (of the given spread) with a normalised darkness rendering t
// (bars dark): 1 a perfect fit, 0 none.
double fit(const double* o, double oSpread, const double* t, int n) {
  if (!(oSpread > 1e-9)) return 0;
  double ot = 0;
  for (int k = 0; k < n; ++k) ot += o[k] * t[k];
  return -ot / oSpread;
}

// Renderings of every digit pattern and of the guards at every blur, sampled kSamplesPerModule
// times a module: the modules beside a digit are a bar and a space as the symbol's structure puts
// them (a left-half digit follows a bar and is followed by a space, a right-half one the other way
// round), the next ones grey.
struct Renderings {
  // [blur][half: 0 left, 1 right][pattern 0..19][sample]
  double t[kSigmas.size()][2][20][kDigitSamples];
  double start[kSigmas.size()][kEndGuardModules * kSamplesPerModule];
  double end[kSigmas.size()][kEndGuardModules * kSamplesPerModule];
  double centre[kSigmas.size()][kCentreGuardModules * kSamplesPerModule];
  // The digits' again, sample by sample, the patterns side by side (as readDigit sums them).
  double tBySample[kSigmas.size()][2][kDigitSamples][20];
  // The end guards' again, sample by sample, the blurs side by side (as guardFits sums them).
  double startBySample[kEndGuardModules * kSamplesPerModule][kSigmas.size()];
  double endBySample[kEndGuardModules * kSamplesPerModule][kSigmas.size()];
  Renderings() {
    for (size_t s = 0; s < kSigmas.size(); ++s) {
      const double sigma = kSigmas[s];
      for (int half = 0; half < 2; ++half)
        for (int p = 0; p < 20; ++p) {
          const std::array<double, 7> d = digitModules(p, half == 1);
          const double before = half == 0 ? 1 : 0, after = half == 0 ? 0 : 1;
          const double v[11] = {0.5, before, d[0], d[1], d[2], d[3], d[4], d[5], d[6], after, 0.5};
          for (int k = 0; k < kDigitSamples; ++k) t[s][half][p][k] = blurred(v, 11, -2, (k + 0.5) / kSamplesPerModule, sigma);
        }
      // Placed with the window's first module at 0.
      for (int k = 0; k < kEndGuardModules * kSamplesPerModule; ++k) {
        const double x = (k + 0.5) / kSamplesPerModule;
        start[s][k] = blurred(kStartGuard + 3 - kQuietModules, 5 + kQuietModules, -1, x, sigma);
        end[s][k] = blurred(kEndGuard, 5 + kQuietModules, 0, x, sigma);
      }
      for (int k = 0; k < kCentreGuardModules * kSamplesPerModule; ++k)
        centre[s][k] = blurred(kCentreGuard, 7, 0, (k + 0.5) / kSamplesPerModule, sigma);
      for (int half = 0; half < 2; ++half)
        for (int p = 0; p < 20; ++p) {
          normalise(t[s][half][p], kDigitSamples);
          for (int k = 0; k < kDigitSamples; ++k) tBySample[s][half][k][p] = t[s][half][p][k];
        }
      normalise(start[s], kEndGuardModules * kSamplesPerModule);
      normalise(end[s], kEndGuardModules * kSamplesPerModule);
      normalise(centre[s], kCentreGuardModules * kSamplesPerModule);
      for (int k = 0; k < kEndGuardModules * kSamplesPerModule; ++k) {
        startBySample[k][s] = start[s][k];
        endBySample[k][s] = end[s][k];
      }
    }
  }
};

const Renderings& renderings() {
  static const Renderings r;
  return r;
}

// The symbol's grid on the profile: module coordinate to sample, piecewise linear through the
// start, the centre guard's middle and the end.
struct Grid {
  const std::vector<double>* profile;
  Layout layout;
  double start, centre, end;
  double at(double u) const {
    const double c = layout.centre();
    return u <= c ? start + (centre - start) * u / c : centre + (end - centre) * (u - c) / (layout.modules - c);
  }
  // The profile at sample x, clamped to the line and interpolated.
  static double greyAtSample(const double* p, int size, double x) {
    x = std::clamp(x, 0.0, static_cast<double>(size - 1));
    const int i = std::min(static_cast<int>(x), size - 2);
    return p[i] + (x - i) * (p[i + 1] - p[i]);
  }
  double grey(double u) const { return greyAtSample(profile->data(), static_cast<int>(profile->size()), at(u)); }
  // The grey over modules [from, from + count), kSamplesPerModule samples a module. A window
  // wholly on one side of the centre (the guards', the digits') takes that side's slope for all
  // its samples, with at()'s very sums; the grid is read into locals first, as the samples'
  // stores might otherwise be its doubles for all the compiler knows.
  void sample(double from, int count, double* out) const {
    const int n = count * kSamplesPerModule;
    const double c = layout.centre(), rest = layout.modules - c;
    const double* p = profile->data();
    const int size = static_cast<int>(profile->size());
    if (from + count <= c) {
      const double base = start, span = centre - start;
      for (int k = 0; k < n; ++k) {
        const double u = from + (k + 0.5) / kSamplesPerModule;
        out[k] = greyAtSample(p, size, base + span * u / c);
      }
    } else if (from > c) {
      const double base = centre, span = end - centre;
      for (int k = 0; k < n; ++k) {
        const double u = from + (k + 0.5) / kSamplesPerModule;
        out[k] = greyAtSample(p, size, base + span * (u - c) / rest);
      }
    } else {
      for (int k = 0; k < n; ++k) out[k] = grey(from + (k + 0.5) / kSamplesPerModule);
    }
  }
};

// How well a rendering of count modules fits the grid from module `from`.
double windowFit(const Grid& g, double from, int count, const double* rendering) {
  double o[kCentreGuardModules * kSamplesPerModule];
  g.sample(from, count, o);
  return fit(o, spread(o, count * kSamplesPerModule), rendering, count * kSamplesPerModule);
}

constexpr int kGuardSamples = kEndGuardModules * kSamplesPerModule;
using GuardRenderings = double[kGuardSamples][kSigmas.size()];

// One end guard's window from module `from`, with the quiet light beyond it and the digit's
// known first modules, fitted at every blur: fits[s] for kSigmas[s]. The grey is sampled once
// for all, and the blurs' sums run side by side (each in its own order, so each fit comes out
// as it would alone).
void guardFits(const Grid& g, double from, const GuardRenderings& rendering, double* fits) {
  double o[kGuardSamples];
  g.sample(from, kEndGuardModules, o);
  const double oSpread = spread(o, kGuardSamples);
  if (!(oSpread > 1e-9)) {
    std::fill(fits, fits + kSigmas.size(), 0.0);
    return;
  }
  double ot[kSigmas.size()] = {};
  for (int k = 0; k < kGuardSamples; ++k)
    for (size_t s = 0; s < kSigmas.size(); ++s) ot[s] += o[k] * rendering[k][s];
  for (size_t s = 0; s < kSigmas.size(); ++s) fits[s] = -ot[s] / oSpread;
}

// The two end guards at every blur, the worse of the two: fits[s] for kSigmas[s].
void endGuardsFits(const Grid& g, double* fits) {
  const Renderings& r = renderings();
  double left[kSigmas.size()], right[kSigmas.size()];
  guardFits(g, -kQuietModules, r.startBySample, left);
  guardFits(g, g.layout.modules - 4, r.endBySample, right);
  for (size_t s = 0; s < kSigmas.size(); ++s) fits[s] = std::min(left[s], right[s]);
}

double centreGuardFit(const Grid& g, int sigma) {
  const int c = 3 + 7 * g.layout.left;
  return windowFit(g, c - 1, kCentreGuardModules, renderings().centre[sigma]);
}

struct DigitChoice {
  int best = -1, second = -1;
  double bestScore = 0, secondScore = 0;
};

// The sums of grey o times each of the first `patterns` digit renderings given sample by sample,
// side by side (each in its own order, so each comes out as fit's would).
template <int kPatterns>
void digitSums(const double* o, const double (&bySample)[kDigitSamples][20], double* ot) {
  for (int p = 0; p < kPatterns; ++p) ot[p] = 0;
  for (int k = 0; k < kDigitSamples; ++k)
    for (int p = 0; p < kPatterns; ++p) ot[p] += o[k] * bySample[k][p];
}

DigitChoice readDigit(const Grid& g, double module, bool right, int sigma) {
  double o[kDigitSamples];
  g.sample(module, 7, o);
  const Renderings& r = renderings();
  DigitChoice c;
  const int patterns = right ? 10 : 20;
  const double oSpread = spread(o, kDigitSamples);
  if (!(oSpread > 1e-9)) return c;  // flat: every fit 0, no pattern chosen
  double ot[20];
  if (patterns == 10) digitSums<10>(o, r.tBySample[sigma][right ? 1 : 0], ot);
  else digitSums<20>(o, r.tBySample[sigma][right ? 1 : 0], ot);
  for (int p = 0; p < patterns; ++p) {
    const double s = -ot[p] / oSpread;
    if (s > c.bestScore) {
      c.second = c.best;
      c.secondScore = c.bestScore;
      c.best = p;
      c.bestScore = s;
    } else if (s > c.secondScore) {
      c.second = p;
      c.secondScore = s;
    }
  }
  return c;
}

// The digits (and their parities) of every combination of candidates that passes the checks;
// true when exactly one does.
bool uniqueValid(const std::vector<std::vector<int>>& candidates, const Layout& layout, std::string& text) {
  std::vector<size_t> choice(candidates.size(), 0);
  int valid = 0;
  while (true) {
    std::string digits;
    int parity = 0;
    for (size_t i = 0; i < candidates.size(); ++i) {
      const int p = candidates[i][choice[i]];
      digits.push_back(static_cast<char>('0' + p % 10));
      if (static_cast<int>(i) < layout.left) parity = parity << 1 | (p >= 10 ? 1 : 0);
    }
    if (layout.upce) {
      const std::string upce = upceFromParities(digits, parity);
      if (!upce.empty()) {
        ++valid;
        text = upce;
      }
    } else {
      const int* first = std::find(kFirstDigitParity, kFirstDigitParity + 10, parity);
      if (first != kFirstDigitParity + 10) digits.insert(digits.begin(), static_cast<char>('0' + (first - kFirstDigitParity)));
      if (digits.size() == 13 && eanCheckOk(digits)) {
        ++valid;
        text = digits;
      }
    }
    size_t i = 0;
    while (i < choice.size() && ++choice[i] == candidates[i].size()) choice[i++] = 0;
    if (i == choice.size()) break;
  }
  return valid == 1;
}

// The centre guard's place when blur has flattened it (or it fits nowhere): within reach modules
// of the ends' midpoint, where the digits fit best, the worst of them counting. Each digit's seven
// modules and their blurred neighbours still carry most of their pattern, and a grid a module off
// turns some of them to no pattern at all; the parities and the check digit still decide the
// text. worstFit receives the chosen place's worst digit's fit. A place where one digit fits below
// kMinDigitScore reads nothing, so its other digits are not read: where the guards fit by chance
// (text, clutter) every place fails at its first digits.
double centreByDigits(Grid& g, double middle, double module, int sigma, double reach, double* worstFit) {
  double bestWorst = -1, centre = middle;
  for (double dc = -reach; dc <= reach + 0.01; dc += 0.25) {
    g.centre = middle + dc * module;
    double worst = 1;
    for (int i = 0; i < g.layout.digits() && worst > bestWorst && worst >= kMinDigitScore; ++i) {
      const bool right = i >= g.layout.left;
      const int at = right ? g.layout.rightDigit(i - g.layout.left) : g.layout.leftDigit(i);
      worst = std::min(worst, readDigit(g, at, right, sigma).bestScore);
    }
    if (worst > bestWorst) bestWorst = worst, centre = g.centre;
  }
  *worstFit = bestWorst;
  return centre;
}

// Each digit's candidates on the grid, in the symbol's order: its best pattern, or its best two
// when they fit nearly alike; false when a digit fits no pattern well or more than maxUndecided
// stay undecided. With tracking (which asks each digit to fit better), a digit's window may lie
// a quarter module from where the one before it fitted best, the left half followed from the
// start guard and the right half from the end guard: a label curved round a can, or a lens,
// bends the grid away from the straight lines through the ends and the centre by a module and
// more, a little from digit to digit.
bool readDigits(const Grid& g, int sigma, int maxUndecided, bool tracking, std::vector<std::vector<int>>& candidates) {
  const Layout& layout = g.layout;
  candidates.assign(layout.digits(), {});
  int undecided = 0;
  double drift = 0;
  for (int i = 0; i < layout.digits(); ++i) {
    const bool right = i >= layout.left;
    if (i == layout.left) drift = 0;
    // Tracked, the right half runs from its last digit inwards.
    const int slot = right && tracking ? 2 * layout.left + layout.right - 1 - i : i;
    const int module = right ? layout.rightDigit(slot - layout.left) : layout.leftDigit(slot);
    DigitChoice c = readDigit(g, module + drift, right, sigma);
    if (tracking) {
      double chosen = drift;
      for (const double d : {drift - kDriftStep, drift + kDriftStep}) {
        if (std::fabs(d) > kMaxDrift + 1e-9) continue;
        const DigitChoice t = readDigit(g, module + d, right, sigma);
        if (t.bestScore > c.bestScore) c = t, chosen = d;
      }
      drift = chosen;
    }
    if (c.best < 0 || c.bestScore < (tracking ? kMinTrackedDigitScore : kMinDigitScore)) return false;
    if (c.bestScore - c.secondScore >= kDigitLead) {
      candidates[slot] = {c.best};
    } else {
      // A digit whose two patterns differ only by parity (an L and a G code of one value) leaves
      // the check digit to check: the parities' table alone decides between them, so it counts
      // as decided.
      // UPC-E's parities are its check, so a digit open in its parity alone is as undecided.
      if ((layout.upce || c.best % 10 != c.second % 10) && ++undecided > maxUndecided) return false;
      candidates[slot] = {c.best, c.second};
    }
  }
  return true;
}

// The grey range of samples from to to of p (indices rounded down, held to the profile; 0 for
// none).
double swing(const std::vector<double>& p, double from, double to) {
  const int n = static_cast<int>(p.size());
  double lo = 1e9, hi = -1e9;
  for (int i = std::max(0, static_cast<int>(from)); i <= std::min(n - 1, static_cast<int>(to)); ++i) {
    lo = std::min(lo, p[i]);
    hi = std::max(hi, p[i]);
  }
  return hi >= lo ? hi - lo : 0.0;
}

// Whether the light beside the symbol (from 1.5 to 4 modules out, where its guards' blur has
// faded) is quiet: a grid that fits part of a longer symbol has bars there. The line's own ends
// count as quiet (a photograph cropped close to the bars).
bool quietBeside(const std::vector<double>& p, double start, double end, double module) {
  const double symbol = swing(p, start, end);
  return swing(p, start - 4 * module, start - 1.5 * module) < kMaxQuietSwing * symbol &&
         swing(p, end + 1.5 * module, end + 4 * module) < kMaxQuietSwing * symbol;
}

// How far the search for the guards moves each end, in modules (a little more, for the steps'
// rounding).
constexpr double kEndReach = 0.45;

// Whether quietBeside may still hold once the ends have moved by up to kEndReach modules: every
// window it can take beside the symbol holds the light from 1.5 + kEndReach to 4 - kEndReach
// modules out of the ends as they lie, and no symbol range it can take exceeds the range over the
// ends moved out by kEndReach. Where these already fail, so will the check, and the search for
// the guards is spared (most pairs of ends on clutter fail here).
bool quietMayHold(const std::vector<double>& p, double start, double end, double module) {
  const double symbol = swing(p, start - kEndReach * module, end + kEndReach * module);
  const double near = 1.5 + kEndReach, far = 4 - kEndReach;
  return swing(p, start - far * module, start - near * module) < kMaxQuietSwing * symbol &&
         swing(p, end + near * module, end + far * module) < kMaxQuietSwing * symbol;
}

}  // namespace

namespace eangrid {

bool readLayout(const std::vector<double>& profile, double start, double end, const Layout& layout, GridRead& out) {
  const double module = (end - start) / layout.modules;
  if (!(module >= 1.5) || start < 0 || end > static_cast<double>(profile.size())) return false;
  if (!quietMayHold(profile, start, end, module)) return false;
  // The ends and the blur the end guards fit best, then the centre guard's place.
  Grid g{&profile, layout, start, 0.5 * (start + end), end};
  const Renderings& rendered = renderings();
  double best = -1;
  int sigma = 0;
  double bestStart = start, bestEnd = end;
  for (double ds = -0.4; ds <= 0.41; ds += 0.2)
    for (double de = -0.4; de <= 0.41; de += 0.2) {
      g.start = start + ds * module;
      g.end = end + de * module;
      g.centre = 0.5 * (g.start + g.end);
      // A place's fit is the worse of its two guards': where the start guard alone already fits
      // too poorly to pass, or no better than the best place so far, the end guard cannot make
      // this place the one kept, and is not sampled (most lines hold no EAN at all).
      double left[kSigmas.size()];
      guardFits(g, -kQuietModules, rendered.startBySample, left);
      bool promising = false;
      for (double f : left) promising = promising || (f >= kMinGuardScore && f > best);
      if (!promising) continue;
      double right[kSigmas.size()];
      guardFits(g, layout.modules - 4, rendered.endBySample, right);
      for (int s = 0; s < static_cast<int>(kSigmas.size()); ++s) {
        const double f = std::min(left[s], right[s]);
        if (f > best) best = f, sigma = s, bestStart = g.start, bestEnd = g.end;
      }
    }
  if (best < kMinGuardScore || !quietBeside(profile, bestStart, bestEnd, module)) return false;
  g.start = bestStart;
  g.end = bestEnd;
  const double middle = 0.5 * (g.start + g.end);
  g.centre = middle;
  std::vector<std::vector<int>> candidates;
  std::string digits;
  if (layout.upce) {
    // No centre guard to place: one straight grid from end to end.
    if (sigma > kMaxBlurUpcE) return false;
    if (!(readDigits(g, sigma, kMaxUndecidedUpcE, false, candidates) && uniqueValid(candidates, layout, digits)) &&
        !(sigma < kTrackedBlurBelow && readDigits(g, sigma, kMaxUndecidedUpcE, true, candidates) &&
          uniqueValid(candidates, layout, digits)))
      return false;
    out.read = Read{};
    out.read.symbology = Symbology::upce;
    out.read.text = digits;
    out.read.identifier = "]E0";
    out.read.checked = true;
    out.start = g.start;
    out.end = g.end;
    return true;
  }
  double centreFit = -1, centre = middle;
  // The centre guard's bars repeat every two modules, as do many digits' beside it: a search
  // wider than a module either way finds a guard two modules off as often as the real one.
  auto placeCentre = [&](int blur, double from, double to) {
    for (double dc = from; dc <= to + 0.01; dc += 0.25) {
      g.centre = middle + dc * module;
      const double f = centreGuardFit(g, blur);
      if (f > centreFit) centreFit = f, centre = g.centre;
    }
  };
  placeCentre(sigma, -kCentreReach, kCentreReach);
  // The blur the end guards chose is a coarse guess (their fits change little from one blur to
  // the next, and a lens focused on the label's middle blurs its ends more), while the centre
  // guard's single modules lose their ripple fast as the blur grows: where it does not fit at
  // that blur, it is fitted at the sharper ones, up to the last that keeps its bars.
  for (int sharper = std::min(sigma, kCentreGuardBlurredFrom) - 1; sharper >= 0 && centreFit < kMinGuardScore; --sharper)
    placeCentre(sharper, -kCentreReach, kCentreReach);
  // A label seen at an angle has the wider modules in its nearer half, and a small symbol's
  // centre guard then lies more than a module off the ends' midpoint (a module and a half on a
  // UPC-A of 1.6 px modules, its halves' modules 6% apart). Where no guard fits within a module,
  // it is looked for out to kFarCentreReach, at the blurs that keep its bars: there a guard two
  // modules off the real one can fit, but its digits do not, and the check refuses them.
  for (int blur = std::min(sigma, kCentreGuardBlurredFrom - 1); blur >= 0 && centreFit < kMinGuardScore; --blur) {
    placeCentre(blur, -kFarCentreReach, -kCentreReach - 0.25);
    placeCentre(blur, kCentreReach + 0.25, kFarCentreReach);
  }
  int maxUndecided = kMaxUndecided;
  const bool centredByDigits = centreFit < kMinGuardScore;
  if (centredByDigits) {
    const bool sharp = sigma < kCentreGuardBlurredFrom;
    double worstFit = -1;
    centre = centreByDigits(g, middle, module, sigma, sharp ? kFarCentreReach : kCentreReach, &worstFit);
    if (worstFit < kMinDigitScore) return false;  // some digit fits no pattern well there
    maxUndecided = sharp ? kMaxUndecidedSharpByDigits : kMaxUndecidedCentreByDigits;
  }
  g.centre = centre;
  if (!(readDigits(g, sigma, maxUndecided, false, candidates) && uniqueValid(candidates, layout, digits)) &&
      !(sigma < kTrackedBlurBelow && !centredByDigits && readDigits(g, sigma, maxUndecided, true, candidates) &&
        uniqueValid(candidates, layout, digits)))
    return false;
  Read& r = out.read;
  r = Read{};
  r.symbology = digits[0] == '0' ? Symbology::upca : Symbology::ean13;
  r.text = r.symbology == Symbology::upca ? digits.substr(1) : digits;
  r.identifier = "]E0";
  r.checked = true;
  out.start = g.start;
  out.end = g.end;
  return true;
}

double endsFit(const std::vector<double>& profile, double start, double end, const Layout& layout) {
  const Grid g{&profile, layout, start, 0.5 * (start + end), end};
  double fits[kSigmas.size()];
  endGuardsFits(g, fits);
  double f = -1;
  for (int k = 0; k < (layout.upce ? kMaxBlurUpcE + 1 : static_cast<int>(kSigmas.size())); ++k) f = std::max(f, fits[k]);
  return f;
}

}  // namespace eangrid

bool readEanOnGrid(const std::vector<double>& profile, double start, double end, GridRead& out) {
  if (profile.size() < 8 || !(end > start)) return false;
  return eangrid::readLayout(profile, start, end, eangrid::kEan13, out);
}

}  // namespace oned
