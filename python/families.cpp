// Reed-Solomon codecs and 160-bit integers for Python: lists of ints and Python ints.
#include "ci_id/bigint.h"
#include "ci_id/reedsolomon.h"
#include "idut_python.hpp"

namespace idutpy {

namespace {

[[noreturn]] void raiseUncorrectable() {
  const py::object type = py::module_::import("idut._idut").attr("UncorrectableError");
  PyErr_SetObject(type.ptr(), type("the codeword cannot be corrected").ptr());
  throw py::error_already_set();
}

// ---- Reed-Solomon over GF(2^m)
class ReedSolomon {
 public:
  // The library checks the polynomial; the ranges are checked here so that a wild value never
  // reaches its table sizes.
  ReedSolomon(const py::object& bits, const py::object& eccCount, const py::object& primitive) {
    const int32_t m = int32Arg(bits, "bits", 2, 16);
    const int32_t k = int32Arg(eccCount, "ecc_count", 1, (1 << m) - 2);
    const int64_t p = intArg(primitive, "primitive", 1 << m, (int64_t{1} << (m + 1)) - 1);
    check(cid2d_ReedSolomonCode_construct(&code_, m, k, static_cast<uint32_t>(p), 2), "ReedSolomon");
  }
  ~ReedSolomon() { cid2d_ReedSolomonCode_destruct(&code_); }
  ReedSolomon(const ReedSolomon&) = delete;
  ReedSolomon& operator=(const ReedSolomon&) = delete;

  int bits() const { return code_.bits; }
  int eccCount() const { return code_.eccCount; }

  std::vector<uint32_t> ecc(const py::object& dataWords) const {
    const std::vector<uint32_t> data = words(dataWords, "data", 1, code_.fieldMax - code_.eccCount);
    std::vector<uint32_t> out(static_cast<size_t>(code_.eccCount));
    check(cid2d_ReedSolomonCode_GetECCWords(&code_, data.data(), static_cast<int32_t>(data.size()), out.data(),
                                            code_.eccCount),
          "ReedSolomon.ecc");
    return out;
  }

  // The record's scratch is written by every decode; the interpreter's lock, held throughout,
  // keeps two threads from decoding with one record at once.
  py::tuple correct(const py::object& codewordWords, const py::object& erasureIndices) {
    std::vector<uint32_t> codeword = words(codewordWords, "codeword", 1, code_.fieldMax);
    const std::vector<int64_t> erasures =
        intsArg(erasureIndices, "erasures", 0, codeword.size(), 0, static_cast<int64_t>(codeword.size()) - 1);
    for (const int64_t index : erasures) codeword[static_cast<size_t>(index)] |= 0x80000000u;
    int32_t corrected = 0;
    check(cid2d_ReedSolomonCode_CorrectErrs(&code_, codeword.data(), static_cast<int32_t>(codeword.size()), &corrected),
          "ReedSolomon.correct");
    if (corrected < 0) raiseUncorrectable();
    return py::make_tuple(codeword, corrected);
  }

 private:
  // Field elements, below 2**bits, minCount to maxCount of them.
  std::vector<uint32_t> words(const py::object& value, const char* name, int32_t minCount, int32_t maxCount) const {
    const std::vector<int64_t> v = intsArg(value, name, static_cast<size_t>(minCount), static_cast<size_t>(maxCount),
                                           0, code_.fieldMax);
    return std::vector<uint32_t>(v.begin(), v.end());
  }

  cid2d_ReedSolomonCode code_{};
};

// ---- Reed-Solomon over GF(929)
py::tuple correct929(const py::object& words, const py::object& eccCountArg, const py::object& erasureIndices) {
  const std::vector<int64_t> values = intsArg(words, "codewords", 1, 928, 0, 928);
  std::vector<uint32_t> codewords(values.begin(), values.end());
  const int32_t count = static_cast<int32_t>(codewords.size());
  const int32_t eccCount = int32Arg(eccCountArg, "ecc_count", 1, 512);
  std::vector<int32_t> exponents;
  for (const int64_t index : intsArg(erasureIndices, "erasures", 0, codewords.size(), 0, count - 1))
    exponents.push_back(count - static_cast<int32_t>(index));  // the word at index i is the coefficient of x^(count - i)
  int32_t errors = 0, corrected = 0;
  check(cid_RSSCCA_RSCorrectErrors_(codewords.data(), count, eccCount, static_cast<int32_t>(exponents.size()),
                                    exponents.empty() ? nullptr : exponents.data(), &errors, &corrected),
        "correct_929");
  if (!corrected) raiseUncorrectable();
  return py::make_tuple(codewords, errors);
}

// ---- 160-bit integers as Python ints
cmath_bigInt toBig(const py::handle& value, const char* name) {
  if (PyBool_Check(value.ptr()) || !PyLong_Check(value.ptr()))
    throw py::type_error(std::string(name) + " must be an int, got " +
                         py::str(value.get_type().attr("__name__")).cast<std::string>());
  const py::int_ number = py::reinterpret_borrow<py::int_>(value);
  if (number.attr("__lt__")(0).cast<bool>() || number.attr("bit_length")().cast<int>() > 160)
    throw py::value_error(std::string(name) + " must be from 0 to 2**160 - 1");
  const py::bytes bytes = number.attr("to_bytes")(20, "little");
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

uint32_t wordArg(const py::handle& value, const char* name) {
  return static_cast<uint32_t>(intArg(value, name, 0, UINT32_MAX));
}

// x op= y for the in-place binary operations of the family.
template <csys_status (*op)(cmath_bigInt*, const cmath_bigInt*)>
py::int_ binary(const py::object& x, const py::object& y) {
  cmath_bigInt a = toBig(x, "x");
  const cmath_bigInt b = toBig(y, "y");
  check(op(&a, &b), "bigint");
  return fromBig(a);
}

template <csys_status (*op)(cmath_bigInt*, uint32_t)>
py::int_ withWord(const py::object& x, const py::object& value) {
  cmath_bigInt a = toBig(x, "x");
  check(op(&a, wordArg(value, "the second argument")), "bigint");
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
      [](const py::object& x, const py::object& y) {
        const cmath_bigInt a = toBig(x, "x"), c = toBig(y, "y");
        cmath_bigInt product{};
        check(cmath_bigInt_mul(&a, &c, &product), "bigint.mul");
        return fromBig(product);
      },
      py::arg("x"), py::arg("y"), "(x * y) mod 2**160");
  b.def("add_base", &withWord<cmath_bigInt_addBase>, py::arg("x"), py::arg("value"),
        "(x + value) mod 2**160, value a 32-bit unsigned int");
  b.def("mul_base", &withWord<cmath_bigInt_multBase>, py::arg("x"), py::arg("value"),
        "(x * value) mod 2**160, value a 32-bit unsigned int");
  b.def("shift_left", &withWord<cmath_bigInt_shiftLeft>, py::arg("x"), py::arg("bits"));
  b.def("shift_right", &withWord<cmath_bigInt_shiftRight>, py::arg("x"), py::arg("bits"));
  b.def(
      "neg",
      [](const py::object& x) {
        cmath_bigInt a = toBig(x, "x");
        check(cmath_bigInt_neg(&a), "bigint.neg");
        return fromBig(a);
      },
      py::arg("x"), "(2**160 - x) mod 2**160");
  b.def(
      "divmod_base",
      [](const py::object& x, const py::object& divisorArg) {
        const cmath_bigInt a = toBig(x, "x");
        const uint32_t divisor = wordArg(divisorArg, "divisor");
        cmath_bigInt quotient{};
        uint32_t remainder = 0;
        check(cmath_bigInt_divideBase(&a, &quotient, &remainder, divisor), "bigint.divmod_base");
        return py::make_tuple(fromBig(quotient), remainder);
      },
      py::arg("x"), py::arg("divisor"), "(x // divisor, x % divisor); idut.Error for a divisor of 0");
  b.def(
      "to_decimal",
      [](const py::object& x) {
        const cmath_bigInt a = toBig(x, "x");
        char text[CMATH_BIGINT_MAX_TEXT];
        check(cmath_bigInt_bigInt2Buf(&a, sizeof text, text), "bigint.to_decimal");
        return std::string(text);
      },
      py::arg("x"), "The decimal text of x.");
  b.def(
      "to_bytes",
      [](const py::object& x, const py::object& countArg) {
        const cmath_bigInt a = toBig(x, "x");
        // Past the 20th every byte is 0; the cap only keeps a wild count from allocating.
        const uint32_t count = static_cast<uint32_t>(intArg(countArg, "count", 0, 4096));
        std::string bytes(count, '\0');
        check(cmath_bigInt_bigInt2Base256(&a, count, reinterpret_cast<uint8_t*>(bytes.data())), "bigint.to_bytes");
        return py::bytes(bytes);
      },
      py::arg("x"), py::arg("count"), "The count (0 to 4096) lowest bytes of x, most significant first.");
}

}  // namespace

void defineFamilies(py::module_& m) {
  py::class_<ReedSolomon>(m, "ReedSolomon",
                          "A systematic Reed-Solomon code over GF(2**bits) (Data Matrix: bits 8, primitive 0x12D).\n"
                          "Codewords are lists with the ecc_count error-correction words first (ascending "
                          "powers of x), then the data words, the last one the highest power.")
      .def(py::init<const py::object&, const py::object&, const py::object&>(), py::arg("bits"), py::arg("ecc_count"),
           py::arg("primitive"))
      .def_property_readonly("bits", &ReedSolomon::bits)
      .def_property_readonly("ecc_count", &ReedSolomon::eccCount)
      .def("ecc", &ReedSolomon::ecc, py::arg("data"),
           "The error-correction words of data (1 to 2**bits - 1 - ecc_count words, data[i] the "
           "coefficient of x**i), ascending powers.")
      .def("correct", &ReedSolomon::correct, py::arg("codeword"), py::arg("erasures") = py::tuple(),
           "Returns (repaired codeword, words repaired); erasures are indices of words known to be wrong. "
           "Raises UncorrectableError when the codeword cannot be repaired.");
  m.def("correct_929", &correct929, py::arg("codewords"), py::arg("ecc_count"),
        py::arg("erasures") = py::tuple(),
        "Errors-and-erasures correction of a GF(929) codeword (stacked symbols): codewords[0] is the "
        "highest power, erasures are indices. Returns (repaired codewords, errors plus erasures found); "
        "raises UncorrectableError when it cannot be repaired.");
  defineBigInt(m);
}

}  // namespace idutpy
