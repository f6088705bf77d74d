// Command-line options of idut-find.
#ifndef IDUT_FIND_OPTIONS_HPP
#define IDUT_FIND_OPTIONS_HPP

#include <string>
#include <vector>

#include "idut/read.hpp"

namespace idutfind {

struct Options {
  idut::ReadOptions read;
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
