// idut.find: idut-find's search over a numpy image, with the interpreter's lock released and a
// stop check that lets Ctrl-C (or a caller's callback) end a long search.
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>

#include "idut_python.hpp"
#include "locate.hpp"
#include "options.hpp"

namespace idutpy {

namespace {

// ---- stopping a search
// The library polls one process-wide attention callback, about once per microsecond of a Data
// Matrix search. Each search records its own state in a thread-local record, so searches on
// several threads stop independently and searches run by other callers (no record on their
// thread) are never stopped from here. Reaching that record and reading the clock on every poll
// would cost a search more than a tenth of its time, so polls first pass two shared counters:
// none but every 16th look further while no search has been asked to stop.
struct StopState {
  PyObject* callback = nullptr;  // stop(): a true result ends the search
  std::chrono::steady_clock::time_point nextCheck{};
  bool stopped = false;   // the callback asked to stop
  bool raised = false;    // a signal handler or the callback raised; `pending` holds it
  py::object pendingType, pendingValue, pendingTrace;
};

thread_local StopState* t_stop = nullptr;
std::atomic<int> g_searches{0};  // searches run by find() now
std::atomic<int> g_stopping{0};  // of those, the ones asked to stop
// Counts polls; racing threads may lose increments, which only spaces their checks a little more.
std::atomic<uint32_t> g_polls{0};
constexpr uint32_t kPollsPerCheck = 16;

// Taking the interpreter's lock costs microseconds, so the interpreter is consulted at most
// every 20 ms.
constexpr std::chrono::milliseconds kCheckInterval{20};

csys_status pollStop(void*) {
  if (g_searches.load(std::memory_order_relaxed) == 0) return 0;
  if (g_stopping.load(std::memory_order_relaxed) == 0) {
    const uint32_t polls = g_polls.load(std::memory_order_relaxed) + 1;
    g_polls.store(polls, std::memory_order_relaxed);
    if (polls % kPollsPerCheck != 0) return 0;
  }
  StopState* state = t_stop;
  if (state == nullptr) return 0;
  if (state->stopped || state->raised) return csys_errAttention;
  const auto now = std::chrono::steady_clock::now();
  if (now < state->nextCheck) return 0;
  state->nextCheck = now + kCheckInterval;

  PyGILState_STATE gil = PyGILState_Ensure();
  // Runs the Python signal handlers (the main thread only): SIGINT raises KeyboardInterrupt.
  bool failed = PyErr_CheckSignals() != 0;
  if (!failed && state->callback) {
    PyObject* result = PyObject_CallNoArgs(state->callback);
    failed = result == nullptr;
    if (result) {
      const int truth = PyObject_IsTrue(result);
      Py_DECREF(result);
      failed = truth < 0;
      state->stopped = truth > 0;
    }
  }
  if (failed) {
    PyObject *type, *value, *trace;
    PyErr_Fetch(&type, &value, &trace);
    state->pendingType = py::reinterpret_steal<py::object>(type);
    state->pendingValue = py::reinterpret_steal<py::object>(value);
    state->pendingTrace = py::reinterpret_steal<py::object>(trace);
    state->raised = true;
  }
  PyGILState_Release(gil);
  if (!(state->stopped || state->raised)) return 0;
  g_stopping.fetch_add(1);
  return csys_errAttention;
}

// ---- settings: built as idut-find's command line and parsed by idut-find's own parser, so the
// module accepts exactly what the program accepts.
std::string optionMessage(std::string message) {
  // "option --min-size: ..." -> "min_size: ..."
  for (size_t at; (at = message.find("--")) != std::string::npos;) {
    size_t end = at + 2;
    while (end < message.size() && (std::isalnum(static_cast<unsigned char>(message[end])) || message[end] == '-'))
      ++end;
    std::string name = message.substr(at + 2, end - at - 2);
    for (char& c : name) c = c == '-' ? '_' : c;
    if (name == "symbology") name = "symbologies";
    message.replace(at, end - at, name);
  }
  if (message.rfind("option ", 0) == 0) message.erase(0, 7);
  return message;
}

std::string symbologyList(const py::object& symbologies) {
  if (symbologies.is_none()) return "";
  if (py::isinstance<py::str>(symbologies)) return symbologies.cast<std::string>();
  if (!py::isinstance<py::iterable>(symbologies))
    throw py::type_error("symbologies must be None, a name or a sequence of names");
  std::string list;
  for (const py::handle& name : symbologies) {
    if (!py::isinstance<py::str>(name)) throw py::type_error("symbologies must hold names (str)");
    list += (list.empty() ? "" : ",") + name.cast<std::string>();
  }
  if (list.empty()) throw py::value_error("symbologies is empty (None looks for every symbology)");
  return list;
}

std::string modulesText(const py::object& modules) {
  if (py::isinstance<py::int_>(modules)) return std::to_string(modules.cast<long long>());
  if (py::isinstance<py::tuple>(modules) && py::len(modules) == 2) {
    const py::tuple t = modules;
    if (py::isinstance<py::int_>(t[0]) && py::isinstance<py::int_>(t[1]))
      return std::to_string(t[0].cast<long long>()) + "x" + std::to_string(t[1].cast<long long>());
  }
  throw py::type_error("modules must be an int N or a tuple (N, M)");
}

idutfind::LocateSettings settingsFrom(const py::object& symbologies, std::optional<int> step,
                                      std::optional<int> minSize, std::optional<int> maxSize,
                                      const py::object& modules, bool adaptive, bool lowContrast,
                                      std::optional<int> maxSymbols, bool decode, const std::string& rectangles) {
  std::vector<std::string> args = {"idut"};
  const std::string list = symbologyList(symbologies);
  if (!list.empty()) args.push_back("--symbology=" + list);
  if (step) args.push_back("--step=" + std::to_string(*step));
  if (minSize) args.push_back("--min-size=" + std::to_string(*minSize));
  if (maxSize) args.push_back("--max-size=" + std::to_string(*maxSize));
  if (!modules.is_none()) args.push_back("--modules=" + modulesText(modules));
  if (adaptive) args.push_back("--adaptive");
  if (lowContrast) args.push_back("--low-contrast");
  if (maxSymbols) args.push_back("--max-symbols=" + std::to_string(*maxSymbols));
  if (!decode) args.push_back("--no-decode");
  args.push_back("--rectangles=" + rectangles);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  idutfind::Options options;
  std::string error;
  if (!idutfind::parseOptions(static_cast<int>(argv.size()), argv.data(), options, error))
    throw py::value_error(optionMessage(error));
  return options.locate;
}

// ---- results
struct Symbol {
  std::string symbology;
  py::array_t<double> corners;  // 4 x 2: origin corner, the ends of its two sides, opposite corner
  int score = 0;
  bool parallelogram = false;
  py::object text;         // str, or None when not decoded
  py::object decodeError;  // str when a reader could not read the symbol, else None
};

py::object utf8(const std::string& text) {
  PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<py::ssize_t>(text.size()), "surrogateescape");
  if (s == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(s);
}

Symbol toPython(const idutfind::Symbol& found) {
  Symbol s;
  s.symbology = found.symbology;
  s.corners = py::array_t<double>({4, 2});
  double* c = s.corners.mutable_data();
  for (int k = 0; k < 4; ++k) {
    c[2 * k] = found.corners[k].x;
    c[2 * k + 1] = found.corners[k].y;
  }
  s.score = found.score;
  s.parallelogram = found.parallelogram;
  s.text = found.decoded ? utf8(found.text) : py::none();
  s.decodeError = !found.decoded && !found.decodeError.empty() ? utf8(found.decodeError) : py::none();
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

py::list find(const py::object& image, const py::object& symbologies, std::optional<int> step,
              std::optional<int> minSize, std::optional<int> maxSize, const py::object& modules, bool adaptive,
              bool lowContrast, std::optional<int> maxSymbols, bool decode, const std::string& rectangles,
              const py::object& stop) {
  const idutfind::LocateSettings settings = settingsFrom(symbologies, step, minSize, maxSize, modules, adaptive,
                                                         lowContrast, maxSymbols, decode, rectangles);
  if (!stop.is_none() && !PyCallable_Check(stop.ptr())) throw py::type_error("stop must be callable or None");
  const GreyView view = greyView(image, "image");

  StopState state;
  state.callback = stop.is_none() ? nullptr : stop.ptr();
  std::vector<idutfind::Symbol> found;
  std::string error;
  csys_status status = 0;
  bool ok;
  {
    py::gil_scoped_release released;
    StopState* outer = t_stop;  // a stop callback may itself search
    t_stop = &state;
    g_searches.fetch_add(1);
    ok = idutfind::locateSymbols(view.pixels, view.width, view.height, view.stride, settings, found, error, &status);
    g_searches.fetch_sub(1);
    if (state.stopped || state.raised) g_stopping.fetch_sub(1);
    t_stop = outer;
  }
  if (state.raised) {
    PyErr_Restore(state.pendingType.release().ptr(), state.pendingValue.release().ptr(),
                  state.pendingTrace.release().ptr());
    throw py::error_already_set();
  }
  if (state.stopped) throw StatusError{csys_errAttention, "the search was stopped"};
  if (!ok) throw StatusError{status, error};
  py::list symbols;
  for (const idutfind::Symbol& s : found) symbols.append(py::cast(toPython(s)));
  return symbols;
}

}  // namespace

void defineFind(py::module_& m) {
  csys_attention_setCallback(pollStop, nullptr);

  py::class_<Symbol>(m, "Symbol", "One located symbol, as idut-find reports it.")
      .def_readonly("symbology", &Symbol::symbology, "\"DataMatrix\", \"Code128\", \"EAN-13\", ...")
      .def_readonly("corners", &Symbol::corners,
                    "4 x 2 float array of (x, y) pixels, pixel (x, y) covering [x, x+1) x [y, y+1): the "
                    "origin corner, the ends of its two sides, then the opposite corner")
      .def_readonly("score", &Symbol::score)
      .def_readonly("parallelogram", &Symbol::parallelogram)
      .def_readonly("text", &Symbol::text, "the decoded text (str), or None")
      .def_readonly("decode_error", &Symbol::decodeError, "why a reader could not read it, or None")
      .def("__repr__", &symbolRepr);

  m.def("symbologies", &idutfind::symbologyNames, "The names find() accepts, in the order it searches them.");
  m.def("find", &find, py::arg("image"), py::arg("symbologies") = py::none(), py::kw_only(),
        py::arg("step") = py::none(), py::arg("min_size") = py::none(), py::arg("max_size") = py::none(),
        py::arg("modules") = py::none(), py::arg("adaptive") = false, py::arg("low_contrast") = false,
        py::arg("max_symbols") = py::none(), py::arg("decode") = true, py::arg("rectangles") = "standard",
        py::arg("stop") = py::none(),
        R"(Locates (and reads) the symbols of an 8-bit image; returns a list of Symbol.

image        uint8 array (rows, columns), any strides, or (rows, columns, channels) with grey,
             grey + alpha, RGB or RGBA channels, made grey as idut-find reads colour files
symbologies  None (all), a name or comma-separated names, or a sequence of names (symbologies())
step         scan every step-th row (default 2); min_size / max_size: symbol sides in pixels
modules      expected module count N or (N, M); adaptive: adaptive-threshold tracking
low_contrast accept weaker edges; max_symbols: stop after that many; decode: read text
rectangles   "standard" or "long" (the long Data Matrix rectangles, about 20 times slower)
stop         a callable polled during the search; a true result stops it (idut.Error with
             csys_errAttention), an exception it raises ends the search and propagates.
Ctrl-C (KeyboardInterrupt) also stops a search run on the main thread. The interpreter's lock
is released while the search runs.)");
}

}  // namespace idutpy
