// The base layer's C++ classes: the exception thrown by the library's classes, a timer, angle
// and 2D vector value types, an affine transform and the array template.
#ifndef IDUT_CX_HPP
#define IDUT_CX_HPP

#include <chrono>
#include <cmath>
#include <exception>
#include <limits>
#include <new>
#include <vector>

#include "base/cmath.h"
#include "base/csys.h"

// Thrown by value by the library's classes when a condition or a flat call fails. Carries the
// status code and either a message (may be null) or the source path and line.
class IDUT_API cxException : public std::exception {
 public:
  cxException(csys_status code, const char* message) noexcept : code_(code), message_(message) {}
  cxException(csys_status code, const char* path, int line) noexcept : code_(code), path_(path), line_(line) {}

  csys_status code() const noexcept { return code_; }
  const char* message() const noexcept { return message_; }
  const char* path() const noexcept { return path_; }
  int line() const noexcept { return line_; }
  const char* what() const noexcept override { return message_ ? message_ : "idut failure"; }

 private:
  csys_status code_;
  const char* message_ = nullptr;
  const char* path_ = nullptr;
  int line_ = 0;
};

// Wall-clock stopwatch, started on construction.
class IDUT_API cxTimer {
 public:
  cxTimer() noexcept { reset(); }
  void reset() noexcept { start_ = std::chrono::steady_clock::now(); }
  double elapsedMs() const noexcept {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

class cxDegree;

// An angle in radians, kept as given (not normalised).
class cxRadian {
 public:
  constexpr cxRadian() noexcept = default;
  constexpr explicit cxRadian(double radians) noexcept : value_(radians) {}
  inline cxRadian(const cxDegree& d) noexcept;
  constexpr double value() const noexcept { return value_; }
  cxRadian normalized() const noexcept { return cxRadian(cmath_radian_norm(value_)); }
  friend constexpr cxRadian operator+(cxRadian a, cxRadian b) noexcept { return cxRadian(a.value_ + b.value_); }
  friend constexpr cxRadian operator-(cxRadian a, cxRadian b) noexcept { return cxRadian(a.value_ - b.value_); }

 private:
  double value_ = 0.0;
};

// An angle in degrees.
class cxDegree {
 public:
  constexpr cxDegree() noexcept = default;
  constexpr explicit cxDegree(double degrees) noexcept : value_(degrees) {}
  constexpr cxDegree(const cxRadian& r) noexcept : value_(r.value() * (180.0 / M_PI)) {}
  constexpr double value() const noexcept { return value_; }

 private:
  double value_ = 0.0;
};

inline cxRadian::cxRadian(const cxDegree& d) noexcept : value_(d.value() * (M_PI / 180.0)) {}

inline double sin(cxRadian a) noexcept { return std::sin(a.value()); }
inline double cos(cxRadian a) noexcept { return std::cos(a.value()); }

// A 2D vector or point in double precision.
class cx2Vect {
 public:
  constexpr cx2Vect() noexcept = default;
  constexpr cx2Vect(double x, double y) noexcept : x_(x), y_(y) {}
  constexpr cx2Vect(const cmath_vect& v) noexcept : x_(v.x), y_(v.y) {}
  constexpr operator cmath_vect() const noexcept { return cmath_vect{x_, y_}; }

  constexpr double x() const noexcept { return x_; }
  constexpr double y() const noexcept { return y_; }
  double length() const noexcept { return std::hypot(x_, y_); }

  friend constexpr cx2Vect operator+(cx2Vect a, cx2Vect b) noexcept { return {a.x_ + b.x_, a.y_ + b.y_}; }
  friend constexpr cx2Vect operator-(cx2Vect a, cx2Vect b) noexcept { return {a.x_ - b.x_, a.y_ - b.y_}; }
  friend constexpr cx2Vect operator*(double s, cx2Vect a) noexcept { return {s * a.x_, s * a.y_}; }
  friend constexpr bool operator==(cx2Vect a, cx2Vect b) noexcept { return a.x_ == b.x_ && a.y_ == b.y_; }
  friend constexpr double dot(cx2Vect a, cx2Vect b) noexcept { return a.x_ * b.x_ + a.y_ * b.y_; }
  friend constexpr double cross(cx2Vect a, cx2Vect b) noexcept { return a.x_ * b.y_ - a.y_ * b.x_; }

 private:
  double x_ = 0.0;
  double y_ = 0.0;
};

// A 2x2 matrix, row major: [[a, b], [c, d]].
struct cx2Matrix {
  double a = 1.0, b = 0.0, c = 0.0, d = 1.0;
};

// The affine transform p' = matrix * p + trans.
class cx2Xform {
 public:
  constexpr cx2Xform() noexcept = default;
  constexpr cx2Xform(const cx2Matrix& m, const cx2Vect& t) noexcept : m_(m), t_(t) {}
  constexpr cx2Xform(const cmath_xformLinear& x) noexcept
      : m_{x.m.a, x.m.b, x.m.c, x.m.d}, t_(x.t.x, x.t.y) {}
  constexpr operator cmath_xformLinear() const noexcept {
    return cmath_xformLinear{{m_.a, m_.b, m_.c, m_.d}, {t_.x(), t_.y()}};
  }

  constexpr const cx2Matrix& matrix() const noexcept { return m_; }
  constexpr const cx2Vect& trans() const noexcept { return t_; }
  constexpr cx2Vect operator*(const cx2Vect& p) const noexcept {
    return {m_.a * p.x() + m_.b * p.y() + t_.x(), m_.c * p.x() + m_.d * p.y() + t_.y()};
  }

 private:
  cx2Matrix m_;
  cx2Vect t_;
};

namespace csys {

// Standard allocator over csys memory, so class-held arrays are counted and can be made to fail
// by the allocation hook like every other allocation of the library.
template <class T>
struct Allocator {
  using value_type = T;
  Allocator() noexcept = default;
  template <class U>
  Allocator(const Allocator<U>&) noexcept {}
  T* allocate(size_t n) {
    if (n > std::numeric_limits<size_t>::max() / sizeof(T)) throw std::bad_alloc();
    void* block = nullptr;
    if (CSYS_FAILED(csys_memory_alloc_internal(n * sizeof(T), &block))) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* p, size_t) noexcept {
    void* block = p;
    csys_memory_free_internal(&block);
  }
  template <class U>
  friend bool operator==(const Allocator&, const Allocator<U>&) noexcept {
    return true;
  }
};

}  // namespace csys

// The growable array of the class interfaces: a std::vector over csys memory.
template <class T>
class cxVector : public std::vector<T, csys::Allocator<T>> {
 public:
  using std::vector<T, csys::Allocator<T>>::vector;
};

#endif
