// The server as a real process: lifecycle, concurrency, peer death, hostile argument blocks
// and hosts. What concerns commands runs with one worker and with two.
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <thread>

#include "platform/memory.h"
#include "platform/protocol.h"
#include "tests/support.h"

namespace corvix {
namespace {

using test::Host;
using test::ServerProcess;

using Clock = std::chrono::steady_clock;
constexpr auto npos = std::string::npos;

bool holds(const Host &h, uint32_t address, const std::vector<uint8_t> &bytes) {
  return std::equal(bytes.begin(), bytes.end(), h.at(address));
}

double ms_since(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// A raw connection to a port, its hello received and the segment it names mapped at *segment
// (or dropped).
int raw_connect(const std::string &name, bool take_hello = true, uint8_t **segment = nullptr) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un a{AF_UNIX, {}};
  std::strcpy(a.sun_path, (test::runtime_dir() + "/" + name).c_str());
  protocol::Reply hello{};
  const bool linked = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  const int memory = linked && take_hello ? protocol::receive_hello(fd, &hello) : -1;
  if (!linked || (take_hello && memory < 0)) return close(fd), -1;
  if (segment != nullptr)
    *segment = static_cast<uint8_t *>(
        mmap(nullptr, kSegmentSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_NORESERVE, memory, 0));
  if (memory >= 0) close(memory);
  return fd;
}

// Names in the runtime directory that start with `prefix`.
std::vector<std::string> files_named(const std::string &prefix) {
  std::vector<std::string> found;
  for (const auto &e : std::filesystem::directory_iterator(test::runtime_dir()))
    if (e.path().filename().string().rfind(prefix, 0) == 0) found.push_back(e.path().filename());
  std::sort(found.begin(), found.end());
  return found;
}

// Processor time, in milliseconds, a process has used.
double cpu_ms(pid_t pid) {
  clockid_t clock{};
  timespec t{};
  return clock_getcpuclockid(pid, &clock) == 0 && clock_gettime(clock, &t) == 0
             ? 1e3 * static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_nsec)
             : NAN;  // fails any comparison
}

// A server spawned under a lower descriptor limit.
std::unique_ptr<ServerProcess> server_with_nofile(rlim_t limit, std::vector<std::string> args) {
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  const rlimit low{limit, saved.rlim_max};
  setrlimit(RLIMIT_NOFILE, &low);
  auto server = std::make_unique<ServerProcess>(std::move(args));
  setrlimit(RLIMIT_NOFILE, &saved);
  return server;
}

// Hosts opened on a port until one open fails (at most `most`).
std::vector<std::unique_ptr<Host>> hosts_until_refused(const std::string &name, int most = 64) {
  std::vector<std::unique_ptr<Host>> hosts;
  while (static_cast<int>(hosts.size()) < most) {
    auto h = std::make_unique<Host>(name);
    if (!h->ok()) break;
    hosts.push_back(std::move(h));
  }
  return hosts;
}

// Tests that run with --workers 1 and 2.
class Workers : public ::testing::TestWithParam<int> {
 protected:
  std::vector<std::string> args(std::vector<std::string> more = {}) const {
    more.insert(more.end(), {"--workers", std::to_string(GetParam())});
    return more;
  }
};
INSTANTIATE_TEST_SUITE_P(ServerProcess, Workers, ::testing::Values(1, 2));

// Two hosts work at once while a third, streaming commands, is killed: they get their own
// results, and the server reclaims the dead host's blocks and keeps serving.
TEST_P(Workers, HostsAtOnceAndAHostKilledMidStream) {
  ServerProcess server(args());
  Host watcher(server.name());
  uint32_t before = 0, after = 0;
  ASSERT_EQ(corvix_host_stats(watcher.get(), &before, nullptr), 0);
  const pid_t child = fork();
  if (child == 0) {
    Host h(server.name());
    if (!h.ok()) _exit(3);
    const uint32_t n = 8 << 20, c = h.alloc(n / 4, 0);  // commands far longer than a reply
    const uint32_t block = h.args({h.alloc(n, 0), c, c, h.alloc(3 * n, 0), n, 4});
    for (;;) h.send(2, block);
  }
  auto work = [&](uint8_t luma) {
    Host h(server.name());
    const std::vector<uint8_t> y(4096, luma), c(1024, 128);
    std::vector<uint8_t> expect(3 * 4096);
    const uint32_t out = h.alloc(3 * 4096),
                   block = h.args({h.put(y), h.put(c), h.put(c), out, 4096, 4});
    fx_yuvtorgb_ll(y.data(), c.data(), c.data(), expect.data(), 4096, 4);
    for (int round = 0; round < 200; ++round) {
      std::memset(h.at(out), 0, 3 * 4096);
      if (!h.ok() || h.send(2, block) != 0 || !holds(h, out, expect)) return false;
    }
    return true;
  };
  auto a = std::async(std::launch::async, work, uint8_t{40});
  auto b = std::async(std::launch::async, work, uint8_t{200});
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child host failed before it was killed";
  EXPECT_TRUE(a.get());
  EXPECT_TRUE(b.get());
  for (int i = 0;
       i < 200 && corvix_host_stats(watcher.get(), &after, nullptr) == 0 && after != before;
       ++i)  // the server notices hang-ups on its next turn
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(after, before);
  EXPECT_EQ(watcher.send(19, watcher.args({})), 0);
  EXPECT_EQ(server.errors(), "");  // a sanitizer's report of a block released under a command
}

// With two workers another host's command runs while a long one is in work (its reply
// comes while the long one's last bytes are unwritten); with one it waits. A quit (code 0 or
// 1) sent meanwhile replies 123 and ends the server with exit code 0 only after the long
// command is done and replied to; nothing of the port is left.
TEST_P(Workers, OnlySeveralWorkersRunAShortCommandBesideALongOneAndAQuitWaitsForIt) {
  ServerProcess server(args({"--threads", "1"}));
  Host a(server.name()), b(server.name());
  const uint32_t n = 24u << 20, out = a.alloc(3 * n, MEMF_ANY);
  const uint32_t block = a.args({a.alloc(n), a.alloc(n / 4), a.alloc(n / 4), out, n, 4});
  std::memset(a.at(out), 0xEE, 3 * n);  // Y, Cr and Cb 0 make 0 in byte 0
  const volatile uint8_t *first = a.at(out), *last = a.at(out) + 3 * n - 1;
  auto long_one = std::async(std::launch::async, [&] { return a.send(2, block); });
  while (*first == 0xEE &&
         long_one.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
  }
  const uint32_t quit = b.args({});
  EXPECT_EQ(b.send(19, quit), 0);
  EXPECT_EQ(*last == 0xEE, GetParam() > 1)
      << "the short command came back before the long one ended";
  EXPECT_EQ(b.send(GetParam() - 1, quit), 0);
  EXPECT_EQ(b.word(quit, 0), 123u);
  EXPECT_EQ(long_one.get(), 0);
  EXPECT_NE(*last, 0xEE);
  EXPECT_EQ(server.wait_exit(5000), 0);
  EXPECT_EQ(corvix_host_open(server.name().c_str()), nullptr) << "port still reachable";
  EXPECT_LT(b.send(15, quit), 0) << "a send after the quit must fail, not hang";
  EXPECT_EQ(files_named(server.name()),
            std::vector<std::string>({server.name() + ".out", server.name() + ".out.err"}));
}

// Argument blocks and words that name memory the host does not own: nothing runs, nothing is
// written, the server keeps serving.
TEST_P(Workers, HostileArgumentBlocksAndWordsAreRefused) {
  ServerProcess server(args({"--quota", "4194304"}));
  Host h(server.name()), other(server.name());
  const std::vector<uint8_t> sentinel(192, 0xEE);
  // Planes and output of 192 bytes: 64 pixels in groups of 4 fit.
  const uint32_t Y = h.put(sentinel), C = h.put(sentinel), out = h.put(sentinel);
  const uint32_t foreign = other.put(sentinel), freed = h.alloc(192);
  // Every block is made before `freed` goes, so nothing reuses its place.
  const std::pair<const char *, uint32_t> cases[] = {
      {"null plane", h.args({0, C, C, out, 64, 4})},
      {"destination past the segment's end", h.args({Y, C, C, 0xFFFFFF00u, 64, 4})},
      {"count whose size wraps", h.args({Y, C, C, out, 0xFFFFFFF0u, 4})},
      {"another host's block", h.args({Y, C, C, foreign, 64, 4})},
      {"a block already freed", h.args({Y, C, C, freed, 64, 4})},
  };
  const uint32_t short_block = h.alloc(8), other_block = other.args({});
  other.set_word(other_block, 0, 0xDEADBEEF);
  h.free(freed);
  for (const auto &[what, block] : cases) {
    h.set_word(block, 0, 0xDEADBEEF);
    EXPECT_EQ(h.send(2, block), 0) << what;
    EXPECT_EQ(h.word(block, 0), 0u) << what;
    EXPECT_TRUE(holds(h, out, sentinel) && holds(other, foreign, sentinel)) << what;
  }
  // The argument block itself: not the host's, null, too short for the words the command
  // reads. No write at all, an error for the sender.
  for (uint32_t bad : {0u, 0x10u, 0xFFFFFFFCu, other_block, freed, short_block}) {
    corvix_clear_error();
    EXPECT_LT(h.send(2, bad), 0) << bad;
    EXPECT_EQ(corvix_last_error_class(), CORVIX_E_REFUSED) << bad;
    EXPECT_NE(std::string(corvix_last_error()).find("argument block " + std::to_string(bad)), npos)
        << corvix_last_error();
  }
  EXPECT_EQ(other.word(other_block, 0), 0xDEADBEEFu);
  // Memory requests the host has no right to.
  const uint32_t mine = h.blocks();
  other.free(out);
  EXPECT_EQ(h.blocks(), mine);
  EXPECT_EQ(h.send(19, h.args({})), 0) << "the server still serves";
}

// Connections of one process share one quota, whatever their number; another process keeps
// its own. The caps on connections per process and in all refuse the next host at once,
// with a reason.
TEST(ServerProcess, OneQuotaPerProcessAndCapsOnConnections) {
  ServerProcess server({"--quota", "4194304", "--max-per-process", "5", "--max-connections", "8"});
  int pair[2];  // the child's results, then (its end closed) the parent's go-ahead
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(pair[0]);
    const auto conns = hosts_until_refused(server.name(), 6);  // the sixth is refused
    const int sixth_errno = errno;
    int got = 0;
    for (int round = 0; round < 4; ++round)  // every connection asks until all get 0
      for (auto &c : conns) got += c->ok() && c->alloc(1 << 20, MEMF_ANY) != 0;
    char result[2] = {static_cast<char>(got),
                      static_cast<char>(conns.size() == 5 && sixth_errno == EUSERS)};
    char c;  // hold the connections until the parent is done
    _exit(write(pair[1], result, 2) == 2 && read(pair[1], &c, 1) >= 0 ? 0 : 3);
  }
  char result[2] = {};
  ASSERT_EQ(read(pair[0], result, 2), 2);
  EXPECT_EQ(result[0], 4) << "5 connections of one process hold 4 MiB blocks, no more";
  EXPECT_EQ(result[1], 1) << "a sixth connection of one process is refused with EUSERS";
  // A fresh host still gets its memory, and up to the cap of 8 connections in all.
  corvix_clear_error();
  const auto t = Clock::now();
  const auto mine = hosts_until_refused(server.name());
  ASSERT_EQ(mine.size(), 3u) << "a ninth connection";
  EXPECT_NE(mine[0]->alloc(1 << 20, MEMF_ANY), 0u);
  EXPECT_EQ(errno, ECONNREFUSED);
  EXPECT_EQ(corvix_last_error_class(), CORVIX_E_REFUSED) << corvix_last_error();
  EXPECT_LT(ms_since(t), 1000.0) << "refused at once, not left to time out";
  close(pair[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The departed process's connections no longer count.
  EXPECT_TRUE(Host(server.name()).ok());
}

// A host that sends thousands of requests without reading its replies stalls only itself:
// once it reads, every reply arrives, in order, and its commands (an inversion and a raise
// of the low levels in turn, which do not commute) took effect in order. Another host is
// served meanwhile. A malformed datagram is answered with an error.
TEST_P(Workers, RepliesWaitForAHostThatDoesNotReadAndKeepTheirOrder) {
  ServerProcess server(args());
  uint8_t *segment = nullptr;
  const int fd = raw_connect(server.name(), true, &segment);
  ASSERT_GE(fd, 0);
  ASSERT_NE(segment, MAP_FAILED);
  const timeval tv{5, 0};  // a lost reply ends the test instead of hanging it
  for (int opt : {SO_RCVTIMEO, SO_SNDTIMEO}) setsockopt(fd, SOL_SOCKET, opt, &tv, sizeof tv);
  const auto alloc = [&](uint32_t size) {
    const protocol::Request r{protocol::kAlloc, 0, size, 0};
    protocol::Reply reply{};
    send(fd, &r, sizeof r, 0);
    return recv(fd, &reply, sizeof reply, 0) == sizeof reply ? reply.value : 0;
  };
  std::vector<uint8_t> expect(256 * 256);
  for (size_t i = 0; i < expect.size(); ++i) expect[i] = static_cast<uint8_t>(i * 7);
  const uint32_t pixels = alloc(256 * 256), record = alloc(16), invert = alloc(8),
                 raise = alloc(12);
  std::memcpy(segment + pixels, expect.data(), expect.size());
  const uint32_t words[][2] = {{record, pixels},     {record + 4, 256}, {record + 8, 256},
                               {record + 12, 1},     {invert + 4, record}, {raise + 4, record},
                               {raise + 8, 99}};
  for (const auto &[at, word] : words) corvix_put_be32(segment + at, word);
  constexpr int kRequests = 5000;
  // Three kinds in turn, so a lost or repeated reply shows in the sequence of kinds.
  const auto request = [&](int i) -> protocol::Request {
    switch (i % 3) {
      case 0: return {protocol::kStats, 0, 0, 0};
      case 1: return {protocol::kSend, i % 2 != 0 ? 15 : 11, i % 2 != 0 ? invert : raise, 0};
      default: return {protocol::kFree, 0, 0x10, 0};
    }
  };
  Bitmap local{expect.data(), 256, 256, 1};
  for (int i = 1; i < kRequests; i += 3)
    i % 2 != 0 ? fxx_invert_ll(&local) : cvx_specialfade_ll(&local, 99);
  std::atomic<int> sent{0};
  std::thread sender([&] {
    for (int i = 0; i < kRequests; ++i) {
      const protocol::Request r = request(i);
      if (send(fd, &r, sizeof r, MSG_NOSIGNAL) != sizeof r) return;
      ++sent;
    }
  });
  // While the flooding host reads nothing, another host's round trips go on.
  Host other(server.name());
  const uint32_t block = other.args({});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto t = Clock::now();
  for (int i = 0; i < 50; ++i) ASSERT_EQ(other.send(19, block), 0);
  EXPECT_LT(ms_since(t), 2000.0) << "another host waited behind the flood";
  EXPECT_LT(sent.load(), kRequests) << "the server went on reading a host that does not read";
  int in_order = 0;
  for (int i = 0; i < kRequests; ++i) {
    protocol::Reply r{};
    if (recv(fd, &r, sizeof r, 0) != sizeof r) break;
    const protocol::Request want = request(i);
    if (r.kind != want.kind || (want.kind == protocol::kFree && r.status != -EINVAL)) break;
    ++in_order;
  }
  sender.join();
  EXPECT_EQ(in_order, kRequests);
  EXPECT_TRUE(std::equal(expect.begin(), expect.end(), segment + pixels))
      << "commands out of order";
  const char junk[64] = {};  // a datagram of the wrong size gets an error reply
  int32_t reply[4] = {};
  EXPECT_TRUE(send(fd, junk, 64, 0) == 64 && recv(fd, reply, 16, 0) == 16 && reply[1] < 0);
  munmap(segment, kSegmentSize);
  close(fd);
}

// At the descriptor limit the server neither spins nor leaves hosts hanging: past its cap it
// refuses at once; where accept itself runs out of descriptors it stops listening until a
// connection closes, and a waiting open gives up after its timeout.
TEST(ServerProcess, AtTheDescriptorLimitNoSpinAndNoEndlessWait) {
  corvix_host_set_timeout(300);
  {
    auto server = server_with_nofile(40, {});  // cap: what the limit leaves
    const auto hosts = hosts_until_refused(server->name());
    EXPECT_GE(hosts.size(), 8u);
    EXPECT_LT(hosts.size(), 40u);
    EXPECT_EQ(errno, ECONNREFUSED) << corvix_last_error();
  }
#if defined(__SANITIZE_ADDRESS__)
  corvix_host_set_timeout(-1);
  // The sanitizers' own checks open pipes, so a sanitized server out of descriptors reports
  // false errors.
  GTEST_SKIP() << "running out of descriptors is tested in the release build";
#endif
  auto server = server_with_nofile(40, {"--max-connections", "1000"});
  auto hosts = hosts_until_refused(server->name());
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_EQ(corvix_last_error_class(), CORVIX_E_TIMEOUT) << corvix_last_error();
  ASSERT_GE(hosts.size(), 8u);
  const auto t = Clock::now();
  EXPECT_EQ(corvix_host_open(server->name().c_str()), nullptr);
  EXPECT_LT(ms_since(t), 2000.0);
  // A host waits in the listen queue: the server must sleep meanwhile.
  const int waiting = raw_connect(server->name(), false);
  ASSERT_GE(waiting, 0);
  const double before = cpu_ms(server->pid());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_LT(cpu_ms(server->pid()) - before, 100.0) << "the server spins on its listener";
  // A connection closes: the waiting host is taken in.
  hosts.pop_back();
  timeval tv{2, 0};
  setsockopt(waiting, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  char hello[16];
  EXPECT_EQ(recv(waiting, hello, sizeof hello, 0), 16);
  close(waiting);
  EXPECT_EQ(hosts.back()->send(19, hosts.back()->args({})), 0);
  corvix_host_set_timeout(-1);
}

// A server that cannot serve its port says why in one line on standard error: exit 1 when no
// server serves the name, 0 when another one does, as when the graphics library is too old
// (after saying so). Usage errors exit 2.
TEST(ServerProcess, StartUpFailuresSayWhyAndExitByWhetherTheNameIsServed) {
  const std::string root = test::runtime_dir();
  // A directory others may enter, and a link to a private one.
  const std::string open_dir = root + "/open", link = root + "/link";
  ASSERT_TRUE(test::run_shell("mkdir -p -m 0755 " + open_dir + " && mkdir -p -m 0700 " + root +
                              "/private && ln -sfn " + root + "/private " + link));
  const std::pair<std::string, std::vector<std::string>> unusable[] = {
      {"/proc/nonexistent", {}}, {open_dir, {}}, {link, {}}, {root, {"--port", ""}},
      {root, {"--port", "a/b"}}};
  for (const auto &[dir, args] : unusable) {
    setenv("CORVIX_RUNTIME_DIR", dir.c_str(), 1);
    ServerProcess s(args, false);
    setenv("CORVIX_RUNTIME_DIR", root.c_str(), 1);
    const std::string what = dir + (args.empty() ? "" : " --port '" + args[1] + "'");
    EXPECT_EQ(s.wait_exit(5000), 1) << what;
    const std::string err = s.errors();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << what << ": " << err;
    EXPECT_NE(err.find("port '" + (args.empty() ? s.name() : args[1]) + "'"), npos) << what << err;
  }
  ServerProcess serving;
  ServerProcess second({"--port", serving.name()}, false);  // the later --port wins
  EXPECT_EQ(second.wait_exit(5000), 0);
  EXPECT_NE(second.errors().find("already served"), npos) << second.errors();
  ServerProcess no_value({"--port"}, false);
  EXPECT_EQ(no_value.wait_exit(5000), 2);
  EXPECT_NE(no_value.errors().find("--port needs a value"), npos);
  setenv("CORVIX_GRAPHICS_VERSION", "30", 1);
  ServerProcess old({}, false);
  unsetenv("CORVIX_GRAPHICS_VERSION");
  EXPECT_EQ(old.wait_exit(5000), 0);
  EXPECT_EQ(old.output(), "Can't open version 39 of graphics.library\n");
}

// Nothing of a port is left behind by a quit, a stop signal or an embedded server's close;
// a send in flight when the server is killed fails at once, and what it leaves is taken over
// by the next one.
TEST_P(Workers, NoFilesLeftBehindAndStaleOnesReclaimed) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    ServerProcess stopped(args());
    Host h(stopped.name());
    stopped.signal(sig);
    EXPECT_EQ(stopped.wait_exit(5000), -2) << "ends as the signal would end it";
    EXPECT_LT(h.send(19, 0x10), 0) << "its hosts see the end";
    EXPECT_EQ(files_named(stopped.name() + ".lock"), std::vector<std::string>{}) << sig;
    EXPECT_NE(access((test::runtime_dir() + "/" + stopped.name()).c_str(), F_OK), 0) << sig;
  }
  const std::string embedded = "embedded-" + std::to_string(getpid()) + "-";
  EXPECT_EQ(Host().ok() ? files_named(embedded).size() : 0, 2u) << "a socket and a lock";
  EXPECT_EQ(files_named(embedded), std::vector<std::string>{});
  ServerProcess killed;
  Host h(killed.name());
  const uint32_t block = h.args({});
  killed.signal(SIGSTOP);  // the command waits unanswered
  auto sent = std::async(std::launch::async, [&] { return h.send(19, block); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  killed.signal(SIGKILL);
  ASSERT_EQ(sent.wait_for(std::chrono::seconds(1)), std::future_status::ready);
  EXPECT_LT(sent.get(), 0);
  killed.wait_exit(5000);
  ServerProcess next({"--port", killed.name()}, false);
  bool served = false;
  for (int i = 0; i < 500 && !(served = Host(killed.name()).ok()) && next.wait_exit(0) == -1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(served) << "a stale socket and lock are taken over";
}

// A large cleared block is zero whatever its pages held before (pages given back, or
// written for a smaller block), and the partial pages it shares with its neighbours keep the
// neighbours' bytes.
TEST(ServerProcess, LargeClearedBlocksAreZeroAndNeighboursKeepTheirBytes) {
  ServerProcess server;
  Host h(server.name());
  for (const uint32_t size : {(37u << 20) + 123, (5u << 20) + 77}) {  // ragged ends
    const uint32_t before = h.alloc(40, MEMF_ANY), big = h.alloc(size, MEMF_ANY);
    const uint32_t after = h.alloc(40, MEMF_ANY);
    ASSERT_TRUE(before != 0 && big != 0 && after != 0);
    ASSERT_EQ(after, big + ((size + 15) & ~15u)) << "blocks are not neighbours";
    for (uint32_t a : {before, after}) std::memset(h.at(a), 0xCD, 40);
    std::memset(h.at(big), 0xAB, size);
    h.free(big);
    ASSERT_EQ(h.alloc(size, MEMF_CLEAR), big);
    const uint8_t *p = h.at(big);
    EXPECT_EQ(std::count(p, p + size, 0), static_cast<long>(size)) << size;
    const std::vector<uint8_t> cd(40, 0xCD);
    EXPECT_TRUE(holds(h, before, cd) && holds(h, after, cd)) << size;
    for (uint32_t a : {before, big, after}) h.free(a);
  }
}

}  // namespace
}  // namespace corvix
