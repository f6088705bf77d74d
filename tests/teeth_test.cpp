// Edges to teeth on postal symbols rendered by libzint (bars of one width on a regular pitch)
// and scanned with the caliper at any angle: the teeth match the bars one to one with their
// edges where the bars are; worked cases for empty, dense and gapped edge lists; refusals and
// allocation failures.
#include <gtest/gtest.h>
#include <zint.h>

#include <cmath>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "ci_id/caliper.h"
#include "ci_id/teeth.h"
#include "support/assert_recorder.hpp"

namespace {

// libzint's modules of a postal symbol: every bar crosses the row `trackRow`.
struct Postal {
  int rows = 0, cols = 0, trackRow = 0;
  std::vector<uint8_t> set;
  bool isSet(int r, int c) const { return r >= 0 && c >= 0 && r < rows && c < cols && set[r * cols + c]; }
};

Postal encode(int symbology, const std::string& text) {
  std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> sym(ZBarcode_Create(), ZBarcode_Delete);
  sym->symbology = symbology;
  if (ZBarcode_Encode(sym.get(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size())) >=
      ZINT_ERROR)
    throw std::runtime_error(sym->errtxt);
  Postal p;
  p.rows = sym->rows;
  p.cols = sym->width;
  for (int r = 0; r < p.rows; ++r)
    for (int c = 0; c < p.cols; ++c) p.set.push_back((sym->encoded_data[r][c >> 3] >> (c & 7)) & 1);
  p.trackRow = p.rows == 2 ? 1 : p.rows / 2;  // POSTNET: the short bars' row; 4-state: the tracker
  return p;
}

// The symbol drawn with module size s (pixels), bars along the direction a, area sampled.
struct Scene {
  int w = 0, h = 0;
  std::vector<uint8_t> px;
  double s = 0, a = 0, barHeight = 0;
  cmath_vect origin{};  // image point of module (0, 0)'s outer corner
  cmath_vect at(double u, double v) const {  // u along the axis (modules), v across (rows)
    return {origin.x + s * (u * std::cos(a) - v * barHeight * std::sin(a)),
            origin.y + s * (u * std::sin(a) + v * barHeight * std::cos(a))};
  }
};

Scene render(const Postal& sym, double s, double a, std::mt19937& rng, double noise) {
  Scene sc;
  sc.s = s;
  sc.a = a;
  sc.barHeight = 4;
  const double length = (sym.cols + 8) * s, height = sym.rows * sc.barHeight * s;
  sc.w = sc.h = static_cast<int>(std::hypot(length, height)) + 8;
  const double ca = std::cos(a), sa = std::sin(a);
  const double cu = sym.cols / 2.0, cv = sym.rows / 2.0;
  sc.origin = {sc.w / 2.0 - s * (cu * ca - cv * sc.barHeight * sa), sc.h / 2.0 - s * (cu * sa + cv * sc.barHeight * ca)};
  std::normal_distribution<double> gauss(0, noise);
  sc.px.resize(static_cast<size_t>(sc.w) * sc.h);
  for (int y = 0; y < sc.h; ++y)
    for (int x = 0; x < sc.w; ++x) {
      double g = 0;
      for (int i = 0; i < 16; ++i) {
        const double dx = x + (i % 4 + 0.5) / 4 - sc.origin.x, dy = y + (i / 4 + 0.5) / 4 - sc.origin.y;
        const double u = (dx * ca + dy * sa) / s, v = (-dx * sa + dy * ca) / (s * sc.barHeight);
        g += (sym.isSet(static_cast<int>(std::floor(v)), static_cast<int>(std::floor(u))) ? 40.0 : 210.0) / 16;
      }
      sc.px[static_cast<size_t>(y) * sc.w + x] = static_cast<uint8_t>(std::clamp(g + gauss(rng), 0.0, 255.0) + 0.5);
    }
  return sc;
}

cidut_edgePairingParams barParams(int bars, double s, double gridOffset) {
  cidut_edgePairingParams p;
  EXPECT_EQ(cidut_edgePairingParams_init(&p), 0);
  p.cellCount = bars;
  p.expectedWidth = s;
  p.expectedPitch = 2 * s;
  p.gridOffset = gridOffset;
  return p;
}

struct Teeth {
  cidut_teethResults r;
  Teeth() { EXPECT_EQ(cidut_teethResults_construct(&r), 0); }
  ~Teeth() { cidut_teethResults_destruct(&r); }
  std::vector<cidut_toothCand> get() const {
    const cidut_toothCand* b = nullptr;
    uint32_t n = 0;
    cstd_vector_cidut_toothCand_getBeginSizeConst(&r.teeth, &b, &n);
    return std::vector<cidut_toothCand>(b, b + n);
  }
};

// A rectangle along the x axis centred at 0, of the given length.
cmath_shapeAffineRect axisRect(double length) {
  cmath_shapeAffineRectPoints pts{{-length / 2, -5}, {length / 2, -5}, {-length / 2, 5}};
  cmath_shapeAffineRect rect;
  cmath_shapeAffineRect_initPoints(&rect, &pts);
  return rect;
}

// Regular bars of width s and pitch 2s, bar b starting at -length/2 + (2b + start) s (in cell b
// of a grid from the rectangle's start); `skip` drops one bar.
std::vector<cidut_edge> regularBars(int bars, double s, double length, int skip, double start = 0.25) {
  std::vector<cidut_edge> e;
  for (int b = 0; b < bars; ++b) {
    if (b == skip) continue;
    const double u = -length / 2 + (2 * b + start) * s;
    e.push_back({static_cast<int32_t>(u * 256), -30000});
    e.push_back({static_cast<int32_t>((u + s) * 256), 30000});
  }
  return e;
}

}  // namespace

TEST(EdgesToTeeth, RenderedPostalBarsOneToOne) {
  std::mt19937 rng(13);
  std::uniform_real_distribution<double> u(0, 1);
  const struct {
    int symbology;
    const char* text;
  } symbols[] = {{BARCODE_POSTNET, "12345"}, {BARCODE_RM4SCC, "W1J0TR01"}, {BARCODE_KIX, "2500GG30250"}};
  double worst = 0;
  int scenes = 0;
  for (int trial = 0; trial < 24; ++trial) {
    SCOPED_TRACE(trial);
    const Postal sym = encode(symbols[trial % 3].symbology, symbols[trial % 3].text);
    const double s = 2 + 3 * u(rng), a = u(rng) * 2 * M_PI;
    const Scene sc = render(sym, s, a, rng, trial % 2 ? 4.0 : 0.0);
    std::vector<double> truth;  // edge positions along the axis, modules
    for (int c = 0; c < sym.cols; ++c)
      if (sym.isSet(sym.trackRow, c) != sym.isSet(sym.trackRow, c - 1)) truth.push_back(c);
    truth.push_back(sym.cols);
    const int bars = static_cast<int>(truth.size()) / 2;
    // The scan: the caliper along the track row from two modules before the symbol, a whole
    // number of pixels long so that its sample spacing is exact.
    const double v = sym.trackRow + 0.5, scanLength = std::ceil((sym.cols + 4) * s);
    const cmath_vect p0 = sc.at(-2, v), p1 = sc.at(-2 + scanLength / s, v);
    const cimg_windowConst win{sc.w, sc.h, 0, 0, sc.w, sc.px.data()};
    std::vector<int32_t> values(400), positions(400);
    int32_t count = 0;
    ASSERT_EQ(cidut_caliperLite(&win, &p0, &p1, 400, 50, 0, values.data(), positions.data(), &count), 0);
    const double length = (sym.cols + 4) * s;
    std::vector<cidut_edge> edges;
    for (int i = 0; i < count; ++i) edges.push_back({positions[i] - static_cast<int32_t>(length * 128), values[i] * 256});
    const cidut_edgeList list{static_cast<int32_t>(edges.size()), CIDUT_EDGELIST_ON_AXIS, 0, edges.data()};
    const cmath_shapeAffineRect rect = axisRect(length);
    const cidut_edgePairingParams params = barParams(bars, s, length / 2 - 2 * s);
    Teeth teeth;
    ASSERT_EQ(cidut_edgesToTeeth(&params, &list, nullptr, nullptr, &rect, nullptr, &teeth.r), 0);
    const auto t = teeth.get();
    ASSERT_EQ(t.size(), static_cast<size_t>(bars));
    for (int b = 0; b < bars; ++b) {
      ASSERT_GE(t[b].startEdge, 0) << "bar " << b << " has no tooth";
      const double start = (edges[t[b].startEdge].position + length * 128) / 256 / s - 2;
      const double end = (edges[t[b].endEdge].position + length * 128) / 256 / s - 2;
      worst = std::max({worst, std::fabs(start - truth[2 * b]), std::fabs(end - truth[2 * b + 1])});
      EXPECT_NEAR(start, truth[2 * b], 0.1) << "bar " << b;
      EXPECT_NEAR(end, truth[2 * b + 1], 0.1) << "bar " << b;
      EXPECT_EQ(t[b].cell, b);
    }
    EXPECT_NEAR(teeth.r.averagePitch / 256.0, 2 * s, 0.05 * s);
    EXPECT_NEAR(teeth.r.dominantWidth / 256.0, s, 0.15 * s);
    ++scenes;
  }
  RecordProperty("worstEdgeErrorModules", std::to_string(worst));
  EXPECT_EQ(scenes, 24);
}

TEST(EdgesToTeeth, WorkedLists) {
  const double s = 4, length = 100;
  const cmath_shapeAffineRect rect = axisRect(length);
  struct Row {
    const char* what;
    std::vector<cidut_edge> edges;
    uint32_t flags;
    int cells, minTeeth;
    csys_status status;
    int teeth, synthetic;  // synthetic: slot expected to be made up, -1 none
    double start = 0.25, tolerance = 0.05;  // bars' start in their cells (modules); centre error, px
    int polarity = 1;                       // 1: a bar starts at a negative edge
    double strengthLimit = -1;              // none
  };
  // Bars whose centres lie a pixel before their cells' ends, two of them pushed 1.5 px over into
  // the next cells, and bar 5 missing: the teeth of bars 3 and 4 must move back into cells 3 and 4.
  std::vector<cidut_edge> jittered = regularBars(10, s, length, 5, 1.25);
  for (int i = 6; i < 10; ++i) jittered[i].position += 384;
  std::vector<cidut_edge> dense;
  for (int i = 0; i < 40; ++i) dense.push_back({static_cast<int32_t>((-40 + i * 1.0) * 256), i % 2 ? 30000 : -30000});
  // With a limit in force an edge must have a signed strength of at least round(256 * limit): a
  // limit of 10 (2560) keeps every -30000 edge out, so no tooth has both of its edges, whichever
  // polarity starts it.
  std::vector<cidut_edge> reversed = regularBars(10, s, length, -1);
  for (auto& e : reversed) e.strength = -e.strength;
  const std::vector<Row> rows = {
      {"four edges", regularBars(2, s, length, -1), CIDUT_EDGELIST_ON_AXIS, 2, 2, 0, 0, -1},
      {"without the axis flag", regularBars(5, s, length, -1), 0, 5, 2, cidut_errBadArgument, 0, -1},
      {"all bars", regularBars(10, s, length, -1), CIDUT_EDGELIST_ON_AXIS, 10, 2, 0, 10, -1},
      {"one bar missing", regularBars(10, s, length, 4), CIDUT_EDGELIST_ON_AXIS, 10, 2, 0, 10, 4},
      {"too few teeth", regularBars(3, s, length, -1), CIDUT_EDGELIST_ON_AXIS, 10, 4, 0, 0, -1},
      {"dense edges", dense, CIDUT_EDGELIST_ON_AXIS, 10, 2, 0, 0, -1},
      {"bars pushed over a cell boundary", jittered, CIDUT_EDGELIST_ON_AXIS, 10, 2, 0, 10, 5, 1.25, 1.6},
      {"a strength limit", regularBars(10, s, length, -1), CIDUT_EDGELIST_ON_AXIS, 10, 2, 0, 0, -1, 0.25, 0.05, 1, 10},
      {"the other polarity", reversed, CIDUT_EDGELIST_ON_AXIS, 10, 2, 0, 10, -1, 0.25, 0.05, 0},
      {"the other polarity and a strength limit", reversed, CIDUT_EDGELIST_ON_AXIS, 10, 2, 0, 0, -1, 0.25, 0.05, 0, 10},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const cidut_edgePairingParams params = [&] {
      cidut_edgePairingParams p = barParams(row.cells, s, -1);
      p.minTeeth = row.minTeeth;
      p.polarity = row.polarity;
      p.minEdgeStrength = row.strengthLimit;
      return p;
    }();
    const cidut_edgeList list{static_cast<int32_t>(row.edges.size()), row.flags, 0, row.edges.data()};
    Teeth teeth;
    ASSERT_EQ(cidut_edgesToTeeth(&params, &list, nullptr, nullptr, &rect, nullptr, &teeth.r), row.status);
    const auto t = teeth.get();
    ASSERT_EQ(static_cast<int>(t.size()), row.teeth);
    if (row.teeth == 0) {
      EXPECT_TRUE(row.edges.size() >= 5 || teeth.r.dominantWidth == -256) << teeth.r.dominantWidth;
      continue;
    }
    for (int b = 0; b < row.teeth; ++b) {
      const double centre = -length / 2 + (2 * b + row.start + 0.5) * s;
      EXPECT_NEAR(t[b].centre / 256.0, centre, row.tolerance) << "slot " << b;
      EXPECT_EQ(t[b].cell, b);
      if (b == row.synthetic) {
        EXPECT_EQ(std::tuple(t[b].startEdge, t[b].score, t[b].width), std::tuple(-1, 256, static_cast<int32_t>(s * 256)));
      } else {
        EXPECT_GE(t[b].startEdge, 0) << "slot " << b;
      }
    }
  }
}

TEST(EdgesToTeeth, RefusalsAndFailedAllocations) {
  const double s = 4, length = 100;
  const cmath_shapeAffineRect rect = axisRect(length);
  const auto edges = regularBars(10, s, length, 3);
  const cidut_edgeList list{static_cast<int32_t>(edges.size()), CIDUT_EDGELIST_ON_AXIS, 0, edges.data()};
  {
    AssertRecorder recorder;
    cidut_edgePairingParams zeroPitch = barParams(10, s, -1);
    zeroPitch.expectedPitch = 0;
    Teeth teeth;
    EXPECT_EQ(cidut_edgesToTeeth(&zeroPitch, &list, nullptr, nullptr, &rect, nullptr, &teeth.r), csys_errAssertion);
    EXPECT_TRUE(teeth.get().empty());
    const cmath_shapeAffineRect shortRect = axisRect(20);  // edges beyond half its length
    const cidut_edgePairingParams params = barParams(10, s, -1);
    EXPECT_EQ(cidut_edgesToTeeth(&params, &list, nullptr, nullptr, &shortRect, nullptr, &teeth.r), csys_errAssertion);
    EXPECT_GE(recorder.count(), 2u);
  }
  const cidut_edgePairingParams params = barParams(10, s, -1);
  const uint64_t points = sweepAllocationFailures([&] {  // the results' constructor too
    cidut_teethResults r;
    csys_status st = cidut_teethResults_construct(&r);
    if (st != 0) return st;
    st = cidut_edgesToTeeth(&params, &list, nullptr, nullptr, &rect, nullptr, &r);
    uint32_t n = 0;
    cstd_vector_cidut_toothCand_getSize(&r.teeth, &n);
    cidut_teethResults_destruct(&r);
    return st == 0 && n != 10 ? csys_errAssertion : st;
  });
  EXPECT_GE(points, 2u);
}

TEST(EdgesToTeeth, MappedFrameGivesTheSameTeeth) {
  // The edges seen through a mapping that doubles lengths about a point off the axis give the
  // same cells, doubled centres and the caller's positions back. The points are placed on the
  // working (mapped) rectangle's centre line, which runs along x through (7, -3), at each tooth's
  // position: (7 + position / 256, -3).
  const double s = 4, length = 100;
  const cmath_shapeAffineRect rect = axisRect(length);
  const auto edges = regularBars(10, s, length, 6);
  const cidut_edgeList list{static_cast<int32_t>(edges.size()), CIDUT_EDGELIST_ON_AXIS, 0, edges.data()};
  cidut_edgePairingParams params = barParams(10, s, -1);
  params.computePoints = 1;
  Teeth plain, mapped;
  ASSERT_EQ(cidut_edgesToTeeth(&params, &list, nullptr, nullptr, &rect, nullptr, &plain.r), 0);
  const cmath_xformLinear twice{{2, 0, 0, 2}, {7, -3}}, half{{0.5, 0, 0, 0.5}, {-3.5, 1.5}};
  cmath_xform mapping, back;
  cmath_xform_initLinear(&mapping, &twice);
  cmath_xform_initLinear(&back, &half);
  ASSERT_EQ(cidut_edgesToTeeth(&params, &list, &mapping, &back, &rect, nullptr, &mapped.r), 0);
  const auto a = plain.get(), b = mapped.get();
  ASSERT_TRUE(a.size() == 10u && b.size() == 10u);
  for (size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(std::pair(a[i].startEdge, a[i].cell), std::pair(b[i].startEdge, b[i].cell));
    EXPECT_NEAR(b[i].centre, 2 * a[i].centre, 2);
    EXPECT_NEAR(b[i].position, a[i].position, 1);
    EXPECT_NEAR(b[i].point[0], 7 + b[i].position / 256.0, 1e-9);
    EXPECT_NEAR(b[i].point[1], -3.0, 1e-9);
  }
  EXPECT_NEAR(mapped.r.averagePitch, 2 * plain.r.averagePitch, 1);
}
