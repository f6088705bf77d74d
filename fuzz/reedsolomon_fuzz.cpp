// Fuzzes both Reed-Solomon decoders with damaged codewords. The input picks the field and the
// code, a data block is encoded, then the input's damage (changed words and erasures) is applied.
// A decoder may refuse, but whatever it reports as corrected must be a codeword within the
// code's reach of what it received: for GF(2^m) the repaired words must re-encode to the same
// check words; for GF(929) every syndrome must vanish. Inside the guaranteed radius
// (2 errors + erasures <= k) the original codeword must come back.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_check.hpp"
#include "ci_id/reedsolomon.h"

namespace {

using fuzz::Bytes;

void fuzzBinaryField(Bytes& in) {
  static const uint32_t kPrimitive[] = {0, 0, 0x7, 0xB, 0x13, 0x25, 0x43, 0x89, 0x12D, 0x211, 0x409, 0x805};
  const int bits = 2 + static_cast<int>(in.next() % 10);
  const int n = (1 << bits) - 1;
  const int k = 1 + static_cast<int>(in.next() % (n - 2));
  cid2d_ReedSolomonCode code;
  if (cid2d_ReedSolomonCode_construct(&code, bits, k, kPrimitive[bits], 2) != 0) std::abort();
  const int dataCount = static_cast<int>(in.next16() % (n - k + 1));
  const int length = k + dataCount;
  std::vector<uint32_t> word(length);
  for (int i = k; i < length; ++i) word[i] = in.next16() & n;
  if (cid2d_ReedSolomonCode_GetECCWords(&code, word.data() + k, dataCount, word.data(), k) != 0) std::abort();
  std::vector<uint32_t> received = word;
  int errors = 0, erasures = 0;
  const int damage = static_cast<int>(in.next() % (k + 2));
  for (int d = 0; d < damage && length > 0; ++d) {
    const int at = static_cast<int>(in.next16() % length);
    const uint32_t how = in.next16();
    if (received[at] != word[at] || (received[at] & 0x80000000u)) continue;  // each word damaged once
    if (how & 1) {
      received[at] = 0x80000000u;
      ++erasures;
    } else {
      const uint32_t flip = (how >> 1) & n;
      if (flip == 0) continue;
      received[at] ^= flip;
      ++errors;
    }
  }
  std::vector<uint32_t> repaired = received;
  int32_t corrected = 0;
  if (cid2d_ReedSolomonCode_CorrectErrs(&code, repaired.data(), length, &corrected) != 0) std::abort();
  if (corrected >= 0) {
    std::vector<uint32_t> reencoded(k);
    if (cid2d_ReedSolomonCode_GetECCWords(&code, repaired.data() + k, dataCount, reencoded.data(), k) != 0) std::abort();
    for (int i = 0; i < k; ++i)
      if (reencoded[i] != repaired[i]) std::abort();  // reported repaired, but not a codeword
  }
  if (2 * errors + erasures <= k && (corrected < 0 || repaired != word)) std::abort();
  cid2d_ReedSolomonCode_destruct(&code);
}

uint32_t power929(uint32_t base, uint32_t exponent) {
  uint64_t result = 1, b = base % 929;
  for (; exponent; exponent >>= 1, b = b * b % 929)
    if (exponent & 1) result = result * b % 929;
  return static_cast<uint32_t>(result);
}

void fuzzPrimeField(Bytes& in) {
  const int count = 2 + static_cast<int>(in.next16() % 200);
  const int k = 2 + static_cast<int>(in.next() % (count - 1 < 64 ? count - 1 : 64));
  std::vector<uint32_t> word(count);
  for (uint32_t& w : word) w = in.next16() % 929;
  std::vector<int32_t> erasures;
  const int damage = static_cast<int>(in.next() % (k + 2));
  for (int d = 0; d < damage; ++d) {
    const int at = static_cast<int>(in.next16() % count);
    if (in.next() & 1) erasures.push_back(count - at);
    word[at] = in.next16() % 929;
  }
  int32_t errorCount = 0, correctedFlag = 0;
  if (cid_RSSCCA_RSCorrectErrors_(word.data(), count, k, static_cast<int32_t>(erasures.size()),
                                  erasures.empty() ? nullptr : erasures.data(), &errorCount, &correctedFlag) != 0)
    std::abort();
  if (correctedFlag == 1) {
    for (int j = 1; j <= k; ++j) {
      uint64_t syndrome = 0;
      for (int i = 0; i < count; ++i) syndrome = (syndrome + uint64_t(word[i]) * power929(power929(3, j), count - i)) % 929;
      if (syndrome != 0) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Bytes in{data + 1, size - 1};
  if (data[0] & 1)
    fuzzPrimeField(in);
  else
    fuzzBinaryField(in);
  return 0;
}
