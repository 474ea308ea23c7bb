// Runs fuzz inputs without libFuzzer: every file named, and every file in every
// folder named. Used for the seed corpus in the normal test run and to replay a
// crash file: fuzz_rndstr_replay crash-1234.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::size_t runs = 0;
  auto run = [&](const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++runs;
  };
  for (int i = 1; i < argc; ++i) {
    if (fs::is_directory(argv[i])) {
      for (const auto& entry : fs::directory_iterator(argv[i])) {
        if (entry.is_regular_file()) run(entry.path());
      }
    } else {
      run(argv[i]);
    }
  }
  std::printf("%zu passed, 0 failed\n", runs);
  return runs > 0 ? 0 : 1;
}
