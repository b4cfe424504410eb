// Where the image readers take their bytes from: a descriptor, a FILE* or a memory buffer,
// one byte at a time for headers and straight into the caller's memory for samples.
#ifndef CORVIX_IO_SOURCE_H
#define CORVIX_IO_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace corvix {

class Source {
 public:
  // A descriptor read from its current offset. A seekable one is read ahead through a buffer
  // and settle() gives back what was read past the last byte taken; anything else (a pipe, a
  // terminal) is read one header byte at a time, so bytes after an image stay in it.
  static Source descriptor(int fd);
  // A stream read through its own buffer: nothing taken from it beyond what the reader needs.
  static Source stream(std::FILE *file);
  static Source memory(const void *data, size_t size);

  // Made in place only: the buffer and the descriptor's place belong to this object.
  Source(const Source &) = delete;
  Source &operator=(const Source &) = delete;
  ~Source() { settle(); }

  // The next byte, or -1 at the end or on a read error (error() tells which).
  int get() {
    if (pos_ == len_ && !refill()) return -1;
    return buf_[pos_++];
  }
  // Puts back the byte the last get() returned.
  void unget();
  // True when no byte is left (reads ahead to find out, keeping what it read).
  bool at_end();

  // Exactly n bytes into dst; false when the source ends sooner or a read fails (dst's
  // contents are then undefined and got() says how many arrived).
  bool read_exact(uint8_t *dst, int64_t n);
  // Everything up to the end, appended to out; false on a read error or when more than
  // `limit` bytes would be taken.
  bool read_rest(std::vector<uint8_t> *out, int64_t limit);
  // The remaining bytes of a memory source without copying; null for the other kinds.
  const uint8_t *memory_rest(size_t *size) const;

  // Bytes taken by the reader so far.
  int64_t consumed() const { return taken_ - (len_ - pos_); }
  // Bytes known to remain (memory, or a regular file's size past the reader's place); -1
  // when the source cannot tell.
  int64_t remaining() const;
  // Bytes the last read_exact delivered before it failed.
  int64_t got() const { return got_; }
  // The errno of a failed read; 0 when the source simply ended.
  int error() const { return error_; }
  // Sets the reason for a failed read ("read error: ...") and returns true when a read
  // failed; false, setting nothing, when the source simply ended.
  bool failed_reading() const;

  // Leaves a seekable descriptor just after the last byte taken.
  void settle();

 private:
  enum class Kind { kDescriptor, kStream, kMemory };
  Source(Kind kind, int fd, std::FILE *file, const void *data, size_t size);
  bool refill();
  int64_t read_some(uint8_t *dst, int64_t n);

  Kind kind_;
  int fd_ = -1;
  std::FILE *file_ = nullptr;
  bool seekable_ = false;
  int64_t regular_size_ = -1;  // a regular file's size, else -1
  int64_t start_ = 0;          // a seekable descriptor's offset when reading began
  const uint8_t *buf_ = nullptr;
  int64_t pos_ = 0, len_ = 0, chunk_ = 1;
  int64_t taken_ = 0, got_ = 0;
  int error_ = 0;
  uint8_t own_[4096];
};

}  // namespace corvix

#endif
