// Corner accuracy of the Data Matrix road over generated scenes: the error of each corner (the L
// corner Po, the solid row's end Px, the solid column's end Py and the opposite corner Popp) in
// modules, per kind of scene.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "reader/datamatrix/dmcorners.hpp"
#include "reader/datamatrix/dmfarside.hpp"
#include "reader/datamatrix/dmroad.hpp"
#include "reader/geometry.hpp"
#include "scenes/scene.hpp"
#include "support/fixtures.hpp"

namespace {

using scene::Category;

// Errors in modules of the reported corners against the truth in the order Po, Px, Py, Popp,
// under the pairing with the truth's outline (Po, Px, Popp, Py) that fits best.
std::array<double, 4> cornerErrors(const scene::SymbolTruth& t, const dmroad::Symbol& s) {
  const std::array<double, 4> e = ::cornerErrors(s.corners, t.outline());
  return {e[0] / t.moduleSize, e[1] / t.moduleSize, e[3] / t.moduleSize, e[2] / t.moduleSize};
}

double quantile(std::vector<double> v, double q) {
  if (v.empty()) return 1e300;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

// Lines of ink two pixels wide, each beside one side of the outline (corners around it), out by
// `by` pixels and running on a third of the side's length past both its ends: clutter beyond the
// quiet zone, parallel to the symbol's sides.
void drawStrayLines(const std::array<scene::Point, 4>& outline, double by, uint8_t ink, scene::GreyImage* image) {
  const double cx = (outline[0].x + outline[1].x + outline[2].x + outline[3].x) / 4;
  const double cy = (outline[0].y + outline[1].y + outline[2].y + outline[3].y) / 4;
  for (int i = 0; i < 4; ++i) {
    const scene::Point p = outline[i], q = outline[(i + 1) % 4];
    const double length = std::hypot(q.x - p.x, q.y - p.y), ux = (q.x - p.x) / length, uy = (q.y - p.y) / length;
    double nx = -uy, ny = ux;
    if (nx * (p.x - cx) + ny * (p.y - cy) < 0) nx = -nx, ny = -ny;  // outwards
    for (double t = -length / 3; t <= 4 * length / 3; t += 0.25)
      for (double across = by; across <= by + 2; across += 0.25) {
        const int x = static_cast<int>(p.x + t * ux + across * nx), y = static_cast<int>(p.y + t * uy + across * ny);
        if (x >= 0 && y >= 0 && x < image->width && y < image->height) image->at(x, y) = ink;
      }
  }
}

}  // namespace

// Scenes of every kind that holds symbols; each symbol the road locates (all corners within two
// modules) contributes its four corner errors. Median and 90th percentile per corner and kind.
TEST(DataMatrixCorners, ErrorPerCornerInModules) {
  struct Kind {
    Category category;
    int scenes;
  };
  const Kind kinds[] = {{Category::clean, 20},       {Category::noisy, 20},       {Category::blurred, 20},
                        {Category::lowContrast, 20}, {Category::perspective, 20}, {Category::multiSymbol, 8}};
  const char* names[4] = {"Po", "Px", "Py", "Popp"};
  std::printf("%-12s %7s %7s  median / 90th percentile error, modules\n", "kind", "symbols", "located");
  for (const Kind& kind : kinds) {
    std::array<std::vector<double>, 4> errors;
    int symbols = 0;
    for (int i = 0; i < kind.scenes; ++i) {
      const scene::Scene sc = scene::generate(kind.category, 7000u + static_cast<uint32_t>(i));
      const scene::ImageView view(sc.image);
      dmroad::Options options;
      options.lowContrast = kind.category == Category::lowContrast;
      if (kind.category == Category::perspective) options.tune = [](cid2d_trackingParams& p) { p.relaxedCorners = 1; };
      const dmroad::Outcome out = dmroad::findAll(*view, options);
      ASSERT_EQ(out.status, 0);
      for (const scene::SymbolTruth& t : sc.symbols) {
        ++symbols;
        std::array<double, 4> best{1e300, 1e300, 1e300, 1e300};
        for (const dmroad::Symbol& s : out.symbols) {
          const auto e = cornerErrors(t, s);
          if (*std::max_element(e.begin(), e.end()) < *std::max_element(best.begin(), best.end())) best = e;
        }
        if (*std::max_element(best.begin(), best.end()) > 2) continue;
        for (int k = 0; k < 4; ++k) errors[k].push_back(best[k]);
      }
    }
    std::printf("%-12s %7d %7zu ", scene::categoryName(kind.category), symbols, errors[0].size());
    for (int k = 0; k < 4; ++k)
      std::printf(" %s %.3f / %.3f", names[k], quantile(errors[k], 0.5), quantile(errors[k], 0.9));
    std::printf("\n");
    EXPECT_GE(errors[0].size(), static_cast<size_t>(symbols) * 6 / 10) << scene::categoryName(kind.category);
    for (int k = 0; k < 4; ++k) {
      EXPECT_LE(quantile(errors[k], 0.5), 0.1) << scene::categoryName(kind.category) << " " << names[k];
      EXPECT_LE(quantile(errors[k], 0.9), 0.3) << scene::categoryName(kind.category) << " " << names[k];
    }
  }
}

// A 16 x 16 symbol seen at an angle, located as a parallelogram on its L: the far sides measured
// in the image bring the far corner and the solid sides' ends onto the keystone's own within a
// pixel, however it pulls; a blank picture has no far sides to measure.
TEST(DataMatrixCorners, FarSidesFollowAKeystone) {
  constexpr int kN = 16, kSize = 130;
  const cmath_vect k{20, 104}, a{102, 106}, b{22, 22}, square{a.x + b.x - k.x, a.y + b.y - k.y};
  std::mt19937 rng(11);
  std::vector<int> data(kN * kN);
  for (int& v : data) v = static_cast<int>(rng() & 1);
  const cmath_vect pulls[] = {{0, 0}, {5, -4}, {-6, 5}, {7, 0}, {0, -7}};
  for (int blank = 0; blank < 2; ++blank)
    for (const cmath_vect& pull : pulls) {
      const cmath_vect d{square.x + pull.x, square.y + pull.y};
      // Drawn through the inverse (adjugate) of the unit square's map onto k, a, d, b: solid left
      // column and bottom row, alternating top row and right column; 4 x 4 samples a pixel.
      const dmroad::SquareToQuad h(k, a, d, b);
      const double m[3][3] = {{h.a, h.b, h.c}, {h.d, h.e, h.f}, {h.g, h.h, 1}};
      double inv[3][3];
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
          inv[j][i] = m[(i + 1) % 3][(j + 1) % 3] * m[(i + 2) % 3][(j + 2) % 3] -
                      m[(i + 1) % 3][(j + 2) % 3] * m[(i + 2) % 3][(j + 1) % 3];
      auto ink = [&](double x, double y) {
        const double w = inv[2][0] * x + inv[2][1] * y + inv[2][2];
        const double u = (inv[0][0] * x + inv[0][1] * y + inv[0][2]) / w;
        const double v = (inv[1][0] * x + inv[1][1] * y + inv[1][2]) / w;
        if (blank || !(u >= 0 && u < 1 && v >= 0 && v < 1)) return 0;
        const int col = static_cast<int>(u * kN), up = static_cast<int>(v * kN);
        if (col == 0 || up == 0) return 1;
        if (up == kN - 1 || col == kN - 1) return (up == kN - 1 ? col : up) % 2 == 0 ? 1 : 0;
        return data[up * kN + col];
      };
      std::vector<uint8_t> pixels(kSize * kSize);
      for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
          int dark = 0;
          for (int s = 0; s < 16; ++s) dark += ink(x + (s % 4 + 0.5) / 4, y + (s / 4 + 0.5) / 4);
          pixels[y * kSize + x] = static_cast<uint8_t>(220 - dark * 180 / 16);
        }
      const cimg_windowConst w{kSize, kSize, 0, 0, kSize, pixels.data()};
      std::array<cmath_vect, 4> corners{k, a, square, b};
      const bool fitted = dmroad::fitFarSides(w, &corners);
      EXPECT_EQ(fitted, !blank) << pull.x << " " << pull.y;
      if (!fitted) continue;
      EXPECT_LT(dmroad::distance(corners[0], k), 1e-9) << "the L corner stays";
      const cmath_vect truth[3] = {a, d, b};
      for (int c = 0; c < 3; ++c)
        EXPECT_LT(dmroad::distance(corners[c + 1], truth[c]), 1.0) << pull.x << " " << pull.y << " corner " << c + 1;
    }
}

// Long rectangles located a module out along their length (as a turned view can leave them): the
// whole outline slid a module back past the L, or only the solid row's ends slid either way. The
// L's own module then lies off the symbol, a solid side's edge a module inside its located line
// at one end, the alternating row's profiles on its light modules; the sides measured along
// their whole length still bring every corner onto the symbol's, in both polarities.
TEST(DataMatrixCorners, LongRectangleLocatedAModuleOutAlongItsLength) {
  const std::pair<int, double> cases[] = {{31, 0}, {33, 90}, {35, 7}, {36, 183}, {36, 30}};  // 8x48 ... 8x144
  for (const auto& [option, angle] : cases)
    for (const bool light : {false, true})
      for (const double slide : {-1.0, 0.0, 1.0}) {  // 0: the whole outline back one module
        const scene::Scene sc = scene::render(
            {.width = 520, .height = 520, .background = light ? 40.0 : 200.0,
             .symbols = {scene::encodeDataMatrix("along", option, scene::DmSizes::withRectangular)},
             .placements = {{.centre = {260, 260}, .moduleSize = 3, .angleDeg = angle, .quietZone = 2,
                             .polarity = light ? scene::Polarity::lightOnDark : scene::Polarity::darkOnLight}},
             .blurSigma = 0.6, .noiseSigma = 2, .seed = static_cast<uint32_t>(option)});
        const scene::SymbolTruth& t = sc.symbols[0];
        const std::array<scene::Point, 4> truth = t.outline();  // L, row end, opposite, column end
        const cmath_vect module{(truth[1].x - truth[0].x) / t.cols, (truth[1].y - truth[0].y) / t.cols};
        std::array<cmath_vect, 4> corners;
        for (int k = 0; k < 4; ++k) {
          const double by = slide == 0 ? -1 : k < 2 ? slide : 0;
          corners[k] = cmath_vect{truth[k].x + by * module.x, truth[k].y + by * module.y};
        }
        const scene::ImageView view(sc.image);
        cimg_windowConst w;
        ASSERT_EQ(cimg_windowConst_init(&w, &*view), 0);
        const std::string what = std::to_string(t.cols) + " at " + std::to_string(angle) + (light ? " light " : " dark ") +
                                 std::to_string(slide);
        ASSERT_TRUE(dmroad::refineCorners(w, dmroad::BorderLayout{0, 1, t.rows, t.cols}, &corners)) << what;
        for (int k = 0; k < 4; ++k)
          EXPECT_LT(std::hypot(corners[k].x - truth[k].x, corners[k].y - truth[k].y), 0.3 * t.moduleSize) << what << " " << k;
      }
}

// A symbol seen at a steep angle, located as the parallelogram on one of its corners (the search
// may start at any of the four): the located corner and its sides stay, and the two sides
// through the far corner, solid or alternating, are measured in the image, bringing all four
// corners within a pixel of the keystone's, in both polarities and with lines of clutter about.
// (The parallelogram's far corner lies up to half the shorter side off here.) Lines of ink
// beside every side, beyond the quiet zone, are never taken for a side.
// Pictures with no symbol to measure give nothing: a blank one, a solid block.
TEST(DataMatrixCorners, FourthCornerFromWhicheverCornerWasLocated) {
  struct Case {
    double angle, perspectiveU, perspectiveV;
    bool lightOnDark;
    int lines;
    double strayLines;  // pixels beyond each side where a line of ink runs beside it (0: none)
  };
  const Case cases[] = {{15, -0.2, -0.35, false, 0, 0}, {105, 0.2, 0.35, true, 0, 0}, {195, 0.35, 0.2, false, 2, 0},
                        {285, -0.2, -0.35, true, 2, 0}, {40, 0.3, 0, false, 2, 0},      {250, 0, -0.3, true, 0, 0},
                        {15, -0.2, -0.35, false, 0, 20}, {285, -0.2, -0.35, true, 0, 20}};
  for (const Case& c : cases) {
    scene::Scene sc = scene::render(
        {.width = 420, .height = 420, .background = c.lightOnDark ? 40.0 : 200.0,
         .symbols = {scene::encodeDataMatrix("bmAHH13JjX")},
         .placements = {{.centre = {210, 210}, .moduleSize = 6, .angleDeg = c.angle, .perspectiveU = c.perspectiveU,
                         .perspectiveV = c.perspectiveV, .quietZone = 2,
                         .polarity = c.lightOnDark ? scene::Polarity::lightOnDark : scene::Polarity::darkOnLight}},
         .lines = c.lines, .blurSigma = 0.6, .noiseSigma = 2, .seed = 7});
    const std::array<scene::Point, 4> t = sc.symbols[0].outline();
    if (c.strayLines > 0) drawStrayLines(t, c.strayLines, c.lightOnDark ? 200 : 40, &sc.image);
    const scene::ImageView view(sc.image);
    cimg_windowConst w;
    ASSERT_EQ(cimg_windowConst_init(&w, &*view), 0);
    auto at = [&](int i) { return cmath_vect{t[i % 4].x, t[i % 4].y}; };
    for (int origin = 0; origin < 4; ++origin) {
      const cmath_vect k = at(origin), a = at(origin + 1), b = at(origin + 3);
      const cmath_vect parallelogram{a.x + b.x - k.x, a.y + b.y - k.y};
      std::array<cmath_vect, 4> corners{k, a, parallelogram, b};
      const std::string what = "angle " + std::to_string(c.angle) + " origin " + std::to_string(origin);
      // Beside lines of clutter the fit may find too few crossings to trust and refuse, but
      // never takes a line of clutter for a side.
      const bool fitted = dmroad::fitFourthCorner(w, &corners);
      if (c.strayLines > 0 && !fitted) continue;
      ASSERT_TRUE(fitted) << what;
      EXPECT_LT(dmroad::distance(corners[0], k), 1e-9) << what << ": the located corner stays";
      for (int i = 1; i < 4; ++i) EXPECT_LT(dmroad::distance(corners[i], at(origin + i)), 1.0) << what << " corner " << i;
    }
  }
  // No symbol: a blank picture, and a solid block with a quiet zone round it.
  constexpr int kSize = 160;
  for (const bool block : {false, true}) {
    std::vector<uint8_t> pixels(kSize * kSize, 210);
    if (block)
      for (int y = 40; y < 120; ++y) std::fill_n(pixels.begin() + y * kSize + 40, 80, uint8_t{30});
    const cimg_windowConst w{kSize, kSize, 0, 0, kSize, pixels.data()};
    std::array<cmath_vect, 4> corners{cmath_vect{40, 120}, cmath_vect{120, 120}, cmath_vect{120, 40}, cmath_vect{40, 40}};
    EXPECT_FALSE(dmroad::fitFourthCorner(w, &corners)) << (block ? "block" : "blank");
  }
}
