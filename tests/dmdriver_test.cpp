// Data Matrix scan drivers: resuming after a find, row and column peak thresholds, attention, and
// the adaptive driver's L on rendered symbols.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

#include "ci_id/contourruns.h"
#include "ci_id/dmdriver.h"
#include "ci_id/region.h"
#include "support/assert_recorder.hpp"
#include "scenes/scene.hpp"
#include "support/shapes.hpp"
#include "support/fixtures.hpp"

namespace {

constexpr uint8_t kLight = 200;
constexpr uint8_t kDark = 50;
constexpr double kDegree = 3.14159265358979323846 / 180;

// A driver set-up: every row (or column) as a scan line, and an empty mask.
struct Driver : TrackingBench {
  Driver(int width, int height, int scanDirection = 1, const std::vector<shapes::Polygon>& parts = {})
      : TrackingBench(width, height, parts, kLight, kDark) {
    params.scanDirection = scanDirection;
    for (int i = 0; i < (scanDirection ? height : width); ++i) lines.push_back(i);
    setLines(lines);
    EXPECT_EQ(cid_mask_construct(&mask, nullptr), 0);
  }
  ~Driver() { cid_mask_destruct(&mask); }

  void setLines(std::vector<int32_t> l) {
    lines = std::move(l);
    params.scanLines = lines.data();
    params.scanLineCount = static_cast<int32_t>(lines.size());
  }
  csys_status next(int32_t lowContrast = 0, const cid_mask* m = nullptr) {
    return cf_BndFindNextDMSymbol(&image, &params, m, nullptr, nullptr, lowContrast, &marking, &result);
  }
  csys_status nextAdaptive(const cimg_imageConst* img, const cid_mask* m = nullptr) {
    return cidut_BoundaryTrackerSearchDMSymbolAdaptiveThreshold(img, &params, m, nullptr, 0, &marking, &result);
  }
  void claim(const cmath_vect& o, const cmath_vect& x, const cmath_vect& y) {
    cmath_shapeAffineRectPoints pts;
    cmath_shapeAffineRectPoints_init(&pts, &o, &x, &y);
    cid_region region;
    ASSERT_EQ(cid_region_initAffineRectPoints(&region, &pts, nullptr), 0);
    ASSERT_EQ(cid_mask_appendRegion(&mask, &region, 0), 0);
  }

  std::vector<int32_t> lines;
  cid_mask mask;
};

}  // namespace

// Sparse scan lines along rows and along columns: each call stops at the next symbol with the
// index of its line, and the caller claims it and resumes from that line, which is walked again
// (both symbols lie on row 70); the scan ends at the last line, and one started beyond it
// returns at once without searching a seed.
TEST(DmDriver, ScanResumesFromTheLineOfEachFindUntilTheLastLine) {
  const cmath_vect truth[2] = {{70, 70}, {190, 70}};
  for (int direction : {1, 0}) {
    Driver d(260, 140, direction,
             {shapes::rectangle(70, 70, 60, 60, 10 * kDegree), shapes::rectangle(190, 70, 70, 70, -25 * kDegree)});
    d.setLines(direction ? std::vector<int32_t>{20, 70, 120} : std::vector<int32_t>{20, 70, 120, 170, 220});
    const int32_t lineOf[2] = {1, direction ? 1 : 3};
    size_t found = 0;
    for (int call = 0; call < 6 && found <= 2; ++call) {
      ASSERT_EQ(d.next(0, &d.mask), 0);
      if (!d.result.found) break;
      cmath_shapeAffineRectPoints p;
      cmath_shapeAffineRect_getPoints(&d.result.rectangle, &p);
      const double cx = (p.po.x + d.result.fourthCorner.x) / 2, cy = (p.po.y + d.result.fourthCorner.y) / 2;
      EXPECT_LT(std::hypot(cx - truth[found % 2].x, cy - truth[found % 2].y), 1.0) << direction;
      EXPECT_EQ(d.result.line, lineOf[found % 2]) << direction;
      ++found;
      d.claim(p.po, p.px, p.py);
      d.params.firstScanLine = d.result.line;
    }
    EXPECT_EQ(found, 2u) << direction;
    EXPECT_EQ(d.result.line, d.params.scanLineCount);
    d.params.firstScanLine = d.params.scanLineCount + 40;
    d.result.seed.x = -9;
    ASSERT_EQ(d.next(), 0);
    EXPECT_TRUE(d.result.found == 0 && d.result.line == d.params.firstScanLine && d.result.seed.x == -9);
  }
}

// A step either side of a threshold: rows respond with the six-tap filter (3 x step) against 45,
// or 33 with the low-contrast flag; columns with |p[y+3] - p[y]| against 15. The seed's mean is
// that of the four pixels from one before to two after it.
TEST(DmDriver, PeakThresholdsOnRowsAndColumns) {
  struct Case {
    int direction, step, lowContrast, strength, position;  // strength -1: no peak
  };
  const Case cases[] = {{1, 12, 0, -1, 0}, {1, 11, 1, 33, 59}, {1, 10, 1, -1, 0},
                        {1, 15, 0, 45, 59}, {0, 14, 0, -1, 0},  {0, 15, 0, 15, 58}};
  for (const Case& c : cases) {
    Driver d(120, 120, c.direction);
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 120; ++x) d.canvas.at(x, y) = (c.direction ? x : y) < 60 ? 100 : 100 + c.step;
    d.setLines({25});
    d.result.seed.strength = -1;
    ASSERT_EQ(d.next(c.lowContrast), 0);
    EXPECT_EQ(d.result.seed.strength, c.strength) << "case " << &c - cases;
    if (c.strength < 0) continue;
    int sum = 0;
    for (int i = c.position - 1; i <= c.position + 2; ++i) sum += i < 60 ? 100 : 100 + c.step;
    EXPECT_EQ(std::tuple(c.direction ? d.result.seed.x : d.result.seed.y, d.result.seed.polarity, d.result.seed.mean),
              std::tuple(c.position, 1, sum / 4));
  }
}

// The adaptive driver reports the L: the corner and the far ends of the solid sides (run ends,
// a few modules short of the symbol's corners), claimed by the caller so the scan moves on.
TEST(DmDriver, AdaptiveDriverReportsTheLOfRenderedSymbols) {
  const int symbols = 12;
  int lFound = 0;
  for (uint32_t seed = 5000; seed < 5000 + symbols; ++seed) {
    const scene::Scene sc = scene::generate(scene::Category::clean, seed);
    const scene::ImageView view(sc.image);
    Driver d(sc.image.width, sc.image.height);
    const scene::SymbolTruth& t = sc.symbols[0];
    const double tol = std::max(3.0, t.moduleSize), side = std::hypot(t.rowEnd.x - t.lCorner.x, t.rowEnd.y - t.lCorner.y);
    auto dist = [](const int32_t* p, const scene::Point& q) { return std::hypot(p[0] - q.x + 0.5, p[1] - q.y + 0.5); };
    for (int call = 0; call < 100; ++call) {
      ASSERT_EQ(d.nextAdaptive(view.get(), &d.mask), 0);
      if (!d.result.found) break;
      const auto& s = d.result.boundary.sides;
      EXPECT_TRUE(s[0][0] == s[2][0] && s[0][1] == s[2][1]);  // both sides start at the corner
      if (dist(s[0], t.lCorner) <= tol && std::min(dist(s[1], t.rowEnd) + dist(s[3], t.columnEnd),
                                                   dist(s[1], t.columnEnd) + dist(s[3], t.rowEnd)) < side / 2) {
        ++lFound;
        break;
      }
      d.claim({double(s[0][0]), double(s[0][1])}, {double(s[1][0]), double(s[1][1])}, {double(s[3][0]), double(s[3][1])});
      d.params.firstScanLine = d.result.line;
    }
  }
  std::printf("adaptive driver: the L of %d of %d symbols\n", lFound, symbols);
  EXPECT_GE(lFound, symbols * 8 / 10);
}

// On a flat image no position is a peak, so the adaptive driver only polls: once for the line,
// on positions whose row and column both have bits 0 and 2 set (none on line 8: 8 & 5 = 0), and
// every 300 positions along a row. Row 8 of a 700-wide image walks x = 3 ... 694, 692 positions:
// polls at the 300th and 600th, 3 in all. Column 8 of a 700-high image walks as many positions
// and polls once.
TEST(DmDriver, AdaptiveDriverCountsPollsAlongRowsOnly) {
  const struct {
    int direction, polls;
  } rows[] = {{1, 3}, {0, 1}};
  for (const auto& row : rows) {
    Driver d(700, 700, row.direction);
    d.setLines({8});
    int polls = 0;
    csys_attention_setCallback([](void* c) -> csys_status { return ++*static_cast<int*>(c), 0; }, &polls);
    const csys_status st = d.nextAdaptive(&d.image);
    csys_attention_setCallback(nullptr, nullptr);
    ASSERT_EQ(st, 0);
    EXPECT_EQ(polls, row.polls) << row.direction;
  }
}

// Bad arguments, an unbound image and an attention request stop either driver with their status.
TEST(DmDriver, FailuresStopTheScan) {
  Driver d(200, 200, 1, {shapes::rectangle(100, 150, 60, 60, 0)});
  AssertRecorder asserts;
  d.params.firstScanLine = -1;
  EXPECT_EQ(d.next(), csys_errAssertion);
  d.params.firstScanLine = 0;
  d.params.scanLines = nullptr;
  EXPECT_EQ(d.next(), csys_errAssertion);
  EXPECT_EQ(asserts.count(), 2u);
  d.params.scanLines = d.lines.data();
  cimg_imageConst unbound;
  cimg_imageConst_constructUnbound(&unbound);
  EXPECT_EQ(cf_BndFindNextDMSymbol(&unbound, &d.params, nullptr, nullptr, nullptr, 0, &d.marking, &d.result),
            csys_errImageUnbound);

  int calls = 0;
  csys_attention_setCallback(
      [](void* c) -> csys_status { return ++*static_cast<int*>(c) % 20 == 0 ? static_cast<csys_status>(0x80004321) : 0; },
      &calls);
  const csys_status plain = d.next();
  EXPECT_EQ(calls, 20);  // stopped at the first request
  const csys_status adaptive = d.nextAdaptive(&d.image);
  csys_attention_setCallback(nullptr, nullptr);
  EXPECT_TRUE(plain == static_cast<csys_status>(0x80004321) && adaptive == plain) << plain << " " << adaptive;
}
