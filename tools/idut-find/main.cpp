// idut-find: locates and reads the symbols of image files with the idut library.
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
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

constexpr int kExitFound = 0, kExitNothing = 1, kExitUnreadable = 2, kExitFailed = 3, kExitUsage = 64;
constexpr const char* kSampleName = "(built-in sample)";

// Where the overlay of one input goes: the named file for a single input, else a file named
// after the input inside the named directory.
std::string overlayPath(const Options& options, const std::string& input, bool single) {
  if (single && !fs::is_directory(options.overlay)) return options.overlay;
  std::string stem = fs::path(input).stem().string();
  if (stem.empty() || input == kSampleName) stem = "sample";
  return (fs::path(options.overlay) / (stem + ".overlay.png")).string();
}

bool endsWith(const std::string& text, const char* tail) {
  const size_t n = std::strlen(tail);
  return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

void failed(ImageResult& r, Failure failure, const char* status, std::string message) {
  if (r.failure != Failure::none) {  // the first failure names the status; the others add to the message
    r.error += "; " + message;
    return;
  }
  r.failure = failure;
  r.status = status;
  r.error = std::move(message);
}

void searchAndDraw(const Input& input, const Options& options, bool singleInput, ImageResult& result) {
  const std::string& file = input.path;
  imageio::GreyImage image;
  std::string error;
  const bool read = file == kSampleName ? imageio::decodeGrey(sampleImageBytes(), sampleImageSize(), file, &image, &error)
                                        : imageio::readGrey(file, &image, &error);
  if (!read) {
    failed(result, Failure::unreadable, endsWith(error, ": out of memory") ? "csys_errNoMemory" : "unreadable", error);
    return;
  }
  result.readOk = true;
  result.width = image.width;
  result.height = image.height;
  idut::ReadReport report;
  try {
    result.symbols = idut::readSymbols(idut::ImageView(image.pixels.data(), image.width, image.height, image.width),
                                       options.read, report);
  } catch (const idut::Error& e) {
    result.symbols = e.symbols();
    failed(result, Failure::search, e.statusName(), file + ": " + e.what());
  }
  result.truncated = report.truncated;
  result.truncatedReason = report.reason;
  if (options.overlay.empty()) return;
  const std::vector<uint8_t> rgb = drawOverlay(image.pixels.data(), image.width, image.height, image.width, result.symbols);
  if (!imageio::writePngRgb(overlayPath(options, file, singleInput), image.width, image.height, rgb, &error))
    failed(result, Failure::output, "not_written", error);
}

// Never throws: whatever fails, the input gets its result.
ImageResult processOne(const Input& input, const Options& options, bool singleInput) noexcept {
  ImageResult result;
  result.file = input.path;
  const auto start = std::chrono::steady_clock::now();
  try {
    if (!input.problem.empty())
      failed(result, Failure::unreadable, "unreadable", input.path + ": " + input.problem);
    else
      searchAndDraw(input, options, singleInput, result);
  } catch (const std::bad_alloc&) {
    // Short strings fit their own buffers: saying so needs no memory.
    if (result.failure == Failure::none) result.failure = result.readOk ? Failure::search : Failure::unreadable;
    result.status = "csys_errNoMemory";
    result.error = "out of memory";
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

  int exitStatus() const {
    if (failed_) return kExitFailed;
    if (unreadable_) return kExitUnreadable;
    return symbols_ > 0 ? kExitFound : kExitNothing;
  }

 private:
  void emit(ImageResult& r) {
    // Messages already name the file.
    if (r.failure != Failure::none) printNotice(stderr, {r.error});
    if (r.truncated && !options_.json) printNotice(stderr, {r.file, ": search cut short: ", r.truncatedReason});
    unreadable_ = unreadable_ || r.failure == Failure::unreadable;
    failed_ = failed_ || r.failure == Failure::search || r.failure == Failure::output;
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
  bool failed_ = false;
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


int run(const Options& options) {
  InputList inputs;
  if (options.inputs.empty())
    inputs.items.push_back({kSampleName, ""});
  else
    inputs = collectInputs(options.inputs);

  const size_t count = inputs.items.size();
  const bool singleInput = count == 1;
  if (!options.overlay.empty() && !singleInput) {
    std::error_code ec;
    fs::create_directories(options.overlay, ec);
    if (ec) {
      printNotice(stderr, {options.overlay, ": cannot create overlay directory: ", ec.message()});
      return kExitUsage;
    }
  }

  OrderedPrinter printer(options, count);
  ProgressBar progress(options.progress, count);
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i; (i = next++) < count;) {
      printer.deliver(i, processOne(inputs.items[i], options, singleInput));
      progress.step();
    }
  };
  // As many workers as can be started: a thread that cannot be had (no memory for its stack)
  // leaves its share to the others.
  const int jobs = std::max(1, std::min<int>(options.jobs, static_cast<int>(count)));
  std::vector<std::thread> threads;
  for (int t = 1; t < jobs; ++t) {
    try {
      threads.emplace_back(worker);
    } catch (const std::exception&) {
      break;
    }
  }
  worker();
  for (auto& t : threads) t.join();
  return printer.exitStatus();
}

}  // namespace

int main(int argc, char** argv) {
  // Under an address-space limit, glibc's malloc would try to reserve a fresh 64 MB arena for
  // each worker thread again and again, every failed attempt a system call: a batch under
  // "ulimit -v" spent most of its time there. One arena for all threads instead.
  struct rlimit space;
  if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) mallopt(M_ARENA_MAX, 1);
  try {
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
      printNotice(stderr, {error});
      std::fputs(usageText(), stderr);
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
    return run(options);
  } catch (const std::bad_alloc&) {
    // Before any input had its line (the inputs could not even be listed).
    printNotice(stderr, {"out of memory"});
    return kExitFailed;
  }
}
