// The Python module idut: the library's searches and stand-alone families over numpy arrays.
#include <pybind11/eval.h>

#include <cstring>
#include <utility>

#include "base/cbt.h"
#include "base/cip_pel.h"
#include "base/cmath_projective.h"
#include "ci_id/version.h"
#include "idut/read.hpp"
#include "idut_python.hpp"
#include "imageio/imageio.hpp"

namespace idutpy {

namespace {


// idut.Error, made once at import.
PyObject* g_errorType = nullptr;

const char* kErrorSource = R"py(
class Error(Exception):
    """A failure status of the idut library.

    status is the code as an unsigned 32-bit number (bit 31 set), name its name in the C
    headers ("cidut_errBadArgument"), and the message says which call failed."""

    def __init__(self, status, name, message):
        super().__init__(f"{message}: {name} (0x{status:08x})")
        self.status = status
        self.name = name


class UncorrectableError(ValueError):
    """A Reed-Solomon codeword with more errors than its error-correction words can repair."""
)py";

}  // namespace

const char* statusName(csys_status status) {
  // Success codes have no name of their own here: only failures reach Python.
  return CSYS_FAILED(status) ? idut::statusName(status) : "unknown status";
}

void check(csys_status status, const char* what) {
  if (CSYS_FAILED(status)) throw StatusError{status, what};
}

}  // namespace idutpy

PYBIND11_MODULE(idut, m) {
  using namespace idutpy;
  m.doc() =
      "Locates and reads Data Matrix, PDF417 and 1D barcodes in 8-bit grey numpy images.\n\n"
      "find() and read_file() run the searches of the idut-find program; the stand-alone families (Reed-Solomon,\n"
      "160-bit integers, correlation, morphology, edges, binarisation, pixel operations, spectra) take\n"
      "and return numpy arrays and ints.\n"
      "Failures of the library raise idut.Error with its status code and name.";
  py::dict scope = m.attr("__dict__");
  py::exec(kErrorSource, scope);
  g_errorType = m.attr("Error").ptr();
  m.attr("__version__") = cidut_getVersion();

  py::register_exception_translator([](std::exception_ptr pending) {
    try {
      if (pending) std::rethrow_exception(pending);
    } catch (const StatusError& e) {
      const uint32_t code = static_cast<uint32_t>(e.status);
      py::object error = py::reinterpret_borrow<py::object>(g_errorType)(code, statusName(e.status), e.message);
      PyErr_SetObject(g_errorType, error.ptr());
    }
  });
  m.def(
      "status_name", [](int64_t status) { return statusName(static_cast<csys_status>(static_cast<uint32_t>(status))); },
      py::arg("status"), "The name of a library status code (\"unknown status\" for codes without one).");

  m.def(
      "read_image",
      [](const std::string& path) {
        imageio::GreyImage image;
        std::string error;
        bool read;
        {
          py::gil_scoped_release released;
          read = imageio::readGrey(path, &image, &error);
        }
        if (!read) throw py::value_error(error);
        py::array_t<uint8_t> out({image.height, image.width});
        std::memcpy(out.mutable_data(), image.pixels.data(), image.pixels.size());
        return out;
      },
      py::arg("path"),
      "Reads a PNG, JPEG, PGM/PPM or WebP file as idut-find does: a (rows, columns) uint8 grey array "
      "(colour by luma, transparency over white). ValueError with the reason when it cannot.");

  defineFind(m);
  defineFamilies(m);
  defineImages(m);
  definePixels(m);
  defineSpectra(m);
}
