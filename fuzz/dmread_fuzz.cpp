// Fuzzes the Data Matrix reader at its two inputs: the message decoder on arbitrary data
// codewords (every encodation, latches and shifts in any order), and the whole matrix reader on
// module grids of every size whose bits come from the input. A read may fail; it must not crash,
// and a grid it reads must give the same message when read again.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "reader/datamatrix/dmread.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  if (data[0] & 1) {
    const std::vector<uint8_t> words(data + 1, data + size);
    dmread::decodeMessage(words);
    return 0;
  }
  const auto& sizes = dmread::symbolSizes();
  const dmread::SymbolSize& s = sizes[data[1] % sizes.size()];
  dmread::ModuleMatrix m;
  m.rows = s.rows;
  m.cols = s.cols;
  m.dark.resize(static_cast<size_t>(s.rows) * s.cols);
  m.margin.assign(m.dark.size(), (data[0] & 2) ? 1.0f : 0.05f);
  for (size_t i = 0; i < m.dark.size(); ++i) {
    const size_t bit = 16 + i;
    m.dark[i] = bit / 8 < size ? (data[bit / 8] >> (bit % 8)) & 1 : 0;
  }
  const dmread::Reading first = dmread::readMatrix(m);
  if (first.ok) {
    const dmread::Reading again = dmread::readMatrix(m);
    if (!again.ok || again.message.text != first.message.text) std::abort();
  }
  return 0;
}
