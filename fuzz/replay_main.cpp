// Runs a fuzz target's entry function over saved inputs without libFuzzer, so the suite replays
// every input that once made a target fail. Arguments are files or directories of files; a
// crash or sanitizer report ends the program as it would the fuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return 1;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  int failed = 0, replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg = argv[i];
    if (fs::is_directory(arg)) {
      for (const auto& entry : fs::directory_iterator(arg))
        if (entry.is_regular_file()) {
          failed += replay(entry.path());
          ++replayed;
        }
    } else {
      failed += replay(arg);
      ++replayed;
    }
  }
  std::printf("%d inputs replayed\n", replayed);
  return failed != 0 || replayed == 0;
}
