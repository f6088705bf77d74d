// Reed-Solomon codecs and 160-bit integers for Python: lists of ints and Python ints.
#include "ci_id/bigint.h"
#include "ci_id/reedsolomon.h"
#include "idut_python.hpp"

namespace idutpy {

namespace {

[[noreturn]] void raiseUncorrectable() {
  const py::object type = py::module_::import("idut").attr("UncorrectableError");
  PyErr_SetObject(type.ptr(), type("the codeword cannot be corrected").ptr());
  throw py::error_already_set();
}

// ---- Reed-Solomon over GF(2^m)
class ReedSolomon {
 public:
  ReedSolomon(int bits, int eccCount, uint32_t primitive) {
    check(cid2d_ReedSolomonCode_construct(&code_, bits, eccCount, primitive, 2), "ReedSolomon");
  }
  ~ReedSolomon() { cid2d_ReedSolomonCode_destruct(&code_); }
  ReedSolomon(const ReedSolomon&) = delete;
  ReedSolomon& operator=(const ReedSolomon&) = delete;

  int bits() const { return code_.bits; }
  int eccCount() const { return code_.eccCount; }

  std::vector<uint32_t> ecc(const std::vector<uint32_t>& data) const {
    std::vector<uint32_t> words(static_cast<size_t>(code_.eccCount));
    check(cid2d_ReedSolomonCode_GetECCWords(&code_, data.data(), static_cast<int32_t>(data.size()), words.data(),
                                            code_.eccCount),
          "ReedSolomon.ecc");
    return words;
  }

  // The record's scratch is written by every decode; the interpreter's lock, held throughout,
  // keeps two threads from decoding with one record at once.
  py::tuple correct(std::vector<uint32_t> codeword, const std::vector<int>& erasures) {
    for (const int index : erasures) {
      if (index < 0 || static_cast<size_t>(index) >= codeword.size())
        throw py::value_error("erasure index " + std::to_string(index) + " is outside the codeword");
      codeword[static_cast<size_t>(index)] |= 0x80000000u;
    }
    int32_t corrected = 0;
    check(cid2d_ReedSolomonCode_CorrectErrs(&code_, codeword.data(), static_cast<int32_t>(codeword.size()), &corrected),
          "ReedSolomon.correct");
    if (corrected < 0) raiseUncorrectable();
    return py::make_tuple(codeword, corrected);
  }

 private:
  cid2d_ReedSolomonCode code_{};
};

// ---- Reed-Solomon over GF(929)
py::tuple correct929(std::vector<uint32_t> codewords, int eccCount, const std::vector<int>& erasures) {
  const int count = static_cast<int>(codewords.size());
  if (count < 1 || count > 928) throw py::value_error("a GF(929) codeword holds 1 to 928 words");
  if (eccCount < 1 || eccCount > 512) throw py::value_error("ecc_count must be from 1 to 512");
  std::vector<int32_t> exponents;
  for (const int index : erasures) {
    if (index < 0 || index >= count)
      throw py::value_error("erasure index " + std::to_string(index) + " is outside the codeword");
    exponents.push_back(count - index);  // the word at index i is the coefficient of x^(count - i)
  }
  int32_t errors = 0, corrected = 0;
  check(cid_RSSCCA_RSCorrectErrors_(codewords.data(), count, eccCount, static_cast<int32_t>(exponents.size()),
                                    exponents.empty() ? nullptr : exponents.data(), &errors, &corrected),
        "correct_929");
  if (!corrected) raiseUncorrectable();
  return py::make_tuple(codewords, errors);
}

// ---- 160-bit integers as Python ints
cmath_bigInt toBig(const py::int_& value) {
  if (value.attr("__lt__")(0).cast<bool>() || value.attr("bit_length")().cast<int>() > 160)
    throw py::value_error("a 160-bit integer must be from 0 to 2**160 - 1");
  const py::bytes bytes = value.attr("to_bytes")(20, "little");
  const std::string raw = bytes;
  cmath_bigInt big{};
  for (int i = 0; i < 20; ++i) big.word[i / 4] |= static_cast<uint32_t>(static_cast<uint8_t>(raw[i])) << (8 * (i % 4));
  return big;
}

py::int_ fromBig(const cmath_bigInt& big) {
  char raw[20];
  for (int i = 0; i < 20; ++i) raw[i] = static_cast<char>(big.word[i / 4] >> (8 * (i % 4)));
  return py::module_::import("builtins").attr("int").attr("from_bytes")(py::bytes(raw, 20), "little");
}

// x op= y for the in-place binary operations of the family.
template <csys_status (*op)(cmath_bigInt*, const cmath_bigInt*)>
py::int_ binary(const py::int_& x, const py::int_& y) {
  cmath_bigInt a = toBig(x);
  const cmath_bigInt b = toBig(y);
  check(op(&a, &b), "bigint");
  return fromBig(a);
}

template <typename Arg, csys_status (*op)(cmath_bigInt*, Arg)>
py::int_ withBase(const py::int_& x, Arg value) {
  cmath_bigInt a = toBig(x);
  check(op(&a, value), "bigint");
  return fromBig(a);
}

void defineBigInt(py::module_& m) {
  py::module_ b = m.def_submodule("bigint",
                                  "Unsigned 160-bit integers (arithmetic modulo 2**160) as Python ints from 0 to "
                                  "2**160 - 1; other values raise ValueError.");
  b.def("add", &binary<cmath_bigInt_add>, py::arg("x"), py::arg("y"), "(x + y) mod 2**160");
  b.def("sub", &binary<cmath_bigInt_sub>, py::arg("x"), py::arg("y"), "(x - y) mod 2**160");
  b.def(
      "mul",
      [](const py::int_& x, const py::int_& y) {
        const cmath_bigInt a = toBig(x), c = toBig(y);
        cmath_bigInt product{};
        check(cmath_bigInt_mul(&a, &c, &product), "bigint.mul");
        return fromBig(product);
      },
      py::arg("x"), py::arg("y"), "(x * y) mod 2**160");
  b.def("add_base", &withBase<uint32_t, cmath_bigInt_addBase>, py::arg("x"), py::arg("value"),
        "(x + value) mod 2**160, value a 32-bit unsigned int");
  b.def("mul_base", &withBase<uint32_t, cmath_bigInt_multBase>, py::arg("x"), py::arg("value"),
        "(x * value) mod 2**160, value a 32-bit unsigned int");
  b.def("shift_left", &withBase<uint32_t, cmath_bigInt_shiftLeft>, py::arg("x"), py::arg("bits"));
  b.def("shift_right", &withBase<uint32_t, cmath_bigInt_shiftRight>, py::arg("x"), py::arg("bits"));
  b.def(
      "neg",
      [](const py::int_& x) {
        cmath_bigInt a = toBig(x);
        check(cmath_bigInt_neg(&a), "bigint.neg");
        return fromBig(a);
      },
      py::arg("x"), "(2**160 - x) mod 2**160");
  b.def(
      "divmod_base",
      [](const py::int_& x, uint32_t divisor) {
        const cmath_bigInt a = toBig(x);
        cmath_bigInt quotient{};
        uint32_t remainder = 0;
        check(cmath_bigInt_divideBase(&a, &quotient, &remainder, divisor), "bigint.divmod_base");
        return py::make_tuple(fromBig(quotient), remainder);
      },
      py::arg("x"), py::arg("divisor"), "(x // divisor, x % divisor); idut.Error for a divisor of 0");
  b.def(
      "to_decimal",
      [](const py::int_& x) {
        const cmath_bigInt a = toBig(x);
        char text[CMATH_BIGINT_MAX_TEXT];
        check(cmath_bigInt_bigInt2Buf(&a, sizeof text, text), "bigint.to_decimal");
        return std::string(text);
      },
      py::arg("x"), "The decimal text of x.");
  b.def(
      "to_bytes",
      [](const py::int_& x, uint32_t count) {
        const cmath_bigInt a = toBig(x);
        std::string bytes(count, '\0');
        check(cmath_bigInt_bigInt2Base256(&a, count, reinterpret_cast<uint8_t*>(bytes.data())), "bigint.to_bytes");
        return py::bytes(bytes);
      },
      py::arg("x"), py::arg("count"), "The count lowest bytes of x, most significant first.");
}

}  // namespace

void defineFamilies(py::module_& m) {
  py::class_<ReedSolomon>(m, "ReedSolomon",
                          "A systematic Reed-Solomon code over GF(2**bits) (Data Matrix: bits 8, primitive 0x12D).\n"
                          "Codewords are lists with the ecc_count error-correction words first (ascending "
                          "powers of x), then the data words, the last one the highest power.")
      .def(py::init<int, int, uint32_t>(), py::arg("bits"), py::arg("ecc_count"), py::arg("primitive"))
      .def_property_readonly("bits", &ReedSolomon::bits)
      .def_property_readonly("ecc_count", &ReedSolomon::eccCount)
      .def("ecc", &ReedSolomon::ecc, py::arg("data"),
           "The error-correction words of data (data[i] the coefficient of x**i), ascending powers.")
      .def("correct", &ReedSolomon::correct, py::arg("codeword"), py::arg("erasures") = std::vector<int>(),
           "Returns (repaired codeword, words repaired); erasures are indices of words known to be wrong. "
           "Raises UncorrectableError when the codeword cannot be repaired.");
  m.def("correct_929", &correct929, py::arg("codewords"), py::arg("ecc_count"),
        py::arg("erasures") = std::vector<int>(),
        "Errors-and-erasures correction of a GF(929) codeword (stacked symbols): codewords[0] is the "
        "highest power, erasures are indices. Returns (repaired codewords, errors plus erasures found); "
        "raises UncorrectableError when it cannot be repaired.");
  defineBigInt(m);
}

}  // namespace idutpy
