// Runs a fuzz target once on every file of the folders named on the command
// line (its seed corpus and kept regression inputs), in name order, so that
// the normal build compiles the target and its findings stay fixed. A folder
// that does not exist is skipped; finding no input at all is a failure.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  size_t runs = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path folder = argv[i];
    if (!fs::is_directory(folder)) continue;
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      std::ifstream in(file, std::ios::binary);
      const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
      std::printf("%s (%zu bytes)\n", file.string().c_str(), bytes.size());
      std::fflush(stdout);
      const std::vector<uint8_t> data(bytes.begin(), bytes.end());
      LLVMFuzzerTestOneInput(data.data(), data.size());
      ++runs;
    }
  }
  std::printf("%zu inputs\n", runs);
  return runs > 0 ? 0 : 1;
}
