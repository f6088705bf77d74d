// Python values as C++ arguments: each checked for its kind and range before the library sees
// it, so a caller gets a TypeError or ValueError naming the argument instead of a binding error
// listing signatures, a library assertion, or an allocation sized by a wild value.
#include <cmath>
#include <limits>

#include "idut_python.hpp"

namespace idutpy {

namespace {

std::string typeName(const py::handle& value) {
  return py::str(value.get_type().attr("__name__")).cast<std::string>();
}

std::string rangeText(int64_t low, int64_t high) {
  if (high == std::numeric_limits<int64_t>::max()) return "at least " + std::to_string(low);
  return "from " + std::to_string(low) + " to " + std::to_string(high);
}

std::string shown(const py::handle& value) {
  std::string text = py::repr(value).cast<std::string>();
  return text.size() > 60 ? text.substr(0, 57) + "..." : text;
}

bool isNumpyBool(const py::handle& value) {
  // Looked up once; numpy stays imported for the life of the process.
  static PyObject* numpyBool = py::object(py::module_::import("numpy").attr("bool_")).release().ptr();
  return PyObject_IsInstance(value.ptr(), numpyBool) == 1;
}

}  // namespace

int64_t intArg(const py::handle& value, const char* name, int64_t low, int64_t high) {
  PyObject* object = value.ptr();
  if (PyBool_Check(object) || isNumpyBool(value) || !PyIndex_Check(object))
    throw py::type_error(std::string(name) + " must be an int, got " + typeName(value));
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(object));
  if (!index) throw py::error_already_set();
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (overflow != 0 || v < low || v > high)
    throw py::value_error(std::string(name) + " must be " + rangeText(low, high) + ", got " + shown(index));
  return v;
}

double realArg(const py::handle& value, const char* name, double low, double high) {
  PyObject* object = value.ptr();
  const PyNumberMethods* number = Py_TYPE(object)->tp_as_number;
  const bool numeric = PyFloat_Check(object) || PyIndex_Check(object) || (number && number->nb_float);
  if (PyBool_Check(object) || isNumpyBool(value) || !numeric)
    throw py::type_error(std::string(name) + " must be a number, got " + typeName(value));
  const double v = PyFloat_AsDouble(object);
  if (v == -1.0 && PyErr_Occurred()) {
    // An int too large for a double: out of any range a caller could mean.
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw py::error_already_set();
    PyErr_Clear();
    throw py::value_error(std::string(name) + " is out of range, got " + shown(value));
  }
  if (!std::isfinite(v) || v < low || v > high) {
    char range[96];
    std::snprintf(range, sizeof range, "a finite number from %g to %g", low, high);
    throw py::value_error(std::string(name) + " must be " + (std::isinf(high) ? "a finite number" : range) +
                          ", got " + shown(value));
  }
  return v;
}

bool boolArg(const py::handle& value, const char* name) {
  if (PyBool_Check(value.ptr()) || isNumpyBool(value)) return PyObject_IsTrue(value.ptr()) == 1;
  throw py::type_error(std::string(name) + " must be True or False, got " + typeName(value));
}

std::string textArg(const py::handle& value, const char* name) {
  if (!py::isinstance<py::str>(value)) throw py::type_error(std::string(name) + " must be a str, got " + typeName(value));
  return value.cast<std::string>();
}

std::string pathArg(const py::handle& value, const char* name) {
  if (!py::isinstance<py::str>(value) && !py::hasattr(value, "__fspath__"))
    throw py::type_error(std::string(name) + " must be a str or an os.PathLike, got " + typeName(value));
  const py::object path = py::module_::import("os").attr("fspath")(value);
  if (!py::isinstance<py::str>(path))
    throw py::type_error(std::string(name) + " must name a file by a str, got " + typeName(path));
  return path.cast<std::string>();
}

std::vector<int64_t> intsArg(const py::handle& value, const char* name, size_t minCount, size_t maxCount,
                             int64_t low, int64_t high) {
  if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) || !py::isinstance<py::iterable>(value))
    throw py::type_error(std::string(name) + " must be a sequence of ints, got " + typeName(value));
  std::vector<int64_t> values;
  for (const py::handle item : value) {
    if (values.size() == maxCount)
      throw py::value_error(std::string(name) + " must hold at most " + std::to_string(maxCount) + " values");
    const std::string itemName = std::string(name) + "[" + std::to_string(values.size()) + "]";
    values.push_back(intArg(item, itemName.c_str(), low, high));
  }
  if (values.size() < minCount)
    throw py::value_error(std::string(name) + " must hold at least " + std::to_string(minCount) + " value" +
                          (minCount == 1 ? "" : "s") + ", got " + std::to_string(values.size()));
  return values;
}

}  // namespace idutpy
