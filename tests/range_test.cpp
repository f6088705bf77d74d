// Real ranges: the set operations are checked against membership of sampled values (an
// interval is the set of values it holds), the conventions for Empty and Full operands
// against an explicit table, and every exception with its code and message.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <type_traits>

#include "ci_id/range.h"
#include "support/assert_recorder.hpp"
#include "support/fixtures.hpp"

namespace {

const cxRange kEmpty = cxRange::EmptyRange(), kFull = cxRange::FullRange();

}  // namespace

TEST(Range, AccessorsAndExceptions) {
  const cxRange r(-3, 5);
  EXPECT_TRUE(r.start() == -3 && r.end() == 5 && r.middle() == 1 && r.length() == 8);
  EXPECT_TRUE(cxRange() == kEmpty && kEmpty.length() == 0 && kFull.length() == std::numeric_limits<double>::max());
  expectThrows([] { cxRange(2, 1); }, cidut_errBadArgument, "start > end");
  expectThrows([] { (void)kEmpty.start(); }, cidut_errRangeNotFinite, nullptr);
  expectThrows([] { (void)kFull.middle(); }, cidut_errRangeNotFinite, nullptr);
  for (double s : {0.0, std::numeric_limits<double>::quiet_NaN()})
    expectThrows([&] { (void)r.scale(s); }, cidut_errBadArgument, "scale <= 0");
}

TEST(Range, OperationsAgreeWithMembership) {
  // Ranges on a coarse integer grid (touching and equal ends are common), a few Empty or Full;
  // integer samples decide dilation and erosion of intervals exactly.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> end(-8, 8);
  auto randomRange = [&](int pick) {
    const int a = end(rng), b = end(rng);  // a == b gives a point range
    return pick == 0 ? kEmpty : pick == 1 ? kFull : cxRange(std::min(a, b), std::max(a, b));
  };
  for (int trial = 0; trial < 3000; ++trial) {
    const cxRange a = randomRange(rng() % 10), b = randomRange(rng() % 10), both = a.intersect(b);
    const bool partial = a.range() == cxRangeDefs::Partial && b.range() == cxRangeDefs::Partial;
    const cxRange sum = a.dilate(b), diff = a.erode(b), moved = a.translate(-2.5), grown = a.scale(2);
    bool same = true;
    for (int i = -80; i <= 80; ++i) {
      const double x = i * 0.5;
      same = same && a.isWithin(x) == b.isWithin(x);
      ASSERT_EQ(both.isWithin(x), a.isWithin(x) && b.isWithin(x)) << trial << " x " << x;
      ASSERT_TRUE(moved.isWithin(x) == a.isWithin(x + 2.5) && grown.isWithin(x) == a.isWithin(x / 2)) << trial;
      if (!partial || i % 2 != 0) continue;
      bool inSum = false, inDiff = true;
      for (double y = b.start(); y <= b.end(); ++y) {
        inSum = inSum || a.isWithin(x - y);
        inDiff = inDiff && a.isWithin(x + y);
      }
      ASSERT_TRUE(sum.isWithin(x) == inSum && diff.isWithin(x) == inDiff) << trial << " x " << x;
    }
    // Full stays Full only when both are; equal ranges are the ones holding the same values.
    EXPECT_EQ(both.range() == cxRangeDefs::Full, a.range() == cxRangeDefs::Full && b.range() == cxRangeDefs::Full);
    EXPECT_TRUE((a == b) == same && (a != b) == !same) << trial;
    for (double minLength : {-1.0, 0.0, 1.5}) EXPECT_EQ(a.someOverlap(b, minLength), both.length() > minLength);
  }
}

TEST(Range, EmptyAndFullOperandsFollowTheirConventions) {
  // self, other, self dilated by other, self eroded by other (the loop above checks these only
  // for two Partial operands).
  const cxRange p(1, 2), q(5, 7);
  const cxRange cases[][4] = {{p, kEmpty, p, p},         {p, kFull, kFull, kEmpty},       {kEmpty, q, q, kEmpty},
                              {kEmpty, kEmpty, kEmpty, kEmpty}, {kEmpty, kFull, kFull, kEmpty}, {kFull, q, kFull, kFull},
                              {kFull, kEmpty, kFull, kFull}, {kFull, kFull, kFull, kFull}};
  for (const auto& c : cases)
    EXPECT_TRUE(c[0].dilate(c[1]) == c[2] && c[0].erode(c[1]) == c[3]) << c[0].range() << " " << c[1].range();
}

TEST(Range, CorruptKindIsReportedAndGivesNeutralAnswers) {
  static_assert(std::is_standard_layout_v<cxRange> && std::is_trivially_copyable_v<cxRange>);
  cxRange bad(0, 1);
  const int32_t kind = 7;
  std::memcpy(static_cast<void*>(&bad), &kind, sizeof kind);  // the kind is the first member
  AssertRecorder recorder;
  EXPECT_TRUE(bad.length() == 0 && !bad.isWithin(0.5) && bad.intersect(kFull) == kEmpty &&
              bad.dilate(cxRange(0, 1)) == kEmpty && bad.erode(kEmpty) == kEmpty && bad.translate(1) == kEmpty &&
              bad.scale(2) == kEmpty && !(bad == bad) && !bad.someOverlap(kFull, -1));
  EXPECT_EQ(recorder.count(), 9u);
}
