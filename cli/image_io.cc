// Image files for the tool, through the library's loaders and its safe writer: every kind the
// library reads, standard input and output, image streams processed image by image, and
// output files that appear whole or not at all.
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "cli/tool.h"
#include "io/image.h"
#include "io/ppm.h"

namespace corvix::cli {
namespace {

ImageOptions g_options;

std::string reason() {
  const char *why = corvix_last_error();
  return *why != '\0' ? why : "unknown error";
}

std::string input_name(const std::string &path) {
  return path == "-" ? std::string("standard input") : "'" + path + "'";
}
std::string output_name(const std::string &path) {
  return path == "-" ? std::string("standard output") : "'" + path + "'";
}

// Temporary files go when the tool is interrupted, or killed by a pipe that closed.
void remove_temporaries_and_die(int sig) {
  corvix::remove_temporary_files();
  signal(sig, SIG_DFL);
  raise(sig);
}
void install_cleanup() {
  static const bool installed = [] {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(sig, remove_temporaries_and_die);
    return true;
  }();
  (void)installed;
}

// An input open for reading images, one after another.
class Input {
 public:
  explicit Input(const std::string &path) : path_(path) {
    fd_ = path == "-" ? STDIN_FILENO : corvix::open_image_file(path.c_str());
    if (fd_ < 0) throw Failure("cannot read " + input_name(path) + ": " + reason());
    source_.reset(new corvix::Source(corvix::Source::descriptor(fd_)));
  }
  ~Input() {
    source_.reset();  // gives back what was read ahead before the descriptor closes
    if (fd_ != STDIN_FILENO) close(fd_);
  }
  Input(const Input &) = delete;
  Input &operator=(const Input &) = delete;

  BitmapPtr next(Accept accept) {
    CorvixImageInfo info{};
    corvix_clear_error();
    BitmapPtr image(corvix::load_image(*source_, g_options.background, &info));
    if (!image) throw Failure("cannot read " + input_name(path_) + ": " + reason());
    if (info.alpha != 0 && g_options.background == CORVIX_ALPHA_DROP && !g_options.quiet &&
        !noted_) {
      noted_ = true;
      std::fprintf(stderr,
                   "corvix: note: %s has transparency, which was dropped ('corvix --background "
                   "R,G,B OPERATION ...' composes it over a colour)\n",
                   input_name(path_).c_str());
    }
    if (accept == Accept::kColour && image->bytes_per_pixel != 3)
      throw Failure(input_name(path_) + " is a grey image; this operation needs a colour image");
    return image;
  }
  // True when nothing but white space is left (netpbm writers may end a stream with a line
  // end).
  bool at_end() {
    for (;;) {
      const int c = source_->get();
      if (c == -1) return true;
      if (!std::isspace(c)) {
        source_->unget();
        return false;
      }
    }
  }

 private:
  std::string path_;
  int fd_ = -1;
  std::unique_ptr<corvix::Source> source_;
  bool noted_ = false;
};

// The format an output gets: --format, else the name's extension, else PPM/PGM.
std::string format_for(const std::string &path) {
  if (!g_options.format.empty()) return g_options.format;
  const size_t slash = path.rfind('/'), dot = path.rfind('.');
  if (path != "-" && dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    std::string ext = path.substr(dot + 1);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "png") return "png";
    if (ext == "jpg" || ext == "jpeg") return "jpeg";
  }
  return "pnm";
}

void append_image(OutputFile &out, const Bitmap &bitmap) {
  corvix_clear_error();
  if (!corvix::write_image(out.file(), &bitmap, format_for(out.path()).c_str(), g_options.quality))
    throw Failure("cannot write " + output_name(out.path()) + ": " + reason());
}

// The images of one run of run_over_images: its input stream and its output, both kept open
// from one image to the next.
struct Session {
  std::string input, output;
  std::unique_ptr<Input> in;
  std::unique_ptr<OutputFile> out;
  long written = 0;
  bool used = false;  // whether this image came from the stream
};
Session *g_session = nullptr;

// Counts images on standard error, shown only on a terminal and from the second image on.
class Counter {
 public:
  Counter(const char *op, bool quiet) : op_(op), on_(!quiet && isatty(STDERR_FILENO)) {}
  ~Counter() {
    if (shown_) std::fputc('\n', stderr);
  }
  void image(long n) {
    if (!on_ || n < 2) return;
    shown_ = true;
    std::fprintf(stderr, "\rcorvix %s: image %ld", op_, n);
    std::fflush(stderr);
  }

 private:
  const char *op_;
  bool on_, shown_ = false;
};

}  // namespace

void set_image_options(const ImageOptions &options) { g_options = options; }

BitmapPtr new_bitmap(int32_t width, int32_t height, int32_t bytes_per_pixel) {
  BitmapPtr b(gx_allocrawbitmap(width, height, bytes_per_pixel));
  if (!b)
    throw Failure("out of memory for a " + std::to_string(width) + "x" + std::to_string(height) +
                  " image");
  return b;
}

BitmapPtr read_image(const std::string &path, Accept accept) {
  if (g_session != nullptr && path == g_session->input) {
    if (!g_session->in) g_session->in = std::make_unique<Input>(path);
    g_session->used = true;
    return g_session->in->next(accept);
  }
  Input input(path);
  return input.next(accept);
}

void write_image(const Bitmap &bitmap, const std::string &path) {
  if (g_session != nullptr && path == g_session->output) {
    if (!g_session->out) g_session->out = std::make_unique<OutputFile>(path);
    const std::string format = format_for(path);
    if (g_session->written > 0 && format != "pnm")
      throw Failure("the input holds more than one image, and a " +
                    std::string(format == "png" ? "PNG" : "JPEG") +
                    " file holds one: write them to a PPM/PGM stream (a .ppm file or -)");
    append_image(*g_session->out, bitmap);
    ++g_session->written;
    return;
  }
  OutputFile out(path);
  append_image(out, bitmap);
  out.commit();
}

void run_over_images(const Operation &op, Job &job) {
  Session session;
  if (op.inputs == 1 && op.output) {
    session.input = job.input();
    session.output = job.output();
  }
  g_session = &session;
  struct Reset {
    ~Reset() { g_session = nullptr; }
  } reset;
  Counter counter(op.name, job.quiet());
  for (long n = 1;; ++n) {
    session.used = false;
    op.run(job);
    counter.image(n);
    if (!session.used || !session.in || session.in->at_end()) break;
  }
  if (session.out) session.out->commit();
}

std::vector<uint8_t> read_all(const std::string &path) {
  std::FILE *f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (f == nullptr) throw Failure("cannot read " + input_name(path) + ": " + std::strerror(errno));
  std::vector<uint8_t> bytes;
  uint8_t buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  const bool bad = std::ferror(f) != 0;
  const int err = errno;
  if (f != stdin) std::fclose(f);
  if (bad) throw Failure("cannot read " + input_name(path) + ": " + std::strerror(err));
  return bytes;
}

void check_binary_output(const std::string &path) {
  if (path == "-" && isatty(STDOUT_FILENO))
    throw UsageError(
        "refusing to write image data to a terminal: name an output file or "
        "redirect standard output");
}

OutputFile::OutputFile(const std::string &path)
    : path_(path), file_(std::make_unique<corvix::SafeFile>()) {
  if (path == "-") {
    check_binary_output(path);
    file_->adopt(STDOUT_FILENO);
    return;
  }
  install_cleanup();
  corvix_clear_error();
  if (!file_->open(path.c_str()))
    throw Failure("cannot write " + output_name(path) + ": " + reason());
}

OutputFile::~OutputFile() = default;

void OutputFile::write(const void *data, size_t size) {
  if (!file_->write(data, size))
    throw Failure("cannot write " + output_name(path_) + ": " + reason());
}

void OutputFile::commit() {
  if (!file_->commit()) throw Failure("cannot write " + output_name(path_) + ": " + reason());
}

}  // namespace corvix::cli
