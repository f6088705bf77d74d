// Corner accuracy of the Data Matrix road over generated scenes: the error of each corner (the L
// corner Po, the solid row's end Px, the solid column's end Py and the opposite corner Popp) in
// modules, per kind of scene.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "reader/datamatrix/dmroad.hpp"
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
