// Commands through a real corvixd process: the bare round trip (code 19, no work) beside a
// Unix-socket ping-pong between two processes, and command 2 on whole frames. Cleared
// gigabyte blocks beside a plain memset of the same bytes, and a host's round trips while
// another host keeps asking for cleared gigabytes.
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "bench/support.h"
#include "platform/memory.h"

namespace corvix::bench {
namespace {

// One corvixd for the whole run, with room for a gigabyte block beside the other blocks of
// this process's hosts.
class Server {
 public:
  Server() : daemon_({"--quota", "3221225472"}), host_(corvix_host_open(daemon_.name().c_str())) {}
  ~Server() { corvix_host_close(host_); }
  corvix_host *host() const { return host_; }
  pid_t pid() const { return daemon_.pid(); }

 private:
  Daemon daemon_;
  corvix_host *host_;
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
BENCHMARK(BM_Command2ThroughServer)
    ->Args({720, 576, 4})
    ->Args({720, 576, 1})
    ->Args({1920, 1080, 4})
    ->Args({1920, 1080, 1})
    ->UseRealTime();

constexpr uint32_t kGiB = 1u << 30;

// What clearing a gigabyte costs when every byte is written: memset over pages already in
// memory (the cheapest case of writing them).
void BM_MemsetGiB(benchmark::State &state) {
  auto *p = static_cast<uint8_t *>(PPCAllocVec(kGiB, MEMF_ANY));
  if (p == nullptr) {
    state.SkipWithError("no gigabyte block");
    return;
  }
  std::memset(p, 1, kGiB);  // in memory before timing
  for (auto _ : state) {
    std::memset(p, 0, kGiB);
    benchmark::ClobberMemory();
  }
  PPCFreeVec(p);
}
BENCHMARK(BM_MemsetGiB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A cleared gigabyte through the library, taken and freed: range(0) = 0, its pages never
// written (nothing to clear, nothing to give back); 1, written all over before the free
// (the pages go back to the system once, at the free or the clear). The writing is not
// timed.
void BM_ClearedGiB(benchmark::State &state) {
  const bool dirty = state.range(0) != 0;
  trim_segment();  // no page of an earlier benchmark in memory
  for (auto _ : state) {
    auto *p = static_cast<uint8_t *>(PPCAllocVec(kGiB, MEMF_CLEAR));
    if (p == nullptr) {
      state.SkipWithError("no gigabyte block");
      return;
    }
    benchmark::DoNotOptimize(p);
    if (dirty) {
      state.PauseTiming();
      std::memset(p, 1, kGiB);
      state.ResumeTiming();
    }
    PPCFreeVec(p);
  }
}
BENCHMARK(BM_ClearedGiB)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// A host's round trips (code 19) while another host, in a loop, takes a cleared gigabyte
// through the server, writes 64 MiB of it and frees it. Reports the median, p99 and slowest
// round trip in milliseconds, and how many gigabytes the other host took meanwhile.
void BM_RoundTripBesideClearedGiB(benchmark::State &state) {
  corvix_host *h = server().host();
  if (h == nullptr) {
    state.SkipWithError("corvixd did not start");
    return;
  }
  corvix_host *greedy = corvix_host_open(corvix_host_port_name(h));
  std::atomic<bool> stop{false};
  std::atomic<int> taken{0};
  std::thread other([&] {
    while (!stop.load()) {
      const uint32_t a = corvix_host_alloc(greedy, kGiB, MEMF_CLEAR);
      if (a == 0) break;
      std::memset(corvix_host_pointer(greedy, a), 1, 64u << 20);
      corvix_host_free(greedy, a);
      ++taken;
    }
  });
  const uint32_t block = corvix_host_alloc(h, 40, MEMF_CLEAR);
  std::vector<double> ms;
  for (auto _ : state) {
    const auto t = std::chrono::steady_clock::now();
    corvix_host_send(h, 19, block);
    ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  stop = true;
  other.join();
  corvix_host_free(h, block);
  corvix_host_close(greedy);
  std::sort(ms.begin(), ms.end());
  if (ms.empty()) return;
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[ms.size() * 99 / 100];
  state.counters["max_ms"] = ms.back();
  state.counters["gigabytes"] = taken.load();
}
BENCHMARK(BM_RoundTripBesideClearedGiB)->Iterations(2000)->UseRealTime();

// Minor page faults of this process, or of another one.
long minor_faults(pid_t pid = 0) {
  if (pid == 0) {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
  }
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(f, line);
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  std::string field;
  for (int i = 3; i < 10 && rest >> field; ++i) {
  }
  long faults = 0;
  rest >> faults;
  return faults;
}

// Per-frame times of a stream. The first frame is reported on its own (first_ms,
// first_faults): it brings into memory the pages that no earlier frame left there (the
// library's stream starts on a trimmed segment), which a video application pays in the same
// way once, when its stream starts or resumes after an idle server gave its memory back; on
// a virtual machine whose host backs guest memory lazily that is 10 to 20 ms for an HD
// frame, however the faults are taken (one populating call is no faster). The steady stream
// after it (median, p99, max, page faults per frame of the process that allocates) is what
// must hold a frame rate; a stall there (a trim, a fault, a thread start) shows in p99 and
// max, and faults_per_frame shows whether it was pages (a frame that faults its pages in
// again costs 1519).
class FrameTimes {
 public:
  explicit FrameTimes(pid_t pid = 0) : pid_(pid), faults_(minor_faults(pid)) {}
  void add(double ms) {
    if (first_ms_ < 0) {
      first_ms_ = ms;
      const long now = minor_faults(pid_);
      first_faults_ = now - faults_;
      faults_ = now;
      return;
    }
    ms_.push_back(ms);
  }
  void report(benchmark::State &state) {
    if (first_ms_ < 0) return;
    state.counters["first_ms"] = first_ms_;
    state.counters["first_faults"] = static_cast<double>(first_faults_);
    if (ms_.empty()) return;
    state.counters["faults_per_frame"] =
        static_cast<double>(minor_faults(pid_) - faults_) / static_cast<double>(ms_.size());
    std::sort(ms_.begin(), ms_.end());
    state.counters["median_ms"] = ms_[ms_.size() / 2];
    state.counters["p99_ms"] = ms_[ms_.size() * 99 / 100];
    state.counters["max_ms"] = ms_.back();
  }

 private:
  pid_t pid_;
  long faults_;
  long first_faults_ = 0;
  double first_ms_ = -1;
  std::vector<double> ms_;
};

double ms_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

// A stream of HD frames through the library: each frame allocated, inverted and freed.
// Frame after frame reuses the same pages; a stall shows as a slow p99 or maximum.
void BM_FrameStreamLibrary(benchmark::State &state) {
  trim_segment();  // no page of an earlier benchmark left to give back meanwhile
  FrameTimes frames;
  for (auto _ : state) {
    const auto t = std::chrono::steady_clock::now();
    Bitmap *frame = gx_allocbitmap(kHd.width, kHd.height, 3);
    fxx_invert_ll(frame);
    gx_freebitmap(frame);
    frames.add(ms_since(t));
  }
  frames.report(state);
}
BENCHMARK(BM_FrameStreamLibrary)->Iterations(600)->UseRealTime();

// A host process that takes `bytes` of the segment, writes them and exits without freeing
// them: the server releases its blocks and gives their pages back in slices between
// messages.
bool host_leaves(uint64_t bytes) {
  const pid_t child = fork();
  if (child == 0) {
    corvix_host *h = corvix_host_open(corvix_host_port_name(server().host()));
    const uint32_t block = corvix_host_alloc(h, static_cast<uint32_t>(bytes), MEMF_ANY);
    if (block != 0) std::memset(corvix_host_pointer(h, block), 1, bytes);
    _exit(block != 0 ? 0 : 1);
  }
  int status = 1;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// The same through a corvixd: each frame made by command 3 (a new HD bitmap scaled from the
// host's frame), then freed by the host. With argument 1, another host has just left with
// 512 MiB written, and the stream runs while the server gives those pages back.
void BM_FrameStreamServer(benchmark::State &state) {
  corvix_host *h = server().host();
  if (h == nullptr) {
    state.SkipWithError("corvixd did not start");
    return;
  }
  if (state.range(0) == 1 && !host_leaves(uint64_t{512} << 20)) {
    state.SkipWithError("the other host could not take its 512 MiB");
    return;
  }
  const uint32_t n = kHd.width * kHd.height * 3;
  const uint32_t pixels = corvix_host_alloc(h, n, MEMF_ANY);
  const uint32_t record = corvix_host_alloc(h, 16, MEMF_CLEAR);
  const uint32_t block = corvix_host_alloc(h, 40, MEMF_CLEAR);
  const std::vector<uint8_t> photo = photo_frame(kHd, 3);
  std::memcpy(corvix_host_pointer(h, pixels), photo.data(), n);
  auto *r = static_cast<uint8_t *>(corvix_host_pointer(h, record));
  const uint32_t fields[] = {pixels, uint32_t(kHd.width), uint32_t(kHd.height), 3};
  for (int i = 0; i < 4; ++i) corvix_put_be32(r + 4 * i, fields[i]);
  auto *w = static_cast<uint8_t *>(corvix_host_pointer(h, block));
  const uint32_t words[] = {record, uint32_t(kHd.width), uint32_t(kHd.height)};
  for (int i = 0; i < 3; ++i) corvix_put_be32(w + 4 * (i + 1), words[i]);
  FrameTimes frames(server().pid());
  for (auto _ : state) {
    const auto t = std::chrono::steady_clock::now();
    corvix_host_send(h, CORVIX_CMD_SCALE, block);
    const uint32_t made = corvix_get_be32(w);
    if (made == 0) {
      state.SkipWithError("command 3 made no frame");
      break;
    }
    corvix_host_free(h, corvix_get_be32(corvix_host_pointer(h, made)));
    corvix_host_free(h, made);
    frames.add(ms_since(t));
  }
  for (uint32_t a : {pixels, record, block}) corvix_host_free(h, a);
  frames.report(state);
}
BENCHMARK(BM_FrameStreamServer)
    ->ArgName("beside_leaving_host")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(600)
    ->UseRealTime();

}  // namespace
}  // namespace corvix::bench
