// What the Python module adds to a search: idut.find on a 1280 x 1024 numpy array against the
// same search called from C on the same pixels, in one process (the interpreter is embedded
// and imports the module from the build tree).
//
// The scene is the sample scene tiled 2 x 2 (twelve Data Matrix symbols) on white. The C run
// comes first, before the module is imported and installs its stop check, as a C caller runs.
// On a shared machine the two runs' times differ by more than the overhead, so a third
// benchmark alternates the two calls and compares this thread's CPU time (the search runs on
// its caller's thread); there the C calls see the module's stop check installed, which returns
// at its first load while no find() runs.
#include <benchmark/benchmark.h>
#include <pybind11/embed.h>
#include <pybind11/numpy.h>

#include <cstring>
#include <vector>

#include "compare.hpp"
#include "imageio/imageio.hpp"
#include "idut/read.hpp"

namespace py = pybind11;

namespace {

constexpr int kWidth = 1280, kHeight = 1024;

const std::vector<uint8_t>& scene() {
  static const std::vector<uint8_t> pixels = [] {
    std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight, 255);
    imageio::GreyImage sample;
    std::string error;
    if (!imageio::readGrey(IDUT_SAMPLE_PHOTO, &sample, &error)) return out;
    for (int ty = 0; ty < 2; ++ty)
      for (int tx = 0; tx < 2; ++tx)
        for (int y = 0; y < sample.height && ty * sample.height + y < kHeight; ++y)
          std::memcpy(&out[static_cast<size_t>(ty * sample.height + y) * kWidth + tx * sample.width],
                      &sample.pixels[static_cast<size_t>(y) * sample.width], static_cast<size_t>(sample.width));
    return out;
  }();
  return pixels;
}

void BM_FindFromC(benchmark::State& state) {
  const std::vector<uint8_t>& pixels = scene();
  const idut::ReadOptions settings;
  size_t found = 0;
  for (auto _ : state) {
    const std::vector<idut::Symbol> symbols = idut::readSymbols(idut::ImageView(pixels.data(), kWidth, kHeight, kWidth), settings);
    found = symbols.size();
    benchmark::DoNotOptimize(symbols.data());
  }
  state.counters["symbols"] = static_cast<double>(found);
}
BENCHMARK(BM_FindFromC)->Unit(benchmark::kMillisecond)->MinTime(3);

// idut.find from the embedded interpreter (started once, living to the end of the process).
py::object moduleFind() {
  static py::scoped_interpreter* interpreter = new py::scoped_interpreter();
  (void)interpreter;
  py::module_::import("sys").attr("path").attr("insert")(0, IDUT_PYTHON_DIR);
  return py::module_::import("idut").attr("find");
}

py::array_t<uint8_t> sceneArray() {
  const std::vector<uint8_t>& pixels = scene();
  py::array_t<uint8_t> image({kHeight, kWidth});
  std::memcpy(image.mutable_data(), pixels.data(), pixels.size());
  return image;
}

void BM_FindFromPython(benchmark::State& state) {
  const py::object find = moduleFind();
  const py::array_t<uint8_t> image = sceneArray();
  size_t found = 0;
  for (auto _ : state) {
    const py::list symbols = find(image);
    found = symbols.size();
  }
  state.counters["symbols"] = static_cast<double>(found);
}
BENCHMARK(BM_FindFromPython)->Unit(benchmark::kMillisecond)->MinTime(3);

// ratio: Python's thread CPU time over C's, the two calls alternating.
void BM_PythonOverC(benchmark::State& state) {
  const py::object find = moduleFind();
  const py::array_t<uint8_t> image = sceneArray();
  const std::vector<uint8_t>& pixels = scene();
  const idut::ReadOptions settings;
  size_t fromPython = 0, fromC = 0;
  bench::compareCpu(
      state, 1, [&] { fromPython = py::list(find(image)).size(); },
      [&] {
        fromC = idut::readSymbols(idut::ImageView(pixels.data(), kWidth, kHeight, kWidth), settings).size();
      });
  if (fromPython != fromC) state.SkipWithError("the two searches found different symbols");
}
BENCHMARK(BM_PythonOverC)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(10);

}  // namespace
