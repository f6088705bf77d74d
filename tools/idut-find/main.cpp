// idut-find: locates Data Matrix symbols in image files with the idut library.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "ci_id/version.h"
#include "imageio/imageio.hpp"
#include "inputs.hpp"
#include "options.hpp"
#include "overlay.hpp"
#include "result.hpp"
#include "sample_image.hpp"

namespace fs = std::filesystem;
using namespace idutfind;

namespace {

constexpr int kExitFound = 0, kExitNothing = 1, kExitUnreadable = 2, kExitUsage = 64;
constexpr const char* kSampleName = "(built-in sample)";

// Where the overlay of one input goes: the named file for a single input, else a file named
// after the input inside the named directory.
std::string overlayPath(const Options& options, const std::string& input, bool single) {
  if (single && !fs::is_directory(options.overlay)) return options.overlay;
  std::string stem = fs::path(input).stem().string();
  if (stem.empty() || input == kSampleName) stem = "sample";
  return (fs::path(options.overlay) / (stem + ".overlay.png")).string();
}

ImageResult processOne(const std::string& file, const Options& options, bool singleInput) {
  ImageResult result;
  result.file = file;
  const auto start = std::chrono::steady_clock::now();
  imageio::GreyImage image;
  std::string error;
  const bool read = file == kSampleName ? imageio::decodeGrey(sampleImageBytes(), sampleImageSize(), file, &image, &error)
                                        : imageio::readGrey(file, &image, &error);
  if (!read) {
    result.error = error;
    return result;
  }
  result.readOk = true;
  result.width = image.width;
  result.height = image.height;
  try {
    result.symbols = idut::readSymbols(idut::ImageView(image.pixels.data(), image.width, image.height, image.width),
                                       options.read);
  } catch (const idut::Error& e) {
    result.symbols = e.symbols();
    result.error = file + ": " + e.what();
  }
  if (!options.overlay.empty()) {
    const std::vector<uint8_t> rgb =
        drawOverlay(image.pixels.data(), image.width, image.height, image.width, result.symbols);
    const std::string path = overlayPath(options, file, singleInput);
    if (!imageio::writePngRgb(path, image.width, image.height, rgb, &error))
      result.error = result.error.empty() ? error : result.error + "; " + error;
  }
  result.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return result;
}

// Prints results strictly in input order while workers finish in any order.
class OrderedPrinter {
 public:
  OrderedPrinter(const Options& options, size_t count) : options_(options), done_(count), results_(count) {}

  void deliver(size_t index, ImageResult result) {
    std::lock_guard<std::mutex> lock(mutex_);
    results_[index] = std::move(result);
    done_[index] = true;
    while (next_ < results_.size() && done_[next_]) emit(results_[next_++]);
  }

  bool anyUnreadable() const { return unreadable_; }
  size_t symbolCount() const { return symbols_; }

 private:
  void emit(ImageResult& r) {
    // Messages already name the file.
    if (!r.error.empty()) std::fprintf(stderr, "idut-find: %s\n", r.error.c_str());
    if (!r.readOk) unreadable_ = true;
    symbols_ += r.symbols.size();
    if (options_.json)
      printJson(stdout, r);
    else
      printText(stdout, r);
    std::fflush(stdout);
    r = ImageResult();  // release the memory of printed results
  }

  const Options& options_;
  std::mutex mutex_;
  std::vector<bool> done_;
  std::vector<ImageResult> results_;
  size_t next_ = 0;
  bool unreadable_ = false;
  size_t symbols_ = 0;
};

class ProgressBar {
 public:
  ProgressBar(bool enabled, size_t total) : enabled_(enabled && total > 1 && isatty(STDERR_FILENO)), total_(total) {}
  void step() {
    if (!enabled_) return;
    const size_t done = ++done_;
    std::lock_guard<std::mutex> lock(mutex_);
    const int width = 30, filled = static_cast<int>(width * done / total_);
    std::fprintf(stderr, "\r[%.*s%*s] %zu/%zu", filled, "##############################", width - filled, "", done,
                 total_);
    if (done == total_) std::fputc('\n', stderr);
    std::fflush(stderr);
  }

 private:
  bool enabled_;
  size_t total_;
  std::atomic<size_t> done_{0};
  std::mutex mutex_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "idut-find: %s\n%s", error.c_str(), usageText());
    return kExitUsage;
  }
  if (options.showHelp) {
    std::fputs(usageText(), stdout);
    return 0;
  }
  if (options.showVersion) {
    std::printf("idut-find %s (libidut %s)\n", IDUT_FIND_VERSION, cidut_getVersion());
    return 0;
  }

  InputList inputs;
  if (options.inputs.empty())
    inputs.files.push_back(kSampleName);
  else
    inputs = collectInputs(options.inputs);
  for (const std::string& problem : inputs.problems) std::fprintf(stderr, "idut-find: %s\n", problem.c_str());

  const bool singleInput = inputs.files.size() == 1;
  if (!options.overlay.empty() && !singleInput) {
    std::error_code ec;
    fs::create_directories(options.overlay, ec);
    if (ec) {
      std::fprintf(stderr, "idut-find: %s: cannot create overlay directory: %s\n", options.overlay.c_str(),
                   ec.message().c_str());
      return kExitUsage;
    }
  }

  OrderedPrinter printer(options, inputs.files.size());
  ProgressBar progress(options.progress, inputs.files.size());
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i; (i = next++) < inputs.files.size();) {
      printer.deliver(i, processOne(inputs.files[i], options, singleInput));
      progress.step();
    }
  };
  const int jobs = std::max(1, std::min<int>(options.jobs, static_cast<int>(inputs.files.size())));
  std::vector<std::thread> threads;
  for (int t = 1; t < jobs; ++t) threads.emplace_back(worker);
  worker();
  for (auto& t : threads) t.join();

  if (printer.anyUnreadable() || !inputs.problems.empty()) return kExitUnreadable;
  return printer.symbolCount() > 0 ? kExitFound : kExitNothing;
}
