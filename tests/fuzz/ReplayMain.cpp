// Runs a fuzz target without libFuzzer: over every file of the folders named on the command line,
// then over a fixed number of pseudo-random mutations of them, so the targets stay exercised in
// every build (the sanitizer build above all).
//   REPLAY [--rounds N] FOLDER_OR_FILE...
#include <cstdint>
#include <cstdlib>
#include <string>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::vector<uint8_t>> corpus;
  int rounds = 3000;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--rounds" && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
      continue;
    }
    std::error_code ec;
    std::filesystem::path p(argv[i]);
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(p, ec)) {
      for (const auto& e : std::filesystem::recursive_directory_iterator(p, ec))
        if (e.is_regular_file()) files.push_back(e.path());
    } else if (std::filesystem::is_regular_file(p, ec)) {
      files.push_back(p);
    }
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  corpus.push_back({});
  for (const auto& input : corpus) LLVMFuzzerTestOneInput(input.data(), input.size());

  std::mt19937 rng(20261207);
  for (int r = 0; r < rounds; ++r) {
    std::vector<uint8_t> input = corpus[rng() % corpus.size()];
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits; ++e) {
      switch (rng() % 4) {
        case 0:
          if (!input.empty()) input[rng() % input.size()] = static_cast<uint8_t>(rng());
          break;
        case 1:
          if (!input.empty()) input.resize(rng() % input.size());
          break;
        case 2:
          input.insert(input.begin() + (input.empty() ? 0 : rng() % input.size()), static_cast<uint8_t>(rng()));
          break;
        default:
          if (!input.empty()) input[rng() % input.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
      }
    }
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%zu corpus inputs and %d mutations ran cleanly\n", corpus.size(), rounds);
  return 0;
}
