#include "tests/support.h"

#include "colour/rgbtoyuv.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace corvix::test {

int sweep_allocation_failures(const std::function<void(int)> &body) {
  const uint64_t before = corvix_alloc_calls();
  body(0);
  const int made = static_cast<int>(corvix_alloc_calls() - before);
  for (int n = 1; n <= made; ++n) {
    corvix_alloc_fail_nth(static_cast<uint32_t>(n));
    body(n);
    corvix_alloc_fail_nth(0);
  }
  return made;
}

Image load_image(const std::string &name) {
  Image im;
  std::ifstream f(std::string(CORVIX_TEST_IMAGES) + "/" + name, std::ios::binary);
  std::string magic;
  int maxval = 0;
  f >> magic >> im.width >> im.height >> maxval;
  f.get();
  if (!f || magic != "P6" || maxval != 255) {
    ADD_FAILURE() << "cannot read test image " << name;
    return {};
  }
  im.rgb.resize(static_cast<size_t>(im.width) * im.height * 3);
  f.read(reinterpret_cast<char *>(im.rgb.data()), static_cast<std::streamsize>(im.rgb.size()));
  if (!f) ADD_FAILURE() << "short test image " << name;
  return im;
}

Bitmap *image_bitmap(const Image &image) {
  Bitmap *b = gx_allocrawbitmap(image.width, image.height, 3);
  if (b != nullptr) std::memcpy(b->pixels, image.rgb.data(), image.rgb.size());
  return b;
}

Planes image_planes(const Image &image, uint32_t group) {
  Planes p;
  const size_t n = static_cast<size_t>(image.width) * image.height;
  const size_t groups = (n + group - 1) / group;
  p.y.resize(groups * group);
  p.cr.resize(groups);
  p.cb.resize(groups);
  rgb_to_yuv_planes(image.rgb.data(), n, group, p.y.data(), p.cb.data(), p.cr.data());
  return p;
}

const std::string &runtime_dir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/corvix-test-XXXXXX";
    const char *d = mkdtemp(tmpl);
    if (d == nullptr) std::abort();
    setenv("CORVIX_RUNTIME_DIR", d, 1);
    static std::string keep = d;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(keep, ec);
    });
    return std::string(d);
  }();
  return dir;
}

namespace {
std::atomic<int> g_servers{0};

std::string corvixd_path() {
  const char *b = std::getenv("CORVIX_BINARY_DIR");
  return std::string(b != nullptr ? b : CORVIX_BINARY_DIR) + "/corvixd";
}
}  // namespace

ServerProcess::ServerProcess(std::vector<std::string> args, bool wait_for_port) {
  runtime_dir();
  name_ = "test-" + std::to_string(getpid()) + "-" + std::to_string(g_servers++);
  out_path_ = runtime_dir() + "/" + name_ + ".out";
  std::vector<std::string> argv_s = {corvixd_path(), "--port", name_};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (auto &a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, (out_path_ + ".err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  pid_ = pid;
  if (pid_ < 0) {
    ADD_FAILURE() << "cannot start " << argv_s[0];
    return;
  }
  if (!wait_for_port) return;
  const std::string sock = runtime_dir() + "/" + name_;
  for (int i = 0; i < 500; ++i) {
    struct stat st {};
    if (stat(sock.c_str(), &st) == 0) return;
    if (wait_exit(0) != -1) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "server " << name_ << " did not open its port";
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
}

int ServerProcess::wait_exit(int timeout_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!reaped_) {
    const pid_t r = waitpid(pid_, &status_, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      break;
    }
    if (std::chrono::steady_clock::now() >= until) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -2;
}

void ServerProcess::signal(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

std::string ServerProcess::output() const { return file_bytes(out_path_); }

std::string ServerProcess::errors() const { return file_bytes(out_path_ + ".err"); }

Host::Host(const std::string &port_name)
    : corvix::Host((runtime_dir(), corvix_host_open(port_name.c_str()))) {}

Host::Host() : corvix::Host((runtime_dir(), corvix_host_embedded())) {}

std::string file_bytes(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void put_file(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool run_shell(const std::string &command) { return std::system(command.c_str()) == 0; }

}  // namespace corvix::test
