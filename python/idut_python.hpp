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
};

// The name of a status code ("cidut_errBadArgument"), or "unknown status" for codes no header names.
const char* statusName(csys_status status);

// Throws StatusError when status is a failure; what says which call failed.
void check(csys_status status, const char* what);

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
