// Real ranges and their interval arithmetic.
#include "ci_id/range.h"

#include <algorithm>
#include <limits>

namespace {

bool validKind(cxRangeDefs::Range kind) {
  return kind == cxRangeDefs::Partial || kind == cxRangeDefs::Empty || kind == cxRangeDefs::Full;
}

}  // namespace

cxRange::cxRange(double start, double end) : kind_(Partial), start_(start), end_(end) {
  if (end < start) throw cxException(cidut_errBadArgument, "start > end");
}

cxRange cxRange::partial(double start, double end) noexcept {
  cxRange r(Partial);
  r.start_ = start;
  r.end_ = end;
  return r;
}

// Function-local statics are initialised exactly once even when two threads get here together.
cxRange cxRange::FullRange() {
  static const cxRange full(Full);
  return full;
}

cxRange cxRange::EmptyRange() {
  static const cxRange empty(Empty);
  return empty;
}

void cxRange::checkPartialRange() const {
  if (kind_ != Partial) throw cxException(cidut_errRangeNotFinite, nullptr);
}

double cxRange::start() const {
  checkPartialRange();
  return start_;
}

double cxRange::end() const {
  checkPartialRange();
  return end_;
}

double cxRange::middle() const {
  checkPartialRange();
  return (start_ + end_) / 2.0;
}

double cxRange::length() const noexcept {
  switch (kind_) {
    case Partial: return end_ - start_;
    case Empty: return 0.0;
    case Full: return std::numeric_limits<double>::max();
  }
  cstd_assert_(__LINE__);
  return 0.0;
}

bool cxRange::isWithin(double x) const noexcept {
  switch (kind_) {
    case Partial: return start_ <= x && x <= end_;
    case Empty: return false;
    case Full: return true;
  }
  cstd_assert_(__LINE__);
  return false;
}

cxRange cxRange::intersect(const cxRange& other) const noexcept {
  if (!validKind(kind_) || !validKind(other.kind_)) {
    cstd_assert_(__LINE__);
    return cxRange();
  }
  if (kind_ == Empty || other.kind_ == Empty) return cxRange();
  if (other.kind_ == Full) return *this;
  if (kind_ == Full) return other;
  const double lo = std::max(start_, other.start_), hi = std::min(end_, other.end_);
  return lo <= hi ? partial(lo, hi) : cxRange();
}

cxRange cxRange::translate(double d) const noexcept {
  if (!validKind(kind_)) {
    cstd_assert_(__LINE__);
    return cxRange();
  }
  return kind_ == Partial ? partial(start_ + d, end_ + d) : *this;
}

cxRange cxRange::scale(double s) const {
  // Negated test so that a NaN factor is refused too.
  if (!(s > 0.0)) throw cxException(cidut_errBadArgument, "scale <= 0");
  if (!validKind(kind_)) {
    cstd_assert_(__LINE__);
    return cxRange();
  }
  return kind_ == Partial ? partial(start_ * s, end_ * s) : *this;
}

cxRange cxRange::dilate(const cxRange& other) const noexcept {
  if (!validKind(kind_) || !validKind(other.kind_)) {
    cstd_assert_(__LINE__);
    return cxRange();
  }
  if (kind_ == Empty) return other;
  if (kind_ == Full || other.kind_ == Full) return cxRange(Full);
  if (other.kind_ == Empty) return *this;
  return partial(start_ + other.start_, end_ + other.end_);
}

cxRange cxRange::erode(const cxRange& other) const noexcept {
  if (!validKind(kind_) || !validKind(other.kind_)) {
    cstd_assert_(__LINE__);
    return cxRange();
  }
  if (kind_ != Partial || other.kind_ == Empty) return *this;
  if (other.kind_ == Full) return cxRange();
  const double lo = start_ - other.start_, hi = end_ - other.end_;
  return lo > hi ? cxRange() : partial(lo, hi);
}

bool cxRange::operator==(const cxRange& other) const noexcept {
  if (!validKind(kind_) || !validKind(other.kind_)) {
    cstd_assert_(__LINE__);
    return false;
  }
  if (kind_ != other.kind_) return false;
  return kind_ != Partial || (start_ == other.start_ && end_ == other.end_);
}

bool cxRange::someOverlap(const cxRange& other, double minLength) const noexcept {
  if (!validKind(kind_) || !validKind(other.kind_)) {
    cstd_assert_(__LINE__);
    return false;
  }
  return intersect(other).length() > minLength;
}
