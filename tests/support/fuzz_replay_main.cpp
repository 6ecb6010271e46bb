// Runs a fuzz entry point without libFuzzer: every file of the seed corpus, then a
// fixed number of deterministic mutations of those files (byte flips, insertions,
// truncations, NUL bytes, long runs). Used so that ordinary builds and sanitizer
// builds exercise each fuzz target on every test run.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> load_corpus(const std::filesystem::path& dir) {
  std::vector<Bytes> seeds;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (seeds.empty()) seeds.emplace_back();
  return seeds;
}

Bytes mutate(Bytes input, std::mt19937& rng) {
  const int steps = 1 + static_cast<int>(rng() % 4);
  for (int s = 0; s < steps; ++s) {
    const size_t pos = input.empty() ? 0 : rng() % (input.size() + 1);
    switch (rng() % 6) {
      case 0:
        if (!input.empty()) input[pos % input.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1: input.insert(input.begin() + pos, static_cast<uint8_t>(rng())); break;
      case 2: input.resize(pos); break;
      case 3: input.insert(input.begin() + pos, 0); break;
      case 4: input.insert(input.begin() + pos, 1500 + rng() % 1000, static_cast<uint8_t>("= [#\n\t"[rng() % 6])); break;
      default:
        if (!input.empty()) input.insert(input.begin() + pos, input.begin(), input.begin() + (rng() % input.size()));
        break;
    }
  }
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path corpus = argc > 1 ? argv[1] : ".";
  const long rounds = argc > 2 ? std::stol(argv[2]) : 10000;
  const auto seeds = load_corpus(corpus);
  for (const auto& seed : seeds) LLVMFuzzerTestOneInput(seed.data(), seed.size());
  std::mt19937 rng(0x5eed);
  for (long i = 0; i < rounds; ++i) {
    const Bytes input = mutate(seeds[rng() % seeds.size()], rng);
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%zu seeds and %ld mutations ran without a fault\n", seeds.size(), rounds);
  return 0;
}
