// The corvix command-line tool: the pieces every operation shares. One table of operations
// (operations.cc) drives the usage text, the parsing and the dispatch; main.cc turns it into
// the argument parser, and each operation's run function does its work on a Job.
#ifndef CORVIX_CLI_TOOL_H
#define CORVIX_CLI_TOOL_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "corvix/corvix.h"
#include "corvix/host.hpp"
#include "io/safe_file.h"

namespace corvix::cli {

// A mistake in the command line: exit code 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// Anything that goes wrong while working (unreadable input, a server that refuses, memory):
// exit code 1.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// ---- Option values ------------------------------------------------------------------

struct Size {
  int32_t width = 0, height = 0;
};
struct Point {
  int32_t x = 0, y = 0;
};
struct Range {
  int32_t low = 0, high = 0;
};
struct Colour {
  int32_t red = 0, green = 0, blue = 0;
};
// WxH+X+Y: a rectangle of W x H pixels whose top-left pixel is (X, Y).
// parse_rect only hands out rectangles whose bottom-right pixel is a 32-bit coordinate too.
struct Rect {
  int32_t width = 0, height = 0, x = 0, y = 0;
  int32_t right() const { return static_cast<int32_t>(int64_t{x} + width - 1); }
  int32_t bottom() const { return static_cast<int32_t>(int64_t{y} + height - 1); }
};

// How an option's text is read. Each kind has one parser below, used both to check the
// command line (a bad value is a usage error naming the option) and to hand the value out.
enum class Kind {
  kFlag,     // present or not
  kInteger,  // decimal, within [min, max]
  kNumber,   // decimal with a fraction, finite
  kSize,     // WxH, both at least 1
  kPoint,    // X,Y
  kRange,    // LOW,HIGH
  kColour,   // R,G,B, each 0..255
  kRect,     // WxH+X+Y (X and Y may be negative: WxH-X-Y)
  kChoice,   // one of the words in `choices`, separated by '|'
  kText,     // anything (a file name, a port name)
};

struct OptionDef {
  const char *name;  // long name: "level" is given as --level
  Kind kind;
  const char *value;                         // placeholder in the usage text: "N", "WxH"
  const char *help;                          // one line
  const char *fallback = nullptr;            // the value when the option is not given; null: none
  int64_t min = INT32_MIN, max = INT32_MAX;  // bounds of kInteger
  const char *choices = nullptr;             // words of kChoice: "90|180|270"
  bool required = false;
};

std::optional<int64_t> parse_integer(std::string_view text);
std::optional<double> parse_number(std::string_view text);
std::optional<Size> parse_size(std::string_view text);
std::optional<Point> parse_point(std::string_view text);
std::optional<Range> parse_range(std::string_view text);
std::optional<Colour> parse_colour(std::string_view text);
std::optional<Rect> parse_rect(std::string_view text);
// Why `text` is not a valid value of `def`; empty when it is.
std::string check_value(const OptionDef &def, std::string_view text);

// The options of one command line, as text checked by check_value, read back typed.
class Values {
 public:
  void set(const std::string &name, std::string text) { text_[name] = std::move(text); }
  bool has(const std::string &name) const { return text_.count(name) != 0; }
  const std::string &text(const std::string &name) const;
  bool flag(const std::string &name) const { return has(name); }
  int32_t integer(const std::string &name) const;
  double number(const std::string &name) const;
  Size size(const std::string &name) const;
  Point point(const std::string &name) const;
  Range range(const std::string &name) const;
  Colour colour(const std::string &name) const;
  Rect rect(const std::string &name) const;

 private:
  std::map<std::string, std::string> text_;
};

// ---- Images -------------------------------------------------------------------------

struct Operation;
class Job;

struct BitmapFree {
  void operator()(Bitmap *b) const { gx_freebitmap(b); }
};
using BitmapPtr = std::unique_ptr<Bitmap, BitmapFree>;

// A new bitmap of PPCAllocVec blocks; a Failure when memory runs out.
BitmapPtr new_bitmap(int32_t width, int32_t height, int32_t bytes_per_pixel);

// How images are read and written: set once from the tool's options (--format, --quality,
// --background, --quiet) before an operation runs.
struct ImageOptions {
  std::string format;                      // "" : by the output name (PPM/PGM for "-")
  int32_t quality = 90;                    // JPEG, 1..100
  int32_t background = CORVIX_ALPHA_DROP;  // 0xRRGGBB: transparency composed over it
  bool quiet = false;                      // no notes or progress on standard error
};
void set_image_options(const ImageOptions &options);

enum class Accept {
  kColour,        // colour images only (3 bytes a pixel)
  kColourOrGrey,  // colour (3 bytes a pixel) or grey (1 byte a pixel)
};
// Reads an image: binary or plain PPM and PGM, PNG or JPEG, chosen by its first bytes; "-"
// is standard input, read directly. A Failure gives the library's reason: "cannot read
// 'x.png': PNG file ends after 100 bytes, before its end chunk". Transparency is dropped
// (with a note) or composed over the --background colour.
BitmapPtr read_image(const std::string &path, Accept accept);
// Writes an image as PNG or JPEG when the format or the name's extension says so, else as
// binary PPM (3 bytes a pixel) or PGM (1 byte a pixel); "-" is standard output. A file is
// written under a temporary name and renamed into place, so a failure never leaves a partial
// file and an older file of that name stays as it was.
void write_image(const Bitmap &bitmap, const std::string &path);
// Reads a whole file (or standard input for "-") into memory.
std::vector<uint8_t> read_all(const std::string &path);

// Runs an operation once for each image of its input: an operation with one input and an
// output processes every image of a PPM/PGM stream in turn and writes the results one after
// another to the same output (a file appears once all of them are written). Progress counts
// images on a terminal.
void run_over_images(const Operation &op, Job &job);

// A file being written: a temporary file beside the target, renamed over it by commit();
// removed if the program fails or is interrupted first. "-" writes standard output directly.
class OutputFile {
 public:
  explicit OutputFile(const std::string &path);
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;
  void write(const void *data, size_t size);
  void commit();
  // The library's file underneath, for writers that append whole images.
  corvix::SafeFile &file() { return *file_; }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
  std::unique_ptr<corvix::SafeFile> file_;
};

// Refuses (as a usage error) to pour binary data onto a terminal.
void check_binary_output(const std::string &path);

// ---- The server ---------------------------------------------------------------------

// A connection to an image server: one started inside this process, or a running corvixd
// reached by its port name. Copies images into shared memory, runs commands on them and
// copies results back; every block it made is released when it goes.
class Server {
 public:
  // An empty port name starts a server inside this process.
  explicit Server(const std::string &port);
  ~Server();
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;

  // A shared block of `size` bytes (a Failure when the server refuses).
  uint32_t block(uint64_t size);
  // A shared block holding a copy of the bytes.
  uint32_t share(const void *data, uint64_t size);
  // A shared big-endian Bitmap record with a copy of the bitmap's pixels.
  uint32_t share(const Bitmap &bitmap);
  void release(uint32_t address);
  uint8_t *at(uint32_t address);

  // Sends a command with argument words 1.. and returns word 0 of the reply. A Failure when
  // the server refuses the command or is gone.
  uint32_t command(int32_t code, std::initializer_list<uint32_t> words) {
    return command(code, std::vector<uint32_t>(words));
  }
  uint32_t command(int32_t code, const std::vector<uint32_t> &words);
  // Copies the pixels of a shared record (made by share) back into `into`.
  void fetch(uint32_t record, Bitmap &into);
  // A native copy of a Bitmap a command returned in word 0; the shared one is released. A
  // Failure when the command made none (word 0 = 0: the server ran out of memory).
  BitmapPtr take_bitmap(uint32_t record, int32_t code);
  // The LevelRange a command returned; the shared record is released.
  LevelRange take_range(uint32_t record, int32_t code);
  const std::string &port() const { return port_; }

 private:
  corvix::Host host_;
  std::string port_;
  uint32_t args_ = 0;
};

// ---- Operations ---------------------------------------------------------------------

struct Operation;

// One run of an operation: the parsed command line and what the operation needs from it.
class Job {
 public:
  Job(const Operation &op, Values values, std::vector<std::string> inputs, std::string output,
      std::string port, bool quiet)
      : op_(op),
        values_(std::move(values)),
        inputs_(std::move(inputs)),
        output_(std::move(output)),
        port_(std::move(port)),
        quiet_(quiet) {}

  const Operation &op() const { return op_; }
  const Values &values() const { return values_; }
  const std::vector<std::string> &inputs() const { return inputs_; }
  const std::string &input(size_t i = 0) const { return inputs_.at(i); }
  const std::string &output() const { return output_; }
  const std::string &port() const { return port_; }
  bool quiet() const { return quiet_; }
  // The server, connected on first use (the embedded one unless --port named a server).
  Server &server();

 private:
  const Operation &op_;
  Values values_;
  std::vector<std::string> inputs_;
  std::string output_, port_;
  bool quiet_;
  std::unique_ptr<Server> server_;
};

struct Operation {
  const char *name;
  const char *summary;  // one line for the list of operations
  const char *files;    // the file arguments in the usage text: "INPUT OUTPUT"
  int inputs;           // files read: 0, 1, 2; -1 for one or more
  bool output;          // whether the last file argument is written
  std::vector<OptionDef> options;
  void (*run)(Job &);
  const char *details = nullptr;  // further lines for OPERATION --help
};

// Every operation, in the order the usage text lists them.
const std::vector<Operation> &operations();
const Operation *find_operation(std::string_view name);

// Splits the file arguments of a command line into inputs and output. Like other filters:
// with the output left out it is standard output, and a one-input operation given no file at
// all reads standard input.
void assign_files(const Operation &op, const std::vector<std::string> &files,
                  std::vector<std::string> *inputs, std::string *output);

}  // namespace corvix::cli

#endif
