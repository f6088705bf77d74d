// Sorting: agreement with std::sort on random arrays of every element type (full-range values,
// so signed and unsigned order both matter, and few distinct values), empty and null ranges, and
// the recursion depth on sorted input.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "ci_id/sort.h"

namespace {

template <class T, class Sort>
void expectMatchesStdSort(Sort sort, std::mt19937& rng, T lo, T hi) {
  for (int size : {0, 1, 2, 3, 7, 64, 1000}) {
    for (int trial = 0; trial < 5; ++trial) {
      std::vector<T> values(size);
      // Few distinct values in some trials so duplicates are exercised.
      const bool fewDistinct = trial % 2 == 1;
      for (auto& v : values) {
        if constexpr (std::is_floating_point_v<T>)
          v = std::uniform_real_distribution<T>(fewDistinct ? T(0) : lo, fewDistinct ? T(3) : hi)(rng);
        else
          v = static_cast<T>(std::uniform_int_distribution<int64_t>(fewDistinct ? 0 : lo, fewDistinct ? 3 : hi)(rng));
        if constexpr (std::is_floating_point_v<T>)
          if (fewDistinct) v = std::floor(v);
      }
      std::vector<T> expected = values;
      std::sort(expected.begin(), expected.end());
      sort(values.data(), values.data() + values.size());
      ASSERT_EQ(values, expected) << "size " << size << " trial " << trial;
    }
  }
}

}  // namespace

TEST(Sort, AgreesWithStdSortOnRandomArrays) {
  std::mt19937 rng(12345);
  expectMatchesStdSort<double>(csys_double_qsort, rng, -1e6, 1e6);
  expectMatchesStdSort<float>(csys_float_qsort, rng, -1e3f, 1e3f);
  expectMatchesStdSort<int8_t>(csys_int8_qsort, rng, -128, 127);
  expectMatchesStdSort<uint8_t>(csys_uint8_qsort, rng, 0, 255);
  expectMatchesStdSort<int32_t>(csys_int32_qsort, rng, std::numeric_limits<int32_t>::min(),
                                std::numeric_limits<int32_t>::max());
  expectMatchesStdSort<uint32_t>(csys_uint32_qsort, rng, 0, std::numeric_limits<uint32_t>::max());
  expectMatchesStdSort<long>([](long* b, long* e) { csys_vector_qsort<long>(b, e); return 0; }, rng, -100000, 100000);
  expectMatchesStdSort<double>([](double* b, double* e) { csys_vector_qsort<double>(b, e); return 0; }, rng, -1.0, 1.0);
}

// Empty and null ranges are no-ops (sizes 0 and 1 and duplicates are in the random arrays).
TEST(Sort, DegenerateRangesChangeNothing) {
  int32_t one[] = {42};
  EXPECT_EQ(csys_int32_qsort(one, one) | csys_int32_qsort(nullptr, one + 1) | csys_int32_qsort(one, nullptr) |
                csys_double_qsort(nullptr, nullptr),
            0);
  EXPECT_EQ(one[0], 42);
}

namespace {
// Runs fn on a thread with a 256 KiB stack, so unbounded recursion would overflow it.
void onSmallStack(void (*fn)()) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, [](void* f) -> void* { reinterpret_cast<void (*)()>(f)(); return nullptr; },
                           reinterpret_cast<void*>(fn)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}
}  // namespace

TEST(Sort, SortedAndReversedInputsKeepTheStackShallow) {
  // Already sorted and reversed inputs are the pivot scheme's worst case: every split is as
  // uneven as it gets, so recursing into both sides would nest once per element.
  static std::vector<int32_t> up, down;
  constexpr int n = 30000;
  up.resize(n);
  down.resize(n);
  for (int i = 0; i < n; ++i) {
    up[i] = i;
    down[i] = n - i;
  }
  onSmallStack([] {
    csys_int32_qsort(up.data(), up.data() + up.size());
    csys_int32_qsort(down.data(), down.data() + down.size());
  });
  EXPECT_TRUE(std::is_sorted(up.begin(), up.end()) && std::is_sorted(down.begin(), down.end()));
}
