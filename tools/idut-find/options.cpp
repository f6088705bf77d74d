// Command-line parsing: long options with values either as "--name value" or "--name=value".
#include "options.hpp"

#include <cctype>
#include <charconv>
#include <cstring>
#include <optional>

namespace idutfind {

namespace {

bool parseInt(const std::string& text, int lo, int hi, int& out) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || p != end || value < lo || value > hi) return false;
  out = value;
  return true;
}

// "N" or "NxM" module counts.
bool parseModules(const std::string& text, int& a, int& b) {
  const size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return parseInt(text, 8, 144, a) && (b = a, true);
  return parseInt(text.substr(0, x), 8, 144, a) && parseInt(text.substr(x + 1), 8, 144, b);
}

}  // namespace

namespace {

// "a,b,c": every name a symbology's option or reported name (case-insensitive).
bool parseSymbologies(const std::string& text, idut::Symbologies& out, std::string& bad) {
  out = idut::Symbologies();
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find(',', begin);
    if (end == std::string::npos) end = text.size();
    const std::string name = text.substr(begin, end - begin);
    const std::optional<idut::Symbology> symbology = idut::parseSymbology(name);
    if (!symbology) {
      bad = name;
      return false;
    }
    out.insert(*symbology);
    begin = end + 1;
  }
  return true;
}

}  // namespace

const char* usageText() {
  return "usage: idut-find [options] [IMAGE|DIRECTORY ...]\n"
         "\n"
         "Locates Data Matrix and PDF417 symbols and reads 1D barcodes in images (PNG, JPEG,\n"
         "PGM/PPM, WebP; colour is read as grey)\n"
         "and prints one line per symbol: file, symbology, the four corners in pixels (origin\n"
         "corner first, then the ends of its two sides, then the opposite corner; pixel (x, y)\n"
         "covers [x, x+1) x [y, y+1)), score and the parallelogram flag. Directories are walked\n"
         "recursively. Without an IMAGE it runs on its built-in sample scene.\n"
         "\n"
         "options:\n"
         "  --json               one JSON object per image instead of text lines\n"
         "  --overlay PATH       write a PNG with every located symbol outlined and its origin\n"
         "                       corner marked; PATH is a file for one input, else a directory\n"
         "  -s, --step N         scan every N-th row (default 2)\n"
         "      --min-size PX    smallest symbol side in pixels\n"
         "      --max-size PX    largest symbol side in pixels\n"
         "  -m, --modules N[xM]  expected module count (N for square symbols, NxM rectangular)\n"
         "      --adaptive       adaptive-threshold boundary tracking (reports the symbol's L,\n"
         "                       completed to a parallelogram; score 0)\n"
         "      --no-adaptive    tracking at the seed's mean grey level (default)\n"
         "      --low-contrast   accept weaker edges as seeds\n"
         "  -n, --max-symbols N  stop each image after N symbols\n"
         "      --symbology LIST comma-separated symbologies to look for (default: all):\n"
         "                       datamatrix, pdf417, code128, ean13, upca, ean8, code39, itf,\n"
         "                       upce, code93, codabar, code32, pzn\n"
         "      --no-decode      locate only; do not turn symbols into text\n"
         "      --rectangles long|standard\n"
         "                       standard (default) finds the long Data Matrix rectangles\n"
         "                       (8x48 to 8x144) round the long outlines its scan leaves;\n"
         "                       long also searches the whole image turned sixteen ways\n"
         "                       (about 40 times slower)\n"
         "  -j, --jobs N         process N files in parallel (default 1)\n"
         "      --no-progress    no progress bar on stderr\n"
         "  -h, --help           this text\n"
         "  -V, --version        the program's and the library's version\n"
         "\n"
         "exit status: 0 at least one symbol located and every input read; 1 every input read\n"
         "but no symbol located; 2 an input could not be read (the others were still\n"
         "processed); 64 a usage error.\n";
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
  bool endOfOptions = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
      options.inputs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      endOfOptions = true;
      continue;
    }
    std::string value;
    bool hasInlineValue = false;
    if (arg.rfind("--", 0) == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
        hasInlineValue = true;
      }
    }
    auto takeValue = [&](std::string& out) {
      if (hasInlineValue) {
        out = value;
        return true;
      }
      if (i + 1 >= argc) {
        error = "option " + arg + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    auto intValue = [&](int lo, int hi, int& out) {
      std::string text;
      if (!takeValue(text)) return false;
      if (!parseInt(text, lo, hi, out)) {
        error = "option " + arg + ": '" + text + "' is not a number from " + std::to_string(lo) + " to " +
                std::to_string(hi);
        return false;
      }
      return true;
    };
    auto noValue = [&]() {
      if (hasInlineValue) error = "option " + arg + " takes no value";
      return !hasInlineValue;
    };

    idut::ReadOptions& l = options.read;
    if (arg == "--json") {
      if (!noValue()) return false;
      options.json = true;
    } else if (arg == "--overlay") {
      if (!takeValue(options.overlay)) return false;
    } else if (arg == "-s" || arg == "--step") {
      if (!intValue(1, 64, l.step)) return false;
    } else if (arg == "--min-size") {
      if (!intValue(4, 100000, l.minSize)) return false;
    } else if (arg == "--max-size") {
      if (!intValue(4, 100000, l.maxSize)) return false;
    } else if (arg == "-m" || arg == "--modules") {
      std::string text;
      if (!takeValue(text)) return false;
      if (!parseModules(text, l.modulesA, l.modulesB)) {
        error = "option " + arg + ": '" + text + "' is not N or NxM with N, M from 8 to 144";
        return false;
      }
    } else if (arg == "--adaptive" || arg == "--no-adaptive") {
      if (!noValue()) return false;
      l.adaptive = arg == "--adaptive";
    } else if (arg == "--low-contrast") {
      if (!noValue()) return false;
      l.lowContrast = true;
    } else if (arg == "-n" || arg == "--max-symbols") {
      if (!intValue(1, 1000000, l.maxSymbols)) return false;
    } else if (arg == "--symbology") {
      std::string text, bad;
      if (!takeValue(text)) return false;
      if (!parseSymbologies(text, l.symbologies, bad)) {
        error = "option --symbology: unknown symbology '" + bad + "'";
        return false;
      }
    } else if (arg == "--no-decode") {
      if (!noValue()) return false;
      l.decode = false;
    } else if (arg == "--rectangles") {
      std::string text;
      if (!takeValue(text)) return false;
      if (text != "long" && text != "standard") {
        error = "option --rectangles: '" + text + "' is neither long nor standard";
        return false;
      }
      l.longRectangles = text == "long";
    } else if (arg == "-j" || arg == "--jobs") {
      if (!intValue(1, 256, options.jobs)) return false;
    } else if (arg == "--no-progress") {
      if (!noValue()) return false;
      options.progress = false;
    } else if (arg == "-h" || arg == "--help") {
      options.showHelp = true;
    } else if (arg == "-V" || arg == "--version") {
      options.showVersion = true;
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  if (options.read.minSize && options.read.maxSize && options.read.minSize > options.read.maxSize) {
    error = "--min-size is larger than --max-size";
    return false;
  }
  return true;
}

}  // namespace idutfind
