// Runs a fuzz target once over every file of the corpus directories named on the command
// line, so a corpus replays in every build, with or without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
  size_t count = 0;
  for (int i = 1; i < argc; ++i)
    for (const auto &entry : std::filesystem::directory_iterator(argv[i])) {
      std::ifstream f(entry.path(), std::ios::binary);
      f.exceptions(std::ios::failbit);  // an unreadable input ends the run with an error
      const std::vector<uint8_t> data(std::istreambuf_iterator<char>(f), {});
      LLVMFuzzerTestOneInput(data.data(), data.size());
      ++count;
    }
  std::printf("replayed %zu inputs\n", count);
  return count == 0 ? 1 : 0;
}
