// Input collection: explicit files as given, directories walked in sorted order.
#include "inputs.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace idutfind {

bool hasImageExtension(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".pgm" || ext == ".ppm" || ext == ".pnm" ||
         ext == ".webp";
}

InputList collectInputs(const std::vector<std::string>& paths) {
  InputList list;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
      list.problems.push_back(path + ": no such file or directory");
      continue;
    }
    if (!fs::is_directory(status)) {
      list.files.push_back(path);
      continue;
    }
    std::vector<std::string> found;
    fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      std::error_code fileEc;
      if (it->is_regular_file(fileEc) && hasImageExtension(it->path().string())) found.push_back(it->path().string());
    }
    if (ec) list.problems.push_back(path + ": " + ec.message());
    std::sort(found.begin(), found.end());
    if (found.empty() && !ec) list.problems.push_back(path + ": directory holds no images");
    list.files.insert(list.files.end(), found.begin(), found.end());
  }
  return list;
}

}  // namespace idutfind
