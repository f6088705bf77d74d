// idut.find and idut.read_file: the front door (idut::readSymbols) over a numpy image or an image
// file, with the interpreter's lock released while it searches and a stop check that lets
// Ctrl-C (or a caller's callback) end a long search. Results are plain Symbol records that pickle.
#include <chrono>
#include <cstdio>
#include <optional>

#include "idut/read.hpp"
#include "idut_python.hpp"
#include "imageio/imageio.hpp"

namespace idutpy {

namespace {

// ---- stopping a search
// The reader consults the stop callback on the searching thread, at most every millisecond, with
// the interpreter's lock released. Taking the lock costs microseconds, so the interpreter is
// consulted at most every 20 ms; what it raises (KeyboardInterrupt from Ctrl-C, or the caller's
// callback's exception) is kept and raised again once the search has unwound.
struct StopState {
  PyObject* callback = nullptr;  // stop(): a true result ends the search
  std::chrono::steady_clock::time_point nextCheck{};
  bool raised = false;
  py::object pendingType, pendingValue, pendingTrace;

  bool operator()() {
    const auto now = std::chrono::steady_clock::now();
    if (now < nextCheck) return false;
    nextCheck = now + std::chrono::milliseconds(20);
    PyGILState_STATE gil = PyGILState_Ensure();
    // Runs the Python signal handlers (the main thread only): SIGINT raises KeyboardInterrupt.
    bool failed = PyErr_CheckSignals() != 0, stop = false;
    if (!failed && callback) {
      PyObject* result = PyObject_CallNoArgs(callback);
      failed = result == nullptr;
      if (result) {
        const int truth = PyObject_IsTrue(result);
        Py_DECREF(result);
        failed = truth < 0;
        stop = truth > 0;
      }
    }
    if (failed) {
      PyObject *type, *value, *trace;
      PyErr_Fetch(&type, &value, &trace);
      pendingType = py::reinterpret_steal<py::object>(type);
      pendingValue = py::reinterpret_steal<py::object>(value);
      pendingTrace = py::reinterpret_steal<py::object>(trace);
      raised = true;
    }
    PyGILState_Release(gil);
    return stop || failed;
  }
};

// ---- options
// The front door's own checks name its fields; Python callers know them by their keywords.
std::string pythonNames(std::string message) {
  static const std::pair<const char*, const char*> kNames[] = {
      {"minSize", "min_size"}, {"maxSize", "max_size"}, {"modulesA", "modules"}, {"modulesB", "modules"},
      {"maxSymbols", "max_symbols"}};
  for (const auto& [from, to] : kNames)
    for (size_t at; (at = message.find(from)) != std::string::npos;) message.replace(at, std::strlen(from), to);
  return message;
}

idut::Symbology symbologyNamed(const std::string& name) {
  const std::optional<idut::Symbology> s = idut::parseSymbology(name);
  if (!s) throw py::value_error("unknown symbology '" + name + "' (idut.symbologies() lists them)");
  return *s;
}

idut::Symbologies symbologySet(const py::object& symbologies) {
  if (symbologies.is_none()) return idut::Symbologies::all();
  idut::Symbologies set;
  if (py::isinstance<py::str>(symbologies)) {
    const std::string text = symbologies.cast<std::string>();
    for (size_t begin = 0; begin <= text.size();) {
      const size_t end = std::min(text.find(',', begin), text.size());
      set.insert(symbologyNamed(text.substr(begin, end - begin)));
      begin = end + 1;
    }
    return set;
  }
  if (!py::isinstance<py::iterable>(symbologies))
    throw py::type_error("symbologies must be None, a name or a sequence of names");
  for (const py::handle& name : symbologies) {
    if (!py::isinstance<py::str>(name)) throw py::type_error("symbologies must hold names (str)");
    set.insert(symbologyNamed(name.cast<std::string>()));
  }
  if (set.empty()) throw py::value_error("symbologies is empty (None looks for every symbology)");
  return set;
}

int intOption(const py::object& value, const char* name, int fallback) {
  if (value.is_none()) return fallback;
  if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
    throw py::type_error(std::string(name) + " must be an int or None");
  const long long v = value.cast<long long>();
  if (v < -(1LL << 30) || v > (1LL << 30)) throw py::value_error(std::string(name) + " is out of range: " + std::to_string(v));
  return static_cast<int>(v);
}

// The keyword arguments of find() and read_file() as the front door's options, checked.
struct Keywords {
  py::object symbologies, step, minSize, maxSize, modules, maxSymbols, stop;
  bool adaptive = false, lowContrast = false, decode = true;
  std::string rectangles = "standard";

  idut::ReadOptions options() const {
    idut::ReadOptions o;
    o.symbologies = symbologySet(symbologies);
    o.step = intOption(step, "step", o.step);
    o.minSize = intOption(minSize, "min_size", 0);
    o.maxSize = intOption(maxSize, "max_size", 0);
    if (!modules.is_none()) {
      if (py::isinstance<py::tuple>(modules) && py::len(modules) == 2) {
        const py::tuple t = modules;
        o.modulesA = intOption(t[0], "modules", 0);
        o.modulesB = intOption(t[1], "modules", 0);
      } else if (py::isinstance<py::int_>(modules)) {
        o.modulesA = o.modulesB = intOption(modules, "modules", 0);
      } else {
        throw py::type_error("modules must be an int N or a tuple (N, M)");
      }
      if (o.modulesA == 0 || o.modulesB == 0) throw py::value_error("modules must be from 8 to 144");
    }
    o.adaptive = adaptive;
    o.lowContrast = lowContrast;
    o.decode = decode;
    o.maxSymbols = intOption(maxSymbols, "max_symbols", 0);
    if (o.maxSymbols < 0) throw py::value_error("max_symbols must be positive or None");
    if (rectangles != "standard" && rectangles != "long")
      throw py::value_error("rectangles must be \"standard\" or \"long\", got '" + rectangles + "'");
    o.longRectangles = rectangles == "long";
    if (!stop.is_none() && !PyCallable_Check(stop.ptr())) throw py::type_error("stop must be callable or None");
    try {
      idut::validate(o);
    } catch (const idut::Error& e) {
      throw py::value_error(pythonNames(e.what()));
    }
    return o;
  }
};

// ---- results
// A plain record: everything a symbol carries, as Python values, so that it pickles.
struct Symbol {
  std::string symbology;
  py::array_t<double> corners;  // 4 x 2: origin corner, the ends of its two sides, opposite corner
  int score = 0;
  bool parallelogram = false;
  py::object text;          // str, or None when not decoded
  py::object decodeError;   // str when a reader could not read the symbol, else None
  py::object bytes;         // bytes, or None when not decoded
  std::string symbologyIdentifier, contentType;
  int eci = -1;
  bool readerInit = false, mirrored = false, inverted = false;
  int rows = 0, columns = 0, ecLevel = -1, errorsCorrected = 0, erasures = 0;
  py::object structuredAppend;  // dict, or None
  std::string addOn, rawText;
};

py::object utf8(const std::string& text) {
  PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<py::ssize_t>(text.size()), "surrogateescape");
  if (s == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(s);
}

py::object appendDict(const idut::StructuredAppend& a) {
  if (a.index < 0) return py::none();
  py::dict d;
  d["index"] = a.index;
  d["count"] = a.count;
  d["id"] = utf8(a.id);
  d["last"] = a.last;
  if (!a.fileName.empty()) d["file_name"] = utf8(a.fileName);
  if (!a.sender.empty()) d["sender"] = utf8(a.sender);
  if (!a.addressee.empty()) d["addressee"] = utf8(a.addressee);
  if (a.timeStamp >= 0) d["time_stamp"] = a.timeStamp;
  if (a.fileSize >= 0) d["file_size"] = a.fileSize;
  if (a.checksum >= 0) d["checksum"] = a.checksum;
  return d;
}

Symbol toPython(const idut::Symbol& found) {
  Symbol s;
  s.symbology = idut::toString(found.symbology);
  s.corners = py::array_t<double>({4, 2});
  double* c = s.corners.mutable_data();
  const idut::Quad& q = found.corners;
  const idut::Point order[4] = {q.origin(), q.xEnd(), q.yEnd(), q.opposite()};
  for (int k = 0; k < 4; ++k) {
    c[2 * k] = order[k].x;
    c[2 * k + 1] = order[k].y;
  }
  s.score = found.score;
  s.parallelogram = found.parallelogram;
  s.text = found.decoded ? utf8(found.text) : py::none();
  s.decodeError = !found.decoded && !found.decodeError.empty() ? utf8(found.decodeError) : py::none();
  s.bytes = found.decoded ? py::bytes(reinterpret_cast<const char*>(found.bytes.data()), found.bytes.size())
                          : py::object(py::none());
  s.symbologyIdentifier = found.symbologyIdentifier;
  s.contentType = idut::toString(found.contentType);
  s.eci = found.eci;
  s.readerInit = found.readerInit;
  s.mirrored = found.mirrored;
  s.inverted = found.inverted;
  s.rows = found.rows;
  s.columns = found.columns;
  s.ecLevel = found.ecLevel;
  s.errorsCorrected = found.errorsCorrected;
  s.erasures = found.erasures;
  s.structuredAppend = appendDict(found.structuredAppend);
  s.addOn = found.addOn;
  s.rawText = found.rawText;
  return s;
}

std::string symbolRepr(const Symbol& s) {
  std::string text = "Symbol(" + s.symbology + ", corners=[";
  const double* c = s.corners.data();
  char point[64];
  for (int k = 0; k < 4; ++k) {
    std::snprintf(point, sizeof point, "%s(%.2f, %.2f)", k ? ", " : "", c[2 * k], c[2 * k + 1]);
    text += point;
  }
  text += "], score=" + std::to_string(s.score);
  if (!s.text.is_none()) text += ", text=" + py::repr(s.text).cast<std::string>();
  if (!s.decodeError.is_none()) text += ", decode_error=" + py::repr(s.decodeError).cast<std::string>();
  return text + ")";
}

// Pickled as the tuple of its fields, in declaration order.
py::tuple symbolState(const Symbol& s) {
  return py::make_tuple(s.symbology, s.corners, s.score, s.parallelogram, s.text, s.decodeError, s.bytes,
                        s.symbologyIdentifier, s.contentType, s.eci, s.readerInit, s.mirrored, s.inverted, s.rows,
                        s.columns, s.ecLevel, s.errorsCorrected, s.erasures, s.structuredAppend, s.addOn, s.rawText);
}

Symbol symbolFromState(const py::tuple& t) {
  if (t.size() != 21) throw py::value_error("not a pickled idut.Symbol");
  Symbol s;
  s.symbology = t[0].cast<std::string>();
  s.corners = t[1].cast<py::array_t<double>>();
  s.score = t[2].cast<int>();
  s.parallelogram = t[3].cast<bool>();
  s.text = t[4];
  s.decodeError = t[5];
  s.bytes = t[6];
  s.symbologyIdentifier = t[7].cast<std::string>();
  s.contentType = t[8].cast<std::string>();
  s.eci = t[9].cast<int>();
  s.readerInit = t[10].cast<bool>();
  s.mirrored = t[11].cast<bool>();
  s.inverted = t[12].cast<bool>();
  s.rows = t[13].cast<int>();
  s.columns = t[14].cast<int>();
  s.ecLevel = t[15].cast<int>();
  s.errorsCorrected = t[16].cast<int>();
  s.erasures = t[17].cast<int>();
  s.structuredAppend = t[18];
  s.addOn = t[19].cast<std::string>();
  s.rawText = t[20].cast<std::string>();
  return s;
}

// ---- the searches
// Runs the front door over pixels with the lock released; raises what the stop check caught,
// idut.Error for a failure of the search.
py::list readPixels(const uint8_t* pixels, int width, int height, int stride, const Keywords& keywords) {
  idut::ReadOptions options = keywords.options();
  StopState state;
  state.callback = keywords.stop.is_none() ? nullptr : keywords.stop.ptr();
  options.stop = [&state] { return state(); };
  std::vector<idut::Symbol> found;
  std::optional<idut::Error> failure;
  {
    py::gil_scoped_release released;
    try {
      found = idut::readSymbols(idut::ImageView(pixels, width, height, stride), options);
    } catch (const idut::Error& e) {
      failure = e;
    }
  }
  if (state.raised) {
    PyErr_Restore(state.pendingType.release().ptr(), state.pendingValue.release().ptr(),
                  state.pendingTrace.release().ptr());
    throw py::error_already_set();
  }
  if (failure) throw StatusError{failure->status(), failure->what()};
  py::list symbols;
  for (const idut::Symbol& s : found) symbols.append(py::cast(toPython(s)));
  return symbols;
}

py::list find(const py::object& image, const Keywords& keywords) {
  keywords.options();  // argument errors before the image's
  const GreyView view = greyView(image, "image");
  return readPixels(view.pixels, view.width, view.height, view.stride, keywords);
}

py::list readFile(const std::string& path, const Keywords& keywords) {
  keywords.options();
  imageio::GreyImage image;
  std::string error;
  bool read;
  {
    py::gil_scoped_release released;
    read = imageio::readGrey(path, &image, &error);
  }
  if (!read) throw py::value_error(error);
  return readPixels(image.pixels.data(), image.width, image.height, image.width, keywords);
}

// The keywords both functions take, after their first argument.
template <typename F>
void defineSearch(py::module_& m, const char* name, F function, const char* first, const char* doc) {
  m.def(
      name,
      [function](const py::object& input, const py::object& symbologies, const py::object& step,
                 const py::object& minSize, const py::object& maxSize, const py::object& modules, bool adaptive,
                 bool lowContrast, const py::object& maxSymbols, bool decode, const std::string& rectangles,
                 const py::object& stop) {
        Keywords k{symbologies, step, minSize, maxSize, modules, maxSymbols, stop, adaptive, lowContrast, decode,
                   rectangles};
        return function(input, k);
      },
      py::arg(first), py::arg("symbologies") = py::none(), py::kw_only(), py::arg("step") = py::none(),
      py::arg("min_size") = py::none(), py::arg("max_size") = py::none(), py::arg("modules") = py::none(),
      py::arg("adaptive") = false, py::arg("low_contrast") = false, py::arg("max_symbols") = py::none(),
      py::arg("decode") = true, py::arg("rectangles") = "standard", py::arg("stop") = py::none(), doc);
}

constexpr const char* kKeywordsDoc = R"(
symbologies  None (all), a name or comma-separated names, or a sequence of names (symbologies())
step         scan every step-th row (default 2); min_size / max_size: symbol sides in pixels
modules      expected Data Matrix module count N or (N, M); adaptive: adaptive-threshold tracking
low_contrast accept weaker edges; max_symbols: stop after that many; decode: read text
rectangles   "standard" (finds the long Data Matrix rectangles too) or "long" (also searches the
             whole image turned sixteen ways for them, about 40 times slower)
stop         a callable polled during the search; a true result stops it (idut.Error with
             csys_errAttention), an exception it raises ends the search and propagates.
Ctrl-C (KeyboardInterrupt) also stops a search run on the main thread. The interpreter's lock
is released while the search runs. Symbols pickle.)";

}  // namespace

void defineFind(py::module_& m) {
  py::class_<Symbol>(m, "Symbol", "One located symbol and what it says, as idut-find reports it.")
      .def_readonly("symbology", &Symbol::symbology, "\"DataMatrix\", \"PDF417\", \"Code128\", \"EAN-13\", ...")
      .def_readonly("corners", &Symbol::corners,
                    "4 x 2 float array of (x, y) pixels, pixel (x, y) covering [x, x+1) x [y, y+1): the "
                    "origin corner, the ends of its two sides, then the opposite corner")
      .def_readonly("score", &Symbol::score)
      .def_readonly("parallelogram", &Symbol::parallelogram)
      .def_readonly("text", &Symbol::text, "the decoded text (str), or None")
      .def_readonly("decode_error", &Symbol::decodeError, "why a reader could not read it, or None")
      .def_readonly("bytes", &Symbol::bytes, "the decoded bytes (bytes), or None")
      .def_readonly("symbology_identifier", &Symbol::symbologyIdentifier, "\"]d1\", \"]L2\", \"]C1\", ...")
      .def_readonly("content_type", &Symbol::contentType, "\"text\", \"binary\", \"gs1\" or \"iso15434\"")
      .def_readonly("eci", &Symbol::eci, "the first ECI designator, -1 for none")
      .def_readonly("reader_init", &Symbol::readerInit)
      .def_readonly("mirrored", &Symbol::mirrored)
      .def_readonly("inverted", &Symbol::inverted, "light modules on a dark ground")
      .def_readonly("rows", &Symbol::rows)
      .def_readonly("columns", &Symbol::columns)
      .def_readonly("ec_level", &Symbol::ecLevel, "PDF417 error-correction level, -1 elsewhere")
      .def_readonly("errors_corrected", &Symbol::errorsCorrected)
      .def_readonly("erasures", &Symbol::erasures)
      .def_readonly("structured_append", &Symbol::structuredAppend,
                    "dict (index, count, id, last, and Macro PDF417's optional fields) or None")
      .def_readonly("add_on", &Symbol::addOn, "an EAN/UPC symbol's add-on digits, or \"\"")
      .def_readonly("raw_text", &Symbol::rawText, "the characters as carried where text interprets them, or \"\"")
      .def("__repr__", &symbolRepr)
      .def(py::pickle(&symbolState, &symbolFromState));

  m.def(
      "symbologies",
      [] {
        std::vector<std::string> names;
        for (int k = 0; k < idut::kSymbologyCount; ++k) names.push_back(idut::optionName(static_cast<idut::Symbology>(k)));
        return names;
      },
      "The names find() accepts, in the order of the symbologies' numbers.");
  static const std::string findDoc = std::string("Locates (and reads) the symbols of an 8-bit image; returns a list of Symbol.\n\n"
                            "image        uint8 array (rows, columns), any strides, or (rows, columns, channels) with\n"
                            "             grey, grey + alpha, RGB or RGBA channels, made grey as idut-find reads colour") +
                kKeywordsDoc;
  defineSearch(m, "find", &find, "image", findDoc.c_str());
  static const std::string readFileDoc = std::string("Reads an image file (PNG, JPEG, PGM/PPM, WebP) and locates (and reads) its symbols, as\n"
                            "idut-find does; ValueError when the file cannot be read. The keywords are find()'s:") + kKeywordsDoc;
  defineSearch(m, "read_file",
               [](const py::object& path, const Keywords& k) {
                 if (!py::isinstance<py::str>(path) && !py::hasattr(path, "__fspath__"))
                   throw py::type_error("path must be a str or an os.PathLike");
                 return readFile(py::str(py::module_::import("os").attr("fspath")(path)).cast<std::string>(), k);
               },
               "path", readFileDoc.c_str());
}

}  // namespace idutpy
