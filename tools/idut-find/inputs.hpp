// Turning the command line's paths into the list of image files to process.
#ifndef IDUT_FIND_INPUTS_HPP
#define IDUT_FIND_INPUTS_HPP

#include <string>
#include <vector>

namespace idutfind {

struct InputList {
  std::vector<std::string> files;     // in command-line order; directory contents sorted
  std::vector<std::string> problems;  // "PATH: reason" for paths that yield nothing
};

// Files named on the command line are taken whatever their extension (the reader decides by
// content); directories are walked recursively and contribute the files whose extension is one
// of png, jpg, jpeg, pgm, ppm, pnm, webp (any case). A directory without such files, or a path
// that does not exist, is a problem.
InputList collectInputs(const std::vector<std::string>& paths);

bool hasImageExtension(const std::string& path);

}  // namespace idutfind

#endif
