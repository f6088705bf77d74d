// Real ranges: the set operations are checked against membership of sampled values (an
// interval is the set of values it holds), the conventions for Empty and Full operands
// against explicit tables, and every exception with its code and message.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <type_traits>
#include <vector>

#include "ci_id/range.h"
#include "support/assert_recorder.hpp"

namespace {

const cxRange kEmpty = cxRange::EmptyRange();
const cxRange kFull = cxRange::FullRange();

template <class F>
void expectThrows(F&& f, csys_status code, const char* message) {
  try {
    f();
    ADD_FAILURE() << "no exception";
  } catch (const cxException& e) {
    EXPECT_EQ(e.code(), code);
    if (message == nullptr)
      EXPECT_EQ(e.message(), nullptr);
    else
      EXPECT_STREQ(e.message(), message);
  }
}

// Random ranges on a coarse integer grid, so touching and equal ends are common; a few are
// Empty or Full.
cxRange randomRange(std::mt19937& rng) {
  const int pick = std::uniform_int_distribution<int>(0, 9)(rng);
  if (pick == 0) return kEmpty;
  if (pick == 1) return kFull;
  std::uniform_int_distribution<int> end(-8, 8);
  int a = end(rng), b = end(rng);
  if (a > b) std::swap(a, b);
  return cxRange(a, b);
}

std::vector<double> samples() {
  std::vector<double> xs;
  for (int i = -40; i <= 40; ++i) xs.push_back(i * 0.5);
  return xs;
}

}  // namespace

TEST(Range, ConstructionAccessorsAndTheirExceptions) {
  expectThrows([] { cxRange(2, 1); }, cidut_errBadArgument, "start > end");
  const cxRange point(1, 1);
  EXPECT_EQ(point.range(), cxRangeDefs::Partial);
  EXPECT_EQ(point.length(), 0.0);
  EXPECT_TRUE(point.isWithin(1.0));
  EXPECT_FALSE(point.isWithin(std::nextafter(1.0, 2.0)));

  const cxRange r(-3, 5);
  EXPECT_EQ(r.start(), -3.0);
  EXPECT_EQ(r.end(), 5.0);
  EXPECT_EQ(r.middle(), 1.0);
  EXPECT_EQ(r.length(), 8.0);

  EXPECT_EQ(cxRange().range(), cxRangeDefs::Empty);
  EXPECT_EQ(kEmpty.range(), cxRangeDefs::Empty);
  EXPECT_EQ(kFull.range(), cxRangeDefs::Full);
  EXPECT_EQ(kEmpty.length(), 0.0);
  EXPECT_EQ(kFull.length(), 1.7976931348623157e308);
  EXPECT_FALSE(kEmpty.isWithin(0.0));
  EXPECT_TRUE(kFull.isWithin(-1e300));

  for (const cxRange& notFinite : {kEmpty, kFull}) {
    expectThrows([&] { (void)notFinite.start(); }, cidut_errRangeNotFinite, nullptr);
    expectThrows([&] { (void)notFinite.end(); }, cidut_errRangeNotFinite, nullptr);
    expectThrows([&] { (void)notFinite.middle(); }, cidut_errRangeNotFinite, nullptr);
  }
}

TEST(Range, IntersectionIsSetIntersection) {
  EXPECT_EQ(cxRange(0, 10).intersect(cxRange(5, 20)), cxRange(5, 10));
  EXPECT_EQ(cxRange(0, 10).intersect(cxRange(11, 20)), kEmpty);
  EXPECT_EQ(cxRange(0, 10).intersect(cxRange(10, 20)), cxRange(10, 10));

  std::mt19937 rng(7);
  const auto xs = samples();
  for (int trial = 0; trial < 2000; ++trial) {
    const cxRange a = randomRange(rng), b = randomRange(rng);
    const cxRange both = a.intersect(b);
    for (double x : xs)
      ASSERT_EQ(both.isWithin(x), a.isWithin(x) && b.isWithin(x)) << trial << " x " << x;
    // Full stays Full only when both are; otherwise a non-empty result is a finite interval.
    EXPECT_EQ(both.range() == cxRangeDefs::Full, a.range() == cxRangeDefs::Full && b.range() == cxRangeDefs::Full);
  }
}

TEST(Range, DilationAndErosionOfIntervalsAreMinkowskiSumAndDifference) {
  EXPECT_EQ(cxRange(0, 4).erode(cxRange(-1, 1)), cxRange(1, 3));
  EXPECT_EQ(cxRange(0, 1).erode(cxRange(-1, 1)), kEmpty);

  // Integer ends and integer samples decide both operations exactly.
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> end(-6, 6);
  for (int trial = 0; trial < 1000; ++trial) {
    int a0 = end(rng), a1 = end(rng), b0 = end(rng), b1 = end(rng);
    if (a0 > a1) std::swap(a0, a1);
    if (b0 > b1) std::swap(b0, b1);
    const cxRange a(a0, a1), b(b0, b1);
    const cxRange sum = a.dilate(b), diff = a.erode(b);
    for (int x = -20; x <= 20; ++x) {
      bool inSum = false, inDiff = true;
      for (int y = b0; y <= b1; ++y) {
        inSum = inSum || a.isWithin(x - y);
        inDiff = inDiff && a.isWithin(x + y);
      }
      ASSERT_EQ(sum.isWithin(x), inSum) << a0 << "," << a1 << " + " << b0 << "," << b1 << " at " << x;
      ASSERT_EQ(diff.isWithin(x), inDiff) << a0 << "," << a1 << " - " << b0 << "," << b1 << " at " << x;
    }
  }
}

TEST(Range, EmptyAndFullOperandsFollowTheirConventions) {
  const cxRange p(1, 2), q(5, 7);
  struct Case {
    cxRange self, other, dilated, eroded;
  };
  const Case cases[] = {
      {p, kEmpty, p, p},           {p, kFull, kFull, kEmpty},        {kEmpty, q, q, kEmpty},
      {kEmpty, kEmpty, kEmpty, kEmpty}, {kEmpty, kFull, kFull, kEmpty}, {kFull, q, kFull, kFull},
      {kFull, kEmpty, kFull, kFull},    {kFull, kFull, kFull, kFull},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.self.dilate(c.other), c.dilated) << c.self.range() << " + " << c.other.range();
    EXPECT_EQ(c.self.erode(c.other), c.eroded) << c.self.range() << " - " << c.other.range();
  }
  // Intersection with Full hands back the finite operand itself.
  EXPECT_EQ(kFull.intersect(q), q);
  EXPECT_EQ(q.intersect(kFull), q);
}

TEST(Range, TranslateAndScale) {
  EXPECT_EQ(cxRange(1, 3).translate(-2.5), cxRange(-1.5, 0.5));
  EXPECT_EQ(cxRange(1, 3).scale(2), cxRange(2, 6));
  EXPECT_EQ(cxRange(-1, 3).scale(0.5), cxRange(-0.5, 1.5));
  EXPECT_EQ(kEmpty.translate(4), kEmpty);
  EXPECT_EQ(kFull.translate(4), kFull);
  EXPECT_EQ(kFull.scale(3), kFull);
  EXPECT_EQ(kEmpty.scale(3), kEmpty);
  for (const cxRange& r : {cxRange(1, 3), kEmpty, kFull})
    for (double s : {0.0, -0.0, -1.0, std::numeric_limits<double>::quiet_NaN()})
      expectThrows([&] { (void)r.scale(s); }, cidut_errBadArgument, "scale <= 0");
}

TEST(Range, EqualityAndOverlap) {
  const cxRange all[] = {kEmpty, kFull, cxRange(0, 1), cxRange(0, 2), cxRange(1, 2)};
  for (size_t i = 0; i < std::size(all); ++i)
    for (size_t j = 0; j < std::size(all); ++j) {
      EXPECT_EQ(all[i] == all[j], i == j) << i << " " << j;
      EXPECT_EQ(all[i] != all[j], i != j) << i << " " << j;
    }
  EXPECT_EQ(cxRange(0, 1), cxRange(0, 1));

  EXPECT_FALSE(cxRange(0, 10).someOverlap(cxRange(10, 20), 0.0));
  EXPECT_TRUE(cxRange(0, 10).someOverlap(cxRange(10, 20), -1.0));
  EXPECT_TRUE(cxRange(0, 10).someOverlap(cxRange(5, 20), 4.5));
  EXPECT_FALSE(cxRange(0, 10).someOverlap(cxRange(5, 20), 5.0));
  EXPECT_TRUE(kFull.someOverlap(kFull, 1e300));
  EXPECT_FALSE(kEmpty.someOverlap(kFull, 0.0));
  EXPECT_TRUE(kEmpty.someOverlap(kFull, -0.5));
}

TEST(Range, SharedRangesFromSeveralThreads) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&wrong, t] {
      for (int i = 0; i < 2000; ++i) {
        if (cxRange::FullRange().range() != cxRangeDefs::Full) ++wrong[t];
        if (cxRange::EmptyRange().range() != cxRangeDefs::Empty) ++wrong[t];
      }
    });
  for (auto& t : threads) t.join();
  for (int w : wrong) EXPECT_EQ(w, 0);
}

TEST(Range, CorruptKindIsReportedAndGivesNeutralAnswers) {
  static_assert(std::is_standard_layout_v<cxRange> && std::is_trivially_copyable_v<cxRange>);
  cxRange bad(0, 1);
  const int32_t kind = 7;
  std::memcpy(static_cast<void*>(&bad), &kind, sizeof kind);  // the kind is the first member
  ASSERT_EQ(static_cast<int32_t>(bad.range()), 7);

  AssertRecorder recorder;
  EXPECT_EQ(bad.length(), 0.0);
  EXPECT_FALSE(bad.isWithin(0.5));
  EXPECT_EQ(bad.intersect(kFull), kEmpty);
  EXPECT_EQ(kFull.intersect(bad), kEmpty);
  EXPECT_EQ(bad.dilate(cxRange(0, 1)), kEmpty);
  EXPECT_EQ(bad.erode(kEmpty), kEmpty);
  EXPECT_EQ(bad.translate(1), kEmpty);
  EXPECT_EQ(bad.scale(2), kEmpty);
  EXPECT_FALSE(bad == bad);
  EXPECT_FALSE(bad.someOverlap(kFull, -1));
  EXPECT_EQ(recorder.count(), 10u);
  expectThrows([&] { (void)bad.start(); }, cidut_errRangeNotFinite, nullptr);
}
