// An open C file that closes itself on every way out; the readers and writers set f to null
// once they have closed it themselves and checked the result.
#ifndef IDUT_TOOLS_IMAGEIO_FILE_HPP
#define IDUT_TOOLS_IMAGEIO_FILE_HPP

#include <cstdio>

namespace imageio {

struct File {
  std::FILE* f = nullptr;
  ~File() {
    if (f) std::fclose(f);
  }
};

}  // namespace imageio

#endif
