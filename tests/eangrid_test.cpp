// EAN-13, UPC-A and UPC-E read on the module grid from grey profiles drawn from libzint's bars
// through a Gaussian blur of a quarter to most of a module (past the centre guard's bars), under
// uneven light, noise and a grid bent as a curved label bends it; what must not read: swapped
// digits, an EAN-8, the bars of other symbologies, a grid placed off the symbol.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "reader/oned/eangrid.hpp"
#include "scenes/scene_1d.hpp"

namespace {

using scene::Barcode1d;

struct Drawn {
  std::vector<double> profile;
  std::vector<double> dark, light;  // edges where the bars start and end, samples
  double start = 0, end = 0;        // the first bar's start and the last bar's end, samples
};

// The bars' modules (1 dark) between quiet zones of `quiet` modules, `samples` a module, blurred
// by sigma modules, dark 40 and light 200 scaled by a light falling off to `falloff` at the far end,
// plus noise of `noise` grey levels. bend moves the bars along the line by up to that many modules
// in the middle of each half of a 95-module symbol (none at its ends and centre), a sine's swing.
// endSigma, when given, is the blur at the symbol's ends, sigma the one at its centre, the blur
// changing evenly between (a lens focused on the middle of a label held at an angle, or on its
// ends). shift moves the bars' middle that many modules along the line, the ends staying (a label
// seen at an angle: the nearer half's modules are wider).
Drawn draw(const std::vector<int>& modules, double samples, double sigma, double falloff, double noise,
           scene::Random& rng, int quiet = 10, double bend = 0, double endSigma = 0, double shift = 0) {
  Drawn d;
  const int total = static_cast<int>(modules.size()) + 2 * quiet;
  const int n = static_cast<int>(total * samples);
  auto darkAt = [&](double u) {  // u in modules from the quiet zone's start
    u -= bend * std::sin(2 * 3.14159265358979 * (u - quiet) / 95);
    const double t = std::clamp((u - quiet) / static_cast<double>(modules.size()), 0.0, 1.0);
    u -= 4 * shift * t * (1 - t);
    const double half = 0.5 * static_cast<double>(modules.size());
    const double blur = endSigma > 0 ? sigma + (endSigma - sigma) * std::min(1.0, std::fabs(u - quiet - half) / half) : sigma;
    double v = 0;
    for (int m = 0; m < static_cast<int>(modules.size()); ++m) {
      if (!modules[m]) continue;
      const double lo = quiet + m, hi = lo + 1;
      v += 0.5 * (std::erf((hi - u) / (blur * std::sqrt(2.0))) - std::erf((lo - u) / (blur * std::sqrt(2.0))));
    }
    return v;
  };
  for (int i = 0; i < n; ++i) {
    const double u = (i + 0.5) / samples, light = 1 - (1 - falloff) * i / n;
    d.profile.push_back(light * (200 - 160 * darkAt(u)) + rng.uniform(-noise, noise));
  }
  for (int m = 0; m <= static_cast<int>(modules.size()); ++m) {
    const int before = m > 0 ? modules[m - 1] : 0, here = m < static_cast<int>(modules.size()) ? modules[m] : 0;
    if (before != here) (here ? d.dark : d.light).push_back((quiet + m) * samples - 0.5);
  }
  d.start = d.dark.front();
  d.end = d.light.back();
  return d;
}

std::vector<int> modulesOf(const scene::Encoded1d& code) {
  std::vector<int> m;
  for (int c = 0; c < code.bars.cols; ++c) m.push_back(code.bars.isDark(0, c) ? 1 : 0);
  return m;
}

TEST(EanGrid, BlurredProfilesReadAndOthersDoNot) {
  scene::Random rng(424242);
  constexpr int kTrials = 12;
  struct Case {
    Barcode1d kind;
    double samples, sigma, falloff, noise;
    int minReads;  // of the trials, each way along the line; 0: nothing may be read (never another text)
    double bend = 0;
    int trials = kTrials;
    double endSigma = 0, shift = 0;
  } cases[] = {
      {Barcode1d::ean13, 4, 0.3, 1.0, 0, kTrials},  {Barcode1d::ean13, 3, 0.6, 0.7, 4, kTrials},
      {Barcode1d::ean13, 6, 0.6, 0.7, 3, kTrials},  {Barcode1d::upca, 3, 0.5, 0.8, 3, kTrials},
      {Barcode1d::upca, 2.5, 0.5, 0.7, 2, kTrials}, {Barcode1d::ean13AddOn, 4, 0.6, 0.9, 3, kTrials},
      // A grid bent by most of a module, and a blur past the centre guard's bars (the digits then
      // place the centre): not every line reads, but at least half and over a third of them.
      {Barcode1d::upca, 4, 0.4, 0.9, 2, kTrials / 2, 0.9},
      {Barcode1d::ean13, 4, 0.75, 0.8, 2, 5 * kTrials / 4, 0, 3 * kTrials},
      // Sharper at the centre than at the ends: the end guards fit a blur the centre guard's
      // single modules do not have.
      {Barcode1d::upca, 3, 0.45, 0.9, 2, kTrials, 0, 2 * kTrials, 0.85},
      // The centre guard a module and a half off the ends' midpoint.
      {Barcode1d::upca, 3, 0.4, 0.9, 2, kTrials / 2, 0, kTrials, 0, 1.5},
      {Barcode1d::ean13, 4, 0.4, 0.9, 2, kTrials / 2, 0, kTrials, 0, -1.75},
      // Blurrier at the centre than at the ends, and the centre moved: at the ends' blur the
      // centre guard fits nowhere, and the digits place it.
      {Barcode1d::upca, 3, 0.75, 0.9, 2, 10, 0, 2 * kTrials, 0.5, 1.75},
      {Barcode1d::ean13, 4, 0.75, 0.9, 2, 10, 0, 2 * kTrials, 0.45, -1.75},
      // UPC-E of 1.2-pixel modules on half-pixel samples, blurred past the edges of its single
      // modules, and sharper at more samples.
      {Barcode1d::upce, 2.4, 0.5, 0.9, 2, kTrials - 1}, {Barcode1d::upce, 2.4, 0.65, 0.8, 3, kTrials - 2},
      {Barcode1d::upce, 4, 0.3, 1.0, 1, kTrials},
      {Barcode1d::ean8, 4, 0.5, 1.0, 0, 0},         {Barcode1d::code128, 3, 0.5, 1.0, 2, 0},
      {Barcode1d::itf, 3, 0.5, 1.0, 2, 0},          {Barcode1d::databar, 3, 0.5, 1.0, 2, 0},
  };
  for (const Case& c : cases) {
    const std::string label = std::string(scene::barcodeName(c.kind)) + " sigma " + std::to_string(c.sigma) +
                              " bend " + std::to_string(c.bend) + " at the ends " + std::to_string(c.endSigma) + " centre moved " + std::to_string(c.shift);
    int forward = 0, backward = 0;
    for (int trial = 0; trial < c.trials; ++trial) {
      const scene::Encoded1d code = scene::encode1d(c.kind, scene::randomData1d(rng, c.kind), 1);
      const Drawn d =
          draw(modulesOf(code), c.samples, c.sigma, c.falloff, c.noise, rng, 10, c.bend, c.endSigma, c.shift);
      const std::vector<oned::GridRead> reads = oned::readEanOnGrid(d.profile, d.dark, d.light);
      for (const oned::GridRead& r : reads) EXPECT_EQ(r.read.text, code.text) << label;
      if (c.minReads == 0) {
        EXPECT_TRUE(reads.empty()) << label << " read " << reads[0].read.text;
        continue;
      }
      EXPECT_LE(reads.size(), 1u) << label;
      if (reads.size() == 1) {
        ++forward;
        EXPECT_NEAR(reads[0].start, d.start, 0.5 * c.samples) << label;
        // The symbol's end (an add-on after it is not part of the grid).
        const double symbolModules = c.kind == Barcode1d::upce ? 51 : 95;
        EXPECT_NEAR(reads[0].end, d.start + symbolModules * c.samples, 0.5 * c.samples) << label;
      }
      // The same profile backwards reads the same text, reversed.
      const std::vector<double> back(d.profile.rbegin(), d.profile.rend());
      std::vector<double> dark, light;
      const double n = static_cast<double>(d.profile.size());
      for (double e : d.light) dark.push_back(n - 1 - e);
      for (double e : d.dark) light.push_back(n - 1 - e);
      for (const oned::GridRead& r : oned::readEanOnGrid(back, dark, light)) {
        EXPECT_EQ(r.read.text, code.text) << label << " backwards";
        EXPECT_TRUE(r.read.reversed);
        backward += r.read.text == code.text ? 1 : 0;
      }
    }
    EXPECT_GE(forward, c.minReads) << label;
    EXPECT_GE(backward, c.minReads) << label << " backwards";
  }
}

// Bars of random widths (one to four modules each, as clutter and the bars of other symbologies
// give), blurred as the photographs blur: neither an EAN/UPC nor the shorter UPC-E may be read.
TEST(EanGrid, RandomBarsReadNothing) {
  scene::Random rng(9191);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<int> modules;
    const int count = rng.uniformInt(40, 110);
    for (int bar = 1; static_cast<int>(modules.size()) < count; bar ^= 1)
      modules.insert(modules.end(), static_cast<size_t>(rng.uniformInt(1, 4)), bar);
    if (modules.back() == 0) modules.pop_back();
    const double sigma = 0.3 + 0.15 * (trial % 5), samples = 2.4 + 0.4 * (trial % 4);
    const Drawn d = draw(modules, samples, sigma, 0.9, 2, rng);
    for (const oned::GridRead& r : oned::readEanOnGrid(d.profile, d.dark, d.light))
      ADD_FAILURE() << "random bars, blur " << sigma << " module, read as " << r.read.text;
  }
}

// Two neighbouring digits of different value swapped keep every guard and parity in place for
// UPC-A; the check digit must refuse the line. A grid half a symbol off reads nothing either.
TEST(EanGrid, SwappedDigitsAndMisplacedGridsReadNothing) {
  scene::Random rng(77);
  int refused = 0, tried = 0;
  for (int trial = 0; trial < 40; ++trial) {
    const scene::Encoded1d code = scene::encode1d(Barcode1d::upca, scene::randomData1d(rng, Barcode1d::upca), 1);
    std::vector<int> modules = modulesOf(code);
    const int a = 1 + trial % 4;  // digits a and a + 1 of the left half
    if (std::abs(code.text[a] - code.text[a + 1]) % 5 == 0) continue;
    std::swap_ranges(modules.begin() + 3 + 7 * a, modules.begin() + 10 + 7 * a, modules.begin() + 10 + 7 * a);
    // Every other one blurred past its centre guard's bars, where the digits place the centre.
    const Drawn d = draw(modules, 4, trial % 2 ? 0.9 : 0.5, 0.9, 2, rng);
    ++tried;
    const std::vector<oned::GridRead> reads = oned::readEanOnGrid(d.profile, d.dark, d.light);
    refused += reads.empty() ? 1 : 0;
    for (const oned::GridRead& r : reads) EXPECT_EQ(r.read.text, code.text) << "digits " << a << " swapped";
  }
  EXPECT_EQ(refused, tried);
  EXPECT_GT(tried, 20);

  for (int trial = 0; trial < 20; ++trial) {
    const scene::Encoded1d code = scene::encode1d(Barcode1d::ean13, scene::randomData1d(rng, Barcode1d::ean13), 1);
    const double samples = 4;
    const Drawn d = draw(modulesOf(code), samples, 0.5, 1.0, 1, rng);
    oned::GridRead r;
    EXPECT_TRUE(oned::readEanOnGrid(d.profile, d.start, d.end, r));
    EXPECT_EQ(r.read.text, code.text);
    for (const auto& [ds, de] : {std::pair{7.0, 7.0}, std::pair{-7.0, -7.0}, std::pair{0.0, -14.0}, std::pair{3.0, 3.0}})
      EXPECT_FALSE(oned::readEanOnGrid(d.profile, d.start + ds * samples, d.end + de * samples, r))
          << code.text << " grid moved " << ds << ", " << de << " modules read " << r.read.text;
  }
}

}  // namespace
