// Real ranges: a closed interval [start, end] that may also be empty or cover the whole real
// line, with the interval arithmetic that tolerance and search-window code needs.
//
// cxRange is a small value class (copied member by member). The operations that produce a range
// (intersect, translate, scale, dilate, erode) leave the object alone and return the result.
// Misuse is reported by throwing cxException by value:
//   - cidut_errBadArgument with the message "start > end" from the constructor when end < start;
//   - cidut_errBadArgument with the message "scale <= 0" from scale() unless the factor is > 0
//     (whatever the kind of the range);
//   - cidut_errRangeNotFinite with no message from start(), end() and middle() on an Empty or
//     Full range.
// A kind outside the three (only possible through memory corruption) is reported through
// cstd_assert_; the operations then give Empty, 0 or false.
#ifndef IDUT_CI_ID_RANGE_H
#define IDUT_CI_ID_RANGE_H

#include <cstdint>

#include "base/cx.hpp"
#include "ci_id/status.h"

// Holds the kinds of a range.
class IDUT_API cxRangeDefs {
 public:
  enum Range : int32_t {
    Partial = 0,  // a finite interval [start, end]
    Empty = 1,    // no value at all
    Full = 2,     // every real value
  };
};

class IDUT_API cxRange : public cxRangeDefs {
 public:
  // An Empty range.
  cxRange() noexcept = default;
  // The Partial range [start, end]; throws "start > end" when end < start. start == end is a
  // valid range of length 0.
  cxRange(double start, double end);

  // Copies of one shared Full or Empty range, created on first use (safe from several threads).
  static cxRange FullRange();
  static cxRange EmptyRange();

  Range range() const noexcept { return kind_; }
  // The ends of a Partial range; throw cidut_errRangeNotFinite otherwise.
  double start() const;
  double end() const;
  // (start + end) / 2 of a Partial range; throws cidut_errRangeNotFinite otherwise.
  double middle() const;
  // end - start; 0 for Empty; the largest finite double for Full.
  double length() const noexcept;
  // start <= x <= end for Partial; false for Empty; true for Full.
  bool isWithin(double x) const noexcept;

  // The common part of both ranges (Empty when they do not meet).
  cxRange intersect(const cxRange& other) const noexcept;
  // Shifted by d (Partial only; Empty and Full are unchanged).
  cxRange translate(double d) const noexcept;
  // Both ends multiplied by s > 0 (Partial only); throws "scale <= 0" unless s > 0.
  cxRange scale(double s) const;
  // Minkowski sum {a + b : a in this, b in other}; an Empty operand is the neutral element:
  // Partial + Empty = Partial, Empty + X = X; anything + Full and Full + anything = Full.
  cxRange dilate(const cxRange& other) const noexcept;
  // Minkowski difference {x : x + b in this for every b in other}: for Partial operands
  // [start - other.start, end - other.end], Empty when that is reversed. Eroding by Empty
  // changes nothing; a Partial eroded by Full is Empty; Empty stays Empty and Full stays Full.
  cxRange erode(const cxRange& other) const noexcept;

  // Equal when both Empty, both Full, or both Partial with exactly equal ends.
  bool operator==(const cxRange& other) const noexcept;
  bool operator!=(const cxRange& other) const noexcept { return !(*this == other); }

  // True when the length of the intersection with other is above minLength (so two ranges that
  // only touch overlap for a negative minLength, not for 0).
  bool someOverlap(const cxRange& other, double minLength) const noexcept;

 private:
  explicit cxRange(Range kind) noexcept : kind_(kind) {}
  // Throws cidut_errRangeNotFinite unless the range is Partial.
  void checkPartialRange() const;
  // Builds a Partial range whose ends are known to be ordered.
  static cxRange partial(double start, double end) noexcept;

  Range kind_ = Empty;
  double start_ = 0.0;
  double end_ = 0.0;
};

#endif
