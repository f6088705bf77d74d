// The front door: checks what the caller hands in, then runs the roads of the symbologies asked
// for over the image, each road locating and reading its symbols.
#include <cstdio>
#include <string>

#include "base/cimg.h"
#include "idut/read.hpp"
#include "reader/datamatrix/dmsymbols.hpp"
#include "reader/frontpass.hpp"
#include "reader/oned/onedsymbols.hpp"
#include "reader/pdf417/pdfsymbols.hpp"
#include "reader/roadrun.hpp"
#include "reader/stop.hpp"

namespace idut {

namespace {

[[noreturn]] void badArgument(const std::string& message) { throw Error(csys_errBadArgument, message); }

void checkRange(const char* name, int value, int lo, int hi, bool zeroAllowed) {
  if ((value == 0 && zeroAllowed) || (value >= lo && value <= hi)) return;
  badArgument(std::string(name) + " is " + std::to_string(value) + ", not " + (zeroAllowed ? "0 or " : "") +
              "from " + std::to_string(lo) + " to " + std::to_string(hi));
}

void checkImage(const ImageView& image) {
  if (image.pixels == nullptr) badArgument("the image has no pixels (null pointer)");
  if (image.width < 1 || image.height < 1)
    badArgument("the image is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                " pixels; both must be at least 1");
  if (image.stride < image.width)
    badArgument("the image's stride " + std::to_string(image.stride) + " is smaller than its width " +
                std::to_string(image.width));
}

// The roads in the order they run; a new road adds one row.
struct Road {
  const char* name;
  Symbologies symbologies;
  idutread::RoadRun run;
};

const Road kRoads[] = {
    {"Data Matrix", {Symbology::DataMatrix}, dmroad::readSymbols},
    {"PDF417", {Symbology::PDF417}, pdfroad::readSymbols},
    {"1D",
     {Symbology::Code128, Symbology::EAN13, Symbology::UPCA, Symbology::EAN8, Symbology::Code39, Symbology::ITF,
      Symbology::UPCE, Symbology::Code93, Symbology::Codabar, Symbology::DataBar, Symbology::DataBarExpanded,
      Symbology::Code32, Symbology::PZN},
     road1d::readSymbols},
};

std::string failureText(const char* road, csys_status status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(status));
  return std::string("the ") + road + " search failed: " + statusName(status) + " (" + code + ")";
}

}  // namespace

void validate(const ReadOptions& options) {
  if (options.symbologies.empty()) badArgument("no symbology is selected");
  if ((options.symbologies.mask() & ~Symbologies::all().mask()) != 0)
    badArgument("the symbology set holds an unknown symbology (mask " +
                std::to_string(options.symbologies.mask() & ~Symbologies::all().mask()) + ")");
  checkRange("step", options.step, 1, 64, false);
  checkRange("minSize", options.minSize, 4, 100000, true);
  checkRange("maxSize", options.maxSize, 4, 100000, true);
  if (options.minSize && options.maxSize && options.minSize > options.maxSize)
    badArgument("minSize " + std::to_string(options.minSize) + " is larger than maxSize " +
                std::to_string(options.maxSize));
  checkRange("modulesA", options.modulesA, 8, 144, true);
  checkRange("modulesB", options.modulesB, 8, 144, true);
  if (options.modulesB && !options.modulesA) badArgument("modulesB is set without modulesA");
  checkRange("maxSymbols", options.maxSymbols, 0, 1 << 30, true);
}

namespace {

std::vector<Symbol> readAll(const ImageView& image, const ReadOptions& options, ReadReport& report) {
  checkImage(image);
  validate(options);
  cimg_imageConst wrapped;
  csys_status status = cimg_imageConst_constructWrap(&wrapped, image.pixels, image.width, image.height, image.stride);
  if (CSYS_FAILED(status)) throw Error(status, failureText("image", status));

  std::vector<Symbol> found;
  csys_status failure = 0;
  std::string message;
  idutread::StopScope stop(options.stop);
  idutread::FrontPass front(wrapped);
  for (const Road& road : kRoads) {
    if ((road.symbologies.mask() & options.symbologies.mask()) == 0) continue;
    // A road stops at the symbols still allowed: having found them all, it was cut short, and so
    // are the roads after it, which do not run.
    int limit = 0;
    if (options.maxSymbols > 0) {
      limit = options.maxSymbols - static_cast<int>(found.size());
      if (limit <= 0) {
        report.truncated = true;
        break;
      }
    }
    const size_t before = found.size();
    // A failing road keeps what it found before the failure; the other roads still run.
    try {
      status = road.run(front, options, limit, found);
    } catch (const std::bad_alloc&) {
      status = csys_errNoMemory;
    }
    if (limit > 0 && found.size() - before >= static_cast<size_t>(limit)) report.truncated = true;
    if (CSYS_FAILED(status) && !CSYS_FAILED(failure)) {
      failure = status;
      message = failureText(road.name, status);
    }
  }
  cimg_imageConst_destruct(&wrapped);
  if (report.truncated)
    report.reason = "maxSymbols (" + std::to_string(options.maxSymbols) +
                    ") reached: the search stopped there, and the image may hold more";
  if (stop.exception()) std::rethrow_exception(stop.exception());
  if (stop.stopped()) throw Error(csys_errAttention, "the search was stopped", std::move(found));
  if (CSYS_FAILED(failure)) throw Error(failure, message, std::move(found));
  return found;
}

}  // namespace

std::vector<Symbol> readSymbols(const ImageView& image, const ReadOptions& options, ReadReport& report) {
  report = ReadReport{};
  // The roads' own allocations fail into their road's status; one that fails around them
  // (saying what failed, say) is the same failure, and leaves as an Error like the others.
  try {
    return readAll(image, options, report);
  } catch (const std::bad_alloc&) {
    throw Error(csys_errNoMemory, "out of memory");
  }
}

std::vector<Symbol> readSymbols(const ImageView& image, const ReadOptions& options) {
  ReadReport report;
  return readSymbols(image, options, report);
}

}  // namespace idut
