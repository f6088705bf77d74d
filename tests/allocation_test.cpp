// Every call that allocates, with each of its allocations failing in turn: the failure status
// comes back, nothing leaks, and the caller's records are left empty. Whole roads are swept as
// well as constructors, so every allocation point beneath them is reached.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/cbt.h"
#include "road/dmroad.hpp"
#include "support/assert_recorder.hpp"
#include "support/scene.hpp"

namespace {

struct Sweep {
  std::string name;
  std::function<csys_status()> attempt;
  uint64_t minimumPoints;  // allocation points the call is known to have, at least
};

// A small scene with one real symbol, shared by the road sweeps.
const scene::GreyImage& symbolScene() {
  static const scene::GreyImage image = [] {
    scene::SceneSpec spec;
    spec.width = 120;
    spec.height = 100;
    spec.symbols.push_back(scene::encodeDataMatrix("sweep"));
    scene::Placement placement;
    placement.centre = {60, 50};
    placement.moduleSize = 4;
    placement.angleDeg = 15;
    spec.placements.push_back(placement);
    return scene::render(spec).image;
  }();
  return image;
}

csys_status runRoad(bool adaptive) {
  scene::ImageView view(symbolScene());
  dmroad::Options options;
  options.adaptive = adaptive;
  const dmroad::Outcome outcome = dmroad::findAll(*view, options);
  // A failure may stop the road at any point, but what it did report is whole.
  for (const dmroad::Symbol& s : outcome.symbols)
    if (s.corners[0].x == 0 && s.corners[0].y == 0 && s.corners[2].x == 0) return csys_errAssertion;
  if (outcome.status == 0 && outcome.symbols.size() != 1) return csys_errAssertion;
  return outcome.status;
}

std::vector<Sweep> sweeps() {
  return {
      {"boundary result",
       [] {
         cbt_result r;
         std::memset(&r, 0x5A, sizeof r);
         const csys_status st = cbt_result_construct(&r, 500);
         if (st != 0) return r.points == nullptr && r.capacity == 0 ? st : csys_errAssertion;
         return cbt_result_destruct(&r);
       },
       1},
      {"Data Matrix road", [] { return runRoad(false); }, 3},
      {"adaptive Data Matrix road", [] { return runRoad(true); }, 3},
  };
}

TEST(AllocationFailures, EveryAllocationPointFailsCleanly) {
  for (const Sweep& sweep : sweeps()) {
    const uint64_t points = sweepAllocationFailures(sweep.attempt);
    EXPECT_GE(points, sweep.minimumPoints) << sweep.name << ": a run failed otherwise, or leaked";
    std::printf("%-28s %llu allocation points\n", sweep.name.c_str(), static_cast<unsigned long long>(points));
  }
}

}  // namespace
