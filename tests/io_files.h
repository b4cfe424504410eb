// File helpers for the PPM tests: a scratch directory and whole-file reads and writes.
#ifndef CORVIX_TESTS_IO_FILES_H
#define CORVIX_TESTS_IO_FILES_H

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support.h"

namespace corvix::test {

// A fresh directory, removed with everything in it at the end of the scope.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "corvix-io-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) ADD_FAILURE() << "cannot make a scratch directory";
    path_ = tmpl;
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }
  const std::string &path() const { return path_; }
  // Names of the directory's entries.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(path_))
      names.push_back(e.path().filename().string());
    return names;
  }

 private:
  std::string path_;
};

inline std::string file_bytes(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void put_file(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The pixel buffer of a three-byte bitmap as a string, for exact comparisons.
inline std::string pixel_bytes(const Bitmap *b) {
  return std::string(reinterpret_cast<const char *>(b->pixels),
                     static_cast<size_t>(b->width) * b->height * 3);
}

inline std::string image_bytes(const Image &im) {
  return std::string(im.rgb.begin(), im.rgb.end());
}

}  // namespace corvix::test

#endif
