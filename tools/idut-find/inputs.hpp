// Turning the command line's paths into the list of inputs to process.
#ifndef IDUT_FIND_INPUTS_HPP
#define IDUT_FIND_INPUTS_HPP

#include <string>
#include <vector>

namespace idutfind {

// One input: a file to read, or a path that yields no file, with the reason.
struct Input {
  std::string path;
  std::string problem;  // empty for a file to read; else why the path gives nothing
};

struct InputList {
  std::vector<Input> items;  // in command-line order; a directory's contents sorted by path
};

// Paths named on the command line are taken whatever their extension (the reader decides by
// content, and refuses what is not a regular file). Directories are walked recursively,
// following symbolic links to directories (each directory once, so a link cycle ends), and
// contribute the entries whose extension is one of png, jpg, jpeg, pgm, ppm, pnm, webp (any
// case). Problems are inputs of their own, in order: a path that does not exist, a directory
// (or subdirectory) that cannot be read, a directory without such files.
InputList collectInputs(const std::vector<std::string>& paths);

bool hasImageExtension(const std::string& path);

// The files to read, in order; each problem is written to stderr as "who: path: problem".
std::vector<std::string> filesOf(const InputList& inputs, const char* who);

}  // namespace idutfind

#endif
