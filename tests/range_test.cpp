// Real ranges: the set operations are checked against membership of sampled values (an
// interval is the set of values it holds), the conventions for Empty and Full operands
// against an explicit table, and every exception with its code and message.
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

const cxRange kEmpty = cxRange::EmptyRange(), kFull = cxRange::FullRange();

template <class F>
void expectThrows(F&& f, csys_status code, const char* message) {
  try {
    f();
    ADD_FAILURE() << "no exception";
  } catch (const cxException& e) {
    EXPECT_EQ(e.code(), code);
    EXPECT_STREQ(e.message(), message);  // both null, or the same text
  }
}

}  // namespace

TEST(Range, ConstructionAccessorsAndTheirExceptions) {
  expectThrows([] { cxRange(2, 1); }, cidut_errBadArgument, "start > end");
  const cxRange point(1, 1), r(-3, 5);
  EXPECT_TRUE(point.range() == cxRangeDefs::Partial && point.length() == 0 && point.isWithin(1.0) &&
              !point.isWithin(std::nextafter(1.0, 2.0)));
  EXPECT_TRUE(r.start() == -3 && r.end() == 5 && r.middle() == 1 && r.length() == 8);
  EXPECT_TRUE(cxRange().range() == cxRangeDefs::Empty && kEmpty.range() == cxRangeDefs::Empty &&
              kFull.range() == cxRangeDefs::Full);
  EXPECT_TRUE(kEmpty.length() == 0 && kFull.length() == std::numeric_limits<double>::max());
  EXPECT_TRUE(!kEmpty.isWithin(0.0) && kFull.isWithin(-1e300));
  for (const cxRange& notFinite : {kEmpty, kFull}) {
    expectThrows([&] { (void)notFinite.start(); }, cidut_errRangeNotFinite, nullptr);
    expectThrows([&] { (void)notFinite.end(); }, cidut_errRangeNotFinite, nullptr);
    expectThrows([&] { (void)notFinite.middle(); }, cidut_errRangeNotFinite, nullptr);
  }
  for (const cxRange& any : {r, kEmpty, kFull})
    for (double s : {0.0, -0.0, -1.0, std::numeric_limits<double>::quiet_NaN()})
      expectThrows([&] { (void)any.scale(s); }, cidut_errBadArgument, "scale <= 0");
}

TEST(Range, OperationsAgreeWithMembership) {
  // Ranges on a coarse integer grid (touching and equal ends are common), a few Empty or Full;
  // integer samples decide dilation and erosion of intervals exactly.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> end(-8, 8);
  auto randomRange = [&](int pick) {
    const int a = end(rng), b = end(rng);
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
      for (double y = b.start(); y <= b.end(); ++y)
        inSum = inSum || a.isWithin(x - y), inDiff = inDiff && a.isWithin(x + y);
      ASSERT_TRUE(sum.isWithin(x) == inSum && diff.isWithin(x) == inDiff) << trial << " x " << x;
    }
    // Full stays Full only when both are; equal ranges are the ones holding the same values.
    EXPECT_EQ(both.range() == cxRangeDefs::Full, a.range() == cxRangeDefs::Full && b.range() == cxRangeDefs::Full);
    EXPECT_TRUE((a == b) == same && (a != b) == !same) << trial;
    for (double minLength : {-1.0, 0.0, 1.5}) EXPECT_EQ(a.someOverlap(b, minLength), both.length() > minLength);
  }
}

TEST(Range, EmptyAndFullOperandsFollowTheirConventions) {
  const cxRange p(1, 2), q(5, 7);
  // self, other, self dilated by other, self eroded by other.
  const cxRange cases[][4] = {{p, kEmpty, p, p},           {p, kFull, kFull, kEmpty},        {kEmpty, q, q, kEmpty},
                              {kEmpty, kEmpty, kEmpty, kEmpty}, {kEmpty, kFull, kFull, kEmpty}, {kFull, q, kFull, kFull},
                              {kFull, kEmpty, kFull, kFull},    {kFull, kFull, kFull, kFull}};
  for (const auto& c : cases)
    EXPECT_TRUE(c[0].dilate(c[1]) == c[2] && c[0].erode(c[1]) == c[3]) << c[0].range() << " " << c[1].range();
  // Intersection with Full hands back the finite operand itself; Empty and Full do not move.
  EXPECT_TRUE(kFull.intersect(q) == q && q.intersect(kFull) == q);
  EXPECT_TRUE(kEmpty.translate(4) == kEmpty && kFull.translate(4) == kFull && kFull.scale(3) == kFull);
}

TEST(Range, SharedRangesFromSeveralThreads) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&wrong, t] {
      for (int i = 0; i < 2000; ++i)
        wrong[t] += cxRange::FullRange().range() != cxRangeDefs::Full || cxRange::EmptyRange() != cxRange();
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(Range, CorruptKindIsReportedAndGivesNeutralAnswers) {
  static_assert(std::is_standard_layout_v<cxRange> && std::is_trivially_copyable_v<cxRange>);
  cxRange bad(0, 1);
  const int32_t kind = 7;
  std::memcpy(static_cast<void*>(&bad), &kind, sizeof kind);  // the kind is the first member
  ASSERT_EQ(static_cast<int32_t>(bad.range()), 7);
  AssertRecorder recorder;
  EXPECT_TRUE(bad.length() == 0 && !bad.isWithin(0.5) && bad.intersect(kFull) == kEmpty &&
              kFull.intersect(bad) == kEmpty && bad.dilate(cxRange(0, 1)) == kEmpty && bad.erode(kEmpty) == kEmpty &&
              bad.translate(1) == kEmpty && bad.scale(2) == kEmpty && !(bad == bad) && !bad.someOverlap(kFull, -1));
  EXPECT_EQ(recorder.count(), 10u);
  expectThrows([&] { (void)bad.start(); }, cidut_errRangeNotFinite, nullptr);
}
