// Shared pieces of the Python module: the library's failures as Python exceptions, and numpy
// arrays as the library's images.
#ifndef IDUT_PYTHON_HPP
#define IDUT_PYTHON_HPP

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/cimg.h"
#include "ci_id/status.h"

namespace idutpy {

namespace py = pybind11;

// A failure status of the library on its way to Python, where it becomes idut.Error with the
// status code and its name.
struct StatusError {
  csys_status status;
  std::string message;
  py::object symbols = {};  // a list of the Symbols a search found before it failed, or null
};

// The name of a status code ("cidut_errBadArgument"), or "unknown status" for codes no header names.
const char* statusName(csys_status status);

// Throws StatusError when status is a failure; what says which call failed.
void check(csys_status status, const char* what);

// ---- arguments
// Python values as C++ arguments, checked before anything is allocated or called. Messages
// name the argument: TypeError when the value is not of the kind asked for (a bool is not taken
// for a number, a float not for an int), ValueError when it lies outside [low, high].
int64_t intArg(const py::handle& value, const char* name, int64_t low, int64_t high);
inline int32_t int32Arg(const py::handle& value, const char* name, int32_t low, int32_t high) {
  return static_cast<int32_t>(intArg(value, name, low, high));
}
// A finite number (int or float) from low to high.
double realArg(const py::handle& value, const char* name, double low, double high);
// True or False (numpy's bool too).
bool boolArg(const py::handle& value, const char* name);
std::string textArg(const py::handle& value, const char* name);
// A str or an os.PathLike, as the file system's str.
std::string pathArg(const py::handle& value, const char* name);
// A sequence of ints (list, tuple, integer array; not a str) holding minCount to maxCount values,
// each from low to high.
std::vector<int64_t> intsArg(const py::handle& value, const char* name, size_t minCount, size_t maxCount,
                             int64_t low, int64_t high);

// An 8-bit grey image as the library takes it: the array's own pixels when its rows are
// contiguous bytes, else a grey copy (colour converted as the image readers convert it).
struct GreyView {
  const uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
  std::vector<uint8_t> copy;  // owns the pixels when the array could not be used in place
};

// Accepts a uint8 numpy array of shape (rows, columns) with any strides, or (rows, columns,
// channels) with 1 grey, 2 grey + alpha, 3 RGB or 4 RGBA channels. TypeError for anything not
// a uint8 array, ValueError for other shapes and for empty or oversized images. `name` labels
// the messages. The array must stay alive (and unchanged) while the view is used.
GreyView greyView(const py::handle& image, const char* name);

// A read-only library image over a view (destruct it when done).
cimg_imageConst wrapImage(const GreyView& view);

// A new (rows, columns) uint8 array holding a copy of an image's window.
py::array_t<uint8_t> toArray(const cimg_image& image);

// A 1D contiguous array of T from a numpy array whose dtype is exactly T's (TypeError
// otherwise, ValueError unless one-dimensional and non-empty).
template <typename T>
py::array_t<T, py::array::c_style> lineArray(const py::handle& line, const char* name);

void defineFind(py::module_& module);
void defineFamilies(py::module_& module);
void defineImages(py::module_& module);
void definePixels(py::module_& module);
void defineSpectra(py::module_& module);

}  // namespace idutpy

#endif
