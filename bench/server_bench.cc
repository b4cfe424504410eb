// Commands through a real corvixd process: the bare round trip (code 19, no work) beside a
// Unix-socket ping-pong between two processes, and command 2 on whole frames.
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "bench/support.h"

namespace corvix::bench {
namespace {

// One corvixd for the whole run, on a private port.
class Server {
 public:
  Server() {
    char tmpl[] = "/tmp/corvix-bench-XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("CORVIX_RUNTIME_DIR", dir_.c_str(), 1);
    name_ = "bench-" + std::to_string(getpid());
    const char *b = std::getenv("CORVIX_BINARY_DIR");
    std::string exe = std::string(b != nullptr ? b : CORVIX_BINARY_DIR) + "/corvixd";
    char *argv[] = {exe.data(), const_cast<char *>("--port"), name_.data(), nullptr};
    posix_spawn(&pid_, argv[0], nullptr, nullptr, argv, environ);
    struct stat st{};
    for (int i = 0; i < 200 && stat((dir_ + "/" + name_).c_str(), &st) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    host_ = corvix_host_open(name_.c_str());
  }
  ~Server() {
    corvix_host_close(host_);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    std::string sock = dir_ + "/" + name_;
    unlink(sock.c_str());
    unlink((sock + ".lock").c_str());
    rmdir(dir_.c_str());
  }
  corvix_host *host() const { return host_; }

 private:
  std::string dir_, name_;
  pid_t pid_ = -1;
  corvix_host *host_ = nullptr;
};

Server &server() {
  static Server s;
  return s;
}

void BM_RoundTripNoWork(benchmark::State &state) {
  corvix_host *h = server().host();
  if (h == nullptr) {
    state.SkipWithError("corvixd did not start");
    return;
  }
  const uint32_t block = corvix_host_alloc(h, 40, MEMF_CLEAR);
  for (auto _ : state) corvix_host_send(h, 19, block);
  corvix_host_free(h, block);
}
BENCHMARK(BM_RoundTripNoWork)->UseRealTime();

// The floor: a 16-byte request and reply between two processes over SOCK_SEQPACKET.
void BM_SocketPingPong(benchmark::State &state) {
  int sv[2];
  socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv);
  const pid_t child = fork();
  if (child == 0) {
    close(sv[0]);
    char buf[16];
    while (recv(sv[1], buf, sizeof buf, 0) == 16) send(sv[1], buf, 16, MSG_NOSIGNAL);
    _exit(0);
  }
  close(sv[1]);
  char buf[16] = {};
  for (auto _ : state) {
    send(sv[0], buf, 16, MSG_NOSIGNAL);
    recv(sv[0], buf, 16, 0);
  }
  close(sv[0]);
  waitpid(child, nullptr, 0);
}
BENCHMARK(BM_SocketPingPong)->UseRealTime();

void BM_Command2ThroughServer(benchmark::State &state) {
  corvix_host *h = server().host();
  if (h == nullptr) {
    state.SkipWithError("corvixd did not start");
    return;
  }
  const Size s = size_arg(state);
  const auto group = static_cast<uint32_t>(state.range(2));
  const auto n = static_cast<uint32_t>(s.width * s.height);
  const std::vector<uint8_t> luma = photo_frame(s, 1);
  const uint32_t y = corvix_host_alloc(h, n, MEMF_ANY);
  const uint32_t c = corvix_host_alloc(h, n / group + 1, MEMF_CLEAR);
  const uint32_t out = corvix_host_alloc(h, 3 * n, MEMF_ANY);
  const uint32_t block = corvix_host_alloc(h, 40, MEMF_CLEAR);
  std::memcpy(corvix_host_pointer(h, y), luma.data(), n);
  std::memset(corvix_host_pointer(h, c), 128, n / group + 1);
  auto *w = static_cast<uint8_t *>(corvix_host_pointer(h, block));
  const uint32_t words[] = {y, c, c, out, n, group};
  for (int i = 0; i < 6; ++i) corvix_put_be32(w + 4 * (i + 1), words[i]);
  for (auto _ : state) corvix_host_send(h, 2, block);
  set_pixels(state, s);
  for (uint32_t a : {y, c, out, block}) corvix_host_free(h, a);
}
BENCHMARK(BM_Command2ThroughServer)->Args({720, 576, 4})->Args({720, 576, 1})
    ->Args({1920, 1080, 4})->Args({1920, 1080, 1})->UseRealTime();

}  // namespace
}  // namespace corvix::bench
