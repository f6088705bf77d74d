// Command-line options of idut-find.
#ifndef IDUT_FIND_OPTIONS_HPP
#define IDUT_FIND_OPTIONS_HPP

#include <string>
#include <vector>

namespace idutfind {

struct LocateSettings {
  int rowStep = 2;          // scan every rowStep-th row (and column, when columns are scanned)
  int minSide = 0;          // smallest symbol side in pixels; 0 = the library's default
  int maxSide = 0;          // largest symbol side in pixels; 0 = the library's default
  int modulesA = 0;         // expected module count (rows, or both when square); 0 = unknown
  int modulesB = 0;         // expected module count along the other side
  bool adaptive = false;    // adaptive-threshold tracker instead of the seed's mean
  bool lowContrast = false; // accept weaker edges as seeds
  int maxSymbols = 0;       // stop an image after this many symbols; 0 = no limit
  // Symbologies to look for, by the names symbologyNames() lists; empty = all of them.
  std::vector<std::string> symbologies;
  bool decode = true;       // turn located symbols into text where a reader exists
  bool longRectangles = false; // accept the long (up to 18:1) Data Matrix rectangles

  // True when the symbology (a name of symbologyNames()) is selected.
  bool wants(const std::string& symbology) const;
};

// Every symbology name that --symbology accepts, in the order the tool searches them.
const std::vector<std::string>& symbologyNames();

struct Options {
  LocateSettings locate;
  bool json = false;
  bool progress = true;     // progress bar on stderr when it is a terminal
  int jobs = 1;
  std::string overlay;      // file (one input) or directory
  std::vector<std::string> inputs;
  bool showHelp = false;
  bool showVersion = false;
};

// Parses argv. On a usage error returns false and sets error to a one-line message.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);

const char* usageText();

}  // namespace idutfind

#endif
