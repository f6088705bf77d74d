// The PDF417 road's pattern lines: runs along a line of grey levels, the start and stop patterns
// among them either way and in either polarity, with and without a quiet zone at the line's end;
// and the lines over rendered symbols at angles from square to the pixels to 45 degrees off.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "reader/pdf417/pdfpattern.hpp"
#include "scenes/scene_pdf.hpp"

namespace {

const std::vector<double> kStart = {8, 1, 1, 1, 1, 1, 1, 3};
const std::vector<double> kStop = {7, 1, 1, 3, 1, 1, 1, 2, 1};
// A row indicator's worth of data after the start pattern (and before the stop pattern).
const std::vector<double> kWord = {3, 1, 1, 1, 4, 1, 1, 5};

// Quiet zone, the pattern and a word (the word before the stop pattern), quiet zone, in reading
// order; bars and spaces take turns from the pattern's or word's first bar.
std::vector<std::pair<double, bool>> patternElements(bool stop, const std::vector<double>& pattern) {
  std::vector<std::pair<double, bool>> out{{10, false}};
  auto add = [&](const std::vector<double>& widths) {
    for (size_t i = 0; i < widths.size(); ++i) out.push_back({widths[i], i % 2 == 0});
  };
  if (stop) add(kWord);
  add(pattern);
  if (!stop) add(kWord);
  out.push_back({10, false});
  return out;
}

// One line: bars of two modules each end (when enclosed: the quiet zones then lie inside the
// line), `before` modules of space, the pattern (bar first, read forward) with a word, then
// `after` modules of space; each pixel the mean of the ink over it (dark 30, light 220), reversed
// when asked. Returns the line and, through edge, the pattern's outer edge in samples
// (pixel i spans [i - 0.5, i + 0.5)).
std::vector<uint8_t> line(bool stop, double module, double before, double after, bool reversed, bool lightBars,
                          double* edge, bool enclosed = false) {
  std::vector<std::pair<double, bool>> elements = patternElements(stop, stop ? kStop : kStart);  // modules, dark
  elements.front().first = before;
  elements.back().first = after;
  if (enclosed) {
    elements.insert(elements.begin(), {2, true});
    elements.push_back({2, true});
  }
  double total = 0;
  for (const auto& e : elements) total += e.first;
  const int n = static_cast<int>(std::ceil(total * module));
  std::vector<double> ink(static_cast<size_t>(n), 0.0);
  double x = 0;
  for (const auto& [width, dark] : elements) {
    const double from = x * module, to = (x + width) * module;
    if (dark)
      for (int i = static_cast<int>(from); i < n && i < to; ++i) ink[i] += std::min<double>(i + 1, to) - std::max<double>(i, from);
    x += width;
  }
  // Outer edge: the start pattern's first bar, or the stop pattern's last bar's end.
  const double lead = enclosed ? 2 : 0;
  const double outer = stop ? (total - lead - after) * module : (lead + before) * module;
  std::vector<uint8_t> out(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const double dark = std::clamp(ink[i], 0.0, 1.0);
    const double grey = lightBars ? 30 + 190 * dark : 220 - 190 * dark;
    out[reversed ? n - 1 - i : i] = static_cast<uint8_t>(std::lround(grey));
  }
  *edge = (reversed ? n - outer : outer) - 0.5;
  return out;
}

// Runs laid along a line from elements (width in modules, dark) given in reading order, back to
// front when reversed, 3 samples a module.
pdfroad::LineRuns runsFrom(std::vector<std::pair<double, bool>> elements, bool reversed) {
  if (reversed) std::reverse(elements.begin(), elements.end());
  pdfroad::LineRuns runs;
  float x = -0.5f;
  for (const auto& [width, dark] : elements) {
    runs.edges.push_back(x);
    runs.dark.push_back(dark ? 1 : 0);
    x += static_cast<float>(width * 3.0);
  }
  runs.edges.push_back(x);
  // Storage ending at the last edge: a read past it is one the sanitizers (and memcheck) see.
  runs.edges.shrink_to_fit();
  return runs;
}

// How many dark-bar matches of the pattern (start or stop) the runs give, read the given way.
int darkMatches(const pdfroad::LineRuns& runs, bool stop, bool reversed) {
  std::vector<pdfroad::LineMatch> matches;
  pdfroad::matchRuns(runs, &matches);
  return static_cast<int>(std::count_if(matches.begin(), matches.end(), [&](const pdfroad::LineMatch& m) {
    return m.stop == stop && m.reversed == reversed && !m.lightBars;
  }));
}

std::vector<pdfroad::LineMatch> matchesOf(const std::vector<uint8_t>& samples) {
  pdfroad::LineRuns runs;
  pdfroad::runsOf(samples.data(), static_cast<int>(samples.size()), 12, &runs);
  std::vector<pdfroad::LineMatch> matches;
  pdfroad::matchRuns(runs, &matches);
  return matches;
}

}  // namespace

TEST(PatternRuns, EachPatternEitherWayEitherPolarityWithOrWithoutQuietZone) {
  const struct {
    const char* what;
    bool stop;
    double module, before, after;
    bool reversed, lightBars;
    bool found, atBorder;
    bool enclosed = false;
  } cases[] = {
      {"start, quiet zone both sides", false, 2.0, 4, 4, false, false, true, false},
      {"start read backwards", false, 2.0, 4, 4, true, false, true, false},
      {"start, light bars", false, 2.0, 4, 4, false, true, true, false},
      {"start, light bars, backwards", false, 3.0, 4, 4, true, true, true, false},
      {"start, one-pixel modules", false, 1.0, 4, 4, false, false, true, false},
      {"start, large modules", false, 8.0, 3, 3, false, false, true, false},
      {"start, one module of quiet zone", false, 2.0, 1, 4, false, false, true, false},
      {"start at the line's very end", false, 2.0, 0, 4, false, false, true, true},
      {"start at the line's end, backwards", false, 2.0, 0, 4, true, false, true, true},
      {"start behind a sliver of quiet zone at the end", false, 2.0, 0.3, 4, false, false, true, false},
      {"start with half a module of space in the line", false, 2.0, 0.5, 4, false, false, false, false, true},
      {"start with a module of space in the line", false, 2.0, 1, 4, false, false, true, false, true},
      {"stop, quiet zone both sides", true, 2.0, 4, 4, false, false, true, false},
      {"stop read backwards", true, 2.0, 4, 4, true, false, true, false},
      {"stop, light bars, backwards", true, 1.5, 4, 4, true, true, true, false},
      {"stop at the line's very end", true, 2.0, 4, 0, false, false, true, true},
      {"stop with a module of space in the line", true, 2.0, 4, 1, false, false, false, false, true},
      {"stop with two modules of space in the line", true, 2.0, 4, 2, true, false, true, false, true},
  };
  for (const auto& c : cases) {
    double edge = 0;
    const std::vector<uint8_t> samples = line(c.stop, c.module, c.before, c.after, c.reversed, c.lightBars, &edge, c.enclosed);
    int found = 0;
    for (const pdfroad::LineMatch& m : matchesOf(samples)) {
      if (m.stop != c.stop || m.reversed != c.reversed || m.lightBars != c.lightBars) continue;
      ++found;
      EXPECT_NEAR(m.edge, edge, 0.5) << c.what;
      EXPECT_NEAR(m.module, c.module, 0.15 * c.module) << c.what;
      EXPECT_EQ(m.atBorder, c.atBorder) << c.what;
    }
    EXPECT_EQ(found, c.found ? 1 : 0) << c.what;
  }
}

// Data words hold bars of up to six modules: one such bar with the start pattern's narrow elements
// after it is no start pattern, nor a line without contrast anything.
TEST(PatternRuns, NoMatchWithoutThePattern) {
  double edge = 0;
  std::vector<uint8_t> samples = line(false, 2.0, 4, 4, false, false, &edge);
  // The wide bar cut to five modules: its first two modules turned to space.
  for (int i = 8; i < 8 + 6; ++i) samples[i] = 220;
  EXPECT_TRUE(matchesOf(samples).empty());
  EXPECT_TRUE(matchesOf(std::vector<uint8_t>(300, 128)).empty());
  pdfroad::LineRuns runs;
  pdfroad::runsOf(std::vector<uint8_t>(300, 128).data(), 300, 12, &runs);
  EXPECT_EQ(runs.count(), 0u);
}

// Patterns stretched to the edge of what the matching allows, as runs: the wide bar narrowed by
// most of its module and a half of slack and its two narrow neighbours widened by most of their
// half module (so the wide bar is barely three and a half times as wide), either way; and just past
// the slack, which no quick look may let through either.
TEST(PatternRuns, PatternsAtTheEdgeOfTheirSlack) {
  const struct {
    const char* what;
    bool stop;
    std::vector<double> elements;  // modules, bar first, in reading order
    bool found;
  } cases[] = {
      {"start, wide bar narrowed", false, {6.7, 1.5, 1.5, 1, 1, 1, 1, 3}, true},
      {"stop, wide bar narrowed", true, {5.4, 1.49, 1.49, 3, 1, 1, 1, 2, 1}, true},
      {"stop, wide bar narrowed too far", true, {5.2, 1.49, 1.49, 3, 1, 1, 1, 2, 1}, false},
      {"stop, narrow neighbour widened too far", true, {5.4, 1.49, 1.6, 3, 1, 1, 1, 2, 1}, false},
  };
  for (const auto& c : cases) {
    for (bool reversed : {false, true}) {
      EXPECT_EQ(darkMatches(runsFrom(patternElements(c.stop, c.elements), reversed), c.stop, reversed), c.found ? 1 : 0) << c.what << (reversed ? ", backwards" : "");
    }
  }
}

// Each pattern either way with 0 to 7 runs of two modules before it (after it when read
// backwards), so that its wide bar falls on every place of a group of four runs, at a line's first
// runs and at its last.
TEST(PatternRuns, PatternAtEveryPlaceAmongTheRuns) {
  for (bool isStop : {false, true}) {
    for (bool reversed : {false, true}) {
      for (int filler = 0; filler < 8; ++filler) {
        std::vector<std::pair<double, bool>> elements;
        for (int j = 0; j < filler; ++j) elements.push_back({2, (filler - 1 - j) % 2 == 0});
        const std::vector<std::pair<double, bool>> pattern = patternElements(isStop, isStop ? kStop : kStart);
        elements.insert(elements.end(), pattern.begin(), pattern.end());
        EXPECT_EQ(darkMatches(runsFrom(elements, reversed), isStop, reversed), 1) << (isStop ? "stop" : "start") << (reversed ? " backwards" : "") << " after " << filler
                            << " runs";
      }
    }
  }
}

// A line passes whole blocks of samples lying on one side of the threshold: a bar beginning or
// ending on either side of a block's first sample, one sample wide, at the line's ends, or on a
// line whose length is no whole number of blocks keeps its edges, halfway between the samples
// (the levels step straight from 220 to 30, a threshold of 125 between them).
TEST(PatternRuns, EdgesAtAndAcrossBlockBoundaries) {
  const struct {
    int length, barFrom, barTo;  // dark samples [barFrom, barTo)
  } cases[] = {{64, 16, 32}, {64, 15, 33}, {64, 17, 31}, {64, 31, 32}, {64, 32, 33}, {64, 0, 16},
               {64, 48, 64}, {70, 47, 70}, {70, 63, 65}, {33, 1, 32}, {100, 16, 17}, {100, 79, 96}};
  // Levels on either side of the middle of the byte range, and both above it (a signed comparison
  // of bytes would take a bar of 140 for lighter than a space of 250).
  const struct {
    uint8_t bar, space;
  } levels[] = {{30, 220}, {140, 250}, {0, 60}};
  for (const auto& level : levels) {
    for (const auto& c : cases) {
      std::vector<uint8_t> samples(static_cast<size_t>(c.length), level.space);
      for (int i = c.barFrom; i < c.barTo; ++i) samples[static_cast<size_t>(i)] = level.bar;
      pdfroad::LineRuns runs;
      pdfroad::runsOf(samples.data(), c.length, 12, &runs);
      std::vector<float> edges{-0.5f};
      std::vector<uint8_t> dark;
      if (c.barFrom > 0) edges.push_back(c.barFrom - 0.5f), dark.push_back(0);
      dark.push_back(1);
      if (c.barTo < c.length) edges.push_back(c.barTo - 0.5f), dark.push_back(0);
      edges.push_back(c.length - 0.5f);
      EXPECT_EQ(runs.edges, edges) << c.length << " " << c.barFrom << " " << c.barTo << " bar " << int(level.bar);
      EXPECT_EQ(runs.dark, dark) << c.length << " " << c.barFrom << " " << c.barTo << " bar " << int(level.bar);
    }
  }
  // Bars and spaces a sample wide, an edge at every sample of whole blocks and of parts of them.
  for (const auto& [from, to] : {std::pair{16, 48}, std::pair{5, 27}, std::pair{30, 31}}) {
    std::vector<uint8_t> samples(64, 220);
    for (int i = from; i < to; i += 2) samples[static_cast<size_t>(i)] = 30;
    pdfroad::LineRuns runs;
    pdfroad::runsOf(samples.data(), 64, 12, &runs);
    std::vector<float> edges{-0.5f};
    for (int i = from; i < to; ++i) edges.push_back(i - 0.5f);
    if ((to - from) % 2 == 1) edges.push_back(to - 0.5f);
    edges.push_back(63.5f);
    EXPECT_EQ(runs.edges, edges) << from << " " << to;
    for (size_t r = 0; r < runs.count(); ++r) EXPECT_EQ(runs.dark[r], r % 2) << from << " " << to << " run " << r;
  }
}

// A label of light grey (219) printed with a start pattern and a word (bars 105, 4-pixel
// modules) behind a margin of a few pixels, on a white page (255): the margin is space, whichever
// sample of a block it begins at, so the pattern's outer edge is its first bar's, not the
// margin's start, and the module is the pattern's.
TEST(PatternRuns, NarrowLightMarginOnAWhitePage) {
  for (const int margin : {2, 3, 6}) {
    for (int offset = 0; offset < 16; ++offset) {
      const int pageEnd = 40 + offset, barFrom = pageEnd + margin;
      std::vector<uint8_t> samples(static_cast<size_t>(pageEnd), 255);
      samples.resize(static_cast<size_t>(barFrom), 219);
      for (const auto& [modules, dark] : patternElements(false, kStart))
        if (modules < 10) samples.resize(samples.size() + static_cast<size_t>(4 * modules), dark ? 105 : 219);
      samples.resize(samples.size() + static_cast<size_t>(margin), 219);
      samples.resize(samples.size() + 40, 255);
      int found = 0;
      for (const pdfroad::LineMatch& m : matchesOf(samples)) {
        if (m.stop || m.reversed || m.lightBars) continue;
        ++found;
        EXPECT_NEAR(m.edge, barFrom - 0.5, 0.5) << "margin " << margin << " offset " << offset;
        EXPECT_NEAR(m.module, 4.0, 0.3) << "margin " << margin << " offset " << offset;
      }
      EXPECT_EQ(found, 1) << "margin " << margin << " offset " << offset;
    }
  }
}

// Symbols at angles from square to the pixels to 45 degrees off, and a short one of three rows
// near 45 degrees (which only the diagonal lines cross within it): start and stop hits on every
// one, each on the start or the stop side of the symbol, none elsewhere.
TEST(PatternLines, HitsOnBothSidesAtAnyAngle) {
  const struct {
    double angle;
    int columns, rows, rowHeight;
    double module;
  } cases[] = {{0, 4, 10, 3, 2.0},  {10, 4, 10, 3, 2.0}, {30, 6, 12, 3, 2.5},  {45, 4, 10, 3, 2.0},
               {90, 3, 8, 3, 3.0},  {135, 5, 10, 3, 2.0}, {200, 8, 20, 2, 1.5}, {315, 4, 3, 2, 2.5},
               {45, 6, 3, 2, 2.0}};
  for (const auto& c : cases) {
    const std::string text(static_cast<size_t>(std::max(1, c.columns * c.rows - 6)), 'A');
    const scene::Scene sc = scene::render(
        {.width = 900, .height = 900, .symbols = {scene::encodePdf417(text, {c.columns, 1, c.rowHeight})},
         .placements = {{.centre = {450, 450}, .moduleSize = c.module, .angleDeg = c.angle, .quietZone = 3}}});
    scene::ImageView view(sc.image);
    cimg_windowConst w{};
    ASSERT_EQ(cimg_imageConst_getWindow(view.get(), &w), 0);
    const std::vector<pdfroad::PatternHit> hits = pdfroad::scanPatterns(w, pdfroad::PatternScan{});
    const scene::SymbolTruth& t = sc.symbols[0];
    // Distance of a point from the side through a and b.
    auto off = [](const cmath_vect& q, scene::Point a, scene::Point b) {
      const double dx = b.x - a.x, dy = b.y - a.y;
      return std::fabs((q.x - a.x) * dy - (q.y - a.y) * dx) / std::hypot(dx, dy);
    };
    int starts = 0, stops = 0, astray = 0;
    for (const pdfroad::PatternHit& h : hits) {
      const double d = h.stop ? off(h.edge, t.opposite, t.rowEnd) : off(h.edge, t.columnEnd, t.lCorner);
      if (d > 1.5 * c.module) ++astray;
      else ++(h.stop ? stops : starts);
    }
    const std::string what = "angle " + std::to_string(c.angle) + ", " + std::to_string(c.rows) + " rows";
    EXPECT_GE(starts, 3) << what;
    EXPECT_GE(stops, 3) << what;
    EXPECT_LE(astray, (starts + stops) / 10) << what;
    // Each half of the lines alone sees the symbol (the road looks no further when the first
    // sees nothing), and the halves together are the whole scan, hit for hit and in its order.
    pdfroad::PatternScan half;
    half.parity = 0;
    const std::vector<pdfroad::PatternHit> even = pdfroad::scanPatterns(w, half);
    half.parity = 1;
    const std::vector<pdfroad::PatternHit> odd = pdfroad::scanPatterns(w, half);
    EXPECT_GE(even.size(), 2u) << what;
    EXPECT_GE(odd.size(), 2u) << what;
    const std::vector<pdfroad::PatternHit> both = pdfroad::mergeHalves(even, odd);
    ASSERT_EQ(both.size(), hits.size()) << what;
    for (size_t i = 0; i < hits.size(); ++i)
      EXPECT_EQ(std::tuple(both[i].family, both[i].line, both[i].stop, both[i].edge.x, both[i].edge.y),
                std::tuple(hits[i].family, hits[i].line, hits[i].stop, hits[i].edge.x, hits[i].edge.y))
          << what << " hit " << i;
  }
}
