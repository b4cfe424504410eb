// under_attack: what the server promises, tried against real corvixd processes through the
// public host API only.
//
//   under_attack [--hosts N] [--commands N] [--hostile N] [--kills N] [--seed N]
//
// Four trials, each on a fresh corvixd serving a private port:
//   load     N host processes send commands (invert, cross-fade) on their own frames and
//            check every reply's bytes against a computation of their own;
//   hostile  one host (quota 64 MiB) sends random commands (any code but quit; words naming
//            its own blocks, another host's blocks, or anything) while that other host's
//            blocks are compared after every command; every command must be answered, and
//            nothing may leak;
//   kills    host processes are killed at random points while they send commands; the server
//            must end holding exactly the blocks it held before, and keep answering;
//   crash    the server is killed while hosts wait on replies: each must fail, not hang.
// One line per trial; the exit code is 1 when any promise was broken.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "corvix/commands.h"
#include "corvix/host.hpp"

namespace {

using Clock = std::chrono::steady_clock;
double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

int g_broken = 0;
void broken(const char *what) {
  std::fprintf(stderr, "under_attack: BROKEN: %s\n", what);
  ++g_broken;
}

// A corvixd process on a private port in a private runtime directory.
class Server {
 public:
  // `quota`: bytes each host may hold (0: the server's default).
  explicit Server(const std::string &exe, uint64_t quota = 0) {
    static int serial = 0;
    name_ = "attack-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
    std::string bytes = std::to_string(quota);
    std::vector<char *> argv = {const_cast<char *>(exe.c_str()), const_cast<char *>("--port"),
                                name_.data()};
    if (quota != 0) {
      argv.push_back(const_cast<char *>("--quota"));
      argv.push_back(bytes.data());
    }
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    // Serving once a host can connect (the socket may exist a moment before it listens).
    for (int i = 0; i < 500 && !corvix::Host::open(name_.c_str()); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~Server() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  const char *name() const { return name_.c_str(); }
  void kill_now() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  std::string name_;
  pid_t pid_ = -1;
};

// Runs `body` in a child process; its return value is the child's exit code.
template <class F>
pid_t child(F body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int wait_all(const std::vector<pid_t> &pids) {
  int failures = 0;
  for (pid_t p : pids) {
    int status = 0;
    waitpid(p, &status, 0);
    failures += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  return failures;
}

// A host's frame: pixels, their record and an argument block.
struct Frame {
  uint32_t px = 0, rec = 0, args = 0;
  Frame(corvix::Host &h, int32_t w, int32_t hgt) {
    px = h.alloc(static_cast<uint32_t>(w * hgt * 3), MEMF_ANY);
    rec = h.bitmap(px, w, hgt, 3);
    args = h.args({rec});
  }
};

// Load: every reply checked. Returns the number of wrong replies of this host.
int load_host(const char *port, int commands, uint32_t seed) {
  corvix::Host h = corvix::Host::open(port);
  if (!h) return 1;
  constexpr int32_t kW = 61, kH = 47;
  constexpr size_t kN = kW * kH * 3;
  Frame f(h, kW, kH);
  const uint32_t b = h.alloc(kN, MEMF_ANY), out = h.alloc(kN, MEMF_ANY);
  const uint32_t fade = h.args({f.px, b, out, 0, kW, kH, 3});
  std::mt19937 random(seed);
  std::vector<uint8_t> a(kN), c(kN);
  int wrong = 0;
  for (int i = 0; i < commands; ++i) {
    for (auto &v : a) v = static_cast<uint8_t>(random());
    std::memcpy(h.at(f.px), a.data(), kN);
    if (i % 2 == 0) {
      if (h.send(CORVIX_CMD_INVERT, f.args) != 0) return 1;
      for (size_t k = 0; k < kN; ++k) wrong += h.at(f.px)[k] != 255 - a[k];
    } else {
      for (auto &v : c) v = static_cast<uint8_t>(random());
      std::memcpy(h.at(b), c.data(), kN);
      const int32_t level = static_cast<int32_t>(random() % 256);
      h.set_word(fade, 4, static_cast<uint32_t>(level));
      if (h.send(CORVIX_CMD_FADEOVER, fade) != 0) return 1;
      for (size_t k = 0; k < kN; ++k)
        wrong += h.at(out)[k] != (c[k] * level + a[k] * (255 - level)) / 255;
    }
  }
  return wrong == 0 ? 0 : 1;
}

void trial_load(const std::string &exe, int hosts, int commands, uint32_t seed) {
  Server s(exe);
  const auto start = Clock::now();
  std::vector<pid_t> pids;
  for (int i = 0; i < hosts; ++i)
    pids.push_back(child([&] { return load_host(s.name(), commands, seed + i); }));
  const int failed = wait_all(pids);
  const double t = seconds_since(start);
  std::printf(
      "load:    %d hosts x %d commands, %d replies checked byte for byte, %d hosts saw a "
      "wrong reply, %.1f s (%.0f commands/s)\n",
      hosts, commands, hosts * commands, failed, t, hosts * commands / t);
  if (failed != 0) broken("a load host got a wrong reply or lost its server");
}

// The hostile host may hold 64 MiB, so that no single command can be asked to fill gigabytes.
void trial_hostile(const std::string &exe, int commands, uint32_t seed) {
  Server s(exe, uint64_t{64} << 20);
  corvix::Host attacker = corvix::Host::open(s.name()), victim = corvix::Host::open(s.name());
  if (!attacker || !victim) return broken("cannot connect for the hostile trial");
  std::mt19937 random(seed);
  // The victim's blocks, patterned.
  std::vector<uint32_t> theirs;
  std::vector<std::vector<uint8_t>> pattern;
  for (int i = 0; i < 6; ++i) {
    const uint32_t size = 1 + random() % 5000;
    theirs.push_back(victim.alloc(size, MEMF_ANY));
    pattern.emplace_back(size);
    for (auto &v : pattern.back()) v = static_cast<uint8_t>(random());
    std::memcpy(victim.at(theirs.back()), pattern.back().data(), size);
  }
  std::vector<uint32_t> mine, sizes;
  const uint32_t args = attacker.alloc(40, MEMF_ANY);
  const uint32_t own_blocks = 1 + 6;
  double longest = 0;
  int changed = 0, unanswered = 0, leaked = 0, records = 0;
  const auto start = Clock::now();
  for (int i = 0; i < commands; ++i) {
    if (i % 500 == 0) {  // fresh blocks, some holding records
      for (uint32_t m : mine) attacker.free(m);
      mine.clear();
      sizes.clear();
      for (int k = 0; k < 6; ++k) {
        const uint32_t size = random() % 2 ? 16 : random() % 6000;
        mine.push_back(attacker.alloc(size, MEMF_ANY));
        sizes.push_back(size);
        for (uint32_t j = 0; j < size; ++j) attacker.at(mine.back())[j] = uint8_t(random());
      }
    }
    const auto any_word = [&]() -> uint32_t {
      const int k = static_cast<int>(random() % mine.size());
      switch (random() % 5) {
        case 0: return mine[k] + (random() % 2 ? 0 : random() % (sizes[k] + 8));
        case 1: return theirs[random() % theirs.size()] + random() % 64;
        case 2: return random() % 4 ? random() % 4 : random() % 64;
        case 3: return static_cast<uint32_t>(-static_cast<int32_t>(random() % 512));
        default: return static_cast<uint32_t>(random());
      }
    };
    // Records in the attacker's 16-byte blocks: mostly its own pixels at small sizes (so
    // routines run), else anything.
    const auto field = [&](uint32_t likely) { return random() % 4 ? likely : any_word(); };
    for (size_t k = 0; k < mine.size(); ++k) {
      if (sizes[k] != 16) continue;
      uint8_t *r = attacker.at(mine[k]);
      corvix_put_be32(r, field(mine[random() % mine.size()]));
      corvix_put_be32(r + 4, field(random() % 48));
      corvix_put_be32(r + 8, field(random() % 48));
      corvix_put_be32(r + 12, field(random() % 2 ? 3 : 1));
    }
    for (int w = 1; w <= 9; ++w) attacker.set_word(args, w, any_word());
    if (random() % 2) attacker.set_word(args, 1, mine[random() % mine.size()]);  // a frame
    int32_t code = static_cast<int32_t>(random() % 23) - 2;
    if (code == CORVIX_CMD_QUIT || code == CORVIX_CMD_QUIT_TOO) code = 19;
    attacker.set_word(args, 0, 0);
    const auto t0 = Clock::now();
    const int32_t status = attacker.send(code, args);
    const double took = seconds_since(t0);
    longest = std::max(longest, took);
    if (status != 0 || took > 0.5) {  // name the command, to reproduce it
      std::fprintf(stderr, "under_attack: code %d, status %d, %.1f s, words", code, status, took);
      for (int w = 1; w <= 9; ++w) std::fprintf(stderr, " %d", int32_t(attacker.word(args, w)));
      std::fprintf(stderr, "\n");
    }
    if (status != 0) {
      ++unanswered;
      if (status != -EFAULT) break;  // the server is gone
    }
    const uint32_t made = status == 0 ? attacker.word(args, 0) : 0;
    records += made != 0;
    if (made != 0 && code == CORVIX_CMD_FINDMINMAX)
      attacker.free(made);
    else if (made != 0)
      attacker.free_bitmap(made);
    for (size_t k = 0; k < theirs.size(); ++k)
      changed += std::memcmp(victim.at(theirs[k]), pattern[k].data(), pattern[k].size()) != 0;
    if (attacker.blocks() != own_blocks) {
      ++leaked;
      break;
    }
  }
  const double t = seconds_since(start);
  std::printf(
      "hostile: %d random commands (%d made a record), %d unanswered, %d times another "
      "host's bytes changed, %d leaks, longest command %.1f ms, %.1f s\n",
      commands, records, unanswered, changed, leaked, 1e3 * longest, t);
  if (changed != 0 || leaked != 0 || unanswered != 0) broken("the hostile trial");
}

void trial_kills(const std::string &exe, int kills, uint32_t seed) {
  Server s(exe);
  corvix::Host watcher = corvix::Host::open(s.name());
  uint32_t before = 0, after = 0;
  if (!watcher) return broken("cannot connect for the kill trial");
  if (corvix_host_stats(watcher.get(), &before, nullptr) != 0) return broken("no stats");
  std::mt19937 random(seed);
  const auto start = Clock::now();
  for (int done = 0; done < kills;) {
    std::vector<pid_t> batch;
    for (int i = 0; i < 20 && done < kills; ++i, ++done)
      batch.push_back(child([&] {
        corvix::Host h = corvix::Host::open(s.name());
        if (!h) return 1;
        Frame f(h, 320, 240);
        for (;;) {  // allocating and commanding until killed
          const uint32_t extra = h.alloc(1 + random() % 100000, MEMF_CLEAR);
          h.send(CORVIX_CMD_INVERT, f.args);
          h.send(CORVIX_CMD_ROTANGLE, f.args);
          h.free(extra);
        }
      }));
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 30));
    for (pid_t p : batch) kill(p, SIGKILL);
    wait_all(batch);
  }
  // The server reclaims a host's blocks when it sees the connection go.
  for (int i = 0; i < 200; ++i) {
    corvix_host_stats(watcher.get(), &after, nullptr);
    if (after == before) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const uint32_t probe = watcher.alloc(40);
  const bool answering = probe != 0 && watcher.send(19, probe) == 0;
  std::printf("kills:   %d hosts killed mid-stream, %d blocks left behind, server %s, %.1f s\n",
              kills, static_cast<int>(after) - static_cast<int>(before),
              answering ? "still answering" : "NOT answering", seconds_since(start));
  if (after != before || !answering) broken("the kill trial");
}

void trial_crash(const std::string &exe, int hosts) {
  Server s(exe);
  int fds[2];
  if (pipe(fds) != 0) return broken("pipe");
  std::vector<pid_t> pids;
  for (int i = 0; i < hosts; ++i)
    pids.push_back(child([&] {
      corvix::Host h = corvix::Host::open(s.name());
      if (!h) return 1;
      Frame f(h, 720, 576);
      while (h.send(CORVIX_CMD_MIRROR, f.args) == 0) {
      }
      const double when = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
      return write(fds[1], &when, sizeof when) == sizeof when ? 0 : 1;
    }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const double killed = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
  s.kill_now();
  close(fds[1]);
  double longest = 0, when = 0;
  int failed = 0;
  while (read(fds[0], &when, sizeof when) == sizeof when) {
    longest = std::max(longest, when - killed);
    ++failed;
  }
  close(fds[0]);
  wait_all(pids);
  std::printf(
      "crash:   server killed under %d busy hosts: %d failed cleanly, the last after "
      "%.1f ms\n",
      hosts, failed, 1e3 * longest);
  if (failed != hosts) broken("a host did not notice its server die");
}

}  // namespace

int main(int argc, char **argv) {
  int hosts = 8, commands = 10000, hostile = 100000, kills = 200;
  uint32_t seed = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    const int v = std::atoi(argv[i + 1]);
    if (opt == "--hosts")
      hosts = v;
    else if (opt == "--commands")
      commands = v;
    else if (opt == "--hostile")
      hostile = v;
    else if (opt == "--kills")
      kills = v;
    else if (opt == "--seed")
      seed = static_cast<uint32_t>(v);
    else
      return std::fprintf(stderr,
                          "usage: under_attack [--hosts N] [--commands N] "
                          "[--hostile N] [--kills N] [--seed N]\n"),
             2;
  }
  // corvixd beside this program's build directory, unless CORVIXD names one.
  std::string exe =
      std::getenv("CORVIXD") != nullptr
          ? std::getenv("CORVIXD")
          : (std::filesystem::path(argv[0]).parent_path() / ".." / "corvixd").string();
  char dir[] = "/tmp/corvix-attack-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 2;
  setenv("CORVIX_RUNTIME_DIR", dir, 1);
  signal(SIGPIPE, SIG_IGN);

  setvbuf(stdout, nullptr, _IOLBF, 0);
  trial_load(exe, hosts, commands, seed);
  trial_hostile(exe, hostile, seed);
  trial_kills(exe, kills, seed);
  trial_crash(exe, hosts);
  std::filesystem::remove_all(dir);
  return g_broken == 0 ? 0 : 1;
}
