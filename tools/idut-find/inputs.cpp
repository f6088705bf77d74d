// Input collection: explicit paths as given, directories walked in sorted order.
#include "inputs.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace idutfind {

bool hasImageExtension(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".pgm" || ext == ".ppm" || ext == ".pnm" ||
         ext == ".webp";
}

namespace {

using DirectoryId = std::pair<dev_t, ino_t>;

// Walks one directory (a link to one included), adding its image files and its problems;
// visited holds the directories entered so far, so that a link back up the tree is not followed
// round again.
void walk(const std::string& dir, std::set<DirectoryId>& visited, std::vector<Input>& found) {
  struct stat info;
  if (::stat(dir.c_str(), &info) != 0) {
    found.push_back({dir, std::string("cannot read directory (") + std::strerror(errno) + ")"});
    return;
  }
  if (!visited.insert({info.st_dev, info.st_ino}).second) return;
  std::error_code ec;
  fs::directory_iterator it(dir, ec), end;
  if (ec) {
    found.push_back({dir, "cannot read directory (" + ec.message() + ")"});
    return;
  }
  for (; it != end; it.increment(ec)) {
    const std::string path = it->path().string();
    std::error_code statusEc;
    const fs::file_status status = it->status(statusEc);  // a link's target
    if (!statusEc && fs::is_directory(status)) {
      walk(path, visited, found);
    } else if (hasImageExtension(path)) {
      // Whatever it is (a regular file, a broken link, a FIFO), the reader says what it makes of it.
      found.push_back({path, ""});
    }
  }
  if (ec) found.push_back({dir, "cannot read directory (" + ec.message() + ")"});
}

}  // namespace

InputList collectInputs(const std::vector<std::string>& paths) {
  InputList list;
  for (const std::string& path : paths) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
      const int err = errno;
      list.items.push_back({path, err == ENOENT ? "no such file or directory" : std::strerror(err)});
      continue;
    }
    if (!S_ISDIR(info.st_mode)) {
      list.items.push_back({path, ""});
      continue;
    }
    std::vector<Input> found;
    std::set<DirectoryId> visited;
    walk(path, visited, found);
    std::sort(found.begin(), found.end(), [](const Input& a, const Input& b) { return a.path < b.path; });
    if (found.empty()) found.push_back({path, "directory holds no images"});
    list.items.insert(list.items.end(), found.begin(), found.end());
  }
  return list;
}

std::vector<std::string> filesOf(const InputList& inputs, const char* who) {
  std::vector<std::string> files;
  for (const Input& input : inputs.items) {
    if (input.problem.empty())
      files.push_back(input.path);
    else
      std::fprintf(stderr, "%s: %s: %s\n", who, input.path.c_str(), input.problem.c_str());
  }
  return files;
}

}  // namespace idutfind
