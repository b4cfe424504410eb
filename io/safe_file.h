// Files that appear whole or not at all: written under a temporary name beside the target and
// renamed over it once every byte is written and the file closed without an error.
#ifndef CORVIX_IO_SAFE_FILE_H
#define CORVIX_IO_SAFE_FILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>

namespace corvix {

// Every byte of [data, data + size) into the descriptor, retrying short writes and EINTR;
// false (reason set) when a write fails.
bool write_all(int fd, const void *data, size_t size);

struct Bytes {
  const void *data;
  size_t size;
};
// The parts one after another as the file `path` (through a SafeFile), into a descriptor, or
// into a stream (flushed); false with the reason set when any of it failed.
bool save_file(const char *path, std::initializer_list<Bytes> parts);
bool save_fd(int fd, std::initializer_list<Bytes> parts);
bool save_stream(std::FILE *stream, std::initializer_list<Bytes> parts);

class SafeFile {
 public:
  SafeFile() = default;
  ~SafeFile() { discard(); }
  SafeFile(const SafeFile &) = delete;
  SafeFile &operator=(const SafeFile &) = delete;

  // Starts the file `path`. An existing regular file is replaced at commit() and its
  // permissions kept; a symbolic link is followed to the file it names, and stays. A device
  // or pipe cannot be replaced and is written directly (a pipe nobody reads fails at once).
  // False (reason set) for a directory or a place where no file can be made.
  bool open(const char *path);
  // Writes to a descriptor the caller owns (standard output, say); commit() leaves it open.
  void adopt(int fd);

  bool write(const void *data, size_t size);
  // Closes the file and renames it into place; false (reason set, the temporary removed and
  // an older file left as it was) when a write, the close or the rename failed.
  bool commit();
  // Removes the temporary file, if any; the target stays as it was.
  void discard();

 private:
  int fd_ = -1;
  bool owned_ = false;
  bool failed_ = false;
  int slot_ = -1;         // the temporary file's entry in the table removed on a signal
  char *temp_ = nullptr;  // the temporary file's path, malloc'd; null when writing directly
  char *target_ = nullptr;
};

// Removes every temporary file a SafeFile of this process holds right now. Only
// async-signal-safe calls: a program's signal handler may call it before it ends.
void remove_temporary_files();

}  // namespace corvix

#endif
