// Reed-Solomon codecs over GF(2^m) and GF(929).
#include "ci_id/reedsolomon.h"

#include <array>
#include <cstring>

#include "base/csys_cleanup.hpp"

namespace {

// ---- GF(2^m) ---------------------------------------------------------------------------------

constexpr int32_t kMinBits = 1;
constexpr int32_t kMaxBits = 31;
constexpr uint32_t kErasureBit = 0x80000000u;

// Field arithmetic on a constructed code. Exponents are kept in [0, n]; a sum of two needs one
// conditional subtraction to come back into range.
struct Field {
  const uint32_t* antilog;
  const uint32_t* log;
  uint32_t n;

  uint32_t reduce(uint32_t e) const { return e >= n ? e - n : e; }
  uint32_t mul(uint32_t a, uint32_t b) const {
    if (a == 0 || b == 0) return 0;
    return antilog[reduce(log[a] + log[b])];
  }
  uint32_t div(uint32_t a, uint32_t b) const {
    if (a == 0 || b == 0) return 0;
    return antilog[reduce(log[a] + n - log[b])];
  }
  // a * alpha^e for an exponent e in [0, n].
  uint32_t mulPow(uint32_t a, uint32_t e) const { return a == 0 ? 0 : antilog[reduce(log[a] + e)]; }
};

Field fieldOf(const cid2d_ReedSolomonCode* code) {
  return Field{code->antilog, code->log, static_cast<uint32_t>(code->fieldMax)};
}

// Adds v * alpha^(p j) to s[j] for j = 1..k. The exponent walks up by p (< n) each step, so
// one conditional subtraction keeps it in range, and the k updates do not wait on each other.
void addTerm(const Field& f, uint32_t v, uint32_t p, int32_t k, uint32_t* s) {
  if (v == 0) return;
  uint32_t e = f.log[v];
  for (int32_t j = 1; j <= k; ++j) {
    e = f.reduce(e + p);
    s[j] ^= f.antilog[e];
  }
}

bool anyNonzero(const uint32_t* s, int32_t k) {
  uint32_t any = 0;
  for (int32_t j = 1; j <= k; ++j) any |= s[j];
  return any != 0;
}

// S_j = c(alpha^j) for j = 1..k, into s[1..k]; true when any is nonzero.
bool computeSyndromes(const Field& f, const uint32_t* c, int32_t length, int32_t k, uint32_t* s) {
  std::memset(s + 1, 0, sizeof(uint32_t) * k);
  for (int32_t i = 0; i < length; ++i) addTerm(f, c[i], static_cast<uint32_t>(i), k, s);
  return anyNonzero(s, k);
}

// Evaluates p(x) of degree `deg` at x.
uint32_t evaluate(const Field& f, const uint32_t* p, int32_t deg, uint32_t x) {
  uint32_t v = 0;
  for (int32_t i = deg; i >= 0; --i) v = f.mul(v, x) ^ p[i];
  return v;
}

// The decoder's scratch, carved out of one block: syndromes s[0..k], locator lambda, its
// shifted companion b and the next locator t (each k + 2 long, one spare for the shift), the
// evaluator omega and the roots found (k each).
struct DecodeScratch {
  uint32_t* s;
  uint32_t* lambda;
  uint32_t* b;
  uint32_t* t;
  uint32_t* omega;
  uint32_t* roots;
};

size_t scratchWords(int32_t k) {
  const size_t kk = static_cast<size_t>(k);
  return (kk + 1) + 3u * (kk + 2) + 2u * kk;
}

DecodeScratch carve(uint32_t* block, int32_t k) {
  DecodeScratch d{};
  d.s = block;
  d.lambda = d.s + (k + 1);
  d.b = d.lambda + (k + 2);
  d.t = d.b + (k + 2);
  d.omega = d.t + (k + 2);
  d.roots = d.omega + k;
  return d;
}

// Decodes after the erasures have been zeroed and the syndromes found nonzero. Returns the
// number of words repaired, or -1. The magnitudes are applied root by root, so a decode that
// fails at a root outside the codeword, or whose repaired word still has a nonzero syndrome,
// leaves the magnitudes applied before that point in the codeword.
int32_t decodeWithSyndromes(const Field& f, uint32_t* c, int32_t length, int32_t k, const uint32_t* erasedAt,
                            int32_t s, DecodeScratch& d) {
  const int32_t cap = k + 2;
  // Erasure locator Gamma(x) = prod (1 + alpha^i x) over erased indices i.
  std::memset(d.lambda, 0, sizeof(uint32_t) * cap);
  d.lambda[0] = 1;
  int32_t degL = 0;
  for (int32_t e = 0; e < s; ++e) {
    const uint32_t xi = f.antilog[erasedAt[e]];
    for (int32_t i = degL + 1; i >= 1; --i) d.lambda[i] ^= f.mul(d.lambda[i - 1], xi);
    ++degL;
  }
  std::memcpy(d.b, d.lambda, sizeof(uint32_t) * cap);
  int32_t degB = degL;

  // Berlekamp-Massey from the erasure locator: L counts errors plus erasures.
  int32_t L = s;
  for (int32_t r = s + 1; r <= k; ++r) {
    uint32_t delta = 0;
    for (int32_t i = 0; i <= degL && i <= r - 1; ++i) delta ^= f.mul(d.lambda[i], d.s[r - i]);
    if (delta == 0) {
      // B = x * B
      for (int32_t i = degB + 1; i >= 1; --i) d.b[i] = d.b[i - 1];
      d.b[0] = 0;
      ++degB;
      continue;
    }
    // T = Lambda + delta * x * B
    std::memcpy(d.t, d.lambda, sizeof(uint32_t) * cap);
    int32_t degT = degL;
    for (int32_t i = 0; i <= degB; ++i) d.t[i + 1] ^= f.mul(delta, d.b[i]);
    if (degB + 1 > degT) degT = degB + 1;
    if (2 * L <= r + s - 1) {
      L = r + s - L;
      for (int32_t i = 0; i <= degL; ++i) d.b[i] = f.div(d.lambda[i], delta);
      for (int32_t i = degL + 1; i < cap; ++i) d.b[i] = 0;
      degB = degL;
    } else {
      for (int32_t i = degB + 1; i >= 1; --i) d.b[i] = d.b[i - 1];
      d.b[0] = 0;
      ++degB;
    }
    std::memcpy(d.lambda, d.t, sizeof(uint32_t) * cap);
    degL = degT;
    // Degrees stay within k by construction (deg Lambda <= L <= k, deg B <= r); the guard keeps
    // a corrupt state from running past the arrays.
    if (degB > k || degL > k) return -1;
  }
  while (degL > 0 && d.lambda[degL] == 0) --degL;
  if (degL == 0 || degL > k) return -1;

  // Chien search over every nonzero field element (Lambda(0) = 1 is never a root). Each nonzero
  // term Lambda_i alpha^(i j) is kept as an exponent (in b) that steps up by i (kept in t) from
  // alpha^j to alpha^(j+1). A polynomial has no more roots than its degree, so the list of k
  // entries cannot overflow; fewer roots than the degree leave the locator unusable.
  const uint32_t n = f.n;
  int32_t terms = 0;
  for (int32_t i = 1; i <= degL; ++i) {
    if (d.lambda[i] == 0) continue;
    d.b[terms] = f.reduce(f.log[d.lambda[i]]);
    d.t[terms++] = static_cast<uint32_t>(i) % n;
  }
  int32_t roots = 0;
  for (uint32_t j = 0; j < n; ++j) {
    uint32_t v = d.lambda[0];
    for (int32_t i = 0; i < terms; ++i) {
      v ^= f.antilog[d.b[i]];
      d.b[i] = f.reduce(d.b[i] + d.t[i]);
    }
    if (v != 0) continue;
    if (roots == degL) return -1;
    d.roots[roots++] = f.antilog[j];  // the root itself; its position comes later
  }
  if (roots != degL) return -1;
  // The roots are taken in increasing value: that order decides which magnitudes a decode that
  // fails part-way has already applied.
  for (int32_t r = 1; r < roots; ++r) {
    const uint32_t x = d.roots[r];
    int32_t at = r;
    for (; at > 0 && d.roots[at - 1] > x; --at) d.roots[at] = d.roots[at - 1];
    d.roots[at] = x;
  }

  // Error evaluator Omega(x) = S(x) Lambda(x) mod x^k with S(x) = sum S_{j+1} x^j. Written with
  // S(x) = sum S_j x^j, this is x Omega(x) with the power x^k kept: dropping it would lose the top
  // coefficient exactly when k erasures and no errors are decoded, and those must all be filled.
  for (int32_t j = 0; j < k; ++j) {
    uint32_t v = 0;
    for (int32_t i = 0; i <= j && i <= degL; ++i) v ^= f.mul(d.lambda[i], d.s[j + 1 - i]);
    d.omega[j] = v;
  }
  int32_t degO = k - 1;
  while (degO > 0 && d.omega[degO] == 0) --degO;

  // Forney, root by root: the magnitude at root X is Omega(X) / Lambda'(X) (0 when the derivative
  // vanishes, as for any division by 0 here); in characteristic 2 the formal derivative keeps only
  // the odd powers. The root X = alpha^-p repairs position p = n - log X (log 1 = n gives 0).
  for (int32_t r = 0; r < roots; ++r) {
    const uint32_t x = d.roots[r];
    const uint32_t position = n - f.log[x];
    if (position >= static_cast<uint32_t>(length)) return -1;
    const uint32_t x2 = f.mul(x, x);
    uint32_t deriv = 0;
    for (int32_t i = (degL % 2 == 1 ? degL : degL - 1); i >= 1; i -= 2) deriv = f.mul(deriv, x2) ^ d.lambda[i];
    const uint32_t magnitude = f.div(evaluate(f, d.omega, degO, x), deriv);
    c[position] ^= magnitude;
    // Syndromes are linear: the repaired word's are the received ones plus the magnitude's.
    addTerm(f, magnitude, position, k, d.s);
  }
  // Only a word whose syndromes all vanish counts as repaired.
  if (anyNonzero(d.s, k)) return -1;
  return degL;
}

// ---- GF(929) ---------------------------------------------------------------------------------

constexpr uint32_t kP = 929;
constexpr uint32_t kOrder = 928;
constexpr int32_t kMaxEcc929 = 512;
constexpr int32_t kMaxCount929 = 928;

struct Tables929 {
  std::array<uint32_t, kP> antilog{};
  std::array<uint32_t, kP> log{};
};

constexpr Tables929 makeTables929() {
  Tables929 t{};
  uint32_t v = 1;
  for (uint32_t i = 0; i < kOrder; ++i) {
    t.antilog[i] = v;
    t.log[v] = i;
    v = v * 3 % kP;
  }
  t.antilog[kOrder] = 0;
  t.log[0] = 0;
  return t;
}

constexpr Tables929 kGF929 = makeTables929();
static_assert(kGF929.antilog[1] == 3 && kGF929.antilog[927] * 3 % kP == 1, "3 is primitive modulo 929");

inline uint32_t mul929(uint32_t a, uint32_t b) { return a * b % kP; }
inline uint32_t inv929(uint32_t a) { return kGF929.antilog[(kOrder - kGF929.log[a]) % kOrder]; }
inline uint32_t neg929(uint32_t a) { return a == 0 ? 0 : kP - a; }
// 3^e for any non-negative exponent.
inline uint32_t pow3(uint32_t e) { return kGF929.antilog[e % kOrder]; }

// S_j = sum_i c[i] * 3^((j+1)(count - i)) for j = 0..k-1; true when any is nonzero.
// Horner's rule for all k syndromes side by side, so the k chains do not wait on each other.
bool syndromes929(const uint32_t* c, int32_t count, int32_t k, uint32_t* s) {
  std::memset(s, 0, sizeof(uint32_t) * k);
  const uint32_t* a = kGF929.antilog.data() + 1;  // a[j] = 3^(j+1), j < 512 < 928
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t v = c[i] < kP ? c[i] : c[i] % kP;
    for (int32_t j = 0; j < k; ++j) s[j] = (s[j] + v) * a[j] % kP;
  }
  uint32_t any = 0;
  for (int32_t j = 0; j < k; ++j) any |= s[j];
  return any != 0;
}

// Work area: syndromes, Lambda, B, T (k + 2 each, one spare for the shift), Omega, roots and
// magnitudes.
size_t workWords929(int32_t k) { return 7u * static_cast<size_t>(k + 2); }

}  // namespace

extern "C" {

csys_status cid2d_ReedSolomonCode_destruct(cid2d_ReedSolomonCode* code) {
  if (code == nullptr) return 0;
  void* blocks[] = {code->antilog, code->log, code->inverse, code->generator, code->erasurePositions};
  for (void*& b : blocks) csys_memory_free_internal(&b);
  std::memset(code, 0, sizeof(*code));
  return 0;
}

csys_status cid2d_ReedSolomonCode_construct(cid2d_ReedSolomonCode* code, int32_t bits, int32_t eccCount,
                                            uint32_t primitive, uint32_t generatorElement) {
  CSYS_REQUIRE(code != nullptr);
  std::memset(code, 0, sizeof(*code));
  // Tables of 2^m entries indexed by 32-bit words, and a generator of at least two coefficients.
  CSYS_REQUIRE(bits >= kMinBits && bits <= kMaxBits && eccCount >= 1);
  const uint32_t size = 1u << bits;
  const uint32_t n = size - 1;
  if (generatorElement != 2) return cidut_errOutOfRange;

  csys::CleanupList cleanup;
  csys_typeCheck_cid2d_ReedSolomonCode(code);
  csys_typeCheckFunc_cid2d_ReedSolomonCode(&cid2d_ReedSolomonCode_destruct);
  cleanup.destructOnFailure<&cid2d_ReedSolomonCode_destruct>(code);
  code->bits = bits;
  code->fieldMax = static_cast<int32_t>(n);
  code->eccCount = eccCount;
  code->primitive = primitive;
  code->generatorElement = generatorElement;

  const size_t tableBytes = sizeof(uint32_t) * size;
  struct Alloc {
    uint32_t** slot;
    size_t bytes;
  } allocs[] = {{&code->antilog, tableBytes},
                {&code->log, tableBytes},
                {&code->inverse, tableBytes},
                {&code->generator, sizeof(uint32_t) * (static_cast<size_t>(eccCount) + 1)},
                {&code->erasurePositions, sizeof(uint32_t) * static_cast<size_t>(eccCount)}};
  for (const Alloc& a : allocs) {
    void* block = nullptr;
    const csys_status st = csys_memory_alloc_internal(a.bytes, &block);
    if (CSYS_FAILED(st)) return cleanup.exit(st);
    *a.slot = static_cast<uint32_t*>(block);
  }

  // Powers of the generator element, reduced by the polynomial whenever they reach 2^m and kept
  // to m bits (so only the polynomial's low m bits matter). A polynomial that is not primitive
  // revisits an element (or reaches 0) before n steps, which the log table catches.
  uint32_t* antilog = code->antilog;
  uint32_t* log = code->log;
  for (uint32_t i = 0; i < size; ++i) log[i] = n + 1;  // "not reached yet"
  antilog[0] = 1;
  log[1] = 0;
  for (uint32_t i = 1; i <= n; ++i) {
    uint32_t v = antilog[i - 1] * generatorElement;
    if (v >= size) v ^= primitive;
    v &= n;
    antilog[i] = v;
    if (i < n && (v == 0 || log[v] != n + 1)) return cleanup.exit(cidut_errOutOfRange);
    log[v] = i;
  }
  if (antilog[n] != 1) return cleanup.exit(cidut_errOutOfRange);
  log[0] = n;  // sentinel; log[1] = n as well, which is 0 modulo n

  const Field f = fieldOf(code);
  for (uint32_t x = 0; x <= n; ++x) code->inverse[x] = antilog[f.reduce(log[1] + n - log[x])];

  // g(x) = (x + alpha)(x + alpha^2)...(x + alpha^k), ascending powers.
  uint32_t* g = code->generator;
  g[0] = antilog[1];
  g[1] = 1;
  for (int32_t i = 2; i <= eccCount; ++i) {
    g[i] = 1;
    const uint32_t e = static_cast<uint32_t>(i) % n;  // k may exceed n
    for (int32_t j = i - 1; j >= 1; --j) g[j] = g[j - 1] ^ f.mulPow(g[j], e);
    g[0] = f.mulPow(g[0], e);
  }
  std::memset(code->erasurePositions, 0, sizeof(uint32_t) * eccCount);
  return cleanup.exit(0);
}

csys_status cid2d_ReedSolomonCode_GetECCWords(const cid2d_ReedSolomonCode* code, const uint32_t* data,
                                              int32_t dataCount, uint32_t* ecc, int32_t eccCount) {
  CSYS_REQUIRE(code != nullptr && data != nullptr && ecc != nullptr);
  CSYS_REQUIRE(code->antilog != nullptr && code->generator != nullptr);
  const int32_t n = code->fieldMax, k = code->eccCount;
  if (dataCount < 0 || dataCount > n - k || eccCount != k) return cidut_errOutOfRange;
  for (int32_t i = 0; i < dataCount; ++i)
    if (data[i] > static_cast<uint32_t>(n)) return cidut_errOutOfRange;

  // Division by g(x) in a shift register, highest data power first.
  const Field f = fieldOf(code);
  const uint32_t* g = code->generator;
  std::memset(ecc, 0, sizeof(uint32_t) * k);
  for (int32_t i = dataCount - 1; i >= 0; --i) {
    const uint32_t fb = data[i] ^ ecc[k - 1];
    if (fb == 0) {
      for (int32_t j = k - 1; j >= 1; --j) ecc[j] = ecc[j - 1];
      ecc[0] = 0;
    } else {
      const uint32_t lf = code->log[fb];
      for (int32_t j = k - 1; j >= 1; --j) ecc[j] = ecc[j - 1] ^ f.mulPow(g[j], lf);
      ecc[0] = f.mulPow(g[0], lf);
    }
  }
  return 0;
}

csys_status cid2d_ReedSolomonCode_CorrectErrs(cid2d_ReedSolomonCode* code, uint32_t* codewords, int32_t length,
                                              int32_t* corrected) {
  CSYS_REQUIRE(code != nullptr && codewords != nullptr && corrected != nullptr);
  CSYS_REQUIRE(code->antilog != nullptr && code->erasurePositions != nullptr);
  const int32_t n = code->fieldMax, k = code->eccCount;
  if (length < 0 || length > n) return cidut_errOutOfRange;
  for (int32_t i = 0; i < length; ++i)
    if ((codewords[i] & kErasureBit) == 0 && codewords[i] > static_cast<uint32_t>(n)) return cidut_errOutOfRange;

  csys::CleanupList cleanup;
  uint32_t* block = nullptr;
  {
    void* raw = nullptr;
    const csys_status st = csys_memory_alloc_internal(sizeof(uint32_t) * scratchWords(k), &raw);
    if (CSYS_FAILED(st)) return cleanup.exit(st);
    block = static_cast<uint32_t*>(raw);
    cleanup.freeAlways(&block);
  }
  DecodeScratch d = carve(block, k);

  *corrected = 0;
  int32_t s = 0;
  for (int32_t i = 0; i < length; ++i) {
    if ((codewords[i] & kErasureBit) == 0) continue;
    if (s == k) {
      *corrected = -1;
      return cleanup.exit(0);
    }
    code->erasurePositions[s++] = static_cast<uint32_t>(i);
    codewords[i] = 0;
  }

  const Field f = fieldOf(code);
  if (!computeSyndromes(f, codewords, length, k, d.s)) {
    *corrected = s;
    return cleanup.exit(0);
  }
  *corrected = decodeWithSyndromes(f, codewords, length, k, code->erasurePositions, s, d);
  return cleanup.exit(0);
}

csys_status cid_RSSCCA_RSCorrectErrors_(uint32_t* codewords, int32_t count, int32_t eccCount, int32_t erasureCount,
                                        const int32_t* erasures, int32_t* errors, int32_t* correctedFlag) {
  CSYS_REQUIRE(codewords != nullptr && errors != nullptr && correctedFlag != nullptr);
  CSYS_REQUIRE(erasureCount >= 0 && (erasureCount == 0 || erasures != nullptr));
  CSYS_REQUIRE(count >= 1 && count <= kMaxCount929 && eccCount >= 1 && eccCount <= kMaxEcc929);
  const int32_t k = eccCount;

  csys::CleanupList cleanup;
  uint32_t* block = nullptr;
  {
    void* raw = nullptr;
    const csys_status st = csys_memory_alloc_internal(sizeof(uint32_t) * workWords929(k), &raw);
    if (CSYS_FAILED(st)) return cleanup.exit(st);
    block = static_cast<uint32_t*>(raw);
    cleanup.freeAlways(&block);
  }
  const int32_t cap = k + 2;
  uint32_t* s = block;
  uint32_t* lambda = s + cap;
  uint32_t* b = lambda + cap;
  uint32_t* t = b + cap;
  uint32_t* omega = t + cap;
  uint32_t* roots = omega + cap;
  uint32_t* magnitudes = roots + cap;

  *errors = -1;
  *correctedFlag = 0;
  if (erasureCount > k) return cleanup.exit(0);
  for (int32_t e = 0; e < erasureCount; ++e)
    if (erasures[e] < 1 || erasures[e] > count) return cleanup.exit(0);

  const bool dirty = syndromes929(codewords, count, k, s);

  // Erasure locator Gamma(x) = prod (1 - 3^p x), then Berlekamp-Massey from it.
  std::memset(lambda, 0, sizeof(uint32_t) * cap);
  lambda[0] = 1;
  int32_t degL = 0;
  for (int32_t e = 0; e < erasureCount; ++e) {
    const uint32_t xi = pow3(static_cast<uint32_t>(erasures[e]));
    for (int32_t i = degL + 1; i >= 1; --i) lambda[i] = (lambda[i] + kP - mul929(lambda[i - 1], xi)) % kP;
    ++degL;
  }
  std::memcpy(b, lambda, sizeof(uint32_t) * cap);
  int32_t degB = degL;
  int32_t L = erasureCount;
  for (int32_t r = erasureCount + 1; r <= k && dirty; ++r) {
    uint32_t delta = 0;
    for (int32_t i = 0; i <= degL && i <= r - 1; ++i) delta = (delta + mul929(lambda[i], s[r - 1 - i])) % kP;
    if (delta != 0) {
      // T = Lambda - delta * x * B
      std::memcpy(t, lambda, sizeof(uint32_t) * cap);
      for (int32_t i = 0; i <= degB; ++i) t[i + 1] = (t[i + 1] + kP - mul929(delta, b[i])) % kP;
      const int32_t degT = degB + 1 > degL ? degB + 1 : degL;
      if (2 * L <= r + erasureCount - 1) {
        L = r + erasureCount - L;
        const uint32_t inv = inv929(delta);
        for (int32_t i = 0; i < cap; ++i) b[i] = i <= degL ? mul929(lambda[i], inv) : 0;
        degB = degL;
      } else {
        for (int32_t i = degB + 1; i >= 1; --i) b[i] = b[i - 1];
        b[0] = 0;
        ++degB;
      }
      std::memcpy(lambda, t, sizeof(uint32_t) * cap);
      degL = degT;
    } else {
      for (int32_t i = degB + 1; i >= 1; --i) b[i] = b[i - 1];
      b[0] = 0;
      ++degB;
    }
    // Degrees stay within k (deg Lambda <= L <= k, deg B <= r); the guard keeps a corrupt state
    // from running past the arrays.
    if (degB > k || degL > k) return cleanup.exit(0);
  }
  while (degL > 0 && lambda[degL] == 0) --degL;
  const int32_t tDeg = degL == L ? L : -1;
  *errors = tDeg;
  // Two words of the code are kept back for detection: 2t - erasures <= k - 2.
  if (tDeg < 0 || 2 * tDeg - erasureCount > k - 2) return cleanup.exit(0);
  if (tDeg == 0) {  // clean codeword: Berlekamp-Massey raises L at the first nonzero syndrome
    *correctedFlag = 1;
    return cleanup.exit(0);
  }

  // Chien search: exponent p is a root when Lambda(3^-p) = 0. The terms Lambda_i 3^(-i p) are
  // kept in b and multiplied by 3^-i (in t) from one exponent to the next. A root at p = 928 is
  // kept as 0, the exponent it equals modulo the field's order.
  for (int32_t i = 1; i <= tDeg; ++i) {
    t[i] = kGF929.antilog[(kOrder - static_cast<uint32_t>(i) % kOrder) % kOrder];
    b[i] = mul929(lambda[i], t[i]);
  }
  int32_t found = 0;
  for (int32_t p = 1; p <= count && found < tDeg; ++p) {
    uint64_t v = lambda[0];
    for (int32_t i = 1; i <= tDeg; ++i) {
      v += b[i];
      b[i] = mul929(b[i], t[i]);
    }
    if (v % kP == 0) roots[found++] = static_cast<uint32_t>(p) >= kOrder ? 0u : static_cast<uint32_t>(p);
  }
  if (found < tDeg) return cleanup.exit(0);

  // Forney: e = -Omega(X) / Lambda'(X) at X = 1 / 3^p, with Omega = S Lambda mod x^k. A zero
  // derivative gives e = 0, as any division by 0 does in this field's arithmetic.
  for (int32_t j = 0; j < k; ++j) {
    uint32_t coeff = 0;
    for (int32_t i = 0; i <= j && i <= tDeg; ++i) coeff = (coeff + mul929(lambda[i], s[j - i])) % kP;
    omega[j] = coeff;
  }
  for (int32_t r = 0; r < found; ++r) {
    const uint32_t x = inv929(kGF929.antilog[roots[r]]);
    uint32_t om = 0;
    for (int32_t j = k - 1; j >= 0; --j) om = (mul929(om, x) + omega[j]) % kP;
    uint32_t deriv = 0;
    for (int32_t i = tDeg; i >= 1; --i) deriv = (mul929(deriv, x) + mul929(static_cast<uint32_t>(i), lambda[i])) % kP;
    magnitudes[r] = deriv == 0 ? 0 : neg929(mul929(om, inv929(deriv)));
  }

  // Exponent p (0 standing for 928) is the word at index count - p. The sum is taken in 32 bits
  // as it stands: a word above 928 is not a field element, and is reduced only modulo 929.
  for (int32_t r = 0; r < found; ++r) {
    const int32_t p = roots[r] == 0 ? static_cast<int32_t>(kOrder) : static_cast<int32_t>(roots[r]);
    uint32_t& w = codewords[count - p];
    w = (w + kP - magnitudes[r]) % kP;
  }
  *correctedFlag = 1;
  return cleanup.exit(0);
}

}  // extern "C"
