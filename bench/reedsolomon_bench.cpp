// Decoding speed: Data Matrix blocks over GF(256) with as many errors as the block can correct,
// and stacked-symbol codewords over GF(929). Each iteration copies the damaged codeword and
// corrects it; the result is checked once before timing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "ci_id/reedsolomon.h"

namespace {

using Words = std::vector<uint32_t>;

// Distinct random positions of a codeword of `length` words.
std::vector<int> positions(std::mt19937& rng, int length, int count) {
  std::vector<int> p(length);
  for (int i = 0; i < length; ++i) p[i] = i;
  std::shuffle(p.begin(), p.end(), rng);
  p.resize(count);
  return p;
}

// Args: data words, error-correction words, erasures (errors fill the rest of the reach).
void BM_DataMatrixBlock(benchmark::State& state) {
  const int dataCount = static_cast<int>(state.range(0)), k = static_cast<int>(state.range(1));
  const int erasures = static_cast<int>(state.range(2)), errors = (k - erasures) / 2;
  std::mt19937 rng(7);
  cid2d_ReedSolomonCode code;
  if (cid2d_ReedSolomonCode_construct(&code, 8, k, 0x12D, 2) != 0) return state.SkipWithError("construct");
  Words good(k + dataCount);
  for (int i = k; i < k + dataCount; ++i) good[i] = rng() & 0xFF;
  cid2d_ReedSolomonCode_GetECCWords(&code, good.data() + k, dataCount, good.data(), k);
  Words received = good;
  const auto at = positions(rng, k + dataCount, errors + erasures);
  for (int i = 0; i < errors; ++i) received[at[i]] ^= 1 + rng() % 255;
  for (int i = errors; i < errors + erasures; ++i) received[at[i]] = 0xFFFFFFFFu;

  Words c = received;
  int32_t corrected = 0;
  cid2d_ReedSolomonCode_CorrectErrs(&code, c.data(), static_cast<int32_t>(c.size()), &corrected);
  if (corrected != errors + erasures || c != good) {
    cid2d_ReedSolomonCode_destruct(&code);
    return state.SkipWithError("not corrected");
  }
  for (auto _ : state) {
    c = received;
    cid2d_ReedSolomonCode_CorrectErrs(&code, c.data(), static_cast<int32_t>(c.size()), &corrected);
    benchmark::DoNotOptimize(c.data());
    benchmark::DoNotOptimize(corrected);
  }
  state.counters["errors"] = errors;
  state.counters["erasures"] = erasures;
  cid2d_ReedSolomonCode_destruct(&code);
}
BENCHMARK(BM_DataMatrixBlock)
    ->ArgNames({"data", "ecc", "erasures"})
    ->Args({3, 5, 1})
    ->Args({8, 10, 0})
    ->Args({44, 28, 0})
    ->Args({114, 48, 0})
    ->Args({174, 68, 0})
    ->Args({174, 68, 20});

// GF(929): Args: data words, error-correction words. Errors fill 2e <= k - 2.
void BM_Gf929(benchmark::State& state) {
  const int dataCount = static_cast<int>(state.range(0)), k = static_cast<int>(state.range(1));
  const int errors = (k - 2) / 2, count = dataCount + k;
  constexpr uint32_t P = 929;
  std::mt19937 rng(9);
  // Generator with roots 3^1..3^k, highest power first, and the systematic codeword.
  Words g{1};
  uint32_t root = 1;
  for (int i = 1; i <= k; ++i) {
    root = root * 3 % P;
    Words next(g.size() + 1, 0);
    for (size_t j = 0; j < g.size(); ++j) {
      next[j] = (next[j] + g[j]) % P;
      next[j + 1] = (next[j + 1] + P - g[j] * root % P) % P;
    }
    g = next;
  }
  Words good(count, 0);
  for (int i = 0; i < dataCount; ++i) good[i] = rng() % P;
  Words rem = good;
  for (int i = 0; i < dataCount; ++i) {
    const uint32_t q = rem[i];
    for (int j = 0; j <= k; ++j) rem[i + j] = (rem[i + j] + P - q * g[j] % P) % P;
  }
  for (int j = 0; j < k; ++j) good[dataCount + j] = (P - rem[dataCount + j]) % P;

  Words received = good;
  for (int p : positions(rng, count, errors)) received[p] = (received[p] + 1 + rng() % 928) % P;
  Words c = received;
  int32_t found = 0, flag = 0;
  cid_RSSCCA_RSCorrectErrors_(c.data(), count, k, 0, nullptr, &found, &flag);
  if (flag != 1 || found != errors || c != good) return state.SkipWithError("not corrected");
  for (auto _ : state) {
    c = received;
    cid_RSSCCA_RSCorrectErrors_(c.data(), count, k, 0, nullptr, &found, &flag);
    benchmark::DoNotOptimize(c.data());
    benchmark::DoNotOptimize(flag);
  }
  state.counters["errors"] = errors;
}
BENCHMARK(BM_Gf929)->ArgNames({"data", "ecc"})->Args({20, 8})->Args({200, 32})->Args({400, 64})->Args({400, 256});

}  // namespace
