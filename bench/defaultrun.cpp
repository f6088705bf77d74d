// idut-defaultrun: what `idut-find photo.jpg` costs when no symbology is named (every road runs),
// against ZXing-C++ reading every format with its default options, over image files.
//
// Three tables, each total the median of --repeat runs:
//  - per image and per megapixel, each library's whole job on one image: reading and decoding
//    the file, then the search (CPU time of the calling thread);
//  - idut's stages: the file decoding, then each road alone over the decoded image with reading
//    off (locating) and on (the difference is what reading the found symbols adds);
//  - wall time of a pool of 1 and of 2 worker threads over the file list, each image on one
//    thread, for both libraries, and the speed-up.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "idut/read.hpp"
#include "imageio/imageio.hpp"
#include "inputs.hpp"

namespace {

double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double wallMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A failure keeps what was found before it: the time spent is what counts here.
size_t idutSearch(const imageio::GreyImage& image, const idut::ReadOptions& options) {
  try {
    return idut::readSymbols(idut::ImageView(image.pixels.data(), image.width, image.height, image.width), options)
        .size();
  } catch (const idut::Error& e) {
    return e.symbols().size();
  }
}

// ZXing's defaults: every format, try-harder, try-rotate (one polarity).
size_t zxingSearch(const imageio::GreyImage& image) {
  const ZXing::DecodeHints hints;
  const ZXing::Results results = ZXing::ReadBarcodes(
      ZXing::ImageView(image.pixels.data(), image.width, image.height, ZXing::ImageFormat::Lum), hints);
  return static_cast<size_t>(std::count_if(results.begin(), results.end(), [](const auto& r) { return r.isValid(); }));
}

// One library's whole job on one file: read and decode it, then search. Returns the symbols
// found (0 for a file that could not be read).
using Job = std::function<size_t(const std::string& file)>;

size_t idutJob(const std::string& file) {
  imageio::GreyImage image;
  std::string error;
  return imageio::readGrey(file, &image, &error) ? idutSearch(image, idut::ReadOptions{}) : 0;
}

size_t zxingJob(const std::string& file) {
  imageio::GreyImage image;
  std::string error;
  return imageio::readGrey(file, &image, &error) ? zxingSearch(image) : 0;
}

// CPU milliseconds of the calling thread for job over every file, and the symbols it found.
double cpuPass(const std::vector<std::string>& files, const Job& job, size_t& symbols) {
  symbols = 0;
  const double start = threadCpuMs();
  for (const std::string& f : files) symbols += job(f);
  return threadCpuMs() - start;
}

// What one pass of a worker pool measured.
struct PoolPass {
  double wallMs = 0;
  double cpuMs = 0;                // the workers' CPU time added up
  std::vector<double> fileCpuMs;   // each file's CPU time, on the thread that took it
  size_t symbols = 0;
};

// `threads` workers taking the files in turn, each file on one thread.
PoolPass poolPass(const std::vector<std::string>& files, const Job& job, int threads) {
  PoolPass pass;
  pass.fileCpuMs.assign(files.size(), 0.0);
  std::atomic<size_t> next{0}, found{0};
  std::vector<double> workerCpu(static_cast<size_t>(threads), 0.0);
  auto worker = [&](size_t w) {
    const double start = threadCpuMs();
    for (size_t i; (i = next++) < files.size();) {
      const double fileStart = threadCpuMs();
      found += job(files[i]);
      pass.fileCpuMs[i] = threadCpuMs() - fileStart;
    }
    workerCpu[w] = threadCpuMs() - start;
  };
  const double start = wallMs();
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back(worker, static_cast<size_t>(t));
  for (auto& t : pool) t.join();
  pass.wallMs = wallMs() - start;
  pass.symbols = found;
  for (double ms : workerCpu) pass.cpuMs += ms;
  return pass;
}

// The speed-up two workers would reach, each on a core of its own, taking the files in turn with
// the CPU times one worker measured: the total over the time the busier worker ends at.
double twoCoreBound(const std::vector<double>& fileCpuMs) {
  double free[2] = {0, 0}, total = 0;
  for (double ms : fileCpuMs) {
    double& first = free[0] <= free[1] ? free[0] : free[1];
    first += ms;
    total += ms;
  }
  const double end = std::max(free[0], free[1]);
  return end > 0 ? total / end : 0;
}

// idut's stages, each a CPU time summed over the images.
struct Stage {
  const char* name;
  const char* measures;
  idut::Symbologies symbologies;
  bool decode;
};

idut::Symbologies oneDSymbologies() {
  idut::Symbologies s = idut::Symbologies::all();
  return s.erase(idut::Symbology::DataMatrix).erase(idut::Symbology::PDF417);
}

struct Settings {
  int repeat = 3;
  bool threads = true;
  std::vector<std::string> paths;
};

bool parse(int argc, char** argv, Settings& s) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--repeat" && i + 1 < argc) {
      s.repeat = std::atoi(argv[++i]);
      if (s.repeat < 1) return false;
    } else if (a == "--no-threads") {
      s.threads = false;
    } else if (a.rfind("--", 0) == 0) {
      return false;
    } else {
      s.paths.push_back(a);
    }
  }
  return !s.paths.empty();
}

void printUsage() {
  std::fputs(
      "usage: idut-defaultrun [--repeat N] [--no-threads] IMAGE|DIRECTORY ...\n"
      "  The default run (every symbology, reading on) of idut against ZXing-C++ (every format,\n"
      "  default options): ms per image and per megapixel including the file's decoding, idut's\n"
      "  stages, and the wall time of 1 and 2 worker threads. Totals are medians of N runs (3).\n",
      stderr);
}

struct Corpus {
  std::vector<std::string> files;
  std::vector<imageio::GreyImage> images;  // decoded once, for the stage runs
  double megapixels = 0;
  // The files ZXing reads without aborting: the packaged version fails an assertion on some
  // images (a 1D result of several lines compared with another), which ends the process.
  std::vector<std::string> zxingFiles;
  double zxingMegapixels = 0;
};

// Whether ZXing's default read of the file ends normally, tried in a child process.
bool zxingSurvives(const std::string& file) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    std::freopen("/dev/null", "w", stderr);  // its assertion message is counted, not shown
    zxingJob(file);
    _exit(0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Corpus load(const std::vector<std::string>& paths) {
  Corpus c;
  for (const std::string& f : idutfind::filesOf(idutfind::collectInputs(paths), "idut-defaultrun")) {
    imageio::GreyImage image;
    std::string error;
    if (!imageio::readGrey(f, &image, &error)) {
      std::fprintf(stderr, "idut-defaultrun: %s\n", error.c_str());
      continue;
    }
    const double megapixels = static_cast<double>(image.width) * image.height / 1e6;
    c.megapixels += megapixels;
    if (zxingSurvives(f)) {
      c.zxingFiles.push_back(f);
      c.zxingMegapixels += megapixels;
    }
    c.files.push_back(f);
    c.images.push_back(std::move(image));
  }
  return c;
}

void perImageTable(const Corpus& c, int repeat) {
  std::vector<double> idutMs, idutCommonMs, zxingMs;
  size_t idutSymbols = 0, idutCommonSymbols = 0, zxingSymbols = 0;
  for (int r = 0; r < repeat; ++r) {  // alternated, so a change of load hits both alike
    idutMs.push_back(cpuPass(c.files, idutJob, idutSymbols));
    idutCommonMs.push_back(cpuPass(c.zxingFiles, idutJob, idutCommonSymbols));
    zxingMs.push_back(cpuPass(c.zxingFiles, zxingJob, zxingSymbols));
  }
  std::printf("\nWhole job per image (read + decode the file, search, read the symbols), CPU time of the thread:\n");
  std::printf("  %-22s %7s %9s %12s %10s %8s\n", "", "images", "ms/image", "ms/megapixel", "total ms", "symbols");
  auto row = [](const char* name, size_t images, double megapixels, double ms, size_t symbols) {
    if (images == 0) return (void)std::printf("  %-22s %7zu\n", name, images);
    std::printf("  %-22s %7zu %9.1f %12.1f %10.0f %8zu\n", name, images, ms / static_cast<double>(images),
                ms / megapixels, ms, symbols);
  };
  row("idut, every image", c.files.size(), c.megapixels, median(idutMs), idutSymbols);
  row("idut, ZXing's images", c.zxingFiles.size(), c.zxingMegapixels, median(idutCommonMs), idutCommonSymbols);
  row("ZXing, its images", c.zxingFiles.size(), c.zxingMegapixels, median(zxingMs), zxingSymbols);
  std::printf("  idut/ZXing time on the same images: %.2f. ZXing aborts (a failed assertion of the packaged\n"
              "  version) on %zu of the images, left out of its rows. Symbols: idut counts every located\n"
              "  symbol, read or not; ZXing its valid (read) results, dark-on-light only (its default).\n",
              median(idutCommonMs) / median(zxingMs), c.files.size() - c.zxingFiles.size());
}

void stageTable(const Corpus& c, int repeat) {
  const Stage stages[] = {
      {"Data Matrix road", "locating (reading off)", {idut::Symbology::DataMatrix}, false},
      {"Data Matrix road", "locating and reading", {idut::Symbology::DataMatrix}, true},
      {"PDF417 road", "locating (reading off)", {idut::Symbology::PDF417}, false},
      {"PDF417 road", "locating and reading", {idut::Symbology::PDF417}, true},
      {"1D road", "lines read, no text kept", oneDSymbologies(), false},
      {"1D road", "lines read, text kept", oneDSymbologies(), true},
  };
  constexpr int kStages = sizeof stages / sizeof stages[0];
  std::vector<std::vector<double>> ms(kStages + 2);  // + file decoding, + every road at once
  for (int r = 0; r < repeat; ++r) {
    double start = threadCpuMs();
    for (const std::string& f : c.files) {
      imageio::GreyImage image;
      std::string error;
      imageio::readGrey(f, &image, &error);
    }
    ms[0].push_back(threadCpuMs() - start);
    for (int s = 0; s < kStages; ++s) {
      idut::ReadOptions options;
      options.symbologies = stages[s].symbologies;
      options.decode = stages[s].decode;
      start = threadCpuMs();
      for (const imageio::GreyImage& image : c.images) idutSearch(image, options);
      ms[s + 1].push_back(threadCpuMs() - start);
    }
    start = threadCpuMs();
    for (const imageio::GreyImage& image : c.images) idutSearch(image, idut::ReadOptions{});
    ms[kStages + 1].push_back(threadCpuMs() - start);
  }
  const double decoding = median(ms[0]), all = median(ms[kStages + 1]), whole = decoding + all;
  const double n = static_cast<double>(c.files.size());
  std::printf("\nidut's stages, CPU ms per image (share of file decoding + the default search = %.1f ms):\n",
              whole / n);
  std::printf("  %-42s %9.1f %6.1f%%\n", "image file reading and decoding", decoding / n, 100 * decoding / whole);
  double partsSum = decoding;
  for (int s = 0; s < kStages; s += 2) {
    const double located = median(ms[s + 1]), read = median(ms[s + 2]);
    partsSum += read;
    std::printf("  %-42s %9.1f %6.1f%%\n", (std::string(stages[s].name) + ", " + stages[s].measures).c_str(),
                located / n, 100 * located / whole);
    std::printf("  %-42s %9.1f %6.1f%%\n", (std::string(stages[s].name) + ", reading adds").c_str(),
                (read - located) / n, 100 * (read - located) / whole);
  }
  std::printf("  %-42s %9.1f %6.1f%%\n", "every road in one call", all / n, 100 * all / whole);
  std::printf("  Each road runs alone over the decoded images; \"reading adds\" is that road with reading on\n"
              "  minus reading off (a road may search differently when it reads: the PDF417 road reads to\n"
              "  confirm; the 1D road reads its lines in either case, so its difference is only the\n"
              "  text). Decoding + the roads alone (reading on) = %.1f ms per image vs %.1f for the\n"
              "  default run: the difference is the front door's own work and timing noise.\n",
              partsSum / n, whole / n);
}

void threadTable(const Corpus& c, int repeat) {
  struct Lib {
    const char* name;
    Job job;
    const std::vector<std::string>& files;
  } libs[] = {{"idut", idutJob, c.files}, {"ZXing", zxingJob, c.zxingFiles}};
  std::printf("\nWall time over the file list, a pool of 1 and of 2 worker threads (each image on one thread):\n");
  std::printf("  %-8s %7s %10s %10s %9s %12s %13s %9s\n", "", "images", "1 thread", "2 threads", "speed-up",
              "CPU 1 thread", "CPU 2 threads", "2 cores");
  for (const Lib& lib : libs) {
    std::vector<double> one, two, cpuOne, cpuTwo, bound;
    bool sameSymbols = true;
    for (int r = 0; r < repeat; ++r) {
      const PoolPass single = poolPass(lib.files, lib.job, 1);
      const PoolPass pair = poolPass(lib.files, lib.job, 2);
      one.push_back(single.wallMs);
      cpuOne.push_back(single.cpuMs);
      bound.push_back(twoCoreBound(single.fileCpuMs));
      two.push_back(pair.wallMs);
      cpuTwo.push_back(pair.cpuMs);
      sameSymbols = sameSymbols && single.symbols == pair.symbols;
    }
    std::printf("  %-8s %7zu %8.0fms %8.0fms %8.2fx %10.0fms %11.0fms %8.2fx%s\n", lib.name, lib.files.size(),
                median(one), median(two), median(one) / median(two), median(cpuOne), median(cpuTwo), median(bound),
                sameSymbols ? "" : "  (the two pools found different symbol counts!)");
  }
  std::printf("  Wall time counts whatever else the machine runs (see the load averages below). The CPU\n"
              "  columns add up the workers' own CPU time: equal, the work divides without the threads\n"
              "  slowing each other, and a wall speed-up short of that is the machine's other load; larger\n"
              "  with 2 threads, they contend (shared caches, memory bandwidth, locks). \"2 cores\" is the\n"
              "  speed-up two idle cores would give, from the files' CPU times on one thread, taken in turn:\n"
              "  what the order of the files and the longest ones leave of 2x, not a measurement.\n");
}

void printLoad(const char* when) {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) == 3) std::printf("Load averages %s: %.2f %.2f %.2f (%u cores)\n", when, load[0], load[1],
                                            load[2], std::thread::hardware_concurrency());
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!parse(argc, argv, settings)) {
    printUsage();
    return 64;
  }
  const Corpus corpus = load(settings.paths);
  if (corpus.files.empty()) {
    std::fputs("idut-defaultrun: no image could be read\n", stderr);
    return 2;
  }
  std::printf("%zu images, %.1f megapixels; medians of %d runs\n", corpus.files.size(), corpus.megapixels,
              settings.repeat);
  printLoad("before");
  perImageTable(corpus, settings.repeat);
  stageTable(corpus, settings.repeat);
  if (settings.threads) threadTable(corpus, settings.repeat);
  printLoad("after");
  return 0;
}
