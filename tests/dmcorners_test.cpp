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
#include <vector>

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

namespace {

// An n x n Data Matrix border (solid left column and bottom row, alternating top row and right
// column) round random modules, drawn through the projective map of the unit square onto
// k (the L corner), a (the solid row's end), d (the far corner), b (the solid column's end); each
// pixel the mean of 4 x 4 samples, 40 ink on 220 light.
std::vector<uint8_t> drawKeystone(int n, cmath_vect k, cmath_vect a, cmath_vect d, cmath_vect b, int width, int height) {
  const dmroad::SquareToQuad h(k, a, d, b);
  // The inverse map by the adjugate of [a b c; d e f; g h 1].
  const double m[3][3] = {{h.a, h.b, h.c}, {h.d, h.e, h.f}, {h.g, h.h, 1}};
  double inv[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      inv[j][i] = m[(i + 1) % 3][(j + 1) % 3] * m[(i + 2) % 3][(j + 2) % 3] -
                  m[(i + 1) % 3][(j + 2) % 3] * m[(i + 2) % 3][(j + 1) % 3];
  std::mt19937 rng(11);
  std::vector<uint8_t> inside(static_cast<size_t>(n) * n);
  for (uint8_t& v : inside) v = static_cast<uint8_t>(rng() & 1);
  auto ink = [&](double x, double y) {
    const double w = inv[2][0] * x + inv[2][1] * y + inv[2][2];
    const double u = (inv[0][0] * x + inv[0][1] * y + inv[0][2]) / w, v = (inv[1][0] * x + inv[1][1] * y + inv[1][2]) / w;
    if (!(u >= 0 && u < 1 && v >= 0 && v < 1)) return false;
    const int col = static_cast<int>(u * n), up = static_cast<int>(v * n);  // up: modules above the solid row
    if (col == 0 || up == 0) return true;
    if (up == n - 1) return col % 2 == 0;
    if (col == n - 1) return up % 2 == 0;
    return inside[static_cast<size_t>(up) * n + col] != 0;
  };
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      int dark = 0;
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) dark += ink(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4);
      pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(220 - dark * 180 / 16);
    }
  return pixels;
}

}  // namespace

// A symbol seen at an angle, located as a parallelogram on its L: the far sides measured in the
// image move the far corner (and the ends of the solid sides) onto the keystone's own, within a
// pixel, however far the keystone pulls it; a plain picture has no far sides to measure.
TEST(DataMatrixCorners, FarSidesFollowAKeystone) {
  struct Case {
    const char* name;
    double farX, farY;  // the far corner's offset from the parallelogram's
    bool blank;
  };
  const Case cases[] = {
      {"square", 0, 0, false},        {"pulled out", 5, -4, false}, {"pushed in", -6, 5, false},
      {"pulled right", 7, 0, false},  {"pulled up", 0, -7, false},  {"blank picture", 0, 0, true},
  };
  constexpr int kWidth = 130, kHeight = 130;
  const cmath_vect k{20, 104}, a{102, 106}, b{22, 22};
  const cmath_vect parallelogram{a.x + b.x - k.x, a.y + b.y - k.y};
  for (const Case& c : cases) {
    const cmath_vect d{parallelogram.x + c.farX, parallelogram.y + c.farY};
    std::vector<uint8_t> pixels = drawKeystone(16, k, a, d, b, kWidth, kHeight);
    if (c.blank) std::fill(pixels.begin(), pixels.end(), uint8_t{220});
    const cimg_windowConst w{kWidth, kHeight, 0, 0, kWidth, pixels.data()};
    std::array<cmath_vect, 4> corners{k, a, parallelogram, b};
    const bool fitted = dmroad::fitFarSides(w, &corners);
    if (c.blank) {
      EXPECT_FALSE(fitted) << c.name;
      continue;
    }
    ASSERT_TRUE(fitted) << c.name;
    EXPECT_LT(dmroad::distance(corners[0], k), 1e-9) << c.name << ": the L corner stays";
    EXPECT_LT(dmroad::distance(corners[1], a), 1.0) << c.name;
    EXPECT_LT(dmroad::distance(corners[2], d), 1.0) << c.name;
    EXPECT_LT(dmroad::distance(corners[3], b), 1.0) << c.name;
  }
}
