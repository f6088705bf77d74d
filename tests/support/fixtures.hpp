// Test fixtures: the exception a call must throw; the corner errors of a located quadrilateral
// under its best pairing with the true corners; a canvas set up the way a driver prepares a
// search (image, marking image, parameters with scratch, result).
#ifndef IDUT_TESTS_SUPPORT_FIXTURES_HPP
#define IDUT_TESTS_SUPPORT_FIXTURES_HPP

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "base/cx.hpp"
#include "ci_id/contourruns.h"
#include "ci_id/tracking.h"
#include "support/shapes.hpp"

// f() must throw the library's exception with this code and message (both null, or the same text).
template <class F>
void expectThrows(F&& f, csys_status code, const char* message) {
  try {
    f();
    ADD_FAILURE() << "no exception";
  } catch (const cxException& e) {
    EXPECT_EQ(e.code(), code);
    EXPECT_STREQ(e.message(), message);
  }
}

// Distances of four found corners to the true ones, in truth order, under the one of the eight
// ways of laying the found outline onto the truth's (any corner first, either way round) whose
// largest distance is smallest. Only those eight: a pairing that crosses the outline over
// itself is not a located symbol.
template <class Found, class Truth>
std::array<double, 4> cornerErrors(const Found& found, const Truth& truth) {
  std::array<double, 4> best{};
  double bestWorst = 1e300;
  for (int first = 0; first < 4; ++first)
    for (int turn : {1, 3}) {
      std::array<double, 4> e{};
      for (int i = 0; i < 4; ++i) {
        const auto& f = found[(first + turn * i) % 4];
        e[i] = std::hypot(f.x - truth[i].x, f.y - truth[i].y);
      }
      const double worst = *std::max_element(e.begin(), e.end());
      if (worst < bestWorst) {
        bestWorst = worst;
        best = e;
      }
    }
  return best;
}

template <class Found, class Truth>
double worstCornerError(const Found& found, const Truth& truth) {
  const std::array<double, 4> e = cornerErrors(found, truth);
  return *std::max_element(e.begin(), e.end());
}

// The shapes drawn dark on light on a canvas at (0, 0) wrapped as the search's image, with a
// quarter-resolution marking image, default parameters with scratch, and a result.
struct TrackingBench {
  TrackingBench(int width, int height, const std::vector<shapes::Polygon>& parts, uint8_t light, uint8_t dark)
      : canvas(0, 0, width, height, 0, light), scratch((CID2D_SCRATCH_MIN_SIZE + 3) / 4) {
    canvas.render(shapes::Shape{parts}, light, dark);
    EXPECT_EQ(cimg_imageConst_constructWrap(&image, canvas.windowPixels(), width, height, canvas.stride()), 0);
    EXPECT_EQ(cimg_image_construct(&marking, (width + 3) / 4, (height + 3) / 4), 0);
    cid2d_trackingParams_init(&params);
    params.scratch = reinterpret_cast<uint8_t*>(scratch.data());
    params.scratchSize = CID2D_SCRATCH_MIN_SIZE;
    EXPECT_EQ(cid2d_trackingResult_construct(&result), 0);
  }
  ~TrackingBench() {
    cid2d_trackingResult_destruct(&result);
    cimg_image_destruct(&marking);
    cimg_imageConst_destruct(&image);
  }
  TrackingBench(const TrackingBench&) = delete;
  TrackingBench& operator=(const TrackingBench&) = delete;

  shapes::Canvas canvas;
  std::vector<int32_t> scratch;
  cimg_imageConst image;
  cimg_image marking;
  cid2d_trackingParams params;
  cid2d_trackingResult result;
};

#endif
