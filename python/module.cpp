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
#include "sample_image.hpp"

namespace idutpy {

namespace {


// The module's own dictionary, where idut.Error and its subclasses live (kept for the whole
// process: the module is never unloaded).
PyObject* g_moduleDict = nullptr;

const char* kErrorSource = R"py(
class Error(Exception):
    """A failure status of the idut library.

    status is the code as an unsigned 32-bit number (bit 31 set), name its name in the C
    headers ("cidut_errBadArgument"), and the message says which call failed. symbols holds
    what a search had found before it failed (a stopped search, memory running out), else []."""

    def __init__(self, status, name, message, symbols=()):
        code = f"{name} (0x{status:08x})"
        super().__init__(message if message.endswith(code) else f"{message}: {code}")
        self.status = status
        self.name = name
        self.message = message
        self.symbols = list(symbols)

    def __reduce__(self):
        return type(self), (self.status, self.name, self.message, self.symbols)


class ArgumentError(Error, ValueError):
    """An argument the library refused (out of range, a bad step, a transform size): both an
    idut.Error with its status and a ValueError."""


class OutOfMemoryError(Error, MemoryError):
    """The library could not allocate what a call needed: both an idut.Error and a MemoryError."""


class UncorrectableError(ValueError):
    """A Reed-Solomon codeword with more errors than its error-correction words can repair."""
)py";

// Which Python class a failure status raises: argument problems are also ValueErrors, a failed
// allocation also a MemoryError, the rest plain idut.Error.
const char* errorClassOf(csys_status status) {
  switch (static_cast<uint32_t>(status)) {
    case static_cast<uint32_t>(cidut_errOutOfRange):
    case static_cast<uint32_t>(cidut_errBadStep):
    case static_cast<uint32_t>(cidut_errBadArgument):
    case static_cast<uint32_t>(cidut_errFftSize):
    case static_cast<uint32_t>(cidut_errDivideByZero):
    case static_cast<uint32_t>(csys_errBadArgument):
    case static_cast<uint32_t>(csys_errOutOfRange):
      return "ArgumentError";
    case static_cast<uint32_t>(csys_errNoMemory):
      return "OutOfMemoryError";
    default:
      return "Error";
  }
}

// A decoded image as a new (rows, columns) array.
py::array_t<uint8_t> greyArray(const imageio::GreyImage& image) {
  py::array_t<uint8_t> out({image.height, image.width});
  std::memcpy(out.mutable_data(), image.pixels.data(), image.pixels.size());
  return out;
}

}  // namespace

const char* statusName(csys_status status) {
  // Success codes have no name of their own here: only failures reach Python.
  return CSYS_FAILED(status) ? idut::statusName(status) : "unknown status";
}

void check(csys_status status, const char* what) {
  if (CSYS_FAILED(status)) throw StatusError{status, what};
}

}  // namespace idutpy

PYBIND11_MODULE(_idut, m) {
  using namespace idutpy;
  m.doc() =
      "Locates and reads Data Matrix, PDF417 and 1D barcodes in 8-bit grey numpy images.\n\n"
      "find() and read_file() run the searches of the idut-find program; read_files() reads many files on\n"
      "threads, idut.dask on a Dask cluster. The stand-alone families (Reed-Solomon, 160-bit integers,\n"
      "correlation, morphology, edges, binarisation, pixel operations, spectra) take and return numpy\n"
      "arrays and ints.\n"
      "Bad arguments raise TypeError or ValueError naming the argument; failures of the library raise\n"
      "idut.Error with its status code and name (idut.ArgumentError, also a ValueError, for an argument\n"
      "the library refused; idut.OutOfMemoryError, also a MemoryError, when an allocation failed).";
  py::dict scope = m.attr("__dict__");
  py::exec(kErrorSource, scope);
  g_moduleDict = scope.release().ptr();
  m.attr("__version__") = cidut_getVersion();

  py::register_exception_translator([](std::exception_ptr pending) {
    try {
      if (pending) std::rethrow_exception(pending);
    } catch (const StatusError& e) {
      const uint32_t code = static_cast<uint32_t>(e.status);
      PyObject* type = PyDict_GetItemString(g_moduleDict, errorClassOf(e.status));
      py::object symbols = e.symbols ? e.symbols : py::list();
      py::object error = py::reinterpret_borrow<py::object>(type)(code, statusName(e.status), e.message, symbols);
      PyErr_SetObject(type, error.ptr());
    }
  });
  m.def(
      "status_name",
      [](const py::object& status) {
        return statusName(static_cast<csys_status>(static_cast<uint32_t>(intArg(status, "status", INT32_MIN, UINT32_MAX))));
      },
      py::arg("status"), "The name of a library status code (\"unknown status\" for codes without one).");

  m.def(
      "read_image",
      [](const py::object& path) {
        const std::string name = pathArg(path, "path");
        imageio::GreyImage image;
        std::string error;
        bool read;
        {
          py::gil_scoped_release released;
          read = imageio::readGrey(name, &image, &error);
        }
        if (!read) throw py::value_error(error);
        return greyArray(image);
      },
      py::arg("path"),
      "Reads a PNG, JPEG, PGM/PPM or WebP file as idut-find does: a (rows, columns) uint8 grey array "
      "(colour by luma, transparency over white). ValueError with the reason when it cannot.");
  m.def(
      "sample_image",
      [] {
        imageio::GreyImage image;
        std::string error;
        if (!imageio::decodeGrey(sampleImageBytes(), sampleImageSize(), "sample", &image, &error))
          throw py::value_error(error);
        return greyArray(image);
      },
      "idut-find's built-in sample scene (three Data Matrix symbols) as a uint8 grey array.");

  defineFind(m);
  defineFamilies(m);
  defineImages(m);
  definePixels(m);
  defineSpectra(m);
}
